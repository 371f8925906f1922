// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/hosts/window_hosts.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string_view>
#include <thread>

#include "plugins/gui/window_view.h"

namespace {

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
    } else {
      positional.emplace_back(argument);
    }
  }
  if (positional.size() != 2 || options.output.empty() || options.scale <= 0.0) return false;
  options.plugin = positional[0];
  options.score = positional[1];
  return true;
}

}  // namespace

bool readWindowHostCommand(int argc, char** argv, WindowHostOptions& options, Score& score) {
  if (!parseOptions(argc, argv, options)) {
    std::fprintf(stderr, "usage: %s PLUGIN SCORE -o OUT.f32 [--cycles N] [--scale S]\n", argv[0]);
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
  return display;
}

int closeHostWindow(Display* display, Window window, bool pluginWindowOpened) {
  XDestroyWindow(display, window);
  XCloseDisplay(display);
  if (pluginWindowOpened) return 0;
  std::fputs("the plugin's window did not open\n", stderr);
  return 1;
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
