// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/hosts/window_hosts.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string_view>
#include <thread>

#include "instrument/parameters.h"
#include "plugins/gui/gui_parameters.h"
#include "plugins/gui/window_view.h"

namespace {

// The host's own X errors, which must reach the host's handler while the plugin's window has its
// own: one provoked where the parent is destroyed first, none elsewhere.
int hostErrors = 0;

int countHostError(Display* /*display*/, XErrorEvent* /*error*/) {
  ++hostErrors;
  return 0;
}

bool parseOptions(int argc, char** argv, WindowHostOptions& options) {
  std::vector<std::string> positional;
  for (int index = 1; index < argc; ++index) {
    const std::string_view argument = argv[index];
    if (argument == "-o" && index + 1 < argc) {
      options.output = argv[++index];
    } else if (argument == "--cycles" && index + 1 < argc) {
      options.cycles = static_cast<int>(std::strtol(argv[++index], nullptr, 10));
    } else if (argument == "--scale" && index + 1 < argc) {
      options.scale = std::strtod(argv[++index], nullptr);
    } else if (argument == "--parent" && index + 1 < argc) {
      const std::string_view trial = argv[++index];
      if (trial != "bogus" && trial != "destroyed-first") return false;
      options.parent = trial == "bogus" ? ParentTrial::Bogus : ParentTrial::DestroyedFirst;
    } else {
      positional.emplace_back(argument);
    }
  }
  if (positional.size() != 2 || options.output.empty() || options.scale <= 0.0) return false;
  options.plugin = positional[0];
  options.score = positional[1];
  return true;
}

// The middle of a part of the window, on the screen.
void printPlace(Display* display, Window parent, double scale, const std::string& what,
                const Rect& rect) {
  int x = 0;
  int y = 0;
  Window child = 0;
  XTranslateCoordinates(display, parent, DefaultRootWindow(display),
                        static_cast<int>((rect.x + rect.width / 2) * scale),
                        static_cast<int>((rect.y + rect.height / 2) * scale), &x, &y, &child);
  std::printf("%s %d %d", what.c_str(), x, y);
}

}  // namespace

bool readWindowHostCommand(int argc, char** argv, WindowHostOptions& options, Score& score) {
  if (!parseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: %s PLUGIN SCORE -o OUT.f32 [--cycles N] [--scale S] "
                 "[--parent bogus|destroyed-first]\n",
                 argv[0]);
    return false;
  }
  std::ifstream text(options.score);
  std::string error;
  if (!parseScore(text, options.score, score, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
  }
  return true;
}

Display* openHostDisplay() {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) std::fputs("no X display\n", stderr);
  XSetErrorHandler(countHostError);
  return display;
}

int closeHostWindow(Display* display, Window window, ParentTrial trial, bool pluginWindowOpened) {
  if (window != 0) XDestroyWindow(display, window);
  XCloseDisplay(display);
  if (hostErrors != (trial == ParentTrial::DestroyedFirst ? 1 : 0)) {
    std::fprintf(stderr, "the host's handler saw %d X errors of its own\n", hostErrors);
    return 1;
  }
  if (trial == ParentTrial::Bogus) {
    if (!pluginWindowOpened) return 0;
    std::fputs("the plugin's window took a parent that is no window\n", stderr);
    return 1;
  }
  if (pluginWindowOpened) return 0;
  std::fputs("the plugin's window did not open\n", stderr);
  return 1;
}

void destroyHostWindow(Display* display, Window& window) {
  XDestroyWindow(display, BogusParent);  // the one error of the host's own
  XDestroyWindow(display, window);
  XSync(display, False);
  window = 0;
}

Window makeHostWindow(Display* display, const char* title) {
  const Window parent = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0,
                                            static_cast<unsigned>(BaseWidth),
                                            static_cast<unsigned>(BaseHeight), 0, 0, 0);
  XStoreName(display, parent, title);
  XSelectInput(display, parent, StructureNotifyMask);
  XMapWindow(display, parent);
  for (XEvent event; XNextEvent(display, &event) == 0;) {
    if (event.type == MapNotify) break;
  }
  return parent;
}

void playInRealTime(HostedPlugin& plugin, const Score& score, std::vector<float>& out,
                    const std::function<void(bool before)>& aroundBlock) {
  using Clock = std::chrono::steady_clock;
  out.assign(static_cast<std::size_t>(score.endFrame), 0.0f);
  ScoreCursor cursor{&score};
  const auto start = Clock::now();
  while (cursor.frame < score.endFrame) {
    aroundBlock(true);
    playBlock(plugin, cursor, WindowHostBlockFrames, out.data() + cursor.frame);
    aroundBlock(false);
    std::this_thread::sleep_until(
        start +
        std::chrono::microseconds(cursor.frame * 1000000 / static_cast<int64_t>(WindowHostRate)));
  }
}

void writeSamples(const std::string& path, const std::vector<float>& samples) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(samples.data()),
             static_cast<std::streamsize>(samples.size() * sizeof(float)));
}

void printWindowPlaces(Display* display, Window parent, double scale) {
  for (std::size_t index = 0; index < guiParameterCount(); ++index) {
    printPlace(display, parent, scale, "control " + std::to_string(index), controlRect(index));
    std::printf("\n");
  }
  const std::vector<GuiPreset> presets = guiPresets();
  for (std::size_t preset = 0; preset <= presets.size(); ++preset) {
    printPlace(display, parent, scale, "preset " + std::to_string(preset), presetItemRect(preset));
    const std::vector<double> none;
    const std::vector<double>& values = preset < presets.size() ? presets[preset].values : none;
    for (std::size_t index = 0; index < values.size(); ++index) {
      if (!std::isnan(values[index]))
        std::printf(" %u=%.17g", guiParameterId(index), values[index]);
    }
    std::printf("\n");
  }
  printPlace(display, parent, scale, "save", saveButtonRect());
  printPlace(display, parent, scale, "\nmessage", messageRect());
  printPlace(display, parent, scale, "\npresets", presetButtonRect());
  std::printf("\n");
  std::fflush(stdout);
}

void printParameterValues(const char* label, const std::vector<double>& values) {
  for (std::size_t index = 0; index < values.size(); ++index) {
    std::printf("%s %u %.17g %s\n", label, instrumentParameters()[index].id, values[index],
                instrumentParameters()[index].symbol);
  }
}
