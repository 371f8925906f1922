// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/voice.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "engine/instrument.h"
#include "engine/oscillator.h"
#include "engine/voice_controls.h"

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

struct StartupValue {
  int32_t control;
  float value;
};

// The model's start-up values, in the order the program assigns them.
constexpr std::array<StartupValue, 6> StartupValues{{
    {ISlider, 3.0f},
    {BSlider, 2.5f},
    {RSlider, 0.01f},
    {ASlider, 1.0f},
    {SCheckBox, 4.0f},
    {VolumeSlider, 0.3f},
}};

double supportedRate(double sampleRate) noexcept {
  if (std::isnan(sampleRate)) return DefaultSampleRate;
  return std::clamp(sampleRate, MinimumSampleRate, MaximumSampleRate);
}

void setRate(EngineState& state, double sampleRate) noexcept {
  state.sampleRate = sampleRate;
  state.modelTimePerPeriod = ModelTimePerPeriod * (DefaultSampleRate / sampleRate);
  state.handoverLimit = samplesAtRate(HandoverLimit, sampleRate);
  state.fadeInSamples = samplesAtRate(FadeInSamples, sampleRate);
  state.stepFrequency = std::numeric_limits<double>::quiet_NaN();
}

// The program's start-up values, in their fixed order.
void assignStartupValues(EngineState& state) noexcept {
  state.envelopeReady.store(0, relaxed);
  state.x = 0.0f;
  state.y = 0.0f;
  state.z = 0.0f;
  for (const StartupValue& startup : StartupValues) {
    setVoiceValue(state, startup.control, startup.value);
  }
  state.handoverSamples = 0;
  state.handoverLevel = 0.0;
  // A restarted voice (a plugin's reset or reactivation) is silent as a new one: its next note's
  // handover would otherwise fade from the level the last note had.
  state.envelopeLevel = 0.0;
  state.lastGateLevel = 0.0;
  state.lastGateSample = 0;
  state.noteSamples = 0;
  state.oscillatorReset.store(0, relaxed);
  state.previousFrequency.store(100.0, relaxed);
  state.lastOutput = 0.0f;
  state.fading = FadingNote{};
}

std::atomic<double>* envelopeSettingOf(EngineState& state, int32_t control) noexcept {
  switch (control) {
    case AttackSlider:
      return &state.attackSetting;
    case DecaySlider:
      return &state.decaySetting;
    case SustainSlider:
      return &state.sustainSetting;
    case ReleaseSlider:
      return &state.releaseSetting;
    default:
      return nullptr;
  }
}

}  // namespace

void startVoice(EngineState& state, double sampleRate) noexcept QUILLFERN_NONBLOCKING {
  setRate(state, supportedRate(sampleRate));
  startInstrument(state, state.sampleRate);
  assignStartupValues(state);
  // The envelope's initial positions only: the model's parameters keep their start-up values,
  // not those of their sliders' initial positions, until a slider is moved.
  for (const VoiceControl& control : voiceControls()) {
    if (std::atomic<double>* setting = envelopeSettingOf(state, control.number)) {
      setting->store(controlValueAt(control.number, control.initial), relaxed);
    }
  }
  // No key is held: a plugin restarted while one was (reset, reactivation, a restored state)
  // would otherwise never open the gate for its next note.
  state.gate.store(0, relaxed);
  state.heldNotes.store(0, relaxed);
  state.heldKeys.fill(false);
}

void setVoiceControl(EngineState& state, int32_t control,
                     int32_t position) noexcept QUILLFERN_NONBLOCKING {
  const VoiceControl* known = findVoiceControl(control);
  if (known == nullptr) return;
  const int32_t inRange = std::clamp(position, known->minimum, known->maximum);
  setVoiceValue(state, control, controlValueAt(control, inRange));
}

void setVoiceValue(EngineState& state, int32_t control,
                   double value) noexcept QUILLFERN_NONBLOCKING {
  if (const ParameterControl* parameter = findParameterControl(control)) {
    (state.*parameter->parameter).store(static_cast<float>(value), relaxed);
  } else if (std::atomic<double>* setting = envelopeSettingOf(state, control)) {
    setting->store(value, relaxed);
  }
}

double controlStartupValue(int32_t control) noexcept {
  for (const StartupValue& startup : StartupValues) {
    if (startup.control == control) return startup.value;
  }
  const VoiceControl* known = findVoiceControl(control);
  return known != nullptr ? controlValueAt(control, known->initial) : 0.0;
}

int32_t voiceLatencySamples(const EngineState& state) noexcept {
  return state.handoverLimit + 1;
}

int32_t latencySamplesAt(double sampleRate) noexcept QUILLFERN_NONBLOCKING {
  return samplesAtRate(HandoverLimit, supportedRate(sampleRate)) + 1;
}

int32_t samplesAtRate(int32_t samples, double sampleRate) noexcept QUILLFERN_NONBLOCKING {
  return static_cast<int32_t>(std::lrint(samples * sampleRate / DefaultSampleRate));
}
