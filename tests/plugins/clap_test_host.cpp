// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/plugins/clap_test_host.h"

#include <clap/ext/thread-check.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

ClapTestInstance& instanceOf(const clap_host_t* host) {
  return *static_cast<ClapTestInstance*>(host->host_data);
}

bool isMainThread(const clap_host_t* host) {
  const ClapTestInstance& instance = instanceOf(host);
  return std::this_thread::get_id() == instance.mainThread &&
         instance.audioThread.load() != std::this_thread::get_id();
}

bool isAudioThread(const clap_host_t* host) {
  return instanceOf(host).audioThread.load() == std::this_thread::get_id();
}

// A call that belongs on the main thread (and, for a latency change, while inactive or inside
// activate()).
void mainThreadCall(const clap_host_t* host, std::atomic<int32_t>& count, bool inActivate) {
  ClapTestInstance& instance = instanceOf(host);
  ++count;
  if (!isMainThread(host) || (inActivate && instance.active.load() && !instance.activating.load()))
    ++instance.calls.misplaced;
}

void rescan(const clap_host_t* host, clap_param_rescan_flags /*flags*/) {
  mainThreadCall(host, instanceOf(host).calls.rescans, false);
}

void clear(const clap_host_t* host, clap_id /*id*/, clap_param_clear_flags /*flags*/) {
  mainThreadCall(host, instanceOf(host).calls.rescans, false);
}

// Any thread but the audio thread may ask for a flush.
void requestFlush(const clap_host_t* host) {
  if (isAudioThread(host)) ++instanceOf(host).calls.misplaced;
}

void latencyChanged(const clap_host_t* host) {
  mainThreadCall(host, instanceOf(host).calls.latencyChanges, true);
}

void anyThreadRequest(const clap_host_t* /*host*/) {}

void requestRestart(const clap_host_t* host) {
  ++instanceOf(host).calls.restartRequests;
}

const clap_host_thread_check_t ThreadCheck = {isMainThread, isAudioThread};
const clap_host_params_t Params = {rescan, clear, requestFlush};
const clap_host_latency_t Latency = {latencyChanged};

const void* hostExtension(const clap_host_t* /*host*/, const char* id) {
  const std::string_view name = id;
  if (name == CLAP_EXT_THREAD_CHECK) return &ThreadCheck;
  if (name == CLAP_EXT_PARAMS) return &Params;
  if (name == CLAP_EXT_LATENCY) return &Latency;
  return nullptr;
}

uint32_t eventCount(const clap_input_events_t* list) {
  return static_cast<uint32_t>(static_cast<const std::vector<ClapTestEvent>*>(list->ctx)->size());
}

const clap_event_header_t* eventAt(const clap_input_events_t* list, uint32_t index) {
  return &(*static_cast<const std::vector<ClapTestEvent>*>(list->ctx))[index].header;
}

bool dropEvent(const clap_output_events_t* /*list*/, const clap_event_header_t* /*event*/) {
  return true;
}

bool keepEndedNote(const clap_output_events_t* list, const clap_event_header_t* event) {
  if (event->space_id == CLAP_CORE_EVENT_SPACE_ID && event->type == CLAP_EVENT_NOTE_END) {
    static_cast<ClapTestInstance*>(list->ctx)->endedNotes.push_back(
        *reinterpret_cast<const clap_event_note_t*>(event));
  }
  return true;
}

struct Stream {
  std::string text;
  std::size_t read = 0;
  std::size_t bytesPerCall = WholeStream;
};

int64_t writeStream(const clap_ostream_t* stream, const void* buffer, uint64_t size) {
  auto& sink = *static_cast<Stream*>(stream->ctx);
  const std::size_t count = std::min<uint64_t>(size, sink.bytesPerCall);
  sink.text.append(static_cast<const char*>(buffer), count);
  return static_cast<int64_t>(count);
}

int64_t readStream(const clap_istream_t* stream, void* buffer, uint64_t size) {
  auto& source = *static_cast<Stream*>(stream->ctx);
  const std::size_t count =
      std::min<uint64_t>({size, source.bytesPerCall, source.text.size() - source.read});
  std::memcpy(buffer, source.text.data() + source.read, count);
  source.read += count;
  return static_cast<int64_t>(count);
}

template <typename Extension>
const Extension* extensionOf(const clap_plugin_t* plugin, const char* id) {
  return static_cast<const Extension*>(plugin->get_extension(plugin, id));
}

}  // namespace

ClapLibrary openClapLibrary(const std::string& path) {
  ClapLibrary library;
  library.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library.handle == nullptr) return library;
  const auto* entry = static_cast<const clap_plugin_entry_t*>(dlsym(library.handle, "clap_entry"));
  if (entry == nullptr || !entry->init(path.c_str())) return library;
  library.entry = entry;
  library.factory =
      static_cast<const clap_plugin_factory_t*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
  return library;
}

void closeClapLibrary(ClapLibrary& library) {
  if (library.entry != nullptr) library.entry->deinit();
  if (library.handle != nullptr) dlclose(library.handle);
  library = {};
}

ClapTestInstance::~ClapTestInstance() {
  if (plugin != nullptr) plugin->destroy(plugin);
}

