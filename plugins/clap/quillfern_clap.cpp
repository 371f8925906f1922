// SPDX-License-Identifier: GPL-3.0-or-later
// Quillfern as a CLAP instrument: one mono output, MIDI in, the window's ten controls and the
// MIDI channel as parameters in the model's own units. Every MIDI and parameter event is
// applied at its own sample: the block is rendered in pieces between events.
//
// Threads. The main thread calls the factory, init, destroy, activate, deactivate, the
// parameters' info, values and texts, the state and the latency, and flush while the instance
// is inactive; the audio thread calls process, reset, start and stop processing, and flush
// while it is active. The voice belongs to the audio thread while the instance is active, to
// the main thread otherwise (activate starts it afresh). What the main thread reads of the
// audio thread's work is published whole, atomically: one atomic double per parameter, the
// value that plays. A state loaded while active waits in those values, and the audio thread
// restarts the voice from them at the start of its next block.
#include <clap/entry.h>
#include <clap/ext/audio-ports.h>
#include <clap/ext/latency.h>
#include <clap/ext/note-ports.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/plugin-factory.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/voice.h"
#include "instrument/instrument_voice.h"
#include "instrument/state.h"
#include "plugins/clap/render.h"
#include "plugins/clap/voice_info.h"
#include "plugins/gui/clap_window.h"

namespace {

constexpr auto relaxed = std::memory_order_relaxed;
constexpr clap_id MainPort = 0;
constexpr std::size_t StateLimit = 1 << 16;  // bytes: far above any state this version writes

const char* Features[] = {CLAP_PLUGIN_FEATURE_INSTRUMENT, CLAP_PLUGIN_FEATURE_SYNTHESIZER,
                          CLAP_PLUGIN_FEATURE_MONO, nullptr};

const clap_plugin_descriptor_t Descriptor = {
    CLAP_VERSION_INIT,
    "org.quillfern.synth",
    "Quillfern",
    "Quillfern",
    "",
    "",
    "",
    QUILLFERN_VERSION,
    "A neuron model played as an instrument: the Hindmarsh-Rose equations at the pitch of the "
    "note",
    Features,
};

// The values the main thread reads and saves, written by whichever thread applies a change.
using SharedValues = std::atomic<double>[ParameterCount];

struct ClapInstance {
  clap_plugin_t plugin{};
  const clap_host_t* host = nullptr;
  const clap_host_params_t* hostParams = nullptr;
  const clap_host_latency_t* hostLatency = nullptr;
  const clap_host_voice_info_t* hostVoiceInfo = nullptr;
  std::atomic<bool> voiceCountChanged{false};  // the host is to hear of it on the main thread
  InstrumentVoice voice;
  SharedValues shared{};
  ClapWindowLink window;
  std::atomic<bool> reloadPending{false};
  std::atomic<bool> active{false};
  double sampleRate = DefaultSampleRate;  // set by activate, before the audio thread runs
  // Main thread: the latency the host was last told of (before activation, the one at 44100 Hz).
  uint32_t reportedLatency = static_cast<uint32_t>(latencySamplesAt(DefaultSampleRate));
};

ClapInstance& instanceOf(const clap_plugin_t* plugin) {
  return *static_cast<ClapInstance*>(plugin->plugin_data);
}

}  // namespace

ClapWindowLink& windowLinkOf(const clap_plugin_t* plugin) {
  return instanceOf(plugin).window;
}

