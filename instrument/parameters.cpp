// SPDX-License-Identifier: GPL-3.0-or-later
#include "instrument/parameters.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/instrument.h"
#include "engine/voice.h"

namespace {

constexpr double MillisecondsPerSecond = 1000.0;
constexpr double PercentPerUnit = 100.0;

// The table as hosts see it: a window control's range is the values of its positions, its
// default the voice's start-up value.
std::array<InstrumentParameter, ParameterCount> completedTable() noexcept {
  std::array<InstrumentParameter, ParameterCount> table = parameter_table::Table;
  for (InstrumentParameter& parameter : table) {
    const auto number = static_cast<int32_t>(parameter.id);
    const VoiceControl* window = findVoiceControl(number);
    if (window == nullptr) continue;
    parameter.minimum = controlValueAt(number, window->minimum);
    parameter.maximum = controlValueAt(number, window->maximum);
    parameter.defaultValue = controlStartupValue(number);
  }
  return table;
}

const std::array<InstrumentParameter, ParameterCount> Parameters = completedTable();

// A number as text, without the locale's say: "3.000", "0.00977".
struct Digits {
  char text[64]{};
  double rounded = 0.0;  // the value the text reads as
};

Digits fixedDigits(double value, int32_t decimals) {
  Digits digits;
  const auto written = std::to_chars(digits.text, digits.text + sizeof digits.text - 1, value,
                                     std::chars_format::fixed, decimals);
  if (written.ec != std::errc{}) return digits;  // far beyond any range: left empty
  std::from_chars(digits.text, written.ptr, digits.rounded);
  return digits;
}

// `significant` digits, as many decimals as they need: 0.00977, 250, 1.50.
Digits significantDigits(double value, int32_t significant) {
  char scientific[32];
  const auto written = std::to_chars(scientific, scientific + sizeof scientific, value,
                                     std::chars_format::scientific, significant - 1);
  if (written.ec != std::errc{}) return {};
  // "9.77e-03": the rounded value and its power of ten, which rounding may have raised.
  double rounded = value;
  std::from_chars(scientific, written.ptr, rounded);
  const char* exponent = std::find(scientific, written.ptr, 'e') + 1;
  if (exponent < written.ptr && *exponent == '+') ++exponent;
  int32_t power = 0;
  std::from_chars(exponent, written.ptr, power);
  return fixedDigits(rounded, std::max(0, significant - 1 - power));
}

// A percentage's trailing zeros go: "50 %", "33.3 %".
void trimZeros(char* text) {
  char* point = std::strchr(text, '.');
  if (point == nullptr) return;
  char* end = point + std::strlen(point);
  while (end > point + 1 && end[-1] == '0') --end;
  if (end == point + 1) end = point;
  *end = '\0';
}

// `value` as text, not brought into the range first.
void formatValue(const InstrumentParameter& parameter, double value, char* text, std::size_t size) {
  if (!parameter.labels.empty()) {
    // fmax and fmin rather than clamp, which passes NaN on: NaN names the first label.
    const auto label =
        static_cast<std::size_t>(std::fmin(std::fmax(value - parameter.minimum, 0.0),
                                           static_cast<double>(parameter.labels.size() - 1)));
    std::snprintf(text, size, "%s", parameter.labels[label]);
    return;
  }
  switch (parameter.unit) {
    case ParameterUnit::Seconds: {
      const Digits milliseconds =
          significantDigits(value * MillisecondsPerSecond, parameter.digits);
      if (milliseconds.rounded < MillisecondsPerSecond) {
        std::snprintf(text, size, "%s ms", milliseconds.text);
      } else {
        std::snprintf(text, size, "%s s", significantDigits(value, parameter.digits).text);
      }
      return;
    }
    case ParameterUnit::Level: {
      Digits percent = fixedDigits(value * PercentPerUnit, parameter.digits);
      trimZeros(percent.text);
      std::snprintf(text, size, "%s %%", percent.text);
      return;
    }
    case ParameterUnit::Number:
    case ParameterUnit::Channel:
      break;
  }
  const Digits digits = parameter.scale == ParameterScale::Logarithmic
                            ? significantDigits(value, parameter.digits)
                            : fixedDigits(value, parameter.digits);
  std::snprintf(text, size, "%s", digits.text);
}

std::string_view trimmed(std::string_view text) {
  constexpr std::string_view Blanks = " \t\r\n";
  const std::size_t first = text.find_first_not_of(Blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(Blanks) - first + 1);
}

// A number at the start of `text` ("+0,5" too, as a user of a decimal comma types it); `rest`
// gets what follows it.
bool readNumber(std::string_view text, double& number, std::string_view& rest) {
  char copy[64];
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.size() >= sizeof copy) return false;
  const bool hasPoint = text.find('.') != std::string_view::npos;
  for (std::size_t at = 0; at < text.size(); ++at) {
    copy[at] = !hasPoint && text[at] == ',' ? '.' : text[at];
  }
  const auto read = std::from_chars(copy, copy + text.size(), number);
  if (read.ec != std::errc{}) return false;
  rest = trimmed(text.substr(static_cast<std::size_t>(read.ptr - copy)));
  return std::isfinite(number);
}

