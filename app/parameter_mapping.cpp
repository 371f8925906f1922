#include "app/parameter_mapping.h"

#include <array>
#include <cmath>

#include "app/control_numbers.h"

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

constexpr std::array parameterControls{
    ParameterControl{RSlider, &EngineState::paramR, rParameterAt, RReadout, 4},
    ParameterControl{ISlider, &EngineState::paramI, iParameterAt, IReadout, 3},
    ParameterControl{BSlider, &EngineState::paramB, bParameterAt, BReadout, 3},
    ParameterControl{ASlider, &EngineState::paramA, aParameterAt, AReadout, 3},
    ParameterControl{VolumeSlider, &EngineState::volume, volumeAt, NoReadout, 0},
    ParameterControl{SCheckBox, &EngineState::paramS, sParameterAt, NoReadout, 0},
};

}  // namespace

float rParameterAt(int32_t position) noexcept {
  const auto power = static_cast<float>(std::pow(RGrowth, static_cast<float>(position)));
  return static_cast<float>(power * RScale);
}

float iParameterAt(int32_t position) noexcept {
  return static_cast<float>(position / IScale + IOffset);
}

float bParameterAt(int32_t position) noexcept {
  return static_cast<float>(position / BRange * BSpan + BOffset);
}

float aParameterAt(int32_t position) noexcept {
  return static_cast<float>(position * ASpan / AScale + AOffset);
}

float volumeAt(int32_t position) noexcept {
  return static_cast<float>(position / VolumeScale);
}

float sParameterAt(int32_t checked) noexcept {
  return checked == 1 ? SChecked : SUnchecked;
}

const ParameterControl* findParameterControl(int32_t control) noexcept {
  for (const ParameterControl& candidate : parameterControls) {
    if (candidate.control == control) return &candidate;
  }
  return nullptr;
}

float applyControlPosition(EngineState& state, const ParameterControl& control,
                           int32_t position) noexcept {
  const float value = control.valueAt(position);
  (state.*control.parameter).store(value, std::memory_order_relaxed);
  return value;
}
