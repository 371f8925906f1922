// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/render.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>

#include "engine/envelope.h"
#include "engine/instrument.h"
#include "engine/oscillator.h"

namespace {

constexpr float FadeInExponent = 5.0f;

// GCC's vectorizer would pack x, y and z into one register and unpack them on every sample, in
// the way of the step; clang keeps them apart by itself.
#if defined(__clang__)
#define QUILLFERN_MODEL_IN_SCALARS
#else
#define QUILLFERN_MODEL_IN_SCALARS [[gnu::optimize("no-tree-slp-vectorize")]]
#endif

// A sample at its level as the output has it: through the DC filter when it is on (`filter` is
// the block's copy of it, kept in registers), and then within `bound`, which the filter's
// overshoot could pass. Unfiltered, a note alone is within it already.
[[gnu::always_inline]] inline float outputSample(double sample, bool filtered, DcFilter& filter,
                                                 double bound) noexcept {
  if (!filtered) return static_cast<float>(sample);
  const double output = filterDc(filter, static_cast<float>(sample));
  if (std::fabs(output) <= bound * (LevelKnee / LevelBound)) [[likely]]
    return static_cast<float>(output);
  return static_cast<float>(boundedLevel(output, bound));
}

double levelBoundOf(const ModelParameters& parameters) noexcept {
  return LevelBound * parameters.volume;
}

// Inlined into the one render loop: the compiler would otherwise keep it a function of its own,
// and a call per sample costs a tenth of the sample.
// `fadeLeft` counts the samples of a note still fading out beside a note started at once: a
// test of a register a sample while none fades. `filter` is the block's copy of the DC filter.
[[gnu::always_inline]] inline float renderFrame(EngineState& state, ModelVariables& model,
                                                const ModelParameters& parameters,
                                                float& modelOutput, int32_t& fadeLeft,
                                                DcFilter& filter) noexcept {
  envelopeStep(state, model, state.noteSamples);
  const int32_t noteSamples = state.noteSamples;
  modelOutput = oscillatorStep(state, model, parameters);
  double sample = modelOutput * state.envelopeLevel * state.instrument.velocityGain;
  const int32_t fadeInSamples = state.fadeInSamples;
  if (noteSamples < fadeInSamples) sample = fadeInFactor(noteSamples, fadeInSamples) * sample;
  const double bound = levelBoundOf(parameters);
  if (fadeLeft > 0) [[unlikely]] {
    sample = boundedLevel(sample + fadingSample(state, parameters), bound);
    --fadeLeft;
  }
  state.noteSamples = noteSamples + 1;
  return outputSample(sample, state.instrument.settings.dcFilter, filter, bound);
}

constexpr auto relaxed = std::memory_order_relaxed;

bool awaitsFirstNote(const EngineState& state) noexcept {
  return !(state.noteFrequency.load(relaxed) > 0.0);
}

bool gateIsClosed(const EngineState& state) noexcept {
  return state.gate.load(relaxed) == 0;
}

// Nothing the model does can reach the output until the gate opens: before the first note, and
// once the release has come down to 0 with the gate closed and no note fading out beside it,
// since the next note's handover fades out from level 0 and its attack starts the model afresh.
// In Key mode, only once the cycle followed has come to rest as well (its measure goes on
// sample by sample whatever sounds).
bool restsUntilNextNote(const EngineState& state) noexcept {
  if (state.instrument.settings.keyedPitch &&
      cycleIsMoving(state.instrument.keyed, blockParametersOf(state))) {
    return false;
  }
  return awaitsFirstNote(state) ||
         (gateIsClosed(state) && state.envelopeLevel == 0.0 &&
          state.noteSamples >= releaseSilentFrom(state) && state.fading.remaining == 0);
}

// The frames from the start of `frames` that sound before such a rest: with the gate closed, up
// to and including the release's first sample at level 0 (all of them while a note fades out).
unsigned long framesBeforeRest(const EngineState& state, unsigned long frames) noexcept {
  if (!gateIsClosed(state) || state.fading.remaining > 0) return frames;
  const double untilRest = std::ceil(releaseSilentFrom(state)) - state.noteSamples + 1.0;
  if (!(untilRest < static_cast<double>(frames))) return frames;  // NaN too
  return untilRest > 1.0 ? static_cast<unsigned long>(untilRest) : 1;
}

// `frames` samples counted while the voice rests, as envelopeStep's guard would count them: past
// NoteSamplesLimit the count starts again from 0 and the release's level is forgotten.
void countRestingSamples(EngineState& state, unsigned long frames) noexcept {
  const int64_t beforeGuard = int64_t{NoteSamplesLimit} + 1 - state.noteSamples;
  const auto counted = static_cast<int64_t>(frames);
  if (counted <= beforeGuard) {
    state.noteSamples = static_cast<int32_t>(state.noteSamples + counted);
    return;
  }
  state.noteSamples = static_cast<int32_t>(counted - beforeGuard);
  state.lastGateLevel = 0.0;
}

// While the voice rests and its gate stays closed, the model is not stepped: each frame is the
// silence renderFrame would give (0.0, never -0.0) or, with the DC filter on, the filter's
// decay until it comes to rest. Only the count of samples goes on. Returns the frames rendered:
// none unless the voice rests.
unsigned long renderRest(EngineState& state, float* output, unsigned long frames) noexcept {
  if (!restsUntilNextNote(state)) return 0;
  DcFilter& filter = state.instrument.dcFilter;
  bool decaying =
      state.instrument.settings.dcFilter && (filter.lastOutput != 0.0 || filter.lastInput != 0.0);
  unsigned long frame = 0;
  const double bound = levelBoundOf(modelParametersOf(state));
  for (; frame < frames && decaying && gateIsClosed(state); ++frame) {
    output[frame] = static_cast<float>(boundedLevel(filterDc(filter, 0.0), bound));
    decaying = filter.lastOutput != 0.0;
  }
  // The gate is looked at every few frames, so that the silence is written as a block of
  // zeros: only the standalone program's MIDI thread opens it while a block renders, at a
  // moment no closer to one frame than to another.
  constexpr unsigned long FramesBetweenLooks = 16;
  while (frame < frames && gateIsClosed(state)) {
    const unsigned long stretch = std::min(FramesBetweenLooks, frames - frame);
    std::fill_n(output + frame, stretch, 0.0f);
    frame += stretch;
  }
  countRestingSamples(state, frame);
  state.envelopeLevel = 0.0;
  state.handoverLevel = 0.0;
  return frame;
}

// The one loop that steps the model through the oscillator and the envelope, traced or not
// (a steady sustain takes renderSteady's way): with a second one they would have two callers, and
// the compiler would no longer inline them into the loop, at a tenth of a sample's cost. Not
// tracing costs one test of a register a sample. The DC filter's state stays in registers through
// the block, as the model's variables do: kept in the record, each sample's filter would wait for
// the last one's stores to come back from memory.
unsigned long renderSound(EngineState& state, float* output, unsigned long frames,
                          ModelTrace& trace) noexcept {
  ModelVariables model = modelVariablesOf(state);
  const ModelParameters parameters = blockParametersOf(state);
  float modelOutput = state.lastOutput;
  float* const points = trace.points;
  const uint32_t mask = trace.mask;
  const int32_t stride = trace.stride;
  uint32_t written = trace.written;
  int32_t countdown = trace.countdown;
  int32_t fadeLeft = state.fading.remaining;
  DcFilter filter = state.instrument.dcFilter;
  for (unsigned long frame = 0; frame < frames; ++frame) {
    output[frame] = renderFrame(state, model, parameters, modelOutput, fadeLeft, filter);
    if (points == nullptr || --countdown > 0) continue;
    countdown = stride;
    float* const point = points + 2 * static_cast<std::size_t>(written++ & mask);
    std::atomic_ref<float>(point[0]).store(model.x, std::memory_order_relaxed);
    std::atomic_ref<float>(point[1]).store(model.z, std::memory_order_relaxed);
  }
  storeModelVariables(state, model);
  state.instrument.dcFilter = filter;
  state.lastOutput = modelOutput;
  state.instrument.heardGain = state.instrument.velocityGain;
  trace.written = written;
  trace.countdown = countdown;
  return frames;
}

// Where a note's level and step size hold still: its sustain, past its handover, attack, decay
// and fade-in, at a steady `step` (no glide under way, one Euler step a sample), with no note
// fading beside it, the model bounded and no trace taken. Most of a played note's samples are
// here. Returns how many of `frames` may be rendered that way, 0 when none.
unsigned long steadyFrames(const EngineState& state, double step, unsigned long frames) noexcept {
  const int32_t n = state.noteSamples;
  const Instrument& instrument = state.instrument;
  const bool steadyEnvelope = state.handoverSamples > state.handoverLimit && n > state.attackEnd &&
                              n > state.decayEnd && n >= state.fadeInSamples &&
                              state.fading.remaining == 0 &&
                              state.oscillatorReset.load(relaxed) != 0;
  // A glide comes to rest where its next point is the one it has reached: at the target, or a
  // rounding away from it where the slide's last step rounds to nothing.
  const bool gliding = instrument.glideKeep != 0.0 && instrument.glideStep != 0.0;
  const bool steadyStep = (!gliding || instrument.glideStep == step) &&
                          (!instrument.settings.stableSteps || subStepsFor(step) == 1);
  if (!steadyEnvelope || !steadyStep || instrument.settings.keyedPitch) {
    return 0;
  }
  // envelopeStep's guard starts the count again past NoteSamplesLimit: that sample goes the
  // general way.
  const auto beforeGuard = static_cast<unsigned long>(NoteSamplesLimit - n) + 1;
  return std::min(frames, beforeGuard);
}

}  // namespace

