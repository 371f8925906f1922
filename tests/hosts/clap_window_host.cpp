// SPDX-License-Identifier: GPL-3.0-or-later
// quillfern-clap-window-host: a CLAP host with a window, for the tests under Xvfb. A thread of
// its own plays a score through the plugin in real time, as a DAW's audio thread does, while the
// main thread opens the plugin's window inside an X11 window of the host's own (set_parent) and
// serves it through timer-support and posix-fd-support.
//
//   quillfern-clap-window-host PLUGIN.clap SCORE -o OUT.f32 [--cycles N] [--scale S]
//                              [--parent bogus|destroyed-first]
//
// OUT gets the samples as raw 32-bit floats. With --cycles the window is opened and closed N
// times while the score plays; without, it stays open. With --parent it is offered a parent that
// is no window, or has its parent destroyed before it closes (window_hosts.h). On standard output:
// "window ID" once it shows, the places of its parts (printWindowPlaces), what the plugin tells
// the host ("begin ID", "value ID VALUE", "end ID"), and at the end "initial ID VALUE SYMBOL" and
// "final ID VALUE SYMBOL" for every parameter, as the plugin held it before the score and after.
#include <X11/Xlib.h>
#include <clap/events.h>
#include <clap/ext/gui.h>
#include <clap/ext/params.h>
#include <clap/ext/timer-support.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "plugins/clap/posix_fd_support.h"
#include "plugins/gui/gui_parameters.h"
#include "plugins/gui/window_view.h"
#include "tests/hosts/window_hosts.h"
#include "tools/plugin_host/format_hosts.h"
#include "tools/plugin_host/plugin_host.h"
#include "tools/score.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int LongestWaitMilliseconds = 50;

struct Timer {
  clap_id id;
  std::chrono::milliseconds period;
  Clock::time_point due;
};

struct WatchedFd {
  int fd;
  clap_posix_fd_flags_t flags;
};

struct WindowHost {
  const clap_plugin_t* plugin = nullptr;
  const clap_plugin_gui_t* gui = nullptr;
  Display* display = nullptr;
  Window parent = 0;
  std::vector<Timer> timers;
  clap_id nextTimer = 1;
  std::vector<WatchedFd> fds;
  std::mutex said;  // the audio thread's reports, printed by the main thread
  std::vector<std::string> reports;
  std::atomic<bool> playing{true};
  double scale = 1.0;
};

// The host's extensions take the clap_host_t of our offline host, whose host_data is its own:
// this host is reached through the one instance there is, set before the plugin is made.
WindowHost* current = nullptr;

void rescan(const clap_host_t* /*host*/, clap_param_rescan_flags /*flags*/) {}
void clearParameter(const clap_host_t* /*host*/, clap_id /*id*/, clap_param_clear_flags /*f*/) {}
// The audio thread runs process() all the time, which takes the window's changes.
void requestFlush(const clap_host_t* /*host*/) {}
const clap_host_params_t Params = {rescan, clearParameter, requestFlush};

bool registerTimer(const clap_host_t* /*host*/, uint32_t period, clap_id* id) {
  const std::chrono::milliseconds every(period);
  current->timers.push_back({current->nextTimer, every, Clock::now() + every});
  *id = current->nextTimer++;
  return true;
}

bool unregisterTimer(const clap_host_t* /*host*/, clap_id id) {
  std::erase_if(current->timers, [id](const Timer& timer) { return timer.id == id; });
  return true;
}
const clap_host_timer_support_t Timers = {registerTimer, unregisterTimer};

bool registerFd(const clap_host_t* /*host*/, int fd, clap_posix_fd_flags_t flags) {
  current->fds.push_back({fd, flags});
  return true;
}

bool modifyFd(const clap_host_t* /*host*/, int fd, clap_posix_fd_flags_t flags) {
  for (WatchedFd& watched : current->fds) {
    if (watched.fd == fd) watched.flags = flags;
  }
  return true;
}

bool unregisterFd(const clap_host_t* /*host*/, int fd) {
  std::erase_if(current->fds, [fd](const WatchedFd& watched) { return watched.fd == fd; });
  return true;
}
const clap_host_posix_fd_support_t Fds = {registerFd, modifyFd, unregisterFd};