namespace {

ParameterValues snapshotOf(const SharedValues& shared) noexcept QUILLFERN_NONBLOCKING {
  ParameterValues values;
  for (std::size_t index = 0; index < ParameterCount; ++index) {
    values.value[index] = shared[index].load(relaxed);
  }
  return values;
}

void publishAll(SharedValues& shared, const ParameterValues& values) noexcept {
  for (std::size_t index = 0; index < ParameterCount; ++index) {
    shared[index].store(values.value[index], relaxed);
  }
}

// A loaded state replaces the voice, as a fresh instance with those settings would play.
void takeReload(ClapInstance& instance) noexcept QUILLFERN_NONBLOCKING {
  // A plain load first: the exchange, a locked instruction, costs more than a sample.
  if (!instance.reloadPending.load(std::memory_order_acquire)) return;
  if (!instance.reloadPending.exchange(false, std::memory_order_acquire)) return;
  startInstrumentVoice(instance.voice, instance.sampleRate, snapshotOf(instance.shared));
}

void requestRestart(const ClapInstance& instance) noexcept QUILLFERN_NONBLOCKING;
void requestCallback(const ClapInstance& instance) noexcept QUILLFERN_NONBLOCKING;

// A new note start changes the latency, which may change only while the instance is inactive:
// the host is asked to restart it, and activate() reports the new one.
void applyParameter(ClapInstance& instance,
                    const clap_event_param_value_t& event) noexcept QUILLFERN_NONBLOCKING {
  const int32_t index = parameterIndexOfId(event.param_id);
  if (index < 0) return;
  const double before = instance.voice.values.value[index];
  setInstrumentParameter(instance.voice, static_cast<std::size_t>(index), event.value);
  const double now = instance.voice.values.value[index];
  instance.shared[index].store(now, relaxed);
  if (event.param_id == NoteStartSetting && now != before) requestRestart(instance);
  if (event.param_id == VoicesParameterId && now != before) {
    instance.voiceCountChanged.store(true, relaxed);
    requestCallback(instance);
  }
}

// The host's input event list belongs to its audio thread: its functions are real-time safe by
// the CLAP contract, though their C types cannot say so to clang's effect analysis.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wfunction-effects"
#endif
uint32_t eventCount(const clap_input_events_t& events) noexcept QUILLFERN_NONBLOCKING {
  return events.size(&events);
}

const clap_event_header_t& eventAt(const clap_input_events_t& events,
                                   uint32_t index) noexcept QUILLFERN_NONBLOCKING {
  return *events.get(&events, index);
}

void pushEvent(const clap_output_events_t& events,
               const clap_event_header_t& header) noexcept QUILLFERN_NONBLOCKING {
  events.try_push(&events, &header);
}

// Thread-safe by the CLAP contract.
void requestRestart(const ClapInstance& instance) noexcept QUILLFERN_NONBLOCKING {
  instance.host->request_restart(instance.host);
}

void requestCallback(const ClapInstance& instance) noexcept QUILLFERN_NONBLOCKING {
  instance.host->request_callback(instance.host);
}
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

bool isRolling(uint32_t transportFlags) noexcept QUILLFERN_NONBLOCKING {
  return (transportFlags & CLAP_TRANSPORT_IS_PLAYING) != 0;
}

// CLAP's channels are 0 to 15, or -1 for all of them: a channel past 15 is none we listen to (a
// mask would play channel 17 as channel 1).
bool isClapChannel(int16_t channel) noexcept QUILLFERN_NONBLOCKING {
  return channel < LastMidiChannel;
}

void playNote(InstrumentVoice& voice,
              const clap_event_note_t& note) noexcept QUILLFERN_NONBLOCKING {
  if (!isClapChannel(note.channel)) return;
  const NoteEventKind kind = note.header.type == CLAP_EVENT_NOTE_ON    ? NoteEventKind::On
                             : note.header.type == CLAP_EVENT_NOTE_OFF ? NoteEventKind::Off
                                                                       : NoteEventKind::Choke;
  playNoteEvent(voice, kind, note.channel, note.key, note.velocity, note.note_id);
}

// Tuning, pressure and brightness; the other expressions (pan, vibrato, ...) have no place in a
// neuron's voice.
void playExpression(InstrumentVoice& voice,
                    const clap_event_note_expression_t& expression) noexcept QUILLFERN_NONBLOCKING {
  if (!isClapChannel(expression.channel)) return;
  NoteEventKind kind = NoteEventKind::Tuning;
  switch (expression.expression_id) {
    case CLAP_NOTE_EXPRESSION_TUNING:
      break;
    case CLAP_NOTE_EXPRESSION_PRESSURE:
      kind = NoteEventKind::Pressure;
      break;
    case CLAP_NOTE_EXPRESSION_BRIGHTNESS:
      kind = NoteEventKind::Brightness;
      break;
    default:
      return;
  }
  playNoteEvent(voice, kind, expression.channel, expression.key, expression.value,
                expression.note_id);
}

// The notes whose voices fell silent, told to the host at `time`, so that it can follow them.
void reportEndedNotes(InstrumentVoice& voice, const clap_output_events_t& out,
                      uint32_t time) noexcept QUILLFERN_NONBLOCKING {
  for (int32_t index = 0; index < voice.endedCount; ++index) {
    const VoiceSlot& slot = voice.ended[static_cast<std::size_t>(index)];
    clap_event_note_t end{};
    end.header = {sizeof end, time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_NOTE_END, 0};
    end.note_id = slot.noteId;
    end.port_index = static_cast<int16_t>(MainPort);
    end.channel = static_cast<int16_t>(slot.channel);
    end.key = static_cast<int16_t>(slot.key);
    pushEvent(out, end.header);
  }
  voice.endedCount = 0;
}

void applyEvent(ClapInstance& instance,
                const clap_event_header_t& header) noexcept QUILLFERN_NONBLOCKING {
  if (header.space_id != CLAP_CORE_EVENT_SPACE_ID) return;
  switch (header.type) {
    case CLAP_EVENT_MIDI: {
      const auto& midi = reinterpret_cast<const clap_event_midi_t&>(header);
      playMidi(instance.voice, midi.data, sizeof midi.data);
      break;
    }
    case CLAP_EVENT_NOTE_ON:
    case CLAP_EVENT_NOTE_OFF:
    case CLAP_EVENT_NOTE_CHOKE:
      playNote(instance.voice, reinterpret_cast<const clap_event_note_t&>(header));
      break;
    case CLAP_EVENT_NOTE_EXPRESSION:
      playExpression(instance.voice, reinterpret_cast<const clap_event_note_expression_t&>(header));
      break;
    case CLAP_EVENT_PARAM_VALUE:
      applyParameter(instance, reinterpret_cast<const clap_event_param_value_t&>(header));
      break;
    case CLAP_EVENT_PARAM_MOD: {
      const auto& mod = reinterpret_cast<const clap_event_param_mod_t&>(header);
      modulateNotes(instance.voice, mod.param_id, mod.note_id, mod.channel, mod.key, mod.amount);
      break;
    }
    case CLAP_EVENT_TRANSPORT:
      followTransport(instance.voice,
                      isRolling(reinterpret_cast<const clap_event_transport_t&>(header).flags));
      break;
    default:
      break;
  }
}

void takeWindowChanges(ClapInstance& instance,
                       const clap_output_events_t& out) noexcept QUILLFERN_NONBLOCKING;

clap_process_status process(const clap_plugin_t* plugin,
                            const clap_process_t* block) noexcept QUILLFERN_NONBLOCKING {
  ClapInstance& instance = instanceOf(plugin);
  takeReload(instance);
  if (windowChangeWaits(instance.window.changes)) takeWindowChanges(instance, *block->out_events);
  if (block->audio_outputs_count == 0 || block->audio_outputs[0].channel_count == 0) {
    return CLAP_PROCESS_ERROR;
  }
  float* output = block->audio_outputs[0].data32[0];
  if (block->transport != nullptr)
    followTransport(instance.voice, isRolling(block->transport->flags));
  const uint32_t frames = block->frames_count;
  const uint32_t events = eventCount(*block->in_events);
  ModelTrace* trace = blockTrace(instance.window.trace);
  uint32_t done = 0;
  for (uint32_t event = 0; event < events; ++event) {
    const clap_event_header_t& header = eventAt(*block->in_events, event);
    const uint32_t at = std::clamp(header.time, done, frames);
    renderTraced(instance.voice, output + done, at - done, trace);
    done = at;
    if (instance.voice.endedCount > 0) reportEndedNotes(instance.voice, *block->out_events, done);
    applyEvent(instance, header);
  }
  renderTraced(instance.voice, output + done, frames - done, trace);
  if (trace != nullptr) publishLevel(instance.window.trace, instance.voice, output, frames);
  if (instance.voice.endedCount > 0) {
    reportEndedNotes(instance.voice, *block->out_events, frames > 0 ? frames - 1 : 0);
  }
  publishTrace(instance.window.trace, trace);
  return CLAP_PROCESS_CONTINUE;
}

// Plugin.

bool init(const clap_plugin_t* plugin) {
  ClapInstance& instance = instanceOf(plugin);
  instance.hostParams = static_cast<const clap_host_params_t*>(
      instance.host->get_extension(instance.host, CLAP_EXT_PARAMS));
  instance.hostLatency = static_cast<const clap_host_latency_t*>(
      instance.host->get_extension(instance.host, CLAP_EXT_LATENCY));
  instance.hostVoiceInfo = static_cast<const clap_host_voice_info_t*>(
      instance.host->get_extension(instance.host, CLAP_EXT_VOICE_INFO));
  return true;
}

void destroy(const clap_plugin_t* plugin) {
  closeClapWindow(instanceOf(plugin).window);
  delete &instanceOf(plugin);
}

// The latency follows the rate and the note start: the host hears of a change on the main
// thread while the instance is inactive or being activated, when the latency may change.
void reportLatency(ClapInstance& instance, uint32_t latency) {
  if (latency == instance.reportedLatency) return;
  instance.reportedLatency = latency;
  if (instance.hostLatency != nullptr) instance.hostLatency->changed(instance.host);
}

// Values changed on the main thread (a flush while inactive, a loaded state): an inactive
// instance reports their latency at once, an active one asks to be restarted when it differs.
void followLatency(ClapInstance& instance, const ParameterValues& values) {
  const uint32_t latency = latencyOf(instance.sampleRate, values);
  if (!instance.active) {
    reportLatency(instance, latency);
  } else if (latency != instance.reportedLatency) {
    requestRestart(instance);
  }
}

bool activate(const clap_plugin_t* plugin, double sampleRate, uint32_t /*minFrames*/,
              uint32_t /*maxFrames*/) {
  if (!(sampleRate >= MinimumSampleRate && sampleRate <= MaximumSampleRate)) return false;
  ClapInstance& instance = instanceOf(plugin);
  instance.sampleRate = sampleRate;
  instance.reloadPending.store(false);
  prepareTrace(instance.window.trace, sampleRate);
  startInstrumentVoice(instance.voice, sampleRate, snapshotOf(instance.shared));
  reportLatency(instance, latencyOf(sampleRate, instance.voice.values));
  instance.active.store(true);
  return true;
}

void deactivate(const clap_plugin_t* plugin) {
  instanceOf(plugin).active.store(false);
}

bool startProcessing(const clap_plugin_t* /*plugin*/) {
  return true;
}

void stopProcessing(const clap_plugin_t* /*plugin*/) {}

// Silence and no note held, the settings kept.
void reset(const clap_plugin_t* plugin) noexcept QUILLFERN_NONBLOCKING {
  ClapInstance& instance = instanceOf(plugin);
  startInstrumentVoice(instance.voice, instance.sampleRate, instance.voice.values);
}

// A new voice count, heard by the audio thread, goes to the host from here.
void onMainThread(const clap_plugin_t* plugin) {
  ClapInstance& instance = instanceOf(plugin);
  if (instance.voiceCountChanged.exchange(false) && instance.hostVoiceInfo != nullptr) {
    instance.hostVoiceInfo->changed(instance.host);
  }
}

// Audio and note ports: one mono output, one MIDI input.

uint32_t onePortOut(const clap_plugin_t* /*plugin*/, bool isInput) {
  return isInput ? 0 : 1;
}

uint32_t onePortIn(const clap_plugin_t* /*plugin*/, bool isInput) {
  return isInput ? 1 : 0;
}

bool audioPort(const clap_plugin_t* /*plugin*/, uint32_t index, bool isInput,
               clap_audio_port_info_t* info) {
  if (isInput || index != 0) return false;
  *info = {};
  info->id = MainPort;
  std::snprintf(info->name, sizeof info->name, "Output");
  info->flags = CLAP_AUDIO_PORT_IS_MAIN;
  info->channel_count = 1;
  info->port_type = CLAP_PORT_MONO;
  info->in_place_pair = CLAP_INVALID_ID;
  return true;
}

bool notePort(const clap_plugin_t* /*plugin*/, uint32_t index, bool isInput,
              clap_note_port_info_t* info) {
  if (!isInput || index != 0) return false;
  *info = {};
  info->id = MainPort;
  info->supported_dialects = CLAP_NOTE_DIALECT_CLAP | CLAP_NOTE_DIALECT_MIDI;
  info->preferred_dialect = CLAP_NOTE_DIALECT_CLAP;
  std::snprintf(info->name, sizeof info->name, "MIDI in");
  return true;
}

// Parameters.

const InstrumentParameter* parameterOf(clap_id id) {
  const int32_t index = parameterIndexOfId(id);
  return index < 0 ? nullptr : &instrumentParameters()[static_cast<std::size_t>(index)];
}

uint32_t parameterCount(const clap_plugin_t* /*plugin*/) {
  return ParameterCount;
}

clap_param_info_flags flagsOf(const InstrumentParameter& parameter) {
  clap_param_info_flags flags = parameter.automatable ? CLAP_PARAM_IS_AUTOMATABLE : 0;
  // CLAP steps through whole numbers only: s, whose steps are 2.8 and 4.0, is no stepped
  // parameter to it; the plugin takes the nearer step.
  if (parameter.scale == ParameterScale::Enumeration || parameter.scale == ParameterScale::Toggle) {
    flags |= CLAP_PARAM_IS_STEPPED;
  }
  if (std::find(PerNoteParameterIds.begin(), PerNoteParameterIds.end(), parameter.id) !=
      PerNoteParameterIds.end()) {
    flags |= CLAP_PARAM_IS_MODULATABLE | CLAP_PARAM_IS_MODULATABLE_PER_NOTE_ID |
             CLAP_PARAM_IS_MODULATABLE_PER_KEY | CLAP_PARAM_IS_MODULATABLE_PER_CHANNEL |
             CLAP_PARAM_IS_MODULATABLE_PER_PORT;
  }
  return flags;
}

bool parameterInfo(const clap_plugin_t* /*plugin*/, uint32_t index, clap_param_info_t* info) {
  if (index >= ParameterCount) return false;
  const InstrumentParameter& parameter = instrumentParameters()[index];
  *info = {};
  info->id = parameter.id;
  info->flags = flagsOf(parameter);
  std::snprintf(info->name, sizeof info->name, "%s", parameter.name);
  std::snprintf(info->module, sizeof info->module, "%s", parameterGroupName(parameter.group));
  info->min_value = parameter.minimum;
  info->max_value = parameter.maximum;
  info->default_value = parameter.defaultValue;
  return true;
}

bool parameterValue(const clap_plugin_t* plugin, clap_id id, double* value) {
  const int32_t index = parameterIndexOfId(id);
  if (index < 0) return false;
  *value = instanceOf(plugin).shared[index].load(relaxed);
  return true;
}

bool valueToText(const clap_plugin_t* /*plugin*/, clap_id id, double value, char* text,
                 uint32_t size) {
  const InstrumentParameter* parameter = parameterOf(id);
  if (parameter == nullptr || size == 0 || std::isnan(value)) return false;
  formatParameterValue(*parameter, value, text, size);
  return true;
}

bool textToValue(const clap_plugin_t* /*plugin*/, clap_id id, const char* text, double* value) {
  const InstrumentParameter* parameter = parameterOf(id);
  return parameter != nullptr && parseParameterText(*parameter, text, *value);
}

// A parameter change while inactive, on the main thread: it waits in `shared` for the next
// activation.
void keepParameter(SharedValues& shared,
                   const clap_event_param_value_t& change) noexcept QUILLFERN_NONBLOCKING {
  const int32_t index = parameterIndexOfId(change.param_id);
  if (index < 0) return;
  const double playable =
      playableValue(instrumentParameters()[static_cast<std::size_t>(index)], change.value);
  if (!std::isnan(playable)) shared[index].store(playable, relaxed);
}

// The window's gestures, at the start of a block or in a flush: applied as the host's own
// changes are, then told to the host, so that it records them.
void takeWindowChanges(ClapInstance& instance,
                       const clap_output_events_t& out) noexcept QUILLFERN_NONBLOCKING {
  WindowChange change;
  while (takeWindowChange(instance.window.changes, change)) {
    if (isKeyChange(change)) {
      // Live only: a key of an inactive instance has no voice to play.
      if (instance.active) {
        const NoteEventKind kind =
            change.kind == WindowChange::Kind::KeyDown ? NoteEventKind::On : NoteEventKind::Off;
        playNoteEvent(instance.voice, kind, -1, static_cast<int32_t>(change.index), change.value);
      }
      continue;
    }
    const ClapChangeEvent event = clapEventOf(change);
    if (change.kind == WindowChange::Kind::Value) {
      if (instance.active) {
        applyParameter(instance, event.value);
      } else {
        keepParameter(instance.shared, event.value);
      }
    }
    pushEvent(out, event.header);
  }
}

// Parameter changes outside process(): on the audio thread while active, else on the main
// thread.
void flush(const clap_plugin_t* plugin, const clap_input_events_t* in,
           const clap_output_events_t* out) {
  ClapInstance& instance = instanceOf(plugin);
  const bool active = instance.active.load();
  if (active) takeReload(instance);
  for (uint32_t event = 0; event < in->size(in); ++event) {
    const clap_event_header_t* header = in->get(in, event);
    if (header->space_id != CLAP_CORE_EVENT_SPACE_ID || header->type != CLAP_EVENT_PARAM_VALUE) {
      continue;
    }
    const auto& change = *reinterpret_cast<const clap_event_param_value_t*>(header);
    if (active) {
      applyParameter(instance, change);
    } else {
      keepParameter(instance.shared, change);
    }
  }
  takeWindowChanges(instance, *out);
  if (!active) followLatency(instance, snapshotOf(instance.shared));
}

// State: the text of stateText().

bool saveState(const clap_plugin_t* plugin, const clap_ostream_t* stream) {
  const std::string text = stateText(snapshotOf(instanceOf(plugin).shared));
  for (std::size_t written = 0; written < text.size();) {
    const int64_t wrote = stream->write(stream, text.data() + written, text.size() - written);
    if (wrote <= 0) return false;
    written += static_cast<std::size_t>(wrote);
  }
  return true;
}

bool readAll(const clap_istream_t* stream, std::string& text) {
  char chunk[4096];
  for (;;) {
    const int64_t read = stream->read(stream, chunk, sizeof chunk);
    if (read < 0) return false;
    if (read == 0) return true;
    text.append(chunk, static_cast<std::size_t>(read));
    if (text.size() > StateLimit) return false;
  }
}

bool loadState(const clap_plugin_t* plugin, const clap_istream_t* stream) {
  ClapInstance& instance = instanceOf(plugin);
  std::string text;
  ParameterValues values;
  if (!readAll(stream, text) || !parseStateText(text, values)) return false;
  publishAll(instance.shared, values);
  if (instance.active) instance.reloadPending.store(true, std::memory_order_release);
  followLatency(instance, values);
  if (instance.hostParams != nullptr) {
    instance.hostParams->rescan(instance.host, CLAP_PARAM_RESCAN_VALUES);
  }
  return true;
}

// Latency and render mode.

uint32_t latency(const clap_plugin_t* plugin) {
  return instanceOf(plugin).reportedLatency;
}

bool noHardRealtimeRequirement(const clap_plugin_t* /*plugin*/) {
  return false;
}

// The voice renders the same samples in either mode.
bool setRenderMode(const clap_plugin_t* /*plugin*/, clap_plugin_render_mode /*mode*/) {
  return true;
}

const clap_plugin_audio_ports_t AudioPorts = {onePortOut, audioPort};
const clap_plugin_note_ports_t NotePorts = {onePortIn, notePort};
const clap_plugin_params_t Params = {parameterCount, parameterInfo, parameterValue,
                                     valueToText,    textToValue,   flush};
const clap_plugin_state_t State = {saveState, loadState};
const clap_plugin_latency_t Latency = {latency};
const clap_plugin_render_t Render = {noHardRealtimeRequirement, setRenderMode};

// Voices: as many as the parameter asks for.
bool voiceInfo(const clap_plugin_t* plugin, clap_voice_info_t* info) {
  const int32_t index = parameterIndexOfId(VoicesParameterId);
  const auto voices = static_cast<uint32_t>(instanceOf(plugin).shared[index].load(relaxed));
  *info = {voices, voices, 0};
  return true;
}
const clap_plugin_voice_info_t VoiceInfo = {voiceInfo};

const void* extension(const clap_plugin_t* /*plugin*/, const char* id) {
  const std::string_view name = id;
  if (name == CLAP_EXT_AUDIO_PORTS) return &AudioPorts;
  if (name == CLAP_EXT_NOTE_PORTS) return &NotePorts;
  if (name == CLAP_EXT_PARAMS) return &Params;
  if (name == CLAP_EXT_STATE) return &State;
  if (name == CLAP_EXT_LATENCY) return &Latency;
  if (name == CLAP_EXT_RENDER) return &Render;
  if (name == CLAP_EXT_VOICE_INFO) return &VoiceInfo;
  return clapWindowExtension(id);
}

const clap_plugin_t* createInstance(const clap_host_t* host) {
  auto* instance = new ClapInstance;
  instance->host = host;
  instance->window.plugin = &instance->plugin;
  instance->window.host = host;
  publishAll(instance->shared, defaultValues());
  startInstrumentVoice(instance->voice, DefaultSampleRate, defaultValues());
  instance->plugin = {&Descriptor,     instance,       init,  destroy, activate,  deactivate,
                      startProcessing, stopProcessing, reset, process, extension, onMainThread};
  return &instance->plugin;
}

// Factory and entry.

uint32_t pluginCount(const clap_plugin_factory_t* /*factory*/) {
  return 1;
}

const clap_plugin_descriptor_t* descriptorAt(const clap_plugin_factory_t* /*factory*/,
                                             uint32_t index) {
  return index == 0 ? &Descriptor : nullptr;
}

const clap_plugin_t* createPlugin(const clap_plugin_factory_t* /*factory*/, const clap_host_t* host,
                                  const char* id) {
  if (!clap_version_is_compatible(host->clap_version) || std::strcmp(id, Descriptor.id) != 0) {
    return nullptr;
  }
  return createInstance(host);
}

const clap_plugin_factory_t Factory = {pluginCount, descriptorAt, createPlugin};

bool entryInit(const char* /*path*/) {
  return true;
}

void entryDeinit() {}

const void* factory(const char* id) {
  return std::strcmp(id, CLAP_PLUGIN_FACTORY_ID) == 0 ? &Factory : nullptr;
}

}  // namespace

extern "C" CLAP_EXPORT const clap_plugin_entry_t clap_entry = {CLAP_VERSION_INIT, entryInit,
                                                               entryDeinit, factory};
