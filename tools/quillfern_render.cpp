// quillfern-render: plays a score or a Standard MIDI File through the synthesizer's engine
// offline and writes the sound as a 32-bit float mono WAV file at 44100 Hz, and on request a
// picture of the sound and the model.
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "app/control_numbers.h"
#include "app/version.h"
#include "tools/midi_file.h"
#include "tools/render_plot.h"
#include "tools/score.h"
#include "tools/score_render.h"

namespace {

constexpr int ExitRendered = 0;
constexpr int ExitFailed = 1;
constexpr int ExitBadInput = 2;
constexpr int OutputSampleRate = 44100;
constexpr int64_t ProgressMinimumFrames =
    int64_t{10} * OutputSampleRate;  // shorter renders stay quiet
constexpr int ProgressBarWidth = 40;

constexpr const char* Usage =
    "usage: quillfern-render SONG -o OUT.wav [OPTIONS] [CONTROLS]\n"
    "       quillfern-render SONG --list\n"
    "       quillfern-render --help | --version\n"
    "\n"
    "Plays SONG through the neuron voice and writes OUT.wav (32-bit float, mono, 44100 Hz).\n"
    "SONG is a Standard MIDI File of format 0 or 1, or a text score; '-' reads it from standard\n"
    "input. A MIDI file plays on until the release of its last note has run out.\n"
    "\n"
    "  -o, --output FILE   Writes the sound to FILE.\n"
    "  --plot FILE         Also draws the waveform and the model's x and z with the notes marked,\n"
    "                      as SVG, or as PNG for a name ending in .png (made with rsvg-convert).\n"
    "  --channel N         Plays the notes of MIDI channel N (1 to 16) as the window plays those\n"
    "                      of channel 1. Without it, only channel 1 plays.\n"
    "  --list              Prints the song's tracks, the notes on each channel and the song's\n"
    "                      length, and renders nothing.\n"
    "  --block FRAMES      Renders FRAMES frames per call (1 to 1048576, default 256). The sound\n"
    "                      is the same for any block size.\n"
    "  -h, --help          Prints this text.\n"
    "  --version           Prints the version.\n"
    "\n"
    "CONTROLS set the window's controls before anything else happens, in the positions the\n"
    "window shows:\n"
    "  --attack 1-2000     A, the envelope's attack\n"
    "  --decay 1-5000      D, the envelope's decay\n"
    "  --sustain 0-100     S, the envelope's sustain level\n"
    "  --release 1-5000    R, the envelope's release\n"
    "  --r 1-100           r\n"
    "  --i 1-1000          I\n"
    "  --b 1-1000          b\n"
    "  --a 0-100           a\n"
    "  --volume 1-100      Vol\n"
    "  --s 0|1             s, the check box: 1 gives s = 4.0, 0 gives s = 2.8\n"
    "\n"
    "A text score has one event a line, and '#' starts a comment. Frames are sample indices at\n"
    "44100 Hz, and they never go backwards.\n"
    "  <frame> midi <status> [<data>...]   A MIDI message at its natural length, such as\n"
    "                                      '0 midi 90 69 100' or '0 midi F8'. The status byte\n"
    "                                      is hex; data bytes are decimal, or hex as in 0x7B.\n"
    "  <frame> control <number> <value>    Sets a control: 5 A, 6 D, 7 S, 8 R, 17 I, 18 b,\n"
    "                                      19 r, 20 a, 26 Vol, 27 s (0 or 1).\n"
    "  <frame> close                       The MIDI port closes, and held notes are released.\n"
    "  <frame> end                         The render stops before this frame. Every score\n"
    "                                      ends with it, at most 24 hours in.\n"
    "\n"
    "Exit status: 0 when the sound is written, 1 when writing fails, 2 for a bad song or option.\n";

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
  std::string outputPath;
  std::string plotPath;
  int32_t blockFrames = DefaultBlockFrames;
  std::vector<ScoreEvent> controls;  // set at frame 0, in the order given
  int32_t channel = 1;               // the MIDI channel played
  bool help = false;
  bool version = false;
  bool list = false;
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
            readableText(text) + "'";
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
    } else if (argument == "--version") {
      options.version = true;
    } else if (argument == "--list") {
      options.list = true;
    } else if (argument == "--channel" && hasValue) {
      if (!parseWholeNumber(argv[++index], 1, static_cast<int32_t>(MidiChannels),
                            options.channel)) {
        error =
            "--channel takes a MIDI channel from 1 to 16, not '" + readableText(argv[index]) + "'";
        return false;
      }
    } else if ((argument == "-o" || argument == "--output") && hasValue) {
      options.outputPath = argv[++index];
    } else if (argument == "--plot" && hasValue) {
      options.plotPath = argv[++index];
    } else if (const ControlOption* option = findControlOption(argument); option && hasValue) {
      if (!parseControlOption(*option, argv[++index], options, error)) return false;
    } else if (argument == "--block" && hasValue) {
      if (!parseBlockFrames(argv[++index], options.blockFrames)) {
        error = "--block takes a whole number of frames from 1 to 1048576";
        return false;
      }
    } else if ((argument == "-" || !argument.starts_with("-")) && options.scorePath.empty()) {
      options.scorePath = argument;
    } else {
      error = "unexpected argument '" + readableText(argument) + "'";
      return false;
    }
  }
  if (options.help || options.version) return true;
  if (options.scorePath.empty() || (options.outputPath.empty() && !options.list)) {
    error = "a song and an output file (-o) are needed";
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

bool writePlot(const Score& score, const PlotRecording& recording, const Options& options) {
  const std::string title = std::filesystem::path(options.scorePath).filename().string();
  const std::string svg = plotSvg(recording.traces, noteMarksOf(score), title, recording.settings);
  std::string error;
  if (writePlotFile(options.plotPath, svg, error)) return true;
  std::fprintf(stderr, "quillfern-render: %s\n", error.c_str());
  return false;
}

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
  // libsndfile would add a PEAK chunk with the time of writing: the same song would give
  // different files from one second to the next.
  sf_command(file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);

  Progress progress{score.endFrame, 0, -1,
                    score.endFrame >= ProgressMinimumFrames && isatty(STDERR_FILENO) == 1};
  PlotRecording recording{startPlotTraces(score.endFrame), {}};
  bool written = true;
  renderScore(
      score, options.blockFrames,
      [&](const float* samples, int64_t frames) {
        written = written && sf_writef_float(file, samples, frames) == frames;
        progress.advance(frames);
      },
      options.plotPath.empty() ? FrameWatcher{} : plotWatcher(recording));
  written = sf_close(file) == 0 && written;
  const bool wantsPlot = !options.plotPath.empty();
  const bool plotted = written && wantsPlot && writePlot(score, recording, options);

  std::error_code renameError;
  const bool complete = written && plotted == wantsPlot;
  if (complete) std::filesystem::rename(partial, output, renameError);
  if (complete && !renameError) return ExitRendered;
  if (!written || renameError) {  // a failed picture has said so already
    std::fprintf(stderr, "quillfern-render: writing %s failed\n", options.outputPath.c_str());
  }
  std::error_code ignored;
  std::filesystem::remove(partial, ignored);
  if (plotted) std::filesystem::remove(options.plotPath, ignored);  // no picture without sound
  return ExitFailed;
}

