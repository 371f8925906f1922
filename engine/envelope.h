// SPDX-License-Identifier: GPL-3.0-or-later
// The envelope: the gain by which each output sample is multiplied.
//
// While a note is held: a handover that fades out whatever still sounds over 1000 samples at
// 44100 Hz (at the pitch of the note before), then the model's reset, attack, decay and
// sustain. After the last key is released: a straight-line release to silence. The four
// envelope settings are read once per note, on its first gate-open sample. Audio thread only.
#pragma once

#include <cstdint>

#include "engine/engine_state.h"
#include "engine/nonblocking.h"

// noteSamples past this is set back to 0 (after about 13.5 hours without a new note).
inline constexpr int32_t NoteSamplesLimit = 2147483640;

// The envelope's settings for a slider position: times in seconds, the sustain as a level.
double attackTimeAt(int32_t position) noexcept QUILLFERN_NONBLOCKING;
double decayTimeAt(int32_t position) noexcept QUILLFERN_NONBLOCKING;
double sustainLevelAt(int32_t position) noexcept QUILLFERN_NONBLOCKING;
double releaseTimeAt(int32_t position) noexcept QUILLFERN_NONBLOCKING;

// Envelope times in samples at `sampleRate` (Hz, not rounded) for a slider position.
double attackSamplesAt(int32_t position, double sampleRate) noexcept QUILLFERN_NONBLOCKING;
double decaySamplesAt(int32_t position, double sampleRate) noexcept QUILLFERN_NONBLOCKING;
double releaseSamplesAt(int32_t position, double sampleRate) noexcept QUILLFERN_NONBLOCKING;

// With the gate closed, the release is silent from this noteSamples on until the gate opens: its
// level has come down to 0 there, or it started from 0 (minus infinity then).
double releaseSilentFrom(const EngineState& state) noexcept QUILLFERN_NONBLOCKING;

// Sets envelopeLevel for the frame whose noteSamples is `n`; may set noteSamples to 0 and, when
// a note's attack begins, the model's variables too. Returns 0, which callers ignore.
int32_t envelopeStep(EngineState& state, ModelVariables& model,
                     int32_t n) noexcept QUILLFERN_NONBLOCKING;

// Notes started at once: true when the voice is to start a new note on the next sample, with
// no handover (the note-on came before this block).
bool startsNoteAtOnce(const EngineState& state) noexcept QUILLFERN_NONBLOCKING;

// Reads the new note's settings so that the next envelope step starts its attack, and lets what
// sounded fade out beside it (state.fading), from the level of the latest sample.
void startNoteAtOnce(EngineState& state) noexcept QUILLFERN_NONBLOCKING;

// The fading note's next sample, faded: its model steps once more. Only while
// state.fading.remaining is above 0. The parameters come by value: a reference would make the
// render loop keep its own in memory and load them on every sample.
double fadingSample(EngineState& state, ModelParameters parameters) noexcept QUILLFERN_NONBLOCKING;
