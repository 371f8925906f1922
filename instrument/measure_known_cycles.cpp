// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the C++ source of knownCycles() (known_cycles.h): the cycle of every factory preset's
// neuron settings and of the start-up ones, each settings as a voice's step sees them (floats,
// as the engine keeps them), measured as a voice's probe would measure them.
//   quillfern-known-cycles OUTPUT.cpp
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "engine/engine_state.h"
#include "engine/oscillator.h"
#include "engine/voice.h"
#include "instrument/factory_presets.h"

namespace {

// The controls a voice playing `values` steps with.
ModelParameters controlsOf(const ParameterValues& values) {
  auto engine = std::make_unique<EngineState>();
  startVoice(*engine, DefaultSampleRate);
  for (std::size_t index = 0; index < ParameterCount; ++index) {
    const VoiceControl* control = windowControlOf(instrumentParameters()[index]);
    if (control != nullptr) setVoiceValue(*engine, control->number, values.value[index]);
  }
  ModelParameters controls = blockParametersOf(*engine);
  controls.volume = 0.0;
  return controls;
}

bool listed(const std::vector<ModelParameters>& list, const ModelParameters& controls) {
  return std::any_of(list.begin(), list.end(),
                     [&](const ModelParameters& other) { return sameControls(other, controls); });
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: quillfern-known-cycles OUTPUT.cpp\n");
    return 2;
  }
  std::vector<ModelParameters> settings{controlsOf(defaultValues())};
  for (const FactoryPreset& preset : factoryPresets()) {
    const ModelParameters controls = controlsOf(presetValues(preset));
    if (!listed(settings, controls)) settings.push_back(controls);
  }
  std::FILE* file = std::fopen(argv[1], "w");
  if (file == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  std::fprintf(file,
               "// SPDX-License-Identifier: GPL-3.0-or-later\n"
               "// Written by quillfern-known-cycles when the instrument is built.\n"
               "#include \"instrument/known_cycles.h\"\n\n"
               "namespace {\n\nconstexpr KnownCycle Cycles[] = {\n");
  for (const ModelParameters& c : settings) {
    const CycleMeasure measure = measureCycle(c, WholeMeasureSteps);
    if (measure.kind == CycleKind::Unknown) {
      std::fprintf(stderr, "a factory setting's cycle is not measured within %d steps\n",
                   WholeMeasureSteps);
      return 1;
    }
    std::fprintf(file, "    {{%a, %a, %a, %a, %a, 0.0}, {CycleKind(%d), %a, %d}},\n", c.a, c.b, c.i,
                 c.r, c.s, static_cast<int>(measure.kind), measure.steps,
                 static_cast<int>(measure.spikesPerCycle));
  }
  std::fprintf(file,
               "};\n\n}  // namespace\n\n"
               "std::span<const KnownCycle> knownCycles() noexcept QUILLFERN_NONBLOCKING {\n"
               "  return Cycles;\n}\n");
  return std::fclose(file) == 0 ? 0 : 1;
}
