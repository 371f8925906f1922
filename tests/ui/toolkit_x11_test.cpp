// SPDX-License-Identifier: GPL-3.0-or-later
// The toolkit on a real X server with a window manager (run under scripts/with-xvfb.sh):
// what only a real display shows, driven by xdotool and wmctrl as a user would.
#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QTimer>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "toolkit_test_support.h"

namespace {

using namespace std::chrono_literals;

class ToolkitOnX11 : public ::testing::Test {
 protected:
  void SetUp() override { openPanelWindow(); }
  void TearDown() override { closeToolkit(); }
};

void run(const std::string& command) {
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

std::string at(QPoint global) {
  return std::to_string(global.x()) + " " + std::to_string(global.y());
}

std::string windowId(int32_t window) {
  return std::to_string(windowWidget(window)->winId());
}

// Handles input until `done` holds for the events seen so far, or the time is up.
Events pumpEvents(std::chrono::milliseconds limit,
                  const std::function<bool(const Events&)>& done = nullptr) {
  Events seen;
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end && !(done && done(seen))) {
    const int32_t code = waitEvent(10);
    if (code != NoEvent) seen.push_back({code, eventControl(), eventWindow(), eventType()});
  }
  return seen;
}

bool contains(const Events& events, const RaisedEvent& event) {
  return std::find(events.begin(), events.end(), event) != events.end();
}

// The limit is generous because a loaded machine or a sanitizer build is slow; a passing case
// returns as soon as the event is there.
bool pumpUntilSeen(const RaisedEvent& expected) {
  return contains(pumpEvents(10s, [&](const Events& seen) { return contains(seen, expected); }),
                  expected);
}

// The numbers after '=' that xprop prints, as in "_NET_FRAME_EXTENTS(CARDINAL) = 1, 1, 20, 1".
std::vector<long> propertyNumbers(int32_t window, const std::string& property) {
  const std::string report = commandOutput("xprop -id " + windowId(window) + " " + property);
  std::vector<long> numbers;
  if (report.find('=') == std::string::npos) return numbers;
  std::istringstream values(report.substr(report.find('=') + 1));
  for (std::string value; std::getline(values, value, ',');) {
    numbers.push_back(std::strtol(value.c_str(), nullptr, 0));
  }
  return numbers;
}

// The window's frame (left, right, top, bottom), once the window manager has put it on.
std::vector<long> frameExtents(int32_t window) {
  std::vector<long> frame;
  pumpEvents(3s, [&](const Events&) {
    frame = propertyNumbers(window, "_NET_FRAME_EXTENTS");
    return frame.size() == 4;
  });
  pumpEvents(200ms);  // the window is placed again once its frame is known
  return frame;
}

// What xwininfo says of a window's client area: "Absolute upper-left X:", "Width:", ...
int xwininfoValue(const std::string& window, const std::string& label) {
  const std::string report = commandOutput("xwininfo " + window);
  const std::size_t found = report.find(label);
  return found == std::string::npos ? -1 : std::atoi(report.c_str() + found + label.size());
}

void expectExactClientAreaCentred(int32_t window, int width, int height) {
  const std::vector<long> frame = frameExtents(window);
  ASSERT_EQ(frame.size(), 4u);
  const std::string id = "-id " + windowId(window);
  EXPECT_EQ(xwininfoValue(id, "Width:"), width);
  EXPECT_EQ(xwininfoValue(id, "Height:"), height);
  const long outerWidth = width + frame[0] + frame[1];
  const long outerHeight = height + frame[2] + frame[3];
  EXPECT_EQ(xwininfoValue(id, "Absolute upper-left X:") - frame[0],
            (xwininfoValue("-root", "Width:") - outerWidth) / 2);
  EXPECT_EQ(xwininfoValue(id, "Absolute upper-left Y:") - frame[2],
            (xwininfoValue("-root", "Height:") - outerHeight) / 2);
}

TEST_F(ToolkitOnX11, ClientAreaIsExactFixedAndCentred) {
  expectExactClientAreaCentred(PanelWindow, 510, 230);
  // Fixed size, a close box and no minimise or maximise box asked for (openbox draws its own
  // buttons whatever the hints say, so only the request is checked).
  const std::vector<long> motifHints = propertyNumbers(PanelWindow, "_MOTIF_WM_HINTS");
  ASSERT_GE(motifHints.size(), 2u);
  constexpr long Minimise = 8, Maximise = 16, Close = 32;
  EXPECT_EQ(motifHints[1] & (Minimise | Maximise | Close), Close);
  const std::string allowed =
      commandOutput("xprop -id " + windowId(PanelWindow) + " _NET_WM_ALLOWED_ACTIONS");
  EXPECT_EQ(allowed.find("_NET_WM_ACTION_RESIZE"), std::string::npos) << allowed;

  const int32_t help = openWindow(AnyNumber, IgnoreValue, IgnoreValue, 620, 240, "Quillfern Help",
                                  WindowTitleBar + WindowScreenCentred);
  expectExactClientAreaCentred(help, 620, 240);
}

TEST_F(ToolkitOnX11, CloseBoxAltF4AndSystemCloseOnlyRaiseAnEvent) {
  const RaisedEvent closeRequest{CloseWindowEvent, 0, PanelWindow, 0};
  const std::vector<long> frame = frameExtents(PanelWindow);
  ASSERT_EQ(frame.size(), 4u);
  // Openbox puts the close box at the right end of the title bar.
  QWidget* window = windowWidget(PanelWindow);
  run("xdotool mousemove " + at(window->mapToGlobal(QPoint(window->width() - 8, 0))) +
      " mousemove_relative -- 0 -" + std::to_string(frame[2] / 2) + " click 1");
  EXPECT_TRUE(pumpUntilSeen(closeRequest)) << "close box";
  // Alt+F4 is the window manager's binding for the focused window; after the click the focus
  // may still be settling on a slow machine, so the key is tried again, at most three times.
  bool altF4Seen = false;
  for (int attempt = 0; attempt < 3 && !altF4Seen; ++attempt) {
    run("xdotool windowactivate --sync " + windowId(PanelWindow) + " key alt+F4");
    altF4Seen =
        contains(pumpEvents(3s, [&](const Events& seen) { return contains(seen, closeRequest); }),
                 closeRequest);
  }
  EXPECT_TRUE(altF4Seen) << "Alt+F4";
  run("wmctrl -i -c " + windowId(PanelWindow));
  EXPECT_TRUE(pumpUntilSeen(closeRequest)) << "the window manager's Close";
  pumpEvents(200ms);
  EXPECT_NE(commandOutput("xwininfo -id " + windowId(PanelWindow)).find("IsViewable"),
            std::string::npos);
}

TEST_F(ToolkitOnX11, EscapeRaisesTheShortcutWithTheListOpenButNotInAnotherWindow) {
  const RaisedEvent quit{MenuEvent, PanelQuitShortcut, PanelWindow, 0};
  run("xdotool key Escape");
  EXPECT_TRUE(pumpUntilSeen(quit));

  auto* deviceList = controlWidget<QComboBox>(PanelWindow, PanelDeviceList);
  run("xdotool mousemove " + at(deviceList->mapToGlobal(deviceList->rect().center())) + " click 1");
  pumpEvents(3s, [](const Events&) { return QApplication::activePopupWidget() != nullptr; });
  ASSERT_NE(QApplication::activePopupWidget(), nullptr);
  run("xdotool key Escape");
  EXPECT_TRUE(pumpUntilSeen(quit)) << "with the list open";
  deviceList->hidePopup();

  const int32_t other = openWindow(AnyNumber, IgnoreValue, IgnoreValue, 300, 100, "Other",
                                   WindowTitleBar + WindowScreenCentred);
  ASSERT_TRUE(waitUntilActive(other));
  run("xdotool key Escape");
  EXPECT_FALSE(contains(pumpEvents(300ms), quit));
}

TEST_F(ToolkitOnX11, SliderFollowsKeysAndWheel) {
  const RaisedEvent moved{ControlEvent, PanelISlider, PanelWindow, 0};
  QWidget* slider = controlWidget<QWidget>(PanelWindow, PanelISlider);
  run("xdotool mousemove " + at(slider->mapToGlobal(QPoint(slider->width() / 2, 2))) +
      " click 1");  // above the thumb: one page up, and the focus
  EXPECT_TRUE(pumpUntilSeen(moved));
  const int32_t paged = getControlState(PanelISlider);
  EXPECT_GT(paged, 500);
  run("xdotool key Up");
  EXPECT_TRUE(pumpUntilSeen(moved));
  EXPECT_EQ(getControlState(PanelISlider), paged + 1);
  run("xdotool click 5");  // wheel down
  EXPECT_TRUE(pumpUntilSeen(moved));
  EXPECT_LT(getControlState(PanelISlider), paged + 1);
}

TEST_F(ToolkitOnX11, MessageBoxBlocksTheOtherWindowsUntilClosed) {
  pumpEvents(100ms);
  QWidget* checkBox = controlWidget<QWidget>(PanelWindow, PanelCheckBox);
  const std::string checkBoxPoint = at(checkBox->mapToGlobal(QPoint(8, checkBox->height() / 2)));
  int buttons = 0;
  QTimer::singleShot(300, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      buttons = static_cast<int>(box->buttons().size());
    }
    run("xdotool mousemove " + checkBoxPoint + " click 1");
  });
  QTimer::singleShot(600, [] { run("xdotool key Return"); });
  showMessage("About", "Quillfern v1.01\rThe sound of an excited neuron - ");
  EXPECT_EQ(buttons, 1) << "one OK button";
  EXPECT_EQ(getControlState(PanelCheckBox), 0) << "the click on the blocked window was lost";
  EXPECT_TRUE(pumpEvents(200ms).empty());
}

