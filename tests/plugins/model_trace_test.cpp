// SPDX-License-Identifier: GPL-3.0-or-later
// The ring from a plugin's audio thread to its window, with a writer thread publishing blocks
// while the reader reads: what the reader gets is always a run of whole, consecutive points,
// and it misses none while it keeps up.
#include "instrument/model_trace.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t BlockPoints = 256;

// Writes points (n, -n) for n = 0, 1, 2, ... block by block, as the render path does.
void writeBlocks(TraceRing& ring, uint32_t blocks, std::atomic<bool>& readerDone) {
  for (uint32_t block = 0; block < blocks || !readerDone.load(); ++block) {
    ModelTrace* trace = blockTrace(ring);
    if (trace == nullptr) continue;
    for (uint32_t point = 0; point < BlockPoints; ++point) {
      float* slot = trace->points + 2 * (trace->written & trace->mask);
      const auto n = static_cast<float>(trace->written++);
      std::atomic_ref<float>(slot[0]).store(n, std::memory_order_relaxed);
      std::atomic_ref<float>(slot[1]).store(-n, std::memory_order_relaxed);
    }
    publishTrace(ring, trace);
    if (block % 64 == 0) std::this_thread::yield();
  }
}

TEST(ModelTrace, ReaderGetsWholeConsecutivePointsAndAllOfThemWhileItKeepsUp) {
  auto ring = std::make_unique<TraceRing>();
  prepareTrace(*ring, 96000.0);
  EXPECT_EQ(ring->pointRate.load(), 48000.0);
  EXPECT_EQ(blockTrace(*ring), nullptr) << "nobody reads yet";
  TraceReader reader;
  startReading(*ring, reader);
  std::atomic<bool> readerDone{false};
  std::thread writer(writeBlocks, std::ref(*ring), 4000u, std::ref(readerDone));
  std::vector<float> points(2 * TraceRing::Capacity);
  float expected = 0.0f;
  uint32_t gaps = 0;
  for (int read = 0; read < 20000 && expected < 4000.0f * BlockPoints; ++read) {
    const uint32_t count = readTrace(*ring, reader, points.data(), TraceRing::Capacity);
    if (count > 0 && points[0] != expected) ++gaps;  // the reader fell behind: newest kept
    for (uint32_t point = 0; point < count; ++point) {
      ASSERT_EQ(points[2 * point + 1], -points[2 * point]);
      if (point > 0) {
        ASSERT_EQ(points[2 * point], points[2 * point - 2] + 1.0f);
      }
    }
    if (count > 0) expected = points[2 * (count - 1)] + 1.0f;
  }
  readerDone = true;
  writer.join();
  stopReading(*ring);
  EXPECT_EQ(blockTrace(*ring), nullptr);
  // A reader that keeps up (here: reads the whole ring's worth at once, fast) misses nothing
  // now and then; it may miss when the writer thread had the core to itself.
  EXPECT_LT(gaps, 50u);
}

}  // namespace
