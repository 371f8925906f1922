// SPDX-License-Identifier: GPL-3.0-or-later
// What the fuzz targets require of what they read: a broken promise ends the run, which the
// fuzzer reports with the input that broke it.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdlib>

#include "instrument/parameters.h"

inline void require(bool promise) {
  if (!promise) std::abort();
}

// Every value read is one its parameter can play.
inline void requirePlayable(const ParameterValues& values) {
  for (std::size_t index = 0; index < ParameterCount; ++index) {
    const double value = values.value[index];
    require(std::isfinite(value) && playableValue(instrumentParameters()[index], value) == value);
  }
}
