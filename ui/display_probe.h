// SPDX-License-Identifier: GPL-3.0-or-later
// Finds out, before Qt starts, whether a display can be reached at all: Qt ends the whole
// process when its platform cannot connect, and the application must instead learn that its
// window cannot be opened.
#pragma once

#include <optional>
#include <string>

// The platform to start Qt on: empty to follow QT_QPA_PLATFORM as the user set it, otherwise
// "xcb" or "wayland"; nothing when no usable display can be reached. An X display is
// preferred because only there can windows be placed where the application asks.
std::optional<std::string> chooseQtPlatform();
