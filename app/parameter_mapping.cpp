// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/parameter_mapping.h"

#include <array>

#include "app/control_numbers.h"

namespace {

constexpr std::array readouts{
    ParameterReadout{RSlider, RReadout, 4},
    ParameterReadout{ISlider, IReadout, 3},
    ParameterReadout{BSlider, BReadout, 3},
    ParameterReadout{ASlider, AReadout, 3},
};

}  // namespace

const ParameterReadout* findParameterReadout(int32_t control) noexcept {
  for (const ParameterReadout& readout : readouts) {
    if (readout.control == control) return &readout;
  }
  return nullptr;
}
