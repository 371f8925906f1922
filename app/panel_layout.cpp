// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/panel_layout.h"

#include <array>

#include "app/control_numbers.h"

namespace {

constexpr std::array sliders{
    SliderLayout{AttackSlider, 250, "Attack"},
    SliderLayout{DecaySlider, 270, "Decay"},
    SliderLayout{SustainSlider, 290, "Sustain"},
    SliderLayout{ReleaseSlider, 310, "Release"},
    SliderLayout{RSlider, 60, "r"},
    SliderLayout{ISlider, 100, "I"},
    SliderLayout{BSlider, 140, "b"},
    SliderLayout{ASlider, 180, "a"},
    SliderLayout{VolumeSlider, 220, "Volume"},
};

// The read-outs show the start-up parameters, not what the sliders' positions would give.
constexpr std::array labels{
    LabelLayout{RReadout, 50, 160, 40, "0.0100"}, LabelLayout{BReadout, 130, 160, 30, "2.500"},
    LabelLayout{IReadout, 90, 160, 30, "3.000"},  LabelLayout{AReadout, 175, 160, 50, "1.000"},
    LabelLayout{RLabel, 65, 27, 20, "r"},         LabelLayout{ILabel, 105, 27, 20, "I"},
    LabelLayout{BLabel, 145, 27, 40, "b"},        LabelLayout{ALabel, 185, 27, 20, "a"},
    LabelLayout{VolumeLabel, 220, 27, 30, "Vol"}, LabelLayout{AttackLabel, 255, 27, 10, "A"},
    LabelLayout{DecayLabel, 275, 27, 10, "D"},    LabelLayout{SustainLabel, 295, 27, 10, "S"},
    LabelLayout{ReleaseLabel, 315, 27, 10, "R"},
};

}  // namespace

std::span<const SliderLayout> panelSliders() {
  return sliders;
}

std::span<const LabelLayout> panelLabels() {
  return labels;
}
