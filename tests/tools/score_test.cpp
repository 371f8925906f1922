#include "tools/score.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>

namespace {

bool parse(const std::string& text, Score& score, std::string& error) {
  std::istringstream input(text);
  return parseScore(input, "s", score, error);
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
  for (const ScoreControl& control : scoreControls()) {
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

// Scores cut, spliced and sprinkled with junk at random: the reader never crashes, and it either
// accepts the score or names a line that exists.
TEST(ScoreReader, SurvivesRandomlyMangledScores) {
  const std::vector<std::string> pieces = {"0",    "12",      "-3",    "99999999999999999999",
                                           "midi", "control", "close", "end",
                                           "90",   "0x80",    "F0",    "128",
                                           "27",   "5",       "#",     "\t",
                                           "\n",   " ",       "x",     "1e3",
                                           "0x",   "+1",      "00",    "2147483648",
                                           "\r",   ""};
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
    const auto lines = std::count(text.begin(), text.end(), '\n') + 1;
    const auto colon = error.find(':', 2);
    ASSERT_EQ(error.rfind("s:", 0), 0u) << error;
    ASSERT_NE(colon, std::string::npos) << error;
    const long line = std::stol(error.substr(2, colon - 2));
    ASSERT_GE(line, 0) << error;
    ASSERT_LE(line, lines) << error;
  }
}

}  // namespace
