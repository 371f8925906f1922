// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/render.h"

#include <cmath>

#include "engine/envelope.h"
#include "engine/oscillator.h"

namespace {

constexpr float FadeInExponent = 5.0f;

float renderFrame(EngineState& state, ModelVariables& model, const ModelParameters& parameters,
                  float& modelOutput) noexcept {
  envelopeStep(state, model, state.noteSamples);
  const int32_t noteSamples = state.noteSamples;
  modelOutput = oscillatorStep(state, model, parameters);
  double sample = modelOutput * state.envelopeLevel;
  const int32_t fadeInSamples = state.fadeInSamples;
  if (noteSamples < fadeInSamples) sample = fadeInFactor(noteSamples, fadeInSamples) * sample;
  state.noteSamples = noteSamples + 1;
  return static_cast<float>(sample);
}

bool awaitsFirstNote(const EngineState& state) noexcept {
  return !(state.noteFrequency.load(std::memory_order_relaxed) > 0.0);
}

// Until the first note the model is idle and the envelope closed at level 0: each frame is the
// silence (0.0, never -0.0) renderFrame would give, and only the count of samples goes on, with
// the envelope's guard against its overflow. Returns the frames rendered: all of them, or
// those before a note-on that arrives meanwhile.
unsigned long renderSilenceBeforeFirstNote(EngineState& state, float* output,
                                           unsigned long frames) noexcept {
  unsigned long frame = 0;
  int32_t noteSamples = state.noteSamples;
  for (; frame < frames && awaitsFirstNote(state); ++frame) {
    if (noteSamples > NoteSamplesLimit) noteSamples = 0;
    output[frame] = 0.0f;
    ++noteSamples;
  }
  state.noteSamples = noteSamples;
  state.envelopeLevel = 0.0;
  state.handoverLevel = 0.0;
  return frame;
}

}  // namespace

// 0 at the note's first sample, 0.03125 halfway, 0.95099 at 99 of 100.
double fadeInFactor(int32_t noteSamples, int32_t fadeInSamples) noexcept QUILLFERN_NONBLOCKING {
  const auto fraction = static_cast<float>(noteSamples / static_cast<double>(fadeInSamples));
  return static_cast<float>(std::pow(static_cast<double>(fraction), FadeInExponent));
}

void renderFrames(EngineState& state, float* output,
                  unsigned long frames) noexcept QUILLFERN_NONBLOCKING {
  unsigned long frame =
      awaitsFirstNote(state) ? renderSilenceBeforeFirstNote(state, output, frames) : 0;
  ModelVariables model = modelVariablesOf(state);
  const ModelParameters parameters = modelParametersOf(state);
  float modelOutput = state.lastOutput;
  for (; frame < frames; ++frame) {
    output[frame] = renderFrame(state, model, parameters, modelOutput);
  }
  storeModelVariables(state, model);
  state.lastOutput = modelOutput;
}
