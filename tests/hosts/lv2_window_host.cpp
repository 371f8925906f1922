// SPDX-License-Identifier: GPL-3.0-or-later
// quillfern-lv2-window-host: an LV2 host with a window, for the tests under Xvfb and the
// sanitizers, where a real host cannot go. A thread of its own plays a score through the plugin
// in real time, as a host's audio thread does, while the main thread opens the plugin's window
// (its ui:X11UI) inside an X11 window of the host's own (ui:parent), calls its idle interface and
// hands it what the trace port wrote; what the window writes reaches the plugin at the start of
// the next block (all but its request to stop the points: the host drops them while no window
// is open).
//
//   quillfern-lv2-window-host BUNDLE SCORE -o OUT.f32 [--cycles N]
//                             [--parent bogus|destroyed-first]
//
// OUT gets the samples as raw 32-bit floats; the window is opened and closed N times while the
// score plays, or, with --parent, once in the trial's way (window_hosts.h). Without either it
// stays open until the score ends, and standard output tells what the CLAP window host's does:
// "window ID", the places of the window's parts, the window's gestures and values ("begin ID",
// "value ID VALUE", "end ID"), and at the end "initial" and "final" values of the control ports.
#include <X11/Xlib.h>
#include <dlfcn.h>
#include <lv2/atom/util.h>
#include <lv2/ui/ui.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "instrument/lv2_ports.h"
#include "plugins/gui/window_view.h"
#include "tests/hosts/window_hosts.h"
#include "tools/plugin_host/format_hosts.h"
#include "tools/plugin_host/plugin_host.h"
#include "tools/score.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t MostWaitingAtoms = 256;  // a window that idles no more loses the oldest
constexpr auto OpenFor = std::chrono::milliseconds(20);
constexpr auto IdleEvery = std::chrono::milliseconds(5);

// Between the window (main thread) and the plugin (audio thread), both ways.
struct Mailbox {
  std::mutex lock;
  std::vector<std::pair<uint32_t, double>> controls;  // CLAP id, value
  bool traceAsked = false;
  std::vector<std::vector<uint8_t>> atoms;  // the trace port's, for the window
};

struct WindowHost {
  HostedPlugin* plugin = nullptr;
  Display* display = nullptr;
  Window parent = 0;
  const LV2UI_Descriptor* ui = nullptr;
  std::string bundle;
  LV2_URID eventTransfer = 0;
  LV2_URID traceOn = 0;
  Mailbox mailbox;
  std::vector<double> values;  // the control ports', as the window last wrote them
  bool announce = false;       // the window's places, gestures and values on standard output
  std::atomic<bool> windowOpen{false};
  std::atomic<bool> playing{true};
};

// What the window writes: a control's value, or its request for the model's points.
void writeToPlugin(LV2UI_Controller controller, uint32_t port, uint32_t size, uint32_t format,
                   const void* buffer) {
  auto& host = *static_cast<WindowHost*>(const_cast<void*>(controller));
  const std::lock_guard hold(host.mailbox.lock);
  if (format == 0 && size == sizeof(float)) {
    for (std::size_t index = 0; index < ParameterCount; ++index) {
      if (lv2PortOf(index) != port) continue;
      const float value = *static_cast<const float*>(buffer);
      host.mailbox.controls.emplace_back(instrumentParameters()[index].id, value);
      host.values[index] = value;
      if (host.announce) std::printf("value %u %.17g\n", instrumentParameters()[index].id, value);
    }
  } else if (format == host.eventTransfer && port == Lv2MidiInPort &&
             size >= sizeof(LV2_Atom_Object)) {
    const auto& message = *static_cast<const LV2_Atom_Object*>(buffer);
    if (message.body.otype == host.traceOn) host.mailbox.traceAsked = true;
  }
}

void touchPort(LV2UI_Feature_Handle handle, uint32_t port, bool grabbed) {
  const auto& host = *static_cast<const WindowHost*>(handle);
  for (std::size_t index = 0; index < ParameterCount && host.announce; ++index) {
    if (lv2PortOf(index) == port) {
      std::printf("%s %u\n", grabbed ? "begin" : "end", instrumentParameters()[index].id);
    }
  }
}

int resizeParent(LV2UI_Feature_Handle handle, int width, int height) {
  auto& host = *static_cast<WindowHost*>(handle);
  XResizeWindow(host.display, host.parent, static_cast<unsigned>(width),
                static_cast<unsigned>(height));
  return 0;
}

// The window's writes go in at the block's start; the trace port's atoms go out after it.
void takeWindowWrites(WindowHost& host) {
  const std::lock_guard hold(host.mailbox.lock);
  for (const auto& [id, value] : host.mailbox.controls) presetParameter(*host.plugin, id, value);
  host.mailbox.controls.clear();
  if (host.mailbox.traceAsked) askForModelTrace(*host.plugin);
  host.mailbox.traceAsked = false;
}

void passTraceOn(WindowHost& host) {
  if (!host.windowOpen.load()) return;
  const LV2_Atom_Sequence& written = lv2Notifications(*lv2PluginOf(*host.plugin));
  if (written.atom.type == 0) return;
  const std::lock_guard hold(host.mailbox.lock);
  LV2_ATOM_SEQUENCE_FOREACH(&written, event) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&event->body);
    if (host.mailbox.atoms.size() == MostWaitingAtoms) {
      host.mailbox.atoms.erase(host.mailbox.atoms.begin());
    }
    host.mailbox.atoms.emplace_back(bytes, bytes + sizeof(LV2_Atom) + event->body.size);
  }
}

