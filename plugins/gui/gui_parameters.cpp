// The window's view of the parameter table of plugins/plugin_parameters.h, where the host's
// value of a parameter is its position.
#include "plugins/gui/gui_parameters.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "plugins/plugin_parameters.h"

namespace {

const PluginParameter& parameterAt(std::size_t index) noexcept QUILLFERN_NONBLOCKING {
  return pluginParameters()[index];
}

int32_t positionOf(std::size_t index, double value) {
  return positionOfValue(parameterAt(index), value);
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

ControlGroup guiParameterGroup(std::size_t index) {
  const char* module = parameterAt(index).module;
  if (std::strcmp(module, "Envelope") == 0) return ControlGroup::Envelope;
  if (std::strcmp(module, "Neuron") == 0 && std::strcmp(parameterAt(index).symbol, "s") != 0) {
    return ControlGroup::Neuron;
  }
  return ControlGroup::VolumeAndS;
}

int32_t guiParameterSteps(std::size_t index) {
  return parameterAt(index).maximum - parameterAt(index).minimum;
}

double guiDefaultValue(std::size_t index) {
  return parameterAt(index).initial;
}

double guiValueAt(std::size_t index, double normalized) {
  const PluginParameter& parameter = parameterAt(index);
  const double clamped = std::clamp(normalized, 0.0, 1.0);
  return std::round(parameter.minimum + clamped * (parameter.maximum - parameter.minimum));
}

double guiNormalizedOf(std::size_t index, double value) {
  const PluginParameter& parameter = parameterAt(index);
  return static_cast<double>(positionOf(index, value) - parameter.minimum) /
         (parameter.maximum - parameter.minimum);
}

void guiValueText(std::size_t index, double value, char* text, std::size_t size) {
  formatParameterValue(parameterAt(index), positionOf(index, value), text, size);
}

bool guiValueOfText(std::size_t index, const char* text, double& value) {
  int32_t position = 0;
  if (!parseParameterText(parameterAt(index), text, position)) return false;
  value = position;
  return true;
}

// Until the factory bank comes, the one preset is the settings of a new instance.
std::size_t guiPresetCount() {
  return 1;
}

const char* guiPresetName(std::size_t /*preset*/) {
  return "Initial settings";
}

void guiPresetValues(std::size_t /*preset*/, std::span<double> values) {
  for (std::size_t index = 0; index < values.size() && index < ParameterCount; ++index) {
    values[index] = guiDefaultValue(index);
  }
}
