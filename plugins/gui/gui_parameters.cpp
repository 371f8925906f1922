// SPDX-License-Identifier: GPL-3.0-or-later
// The window's view of the parameter table of instrument/parameters.h, where the host's
// value of a parameter is in the model's own units.
#include "plugins/gui/gui_parameters.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "engine/voice_controls.h"
#include "instrument/factory_presets.h"
#include "instrument/parameters.h"
#include "instrument/user_presets.h"

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

namespace {

// The model's constants as a player meets them: the letters stay, as the help and the
// equations use them.
struct ModelWords {
  const char* symbol;
  const char* name;
  const char* hint;
};

constexpr ModelWords ModelConstants[] = {
    {"i", "I \u00B7 drive", "How hard the neuron is pushed: more drive, more and faster spikes"},
    {"b", "b \u00B7 burst", "Bursts or single spikes; low values buzz like a square wave"},
    {"r", "r \u00B7 adaptation", "How fast the neuron tires: slower makes longer bursts"},
    {"a", "a \u00B7 spike shape", "The shape of each spike: higher makes its swing smaller"},
    {"s", "s \u00B7 recovery", "How strongly it recovers: 4.0 bursts, 2.8 leans to spiking"},
};

const ModelWords* modelWordsOf(std::size_t index) {
  for (const ModelWords& words : ModelConstants) {
    if (std::string_view(words.symbol) == parameterAt(index).symbol) return &words;
  }
  return nullptr;
}

}  // namespace

const char* guiParameterName(std::size_t index) {
  const ModelWords* words = modelWordsOf(index);
  return words != nullptr ? words->name : parameterAt(index).name;
}

const char* guiParameterHint(std::size_t index) {
  const ModelWords* words = modelWordsOf(index);
  return words != nullptr ? words->hint : "";
}

const char* controlGroupTitle(ControlGroup group) {
  switch (group) {
    case ControlGroup::Envelope:
      return "Envelope";
    case ControlGroup::Neuron:
      return "Neuron";
    case ControlGroup::Output:
      return "Output";
    case ControlGroup::Playing:
      break;
  }
  return "Playing";
}

// The window program's controls by what they are, s with the other constants of the neuron.
ControlGroup guiParameterGroup(std::size_t index) {
  const InstrumentParameter& parameter = parameterAt(index);
  if (windowControlOf(parameter) == nullptr) return ControlGroup::Playing;
  if (parameter.group == ParameterGroup::Envelope) return ControlGroup::Envelope;
  if (parameter.group == ParameterGroup::Neuron) return ControlGroup::Neuron;
  return ControlGroup::Output;
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

double guiAttackSeconds(std::span<const double> values) {
  return values[static_cast<std::size_t>(parameterIndexOfSymbol("attack"))];
}

uint8_t guiMidiChannel(std::span<const double> values) {
  const auto index = static_cast<std::size_t>(parameterIndexOfId(ChannelParameterId));
  const double channel = playableValue(parameterAt(index), values[index]);
  return channel >= FirstMidiChannel ? static_cast<uint8_t>(channel - FirstMidiChannel) : 0;
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

namespace {

GuiPreset guiPresetOf(std::string name, const ParameterValues& played) {
  GuiPreset preset{std::move(name), std::vector<double>(ParameterCount), {}, {}};
  for (std::size_t index = 0; index < ParameterCount; ++index) {
    preset.values[index] = parameterAt(index).inPresets ? played.value[index] : NAN;
  }
  return preset;
}

GuiPreset guiPresetOf(const UserPreset& user) {
  GuiPreset preset = guiPresetOf(user.name, user.values);
  preset.path = user.path;
  preset.problem = user.readable ? "" : user.problem;
  return preset;
}

}  // namespace

std::vector<GuiPreset> guiPresets() {
  std::vector<GuiPreset> presets;
  for (const FactoryPreset& preset : factoryPresets()) {
    presets.push_back(guiPresetOf(preset.name, presetValues(preset)));
  }
  for (const UserPreset& user : listUserPresets()) presets.push_back(guiPresetOf(user));
  return presets;
}

std::size_t guiFactoryPresetCount() {
  return factoryPresets().size();
}

bool guiReadPresetAgain(GuiPreset& preset) {
  if (preset.path.empty()) return true;
  const UserPreset user = readUserPreset(preset.path);
  if (!user.readable) {
    preset.problem = user.problem;
    return false;
  }
  preset = guiPresetOf(user);
  return true;
}

bool guiSavePreset(const std::string& name, std::span<const double> values, std::string& problem) {
  ParameterValues sound = defaultValues();
  std::copy_n(values.begin(), std::min(values.size(), ParameterCount), sound.value);
  return saveUserPreset(name, sound, problem);
}

std::string guiFreePresetName(const std::vector<GuiPreset>& presets) {
  std::vector<UserPreset> taken(presets.size());
  for (std::size_t preset = 0; preset < presets.size(); ++preset) {
    taken[preset].name = presets[preset].name;
  }
  return freePresetName(taken);
}
