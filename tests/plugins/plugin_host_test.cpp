// Both plugins played through our own offline hosts must sound exactly as the renderer does:
// scores in any block size, two instances side by side, a saved and reloaded session.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/oscillator.h"
#include "engine/voice.h"
#include "engine/voice_controls.h"
#include "plugins/hosts/plugin_host.h"
#include "plugins/plugin_parameters.h"
#include "tools/score_render.h"

namespace {

constexpr double Rate = 44100.0;
const std::vector<std::string> Plugins = {QUILLFERN_CLAP_PATH, QUILLFERN_LV2_BUNDLE};

Score scoreFrom(const std::string& text) {
  std::istringstream input(text);
  Score score;
  std::string error;
  EXPECT_TRUE(parseScore(input, "test", score, error)) << error;
  return score;
}

Score scoreFile(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return scoreFrom(text.str());
}

std::vector<float> rendered(const Score& score) {
  std::vector<float> samples;
  renderScore(score, DefaultBlockFrames, [&](const float* block, int64_t frames) {
    samples.insert(samples.end(), block, block + frames);
  });
  return samples;
}

HostedPluginPtr open(const std::string& path, int32_t maxBlock = 4096, double rate = Rate) {
  std::string error;
  HostedPluginPtr plugin = openPlugin(path, rate, maxBlock, error);
  EXPECT_TRUE(plugin) << path << ": " << error;
  return plugin;
}

// The index of the first differing sample, or -1: a readable failure for long sounds.
int64_t firstDifference(const std::vector<float>& a, const std::vector<float>& b) {
  if (a.size() != b.size()) return 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return static_cast<int64_t>(i);
  }
  return -1;
}

// Every block size at 44100 Hz; other rates against the renderer at that rate.
TEST(PluginHosts, EveryScoreInEveryBlockSizeAndRateSoundsAsTheRendererDoes) {
  struct Setting {
    double rate;
    int32_t block;
  };
  const Setting settings[] = {{Rate, 1},    {Rate, 33},     {Rate, 256},
                              {Rate, 4096}, {48000.0, 256}, {96000.0, 333}};
  for (const std::string& name : {std::string(QUILLFERN_SCORES "/demo.score"),
                                  std::string(QUILLFERN_TEST_SCORES "/moves.score")}) {
    for (const Setting& setting : settings) {
      const Score score = scoreAtRate(scoreFile(name), setting.rate);
      const std::vector<float> expected = rendered(score);
      for (const std::string& path : Plugins) {
        HostedPluginPtr plugin = open(path, setting.block, setting.rate);
        EXPECT_EQ(firstDifference(playScore(*plugin, score, setting.block), expected), -1)
            << path << " " << name << " at " << setting.rate << " Hz in blocks of "
            << setting.block;
        EXPECT_EQ(pluginLatencyOf(*plugin), latencySamplesAt(setting.rate)) << path;
      }
    }
  }
}

TEST(PluginHosts, TwoInstancesSideBySideEachSoundAsAlone) {
  const Score first = scoreFrom(
      "0 control 5 300\n0 control 19 20\n0 midi 90 62 100\n30000 midi 80 62 0\n50000 end\n");
  const Score second = scoreFrom(
      "0 control 5 1500\n0 control 17 900\n0 control 7 10\n100 midi 90 50 100\n"
      "20000 control 18 900\n40000 midi 80 50 0\n50000 end\n");
  for (const std::string& path : Plugins) {
    HostedPluginPtr one = open(path);
    HostedPluginPtr two = open(path);
    std::vector<float> oneOut(first.endFrame), twoOut(second.endFrame);
    ScoreCursor oneCursor{&first}, twoCursor{&second};
    while (oneCursor.frame < first.endFrame || twoCursor.frame < second.endFrame) {
      playBlock(*one, oneCursor, 256, oneOut.data() + oneCursor.frame);
      playBlock(*two, twoCursor, 100, twoOut.data() + twoCursor.frame);
    }
    EXPECT_EQ(firstDifference(oneOut, rendered(first)), -1) << path;
    EXPECT_EQ(firstDifference(twoOut, rendered(second)), -1) << path;
  }
}

// b moved away and back to its initial position is changed (2.5004 instead of the start-up
// 2.5); a reloaded session must keep that, as well as r and the channel.
TEST(PluginHosts, ASavedSessionReloadedInANewInstanceSoundsTheSame) {
  const Score settings = scoreFrom("0 control 19 60\n0 control 18 500\n1 control 18 348\n3 end\n");
  const Score song = scoreFrom("0 midi 92 60 100\n20000 midi 82 60 0\n40000 end\n");
  for (const std::string& path : Plugins) {
    HostedPluginPtr saved = open(path);
    presetParameter(*saved, ChannelParameterId, 3);
    playScore(*saved, settings, 256);
    std::string state;
    ASSERT_TRUE(savePluginState(*saved, state)) << path;
    const std::vector<float> before = playScore(*saved, song, 256);

    HostedPluginPtr loaded = open(path);
    ASSERT_TRUE(loadPluginState(*loaded, state)) << path;
    EXPECT_EQ(firstDifference(playScore(*loaded, song, 256), before), -1) << path;
    HostedPluginPtr fresh = open(path);
    EXPECT_NE(firstDifference(playScore(*fresh, song, 256), before), -1) << path;
  }
  HostedPluginPtr clap = open(QUILLFERN_CLAP_PATH);
  EXPECT_FALSE(loadPluginState(*clap, "quillfern-plugin-state 1\nr 400 1\n"));
  EXPECT_FALSE(loadPluginState(*clap, "not a state"));
}

