// SPDX-License-Identifier: GPL-3.0-or-later
// Keeps ALSA's and JACK's own console messages off the terminal.
#pragma once

// While PortAudio and the MIDI service look for devices, ALSA and JACK report every card,
// plugin and server they do not find, dozens of lines on an ordinary desktop. The program says
// what matters itself (the "PortAudio" box, "No MIDI IN"), so these reports are dropped.
// Process-wide; cheap to call again.
void quietAudioSystemMessages() noexcept;
