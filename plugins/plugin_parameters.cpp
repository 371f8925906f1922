#include "plugins/plugin_parameters.h"

#include <strings.h>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "engine/envelope.h"
#include "engine/voice.h"
#include "engine/voice_controls.h"

namespace {

constexpr const char* StateFormatLine = "quillfern-plugin-state 1";
constexpr double MillisecondsPerSecond = 1000.0;

// How a parameter's position reads in physical terms.
enum class ValueKind { R, I, B, A, Volume, S, Attack, Milliseconds, Sustain, Channel };

struct ParameterName {
  int32_t control;  // the window's control number
  const char* symbol;
  const char* module;
  ValueKind kind;
};

constexpr std::array<ParameterName, ParameterCount - 1> ControlNames{{
    {AttackSlider, "attack", "Envelope", ValueKind::Attack},
    {DecaySlider, "decay", "Envelope", ValueKind::Milliseconds},
    {SustainSlider, "sustain", "Envelope", ValueKind::Sustain},
    {ReleaseSlider, "release", "Envelope", ValueKind::Milliseconds},
    {ISlider, "i", "Neuron", ValueKind::I},
    {BSlider, "b", "Neuron", ValueKind::B},
    {RSlider, "r", "Neuron", ValueKind::R},
    {ASlider, "a", "Neuron", ValueKind::A},
    {VolumeSlider, "volume", "Output", ValueKind::Volume},
    {SCheckBox, "s", "Neuron", ValueKind::S},
}};

// The window's controls with their names, ranges and initial positions from the engine's table.
std::array<PluginParameter, ParameterCount> makeParameters() {
  std::array<PluginParameter, ParameterCount> all{};
  for (std::size_t index = 0; index < ControlNames.size(); ++index) {
    const ParameterName& name = ControlNames[index];
    const VoiceControl& control = *findVoiceControl(name.control);
    all[index] = {static_cast<uint32_t>(name.control),
                  name.symbol,
                  control.name,
                  name.module,
                  control.minimum,
                  control.maximum,
                  control.initial};
  }
  all.back() = {ChannelParameterId, "channel",       "MIDI channel",  "MIDI",
                OmniChannel,        LastMidiChannel, FirstMidiChannel};
  return all;
}

const std::array<PluginParameter, ParameterCount> Parameters = makeParameters();

ValueKind kindOf(std::size_t index) {
  return index < ControlNames.size() ? ControlNames[index].kind : ValueKind::Channel;
}

std::size_t indexOf(const PluginParameter& parameter) {
  return static_cast<std::size_t>(&parameter - Parameters.data());
}

double physicalValue(ValueKind kind, int32_t position) {
  switch (kind) {
    case ValueKind::R:
      return rParameterAt(position);
    case ValueKind::I:
      return iParameterAt(position);
    case ValueKind::B:
      return bParameterAt(position);
    case ValueKind::A:
      return aParameterAt(position);
    case ValueKind::S:
      return sParameterAt(position);
    case ValueKind::Attack:
      return attackSamplesAt(position, DefaultSampleRate) / DefaultSampleRate *
             MillisecondsPerSecond;
    case ValueKind::Volume:
    case ValueKind::Milliseconds:
    case ValueKind::Sustain:
    case ValueKind::Channel:
      break;
  }
  return position;
}

// Attack times run from a tenth of a millisecond to three seconds: a few significant digits.
int attackDecimals(double milliseconds) {
  if (milliseconds < 10.0) return 2;
  return milliseconds < 100.0 ? 1 : 0;
}

}  // namespace

std::span<const PluginParameter> pluginParameters() noexcept QUILLFERN_NONBLOCKING {
  return Parameters;
}

int32_t parameterIndexOfId(uint32_t id) noexcept QUILLFERN_NONBLOCKING {
  for (std::size_t index = 0; index < Parameters.size(); ++index) {
    if (Parameters[index].id == id) return static_cast<int32_t>(index);
  }
  return -1;
}

int32_t parameterIndexOfSymbol(const std::string& symbol) noexcept {
  for (std::size_t index = 0; index < Parameters.size(); ++index) {
    if (symbol == Parameters[index].symbol) return static_cast<int32_t>(index);
  }
  return -1;
}

int32_t positionOfValue(const PluginParameter& parameter,
                        double value) noexcept QUILLFERN_NONBLOCKING {
  if (!(value >= parameter.minimum)) return parameter.minimum;  // NaN too
  if (value >= parameter.maximum) return parameter.maximum;
  return static_cast<int32_t>(std::lround(value));
}

