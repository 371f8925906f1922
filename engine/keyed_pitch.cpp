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
// The probe's pace in a measure begun at rest (not chained to one taken while the controls
// moved): a note played right after new controls is in tune within a few milliseconds, and the
// measure goes alike in every host from the sample the controls came.
constexpr int32_t RestedProbeStepsPerSample = 64;
// How fast the played cycle follows a new measure: no pitch jumps, and in tune within 50 ms.
constexpr double CycleTimeConstant = 0.008;  // seconds
// The played cycle is the measure once this close: a held note's pitch stands still.
constexpr double CycleSnap = 1e-9;
// The decimating filter: a 6th-order elliptic low-pass, 0.1 dB of ripple in its passband and
// 60 dB down from its stopband's edge on, whose edge is the output's Nyquist frequency (that of
// 44100 Hz at higher rates, so the timbre is the same at every rate): what the steps hold above
// it would fold back among the harmonics. Three sections, the analog prototype's with a passband
// edge of 1 (scipy.signal.ellipap(6, 0.1, 60)), each pole pair with its nearest zeros, in order
// of rising Q.
struct PrototypeSection {
  double zero;  // the zeros' frequency
  double pole;  // the poles' natural frequency
  double q;
};
constexpr std::array<PrototypeSection, KeyFilterSections> Prototype{{
    {5.301699241231073, 0.5928033164053651, 0.6137826952288828},
    {2.056659629486572, 0.8867844711734618, 1.5801782647293585},
    {1.5902508092970027, 1.049094068735569, 6.331637211284557},
}};
// Where the prototype reaches 60 dB down, in passband edges.
constexpr double StopbandShare = 1.5486890709067755;
constexpr double HighestStopband = 22050.0;  // Hz
// Steps slower than this many to each hertz of the stopband's edge (3 a sample at 44100 Hz) hold
// less than -80 dB of their energy above it (the bank's spectra at KeyStep are that far down
// from 0.17 cycles a step on), and the filter would change nothing the output could hear.
constexpr double UnfilteredStepsPerStopbandHertz = 6.0;
// The filter is designed again when the steps a sample move by more than this share.
constexpr double RedesignShare = 0.01;

// A prototype section through the bilinear transform, its passband edge at `edge` (prewarped,
// tan(pi edge / steps' rate)); returns its gain at 0 Hz.
double designSection(LowPassSection& section, const PrototypeSection& prototype,
                     double edge) noexcept {
  const double zero = prototype.zero * edge;
  const double pole = prototype.pole * edge;
  const double zeroSquared = zero * zero;
  const double poleSquared = pole * pole;
  const double norm = 1.0 / (1.0 + pole / prototype.q + poleSquared);
  section.zero = 2.0 * (zeroSquared - 1.0) / (1.0 + zeroSquared);
  section.a1 = 2.0 * (poleSquared - 1.0) * norm;
  section.a2 = (1.0 - pole / prototype.q + poleSquared) * norm;
  return (2.0 + section.zero) / (1.0 + section.a1 + section.a2);
}

// A section as if it had long had `input`, which it gives `gain` times: a filter switched on
// mid-note starts from the model's x rather than from 0, without a click.
void settleSection(LowPassSection& section, double input, double gain) noexcept {
  const double output = gain * input;
  section.z2 = input - section.a2 * output;
  section.z1 = output - input;
}

// The filter for `stepsPerSample`, designed again only when they have moved enough.
void followFilter(KeyedPitch& keyed, double sampleRate, double stepsPerSample, bool wanted,
                  float x) noexcept {
  if (std::fabs(stepsPerSample - keyed.filteredRate) <= RedesignShare * keyed.filteredRate) return;
  keyed.filteredRate = stepsPerSample;
  const double stepsPerSecond = stepsPerSample * sampleRate;
  const double stopband = std::min(0.5 * sampleRate, HighestStopband);
  // Once on, the filter stays on to the note's end: switched off mid-note, a bend or glide
  // down would jump from the filtered steps to the bare ones, by the filter's delay.
  const bool wasFiltering = keyed.filtering;
  keyed.filtering =
      wanted && (wasFiltering || stepsPerSecond > UnfilteredStepsPerStopbandHertz * stopband);
  if (!keyed.filtering) return;
  // Kept on below its threshold, the filter's stopband stays below the steps' own Nyquist
  // frequency, where the bilinear transform holds it stable.
  const double designed = std::max(stepsPerSecond, 2.0 * stopband);
  const double edge = std::tan(std::numbers::pi * stopband / StopbandShare / designed);
  double input = x;
  keyed.filterGain = 1.0;
  for (std::size_t section = 0; section < KeyFilterSections; ++section) {
    const double gain = designSection(keyed.filter[section], Prototype[section], edge);
    if (!wasFiltering) settleSection(keyed.filter[section], input, gain);
    input *= gain;
    keyed.filterGain /= gain;
  }
}

