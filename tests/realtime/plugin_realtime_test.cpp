// SPDX-License-Identifier: GPL-3.0-or-later
// Both plugins' process paths under the real-time sanitizer: the CLAP process() and the LV2
// run(), with everything they call, are marked QUILLFERN_NONBLOCKING, so an allocation, lock or
// wait inside them ends the test with a report. A score with legato, releases, control moves
// inside blocks and All Notes Off plays through each at 48000 Hz in small blocks, once a state
// has been loaded (the voice restarts inside the next block); then again with notes started at
// once, a note started in a release fading that one out beside it.
#include <clap/ext/gui.h>
#include <clap/ext/timer-support.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/instrument.h"
#include "instrument/parameters.h"
#include "tools/plugin_host/format_hosts.h"
#include "tools/plugin_host/plugin_host.h"

// Last: Xlib's macros (None, Bool, ...) would break gtest's names.
#include <X11/Xlib.h>

namespace {

Score movesScore() {
  std::ifstream file(QUILLFERN_TEST_SCORES "/moves.score");
  Score score;
  std::string error;
  EXPECT_TRUE(parseScore(file, "moves.score", score, error)) << error;
  return score;
}

TEST(RealtimePlugins, ScoresThroughBothPluginsNeverBlock) {
  const Score score = movesScore();
  std::string error;
  for (const char* path : {QUILLFERN_CLAP_PATH, QUILLFERN_LV2_BUNDLE}) {
    HostedPluginPtr plugin = openPlugin(path, 48000.0, 64, error);
    ASSERT_TRUE(plugin) << error;
    presetParameter(*plugin, ChannelParameterId, OmniChannel);
    std::string state;
    ASSERT_TRUE(savePluginState(*plugin, state));
    ASSERT_TRUE(loadPluginState(*plugin, state));
    EXPECT_EQ(playScore(*plugin, score, 64).size(), static_cast<std::size_t>(score.endFrame));
    presetParameter(*plugin, NoteStartSetting, static_cast<double>(NoteStart::Immediate));
    EXPECT_EQ(playScore(*plugin, score, 64).size(), static_cast<std::size_t>(score.endFrame));
  }
}

// A host that offers the window its timers (which never fire here: the window only has to be
// open for the process path to hand the model's course over).
bool acceptTimer(const clap_host_t* /*host*/, uint32_t /*period*/, clap_id* id) {
  *id = 1;
  return true;
}
bool dropTimer(const clap_host_t* /*host*/, clap_id /*id*/) {
  return true;
}
const clap_host_timer_support_t Timers{acceptTimer, dropTimer};
const void* timersOnly(void* /*context*/, const char* id) {
  return std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) == 0 ? &Timers : nullptr;
}

// With the plugins' windows open, their process paths also write the model's course for them,
// and still never block: LV2 once its window has asked, CLAP with its window open inside the
// root window of the display of scripts/with-xvfb.sh (that half needs a display).
TEST(RealtimePlugins, ProcessPathsWithTheWindowOpenNeverBlock) {
  const Score score = movesScore();
  std::string error;
  HostedPluginPtr lv2 = openPlugin(QUILLFERN_LV2_BUNDLE, 48000.0, 64, error);
  ASSERT_TRUE(lv2) << error;
  askForModelTrace(*lv2);
  EXPECT_EQ(playScore(*lv2, score, 64).size(), static_cast<std::size_t>(score.endFrame));
  Display* display = std::getenv("DISPLAY") != nullptr ? XOpenDisplay(nullptr) : nullptr;
  if (display == nullptr) GTEST_SKIP() << "no X display for the CLAP window";
  const ClapHostServices services{nullptr, timersOnly, nullptr};
  HostedPluginPtr clap = openPlugin(QUILLFERN_CLAP_PATH, 48000.0, 64, error, &services);
  ASSERT_TRUE(clap) << error;
  const clap_plugin* plugin = clapPluginOf(*clap);
  const auto* gui =
      static_cast<const clap_plugin_gui_t*>(plugin->get_extension(plugin, CLAP_EXT_GUI));
  ASSERT_TRUE(gui->create(plugin, CLAP_WINDOW_API_X11, false));
  clap_window_t root{CLAP_WINDOW_API_X11, {}};
  root.x11 = DefaultRootWindow(display);
  ASSERT_TRUE(gui->set_parent(plugin, &root));
  ASSERT_TRUE(gui->show(plugin));
  EXPECT_EQ(playScore(*clap, score, 64).size(), static_cast<std::size_t>(score.endFrame));
  gui->destroy(plugin);
  XCloseDisplay(display);
}

}  // namespace
