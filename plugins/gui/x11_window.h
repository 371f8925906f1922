// SPDX-License-Identifier: GPL-3.0-or-later
// The window as an X11 child of the host's window: an Xlib connection of its own, a cairo
// surface on it, the player's events handed to the view. The host's thread that owns the window
// (its main or UI thread) calls everything here; nothing runs on a thread of its own.
#pragma once

#include <cstdint>

#include "plugins/gui/window_view.h"

struct X11Window;

// A display connection, for a window to come: null without a display. The scale the desktop
// asks for (Xft.dpi / 96, 1 without it) is known from here on.
X11Window* connectX11(const GuiHost& host);
double desktopScale(const X11Window& window);

// The window inside `parent`, at `width` × `height` pixels; false if it cannot be made.
bool embedX11Window(X11Window& window, unsigned long parent, int width, int height);
unsigned long x11WindowId(const X11Window& window);

// Closes the window and the connection.
void closeX11Window(X11Window* window);

// The connection's file descriptor, for the host's loop to watch.
int x11ConnectionFd(const X11Window& window);
// Whether the server closed the connection (killed the client, or ended): the window is gone,
// and its file descriptor has nothing more to say.
bool x11ConnectionLost(const X11Window& window);

void showX11Window(X11Window& window, bool shown);
void resizeX11Window(X11Window& window, int width, int height);

// Handles every event waiting on the connection.
void handleX11Events(X11Window& window);

// The view, to feed with the host's values and the model's points.
WindowView& viewOf(X11Window& window);

// Draws the window if anything changed since its last drawing (or `force`).
void redrawX11Window(X11Window& window, bool force);
