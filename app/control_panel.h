// SPDX-License-Identifier: GPL-3.0-or-later
// MainWindow: the sliders for the model parameters, the volume and the envelope, the s check
// box, the MIDI device list, the "?" menu and the status bar; and what their changes do.
// Window thread only.
#pragma once

#include <cstdint>

// Builds MainWindow with everything in it and lists the MIDI devices; false only when the
// window cannot be opened.
bool openControlPanel();

// A ControlEvent of the given control: sets its model parameter and read-out, or switches the
// MIDI input.
void onControlEvent(int32_t controlNumber);
