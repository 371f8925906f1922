// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/midi_file.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/tools/midi_bytes.h"

namespace {

using namespace midi_bytes;

struct Reading {
  bool accepted = false;
  Score score;
  std::string error;
};

Reading read(const std::string& file) {
  Reading reading;
  const std::span data(reinterpret_cast<const uint8_t*>(file.data()), file.size());
  reading.accepted = parseMidiFile(data, "f.mid", reading.score, reading.error);
  return reading;
}

std::vector<std::pair<int64_t, uint32_t>> framedMessages(const Score& score) {
  std::vector<std::pair<int64_t, uint32_t>> messages;
  for (const ScoreEvent& event : score.events) {
    EXPECT_EQ(event.kind, ScoreEventKind::Midi);
    messages.emplace_back(event.frame, event.message);
  }
  return messages;
}

TEST(MidiFile, TimesEveryChannelMessageThroughTheTempoMap) {
  const Reading reading = read(twoTrackSong());
  ASSERT_TRUE(reading.accepted) << reading.error;
  const std::vector<std::pair<int64_t, uint32_t>> expected = {
      {0, 0x05C0},       {0, 0x643990},     {11484, 0x643C90}, {22968, 0x003990},
      {27562, 0x403091}, {34453, 0x003C80}, {45018, 0x704090}, {56503, 0x004080},
  };
  EXPECT_EQ(framedMessages(reading.score), expected);
  EXPECT_EQ(reading.score.endFrame, 66150);
}

TEST(MidiFile, SimultaneousMessagesKeepTrackOrderThenFileOrder) {
  // Track 2's note-off and track 1's note-on share tick 96; track 1 goes first, so the note
  // is played legato rather than released and struck again.
  const std::string file = header(1, 2, 96) +
                           track(event(96, bytes({0x90, 62, 1})) + event(0, bytes({0x90, 63, 1}))) +
                           track(event(0, bytes({0x90, 60, 1})) + event(96, bytes({0x80, 60, 0})));
  const Reading reading = read(file);
  ASSERT_TRUE(reading.accepted) << reading.error;
  const std::vector<std::pair<int64_t, uint32_t>> expected = {
      {0, 0x013C90}, {22050, 0x013E90}, {22050, 0x013F90}, {22050, 0x003C80}};
  EXPECT_EQ(framedMessages(reading.score), expected);
}

TEST(MidiFile, TimeCodeDivisionsCountRealSecondsAndIgnoreTempo) {
  // 25 frames of 40 ticks: a millisecond a tick; tick 441 is 0.441 s, frame 19448.1.
  const std::string twentyFive =
      header(0, 1, 0xE728) + track(tempo(0, 100000) + event(441, bytes({0x90, 60, 1})));
  Reading reading = read(twentyFive);
  ASSERT_TRUE(reading.accepted) << reading.error;
  EXPECT_EQ(framedMessages(reading.score),
            (std::vector<std::pair<int64_t, uint32_t>>{{19448, 0x013C90}}));
  // 29.97 frames of 100 ticks: tick 2997 is 0.999999 s, frame 44099.96, just short of 44100.
  reading = read(header(0, 1, 0xE364) + track(event(2997, bytes({0x90, 60, 1}))));
  ASSERT_TRUE(reading.accepted) << reading.error;
  EXPECT_EQ(reading.score.events.at(0).frame, 44099);
}

TEST(MidiFile, AcceptsLongerHeadersForeignChunksAndLongDeltas) {
  const std::string longerHeader =
      chunk("MThd", bytes({0, 0, 0, 1, 0x7F, 0xFF, 0x12, 0x34}));  // two extra bytes, skipped
  const std::string file =
      longerHeader + chunk("XFIH", "anything") + track(event(0x0FFFFFFF, bytes({0x90, 60, 1})));
  const Reading reading = read(file);
  ASSERT_TRUE(reading.accepted) << reading.error;
  // 2^28 - 1 ticks at 32767 a quarter note and half a second a quarter note: over an hour.
  EXPECT_EQ(reading.score.events.at(0).frame, int64_t{0x0FFFFFFF} * 22050 / 32767);
}

TEST(MidiFile, RunningStatusGoesOnAcrossMetaAndSystemExclusiveEvents) {
  const std::string file =
      header(0, 1, 96) +
      track(event(0, bytes({0x91, 60, 1})) + event(0, bytes({0xFF, 0x01, 0})) +
            event(0, bytes({62, 2})) + event(0, bytes({0xF0, 1, 0xF7})) + event(0, bytes({64, 0})));
  const Reading reading = read(file);
  ASSERT_TRUE(reading.accepted) << reading.error;
  EXPECT_EQ(framedMessages(reading.score), (std::vector<std::pair<int64_t, uint32_t>>{
                                               {0, 0x013C91}, {0, 0x023E91}, {0, 0x004091}}));
}

TEST(MidiFile, RejectsDamageNamingOffsetAndTrack) {
  const std::string head = header(1, 1, 96);  // 14 bytes; a track's events begin at 22
  const auto oneTrack = [&](const std::string& events) { return head + chunk("MTrk", events); };
  const std::string endOfTrack = bytes({0, 0xFF, 0x2F, 0});
  const struct {
    std::string file;
    const char* message;
  } cases[] = {
      {"RIFF0000WAVE", "f.mid: offset 0: not a Standard MIDI File"},
      {head.substr(0, 10), "f.mid: offset 10: the file ends inside the header"},
      {header(2, 1, 96) + track(""), "f.mid: offset 8: format 2"},
      {header(1, 1, 0) + track(""), "f.mid: offset 12: a division of 0 ticks"},
      {header(1, 1, 0xE528) + track(""), "f.mid: offset 12: time code of 27 frames"},
      {header(1, 2, 96) + track(""),
       "offset 26: the header announces 2 tracks, but the file "
       "ends after 1"},
      {head + "MTrk" + bigEndian(100, 4) + endOfTrack,
       "f.mid: offset 14, track 1: a chunk of 100 bytes runs past the end of the file (26 bytes)"},
      {oneTrack(bytes({0, 60, 100}) + endOfTrack),
       "f.mid: offset 23, track 1: a data byte (0x3C) with no status before it"},
      {oneTrack(bytes({0, 0x90, 60, 0x90}) + endOfTrack),
       "offset 25, track 1: data byte expected, found 0x90"},
      {oneTrack(bytes({0, 0x90, 60, 100})), "offset 26, track 1: the track ends without an End"},
      {oneTrack(bytes({0, 0x90, 60})), "offset 25, track 1: the track ends inside a channel"},
      {oneTrack(bytes({0xFF, 0xFF, 0xFF, 0xFF, 0}) + endOfTrack),
       "offset 22, track 1: a delta time is longer than 4 bytes"},
      {oneTrack(bytes({0, 0xFF, 0x51, 2, 7, 0xA1}) + endOfTrack),
       "offset 24, track 1: a tempo change needs 3 bytes, not 2"},
      {oneTrack(bytes({0, 0xFF, 0x51, 3, 0, 0, 0}) + endOfTrack),
       "offset 26, track 1: a tempo of 0 microseconds"},
      {oneTrack(bytes({0, 0xF0, 9, 1, 2}) + endOfTrack),
       "offset 25, track 1: a system exclusive message of 9 bytes runs past the end of the track"},
      {oneTrack(bytes({0, 0xF8}) + endOfTrack),
       "offset 23, track 1: status byte 0xF8 has no place in a MIDI file"},
      {header(1, 2, 96) + track("") + chunk("MTrk", bytes({0, 0x90, 200, 1}) + endOfTrack),
       "offset 36, track 2: data byte expected, found 0xC8"},
      {header(0, 1, 1) + track(tempo(0, 0xFFFFFF) + event(0x0FFFFFFF, bytes({0x90, 60, 1}))),
       "offset 33, track 1: this event falls after 24 hours"},
  };
  for (const auto& c : cases) {
    const Reading reading = read(c.file);
    EXPECT_FALSE(reading.accepted) << c.message;
    EXPECT_NE(reading.error.find(c.message), std::string::npos)
        << "expected: " << c.message << "\ngot: " << reading.error;
    EXPECT_TRUE(reading.score.events.empty());
  }
}

// The offset an error names: "f.mid: offset N..." .
std::size_t offsetIn(const std::string& error) {
  const std::string lead = "f.mid: offset ";
  EXPECT_EQ(error.rfind(lead, 0), 0u) << error;
  return std::stoul(error.substr(lead.size()));
}

// A valid song cut, overwritten, spliced and shortened at random: the reader never crashes,
// and it either reads a song whose times never go back or names a place inside the file.
TEST(MidiFile, SurvivesRandomlyDamagedFiles) {
  const std::string song = twoTrackSong();
  std::mt19937 random(20261207);
  int rejected = 0;
  for (int round = 0; round < 30000; ++round) {
    std::string file = song;
    for (int change = 0, changes = 1 + static_cast<int>(random() % 4); change < changes; ++change) {
      const std::size_t at = random() % (file.size() + 1);
      const char byte = static_cast<char>(random() % 4 == 0 ? 0x80 | random() : random());
      switch (random() % 4) {
        case 0:
          if (at < file.size()) file[at] = byte;
          break;
        case 1:
          file.insert(file.begin() + static_cast<std::ptrdiff_t>(at), byte);
          break;
        case 2:
          if (at < file.size()) file.erase(at, 1);
          break;
        default:
          file.resize(at);
      }
    }
    const Reading reading = read(file);
    if (!reading.accepted) {
      ++rejected;
      ASSERT_LE(offsetIn(reading.error), file.size()) << reading.error;
      continue;
    }
    int64_t previous = 0;
    for (const ScoreEvent& event : reading.score.events) {
      ASSERT_GE(event.frame, previous);
      ASSERT_GE(event.message & 0xFF, 0x80u);
      ASSERT_LT(event.message & 0xFF, 0xF0u);
      previous = event.frame;
    }
    ASSERT_LE(previous, reading.score.endFrame);
  }
  // The damage reached the checks, and much of it left a playable song.
  EXPECT_GT(rejected, 3000);
  EXPECT_GT(30000 - rejected, 500);
}

TEST(MidiFile, TheSongEndsWithTheReleaseOfItsLastNote) {
  Score score;
  score.endFrame = 1000;
  addReleaseTail(score, 0.01);  // 441 samples of release
  ASSERT_EQ(score.events.size(), 1u);
  EXPECT_EQ(score.events[0].kind, ScoreEventKind::Close);
  EXPECT_EQ(score.events[0].frame, 1000);
  EXPECT_EQ(score.endFrame, 1000 + 1001 + 441 + 4410);
}

}  // namespace
