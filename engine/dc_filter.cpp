// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/dc_filter.h"

#include <cmath>
#include <numbers>

namespace {

constexpr double DcCutoffHz = 5.0;  // below the lowest note, above the model's slow drift

}  // namespace

DcFilter dcFilterAt(double sampleRate) noexcept QUILLFERN_NONBLOCKING {
  DcFilter filter;
  filter.coefficient = std::exp(-2.0 * std::numbers::pi * DcCutoffHz / sampleRate);
  return filter;
}