void resizeHintsChanged(const clap_host_t* /*host*/) {}
bool requestResize(const clap_host_t* /*host*/, uint32_t width, uint32_t height) {
  XResizeWindow(current->display, current->parent, width, height);
  return current->gui->set_size(current->plugin, width, height);
}
bool requestShow(const clap_host_t* /*host*/) {
  return false;
}
bool requestHide(const clap_host_t* /*host*/) {
  return false;
}
void closed(const clap_host_t* /*host*/, bool /*destroyed*/) {}
const clap_host_gui_t Gui = {resizeHintsChanged, requestResize, requestShow, requestHide, closed};

const void* extension(void* /*context*/, const char* id) {
  const std::string_view name = id;
  if (name == CLAP_EXT_PARAMS) return &Params;
  if (name == CLAP_EXT_TIMER_SUPPORT) return &Timers;
  if (name == CLAP_EXT_POSIX_FD_SUPPORT) return &Fds;
  if (name == CLAP_EXT_GUI) return &Gui;
  return nullptr;
}

void eventOut(void* context, const clap_event_header& event) {
  auto& host = *static_cast<WindowHost*>(context);
  char line[64] = {};
  if (event.type == CLAP_EVENT_PARAM_VALUE) {
    const auto& value = reinterpret_cast<const clap_event_param_value_t&>(event);
    std::snprintf(line, sizeof line, "value %u %.17g", value.param_id, value.value);
  } else if (event.type == CLAP_EVENT_PARAM_GESTURE_BEGIN ||
             event.type == CLAP_EVENT_PARAM_GESTURE_END) {
    const auto& gesture = reinterpret_cast<const clap_event_param_gesture_t&>(event);
    std::snprintf(line, sizeof line, "%s %u",
                  event.type == CLAP_EVENT_PARAM_GESTURE_BEGIN ? "begin" : "end", gesture.param_id);
  }
  const std::lock_guard lock(host.said);
  host.reports.emplace_back(line);
}

void printReports(WindowHost& host) {
  const std::lock_guard lock(host.said);
  for (const std::string& report : host.reports) std::printf("%s\n", report.c_str());
  host.reports.clear();
  std::fflush(stdout);
}

// One turn of the main loop: the fds the plugin watches, then its due timers.
void serve(WindowHost& host, int milliseconds) {
  std::vector<pollfd> watched;
  watched.reserve(host.fds.size());
  for (const WatchedFd& fd : host.fds) watched.push_back({fd.fd, POLLIN, 0});
  poll(watched.data(), watched.size(), milliseconds);
  for (const pollfd& fd : watched) {
    if ((fd.revents & POLLIN) != 0) {
      const auto* support = static_cast<const clap_plugin_posix_fd_support_t*>(
          host.plugin->get_extension(host.plugin, CLAP_EXT_POSIX_FD_SUPPORT));
      support->on_fd(host.plugin, fd.fd, CLAP_POSIX_FD_READ);
    }
  }
  const auto now = Clock::now();
  const auto* timers = static_cast<const clap_plugin_timer_support_t*>(
      host.plugin->get_extension(host.plugin, CLAP_EXT_TIMER_SUPPORT));
  for (std::size_t index = 0; index < host.timers.size(); ++index) {
    if (host.timers[index].due > now) continue;
    host.timers[index].due = now + host.timers[index].period;
    timers->on_timer(host.plugin, host.timers[index].id);
  }
  printReports(host);
}

void serveFor(WindowHost& host, std::chrono::milliseconds span) {
  const auto until = Clock::now() + span;
  while (Clock::now() < until && host.playing) serve(host, 5);
}

