// Quillfern as an LV2 instrument: MIDI (and the host's transport) through an atom sequence,
// one mono audio output, an integer control port for each of the window's ten controls and
// the MIDI channel, and a latency port. Control port changes are applied at the start of the
// run() that sees them, MIDI events at their frame.
//
// The host keeps the port values of a session; the state extension adds which controls have
// been changed, since a control keeps the voice's start-up value until its first change.
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/state/state.h>
#include <lv2/time/time.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

#include "engine/voice.h"
#include "plugins/lv2/lv2_ports.h"
#include "plugins/lv2/lv2_trace.h"
#include "plugins/plugin_voice.h"

namespace {

struct Uris {
  LV2_URID midiEvent;
  LV2_URID atomObject;
  LV2_URID atomBlank;
  LV2_URID atomFloat;
  LV2_URID atomString;
  LV2_URID timePosition;
  LV2_URID timeSpeed;
  LV2_URID changedControls;
};

struct Lv2Instance {
  PluginVoice voice;
  Uris uris{};
  double sampleRate = DefaultSampleRate;
  const LV2_Atom_Sequence* midiIn = nullptr;
  float* output = nullptr;
  const float* parameters[ParameterCount]{};
  float* latency = nullptr;
  float latencySamples = 0.0f;  // what the latency port reports: fixed by the sample rate
  // Set by restore(), taken by the next run(): the voice starts afresh with these controls
  // counted as changed, and takes the restored port values.
  ParameterPositions restored;
  bool restorePending = false;
  // Which controls the voice counts as changed, for save(), which may run during run().
  std::atomic<bool> changed[ParameterCount]{};
  // The model's course for the window: collected while it asks, sent out of each run().
  LV2_Atom_Sequence* tracePort = nullptr;
  Lv2TraceUris traceUris{};
  TraceRing trace;
};

Lv2Instance& instanceOf(LV2_Handle handle) {
  return *static_cast<Lv2Instance*>(handle);
}

Uris mapUris(const LV2_URID_Map& map) {
  const auto id = [&](const char* uri) { return map.map(map.handle, uri); };
  return {id(LV2_MIDI__MidiEvent), id(LV2_ATOM__Object),     id(LV2_ATOM__Blank),
          id(LV2_ATOM__Float),     id(LV2_ATOM__String),     id(LV2_TIME__Position),
          id(LV2_TIME__speed),     id(Lv2ChangedControlsUri)};
}

const LV2_URID_Map* findUridMap(const LV2_Feature* const* features) {
  for (; features != nullptr && *features != nullptr; ++features) {
    if (std::strcmp((*features)->URI, LV2_URID__map) == 0) {
      return static_cast<const LV2_URID_Map*>((*features)->data);
    }
  }
  return nullptr;
}

LV2_Handle instantiate(const LV2_Descriptor* /*descriptor*/, double sampleRate,
                       const char* /*bundlePath*/, const LV2_Feature* const* features) {
  const LV2_URID_Map* map = findUridMap(features);
  if (map == nullptr || !(sampleRate >= MinimumSampleRate && sampleRate <= MaximumSampleRate)) {
    return nullptr;
  }
  auto* instance = new Lv2Instance;
  instance->uris = mapUris(*map);
  instance->traceUris = mapTraceUris(*map);
  prepareTrace(instance->trace, sampleRate);
  instance->sampleRate = sampleRate;
  startPluginVoice(instance->voice, sampleRate, initialPositions());
  instance->latencySamples = static_cast<float>(pluginLatency(instance->voice));
  return instance;
}

void connectPort(LV2_Handle handle, uint32_t port, void* data) {
  Lv2Instance& instance = instanceOf(handle);
  if (port == Lv2MidiInPort) {
    instance.midiIn = static_cast<const LV2_Atom_Sequence*>(data);
  } else if (port == Lv2OutputPort) {
    instance.output = static_cast<float*>(data);
  } else if (port == Lv2LatencyPort) {
    instance.latency = static_cast<float*>(data);
  } else if (port == Lv2TracePort) {
    instance.tracePort = static_cast<LV2_Atom_Sequence*>(data);
  } else if (port >= Lv2FirstParameterPort && port < Lv2LatencyPort) {
    instance.parameters[port - Lv2FirstParameterPort] = static_cast<const float*>(data);
  }
}

// Silence and no note held, the settings kept.
void activate(LV2_Handle handle) {
  Lv2Instance& instance = instanceOf(handle);
  startPluginVoice(instance.voice, instance.sampleRate, instance.voice.positions);
}

void followPosition(Lv2Instance& instance,
                    const LV2_Atom_Object& position) noexcept QUILLFERN_NONBLOCKING {
  LV2_ATOM_OBJECT_FOREACH(&position, property) {
    if (property->key == instance.uris.timeSpeed &&
        property->value.type == instance.uris.atomFloat) {
      followTransport(instance.voice,
                      reinterpret_cast<const LV2_Atom_Float&>(property->value).body != 0.0f);
    }
  }
}

void applyEvent(Lv2Instance& instance, const LV2_Atom_Event& event) noexcept QUILLFERN_NONBLOCKING {
  const Uris& uris = instance.uris;
  if (event.body.type == uris.midiEvent) {
    playMidi(instance.voice, reinterpret_cast<const uint8_t*>(&event.body + 1), event.body.size);
  } else if ((event.body.type == uris.atomObject || event.body.type == uris.atomBlank) &&
             event.body.size >= sizeof(LV2_Atom_Object_Body)) {
    const auto& object = reinterpret_cast<const LV2_Atom_Object&>(event.body);
    const LV2_URID type = object.body.otype;
    if (type == uris.timePosition) followPosition(instance, object);
    if (type == instance.traceUris.traceOn || type == instance.traceUris.traceOff) {
      instance.trace.wanted.store(type == instance.traceUris.traceOn, std::memory_order_relaxed);
    }
  }
}

void applyControlPorts(Lv2Instance& instance) noexcept QUILLFERN_NONBLOCKING {
  if (instance.restorePending) {
    startPluginVoice(instance.voice, instance.sampleRate, instance.restored);
    instance.restorePending = false;
  }
  for (std::size_t index = 0; index < ParameterCount; ++index) {
    if (instance.parameters[index] != nullptr) {
      setPluginParameter(instance.voice, index, *instance.parameters[index]);
    }
    instance.changed[index].store(instance.voice.positions.changed[index],
                                  std::memory_order_relaxed);
  }
}

// The block's points to the window, after the input has been read: a host may hand both ports
// one buffer.
void sendTrace(Lv2Instance& instance, const ModelTrace* trace,
               uint32_t firstPoint) noexcept QUILLFERN_NONBLOCKING {
  if (instance.tracePort == nullptr) return;
  const uint32_t space = startTraceSequence(*instance.tracePort, instance.traceUris);
  if (trace == nullptr) return;
  appendTrace(*instance.tracePort, space, instance.traceUris, instance.trace, firstPoint,
              trace->written - firstPoint);
}

void run(LV2_Handle handle, uint32_t frames) noexcept QUILLFERN_NONBLOCKING {
  Lv2Instance& instance = instanceOf(handle);
  applyControlPorts(instance);
  if (instance.latency != nullptr) *instance.latency = instance.latencySamples;
  ModelTrace* trace = instance.tracePort != nullptr ? blockTrace(instance.trace) : nullptr;
  const uint32_t firstPoint = instance.trace.writer.written;
  uint32_t done = 0;
  if (instance.midiIn != nullptr) {
    LV2_ATOM_SEQUENCE_FOREACH(instance.midiIn, event) {
      const auto at = static_cast<uint32_t>(std::clamp<int64_t>(event->time.frames, done, frames));
      renderTraced(instance.voice, instance.output + done, at - done, trace);
      done = at;
      applyEvent(instance, *event);
    }
  }
  renderTraced(instance.voice, instance.output + done, frames - done, trace);
  sendTrace(instance, trace, firstPoint);
}

void deactivate(LV2_Handle /*handle*/) {}

void cleanup(LV2_Handle handle) {
  delete &instanceOf(handle);
}

LV2_State_Status save(LV2_Handle handle, LV2_State_Store_Function store, LV2_State_Handle state,
                      uint32_t /*flags*/, const LV2_Feature* const* /*features*/) {
  const Lv2Instance& instance = instanceOf(handle);
  ParameterPositions positions;
  for (std::size_t index = 0; index < ParameterCount; ++index) {
    positions.changed[index] = instance.changed[index].load(std::memory_order_relaxed);
  }
  const std::string symbols = changedSymbols(positions);
  return store(state, instance.uris.changedControls, symbols.c_str(), symbols.size() + 1,
               instance.uris.atomString, LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
}

LV2_State_Status restore(LV2_Handle handle, LV2_State_Retrieve_Function retrieve,
                         LV2_State_Handle state, uint32_t /*flags*/,
                         const LV2_Feature* const* /*features*/) {
  Lv2Instance& instance = instanceOf(handle);
  std::size_t size = 0;
  uint32_t type = 0;
  uint32_t valueFlags = 0;
  const void* value = retrieve(state, instance.uris.changedControls, &size, &type, &valueFlags);
  instance.restored = initialPositions();
  if (value != nullptr && type == instance.uris.atomString) {
    const auto* text = static_cast<const char*>(value);
    markChangedSymbols(std::string(text, strnlen(text, size)), instance.restored);
  }
  for (std::size_t index = 0; index < ParameterCount; ++index) {
    instance.changed[index].store(instance.restored.changed[index], std::memory_order_relaxed);
  }
  instance.restorePending = true;
  return LV2_STATE_SUCCESS;
}

const LV2_State_Interface StateInterface = {save, restore};

const void* extensionData(const char* uri) {
  return std::strcmp(uri, LV2_STATE__interface) == 0 ? &StateInterface : nullptr;
}

const LV2_Descriptor Descriptor = {Lv2PluginUri, instantiate, connectPort, activate,
                                   run,          deactivate,  cleanup,     extensionData};

}  // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
  return index == 0 ? &Descriptor : nullptr;
}
