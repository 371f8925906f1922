// SPDX-License-Identifier: GPL-3.0-or-later
// A callback for the MIDI service that plays the notices on a voice of its own, as the
// synthesizer does, and records each notice with the voice state it left, for the tests to
// read once the MIDI thread has delivered them.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>

#include "midi/midi_messages.h"
#include "midi/midi_service.h"

struct RecordedNotice {
  uint32_t notice;
  uint32_t message;
  int32_t heldNotes;
  int32_t gate;
  double noteFrequency;
};

// Notices past this many are counted but not kept.
inline constexpr uint32_t RecordedNoticeCapacity = 256;

struct NoticeRecord {
  std::array<RecordedNotice, RecordedNoticeCapacity> notices{};
  std::atomic<uint32_t> count{0};
  std::atomic<uint32_t> lastMessage{0};
  std::atomic<uint32_t> lastNotice{0};
  EngineState voice;
};

inline NoticeRecord noticeRecord;

inline void recordNotice(MidiPortHandle, uint32_t notice, uintptr_t, uintptr_t param1,
                         uintptr_t) noexcept {
  const auto message = static_cast<uint32_t>(param1);
  EngineState& voice = noticeRecord.voice;
  const bool releases = notice == MidiLossNotice || notice == MidiSourceGoneNotice;
  handleMidiNotice(voice, releases ? MidiCloseNotice : notice, message);
  const uint32_t count = noticeRecord.count.load(std::memory_order_relaxed);
  if (count < RecordedNoticeCapacity) {
    noticeRecord.notices[count] = {notice, message, voice.heldNotes.load(), voice.gate.load(),
                                   voice.noteFrequency.load()};
  }
  noticeRecord.lastMessage.store(message, std::memory_order_release);
  noticeRecord.lastNotice.store(notice, std::memory_order_release);
  noticeRecord.count.store(count + 1, std::memory_order_release);
}

// Only while no port is open: the MIDI thread is gone then.
inline void clearNoticeRecord() {
  noticeRecord.count.store(0);
  noticeRecord.lastMessage.store(0);
  noticeRecord.lastNotice.store(0);
  std::destroy_at(&noticeRecord.voice);
  std::construct_at(&noticeRecord.voice);
}

inline uint32_t recordedCount() {
  return noticeRecord.count.load(std::memory_order_acquire);
}

// Polls until the condition holds or timeoutMs pass; returns the condition's last value.
template <typename Condition>
bool waitUntil(Condition condition, int timeoutMs = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}
