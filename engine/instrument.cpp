// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/instrument.h"

#include <algorithm>
#include <cmath>

#include "engine/engine_state.h"
#include "engine/voice_controls.h"

namespace {

constexpr double SemitonesPerOctave = 12.0;
constexpr double LargestVelocity = 127.0;

// Only what moved away from rest changes the arithmetic: unbent, the factor is exactly 1.
void updateStepFactor(Instrument& instrument) noexcept {
  constexpr double CentsPerSemitone = 100.0;
  const InstrumentSettings& settings = instrument.settings;
  const double semitones = instrument.bendPosition * settings.bendRange + instrument.tuning +
                           settings.transpose + settings.fineTune / CentsPerSemitone;
  instrument.stepFactor = std::pow(2.0, semitones / SemitonesPerOctave);
}

// Channel pressure and the sounding key's own count as one pressure: the larger.
void updateOffsetOfI(Instrument& instrument) noexcept {
  const double keyPressure =
      instrument.soundingKey >= 0
          ? instrument.keyPressure[static_cast<std::size_t>(instrument.soundingKey)]
          : 0.0;
  const double pressure = std::max(instrument.channelPressure, keyPressure);
  instrument.offsetOfI = instrument.settings.wheelDepth * instrument.wheel +
                         instrument.settings.pressureDepth * pressure;
}

// The glide's remaining share after one sample: exp(-1 / (time × rate)).
void updateGlide(Instrument& instrument, double sampleRate) noexcept {
  const double time = instrument.settings.glideTime;
  instrument.glideKeep = time > 0.0 ? std::exp(-1.0 / (time * sampleRate)) : 0.0;
}

bool isOn(double value) noexcept {
  return value >= 0.5;
}

// A glide under way measured its steps in the other mode's terms: the pitch goes straight on.
void setPitchMode(Instrument& instrument, bool keyed) noexcept {
  if (instrument.settings.keyedPitch == keyed) return;
  instrument.settings.keyedPitch = keyed;
  instrument.glideStep = 0.0;
}

}  // namespace

void startInstrument(EngineState& state, double sampleRate) noexcept QUILLFERN_NONBLOCKING {
  Instrument& instrument = state.instrument;
  instrument = Instrument{};
  instrument.lowestI = controlValueAt(ISlider, findVoiceControl(ISlider)->minimum);
  instrument.highestI = controlValueAt(ISlider, findVoiceControl(ISlider)->maximum);
  instrument.dcFilter = dcFilterAt(sampleRate);
  startKeyedPitch(instrument.keyed, sampleRate);
}

void setInstrumentValue(EngineState& state, int32_t setting,
                        double value) noexcept QUILLFERN_NONBLOCKING {
  Instrument& instrument = state.instrument;
  InstrumentSettings& settings = instrument.settings;
  switch (setting) {
    case BendRangeSetting:
      settings.bendRange = value;
      updateStepFactor(instrument);
      break;
    case WheelDepthSetting:
      settings.wheelDepth = value;
      updateOffsetOfI(instrument);
      break;
    case PressureDepthSetting:
      settings.pressureDepth = value;
      updateOffsetOfI(instrument);
      break;
    case VelocitySetting:
      settings.velocitySensitivity = value;
      break;
    case NoteModeSetting:
      settings.noteMode = static_cast<NoteMode>(std::lrint(value));
      break;
    case GlideSetting:
      settings.glideTime = value;
      updateGlide(instrument, state.sampleRate);
      break;
    case StableStepsSetting:
      settings.stableSteps = isOn(value);
      break;
    case DcFilterSetting:
      settings.dcFilter = isOn(value);
      break;
    case NoteStartSetting:
      settings.noteStart = static_cast<NoteStart>(std::lrint(value));
      break;
    case PitchSetting:
      setPitchMode(instrument, static_cast<PitchMode>(std::lrint(value)) == PitchMode::Key);
      break;
    case TransposeSetting:
      settings.transpose = std::round(value);  // whole semitones, as the host shows them
      updateStepFactor(instrument);
      break;
    case FineTuneSetting:
      settings.fineTune = value;
      updateStepFactor(instrument);
      break;
    case KeyFilterSetting:
      settings.keyFilter = isOn(value);
      instrument.keyed.filteredRate = 0.0;
      break;
    default:
      break;
  }
}

void bendPitch(EngineState& state, double position) noexcept QUILLFERN_NONBLOCKING {
  if (!std::isfinite(position)) return;
  state.instrument.bendPosition = std::clamp(position, -1.0, 1.0);
  updateStepFactor(state.instrument);
}

void tuneNote(EngineState& state, double semitones) noexcept QUILLFERN_NONBLOCKING {
  if (!std::isfinite(semitones)) return;
  state.instrument.tuning = std::clamp(semitones, -LargestTuning, LargestTuning);
  updateStepFactor(state.instrument);
}

void moveModWheel(EngineState& state, double position) noexcept QUILLFERN_NONBLOCKING {
  if (!std::isfinite(position)) return;
  state.instrument.wheel = std::clamp(position, 0.0, 1.0);
  updateOffsetOfI(state.instrument);
}

void pressChannel(EngineState& state, double pressure) noexcept QUILLFERN_NONBLOCKING {
  if (!std::isfinite(pressure)) return;
  state.instrument.channelPressure = std::clamp(pressure, 0.0, 1.0);
  updateOffsetOfI(state.instrument);
}

void pressKey(EngineState& state, int32_t key, double pressure) noexcept QUILLFERN_NONBLOCKING {
  if (key < 0 || key >= InstrumentKeyCount || !std::isfinite(pressure)) return;
  state.instrument.keyPressure[static_cast<std::size_t>(key)] = std::clamp(pressure, 0.0, 1.0);
  updateOffsetOfI(state.instrument);
}

void soundKey(EngineState& state, int32_t key) noexcept QUILLFERN_NONBLOCKING {
  Instrument& instrument = state.instrument;
  if (key == instrument.soundingKey) return;
  instrument.soundingKey = key;
  if (instrument.tuning != 0.0) tuneNote(state, 0.0);
  updateOffsetOfI(instrument);
}

void setNoteVelocity(EngineState& state, int32_t velocity) noexcept QUILLFERN_NONBLOCKING {
  const double sensitivity = state.instrument.settings.velocitySensitivity;
  const double share = velocity / LargestVelocity;
  state.instrument.velocityGain = 1.0 - sensitivity + sensitivity * (share * share);
}

int32_t subStepsFor(double step) noexcept QUILLFERN_NONBLOCKING {
  if (!(step > StableStepLimit)) return 1;
  // Brought within the count before it becomes one: an infinite step has no whole number.
  return static_cast<int32_t>(std::min(std::ceil(step / StableStepLimit), double{MostSubSteps}));
}
