// SPDX-License-Identifier: GPL-3.0-or-later
// The plugins' saved-state reader on any text: it either refuses it or reads values that are
// each one the parameter can play, and those values written again read back the same.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fuzz/fuzz_checks.h"
#include "instrument/state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  ParameterValues values = defaultValues();
  if (!parseStateText(text, values)) return 0;
  requirePlayable(values);
  ParameterValues again;
  require(parseStateText(stateText(values), again));
  for (std::size_t index = 0; index < ParameterCount; ++index) {
    require(again.value[index] == values.value[index]);
  }
  return 0;
}
