// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/control_state.h"

#include <array>
#include <atomic>

namespace {

std::array<std::atomic<int32_t>, ControlStateCapacity> controlStates{};

bool isKept(int32_t number) noexcept {
  return number >= 0 && number < ControlStateCapacity;
}

}  // namespace

int32_t getControlState(int32_t number) noexcept QUILLFERN_NONBLOCKING {
  return isKept(number) ? controlStates[number].load(std::memory_order_relaxed) : 0;
}

void publishControlState(int32_t number, int32_t state) noexcept {
  if (isKept(number)) controlStates[number].store(state, std::memory_order_relaxed);
}

void forgetControlState(int32_t number) noexcept {
  publishControlState(number, 0);
}
