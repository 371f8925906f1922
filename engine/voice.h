// SPDX-License-Identifier: GPL-3.0-or-later
// One voice's life: its start at a sample rate, its controls, and the delay of its notes.
// Everything here acts on the voice's own record only.
#pragma once

#include <cstdint>

#include "engine/engine_state.h"
#include "engine/nonblocking.h"

inline constexpr double DefaultSampleRate = 44100.0;  // Hz: the rate every length is given at
inline constexpr double MinimumSampleRate = 8000.0;   // Hz
inline constexpr double MaximumSampleRate = 384000.0;

// Lengths in samples at DefaultSampleRate; a voice at another rate keeps their durations.
inline constexpr int32_t HandoverLimit = 1000;  // last sample of a note's handover
inline constexpr int32_t FadeInSamples = 100;   // a note's fade-in

// Gives a zero-filled record the program's start-up values at `sampleRate` (Hz): parameters at
// their start-up values (r 0.01, b 2.5, ... not those of the initial positions), envelope
// settings of the window's initial positions, gate closed, no key held. A rate outside
// MinimumSampleRate to MaximumSampleRate is taken as the nearer of the two (and NaN as
// DefaultSampleRate).
void startVoice(EngineState& state, double sampleRate) noexcept QUILLFERN_NONBLOCKING;

// What moving one of the window's ten controls does to the voice: the value its position stands
// for (controlValueAt) goes to the voice as setVoiceValue takes it. A position outside the
// control's range is taken as the nearer end. Any thread that owns the voice's controls.
// Unknown control numbers are ignored.
void setVoiceControl(EngineState& state, int32_t control,
                     int32_t position) noexcept QUILLFERN_NONBLOCKING;

// One of the ten controls set to a value in the model's own units, in or between the values of
// its positions: a model parameter (stored as a float, heard from the next sample), an
// envelope time in seconds or the sustain level (read at the next note's start). Positions and
// values reach the voice through this one function, so a value equal to a position's plays
// exactly as that position does. Unknown control numbers are ignored.
void setVoiceValue(EngineState& state, int32_t control,
                   double value) noexcept QUILLFERN_NONBLOCKING;

// What the voice plays for a control until it is moved: the model's start-up values (r 0.01, not
// the 0.0097685 of the slider's initial position) and the envelope's initial positions' values.
double controlStartupValue(int32_t control) noexcept;

// The delay from a note-on to the start of its attack, in samples at the voice's rate (1001 at
// 44100 Hz): the handover. A plugin reports it as its latency.
int32_t voiceLatencySamples(const EngineState& state) noexcept;

// The same delay for a voice at `sampleRate`.
int32_t latencySamplesAt(double sampleRate) noexcept QUILLFERN_NONBLOCKING;

// A length of `samples` at DefaultSampleRate, in whole samples at `sampleRate`.
int32_t samplesAtRate(int32_t samples, double sampleRate) noexcept QUILLFERN_NONBLOCKING;
