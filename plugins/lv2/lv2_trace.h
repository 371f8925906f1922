// SPDX-License-Identifier: GPL-3.0-or-later
// The LV2 plugin's trace messages, in one place for both ends: run() writes the block's points
// of the model's course to the trace port, the window reads them, and asks for them or lets go.
#pragma once

#include <lv2/atom/atom.h>
#include <lv2/urid/urid.h>

#include <cstdint>

#include "engine/nonblocking.h"
#include "instrument/model_trace.h"

struct Lv2TraceUris {
  LV2_URID atomSequence;
  LV2_URID atomObject;
  LV2_URID atomFloat;
  LV2_URID atomVector;
  LV2_URID atomEventTransfer;
  LV2_URID trace;
  LV2_URID pointRate;
  LV2_URID points;
  LV2_URID traceOn;
  LV2_URID traceOff;
  LV2_URID peak;
  LV2_URID notePoints;
  LV2_URID voices;
};

// What a trace object says besides its points (see TraceRing).
struct TraceLevel {
  float pointRate = 0.0f;
  float peak = 0.0f;
  uint32_t notePoints = 0;
  int32_t voices = 0;
};

Lv2TraceUris mapTraceUris(const LV2_URID_Map& map);

// Makes `port` (its atom size set by the host to the space it has) an empty sequence, as an
// output sequence must be after every run(); returns that space in bytes. With less space than
// an empty sequence's body, the atom's size is 0 and the space 0.
uint32_t startTraceSequence(LV2_Atom_Sequence& port,
                            const Lv2TraceUris& uris) noexcept QUILLFERN_NONBLOCKING;

// Appends one trace object to the sequence: the `count` points of `ring` from point `first` on,
// as many as fit in `space` bytes (the newest are cut).
void appendTrace(LV2_Atom_Sequence& port, uint32_t space, const Lv2TraceUris& uris,
                 const TraceRing& ring, uint32_t first,
                 uint32_t count) noexcept QUILLFERN_NONBLOCKING;

// The window's side: a trace object's point rate, peak, note and voices, and its points (x, z
// pairs); false for any other atom.
bool tracePointsOf(const LV2_Atom& atom, const Lv2TraceUris& uris, TraceLevel& level,
                   const float*& pairs, uint32_t& count);

// The window's request to start or stop the points: an object with no properties.
LV2_Atom_Object traceSwitch(const Lv2TraceUris& uris, bool on);
