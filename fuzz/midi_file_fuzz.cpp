// SPDX-License-Identifier: GPL-3.0-or-later
// The Standard MIDI File reader on any bytes, at a rate the bytes choose: it either names the
// offset it stopped at or reads a score whose events keep their order within a day, and its
// listing agrees on which files it reads; it never crashes, hangs or reads out of bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "fuzz/fuzz_checks.h"
#include "tools/midi_file.h"

namespace {

constexpr double Rates[] = {8000.0, 44100.0, 48000.0, 384000.0};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const double rate = Rates[data[0] % std::size(Rates)];
  const std::span<const uint8_t> bytes(data + 1, size - 1);
  Score score;
  std::string error;
  SongSummary summary;
  std::string summaryError;
  const bool read = parseMidiFile(bytes, "fuzz", score, error, rate);
  require(read == summarizeMidiFile(bytes, "fuzz", rate, summary, summaryError));
  if (!read) {
    require(error.starts_with("fuzz: offset "));
    return 0;
  }
  int64_t previous = 0;
  for (const ScoreEvent& event : score.events) {
    require(event.frame >= previous);
    previous = event.frame;
  }
  require(score.endFrame >= previous && score.endFrame == summary.endFrame);
  require(score.endFrame <= LongestSongSeconds * static_cast<int64_t>(rate));
  return 0;
}
