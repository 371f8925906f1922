// SPDX-License-Identifier: GPL-3.0-or-later
// The plugin window drawn with cairo from a WindowView: the controls in their groups, the scope
// of x, the x–z phase portrait, the regime in words. The same drawing goes to an X11 window and,
// in the tests, to an image in memory.
#pragma once

#include <cairo.h>

#include "plugins/gui/window_view.h"

// Draws the whole window at the view's size; `cairo`'s target is that size in pixels.
void drawWindow(cairo_t* cairo, const WindowView& view);

// The window drawn into a new image surface of the view's size (ARGB32). The caller destroys it.
cairo_surface_t* renderWindowImage(const WindowView& view);
