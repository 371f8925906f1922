// SPDX-License-Identifier: GPL-3.0-or-later
// Controls in the current window: combo box, slider, text label, check box and editor. User
// changes raise events and publish the control's new state at the same moment, so that other
// threads read it without the window thread; changes made by the program raise nothing.
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QTextEdit>
#include <algorithm>

#include "ui/event_queue.h"
#include "ui/toolkit_internal.h"
#include "ui/toolkit_text.h"

namespace {

void destroyControl(std::map<int32_t, ControlRecord>::iterator control) {
  forgetControlState(control->first);
  delete control->second.widget;
  objects.controls.erase(control);
}

int32_t stateOf(const ControlRecord& control) {
  switch (control.kind) {
    case ControlKind::Slider:
      return static_cast<QSlider*>(control.widget)->value();
    case ControlKind::ComboBox:
      return static_cast<QComboBox*>(control.widget)->currentIndex();
    case ControlKind::CheckBox:
      return static_cast<QCheckBox*>(control.widget)->isChecked() ? 1 : 0;
    case ControlKind::TextLabel:
    case ControlKind::Editor:
      return 0;
  }
  return 0;
}

void publishUserChange(int32_t number, int32_t window, int32_t state, int32_t type) {
  publishControlState(number, state);
  queueEvent({ControlEvent, number, window, type});
}

void raiseUserEvents(int32_t number, const ControlRecord& control) {
  QWidget* widget = control.widget;
  const int32_t window = control.window;
  switch (control.kind) {
    case ControlKind::Slider: {
      auto* slider = static_cast<QSlider*>(widget);
      QObject::connect(slider, &QSlider::valueChanged, slider, [number, window](int value) {
        publishUserChange(number, window, value, 0);
      });
      // Once more when the thumb is let go, with the value unchanged.
      QObject::connect(slider, &QSlider::sliderReleased, slider, [number, window, slider] {
        publishUserChange(number, window, slider->value(), 0);
      });
      break;
    }
    case ControlKind::ComboBox: {
      auto* comboBox = static_cast<QComboBox*>(widget);
      QObject::connect(comboBox, &QComboBox::currentIndexChanged, comboBox,
                       [number, window](int index) {
                         publishUserChange(number, window, index, ChangeEventType);
                       });
      break;
    }
    case ControlKind::CheckBox: {
      auto* checkBox = static_cast<QCheckBox*>(widget);
      QObject::connect(checkBox, &QCheckBox::clicked, checkBox, [number, window](bool checked) {
        publishControlState(number, checked ? 1 : 0);
        raiseEventAtOnce({ControlEvent, number, window, 0});
      });
      break;
    }
    case ControlKind::TextLabel:
    case ControlKind::Editor:
      break;
  }
}

// The application's layout is in pixels, made for a smaller font than most desktops use. A
// label keeps the place and size it was given, so where its text would be cut short it is
// drawn in a smaller size of the window's font, just small enough to fit, down to a size
// that stays readable.
constexpr qreal SmallestLabelPointSize = 6.0;
constexpr qreal LabelPointSizeStep = 0.5;

void fitTextToLabel(QLabel* label) {
  QFont font = label->parentWidget()->font();
  while (QFontMetrics(font).size(0, label->text()).width() > label->width() &&
         font.pointSizeF() - LabelPointSizeStep >= SmallestLabelPointSize) {
    font.setPointSizeF(font.pointSizeF() - LabelPointSizeStep);
  }
  label->setFont(font);
}

// Puts a new control into the current window under its number; 0 when there is no window or
// no number for it (control numbers must fit the state table).
int32_t placeControl(int32_t number, ControlKind kind, QWidget* widget, int32_t x, int32_t y,
                     int32_t width, int32_t height) {
  const WindowRecord* window = findRecord(objects.windows, objects.currentWindow);
  const std::optional<int32_t> chosen = numberForNewObject(number, objects.controls);
  if (window == nullptr || !chosen || *chosen >= ControlStateCapacity) {
    delete widget;
    return 0;
  }
  destroyNumberedRecord(objects.controls, *chosen, destroyControl);
  widget->setParent(window->clientArea);
  widget->setObjectName(QStringLiteral("control%1").arg(*chosen));
  widget->setGeometry(x, y, width, height);
  // Every control but a label takes the focus by Tab, whatever the style would say.
  if (kind != ControlKind::TextLabel) widget->setFocusPolicy(Qt::StrongFocus);
  if (kind == ControlKind::TextLabel) fitTextToLabel(static_cast<QLabel*>(widget));
  widget->show();
  const ControlRecord& control = objects.controls[*chosen] = {widget, kind, *objects.currentWindow};
  publishControlState(*chosen, stateOf(control));
  raiseUserEvents(*chosen, control);
  return creationResult(number, *chosen);
}

// Inserting into an empty Qt combo box selects the new item; this one keeps its selection.
void insertComboItem(QComboBox* comboBox, int32_t position, const QString& text) {
  const int selected = comboBox->currentIndex();
  comboBox->insertItem(position == -1 ? comboBox->count() : position, text);
  if (selected == -1) comboBox->setCurrentIndex(-1);
}

}  // namespace

