// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/event_queue.h"

#include <algorithm>
#include <deque>

#include "ui/toolkit.h"

namespace {

struct WaitingEvent {
  EventRecord event;
  bool mergeable = false;  // queued by a slider, combo box or close box
};

struct EventStream {
  std::deque<WaitingEvent> waiting;
  EventRecord current;
};

EventStream stream;

bool equalsLastQueued(const EventRecord& event) {
  const auto last = std::find_if(stream.waiting.rbegin(), stream.waiting.rend(),
                                 [](const WaitingEvent& waiting) { return waiting.mergeable; });
  return last != stream.waiting.rend() && last->event == event;
}

}  // namespace

void queueEvent(const EventRecord& event) {
  // A slider drag raises an event per step; merging repeats keeps the queue short while the
  // application re-reads the state for every event anyway.
  if (equalsLastQueued(event)) return;
  stream.waiting.push_back({event, true});
}

void raiseEventAtOnce(const EventRecord& event) {
  stream.waiting.push_back({event, false});
}

bool eventWaiting() {
  return !stream.waiting.empty();
}

std::optional<EventRecord> takeNextEvent() {
  if (stream.waiting.empty()) return std::nullopt;
  const EventRecord oldest = stream.waiting.front().event;
  stream.waiting.pop_front();
  return oldest;
}

int32_t makeCurrentEvent(const EventRecord& event) {
  stream.current = event;
  return event.code;
}

void dropWindowEvents(int32_t window) {
  std::erase_if(stream.waiting,
                [window](const WaitingEvent& waiting) { return waiting.event.window == window; });
}

void clearEvents() {
  stream = EventStream{};
}

int32_t eventControl() {
  return stream.current.object;
}
int32_t eventMenu() {
  return stream.current.object;
}
int32_t eventWindow() {
  return stream.current.window;
}
int32_t eventType() {
  return stream.current.type;
}
