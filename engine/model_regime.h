// SPDX-License-Identifier: GPL-3.0-or-later
// What the model does, in words a player knows: silent, spiking, bursting, chaotic or run away,
// judged from a stretch of its membrane potential x. One home for the measures, so that the
// window's display and the tests of settings that should sound a certain way agree.
#pragma once

#include <cstdint>
#include <span>

enum class ModelRegime { Silent, Spiking, Bursting, Chaotic, RunAway };

// A value of x beyond this (or not a number) means the model has left its range for good: a
// model that stays bounded keeps x within about ±2.5, and one that runs away passes 1e7 within
// a few hundred samples. It is the render path's own silence threshold for samples.
inline constexpr float RunAwayLevel = 64.0f;

struct SpikeMeasures {
  int32_t spikes = 0;           // upward crossings of the middle of x's range
  double shortestInterval = 0;  // between two spikes, in points
  double longestInterval = 0;
  int32_t bursts = 0;          // complete groups of spikes between two long pauses
  int32_t spikesPerBurst = 0;  // in the latest complete burst
  bool burstsAlike = false;    // the latest few complete bursts have as many spikes each,
                               // and the pauses between them are about equally long
  double meanInterval = 0;     // between spikes, first to last, in points
  double burstPeriod = 0;      // from a burst's first spike to the next's, in points; 0 under two
};

// The spikes in `x` (oldest first, equally spaced points) and how they group.
SpikeMeasures measureSpikes(std::span<const float> x);

// The regime of the stretch `x`, its last point the model's present.
ModelRegime regimeOf(std::span<const float> x);

// The cycle the ear takes as the period, in points: spike to spike while the model spikes, burst
// to burst while it bursts, the mean interval between spikes while it is chaotic; 0 for none.
double heardCyclePoints(ModelRegime regime, const SpikeMeasures& measures);

// "Silent", "Spiking", "Bursting", "Chaotic", "Run away".
const char* regimeName(ModelRegime regime);
