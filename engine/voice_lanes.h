// SPDX-License-Identifier: GPL-3.0-or-later
// Several voices rendered side by side and summed: a chord's. Where voices hold their sustain
// together, their models step in the lanes of one register, each lane doing exactly the
// arithmetic of renderFrames' steady way, so that each voice's samples are bit for bit its own
// rendered alone. Audio thread only, by the one thread that plays the voices: their notes and
// controls do not change while a block renders.
#pragma once

#include <cstdint>

#include "engine/engine_state.h"
#include "engine/nonblocking.h"
#include "engine/render.h"

// The most voices one sum takes.
inline constexpr int32_t MostVoicesSummed = 16;

// Renders `frames` samples of each of `voices[0]` to `voices[count - 1]` (count at most
// MostVoicesSummed) and writes to `output` their float sum in that order, starting from 0.0f:
// each voice's samples are those renderFrames gives it. The voice at `traced` (none: -1) writes
// its model's course to `trace`, as renderFramesTraced does.
void renderVoiceSum(EngineState* const* voices, int32_t count, float* output, unsigned long frames,
                    int32_t traced, ModelTrace* trace) noexcept QUILLFERN_NONBLOCKING;
