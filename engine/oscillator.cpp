#include "engine/oscillator.h"

#include <algorithm>
#include <cmath>

#include "engine/voice.h"

namespace {

constexpr auto relaxed = std::memory_order_relaxed;
constexpr float C = 1.0f;
constexpr float D = 5.0f;
constexpr float ZOffset = 1.6f;  // the float nearest 1.6, as the z equation uses it

// During a note's handover the model goes on at the pitch of the note released before it.
double playedFrequency(const EngineState& state) noexcept {
  return state.handoverSamples <= state.handoverLimit ? state.previousFrequency.load(relaxed)
                                                      : state.noteFrequency.load(relaxed);
}

// The step size of this sample: the note's, bent, and on its way there when gliding.
double stepSize(EngineState& state) noexcept {
  Instrument& instrument = state.instrument;
  const double target =
      timeStepFor(playedFrequency(state), state.modelTimePerPeriod) * instrument.stepFactor;
  if (instrument.glideKeep == 0.0 || instrument.glideStep == 0.0) {
    instrument.glideStep = target;
    return target;
  }
  instrument.glideStep = target + (instrument.glideStep - target) * instrument.glideKeep;
  return instrument.glideStep;
}

// I with the mod wheel's and aftertouch's offset, the sum kept within I's range.
double inputCurrent(const EngineState& state) noexcept {
  const double i = state.paramI.load(relaxed);
  const Instrument& instrument = state.instrument;
  if (instrument.offsetOfI == 0.0) return i;
  return std::clamp(i + instrument.offsetOfI, instrument.lowestI, instrument.highestI);
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

float oscillatorStep(EngineState& state, ModelVariables& model) noexcept QUILLFERN_NONBLOCKING {
  if (!(state.noteFrequency.load(relaxed) > 0.0)) return state.lastOutput;

  const double step = stepSize(state);
  const int32_t subSteps = state.instrument.settings.stableSteps ? subStepsFor(step) : 1;
  const double h = subSteps == 1 ? step : step / subSteps;
  const double a = state.paramA.load(relaxed);
  const double b = state.paramB.load(relaxed);
  const double i = inputCurrent(state);
  const double r = state.paramR.load(relaxed);
  const double s = state.paramS.load(relaxed);

  for (int32_t subStep = 0; subStep < subSteps; ++subStep) {
    const double x = model.x;
    const double y = model.y;
    const double z = model.z;
    // Double precision, in exactly this order; each new value is then rounded to float.
    const double xx = x * x;
    const auto newX = static_cast<float>(x + h * (((y - a * (xx * x)) + b * xx) - z + i));
    const auto newY = static_cast<float>(y + h * ((-xx * D - y) + C));
    const auto newZ = static_cast<float>(z + h * (r * ((s * (x + ZOffset)) - z)));
    model = {newX, newY, newZ};
  }

  state.lastOutput = static_cast<float>(static_cast<double>(model.x) * state.volume.load(relaxed));
  return state.lastOutput;
}
