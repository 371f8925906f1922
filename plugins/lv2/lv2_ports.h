// The LV2 plugin's URIs and port indices, shared by the plugin and the tool that writes its
// description. Like the port symbols, they are part of every saved session.
#pragma once

#include <cstdint>

#include "plugins/plugin_parameters.h"

inline constexpr const char* Lv2PluginUri = "urn:quillfern:synth";
// The state key of the controls that have been changed (their symbols, space-separated).
inline constexpr const char* Lv2ChangedControlsUri = "urn:quillfern:synth#changedControls";

inline constexpr uint32_t Lv2MidiInPort = 0;
inline constexpr uint32_t Lv2OutputPort = 1;
inline constexpr uint32_t Lv2FirstParameterPort = 2;  // then the parameters in table order
inline constexpr uint32_t Lv2LatencyPort = Lv2FirstParameterPort + ParameterCount;
// The model's course for the window, as eg-scope sends its samples: atom messages out of run().
inline constexpr uint32_t Lv2TracePort = Lv2LatencyPort + 1;

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
