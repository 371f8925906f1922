// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/oscillator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "engine_test_support.h"

namespace {

TEST(EngineStartup, HoldsTheStartupValuesAtFloatWidth) {
  auto state = startedEngine();
  EXPECT_EQ(state->paramI.load(), 3.0f);
  EXPECT_EQ(state->paramA.load(), 1.0f);
  EXPECT_EQ(state->paramB.load(), 2.5f);
  EXPECT_EQ(static_cast<double>(state->paramR.load()), 0.009999999776482582);
  EXPECT_EQ(state->paramS.load(), 4.0f);
  EXPECT_EQ(static_cast<double>(state->volume.load()), 0.30000001192092896);
  EXPECT_EQ(state->previousFrequency.load(), 100.0);
  EXPECT_EQ(state->noteFrequency.load(), 0.0);
  EXPECT_EQ(state->gate.load(), 0);
  EXPECT_EQ(state->noteSamples, 0);
}

TEST(Oscillator, IsSilentAndUntouchedBeforeTheFirstNote) {
  auto state = startedEngine();
  state->x = 0.5f;
  state->lastOutput = 0.0f;
  EXPECT_EQ(stepOscillator(*state), 0.0f);
  EXPECT_EQ(state->x, 0.5f);
  EXPECT_EQ(state->y, 0.0f);
  EXPECT_EQ(state->lastOutput, 0.0f);
}

TEST(Oscillator, OneStepAt440HzUsesTheOldStateInAllThreeEquations) {
  auto state = startedEngine();
  state->noteFrequency = 440.0;
  state->handoverSamples = 1001;
  const float output = stepOscillator(*state);
  EXPECT_EQ(static_cast<double>(state->x), 0.23999999463558197);
  EXPECT_EQ(static_cast<double>(state->y), 0.07999999821186066);
  EXPECT_EQ(static_cast<double>(state->z), 0.005119999870657921);
  EXPECT_EQ(static_cast<double>(output), 0.07200000435113907);
  EXPECT_EQ(state->lastOutput, output);
}

TEST(Oscillator, StepSizeFollowsThePeriodRoundedToWholeSamples) {
  EXPECT_EQ(static_cast<double>(timeStepFor(440.0, 8.0)), 0.07999999821186066);   // 100 samples
  EXPECT_EQ(timeStepFor(100.0, 8.0), static_cast<float>(8.0 / 441));              // 441 samples
  EXPECT_EQ(timeStepFor(261.6255653005986, 8.0), static_cast<float>(8.0 / 169));  // 168.56 -> 169
  EXPECT_EQ(timeStepFor(1000.0, 8.0), static_cast<float>(8.0 / 44));              // 44.1 -> 44
  EXPECT_EQ(timeStepFor(4186.009044809578, 8.0), static_cast<float>(8.0 / 11));   // 10.535 -> 11
  EXPECT_EQ(timeStepFor(12543.853951415975, 8.0), 2.0f);                          // 3.516 -> 4
  EXPECT_EQ(timeStepFor(8.175798915643707, 8.0), static_cast<float>(8.0 / 5394));
  // A period of exactly 2.5 samples rounds to the even 2, 3.5 to the even 4.
  EXPECT_EQ(timeStepFor(44100.0 / 2.5, 8.0), 4.0f);
  EXPECT_EQ(timeStepFor(44100.0 / 3.5, 8.0), 2.0f);
}

TEST(Oscillator, PlaysThePreviousPitchUpToAndIncludingHandoverSample1000) {
  auto handoverAt = [](int32_t handoverSamples) {
    auto state = startedEngine();
    state->noteFrequency = 440.0;
    state->previousFrequency = 1000.0;
    state->handoverSamples = handoverSamples;
    stepOscillator(*state);
    return state->y;  // y after one step from zero is exactly one time step
  };
  EXPECT_EQ(handoverAt(1000), timeStepFor(1000.0, 8.0));
  EXPECT_EQ(handoverAt(1001), timeStepFor(440.0, 8.0));
}

TEST(Oscillator, PassesLargeOutputsOnUnscaledAndUnlimited) {
  auto state = startedEngine();
  state->noteFrequency = 440.0;
  state->handoverSamples = 1001;
  state->volume = 1.0f;
  state->x = 2.0f;
  const float output = stepOscillator(*state);
  EXPECT_GT(output, 1.0f);
  EXPECT_EQ(output, state->x);
}

// A model that runs away (note 86 with the start-up parameters; note 127 at Vol 30 %, I 5.0,
// b 3.31, r 0.3, a 2.0) is silent from its first step past RunAwayBound and no longer stepped:
// neither a legato note nor a slider move brings it back; the next note's reset does.
TEST(Oscillator, RunAwayModelIsSilentFromItsFirstStepPastTheBoundUntilTheNextNote) {
  const struct {
    int32_t note;
    std::vector<std::pair<int32_t, int32_t>> controls;
  } cases[] = {
      {86, {}},
      {127, {{VolumeSlider, 30}, {ISlider, 1000}, {BSlider, 700}, {RSlider, 100}, {ASlider, 60}}}};
  for (const auto& runAway : cases) {
    auto state = startedEngine();
    for (const auto& [control, position] : runAway.controls) {
      setVoiceControl(*state, control, position);
    }
    pressKey(*state, runAway.note);
    const std::vector<float> samples = render(*state, 20000);
    float loudest = 0.0f;
    for (const float sample : samples) loudest = std::max(loudest, std::fabs(sample));
    EXPECT_LE(loudest, BoundedModelPeak * state->volume.load()) << runAway.note;
    ASSERT_TRUE(hasRunAway(state->x)) << runAway.note;
    EXPECT_EQ(state->lastOutput, 0.0f);

    pressKey(*state, 60);
    setVoiceControl(*state, ISlider, 1);
    for (const float sample : render(*state, 3000)) ASSERT_EQ(sample, 0.0f) << runAway.note;
    EXPECT_TRUE(hasRunAway(state->x));

    releaseKey(*state, 60);
    releaseKey(*state, runAway.note);
    pressKey(*state, 60);
    loudest = 0.0f;
    for (const float sample : render(*state, 20000)) loudest = std::max(loudest, std::fabs(sample));
    EXPECT_GT(loudest, 0.1f) << runAway.note;
  }
}

}  // namespace
