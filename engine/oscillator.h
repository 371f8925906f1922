// SPDX-License-Identifier: GPL-3.0-or-later
// The neuron oscillator: one explicit Euler step of the Hindmarsh-Rose model per output sample,
//   dx/dt = y - a x^3 + b x^2 - z + i,   dy/dt = c - d x^2 - y,   dz/dt = r (s (x + 1.6) - z),
// with c = 1 and d = 5. The step size follows the pitch: the model advances 8 time units per
// period of the note, the period rounded to whole samples at 44100 Hz. Audio thread only.
#pragma once

#include <cstdint>
#include <limits>

#include "engine/engine_state.h"
#include "engine/nonblocking.h"

inline constexpr float ModelTimePerPeriod = 8.0f;  // model time units per note period

// Past this |x| the Euler step has gone unstable (high notes, and some slider settings at lower
// ones): the model has run away and climbs through huge values to infinities and NaN within a
// few dozen samples. A model that stays bounded never comes near: over the window's whole
// control range and notes 0 to 85, held from a note's start, its largest |x| is 8.5141 (I 5.0,
// b 4.0, r 0.0005, a 0.5, s 2.8, note 68), measured once over about 330,000 settings held for
// a second or two: a grid over every control, 150,000 random positions, a climb from the 40
// loudest along every control, and every note and r around that corner.
inline constexpr float RunAwayBound = 10.0f;
// The largest |x| above, rounded up: the loudest a bounded voice gets is this times its volume.
inline constexpr float BoundedModelPeak = 8.52f;

// True for an x past RunAwayBound, infinite or NaN.
bool hasRunAway(float x) noexcept QUILLFERN_NONBLOCKING;

// Model time advanced by one sample at `frequency` Hz, for a voice whose modelTimePerPeriod is
// `modelTimePerPeriod` (ModelTimePerPeriod at 44100 Hz).
float timeStepFor(double frequency, double modelTimePerPeriod) noexcept QUILLFERN_NONBLOCKING;

// One sample's Euler step: `subSteps` steps of `h` model time units each, with I at `i`.
struct ModelStep {
  double h = 0.0;
  int32_t subSteps = 1;
  double i = 0.0;
};

// Advances `model` by `step` with `parameters` and returns x times the volume. The step whose
// new x has run away is silent already: not one sample of its climb is heard. The model is then
// parked at NaN, which every later step keeps and this same test silences, until a note's start
// sets it to zero: a legato note or a slider move cannot bring it back, and the render loop
// pays for one test per sample, not two.
[[gnu::always_inline]] inline float stepModel(ModelVariables& model, const ModelStep& step,
                                              const ModelParameters& parameters) noexcept {
  constexpr double C = 1.0f;
  constexpr double D = 5.0f;
  constexpr double ZOffset = 1.6f;  // the float nearest 1.6, as the z equation uses it
  const double h = step.h;
  const double a = parameters.a;
  const double b = parameters.b;
  const double i = step.i;
  const double r = parameters.r;
  const double s = parameters.s;
  ModelVariables next = model;
  for (int32_t subStep = 0; subStep < step.subSteps; ++subStep) {
    const double x = next.x;
    const double y = next.y;
    const double z = next.z;
    // Double precision, in exactly this order; each new value is then rounded to float.
    const double xx = x * x;
    next.x = static_cast<float>(x + h * (((y - a * (xx * x)) + b * xx) - z + i));
    next.y = static_cast<float>(y + h * ((-xx * D - y) + C));
    next.z = static_cast<float>(z + h * (r * ((s * (x + ZOffset)) - z)));
  }
  if (hasRunAway(next.x)) [[unlikely]] {
    constexpr float RunAwayState = std::numeric_limits<float>::quiet_NaN();
    model = {RunAwayState, RunAwayState, RunAwayState};
    return 0.0f;
  }
  model = next;
  return static_cast<float>(static_cast<double>(next.x) * parameters.volume);
}

// Advances the model by one step with `parameters` and returns x times the volume, which the
// caller keeps as lastOutput. Before the first note (no note frequency yet) it returns
// lastOutput and changes nothing. From the step whose new x has run away until the model is set
// back to zero at a note's start, it returns 0.0 and x, y and z stay NaN.
float oscillatorStep(EngineState& state, ModelVariables& model,
                     const ModelParameters& parameters) noexcept QUILLFERN_NONBLOCKING;

// Past the handover, with no glide under way, every sample of the note takes the same step:
// true with that step in `step` (and what oscillatorStep would store of it stored), false while
// the step may still change from one sample to the next. The note's frequency it plays is
// `frequency`.
bool steadyModelStep(EngineState& state, const ModelParameters& parameters, double& frequency,
                     ModelStep& step) noexcept QUILLFERN_NONBLOCKING;
