// SPDX-License-Identifier: GPL-3.0-or-later
// Quillfern as an LV2 instrument: MIDI (and the host's transport) through an atom sequence,
// one mono audio output, a control port for each of the window's ten controls and the MIDI
// channel, in the model's own units, and a latency port. Control port changes are applied at
// the start of the run() that sees them, MIDI events at their frame. The port values are the
// whole state: the host saves and restores them. While the plugin's window asks for it, an atom
// output port carries the model's course to it.
//
// Threads: run() and connect_port() come from the host's audio class, the others from its
// instantiation class and never while run() runs; the voice is the instance's alone and no
// other thread reads it. The worker's thread makes the ring of points the first time a window
// asks for them, and hands it to run() through the ring's one atomic pointer.
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/time/time.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include "engine/voice.h"
#include "instrument/instrument_voice.h"
#include "instrument/lv2_ports.h"
#include "plugins/lv2/lv2_trace.h"

namespace {

struct Uris {
  LV2_URID midiEvent;
  LV2_URID atomObject;
  LV2_URID atomBlank;
  LV2_URID atomFloat;
  LV2_URID timePosition;
  LV2_URID timeSpeed;
};

struct Lv2Instance {
  InstrumentVoice voice;
  Uris uris{};
  double sampleRate = DefaultSampleRate;
  const LV2_Atom_Sequence* midiIn = nullptr;
  float* output = nullptr;
  // A control port not connected points at its value last applied, and so never moves.
  const float* parameters[ParameterCount]{};
  // The port values last applied: a port that keeps its value costs nothing (NaN: none yet).
  float applied[ParameterCount]{};
  float* latency = nullptr;
  float latencySamples = 0.0f;  // what the latency port reports: the rate's and note start's
  // The model's course for the window: collected while it asks, sent out of each run().
  LV2_Atom_Sequence* tracePort = nullptr;
  Lv2TraceUris traceUris{};
  TraceRing trace;
  const LV2_Worker_Schedule* schedule = nullptr;  // the host's worker, if it has one
  bool ringAsked = false;  // run() asked the worker for the ring: once is enough
};

Lv2Instance& instanceOf(LV2_Handle handle) {
  return *static_cast<Lv2Instance*>(handle);
}

Uris mapUris(const LV2_URID_Map& map) {
  const auto id = [&](const char* uri) { return map.map(map.handle, uri); };
  return {id(LV2_MIDI__MidiEvent), id(LV2_ATOM__Object),   id(LV2_ATOM__Blank),
          id(LV2_ATOM__Float),     id(LV2_TIME__Position), id(LV2_TIME__speed)};
}

const void* findFeature(const LV2_Feature* const* features, const char* uri) {
  for (; features != nullptr && *features != nullptr; ++features) {
    if (std::strcmp((*features)->URI, uri) == 0) return (*features)->data;
  }
  return nullptr;
}

LV2_Handle instantiate(const LV2_Descriptor* /*descriptor*/, double sampleRate,
                       const char* /*bundlePath*/, const LV2_Feature* const* features) {
  const auto* map = static_cast<const LV2_URID_Map*>(findFeature(features, LV2_URID__map));
  if (map == nullptr || !(sampleRate >= MinimumSampleRate && sampleRate <= MaximumSampleRate)) {
    return nullptr;
  }
  auto* instance = new Lv2Instance;
  instance->uris = mapUris(*map);
  instance->traceUris = mapTraceUris(*map);
  prepareTrace(instance->trace, sampleRate);
  // The ring, as small as a block's points, waits for a window to ask, and the worker makes it
  // then. A host without a worker gives no other thread to make it on, so it is made here.
  instance->schedule =
      static_cast<const LV2_Worker_Schedule*>(findFeature(features, LV2_WORKER__schedule));
  if (instance->schedule == nullptr) makeTraceBuffer(instance->trace, Lv2TracePoints);
  instance->sampleRate = sampleRate;
  startInstrumentVoice(instance->voice, sampleRate, defaultValues());
  std::fill(std::begin(instance->applied), std::end(instance->applied),
            std::numeric_limits<float>::quiet_NaN());
  for (std::size_t index = 0; index < ParameterCount; ++index) {
    instance->parameters[index] = &instance->applied[index];
  }
  instance->latencySamples = static_cast<float>(latencyOf(sampleRate, instance->voice.values));
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
  } else {
    for (std::size_t index = 0; index < ParameterCount; ++index) {
      if (lv2PortOf(index) != port) continue;
      instance.parameters[index] =
          data != nullptr ? static_cast<const float*>(data) : &instance.applied[index];
    }
  }
}

// Silence and no note held, the settings kept.
void activate(LV2_Handle handle) {
  Lv2Instance& instance = instanceOf(handle);
  startInstrumentVoice(instance.voice, instance.sampleRate, instance.voice.values);
}

const LV2_Atom& atomOf(const LV2_Atom_Event& event) noexcept QUILLFERN_NONBLOCKING {
  return event.body;
}

const LV2_Atom& atomOf(const LV2_Atom_Property_Body& property) noexcept QUILLFERN_NONBLOCKING {
  return property.value;
}

// A sequence's events and an object's properties alike: a head whose atom gives the size of the
// body after it, padded to 8 bytes, in `bytes` from `first` on. A host or a broken message may
// give a size past the end, where lv2's own iteration would read on: the walk ends at the first
// record that does not fit, as nothing after it can be found.
template <typename Record, typename Visit>
void forEachRecord(const void* first, uint32_t bytes,
                   const Visit& visit) noexcept QUILLFERN_NONBLOCKING {
  constexpr uint64_t Padding = 7;
  const auto* start = static_cast<const uint8_t*>(first);
  for (uint64_t offset = 0; offset + sizeof(Record) <= bytes;) {
    const auto& record = *reinterpret_cast<const Record*>(start + offset);
    const uint64_t size = sizeof(Record) + uint64_t{atomOf(record).size};
    if (offset + size > bytes) return;
    visit(record);
    offset += (size + Padding) & ~Padding;
  }
}