// User plus system processor time that a process has used so far, in clock ticks: fields 14
// and 15 of its stat line, counted after the command name, which may hold spaces.
long processorTicks(int pid) {
  const std::string stat = commandOutput("cat /proc/" + std::to_string(pid) + "/stat");
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  long ticks = 0;
  for (int index = 3; index <= 15 && fields >> field; ++index) {
    if (index >= 14) ticks += std::stol(field);
  }
  return ticks;
}

// A process blocked in waitEvent(WaitForever) uses no processor time at all.
TEST_F(ToolkitOnX11, WaitingForeverUsesNoProcessorTime) {
#ifdef QUILLFERN_SANITIZED
  GTEST_SKIP() << "a sanitizer's own threads take processor time";
#endif
  FILE* probe = popen(("exec " + probePath() + " idle").c_str(), "r");
  ASSERT_NE(probe, nullptr);
  int pid = 0;
  ASSERT_EQ(std::fscanf(probe, "waiting %d", &pid), 1);
  std::this_thread::sleep_for(500ms);  // the window manager's last messages settle
  const long before = processorTicks(pid);
  std::this_thread::sleep_for(3s);
  const long after = processorTicks(pid);
  kill(pid, SIGTERM);
  pclose(probe);
  RecordProperty("idleTicks", static_cast<int>(after - before));
  EXPECT_EQ(after - before, 0) << "ticks used while idle";
}

}  // namespace
