// SPDX-License-Identifier: GPL-3.0-or-later
// MIDI input of the synthesizer: fills the device list, opens the chosen input with the note
// callback, switches inputs when the user picks another entry, and says in the status bar
// whether MIDI input is running. All of it runs on the window thread except midiInCallback,
// which runs on the MIDI thread.
#pragma once

#include <cstdint>

#include "midi/midi_service.h"

// The window thread's MIDI port state.
struct MidiInput {
  int32_t midiDeviceId = 0;             // input to open; -1 for none
  MidiPortHandle midiHandle = nullptr;  // the port opened last, or none
};

extern MidiInput midiInput;

// Appends one entry per input to MidiDeviceList, in device id order, and returns the number
// of inputs.
uint32_t listMidiDevices();

// The start-up choice after listing: the first input when there is one, else none.
void chooseStartupMidiDevice(uint32_t count);

// Opens and starts input midiDeviceId with midiInCallback and shows the outcome in
// MidiStatusField.
void openMidiPort();

// MidiDeviceList's selection changed: closes the open port, whose close notice releases a
// sounding note, and opens the input now selected.
void onMidiDeviceSelected();

// The MIDI thread's callback: applies each notice to the engine state and shows the note
// text after every data notice. Lost messages and a source that went away release the held
// notes; MidiStatusField says whether any source is connected. Never waits for the window
// thread.
void midiInCallback(MidiPortHandle handle, uint32_t notice, uintptr_t instance, uintptr_t param1,
                    uintptr_t param2) noexcept;
