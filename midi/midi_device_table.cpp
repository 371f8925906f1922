// SPDX-License-Identifier: GPL-3.0-or-later
#include "midi/midi_device_table.h"

void appendReadablePorts(MidiDeviceTable& table, int32_t api, uint32_t portCount,
                         const MidiPortNameReader& portName) {
  for (uint32_t index = 0; index < portCount; ++index) {
    std::string name = portName(index);
    if (!name.empty()) table.push_back({api, std::move(name)});
  }
}

int32_t findPortIndex(uint32_t portCount, const MidiPortNameReader& portName,
                      const std::string& wanted) {
  for (uint32_t index = 0; index < portCount; ++index) {
    if (portName(index) == wanted) return static_cast<int32_t>(index);
  }
  return -1;
}
