// SPDX-License-Identifier: GPL-3.0-or-later
// Both plugins' process paths under the real-time sanitizer: the CLAP process() and the LV2
// run(), with everything they call, are marked QUILLFERN_NONBLOCKING, so an allocation, lock or
// wait inside them ends the test with a report. A score with legato, releases, control moves
// inside blocks and All Notes Off plays through each at 48000 Hz in small blocks, once a state
// has been loaded (the voice restarts inside the next block).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "plugins/hosts/plugin_host.h"
#include "plugins/plugin_parameters.h"

namespace {

TEST(RealtimePlugins, ScoresThroughBothPluginsNeverBlock) {
  std::ifstream file(QUILLFERN_TEST_SCORES "/moves.score");
  Score score;
  std::string error;
  ASSERT_TRUE(parseScore(file, "moves.score", score, error)) << error;
  for (const char* path : {QUILLFERN_CLAP_PATH, QUILLFERN_LV2_BUNDLE}) {
    HostedPluginPtr plugin = openPlugin(path, 48000.0, 64, error);
    ASSERT_TRUE(plugin) << error;
    presetParameter(*plugin, ChannelParameterId, OmniChannel);
    std::string state;
    ASSERT_TRUE(savePluginState(*plugin, state));
    ASSERT_TRUE(loadPluginState(*plugin, state));
    EXPECT_EQ(playScore(*plugin, score, 64).size(), static_cast<std::size_t>(score.endFrame));
  }
}

}  // namespace
