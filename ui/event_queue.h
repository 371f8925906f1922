// SPDX-License-Identifier: GPL-3.0-or-later
// The event stream behind waitEvent: slider, combo box and close-box events go through a
// first-in, first-out queue with a merge rule; menu items, shortcuts and check boxes raise
// events that are never merged away. Both come out in the order they were raised. Also holds
// the current event record. Window thread only; free of any GUI library.
#pragma once

#include <cstdint>
#include <optional>

struct EventRecord {
  int32_t code = 0;
  int32_t object = 0;  // control, menu item or shortcut event number
  int32_t window = 0;
  int32_t type = 0;

  friend bool operator==(const EventRecord&, const EventRecord&) = default;
};

// Appends to the queue unless the record equals the last queued one still waiting.
void queueEvent(const EventRecord& event);

// An event that must reach the application as it is: appended without merging.
void raiseEventAtOnce(const EventRecord& event);

bool eventWaiting();

// The oldest waiting event, taken off the stream.
std::optional<EventRecord> takeNextEvent();

// Makes the event the current one, read by eventControl and friends; returns its code.
int32_t makeCurrentEvent(const EventRecord& event);

// A window has gone: none of its events may come out any more.
void dropWindowEvents(int32_t window);

// The toolkit shuts down: forgets every waiting event and the current one.
void clearEvents();