// How many of a unit make one of the parameter's own; 0 for a unit it does not take.
double unitDivisor(ParameterUnit unit, std::string_view suffix) {
  if (suffix.empty()) return 1.0;
  if (unit == ParameterUnit::Seconds && sameTextAnyCase(suffix, "s")) return 1.0;
  if (unit == ParameterUnit::Seconds && sameTextAnyCase(suffix, "ms")) return MillisecondsPerSecond;
  if (unit == ParameterUnit::Level && suffix == "%") return PercentPerUnit;
  return 0.0;
}

// How far a port's float may lie from a position's value and still stand for it: the float's
// own rounding, and the eighth decimal, all that lilv (and so jalv's and Ardour's saved LV2
// states) keep of a port value. Adjacent positions lie many times farther apart.
double portTolerance(double value) noexcept QUILLFERN_NONBLOCKING {
  constexpr double SavedDecimal = 0.5e-8;
  constexpr double FloatRounding = 0x1p-24;  // half a float's unit in the last place, relative
  return SavedDecimal + std::fabs(value) * FloatRounding;
}

bool isContinuous(const InstrumentParameter& parameter) {
  return parameter.scale == ParameterScale::Linear ||
         parameter.scale == ParameterScale::Logarithmic;
}

// A typed value out of the range is the range's end only when it reads as that end.
bool readsAsRangeEnd(const InstrumentParameter& parameter, double typed, double end) {
  char typedText[64];
  char endText[64];
  formatValue(parameter, typed, typedText, sizeof typedText);
  formatValue(parameter, end, endText, sizeof endText);
  return std::strcmp(typedText, endText) == 0;
}

}  // namespace

bool sameTextAnyCase(std::string_view one, std::string_view other) noexcept {
  return std::equal(one.begin(), one.end(), other.begin(), other.end(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  });
}

const char* parameterGroupName(ParameterGroup group) noexcept {
  switch (group) {
    case ParameterGroup::Envelope:
      return "Envelope";
    case ParameterGroup::Neuron:
      return "Neuron";
    case ParameterGroup::Output:
      return "Output";
    case ParameterGroup::Midi:
      return "MIDI";
    case ParameterGroup::Expression:
      return "Expression";
    case ParameterGroup::Notes:
      break;
  }
  return "Notes";
}

std::span<const InstrumentParameter> instrumentParameters() noexcept QUILLFERN_NONBLOCKING {
  return Parameters;
}

int32_t parameterIndexOfId(uint32_t id) noexcept QUILLFERN_NONBLOCKING {
  for (std::size_t index = 0; index < Parameters.size(); ++index) {
    if (Parameters[index].id == id) return static_cast<int32_t>(index);
  }
  return -1;
}

