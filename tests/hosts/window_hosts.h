// SPDX-License-Identifier: GPL-3.0-or-later
// What our two hosts with a window (quillfern-clap-window-host, quillfern-lv2-window-host)
// share: their command line, the score played in real time on an audio thread of their own,
// the X11 window the plugin's window opens in, and the samples written out.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/plugin_host/plugin_host.h"
#include "tools/score.h"

inline constexpr double WindowHostRate = 44100.0;
inline constexpr int32_t WindowHostBlockFrames = 256;

// What a host may do wrong with the plugin window's parent, which the window must survive:
// offer an id that is no window (it refuses it), or destroy the parent before it closes the
// plugin's window (it closes as usual).
enum class ParentTrial { Usual, Bogus, DestroyedFirst };
inline constexpr Window BogusParent = 0x3ffffff;

//   HOST PLUGIN SCORE -o OUT.f32 [--cycles N] [--scale S] [--parent bogus|destroyed-first]
struct WindowHostOptions {
  std::string plugin, score, output;
  int cycles = 0;
  double scale = 1.0;
  ParentTrial parent = ParentTrial::Usual;
};

// The options and the score; false, with the problem on standard error, when either is wrong.
bool readWindowHostCommand(int argc, char** argv, WindowHostOptions& options, Score& score);

// The display, or null with the problem on standard error.
Display* openHostDisplay();

// The host's own window at the plugin window's base size, mapped.
Window makeHostWindow(Display* display, const char* title);

// The host's window (unless destroyed: 0) and display closed; the exit status, 1 if the plugin's
// window did not open, or, offered a bogus parent, did.
int closeHostWindow(Display* display, Window window, ParentTrial trial, bool pluginWindowOpened);

// The host's window destroyed under the plugin's, which is still open, with an X error of the
// host's own on the way that its own handler (installed by openHostDisplay) must see.
void destroyHostWindow(Display* display, Window& window);

// The whole score in blocks at the pace of real time into `out`, `aroundBlock(before)` called on
// this thread before and after each block.
void playInRealTime(HostedPlugin& plugin, const Score& score, std::vector<float>& out,
                    const std::function<void(bool before)>& aroundBlock);

// On standard output, where the window's parts are on the screen once it shows in `parent` at
// `scale`: "control INDEX X Y" for the middle of each control, "preset INDEX X Y ID=VALUE..."
// for each item of the preset menu (where it is once the menu is open, and the values it sets)
// and the place of one more, for a preset saved while the window is open, then "save X Y" for
// the button that saves one, "message X Y" for where a refused preset's words show, and last
// "presets X Y" for the menu's button.
void printWindowPlaces(Display* display, Window parent, double scale);

// "LABEL ID VALUE SYMBOL" for every parameter, the values by the parameters' order.
void printParameterValues(const char* label, const std::vector<double>& values);

// The samples as raw 32-bit floats.
void writeSamples(const std::string& path, const std::vector<float>& samples);
