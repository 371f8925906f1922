// SPDX-License-Identifier: GPL-3.0-or-later
// What the window knows of the plugin's parameters and presets, in the host's units. The
// window is written against these functions alone; gui_parameters.cpp answers them from the
// plugin's parameter table, and is the one file to change when that table changes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/nonblocking.h"

// The boxes the window groups its controls in: the window program's three, then how the
// instrument is played (every parameter that is none of the window program's controls).
enum class ControlGroup { Envelope, Neuron, VolumeAndS, Playing };
inline constexpr std::size_t ControlGroupCount = 4;
const char* controlGroupTitle(ControlGroup group);

std::size_t guiParameterCount();
// The CLAP id; on the audio thread too, where the window's changes become the host's events.
uint32_t guiParameterId(std::size_t index) noexcept QUILLFERN_NONBLOCKING;
const char* guiParameterName(std::size_t index);
ControlGroup guiParameterGroup(std::size_t index);
// How many steps from the lowest value to the highest (1 for a switch); 0 for a continuous one.
int32_t guiParameterSteps(std::size_t index);
double guiDefaultValue(std::size_t index);

// A value in the host's units from its place in the range (0 to 1), and back.
double guiValueAt(std::size_t index, double normalized);
double guiNormalizedOf(std::size_t index, double value);

// The value as the host shows it ("3.000", "250 ms", "Omni"), and what a user typed as a value
// (false for text that names none).
void guiValueText(std::size_t index, double value, char* text, std::size_t size);
bool guiValueOfText(std::size_t index, const char* text, double& value);

// The factory bank: its presets' names, and the values a preset gives: every parameter of the
// sound, NaN for those a preset leaves as they are (the MIDI channel).
std::size_t guiPresetCount();
const char* guiPresetName(std::size_t preset);
void guiPresetValues(std::size_t preset, std::span<double> values);