void formatParameterValue(const PluginParameter& parameter, int32_t position, char* text,
                          std::size_t size) {
  const ValueKind kind = kindOf(indexOf(parameter));
  const double value = physicalValue(kind, position);
  switch (kind) {
    case ValueKind::R:
      std::snprintf(text, size, "%.4f", value);
      return;
    case ValueKind::I:
    case ValueKind::B:
    case ValueKind::A:
      std::snprintf(text, size, "%.3f", value);
      return;
    case ValueKind::S:
      std::snprintf(text, size, "%.1f", value);
      return;
    case ValueKind::Attack:
      std::snprintf(text, size, "%.*f ms", attackDecimals(value), value);
      return;
    case ValueKind::Milliseconds:
      std::snprintf(text, size, "%d ms", position);
      return;
    case ValueKind::Volume:
    case ValueKind::Sustain:
      std::snprintf(text, size, "%d %%", position);
      return;
    case ValueKind::Channel:
      if (position == OmniChannel) {
        std::snprintf(text, size, "Omni");
      } else {
        std::snprintf(text, size, "%d", position);
      }
      return;
  }
}

bool parseParameterText(const PluginParameter& parameter, const char* text, int32_t& position) {
  const ValueKind kind = kindOf(indexOf(parameter));
  if (kind == ValueKind::Channel && strncasecmp(text, "omni", 4) == 0) {
    position = OmniChannel;
    return true;
  }
  char* end = nullptr;
  const double typed = std::strtod(text, &end);
  if (end == text || !std::isfinite(typed)) return false;
  int32_t nearest = parameter.minimum;
  for (int32_t candidate = parameter.minimum; candidate <= parameter.maximum; ++candidate) {
    if (std::fabs(physicalValue(kind, candidate) - typed) <
        std::fabs(physicalValue(kind, nearest) - typed)) {
      nearest = candidate;
    }
  }
  position = nearest;
  return true;
}

ParameterPositions initialPositions() noexcept {
  ParameterPositions positions;
  for (std::size_t index = 0; index < ParameterCount; ++index) {
    positions.position[index] = Parameters[index].initial;
  }
  return positions;
}

bool moveParameter(ParameterPositions& positions, std::size_t index,
                   int32_t position) noexcept QUILLFERN_NONBLOCKING {
  const bool isControl = index < ControlNames.size();
  if (isControl && position != positions.position[index]) positions.changed[index] = true;
  positions.position[index] = position;
  return positions.changed[index];
}

std::string stateText(const ParameterPositions& positions) {
  std::ostringstream text;
  text << StateFormatLine << '\n';
  for (std::size_t index = 0; index < ParameterCount; ++index) {
    text << Parameters[index].symbol << ' ' << positions.position[index] << ' '
         << (positions.changed[index] ? 1 : 0) << '\n';
  }
  return text.str();
}

bool parseStateText(const std::string& text, ParameterPositions& positions) {
  std::istringstream lines(text);
  std::string line;
  if (!std::getline(lines, line) || line != StateFormatLine) return false;
  ParameterPositions read = initialPositions();
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string symbol;
    int32_t position = 0;
    int32_t changed = 0;
    std::string rest;
    if (!(words >> symbol >> position >> changed) || (words >> rest)) return false;
    const int32_t index = parameterIndexOfSymbol(symbol);
    if (index < 0) continue;
    const PluginParameter& parameter = Parameters[static_cast<std::size_t>(index)];
    if (position < parameter.minimum || position > parameter.maximum) return false;
    if (changed != 0 && changed != 1) return false;
    read.position[index] = position;
    read.changed[index] = changed == 1 && static_cast<std::size_t>(index) < ControlNames.size();
  }
  positions = read;
  return true;
}

std::string changedSymbols(const ParameterPositions& positions) {
  std::string symbols;
  for (std::size_t index = 0; index < ParameterCount; ++index) {
    if (!positions.changed[index]) continue;
    if (!symbols.empty()) symbols += ' ';
    symbols += Parameters[index].symbol;
  }
  return symbols;
}

void markChangedSymbols(const std::string& symbols, ParameterPositions& positions) {
  std::istringstream words(symbols);
  for (std::string symbol; words >> symbol;) {
    const int32_t index = parameterIndexOfSymbol(symbol);
    if (index >= 0 && static_cast<std::size_t>(index) < ControlNames.size()) {
      positions.changed[index] = true;
    }
  }
}
