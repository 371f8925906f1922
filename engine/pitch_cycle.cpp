// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/pitch_cycle.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/oscillator.h"

namespace {

// The transient after a start or a move dies away with z, at the rate r: two of its time
// constants, within bounds that keep a fast setting's measure short and a slow one's finite.
constexpr double ShortestSettle = 100.0;  // model time units
constexpr double LongestSettle = 2000.0;
// As the regime measure judges x: a range below this is a model at rest, and a spike stands
// out from the troughs on both sides by this share of the range.
constexpr float RestingRange = 0.2f;
constexpr float SpikeProminence = 0.2f;
// A pattern repeats when each of its intervals matches the same one a pattern earlier within
// this share, over three patterns: a transient drifts by more, and the Euler map's own cycle
// keeps its intervals far closer than that (the spike times are read to a hundredth of a step).
constexpr double RepeatTolerance = 1e-4;
// Parts of a pattern this alike are heard as one.
constexpr double AlikeTolerance = 3e-2;
constexpr int32_t PatternsCompared = 3;
// Longer than any repeating pattern of the controls' range takes to show three times: what has
// not repeated by then is chaotic.
constexpr int32_t CollectLimit = 300000;

int32_t settleStepsAt(double r) noexcept {
  const double units = std::clamp(1.0 / r, ShortestSettle, LongestSettle);  // r 0: the longest
  return static_cast<int32_t>(units / KeyStep);
}

// Every measure starts where a note starts, at (0, 0, 0): the cycle is then a function of the
// controls alone, the one a note played at them reaches.
void beginMeasure(CycleProbe& probe) noexcept {
  probe.model = {};
  probe.moved = false;
  probe.chained = false;
  probe.stage = ProbeStage::Settling;
  probe.stageSteps = 0;
  probe.settleSteps = settleStepsAt(probe.controls.r);
  probe.spikes = 0;
}

// The peak's time within its step, from a parabola through it and its two neighbours.
double peakOffset(float before, float peak, float after) noexcept {
  const double curvature = static_cast<double>(before) - 2.0 * peak + after;
  if (!(curvature < 0.0)) return 0.0;
  return std::clamp(0.5 * (static_cast<double>(before) - after) / curvature, -0.5, 0.5);
}

double intervalAt(const CycleProbe& probe, int32_t last) noexcept {
  return probe.spikeTimes[last] - probe.spikeTimes[last - 1];
}

// Each of the latest `compared` intervals matches the one `pattern` intervals before it.
bool repeatsWithin(const CycleProbe& probe, int32_t pattern, int32_t compared,
                   double tolerance) noexcept {
  const int32_t last = probe.spikes - 1;
  for (int32_t back = 0; back < compared; ++back) {
    const double now = intervalAt(probe, last - back);
    const double before = intervalAt(probe, last - back - pattern);
    if (std::fabs(now - before) > tolerance * std::max(now, before)) return false;
  }
  return true;
}

void finish(CycleProbe& probe, CycleKind kind, double steps, int32_t spikesPerCycle) noexcept {
  probe.stage = ProbeStage::Done;
  probe.measure.kind = kind;
  if (steps > 0.0) probe.measure.steps = steps;
  probe.measure.spikesPerCycle = spikesPerCycle;
}

// The cycle of the pattern of `pattern` intervals that ends the spikes kept: its mean over the
// patterns compared.
double patternSteps(const CycleProbe& probe, int32_t pattern) noexcept {
  const int32_t last = probe.spikes - 1;
  const int32_t span = PatternsCompared * pattern;
  return (probe.spikeTimes[last] - probe.spikeTimes[last - span]) / PatternsCompared;
}

// The part of a repeating pattern the ear takes as its period: the shortest run of its
// intervals that the pattern repeats nearly alike (two bursts of a period-doubled cycle differ
// by a fraction of a percent and sound as one burst after the other).
int32_t heardPattern(const CycleProbe& probe, int32_t pattern) noexcept {
  for (int32_t part = 1; part < pattern; ++part) {
    if (pattern % part == 0 && repeatsWithin(probe, part, pattern, AlikeTolerance)) return part;
  }
  return pattern;
}

// After each spike: the shortest pattern of intervals that has repeated three times, if any.
void judgeSpikes(CycleProbe& probe) noexcept {
  const int32_t intervals = probe.spikes - 1;
  for (int32_t pattern = 1; pattern * PatternsCompared <= intervals; ++pattern) {
    const int32_t compared = (PatternsCompared - 1) * pattern;
    if (!repeatsWithin(probe, pattern, compared, RepeatTolerance)) continue;
    const int32_t heard = heardPattern(probe, pattern);
    finish(probe, heard == 1 ? CycleKind::Spiking : CycleKind::Bursting,
           patternSteps(probe, pattern) * heard / pattern, heard);
    return;
  }
}

// No pattern in the time allowed, or no room for more spikes: the mean interval.
void finishChaotic(CycleProbe& probe) noexcept {
  if (probe.spikes < PatternsCompared) return finish(probe, CycleKind::Silent, 0.0, 0);
  const double span = probe.spikeTimes[probe.spikes - 1] - probe.spikeTimes[0];
  finish(probe, CycleKind::Chaotic, span / (probe.spikes - 1), 0);
}

void recordSpike(CycleProbe& probe) noexcept {
  probe.spikeTimes[probe.spikes++] =
      probe.extremeAt + peakOffset(probe.beforeExtreme, probe.extreme, probe.afterExtreme);
  judgeSpikes(probe);
  if (probe.stage == ProbeStage::Done || probe.spikes < ProbeSpikeCapacity) return;
  // Full: the older half goes, a slow transient may still be settling.
  constexpr int32_t Kept = ProbeSpikeCapacity / 2;
  std::copy(probe.spikeTimes + Kept, probe.spikeTimes + ProbeSpikeCapacity, probe.spikeTimes);
  probe.spikes = Kept;
}

// Alternately a trough and then a peak, each confirmed once x has moved `prominence` away.
void collect(CycleProbe& probe, float x) noexcept {
  if (probe.awaitingAfter) {
    probe.afterExtreme = x;
    probe.awaitingAfter = false;
  }
  if (probe.rising ? x > probe.extreme : x < probe.extreme) {
    probe.beforeExtreme = probe.previous;
    probe.extreme = x;
    probe.extremeAt = probe.stageSteps;
    probe.awaitingAfter = true;
  } else if (probe.rising ? x < probe.extreme - probe.prominence
                          : x > probe.extreme + probe.prominence) {
    if (probe.rising) recordSpike(probe);
    probe.rising = !probe.rising;
    probe.extreme = x;
    probe.extremeAt = probe.stageSteps;
  }
  if (probe.stage == ProbeStage::Collecting && probe.stageSteps >= CollectLimit) {
    finishChaotic(probe);
  }
}

void beginCollecting(CycleProbe& probe, float x) noexcept {
  if (probe.high - probe.low < RestingRange) return finish(probe, CycleKind::Silent, 0.0, 0);
  probe.stage = ProbeStage::Collecting;
  probe.stageSteps = 0;
  probe.prominence = SpikeProminence * (probe.high - probe.low);
  probe.rising = false;
  probe.extreme = x;
  probe.extremeAt = 0;
  probe.awaitingAfter = false;
}

// What one step's new x means in the probe's present stage.
void observe(CycleProbe& probe, float x) noexcept {
  switch (probe.stage) {
    case ProbeStage::Settling:
      if (probe.stageSteps < probe.settleSteps / 2) break;
      probe.stage = ProbeStage::Ranging;
      probe.low = x;
      probe.high = x;
      break;
    case ProbeStage::Ranging:
      probe.low = std::min(probe.low, x);
      probe.high = std::max(probe.high, x);
      if (probe.stageSteps >= probe.settleSteps) beginCollecting(probe, x);
      break;
    case ProbeStage::Collecting:
      collect(probe, x);
      break;
    case ProbeStage::Done:
      break;
  }
}

const CycleMeasure* knownMeasureOf(std::span<const KnownCycle> known,
                                   const ModelParameters& controls) noexcept {
  for (const KnownCycle& cycle : known) {
    if (sameControls(cycle.controls, controls)) return &cycle.measure;
  }
  return nullptr;
}

// New controls: their known measure at once, else a measure of them from the start unless one
// is under way, which takes them up.
void takeControls(CycleProbe& probe, const ModelParameters& controls,
                  std::span<const KnownCycle> known) noexcept {
  probe.controls = controls;
  if (const CycleMeasure* measure = knownMeasureOf(known, controls)) {
    probe.moved = false;
    return finish(probe, measure->kind, measure->steps, measure->spikesPerCycle);
  }
  if (probe.stage == ProbeStage::Done) return beginMeasure(probe);
  probe.moved = true;
}

}  // namespace

