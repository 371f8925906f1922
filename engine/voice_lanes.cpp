// SPDX-License-Identifier: GPL-3.0-or-later
// This file's lanes are GCC's vector types of 32 bytes, which a build for plain x86-64 passes
// differently from an AVX one: they never leave its inlined functions, so the
// difference the compiler warns of never meets another translation unit.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

#include "engine/voice_lanes.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "engine/dc_filter.h"
#include "engine/oscillator.h"

namespace {

// Voices a register holds: four doubles in one AVX register, or in two SSE2 registers side by
// side where there is no AVX; the step needs double precision.
constexpr int32_t LaneCount = 4;
constexpr int32_t MostGroups = MostVoicesSummed / LaneCount;
static_assert(MostVoicesSummed % LaneCount == 0, "whole groups");
// Frames rendered between the voices' records: every voice's samples fit on the stack.
constexpr unsigned long ChunkFrames = 64;
// A row of samples for each voice, and for the lanes that pad the last group.
constexpr int32_t Rows = MostVoicesSummed + LaneCount - 1;
// Fewer voices holding their sustain together step faster one after another.
constexpr int32_t FewestLaned = 2;

using Lanes = double __attribute__((vector_size(LaneCount * sizeof(double))));
using FloatLanes = float __attribute__((vector_size(LaneCount * sizeof(float))));
using LaneMask = int64_t __attribute__((vector_size(LaneCount * sizeof(int64_t))));

using LaneValues = std::array<double, MostVoicesSummed>;

// What the lanes step: a lane for each voice, in groups of LaneCount, the last group padded
// with lanes at rest (step 0 from 0: they stay 0, bounded and silent).
struct LanedVoices {
  LaneValues x, y, z, step, a, b, i, r, s, volume, level, gain;
  LaneValues knee, bound, coefficient, lastInput, lastOutput;
  std::array<float, MostVoicesSummed> modelOutput;
  int32_t groups;
};

[[gnu::always_inline]] inline Lanes lanesOf(const LaneValues& values, int32_t group) noexcept {
  Lanes lanes;
  std::memcpy(&lanes, values.data() + group * LaneCount, sizeof lanes);
  return lanes;
}

[[gnu::always_inline]] inline void storeLanes(LaneValues& values, int32_t group,
                                              const Lanes& lanes) noexcept {
  std::memcpy(values.data() + group * LaneCount, &lanes, sizeof lanes);
}

// Each lane rounded to a float, as a double. Converted back element by element, which GCC makes
// one instruction with AVX, where converting the vector whole would take it apart in halves.
[[gnu::always_inline]] inline Lanes roundedToFloats(const Lanes& lanes) noexcept {
  const FloatLanes rounded = __builtin_convertvector(lanes, FloatLanes);
  return Lanes{rounded[0], rounded[1], rounded[2], rounded[3]};
}

[[gnu::always_inline]] inline bool everyLane(const LaneMask& mask) noexcept {
  int64_t all = -1;
  for (int32_t lane = 0; lane < LaneCount; ++lane) all &= mask[lane];
  return all != 0;
}

// -bound <= value <= bound, false for NaN: within, as `fabs(value) <= bound` is.
[[gnu::always_inline]] inline LaneMask withinLanes(const Lanes& value,
                                                   const Lanes& bound) noexcept {
  return (value <= bound) & (value >= -bound);
}

// filterDc in every lane.
[[gnu::always_inline]] inline Lanes filterLanes(const Lanes& sample, const Lanes& coefficient,
                                                Lanes& lastInput, Lanes& lastOutput) noexcept {
  const Lanes output = coefficient * (lastOutput + sample - lastInput);
  const LaneMask heard = (output > DcFilterSilence) | (output < -DcFilterSilence);
  lastOutput = heard ? output : Lanes{};
  lastInput = sample;
  return lastOutput;
}

// The filtered lanes of a group past their knee, bent as a voice alone bends them.
[[gnu::cold, gnu::noinline]] void bendLanes(const LanedVoices& voices, int32_t group,
                                            const double* filtered, float* out) noexcept {
  for (int32_t lane = 0; lane < LaneCount; ++lane) {
    const auto index = static_cast<std::size_t>(group * LaneCount + lane);
    if (std::fabs(filtered[lane]) <= voices.knee[index]) continue;
    out[lane] = static_cast<float>(boundedLevel(filtered[lane], voices.bound[index]));
  }
}

// A group's output sample: renderSteady's, lane by lane.
template <bool Filtered>
[[gnu::always_inline]] inline FloatLanes outputLanes(const LanedVoices& voices, int32_t group,
                                                     const Lanes& x, FloatLanes& modelOutput,
                                                     Lanes& lastInput, Lanes& lastOutput) noexcept {
  modelOutput = __builtin_convertvector(x * lanesOf(voices.volume, group), FloatLanes);
  const Lanes heard{modelOutput[0], modelOutput[1], modelOutput[2], modelOutput[3]};
  const Lanes sample = heard * lanesOf(voices.level, group) * lanesOf(voices.gain, group);
  if constexpr (!Filtered) {
    return __builtin_convertvector(sample, FloatLanes);
  } else {
    const Lanes filtered = filterLanes(roundedToFloats(sample), lanesOf(voices.coefficient, group),
                                       lastInput, lastOutput);
    FloatLanes out = __builtin_convertvector(filtered, FloatLanes);
    if (!everyLane(withinLanes(filtered, lanesOf(voices.knee, group)))) [[unlikely]] {
      alignas(sizeof(Lanes)) double values[LaneCount];
      alignas(sizeof(FloatLanes)) float bent[LaneCount];
      std::memcpy(values, &filtered, sizeof values);
      std::memcpy(bent, &out, sizeof bent);
      bendLanes(voices, group, values, bent);
      std::memcpy(&out, bent, sizeof out);
    }
    return out;
  }
}

// Up to `frames` frames of `Groups` groups, each lane's samples in its row of `samples`
// (ChunkFrames long); stops before the first frame where a model runs away, which the voices' own
// way then renders. Returns the frames rendered; `voices` then holds where they left the lanes.
template <int32_t Groups, bool Filtered>
[[gnu::always_inline]] inline unsigned long stepGroups(LanedVoices& voices, float* samples,
                                                       unsigned long frames) noexcept {
  Lanes x[Groups], y[Groups], z[Groups], lastInput[Groups], lastOutput[Groups];
  FloatLanes modelOutput[Groups];
  for (int32_t group = 0; group < Groups; ++group) {
    x[group] = lanesOf(voices.x, group);
    y[group] = lanesOf(voices.y, group);
    z[group] = lanesOf(voices.z, group);
    lastInput[group] = lanesOf(voices.lastInput, group);
    lastOutput[group] = lanesOf(voices.lastOutput, group);
    std::memcpy(&modelOutput[group], voices.modelOutput.data() + group * LaneCount,
                sizeof(FloatLanes));
  }
  const Lanes runAwayBound = Lanes{} + RunAwayBound;
  unsigned long frame = 0;
  for (; frame < frames; ++frame) {
    Lanes nextX[Groups], nextY[Groups], nextZ[Groups];
    LaneMask bounded = ~LaneMask{};
#pragma GCC unroll 4
    for (int32_t group = 0; group < Groups; ++group) {
      nextX[group] = x[group];
      nextY[group] = y[group];
      nextZ[group] = z[group];
      eulerStepOf(nextX[group], nextY[group], nextZ[group], lanesOf(voices.step, group),
                  lanesOf(voices.a, group), lanesOf(voices.b, group), lanesOf(voices.i, group),
                  lanesOf(voices.r, group), lanesOf(voices.s, group),
                  [](const Lanes& lanes) { return roundedToFloats(lanes); });
      bounded &= withinLanes(nextX[group], runAwayBound);
    }
    if (!everyLane(bounded)) [[unlikely]]
      break;
#pragma GCC unroll 4
    for (int32_t group = 0; group < Groups; ++group) {
      x[group] = nextX[group];
      y[group] = nextY[group];
      z[group] = nextZ[group];
      const FloatLanes out = outputLanes<Filtered>(voices, group, x[group], modelOutput[group],
                                                   lastInput[group], lastOutput[group]);
      for (int32_t lane = 0; lane < LaneCount; ++lane) {
        samples[(group * LaneCount + lane) * ChunkFrames + frame] = out[lane];
      }
    }
  }
  for (int32_t group = 0; group < Groups; ++group) {
    storeLanes(voices.x, group, x[group]);
    storeLanes(voices.y, group, y[group]);
    storeLanes(voices.z, group, z[group]);
    storeLanes(voices.lastInput, group, lastInput[group]);
    storeLanes(voices.lastOutput, group, lastOutput[group]);
    std::memcpy(voices.modelOutput.data() + group * LaneCount, &modelOutput[group],
                sizeof(FloatLanes));
  }
  return frame;
}

template <bool Filtered>
[[gnu::always_inline]] inline unsigned long stepLanes(LanedVoices& voices, float* samples,
                                                      unsigned long frames) noexcept {
  switch (voices.groups) {
    case 1:
      return stepGroups<1, Filtered>(voices, samples, frames);
    case 2:
      return stepGroups<2, Filtered>(voices, samples, frames);
    case 3:
      return stepGroups<3, Filtered>(voices, samples, frames);
    default:
      return stepGroups<MostGroups, Filtered>(voices, samples, frames);
  }
}

// The same arithmetic in AVX's registers where the processor has them, else in SSE2's: IEEE
// operations either way, each rounding as the source says (no contraction into fused
// multiply-adds), so both give the same bits.
// The loader picks the clone by running a chooser before any constructor; built with a
// sanitizer, the chooser calls into the sanitizer's runtime before it is ready, and crashes:
// sanitized builds take the default clone alone, the same arithmetic.
#if defined(__x86_64__) && !defined(QUILLFERN_SANITIZED)
#define QUILLFERN_LANE_TARGETS [[gnu::target_clones("avx2", "default")]]
#else
#define QUILLFERN_LANE_TARGETS
#endif

QUILLFERN_LANE_TARGETS unsigned long renderLanes(LanedVoices& voices, bool filtered, float* samples,
                                                 unsigned long frames) noexcept {
  return filtered ? stepLanes<true>(voices, samples, frames)
                  : stepLanes<false>(voices, samples, frames);
}

// A voice's lane, from the record and what its steady stretch decided.
void fillLane(LanedVoices& voices, std::size_t lane, const EngineState& state,
              const SteadyNote& note) noexcept {
  voices.x[lane] = state.x;
  voices.y[lane] = state.y;
  voices.z[lane] = state.z;
  voices.step[lane] = note.step;
  voices.a[lane] = note.parameters.a;
  voices.b[lane] = note.parameters.b;
  voices.i[lane] = note.parameters.i;
  voices.r[lane] = note.parameters.r;
  voices.s[lane] = note.parameters.s;
  voices.volume[lane] = note.parameters.volume;
  voices.level[lane] = note.level;
  voices.gain[lane] = note.gain;
  voices.bound[lane] = note.bound;
  voices.knee[lane] = note.bound * (LevelKnee / LevelBound);  // as outputSample computes it
  const DcFilter& filter = state.instrument.dcFilter;
  voices.coefficient[lane] = filter.coefficient;
  voices.lastInput[lane] = filter.lastInput;
  voices.lastOutput[lane] = filter.lastOutput;
  voices.modelOutput[lane] = state.lastOutput;
}

// A lane that pads the last group: at rest at 0 (see LanedVoices).
void restLane(LanedVoices& voices, std::size_t lane) noexcept {
  for (LaneValues* values :
       {&voices.x, &voices.y, &voices.z, &voices.step, &voices.a, &voices.b, &voices.i, &voices.r,
        &voices.s, &voices.volume, &voices.level, &voices.gain, &voices.knee, &voices.bound,
        &voices.coefficient, &voices.lastInput, &voices.lastOutput}) {
    (*values)[lane] = 0.0;
  }
  voices.modelOutput[lane] = 0.0f;
}

// The record of the voice in `lane` after `rendered` frames of lanes.
void endLane(EngineState& state, const LanedVoices& voices, std::size_t lane,
             unsigned long rendered) noexcept {
  SteadyNote note;
  note.step = voices.step[lane];
  note.level = voices.level[lane];
  note.gain = voices.gain[lane];
  SteadySound sound{{static_cast<float>(voices.x[lane]), static_cast<float>(voices.y[lane]),
                     static_cast<float>(voices.z[lane])},
                    voices.modelOutput[lane],
                    state.instrument.dcFilter};
  sound.filter.lastInput = voices.lastInput[lane];
  sound.filter.lastOutput = voices.lastOutput[lane];
  endSteadyNote(state, note, sound, rendered);
}

// Frames `from` to `to` of a voice rendered its own way into its row.
void renderRow(EngineState& state, float* row, unsigned long from, unsigned long to,
               ModelTrace* trace) noexcept {
  if (trace != nullptr) {
    renderFramesTraced(state, row + from, to - from, *trace);
  } else {
    renderFrames(state, row + from, to - from);
  }
}

// One chunk of the sum: the voices holding their sustain in lanes (those whose filter is as the
// first one's is, and only if there are enough of them), every other voice its own way.
void renderChunk(EngineState* const* voices, int32_t count, float* output, unsigned long frames,
                 int32_t traced, ModelTrace* trace) noexcept {
  alignas(sizeof(Lanes)) float samples[Rows * ChunkFrames];
  LanedVoices laned;
  std::array<int32_t, MostVoicesSummed> rowOf{};
  std::array<int32_t, MostVoicesSummed> lanedVoice{};
  int32_t lanes = 0;
  bool filtered = false;
  for (int32_t index = 0; index < count; ++index) {
    if (index == traced) continue;
    const SteadyNote note = steadyNoteOf(*voices[index], frames);
    if (note.frames != frames || note.parked || (lanes > 0 && note.filtered != filtered)) {
      continue;  // its own way: a parked model costs nothing to step
    }
    filtered = note.filtered;
    lanedVoice[static_cast<std::size_t>(lanes)] = index;
    fillLane(laned, static_cast<std::size_t>(lanes), *voices[index], note);
    rowOf[static_cast<std::size_t>(index)] = lanes++;
  }
  if (lanes < FewestLaned) lanes = 0;
  laned.groups = (lanes + LaneCount - 1) / LaneCount;
  for (int32_t lane = lanes; lane < laned.groups * LaneCount; ++lane) {
    restLane(laned, static_cast<std::size_t>(lane));
  }
  const unsigned long stepped = lanes > 0 ? renderLanes(laned, filtered, samples, frames) : 0;
  for (int32_t lane = 0; lane < lanes; ++lane) {
    const auto at = static_cast<std::size_t>(lane);
    EngineState& state = *voices[lanedVoice[at]];
    if (stepped > 0) endLane(state, laned, at, stepped);
    if (stepped < frames) renderRow(state, samples + lane * ChunkFrames, stepped, frames, nullptr);
  }
  // Every other voice in a row after the lanes'.
  int32_t row = laned.groups * LaneCount;
  for (int32_t index = 0, lane = 0; index < count; ++index) {
    if (lane < lanes && lanedVoice[static_cast<std::size_t>(lane)] == index) {
      ++lane;
      continue;
    }
    rowOf[static_cast<std::size_t>(index)] = row;
    renderRow(*voices[index], samples + row++ * ChunkFrames, 0, frames,
              index == traced ? trace : nullptr);
  }
  std::fill_n(output, frames, 0.0f);
  for (int32_t index = 0; index < count; ++index) {
    const float* const samplesOf = samples + rowOf[static_cast<std::size_t>(index)] * ChunkFrames;
    for (unsigned long frame = 0; frame < frames; ++frame) output[frame] += samplesOf[frame];
  }
}

}  // namespace

void renderVoiceSum(EngineState* const* voices, int32_t count, float* output, unsigned long frames,
                    int32_t traced, ModelTrace* trace) noexcept QUILLFERN_NONBLOCKING {
  for (unsigned long done = 0; done < frames; done += ChunkFrames) {
    renderChunk(voices, count, output + done, std::min(ChunkFrames, frames - done), traced, trace);
  }
}
