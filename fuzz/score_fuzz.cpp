// SPDX-License-Identifier: GPL-3.0-or-later
// The score reader on any text: it either reads a score that keeps the promises of score.h or
// names the line it stopped at, and never crashes, hangs or reads out of bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "fuzz/fuzz_checks.h"
#include "tools/score.h"

namespace {

// Where a promise is broken, stop with a crash that libFuzzer records with its input.
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::istringstream text(std::string(reinterpret_cast<const char*>(data), size));
  Score score;
  std::string error;
  if (!parseScore(text, "fuzz", score, error)) {
    require(error.starts_with("fuzz:"));
    return 0;
  }
  require(error.empty());
  int64_t previous = 0;
  for (const ScoreEvent& event : score.events) {
    require(event.frame >= previous);
    previous = event.frame;
  }
  require(score.endFrame >= previous);
  return 0;
}
