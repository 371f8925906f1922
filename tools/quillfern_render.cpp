// SPDX-License-Identifier: GPL-3.0-or-later
// quillfern-render: plays a score or a Standard MIDI File through the synthesizer's engine
// offline and writes the sound as a mono file at 44100 Hz or another rate (WAV, FLAC, Ogg
// Vorbis, Opus or MP3), and on request a picture of the sound and the model.
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "app/version.h"
#include "engine/voice_controls.h"
#include "instrument/factory_presets.h"
#include "instrument/instrument_voice.h"
#include "instrument/parameters.h"
#include "instrument/user_presets.h"
#include "tools/audio_output.h"
#include "tools/midi_file.h"
#include "tools/output_file.h"
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
    "usage: quillfern-render SONG -o OUT [OPTIONS] [CONTROLS]\n"
    "       quillfern-render SONG --list [--channel N] [--rate HZ]\n"
    "       quillfern-render --help | --version\n"
    "\n"
    "Plays SONG through the neuron voice and writes OUT, mono, at 44100 Hz unless --rate says\n"
    "otherwise. SONG is a Standard MIDI File of format 0 or 1, or a text score; '-' reads it\n"
    "from standard input. A MIDI file plays on until the release of its last note has run out.\n"
    "\n"
    "  -o, --output FILE   Writes the sound to FILE, in the format its name ends in (any case):\n"
    "                      .wav (32-bit float), .flac (24-bit), .ogg (Vorbis), .opus (which\n"
    "                      takes only 8000, 12000, 16000, 24000 or 48000 Hz: 48000 unless\n"
    "                      --rate says otherwise) or .mp3. A name\n"
    "                      without an ending, a device or a pipe gets WAV, and '-' is standard\n"
    "                      output. A file is replaced only when the render is complete; a\n"
    "                      device, FIFO or terminal is written directly and never replaced. A\n"
    "                      WAV header is whole from its first byte, so WAV needs no seeking\n"
    "                      back and streams to a pipe; past 4 GiB it becomes RF64. FLAC, Ogg\n"
    "                      and MP3 written into a pipe leave their length out of their headers.\n"
    "  --format FORMAT     Sets the WAV file's samples: float (the default), pcm24 or pcm16.\n"
    "  --normalize DBFS    Scales the whole render, once it is done, so that its peak is DBFS\n"
    "                      (-100 to 0).\n"
    "  --dc-block          Takes the model's DC offset out with a 5 Hz high-pass filter. Without\n"
    "                      it the samples are exactly the window's.\n"
    "  --plot FILE         Also draws the waveform and the model's x and z with the notes marked,\n"
    "                      as .svg or .png (any case; PNG is made with rsvg-convert).\n"
    "  --channel N         Plays the notes of MIDI channel N (1 to 16) as the window plays those\n"
    "                      of channel 1. Without it, only channel 1 plays.\n"
    "  --list              Prints the song's tracks, the notes on each channel and the song's\n"
    "                      length, and renders nothing.\n"
    "  --block FRAMES      Renders FRAMES frames per call (1 to 1048576, default 256). The sound\n"
    "                      is the same for any block size.\n"
    "  --rate HZ           Renders and writes at HZ, 8000 to 384000 (default 44100); Opus at\n"
    "                      8000, 12000 or 16000 is rendered at 48000 Hz and lowered. Score\n"
    "                      frames still count at 44100 Hz and are scaled to it.\n"
    "  -h, --help          Prints this text.\n"
    "  --version           Prints the version.\n"
    "  --param SYMBOL=VALUE  Sets a plugin parameter, as a host's text field takes it: any of\n"
    "                      the plugins' parameters by its symbol, in its own units, such as\n"
    "                      bend_range=12, note_mode=\"Last key\", glide=\"50 ms\", stable=on,\n"
    "                      dc_filter=on or r=0.02. Stable steps and the DC filter, on in the\n"
    "                      plugins, are off here unless set; so is every other parameter at\n"
    "                      its default, and the sound is then exactly the window's. Pitch bend,\n"
    "                      the mod wheel, aftertouch and the sustain pedal of the song play.\n"
    "  --preset NAME       Starts from a factory preset (any case), as the plugins load it, or\n"
    "                      else from one of the user's own (saved by the plugins' window in\n"
    "                      ~/.local/share/quillfern/presets/); --param and the controls below\n"
    "                      change it further. An unknown name is answered with the bank's.\n"
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
    "                                      '0 midi 90 69 100', '0 midi C0 5' or '0 midi F8'.\n"
    "                                      The status byte is hex; data bytes are decimal, or\n"
    "                                      hex as in 0x7B. A second data byte left out reads 0.\n"
    "  <frame> control <number> <value>    Sets a control: 5 A, 6 D, 7 S, 8 R, 17 I, 18 b,\n"
    "                                      19 r, 20 a, 26 Vol, 27 s (0 or 1).\n"
    "  <frame> close                       The MIDI port closes, and held notes are released.\n"
    "  <frame> end                         The render stops before this frame. Every score\n"
    "                                      ends with it, at most 24 hours in.\n"
    "\n"
    "After a render, one line on stderr gives the peak and RMS in dBFS and the DC offset, with\n"
    "a warning when the peak passes 0 dBFS: integer WAV and FLAC clip it, and decoders of Ogg,\n"
    "Opus and MP3 may.\n"
    "\n"
    "Exit status: 0 when the sound is written (or the help, version or listing printed); 1 when\n"
    "writing fails after the render has started, which ends it at once; 2 for a bad option,\n"
    "song or output, found before rendering. On failure every target is left as it was.\n";

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
  int32_t sampleRate = static_cast<int32_t>(DefaultSampleRate);  // the sound file's
  bool rateGiven = false;
  int32_t renderRate = 0;                 // the voice's: the file's, or a multiple of it
  std::vector<ScoreEvent> controls;       // set at frame 0, in the order given
  std::optional<ParameterValues> preset;  // --preset
  std::vector<std::pair<std::size_t, double>> parameters;  // --param, by index, in order
  int32_t channel = 1;                                     // the MIDI channel played
  bool help = false;
  bool version = false;
  bool list = false;
};

