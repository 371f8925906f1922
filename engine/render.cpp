// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/render.h"

#include <atomic>
#include <cmath>
#include <cstddef>

#include "engine/envelope.h"
#include "engine/oscillator.h"

namespace {

constexpr float FadeInExponent = 5.0f;

// Inlined into the one render loop: the compiler would otherwise keep it a function of its own,
// and a call per sample costs a tenth of the sample.
// `fadeLeft` counts the samples of a note still fading out beside a note started at once: a
// test of a register a sample while none fades.
[[gnu::always_inline]] inline float renderFrame(EngineState& state, ModelVariables& model,
                                                const ModelParameters& parameters,
                                                float& modelOutput, int32_t& fadeLeft) noexcept {
  envelopeStep(state, model, state.noteSamples);
  const int32_t noteSamples = state.noteSamples;
  modelOutput = oscillatorStep(state, model, parameters);
  double sample = modelOutput * state.envelopeLevel * state.instrument.velocityGain;
  const int32_t fadeInSamples = state.fadeInSamples;
  if (noteSamples < fadeInSamples) sample = fadeInFactor(noteSamples, fadeInSamples) * sample;
  if (fadeLeft > 0) [[unlikely]] {
    sample += fadingSample(state, parameters);
    --fadeLeft;
  }
  state.noteSamples = noteSamples + 1;
  if (!state.instrument.settings.dcFilter) return static_cast<float>(sample);
  return static_cast<float>(filterDc(state.instrument.dcFilter, static_cast<float>(sample)));
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
  ModelTrace untraced;
  renderFramesTraced(state, output, frames, untraced);
}

// The one render loop, traced or not: with a second one the oscillator and the envelope would
// have two callers, and the compiler would no longer inline them into the loop, at a tenth of a
// sample's cost. Not tracing costs one test of a register a sample.
void renderFramesTraced(EngineState& state, float* output, unsigned long frames,
                        ModelTrace& trace) noexcept QUILLFERN_NONBLOCKING {
  unsigned long frame =
      awaitsFirstNote(state) ? renderSilenceBeforeFirstNote(state, output, frames) : 0;
  if (startsNoteAtOnce(state)) [[unlikely]]
    startNoteAtOnce(state);
  ModelVariables model = modelVariablesOf(state);
  const ModelParameters parameters = modelParametersOf(state);
  float modelOutput = state.lastOutput;
  float* const points = trace.points;
  const uint32_t mask = trace.mask;
  const int32_t stride = trace.stride;
  uint32_t written = trace.written;
  int32_t countdown = trace.countdown;
  int32_t fadeLeft = state.fading.remaining;
  for (; frame < frames; ++frame) {
    output[frame] = renderFrame(state, model, parameters, modelOutput, fadeLeft);
    if (points == nullptr || --countdown > 0) continue;
    countdown = stride;
    float* const point = points + 2 * static_cast<std::size_t>(written++ & mask);
    std::atomic_ref<float>(point[0]).store(model.x, std::memory_order_relaxed);
    std::atomic_ref<float>(point[1]).store(model.z, std::memory_order_relaxed);
  }
  storeModelVariables(state, model);
  state.lastOutput = modelOutput;
  state.instrument.heardGain = state.instrument.velocityGain;
  trace.written = written;
  trace.countdown = countdown;
}
