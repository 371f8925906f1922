// SPDX-License-Identifier: GPL-3.0-or-later
#include "plugins/gui/scope_history.h"

#include <algorithm>
#include <cmath>

#include "instrument/model_trace.h"

void setPointRate(ScopeHistory& history, double pointRate) {
  // A rate no trace has (NaN, infinite, past the highest) says nothing: no points are shown.
  if (!(pointRate > 0.0 && pointRate <= HighestPointRate)) pointRate = 0.0;
  if (pointRate == history.pointRate) return;
  history.pointRate = pointRate;
  history.written = 0;
  history.stored = 0;
}

void appendPoints(ScopeHistory& history, const float* pairs, uint32_t count) {
  for (std::size_t point = 0; point < count; ++point) {
    const uint32_t slot = history.written++ & (ScopeHistory::Capacity - 1);
    history.x[slot] = pairs[2 * point];
    history.z[slot] = pairs[2 * point + 1];
  }
  history.stored =
      std::min(history.stored + std::min(count, ScopeHistory::Capacity), ScopeHistory::Capacity);
}

void latestPoints(const ScopeHistory& history, double seconds, std::vector<float>& x,
                  std::vector<float>& z) {
  const auto wanted = static_cast<uint32_t>(std::lround(seconds * history.pointRate));
  const uint32_t count = std::min(wanted, history.stored);
  x.resize(count);
  z.resize(count);
  const uint32_t first = history.written - count;
  for (uint32_t point = 0; point < count; ++point) {
    const uint32_t slot = (first + point) & (ScopeHistory::Capacity - 1);
    x[point] = history.x[slot];
    z[point] = history.z[slot];
  }
}
