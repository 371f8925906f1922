// Quillfern: start-up, the event loop and shutdown, all on the window thread.
#include <cstdio>
#include <cstdlib>

#include "app/control_numbers.h"
#include "app/control_panel.h"
#include "app/help_window.h"
#include "engine/audio_stream.h"
#include "engine/engine_state.h"
#include "midi/midi_input.h"
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

void runEventLoop() {
  quitRequested = 0;
  while (quitRequested == 0) dispatch(waitEvent(WaitForever));
}

}  // namespace

int main() {
  assignStartupValues(engineState);
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
  stopAudioStream();
  closeToolkit();
  return EXIT_SUCCESS;
}
