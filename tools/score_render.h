// SPDX-License-Identifier: GPL-3.0-or-later
// Plays a score through the same engine code as the live program: the render callback in
// blocks of a chosen size, split where events fall, MIDI notices through the message handling,
// control changes as the window's controls make them, on a voice of the renderer's own.
#pragma once

#include <cstdint>
#include <functional>

#include "engine/engine_state.h"
#include "instrument/parameters.h"
#include "tools/score.h"

inline constexpr int32_t DefaultBlockFrames = 256;

// Receives each rendered block in order.
using BlockSink = std::function<void(const float* samples, int64_t frames)>;

// Sees the engine after each frame, with the sample that frame gave: what a picture of the
// model needs. Watching renders one frame per call, so it costs time, never a sample's value.
using FrameWatcher = std::function<void(const EngineState& state, float sample)>;

// Asked after each block whether to go on: a render whose output has failed stops at once.
using KeepRendering = std::function<bool()>;

// Renders `score` from a freshly started voice at the score's sample rate, playing the plugin
// parameters' `values` (the window's sound unless told otherwise); the output is the same for
// every block size and with or without a watcher.
void renderScore(const Score& score, int32_t blockFrames, const BlockSink& sink,
                 const FrameWatcher& watcher = {}, const KeepRendering& keepRendering = {},
                 const ParameterValues& values = rendererValues());

// `frames` at `fromRate` counted at `toRate` (both in Hz): the frame during which the same
// moment falls, floor(frames × toRate / fromRate), exact for any whole rates.
int64_t framesAtRate(int64_t frames, double fromRate, double toRate) noexcept;

// The same score with every frame counted at `sampleRate`, to be rendered at that rate.
Score scoreAtRate(Score score, double sampleRate);
