// SPDX-License-Identifier: GPL-3.0-or-later
#include "midi/midi_input.h"

#include "app/control_numbers.h"
#include "engine/engine_state.h"
#include "midi/midi_messages.h"
#include "ui/toolkit.h"

MidiInput midiInput;

uint32_t listMidiDevices() {
  const uint32_t count = countMidiInputs();
  for (uint32_t id = 0; id < count; ++id) {
    const char* name = midiInputName(static_cast<int32_t>(id));
    if (name != nullptr) addControlItem(MidiDeviceList, -1, name);
  }
  return count;
}

void chooseStartupMidiDevice(uint32_t count) {
  if (count != 0) {
    setControlState(MidiDeviceList, 0);
    midiInput.midiDeviceId = 0;
  } else {
    midiInput.midiDeviceId = -1;
  }
}

namespace {

void showMidiStatus(bool running) noexcept {
  if (statusBarExists(MainStatusBar)) {
    setStatusText(MainStatusBar, MidiStatusField, running ? "MIDI IN" : "No MIDI IN",
                  StatusTextCentred);
  }
}

void showNoteText() noexcept {
  if (statusBarExists(MainStatusBar)) {
    setStatusText(MainStatusBar, NoteStatusField, engineState.noteText, StatusTextCentred);
  }
}

// Messages were lost or a source went away: a note-off may be among what never arrives,
// so every held note is released as when the port closes.
void releaseHeldNotes() noexcept {
  handleMidiNotice(engineState, MidiCloseNotice, 0);
  showNoteText();
}

}  // namespace

void openMidiPort() {
  int32_t result = openMidiInput(&midiInput.midiHandle, midiInput.midiDeviceId, midiInCallback, 0);
  if (result == MidiOk) result = startMidiInput(midiInput.midiHandle);
  showMidiStatus(result == MidiOk);
}

void onMidiDeviceSelected() {
  if (midiInput.midiHandle != nullptr) {
    stopMidiInput(midiInput.midiHandle);
    closeMidiInput(midiInput.midiHandle);
    midiInput.midiHandle = nullptr;
  }
  midiInput.midiDeviceId = getControlState(MidiDeviceList);
  openMidiPort();
}

void midiInCallback(MidiPortHandle, uint32_t notice, uintptr_t, uintptr_t param1,
                    uintptr_t) noexcept {
  switch (notice) {
    case MidiLossNotice:
    case MidiSourceGoneNotice:
      releaseHeldNotes();
      break;
    case MidiSourcesNotice:
      showMidiStatus(param1 != 0);
      break;
    default:
      if (handleMidiNotice(engineState, notice, static_cast<uint32_t>(param1))) showNoteText();
  }
}