void destroyWindowControls(int32_t window) {
  destroyWindowRecords(objects.controls, window, destroyControl);
}

int32_t addComboBox(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height) {
  // Not editable; starts empty with nothing selected. Qt sizes the opened list itself, so the
  // given height is the closed box's.
  auto* comboBox = new QComboBox;
  comboBox->setEditable(false);
  return placeControl(number, ControlKind::ComboBox, comboBox, x, y, width, height);
}

int32_t addSlider(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                  int32_t minimum, int32_t maximum, int32_t flags) {
  // Qt's vertical slider already has its maximum at the top and moves up as the value grows;
  // a new slider stands at its minimum.
  auto* slider = new QSlider((flags & SliderVertical) != 0 ? Qt::Vertical : Qt::Horizontal);
  slider->setRange(std::max(minimum, 0), std::max(maximum, 0));
  return placeControl(number, ControlKind::Slider, slider, x, y, width, height);
}

int32_t addTextLabel(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                     const char* text) {
  auto* label = new QLabel(toolkitText(text));
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return placeControl(number, ControlKind::TextLabel, label, x, y, width, height);
}

int32_t addCheckBox(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                    const char* text) {
  auto* checkBox = new QCheckBox(toolkitText(text));
  return placeControl(number, ControlKind::CheckBox, checkBox, x, y, width, height);
}

int32_t addEditor(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                  int32_t flags) {
  auto* editor = new QTextEdit;
  editor->setReadOnly((flags & EditorReadOnly) != 0);
  editor->setLineWrapMode(QTextEdit::NoWrap);
  editor->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  editor->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  editor->setTabChangesFocus(true);
  return placeControl(number, ControlKind::Editor, editor, x, y, width, height);
}

void setControlState(int32_t number, int32_t value) {
  ControlRecord* control = findRecord(objects.controls, number);
  if (control == nullptr) return;
  const QSignalBlocker programChange(control->widget);
  switch (control->kind) {
    case ControlKind::Slider:
      static_cast<QSlider*>(control->widget)->setValue(value);  // clamped to the range
      break;
    case ControlKind::ComboBox: {
      auto* comboBox = static_cast<QComboBox*>(control->widget);
      comboBox->setCurrentIndex(value >= 0 && value < comboBox->count() ? value : -1);
      break;
    }
    case ControlKind::CheckBox:
      static_cast<QCheckBox*>(control->widget)->setChecked(value != 0);
      break;
    case ControlKind::TextLabel:
    case ControlKind::Editor:
      return;
  }
  publishControlState(number, stateOf(*control));
}

void setControlText(int32_t number, const char* text) {
  const ControlRecord* control = findRecord(objects.controls, number);
  if (control == nullptr) return;
  if (control->kind == ControlKind::TextLabel) {
    auto* label = static_cast<QLabel*>(control->widget);
    label->setText(toolkitText(text));
    fitTextToLabel(label);
  } else if (control->kind == ControlKind::Editor) {
    static_cast<QTextEdit*>(control->widget)->setPlainText(toolkitText(text));
  }
}

void addControlItem(int32_t number, int32_t position, const char* text) {
  const ControlRecord* control = findRecord(objects.controls, number);
  if (control == nullptr || control->kind != ControlKind::ComboBox || position < -1) return;
  auto* comboBox = static_cast<QComboBox*>(control->widget);
  if (position > comboBox->count()) return;
  const QSignalBlocker programChange(comboBox);
  insertComboItem(comboBox, position, toolkitText(text));
  publishControlState(number, comboBox->currentIndex());
}

void setControlAccessibleName(int32_t number, const char* name) {
  const ControlRecord* control = findRecord(objects.controls, number);
  if (control != nullptr) control->widget->setAccessibleName(toolkitText(name));
}
