// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/envelope.h"

#include <gtest/gtest.h>

#include <cmath>

#include "engine_test_support.h"

namespace {

constexpr int HandoverFrames = 1001;  // gate-open frames before the attack starts

TEST(EnvelopeSettings, ConvertSliderPositionsToSamples) {
  EXPECT_DOUBLE_EQ(attackSamplesAt(1, DefaultSampleRate), 4.40999902512187);
  EXPECT_DOUBLE_EQ(attackSamplesAt(2000, DefaultSampleRate), 132299.96983656226);
  EXPECT_EQ(decaySamplesAt(1000, DefaultSampleRate), 44100.0);
  EXPECT_EQ(decaySamplesAt(1, DefaultSampleRate), 44.1);
  EXPECT_EQ(sustainLevelAt(50), 0.5);
  EXPECT_EQ(sustainLevelAt(0), 0.0);
  EXPECT_EQ(releaseSamplesAt(1500, DefaultSampleRate), 66150.0);
}

TEST(Envelope, IsSilentBeforeTheFirstNoteFromTheVeryFirstSample) {
  auto state = startedEngine();
  for (const double level : envelopeLevels(*state, 500)) ASSERT_EQ(level, 0.0);
}

TEST(Envelope, FirstNoteWaitsOutTheHandoverThenResetsTheModel) {
  auto state = startedEngine();
  state->noteSamples = 777;
  state->x = state->y = state->z = 0.25f;
  pressKey(*state, 69);
  const auto handover = envelopeLevels(*state, 1001);
  for (const double level : handover) ASSERT_EQ(level, 0.0);
  EXPECT_EQ(state->handoverSamples, 1000);
  EXPECT_EQ(state->oscillatorReset.load(), 0);
  EXPECT_EQ(state->x, 0.25f);

  stepEnvelope(*state, state->noteSamples);  // handover sample 1001: the attack's n = 0
  EXPECT_EQ(state->envelopeLevel, 0.0);
  EXPECT_EQ(state->noteSamples, 0);
  EXPECT_EQ(state->oscillatorReset.load(), 1);
  EXPECT_EQ(state->x, 0.0f);
  EXPECT_EQ(state->y, 0.0f);
  EXPECT_EQ(state->z, 0.0f);
  EXPECT_EQ(state->lastGateSample, 0);
}

TEST(Envelope, ShortestAttackEndsAtItsRoundedLengthAndDecaysToSustain) {
  auto state = startedEngine();
  pressKey(*state, 69);
  envelopeLevels(*state, HandoverFrames);
  const auto levels = envelopeLevels(*state, 44200);
  const double attack = 4.40999902512187;
  const double expectedAttack[] = {0.0, 0.2268, 0.4535, 0.6803, 0.9070};
  for (int n = 0; n <= 4; ++n) {
    EXPECT_NEAR(levels[n], expectedAttack[n], 1e-4) << n;
    EXPECT_EQ(levels[n], n / attack) << n;
  }
  EXPECT_LT(levels[5], 1.0);  // first decay sample, just under the peak
  EXPECT_GT(levels[5], 0.9999);
  EXPECT_EQ(levels[5], 0.5 + ((attack + 44100.0 - 5) * 0.5) / 44100.0);
  EXPECT_GT(levels[44104], 0.5);  // (A + D) rounded = 44104 is the last decay sample
  EXPECT_EQ(levels[44105], 0.5);
  EXPECT_EQ(levels.back(), 0.5);
}

TEST(Envelope, SustainExtremesGiveSilenceOrAFlatTop) {
  for (const int32_t sustain : {0, 100}) {
    auto state = startedEngine();
    setEnvelopeSliders(*state, 1, 10, sustain, 1500);  // decay 441 samples
    pressKey(*state, 69);
    envelopeLevels(*state, HandoverFrames);
    const auto levels = envelopeLevels(*state, 1000);
    EXPECT_EQ(levels[446], sustain / 100.0) << sustain;
    EXPECT_EQ(levels.back(), sustain / 100.0) << sustain;
    if (sustain == 100) {
      EXPECT_EQ(levels[200], 1.0);
    }
  }
}

TEST(Envelope, ReleaseFallsInAStraightLineFromTheLastGateOpenLevel) {
  auto state = startedEngine();
  setEnvelopeSliders(*state, 1, 1, 50, 1);  // release 44.1 samples
  pressKey(*state, 69);
  envelopeLevels(*state, HandoverFrames + 100);
  releaseKey(*state, 69);
  const auto release = envelopeLevels(*state, 60);
  // Level 0.5 at the last gate-open sample, falling by 0.5 / 44.1 a sample, 0.0 from j = 44.1.
  for (int j = 0; j < 44; ++j) ASSERT_NEAR(release[j], 0.5 * (43.1 - j) / 44.1, 1e-12) << j;
  for (int j = 44; j < 60; ++j) ASSERT_EQ(release[j], 0.0) << j;
  EXPECT_EQ(state->handoverLevel, 0.0);
}

TEST(Envelope, ReleaseDuringTheHandoverStartsFromTheHandoverLevel) {
  auto state = startedEngine();
  setEnvelopeSliders(*state, 1, 1, 100, 5000);
  pressKey(*state, 60);
  envelopeLevels(*state, HandoverFrames + 10);
  releaseKey(*state, 60);
  envelopeLevels(*state, 1);  // handoverLevel is now just below 1.0
  const double startLevel = state->handoverLevel;
  pressKey(*state, 64);
  const auto levels = envelopeLevels(*state, 300);
  EXPECT_EQ(levels[0], startLevel);
  EXPECT_EQ(levels[250], 0.75 * startLevel);
  releaseKey(*state, 64);
  const double releasedFrom = levels.back();
  const auto release = envelopeLevels(*state, 2);
  EXPECT_LT(release[0], releasedFrom);
  EXPECT_GT(release[0], releasedFrom * 0.999);
}

TEST(Envelope, NoteOffAndOnBetweenTwoBlocksFadeFromTheLevelReached) {
  auto state = startedEngine();
  setEnvelopeSliders(*state, 1, 1, 100, 5000);
  pressKey(*state, 60);
  envelopeLevels(*state, HandoverFrames + 100);
  releaseKey(*state, 60);
  pressKey(*state, 62);  // no gate-closed sample in between
  const auto levels = envelopeLevels(*state, 501);
  EXPECT_EQ(levels[0], 1.0);  // the sustain the released note had reached, no jump
  EXPECT_EQ(levels[500], 0.5);
  EXPECT_EQ(state->handoverSamples, 500);
}

TEST(Envelope, LegatoKeepsTheNoteItsSettingsAndItsHandover) {
  auto state = startedEngine();
  pressKey(*state, 69);
  envelopeLevels(*state, 500);
  setEnvelopeSliders(*state, 2000, 5000, 0, 5000);  // moved while the note sounds: no effect
  pressKey(*state, 72);
  envelopeLevels(*state, 1000);
  EXPECT_EQ(state->oscillatorReset.load(), 1);
  EXPECT_EQ(state->noteSamples, 499);
  EXPECT_DOUBLE_EQ(state->attackSamples, 4.40999902512187);
  EXPECT_EQ(state->sustainLevel, 0.5);

  releaseKey(*state, 72);
  EXPECT_EQ(state->gate.load(), 1);
  releaseKey(*state, 69);
  envelopeLevels(*state, 1);
  pressKey(*state, 69);  // the next note reads the moved sliders
  envelopeLevels(*state, 1);
  EXPECT_DOUBLE_EQ(state->attackSamples, 132299.96983656226);
  EXPECT_EQ(state->sustainLevel, 0.0);
}

TEST(Envelope, ANoteAfterACloseNoticeStartsWithItsHandoverAndAttack) {
  auto state = startedEngine();
  pressKey(*state, 69);
  envelopeLevels(*state, HandoverFrames + 50000);
  handleMidiNotice(*state, MidiCloseNotice, 0);
  envelopeLevels(*state, 100000);  // the release runs out
  pressKey(*state, 69);
  const auto levels = envelopeLevels(*state, HandoverFrames + 2);
  for (int k = 0; k < HandoverFrames + 1; ++k) ASSERT_EQ(levels[k], 0.0) << k;
  EXPECT_EQ(levels.back(), 1.0 / 4.40999902512187);  // n = 1 of a fresh attack
}

// The standalone program's voice reads the window's sliders instead of its own positions.
int32_t windowPositions(int32_t control) noexcept QUILLFERN_NONBLOCKING {
  return control == AttackSlider ? 2000 : control == SustainSlider ? 0 : 1000;
}

TEST(Envelope, ReadsThePositionsThroughItsReaderWhenGivenOne) {
  auto state = startedEngine();
  state->envelopePositionReader = windowPositions;
  setEnvelopeSliders(*state, 1, 1, 50, 1);  // the voice's own, unread
  pressKey(*state, 69);
  envelopeLevels(*state, 1);
  EXPECT_DOUBLE_EQ(state->attackSamples, 132299.96983656226);
  EXPECT_EQ(state->decaySamples, 44100.0);
  EXPECT_EQ(state->sustainLevel, 0.0);
  EXPECT_EQ(state->releaseSamples, 44100.0);
}

TEST(Envelope, HandoverCountStopsJustPastTheHandoverWhileANoteIsHeld) {
  auto state = startedEngine();
  pressKey(*state, 69);
  envelopeLevels(*state, 5000);
  EXPECT_EQ(state->handoverSamples, 1001);
}

TEST(EnvelopeOverflowGuard, SilentVoiceStaysSilent) {
  auto state = startedEngine();
  pressKey(*state, 69);
  envelopeLevels(*state, HandoverFrames + 10);
  releaseKey(*state, 69);
  stepEnvelope(*state, NoteSamplesLimit + 1);
  EXPECT_EQ(state->noteSamples, 0);
  EXPECT_EQ(state->lastGateLevel, 0.0);
  EXPECT_EQ(state->envelopeLevel, 0.0);
  for (const double level : envelopeLevels(*state, 100)) ASSERT_EQ(level, 0.0);
}

TEST(EnvelopeOverflowGuard, HeldNoteGivesSustainThenStartsItsAttackAgain) {
  auto state = startedEngine();
  pressKey(*state, 69);
  envelopeLevels(*state, HandoverFrames + 10);
  state->noteSamples = NoteSamplesLimit;
  const auto levels = envelopeLevels(*state, 3);
  EXPECT_EQ(levels[0], 0.5);                     // n = 2147483640: still within limits
  EXPECT_EQ(levels[1], 0.5);                     // n = 2147483641: guarded, this sample at sustain
  EXPECT_EQ(levels[2], 1.0 / 4.40999902512187);  // n = 1: the attack again
}

TEST(EnvelopeOverflowGuard, RenderedSampleCountNeverPassesTheLimit) {
  auto state = startedEngine();
  state->noteSamples = NoteSamplesLimit - 1;
  render(*state, 4);
  EXPECT_EQ(state->noteSamples, 2);
}

}  // namespace
