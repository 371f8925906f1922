// The toolkit on a real X server with a window manager (run under scripts/with-xvfb.sh):
// what only a real display shows, driven by xdotool and wmctrl as a user would.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QMessageBox>
#include <QSlider>
#include <QTimer>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "child_process.h"
#include "toolkit_test_support.h"

namespace {

using namespace std::chrono_literals;

class ToolkitOnX11 : public ::testing::Test {
 protected:
  void TearDown() override { closeToolkit(); }
};

std::string commandOutput(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  pclose(pipe);
  return output;
}

void xdotool(const std::string& arguments) {
  const std::string command = "xdotool " + arguments;
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

void clickAt(QPoint global) {
  xdotool("mousemove " + std::to_string(global.x()) + " " + std::to_string(global.y()) +
          " click 1");
}

QPoint centreOf(QWidget* widget) {
  return widget->mapToGlobal(widget->rect().center());
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

bool pumpUntilSeen(const RaisedEvent& expected) {
  const Events seen = pumpEvents(3s, [&expected](const Events& events) {
    return std::find(events.begin(), events.end(), expected) != events.end();
  });
  return std::find(seen.begin(), seen.end(), expected) != seen.end();
}

bool pumpUntil(const std::function<bool()>& condition) {
  const auto end = std::chrono::steady_clock::now() + 3s;
  while (!condition() && std::chrono::steady_clock::now() < end) waitEvent(10);
  return condition();
}

// A value that xwininfo prints after `label`, as in "  Width: 510".
int xwininfoValue(const std::string& report, const std::string& label) {
  const std::size_t at = report.find(label);
  return at == std::string::npos ? -1 : std::atoi(report.c_str() + at + label.size());
}

struct ClientArea {
  QRect rect;
  bool viewable = false;
};

ClientArea clientArea(int32_t window) {
  const std::string report =
      commandOutput("xwininfo -id " + std::to_string(windowWidget(window)->winId()));
  return {QRect(xwininfoValue(report, "Absolute upper-left X:"),
                xwininfoValue(report, "Absolute upper-left Y:"), xwininfoValue(report, "Width:"),
                xwininfoValue(report, "Height:")),
          report.find("IsViewable") != std::string::npos};
}

QSize screenSize() {
  const std::string report = commandOutput("xwininfo -root");
  return {xwininfoValue(report, "Width:"), xwininfoValue(report, "Height:")};
}

// The numbers of a window property, as in "_NET_FRAME_EXTENTS(CARDINAL) = 1, 1, 20, 1".
std::vector<long> propertyNumbers(int32_t window, const std::string& property) {
  const std::string report =
      commandOutput("xprop -id " + std::to_string(windowWidget(window)->winId()) + " " + property);
  std::vector<long> numbers;
  const std::size_t equals = report.find('=');
  if (equals == std::string::npos) return numbers;
  std::istringstream values(report.substr(equals + 1));
  for (std::string value; std::getline(values, value, ',');) {
    numbers.push_back(std::strtol(value.c_str(), nullptr, 0));
  }
  return numbers;
}

void expectExactClientAreaCentred(int32_t window, QSize client) {
  std::vector<long> frame;  // left, right, top, bottom
  ASSERT_TRUE(pumpUntil([&] {
    frame = propertyNumbers(window, "_NET_FRAME_EXTENTS");
    return frame.size() == 4;
  }));
  pumpEvents(200ms);  // the window is placed again once its frame is known
  const ClientArea area = clientArea(window);
  EXPECT_EQ(area.rect.size(), client);
  const QSize outer(client.width() + frame[0] + frame[1], client.height() + frame[2] + frame[3]);
  const QSize screen = screenSize();
  EXPECT_EQ(area.rect.x() - frame[0], (screen.width() - outer.width()) / 2);
  EXPECT_EQ(area.rect.y() - frame[2], (screen.height() - outer.height()) / 2);
}

TEST_F(ToolkitOnX11, ClientAreaIsExactFixedAndCentred) {
  openPanelWindow();
  expectExactClientAreaCentred(PanelWindow, {510, 230});
  // Fixed size; the window asks for a close box but no minimise or maximise box (openbox
  // draws its own buttons whatever the hints say, so only the request is checked).
  const std::vector<long> motifHints = propertyNumbers(PanelWindow, "_MOTIF_WM_HINTS");
  ASSERT_GE(motifHints.size(), 3u);
  constexpr long FunctionMinimise = 8, FunctionMaximise = 16, FunctionClose = 32;
  EXPECT_EQ(motifHints[1] & (FunctionMinimise | FunctionMaximise), 0);
  EXPECT_NE(motifHints[1] & FunctionClose, 0);
  const std::string allowed =
      commandOutput("xprop -id " + std::to_string(windowWidget(PanelWindow)->winId()) +
                    " _NET_WM_ALLOWED_ACTIONS");
  EXPECT_EQ(allowed.find("_NET_WM_ACTION_RESIZE"), std::string::npos) << allowed;
  EXPECT_EQ(allowed.find("_NET_WM_ACTION_MAXIMIZE"), std::string::npos) << allowed;

  const int32_t help = openWindow(AnyNumber, IgnoreValue, IgnoreValue, 620, 240, "Quillfern Help",
                                  WindowTitleBar + WindowScreenCentred);
  expectExactClientAreaCentred(help, {620, 240});
}

TEST_F(ToolkitOnX11, CloseBoxAltF4AndSystemCloseOnlyRaiseAnEvent) {
  openPanelWindow();
  ASSERT_EQ(propertyNumbers(PanelWindow, "_NET_FRAME_EXTENTS").size(), 4u);
  const RaisedEvent closeRequest{CloseWindowEvent, 0, PanelWindow, 0};
  const QRect client = clientArea(PanelWindow).rect;
  const int titleMiddle = client.top() - propertyNumbers(PanelWindow, "_NET_FRAME_EXTENTS")[2] / 2;
  clickAt({client.right() - 8, titleMiddle});  // openbox puts the close box rightmost
  EXPECT_TRUE(pumpUntilSeen(closeRequest)) << "close box";
  xdotool("key alt+F4");
  EXPECT_TRUE(pumpUntilSeen(closeRequest)) << "Alt+F4";
  ASSERT_EQ(
      std::system(("wmctrl -i -c " + std::to_string(windowWidget(PanelWindow)->winId())).c_str()),
      0);
  EXPECT_TRUE(pumpUntilSeen(closeRequest)) << "the window manager's Close";
  pumpEvents(200ms);
  EXPECT_TRUE(clientArea(PanelWindow).viewable);
  EXPECT_NE(windowHandle(PanelWindow), nullptr);
}

TEST_F(ToolkitOnX11, EscapeRaisesTheShortcutWithTheListOpenButNotInAnotherWindow) {
  openPanelWindow();
  const RaisedEvent quit{MenuEvent, PanelQuitShortcut, PanelWindow, 0};
  xdotool("key Escape");
  EXPECT_TRUE(pumpUntilSeen(quit));

  auto* deviceList = controlWidget<QComboBox>(PanelWindow, PanelDeviceList);
  clickAt(centreOf(deviceList));
  ASSERT_TRUE(pumpUntil([] { return QApplication::activePopupWidget() != nullptr; }));
  xdotool("key Escape");
  EXPECT_TRUE(pumpUntilSeen(quit)) << "with the list open";
  deviceList->hidePopup();

  const int32_t other = openWindow(AnyNumber, IgnoreValue, IgnoreValue, 300, 100, "Other",
                                   WindowTitleBar + WindowScreenCentred);
  ASSERT_TRUE(waitUntilActive(other));
  xdotool("key Escape");
  const Events seen = pumpEvents(300ms);
  EXPECT_EQ(std::find(seen.begin(), seen.end(), quit), seen.end());
}

TEST_F(ToolkitOnX11, SliderFollowsDragKeysAndWheelUpwards) {
  openPanelWindow();
  auto* slider = controlWidget<QSlider>(PanelWindow, PanelAttackSlider);
  const RaisedEvent moved{ControlEvent, PanelAttackSlider, PanelWindow, 0};
  const QPoint bottom = slider->mapToGlobal(QPoint(slider->width() / 2, slider->height() - 4));
  const QPoint top = slider->mapToGlobal(QPoint(slider->width() / 2, 4));
  std::string drag =
      "mousemove " + std::to_string(bottom.x()) + " " + std::to_string(bottom.y()) + " mousedown 1";
  for (int step = 1; step <= 8; ++step) {
    const QPoint at = bottom + (top - bottom) * step / 8;
    drag += " sleep 0.02 mousemove " + std::to_string(at.x()) + " " + std::to_string(at.y());
  }
  xdotool(drag + " mouseup 1");
  EXPECT_TRUE(pumpUntilSeen(moved));
  pumpEvents(100ms);
  EXPECT_EQ(getControlState(PanelAttackSlider), 2000) << "the thumb starts at the bottom";

  xdotool("key Down");
  EXPECT_TRUE(pumpUntilSeen(moved));
  EXPECT_EQ(getControlState(PanelAttackSlider), 1999);
  xdotool("click 5");  // wheel down over the slider
  EXPECT_TRUE(pumpUntilSeen(moved));
  EXPECT_LT(getControlState(PanelAttackSlider), 1999);
}

TEST_F(ToolkitOnX11, CheckBoxTogglesByClickAndSpace) {
  openPanelWindow();
  auto* checkBox = controlWidget<QCheckBox>(PanelWindow, PanelCheckBox);
  const RaisedEvent toggled{ControlEvent, PanelCheckBox, PanelWindow, 0};
  clickAt(checkBox->mapToGlobal(QPoint(8, checkBox->height() / 2)));
  EXPECT_TRUE(pumpUntilSeen(toggled));
  EXPECT_EQ(getControlState(PanelCheckBox), 1);
  xdotool("key space");
  EXPECT_TRUE(pumpUntilSeen(toggled));
  EXPECT_EQ(getControlState(PanelCheckBox), 0);
}

TEST_F(ToolkitOnX11, MessageBoxBlocksTheOtherWindowsUntilClosed) {
  openPanelWindow();
  pumpEvents(100ms);
  auto* checkBox = controlWidget<QCheckBox>(PanelWindow, PanelCheckBox);
  const QPoint checkBoxPoint = checkBox->mapToGlobal(QPoint(8, checkBox->height() / 2));
  QMessageBox* seenBox = nullptr;
  int buttons = 0;
  QTimer::singleShot(300, [&] {
    seenBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (seenBox != nullptr) buttons = static_cast<int>(seenBox->buttons().size());
    clickAt(checkBoxPoint);
  });
  QTimer::singleShot(600, [] { xdotool("key Return"); });
  showMessage("About", "Quillfern v1.01\rThe sound of an excited neuron - ");
  ASSERT_NE(seenBox, nullptr);
  EXPECT_EQ(buttons, 1);
  EXPECT_EQ(getControlState(PanelCheckBox), 0) << "the click on the blocked window was lost";
  const Events seen = pumpEvents(200ms);
  EXPECT_TRUE(seen.empty());
}

// A process blocked in waitEvent(WaitForever) uses no processor time at all.
TEST_F(ToolkitOnX11, WaitingForeverUsesNoProcessorTime) {
  const ChildProcess probe = startChild({probePath(), "idle"}, {});
  ASSERT_GT(probe.pid, 0);
  ASSERT_EQ(readLine(probe.outputFd), "waiting");
  std::this_thread::sleep_for(500ms);  // the window manager's last messages settle
  const long before = processorTicks(probe.pid);
  std::this_thread::sleep_for(3s);
  const long after = processorTicks(probe.pid);
  kill(probe.pid, SIGTERM);
  waitForChild(probe.pid);
  RecordProperty("idleTicks", static_cast<int>(after - before));
  EXPECT_EQ(after - before, 0) << "ticks used while idle";
}

}  // namespace
