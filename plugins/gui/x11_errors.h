// SPDX-License-Identifier: GPL-3.0-or-later
// The X errors of the window's own connection, kept from the host. Xlib's error handlers are the
// process's, and its defaults end the process: a parent the host never had, or destroyed before
// it closed our window, would take the host and its unsaved session down with it. Our handlers
// take the errors of our connections and pass every other on to the handlers that were there
// before them (the host's, or Xlib's defaults, as if we were not there).
#pragma once

#include <X11/Xlib.h>

#include <cstdint>

// What went wrong on one connection, counted by the handlers.
struct X11Errors {
  uint32_t count = 0;           // protocol errors (BadWindow and the like) so far
  bool connectionLost = false;  // the server closed the connection: nothing more can be sent
};

// From now until `releaseX11Errors`, the errors of `display` are counted in `errors` instead of
// going to the process's handlers. The host's thread that owns the window calls both.
void trapX11Errors(Display* display, X11Errors& errors);
// After the connection has closed (XCloseDisplay reports its last errors); by the counts, as
// the closed display's address may already be another's.
void releaseX11Errors(const X11Errors& errors);
