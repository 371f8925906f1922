#include "engine/render.h"

#include <atomic>
#include <cmath>
#include <cstddef>

#include "engine/envelope.h"
#include "engine/oscillator.h"

namespace {

constexpr float FadeInExponent = 5.0f;

// A model that has run away (high notes, and some slider settings at lower ones, make the
// Euler step unstable) climbs through huge finite values to infinities and NaN within a few
// hundred samples. The stream gets silence instead of any of them, while the model itself is
// left as it is until the next note resets it. A model that stays bounded stays within ±8.5
// at full volume: 8.42 at most, measured over a grid of about 100,000 slider settings across
// their whole ranges and notes 0 to 85, held for a second (a = 0.5, b = 4.0, I = 5.0, note 68
// gave the most); every run-away there passed 2.6e7 or went straight to infinity.
constexpr float LargestPlayableSample = 64.0f;

float playable(double sample) noexcept {
  const auto value = static_cast<float>(sample);
  // False for NaN as well as for anything too large, infinities included.
  return std::fabs(value) <= LargestPlayableSample ? value : 0.0f;
}

// Inlined in both render loops: called from two places, the compiler would otherwise keep it a
// function of its own, and a call per sample costs a tenth of the sample.
[[gnu::always_inline]] inline float renderFrame(EngineState& state,
                                                ModelVariables& model) noexcept {
  envelopeStep(state, model, state.noteSamples);
  const int32_t noteSamples = state.noteSamples;
  const float modelOutput = oscillatorStep(state, model);
  double sample = modelOutput * state.envelopeLevel;
  const int32_t fadeInSamples = state.fadeInSamples;
  if (noteSamples < fadeInSamples) sample = fadeInFactor(noteSamples, fadeInSamples) * sample;
  state.noteSamples = noteSamples + 1;
  return playable(sample);
}

}  // namespace

// 0 at the note's first sample, 0.03125 halfway, 0.95099 at 99 of 100.
double fadeInFactor(int32_t noteSamples, int32_t fadeInSamples) noexcept QUILLFERN_NONBLOCKING {
  const auto fraction = static_cast<float>(noteSamples / static_cast<double>(fadeInSamples));
  return static_cast<float>(std::pow(static_cast<double>(fraction), FadeInExponent));
}

void renderFrames(EngineState& state, float* output,
                  unsigned long frames) noexcept QUILLFERN_NONBLOCKING {
  ModelTrace untraced;
  renderFramesTraced(state, output, frames, untraced);
}

// The one render loop, traced or not: with a second one the oscillator and the envelope would
// have two callers, and the compiler would no longer inline them into the loop, at a tenth of a
// sample's cost. Not tracing costs one test of a register a sample.
void renderFramesTraced(EngineState& state, float* output, unsigned long frames,
                        ModelTrace& trace) noexcept QUILLFERN_NONBLOCKING {
  ModelVariables model = modelVariablesOf(state);
  float* const points = trace.points;
  const uint32_t mask = trace.mask;
  const int32_t stride = trace.stride;
  uint32_t written = trace.written;
  int32_t countdown = trace.countdown;
  for (unsigned long frame = 0; frame < frames; ++frame) {
    output[frame] = renderFrame(state, model);
    if (points == nullptr || --countdown > 0) continue;
    countdown = stride;
    float* const point = points + 2 * static_cast<std::size_t>(written++ & mask);
    std::atomic_ref<float>(point[0]).store(model.x, std::memory_order_relaxed);
    std::atomic_ref<float>(point[1]).store(model.z, std::memory_order_relaxed);
  }
  storeModelVariables(state, model);
  trace.written = written;
  trace.countdown = countdown;
}
