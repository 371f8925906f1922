// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/format_real.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr int32_t DefaultDecimals = 10;  // what a count of -1 asks for
constexpr int32_t MostDecimals = 512;

int32_t effectiveDecimals(int32_t decimals) noexcept {
  if (decimals == -1) return DefaultDecimals;
  if (decimals > MostDecimals) return MostDecimals;
  return decimals < 0 ? 0 : decimals;
}

std::size_t copyText(char* buffer, std::size_t size, const char* text) noexcept {
  const std::size_t length = std::strlen(text);
  if (size > 0) {
    const std::size_t kept = length < size ? length : size - 1;
    std::memcpy(buffer, text, kept);
    buffer[kept] = '\0';
  }
  return length;
}

}  // namespace

std::size_t formatRealInto(char* buffer, std::size_t size, double value,
                           int32_t decimals) noexcept {
  if (std::isnan(value)) return copyText(buffer, size, "NaN");
  if (std::isinf(value)) return copyText(buffer, size, value > 0 ? "+Infinity" : "-Infinity");
  // A zero of either sign is shown as positive zero; every other value keeps its sign.
  const double shown = value == 0.0 ? 0.0 : value;
  const int written = std::snprintf(buffer, size, "%.*f", effectiveDecimals(decimals), shown);
  return written < 0 ? 0 : static_cast<std::size_t>(written);
}

std::string formatReal(double value, int32_t decimals) {
  char text[FormatRealMaxLength + 1];
  const std::size_t length = formatRealInto(text, sizeof text, value, decimals);
  return std::string(text, length);
}

std::string formatReal(float value, int32_t decimals) {
  return formatReal(static_cast<double>(value), decimals);
}