[[gnu::always_inline]] inline double filterStep(LowPassSection& section, double input) noexcept {
  const double output = input + section.z1;
  section.z1 = section.zero * input - section.a1 * output + section.z2;
  section.z2 = input - section.a2 * output;
  return output;
}

// `whole` steps of the model, its x kept as the latest two steps' outputs, through the
// decimating filter when `Filtered`: false once it has run away. The model, the outputs and the
// filter's state stay in registers through the loop, whose one branch is the run-away check;
// the sections are three named copies, not an array looped over, since kept in memory each
// step's recursion would wait on a store and a load.
template <bool Filtered>
bool takeSteps(KeyedPitch& keyed, ModelVariables& model, const ModelParameters& parameters,
               int32_t whole) noexcept {
  static_assert(KeyFilterSections == 3);
  ModelVariables next = model;
  LowPassSection first = keyed.filter[0];
  LowPassSection second = keyed.filter[1];
  LowPassSection third = keyed.filter[2];
  const double gain = keyed.filterGain;
  float before = keyed.before;
  float latest = keyed.latest;
  for (int32_t step = 0; step < whole; ++step) {
    eulerSteps(next, KeyStep, 1, parameters.a, parameters.b, parameters.i, parameters.r,
               parameters.s);
    if (hasRunAway(next.x)) [[unlikely]]
      return false;
    before = latest;
    if constexpr (Filtered) {
      const double output = filterStep(third, filterStep(second, filterStep(first, next.x)));
      latest = static_cast<float>(output * gain);
    } else {
      latest = next.x;
    }
  }
  model = next;
  if constexpr (Filtered) keyed.filter = {first, second, third};
  keyed.before = before;
  keyed.latest = latest;
  return true;
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

void startKeyedNote(KeyedPitch& keyed) noexcept QUILLFERN_NONBLOCKING {
  keyed.filtering = false;
  keyed.filteredRate = 0.0;
}

void startKeyedPitch(KeyedPitch& keyed, double sampleRate) noexcept QUILLFERN_NONBLOCKING {
  keyed = KeyedPitch{};
  restCycleProbe(keyed.probe);
  keyed.cycleSteps = UnmeasuredCycle;
  keyed.smoothing = 1.0 - std::exp(-1.0 / (CycleTimeConstant * sampleRate));
  keyed.stepLimit = KeyStepsPerSecondLimit / sampleRate;
}

bool cycleIsMoving(const KeyedPitch& keyed,
                   const ModelParameters& parameters) noexcept QUILLFERN_NONBLOCKING {
  const double measure = keyed.probe.measure.steps;
  return !probeIsIdle(keyed.probe, parameters) || (measure > 0.0 && keyed.cycleSteps != measure);
}

void followCycle(KeyedPitch& keyed, const ModelParameters& parameters,
                 std::span<const KnownCycle> known, bool silent) noexcept QUILLFERN_NONBLOCKING {
  const int32_t steps = keyed.probe.chained ? ProbeStepsPerSample : RestedProbeStepsPerSample;
  const bool measured = advanceCycleProbe(keyed.probe, parameters, steps, known);
  const double measure = keyed.probe.measure.steps;
  if (!(measure > 0.0)) return;
  if (silent || (measured && keyed.provisional)) {
    keyed.cycleSteps = measure;
    keyed.provisional = silent && !probeIsIdle(keyed.probe, parameters);
    return;
  }
  if (keyed.provisional || keyed.cycleSteps == measure) return;
  keyed.cycleSteps += (measure - keyed.cycleSteps) * keyed.smoothing;
  if (std::fabs(measure - keyed.cycleSteps) <= CycleSnap * measure) keyed.cycleSteps = measure;
}

float keyedStep(EngineState& state, ModelVariables& model,
                const ModelParameters& parameters) noexcept QUILLFERN_NONBLOCKING {
  KeyedPitch& keyed = state.instrument.keyed;
  followCycle(keyed, parameters, state.instrument.settings.knownCycles,
              !(state.envelopeLevel > 0.0));
  if (!(state.noteFrequency.load(std::memory_order_relaxed) > 0.0)) return state.lastOutput;
  if (hasRunAway(model.x)) return 0.0f;  // parked until a note's start, as the window's step

  const double steps = stepsOfSample(state);
  followFilter(keyed, state.sampleRate, steps, state.instrument.settings.keyFilter, model.x);
  const double owed = keyed.phase + steps;
  const auto whole = static_cast<int32_t>(owed);
  keyed.phase = owed - whole;
  const bool bounded = keyed.filtering ? takeSteps<true>(keyed, model, parameters, whole)
                                       : takeSteps<false>(keyed, model, parameters, whole);
  if (!bounded) [[unlikely]] {
    model = {RunAwayState, RunAwayState, RunAwayState};
    return 0.0f;
  }
  const double x = keyed.before + (keyed.latest - keyed.before) * keyed.phase;
  return static_cast<float>(x * parameters.volume);
}
