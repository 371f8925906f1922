// SPDX-License-Identifier: GPL-3.0-or-later
// The CLAP side of our offline host: the library through dlopen, one plugin instance, events
// handed over at their frame.
#include <clap/entry.h>
#include <clap/ext/latency.h>
#include <clap/ext/state.h>
#include <clap/plugin-factory.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstring>

#include "instrument/parameters.h"
#include "tools/plugin_host/format_hosts.h"

struct ClapHosted {
  void* library = nullptr;
  const clap_plugin_entry_t* entry = nullptr;
  const clap_plugin_t* plugin = nullptr;
  clap_host_t host{};
  int64_t steadyTime = 0;
  const ClapHostServices* services = nullptr;
  // CLAP's own note events for the score's notes, pressure and pitch bend (as the sounding
  // note's tuning over this many semitones at the wheel's end); 0: MIDI only.
  double clapNotesBendRange = 0.0;
  bool clapNotes = false;
};

namespace {

// One event of either kind the host sends.
union ClapEvent {
  clap_event_header_t header;
  clap_event_midi_t midi;
  clap_event_param_value_t parameter;
  clap_event_transport_t transport;
  clap_event_note_t note;
  clap_event_note_expression_t expression;
};

struct EventList {
  std::vector<ClapEvent> events;
};

const void* extensionOfHost(const clap_host_t* host, const char* id) {
  const ClapHostServices* services = static_cast<const ClapHosted*>(host->host_data)->services;
  return services != nullptr && services->extension != nullptr
             ? services->extension(services->context, id)
             : nullptr;
}
void noRequest(const clap_host_t* /*host*/) {}

uint32_t eventCount(const clap_input_events_t* list) {
  return static_cast<uint32_t>(static_cast<const EventList*>(list->ctx)->events.size());
}

const clap_event_header_t* eventAt(const clap_input_events_t* list, uint32_t index) {
  return &static_cast<const EventList*>(list->ctx)->events[index].header;
}

bool takeEventOut(const clap_output_events_t* list, const clap_event_header_t* event) {
  const ClapHostServices* services = static_cast<const ClapHosted*>(list->ctx)->services;
  if (services != nullptr && services->eventOut != nullptr) {
    services->eventOut(services->context, *event);
  }
  return true;
}

constexpr double LargestData = 127.0;
constexpr int32_t BendCentre = 8192;

ClapEvent noteEvent(uint32_t offset, uint16_t type, int16_t key, double velocity) {
  ClapEvent event{};
  event.note = {{sizeof(clap_event_note_t), offset, CLAP_CORE_EVENT_SPACE_ID, type, 0},
                -1,
                0,
                0,
                key,
                velocity};
  return event;
}

ClapEvent expressionEvent(uint32_t offset, clap_note_expression id, int16_t key, double value) {
  ClapEvent event{};
  event.expression = {{sizeof(clap_event_note_expression_t), offset, CLAP_CORE_EVENT_SPACE_ID,
                       CLAP_EVENT_NOTE_EXPRESSION, 0},
                      id,
                      -1,
                      0,
                      0,
                      key,
                      value};
  return event;
}

// A score's MIDI message as CLAP's note event, when it has one.
bool clapNoteOf(const ClapHosted& hosted, const BlockEvent& block, ClapEvent& event) {
  if (!hosted.clapNotes || block.kind != BlockEventKind::Score) return false;
  const std::array<uint8_t, 3> bytes = midiBytesOf(*block.event);
  const auto key = static_cast<int16_t>(bytes[1]);
  switch (bytes[0]) {
    case 0x90:
      event = noteEvent(block.offset, bytes[2] != 0 ? CLAP_EVENT_NOTE_ON : CLAP_EVENT_NOTE_OFF, key,
                        bytes[2] / LargestData);
      return true;
    case 0x80:
      event = noteEvent(block.offset, CLAP_EVENT_NOTE_OFF, key, 0.0);
      return true;
    case 0xA0:
      event =
          expressionEvent(block.offset, CLAP_NOTE_EXPRESSION_PRESSURE, key, bytes[2] / LargestData);
      return true;
    case 0xE0: {
      const double position =
          static_cast<double>((bytes[1] | bytes[2] << 7) - BendCentre) / BendCentre;
      event = expressionEvent(block.offset, CLAP_NOTE_EXPRESSION_TUNING, -1,
                              position * hosted.clapNotesBendRange);
      return true;
    }
    default:
      return false;
  }
}

ClapEvent clapEventOf(const ClapHosted& hosted, const BlockEvent& block) {
  ClapEvent event{};
  if (clapNoteOf(hosted, block, event)) return event;
  switch (block.kind) {
    case BlockEventKind::Transport:
      event.transport.header = {sizeof(clap_event_transport_t), block.offset,
                                CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_TRANSPORT, 0};
      event.transport.flags = block.rolling ? CLAP_TRANSPORT_IS_PLAYING : 0;
      return event;
    case BlockEventKind::Parameter:
      event.parameter.header = {sizeof(clap_event_param_value_t), block.offset,
                                CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
      event.parameter.param_id = instrumentParameters()[block.parameter].id;
      event.parameter.note_id = -1;
      event.parameter.port_index = -1;
      event.parameter.channel = -1;
      event.parameter.key = -1;
      event.parameter.value = block.value;
      return event;
    case BlockEventKind::Score:
      break;
  }
  event.midi.header = {sizeof(clap_event_midi_t), block.offset, CLAP_CORE_EVENT_SPACE_ID,
                       CLAP_EVENT_MIDI, 0};
  event.midi.port_index = 0;
  const std::array<uint8_t, 3> bytes = midiBytesOf(*block.event);
  std::copy(bytes.begin(), bytes.end(), event.midi.data);
  return event;
}

template <typename Extension>
const Extension* extensionOf(const ClapHosted& hosted, const char* id) {
  return static_cast<const Extension*>(hosted.plugin->get_extension(hosted.plugin, id));
}

bool startInstance(ClapHosted& hosted, double sampleRate, int32_t maxBlockFrames,
                   std::string& error) {
  const auto* factory =
      static_cast<const clap_plugin_factory_t*>(hosted.entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
  if (factory == nullptr || factory->get_plugin_count(factory) == 0) {
    error = "no plugin factory";
    return false;
  }
  hosted.host = {CLAP_VERSION_INIT, &hosted,   "quillfern-plugin-host",
                 "Quillfern",       "",        "1",
                 extensionOfHost,   noRequest, noRequest,
                 noRequest};
  const clap_plugin_descriptor_t* descriptor = factory->get_plugin_descriptor(factory, 0);
  hosted.plugin = factory->create_plugin(factory, &hosted.host, descriptor->id);
  if (hosted.plugin == nullptr || !hosted.plugin->init(hosted.plugin)) {
    error = "the plugin was not created";
    return false;
  }
  if (!hosted.plugin->activate(hosted.plugin, sampleRate, 1,
                               static_cast<uint32_t>(maxBlockFrames)) ||
      !hosted.plugin->start_processing(hosted.plugin)) {
    error = "the plugin did not start at this sample rate";
    return false;
  }
  return true;
}

}  // namespace

ClapHosted* openClap(const std::string& path, double sampleRate, int32_t maxBlockFrames,
                     std::string& error) {
  return openClapWith(path, sampleRate, maxBlockFrames, error, nullptr);
}

ClapHosted* openClapWith(const std::string& path, double sampleRate, int32_t maxBlockFrames,
                         std::string& error, const ClapHostServices* services) {
  auto hosted = std::make_unique<ClapHosted>();
  hosted->services = services;
  hosted->library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (hosted->library == nullptr) {
    error = dlerror();  // NOLINT(concurrency-mt-unsafe): the host loads from one thread
    return nullptr;
  }
  hosted->entry = static_cast<const clap_plugin_entry_t*>(dlsym(hosted->library, "clap_entry"));
  if (hosted->entry == nullptr || !hosted->entry->init(path.c_str())) {
    error = path + ": no CLAP entry";
    dlclose(hosted->library);
    return nullptr;
  }
  if (!startInstance(*hosted, sampleRate, maxBlockFrames, error)) {
    closeClap(hosted.release());
    return nullptr;
  }
  return hosted.release();
}

void closeClap(ClapHosted* hosted) {
  if (hosted->plugin != nullptr) {
    hosted->plugin->stop_processing(hosted->plugin);
    hosted->plugin->deactivate(hosted->plugin);
    hosted->plugin->destroy(hosted->plugin);
  }
  hosted->entry->deinit();
  dlclose(hosted->library);
  delete hosted;
}

void processClap(ClapHosted& hosted, const std::vector<BlockEvent>& events, uint32_t frames,
                 float* output) {
  EventList list;
  for (const BlockEvent& event : events) list.events.push_back(clapEventOf(hosted, event));
  const clap_input_events_t in{&list, eventCount, eventAt};
  const clap_output_events_t out{&hosted, takeEventOut};
  float* channels[] = {output};
  clap_audio_buffer_t buffer{channels, nullptr, 1, 0, 0};
  const clap_process_t process{
      hosted.steadyTime, frames, nullptr, nullptr, &buffer, 0, 1, &in, &out};
  hosted.plugin->process(hosted.plugin, &process);
  hosted.steadyTime += frames;
}

const clap_plugin* clapPluginOf(const ClapHosted& hosted) {
  return hosted.plugin;
}

void useClapNotes(ClapHosted& hosted, double bendRange) {
  hosted.clapNotes = true;
  hosted.clapNotesBendRange = bendRange;
}

uint32_t clapLatency(ClapHosted& hosted) {
  const auto* latency = extensionOf<clap_plugin_latency_t>(hosted, CLAP_EXT_LATENCY);
  return latency == nullptr ? 0 : latency->get(hosted.plugin);
}

namespace {

struct Stream {
  std::string text;
  std::size_t read = 0;
};

int64_t writeStream(const clap_ostream_t* stream, const void* buffer, uint64_t size) {
  static_cast<Stream*>(stream->ctx)->text.append(static_cast<const char*>(buffer), size);
  return static_cast<int64_t>(size);
}

// Hands the state over in small pieces, as a host reading a file might.
int64_t readStream(const clap_istream_t* stream, void* buffer, uint64_t size) {
  constexpr uint64_t Piece = 7;
  auto& source = *static_cast<Stream*>(stream->ctx);
  const uint64_t count = std::min({size, Piece, uint64_t{source.text.size() - source.read}});
  std::memcpy(buffer, source.text.data() + source.read, count);
  source.read += count;
  return static_cast<int64_t>(count);
}

}  // namespace

bool saveClapState(ClapHosted& hosted, std::string& state) {
  const auto* extension = extensionOf<clap_plugin_state_t>(hosted, CLAP_EXT_STATE);
  Stream stream;
  const clap_ostream_t out{&stream, writeStream};
  if (extension == nullptr || !extension->save(hosted.plugin, &out)) return false;
  state = stream.text;
  return true;
}

bool loadClapState(ClapHosted& hosted, const std::string& state) {
  const auto* extension = extensionOf<clap_plugin_state_t>(hosted, CLAP_EXT_STATE);
  Stream stream{state, 0};
  const clap_istream_t in{&stream, readStream};
  return extension != nullptr && extension->load(hosted.plugin, &in);
}
