// SPDX-License-Identifier: GPL-3.0-or-later
// The latest state of every control, readable from any thread without waiting.
//
// The window thread publishes a control's state whenever it changes (a user change, at the
// moment its event is queued, or setControlState); the audio thread reads the envelope
// sliders from here at the start of each note. One relaxed 32-bit atomic per control, so a
// reader always sees one whole value and never blocks. Without a window (the offline
// renderer, tests) whoever plays the user's part publishes the states directly.
#pragma once

#include <cstdint>
#include "engine/nonblocking.h"

// Control numbers 0 to ControlStateCapacity - 1 are kept; others read as 0.
inline constexpr int32_t ControlStateCapacity = 1024;

// Any thread: the control's latest published state; 0 for a number that names nothing.
int32_t getControlState(int32_t number) noexcept QUILLFERN_NONBLOCKING;

// The thread that owns the control: records its new state.
void publishControlState(int32_t number, int32_t state) noexcept;

// The control is gone: its number reads 0 again.
void forgetControlState(int32_t number) noexcept;
