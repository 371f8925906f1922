// SPDX-License-Identifier: GPL-3.0-or-later
// The LV2 side of our offline host, through lilv: one instance, its ports connected to the
// host's own values, MIDI in an atom sequence at its frame, control moves written to their
// ports between run() calls. Its worker keeps what run() asks of it and works it right after
// that run(), in the thread that runs the plugin, then hands the answers back, as an offline
// host may: run() itself never waits on the work.
#include <lilv/lilv.h>
#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>
#include <lv2/time/time.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#include "instrument/lv2_ports.h"
#include "instrument/parameters.h"
#include "tools/plugin_host/format_hosts.h"

namespace {

constexpr std::size_t SequenceCapacity = 1 << 16;  // bytes of the MIDI input buffer
constexpr uint32_t ShortMessageBytes = 3;

// Maps URIs to numbers in the order first seen.
struct UridTable {
  std::vector<std::string> uris;
  std::map<std::string, LV2_URID> ids;
};

LV2_URID mapUri(LV2_URID_Map_Handle handle, const char* uri) {
  auto& table = *static_cast<UridTable*>(handle);
  const auto [entry, added] = table.ids.emplace(uri, table.uris.size() + 1);
  if (added) table.uris.emplace_back(uri);
  return entry->second;
}

const char* unmapUri(LV2_URID_Unmap_Handle handle, LV2_URID urid) {
  const auto& table = *static_cast<UridTable*>(handle);
  return urid >= 1 && urid <= table.uris.size() ? table.uris[urid - 1].c_str() : nullptr;
}

}  // namespace

LV2_Worker_Status scheduleWork(LV2_Worker_Schedule_Handle handle, uint32_t size, const void* data);

struct Lv2Hosted {
  LilvWorld* world = nullptr;
  const LilvPlugin* plugin = nullptr;
  LilvInstance* instance = nullptr;
  UridTable urids;
  LV2_URID_Map map{&urids, mapUri};
  LV2_URID_Unmap unmap{&urids, unmapUri};
  LV2_Feature mapFeature{LV2_URID__map, &map};
  LV2_Feature unmapFeature{LV2_URID__unmap, &unmap};
  LV2_Worker_Schedule schedule{this, scheduleWork};
  LV2_Feature scheduleFeature{LV2_WORKER__schedule, &schedule};
  const LV2_Feature* features[4]{&mapFeature, &unmapFeature, &scheduleFeature, nullptr};
  const LV2_Worker_Interface* worker = nullptr;
  // What run() asked the worker, kept without allocating (run() is real-time), for after it.
  std::array<uint8_t, 256> requests{};
  std::size_t requested = 0;  // bytes of `requests` in use: sizes and data, one after another
  std::vector<std::vector<uint8_t>> responses;  // the worker's, for after the run()
  std::vector<float> portValues;                // one per port; control ports use theirs
  std::map<std::string, uint32_t> portIndices;  // by symbol
  // 8-byte aligned, as atoms must be, and left as the allocator gives them: a host touches no
  // more of them than the atoms written, and neither should the memory an instance is said to
  // hold.
  std::unique_ptr<uint64_t[]> sequence;
  std::unique_ptr<uint64_t[]> notifications;  // what the plugin's atom outputs write
  float* output = nullptr;
  LV2_URID sequenceType = 0;
  LV2_URID midiEventType = 0;
  LV2_URID objectType = 0;
  LV2_URID positionType = 0;
  LV2_URID speedKey = 0;
  LV2_URID traceOnType = 0;
  bool traceAsked = false;  // a window's request for the points goes with the next run()
  LV2_URID floatType = 0;
};

namespace {

LV2_Worker_Status respond(LV2_Worker_Respond_Handle handle, uint32_t size, const void* data) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  static_cast<Lv2Hosted*>(handle)->responses.emplace_back(bytes, bytes + size);
  return LV2_WORKER_SUCCESS;
}

// The requests of the run() just ended, worked, and the answers handed back.
void finishWork(Lv2Hosted& hosted) {
  if (hosted.worker == nullptr) return;
  for (std::size_t at = 0; at < hosted.requested;) {
    uint32_t size = 0;
    std::memcpy(&size, hosted.requests.data() + at, sizeof size);
    at += sizeof size;
    hosted.worker->work(lilv_instance_get_handle(hosted.instance), respond, &hosted, size,
                        hosted.requests.data() + at);
    at += size;
  }
  hosted.requested = 0;
  for (const std::vector<uint8_t>& response : hosted.responses) {
    hosted.worker->work_response(lilv_instance_get_handle(hosted.instance),
                                 static_cast<uint32_t>(response.size()), response.data());
  }
  hosted.responses.clear();
  if (hosted.worker->end_run != nullptr)
    hosted.worker->end_run(lilv_instance_get_handle(hosted.instance));
}

}  // namespace

