// SPDX-License-Identifier: GPL-3.0-or-later
// What one more instance of each plugin costs in memory that is really used (resident), as a
// host with many of them holds them: 33 instances loaded and played a block each, the first
// left out (it pays for the library), without a window. Prints KB an instance, resident and
// allocated (the heap in use: what the pages resident depend on less, as freed memory is reused).
// LV2 instances come from one lilv world, as a host's do: our offline host's world an instance
// would count the host's reading of the bundle as the plugin's.
#include <lilv/lilv.h>
#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "instrument/lv2_ports.h"
#include "tools/plugin_host/plugin_host.h"

namespace {

constexpr int32_t Instances = 33;
constexpr int32_t BlockFrames = 512;

struct Kilobytes {
  double resident = -1.0;
  double allocated = -1.0;
};

Kilobytes kilobytesNow() {
  std::ifstream statm("/proc/self/statm");
  long size = 0;
  long resident = 0;
  statm >> size >> resident;
  return {static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1024.0,
          static_cast<double>(mallinfo2().uordblks) / 1024.0};
}

Kilobytes anInstance(const Kilobytes& before) {
  const Kilobytes after = kilobytesNow();
  return {(after.resident - before.resident) / (Instances - 1),
          (after.allocated - before.allocated) / (Instances - 1)};
}

// KB an instance past the first, or negative numbers when the plugin does not load.
Kilobytes kilobytesAnInstance(const std::string& path) {
  std::istringstream text("0 midi 90 57 100\n4096 end\n");
  Score score;
  std::string scoreError;
  parseScore(text, "a held note", score, scoreError);
  std::vector<HostedPluginPtr> plugins;
  std::vector<float> output(BlockFrames);
  Kilobytes before;
  for (int32_t instance = 0; instance < Instances; ++instance) {
    std::string error;
    plugins.push_back(openPlugin(path, 48000.0, BlockFrames, error));
    if (plugins.back() == nullptr) {
      std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
      return {};
    }
    ScoreCursor cursor{&score};
    playBlock(*plugins.back(), cursor, BlockFrames, output.data());
    if (instance == 0) before = kilobytesNow();
  }
  return anInstance(before);
}

LV2_URID mapUri(LV2_URID_Map_Handle handle, const char* uri) {
  auto& ids = *static_cast<std::map<std::string, LV2_URID>*>(handle);
  return ids.emplace(uri, static_cast<LV2_URID>(ids.size() + 1)).first->second;
}

// The same through lilv, all instances from one world, their control ports left at the values
// they start with and a note-on given to each. The host has a worker, as hosts do; with no
// window nothing asks it for work.
Kilobytes lv2KilobytesAnInstance(const std::string& bundlePath) {
  std::map<std::string, LV2_URID> ids;
  LV2_URID_Map map{&ids, mapUri};
  const LV2_Feature mapFeature{LV2_URID__map, &map};
  LV2_Worker_Schedule schedule{nullptr, [](LV2_Worker_Schedule_Handle, uint32_t, const void*) {
                                 return LV2_WORKER_ERR_UNKNOWN;
                               }};
  const LV2_Feature scheduleFeature{LV2_WORKER__schedule, &schedule};
  const LV2_Feature* features[]{&mapFeature, &scheduleFeature, nullptr};
  LilvWorld* world = lilv_world_new();
  LilvNode* bundle = lilv_new_file_uri(world, nullptr, (bundlePath + "/").c_str());
  lilv_world_load_bundle(world, bundle);
  LilvNode* uri = lilv_new_uri(world, Lv2PluginUri);
  const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
  struct {
    LV2_Atom_Sequence sequence;
    LV2_Atom_Event event;
    uint8_t bytes[8];
  } input{{{sizeof(LV2_Atom_Sequence_Body) + sizeof(LV2_Atom_Event) + 8,
            map.map(map.handle, LV2_ATOM__Sequence)},
           {0, 0}},
          {{0}, {3, map.map(map.handle, LV2_MIDI__MidiEvent)}},
          {0x90, 57, 100}};
  std::vector<float> output(BlockFrames);
  std::vector<LilvInstance*> instances;
  Kilobytes before;
  for (int32_t instance = 0; plugin != nullptr && instance < Instances; ++instance) {
    instances.push_back(lilv_plugin_instantiate(plugin, 48000.0, features));
    lilv_instance_connect_port(instances.back(), Lv2MidiInPort, &input);
    lilv_instance_connect_port(instances.back(), Lv2OutputPort, output.data());
    lilv_instance_activate(instances.back());
    lilv_instance_run(instances.back(), BlockFrames);
    if (instance == 0) before = kilobytesNow();
  }
  const Kilobytes kilobytes = plugin == nullptr ? Kilobytes{} : anInstance(before);
  for (LilvInstance* instance : instances) lilv_instance_free(instance);
  lilv_node_free(uri);
  lilv_node_free(bundle);
  lilv_world_free(world);
  return kilobytes;
}

}  // namespace

int main() {
  const Kilobytes clap = kilobytesAnInstance(QUILLFERN_CLAP_PATH);
  std::printf("CLAP: %.0f KB an instance resident, %.0f KB allocated\n", clap.resident,
              clap.allocated);
  const Kilobytes lv2 = lv2KilobytesAnInstance(QUILLFERN_LV2_BUNDLE);
  std::printf("LV2:  %.0f KB an instance resident, %.0f KB allocated\n", lv2.resident,
              lv2.allocated);
  return 0;
}