SteadyNote steadyNoteOf(EngineState& state, unsigned long frames) noexcept QUILLFERN_NONBLOCKING {
  SteadyNote note;
  // The gate and the note are looked at before every sample, the first one too.
  note.frequency = state.noteFrequency.load(relaxed);
  if (!(note.frequency > 0.0)) return note;
  note.step =
      glidedStep(state.instrument, timeStepOf(state, note.frequency) * state.instrument.stepFactor);
  note.frames = steadyFrames(state, note.step, frames);
  if (note.frames == 0) return note;
  note.parked = hasRunAway(state.x);
  note.parameters = blockParametersOf(state);
  note.level = state.sustainLevel;
  note.gain = state.instrument.velocityGain;
  note.filtered = state.instrument.settings.dcFilter;
  note.bound = levelBoundOf(note.parameters);
  return note;
}

void endSteadyNote(EngineState& state, const SteadyNote& note, const SteadySound& sound,
                   unsigned long rendered) noexcept QUILLFERN_NONBLOCKING {
  state.x = sound.model.x;
  state.y = sound.model.y;
  state.z = sound.model.z;
  state.lastOutput = sound.modelOutput;
  state.instrument.dcFilter = sound.filter;
  state.instrument.glideStep = note.step;
  state.instrument.heardGain = note.gain;
  state.envelopeLevel = note.level;
  state.lastGateLevel = note.level;
  state.lastGateSample =
      static_cast<int32_t>(state.noteSamples + static_cast<int32_t>(rendered) - 1);
  state.noteSamples = state.lastGateSample + 1;
}

