// SPDX-License-Identifier: GPL-3.0-or-later
#include "instrument/state.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace {

constexpr std::string_view FormatWord = "quillfern-plugin-state";
constexpr std::string_view PositionsFormat = "1";  // window positions and "moved" flags
constexpr std::string_view ValuesFormat = "2";
constexpr std::string_view EndWord = "end";

// The fields of one line, split at spaces and tabs; a CR before the line's end is no field.
std::vector<std::string_view> fieldsOf(std::string_view line) {
  constexpr std::string_view Blanks = " \t\r";
  std::vector<std::string_view> fields;
  for (std::size_t at = line.find_first_not_of(Blanks); at != std::string_view::npos;) {
    const std::size_t end = std::min(line.find_first_of(Blanks, at), line.size());
    fields.push_back(line.substr(at, end - at));
    at = line.find_first_not_of(Blanks, end);
  }
  return fields;
}

template <typename Number>
bool readWhole(std::string_view field, Number& number) {
  const auto read = std::from_chars(field.data(), field.data() + field.size(), number);
  return read.ec == std::errc{} && read.ptr == field.data() + field.size();
}

// A format 1 line: the window position, and whether the control had been moved from the
// voice's start-up value.
bool readPositionLine(const InstrumentParameter& parameter, std::string_view positionField,
                      std::string_view movedField, double& value) {
  int32_t position = 0;
  int32_t moved = 0;
  if (!readWhole(positionField, position) || !readWhole(movedField, moved)) return false;
  if (moved != 0 && moved != 1) return false;
  const VoiceControl* control = windowControlOf(parameter);
  if (control == nullptr) {  // the channel: its position is its value
    value = position;
    return position >= parameter.minimum && position <= parameter.maximum;
  }
  if (position < control->minimum || position > control->maximum) return false;
  value = moved == 1 ? positionValue(parameter, position) : parameter.defaultValue;
  return true;
}

bool readValueField(const InstrumentParameter& parameter, std::string_view field, double& value) {
  double read = 0.0;
  if (!readWhole(field, read) || !(read >= parameter.minimum && read <= parameter.maximum)) {
    return false;
  }
  value = playableValue(parameter, read);
  return true;
}

}  // namespace

std::string valueLines(const ParameterValues& values, bool presetsOnly) {
  std::string text;
  const auto parameters = instrumentParameters();
  for (std::size_t index = 0; index < ParameterCount; ++index) {
    if (presetsOnly && !parameters[index].inPresets) continue;
    char number[32];
    const auto written = std::to_chars(number, number + sizeof number, values.value[index]);
    text += parameters[index].symbol;
    text += ' ';
    text.append(number, written.ptr);
    text += '\n';
  }
  return text + std::string(EndWord) + '\n';
}

std::string stateText(const ParameterValues& values) {
  return std::string(FormatWord) + ' ' + std::string(ValuesFormat) + '\n' +
         valueLines(values, false);
}

namespace {

// A value line of format 2, or the reason it is none.
bool readValueLine(const std::vector<std::string_view>& fields, ParameterValues& read,
                   std::string& problem) {
  const int32_t index = parameterIndexOfSymbol(fields[0]);
  if (index < 0) return true;  // a parameter of a later version
  const InstrumentParameter& parameter = instrumentParameters()[static_cast<std::size_t>(index)];
  if (fields.size() >= 2 && readValueField(parameter, fields[1], read.value[index])) return true;
  char lowest[32];
  char highest[32];
  formatParameterValue(parameter, parameter.minimum, lowest, sizeof lowest);
  formatParameterValue(parameter, parameter.maximum, highest, sizeof highest);
  problem = std::string(parameter.symbol) + " takes a number from " + lowest + " to " + highest;
  return false;
}

}  // namespace

bool parseValueLines(std::string_view text, int32_t firstLine, ParameterValues& values,
                     std::string& problem) {
  ParameterValues read = values;
  std::size_t lineStart = 0;
  for (int32_t line = firstLine; lineStart <= text.size(); ++line) {
    const std::size_t end = std::min(text.find('\n', lineStart), text.size());
    const std::vector<std::string_view> fields = fieldsOf(text.substr(lineStart, end - lineStart));
    lineStart = end + 1;
    if (fields.empty()) continue;
    if (fields[0] == EndWord) {
      values = read;
      return true;
    }
    if (!readValueLine(fields, read, problem)) {
      problem.insert(0, "line " + std::to_string(line) + ": ");
      return false;
    }
  }
  problem = "no \"end\" line: the file is cut short";
  return false;
}

bool parseStateText(std::string_view text, ParameterValues& values) {
  const std::size_t headerEnd = std::min(text.find('\n'), text.size());
  const std::vector<std::string_view> header = fieldsOf(text.substr(0, headerEnd));
  if (header.size() < 2 || header[0] != FormatWord) return false;
  const std::string_view rest = text.substr(std::min(headerEnd + 1, text.size()));
  ParameterValues read = defaultValues();
  std::string problem;
  if (header[1] == ValuesFormat) {
    if (!parseValueLines(rest, 2, read, problem)) return false;
    values = read;
    return true;
  }
  if (header[1] != PositionsFormat) return false;
  // Format 1 had no end line.
  const auto parameters = instrumentParameters();
  for (std::size_t lineStart = 0; lineStart <= rest.size();) {
    const std::size_t end = std::min(rest.find('\n', lineStart), rest.size());
    const std::vector<std::string_view> fields = fieldsOf(rest.substr(lineStart, end - lineStart));
    lineStart = end + 1;
    if (fields.empty()) continue;
    const int32_t index = parameterIndexOfSymbol(fields[0]);
    if (index < 0) continue;
    const InstrumentParameter& parameter = parameters[static_cast<std::size_t>(index)];
    if (fields.size() < 3 ||
        !readPositionLine(parameter, fields[1], fields[2], read.value[index])) {
      return false;
    }
  }
  values = read;
  return true;
}
