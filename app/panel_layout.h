// MainWindow's layout: where each control stands, its range and its position when the window
// opens. The control panel builds the window from it; the offline renderer starts its controls
// from the same positions.
#pragma once

#include <cstdint>
#include <span>

struct SliderLayout {
  int32_t number;
  int32_t x;
  int32_t minimum;
  int32_t maximum;
  int32_t initial;
  const char* accessibleName;  // what a screen reader calls it; the label beside it is short
};

struct LabelLayout {
  int32_t number;
  int32_t x;
  int32_t y;
  int32_t width;
  const char* text;
};

inline constexpr int32_t SliderY = 40;
inline constexpr int32_t SliderWidth = 20;
inline constexpr int32_t SliderHeight = 120;
inline constexpr int32_t LabelHeight = 20;

// In the order of creation.
std::span<const SliderLayout> panelSliders();
std::span<const LabelLayout> panelLabels();
