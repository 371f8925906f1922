// SPDX-License-Identifier: GPL-3.0-or-later
// The user presets' reader on any text: it either refuses it with a reason or reads a name a
// preset may take and values that are each one the parameter can play, and the preset written
// again reads back the same.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_checks.h"
#include "instrument/user_presets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string name;
  ParameterValues values = defaultValues();
  std::string problem;
  if (!parsePresetText(text, name, values, problem)) {
    require(!problem.empty() && name.empty());
    return 0;
  }
  require(presetNameAllowed(name, problem));
  requirePlayable(values);
  std::string again;
  ParameterValues read;
  require(parsePresetText(presetText(name, values), again, read, problem) && again == name);
  for (std::size_t index = 0; index < ParameterCount; ++index) {
    require(!instrumentParameters()[index].inPresets || read.value[index] == values.value[index]);
  }
  return 0;
}