namespace {

// The note the steady way began with still sounds as it did: checked before every sample, as
// the standalone program's MIDI thread may end it or play another while a block renders.
bool holdsNote(const EngineState& state, const SteadyNote& note) noexcept {
  return !gateIsClosed(state) && state.envelopeReady.load(relaxed) != 0 &&
         state.noteFrequency.load(relaxed) == note.frequency;
}

// A held note whose model has run away: each step would leave it at NaN and silent, so none is
// taken, and what sounds is silence through the filter.
[[gnu::noinline]] unsigned long renderParked(EngineState& state, const SteadyNote& note,
                                             float* output) noexcept {
  DcFilter filter = state.instrument.dcFilter;
  constexpr float silence = 0.0f;
  unsigned long frame = 0;
  for (; frame < note.frames && holdsNote(state, note); ++frame) {
    output[frame] =
        outputSample(silence * note.level * note.gain, note.filtered, filter, note.bound);
  }
  if (frame == 0) return 0;
  endSteadyNote(state, note, {{RunAwayState, RunAwayState, RunAwayState}, silence, filter}, frame);
  return frame;
}

// The steady part of a held note, the frames renderFrame would give with everything it decides
// on every sample decided once: the model's step, the sustain level, the velocity's gain and
// the filter. A sample goes the general way instead where the gate closes, a new note begins or
// the pitch moves (in the standalone program the MIDI thread does that while a block renders),
// or where the model runs away. Kept out of the general loop's function, so that each loop has
// the registers to itself. Returns the frames rendered.
[[gnu::noinline]] QUILLFERN_MODEL_IN_SCALARS unsigned long renderSteady(
    EngineState& state, float* output, unsigned long frames) noexcept {
  const SteadyNote note = steadyNoteOf(state, frames);
  if (note.frames == 0) return 0;
  if (note.parked) [[unlikely]]
    return renderParked(state, note, output);
  const ModelParameters parameters = note.parameters;
  const double step = note.step;
  const double level = note.level;
  const double gain = note.gain;
  const bool filtered = note.filtered;
  const double bound = note.bound;
  DcFilter filter = state.instrument.dcFilter;
  // x, y and z each in a register of its own (see QUILLFERN_MODEL_IN_SCALARS).
  float x = state.x;
  float y = state.y;
  float z = state.z;
  float modelOutput = state.lastOutput;
  unsigned long frame = 0;
  for (; frame < note.frames; ++frame) {
    if (!holdsNote(state, note)) break;
    ModelVariables next{x, y, z};
    eulerSteps(next, step, 1, parameters.a, parameters.b, parameters.i, parameters.r, parameters.s);
    if (hasRunAway(next.x)) [[unlikely]]
      break;
    x = next.x;
    y = next.y;
    z = next.z;
    modelOutput = static_cast<float>(static_cast<double>(x) * parameters.volume);
    output[frame] = outputSample(modelOutput * level * gain, filtered, filter, bound);
  }
  if (frame == 0) return 0;
  endSteadyNote(state, note, {{x, y, z}, modelOutput, filter}, frame);
  return frame;
}

// Every other frame: a note's start, handover, attack, decay and release, a glide, sub-steps,
// a fading note, a trace, and the rests between notes.
[[gnu::noinline]] void renderChanging(EngineState& state, float* output, unsigned long frames,
                                      ModelTrace& trace) noexcept {
  if (startsNoteAtOnce(state)) [[unlikely]]
    startNoteAtOnce(state);
  unsigned long frame = 0;
  while (frame < frames) {
    frame += renderRest(state, output + frame, frames - frame);
    if (frame == frames) break;
    frame += renderSound(state, output + frame, framesBeforeRest(state, frames - frame), trace);
  }
}

}  // namespace

