// SPDX-License-Identifier: GPL-3.0-or-later
// A player's own presets: one text file a sound in the user's data folder,
// $XDG_DATA_HOME/quillfern/presets/ (~/.local/share/quillfern/presets/ without it), named
// after the preset with ".qfpreset" appended:
//
//   quillfern-preset 1
//   name My sound 1
//   attack 0.0001
//   ...
//   end
//
// The format line, the name line (the name shown, its spaces kept), then the lines of a saved
// state (state.h): one "symbol value" line per parameter a preset sets, in the parameter's own
// units, and "end". Parameters not named play their defaults, lines of unknown symbols are
// skipped, and anything else is refused whole. The window's thread and the renderer only:
// files are read and written here, never on the audio thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "instrument/parameters.h"

// The preset as a file's text, and back: false with the reason in words for a text that is no
// preset of this format, leaving `name` and `values` alone.
std::string presetText(std::string_view name, const ParameterValues& values);
bool parsePresetText(std::string_view text, std::string& name, ParameterValues& values,
                     std::string& problem);

// A name a preset may take: 1 to 48 bytes of printable text with no '/' and no space at
// either end, not a factory preset's.
bool presetNameAllowed(std::string_view name, std::string& problem);

// The folder of the user's presets; empty when neither XDG_DATA_HOME nor HOME says where.
std::string userPresetFolder();

// A file of the folder: its preset, or why it is none.
struct UserPreset {
  std::string path;
  std::string name;  // the name line's, or the file's name without ".qfpreset" for a bad file
  bool readable = false;
  std::string problem;
  ParameterValues values;
};

// Every .qfpreset file of the folder, by name in any case; at most MostUserPresets of them.
inline constexpr std::size_t MostUserPresets = 64;
std::vector<UserPreset> listUserPresets();

// One file read again, as it is now.
UserPreset readUserPreset(const std::string& path);

// The user's preset of that name (a bad file's: of that file name), in any case; an empty
// `path` when there is none.
UserPreset findUserPreset(std::string_view name);

// Writes the preset to the folder (created when missing), replacing the user's preset of
// that name; whole or not at all. False with the reason in words.
bool saveUserPreset(std::string_view name, const ParameterValues& values, std::string& problem);

// "My sound 1", "My sound 2", ...: the first such name no preset of `taken` has.
std::string freePresetName(const std::vector<UserPreset>& taken);
