// SPDX-License-Identifier: GPL-3.0-or-later
// formatReal for any double, decimal count and buffer, checked by what its text must be rather
// than by writing it again: the toolkit's own texts for NaN and the infinities; otherwise a sign
// only for a value below zero, digits without leading zeros, a point and exactly the decimals
// asked for (-1 means 10, others below 0 mean 0, above 512 mean 512), and a number that reads
// back through strtod to within half a unit of its last decimal. Cut to any buffer, the text
// keeps its beginning, is terminated, and its whole length is returned.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/format_real.h"
#include "fuzz/fuzz_checks.h"

namespace {

int32_t decimalsMeant(int32_t decimals) {
  if (decimals == -1) return 10;
  return std::clamp(decimals, 0, 512);
}

bool allDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

void requireFixedPoint(const std::string& text, double value, int32_t decimals) {
  require(text.size() <= FormatRealMaxLength);
  const bool negative = text.starts_with("-");
  require(negative == (value < 0.0));
  const std::string digits = text.substr(negative ? 1 : 0);
  const std::size_t point = digits.find('.');
  const std::string whole = digits.substr(0, point);
  require(allDigits(whole) && (whole == "0" || !whole.starts_with("0")));
  if (decimals == 0) {
    require(point == std::string::npos);
  } else {
    require(point != std::string::npos &&
            point + 1 + static_cast<std::size_t>(decimals) == digits.size());
    require(allDigits(digits.substr(point + 1)));
  }
  // The text is the value rounded to its decimals; reading it back rounds once more, to the
  // nearest double.
  const double readBack = std::strtod(text.c_str(), nullptr);
  const double halfUnit = 0.5 * std::pow(10.0, -decimals);
  const double ulp = std::fabs(std::nextafter(value, 0.0) - value);
  require(std::fabs(readBack - value) <= halfUnit * (1.0 + 1e-12) + 2.0 * ulp);
}

}  // namespace

// Input: the double's 8 bytes, the decimal count's 4 bytes, one byte for the buffer's size.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  double value = 0.0;
  int32_t decimals = 0;
  if (size < sizeof value + sizeof decimals + 1) return 0;
  std::memcpy(&value, data, sizeof value);
  std::memcpy(&decimals, data + sizeof value, sizeof decimals);
  const std::size_t bufferSize = data[sizeof value + sizeof decimals];

  const std::string text = formatReal(value, decimals);
  if (std::isnan(value)) {
    require(text == "NaN");
  } else if (std::isinf(value)) {
    require(text == (value > 0 ? "+Infinity" : "-Infinity"));
  } else {
    requireFixedPoint(text, value, decimalsMeant(decimals));
  }
  if (value == static_cast<double>(static_cast<float>(value)) || std::isnan(value)) {
    require(formatReal(static_cast<float>(value), decimals) == text);
  }

  // Cut to a small buffer: the text's beginning, terminated, and the whole length returned.
  char cut[256];
  std::memset(cut, 'x', sizeof cut);
  require(formatRealInto(cut, bufferSize, value, decimals) == text.size());
  if (bufferSize > 0) {
    const std::size_t kept = std::min(text.size(), bufferSize - 1);
    require(std::strncmp(cut, text.c_str(), kept) == 0 && cut[kept] == '\0');
  }
  if (bufferSize < sizeof cut) require(cut[bufferSize] == 'x');
  return 0;
}
