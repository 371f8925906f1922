// SPDX-License-Identifier: GPL-3.0-or-later
// The parameters a plugin host sees, in the model's own units: one table from which the CLAP
// plugin, the LV2 description (and the presets and a plugin window to come) take every
// parameter's id, symbol, name, group, unit, range, default, scale and text. A parameter's
// default is what a new voice plays, so a fresh instance and one reset to its defaults sound
// alike and there is no state besides the values. The CLAP ids (the window's control numbers,
// 100 for the channel) and the LV2 port symbols are part of every saved session: they never
// change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "engine/nonblocking.h"
#include "engine/voice_controls.h"

inline constexpr uint32_t ChannelParameterId = 100;
inline constexpr int32_t OmniChannel = 0;  // the channel parameter's value for all channels
inline constexpr int32_t FirstMidiChannel = 1;
inline constexpr int32_t LastMidiChannel = 16;
inline constexpr std::size_t ParameterCount = 20;  // the window's ten controls, the channel,
                                                   // the instrument's nine settings

// What a parameter's value measures, and so how it reads and which LV2 unit it has.
enum class ParameterUnit {
  Number,   // a quantity of the model without a unit (I, r, ...): a plain number
  Seconds,  // shown in ms below a second; typed as "3 s", "250 ms" or "0.25"
  Level,    // 0 to 1, shown as a percentage; typed as "50 %" or "0.5"
  Channel,  // a MIDI channel
};

enum class ParameterScale {
  Linear,
  Logarithmic,  // hosts that can spread it logarithmically
  Stepped,      // only the values of its window control's positions (s: 2.8 or 4.0)
  Enumeration,  // whole numbers from the minimum on, each named by its label
  Toggle,       // 0 or 1, named by its two labels
};

struct PluginParameter {
  uint32_t id;         // CLAP parameter id
  const char* symbol;  // LV2 port symbol and key in a saved state
  const char* name;
  const char* group;  // CLAP module, LV2 port group
  ParameterUnit unit;
  ParameterScale scale;
  double minimum;
  double maximum;
  double defaultValue;  // the voice's start-up value
  // Digits shown: significant ones of a time or a logarithmic Number, decimals of another
  // Number or of a Level's percentage.
  int32_t digits;
  bool automatable;
  std::span<const char* const> labels;  // Enumeration and Toggle: one per value, from minimum
};

// All parameters in a fixed order: the LV2 control ports and a saved state follow it.
std::span<const PluginParameter> pluginParameters() noexcept QUILLFERN_NONBLOCKING;

// The index of the parameter with this CLAP id or LV2 symbol, or -1.
int32_t parameterIndexOfId(uint32_t id) noexcept QUILLFERN_NONBLOCKING;
int32_t parameterIndexOfSymbol(std::string_view symbol) noexcept;

// The window's control a parameter sets (its id is the control's number), or null.
const VoiceControl* windowControlOf(const PluginParameter& parameter) noexcept
    QUILLFERN_NONBLOCKING;

// What a window position of the parameter's control stands for: the value a host sets to play
// exactly what the window (and quillfern-render) play at that position.
double positionValue(const PluginParameter& parameter,
                     int32_t position) noexcept QUILLFERN_NONBLOCKING;

// The value that plays for a host's value: brought into the range, and to the nearest value a
// stepped, enumerated or toggled parameter has. NaN stays NaN: callers keep what they had.
double playableValue(const PluginParameter& parameter, double value) noexcept QUILLFERN_NONBLOCKING;

// An LV2 control port's 32-bit float as a value: the float nearest a window position's value,
// or one that differs from it only past the eighth decimal (as a saved session keeps it), plays
// exactly that position's value; any other float plays as itself.
double valueOfPortFloat(const PluginParameter& parameter,
                        float port) noexcept QUILLFERN_NONBLOCKING;

// The value that plays for `value` as a host shows it, with its unit: "0.100 ms", "1.50 s",
// "50 %", "3.000", "0.00977", "4.0", "Omni". `text` gets at most `size` bytes with the zero.
void formatParameterValue(const PluginParameter& parameter, double value, char* text,
                          std::size_t size);

// What a user typed, in any unit the parameter's unit allows ("3 s", "3000 ms", "250ms",
// "50 %", "0.0098", "omni"); a number without a unit is in the parameter's own unit. False for
// text that names no number or label, an unknown unit, and a value outside the range (one that
// reads as the range's end, like "1.702" for b's 1.7023, is that end).
bool parseParameterText(const PluginParameter& parameter, std::string_view text, double& value);

// One value per parameter, in table order: what an instance plays and saves.
struct ParameterValues {
  double value[ParameterCount]{};
};

// Every parameter at its default: what a new instance plays.
ParameterValues defaultValues() noexcept;

// What quillfern-render plays unless told otherwise: the defaults, with stable steps and the
// DC filter off, so that its sound is the window's.
ParameterValues rendererValues() noexcept;
