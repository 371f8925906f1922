// SPDX-License-Identifier: GPL-3.0-or-later
// The floor for Quillfern's start-up time and memory: a bare Qt window with the same controls
// (menu, MIDI device list, nine vertical sliders, read-outs and labels, the "s" check box, a
// status bar of three fields, Escape to quit) and nothing behind them: no audio, no MIDI, no
// engine. scripts/measure-startup.sh starts both programs the same way and compares them.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeySequence>
#include <QLabel>
#include <QMenuBar>
#include <QShortcut>
#include <QSlider>
#include <QWidget>
#include <array>

#include "app/panel_layout.h"
#include "engine/voice_controls.h"

namespace {

// The same places as the real window's, from its own layout table.
struct Placed {
  int x, y, width, height;
};

constexpr int ClientWidth = 510;
constexpr int ClientHeight = 230;
constexpr int StatusBarHeight = 22;

constexpr std::array<int, 3> StatusFieldWidths{100, 100, 30};

void place(QWidget* widget, const Placed& at, int top) {
  widget->setGeometry(at.x, top + at.y, at.width, at.height);
}

// The menu bar takes its height from the top of the client area; the controls sit below it.
int addMenu(QWidget* window) {
  auto* bar = new QMenuBar(window);
  QMenu* menu = bar->addMenu(QStringLiteral("?"));
  menu->addAction(QStringLiteral("About"));
  menu->addAction(QStringLiteral("Help"));
  bar->setGeometry(0, 0, ClientWidth, bar->sizeHint().height());
  return bar->height();
}

void addControls(QWidget* window, int top) {
  auto* devices = new QComboBox(window);
  devices->addItem(QStringLiteral("MIDI input"));
  place(devices, {350, 60, 140, 20}, top);
  for (const SliderLayout& layout : panelSliders()) {
    auto* slider = new QSlider(Qt::Vertical, window);
    const VoiceControl& control = *findVoiceControl(layout.number);
    slider->setRange(control.minimum, control.maximum);
    slider->setValue(control.initial);
    place(slider, {layout.x, SliderY, SliderWidth, SliderHeight}, top);
  }
  for (const LabelLayout& layout : panelLabels()) {
    place(new QLabel(QString::fromLatin1(layout.text), window),
          {layout.x, layout.y, layout.width, LabelHeight}, top);
  }
  place(new QCheckBox(QStringLiteral("s"), window), {20, 90, 40, 20}, top);
}

void addStatusBar(QWidget* window) {
  int left = 0;
  for (const int width : StatusFieldWidths) {
    auto* field = new QLabel(window);
    field->setFrameShape(QFrame::Panel);
    field->setFrameShadow(QFrame::Sunken);
    field->setAlignment(Qt::AlignCenter);
    field->setGeometry(left, ClientHeight - StatusBarHeight, width, StatusBarHeight);
    left += width;
  }
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QWidget window;
  window.setWindowTitle(QStringLiteral("Quillfern"));
  window.setFixedSize(ClientWidth, ClientHeight);
  addControls(&window, addMenu(&window));
  addStatusBar(&window);
  QObject::connect(new QShortcut(QKeySequence(Qt::Key_Escape), &window), &QShortcut::activated,
                   &window, &QWidget::close);
  window.show();
  return application.exec();
}
