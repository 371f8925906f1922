// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/control_panel.h"

#include "app/control_numbers.h"
#include "app/panel_layout.h"
#include "app/parameter_mapping.h"
#include "engine/format_real.h"
#include "engine/voice.h"
#include "engine/voice_controls.h"
#include "midi/midi_input.h"
#include "ui/toolkit.h"

namespace {

void addMenu() {
  if (createMenuBar(MainMenu, windowHandle(MainWindow)) == 0) return;
  addMenuTitle("?");
  addMenuItem(MenuAbout, "About");
  addMenuItem(MenuHelp, "Help");
}

void addMidiDeviceList() {
  addComboBox(MidiDeviceList, DeviceListPlace.x, DeviceListPlace.y, DeviceListPlace.width,
              DeviceListPlace.height);
  setControlAccessibleName(MidiDeviceList, "MIDI input");
  chooseStartupMidiDevice(listMidiDevices());
}

void addSliders() {
  for (const SliderLayout& slider : panelSliders()) {
    const VoiceControl& control = *findVoiceControl(slider.number);
    addSlider(slider.number, slider.x, SliderY, SliderWidth, SliderHeight, control.minimum,
              control.maximum, SliderVertical);
    setControlState(slider.number, control.initial);
    setControlAccessibleName(slider.number, slider.accessibleName);
  }
}

void addLabels() {
  for (const LabelLayout& label : panelLabels()) {
    addTextLabel(label.number, label.x, label.y, label.width, LabelHeight, label.text);
  }
}

void addStatusBar() {
  if (createStatusBar(MainStatusBar, windowHandle(MainWindow)) == 0) return;
  for (const int32_t width : StatusFieldWidths) addStatusField(width);
}

void showReadout(int32_t controlNumber, int32_t position) {
  const ParameterReadout* readout = findParameterReadout(controlNumber);
  if (readout == nullptr) return;
  const float value = findParameterControl(controlNumber)->valueAt(position);
  setControlText(readout->label, formatReal(value, readout->decimals).c_str());
}

}  // namespace

bool openControlPanel() {
  if (openWindow(MainWindow, 0, 0, PanelWidth, PanelHeight, "Quillfern",
                 WindowTitleBar + WindowScreenCentred) == 0) {
    return false;
  }
  addMenu();
  addMidiDeviceList();
  addSliders();
  addLabels();
  addCheckBox(SCheckBox, CheckBoxPlace.x, CheckBoxPlace.y, CheckBoxPlace.width,
              CheckBoxPlace.height, "s");
  addStatusBar();
  addKeyboardShortcut(MainWindow, KeyEscape, MenuQuit);
  return true;
}

void onControlEvent(int32_t controlNumber) {
  if (controlNumber == MidiDeviceList) {
    onMidiDeviceSelected();
    return;
  }
  // The state is read now rather than carried with the event, so merged events lose nothing.
  // The envelope sliders need no event: the voice reads their states at each note's start.
  if (findParameterControl(controlNumber) == nullptr) return;
  const int32_t position = getControlState(controlNumber);
  setVoiceControl(engineState, controlNumber, position);
  showReadout(controlNumber, position);
}
