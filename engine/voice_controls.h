// SPDX-License-Identifier: GPL-3.0-or-later
// The ten controls that shape the voice, as the window shows them: the envelope's four sliders,
// the model's r, I, b and a, the volume and the s check box; their numbers, ranges and initial
// positions, and the formulas that turn a position into a model parameter. Each formula runs
// in double precision on single-precision constants and is stored as a float, so the window,
// the offline renderer and the plugins agree exactly.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>

#include "engine/engine_state.h"
#include "engine/nonblocking.h"

// Control numbers, the same as the window's.
inline constexpr int32_t AttackSlider = 5;
inline constexpr int32_t DecaySlider = 6;
inline constexpr int32_t SustainSlider = 7;
inline constexpr int32_t ReleaseSlider = 8;
inline constexpr int32_t ISlider = 17;
inline constexpr int32_t BSlider = 18;
inline constexpr int32_t RSlider = 19;
inline constexpr int32_t ASlider = 20;
inline constexpr int32_t VolumeSlider = 26;
inline constexpr int32_t SCheckBox = 27;

struct VoiceControl {
  int32_t number;    // control number above
  const char* name;  // as on the window: "A", "D", "S", "R", "I", "b", "r", "a", "Vol", "s"
  int32_t minimum;   // slider range
  int32_t maximum;
  int32_t initial;  // the window's initial position
};

// The ten controls in a fixed order: envelope, model, volume, s.
std::span<const VoiceControl> voiceControls() noexcept QUILLFERN_NONBLOCKING;
const VoiceControl* findVoiceControl(int32_t number) noexcept QUILLFERN_NONBLOCKING;

// The formulas, from a position to the parameter: r 0.0005 at 1 to 0.3 at 100, exponential;
// I 1.004 at 1 to 5.0 at 1000; b 1.7023 at 1 to 4.0 at 1000; a 0.5 at 0 to 3.0 at 100; volume
// 0.01 at 1 to 1.0 at 100; s 4.0 checked (1), 2.8 unchecked (0).
float rParameterAt(int32_t position) noexcept QUILLFERN_NONBLOCKING;
float iParameterAt(int32_t position) noexcept QUILLFERN_NONBLOCKING;
float bParameterAt(int32_t position) noexcept QUILLFERN_NONBLOCKING;
float aParameterAt(int32_t position) noexcept QUILLFERN_NONBLOCKING;
float volumeAt(int32_t position) noexcept QUILLFERN_NONBLOCKING;
float sParameterAt(int32_t checked) noexcept QUILLFERN_NONBLOCKING;

// A control that sets one model parameter (or the volume), and its formula.
struct ParameterControl {
  int32_t control;
  std::atomic<float> EngineState::*parameter;
  float (*valueAt)(int32_t position) noexcept QUILLFERN_NONBLOCKING;
};

// The parameter control with this number, or null for any other control.
const ParameterControl* findParameterControl(int32_t control) noexcept QUILLFERN_NONBLOCKING;

// What a position of one of the ten controls stands for, in the model's own units: an envelope
// time in seconds, the sustain level, or the model parameter (the float its formula gives).
// Every formula rises with the position. 0.0 for an unknown control.
double controlValueAt(int32_t control, int32_t position) noexcept QUILLFERN_NONBLOCKING;
