// SPDX-License-Identifier: GPL-3.0-or-later
// The window's view of the parameter table of instrument/parameters.h, where the host's
// value of a parameter is in the model's own units.
#include "plugins/gui/gui_parameters.h"

#include <algorithm>
#include <cmath>

#include "engine/voice_controls.h"
#include "instrument/factory_presets.h"
#include "instrument/parameters.h"

namespace {

const InstrumentParameter& parameterAt(std::size_t index) noexcept QUILLFERN_NONBLOCKING {
  return instrumentParameters()[index];
}

// Spread as the host may spread it: a logarithmic parameter gives each octave the same share.
bool isLogarithmic(const InstrumentParameter& parameter) {
  return parameter.scale == ParameterScale::Logarithmic;
}

}  // namespace

std::size_t guiParameterCount() {
  return ParameterCount;
}

uint32_t guiParameterId(std::size_t index) noexcept QUILLFERN_NONBLOCKING {
  return parameterAt(index).id;
}

const char* guiParameterName(std::size_t index) {
  return parameterAt(index).name;
}

const char* controlGroupTitle(ControlGroup group) {
  switch (group) {
    case ControlGroup::Envelope:
      return "Envelope";
    case ControlGroup::Neuron:
      return "Neuron";
    case ControlGroup::VolumeAndS:
      return "Volume and s";
    case ControlGroup::Playing:
      break;
  }
  return "Playing";
}

// The window program's controls as it groups them: s, its one switch, beside the volume.
ControlGroup guiParameterGroup(std::size_t index) {
  const InstrumentParameter& parameter = parameterAt(index);
  if (windowControlOf(parameter) == nullptr) return ControlGroup::Playing;
  if (parameter.group == ParameterGroup::Envelope) return ControlGroup::Envelope;
  if (parameter.group == ParameterGroup::Neuron && parameter.scale != ParameterScale::Stepped) {
    return ControlGroup::Neuron;
  }
  return ControlGroup::VolumeAndS;
}

int32_t guiParameterSteps(std::size_t index) {
  const InstrumentParameter& parameter = parameterAt(index);
  switch (parameter.scale) {
    case ParameterScale::Linear:
    case ParameterScale::Logarithmic:
      return 0;
    case ParameterScale::Stepped: {
      const VoiceControl* control = windowControlOf(parameter);
      return control != nullptr ? control->maximum - control->minimum : 1;
    }
    case ParameterScale::Enumeration:
    case ParameterScale::Toggle:
      break;
  }
  return static_cast<int32_t>(parameter.maximum - parameter.minimum);
}

double guiDefaultValue(std::size_t index) {
  return parameterAt(index).defaultValue;
}

double guiValueAt(std::size_t index, double normalized) {
  const InstrumentParameter& parameter = parameterAt(index);
  const double clamped = std::clamp(normalized, 0.0, 1.0);
  if (isLogarithmic(parameter)) {
    return playableValue(
        parameter, parameter.minimum * std::pow(parameter.maximum / parameter.minimum, clamped));
  }
  const double value = parameter.minimum + clamped * (parameter.maximum - parameter.minimum);
  // A parameter of whole steps takes the nearest, not the one below, as the wheel's and the
  // switch's places are exact step boundaries.
  const int32_t steps = guiParameterSteps(index);
  if (steps == 0 || parameter.scale == ParameterScale::Stepped) {
    return playableValue(parameter, value);
  }
  return playableValue(parameter, parameter.minimum + std::round(clamped * steps));
}

double guiNormalizedOf(std::size_t index, double value) {
  const InstrumentParameter& parameter = parameterAt(index);
  const double playable = playableValue(parameter, value);
  if (std::isnan(playable)) return 0.0;
  if (isLogarithmic(parameter)) {
    return std::log(playable / parameter.minimum) / std::log(parameter.maximum / parameter.minimum);
  }
  return (playable - parameter.minimum) / (parameter.maximum - parameter.minimum);
}

void guiValueText(std::size_t index, double value, char* text, std::size_t size) {
  formatParameterValue(parameterAt(index), value, text, size);
}

bool guiValueOfText(std::size_t index, const char* text, double& value) {
  return parseParameterText(parameterAt(index), text, value);
}

std::size_t guiPresetCount() {
  return factoryPresets().size();
}

const char* guiPresetName(std::size_t preset) {
  return factoryPresets()[preset].name;
}

void guiPresetValues(std::size_t preset, std::span<double> values) {
  const ParameterValues played = presetValues(factoryPresets()[preset]);
  for (std::size_t index = 0; index < values.size() && index < ParameterCount; ++index) {
    values[index] = parameterAt(index).inPresets ? played.value[index] : NAN;
  }
}
