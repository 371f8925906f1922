// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/keyed_pitch.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "engine/engine_state.h"
#include "engine/oscillator.h"

namespace {

// Before the first measure: the window's rule at key 57, 8 time units a period.
constexpr double UnmeasuredCycle = ModelTimePerPeriod / KeyStep;
// The probe's pace until it has given its first cycle: a note played right at the start is in
// tune within a few milliseconds.
constexpr int32_t FirstProbeStepsPerSample = 64;
// How fast the played cycle follows a new measure: no pitch jumps, and in tune within 50 ms.
constexpr double CycleTimeConstant = 0.008;  // seconds
// The played cycle is the measure once this close: a held note's pitch stands still.
constexpr double CycleSnap = 1e-9;
// The low-pass filter's corner: below the output's Nyquist frequency by a margin, and the
// same at every rate that reaches it, so that the timbre is too.
constexpr double CutoffShareOfRate = 0.4;
constexpr double HighestCutoff = 16000.0;  // Hz
// Above this share of the steps' rate the filter would do nothing the output could hear.
constexpr double HighestFilteredShare = 0.45;
// The filter is designed again when the steps a sample move by more than this share.
constexpr double RedesignShare = 0.01;
// The two sections of a fourth-order Butterworth low-pass filter.
constexpr std::array<double, 2> SectionQ{0.54119610014619698, 1.3065629648763766};

void designSection(LowPassSection& section, double tangent, double q) noexcept {
  const double squared = tangent * tangent;
  const double norm = 1.0 / (1.0 + tangent / q + squared);
  section.b0 = squared * norm;
  section.b1 = 2.0 * section.b0;
  section.b2 = section.b0;
  section.a1 = 2.0 * (squared - 1.0) * norm;
  section.a2 = (1.0 - tangent / q + squared) * norm;
}

// The filter for `stepsPerSample`, designed again only when they have moved enough.
void followFilter(KeyedPitch& keyed, double sampleRate, double stepsPerSample,
                  bool wanted) noexcept {
  if (std::fabs(stepsPerSample - keyed.filteredRate) <= RedesignShare * keyed.filteredRate) return;
  keyed.filteredRate = stepsPerSample;
  const double cutoff = std::min(CutoffShareOfRate * sampleRate, HighestCutoff);
  const double share = cutoff / (stepsPerSample * sampleRate);
  keyed.filtering = wanted && share < HighestFilteredShare;
  if (!keyed.filtering) return;
  const double tangent = std::tan(std::numbers::pi * share);
  for (std::size_t section = 0; section < SectionQ.size(); ++section) {
    designSection(keyed.filter[section], tangent, SectionQ[section]);
  }
}

[[gnu::always_inline]] inline double filterStep(LowPassSection& section, double input) noexcept {
  const double output = section.b0 * input + section.z1;
  section.z1 = section.b1 * input - section.a1 * output + section.z2;
  section.z2 = section.b2 * input - section.a2 * output;
  return output;
}

float filtered(KeyedPitch& keyed, float x) noexcept {
  if (!keyed.filtering) return x;
  return static_cast<float>(filterStep(keyed.filter[1], filterStep(keyed.filter[0], x)));
}

// The steps of this sample: the played cycle at the key's frequency, bent and transposed, and
// on its way there when gliding.
double stepsOfSample(EngineState& state) noexcept {
  const KeyedPitch& keyed = state.instrument.keyed;
  const double frequency = playedFrequency(state) * state.instrument.stepFactor;
  const double target = std::min(keyed.cycleSteps * frequency / state.sampleRate, keyed.stepLimit);
  state.instrument.glideStep = glidedStep(state.instrument, target);
  return state.instrument.glideStep;
}

}  // namespace

void startKeyedPitch(KeyedPitch& keyed, double sampleRate) noexcept QUILLFERN_NONBLOCKING {
  keyed = KeyedPitch{};
  keyed.cycleSteps = UnmeasuredCycle;
  keyed.smoothing = 1.0 - std::exp(-1.0 / (CycleTimeConstant * sampleRate));
  keyed.stepLimit = KeyStepsPerSecondLimit / sampleRate;
}

bool cycleIsMoving(const KeyedPitch& keyed,
                   const ModelParameters& parameters) noexcept QUILLFERN_NONBLOCKING {
  const double measure = keyed.probe.measure.steps;
  return !probeIsIdle(keyed.probe, parameters) || (measure > 0.0 && keyed.cycleSteps != measure);
}

void followCycle(KeyedPitch& keyed,
                 const ModelParameters& parameters) noexcept QUILLFERN_NONBLOCKING {
  const int32_t steps = keyed.measured ? ProbeStepsPerSample : FirstProbeStepsPerSample;
  if (advanceCycleProbe(keyed.probe, parameters, steps) && !keyed.measured) {
    keyed.measured = keyed.probe.measure.steps > 0.0;
    if (keyed.measured) keyed.cycleSteps = keyed.probe.measure.steps;
  }
  const double measure = keyed.probe.measure.steps;
  if (!(measure > 0.0) || keyed.cycleSteps == measure) return;
  keyed.cycleSteps += (measure - keyed.cycleSteps) * keyed.smoothing;
  if (std::fabs(measure - keyed.cycleSteps) <= CycleSnap * measure) keyed.cycleSteps = measure;
}

float keyedStep(EngineState& state, ModelVariables& model,
                const ModelParameters& parameters) noexcept QUILLFERN_NONBLOCKING {
  KeyedPitch& keyed = state.instrument.keyed;
  followCycle(keyed, parameters);
  if (!(state.noteFrequency.load(std::memory_order_relaxed) > 0.0)) return state.lastOutput;
  if (hasRunAway(model.x)) return 0.0f;  // parked until a note's start, as the window's step

  const double steps = stepsOfSample(state);
  followFilter(keyed, state.sampleRate, steps, state.instrument.settings.keyFilter);
  const double owed = keyed.phase + steps;
  const auto whole = static_cast<int32_t>(owed);
  keyed.phase = owed - whole;
  for (int32_t step = 0; step < whole; ++step) {
    eulerSteps(model, KeyStep, 1, parameters.a, parameters.b, parameters.i, parameters.r,
               parameters.s);
    if (hasRunAway(model.x)) [[unlikely]] {
      model = {RunAwayState, RunAwayState, RunAwayState};
      return 0.0f;
    }
    keyed.before = keyed.latest;
    keyed.latest = filtered(keyed, model.x);
  }
  const double x = keyed.before + (keyed.latest - keyed.before) * keyed.phase;
  return static_cast<float>(x * parameters.volume);
}
