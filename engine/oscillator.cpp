// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/oscillator.h"

#include <algorithm>
#include <cmath>

#include "engine/voice.h"

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

}  // namespace

// During a note's handover the model goes on at the pitch of the note released before it.
double playedFrequency(const EngineState& state) noexcept QUILLFERN_NONBLOCKING {
  return state.handoverSamples <= state.handoverLimit ? state.previousFrequency.load(relaxed)
                                                      : state.noteFrequency.load(relaxed);
}

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

float timeStepOf(EngineState& state, double frequency) noexcept QUILLFERN_NONBLOCKING {
  if (frequency != state.stepFrequency) {
    state.timeStep = timeStepFor(frequency, state.modelTimePerPeriod);
    state.stepFrequency = frequency;
  }
  return state.timeStep;
}

namespace {

// The step size of this sample: the note's, bent, and on its way there when gliding.
double stepSize(EngineState& state) noexcept {
  Instrument& instrument = state.instrument;
  const double target = timeStepOf(state, playedFrequency(state)) * instrument.stepFactor;
  instrument.glideStep = glidedStep(instrument, target);
  return instrument.glideStep;
}

// The model after its step, and x times the volume. The step that runs away is silent already:
// not one sample of its climb is heard. The model is then parked at NaN, which every later step
// keeps and this same test silences, until a note's start sets it to zero: a legato note or a
// slider move cannot bring it back, and the render loop pays for one test per sample, not two.
[[gnu::always_inline]] inline float keptOutput(ModelVariables& model, const ModelVariables& next,
                                               double volume) noexcept {
  if (hasRunAway(next.x)) [[unlikely]] {
    model = {RunAwayState, RunAwayState, RunAwayState};
    return 0.0f;
  }
  model = next;
  return static_cast<float>(static_cast<double>(next.x) * volume);
}

}  // namespace

float oscillatorStep(EngineState& state, ModelVariables& model,
                     const ModelParameters& parameters) noexcept QUILLFERN_NONBLOCKING {
  if (state.instrument.settings.keyedPitch) return keyedStep(state, model, parameters);
  if (!(state.noteFrequency.load(relaxed) > 0.0)) return state.lastOutput;

  const double step = stepSize(state);
  const int32_t subSteps = state.instrument.settings.stableSteps ? subStepsFor(step) : 1;
  const double a = parameters.a;
  const double b = parameters.b;
  const double i = parameters.i;
  const double r = parameters.r;
  const double s = parameters.s;

  ModelVariables next = model;
  // One step a sample, the common case (stable steps off, or a step within their limit), is
  // written without the loop: its counter and constants would take registers that the block's
  // values need, and the compiler would keep those in memory instead.
  if (subSteps == 1) [[likely]] {
    eulerSteps(next, step, 1, a, b, i, r, s);
  } else {
    eulerSteps(next, step / subSteps, subSteps, a, b, i, r, s);
  }
  return keptOutput(model, next, parameters.volume);
}

void beginFading(EngineState& state, double level) noexcept QUILLFERN_NONBLOCKING {
  const double step = state.instrument.glideStep;  // the step the sounding model took last
  FadingNote& fading = state.fading;
  fading.model = modelVariablesOf(state);
  if (state.instrument.settings.keyedPitch) {
    // Key mode's steps a sample, to the nearest whole one: a note fading out for a few
    // milliseconds needs no finer pitch.
    fading.subSteps = std::max(1, static_cast<int32_t>(std::lrint(step)));
    fading.subStep = KeyStep;
  } else {
    fading.subSteps = state.instrument.settings.stableSteps ? subStepsFor(step) : 1;
    fading.subStep = step / fading.subSteps;
  }
  fading.level = level;
  fading.faded = 0;
  fading.remaining = state.handoverLimit + 1;
}

float fadingStep(FadingNote& fading,
                 const ModelParameters& parameters) noexcept QUILLFERN_NONBLOCKING {
  ModelVariables next = fading.model;
  eulerSteps(next, fading.subStep, fading.subSteps, parameters.a, parameters.b, parameters.i,
             parameters.r, parameters.s);
  return keptOutput(fading.model, next, parameters.volume);
}
