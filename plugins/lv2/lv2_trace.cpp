// SPDX-License-Identifier: GPL-3.0-or-later
#include "plugins/lv2/lv2_trace.h"

#include <lv2/atom/util.h>

#include <algorithm>
#include <cstring>

#include "instrument/lv2_ports.h"

namespace {

// The trace object: its rate, peak, note's points and voices as float properties, its points as a
// vector of floats after them.
struct TraceObject {
  LV2_Atom atom;
  LV2_Atom_Object_Body object;
  LV2_Atom_Property_Body rateKey;
  float rate;
  float padding;
  LV2_Atom_Property_Body peakKey;
  float peak;
  float peakPadding;
  LV2_Atom_Property_Body notePointsKey;
  float notePoints;  // whole numbers, exact up to 2^24 points (five minutes and more)
  float notePadding;
  LV2_Atom_Property_Body voicesKey;
  float voices;  // whole numbers, 0 to MostVoices
  float voicesPadding;
  LV2_Atom_Property_Body pointsKey;
  LV2_Atom_Vector_Body vector;
};

}  // namespace

Lv2TraceUris mapTraceUris(const LV2_URID_Map& map) {
  const auto id = [&](const char* uri) { return map.map(map.handle, uri); };
  return {id(LV2_ATOM__Sequence),
          id(LV2_ATOM__Object),
          id(LV2_ATOM__Float),
          id(LV2_ATOM__Vector),
          id(LV2_ATOM__eventTransfer),
          id(Lv2TraceUri),
          id(Lv2PointRateUri),
          id(Lv2PointsUri),
          id(Lv2TraceOnUri),
          id(Lv2TraceOffUri),
          id(Lv2PeakUri),
          id(Lv2NotePointsUri),
          id(Lv2VoicesUri)};
}

uint32_t startTraceSequence(LV2_Atom_Sequence& port,
                            const Lv2TraceUris& uris) noexcept QUILLFERN_NONBLOCKING {
  const uint32_t space = port.atom.size;
  port.atom.type = uris.atomSequence;
  // Less room than an empty sequence's body: an empty atom, and nothing past the atom's head.
  if (space < sizeof(LV2_Atom_Sequence_Body)) {
    port.atom.size = 0;
    return 0;
  }
  port.atom.size = sizeof(LV2_Atom_Sequence_Body);
  port.body = {0, 0};
  return space;
}

void appendTrace(LV2_Atom_Sequence& port, uint32_t space, const Lv2TraceUris& uris,
                 const TraceRing& ring, uint32_t first,
                 uint32_t count) noexcept QUILLFERN_NONBLOCKING {
  constexpr uint32_t Head = sizeof(int64_t) + sizeof(TraceObject);  // the event's time, then
  constexpr uint32_t PointBytes = 2 * sizeof(float);
  const uint32_t used = sizeof(LV2_Atom) + port.atom.size;
  const TraceBuffer* buffer = ring.buffer.load(std::memory_order_acquire);
  // Between notes no points come, but the meter falls to silence first.
  const bool levelFalls = ring.peak.load(std::memory_order_relaxed) > 0.0f;
  if (buffer == nullptr || (count == 0 && !levelFalls) || space < used + Head + PointBytes) return;
  // A block of more points than the ring holds kept only its newest.
  first += count - std::min(count, buffer->capacity);
  count = std::min(count, buffer->capacity);
  count = std::min(count, (space - used - Head) / PointBytes);
  LV2_Atom_Event* event = lv2_atom_sequence_end(&port.body, port.atom.size);
  event->time.frames = 0;  // at the block's first frame
  auto* trace = reinterpret_cast<TraceObject*>(&event->body);
  const uint32_t pointBytes = count * PointBytes;
  trace->atom = {static_cast<uint32_t>(sizeof(TraceObject) - sizeof(LV2_Atom)) + pointBytes,
                 uris.atomObject};
  trace->object = {0, uris.trace};
  trace->rateKey = {uris.pointRate, 0, {sizeof(float), uris.atomFloat}};
  trace->rate = static_cast<float>(ring.pointRate.load(std::memory_order_relaxed));
  trace->padding = 0.0f;
  trace->peakKey = {uris.peak, 0, {sizeof(float), uris.atomFloat}};
  trace->peak = ring.peak.load(std::memory_order_relaxed);
  trace->peakPadding = 0.0f;
  trace->notePointsKey = {uris.notePoints, 0, {sizeof(float), uris.atomFloat}};
  trace->notePoints = static_cast<float>(ring.notePoints.load(std::memory_order_relaxed));
  trace->notePadding = 0.0f;
  trace->voicesKey = {uris.voices, 0, {sizeof(float), uris.atomFloat}};
  trace->voices = static_cast<float>(ring.voices.load(std::memory_order_relaxed));
  trace->voicesPadding = 0.0f;
  trace->pointsKey = {
      uris.points,
      0,
      {static_cast<uint32_t>(sizeof(LV2_Atom_Vector_Body)) + pointBytes, uris.atomVector}};
  trace->vector = {sizeof(float), uris.atomFloat};
  auto* points = reinterpret_cast<float*>(trace + 1);
  for (std::size_t point = 0; point < count; ++point) {
    const std::size_t slot = 2 * ((first + point) & (buffer->capacity - 1));
    points[2 * point] = buffer->points[slot];
    points[2 * point + 1] = buffer->points[slot + 1];
  }
  port.atom.size += static_cast<uint32_t>(lv2_atom_pad_size(Head + pointBytes));
}

bool tracePointsOf(const LV2_Atom& atom, const Lv2TraceUris& uris, TraceLevel& level,
                   const float*& pairs, uint32_t& count) {
  constexpr uint32_t Body = sizeof(TraceObject) - sizeof(LV2_Atom);
  if (atom.type != uris.atomObject || atom.size < Body) return false;
  const auto& trace = reinterpret_cast<const TraceObject&>(atom);
  if (trace.object.otype != uris.trace || trace.rateKey.key != uris.pointRate ||
      trace.peakKey.key != uris.peak || trace.notePointsKey.key != uris.notePoints ||
      !(trace.notePoints >= 0.0f && trace.notePoints < 0x1p32f) ||
      trace.voicesKey.key != uris.voices ||
      !(trace.voices >= 0.0f && trace.voices <= static_cast<float>(MostVoices)) ||
      trace.pointsKey.key != uris.points || trace.vector.child_type != uris.atomFloat ||
      trace.vector.child_size != sizeof(float) ||
      trace.pointsKey.value.size < sizeof(LV2_Atom_Vector_Body)) {
    return false;
  }
  // Whichever is less: what the vector says it holds, what the atom has room for.
  const uint32_t said = trace.pointsKey.value.size - sizeof(LV2_Atom_Vector_Body);
  const uint32_t room = atom.size - Body;
  level = {trace.rate, trace.peak, static_cast<uint32_t>(trace.notePoints),
           static_cast<int32_t>(trace.voices)};
  pairs = reinterpret_cast<const float*>(&trace + 1);
  count = std::min(said, room) / (2 * sizeof(float));
  return true;
}

LV2_Atom_Object traceSwitch(const Lv2TraceUris& uris, bool on) {
  return {{sizeof(LV2_Atom_Object_Body), uris.atomObject}, {0, on ? uris.traceOn : uris.traceOff}};
}
