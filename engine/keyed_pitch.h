// SPDX-License-Identifier: GPL-3.0-or-later
// Key mode: the neuron's cycle sounds at the key's frequency. The model always takes steps of
// KeyStep, whatever the key and the rate, so its regime and its spikes per burst are the same
// everywhere; what the key sets is how many of those steps one sample holds: the cycle's steps
// times the key's frequency over the rate, a fraction that a phase carries from sample to
// sample. The steps' outputs pass through a low-pass filter at the steps' own rate and are read
// between the latest two at the sample's instant, so spikes far above the output's Nyquist
// frequency are taken out instead of folding back. Audio thread only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/model_variables.h"
#include "engine/nonblocking.h"
#include "engine/pitch_cycle.h"

struct EngineState;

// At most this many steps a second (128 a sample at 44100 Hz, in 44100 Hz's terms at every
// rate, so a capped pitch is the same at any rate): the longest cycles play flat at high keys
// rather than cost without bound.
inline constexpr double KeyStepsPerSecondLimit = 128.0 * 44100.0;

// The decimating low-pass filter's second-order sections (engine/keyed_pitch.cpp).
inline constexpr std::size_t KeyFilterSections = 3;

// One section of the decimating low-pass filter, transposed direct form II. Its zeros lie on
// the unit circle, so its numerator is 1 + zero z^-1 + z^-2 and the sections' gains are applied
// once, after the last: three multiplications a section a step rather than five.
struct LowPassSection {
  double zero = 0.0;
  double a1 = 0.0;
  double a2 = 0.0;
  double z1 = 0.0;
  double z2 = 0.0;
};

struct KeyedPitch {
  CycleProbe probe;
  // The played cycle is not a measure of the controls its note began with: the next measure is
  // taken at once rather than glided to.
  bool provisional = true;
  double cycleSteps = 0.0;    // the cycle the voice plays, moving toward the probe's
  double smoothing = 0.0;     // the share of that distance covered each sample
  double stepLimit = 0.0;     // steps a sample at most, at the voice's rate
  double phase = 0.0;         // the part of a step owed, 0 to 1
  double filteredRate = 0.0;  // steps a sample the filter was designed for; 0: none
  bool filtering = false;     // the steps come fast enough to put energy above the output's band
  std::array<LowPassSection, KeyFilterSections> filter{};
  double filterGain = 1.0;  // the sections' gains together: 1 at 0 Hz
  float before = 0.0f;      // the latest two steps' filtered x
  float latest = 0.0f;
};

// Key mode's part of a voice started at `sampleRate`: no cycle measured yet.
void startKeyedPitch(KeyedPitch& keyed, double sampleRate) noexcept QUILLFERN_NONBLOCKING;

// A note's start, with the model afresh: the filter is chosen anew for its steps.
void startKeyedNote(KeyedPitch& keyed) noexcept QUILLFERN_NONBLOCKING;

// The probe and the played cycle at one sample: a fixed amount of work, whatever is played.
// While the voice is `silent` the played cycle is the latest measure at once, so a note starts
// at it; while a note sounds it glides to each new measure.
void followCycle(KeyedPitch& keyed, const ModelParameters& parameters,
                 std::span<const KnownCycle> known, bool silent) noexcept QUILLFERN_NONBLOCKING;

// True while followCycle has work to do at `parameters`: the voice may not rest in silence.
bool cycleIsMoving(const KeyedPitch& keyed,
                   const ModelParameters& parameters) noexcept QUILLFERN_NONBLOCKING;

// One sample of Key mode: the steps it holds at the played key, bend and glide, and x (the
// filtered steps' read at the sample's instant) times the volume; 0.0 once run away, as the
// window's step does.
float keyedStep(EngineState& state, ModelVariables& model,
                const ModelParameters& parameters) noexcept QUILLFERN_NONBLOCKING;
