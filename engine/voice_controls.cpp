// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/voice_controls.h"

#include <array>
#include <cmath>

#include "engine/envelope.h"

namespace {

constexpr double RGrowth = 1.0667487f;     // per slider step: 600-fold over the range
constexpr double RScale = 0.00046871393f;  // 0.0005 / RGrowth, so that position 1 gives 0.0005
constexpr double IScale = 250.0f;
constexpr double IOffset = 1.0f;
constexpr double BRange = 1000.0f;
constexpr double BSpan = 2.3f;
constexpr double BOffset = 1.7f;
constexpr double ASpan = 2.5f;
constexpr double AScale = 100.0f;
constexpr double AOffset = 0.5f;
constexpr double VolumeScale = 100.0f;
constexpr float SChecked = 4.0f;
constexpr float SUnchecked = 2.8f;

constexpr std::array controls{
    VoiceControl{AttackSlider, "A", 1, 2000, 1},   VoiceControl{DecaySlider, "D", 1, 5000, 1000},
    VoiceControl{SustainSlider, "S", 0, 100, 50},  VoiceControl{ReleaseSlider, "R", 1, 5000, 1500},
    VoiceControl{ISlider, "I", 1, 1000, 500},      VoiceControl{BSlider, "b", 1, 1000, 348},
    VoiceControl{RSlider, "r", 1, 100, 47},        VoiceControl{ASlider, "a", 0, 100, 20},
    VoiceControl{VolumeSlider, "Vol", 1, 100, 30}, VoiceControl{SCheckBox, "s", 0, 1, 0},
};

constexpr std::array parameterControls{
    ParameterControl{RSlider, &EngineState::paramR, rParameterAt},
    ParameterControl{ISlider, &EngineState::paramI, iParameterAt},
    ParameterControl{BSlider, &EngineState::paramB, bParameterAt},
    ParameterControl{ASlider, &EngineState::paramA, aParameterAt},
    ParameterControl{VolumeSlider, &EngineState::volume, volumeAt},
    ParameterControl{SCheckBox, &EngineState::paramS, sParameterAt},
};

}  // namespace

std::span<const VoiceControl> voiceControls() noexcept QUILLFERN_NONBLOCKING {
  return controls;
}

const VoiceControl* findVoiceControl(int32_t number) noexcept QUILLFERN_NONBLOCKING {
  for (const VoiceControl& control : controls) {
    if (control.number == number) return &control;
  }
  return nullptr;
}

float rParameterAt(int32_t position) noexcept QUILLFERN_NONBLOCKING {
  const auto power = static_cast<float>(std::pow(RGrowth, static_cast<float>(position)));
  return static_cast<float>(power * RScale);
}

float iParameterAt(int32_t position) noexcept QUILLFERN_NONBLOCKING {
  return static_cast<float>(position / IScale + IOffset);
}

float bParameterAt(int32_t position) noexcept QUILLFERN_NONBLOCKING {
  return static_cast<float>(position / BRange * BSpan + BOffset);
}

float aParameterAt(int32_t position) noexcept QUILLFERN_NONBLOCKING {
  return static_cast<float>(position * ASpan / AScale + AOffset);
}

float volumeAt(int32_t position) noexcept QUILLFERN_NONBLOCKING {
  return static_cast<float>(position / VolumeScale);
}

float sParameterAt(int32_t checked) noexcept QUILLFERN_NONBLOCKING {
  return checked == 1 ? SChecked : SUnchecked;
}

const ParameterControl* findParameterControl(int32_t control) noexcept QUILLFERN_NONBLOCKING {
  for (const ParameterControl& candidate : parameterControls) {
    if (candidate.control == control) return &candidate;
  }
  return nullptr;
}

double controlValueAt(int32_t control, int32_t position) noexcept QUILLFERN_NONBLOCKING {
  switch (control) {
    case AttackSlider:
      return attackTimeAt(position);
    case DecaySlider:
      return decayTimeAt(position);
    case SustainSlider:
      return sustainLevelAt(position);
    case ReleaseSlider:
      return releaseTimeAt(position);
    default:
      break;
  }
  const ParameterControl* parameter = findParameterControl(control);
  return parameter != nullptr ? parameter->valueAt(position) : 0.0;
}