// What an option does with its value (empty for one that takes none); false with `error` set.
using OptionAction = bool (*)(Options& options, const std::string& value, std::string& error);

// One option of the command line: a new option is a function and one more line of
// CommandLineOptions below.
struct CommandLineOption {
  const char* name;
  const char* shortName;  // nullptr: none
  bool takesValue;
  OptionAction apply;
};

bool setHelp(Options& options, const std::string&, std::string&) {
  options.help = true;
  return true;
}

bool setVersion(Options& options, const std::string&, std::string&) {
  options.version = true;
  return true;
}

bool setList(Options& options, const std::string&, std::string&) {
  options.list = true;
  return true;
}

bool setDcBlock(Options& options, const std::string&, std::string&) {
  options.output.dcBlock = true;
  return true;
}

bool setChannel(Options& options, const std::string& value, std::string& error) {
  if (parseWholeNumber(value, 1, static_cast<int32_t>(MidiChannels), options.channel)) return true;
  error = "--channel takes a MIDI channel from 1 to 16, not '" + readableText(value) + "'";
  return false;
}

// A file name option's value, which may not be empty.
bool setPath(std::string& path, const char* option, const std::string& value, std::string& error) {
  path = value;
  if (!value.empty()) return true;
  error = std::string(option) + " takes a file name, not ''";
  return false;
}

bool setOutput(Options& options, const std::string& value, std::string& error) {
  return setPath(options.output.soundPath, "--output", value, error);
}

bool setPlot(Options& options, const std::string& value, std::string& error) {
  return setPath(options.output.plotPath, "--plot", value, error);
}

bool setFormat(Options& options, const std::string& value, std::string& error) {
  SampleFormat sample{};
  if (!parseSampleFormat(value, sample, error)) return false;
  options.output.sampleFormat = sample;
  return true;
}

bool setNormalize(Options& options, const std::string& value, std::string& error) {
  constexpr double Quietest = -100.0;
  double decibels = 0.0;
  const char* last = value.data() + value.size();
  const auto [end, failure] = std::from_chars(value.data(), last, decibels);
  if (value.empty() || failure != std::errc() || end != last ||
      !(decibels >= Quietest && decibels <= 0.0)) {
    error = "--normalize takes a peak in dBFS from -100 to 0, not '" + readableText(value) + "'";
    return false;
  }
  options.output.normalize = true;
  options.output.normalizePeak = decibels;
  return true;
}

