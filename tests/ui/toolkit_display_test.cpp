// SPDX-License-Identifier: GPL-3.0-or-later
// Without a reachable display the toolkit reports that no window can be opened instead of
// letting Qt end the process; message boxes go to standard error.
#include <gtest/gtest.h>

#include "toolkit_test_support.h"

namespace {

TEST(ToolkitWithoutDisplay, WindowsFailAndMessagesGoToStandardError) {
  const std::string unset = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ";
  for (const std::string& environment :
       {unset, unset + "DISPLAY=:4321", unset + "DISPLAY=:4321 QT_QPA_PLATFORM=xcb",
        unset + "WAYLAND_DISPLAY=quillfern-none"}) {
    const std::string output =
        commandOutput(environment + " " + probePath() + " no-display 2>&1; echo exit $?");
    EXPECT_EQ(output,
              "openWindow 0\nstatusBarExists 0\nPortAudio: first line\nsecond line\n"
              "waitEvent 0\nexit 0\n")
        << environment;
  }
}

}  // namespace
