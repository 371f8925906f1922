// SPDX-License-Identifier: GPL-3.0-or-later
// A separate process for what a test cannot do inside its own: start the toolkit without a
// display (plain Qt would end the process), or sit blocked in waitEvent while the test
// measures its processor time.
//
//   toolkit_probe no-display   opens a window, shows a message, waits, exits 0
//   toolkit_probe idle         opens a window like the control panel, says "waiting PID" and
//                              waits forever
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "toolkit_test_support.h"

namespace {

int runWithoutDisplay() {
  std::printf("openWindow %d\n",
              openWindow(1, 0, 0, 510, 230, "Quillfern", WindowTitleBar + WindowScreenCentred));
  std::printf("statusBarExists %d\n", statusBarExists(0) ? 1 : 0);
  showMessage("PortAudio", "first line\rsecond line");
  std::printf("waitEvent %d\n", waitEvent(1));
  closeToolkit();
  return 0;
}

[[noreturn]] void waitForever() {
  openPanelWindow();
  takeWaitingEvents();
  std::printf("waiting %d\n", static_cast<int>(getpid()));
  while (true) waitEvent(WaitForever);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // in order with what goes to standard error
  if (argc == 2 && std::strcmp(argv[1], "no-display") == 0) return runWithoutDisplay();
  if (argc == 2 && std::strcmp(argv[1], "idle") == 0) waitForever();
  std::fprintf(stderr, "usage: %s no-display|idle\n", argv[0]);
  return 2;
}
