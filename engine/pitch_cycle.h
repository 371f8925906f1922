// SPDX-License-Identifier: GPL-3.0-or-later
// The neuron's own cycle, the period the ear hears: spike to spike while it spikes, burst to
// burst (the whole repeating pattern) while it bursts, the mean interval between spikes while it
// is chaotic. It is measured on a copy of the model, the probe, stepped as the voice steps it in
// Key mode (KeyStep), so the figure holds for the very step the voice takes. Each measure starts
// from a note's start, so it is a function of the controls alone; its work is spread over
// the samples, a fixed number of steps each, so the measure is the same whatever the block size
// and no call pays for a whole measure. Audio thread only.
#pragma once

#include <cstdint>
#include <span>

#include "engine/model_variables.h"
#include "engine/nonblocking.h"

// The Euler step of Key mode, whatever the key and the rate: the window's step at key 57 (a
// period of 200 samples at 44100 Hz), at which the factory bank's regimes were chosen. Larger
// steps change them (Chaos turns periodic at 0.0625, Triplets into doublets at 0.05).
inline constexpr double KeyStep = 0.04f;

// The probe's steps per sample while it measures: about 8 times the held note's own cost at A4,
// which measures a spiking setting in a few milliseconds.
inline constexpr int32_t ProbeStepsPerSample = 8;

// Spike times the probe keeps: enough for three whole bursts of up to ten spikes, and for a
// chaotic setting's mean interval.
inline constexpr int32_t ProbeSpikeCapacity = 128;

enum class CycleKind : int32_t { Unknown, Silent, Spiking, Bursting, Chaotic };

struct CycleMeasure {
  CycleKind kind = CycleKind::Unknown;
  double steps = 0.0;          // the cycle in steps of KeyStep; 0: none measured yet
  int32_t spikesPerCycle = 0;  // 1 spiking, the pattern's spikes bursting, 0 otherwise
};

// A cycle known without measuring: measureCycle's figure for one setting of the controls (the
// volume unused). The instrument hands its voices those of the factory bank and the start-up
// settings, measured when it was built, so that they play in tune from their first sample
// whenever a host sets them.
struct KnownCycle {
  ModelParameters controls;
  CycleMeasure measure;
};

enum class ProbeStage : int32_t { Settling, Ranging, Collecting, Done };

struct CycleProbe {
  ModelVariables model;
  ModelParameters controls;  // what the probe steps with (the volume unused)
  bool moved = false;        // the controls moved since this measure began
  bool chained = false;      // this measure began as one taken while they moved ended
  ProbeStage stage = ProbeStage::Settling;
  int32_t stageSteps = 0;  // steps taken in this stage
  int32_t settleSteps = 0;
  float low = 0.0f;  // x's range while ranging
  float high = 0.0f;
  // The search for alternate troughs and peaks, as the regime measure does it.
  float prominence = 0.0f;
  bool rising = false;
  float extreme = 0.0f;
  int32_t extremeAt = 0;
  float beforeExtreme = 0.0f;  // x a step before and after the extreme, for its fine time
  float afterExtreme = 0.0f;
  float previous = 0.0f;
  bool awaitingAfter = false;
  int32_t spikes = 0;
  double spikeTimes[ProbeSpikeCapacity]{};  // in steps since collecting began
  CycleMeasure measure;                     // the latest complete one
};

// The controls a cycle depends on (a, b, I, r, s) are equal; the volume is not one of them.
bool sameControls(const ModelParameters& a,
                  const ModelParameters& b) noexcept QUILLFERN_NONBLOCKING;

// A probe at rest from the model's start (0, 0, 0) measuring `controls` anew.
void startCycleProbe(CycleProbe& probe,
                     const ModelParameters& controls) noexcept QUILLFERN_NONBLOCKING;

// A probe given no controls yet: the first it is given begin a measure.
void restCycleProbe(CycleProbe& probe) noexcept QUILLFERN_NONBLOCKING;

// `steps` more steps at `controls`; true when a measure completed in them. A measure done stays
// so until the controls move; then another begins, from the model's start whatever came
// before, or none at all when `known` holds the new controls: their measure is complete at
// once. Controls that move during a measure are taken up by it, and the next measure begins
// (chained) as it ends.
bool advanceCycleProbe(CycleProbe& probe, const ModelParameters& controls, int32_t steps,
                       std::span<const KnownCycle> known = {}) noexcept QUILLFERN_NONBLOCKING;

// The whole measure at once from the model's start, at most `stepLimit` steps: for a voice
// that starts, and for the tools and tests.
CycleMeasure measureCycle(const ModelParameters& controls,
                          int32_t stepLimit) noexcept QUILLFERN_NONBLOCKING;

// Enough steps for measureCycle to finish over the controls' whole range.
inline constexpr int32_t WholeMeasureSteps = 400000;

// True when the probe has nothing left to do at `controls`.
bool probeIsIdle(const CycleProbe& probe,
                 const ModelParameters& controls) noexcept QUILLFERN_NONBLOCKING;
