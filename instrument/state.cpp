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

std::string stateText(const ParameterValues& values) {
  std::string text = std::string(FormatWord) + ' ' + std::string(ValuesFormat) + '\n';
  const auto parameters = instrumentParameters();
  for (std::size_t index = 0; index < ParameterCount; ++index) {
    char number[32];
    const auto written = std::to_chars(number, number + sizeof number, values.value[index]);
    text += parameters[index].symbol;
    text += ' ';
    text.append(number, written.ptr);
    text += '\n';
  }
  return text + std::string(EndWord) + '\n';
}

bool parseStateText(std::string_view text, ParameterValues& values) {
  std::size_t lineStart = 0;
  const auto nextLine = [&]() {
    const std::size_t end = std::min(text.find('\n', lineStart), text.size());
    const std::string_view line = text.substr(lineStart, end - lineStart);
    lineStart = end + 1;
    return line;
  };
  const std::vector<std::string_view> header = fieldsOf(nextLine());
  if (header.size() < 2 || header[0] != FormatWord) return false;
  const bool positions = header[1] == PositionsFormat;
  if (!positions && header[1] != ValuesFormat) return false;

  ParameterValues read = defaultValues();
  const auto parameters = instrumentParameters();
  bool ended = false;
  while (lineStart <= text.size()) {
    const std::vector<std::string_view> fields = fieldsOf(nextLine());
    if (fields.empty()) continue;
    if (!positions && fields[0] == EndWord) {
      ended = true;
      break;
    }
    const int32_t index = parameterIndexOfSymbol(fields[0]);
    if (index < 0) continue;
    const InstrumentParameter& parameter = parameters[static_cast<std::size_t>(index)];
    double& value = read.value[index];
    const bool valid =
        positions ? fields.size() >= 3 && readPositionLine(parameter, fields[1], fields[2], value)
                  : fields.size() >= 2 && readValueField(parameter, fields[1], value);
    if (!valid) return false;
  }
  if (!positions && !ended) return false;  // format 1 had no end line
  values = read;
  return true;
}
