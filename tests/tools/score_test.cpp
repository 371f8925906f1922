// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/score.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>

#include "engine/voice_controls.h"

namespace {

bool parse(const std::string& text, Score& score, std::string& error) {
  std::istringstream input(text);
  return parseScore(input, "s", score, error);
}

// The lines of `text`, each ended by LF, CR LF, CR or the end of the text.
std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] != '\r' && text[at] != '\n') {
      line += text[at];
      continue;
    }
    if (text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n') ++at;
    lines.push_back(line);
    line.clear();
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

TEST(ScoreReader, ReadsEveryKindOfEventInOrder) {
  Score score;
  std::string error;
  ASSERT_TRUE(
      parse("# comment\n\n  0 midi 0x90 69 100 # A4\n0 midi c0 5\n10 control 27 1\n"
            "10 close\n\t20 end   \n",
            score, error))
      << error;
  ASSERT_EQ(score.events.size(), 4u);
  EXPECT_EQ(score.events[0].message, 0x644590u);
  EXPECT_EQ(score.events[1].message, 0x05C0u);
  EXPECT_EQ(score.events[2].kind, ScoreEventKind::Control);
  EXPECT_EQ(score.events[2].control, 27);
  EXPECT_EQ(score.events[2].value, 1);
  EXPECT_EQ(score.events[3].kind, ScoreEventKind::Close);
  EXPECT_EQ(score.events[3].frame, 10);
  EXPECT_EQ(score.endFrame, 20);
}

TEST(ScoreReader, EveryControlAcceptsItsWholeRangeAndNothingBeyond) {
  for (const VoiceControl& control : voiceControls()) {
    Score score;
    std::string error;
    const std::string number = std::to_string(control.number);
    for (const int32_t value : {control.minimum, control.initial, control.maximum}) {
      EXPECT_TRUE(
          parse("0 control " + number + " " + std::to_string(value) + "\n1 end\n", score, error))
          << error;
    }
    for (const int32_t value : {control.minimum - 1, control.maximum + 1}) {
      EXPECT_FALSE(
          parse("0 control " + number + " " + std::to_string(value) + "\n1 end\n", score, error));
      EXPECT_EQ(error.rfind("s:1: value of control " + number, 0), 0u) << error;
    }
  }
}

// Lines of every form a message may take, each read before an 'end' at 24 hours; a text that
// does not begin with "s:" is the first event's packed message in hex.
TEST(ScoreReader, ReadsMessagesAtTheirNaturalLengthAndNamesWhatIsWrong) {
  using namespace std::string_literals;
  const std::string day = std::to_string(int64_t{24} * 60 * 60 * 44100);
  const std::pair<std::string, std::string> cases[] = {
      {"0 midi F8", "f8"},
      {"0 midi C0 5", "5c0"},
      {"0 midi 0xb0 0x7B 0", "7bb0"},
      {"0 midi F2 1 2", "201f2"},
      {"0 midi F8 0", "f8"},     // written before natural lengths
      {"0 midi 90 69", "4590"},  // the velocity left out reads 0
      {"0 midi 90", "s:1: status byte 90 takes 2 data bytes, not 0"},
      {"0 midi D0", "s:1: status byte D0 takes 1 data byte, not 0"},
      {"0 midi F7", "s:1: system exclusive is not a short message"},
      {"0 midi 90 69 0x80", "s:1: data byte 0x80 is out of range 0 to 127"},
      {"0 midi 90 6\0\x01 1"s, "s:1: bad data byte '6<NUL><0x01>'"},
      {"\xEF\xBB\xBF"
       "0 midi 90 69 1\r\xEF\xBB\xBF"
       "1 close",
       "s:2: bad frame '<BOM>1'"},
      {"0 midi 90 69 1\r\n1 close\r\r1 x\x80\xE2\x80\x8B" + std::string(50, 'y'),
       "s:4: unknown word 'x<0x80><U+200B>" + std::string(37, 'y') + "...'"},
      {day + " close", "0"},
      {"0 close\r" + day + "1 close", "s:2: frame " + day + "1 is past 24 hours"},
  };
  for (const auto& [line, expected] : cases) {
    Score score;
    std::string error;
    const bool read = parse(line + "\n" + day + " end\n", score, error);
    const std::string result =
        read ? (std::stringstream() << std::hex << score.events[0].message).str() : error;
    EXPECT_EQ(result.substr(0, expected.size()), expected) << line;
  }
}

// Scores cut, spliced and sprinkled with junk at random: the reader never crashes, and it either
// accepts the score or names a line that exists and holds an event, or the last line when the
// 'end' is missing.
TEST(ScoreReader, SurvivesRandomlyMangledScores) {
  const std::vector<std::string> pieces = {"0",     "12",
                                           "-3",    "99999999999999999999",
                                           "midi",  "control",
                                           "close", "end",
                                           "90",    "0x80",
                                           "F0",    "128",
                                           "27",    "5",
                                           "#",     "\t",
                                           "\n",    " ",
                                           "x",     "1e3",
                                           "0x",    "+1",
                                           "00",    "2147483648",
                                           "\r",    "",
                                           "\r\n",  "F8",
                                           "0x7B",  "\xEF\xBB\xBF"};
  std::mt19937 random(20261207);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const int words = static_cast<int>(random() % 24);
    for (int word = 0; word < words; ++word) {
      text += pieces[random() % pieces.size()];
      text += random() % 3 == 0 ? "\n" : " ";
    }
    Score score;
    std::string error;
    const bool accepted = parse(text, score, error);
    if (accepted) {
      for (std::size_t event = 1; event < score.events.size(); ++event) {
        ASSERT_LE(score.events[event - 1].frame, score.events[event].frame) << text;
      }
      continue;
    }
    const std::vector<std::string> lines = linesOf(text);
    const auto colon = error.find(':', 2);
    ASSERT_EQ(error.rfind("s:", 0), 0u) << error;
    ASSERT_NE(colon, std::string::npos) << error;
    const auto line = std::stoul(error.substr(2, colon - 2));
    if (error.ends_with("the score has no 'end'")) {
      ASSERT_EQ(line, lines.size()) << text;
      continue;
    }
    ASSERT_GE(line, 1u) << error;
    ASSERT_LE(line, lines.size()) << error;
    const std::string& named = lines[line - 1];
    ASSERT_NE(named.substr(0, named.find('#')).find_first_not_of(" \t"), std::string::npos)
        << error << " names a line without an event in:\n"
        << text;
  }
}

}  // namespace
