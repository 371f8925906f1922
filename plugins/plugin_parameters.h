// The parameters a plugin host sees: the window's ten controls as stepped parameters in the
// window's positions, and the MIDI channel. Their CLAP ids (the window's control numbers, 100
// for the channel) and LV2 port symbols are part of every saved session: they never change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "engine/nonblocking.h"

inline constexpr uint32_t ChannelParameterId = 100;
inline constexpr int32_t OmniChannel = 0;  // the channel parameter's position for all channels
inline constexpr int32_t FirstMidiChannel = 1;
inline constexpr int32_t LastMidiChannel = 16;
inline constexpr std::size_t ParameterCount = 11;  // ten controls, then the channel

struct PluginParameter {
  uint32_t id;         // CLAP parameter id
  const char* symbol;  // LV2 port symbol and key of the saved state
  const char* name;    // as on the window
  const char* module;  // the group a host may show it in
  int32_t minimum;
  int32_t maximum;
  int32_t initial;  // the window's initial position (the channel: 1)
};

// All parameters in a fixed order: the LV2 control ports follow it.
std::span<const PluginParameter> pluginParameters() noexcept QUILLFERN_NONBLOCKING;

// The index of the parameter with this CLAP id or LV2 symbol, or -1.
int32_t parameterIndexOfId(uint32_t id) noexcept QUILLFERN_NONBLOCKING;
int32_t parameterIndexOfSymbol(const std::string& symbol) noexcept;

// A host's value as a position in the parameter's range: rounded to the nearest whole step,
// NaN and values out of range brought to the range.
int32_t positionOfValue(const PluginParameter& parameter,
                        double value) noexcept QUILLFERN_NONBLOCKING;

// The physical value at a position as a host shows it: "0.0098", "3.000", "250 ms", "50 %",
// "4.0", "Omni". `text` gets at most `size` bytes including the terminating zero.
void formatParameterValue(const PluginParameter& parameter, int32_t position, char* text,
                          std::size_t size);

// What a user typed in a host's parameter field, as the position whose physical value is
// nearest ("0.01", "250", "250 ms", "omni"); false for text without a number.
bool parseParameterText(const PluginParameter& parameter, const char* text, int32_t& position);

// The positions a plugin instance holds, and which of the window's controls have been changed:
// a control keeps the voice's start-up value until its first change. The channel counts as
// never changed (it has no start-up value of its own).
struct ParameterPositions {
  int32_t position[ParameterCount]{};
  bool changed[ParameterCount]{};
};

// Every parameter at its initial position, none changed: a new instance.
ParameterPositions initialPositions() noexcept;

// Moves parameter `index` to `position` (already in range). A control is changed from the first
// move to a position other than the one it holds; returns true when the voice must take the
// position, that is when the control is (now) changed.
bool moveParameter(ParameterPositions& positions, std::size_t index,
                   int32_t position) noexcept QUILLFERN_NONBLOCKING;

// The saved state: one line "symbol position changed" (changed 0 or 1) per parameter after a
// first line naming the format. Text, so that a session file stays readable and diffable.
std::string stateText(const ParameterPositions& positions);

// Reads a saved state. Lines of parameters this version does not know are skipped (a session
// saved by a later version); parameters not named keep their initial positions. Returns false,
// leaving `positions` alone, for anything malformed.
bool parseStateText(const std::string& text, ParameterPositions& positions);

// The changed controls as their symbols separated by spaces ("r i volume"), and back: what an
// LV2 session keeps besides its port values. Unknown symbols are skipped.
std::string changedSymbols(const ParameterPositions& positions);
void markChangedSymbols(const std::string& symbols, ParameterPositions& positions);
