// SPDX-License-Identifier: GPL-3.0-or-later
// quillfern-plugin-host: plays a score or a Standard MIDI File through the CLAP plugin (a .clap
// file) or the LV2 plugin (a bundle folder) and writes a 32-bit float mono WAV file.
#include <sndfile.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/voice.h"
#include "tools/midi_file.h"
#include "tools/plugin_host/plugin_host.h"
#include "tools/score.h"
#include "tools/score_render.h"

namespace {

constexpr const char* Usage =
    "usage: quillfern-plugin-host PLUGIN SONG -o OUT.wav [--block FRAMES] [--rate HZ]\n"
    "PLUGIN is quillfern.clap or the quillfern.lv2 folder; SONG a score or a MIDI file.\n"
    "A bare NAME.clap is looked for as CLAP hosts do: in CLAP_PATH, ~/.clap, /usr/lib/clap.\n"
    "FRAMES 1-65536 (default 256), HZ 8000-384000 (default 44100).\n";
constexpr int32_t DefaultBlock = 256;
constexpr int32_t MostBlockFrames = 1 << 16;
constexpr double LongestReleaseSeconds = 5.0;  // the tail covers any release setting

struct Options {
  std::string pluginPath;
  std::string songPath;
  std::string outputPath;
  int32_t blockFrames = DefaultBlock;
  double sampleRate = DefaultSampleRate;
};

bool parseOptions(int argc, char** argv, Options& options) {
  std::vector<std::string> positional;
  for (int index = 1; index < argc; ++index) {
    const std::string_view argument = argv[index];
    const bool hasValue = index + 1 < argc;
    if ((argument == "-o" || argument == "--output") && hasValue) {
      options.outputPath = argv[++index];
    } else if (argument == "--block" && hasValue) {
      if (!parseWholeNumber(argv[++index], 1, MostBlockFrames, options.blockFrames)) return false;
    } else if (argument == "--rate" && hasValue) {
      int32_t rate = 0;
      if (!parseWholeNumber(argv[++index], static_cast<int32_t>(MinimumSampleRate),
                            static_cast<int32_t>(MaximumSampleRate), rate)) {
        return false;
      }
      options.sampleRate = rate;
    } else {
      positional.emplace_back(argument);
    }
  }
  if (positional.size() != 2 || options.outputPath.empty() || options.blockFrames < 1) {
    return false;
  }
  options.pluginPath = positional[0];
  options.songPath = positional[1];
  return true;
}

bool readSong(const std::string& path, double sampleRate, Score& score, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot read " + path;
    return false;
  }
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file), {}};
  const bool isMidi = bytes.size() >= 4 && std::string(bytes.begin(), bytes.begin() + 4) == "MThd";
  if (isMidi) {
    if (!parseMidiFile(bytes, path, score, error, sampleRate)) return false;
    addReleaseTail(score, LongestReleaseSeconds);
    return true;
  }
  std::ifstream text(path);
  if (!parseScore(text, path, score, error)) return false;
  score = scoreAtRate(std::move(score), sampleRate);
  return true;
}

bool writeWav(const std::string& path, const std::vector<float>& samples, double sampleRate) {
  SF_INFO format{};
  format.samplerate = static_cast<int>(sampleRate);
  format.channels = 1;
  format.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &format);
  if (file == nullptr) return false;
  // No PEAK chunk: it holds the time of writing, and equal renders should give equal files.
  sf_command(file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
  const auto frames = static_cast<sf_count_t>(samples.size());
  const bool written = sf_writef_float(file, samples.data(), frames) == frames;
  return sf_close(file) == 0 && written;
}

// The folders CLAP hosts search on Linux, in order: those of CLAP_PATH, ~/.clap, /usr/lib/clap.
std::vector<std::filesystem::path> clapSearchFolders() {
  std::vector<std::filesystem::path> folders;
  if (const char* clapPath = std::getenv("CLAP_PATH")) {  // NOLINT(concurrency-mt-unsafe)
    std::istringstream list(clapPath);
    for (std::string folder; std::getline(list, folder, ':');) {
      if (!folder.empty()) folders.emplace_back(folder);
    }
  }
  if (const char* home = std::getenv("HOME")) {  // NOLINT(concurrency-mt-unsafe)
    folders.emplace_back(std::filesystem::path(home) / ".clap");
  }
  folders.emplace_back("/usr/lib/clap");
  return folders;
}

// A bare "NAME.clap" is found as a CLAP host finds it: the first file of that name in the
// search folders, their subfolders included, or empty when there is none. Anything else is a
// path and stays as it is.
std::string locatePlugin(const std::string& plugin) {
  const std::filesystem::path name(plugin);
  if (plugin.find('/') != std::string::npos || name.extension() != ".clap") return plugin;
  for (const std::filesystem::path& folder : clapSearchFolders()) {
    std::error_code error;
    if (std::filesystem::is_regular_file(folder / name, error)) return folder / name;
    for (std::filesystem::recursive_directory_iterator entry(
             folder, std::filesystem::directory_options::skip_permission_denied, error);
         !error && entry != std::filesystem::recursive_directory_iterator();
         entry.increment(error)) {
      if (entry->path().filename() == name && entry->is_regular_file(error)) return entry->path();
    }
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parseOptions(argc, argv, options)) {
    std::fputs(Usage, stderr);
    return 2;
  }
  Score score;
  std::string error;
  if (!readSong(options.songPath, options.sampleRate, score, error)) {
    std::fprintf(stderr, "quillfern-plugin-host: %s\n", error.c_str());
    return 2;
  }
  const std::string pluginPath = locatePlugin(options.pluginPath);
  if (pluginPath.empty()) {
    std::fprintf(stderr,
                 "quillfern-plugin-host: %s is in none of CLAP_PATH, ~/.clap, /usr/lib/clap\n",
                 options.pluginPath.c_str());
    return 1;
  }
  HostedPluginPtr plugin = openPlugin(pluginPath, options.sampleRate, options.blockFrames, error);
  if (!plugin) {
    std::fprintf(stderr, "quillfern-plugin-host: %s\n", error.c_str());
    return 1;
  }
  if (!writeWav(options.outputPath, playScore(*plugin, score, options.blockFrames),
                options.sampleRate)) {
    std::fprintf(stderr, "quillfern-plugin-host: cannot write %s\n", options.outputPath.c_str());
    return 1;
  }
  return 0;
}
