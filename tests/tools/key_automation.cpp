// SPDX-License-Identifier: GPL-3.0-or-later
// Regular Spikes held at A4 in Key mode while a host automates I on every sample, sweeping it
// over its whole range and back and then holding it, in 64-frame calls as a plugin's process
// gets them (the hold shows a measure put off until the controls rest): under
// callgrind each call's instructions are dumped apart (tests/tools/key_automation_cost.sh), to
// see that the tuning's work after a control move is spread over the calls and none pays for
// a whole measure of the cycle.
//   quillfern-key-automation CALLS
#include <valgrind/callgrind.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "instrument/factory_presets.h"
#include "instrument/instrument_voice.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  constexpr uint32_t CallFrames = 64;
  constexpr double Rate = 44100.0;
  constexpr double CycleSeconds = 2.0;  // up the range, down again, then held
  constexpr double SweepShare = 0.75;
  ParameterValues values = presetValues(*findFactoryPreset("Regular Spikes"));
  values.value[parameterIndexOfId(PitchSetting)] = static_cast<double>(PitchMode::Key);
  auto voice = std::make_unique<InstrumentVoice>();
  startInstrumentVoice(*voice, Rate, values);
  playNoteEvent(*voice, NoteEventKind::On, 0, 69, 1.0);
  std::vector<float> output(CallFrames);
  for (int32_t settle = 0; settle < 400; ++settle) renderVoice(*voice, output.data(), CallFrames);

  const std::size_t i = parameterIndexOfId(ISlider);
  const InstrumentParameter& parameter = instrumentParameters()[i];
  int64_t frame = 0;
  for (long call = std::strtol(argv[1], nullptr, 10); call > 0; --call) {
    CALLGRIND_ZERO_STATS;
    for (uint32_t at = 0; at < CallFrames; ++at, ++frame) {
      const double phase =
          std::fmod(static_cast<double>(frame) / (Rate * CycleSeconds), 1.0) / SweepShare;
      const double along = phase < 1.0 ? std::fabs(phase * 2.0 - 1.0) : 1.0;
      setInstrumentParameter(*voice, i,
                             parameter.maximum + (parameter.minimum - parameter.maximum) * along);
      renderVoice(*voice, output.data() + at, 1);
    }
    CALLGRIND_DUMP_STATS;
  }
  return 0;
}