bool setBlock(Options& options, const std::string& value, std::string& error) {
  constexpr int32_t MostBlockFrames = 1 << 20;
  if (parseWholeNumber(value, 1, MostBlockFrames, options.blockFrames)) return true;
  error =
      "--block takes a whole number of frames from 1 to 1048576, not '" + readableText(value) + "'";
  return false;
}

// Opus's narrow rates: the render runs at 48000 Hz, the rate an Opus file gets without --rate,
// and is lowered to them.
constexpr int32_t OpusSampleRate = 48000;
constexpr int32_t LowOpusRates[] = {8000, 12000, 16000};
constexpr const char* RateRange = "--rate takes a whole number of hertz from 8000 to 384000";

bool setRate(Options& options, const std::string& value, std::string& error) {
  options.rateGiven = true;
  if (parseWholeNumber(value, LowOpusRates[0], static_cast<int32_t>(MaximumSampleRate),
                       options.sampleRate)) {
    return true;
  }
  error = std::string(RateRange) + ", not '" + readableText(value) + "'";
  return false;
}

// The names a list of records has, for a message: "attack, decay, ...".
template <typename Record>
std::string namesOf(std::span<const Record> records, const char* Record::*name) {
  std::string names;
  for (const Record& record : records)
    names += (names.empty() ? "" : ", ") + std::string(record.*name);
  return names;
}

// --param SYMBOL=VALUE: the value as a host's text field takes it, in the parameter's units.
bool setParameter(Options& options, const std::string& value, std::string& error) {
  const std::size_t equals = value.find('=');
  const int32_t index =
      equals == std::string::npos ? -1 : parameterIndexOfSymbol(value.substr(0, equals));
  if (index < 0) {
    error = "--param takes SYMBOL=VALUE with a parameter's symbol (" +
            namesOf(instrumentParameters(), &InstrumentParameter::symbol) + "), not '" +
            readableText(value) + "'";
    return false;
  }
  const InstrumentParameter& parameter = instrumentParameters()[static_cast<std::size_t>(index)];
  double number = 0.0;
  if (!parseParameterText(parameter, value.substr(equals + 1), number)) {
    char lowest[64];
    char highest[64];
    formatParameterValue(parameter, parameter.minimum, lowest, sizeof lowest);
    formatParameterValue(parameter, parameter.maximum, highest, sizeof highest);
    error = "--param " + std::string(parameter.symbol) + " takes a value from " + lowest + " to " +
            highest + ", not '" + readableText(value.substr(equals + 1)) + "'";
    return false;
  }
  options.parameters.emplace_back(static_cast<std::size_t>(index), number);
  return true;
}

// A factory preset first, then one of the user's own.
bool setPreset(Options& options, const std::string& value, std::string& error) {
  if (const FactoryPreset* factory = findFactoryPreset(value); factory != nullptr) {
    options.preset = presetValues(*factory);
    return true;
  }
  if (const UserPreset user = findUserPreset(value); !user.path.empty()) {
    if (user.readable) {
      options.preset = user.values;
      return true;
    }
    error = "--preset " + readableText(value) + ": the file " +
            readableText(std::filesystem::path(user.path).filename().string()) +
            " of the user's presets is no preset: " + user.problem;
    return false;
  }
  error = "--preset takes the name of a factory preset (" +
          namesOf(factoryPresets(), &FactoryPreset::name) + ") or of a preset of " +
          readableText(userPresetFolder()) + ", not '" + readableText(value) + "'";
  return false;
}

// The parameters played: the renderer's own values, or the preset's, then each --param.
ParameterValues parameterValuesOf(const Options& options) {
  ParameterValues values = options.preset.has_value() ? *options.preset : rendererValues();
  for (const auto& [index, value] : options.parameters) values.value[index] = value;
  return values;
}

// clang-format off
constexpr CommandLineOption CommandLineOptions[] = {
    {"--help", "-h", false, setHelp},
    {"--version", nullptr, false, setVersion},
    {"--list", nullptr, false, setList},
    {"--channel", nullptr, true, setChannel},
    {"--output", "-o", true, setOutput},
    {"--plot", nullptr, true, setPlot},
    {"--format", nullptr, true, setFormat},
    {"--normalize", nullptr, true, setNormalize},
    {"--dc-block", nullptr, false, setDcBlock},
    {"--block", nullptr, true, setBlock},
    {"--rate", nullptr, true, setRate},
    {"--param", nullptr, true, setParameter},
    {"--preset", nullptr, true, setPreset},
};
// clang-format on

