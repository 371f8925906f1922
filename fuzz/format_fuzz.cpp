// formatReal against the C library's "%.*f" for any double and decimal count, with the
// toolkit's own texts for NaN and the infinities, its decimal counts (-1 means 10, others
// below 0 mean 0, above 512 mean 512), the sign of zero dropped, and texts cut to any buffer.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/format_real.h"

namespace {

void require(bool promise) {
  if (!promise) std::abort();
}

std::string expectedText(double value, int32_t decimals) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Infinity" : "-Infinity";
  int32_t count = decimals;
  if (decimals == -1) count = 10;
  if (decimals < -1) count = 0;
  if (decimals > 512) count = 512;
  char text[FormatRealMaxLength + 1];
  const int length = std::snprintf(text, sizeof text, "%.*f", count, value == 0.0 ? 0.0 : value);
  require(length > 0 && static_cast<std::size_t>(length) <= FormatRealMaxLength);
  return text;
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

  const std::string expected = expectedText(value, decimals);
  require(formatReal(value, decimals) == expected);
  if (value == static_cast<double>(static_cast<float>(value))) {
    require(formatReal(static_cast<float>(value), decimals) == expected);
  }

  // Cut to a small buffer: the text's beginning, terminated, and the whole length returned.
  char cut[256];
  std::memset(cut, 'x', sizeof cut);
  require(formatRealInto(cut, bufferSize, value, decimals) == expected.size());
  if (bufferSize > 0) {
    const std::size_t kept = expected.size() < bufferSize ? expected.size() : bufferSize - 1;
    require(std::strncmp(cut, expected.c_str(), kept) == 0 && cut[kept] == '\0');
  }
  if (bufferSize < sizeof cut) require(cut[bufferSize] == 'x');
  return 0;
}
