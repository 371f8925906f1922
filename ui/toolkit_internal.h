// SPDX-License-Identifier: GPL-3.0-or-later
// The window thread's records behind the toolkit's numbers, and what the toolkit's source
// files share. Only ui/ includes this header.
#pragma once

#include <QMargins>
#include <QPointer>
#include <cstdint>
#include <iterator>
#include <map>
#include <optional>
#include <vector>

#include "ui/control_state.h"
#include "ui/toolkit.h"

class QEvent;
class QKeyEvent;
class QLabel;
class QMenu;
class QMenuBar;
class QObject;
class QWidget;

enum class ControlKind { ComboBox, Slider, TextLabel, CheckBox, Editor };

struct KeyboardShortcut {
  int qtKey = 0;
  int32_t eventNumber = 0;
};

struct WindowRecord {
  QWidget* window = nullptr;      // top-level widget, fixed at the requested client size
  QWidget* clientArea = nullptr;  // below the menu bar: the controls' parent
  std::vector<KeyboardShortcut> shortcuts;
  // Centred windows are placed again once the window manager's frame is known.
  bool awaitingFrame = false;
};

struct ControlRecord {
  QWidget* widget = nullptr;
  ControlKind kind = ControlKind::TextLabel;
  int32_t window = 0;
};

struct MenuBarRecord {
  QMenuBar* bar = nullptr;
  int32_t window = 0;
};

struct StatusField {
  QLabel* label = nullptr;
  int32_t width = 0;  // pixels, or IgnoreValue for a share of the room left over
};

struct StatusBarRecord {
  QWidget* bar = nullptr;
  int32_t window = 0;
  int32_t mailboxSlot = -1;
  std::vector<StatusField> fields;
};

// Every numbered object, each kind in a number space of its own.
struct ToolkitObjects {
  std::map<int32_t, WindowRecord> windows;
  std::map<int32_t, ControlRecord> controls;
  std::map<int32_t, MenuBarRecord> menuBars;
  std::map<int32_t, StatusBarRecord> statusBars;
  std::optional<int32_t> currentWindow;  // where new controls go
  std::optional<int32_t> currentMenuBar;
  QPointer<QMenu> currentMenu;  // the drop-down that addMenuItem fills
  std::optional<int32_t> currentStatusBar;
};

extern ToolkitObjects objects;

// The number a new object gets: the fixed one asked for, or for AnyNumber a free one that
// the control-state table can hold (never 0, which reads as failure). Nothing for other negative
// numbers or when every number is taken.
template <typename Record>
std::optional<int32_t> numberForNewObject(int32_t requested,
                                          const std::map<int32_t, Record>& table) {
  if (requested >= 0) return requested;
  if (requested != AnyNumber) return std::nullopt;
  for (int32_t number = ControlStateCapacity - 1; number > 0; --number) {
    if (!table.contains(number)) return number;
  }
  return std::nullopt;
}

// The record under a number, or null.
template <typename Record>
Record* findRecord(std::map<int32_t, Record>& table, std::optional<int32_t> number) {
  if (!number) return nullptr;
  const auto found = table.find(*number);
  return found == table.end() ? nullptr : &found->second;
}

// Destroys, with `destroy`, the record under the number if there is one: a new object under a
// number in use replaces the old one.
template <typename Record, typename Destroy>
void destroyNumberedRecord(std::map<int32_t, Record>& table, int32_t number, Destroy destroy) {
  if (const auto old = table.find(number); old != table.end()) destroy(old);
}

// Destroys, with `destroy`, every record of the table that belongs to the window.
template <typename Record, typename Destroy>
void destroyWindowRecords(std::map<int32_t, Record>& table, int32_t window, Destroy destroy) {
  for (auto record = table.begin(); record != table.end();) {
    const auto next = std::next(record);
    if (record->second.window == window) destroy(record);
    record = next;
  }
}

// What a creating call returns: the chosen number for AnyNumber, 1 for a fixed number.
inline int32_t creationResult(int32_t requested, int32_t number) {
  return requested == AnyNumber ? number : 1;
}

// gui_session.cpp: Qt runs from the first window or message box until closeToolkit.
bool startGui();
bool guiRunning();
bool onWindowThread();

// windows.cpp
WindowRecord* findWindow(int32_t number);
std::optional<int32_t> windowNumberOfHandle(WindowHandle handle);
void layoutWindow(int32_t number);
bool onWindowEvent(QObject* receiver, QEvent* event);  // true when the event is used up

// controls.cpp, menu_bar.cpp, status_bar.cpp: what goes with a window.
void destroyWindowControls(int32_t window);
void destroyWindowMenuBars(int32_t window);
void destroyWindowStatusBars(int32_t window);
// Put the window's menu bar along the top (returning its height, 0 without one) and its status
// bar along the bottom of a client area of the given size.
int placeMenuBar(int32_t window, int clientWidth);
void placeStatusBar(int32_t window, int clientWidth, int clientHeight);

// status_bar.cpp: how other threads wake the window thread to show their status texts.
void startStatusWakeUps();
void stopStatusWakeUps();
void wakeWindowThreadForStatusTexts();  // any thread