void followPosition(Lv2Instance& instance,
                    const LV2_Atom_Object& position) noexcept QUILLFERN_NONBLOCKING {
  forEachRecord<LV2_Atom_Property_Body>(
      &position.body + 1, position.atom.size - sizeof(LV2_Atom_Object_Body),
      [&instance](const LV2_Atom_Property_Body& property) noexcept QUILLFERN_NONBLOCKING {
        if (property.key == instance.uris.timeSpeed &&
            property.value.type == instance.uris.atomFloat &&
            property.value.size >= sizeof(float)) {
          followTransport(instance.voice,
                          reinterpret_cast<const LV2_Atom_Float&>(property.value).body != 0.0f);
        }
      });
}

// The host's schedule_work is real-time safe by the LV2 worker's contract, made to be called
// from run(), though its C type cannot say so to clang's effect analysis.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wfunction-effects"
#endif
bool scheduleWork(const LV2_Worker_Schedule& schedule, uint32_t size,
                  const void* data) noexcept QUILLFERN_NONBLOCKING {
  return schedule.schedule_work(schedule.handle, size, data) == LV2_WORKER_SUCCESS;
}
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

// The first window's request: the worker makes the ring (see work()).
void askForRing(Lv2Instance& instance) noexcept QUILLFERN_NONBLOCKING {
  if (instance.ringAsked || instance.schedule == nullptr) return;
  const uint32_t capacity = Lv2TracePoints;
  instance.ringAsked = scheduleWork(*instance.schedule, sizeof capacity, &capacity);
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
    if (type == instance.traceUris.traceOn) askForRing(instance);
  }
}

// The host hands every port over in every block, mostly unchanged: one pass over their bits
// tells whether any moved, with neither a branch nor a floating-point comparison a port (a NaN
// that stays the same NaN has nothing new to say, and playableValue ignores NaN anyway).
bool anyPortMoved(const Lv2Instance& instance) noexcept QUILLFERN_NONBLOCKING {
  uint32_t moved = 0;
#pragma GCC unroll 32  // a port's two loads and two operations, with no loop around them
  for (std::size_t index = 0; index < ParameterCount; ++index) {
    moved |= std::bit_cast<uint32_t>(*instance.parameters[index]) ^
             std::bit_cast<uint32_t>(instance.applied[index]);
  }
  return moved != 0;
}

void applyControlPorts(Lv2Instance& instance) noexcept QUILLFERN_NONBLOCKING {
  if (!anyPortMoved(instance)) return;
  const auto parameters = instrumentParameters();
  for (std::size_t index = 0; index < ParameterCount; ++index) {
    // One that kept its value costs nothing.
    const float port = *instance.parameters[index];
    if (port == instance.applied[index]) continue;
    instance.applied[index] = port;
    setInstrumentParameter(instance.voice, index, valueOfPortFloat(parameters[index], port));
  }
  instance.latencySamples =
      static_cast<float>(latencyOf(instance.sampleRate, instance.voice.values));
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
  const LV2_Atom_Sequence* input = instance.midiIn;
  if (input != nullptr && input->atom.size >= sizeof(LV2_Atom_Sequence_Body)) {
    forEachRecord<LV2_Atom_Event>(
        &input->body + 1, input->atom.size - sizeof(LV2_Atom_Sequence_Body),
        [&](const LV2_Atom_Event& event) noexcept QUILLFERN_NONBLOCKING {
          const auto at =
              static_cast<uint32_t>(std::clamp<int64_t>(event.time.frames, done, frames));
          renderTraced(instance.voice, instance.output + done, at - done, trace);
          done = at;
          applyEvent(instance, event);
        });
  }
  renderTraced(instance.voice, instance.output + done, frames - done, trace);
  if (trace != nullptr) publishLevel(instance.trace, instance.voice, instance.output, frames);
  sendTrace(instance, trace, firstPoint);
}

void deactivate(LV2_Handle /*handle*/) {}

void cleanup(LV2_Handle handle) {
  delete &instanceOf(handle);
}

// In the worker's thread: the ring is published through its atomic pointer, which run() reads
// at a block's start, so nothing is left to hand back.
LV2_Worker_Status work(LV2_Handle handle, LV2_Worker_Respond_Function /*respond*/,
                       LV2_Worker_Respond_Handle /*respondHandle*/, uint32_t size,
                       const void* data) {
  uint32_t capacity = 0;
  if (size != sizeof capacity) return LV2_WORKER_ERR_UNKNOWN;
  std::memcpy(&capacity, data, sizeof capacity);
  if (capacity != Lv2TracePoints) return LV2_WORKER_ERR_UNKNOWN;
  makeTraceBuffer(instanceOf(handle).trace, capacity);
  return LV2_WORKER_SUCCESS;
}

LV2_Worker_Status workResponse(LV2_Handle /*handle*/, uint32_t /*size*/,
                               const void* /*data*/) noexcept QUILLFERN_NONBLOCKING {
  return LV2_WORKER_SUCCESS;
}

const LV2_Worker_Interface Worker = {work, workResponse, nullptr};

const void* extensionData(const char* uri) {
  return std::strcmp(uri, LV2_WORKER__interface) == 0 ? &Worker : nullptr;
}

const LV2_Descriptor Descriptor = {Lv2PluginUri, instantiate, connectPort, activate,
                                   run,          deactivate,  cleanup,     extensionData};

}  // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
  return index == 0 ? &Descriptor : nullptr;
}