int32_t parameterIndexOfSymbol(std::string_view symbol) noexcept {
  for (std::size_t index = 0; index < Parameters.size(); ++index) {
    if (symbol == Parameters[index].symbol) return static_cast<int32_t>(index);
  }
  return -1;
}

const VoiceControl* windowControlOf(const InstrumentParameter& parameter) noexcept
    QUILLFERN_NONBLOCKING {
  return findVoiceControl(static_cast<int32_t>(parameter.id));
}

double positionValue(const InstrumentParameter& parameter,
                     int32_t position) noexcept QUILLFERN_NONBLOCKING {
  return controlValueAt(static_cast<int32_t>(parameter.id), position);
}

double playableValue(const InstrumentParameter& parameter,
                     double value) noexcept QUILLFERN_NONBLOCKING {
  if (std::isnan(value)) return value;
  const double inRange = std::clamp(value, parameter.minimum, parameter.maximum);
  switch (parameter.scale) {
    case ParameterScale::Linear:
    case ParameterScale::Logarithmic:
      return inRange;
    case ParameterScale::Enumeration:
    case ParameterScale::Toggle:
      return std::trunc(inRange);  // as CLAP turns a stepped parameter's value to a whole one
    case ParameterScale::Stepped:
      break;
  }
  const VoiceControl& control = *windowControlOf(parameter);
  double nearest = parameter.minimum;
  for (int32_t position = control.minimum; position <= control.maximum; ++position) {
    const double step = positionValue(parameter, position);
    if (std::fabs(step - inRange) < std::fabs(nearest - inRange)) nearest = step;
  }
  return nearest;
}

double valueOfPortFloat(const InstrumentParameter& parameter,
                        float port) noexcept QUILLFERN_NONBLOCKING {
  const VoiceControl* control = windowControlOf(parameter);
  if (control == nullptr || !std::isfinite(port)) return port;
  // The first position whose value is not below the port's reach: the formulas rise.
  int32_t low = control->minimum;
  int32_t high = control->maximum;
  while (low < high) {
    const int32_t middle = low + (high - low) / 2;
    const double value = positionValue(parameter, middle);
    if (value + portTolerance(value) < port) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  const double candidate = positionValue(parameter, low);
  return std::fabs(candidate - port) <= portTolerance(candidate) ? candidate : port;
}

void formatParameterValue(const InstrumentParameter& parameter, double value, char* text,
                          std::size_t size) {
  formatValue(parameter, playableValue(parameter, value), text, size);
}

bool parseParameterText(const InstrumentParameter& parameter, std::string_view text,
                        double& value) {
  text = trimmed(text);
  for (std::size_t label = 0; label < parameter.labels.size(); ++label) {
    if (sameTextAnyCase(text, parameter.labels[label])) {
      value = parameter.minimum + static_cast<double>(label);
      return true;
    }
  }
  double number = 0.0;
  std::string_view unit;
  if (!readNumber(text, number, unit)) return false;
  const double divisor = unitDivisor(parameter.unit, unit);
  if (divisor == 0.0) return false;
  const double typed = number / divisor;
  const double playable = playableValue(parameter, typed);
  const bool inRange = typed >= parameter.minimum && typed <= parameter.maximum;
  if (!inRange && !(isContinuous(parameter) && readsAsRangeEnd(parameter, typed, playable))) {
    return false;
  }
  value = playable;
  return true;
}

ParameterValues defaultValues() noexcept {
  ParameterValues values;
  for (std::size_t index = 0; index < ParameterCount; ++index) {
    values.value[index] = Parameters[index].defaultValue;
  }
  return values;
}

ParameterValues rendererValues() noexcept {
  ParameterValues values = defaultValues();
  values.value[parameterIndexOfId(StableStepsSetting)] = parameter_table::Renderer.stableSteps;
  values.value[parameterIndexOfId(DcFilterSetting)] = parameter_table::Renderer.dcFilter;
  values.value[parameterIndexOfId(PitchSetting)] =
      static_cast<double>(parameter_table::Renderer.keyedPitch ? PitchMode::Key : PitchMode::Model);
  return values;
}
