// From control positions to model parameters: the sliders for r, I, b and a, the volume
// slider and the s check box. Each formula runs in double precision on single-precision
// constants and is stored as a float, so the window and the offline renderer agree exactly.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/engine_state.h"

float rParameterAt(int32_t position) noexcept;  // 0.0005 at 1 to 0.3 at 100, exponential
float iParameterAt(int32_t position) noexcept;  // 1.004 at 1 to 5.0 at 1000
float bParameterAt(int32_t position) noexcept;  // 1.7023 at 1 to 4.0 at 1000
float aParameterAt(int32_t position) noexcept;  // 0.5 at 0 to 3.0 at 100
float volumeAt(int32_t position) noexcept;      // 0.01 at 1 to 1.0 at 100
float sParameterAt(int32_t checked) noexcept;   // 4.0 checked, 2.8 unchecked

inline constexpr int32_t NoReadout = -1;

// A control that sets one model parameter, and the read-out that shows it.
struct ParameterControl {
  int32_t control;
  std::atomic<float> EngineState::*parameter;
  float (*valueAt)(int32_t position) noexcept;
  int32_t readout;   // label number, or NoReadout
  int32_t decimals;  // of the read-out
};

// The parameter control with this number, or null for any other control.
const ParameterControl* findParameterControl(int32_t control) noexcept;

// Stores the parameter that `control` sets, computed from `position`; returns the stored value.
float applyControlPosition(EngineState& state, const ParameterControl& control,
                           int32_t position) noexcept;