bool openWindow(WindowHost& host, bool announce) {
  const clap_plugin_gui_t& gui = *host.gui;
  if (!gui.is_api_supported(host.plugin, CLAP_WINDOW_API_X11, false) ||
      !gui.create(host.plugin, CLAP_WINDOW_API_X11, false)) {
    return false;
  }
  gui.set_scale(host.plugin, host.scale);
  uint32_t width = 0;
  uint32_t height = 0;
  gui.get_size(host.plugin, &width, &height);
  XResizeWindow(host.display, host.parent, width, height);
  XSync(host.display, False);
  clap_window_t parent{CLAP_WINDOW_API_X11, {}};
  parent.x11 = host.parent;
  if (!gui.set_parent(host.plugin, &parent) || !gui.show(host.plugin)) return false;
  if (announce) {
    std::printf("window %lu %ux%u\n", host.parent, width, height);
    printWindowPlaces(host.display, host.parent, host.scale);
  }
  return true;
}

void closeWindow(WindowHost& host) {
  host.gui->hide(host.plugin);
  host.gui->destroy(host.plugin);
}

// Whether the plugin's window took a parent that is no window, which it must refuse.
bool takesBogusParent(WindowHost& host) {
  if (!host.gui->create(host.plugin, CLAP_WINDOW_API_X11, false)) return false;
  clap_window_t parent{CLAP_WINDOW_API_X11, {}};
  parent.x11 = BogusParent;
  const bool took = host.gui->set_parent(host.plugin, &parent);
  host.gui->destroy(host.plugin);
  return took;
}

// The window open for a while, then the host's window destroyed under it, and only then closed.
bool closeAfterParent(WindowHost& host) {
  if (!openWindow(host, false)) return false;
  serveFor(host, std::chrono::milliseconds(300));
  destroyHostWindow(host.display, host.parent);
  serveFor(host, std::chrono::milliseconds(300));
  closeWindow(host);
  return true;
}

void play(WindowHost& host, HostedPlugin& plugin, const Score& score, std::vector<float>& out) {
  playInRealTime(plugin, score, out, [](bool /*before*/) {});
  host.playing = false;
}

std::vector<double> parameterValues(const WindowHost& host) {
  const auto* params = static_cast<const clap_plugin_params_t*>(
      host.plugin->get_extension(host.plugin, CLAP_EXT_PARAMS));
  std::vector<double> values(guiParameterCount());
  for (std::size_t index = 0; index < values.size(); ++index) {
    params->get_value(host.plugin, guiParameterId(index), &values[index]);
  }
  return values;
}

}  // namespace

int main(int argc, char** argv) {
  WindowHostOptions options;
  Score score;
  if (!readWindowHostCommand(argc, argv, options, score)) return 2;
  WindowHost host;
  host.scale = options.scale;
  // The host outlives the plugin, which is closed before main returns.
  current = &host;  // cppcheck-suppress danglingLifetime
  host.display = openHostDisplay();
  if (host.display == nullptr) return 1;
  host.parent = makeHostWindow(host.display, "Quillfern CLAP window host");
  const ClapHostServices services{&host, extension, eventOut};
  std::string error;
  HostedPluginPtr plugin =
      openPlugin(options.plugin, WindowHostRate, WindowHostBlockFrames, error, &services);
  if (!plugin) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  host.plugin = clapPluginOf(*plugin);
  host.gui =
      static_cast<const clap_plugin_gui_t*>(host.plugin->get_extension(host.plugin, CLAP_EXT_GUI));
  const std::vector<double> initial = parameterValues(host);
  std::vector<float> samples;
  std::thread audio(play, std::ref(host), std::ref(*plugin), std::cref(score), std::ref(samples));
  bool opened = true;
  if (options.parent == ParentTrial::Bogus) {
    opened = takesBogusParent(host);
  } else if (options.parent == ParentTrial::DestroyedFirst) {
    opened = closeAfterParent(host);
  } else if (options.cycles == 0) {
    opened = openWindow(host, true);
    while (opened && host.playing) serve(host, LongestWaitMilliseconds);
    if (opened) closeWindow(host);
  }
  for (int cycle = 0; opened && cycle < options.cycles; ++cycle) {
    opened = openWindow(host, cycle == 0);
    serveFor(host, std::chrono::milliseconds(20));
    if (opened) closeWindow(host);
  }
  audio.join();
  printReports(host);
  printParameterValues("initial", initial);
  printParameterValues("final", parameterValues(host));
  writeSamples(options.output, samples);
  plugin.reset();
  return closeHostWindow(host.display, host.parent, options.parent, opened);
}
