// SPDX-License-Identifier: GPL-3.0-or-later
// The audio output: one mono float32 stream at 44100 Hz on the default output device, fed by
// RenderCallback on PortAudio's own thread from the standalone program's voice, `engineState`.
// All of this runs on the window thread.
#pragma once

#include <portaudio.h>

#include "engine/nonblocking.h"

inline constexpr double SuggestedLatencySeconds = 0.075;

// PortAudio's stream callback, rendering from `engineState`. Always returns paContinue.
int RenderCallback(const void* input, void* output, unsigned long frameCount,
                   const PaStreamCallbackTimeInfo* timeInfo, PaStreamCallbackFlags statusFlags,
                   void* userData) noexcept QUILLFERN_NONBLOCKING;

// Initialises PortAudio and opens the stream on `engineState` (stopped). On failure shows the
// library's text in a message box titled "PortAudio" and ends the program.
void openAudioStream();

// Closes the gate and starts the stream; a stream that fails to start leaves the program
// running without sound.
void startAudioStream();

// Aborts the stream at once and leaves PortAudio as it is: for a process about to end whose
// sound server has gone, where terminating the library would abort the process.
void abortAudioStream();

// Aborts the stream at once, keeps the windows serviced until it has stopped, terminates
// PortAudio.
void stopAudioStream();

// Shows the failure of a PortAudio call ("PortAudio" message box) and ends the program with
// exit code 0, leaving PortAudio as it is.
[[noreturn]] void reportAudioError(PaError code);
