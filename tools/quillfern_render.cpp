// quillfern-render: plays a score or a Standard MIDI File through the synthesizer's engine
// offline and writes the sound as a mono file at 44100 Hz or another rate (WAV, FLAC, Ogg
// Vorbis, Opus or MP3), and on request a picture of the sound and the model.
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/voice_controls.h"
#include "tools/midi_file.h"
#include "tools/render_output.h"
#include "tools/render_plot.h"
#include "tools/score.h"
#include "tools/score_render.h"

namespace {

constexpr int ExitRendered = 0;
constexpr int ExitFailed = 1;
constexpr int ExitBadInput = 2;
constexpr double ProgressMinimumSeconds = 10.0;  // shorter renders stay quiet
constexpr int ProgressBarWidth = 40;

constexpr const char* Usage =
    "usage: quillfern-render SONG -o OUT.wav [--plot PICTURE.svg|.png] [--format F]\n"
    "                        [--normalize DBFS] [--dc-block] [CONTROLS] [--block N]\n"
    "\n"
    "Plays SONG through the neuron voice and writes OUT (mono, 44100 Hz).\n"
    "SONG is a Standard MIDI File (format 0 or 1; the render goes on until the last release has\n"
    "run out) or a text score.\n"
    "\n"
    "Score lines (frames are sample indices at 44100 Hz, never going backwards; # comments):\n"
    "  <frame> midi <status-hex> <data1> [<data2>]   a MIDI message, e.g. '0 midi 90 69 100'\n"
    "  <frame> control <number> <value>              5 attack, 6 decay, 7 sustain, 8 release,\n"
    "                                                17 I, 18 B, 19 R, 20 A, 26 volume,\n"
    "                                                27 s check box (0/1)\n"
    "  <frame> close                                 the MIDI port closes\n"
    "  <frame> end                                   stop before this frame (required, last)\n"
    "\n"
    "  -o, --output FILE   the sound file, in the format its name ends in (any case): .wav\n"
    "                      (32-bit float), .flac (24-bit), .ogg (Vorbis), .opus (which takes\n"
    "                      only 8000, 12000, 16000, 24000 or 48000 Hz) or .mp3; a name without\n"
    "                      an ending, a device or a pipe gets WAV, and '-' is standard output.\n"
    "                      A file is replaced only when the render is complete; a device, FIFO\n"
    "                      or terminal is written directly and never replaced. A WAV header is\n"
    "                      whole from its first byte, so WAV needs no seeking back and streams\n"
    "                      to a pipe; past 4 GiB it becomes RF64. FLAC, Ogg and MP3 written into\n"
    "                      a pipe leave their length out of their headers.\n"
    "  --format FORMAT     the WAV file's samples: float (the default), pcm24 or pcm16\n"
    "  --normalize DBFS    scale the whole render, once it is done, so that its peak is DBFS\n"
    "                      (-100 to 0)\n"
    "  --dc-block          take the model's DC offset out with a 5 Hz high-pass filter; without\n"
    "                      it the samples are exactly the window's\n"
    "  --plot FILE         also draw the waveform and the model's x and z with the notes marked,\n"
    "                      as .svg or .png (any case; PNG needs rsvg-convert)\n"
    "  --block FRAMES      frames per render call (default 256); the sound is the same for any\n"
    "  --rate HZ           sample rate of the render and the WAV file, 22050 to 192000 (default\n"
    "                      44100); score frames stay counts at 44100 Hz and are scaled to it\n"
    "  -h, --help          this text\n"
    "\n"
    "CONTROLS set the window's sliders before anything else, in the window's positions:\n"
    "  --attack 1-2000  --decay 1-5000  --sustain 0-100  --release 1-5000 (envelope)\n"
    "  --r 1-100  --i 1-1000  --b 1-1000  --a 0-100  --volume 1-100  --s 0|1 (check box)\n"
    "\n"
    "After a render one line on stderr gives the peak and RMS in dBFS and the DC offset, with a\n"
    "warning when the peak passes 0 dBFS in a format that clips (all but float WAV).\n"
    "Exit status: 0 rendered; 1 writing failed; 2 a bad argument, song or output, found before\n"
    "rendering (nothing is written).\n";

// The command line's names for the window's controls.
struct ControlOption {
  const char* name;
  int32_t control;
};

constexpr ControlOption ControlOptions[] = {
    {"--attack", AttackSlider},
    {"--decay", DecaySlider},
    {"--sustain", SustainSlider},
    {"--release", ReleaseSlider},
    {"--r", RSlider},
    {"--i", ISlider},
    {"--b", BSlider},
    {"--a", ASlider},
    {"--volume", VolumeSlider},
    {"--s", SCheckBox},
};

struct Options {
  std::string scorePath;
  OutputOptions output;
  int32_t blockFrames = DefaultBlockFrames;
  int32_t sampleRate = static_cast<int32_t>(DefaultSampleRate);
  std::vector<ScoreEvent> controls;  // set at frame 0, in the order given
  bool help = false;
};

bool parseWholeNumber(const std::string& text, int32_t minimum, int32_t maximum, int32_t& number) {
  int32_t value = 0;
  const char* last = text.data() + text.size();
  const auto [end, failure] = std::from_chars(text.data(), last, value);
  if (text.empty() || failure != std::errc() || end != last) return false;
  if (value < minimum || value > maximum) return false;
  number = value;
  return true;
}

bool parseBlockFrames(const std::string& text, int32_t& frames) {
  constexpr int32_t MostBlockFrames = 1 << 20;
  return parseWholeNumber(text, 1, MostBlockFrames, frames);
}

bool parseNormalizePeak(const std::string& text, double& decibels) {
  constexpr double Quietest = -100.0;
  double value = 0.0;
  const char* last = text.data() + text.size();
  const auto [end, failure] = std::from_chars(text.data(), last, value);
  if (text.empty() || failure != std::errc() || end != last) return false;
  if (!(value >= Quietest && value <= 0.0)) return false;
  decibels = value;
  return true;
}

const ScoreControl& scoreControlOf(int32_t number) {
  const auto& controls = scoreControls();
  return *std::find_if(controls.begin(), controls.end(),
                       [&](const ScoreControl& control) { return control.number == number; });
}

// A control option with its value; false with `error` set when the value is out of range.
bool parseControlOption(const ControlOption& option, const std::string& text, Options& options,
                        std::string& error) {
  const ScoreControl& control = scoreControlOf(option.control);
  ScoreEvent event{0, ScoreEventKind::Control, 0, control.number, 0};
  if (!parseWholeNumber(text, control.minimum, control.maximum, event.value)) {
    error = std::string(option.name) + " takes a whole number from " +
            std::to_string(control.minimum) + " to " + std::to_string(control.maximum) + ", not '" +
            text + "'";
    return false;
  }
  options.controls.push_back(event);
  return true;
}

const ControlOption* findControlOption(std::string_view argument) {
  for (const ControlOption& option : ControlOptions) {
    if (argument == option.name) return &option;
  }
  return nullptr;
}

bool parseOptions(int argc, char** argv, Options& options, std::string& error) {
  for (int index = 1; index < argc; ++index) {
    const std::string_view argument = argv[index];
    const bool hasValue = index + 1 < argc;
    if (argument == "-h" || argument == "--help") {
      options.help = true;
    } else if ((argument == "-o" || argument == "--output") && hasValue) {
      options.output.soundPath = argv[++index];
    } else if (argument == "--plot" && hasValue) {
      options.output.plotPath = argv[++index];
    } else if (argument == "--format" && hasValue) {
      options.output.sampleFormat = argv[++index];
    } else if (argument == "--normalize" && hasValue) {
      options.output.normalize = true;
      if (!parseNormalizePeak(argv[++index], options.output.normalizePeak)) {
        error = "--normalize takes a peak in dBFS from -100 to 0, not '" +
                std::string(argv[index]) + "'";
        return false;
      }
    } else if (argument == "--dc-block") {
      options.output.dcBlock = true;
    } else if (const ControlOption* option = findControlOption(argument); option && hasValue) {
      if (!parseControlOption(*option, argv[++index], options, error)) return false;
    } else if (argument == "--block" && hasValue) {
      if (!parseBlockFrames(argv[++index], options.blockFrames)) {
        error = "--block takes a whole number of frames from 1 to 1048576";
        return false;
      }
    } else if (argument == "--rate" && hasValue) {
      if (!parseWholeNumber(argv[++index], static_cast<int32_t>(MinimumSampleRate),
                            static_cast<int32_t>(MaximumSampleRate), options.sampleRate)) {
        error = "--rate takes a whole number of hertz from 22050 to 192000";
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
  if (options.scorePath.empty() || options.output.soundPath.empty()) {
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

// What the picture records while the render runs, and the model's settings at the start.
struct PlotRecording {
  PlotTraces traces;
  std::string settings;
};

std::string settingsOf(const EngineState& state) {
  char text[160];
  std::snprintf(text, sizeof text,
                "at the start: r = %.4f, I = %.3f, b = %.3f, a = %.3f, s = %.1f, volume %.2f",
                state.paramR.load(), state.paramI.load(), state.paramB.load(), state.paramA.load(),
                state.paramS.load(), state.volume.load());
  return text;
}

FrameWatcher plotWatcher(PlotRecording& recording) {
  return [&recording](const EngineState& state, float sample) {
    if (recording.traces.frame == 0) recording.settings = settingsOf(state);
    recordPlotFrame(recording.traces, sample, state.x, state.z);
  };
}

std::string plotOf(const Score& score, const PlotRecording& recording, const Options& options) {
  if (options.output.plotPath.empty()) return {};
  const std::string title = std::filesystem::path(options.scorePath).filename().string();
  return plotSvg(recording.traces, noteMarksOf(score), title, recording.settings);
}

// Every output is checked and opened before the render starts; the files become final only
// when everything has been written, and nothing is left behind on failure.
int renderToFile(const Score& score, const Options& options) {
  RenderOutputs outputs;
  std::string error;
  if (!openRenderOutputs(options.output, options.scorePath,
                         static_cast<int32_t>(score.sampleRate), score.endFrame, outputs, error)) {
    std::fprintf(stderr, "quillfern-render: %s\n", error.c_str());
    return ExitBadInput;
  }
  const bool longRender = score.endFrame >= ProgressMinimumSeconds * score.sampleRate;
  Progress progress{score.endFrame, 0, -1, longRender && isatty(STDERR_FILENO) == 1};
  PlotRecording recording{startPlotTraces(score.endFrame, score.sampleRate), {}};
  renderScore(
      score, options.blockFrames,
      [&](const float* samples, int64_t frames) {
        takeSamples(outputs, samples, frames);
        progress.advance(frames);
      },
      options.output.plotPath.empty() ? FrameWatcher{} : plotWatcher(recording));
  if (finishRenderOutputs(outputs, plotOf(score, recording, options), error)) return ExitRendered;
  std::fprintf(stderr, "quillfern-render: %s\n", error.c_str());
  return ExitFailed;
}

std::string contentsOf(std::ifstream& input) {
  return {std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>()};
}

// A MIDI file by its first bytes, or by its name when it is too damaged to show them.
bool isMidiFile(const std::string& path, const std::string& contents) {
  const std::string extension = std::filesystem::path(path).extension().string();
  return contents.starts_with("MThd") || extension == ".mid" || extension == ".midi" ||
         extension == ".smf";
}

int32_t releasePositionOf(const Score& score) {
  int32_t position = scoreControlOf(ReleaseSlider).initial;
  for (const ScoreEvent& event : score.events) {
    if (event.kind == ScoreEventKind::Control && event.control == ReleaseSlider) {
      position = event.value;
    }
  }
  return position;
}

// A MIDI file's times are counted at the render's rate, a score's frames scaled to it.
bool parseSong(const std::string& path, const std::string& contents, bool midi, double sampleRate,
               Score& score, std::string& error) {
  if (midi) {
    const std::span bytes(reinterpret_cast<const uint8_t*>(contents.data()), contents.size());
    return parseMidiFile(bytes, path, score, error, sampleRate);
  }
  std::istringstream text(contents);
  if (!parseScore(text, path, score, error)) return false;
  score = scoreAtRate(std::move(score), sampleRate);
  return true;
}

// Reads the song with the command line's controls set first; a MIDI file plays on until its
// last release has run out.
bool readSong(const std::string& path, const std::string& contents, const Options& options,
              Score& score, std::string& error) {
  const bool midi = isMidiFile(path, contents);
  if (!parseSong(path, contents, midi, options.sampleRate, score, error)) return false;
  const std::vector<ScoreEvent>& controls = options.controls;
  score.events.insert(score.events.begin(), controls.begin(), controls.end());
  if (midi) addReleaseTail(score, releasePositionOf(score));
  return true;
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

  std::ifstream input(options.scorePath, std::ios::binary);
  if (!input) {
    std::fprintf(stderr, "quillfern-render: cannot read %s\n", options.scorePath.c_str());
    return ExitBadInput;
  }
  Score score;
  if (!readSong(options.scorePath, contentsOf(input), options, score, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return ExitBadInput;
  }
  return renderToFile(score, options);
}
