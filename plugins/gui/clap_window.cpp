// SPDX-License-Identifier: GPL-3.0-or-later
#include "plugins/gui/clap_window.h"

#include <clap/ext/params.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

#include "plugins/gui/gui_parameters.h"
#include "plugins/gui/x11_window.h"

struct ClapWindow {
  X11Window* x11 = nullptr;
  const clap_host_timer_support_t* timers = nullptr;
  const clap_host_posix_fd_support_t* fds = nullptr;
  const clap_host_params_t* hostParams = nullptr;
  clap_id timer = CLAP_INVALID_ID;
  int connectionFd = -1;
  int timerFd = -1;  // our own ticks through the host's fd loop, for a host without timers
  TraceReader reader;
  std::vector<float> points = std::vector<float>(std::size_t{2} * TraceRing::Capacity);
};

namespace {

constexpr uint32_t TickMilliseconds = 20;  // how soon the window follows the host and the model
constexpr uint32_t AspectHeight = 9;       // BaseWidth : BaseHeight in whole numbers
constexpr auto AspectWidth = static_cast<uint32_t>(BaseWidth * AspectHeight / BaseHeight);
static_assert(AspectWidth * BaseHeight == BaseWidth * AspectHeight);

template <typename Extension>
const Extension* hostExtension(const clap_host_t* host, const char* id) {
  return static_cast<const Extension*>(host->get_extension(host, id));
}

void sendChange(ClapWindowLink& link, WindowChange::Kind kind, std::size_t index, double value) {
  WindowChanges& changes = link.changes;
  const uint32_t written = changes.written.load(std::memory_order_relaxed);
  // A full queue means the host runs neither process() nor flush(): the change is lost, and the
  // view shows the host's value again once the queue drains.
  if (written - changes.read.load(std::memory_order_acquire) >= WindowChanges::Capacity) return;
  changes.changes[written % WindowChanges::Capacity] = {kind, static_cast<uint32_t>(index), value};
  changes.written.store(written + 1, std::memory_order_release);
  const ClapWindow* window = link.window;
  if (window != nullptr && window->hostParams != nullptr) {
    window->hostParams->request_flush(link.host);
  }
}

void beginGesture(void* context, std::size_t index) {
  sendChange(*static_cast<ClapWindowLink*>(context), WindowChange::Kind::Begin, index, 0.0);
}

void setValue(void* context, std::size_t index, double value) {
  sendChange(*static_cast<ClapWindowLink*>(context), WindowChange::Kind::Value, index, value);
}

void endGesture(void* context, std::size_t index) {
  sendChange(*static_cast<ClapWindowLink*>(context), WindowChange::Kind::End, index, 0.0);
}

// The strip's keys take the gestures' way to the audio thread, which plays them as notes.
void playKey(void* context, int32_t key, bool down) {
  sendChange(*static_cast<ClapWindowLink*>(context),
             down ? WindowChange::Kind::KeyDown : WindowChange::Kind::KeyUp,
             static_cast<std::size_t>(key), KeyboardVelocity / 127.0);
}

ClapWindow* windowOf(const clap_plugin_t* plugin) {
  return windowLinkOf(plugin).window;
}

// The host's values and the model's newest points into the view.
void followPlugin(ClapWindowLink& link) {
  ClapWindow& window = *link.window;
  WindowView& view = viewOf(*window.x11);
  const auto* params = static_cast<const clap_plugin_params_t*>(
      link.plugin->get_extension(link.plugin, CLAP_EXT_PARAMS));
  // While changes of the window are on their way, the plugin's values are older than the view's.
  const bool settled = link.changes.read.load(std::memory_order_acquire) ==
                       link.changes.written.load(std::memory_order_relaxed);
  for (std::size_t index = 0; settled && index < guiParameterCount(); ++index) {
    double value = 0.0;
    if (params->get_value(link.plugin, guiParameterId(index), &value)) {
      followHostValue(view, index, value);
    }
  }
  setPointRate(view.history, link.trace.pointRate.load(std::memory_order_relaxed));
  const auto capacity = static_cast<uint32_t>(window.points.size() / 2);
  const uint32_t count = readTrace(link.trace, window.reader, window.points.data(), capacity);
  if (count > 0) {
    appendPoints(view.history, window.points.data(), count);
    view.dirty = true;
  }
  // Between notes no points come, but the meter falls to silence.
  followLevel(view, link.trace.peak.load(std::memory_order_relaxed),
              link.trace.notePoints.load(std::memory_order_relaxed),
              link.trace.voices.load(std::memory_order_relaxed));
}

void tick(const clap_plugin_t* plugin) {
  ClapWindowLink& link = windowLinkOf(plugin);
  if (link.window == nullptr) return;
  handleX11Events(*link.window->x11);
  followPlugin(link);
  redrawX11Window(*link.window->x11, false);
}

void onTimer(const clap_plugin_t* plugin, clap_id /*timer*/) {
  tick(plugin);
}

void onFd(const clap_plugin_t* plugin, int fd, clap_posix_fd_flags_t /*flags*/) {
  ClapWindow* window = windowOf(plugin);
  if (window == nullptr) return;
  if (fd == window->timerFd) {
    uint64_t expirations = 0;
    if (read(fd, &expirations, sizeof expirations) < 0) return;
    tick(plugin);
    return;
  }
  handleX11Events(*window->x11);
  redrawX11Window(*window->x11, false);
  // A lost connection stays readable for good: the host's loop would spin on it.
  if (x11ConnectionLost(*window->x11) && window->connectionFd >= 0) {
    window->fds->unregister_fd(windowLinkOf(plugin).host, window->connectionFd);
    window->connectionFd = -1;
  }
}

// Ticks from the host's timer, or, for a host that has none, from a timer file descriptor of
// our own in its fd loop. A host with neither gets no window (it shows its own controls).
bool startTicks(ClapWindow& window, const clap_host_t* host) {
  if (window.timers != nullptr &&
      window.timers->register_timer(host, TickMilliseconds, &window.timer)) {
    return true;
  }
  window.timer = CLAP_INVALID_ID;
  if (window.fds == nullptr) return false;
  window.timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (window.timerFd < 0) return false;
  const timespec period{0, static_cast<long>(TickMilliseconds) * 1000000L};
  const itimerspec every{period, period};
  timerfd_settime(window.timerFd, 0, &every, nullptr);
  return window.fds->register_fd(host, window.timerFd, CLAP_POSIX_FD_READ);
}

void stopTicks(ClapWindow& window, const clap_host_t* host) {
  if (window.timer != CLAP_INVALID_ID) window.timers->unregister_timer(host, window.timer);
  if (window.timerFd >= 0) {
    window.fds->unregister_fd(host, window.timerFd);
    close(window.timerFd);
  }
}

void destroyWindow(const clap_plugin_t* plugin) {
  ClapWindowLink& link = windowLinkOf(plugin);
  ClapWindow* window = link.window;
  if (window == nullptr) return;
  if (window->x11 != nullptr) {
    releaseKeyboard(viewOf(*window->x11),
                    GuiHost{&link, beginGesture, setValue, endGesture, playKey});
  }
  stopReading(link.trace);
  stopTicks(*window, link.host);
  if (window->connectionFd >= 0 && window->fds != nullptr) {
    window->fds->unregister_fd(link.host, window->connectionFd);
  }
  closeX11Window(window->x11);
  delete window;
  link.window = nullptr;
}

bool isApiSupported(const clap_plugin_t* /*plugin*/, const char* api, bool isFloating) {
  return api != nullptr && std::strcmp(api, CLAP_WINDOW_API_X11) == 0 && !isFloating;
}

bool preferredApi(const clap_plugin_t* /*plugin*/, const char** api, bool* isFloating) {
  *api = CLAP_WINDOW_API_X11;
  *isFloating = false;
  return true;
}

bool createWindow(const clap_plugin_t* plugin, const char* api, bool isFloating) {
  ClapWindowLink& link = windowLinkOf(plugin);
  if (!isApiSupported(plugin, api, isFloating) || link.window != nullptr) return false;
  auto* window = new ClapWindow;
  window->timers = hostExtension<clap_host_timer_support_t>(link.host, CLAP_EXT_TIMER_SUPPORT);
  window->fds = hostExtension<clap_host_posix_fd_support_t>(link.host, CLAP_EXT_POSIX_FD_SUPPORT);
  window->hostParams = hostExtension<clap_host_params_t>(link.host, CLAP_EXT_PARAMS);
  window->x11 = connectX11(GuiHost{&link, beginGesture, setValue, endGesture, playKey});
  link.window = window;
  if (window->x11 == nullptr || !startTicks(*window, link.host)) {
    destroyWindow(plugin);
    return false;
  }
  // Without the host's fd loop the timer's ticks read the connection.
  if (window->fds != nullptr) {
    window->connectionFd = x11ConnectionFd(*window->x11);
    window->fds->register_fd(link.host, window->connectionFd, CLAP_POSIX_FD_READ);
  }
  startReading(link.trace, window->reader);
  return true;
}

double scaleOf(const ClapWindowLink& link) {
  const double scale = link.hostScale > 0.0 ? link.hostScale : desktopScale(*link.window->x11);
  return std::clamp(scale, SmallestScale, LargestScale);
}

bool setScale(const clap_plugin_t* plugin, double scale) {
  if (!(scale > 0.0)) return false;
  windowLinkOf(plugin).hostScale = scale;
  return true;
}

// Within the scales the window is readable at, keeping its aspect.
void fitSize(uint32_t& width, uint32_t& height) {
  const double scale =
      std::clamp(std::min(width / BaseWidth, height / BaseHeight), SmallestScale, LargestScale);
  width = static_cast<uint32_t>(std::lround(BaseWidth * scale));
  height = static_cast<uint32_t>(std::lround(BaseHeight * scale));
}

bool getSize(const clap_plugin_t* plugin, uint32_t* width, uint32_t* height) {
  const ClapWindowLink& link = windowLinkOf(plugin);
  if (link.window == nullptr) return false;
  if (x11WindowId(*link.window->x11) != 0) {
    const WindowView& view = viewOf(*link.window->x11);
    *width = static_cast<uint32_t>(view.width);
    *height = static_cast<uint32_t>(view.height);
    return true;
  }
  *width = static_cast<uint32_t>(std::lround(BaseWidth * scaleOf(link)));
  *height = static_cast<uint32_t>(std::lround(BaseHeight * scaleOf(link)));
  return true;
}

bool canResize(const clap_plugin_t* /*plugin*/) {
  return true;
}

bool resizeHints(const clap_plugin_t* /*plugin*/, clap_gui_resize_hints_t* hints) {
  *hints = {true, true, true, AspectWidth, AspectHeight};
  return true;
}

bool adjustSize(const clap_plugin_t* /*plugin*/, uint32_t* width, uint32_t* height) {
  fitSize(*width, *height);
  return true;
}

bool setSize(const clap_plugin_t* plugin, uint32_t width, uint32_t height) {
  ClapWindow* window = windowOf(plugin);
  if (window == nullptr) return false;
  fitSize(width, height);
  resizeX11Window(*window->x11, static_cast<int>(width), static_cast<int>(height));
  redrawX11Window(*window->x11, true);
  return true;
}

bool setParent(const clap_plugin_t* plugin, const clap_window_t* parent) {
  ClapWindow* window = windowOf(plugin);
  if (window == nullptr || parent == nullptr) return false;
  uint32_t width = 0;
  uint32_t height = 0;
  getSize(plugin, &width, &height);
  return embedX11Window(*window->x11, parent->x11, static_cast<int>(width),
                        static_cast<int>(height));
}

bool setTransient(const clap_plugin_t* /*plugin*/, const clap_window_t* /*window*/) {
  return false;
}

void suggestTitle(const clap_plugin_t* /*plugin*/, const char* /*title*/) {}

bool show(const clap_plugin_t* plugin) {
  ClapWindow* window = windowOf(plugin);
  if (window == nullptr) return false;
  showX11Window(*window->x11, true);
  redrawX11Window(*window->x11, true);
  return true;
}

bool hide(const clap_plugin_t* plugin) {
  ClapWindow* window = windowOf(plugin);
  if (window == nullptr) return false;
  showX11Window(*window->x11, false);
  return true;
}

const clap_plugin_gui_t Gui = {isApiSupported, preferredApi, createWindow, destroyWindow, setScale,
                               getSize,        canResize,    resizeHints,  adjustSize,    setSize,
                               setParent,      setTransient, suggestTitle, show,          hide};
const clap_plugin_timer_support_t TimerSupport = {onTimer};
const clap_plugin_posix_fd_support_t FdSupport = {onFd};

}  // namespace

