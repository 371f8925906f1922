// SPDX-License-Identifier: GPL-3.0-or-later
// The neuron oscillator: one explicit Euler step of the Hindmarsh-Rose model per output sample,
//   dx/dt = y - a x^3 + b x^2 - z + i,   dy/dt = c - d x^2 - y,   dz/dt = r (s (x + 1.6) - z),
// with c = 1 and d = 5. The step size follows the pitch: the model advances 8 time units per
// period of the note, the period rounded to whole samples at 44100 Hz. Audio thread only.
#pragma once

#include <algorithm>
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
// Where a model that has run away is parked until a note's start sets it back to zero.
inline constexpr float RunAwayState = std::numeric_limits<float>::quiet_NaN();

// True for an x past RunAwayBound, infinite or NaN.
bool hasRunAway(float x) noexcept QUILLFERN_NONBLOCKING;

// Model time advanced by one sample at `frequency` Hz, for a voice whose modelTimePerPeriod is
// `modelTimePerPeriod` (ModelTimePerPeriod at 44100 Hz).
float timeStepFor(double frequency, double modelTimePerPeriod) noexcept QUILLFERN_NONBLOCKING;

// The model's constants c and d, and the offset of x in the z equation (the float nearest 1.6).
inline constexpr float CoefficientC = 1.0f;
inline constexpr float CoefficientD = 5.0f;
inline constexpr float ZOffset = 1.6f;

// One Euler step on x, y and z held as doubles (each a float's value), in double precision in
// exactly this order, each new value then rounded to float by `toFloat`: the one arithmetic of
// a model's step, whether `Real` is one model's double or the lanes of several side by side.
template <typename Real, typename Rounding>
[[gnu::always_inline]] inline void eulerStepOf(Real& x, Real& y, Real& z, const Real& h,
                                               const Real& a, const Real& b, const Real& i,
                                               const Real& r, const Real& s,
                                               Rounding toFloat) noexcept {
  const Real xx = x * x;
  const Real nextX = toFloat(x + h * (((y - a * (xx * x)) + b * xx) - z + i));
  const Real nextY = toFloat(y + h * ((-xx * CoefficientD - y) + CoefficientC));
  const Real nextZ = toFloat(z + h * (r * ((s * (x + ZOffset)) - z)));
  x = nextX;
  y = nextY;
  z = nextZ;
}

// `subSteps` Euler steps of `h` each.
[[gnu::always_inline]] inline void eulerSteps(ModelVariables& model, double h, int32_t subSteps,
                                              double a, double b, double i, double r,
                                              double s) noexcept {
  for (int32_t subStep = 0; subStep < subSteps; ++subStep) {
    double x = model.x;
    double y = model.y;
    double z = model.z;
    eulerStepOf(x, y, z, h, a, b, i, r, s,
                [](double value) { return static_cast<double>(static_cast<float>(value)); });
    model.x = static_cast<float>(x);
    model.y = static_cast<float>(y);
    model.z = static_cast<float>(z);
  }
}

// The frequency the model plays: the latest note's, or during a note's handover the one
// released before it.
double playedFrequency(const EngineState& state) noexcept QUILLFERN_NONBLOCKING;

// The step size of `frequency` at the voice's rate, kept in the record: it changes only with the
// pitch (a note-on, the end of a handover) or the rate.
float timeStepOf(EngineState& state, double frequency) noexcept QUILLFERN_NONBLOCKING;

// The step size of a sample whose note, bent, steps `target`: that, or with a glide under way
// the next point of the slide from the step reached.
inline double glidedStep(const Instrument& instrument, double target) noexcept {
  if (instrument.glideKeep == 0.0 || instrument.glideStep == 0.0) return target;
  return target + (instrument.glideStep - target) * instrument.glideKeep;
}

// The parameters a block of frames steps the model with: the record's, I moved by the mod wheel
// and aftertouch (the sum kept within I's range), which change only between blocks, as the
// parameters do. Inline: a call would cost a tenth of a block of one frame.
inline ModelParameters blockParametersOf(const EngineState& state) noexcept QUILLFERN_NONBLOCKING {
  ModelParameters parameters = modelParametersOf(state);
  const Instrument& instrument = state.instrument;
  if (instrument.offsetOfI != 0.0) {
    parameters.i =
        std::clamp(parameters.i + instrument.offsetOfI, instrument.lowestI, instrument.highestI);
  }
  return parameters;
}

// Advances the model by one step with `parameters` and returns x times the volume, which the
// caller keeps as lastOutput. Before the first note (no note frequency yet) it returns
// lastOutput and changes nothing. From the step whose new x has run away until the model is set
// back to zero at a note's start, it returns 0.0 and x, y and z stay NaN.
float oscillatorStep(EngineState& state, ModelVariables& model,
                     const ModelParameters& parameters) noexcept QUILLFERN_NONBLOCKING;

// The sounding model starts to fade out beside a note started at once, from `level`, at the
// step it took last (its pitch, bend and glide then) and for the handover's length.
void beginFading(EngineState& state, double level) noexcept QUILLFERN_NONBLOCKING;

// Advances the fading model by one step and returns x times the volume; 0.0 once it has run
// away, as oscillatorStep does.
float fadingStep(FadingNote& fading,
                 const ModelParameters& parameters) noexcept QUILLFERN_NONBLOCKING;
