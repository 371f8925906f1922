// SPDX-License-Identifier: GPL-3.0-or-later
// The model's course, from a plugin's audio thread to its window: a ring of (x, z) points that
// the audio thread alone writes, never waiting, and the window's thread reads behind it. The
// audio thread writes only while a window wants the points, so an instance whose window is
// closed pays one flag's load a block, and one that never had a window holds no ring.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "engine/nonblocking.h"
#include "engine/render.h"
#include "instrument/instrument_voice.h"

// At most this many points a second: every sample at up to 48000 Hz, every second one at 88200
// and 96000 Hz, every fourth at 176400 and 192000 Hz.
inline constexpr double HighestPointRate = 48000.0;

// The ring's memory, made by a non-real-time thread only once something wants the points: most
// instances never open a window, and keep none of it.
struct TraceBuffer {
  uint32_t capacity = 0;      // points, a power of two
  std::vector<float> points;  // x, z pairs, written through relaxed atomic stores
};

struct TraceRing {
  static constexpr uint32_t Capacity = 1u << 16;  // a window's: 1.4 s at the highest point rate

  ~TraceRing() { delete buffer.load(std::memory_order_relaxed); }

  // Published once, by the thread that makes it; it stays until the instance goes.
  std::atomic<TraceBuffer*> buffer{nullptr};
  std::atomic<uint32_t> written{0};    // points written so far (wrapping), released per block
  std::atomic<bool> wanted{false};     // set by the window's thread while it reads
  std::atomic<double> pointRate{0.0};  // points a second, set by prepareTrace()
  // Beside the points, for the level meter and the regime: the output's peak, held for at
  // least PeakHoldSeconds so that a reader that looks in less often misses none, and the points
  // of the newest note from its attack's start up to the newest point, and the voices sounding.
  std::atomic<float> peak{0.0f};
  std::atomic<uint32_t> notePoints{0};
  std::atomic<int32_t> voices{0};
  ModelTrace writer;  // the audio thread's own, as are the two below
  float heldPeak = 0.0f;
  int32_t holdLeft = 0;  // samples the held peak stays, unless a higher one comes
  int32_t holdSamples = 0;
};

// Makes the ring's memory of `capacity` points (a power of two) unless it has some; not on the
// audio thread.
void makeTraceBuffer(TraceRing& ring, uint32_t capacity);

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

// At a block's end, before publishTrace, while a window wants the points: the block's peak, how
// long the newest note (the one the points follow) has sounded, and how many voices sound.
void publishLevel(TraceRing& ring, InstrumentVoice& voice, const float* output,
                  uint32_t frames) noexcept QUILLFERN_NONBLOCKING;

// The window's side: where it has read up to.
struct TraceReader {
  uint32_t next = 0;
};

// Starts reading from the points written from now on and asks the audio thread for them; makes
// the ring's memory (of Capacity points) the first time.
void startReading(TraceRing& ring, TraceReader& reader) noexcept;
void stopReading(TraceRing& ring) noexcept;

// Copies the points written since the last call into `out` (x, z pairs), at most `capacity`
// of them (the newest, when more came), and returns how many. Points the writer overtook
// while they were copied are left out.
uint32_t readTrace(const TraceRing& ring, TraceReader& reader, float* out,
                   uint32_t capacity) noexcept;