bool takeWindowChange(WindowChanges& changes, WindowChange& change) noexcept QUILLFERN_NONBLOCKING {
  const uint32_t read = changes.read.load(std::memory_order_relaxed);
  if (read == changes.written.load(std::memory_order_acquire)) return false;
  change = changes.changes[read % WindowChanges::Capacity];
  changes.read.store(read + 1, std::memory_order_release);
  return true;
}

ClapChangeEvent clapEventOf(const WindowChange& change) noexcept QUILLFERN_NONBLOCKING {
  ClapChangeEvent event{};
  const clap_id id = guiParameterId(change.index);
  if (change.kind == WindowChange::Kind::Value) {
    event.value = {
        {sizeof(clap_event_param_value_t), 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0},
        id,
        nullptr,
        -1,
        -1,
        -1,
        -1,
        change.value};
  } else {
    const auto type = static_cast<uint16_t>(change.kind == WindowChange::Kind::Begin
                                                ? CLAP_EVENT_PARAM_GESTURE_BEGIN
                                                : CLAP_EVENT_PARAM_GESTURE_END);
    event.gesture = {{sizeof(clap_event_param_gesture_t), 0, CLAP_CORE_EVENT_SPACE_ID, type, 0},
                     id};
  }
  return event;
}

const void* clapWindowExtension(const char* id) {
  if (std::strcmp(id, CLAP_EXT_GUI) == 0) return &Gui;
  if (std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) == 0) return &TimerSupport;
  if (std::strcmp(id, CLAP_EXT_POSIX_FD_SUPPORT) == 0) return &FdSupport;
  return nullptr;
}

void closeClapWindow(ClapWindowLink& link) {
  if (link.window != nullptr) destroyWindow(link.plugin);
}
