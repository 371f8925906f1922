// SPDX-License-Identifier: GPL-3.0-or-later
// The LV2 plugin's URI and port indices, shared by the plugin, the tool that writes its
// description, its window and our hosts (tools/, tests/). Like the port symbols, they never
// change for a port that exists: each parameter's port is in the parameter table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "instrument/parameters.h"

inline constexpr const char* Lv2PluginUri = "urn:quillfern:synth";

inline constexpr uint32_t Lv2MidiInPort = 0;
inline constexpr uint32_t Lv2OutputPort = 1;
inline constexpr uint32_t Lv2LatencyPort = 13;
// The model's course for the window, as eg-scope sends its samples: atom messages out of run().
inline constexpr uint32_t Lv2TracePort = 23;

// The port of the parameter at `index` in the table.
constexpr uint32_t lv2PortOf(std::size_t index) {
  return parameter_table::Table[index].lv2Port;
}

namespace lv2_ports {

constexpr bool isFixedPort(uint32_t port) {
  return port == Lv2MidiInPort || port == Lv2OutputPort || port == Lv2LatencyPort ||
         port == Lv2TracePort;
}

constexpr uint32_t portCount() {
  uint32_t count = Lv2TracePort + 1;
  for (const InstrumentParameter& parameter : parameter_table::Table) {
    if (parameter.lv2Port >= count) count = parameter.lv2Port + 1;
  }
  return count;
}

// Every index from 0 to the last is one port: a parameter's or a fixed one's, never both.
constexpr bool portsComplete() {
  for (uint32_t port = 0; port < portCount(); ++port) {
    std::size_t owners = isFixedPort(port) ? 1 : 0;
    for (const InstrumentParameter& parameter : parameter_table::Table) {
      if (parameter.lv2Port == port) ++owners;
    }
    if (owners != 1) return false;
  }
  return true;
}

}  // namespace lv2_ports

inline constexpr uint32_t Lv2PortCount = lv2_ports::portCount();
static_assert(lv2_ports::portsComplete(), "an LV2 port index missing or taken twice");

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
inline constexpr const char* Lv2PeakUri = "urn:quillfern:synth#peak";
inline constexpr const char* Lv2NotePointsUri = "urn:quillfern:synth#notePoints";
inline constexpr const char* Lv2VoicesUri = "urn:quillfern:synth#voices";
// Bytes the host should give the trace port: a block of 4096 frames at 48000 Hz with room.
inline constexpr uint32_t Lv2TraceBufferBytes = 65536;
// The plugin's ring of points: a block's, as many as that buffer carries.
inline constexpr uint32_t Lv2TracePoints = Lv2TraceBufferBytes / (2 * sizeof(float));