// Channel 3 plays what channel 1 plays by default; Omni plays every channel.
TEST(PluginHosts, TheMidiChannelParameterChoosesTheChannel) {
  const std::string notes = "10 midi 92 60 100\n9000 midi 82 60 0\n10000 end\n";
  const std::vector<float> expected =
      rendered(scoreFrom("10 midi 90 60 100\n9000 midi 80 60 0\n10000 end\n"));
  for (const std::string& path : Plugins) {
    for (const int32_t channel : {OmniChannel, 3}) {
      HostedPluginPtr plugin = open(path);
      presetParameter(*plugin, ChannelParameterId, channel);
      EXPECT_EQ(firstDifference(playScore(*plugin, scoreFrom(notes), 64), expected), -1) << path;
    }
    HostedPluginPtr deaf = open(path);
    const std::vector<float> silent = playScore(*deaf, scoreFrom(notes), 64);
    EXPECT_EQ(silent, std::vector<float>(silent.size(), 0.0f)) << path;
    // Moving to another channel while a key is held releases it: no note is left hanging.
    HostedPluginPtr moved = open(path);
    const Score held = scoreFrom("0 midi 90 60 100\n9000 midi 80 60 0\n10000 end\n");
    ScoreCursor cursor{&held};
    std::vector<float> played(held.endFrame);
    playBlock(*moved, cursor, 3000, played.data());
    presetParameter(*moved, ChannelParameterId, 2);
    while (cursor.frame < held.endFrame)
      playBlock(*moved, cursor, 64, played.data() + cursor.frame);
    EXPECT_EQ(firstDifference(played, rendered(scoreFrom("0 midi 90 60 100\n3000 close\n"
                                                         "10000 end\n"))),
              -1)
        << path;
  }
}

// The host's transport stopping while a key is held releases the voice, as the MIDI port's
// close does in the window.
TEST(PluginHosts, StoppingTheTransportReleasesTheVoice) {
  const Score held = scoreFrom("0 midi 90 60 100\n30000 end\n");
  const std::vector<float> expected =
      rendered(scoreFrom("0 midi 90 60 100\n10000 close\n30000 end\n"));
  for (const std::string& path : Plugins) {
    HostedPluginPtr plugin = open(path);
    std::vector<float> played(held.endFrame);
    ScoreCursor cursor{&held};
    setTransport(*plugin, true);
    while (cursor.frame < held.endFrame) {
      if (cursor.frame == 10000) setTransport(*plugin, false);
      const int64_t untilStop = cursor.frame < 10000 ? 10000 - cursor.frame : 256;
      playBlock(*plugin, cursor, std::min<int64_t>(untilStop, 256), played.data() + cursor.frame);
    }
    EXPECT_EQ(firstDifference(played, expected), -1) << path;
  }
}

// A model that runs away on its way up reaches the host as silence from its first step past
// the bound: no sample louder than a bounded model's, and the renderer's sound.
TEST(PluginHosts, ARunAwayModelIsNoLouderThanABoundedOne) {
  const Score score = scoreFile(QUILLFERN_TEST_SCORES "/run_away.score");
  const std::vector<float> expected = rendered(score);
  for (const std::string& path : Plugins) {
    HostedPluginPtr plugin = open(path);
    const std::vector<float> played = playScore(*plugin, score, 256);
    float loudest = 0.0f;
    for (const float sample : played) loudest = std::max(loudest, std::fabs(sample));
    EXPECT_LE(loudest, BoundedModelPeak * volumeAt(30)) << path;
    EXPECT_EQ(firstDifference(played, expected), -1) << path;
  }
}

TEST(PluginParameters, ValuesReadAsPhysicalUnitsAndBack) {
  struct Case {
    uint32_t id;
    int32_t position;
    const char* text;
  };
  for (const Case& pinned :
       {Case{19, 47, "0.0098"}, Case{17, 500, "3.000"}, Case{6, 250, "250 ms"}, Case{7, 50, "50 %"},
        Case{5, 1, "0.10 ms"}, Case{26, 30, "30 %"}, Case{27, 1, "4.0"}, Case{27, 0, "2.8"},
        Case{100, 0, "Omni"}, Case{100, 16, "16"}, Case{18, 348, "2.500"}}) {
    const PluginParameter& parameter = pluginParameters()[parameterIndexOfId(pinned.id)];
    char text[32];
    formatParameterValue(parameter, pinned.position, text, sizeof text);
    EXPECT_STREQ(text, pinned.text) << parameter.symbol;
    int32_t position = -1;
    EXPECT_TRUE(parseParameterText(parameter, pinned.text, position));
    EXPECT_EQ(position, pinned.position) << parameter.symbol;
  }
  int32_t position = 0;
  EXPECT_FALSE(parseParameterText(pluginParameters()[0], "fast", position));
}

}  // namespace