LV2_Worker_Status scheduleWork(LV2_Worker_Schedule_Handle handle, uint32_t size, const void* data) {
  auto& hosted = *static_cast<Lv2Hosted*>(handle);
  if (hosted.worker == nullptr) return LV2_WORKER_ERR_UNKNOWN;
  if (sizeof size + size > hosted.requests.size() - hosted.requested) {
    return LV2_WORKER_ERR_NO_SPACE;
  }
  std::memcpy(hosted.requests.data() + hosted.requested, &size, sizeof size);
  std::memcpy(hosted.requests.data() + hosted.requested + sizeof size, data, size);
  hosted.requested += sizeof size + size;
  return LV2_WORKER_SUCCESS;
}

namespace {

bool portIs(const Lv2Hosted& hosted, const LilvPort* port, const char* classUri) {
  LilvNode* node = lilv_new_uri(hosted.world, classUri);
  const bool is = lilv_port_is_a(hosted.plugin, port, node);
  lilv_node_free(node);
  return is;
}

void connectPorts(Lv2Hosted& hosted) {
  const uint32_t ports = lilv_plugin_get_num_ports(hosted.plugin);
  hosted.portValues.assign(ports, 0.0f);
  std::vector<float> defaults(ports, 0.0f);
  lilv_plugin_get_port_ranges_float(hosted.plugin, nullptr, nullptr, defaults.data());
  for (uint32_t index = 0; index < ports; ++index) {
    const LilvPort* port = lilv_plugin_get_port_by_index(hosted.plugin, index);
    hosted.portIndices[lilv_node_as_string(lilv_port_get_symbol(hosted.plugin, port))] = index;
    if (portIs(hosted, port, LV2_CORE__ControlPort)) {
      hosted.portValues[index] = defaults[index];
      lilv_instance_connect_port(hosted.instance, index, &hosted.portValues[index]);
    } else if (portIs(hosted, port, LV2_ATOM__AtomPort)) {
      const bool output = portIs(hosted, port, LV2_CORE__OutputPort);
      lilv_instance_connect_port(hosted.instance, index,
                                 output ? hosted.notifications.get() : hosted.sequence.get());
    }
  }
}

const LilvPlugin* pluginInBundle(LilvWorld* world, LilvNode* bundle) {
  const LilvPlugins* plugins = lilv_world_get_all_plugins(world);
  LILV_FOREACH(plugins, entry, plugins) {
    const LilvPlugin* plugin = lilv_plugins_get(plugins, entry);
    if (lilv_node_equals(lilv_plugin_get_bundle_uri(plugin), bundle)) return plugin;
  }
  return nullptr;
}

void connectAudio(Lv2Hosted& hosted, float* output) {
  if (output == hosted.output) return;
  const uint32_t ports = lilv_plugin_get_num_ports(hosted.plugin);
  for (uint32_t index = 0; index < ports; ++index) {
    if (portIs(hosted, lilv_plugin_get_port_by_index(hosted.plugin, index), LV2_CORE__AudioPort)) {
      lilv_instance_connect_port(hosted.instance, index, output);
    }
  }
  hosted.output = output;
}

// A parameter's port holds its value as the 32-bit float nearest it.
void setControl(Lv2Hosted& hosted, const BlockEvent& event) {
  const auto port = hosted.portIndices.find(instrumentParameters()[event.parameter].symbol);
  if (port != hosted.portIndices.end()) {
    hosted.portValues[port->second] = static_cast<float>(event.value);
  }
}

auto* sequenceOf(Lv2Hosted& hosted) {
  return reinterpret_cast<LV2_Atom_Sequence*>(hosted.sequence.get());
}

void startSequence(Lv2Hosted& hosted) {
  LV2_Atom_Sequence* sequence = sequenceOf(hosted);
  sequence->atom.type = hosted.sequenceType;
  lv2_atom_sequence_clear(sequence);
  // An output's atom holds the room it has until the plugin writes its sequence there.
  auto* notifications = reinterpret_cast<LV2_Atom*>(hosted.notifications.get());
  notifications->type = 0;
  notifications->size = static_cast<uint32_t>(SequenceCapacity - sizeof(LV2_Atom));
}

void appendMidi(Lv2Hosted& hosted, uint32_t frame, const std::array<uint8_t, 3>& bytes) {
  struct {
    LV2_Atom_Event event;
    uint8_t bytes[ShortMessageBytes];
  } midi{};
  midi.event.time.frames = frame;
  midi.event.body.size = ShortMessageBytes;
  midi.event.body.type = hosted.midiEventType;
  std::copy(bytes.begin(), bytes.end(), midi.bytes);
  lv2_atom_sequence_append_event(sequenceOf(hosted), SequenceCapacity, &midi.event);
}

// The transport as a time:Position object with its speed alone: 1 rolling, 0 stopped.
void appendTransport(Lv2Hosted& hosted, uint32_t frame, bool rolling) {
  struct {
    LV2_Atom_Event event;
    LV2_Atom_Object_Body object;
    LV2_Atom_Property_Body speed;
    float value;
  } position{};
  position.event.time.frames = frame;
  position.event.body.size = sizeof position - sizeof position.event;
  position.event.body.type = hosted.objectType;
  position.object.otype = hosted.positionType;
  position.speed.key = hosted.speedKey;
  position.speed.value = {sizeof(float), hosted.floatType};
  position.value = rolling ? 1.0f : 0.0f;
  lv2_atom_sequence_append_event(sequenceOf(hosted), SequenceCapacity, &position.event);
}

// What the plugin's window sends when it opens: the request for the model's points.
void appendTraceRequest(Lv2Hosted& hosted) {
  struct {
    LV2_Atom_Event event;
    LV2_Atom_Object_Body object;
  } request{};
  request.event.body = {sizeof request.object, hosted.objectType};
  request.object.otype = hosted.traceOnType;
  lv2_atom_sequence_append_event(sequenceOf(hosted), SequenceCapacity, &request.event);
  hosted.traceAsked = false;
}

// One run() over [from, to) of the block, with the MIDI events of that stretch.
void runStretch(Lv2Hosted& hosted, const std::vector<BlockEvent>& events, uint32_t from,
                uint32_t to, float* output) {
  startSequence(hosted);
  if (hosted.traceAsked) appendTraceRequest(hosted);
  for (const BlockEvent& event : events) {
    if (event.offset < from || event.offset >= to) continue;
    if (event.kind == BlockEventKind::Transport) {
      appendTransport(hosted, event.offset - from, event.rolling);
    } else if (event.kind == BlockEventKind::Score) {
      appendMidi(hosted, event.offset - from, midiBytesOf(*event.event));
    }
  }
  connectAudio(hosted, output + from);
  lilv_instance_run(hosted.instance, to - from);
  finishWork(hosted);
}

}  // namespace

