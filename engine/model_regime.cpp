// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/model_regime.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace {

// x moving less than this is a model at rest (or fading towards it), whatever it does.
constexpr float RestingRange = 0.2f;
// A spike is a peak of x that stands out from the troughs on both sides by this fraction of
// x's range: the spikes within a burst dip only part of the way back, and ripples on a slow
// stretch are no spikes.
constexpr float SpikeProminence = 0.2f;
// Regular spiking: the longest interval between spikes at most this times the shortest.
constexpr double RegularSpread = 1.3;
// Regular bursts: the pauses between them alike within this ratio too.
constexpr double PauseSpread = 1.3;
constexpr int32_t FewestSpikes = 3;
constexpr std::size_t BurstsJudged = 4;

bool ranAway(float x) {
  return !(std::fabs(x) <= RunAwayLevel);
}

std::vector<std::size_t> spikeTimes(std::span<const float> x) {
  const auto [low, high] = std::minmax_element(x.begin(), x.end());
  std::vector<std::size_t> times;
  if (*high - *low < RestingRange) return times;
  const float prominence = SpikeProminence * (*high - *low);
  // Alternately a trough and then a peak, each confirmed once x has moved `prominence` away.
  bool rising = false;
  float extreme = x.front();
  std::size_t extremeAt = 0;
  for (std::size_t point = 1; point < x.size(); ++point) {
    const float value = x[point];
    if (rising ? value > extreme : value < extreme) {
      extreme = value;
      extremeAt = point;
    } else if (rising ? value < extreme - prominence : value > extreme + prominence) {
      if (rising) times.push_back(extremeAt);
      rising = !rising;
      extreme = value;
      extremeAt = point;
    }
  }
  return times;
}

// Bursts are the runs of spikes between intervals longer than the geometric mean of the
// shortest and the longest; only runs with a pause on both sides are complete. Whether they are
// alike is judged on the latest few: the first bursts of a note may differ while it settles.
void measureBursts(const std::vector<double>& intervals, SpikeMeasures& measures) {
  const double pause = std::sqrt(measures.shortestInterval * measures.longestInterval);
  std::vector<int32_t> counts;
  std::vector<double> pauses;
  int32_t spikesInRun = 1;
  double time = 0.0;
  double firstStart = 0.0;  // of the first burst after a pause
  for (const double interval : intervals) {
    time += interval;
    if (interval <= pause) {
      ++spikesInRun;
      continue;
    }
    if (!pauses.empty()) counts.push_back(spikesInRun);
    if (pauses.empty()) firstStart = time;
    pauses.push_back(interval);
    spikesInRun = 1;
    if (pauses.size() >= 2) measures.burstPeriod = (time - firstStart) / (pauses.size() - 1.0);
  }
  measures.bursts = static_cast<int32_t>(counts.size());
  if (!counts.empty()) measures.spikesPerBurst = counts.back();
  if (counts.size() < 2) return;
  const std::size_t judged = std::min(counts.size(), BurstsJudged);
  const auto latest = counts.end() - static_cast<std::ptrdiff_t>(judged);
  const auto latestPauses = pauses.end() - static_cast<std::ptrdiff_t>(judged + 1);
  const auto [shortestPause, longestPause] = std::minmax_element(latestPauses, pauses.end());
  measures.burstsAlike =
      std::all_of(latest, counts.end(), [&](int32_t count) { return count == counts.back(); }) &&
      *longestPause <= PauseSpread * *shortestPause;
}

}  // namespace

SpikeMeasures measureSpikes(std::span<const float> x) {
  SpikeMeasures measures;
  // Only what followed the latest run-away counts: a new note restarts the model.
  const auto lastRunAway = std::find_if(x.rbegin(), x.rend(), ranAway);
  x = x.last(static_cast<std::size_t>(lastRunAway - x.rbegin()));
  if (x.size() < 2) return measures;
  const std::vector<std::size_t> times = spikeTimes(x);
  measures.spikes = static_cast<int32_t>(times.size());
  if (times.size() < 2) return measures;
  std::vector<double> intervals;
  for (std::size_t spike = 1; spike < times.size(); ++spike) {
    intervals.push_back(static_cast<double>(times[spike] - times[spike - 1]));
  }
  const auto [shortest, longest] = std::minmax_element(intervals.begin(), intervals.end());
  measures.shortestInterval = *shortest;
  measures.longestInterval = *longest;
  measures.meanInterval = static_cast<double>(times.back() - times.front()) / intervals.size();
  measureBursts(intervals, measures);
  return measures;
}

ModelRegime regimeOf(std::span<const float> x) {
  if (x.empty()) return ModelRegime::Silent;
  if (ranAway(x.back())) return ModelRegime::RunAway;
  const SpikeMeasures measures = measureSpikes(x);
  if (measures.spikes < FewestSpikes) return ModelRegime::Silent;
  if (measures.longestInterval <= RegularSpread * measures.shortestInterval) {
    return ModelRegime::Spiking;
  }
  // Bursts too slow for two whole ones to fit in the stretch cannot be told from chaos: the
  // pauses between them say bursting.
  if (measures.bursts < 2) return ModelRegime::Bursting;
  return measures.burstsAlike ? ModelRegime::Bursting : ModelRegime::Chaotic;
}

double heardCyclePoints(ModelRegime regime, const SpikeMeasures& measures) {
  switch (regime) {
    case ModelRegime::Spiking:
    case ModelRegime::Chaotic:
      return measures.meanInterval;
    case ModelRegime::Bursting:
      return measures.burstPeriod;
    case ModelRegime::Silent:
    case ModelRegime::RunAway:
      return 0.0;
  }
  return 0.0;
}

const char* regimeName(ModelRegime regime) {
  switch (regime) {
    case ModelRegime::Silent:
      return "Silent";
    case ModelRegime::Spiking:
      return "Spiking";
    case ModelRegime::Bursting:
      return "Bursting";
    case ModelRegime::Chaotic:
      return "Chaotic";
    case ModelRegime::RunAway:
      return "Run away";
  }
  return "";
}
