// A score rendered at other sample rates sounds the same: the envelope's times keep their
// durations and a held note spikes as often, up to what a finer Euler step changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <sstream>
#include <vector>

#include "tools/decimator.h"
#include "tools/score.h"
#include "tools/score_render.h"

namespace {

// A1 held for four seconds, with an attack of about 0.23 s, a decay of 0.3 s and a release of
// 0.4 s, frames at 44100 Hz. With s = 2.8 and I = 5.0 the neuron spikes regularly, so that its
// rate is one number; in bursts the count per burst jumps with the smallest change of step.
constexpr const char* HeldNote =
    "0 control 5 1500\n0 control 6 300\n0 control 7 40\n0 control 8 400\n"
    "0 control 27 0\n0 control 17 1000\n"
    "0 midi 90 33 100\n176400 midi 80 33 0\n198450 end\n";

struct Timing {
  double handover = 0.0;  // seconds from the note-on to the attack's first sample
  double attack = 0.0;    // to the peak
  double decay = 0.0;     // from the peak down to the sustain level
  double release = 0.0;   // from the key's release to silence
  double spikesPerSecond = 0.0;
};

Timing timingAt(double sampleRate) {
  std::istringstream text(HeldNote);
  Score score;
  std::string error;
  EXPECT_TRUE(parseScore(text, "held", score, error)) << error;
  score = scoreAtRate(score, sampleRate);
  const int64_t releaseFrame = score.events.back().frame;

  int64_t frame = 0, attackStart = -1, peak = -1, sustained = -1, silent = -1;
  int64_t spikes = 0, firstSpike = -1, lastSpike = -1;
  bool armed = true;
  renderScore(
      score, 256, [](const float*, int64_t) {},
      [&](const EngineState& state, float) {
        const double level = state.envelopeLevel;
        if (attackStart < 0 && level > 0.0) attackStart = frame - 1;  // n = 0 is silent
        if (peak < 0 && level >= 1.0 - 1e-3) peak = frame;
        if (sustained < 0 && peak >= 0 && level <= 0.4 + 1e-3) sustained = frame;
        if (silent < 0 && frame >= releaseFrame && level == 0.0) silent = frame;
        if (sustained >= 0 && frame < releaseFrame && armed && state.x > 1.0f) {
          if (spikes++ == 0) firstSpike = frame;
          lastSpike = frame;
          armed = false;
        }
        if (state.x < 0.0f) armed = true;
        ++frame;
      });
  return {attackStart / sampleRate, (peak - attackStart) / sampleRate,
          (sustained - peak) / sampleRate, (silent - releaseFrame) / sampleRate,
          (spikes - 1) / ((lastSpike - firstSpike) / sampleRate)};
}

TEST(RenderRate, TimesKeepTheirDurationsAndAHeldNoteItsSpikeRate) {
  const Timing reference = timingAt(DefaultSampleRate);
  ASSERT_GT(reference.spikesPerSecond, 50.0);  // about 84
  for (const double rate : {48000.0, 96000.0}) {
    const Timing timing = timingAt(rate);
    EXPECT_NEAR(timing.handover / reference.handover, 1.0, 0.01) << rate;
    EXPECT_NEAR(timing.attack / reference.attack, 1.0, 0.01) << rate;
    EXPECT_NEAR(timing.decay / reference.decay, 1.0, 0.01) << rate;
    EXPECT_NEAR(timing.release / reference.release, 1.0, 0.01) << rate;
    EXPECT_NEAR(timing.spikesPerSecond / reference.spikesPerSecond, 1.0, 0.02) << rate;
  }
}

// The one scaling both the renderer and a test host use: the frame during which the moment
// falls, exact however large the frame.
TEST(RenderRate, FramesScaleDownToTheFrameTheirMomentFallsIn) {
  EXPECT_EQ(framesAtRate(44100, 44100.0, 96000.0), 96000);
  EXPECT_EQ(framesAtRate(1, 44100.0, 48000.0), 1);  // 1.088 frames
  EXPECT_EQ(framesAtRate(44099, 44100.0, 22050.0), 22049);
  EXPECT_EQ(framesAtRate(INT64_MAX / 2, 44100.0, 44100.0), INT64_MAX / 2);
  EXPECT_EQ(framesAtRate(INT64_MAX, 44100.0, 192000.0), INT64_MAX);
}

// Opus at 8000, 12000 and 16000 Hz is lowered from 48000 Hz: what lies well below the new
// Nyquist frequency passes unchanged and undelayed, what lies above it (and would fold back
// into the sound) is gone, and every factor-th sample remains.
TEST(RenderRate, LoweringTheRateKeepsWhatTheNewRateCarriesAndNothingElse) {
  constexpr int64_t Frames = 48000;
  for (const int32_t factor : {3, 4, 6}) {
    const double outputRate = 48000.0 / factor;
    for (const auto& [fraction, gain] : {std::pair{0.3, 1.0}, {0.55, 0.0}}) {
      std::vector<float> input(Frames);
      const double step = 2.0 * std::numbers::pi * fraction * outputRate / 48000.0;
      for (int64_t frame = 0; frame < Frames; ++frame) {
        input[static_cast<std::size_t>(frame)] = static_cast<float>(std::sin(step * frame));
      }
      Decimator decimator = decimatorFor(factor);
      std::vector<float> output, block;
      for (int64_t start = 0; start < Frames; start += 1000) {  // in blocks, as a render goes
        decimate(decimator, input.data() + start, 1000, block);
        output.insert(output.end(), block.begin(), block.end());
      }
      finishDecimating(decimator, Frames / factor, block);
      output.insert(output.end(), block.begin(), block.end());
      ASSERT_EQ(output.size(), static_cast<std::size_t>(Frames / factor)) << factor;
      // Away from the ends, where the filter meets the silence around the input.
      for (std::size_t index = 200; index + 200 < output.size(); ++index) {
        const double expected = gain * std::sin(step * static_cast<double>(index) * factor);
        ASSERT_NEAR(output[index], expected, 2e-3) << factor << " " << fraction << " " << index;
      }
    }
  }
}

}  // namespace