Lv2Hosted* openLv2(const std::string& bundlePath, double sampleRate, int32_t /*maxBlockFrames*/,
                   std::string& error) {
  auto hosted = std::make_unique<Lv2Hosted>();
  hosted->sequence.reset(new uint64_t[SequenceCapacity / sizeof(uint64_t) + 1]);
  hosted->notifications.reset(new uint64_t[SequenceCapacity / sizeof(uint64_t) + 1]);
  startSequence(*hosted);
  hosted->world = lilv_world_new();
  hosted->sequenceType = hosted->map.map(hosted->map.handle, LV2_ATOM__Sequence);
  hosted->midiEventType = hosted->map.map(hosted->map.handle, LV2_MIDI__MidiEvent);
  hosted->objectType = hosted->map.map(hosted->map.handle, LV2_ATOM__Object);
  hosted->positionType = hosted->map.map(hosted->map.handle, LV2_TIME__Position);
  hosted->speedKey = hosted->map.map(hosted->map.handle, LV2_TIME__speed);
  hosted->traceOnType = hosted->map.map(hosted->map.handle, Lv2TraceOnUri);
  hosted->floatType = hosted->map.map(hosted->map.handle, LV2_ATOM__Float);
  std::string folder = bundlePath;
  if (!folder.ends_with('/')) folder += '/';
  LilvNode* bundle = lilv_new_file_uri(hosted->world, nullptr, folder.c_str());
  lilv_world_load_bundle(hosted->world, bundle);
  hosted->plugin = pluginInBundle(hosted->world, bundle);
  lilv_node_free(bundle);
  if (hosted->plugin == nullptr) {
    error = bundlePath + ": no LV2 plugin in this bundle";
    closeLv2(hosted.release());
    return nullptr;
  }
  hosted->instance = lilv_plugin_instantiate(hosted->plugin, sampleRate, hosted->features);
  if (hosted->instance == nullptr) {
    error = bundlePath + ": the plugin was not instantiated";
    closeLv2(hosted.release());
    return nullptr;
  }
  hosted->worker = static_cast<const LV2_Worker_Interface*>(
      lilv_instance_get_extension_data(hosted->instance, LV2_WORKER__interface));
  connectPorts(*hosted);
  lilv_instance_activate(hosted->instance);
  return hosted.release();
}

