// SPDX-License-Identifier: GPL-3.0-or-later
// The CLAP plugin's window: the gui extension (X11, embedded by set_parent), run on the host's
// main thread through its timer-support (redraws) and posix-fd-support (the X connection), and
// the window's gestures on their way to the thread that next runs process() or flush().
#pragma once

#include <clap/events.h>
#include <clap/ext/gui.h>
#include <clap/ext/timer-support.h>

#include <array>
#include <atomic>
#include <cstdint>

#include "engine/nonblocking.h"
#include "instrument/model_trace.h"
#include "plugins/clap/posix_fd_support.h"

// A gesture's begin, one value of it, or its end, for parameter `index` (table order); or a key
// of the keyboard strip pressed or let go, `index` its MIDI key, `value` the velocity (0 to 1).
struct WindowChange {
  enum class Kind : uint8_t { Begin, Value, End, KeyDown, KeyUp };
  Kind kind = Kind::Value;
  uint32_t index = 0;
  double value = 0.0;
};

// From the window's thread (the one writer) to the audio thread, or the main thread's flush()
// while the instance is inactive (the one reader at a time): never waiting on either side.
struct WindowChanges {
  static constexpr uint32_t Capacity = 1024;  // a preset's whole load many times over
  std::array<WindowChange, Capacity> changes{};
  std::atomic<uint32_t> written{0};
  std::atomic<uint32_t> read{0};
};

// Whether a change waits: the queue is empty but while the player moves a control, and a block
// of one frame would otherwise pay for a call to find that out.
inline bool windowChangeWaits(const WindowChanges& changes) noexcept QUILLFERN_NONBLOCKING {
  return changes.read.load(std::memory_order_relaxed) !=
         changes.written.load(std::memory_order_acquire);
}

// The oldest change not yet taken; false when there is none.
bool takeWindowChange(WindowChanges& changes, WindowChange& change) noexcept QUILLFERN_NONBLOCKING;

inline bool isKeyChange(const WindowChange& change) noexcept QUILLFERN_NONBLOCKING {
  return change.kind == WindowChange::Kind::KeyDown || change.kind == WindowChange::Kind::KeyUp;
}

// A parameter's change as the event that tells the host of it (at the block's first sample).
union ClapChangeEvent {
  clap_event_header_t header;
  clap_event_param_gesture_t gesture;
  clap_event_param_value_t value;
};
ClapChangeEvent clapEventOf(const WindowChange& change) noexcept QUILLFERN_NONBLOCKING;

struct ClapWindow;

// What an instance keeps for its window, open or not.
struct ClapWindowLink {
  const clap_plugin_t* plugin = nullptr;
  const clap_host_t* host = nullptr;
  TraceRing trace;
  WindowChanges changes;
  ClapWindow* window = nullptr;
  double hostScale = 0.0;  // set_scale's; 0 until the host gives one
};

// The plugin's: the link of an instance.
ClapWindowLink& windowLinkOf(const clap_plugin_t* plugin);

// The extensions an instance offers for its window, for its get_extension.
const void* clapWindowExtension(const char* id);

// Closes the window, if open, when the instance goes.
void closeClapWindow(ClapWindowLink& link);
