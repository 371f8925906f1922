// Plays a score through the same engine code as the live program: the render callback in
// blocks of a chosen size, split where events fall, MIDI notices through the message handling,
// control changes as the window's controls make them, on a voice of the renderer's own.
#pragma once

#include <cstdint>
#include <functional>

#include "engine/engine_state.h"
#include "tools/score.h"

inline constexpr int32_t DefaultBlockFrames = 256;

// Receives each rendered block in order.
using BlockSink = std::function<void(const float* samples, int64_t frames)>;

// Sees the engine after each frame, with the sample that frame gave: what a picture of the
// model needs. Watching renders one frame per call, so it costs time, never a sample's value.
using FrameWatcher = std::function<void(const EngineState& state, float sample)>;

// Renders `score` from a freshly started engine; the output is the same for every block size
// and with or without a watcher.
void renderScore(const Score& score, int32_t blockFrames, const BlockSink& sink,
                 const FrameWatcher& watcher = {});
