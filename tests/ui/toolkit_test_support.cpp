// SPDX-License-Identifier: GPL-3.0-or-later
#include "toolkit_test_support.h"

#include <QApplication>
#include <QTest>
#include <algorithm>
#include <cstdio>

#include "app/panel_layout.h"
#include "engine/voice_controls.h"

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

namespace {

void addPanelSlider(int32_t number) {
  const auto sliders = panelSliders();
  const SliderLayout& slider = *std::find_if(
      sliders.begin(), sliders.end(), [&](const SliderLayout& s) { return s.number == number; });
  const VoiceControl& control = *findVoiceControl(number);
  addSlider(slider.number, slider.x, SliderY, SliderWidth, SliderHeight, control.minimum,
            control.maximum, SliderVertical);
  setControlState(slider.number, control.initial);
}

void addPanelLabel(int32_t number) {
  const auto labels = panelLabels();
  const LabelLayout& label = *std::find_if(
      labels.begin(), labels.end(), [&](const LabelLayout& l) { return l.number == number; });
  addTextLabel(label.number, label.x, label.y, label.width, LabelHeight, label.text);
}

}  // namespace

void openPanelWindow() {
  openWindow(PanelWindow, 0, 0, PanelWidth, PanelHeight, "Quillfern",
             WindowTitleBar + WindowScreenCentred);
  createMenuBar(0, windowHandle(PanelWindow));
  addMenuTitle("?");
  addMenuItem(MenuAbout, "About");
  addMenuItem(MenuHelp, "Help");
  addComboBox(PanelDeviceList, DeviceListPlace.x, DeviceListPlace.y, DeviceListPlace.width,
              DeviceListPlace.height);
  addControlItem(PanelDeviceList, -1, "Midi Through Port-0");
  addControlItem(PanelDeviceList, -1, "Keyboard");
  setControlState(PanelDeviceList, 0);
  addPanelSlider(PanelAttackSlider);
  addPanelSlider(PanelISlider);
  addPanelLabel(PanelIReadout);
  addCheckBox(PanelCheckBox, CheckBoxPlace.x, CheckBoxPlace.y, CheckBoxPlace.width,
              CheckBoxPlace.height, "s");
  createStatusBar(0, windowHandle(PanelWindow));
  for (const int32_t width : StatusFieldWidths) addStatusField(width);
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
