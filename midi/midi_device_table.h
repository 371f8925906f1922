// SPDX-License-Identifier: GPL-3.0-or-later
// The list of MIDI inputs as last counted: list position -> (system, port name).
//
// Positions are device ids and the UI's list positions. A port is remembered by its name, not
// by its index in its system, because the system renumbers its ports whenever one comes or
// goes; opening looks the name up again. A port whose name cannot be read (it went away while
// being listed) is left out, so every position names the device shown there.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct MidiDeviceEntry {
  int32_t api;           // RtMidi::Api of the system that has the port
  std::string portName;  // the port's name as that system gives it
};

using MidiDeviceTable = std::vector<MidiDeviceEntry>;

// Reads the name of one port of a system by its current index; empty when it cannot.
using MidiPortNameReader = std::function<std::string(uint32_t portIndex)>;

// Appends the readable ones of a system's portCount ports, in the system's order.
void appendReadablePorts(MidiDeviceTable& table, int32_t api, uint32_t portCount,
                         const MidiPortNameReader& portName);

// The current index of the port called wanted among portCount ports, or -1 when it is gone.
int32_t findPortIndex(uint32_t portCount, const MidiPortNameReader& portName,
                      const std::string& wanted);
