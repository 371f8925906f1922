// SPDX-License-Identifier: GPL-3.0-or-later
// What the window knows of the plugin's parameters and presets, in the host's units. The
// window is written against these functions alone; gui_parameters.cpp answers them from the
// plugin's parameter table, and is the one file to change when that table changes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/nonblocking.h"

// The boxes the window groups its controls in: the envelope, the neuron's five constants, the
// output's level, then how the instrument is played (every parameter that is none of the window
// program's controls).
enum class ControlGroup { Envelope, Neuron, Output, Playing };
inline constexpr std::size_t ControlGroupCount = 4;
const char* controlGroupTitle(ControlGroup group);

std::size_t guiParameterCount();
// The CLAP id; on the audio thread too, where the window's changes become the host's events.
uint32_t guiParameterId(std::size_t index) noexcept QUILLFERN_NONBLOCKING;
// The window's name for a control: the host's, or for the model's constants their letter with
// what they do ("I \u00B7 drive"), and a line that says what it does to the sound (empty for
// none).
const char* guiParameterName(std::size_t index);
const char* guiParameterHint(std::size_t index);
ControlGroup guiParameterGroup(std::size_t index);
// How many steps from the lowest value to the highest (1 for a switch); 0 for a continuous one.
int32_t guiParameterSteps(std::size_t index);
double guiDefaultValue(std::size_t index);

// The attack's length in seconds among a view's values.
double guiAttackSeconds(std::span<const double> values);
// The MIDI channel (0 to 15) the plugin listens to among a view's values: the first for Omni.
uint8_t guiMidiChannel(std::span<const double> values);

// A value in the host's units from its place in the range (0 to 1), and back.
double guiValueAt(std::size_t index, double normalized);
double guiNormalizedOf(std::size_t index, double value);

// The value as the host shows it ("3.000", "250 ms", "Omni"), and what a user typed as a value
// (false for text that names none).
void guiValueText(std::size_t index, double value, char* text, std::size_t size);
bool guiValueOfText(std::size_t index, const char* text, double& value);

// A preset the window offers: the factory bank's, then the user's own (instrument/user_presets.h).
struct GuiPreset {
  std::string name;
  std::vector<double> values;  // every parameter, NaN for those a preset leaves as they are
  std::string path;            // a user's preset's file; empty for the factory bank's
  std::string problem;         // why a user's file is no preset; empty for one that is
};

// The factory bank, then the user's presets as their folder holds them now.
std::vector<GuiPreset> guiPresets();
std::size_t guiFactoryPresetCount();

// A user's preset read again from its file (it may have changed since the menu was made):
// false, with the reason in its `problem` and its values untouched, for a file that is no
// preset. True for a factory preset.
bool guiReadPresetAgain(GuiPreset& preset);

// Writes the values of the sound as the user's preset `name`; false with the reason in words.
bool guiSavePreset(const std::string& name, std::span<const double> values, std::string& problem);

// A name for a new preset ("My sound 3") that none of `presets` has.
std::string guiFreePresetName(const std::vector<GuiPreset>& presets);
