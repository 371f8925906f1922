// SPDX-License-Identifier: GPL-3.0-or-later
// The render path: one envelope step and one oscillator step per frame, the fade-in over the
// first 100 samples (at 44100 Hz) of every note, one float sample per frame.
// Audio thread only; no allocation, no lock, no wait.
#pragma once

#include <cstdint>

#include "engine/engine_state.h"
#include "engine/nonblocking.h"

// The fade-in over a note's first `fadeInSamples` samples, (noteSamples / fadeInSamples)^5, at
// float precision.
double fadeInFactor(int32_t noteSamples, int32_t fadeInSamples) noexcept QUILLFERN_NONBLOCKING;

// Fills `output` with `frames` samples rendered from `state`.
void renderFrames(EngineState& state, float* output,
                  unsigned long frames) noexcept QUILLFERN_NONBLOCKING;
