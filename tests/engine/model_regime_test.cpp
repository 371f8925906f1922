// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/model_regime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <utility>
#include <vector>

#include "engine_test_support.h"

namespace {

// Two seconds of x at 44100 Hz after a second's settling, with the voice's controls moved to
// the given positions and `note` held (no note: -1).
std::vector<float> heldNoteX(int32_t note,
                             std::initializer_list<std::pair<int32_t, int32_t>> moves) {
  auto state = startedEngine();
  for (const auto& [control, position] : moves) setVoiceControl(*state, control, position);
  if (note >= 0) pressKey(*state, note);
  std::vector<float> sound(44100);
  renderFrames(*state, sound.data(), sound.size());
  std::vector<float> x;
  for (int frame = 0; frame < 88200; ++frame) {
    renderFrames(*state, sound.data(), 1);
    x.push_back(state->x);
  }
  return x;
}

// Settings a player would call by these names, heard and seen on a scope; each regime's
// neighbours are among the others, so a measure that drifts shows as a wrong name.
TEST(ModelRegime, NamesTheRegimeOfHeldNotes) {
  EXPECT_EQ(regimeOf(heldNoteX(-1, {})), ModelRegime::Silent);
  EXPECT_EQ(regimeOf(heldNoteX(57, {{RSlider, 100}})), ModelRegime::Silent);
  EXPECT_EQ(regimeOf(heldNoteX(57, {{ISlider, 900}})), ModelRegime::Spiking);
  EXPECT_EQ(regimeOf(heldNoteX(57, {{SCheckBox, 0}, {ISlider, 600}})), ModelRegime::Spiking);
  EXPECT_EQ(regimeOf(heldNoteX(57, {})), ModelRegime::Bursting);
  EXPECT_EQ(regimeOf(heldNoteX(33, {})), ModelRegime::Bursting);
  EXPECT_EQ(regimeOf(heldNoteX(57, {{RSlider, 1}})), ModelRegime::Bursting);
  EXPECT_EQ(regimeOf(heldNoteX(57, {{ISlider, 700}, {RSlider, 40}})), ModelRegime::Chaotic);
  EXPECT_EQ(regimeOf(heldNoteX(57, {{SCheckBox, 0}})), ModelRegime::Chaotic);
  EXPECT_EQ(regimeOf(heldNoteX(90, {})), ModelRegime::RunAway);
}

// A run-away earlier in the stretch is over once a new note has restarted the model; one at the
// end is the present. Regular bursts are counted whole only between two pauses.
TEST(ModelRegime, JudgesOnlyWhatFollowedTheLatestRunAway) {
  std::vector<float> x = heldNoteX(57, {{ISlider, 900}});
  x[10] = NAN;
  x[20] = 1e9f;
  EXPECT_EQ(regimeOf(x), ModelRegime::Spiking);
  x.back() = INFINITY;
  EXPECT_EQ(regimeOf(x), ModelRegime::RunAway);
  const SpikeMeasures bursts = measureSpikes(heldNoteX(57, {}));
  EXPECT_GE(bursts.bursts, 10);
  EXPECT_TRUE(bursts.burstsAlike);
  EXPECT_GT(bursts.longestInterval, 10 * bursts.shortestInterval);
}

}  // namespace
