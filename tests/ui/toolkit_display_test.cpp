// Without a reachable display the toolkit reports that no window can be opened instead of
// letting Qt end the process; message boxes go to standard error.
#include <gtest/gtest.h>

#include "child_process.h"

namespace {

using Environment = std::map<std::string, std::optional<std::string>>;

TEST(ToolkitWithoutDisplay, WindowsFailAndMessagesGoToStandardError) {
  const Environment noDisplay{{"DISPLAY", std::nullopt},
                              {"WAYLAND_DISPLAY", std::nullopt},
                              {"QT_QPA_PLATFORM", std::nullopt}};
  const std::vector<Environment> cases{
      noDisplay,
      {{"DISPLAY", ":4321"}, {"WAYLAND_DISPLAY", std::nullopt}, {"QT_QPA_PLATFORM", std::nullopt}},
      {{"DISPLAY", ":4321"}, {"WAYLAND_DISPLAY", std::nullopt}, {"QT_QPA_PLATFORM", "xcb"}},
      {{"DISPLAY", std::nullopt},
       {"WAYLAND_DISPLAY", "quillfern-none"},
       {"QT_QPA_PLATFORM", std::nullopt}},
  };
  for (const Environment& environment : cases) {
    const ChildProcess probe = startChild({probePath(), "no-display"}, environment);
    ASSERT_GT(probe.pid, 0);
    const std::string output = readAll(probe.outputFd);
    const std::string errors = readAll(probe.errorFd);
    EXPECT_EQ(waitForChild(probe.pid), 0) << errors;
    EXPECT_EQ(output, "openWindow 0\nstatusBarExists 0\nwaitEvent 0\n");
    EXPECT_NE(errors.find("PortAudio: first line\nsecond line\n"), std::string::npos) << errors;
  }
}

}  // namespace