std::unique_ptr<ClapTestInstance> createClapInstance(const ClapLibrary& library, const char* id) {
  auto instance = std::make_unique<ClapTestInstance>();
  instance->host = {CLAP_VERSION_INIT,
                    instance.get(),
                    "quillfern-conformance-host",
                    "Quillfern",
                    "",
                    "1",
                    hostExtension,
                    requestRestart,
                    anyThreadRequest,
                    anyThreadRequest};
  instance->plugin = library.factory->create_plugin(library.factory, &instance->host, id);
  if (instance->plugin == nullptr || !instance->plugin->init(instance->plugin)) return nullptr;
  instance->params = extensionOf<clap_plugin_params_t>(instance->plugin, CLAP_EXT_PARAMS);
  instance->state = extensionOf<clap_plugin_state_t>(instance->plugin, CLAP_EXT_STATE);
  instance->latency = extensionOf<clap_plugin_latency_t>(instance->plugin, CLAP_EXT_LATENCY);
  return instance;
}

std::unique_ptr<ClapTestInstance> createClapInstance(const ClapLibrary& library) {
  return createClapInstance(library,
                            library.factory->get_plugin_descriptor(library.factory, 0)->id);
}

bool activateClap(ClapTestInstance& instance, double sampleRate, uint32_t maxFrames) {
  instance.activating = true;
  const bool active = instance.plugin->activate(instance.plugin, sampleRate, 1, maxFrames);
  instance.active = active;
  instance.activating = false;
  return active && instance.plugin->start_processing(instance.plugin);
}

void deactivateClap(ClapTestInstance& instance) {
  instance.plugin->stop_processing(instance.plugin);
  instance.plugin->deactivate(instance.plugin);
  instance.active = false;
}

ClapTestEvent parameterEvent(uint32_t time, clap_id id, double value, uint16_t space) {
  ClapTestEvent event{};
  event.parameter.header = {sizeof(clap_event_param_value_t), time, space, CLAP_EVENT_PARAM_VALUE,
                            0};
  event.parameter.param_id = id;
  event.parameter.note_id = -1;
  event.parameter.port_index = -1;
  event.parameter.channel = -1;
  event.parameter.key = -1;
  event.parameter.value = value;
  return event;
}

ClapTestEvent midiEvent(uint32_t time, uint8_t status, uint8_t data1, uint8_t data2) {
  ClapTestEvent event{};
  event.midi.header = {sizeof(clap_event_midi_t), time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_MIDI,
                       0};
  event.midi.data[0] = status;
  event.midi.data[1] = data1;
  event.midi.data[2] = data2;
  return event;
}

ClapTestEvent noteEvent(uint32_t time, uint16_t type, int32_t noteId, int16_t key) {
  ClapTestEvent event{};
  event.note = {
      {sizeof(clap_event_note_t), time, CLAP_CORE_EVENT_SPACE_ID, type, 0}, noteId, 0, 0, key, 0.8};
  return event;
}

ClapTestEvent modulationEvent(uint32_t time, clap_id id, int32_t noteId, double amount) {
  ClapTestEvent event{};
  event.modulation = {
      {sizeof(clap_event_param_mod_t), time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_MOD, 0},
      id,
      nullptr,
      noteId,
      -1,
      -1,
      -1,
      amount};
  return event;
}

ClapTestEvent transportEvent(uint32_t time, bool playing) {
  ClapTestEvent event{};
  event.transport.header = {sizeof(clap_event_transport_t), time, CLAP_CORE_EVENT_SPACE_ID,
                            CLAP_EVENT_TRANSPORT, 0};
  event.transport.flags = playing ? CLAP_TRANSPORT_IS_PLAYING : 0;
  return event;
}

std::vector<float> processClap(ClapTestInstance& instance, const std::vector<ClapTestEvent>& events,
                               uint32_t frames, const clap_event_transport_t* transport) {
  std::vector<float> output(frames, std::numeric_limits<float>::quiet_NaN());
  float* channels[] = {output.data()};
  clap_audio_buffer_t buffer{channels, nullptr, 1, 0, 0};
  const clap_input_events_t in{const_cast<std::vector<ClapTestEvent>*>(&events), eventCount,
                               eventAt};
  const clap_output_events_t out{&instance, keepEndedNote};
  const clap_process_t process{
      instance.steadyTime, frames, transport, nullptr, &buffer, 0, 1, &in, &out};
  instance.audioThread = std::this_thread::get_id();
  instance.plugin->process(instance.plugin, &process);
  instance.audioThread = std::thread::id{};
  instance.steadyTime += frames;
  return output;
}

void flushClap(ClapTestInstance& instance, const std::vector<ClapTestEvent>& events) {
  const clap_input_events_t in{const_cast<std::vector<ClapTestEvent>*>(&events), eventCount,
                               eventAt};
  const clap_output_events_t out{nullptr, dropEvent};
  instance.params->flush(instance.plugin, &in, &out);
}

std::vector<double> parameterValues(ClapTestInstance& instance) {
  std::vector<double> values;
  for (uint32_t index = 0; index < instance.params->count(instance.plugin); ++index) {
    clap_param_info_t info{};
    double value = 0.0;
    instance.params->get_info(instance.plugin, index, &info);
    instance.params->get_value(instance.plugin, info.id, &value);
    values.push_back(value);
  }
  return values;
}

bool saveClapState(ClapTestInstance& instance, std::string& state, std::size_t bytesPerCall) {
  Stream stream{{}, 0, bytesPerCall};
  const clap_ostream_t out{&stream, writeStream};
  if (!instance.state->save(instance.plugin, &out)) return false;
  state = stream.text;
  return true;
}

bool loadClapState(ClapTestInstance& instance, const std::string& state, std::size_t bytesPerCall) {
  Stream stream{state, 0, bytesPerCall};
  const clap_istream_t in{&stream, readStream};
  return instance.state->load(instance.plugin, &in);
}