void closeLv2(Lv2Hosted* hosted) {
  if (hosted->instance != nullptr) {
    lilv_instance_deactivate(hosted->instance);
    lilv_instance_free(hosted->instance);
  }
  lilv_world_free(hosted->world);
  delete hosted;
}

void runLv2(Lv2Hosted& hosted, const std::vector<BlockEvent>& events, uint32_t frames,
            float* output) {
  uint32_t from = 0;
  for (const BlockEvent& event : events) {
    if (event.kind != BlockEventKind::Parameter) continue;
    if (event.offset > from) {
      runStretch(hosted, events, from, event.offset, output);
      from = event.offset;
    }
    setControl(hosted, event);
  }
  if (frames > from) runStretch(hosted, events, from, frames, output);
}

void askLv2ForTrace(Lv2Hosted& hosted) {
  hosted.traceAsked = true;
}

uint32_t lv2Latency(Lv2Hosted& hosted) {
  const auto port = hosted.portIndices.find("latency");
  return port == hosted.portIndices.end() ? 0
                                          : static_cast<uint32_t>(hosted.portValues[port->second]);
}

namespace {

const void* portValueOf(const char* symbol, void* data, uint32_t* size, uint32_t* type) {
  auto& hosted = *static_cast<Lv2Hosted*>(data);
  const auto port = hosted.portIndices.find(symbol);
  *size = sizeof(float);
  *type = hosted.map.map(hosted.map.handle, LV2_ATOM__Float);
  return port == hosted.portIndices.end() ? nullptr : &hosted.portValues[port->second];
}

void setPortValue(const char* symbol, void* data, const void* value, uint32_t size,
                  uint32_t /*type*/) {
  auto& hosted = *static_cast<Lv2Hosted*>(data);
  const auto port = hosted.portIndices.find(symbol);
  if (port != hosted.portIndices.end() && size == sizeof(float)) {
    hosted.portValues[port->second] = *static_cast<const float*>(value);
  }
}

}  // namespace

bool saveLv2State(Lv2Hosted& hosted, std::string& state) {
  LilvState* snapshot =
      lilv_state_new_from_instance(hosted.plugin, hosted.instance, &hosted.map, nullptr, nullptr,
                                   nullptr, nullptr, portValueOf, &hosted, 0, hosted.features);
  if (snapshot == nullptr) return false;
  char* text = lilv_state_to_string(hosted.world, &hosted.map, &hosted.unmap, snapshot,
                                    "urn:quillfern:saved-state", nullptr);
  lilv_state_free(snapshot);
  if (text == nullptr) return false;
  state = text;
  lilv_free(text);
  return true;
}

bool loadLv2State(Lv2Hosted& hosted, const std::string& state) {
  LilvState* snapshot = lilv_state_new_from_string(hosted.world, &hosted.map, state.c_str());
  if (snapshot == nullptr) return false;
  lilv_state_restore(snapshot, hosted.instance, setPortValue, &hosted, 0, hosted.features);
  lilv_state_free(snapshot);
  return true;
}

const LV2_URID_Map& lv2UridMap(Lv2Hosted& hosted) {
  return hosted.map;
}

const LV2_Atom_Sequence& lv2Notifications(const Lv2Hosted& hosted) {
  return *reinterpret_cast<const LV2_Atom_Sequence*>(hosted.notifications.get());
}

std::string lv2UiBinary(const Lv2Hosted& hosted) {
  std::string path;
  LilvUIs* uis = lilv_plugin_get_uis(hosted.plugin);
  LILV_FOREACH(uis, entry, uis) {
    char* file = lilv_file_uri_parse(
        lilv_node_as_uri(lilv_ui_get_binary_uri(lilv_uis_get(uis, entry))), nullptr);
    if (file != nullptr && path.empty()) path = file;
    lilv_free(file);
  }
  lilv_uis_free(uis);
  return path;
}
