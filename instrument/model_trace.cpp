// SPDX-License-Identifier: GPL-3.0-or-later
#include "instrument/model_trace.h"

#include <algorithm>
#include <cmath>
#include <cstring>

int32_t traceStrideAt(double sampleRate) noexcept {
  return std::max(1, static_cast<int32_t>(std::ceil(sampleRate / HighestPointRate)));
}

void prepareTrace(TraceRing& ring, double sampleRate) noexcept {
  const int32_t stride = traceStrideAt(sampleRate);
  ring.writer.stride = stride;
  ring.writer.countdown = stride;
  ring.pointRate.store(sampleRate / stride, std::memory_order_relaxed);
  ring.holdSamples = static_cast<int32_t>(std::ceil(sampleRate * PeakHoldSeconds));
  ring.heldPeak = 0.0f;
  ring.holdLeft = 0;
}

void makeTraceBuffer(TraceRing& ring, uint32_t capacity) {
  if (ring.buffer.load(std::memory_order_relaxed) != nullptr) return;
  auto* buffer = new TraceBuffer{capacity, std::vector<float>(std::size_t{2} * capacity)};
  ring.buffer.store(buffer, std::memory_order_release);
}

ModelTrace* blockTrace(TraceRing& ring) noexcept QUILLFERN_NONBLOCKING {
  if (!ring.wanted.load(std::memory_order_relaxed)) return nullptr;
  TraceBuffer* buffer = ring.buffer.load(std::memory_order_acquire);
  if (buffer == nullptr) return nullptr;
  ring.writer.points = buffer->points.data();
  ring.writer.mask = buffer->capacity - 1;
  return &ring.writer;
}

void renderTraced(InstrumentVoice& voice, float* output, uint32_t frames,
                  ModelTrace* trace) noexcept QUILLFERN_NONBLOCKING {
  renderVoice(voice, output, frames, trace);
}

void publishTrace(TraceRing& ring, const ModelTrace* trace) noexcept QUILLFERN_NONBLOCKING {
  if (trace != nullptr) ring.written.store(trace->written, std::memory_order_release);
}

void publishLevel(TraceRing& ring, InstrumentVoice& voice, const float* output,
                  uint32_t frames) noexcept QUILLFERN_NONBLOCKING {
  float peak = 0.0f;
  for (uint32_t frame = 0; frame < frames; ++frame) peak = std::max(peak, std::fabs(output[frame]));
  ring.holdLeft -= static_cast<int32_t>(frames);
  if (peak >= ring.heldPeak || ring.holdLeft <= 0) {
    ring.heldPeak = peak;
    ring.holdLeft = ring.holdSamples;
  }
  ring.peak.store(ring.heldPeak, std::memory_order_relaxed);
  const EngineState& newest = engineOf(voice, voice.chord.newest);
  ring.notePoints.store(static_cast<uint32_t>(newest.noteSamples / ring.writer.stride),
                        std::memory_order_relaxed);
  int32_t voices = 0;
  for (int32_t index = 0; index < voice.chord.started; ++index) {
    voices += restsSilently(engineOf(voice, index)) ? 0 : 1;
  }
  ring.voices.store(voices, std::memory_order_relaxed);
}

void startReading(TraceRing& ring, TraceReader& reader) noexcept {
  makeTraceBuffer(ring, TraceRing::Capacity);
  reader.next = ring.written.load(std::memory_order_acquire);
  ring.wanted.store(true, std::memory_order_relaxed);
}

void stopReading(TraceRing& ring) noexcept {
  ring.wanted.store(false, std::memory_order_relaxed);
}

// The writer runs up to one block ahead of what it has published, so the reader keeps away from
// the half of the ring behind the published end: a block of up to half the ring's points (0.68 s
// at the highest point rate) never reaches what is being read.
uint32_t readTrace(const TraceRing& ring, TraceReader& reader, float* out,
                   uint32_t capacity) noexcept {
  const TraceBuffer* buffer = ring.buffer.load(std::memory_order_acquire);
  if (buffer == nullptr) return 0;
  const uint32_t safeSpan = buffer->capacity / 2;
  const uint32_t end = ring.written.load(std::memory_order_acquire);
  const uint32_t count = std::min({end - reader.next, capacity, safeSpan});
  const uint32_t begin = end - count;
  // Acquire loads (plain loads on the machines we build for), so that the second look at the
  // count below comes after every point has been read.
  auto* points = const_cast<float*>(buffer->points.data());  // read through atomic_ref only
  for (std::size_t point = 0; point < count; ++point) {
    const std::size_t slot = 2 * ((begin + point) & (buffer->capacity - 1));
    out[2 * point] = std::atomic_ref<float>(points[slot]).load(std::memory_order_acquire);
    out[2 * point + 1] = std::atomic_ref<float>(points[slot + 1]).load(std::memory_order_acquire);
  }
  reader.next = end;
  // A host that stalled the window's thread for long may have let the writer come round while
  // we copied: what it could have overwritten goes.
  const uint32_t after = ring.written.load(std::memory_order_acquire);
  const uint32_t overtaken =
      after - begin > safeSpan ? std::min(count, after - safeSpan - begin) : 0;
  std::memmove(out, out + 2 * static_cast<std::size_t>(overtaken),
               2 * sizeof(float) * (count - overtaken));
  return count - overtaken;
}
