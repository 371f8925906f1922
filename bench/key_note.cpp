// SPDX-License-Identifier: GPL-3.0-or-later
// Held notes of the factory bank for scripts/pitch-measure.py, which measures Key mode on them:
// a preset held at a key as `quillfern-render --preset NAME --param pitch=...` plays it (the
// same samples), or in Key mode without its decimating filter, which no parameter turns off so
// that the filter's worth can be heard; and the cycle the probe measures for each preset.
//   quillfern-key-note cycles            preset, kind, cycle in steps, spikes a cycle (TSV)
//   quillfern-key-note PRESET KEY RATE SECONDS model|key|unfiltered
//                                        the note's samples, raw 32-bit floats, to stdout
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "engine/instrument.h"
#include "engine/keyed_pitch.h"
#include "engine/pitch_cycle.h"
#include "instrument/factory_presets.h"
#include "instrument/instrument_voice.h"

namespace {

constexpr uint32_t BlockFrames = 256;  // the renderer's
constexpr double Velocity = 100.0 / 127.0;

constexpr const char* KindNames[] = {"unknown", "silent", "spiking", "bursting", "chaotic"};

ParameterValues inMode(const FactoryPreset& preset, bool keyed) {
  ParameterValues values = presetValues(preset);
  values.value[parameterIndexOfId(PitchSetting)] =
      static_cast<double>(keyed ? PitchMode::Key : PitchMode::Model);
  return values;
}

int printCycles() {
  std::printf("preset\tkind\tsteps\tspikes\tfastest Hz\n");
  for (const FactoryPreset& preset : factoryPresets()) {
    auto voice = std::make_unique<InstrumentVoice>();
    startInstrumentVoice(*voice, 44100.0, inMode(preset, true));
    const CycleMeasure cycle = measureCycle(modelParametersOf(voice->engine), WholeMeasureSteps);
    // Above this key frequency the steps a second are capped and the note goes flat.
    const double fastest = cycle.steps > 0.0 ? KeyStepsPerSecondLimit / cycle.steps : 0.0;
    std::printf("%s\t%s\t%.4f\t%d\t%.2f\n", preset.name,
                KindNames[static_cast<int32_t>(cycle.kind)], cycle.steps, cycle.spikesPerCycle,
                fastest);
  }
  return 0;
}

bool knownMode(const std::string& mode) {
  return mode == "model" || mode == "key" || mode == "unfiltered";
}

int renderNote(const FactoryPreset& preset, int32_t key, double rate, double seconds,
               const std::string& mode) {
  auto voice = std::make_unique<InstrumentVoice>();
  startInstrumentVoice(*voice, rate, inMode(preset, mode != "model"));
  if (mode == "unfiltered") setInstrumentValue(voice->engine, KeyFilterSetting, 0.0);
  playNoteEvent(*voice, NoteEventKind::On, 0, key, Velocity);
  std::vector<float> block(BlockFrames);
  for (auto frames = static_cast<int64_t>(seconds * rate); frames > 0; frames -= BlockFrames) {
    renderVoice(*voice, block.data(), BlockFrames);
    if (std::fwrite(block.data(), sizeof(float), BlockFrames, stdout) != BlockFrames) {
      std::perror("quillfern-key-note: writing the samples");
      return 1;
    }
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "cycles") return printCycles();
  const FactoryPreset* preset = argc == 6 ? findFactoryPreset(argv[1]) : nullptr;
  const long key = argc == 6 ? std::strtol(argv[2], nullptr, 10) : -1;
  const double rate = argc == 6 ? std::strtod(argv[3], nullptr) : 0.0;
  const double seconds = argc == 6 ? std::strtod(argv[4], nullptr) : 0.0;
  if (preset == nullptr || key < 0 || key > 127 || !(rate >= 8000.0 && rate <= 384000.0) ||
      !(seconds > 0.0 && seconds <= 60.0) || !knownMode(argv[5])) {
    std::fprintf(stderr,
                 "usage: quillfern-key-note cycles\n"
                 "       quillfern-key-note PRESET KEY(0-127) RATE(8000-384000) SECONDS(0-60] "
                 "model|key|unfiltered\n");
    return 2;
  }
  return renderNote(*preset, static_cast<int32_t>(key), rate, seconds, argv[5]);
}