bool sameControls(const ModelParameters& a,
                  const ModelParameters& b) noexcept QUILLFERN_NONBLOCKING {
  return a.a == b.a && a.b == b.b && a.i == b.i && a.r == b.r && a.s == b.s;
}

void restCycleProbe(CycleProbe& probe) noexcept QUILLFERN_NONBLOCKING {
  probe = CycleProbe{};
  probe.stage = ProbeStage::Done;
  probe.controls.a = std::numeric_limits<double>::quiet_NaN();  // equal to no controls
}

void startCycleProbe(CycleProbe& probe,
                     const ModelParameters& controls) noexcept QUILLFERN_NONBLOCKING {
  probe = CycleProbe{};
  probe.controls = controls;
  beginMeasure(probe);
}

bool probeIsIdle(const CycleProbe& probe,
                 const ModelParameters& controls) noexcept QUILLFERN_NONBLOCKING {
  return probe.stage == ProbeStage::Done && sameControls(probe.controls, controls);
}

bool advanceCycleProbe(CycleProbe& probe, const ModelParameters& controls, int32_t steps,
                       std::span<const KnownCycle> known) noexcept QUILLFERN_NONBLOCKING {
  if (!sameControls(probe.controls, controls)) {
    takeControls(probe, controls, known);
    if (probe.stage == ProbeStage::Done) return true;
  }
  if (probe.stage == ProbeStage::Done) return false;
  const ModelParameters& c = probe.controls;
  for (int32_t step = 0; step < steps; ++step) {
    probe.previous = probe.model.x;
    eulerSteps(probe.model, KeyStep, 1, c.a, c.b, c.i, c.r, c.s);
    if (hasRunAway(probe.model.x)) {
      beginMeasure(probe);
      continue;
    }
    ++probe.stageSteps;
    observe(probe, probe.model.x);
    if (probe.stage != ProbeStage::Done) continue;
    // A measure taken while the controls moved is the latest there is; the next one begins.
    if (probe.moved) {
      beginMeasure(probe);
      probe.chained = true;
    }
    return true;
  }
  return false;
}

CycleMeasure measureCycle(const ModelParameters& controls,
                          int32_t stepLimit) noexcept QUILLFERN_NONBLOCKING {
  CycleProbe probe;
  startCycleProbe(probe, controls);
  constexpr int32_t Chunk = 4096;
  for (int32_t taken = 0; taken < stepLimit && probe.stage != ProbeStage::Done; taken += Chunk) {
    advanceCycleProbe(probe, controls, std::min(Chunk, stepLimit - taken));
  }
  return probe.measure;
}
