// SPDX-License-Identifier: GPL-3.0-or-later
// The read-outs under the sliders for r, I, b and a: which label shows the parameter a slider
// sets, with how many decimals. The formulas themselves are the voice's
// (engine/voice_controls.h).
#pragma once

#include <cstdint>

struct ParameterReadout {
  int32_t control;
  int32_t label;
  int32_t decimals;
};

// The read-out of this control, or null for a control that has none.
const ParameterReadout* findParameterReadout(int32_t control) noexcept;
