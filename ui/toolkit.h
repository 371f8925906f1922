// SPDX-License-Identifier: GPL-3.0-or-later
// The window toolkit: numbered windows, controls, a menu bar, a status bar, keyboard
// shortcuts, a message box and one event stream read with waitEvent. The application's only
// road to the GUI library; no type of that library appears here.
//
// Everything here belongs to the window thread, except getControlState (any thread, see
// control_state.h), statusBarExists and setStatusText, which other threads may call too.
#pragma once

#include <cstdint>

#include "ui/control_state.h"

// Object numbers and argument values.
inline constexpr int32_t AnyNumber = -1;
inline constexpr int32_t IgnoreValue = -65535;
inline constexpr int32_t WindowTitleBar = 0xC80000;
inline constexpr int32_t WindowScreenCentred = 1;
inline constexpr int32_t KeyEscape = 27;
inline constexpr int32_t WaitForever = -1;

// Event codes returned by waitEvent.
inline constexpr int32_t NoEvent = 0;
inline constexpr int32_t CloseWindowEvent = 16;
inline constexpr int32_t ControlEvent = 13100;
inline constexpr int32_t MenuEvent = 13101;

// Control flags, status text appearance and event types.
inline constexpr int32_t SliderVertical = 2;
inline constexpr int32_t EditorReadOnly = 2048;
inline constexpr int32_t StatusTextCentred = 4;
inline constexpr int32_t ChangeEventType = 768;

// An opaque native window, only handed on as the parent of a menu bar or status bar.
using WindowHandle = void*;

// Windows
int32_t openWindow(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                   const char* title, int32_t flags);
WindowHandle windowHandle(int32_t number);
void closeWindow(int32_t number);
void addKeyboardShortcut(int32_t windowNumber, int32_t key, int32_t eventNumber);

// Events
int32_t waitEvent(int32_t timeoutMs);
int32_t eventControl();
int32_t eventMenu();
int32_t eventWindow();
int32_t eventType();

// Message box: modal, one OK button, no icon.
void showMessage(const char* title, const char* text);

// Menu bar
int32_t createMenuBar(int32_t number, WindowHandle window);
void addMenuTitle(const char* text);
void addMenuItem(int32_t eventNumber, const char* text);

// Controls
int32_t addComboBox(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height);
int32_t addSlider(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                  int32_t minimum, int32_t maximum, int32_t flags);
int32_t addTextLabel(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                     const char* text);
int32_t addCheckBox(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                    const char* text);
int32_t addEditor(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                  int32_t flags);
void setControlState(int32_t number, int32_t value);
void setControlText(int32_t number, const char* text);
void addControlItem(int32_t number, int32_t position, const char* text);
// The name that screen readers (and accessibility-based tests) give the control, for controls
// that show no text of their own, such as a slider whose label stands beside it.
void setControlAccessibleName(int32_t number, const char* name);

// Status bar
int32_t createStatusBar(int32_t number, WindowHandle window);
void addStatusField(int32_t width);
bool statusBarExists(int32_t number);  // any thread
void setStatusText(int32_t number, int32_t field, const char* text,
                   int32_t appearance);  // any thread, never waits

// Program end: closes every window still open and releases the GUI library. Later calls of
// setStatusText from other threads are dropped.
void closeToolkit();
