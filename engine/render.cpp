#include "engine/render.h"

#include <cmath>

#include "engine/envelope.h"
#include "engine/oscillator.h"

namespace {

constexpr float FadeInExponent = 5.0f;

float renderFrame(EngineState& state, ModelVariables& model) noexcept {
  envelopeStep(state, model, state.noteSamples);
  const int32_t noteSamples = state.noteSamples;
  const float modelOutput = oscillatorStep(state, model);
  double sample = modelOutput * state.envelopeLevel;
  const int32_t fadeInSamples = state.fadeInSamples;
  if (noteSamples < fadeInSamples) sample = fadeInFactor(noteSamples, fadeInSamples) * sample;
  state.noteSamples = noteSamples + 1;
  return static_cast<float>(sample);
}

}  // namespace

// 0 at the note's first sample, 0.03125 halfway, 0.95099 at 99 of 100.
double fadeInFactor(int32_t noteSamples, int32_t fadeInSamples) noexcept QUILLFERN_NONBLOCKING {
  const auto fraction = static_cast<float>(noteSamples / static_cast<double>(fadeInSamples));
  return static_cast<float>(std::pow(static_cast<double>(fraction), FadeInExponent));
}

void renderFrames(EngineState& state, float* output,
                  unsigned long frames) noexcept QUILLFERN_NONBLOCKING {
  ModelVariables model = modelVariablesOf(state);
  for (unsigned long frame = 0; frame < frames; ++frame) output[frame] = renderFrame(state, model);
  storeModelVariables(state, model);
}
