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
