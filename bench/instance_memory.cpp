// SPDX-License-Identifier: GPL-3.0-or-later
// What one more instance of each plugin costs in memory that is really used (resident), as a
// host with many of them holds them: 33 instances loaded and played a block each, the first
// left out (it pays for the library), without a window. Prints KB an instance.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/plugin_host/plugin_host.h"

namespace {

constexpr int32_t Instances = 33;
constexpr int32_t BlockFrames = 512;

double residentKilobytes() {
  std::ifstream statm("/proc/self/statm");
  long size = 0;
  long resident = 0;
  statm >> size >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1024.0;
}

// Resident KB an instance past the first, or a negative number when the plugin does not load.
double kilobytesAnInstance(const std::string& path) {
  std::istringstream text("0 midi 90 57 100\n4096 end\n");
  Score score;
  std::string scoreError;
  parseScore(text, "a held note", score, scoreError);
  std::vector<HostedPluginPtr> plugins;
  std::vector<float> output(BlockFrames);
  double before = 0.0;
  for (int32_t instance = 0; instance < Instances; ++instance) {
    std::string error;
    plugins.push_back(openPlugin(path, 48000.0, BlockFrames, error));
    if (plugins.back() == nullptr) {
      std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
      return -1.0;
    }
    ScoreCursor cursor{&score};
    playBlock(*plugins.back(), cursor, BlockFrames, output.data());
    if (instance == 0) before = residentKilobytes();
  }
  return (residentKilobytes() - before) / (Instances - 1);
}

}  // namespace

int main() {
  std::printf("CLAP: %.0f KB an instance\n", kilobytesAnInstance(QUILLFERN_CLAP_PATH));
  std::printf("LV2:  %.0f KB an instance\n", kilobytesAnInstance(QUILLFERN_LV2_BUNDLE));
  return 0;
}
