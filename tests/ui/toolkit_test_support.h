// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers for the toolkit's tests: the waiting events as a list, the Qt widgets behind the
// toolkit's numbers, a window laid out like the program's control panel, and the probe
// program for what a test cannot do in its own process.
#pragma once

#include <QLabel>
#include <QWidget>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "app/control_numbers.h"
#include "ui/toolkit.h"

struct RaisedEvent {
  int32_t code = 0;
  int32_t object = 0;
  int32_t window = 0;
  int32_t type = 0;

  friend bool operator==(const RaisedEvent&, const RaisedEvent&) = default;
  friend std::ostream& operator<<(std::ostream& out, const RaisedEvent& event) {
    return out << "{code " << event.code << ", object " << event.object << ", window "
               << event.window << ", type " << event.type << "}";
  }
};

using Events = std::vector<RaisedEvent>;

// Handles the input that is pending now and returns every event waitEvent then hands out.
Events takeWaitingEvents();

QWidget* windowWidget(int32_t window);

// The widget of a control, menu bar ("menuBar0"), status bar ("statusBar0") or client area
// ("clientArea") of a window, by its object name.
QWidget* childWidget(int32_t window, const QString& objectName);

template <typename Widget>
Widget* controlWidget(int32_t window, int32_t control) {
  return qobject_cast<Widget*>(childWidget(window, QStringLiteral("control%1").arg(control)));
}

// Handles input until the window manager (or Qt's offscreen platform) has made the window
// the active one.
bool waitUntilActive(int32_t window);

QLabel* statusField(int32_t window, int32_t statusBar, int32_t field);

// The program's main window's numbers for the controls the toolkit tests use.
inline constexpr int32_t PanelWindow = MainWindow;
inline constexpr int32_t PanelDeviceList = MidiDeviceList;
inline constexpr int32_t PanelAttackSlider = AttackSlider;
inline constexpr int32_t PanelISlider = ISlider;
inline constexpr int32_t PanelIReadout = IReadout;
inline constexpr int32_t PanelCheckBox = SCheckBox;
inline constexpr int32_t PanelQuitShortcut = MenuQuit;

// Opens window 1 laid out as the program's main window (app/panel_layout.h), centred, with a
// menu "?" (About, Help), a device list with two entries, the attack slider (1 to 2000), the
// I slider (1 to 1000) with its read-out, the check box, the status bar's fields and the Escape
// shortcut; and waits until it is active.
void openPanelWindow();

// Standard output (and whatever else the command sends there) of a shell command.
std::string commandOutput(const std::string& command);

// The probe program built next to the tests: `no-display` and `idle` (toolkit_probe.cpp).
std::string probePath();
