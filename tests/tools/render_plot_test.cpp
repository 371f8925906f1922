// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/render_plot.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <limits>

namespace {

constexpr float NotANumber = std::numeric_limits<float>::quiet_NaN();

TEST(RenderPlot, ColumnsKeepTheirExtremesJoinTheirNeighboursAndShowRunawayAsGaps) {
  PlotTraces traces = startPlotTraces(10900);  // ten frames a column across 1090 columns
  ASSERT_EQ(traces.output.low.size(), 1090u);
  for (int frame = 0; frame < 10900; ++frame) {
    const float value = static_cast<float>(frame % 10 == 3 ? -frame : frame) / 1024;
    const bool runaway = frame >= 50 && frame < 70;  // columns 5 and 6 have no usable x
    recordPlotFrame(traces, frame / 10 == 8 ? 1e6f : value, runaway ? INFINITY : 1.0f, NotANumber);
  }
  recordPlotFrame(traces, 1.0f, 0.0f, 0.0f);  // past the end: ignored
  EXPECT_EQ(traces.output.low[0], -3.0f / 1024);
  EXPECT_EQ(traces.output.high[0], 9.0f / 1024);
  // Column 1 starts where column 0 ended, so the band has no break between them.
  EXPECT_EQ(traces.output.low[1], -13.0f / 1024);
  EXPECT_EQ(traces.output.high[1], 19.0f / 1024);
  EXPECT_EQ(traces.output.high[1089], 10899.0f / 1024);
  EXPECT_GT(traces.output.low[8], traces.output.high[8]);  // finite, but far beyond any orbit
  EXPECT_EQ(traces.output.low[9], 93.0f / -1024);  // after a gap, no join with what came before
  EXPECT_GT(traces.x.low[5], traces.x.high[5]);
  EXPECT_GT(traces.x.low[6], traces.x.high[6]);
  EXPECT_EQ(traces.x.low[7], 1.0f);
  EXPECT_GT(traces.z.low[0], traces.z.high[0]);
  // Renders shorter than the picture is wide get a column a frame.
  EXPECT_EQ(startPlotTraces(40).x.low.size(), 40u);
  EXPECT_TRUE(startPlotTraces(0).x.low.empty());
}

TEST(RenderPlot, MarksTheNotesOfTheVoiceOnly) {
  Score score;
  score.events = {
      {10, ScoreEventKind::Midi, 0x643C90, 0, 0},  // note-on, channel 1
      {20, ScoreEventKind::Midi, 0x643C91, 0, 0},  // channel 2: not played
      {30, ScoreEventKind::Midi, 0x003C90, 0, 0},  // note-on of velocity 0: a note-off
      {40, ScoreEventKind::Control, 0, 26, 60},   {50, ScoreEventKind::Midi, 0x004580, 0, 0},
      {60, ScoreEventKind::Close, 0, 0, 0},
  };
  const std::vector<NoteMark> marks = noteMarksOf(score);
  ASSERT_EQ(marks.size(), 4u);
  EXPECT_TRUE(marks[0].on);
  EXPECT_EQ(marks[0].note, 60);
  EXPECT_EQ(marks[0].frame, 10);
  EXPECT_FALSE(marks[1].on);
  EXPECT_EQ(marks[2].frame, 50);
  EXPECT_FALSE(marks[2].on);
  EXPECT_EQ(marks[3].frame, 60);
  EXPECT_FALSE(marks[3].on);
}

int occurrences(const std::string& text, const std::string& part) {
  int count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// Whether `word` stands in `text` with no lower-case letter on either side, as a number printed
// as nan or inf would (path commands, which may follow one, are capitals).
bool hasWord(const std::string& text, const std::string& word) {
  const auto isLower = [&](std::size_t at) {
    return std::islower(static_cast<unsigned char>(text[at])) != 0;
  };
  for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
    const std::size_t end = at + word.size();
    if ((at == 0 || !isLower(at - 1)) && (end == text.size() || !isLower(end))) return true;
  }
  return false;
}

TEST(RenderPlot, PictureNamesItsNotesAndBreaksTracesAtGaps) {
  PlotTraces traces = startPlotTraces(100);
  for (int frame = 0; frame < 100; ++frame) {
    const float x = frame >= 40 && frame < 60 ? NotANumber : std::sin(frame * 0.3f);
    recordPlotFrame(traces, 0.0f, x, 0.5f);
  }
  const std::string svg =
      plotSvg(traces, {{0, 69, true}, {1, 70, true}, {60, 0, false}}, "a & b <song>", "settings");
  EXPECT_EQ(occurrences(svg, "<path "), 3);
  EXPECT_EQ(occurrences(svg, "Z"), 1 + 2 + 1);  // x is cut in two by its gap
  EXPECT_EQ(occurrences(svg, ">A4<"), 1);
  EXPECT_EQ(occurrences(svg, ">A#4<"), 0);  // too close to A4 to be read: left out
  EXPECT_EQ(occurrences(svg, "stroke-dasharray=\"4 3\""), 2);  // the note-off and the legend
  EXPECT_NE(svg.find("a &amp; b &lt;song&gt;"), std::string::npos);
  // A silent output still gets a sensible scale instead of a division by zero: no number
  // printed as nan or inf (whole words: "dominant-baseline" holds the letters of one).
  EXPECT_FALSE(hasWord(svg, "nan"));
  EXPECT_FALSE(hasWord(svg, "inf"));
}

TEST(RenderPlot, TextBecomesWellFormedXmlWhateverItsBytes) {
  const PlotTraces traces = startPlotTraces(0);
  // A control character, a stray byte, an overlong '/' and a surrogate become U+FFFD; valid
  // characters of every length stay.
  const std::string svg =
      plotSvg(traces, {},
              "a\x01"
              "b\xFF\xC0\xAF\xED\xA0\x80 \xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5\"",
              "");
  const std::string replaced = "\xEF\xBF\xBD";
  EXPECT_NE(svg.find(">a" + replaced + "b" + replaced + replaced + replaced + replaced + replaced +
                     replaced + " \xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5&quot;<"),
            std::string::npos);
}

}  // namespace
