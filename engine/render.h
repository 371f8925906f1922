// SPDX-License-Identifier: GPL-3.0-or-later
// The render path: one envelope step and one oscillator step per frame, the fade-in over the
// first 100 samples (at 44100 Hz) of every note, one float sample per frame.
// Audio thread only; no allocation, no lock, no wait.
#pragma once

#include <cstdint>

#include "engine/engine_state.h"
#include "engine/nonblocking.h"

// The fade-in over a note's first `fadeInSamples` samples, (noteSamples / fadeInSamples)^5, at
// float precision.
double fadeInFactor(int32_t noteSamples, int32_t fadeInSamples) noexcept QUILLFERN_NONBLOCKING;

// The loudest an output sample gets: this times the volume. A note alone stays within it, as
// its model is silenced past RunAwayBound and its level and gain are at most 1; a note fading
// out beside another one and the DC filter's overshoot could pass it, and are bent back below
// it from LevelKnee times the volume on, smoothly. A sample below the knee is left as it is.
inline constexpr double LevelBound = 10.0;
inline constexpr double LevelKnee = 9.0;

// `sample` within `bound` (LevelBound times the volume): itself up to the knee, then bent
// towards the bound, which it never reaches, even once rounded to a float.
double boundedLevel(double sample, double bound) noexcept QUILLFERN_NONBLOCKING;

// True while the voice gives nothing but silence until its gate opens again: it rests (before
// its first note, or its release over with no note fading beside it) and its DC filter, when
// on, has come to rest as well. Such a voice may be left unrendered: all a block would do to it
// is count its silent samples, which no later sample depends on (the next note's start sets
// the count back).
bool restsSilently(const EngineState& state) noexcept QUILLFERN_NONBLOCKING;

// What a held note's sustain decides once for a stretch of frames, where its level and step
// size hold still (past its handover, attack, decay and fade-in, no glide under way, one Euler
// step a sample, no note fading beside it, Model mode): `frames` of the frames asked for may be
// rendered so, none when the voice is anywhere else.
struct SteadyNote {
  unsigned long frames = 0;
  double frequency = 0.0;  // the note's, as the frames began
  double step = 0.0;       // model time a sample
  ModelParameters parameters;
  double level = 0.0;  // the sustain
  double gain = 0.0;   // the velocity's
  bool filtered = false;
  double bound = 0.0;   // LevelBound times the volume
  bool parked = false;  // the model has run away: silent, and not stepped, until a note starts
};

// Where such frames leave the voice: its model, the latest x times the volume, its DC filter.
struct SteadySound {
  ModelVariables model;
  float modelOutput = 0.0f;
  DcFilter filter;
};

// The steady stretch of `state` within the next `frames`; every sample of it is
//   x times the volume (a float), times the level and the gain, through the filter when on and
//   then within the bound (boundedLevel past its knee),
// bit for bit renderFrames' own. The step size it caches may change the record.
SteadyNote steadyNoteOf(EngineState& state, unsigned long frames) noexcept QUILLFERN_NONBLOCKING;

// The record after `rendered` (at least 1) of those frames, ending at `sound`.
void endSteadyNote(EngineState& state, const SteadyNote& note, const SteadySound& sound,
                   unsigned long rendered) noexcept QUILLFERN_NONBLOCKING;

// Fills `output` with `frames` samples rendered from `state`.
void renderFrames(EngineState& state, float* output,
                  unsigned long frames) noexcept QUILLFERN_NONBLOCKING;

// Where a window's view of the model goes while the voice renders: x and z after every
// `stride`-th sample, as pairs in a circular buffer of `mask` + 1 points (a power of two). The
// stores are relaxed atomic ones (plain stores on the machines we build for), so that another
// thread may read the buffer while it is written; `written` counts the points written, wrapping.
struct ModelTrace {
  float* points = nullptr;  // x, z, x, z, ...; null: nothing is traced
  uint32_t mask = 0;
  uint32_t written = 0;
  int32_t stride = 1;
  int32_t countdown = 1;  // samples until the next point is taken
};

// renderFrames, with the model's course written to `trace` as well: the same samples.
void renderFramesTraced(EngineState& state, float* output, unsigned long frames,
                        ModelTrace& trace) noexcept QUILLFERN_NONBLOCKING;