double boundedLevel(double sample, double bound) noexcept QUILLFERN_NONBLOCKING {
  const double knee = bound * (LevelKnee / LevelBound);
  const double magnitude = std::fabs(sample);
  if (!(magnitude > knee)) return sample;
  // tanh bends with the slope of 1 at the knee, so the level has no corner there. The float a
  // sample becomes may round up by half a float's last place: the curve stops short of that.
  constexpr double FloatRounding = 0x1p-23;
  const double room = bound - knee;
  const double bent = knee + room * std::tanh((magnitude - knee) / room);
  return std::copysign(std::min(bent, bound * (1.0 - FloatRounding)), sample);
}

// 0 at the note's first sample, 0.03125 halfway, 0.95099 at 99 of 100.
double fadeInFactor(int32_t noteSamples, int32_t fadeInSamples) noexcept QUILLFERN_NONBLOCKING {
  const auto fraction = static_cast<float>(noteSamples / static_cast<double>(fadeInSamples));
  return static_cast<float>(std::pow(static_cast<double>(fraction), FadeInExponent));
}

bool restsSilently(const EngineState& state) noexcept QUILLFERN_NONBLOCKING {
  const DcFilter& filter = state.instrument.dcFilter;
  const bool filterRests =
      !state.instrument.settings.dcFilter || (filter.lastOutput == 0.0 && filter.lastInput == 0.0);
  return filterRests && restsUntilNextNote(state);
}

void renderFrames(EngineState& state, float* output,
                  unsigned long frames) noexcept QUILLFERN_NONBLOCKING {
  const unsigned long steady = renderSteady(state, output, frames);
  if (steady == frames) return;
  ModelTrace untraced;
  renderChanging(state, output + steady, frames - steady, untraced);
}

// A block may hold a rest and sound in turn: a release that ends in it, and in the standalone
// program a note-on from the MIDI thread while it renders.
void renderFramesTraced(EngineState& state, float* output, unsigned long frames,
                        ModelTrace& trace) noexcept QUILLFERN_NONBLOCKING {
  if (trace.points == nullptr) return renderFrames(state, output, frames);
  renderChanging(state, output, frames, trace);
}
