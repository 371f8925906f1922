// SPDX-License-Identifier: GPL-3.0-or-later
#include "plugins/gui/x11_window.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xresource.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <cairo-xlib.h>

#include <unistd.h>

#include <cstdlib>

#include "plugins/gui/window_draw.h"
#include "plugins/gui/x11_errors.h"

struct X11Window {
  Display* display = nullptr;
  Window window = 0;
  cairo_surface_t* surface = nullptr;
  cairo_surface_t* image = nullptr;  // where the window is drawn, then shown on `surface`
  GuiHost host;
  WindowView view = makeWindowView();
  double desktopScale = 1.0;
  X11Errors errors;
};

namespace {

constexpr double StandardDpi = 96.0;
constexpr int WheelUp = 4;
constexpr int WheelDown = 5;
constexpr long EventMask = ExposureMask | StructureNotifyMask | ButtonPressMask |
                           ButtonReleaseMask | PointerMotionMask | KeyPressMask | LeaveWindowMask;

// The desktop's text scale, as toolkits read it.
double xftScale(Display* display) {
  const char* resources = XResourceManagerString(display);
  if (resources == nullptr) return 1.0;
  XrmInitialize();
  XrmDatabase database = XrmGetStringDatabase(resources);
  char* type = nullptr;
  XrmValue value{};
  double dpi = 0.0;
  if (XrmGetResource(database, "Xft.dpi", "Xft.Dpi", &type, &value) && value.addr != nullptr) {
    dpi = std::strtod(value.addr, nullptr);
  }
  XrmDestroyDatabase(database);
  return dpi > 0.0 ? dpi / StandardDpi : 1.0;
}

// XEmbed's information, for hosts that embed through that protocol: version 0, mapped.
void announceXEmbed(Display* display, Window window) {
  const Atom info = XInternAtom(display, "_XEMBED_INFO", False);
  const long data[2] = {0, 1};
  XChangeProperty(display, window, info, info, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(data), 2);
}

unsigned modifiersOf(unsigned state) {
  return (state & ShiftMask) != 0 ? FineModifier : 0u;
}

void typeKey(X11Window& window, XKeyEvent& event) {
  char text[16] = {};
  KeySym key = NoSymbol;
  const int length = XLookupString(&event, text, sizeof text - 1, &key, nullptr);
  WindowView& view = window.view;
  if (key == XK_Return || key == XK_KP_Enter) {
    keyPressed(view, window.host, EditKey::Enter, "");
  } else if (key == XK_Escape) {
    keyPressed(view, window.host, EditKey::Escape, "");
  } else if (key == XK_BackSpace) {
    keyPressed(view, window.host, EditKey::Backspace, "");
  } else if (length > 0 && static_cast<unsigned char>(text[0]) >= ' ') {
    keyPressed(view, window.host, EditKey::Text, text);
  }
}

void pressButton(X11Window& window, const XButtonEvent& event) {
  WindowView& view = window.view;
  if (event.button == WheelUp || event.button == WheelDown) {
    wheelTurned(view, window.host, event.x, event.y, event.button == WheelUp ? 1 : -1,
                modifiersOf(event.state));
    return;
  }
  pointerPressed(view, window.host, event.x, event.y, static_cast<int>(event.button),
                 static_cast<uint32_t>(event.time));
  // Typing goes to the value being entered.
  if (view.entry.open) XSetInputFocus(window.display, window.window, RevertToParent, event.time);
}

// The host destroyed its window, and ours inside it, before closing ours: nothing is left to draw
// on or to destroy.
void forgetWindow(X11Window& window) {
  if (window.surface != nullptr) cairo_surface_destroy(window.surface);
  window.surface = nullptr;
  window.window = 0;
}

void handleEvent(X11Window& window, XEvent& event) {
  WindowView& view = window.view;
  switch (event.type) {
    case DestroyNotify:
      if (event.xdestroywindow.window == window.window) forgetWindow(window);
      break;
    case Expose:
      view.dirty = true;
      break;
    case ConfigureNotify:
      if (event.xconfigure.width != static_cast<int>(view.width) ||
          event.xconfigure.height != static_cast<int>(view.height)) {
        cairo_xlib_surface_set_size(window.surface, event.xconfigure.width,
                                    event.xconfigure.height);
        resizeView(view, event.xconfigure.width, event.xconfigure.height);
      }
      break;
    case ButtonPress:
      pressButton(window, event.xbutton);
      break;
    case ButtonRelease:
      if (event.xbutton.button == LeftButton) pointerReleased(view, window.host);
      break;
    case MotionNotify:
      pointerMoved(view, window.host, event.xmotion.x, event.xmotion.y,
                   modifiersOf(event.xmotion.state));
      break;
    case LeaveNotify:
      // A leave for a grab (a window manager's click to focus) is no leave of the pointer.
      if (event.xcrossing.mode == NotifyNormal && !view.dragging) {
        pointerMoved(view, window.host, -1.0, -1.0, 0);
      }
      break;
    case KeyPress:
      typeKey(window, event.xkey);
      break;
    default:
      break;
  }
}

}  // namespace

