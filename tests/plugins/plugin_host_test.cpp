// SPDX-License-Identifier: GPL-3.0-or-later
// Both plugins played through our own offline hosts must sound exactly as the renderer does:
// scores in any block size, two instances side by side, a saved and reloaded session.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "engine/instrument.h"
#include "engine/oscillator.h"
#include "engine/voice.h"
#include "engine/voice_controls.h"
#include "instrument/instrument_voice.h"
#include "instrument/parameters.h"
#include "tests/tools/score_text.h"
#include "tools/plugin_host/plugin_host.h"
#include "tools/score_render.h"

namespace {

constexpr double Rate = 44100.0;
const std::vector<std::string> Plugins = {QUILLFERN_CLAP_PATH, QUILLFERN_LV2_BUNDLE};

Score scoreFile(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return scoreFrom(text.str());
}

std::vector<float> rendered(const Score& score, const ParameterValues& values = rendererValues()) {
  std::vector<float> samples;
  renderScore(
      score, DefaultBlockFrames,
      [&](const float* block, int64_t frames) {
        samples.insert(samples.end(), block, block + frames);
      },
      {}, {}, values);
  return samples;
}

// A plugin with its DC filter, stable steps and Key mode off, as the renderer plays unless told
// otherwise: the window's sound.
HostedPluginPtr open(const std::string& path, int32_t maxBlock = 4096, double rate = Rate) {
  std::string error;
  HostedPluginPtr plugin = openPlugin(path, rate, maxBlock, error);
  EXPECT_TRUE(plugin) << path << ": " << error;
  if (!plugin) return plugin;
  presetParameter(*plugin, DcFilterSetting, 0.0);
  presetParameter(*plugin, StableStepsSetting, 0.0);
  presetParameter(*plugin, PitchSetting, 0.0);
  return plugin;
}

ParameterValues inModelMode(ParameterValues values) {
  values.value[parameterIndexOfId(PitchSetting)] = static_cast<double>(PitchMode::Model);
  return values;
}

// The index of the first differing sample, or -1: a readable failure for long sounds.
int64_t firstDifference(const std::vector<float>& a, const std::vector<float>& b) {
  if (a.size() != b.size()) return 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return static_cast<int64_t>(i);
  }
  return -1;
}

// Every window control moved through a sample of its positions, each followed by a note, so
// that an envelope setting is heard too: what a host does when it sets each position's value.
Score positionsScore() {
  std::string text;
  int64_t frame = 0;
  int32_t note = 48;
  for (const VoiceControl& control : voiceControls()) {
    constexpr int32_t Samples = 9;
    for (int32_t sample = 0; sample <= Samples; ++sample) {
      const int32_t position =
          sample == Samples
              ? control.initial
              : control.minimum + (control.maximum - control.minimum) * sample / (Samples - 1);
      note = 48 + (note - 47) % 24;
      text += std::to_string(frame) + " control " + std::to_string(control.number) + " " +
              std::to_string(position) + "\n" + std::to_string(frame + 1) + " midi 90 " +
              std::to_string(note) + " 100\n" + std::to_string(frame + 1100) + " midi 80 " +
              std::to_string(note) + " 0\n";
      frame += 1200;
    }
  }
  return scoreFrom(text + std::to_string(frame + 20000) + " end\n");
}

// Key mode measures its cycle sample by sample while controls move: the same at every block size.
TEST(PluginHosts, KeyModeInEveryBlockSizeSoundsAsTheRendererDoes) {
  ParameterValues keyed = rendererValues();
  keyed.value[parameterIndexOfId(PitchSetting)] = static_cast<double>(PitchMode::Key);
  const Score scores[] = {scoreFile(QUILLFERN_SCORES "/demo.score"),
                          scoreFile(QUILLFERN_TEST_SCORES "/moves.score")};
  for (const Score& original : scores) {
    for (const double rate : {Rate, 96000.0}) {
      const Score score = scoreAtRate(original, rate);
      const std::vector<float> expected = rendered(score, keyed);
      for (const int32_t block : {1, 33, 4096}) {
        for (const std::string& path : Plugins) {
          HostedPluginPtr plugin = open(path, block, rate);
          presetParameter(*plugin, PitchSetting, static_cast<double>(PitchMode::Key));
          EXPECT_EQ(firstDifference(playScore(*plugin, score, block), expected), -1)
              << path << " at " << rate << " Hz in blocks of " << block;
        }
      }
    }
  }
}

