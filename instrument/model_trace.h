// SPDX-License-Identifier: GPL-3.0-or-later
// The model's course, from a plugin's audio thread to its window: a ring of (x, z) points that
// the audio thread alone writes, never waiting, and the window's thread reads behind it. The
// audio thread writes only while a window wants the points, so an instance whose window is
// closed pays one flag's load a block.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/nonblocking.h"
#include "engine/render.h"
#include "instrument/instrument_voice.h"

// At most this many points a second: every sample at up to 48000 Hz, every second one at 88200
// and 96000 Hz, every fourth at 176400 and 192000 Hz.
inline constexpr double HighestPointRate = 48000.0;

struct TraceRing {
  static constexpr uint32_t Capacity = 1u << 16;  // points: 1.4 s at the highest point rate

  float points[2 * Capacity]{};        // x, z pairs, written through relaxed atomic stores
  std::atomic<uint32_t> written{0};    // points written so far (wrapping), released per block
  std::atomic<bool> wanted{false};     // set by the window's thread while it reads
  std::atomic<double> pointRate{0.0};  // points a second, set by prepareTrace()
  // Beside the points, for the level meter and the regime: the output's peak, held for at
  // least PeakHoldSeconds so that a reader that looks in less often misses none, and the points
  // of the sounding note from its attack's start up to the newest point.
  std::atomic<float> peak{0.0f};
  std::atomic<uint32_t> notePoints{0};
  ModelTrace writer;  // the audio thread's own, as are the two below
  float heldPeak = 0.0f;
  int32_t holdLeft = 0;  // samples the held peak stays, unless a higher one comes
  int32_t holdSamples = 0;
};

inline constexpr double PeakHoldSeconds = 0.1;

// Samples from one point to the next at `sampleRate` Hz.
int32_t traceStrideAt(double sampleRate) noexcept;

// Readies the ring for a voice at `sampleRate` Hz; while no block runs (activation).
void prepareTrace(TraceRing& ring, double sampleRate) noexcept;

// At a block's start: the writer to render through, or null when no window wants the points.
ModelTrace* blockTrace(TraceRing& ring) noexcept QUILLFERN_NONBLOCKING;

// `frames` samples of the voice, their points into `trace` when it is not null.
void renderTraced(InstrumentVoice& voice, float* output, uint32_t frames,
                  ModelTrace* trace) noexcept QUILLFERN_NONBLOCKING;

// At a block's end: the points written become visible to the reader.
void publishTrace(TraceRing& ring, const ModelTrace* trace) noexcept QUILLFERN_NONBLOCKING;

// At a block's end, before publishTrace, while a window wants the points: the block's peak and
// how long the voice's note has sounded.
void publishLevel(TraceRing& ring, const InstrumentVoice& voice, const float* output,
                  uint32_t frames) noexcept QUILLFERN_NONBLOCKING;

// The window's side: where it has read up to.
struct TraceReader {
  uint32_t next = 0;
};

// Starts reading from the points written from now on and asks the audio thread for them.
void startReading(TraceRing& ring, TraceReader& reader) noexcept;
void stopReading(TraceRing& ring) noexcept;

// Copies the points written since the last call into `out` (x, z pairs), at most `capacity`
// of them (the newest, when more came), and returns how many. Points the writer overtook
// while they were copied are left out.
uint32_t readTrace(const TraceRing& ring, TraceReader& reader, float* out,
                   uint32_t capacity) noexcept;
