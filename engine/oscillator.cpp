// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/oscillator.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/voice.h"

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

// During a note's handover the model goes on at the pitch of the note released before it.
double playedFrequency(const EngineState& state) noexcept {
  return state.handoverSamples <= state.handoverLimit ? state.previousFrequency.load(relaxed)
                                                      : state.noteFrequency.load(relaxed);
}

}  // namespace

float timeStepFor(double frequency, double modelTimePerPeriod) noexcept QUILLFERN_NONBLOCKING {
  // The period is rounded to whole samples at 44100 Hz, ties to even (the default rounding
  // mode), whatever the voice's rate: a note then has the same pitch at every rate, the one it
  // has always had at 44100 Hz, and the rate only shares that period's model time out among
  // more or fewer samples.
  const auto samplesPerPeriod = static_cast<int32_t>(std::lrint(DefaultSampleRate / frequency));
  return static_cast<float>(1.0 / samplesPerPeriod * modelTimePerPeriod);
}

bool hasRunAway(float x) noexcept QUILLFERN_NONBLOCKING {
  return !(std::fabs(x) <= RunAwayBound);  // NaN and infinities as well
}

namespace {

// The step size changes only with the pitch (a note-on, the end of a handover) or the rate.
float timeStepOf(EngineState& state, double frequency) noexcept {
  if (frequency != state.stepFrequency) {
    state.timeStep = timeStepFor(frequency, state.modelTimePerPeriod);
    state.stepFrequency = frequency;
  }
  return state.timeStep;
}

// The step size of this sample: the note's, bent, and on its way there when gliding.
double stepSize(EngineState& state) noexcept {
  Instrument& instrument = state.instrument;
  const double target = timeStepOf(state, playedFrequency(state)) * instrument.stepFactor;
  if (instrument.glideKeep == 0.0 || instrument.glideStep == 0.0) {
    instrument.glideStep = target;
    return target;
  }
  instrument.glideStep = target + (instrument.glideStep - target) * instrument.glideKeep;
  return instrument.glideStep;
}

// I with the mod wheel's and aftertouch's offset, the sum kept within I's range.
double inputCurrent(const EngineState& state, double i) noexcept {
  const Instrument& instrument = state.instrument;
  if (instrument.offsetOfI == 0.0) return i;
  return std::clamp(i + instrument.offsetOfI, instrument.lowestI, instrument.highestI);
}

}  // namespace

namespace {

[[gnu::always_inline]] inline ModelStep modelStepAt(const EngineState& state, double step,
                                                    const ModelParameters& parameters) noexcept {
  const int32_t subSteps = state.instrument.settings.stableSteps ? subStepsFor(step) : 1;
  return {subSteps == 1 ? step : step / subSteps, subSteps, inputCurrent(state, parameters.i)};
}

}  // namespace

float oscillatorStep(EngineState& state, ModelVariables& model,
                     const ModelParameters& parameters) noexcept QUILLFERN_NONBLOCKING {
  if (!(state.noteFrequency.load(relaxed) > 0.0)) return state.lastOutput;
  return stepModel(model, modelStepAt(state, stepSize(state), parameters), parameters);
}

bool steadyModelStep(EngineState& state, const ModelParameters& parameters, double& frequency,
                     ModelStep& step) noexcept QUILLFERN_NONBLOCKING {
  frequency = state.noteFrequency.load(relaxed);
  if (!(frequency > 0.0) || state.handoverSamples <= state.handoverLimit) return false;
  Instrument& instrument = state.instrument;
  const double target = timeStepOf(state, frequency) * instrument.stepFactor;
  // A glide that has arrived stays where it is: target + 0 × keep.
  if (instrument.glideKeep != 0.0 && instrument.glideStep != 0.0 &&
      instrument.glideStep != target) {
    return false;
  }
  instrument.glideStep = target;
  step = modelStepAt(state, target, parameters);
  return true;
}
