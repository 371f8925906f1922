// SPDX-License-Identifier: GPL-3.0-or-later
// One plugin instance's voice: the engine record and the parameter values it plays, with what
// both plugin formats do to it. The thread that runs the instance's audio owns it while the
// instance is active; nothing here allocates, locks or waits.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/engine_state.h"
#include "engine/nonblocking.h"
#include "instrument/parameters.h"

struct InstrumentVoice {
  EngineState engine;
  ParameterValues values;  // what the voice plays, each a playable value
  bool transportRolling = false;
};

// What parameter `index` at `value` (playable) does to an engine: a window control's value goes
// to the voice as the window's would, an instrument setting to the instrument.
void applyParameterValue(EngineState& engine, std::size_t index,
                         double value) noexcept QUILLFERN_NONBLOCKING;

// An engine started at `sampleRate` and playing `values`: the plugins' voice and the renderer's.
void startVoiceWith(EngineState& engine, double sampleRate,
                    const ParameterValues& values) noexcept QUILLFERN_NONBLOCKING;

// A fresh voice at `sampleRate` (Hz) playing `values`: what a new, activated or reloaded
// instance plays. With the defaults, the voice's start-up values.
void startInstrumentVoice(InstrumentVoice& voice, double sampleRate,
                          const ParameterValues& values) noexcept QUILLFERN_NONBLOCKING;

// The host sets parameter `index` to `value`, which plays as playableValue makes it; NaN and
// infinities change nothing. Another MIDI channel releases the notes held.
void setInstrumentParameter(InstrumentVoice& voice, std::size_t index,
                            double value) noexcept QUILLFERN_NONBLOCKING;

// One MIDI message from the host. Channel messages of the chosen channel (any channel for
// Omni) play as channel 1 does in the window; everything else is ignored.
void playMidi(InstrumentVoice& voice, const uint8_t* bytes,
              std::size_t size) noexcept QUILLFERN_NONBLOCKING;

// A note event in a host's own terms (CLAP's): on and off with a velocity from 0 to 1, choke,
// and the note expressions tuning (semitones, a bend of that note alone) and pressure (0 to 1,
// as aftertouch). A channel (0 to 15) or key of -1 stands for every one; a note-on needs a key.
enum class NoteEventKind { On, Off, Choke, Tuning, Pressure };
void playNoteEvent(InstrumentVoice& voice, NoteEventKind kind, int32_t channel, int32_t key,
                   double value) noexcept QUILLFERN_NONBLOCKING;

// The host's transport rolls or stands; stopping it releases the voice as a panic button does.
void followTransport(InstrumentVoice& voice, bool rolling) noexcept QUILLFERN_NONBLOCKING;

// The latency a voice playing `values` at `sampleRate` reports: its handover's, none when its
// notes start at once.
uint32_t latencyOf(double sampleRate, const ParameterValues& values) noexcept QUILLFERN_NONBLOCKING;

// Renders `frames` samples into `output`.
void renderVoice(InstrumentVoice& voice, float* output,
                 uint32_t frames) noexcept QUILLFERN_NONBLOCKING;
