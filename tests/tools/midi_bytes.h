// SPDX-License-Identifier: GPL-3.0-or-later
// Builds Standard MIDI Files byte by byte, so that tests can make exactly the file they need.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace midi_bytes {

inline std::string bytes(std::initializer_list<int> values) {
  std::string text;
  for (const int value : values) text += static_cast<char>(value);
  return text;
}

inline std::string variableLength(uint32_t value) {
  std::string bytes(1, static_cast<char>(value & 0x7F));
  for (value >>= 7; value != 0; value >>= 7) {
    bytes.insert(bytes.begin(), static_cast<char>(0x80 | (value & 0x7F)));
  }
  return bytes;
}

inline std::string bigEndian(uint32_t value, int bytes) {
  std::string text;
  for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) {
    text += static_cast<char>(value >> shift & 0xFF);
  }
  return text;
}

inline std::string chunk(const std::string& kind, const std::string& data) {
  return kind + bigEndian(static_cast<uint32_t>(data.size()), 4) + data;
}

inline std::string header(uint32_t format, uint32_t tracks, uint32_t division) {
  return chunk("MThd", bigEndian(format, 2) + bigEndian(tracks, 2) + bigEndian(division, 2));
}

// An event: its delta time in ticks, then its bytes.
inline std::string event(uint32_t delta, const std::string& bytes) {
  return variableLength(delta) + bytes;
}

inline std::string tempo(uint32_t delta, uint32_t microsecondsPerQuarter) {
  return event(delta, bytes({0xFF, 0x51, 0x03}) + bigEndian(microsecondsPerQuarter, 3));
}

// A track chunk of `events`, closed by End of Track after `endDelta` ticks.
inline std::string track(const std::string& events, uint32_t endDelta = 0) {
  return chunk("MTrk", events + event(endDelta, bytes({0xFF, 0x2F, 0x00})));
}

}  // namespace midi_bytes

namespace midi_bytes {

// Two tracks at 96 ticks per quarter note: a tempo track (a text, a system exclusive message,
// 120 beats per minute then 240 from tick 192, ending at tick 384) and a track of channel
// messages with running status. Its frames, floor(seconds × 44100):
//   tick   0  C0 05, 90 57 100        frame 0
//   tick  50  (90) 60 100, legato      11484   (50 × 229.6875 frames per tick)
//   tick 100  (90) 57 0                22968
//   tick 120  91 48 64, channel 2      27562
//   tick 150  80 60 0                  34453
//   tick 200  90 64 112                45018   (44100 + 8 × 114.84375)
//   tick 300  80 64 0                  56503
//   end of the song, tick 384          66150
inline std::string twoTrackSong() {
  const std::string tempoTrack =
      track(event(0, bytes({0xFF, 0x01, 0x04}) + "song") +
                event(10, bytes({0xF0, 0x03, 0x7E, 0x7F, 0xF7})) + tempo(182, 250000),
            192);
  const std::string notes =
      track(event(0, bytes({0xC0, 5})) + event(0, bytes({0x90, 57, 100})) +
            event(50, bytes({60, 100})) + event(50, bytes({57, 0})) +
            event(20, bytes({0x91, 48, 64})) + event(30, bytes({0x80, 60, 0})) +
            event(50, bytes({0x90, 64, 112})) + event(100, bytes({0x80, 64, 0})));
  return header(1, 2, 96) + tempoTrack + notes;
}

}  // namespace midi_bytes
