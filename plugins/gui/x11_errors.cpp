// SPDX-License-Identifier: GPL-3.0-or-later
#include "plugins/gui/x11_errors.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

// One of the process's handlers, with the one ours replaced, which gets the others' errors.
template <typename Handler>
struct ChainedHandler {
  Handler (*set)(Handler);
  Handler ours;
  Handler previous = nullptr;
  bool installed = false;
};

struct TrappedDisplay {
  const Display* display;
  X11Errors* errors;
};

int onError(Display* display, XErrorEvent* error);
int onConnectionLost(Display* display);

// Every window of this module in the process, whichever instance opened it.
struct ErrorTrap {
  std::mutex lock;
  std::vector<TrappedDisplay> displays;
  ChainedHandler<XErrorHandler> errors{XSetErrorHandler, onError};
  ChainedHandler<XIOErrorHandler> connections{XSetIOErrorHandler, onConnectionLost};
};

ErrorTrap& errorTrap() {
  static ErrorTrap trap;
  return trap;
}

// Ours installed once, however many windows are open: `previous` is never ours.
template <typename Handler>
void install(ChainedHandler<Handler>& chain) {
  if (chain.installed) return;
  chain.previous = chain.set(chain.ours);
  chain.installed = true;
}

// The handler before ours put back. A handler installed over ours since may pass errors on to
// ours: it stays, and ours stays under it (this module is never unloaded, see its link options).
template <typename Handler>
void uninstall(ChainedHandler<Handler>& chain) {
  const Handler current = chain.set(chain.previous);
  if (current == chain.ours) {
    chain.installed = false;
  } else {
    chain.set(current);
  }
}

// Our display's errors, or null for a display of the host's or another module's.
X11Errors* trappedErrors(ErrorTrap& trap, const Display* display) {
  const auto found =
      std::find_if(trap.displays.begin(), trap.displays.end(),
                   [display](const TrappedDisplay& d) { return d.display == display; });
  return found != trap.displays.end() ? found->errors : nullptr;
}

int onError(Display* display, XErrorEvent* error) {
  ErrorTrap& trap = errorTrap();
  XErrorHandler previous = nullptr;
  {
    const std::lock_guard hold(trap.lock);
    if (X11Errors* ours = trappedErrors(trap, display)) {
      ++ours->count;
      return 0;
    }
    previous = trap.errors.previous;
  }
  return previous != nullptr ? previous(display, error) : 0;
}

// Xlib then calls the connection's exit handler, ours for our connections, which returns: the
// connection stays unusable, and every later call on it does nothing.
int onConnectionLost(Display* display) {
  ErrorTrap& trap = errorTrap();
  XIOErrorHandler previous = nullptr;
  {
    const std::lock_guard hold(trap.lock);
    if (X11Errors* ours = trappedErrors(trap, display)) {
      ours->connectionLost = true;
      return 0;
    }
    previous = trap.connections.previous;
  }
  return previous != nullptr ? previous(display) : 0;
}

void keepRunning(Display* /*display*/, void* errors) {
  static_cast<X11Errors*>(errors)->connectionLost = true;
}

}  // namespace

void trapX11Errors(Display* display, X11Errors& errors) {
  ErrorTrap& trap = errorTrap();
  const std::lock_guard hold(trap.lock);
  install(trap.errors);
  install(trap.connections);
  XSetIOErrorExitHandler(display, keepRunning, &errors);
  trap.displays.push_back({display, &errors});
}

void releaseX11Errors(const X11Errors& errors) {
  ErrorTrap& trap = errorTrap();
  const std::lock_guard hold(trap.lock);
  std::erase_if(trap.displays, [&errors](const TrappedDisplay& d) { return d.errors == &errors; });
  if (!trap.displays.empty()) return;
  uninstall(trap.errors);
  uninstall(trap.connections);
}
