// MainWindow's layout: where each control stands. Ranges and the positions when the window
// opens are the voice's (engine/voice_controls.h).
#pragma once

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

inline constexpr int32_t SliderY = 40;
inline constexpr int32_t SliderWidth = 20;
inline constexpr int32_t SliderHeight = 120;
inline constexpr int32_t LabelHeight = 20;

// In the order of creation.
std::span<const SliderLayout> panelSliders();
std::span<const LabelLayout> panelLabels();
