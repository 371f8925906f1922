#include "toolkit_test_support.h"

#include <QApplication>
#include <QTest>
#include <cstdio>

Events takeWaitingEvents() {
  Events events;
  for (int32_t code = waitEvent(0); code != NoEvent; code = waitEvent(0)) {
    events.push_back({code, eventControl(), eventWindow(), eventType()});
  }
  return events;
}

QWidget* windowWidget(int32_t window) {
  return static_cast<QWidget*>(windowHandle(window));
}

QWidget* childWidget(int32_t window, const QString& objectName) {
  QWidget* top = windowWidget(window);
  return top == nullptr ? nullptr : top->findChild<QWidget*>(objectName);
}

bool waitUntilActive(int32_t window) {
  return QTest::qWaitForWindowActive(windowWidget(window));
}

QLabel* statusField(int32_t window, int32_t statusBar, int32_t field) {
  QWidget* bar = childWidget(window, QStringLiteral("statusBar%1").arg(statusBar));
  return bar == nullptr ? nullptr
                        : bar->findChild<QLabel*>(QStringLiteral("statusField%1").arg(field));
}

void openPanelWindow() {
  openWindow(PanelWindow, 0, 0, 510, 230, "Quillfern", WindowTitleBar + WindowScreenCentred);
  createMenuBar(0, windowHandle(PanelWindow));
  addMenuTitle("?");
  addMenuItem(1, "About");
  addMenuItem(2, "Help");
  addComboBox(PanelDeviceList, 350, 60, 140, 20);
  addControlItem(PanelDeviceList, -1, "Midi Through Port-0");
  addControlItem(PanelDeviceList, -1, "Keyboard");
  setControlState(PanelDeviceList, 0);
  addSlider(PanelAttackSlider, 250, 40, 20, 120, 1, 2000, SliderVertical);
  addSlider(PanelISlider, 100, 40, 20, 120, 1, 1000, SliderVertical);
  setControlState(PanelISlider, 500);
  addTextLabel(PanelIReadout, 90, 160, 30, 20, "3.000");
  addCheckBox(PanelCheckBox, 20, 90, 40, 20, "s");
  createStatusBar(0, windowHandle(PanelWindow));
  addStatusField(100);
  addStatusField(100);
  addStatusField(30);
  addKeyboardShortcut(PanelWindow, KeyEscape, PanelQuitShortcut);
  waitUntilActive(PanelWindow);
}

std::string commandOutput(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  pclose(pipe);
  return output;
}

std::string probePath() {
  return QUILLFERN_TOOLKIT_PROBE;
}
