// SPDX-License-Identifier: GPL-3.0-or-later
#include "instrument/user_presets.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "instrument/factory_presets.h"
#include "instrument/state.h"

namespace {

constexpr std::string_view FormatLine = "quillfern-preset 1";
constexpr std::string_view NameWord = "name ";
constexpr std::string_view Extension = ".qfpreset";
constexpr std::size_t LongestName = 48;
// A preset file is a few hundred bytes; a bigger one is something else and is not read whole.
constexpr std::uintmax_t LargestFile = 16384;

// The next line of `text` from `at` on, without its LF and a CR before it.
std::string_view takeLine(std::string_view text, std::size_t& at) {
  if (at > text.size()) return {};
  const std::size_t end = std::min(text.find('\n', at), text.size());
  std::string_view line = text.substr(at, end - at);
  at = end + 1;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

std::string fileError(const std::string& what, const std::filesystem::path& path) {
  // The window's thread alone reads and writes the user's presets.
  return what + " " + path.string() + ": " + std::strerror(errno);  // NOLINT(concurrency-mt-unsafe)
}

}  // namespace

std::string presetText(std::string_view name, const ParameterValues& values) {
  return std::string(FormatLine) + '\n' + std::string(NameWord) + std::string(name) + '\n' +
         valueLines(values, true);
}

bool presetNameAllowed(std::string_view name, std::string& problem) {
  const bool printable = std::all_of(name.begin(), name.end(), [](char c) {
    return static_cast<unsigned char>(c) >= 0x20 && c != 0x7F && c != '/';
  });
  if (name.empty() || name.size() > LongestName || !printable || name.front() == ' ' ||
      name.back() == ' ' || name.front() == '.') {
    problem = "a preset's name is 1 to 48 letters, digits or signs other than '/'";
    return false;
  }
  if (findFactoryPreset(name) != nullptr) {
    problem = "'" + std::string(name) + "' is a factory preset's name";
    return false;
  }
  return true;
}

bool parsePresetText(std::string_view text, std::string& name, ParameterValues& values,
                     std::string& problem) {
  std::size_t at = 0;
  if (takeLine(text, at) != FormatLine) {
    problem = "not a Quillfern preset (its first line is not \"quillfern-preset 1\")";
    return false;
  }
  const std::string_view nameLine = takeLine(text, at);
  std::string nameProblem;
  if (!nameLine.starts_with(NameWord) ||
      !presetNameAllowed(nameLine.substr(NameWord.size()), nameProblem)) {
    problem = "line 2 is no \"name\" line" + (nameProblem.empty() ? "" : ": " + nameProblem);
    return false;
  }
  ParameterValues read = defaultValues();
  if (!parseValueLines(text.substr(std::min(at, text.size())), 3, read, problem)) return false;
  name = nameLine.substr(NameWord.size());
  values = read;
  return true;
}

std::string userPresetFolder() {
  const char* data = std::getenv("XDG_DATA_HOME");  // NOLINT(concurrency-mt-unsafe)
  if (data != nullptr && data[0] == '/') return std::string(data) + "/quillfern/presets";
  const char* home = std::getenv("HOME");  // NOLINT(concurrency-mt-unsafe)
  if (home != nullptr && home[0] == '/')
    return std::string(home) + "/.local/share/quillfern/presets";
  return {};
}

UserPreset readUserPreset(const std::string& path) {
  UserPreset preset;
  preset.path = path;
  preset.name = std::filesystem::path(path).stem().string();
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error || size > LargestFile) {
    preset.problem = error ? "cannot read it: " + error.message() : "too big for a preset";
    return preset;
  }
  std::ifstream file(path, std::ios::binary);
  std::string text(static_cast<std::size_t>(size), '\0');
  if (!file.read(text.data(), static_cast<std::streamsize>(text.size()))) {
    preset.problem = "cannot read it";
    return preset;
  }
  preset.readable = parsePresetText(text, preset.name, preset.values, preset.problem);
  return preset;
}

std::vector<UserPreset> listUserPresets() {
  std::vector<UserPreset> presets;
  const std::string folder = userPresetFolder();
  std::error_code error;
  if (folder.empty() || !std::filesystem::is_directory(folder, error)) return presets;
  std::vector<std::string> paths;
  for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
       entry.increment(error)) {
    if (entry->path().extension() == Extension && entry->is_regular_file(error)) {
      paths.push_back(entry->path().string());
    }
  }
  std::sort(paths.begin(), paths.end());
  paths.resize(std::min(paths.size(), MostUserPresets));
  for (const std::string& path : paths) presets.push_back(readUserPreset(path));
  std::stable_sort(presets.begin(), presets.end(),
                   [](const UserPreset& one, const UserPreset& other) {
                     return strcasecmp(one.name.c_str(), other.name.c_str()) < 0;
                   });
  return presets;
}

UserPreset findUserPreset(std::string_view name) {
  std::vector<UserPreset> presets = listUserPresets();
  const auto found = std::find_if(presets.begin(), presets.end(), [name](const UserPreset& preset) {
    return sameTextAnyCase(preset.name, name);
  });
  return found != presets.end() ? std::move(*found) : UserPreset{};
}

bool saveUserPreset(std::string_view name, const ParameterValues& values, std::string& problem) {
  if (!presetNameAllowed(name, problem)) return false;
  const std::filesystem::path folder = userPresetFolder();
  std::error_code error;
  if (folder.empty() || (std::filesystem::create_directories(folder, error), error)) {
    problem = folder.empty() ? "neither XDG_DATA_HOME nor HOME names a folder"
                             : "cannot make " + folder.string() + ": " + error.message();
    return false;
  }
  // Written aside and renamed into place, so that a full disk leaves the old file whole.
  const std::filesystem::path path = folder / (std::string(name) + std::string(Extension));
  const std::filesystem::path aside = folder / ("." + std::string(name) + ".saving");
  const std::string text = presetText(name, values);
  std::FILE* file = std::fopen(aside.c_str(), "wb");
  if (file == nullptr) {
    problem = fileError("cannot write", aside);
    return false;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0 || !written || std::rename(aside.c_str(), path.c_str()) != 0) {
    problem = fileError("cannot write", path);
    std::remove(aside.c_str());
    return false;
  }
  return true;
}

std::string freePresetName(const std::vector<UserPreset>& taken) {
  for (int32_t number = 1;; ++number) {
    std::string name = "My sound " + std::to_string(number);
    if (std::none_of(taken.begin(), taken.end(), [&](const UserPreset& preset) {
          return sameTextAnyCase(preset.name, name);
        })) {
      return name;
    }
  }
}
