// Plays a score through the same engine code as the live program: the render callback in
// blocks of a chosen size, split where events fall, MIDI notices through the message handling,
// control changes through the control state table and the parameter formulas.
#pragma once

#include <cstdint>
#include <functional>

#include "tools/score.h"

inline constexpr int32_t DefaultBlockFrames = 256;

// Receives each rendered block in order.
using BlockSink = std::function<void(const float* samples, int64_t frames)>;

// Renders `score` from a freshly started engine; the output is the same for every block size.
void renderScore(const Score& score, int32_t blockFrames, const BlockSink& sink);
