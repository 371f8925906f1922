// SPDX-License-Identifier: GPL-3.0-or-later
// A plugin instance's saved state: text, so that a session file stays readable and diffable.
//
//   quillfern-plugin-state 2
//   attack 9.999997789391995e-05
//   ...
//   end
//
// One line "symbol value" per parameter, the value in the parameter's own units, written so
// that it reads back to the same double, and a last line "end", without which a state is taken
// for one cut short. Lines may end in CR LF, blank lines are skipped, and fields after the ones
// read are ignored, so that a later version may add fields on a line and keep the format
// number; a later version that changes a field's meaning takes a new number.
// Format 1, which sessions of the version before hold, gave the window positions and whether
// each control had been moved ("r 47 0"): a control never moved plays its start-up value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "instrument/parameters.h"

std::string stateText(const ParameterValues& values);

// The lines of format 2 after its format line, the end line last; with `presetsOnly`, only the
// parameters a preset sets.
std::string valueLines(const ParameterValues& values, bool presetsOnly);

// Reads a saved state of format 1 or 2. Lines of parameters this version does not know are
// skipped (a session saved by a later version); parameters not named keep their defaults.
// Returns false, leaving `values` alone, for anything else: no format line, a field that is no
// number, a value out of its parameter's range, a format 2 state without its end.
bool parseStateText(std::string_view text, ParameterValues& values);

// The lines of format 2 after its format line (a user preset's after its name line), numbered
// from `firstLine` on: parameters named take their values in `values`. False with the first
// problem in words ("line 4: b takes a number from 1.702 to 3.404"), `values` untouched.
bool parseValueLines(std::string_view text, int32_t firstLine, ParameterValues& values,
                     std::string& problem);
