// SPDX-License-Identifier: GPL-3.0-or-later
// Fourteen hours of one held note, rendered offline like any score: long enough that the
// note's sample count passes its overflow guard for real. The output is looked at as it
// streams by and never kept, so memory stays flat however long the render.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>

#include "engine/envelope.h"
#include "engine/render.h"
#include "engine/voice.h"
#include "tools/score.h"
#include "tools/score_render.h"

namespace {

constexpr int64_t FramesPerHour = 3600LL * 44100;
constexpr int64_t SoakFrames = 14 * FramesPerHour;
// The key goes down at frame 0; after the handover the attack starts with its count at 0.
constexpr int64_t AttackFrame = HandoverLimit + 1;
// The first frame whose count is past the limit: the guard sets the count back to 0 there.
constexpr int64_t CrossingFrame = AttackFrame + int64_t{NoteSamplesLimit} + 1;
constexpr int64_t WindowFrames = 2000;  // 20 periods at 440 Hz
constexpr int64_t StretchFrames = 10 * 60 * 44100;
constexpr int32_t BlockFrames = 4096;

// What the soak saw, gathered block by block.
struct SoakFindings {
  int64_t frames = 0;
  int64_t nonFinite = 0;
  int64_t silentStretches = 0;  // ten-minute stretches without a single non-zero sample
  float stretchPeak = 0.0f;
  int64_t zerosAfterAttack = 0;  // exact zeros after the first attack's first sample
  int64_t firstZeroAfterAttack = -1;
  float peakBeforeCrossing = 0.0f;  // over the window just before the crossing
  float lastBeforeCrossing = 0.0f;
  float peakAfterFadeIn = 0.0f;  // over a window from the end of the new fade-in
  float fadeInExcess = 0.0f;     // largest |sample| / fade-in factor over the new fade-in
};

void look(SoakFindings& seen, float sample) {
  const int64_t frame = seen.frames++;
  const float magnitude = std::fabs(sample);
  if (!std::isfinite(sample)) ++seen.nonFinite;
  seen.stretchPeak = std::max(seen.stretchPeak, magnitude);
  if ((frame + 1) % StretchFrames == 0 || frame + 1 == SoakFrames) {
    if (seen.stretchPeak == 0.0f) ++seen.silentStretches;
    seen.stretchPeak = 0.0f;
  }
  if (frame > AttackFrame && sample == 0.0f) {
    if (seen.zerosAfterAttack++ == 0) seen.firstZeroAfterAttack = frame;
  }
  const int64_t sinceCrossing = frame - CrossingFrame;
  if (sinceCrossing >= -WindowFrames && sinceCrossing < 0) {
    seen.peakBeforeCrossing = std::max(seen.peakBeforeCrossing, magnitude);
    seen.lastBeforeCrossing = sample;
  }
  if (sinceCrossing > 0 && sinceCrossing < FadeInSamples) {
    const auto fade =
        static_cast<float>(fadeInFactor(static_cast<int32_t>(sinceCrossing), FadeInSamples));
    seen.fadeInExcess = std::max(seen.fadeInExcess, magnitude / fade);
  }
  if (sinceCrossing >= FadeInSamples && sinceCrossing < FadeInSamples + WindowFrames) {
    seen.peakAfterFadeIn = std::max(seen.peakAfterFadeIn, magnitude);
  }
}

TEST(Soak, FourteenHoursOfOneHeldNotePassTheSampleCountGuard) {
  static_assert(CrossingFrame < SoakFrames - FadeInSamples - WindowFrames);
  std::istringstream text("0 midi 90 69 100\n" + std::to_string(SoakFrames) + " end\n");
  Score score;
  std::string error;
  ASSERT_TRUE(parseScore(text, "soak", score, error)) << error;

  SoakFindings seen;
  renderScore(score, BlockFrames, [&seen](const float* samples, int64_t frames) {
    for (int64_t i = 0; i < frames; ++i) look(seen, samples[i]);
  });

  EXPECT_EQ(seen.frames, SoakFrames);
  EXPECT_EQ(seen.nonFinite, 0);
  EXPECT_EQ(seen.silentStretches, 0);
  // The guard acts on exactly one frame: the fade-in starts again from nothing there, and no
  // other sample of the held note is silent.
  EXPECT_EQ(seen.firstZeroAfterAttack, CrossingFrame);
  EXPECT_EQ(seen.zerosAfterAttack, 1);
  // Up to the crossing the note sounds at its sustain level (0.5 with the panel's sliders).
  EXPECT_NE(seen.lastBeforeCrossing, 0.0f);
  EXPECT_GT(seen.peakBeforeCrossing, 0.0f);
  // Then a new fade-in: no sample above what the fade lets through of the model at full level.
  const float fullLevelPeak = seen.peakBeforeCrossing / 0.5f;
  EXPECT_LE(seen.fadeInExcess, fullLevelPeak * 1.01f);
  // And a new attack: full level (1.0) again, decaying to sustain over a second, so the note
  // is near twice as loud right after the fade-in as just before the crossing.
  EXPECT_GT(seen.peakAfterFadeIn, 1.8f * seen.peakBeforeCrossing);
  EXPECT_LE(seen.peakAfterFadeIn, 2.0f * seen.peakBeforeCrossing * 1.01f);
}

}  // namespace