const CommandLineOption* findOption(std::string_view argument) {
  for (const CommandLineOption& option : CommandLineOptions) {
    if (argument == option.name || (option.shortName != nullptr && argument == option.shortName)) {
      return &option;
    }
  }
  return nullptr;
}

// A control option with its value; false with `error` set when the value is out of range.
bool parseControlOption(const ControlOption& option, const std::string& text, Options& options,
                        std::string& error) {
  const VoiceControl& control = *findVoiceControl(option.control);
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

bool asksForOpus(const std::string& soundPath) {
  AudioFormat format;
  std::string ignored;
  return audioFormatOf(soundPath, false, std::nullopt, format, ignored) &&
         format.container == AudioContainer::Opus;
}

// Opus files take only some rates, and none of 44100 Hz, so an Opus file asked for without
// --rate is rendered at 48000 Hz rather than refused; one at Opus's low rates is rendered at
// 48000 Hz and lowered through the decimator's low-pass filter, which keeps the spikes' edges
// from folding back.
void chooseRenderRate(Options& options) {
  const bool opus = !options.list && asksForOpus(options.output.soundPath);
  if (!options.rateGiven && opus) options.sampleRate = OpusSampleRate;
  options.renderRate = options.sampleRate;
  if (!opus || std::ranges::find(LowOpusRates, options.sampleRate) == std::end(LowOpusRates)) {
    return;
  }
  options.renderRate = OpusSampleRate;
  options.output.rateReduction = OpusSampleRate / options.sampleRate;
}

// One argument, with the next one when it is the option's value; false with `error` set.
bool parseArgument(int argc, char** argv, int& index, Options& options, std::string& error) {
  const std::string argument = argv[index];
  const CommandLineOption* option = findOption(argument);
  const ControlOption* control = option == nullptr ? findControlOption(argument) : nullptr;
  if (option != nullptr || control != nullptr) {
    const bool takesValue = control != nullptr || option->takesValue;
    if (takesValue && index + 1 >= argc) {
      error = argument + " needs a value";
      return false;
    }
    const std::string value = takesValue ? argv[++index] : "";
    if (control != nullptr) return parseControlOption(*control, value, options, error);
    return option->apply(options, value, error);
  }
  if (argument.starts_with("-") && argument != "-") {
    error = "unknown option '" + readableText(argument) + "'";
    return false;
  }
  if (options.scorePath.empty()) {
    options.scorePath = argument;
    return true;
  }
  error = "unexpected argument '" + readableText(argument) + "': the song is " +
          readableText(options.scorePath);
  return false;
}

bool parseOptions(int argc, char** argv, Options& options, std::string& error) {
  for (int index = 1; index < argc; ++index) {
    if (!parseArgument(argc, argv, index, options, error)) return false;
  }
  if (options.help || options.version) return true;
  if (options.scorePath.empty() || (options.output.soundPath.empty() && !options.list)) {
    error = "a song and an output file (-o) are needed";
    return false;
  }
  chooseRenderRate(options);
  return true;
}

// "-" names standard output, which must have been open when the program started: the sound
// would otherwise go to the /dev/null put in its place, and the render would seem to succeed.
bool checkStandardOutput(const Options& options, bool outputClosed, std::string& error) {
  if (!outputClosed || options.list) return true;
  for (const std::string* path : {&options.output.soundPath, &options.output.plotPath}) {
    if (*path != "-") continue;
    error = std::string(path == &options.output.soundPath ? "--output" : "--plot") +
            " is '-', but standard output is closed";
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
  const std::string title = std::filesystem::path(songNameOf(options.scorePath)).filename();
  return plotSvg(recording.traces, noteMarksOf(score), title, recording.settings);
}

// Every output is checked and opened before the render starts; the files become final only
// when everything has been written, and nothing is left behind on failure.
int renderToFile(const Score& score, const Options& options) {
  RenderOutputs outputs;
  std::string error;
  if (!openRenderOutputs(options.output, options.scorePath, static_cast<int32_t>(score.sampleRate),
                         score.endFrame, outputs, error)) {
    std::fprintf(stderr, "quillfern-render: %s\n", error.c_str());
    return ExitBadInput;
  }
  const bool longRender =
      static_cast<double>(score.endFrame) >= ProgressMinimumSeconds * score.sampleRate;
  Progress progress{score.endFrame, 0, -1, longRender && isatty(STDERR_FILENO) == 1};
  PlotRecording recording{startPlotTraces(score.endFrame, score.sampleRate), {}};
  bool writing = true;  // until the first write fails, which ends the render at once
  renderScore(
      score, options.blockFrames,
      [&](const float* samples, int64_t frames) {
        writing = takeSamples(outputs, samples, frames);
        progress.advance(frames);
      },
      options.output.plotPath.empty() ? FrameWatcher{} : plotWatcher(recording),
      [&writing] { return writing; }, parameterValuesOf(options));
  if (finishRenderOutputs(outputs, plotOf(score, recording, options), error)) return ExitRendered;
  if (progress.enabled && progress.done < progress.total) std::fputc('\n', stderr);
  std::fprintf(stderr, "quillfern-render: %s\n", error.c_str());
  return ExitFailed;
}

// A MIDI file by its first bytes, or by its name (in any case) when it is too damaged to show
// them.
bool isMidiFile(const std::string& path, const std::string& contents) {
  const std::string extension = lowerExtension(path);
  return contents.starts_with("MThd") || extension == ".mid" || extension == ".midi" ||
         extension == ".smf";
}

// The release the voice plays at the song's end, in seconds: the parameters' (a preset's,
// --param's), then every control the song moves, applied to a voice as the render applies them.
double releaseSecondsOf(const Score& score, const ParameterValues& values) {
  auto voice = std::make_unique<EngineState>();
  startVoiceWith(*voice, score.sampleRate, values);
  for (const ScoreEvent& event : score.events) {
    if (event.kind == ScoreEventKind::Control) setVoiceControl(*voice, event.control, event.value);
  }
  return voice->releaseSetting.load();
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
  if (!parseSong(name, contents, midi, options.renderRate, score, error)) return false;
  // In an MPE zone every channel of the zone plays.
  const bool mpe = parameterValuesOf(options).value[parameterIndexOfId(MpeParameterId)] != 0.0;
  if (!mpe) warnOfSilentChannel(score, name, options.channel);
  playChannel(score, options.channel);
  score.events.insert(score.events.begin(), options.controls.begin(), options.controls.end());
  if (midi) addReleaseTail(score, releaseSecondsOf(score, parameterValuesOf(options)));
  return true;
}

// Prints the song's tracks, notes by channel and length.
bool listSong(const std::string& name, const std::string& contents, const Options& options,
              std::string& error) {
  SongSummary summary;
  if (isMidiFile(options.scorePath, contents)) {
    const std::span bytes(reinterpret_cast<const uint8_t*>(contents.data()), contents.size());
    if (!summarizeMidiFile(bytes, name, options.renderRate, summary, error)) return false;
  } else {
    Score score;
    if (!parseSong(name, contents, false, options.renderRate, score, error)) return false;
    summary.tracks.push_back({"", notesByChannel(score)});
    summary.endFrame = score.endFrame;
    summary.sampleRate = score.sampleRate;
  }
  std::fputs(songListing(summary, name).c_str(), stdout);
  return true;
}

// Whether what was printed reached standard output (a full disk, a closed pipe).
bool printed() {
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return true;
  std::fprintf(stderr, "quillfern-render: cannot write to standard output: %s\n",
               systemReason(errno).c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  bool outputClosed = false;
  if (!openStandardStreams(outputClosed)) return ExitBadInput;
  Options options;
  std::string error;
  if (!parseOptions(argc, argv, options, error) ||
      !checkStandardOutput(options, outputClosed, error)) {
    std::fprintf(stderr, "quillfern-render: %s (see quillfern-render --help)\n", error.c_str());
    return ExitBadInput;
  }
  if (options.help || options.version) {
    if (options.help) std::fputs(Usage, stdout);
    if (!options.help) std::printf("quillfern-render %s\n", QUILLFERN_VERSION);
    return printed() ? ExitRendered : ExitFailed;
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
  if (options.list) return printed() ? ExitRendered : ExitFailed;
  return renderToFile(score, options);
}