// Every block size at every rate, against the renderer at that rate.
TEST(PluginHosts, EveryScoreInEveryBlockSizeAndRateSoundsAsTheRendererDoes) {
  const Score scores[] = {scoreFile(QUILLFERN_SCORES "/demo.score"),
                          scoreFile(QUILLFERN_TEST_SCORES "/moves.score"), positionsScore()};
  for (const Score& original : scores) {
    for (const double rate : {Rate, 48000.0, 96000.0}) {
      const Score score = scoreAtRate(original, rate);
      const std::vector<float> expected = rendered(score);
      for (const int32_t block : {1, 33, 256, 4096}) {
        for (const std::string& path : Plugins) {
          HostedPluginPtr plugin = open(path, block, rate);
          EXPECT_EQ(firstDifference(playScore(*plugin, score, block), expected), -1)
              << path << " " << score.events.size() << " events at " << rate << " Hz in blocks of "
              << block;
          EXPECT_EQ(pluginLatencyOf(*plugin), latencySamplesAt(rate)) << path;
        }
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

// A new instance and one whose parameters went elsewhere and back to their defaults play
// the voice's start-up values, as the renderer does with no control moved.
TEST(PluginHosts, ResetToDefaultsSoundsAsAFreshInstance) {
  const Score song = scoreFrom("1 midi 90 57 100\n30000 midi 80 57 0\n50000 end\n");
  const std::vector<float> expected = rendered(song, defaultValues());
  for (const std::string& path : Plugins) {
    std::string error;
    HostedPluginPtr fresh = openPlugin(path, Rate, 4096, error);
    EXPECT_EQ(firstDifference(playScore(*fresh, song, 256), expected), -1) << path;
    // Key mode's tuning follows the controls over the next few milliseconds: a reset is exact
    // in Model mode.
    HostedPluginPtr reset = open(path);
    for (const InstrumentParameter& parameter : instrumentParameters()) {
      if (parameter.id != PitchSetting) presetParameter(*reset, parameter.id, parameter.maximum);
    }
    std::vector<float> played(song.endFrame);
    ScoreCursor cursor{&song};
    playBlock(*reset, cursor, 1, played.data());
    for (const InstrumentParameter& parameter : instrumentParameters()) {
      if (parameter.id != PitchSetting)
        presetParameter(*reset, parameter.id, parameter.defaultValue);
    }
    while (cursor.frame < song.endFrame) {
      playBlock(*reset, cursor, 256, played.data() + cursor.frame);
    }
    EXPECT_EQ(firstDifference(played, rendered(song, inModelMode(defaultValues()))), -1) << path;
  }
}

// Each setting of the instrument's parameters with the messages it acts on, played by both
// plugins (and, for the CLAP dialect, as CLAP's note events) exactly as the renderer plays it.
struct InstrumentCase {
  std::vector<std::pair<uint32_t, double>> parameters;  // by CLAP id
  std::string score;
  double clapBendRange = 0.0;  // above 0: CLAP notes, bends as tuning over this range
};

const std::vector<InstrumentCase> InstrumentCases = {
    {{{BendRangeSetting, 12.0}},
     "0 midi 90 57 100\n5000 midi E0 0 96\n12000 midi E0 0 20\n18000 midi E0 0 64\n"
     "20000 midi 90 60 100\n24000 midi 80 60 0\n25000 midi 80 57 0\n30000 end\n"},
    {{{WheelDepthSetting, 1.5}, {PressureDepthSetting, -1.0}},
     "0 midi 90 57 100\n4000 midi B0 1 64\n9000 midi D0 100\n14000 midi A0 57 127\n"
     "17000 midi A0 50 127\n20000 midi B0 1 0\n26000 midi 80 57 0\n30000 end\n"},
    {{{VelocitySetting, 1.0}, {NoteModeSetting, 2.0}},
     "0 midi 90 57 30\n8000 midi 90 60 127\n16000 midi 90 62 64\n20000 midi 80 60 0\n"
     "22000 midi 80 62 0\n23000 midi 80 57 0\n30000 end\n"},
    {{{NoteModeSetting, 1.0}},
     "0 midi B0 64 127\n10 midi 90 57 100\n5000 midi 90 64 100\n9000 midi 80 64 0\n"
     "12000 midi 80 57 0\n15000 midi 90 60 90\n18000 midi B0 64 0\n20000 midi 80 60 0\n"
     "30000 end\n"},
    {{{GlideSetting, 0.0625}, {NoteModeSetting, 1.0}},
     "0 midi 90 45 100\n6000 midi 90 57 100\n14000 midi 80 57 0\n22000 midi 80 45 0\n"
     "30000 end\n"},
    {{{StableStepsSetting, 1.0}, {DcFilterSetting, 1.0}},
     "0 midi 90 100 100\n10000 midi 90 127 100\n20000 midi 80 127 0\n21000 midi 80 100 0\n"
     "30000 end\n"},
    {{{BendRangeSetting, 4.0}, {PressureDepthSetting, 2.0}},
     "0 midi 90 57 100\n5000 midi E0 0 96\n9000 midi A0 57 100\n14000 midi E0 0 64\n"
     "20000 midi 80 57 0\n22000 midi 90 60 50\n28000 midi 80 60 0\n30000 end\n",
     4.0},
    // Notes started at once: a retrigger fading out the held note, another within that fade,
    // a note from a release, and one from silence.
    {{{NoteStartSetting, 1.0}, {NoteModeSetting, 2.0}, {VelocitySetting, 0.5}},
     "0 midi 90 57 100\n6000 midi 90 60 127\n6400 midi 90 64 60\n12000 midi 80 64 0\n"
     "12000 midi 80 60 0\n12500 midi 80 57 0\n13000 midi 90 45 100\n16000 midi 80 45 0\n"
     "28000 midi 90 50 100\n30000 end\n"},
    // Chords: bent, under the pedal, voices stolen (handover, at once), from MIDI and CLAP notes.
    {{{VoicesParameterId, 8.0}, {VelocitySetting, 1.0}},
     "0 midi 90 57 100\n10 midi 90 61 60\n20 midi 90 64 127\n5000 midi B0 64 127\n"
     "8000 midi E0 0 80\n12000 midi 80 61 0\n14000 midi 90 61 90\n16000 midi 80 57 0\n"
     "20000 midi B0 64 0\n22000 midi 80 64 0\n24000 midi 80 61 0\n30000 end\n"},
    {{{VoicesParameterId, 3.0}, {NoteStartSetting, 1.0}},
     "0 midi 90 57 100\n3000 midi 90 60 100\n6000 midi 90 64 100\n8000 midi 80 60 0\n"
     "9000 midi 90 67 100\n12000 midi 90 71 100\n20000 midi 80 57 0\n20000 midi 80 64 0\n"
     "21000 midi 80 67 0\n22000 midi 80 71 0\n30000 end\n"},
    {{{VoicesParameterId, 2.0}},
     "0 midi 90 57 100\n3000 midi 90 60 100\n6000 midi 90 64 100\n20000 midi 80 57 0\n"
     "21000 midi 80 60 0\n22000 midi 80 64 0\n30000 end\n",
     2.0},
};

TEST(PluginHosts, EveryInstrumentSettingPlaysAsTheRendererAtEveryBlockSizeAndRate) {
  for (const InstrumentCase& pinned : InstrumentCases) {
    ParameterValues values = defaultValues();
    for (const auto& [id, value] : pinned.parameters) {
      values.value[parameterIndexOfId(id)] = value;
    }
    for (const double rate : {Rate, 96000.0}) {
      const Score score = scoreAtRate(scoreFrom(pinned.score), rate);
      const std::vector<float> expected = rendered(score, values);
      ASSERT_GT(*std::max_element(expected.begin(), expected.end()), 0.01f) << pinned.score;
      for (const int32_t block : {1, 33, 4096}) {
        for (const std::string& path : Plugins) {
          if (pinned.clapBendRange > 0.0 && path != QUILLFERN_CLAP_PATH) continue;
          std::string error;
          HostedPluginPtr plugin = openPlugin(path, rate, block, error);
          ASSERT_TRUE(plugin) << error;
          for (const auto& [id, value] : pinned.parameters) presetParameter(*plugin, id, value);
          if (pinned.clapBendRange > 0.0) useClapNotes(*plugin, pinned.clapBendRange);
          EXPECT_EQ(firstDifference(playScore(*plugin, score, block), expected), -1)
              << path << " at " << rate << " Hz in blocks of " << block << ":\n"
              << pinned.score;
          // CLAP's latency changes only when the host restarts the plugin.
          if (path == QUILLFERN_LV2_BUNDLE) {
            EXPECT_EQ(pluginLatencyOf(*plugin), latencyOf(rate, values)) << pinned.score;
          }
        }
      }
    }
  }
}

// A session saved by the version whose parameters were the window's positions, with a flag
// for each control moved: r and the volume moved, b at another position but never moved (its
// start-up 2.5 plays), the channel 3.
TEST(PluginHosts, ACLAPSessionOfPositionsLoadsIntoTheSameSound) {
  HostedPluginPtr clap = open(QUILLFERN_CLAP_PATH);
  ASSERT_TRUE(loadPluginState(*clap,
                              "quillfern-plugin-state 1\nattack 1 0\ndecay 1000 0\nsustain 50 0\n"
                              "release 1500 0\ni 500 0\nb 600 0\nr 60 1\na 20 0\nvolume 80 1\n"
                              "s 0 0\nchannel 3 0\n"));
  const std::vector<float> expected = rendered(scoreFrom(
      "0 control 19 60\n0 control 26 80\n0 midi 90 60 100\n20000 midi 80 60 0\n40000 end\n"));
  const Score song = scoreFrom("0 midi 92 60 100\n20000 midi 82 60 0\n40000 end\n");
  EXPECT_EQ(firstDifference(playScore(*clap, song, 256), expected), -1);
}

}  // namespace
