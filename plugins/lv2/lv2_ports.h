// SPDX-License-Identifier: GPL-3.0-or-later
// The LV2 plugin's URI and port indices, shared by the plugin and the tool that writes its
// description. Like the port symbols, they never change for a port that exists: parameters
// added to the table after the first eleven follow the latency port.
#pragma once

#include <cstddef>
#include <cstdint>

#include "plugins/plugin_parameters.h"

inline constexpr const char* Lv2PluginUri = "urn:quillfern:synth";

inline constexpr uint32_t Lv2MidiInPort = 0;
inline constexpr uint32_t Lv2OutputPort = 1;
inline constexpr uint32_t Lv2FirstParameterPort = 2;  // then the parameters in table order
inline constexpr std::size_t ParametersBeforeLatency = 11;
inline constexpr uint32_t Lv2LatencyPort = Lv2FirstParameterPort + ParametersBeforeLatency;
inline constexpr uint32_t Lv2PortCount = Lv2FirstParameterPort + ParameterCount + 1;

// The port of the parameter at `index` in the table.
constexpr uint32_t lv2PortOf(std::size_t index) {
  return static_cast<uint32_t>(Lv2FirstParameterPort + index +
                               (index < ParametersBeforeLatency ? 0 : 1));
}
