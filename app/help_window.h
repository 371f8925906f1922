// SPDX-License-Identifier: GPL-3.0-or-later
// The "?" menu's About box and help window. Window thread only; each returns when the user
// has closed what it shows, while sound and MIDI go on.
#pragma once

#include <string>

// The texts, lines separated by a carriage return alone.
extern const char* const aboutText;
std::string helpText();

// A modal box titled "About".
void showAboutBox();

// The help window with the model's equations; runs its own event loop, dropping every other
// event meanwhile, until its close box is used.
void showHelpWindow();
