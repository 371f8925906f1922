// SPDX-License-Identifier: GPL-3.0-or-later
// The window's own memory of the model's course: the last 2.7 s of (x, z) points at up to 48000
// points a second, filled from whatever reaches the window (the CLAP ring, LV2's atom messages).
// The window's thread only.
#pragma once

#include <cstdint>
#include <vector>

struct ScopeHistory {
  static constexpr uint32_t Capacity = 1u << 17;
  std::vector<float> x = std::vector<float>(Capacity);
  std::vector<float> z = std::vector<float>(Capacity);
  uint32_t written = 0;    // points appended, wrapping
  uint32_t stored = 0;     // points held: at most Capacity
  double pointRate = 0.0;  // points a second; 0 until the plugin has said
};

// All the history holds at the highest point rate, in seconds.
inline constexpr double HistorySeconds = ScopeHistory::Capacity / 48000.0;

// Forgets every point when the rate changes (another sample rate), then keeps `pointRate` (0 for
// one no trace has).
void setPointRate(ScopeHistory& history, double pointRate);

// Appends `count` points given as x, z pairs.
void appendPoints(ScopeHistory& history, const float* pairs, uint32_t count);

// The last `seconds` of x and z, oldest first (fewer points when less is known).
void latestPoints(const ScopeHistory& history, double seconds, std::vector<float>& x,
                  std::vector<float>& z);
