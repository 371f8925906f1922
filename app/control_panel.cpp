#include "app/control_panel.h"

#include "app/control_numbers.h"
#include "app/panel_layout.h"
#include "app/parameter_mapping.h"
#include "midi/midi_input.h"
#include "ui/format_real.h"
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
    addSlider(slider.number, slider.x, SliderY, SliderWidth, SliderHeight, slider.minimum,
              slider.maximum, SliderVertical);
    setControlState(slider.number, slider.initial);
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

void showReadout(const ParameterControl& control, float value) {
  if (control.readout == NoReadout) return;
  setControlText(control.readout, formatReal(value, control.decimals).c_str());
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
  if (const ParameterControl* control = findParameterControl(controlNumber)) {
    showReadout(*control,
                applyControlPosition(engineState, *control, getControlState(controlNumber)));
  }
}
