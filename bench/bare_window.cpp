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

namespace {

struct Placed {
  int x, y, width, height;
};

struct SliderPlace {
  Placed place;
  int minimum, maximum, value;
};

struct LabelPlace {
  Placed place;
  const char* text;
};

constexpr int ClientWidth = 510;
constexpr int ClientHeight = 230;
constexpr int StatusBarHeight = 22;

constexpr std::array<SliderPlace, 9> Sliders{{
    {{250, 40, 20, 120}, 1, 2000, 1},
    {{270, 40, 20, 120}, 1, 5000, 1000},
    {{290, 40, 20, 120}, 0, 100, 50},
    {{310, 40, 20, 120}, 1, 5000, 1500},
    {{60, 40, 20, 120}, 1, 100, 47},
    {{100, 40, 20, 120}, 1, 1000, 500},
    {{140, 40, 20, 120}, 1, 1000, 348},
    {{180, 40, 20, 120}, 0, 100, 20},
    {{220, 40, 20, 120}, 1, 100, 30},
}};

constexpr std::array<LabelPlace, 13> Labels{{
    {{50, 160, 40, 20}, "0.0100"},
    {{130, 160, 30, 20}, "2.500"},
    {{90, 160, 30, 20}, "3.000"},
    {{175, 160, 50, 20}, "1.000"},
    {{65, 27, 20, 20}, "r"},
    {{105, 27, 20, 20}, "I"},
    {{145, 27, 40, 20}, "b"},
    {{185, 27, 20, 20}, "a"},
    {{220, 27, 30, 20}, "Vol"},
    {{255, 27, 10, 20}, "A"},
    {{275, 27, 10, 20}, "D"},
    {{295, 27, 10, 20}, "S"},
    {{315, 27, 10, 20}, "R"},
}};

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
  for (const SliderPlace& layout : Sliders) {
    auto* slider = new QSlider(Qt::Vertical, window);
    slider->setRange(layout.minimum, layout.maximum);
    slider->setValue(layout.value);
    place(slider, layout.place, top);
  }
  for (const LabelPlace& layout : Labels) {
    place(new QLabel(QString::fromLatin1(layout.text), window), layout.place, top);
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