void play(WindowHost& host, const Score& score, std::vector<float>& out) {
  playInRealTime(*host.plugin, score, out, [&host](bool before) {
    if (before) {
      takeWindowWrites(host);
    } else {
      passTraceOn(host);
    }
  });
  host.playing = false;
}

void giveWindowTrace(WindowHost& host, LV2UI_Handle window) {
  std::vector<std::vector<uint8_t>> atoms;
  {
    const std::lock_guard hold(host.mailbox.lock);
    atoms.swap(host.mailbox.atoms);
  }
  for (const std::vector<uint8_t>& atom : atoms) {
    host.ui->port_event(window, Lv2TracePort, static_cast<uint32_t>(atom.size()),
                        host.eventTransfer, atom.data());
  }
}

void serveWindow(WindowHost& host, LV2UI_Handle window, const LV2UI_Idle_Interface* idle) {
  const auto until = Clock::now() + OpenFor;
  while ((host.announce || Clock::now() < until) && host.playing) {
    giveWindowTrace(host, window);
    if (idle != nullptr) idle->idle(window);
    std::this_thread::sleep_for(IdleEvery);
  }
}

// One opening: the window made in `parent`, served for a while, closed (after the host's window
// when the trial says so). False if it did not open.
bool openAndClose(WindowHost& host, LV2_URID_Map& map, Window parent, ParentTrial trial) {
  LV2UI_Resize resize{&host, resizeParent};
  LV2UI_Touch touch{&host, touchPort};
  const LV2_Feature mapFeature{LV2_URID__map, &map};
  const LV2_Feature parentFeature{LV2_UI__parent, reinterpret_cast<void*>(parent)};  // NOLINT
  const LV2_Feature resizeFeature{LV2_UI__resize, &resize};
  const LV2_Feature touchFeature{LV2_UI__touch, &touch};
  const LV2_Feature* features[] = {&mapFeature, &parentFeature, &resizeFeature, &touchFeature,
                                   nullptr};
  LV2UI_Widget widget = nullptr;
  LV2UI_Handle window = host.ui->instantiate(host.ui, Lv2PluginUri, host.bundle.c_str(),
                                             writeToPlugin, &host, &widget, features);
  if (window == nullptr) return false;
  const auto* idle =
      static_cast<const LV2UI_Idle_Interface*>(host.ui->extension_data(LV2_UI__idleInterface));
  host.windowOpen = true;
  if (host.announce) {
    std::printf("window %lu\n", parent);
    XSync(host.display, False);
    printWindowPlaces(host.display, parent, 1.0);
  }
  serveWindow(host, window, idle);
  if (trial == ParentTrial::DestroyedFirst) {
    destroyHostWindow(host.display, host.parent);
    serveWindow(host, window, idle);
  }
  host.windowOpen = false;
  host.ui->cleanup(window);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  WindowHostOptions options;
  Score score;
  if (!readWindowHostCommand(argc, argv, options, score)) return 2;
  WindowHost host;
  host.display = openHostDisplay();
  if (host.display == nullptr) return 1;
  std::string error;
  HostedPluginPtr plugin = openPlugin(options.plugin, WindowHostRate, WindowHostBlockFrames, error);
  if (!plugin || lv2PluginOf(*plugin) == nullptr) {
    std::fprintf(stderr, "%s\n", error.empty() ? "not an LV2 bundle" : error.c_str());
    return 1;
  }
  host.plugin = plugin.get();
  host.bundle = options.plugin;
  host.announce = options.cycles == 0 && options.parent == ParentTrial::Usual;
  for (const InstrumentParameter& parameter : instrumentParameters()) {
    host.values.push_back(static_cast<float>(parameter.defaultValue));
  }
  const std::vector<double> initial = host.values;
  const std::string uiFile = lv2UiBinary(*lv2PluginOf(*plugin));
  void* library = dlopen(uiFile.c_str(), RTLD_NOW | RTLD_LOCAL);
  const auto descriptorOf =
      library != nullptr
          ? reinterpret_cast<LV2UI_DescriptorFunction>(dlsym(library, "lv2ui_descriptor"))
          : nullptr;
  host.ui = descriptorOf != nullptr ? descriptorOf(0) : nullptr;
  if (host.ui == nullptr) {
    const char* why = dlerror();  // NOLINT(concurrency-mt-unsafe): no other thread runs yet
    std::fprintf(stderr, "%s: no window (%s)\n", uiFile.c_str(), why);
    return 1;
  }
  // The window maps its URIs with the plugin's map, which the audio side no longer uses.
  LV2_URID_Map map = lv2UridMap(*lv2PluginOf(*plugin));
  host.eventTransfer = map.map(map.handle, LV2_ATOM__eventTransfer);
  host.traceOn = map.map(map.handle, Lv2TraceOnUri);
  host.parent = makeHostWindow(host.display, "Quillfern LV2 window host");
  std::vector<float> samples;
  std::thread audio(play, std::ref(host), std::cref(score), std::ref(samples));
  bool opened = true;
  if (options.parent == ParentTrial::Usual) {
    for (int cycle = 0; opened && cycle < std::max(options.cycles, 1); ++cycle) {
      opened = openAndClose(host, map, host.parent, options.parent);
    }
  } else {
    const Window parent = options.parent == ParentTrial::Bogus ? BogusParent : host.parent;
    opened = openAndClose(host, map, parent, options.parent);
  }
  audio.join();
  if (host.announce) {
    printParameterValues("initial", initial);
    printParameterValues("final", host.values);
  }
  writeSamples(options.output, samples);
  plugin.reset();
  dlclose(library);
  return closeHostWindow(host.display, host.parent, options.parent, opened);
}