X11Window* connectX11(const GuiHost& host) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return nullptr;
  auto* window = new X11Window;
  window->display = display;
  trapX11Errors(display, window->errors);
  window->host = host;
  window->desktopScale = xftScale(display);
  return window;
}

double desktopScale(const X11Window& window) {
  return window.desktopScale;
}

bool embedX11Window(X11Window& window, unsigned long parent, int width, int height) {
  if (window.window != 0 || parent == 0 || window.errors.connectionLost) return false;
  Display* display = window.display;
  XSetWindowAttributes attributes{};
  attributes.event_mask = EventMask;
  attributes.background_pixmap = None;  // we paint everything: no flash of a background
  const uint32_t errorsBefore = window.errors.count;
  window.window = XCreateWindow(display, parent, 0, 0, static_cast<unsigned>(width),
                                static_cast<unsigned>(height), 0, CopyFromParent, InputOutput,
                                CopyFromParent, CWEventMask | CWBackPixmap, &attributes);
  // A parent that is no window (or is gone) shows only in the server's answer.
  XSync(display, False);
  if (window.errors.count != errorsBefore || window.errors.connectionLost) {
    window.window = 0;
    return false;
  }
  XStoreName(display, window.window, "Quillfern");
  announceXEmbed(display, window.window);
  window.surface = cairo_xlib_surface_create(
      display, window.window, DefaultVisual(display, DefaultScreen(display)), width, height);
  resizeView(window.view, width, height);
  XFlush(display);
  return true;
}

unsigned long x11WindowId(const X11Window& window) {
  return window.window;
}

void closeX11Window(X11Window* window) {
  if (window == nullptr) return;
  if (window->image != nullptr) cairo_surface_destroy(window->image);
  if (window->errors.connectionLost) {
    // Xlib and cairo would wait for ever on a connection the server has closed: what they hold
    // of it is left as it is, and only its socket is closed.
    close(ConnectionNumber(window->display));
  } else {
    if (window->surface != nullptr) cairo_surface_destroy(window->surface);
    if (window->window != 0) XDestroyWindow(window->display, window->window);
    XCloseDisplay(window->display);
  }
  releaseX11Errors(window->errors);
  delete window;
}

int x11ConnectionFd(const X11Window& window) {
  return ConnectionNumber(window.display);
}

void showX11Window(X11Window& window, bool shown) {
  if (window.window == 0 || window.errors.connectionLost) return;
  if (shown) {
    XMapRaised(window.display, window.window);
  } else {
    XUnmapWindow(window.display, window.window);
  }
  XFlush(window.display);
}

void resizeX11Window(X11Window& window, int width, int height) {
  resizeView(window.view, width, height);
  if (window.window == 0 || window.errors.connectionLost) return;
  XResizeWindow(window.display, window.window, static_cast<unsigned>(width),
                static_cast<unsigned>(height));
  cairo_xlib_surface_set_size(window.surface, width, height);
  XFlush(window.display);
}

bool x11ConnectionLost(const X11Window& window) {
  return window.errors.connectionLost;
}

void handleX11Events(X11Window& window) {
  while (!window.errors.connectionLost && XPending(window.display) > 0) {
    XEvent event;
    XNextEvent(window.display, &event);
    // A burst of pointer motion counts as its last move.
    if (event.type == MotionNotify) {
      while (XCheckTypedWindowEvent(window.display, window.window, MotionNotify, &event)) {
      }
    }
    handleEvent(window, event);
  }
}

WindowView& viewOf(X11Window& window) {
  return window.view;
}

// The window is drawn in memory, as the tests draw it, and then shown whole: text drawn straight
// on an X11 surface would leave cairo's glyph caches holding on to the display after it closes.
void redrawX11Window(X11Window& window, bool force) {
  if (window.surface == nullptr || window.errors.connectionLost || (!force && !window.view.dirty)) {
    return;
  }
  const auto width = static_cast<int>(window.view.width);
  const auto height = static_cast<int>(window.view.height);
  if (window.image == nullptr || cairo_image_surface_get_width(window.image) != width ||
      cairo_image_surface_get_height(window.image) != height) {
    if (window.image != nullptr) cairo_surface_destroy(window.image);
    window.image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  }
  cairo_t* drawing = cairo_create(window.image);
  drawWindow(drawing, window.view);
  cairo_destroy(drawing);
  cairo_t* shown = cairo_create(window.surface);
  cairo_set_source_surface(shown, window.image, 0, 0);
  cairo_set_operator(shown, CAIRO_OPERATOR_SOURCE);
  cairo_paint(shown);
  cairo_destroy(shown);
  cairo_surface_flush(window.surface);
  XFlush(window.display);
  window.view.dirty = false;
}
