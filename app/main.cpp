// SPDX-License-Identifier: GPL-3.0-or-later
// Quillfern: start-up, the event loop and shutdown, all on the window thread.
#include <cstdio>
#include <cstdlib>

#include "app/audio_stream.h"
#include "app/control_numbers.h"
#include "app/control_panel.h"
#include "app/help_window.h"
#include "engine/engine_state.h"
#include "engine/voice.h"
#include "midi/midi_input.h"
#include "midi/midi_service.h"
#include "ui/toolkit.h"

namespace {

int32_t quitRequested = 0;

void dispatchMenu(int32_t item) {
  switch (item) {
    case MenuAbout:
      showAboutBox();
      break;
    case MenuHelp:
      showHelpWindow();
      break;
    case MenuQuit:
      quitRequested = 1;
      break;
    default:
      break;
  }
}

void dispatch(int32_t code) {
  switch (code) {
    case MenuEvent:
      dispatchMenu(eventMenu());
      break;
    case ControlEvent:
      onControlEvent(eventControl());
      break;
    case CloseWindowEvent:
      quitRequested = 1;
      break;
    default:
      break;
  }
}

// Without a display nobody would see that the program ended at once: say so on the terminal.
void reportNoMainWindow() {
  std::fputs("quillfern: no display could be opened, so the main window cannot be shown\n", stderr);
}

// PortAudio's JACK host API ends the process with a failed assertion in Pa_Terminate when the
// JACK server its client belonged to has gone, and the service's own JACK client learns of
// that loss as PortAudio's does. The program ends right after, so then only the stream is
// stopped and the library is left as it is.
void stopAudio() {
  if (!jackServerWentAway()) {
    stopAudioStream();
    return;
  }
  std::fputs("quillfern: the JACK sound server went away\n", stderr);
  abortAudioStream();
}

void runEventLoop() {
  quitRequested = 0;
  while (quitRequested == 0) dispatch(waitEvent(WaitForever));
}

}  // namespace

int main() {
  startVoice(engineState, DefaultSampleRate);
  // The window's sliders publish their states the moment they move, and the voice reads the
  // envelope's from there at each note's start, as it always has: a slider moved while its
  // event waits (or while the help window drops events) still counts for the next note.
  engineState.envelopePositionReader = getControlState;
  openAudioStream();
  midiInput.midiDeviceId = 0;
  midiInput.midiHandle = nullptr;
  if (openControlPanel()) {
    openMidiPort();
    startAudioStream();
    runEventLoop();
  } else {
    reportNoMainWindow();
  }
  stopAudio();
  closeToolkit();
  return EXIT_SUCCESS;
}
