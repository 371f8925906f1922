// quillfern-render: plays a score through the synthesizer's engine offline and writes the
// sound as a 32-bit float mono WAV file at 44100 Hz.
#include <sndfile.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "tools/score.h"
#include "tools/score_render.h"

namespace {

constexpr int ExitRendered = 0;
constexpr int ExitFailed = 1;
constexpr int ExitBadInput = 2;
constexpr int OutputSampleRate = 44100;
constexpr int64_t ProgressMinimumFrames = 10 * OutputSampleRate;  // shorter renders stay quiet
constexpr int ProgressBarWidth = 40;

constexpr const char* Usage =
    "usage: quillfern-render SCORE -o OUT.wav [--block FRAMES]\n"
    "\n"
    "Plays SCORE through the neuron voice and writes OUT.wav (32-bit float, mono, 44100 Hz).\n"
    "\n"
    "Score lines (frames are sample indices at 44100 Hz, never going backwards; # comments):\n"
    "  <frame> midi <status-hex> <data1> [<data2>]   a MIDI message, e.g. '0 midi 90 69 100'\n"
    "  <frame> control <number> <value>              5 attack, 6 decay, 7 sustain, 8 release,\n"
    "                                                17 I, 18 B, 19 R, 20 A, 26 volume,\n"
    "                                                27 s check box (0/1)\n"
    "  <frame> close                                 the MIDI port closes\n"
    "  <frame> end                                   stop before this frame (required, last)\n"
    "\n"
    "  -o, --output FILE   the WAV file to write\n"
    "  --block FRAMES      frames per render call (default 256); the sound is the same for any\n"
    "  -h, --help          this text\n";

struct Options {
  std::string scorePath;
  std::string outputPath;
  int32_t blockFrames = DefaultBlockFrames;
  bool help = false;
};

bool parseBlockFrames(std::string_view text, int32_t& frames) {
  constexpr int32_t MostBlockFrames = 1 << 20;
  int32_t value = 0;
  const char* last = text.data() + text.size();
  const auto [end, failure] = std::from_chars(text.data(), last, value);
  if (text.empty() || failure != std::errc() || end != last) return false;
  if (value < 1 || value > MostBlockFrames) return false;
  frames = value;
  return true;
}

bool parseOptions(int argc, char** argv, Options& options, std::string& error) {
  for (int index = 1; index < argc; ++index) {
    const std::string_view argument = argv[index];
    const bool hasValue = index + 1 < argc;
    if (argument == "-h" || argument == "--help") {
      options.help = true;
    } else if ((argument == "-o" || argument == "--output") && hasValue) {
      options.outputPath = argv[++index];
    } else if (argument == "--block" && hasValue) {
      if (!parseBlockFrames(argv[++index], options.blockFrames)) {
        error = "--block takes a whole number of frames from 1 to 1048576";
        return false;
      }
    } else if (!argument.starts_with("-") && options.scorePath.empty()) {
      options.scorePath = argument;
    } else {
      error = "unexpected argument '" + std::string(argument) + "'";
      return false;
    }
  }
  if (options.help) return true;
  if (options.scorePath.empty() || options.outputPath.empty()) {
    error = "a score and an output file (-o) are needed";
    return false;
  }
  return true;
}

// A bar on stderr, redrawn at each whole percent; only for a person watching a terminal.
struct Progress {
  int64_t total = 0;
  int64_t done = 0;
  int shownPercent = -1;
  bool enabled = false;

  void advance(int64_t frames) {
    done += frames;
    if (!enabled) return;
    const int percent = static_cast<int>(done * 100 / total);
    if (percent == shownPercent) return;
    shownPercent = percent;
    const int filled = percent * ProgressBarWidth / 100;
    std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(filled, '#').c_str(),
                 std::string(ProgressBarWidth - filled, ' ').c_str(), percent);
    if (done == total) std::fputc('\n', stderr);
  }
};

// Renders into a hidden file beside the output and renames it at the end, so that a failed
// render never leaves a partial OUT.wav behind.
int renderToFile(const Score& score, const Options& options) {
  const std::filesystem::path output(options.outputPath);
  std::filesystem::path partial = output;
  partial.replace_filename("." + output.filename().string() + ".partial");

  SF_INFO format{};
  format.samplerate = OutputSampleRate;
  format.channels = 1;
  format.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* file = sf_open(partial.c_str(), SFM_WRITE, &format);
  if (file == nullptr) {
    std::fprintf(stderr, "quillfern-render: cannot write %s: %s\n", options.outputPath.c_str(),
                 sf_strerror(nullptr));
    return ExitFailed;
  }

  Progress progress{score.endFrame, 0, -1,
                    score.endFrame >= ProgressMinimumFrames && isatty(STDERR_FILENO) == 1};
  bool written = true;
  renderScore(score, options.blockFrames, [&](const float* samples, int64_t frames) {
    written = written && sf_writef_float(file, samples, frames) == frames;
    progress.advance(frames);
  });
  written = sf_close(file) == 0 && written;

  std::error_code renameError;
  if (written) std::filesystem::rename(partial, output, renameError);
  if (!written || renameError) {
    std::filesystem::remove(partial, renameError);
    std::fprintf(stderr, "quillfern-render: writing %s failed\n", options.outputPath.c_str());
    return ExitFailed;
  }
  return ExitRendered;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!parseOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "quillfern-render: %s\n\n%s", error.c_str(), Usage);
    return ExitBadInput;
  }
  if (options.help) {
    std::fputs(Usage, stdout);
    return ExitRendered;
  }

  std::ifstream input(options.scorePath);
  if (!input) {
    std::fprintf(stderr, "quillfern-render: cannot read %s\n", options.scorePath.c_str());
    return ExitBadInput;
  }
  Score score;
  if (!parseScore(input, options.scorePath, score, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return ExitBadInput;
  }
  return renderToFile(score, options);
}