// A MIDI file by its first bytes, or by its name (in any case) when it is too damaged to show
// them.
bool isMidiFile(const std::string& path, const std::string& contents) {
  std::string extension = std::filesystem::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
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

bool parseSong(const std::string& path, const std::string& contents, bool midi, Score& score,
               std::string& error) {
  if (midi) {
    const std::span bytes(reinterpret_cast<const uint8_t*>(contents.data()), contents.size());
    return parseMidiFile(bytes, path, score, error);
  }
  std::istringstream text(contents);
  return parseScore(text, path, score, error);
}

// A song that has notes, but none on the channel played, would render silence: says which
// channels have them.
void warnOfSilentChannel(const Score& score, const std::string& name, int32_t played) {
  const NotesByChannel notes = notesByChannel(score);
  if (notes[static_cast<std::size_t>(played - 1)].count != 0) return;
  std::vector<std::string> channels;
  for (std::size_t channel = 0; channel < MidiChannels; ++channel) {
    if (notes[channel].count != 0) channels.push_back(std::to_string(channel + 1));
  }
  if (channels.empty()) return;
  std::string list;
  for (const std::string& channel : channels) list += (list.empty() ? "" : ", ") + channel;
  std::fprintf(stderr,
               "quillfern-render: warning: %s has no notes on channel %d, the channel played; "
               "it has notes on %s %s: play them with --channel %s\n",
               name.c_str(), played, channels.size() == 1 ? "channel" : "channels", list.c_str(),
               channels[0].c_str());
}

// Reads the song with the command line's controls set first and the chosen channel played; a
// MIDI file plays on until its last release has run out.
bool readSong(const std::string& name, const std::string& contents, const Options& options,
              Score& score, std::string& error) {
  const bool midi = isMidiFile(options.scorePath, contents);
  if (!parseSong(name, contents, midi, score, error)) return false;
  warnOfSilentChannel(score, name, options.channel);
  playChannel(score, options.channel);
  score.events.insert(score.events.begin(), options.controls.begin(), options.controls.end());
  if (midi) addReleaseTail(score, releasePositionOf(score));
  return true;
}

// Prints the song's tracks, notes by channel and length.
bool listSong(const std::string& name, const std::string& contents, const Options& options,
              std::string& error) {
  SongSummary summary;
  if (isMidiFile(options.scorePath, contents)) {
    const std::span bytes(reinterpret_cast<const uint8_t*>(contents.data()), contents.size());
    if (!summarizeMidiFile(bytes, name, summary, error)) return false;
  } else {
    Score score;
    if (!parseSong(name, contents, false, score, error)) return false;
    summary.tracks.push_back({"", notesByChannel(score)});
    summary.endFrame = score.endFrame;
  }
  std::fputs(songListing(summary, name).c_str(), stdout);
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
  if (options.version) {
    std::printf("quillfern-render %s\n", QUILLFERN_VERSION);
    return ExitRendered;
  }

  std::string contents;
  if (!readSongFile(options.scorePath, contents, error)) {
    std::fprintf(stderr, "quillfern-render: %s\n", error.c_str());
    return ExitBadInput;
  }
  const std::string name = songNameOf(options.scorePath);
  Score score;
  const bool read = options.list ? listSong(name, contents, options, error)
                                 : readSong(name, contents, options, score, error);
  if (!read) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return ExitBadInput;
  }
  return options.list ? ExitRendered : renderToFile(score, options);
}
