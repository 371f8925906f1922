// SPDX-License-Identifier: GPL-3.0-or-later
// The LV2 plugin's run() on any input sequence, as a host or a broken message might send it:
// the sequence's own size is honest (it is the buffer's), every size inside it may lie. The
// first byte is the trace port's room in bytes, the second the block's frames less one, the
// rest the sequence's body after its head. URIDs are numbered in the order the plugin maps them
// (MIDI event 1, object 2, float 4, time:Position 5, time:speed 6, trace on 13): see the seeds.
// Two blocks run, so that a request for the trace in the first shows in the second. Every sample
// is finite and the trace port holds no more than its room.
#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_checks.h"
#include "instrument/lv2_ports.h"

namespace {

LV2_URID mapUri(LV2_URID_Map_Handle handle, const char* uri) {
  auto& uris = *static_cast<std::vector<std::string>*>(handle);
  auto found = std::find(uris.begin(), uris.end(), uri);
  if (found == uris.end()) found = uris.insert(uris.end(), uri);
  return static_cast<LV2_URID>(found - uris.begin() + 1);
}

// A buffer of exactly `size` bytes, so that AddressSanitizer sees its end.
std::unique_ptr<uint8_t[]> exactBuffer(std::size_t size) {
  return std::make_unique<uint8_t[]>(std::max<std::size_t>(size, 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 2 || size > 1u << 16) return 0;
  const uint32_t room = data[0];
  const uint32_t frames = data[1] + 1u;
  const auto body = static_cast<uint32_t>(size - 2);
  std::vector<std::string> uris;
  LV2_URID_Map map{&uris, mapUri};
  const LV2_Feature mapFeature{LV2_URID__map, &map};
  const LV2_Feature* features[] = {&mapFeature, nullptr};
  const LV2_Descriptor* plugin = lv2_descriptor(0);
  LV2_Handle instance = plugin->instantiate(plugin, 48000.0, "", features);
  require(instance != nullptr);

  const auto input = exactBuffer(sizeof(LV2_Atom_Sequence) + body);
  const LV2_Atom_Sequence head{{static_cast<uint32_t>(sizeof(LV2_Atom_Sequence_Body)) + body,
                                mapUri(&uris, LV2_ATOM__Sequence)},
                               {0, 0}};
  std::memcpy(input.get(), &head, sizeof head);
  std::memcpy(input.get() + sizeof head, data + 2, body);
  const auto trace = exactBuffer(sizeof(LV2_Atom) + room);
  std::vector<float> output(frames);
  plugin->connect_port(instance, Lv2MidiInPort, input.get());
  plugin->connect_port(instance, Lv2OutputPort, output.data());
  plugin->connect_port(instance, Lv2TracePort, trace.get());
  plugin->activate(instance);
  for (int block = 0; block < 2; ++block) {
    const LV2_Atom chunk{room, mapUri(&uris, LV2_ATOM__Chunk)};
    std::memcpy(trace.get(), &chunk, sizeof chunk);
    plugin->run(instance, frames);
    LV2_Atom written{};
    std::memcpy(&written, trace.get(), sizeof written);
    require(written.size <= room);
    require(std::all_of(output.begin(), output.end(), [](float x) { return std::isfinite(x); }));
  }
  plugin->deactivate(instance);
  plugin->cleanup(instance);
  return 0;
}
