#include "engine/render.h"

#include <cmath>

#include "engine/envelope.h"
#include "engine/oscillator.h"

namespace {

constexpr float FadeInLength = 100.0f;  // samples
constexpr float FadeInExponent = 5.0f;

// A model that has run away (high notes make the Euler step unstable) yields infinities or
// NaN; the stream gets silence instead, while the model itself is left as it is until the
// next note resets it.
float playable(double sample) noexcept {
  const auto value = static_cast<float>(sample);
  return std::isfinite(value) ? value : 0.0f;
}

float renderFrame(EngineState& state, ModelVariables& model) noexcept {
  envelopeStep(state, model, state.noteSamples);
  const int32_t noteSamples = state.noteSamples;
  const float modelOutput = oscillatorStep(state, model);
  double sample = modelOutput * state.envelopeLevel;
  if (noteSamples < FadeInSamples) sample = fadeInFactor(noteSamples) * sample;
  state.noteSamples = noteSamples + 1;
  return playable(sample);
}

}  // namespace

// 0 at the note's first sample, 0.03125 at 50, 0.95099 at 99.
double fadeInFactor(int32_t noteSamples) noexcept QUILLFERN_NONBLOCKING {
  const auto fraction = static_cast<float>(noteSamples / static_cast<double>(FadeInLength));
  return static_cast<float>(std::pow(static_cast<double>(fraction), FadeInExponent));
}

void renderFrames(EngineState& state, float* output,
                  unsigned long frames) noexcept QUILLFERN_NONBLOCKING {
  ModelVariables model = modelVariablesOf(state);
  for (unsigned long frame = 0; frame < frames; ++frame) output[frame] = renderFrame(state, model);
  storeModelVariables(state, model);
}

int RenderCallback(const void* /*input*/, void* output, unsigned long frameCount,
                   const PaStreamCallbackTimeInfo* /*timeInfo*/,
                   PaStreamCallbackFlags /*statusFlags*/,
                   void* /*userData*/) noexcept QUILLFERN_NONBLOCKING {
  renderFrames(engineState, static_cast<float*>(output), frameCount);
  return paContinue;
}
