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
// The model's course for the window, as eg-scope sends its samples: atom messages out of run().
inline constexpr uint32_t Lv2TracePort = Lv2FirstParameterPort + ParameterCount + 1;
inline constexpr uint32_t Lv2PortCount = Lv2TracePort + 1;

// The port of the parameter at `index` in the table.
constexpr uint32_t lv2PortOf(std::size_t index) {
  return static_cast<uint32_t>(Lv2FirstParameterPort + index +
                               (index < ParametersBeforeLatency ? 0 : 1));
}

// The window, in a shared object of its own, and its messages: it asks for the points with
// traceOn (to the MIDI input port) and lets go with traceOff; run() answers with one trace
// object a block, its pointRate (float, points a second) and its points (a float vector of
// x, z pairs).
inline constexpr const char* Lv2UiUri = "urn:quillfern:synth#ui";
inline constexpr const char* Lv2TraceOnUri = "urn:quillfern:synth#traceOn";
inline constexpr const char* Lv2TraceOffUri = "urn:quillfern:synth#traceOff";
inline constexpr const char* Lv2TraceUri = "urn:quillfern:synth#trace";
inline constexpr const char* Lv2PointRateUri = "urn:quillfern:synth#pointRate";
inline constexpr const char* Lv2PointsUri = "urn:quillfern:synth#points";
// Bytes the host should give the trace port: a block of 4096 frames at 48000 Hz with room.
inline constexpr uint32_t Lv2TraceBufferBytes = 65536;
