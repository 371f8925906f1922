// SPDX-License-Identifier: GPL-3.0-or-later
// MainWindow's layout: where each control stands. Ranges and the positions when the window
// opens are the voice's (engine/voice_controls.h).
#pragma once

#include <array>
#include <cstdint>
#include <span>

struct SliderLayout {
  int32_t number;
  int32_t x;
  const char* accessibleName;  // what a screen reader calls it; the label beside it is short
};

struct LabelLayout {
  int32_t number;
  int32_t x;
  int32_t y;
  int32_t width;
  const char* text;
};

// A control's rectangle in the window's client area, in pixels.
struct ControlPlace {
  int32_t x;
  int32_t y;
  int32_t width;
  int32_t height;
};

inline constexpr int32_t PanelWidth = 510;   // pixels of client area
inline constexpr int32_t PanelHeight = 230;  // including the menu bar's and the status bar's share
inline constexpr ControlPlace DeviceListPlace{350, 60, 140, 20};
inline constexpr ControlPlace CheckBoxPlace{20, 90, 40, 20};
inline constexpr std::array<int32_t, 3> StatusFieldWidths{100, 100, 30};  // pixels

inline constexpr int32_t SliderY = 40;
inline constexpr int32_t SliderWidth = 20;
inline constexpr int32_t SliderHeight = 120;
inline constexpr int32_t LabelHeight = 20;

// In the order of creation.
std::span<const SliderLayout> panelSliders();
std::span<const LabelLayout> panelLabels();
