// SPDX-License-Identifier: GPL-3.0-or-later
// What the plugins and the renderer do with MIDI beyond the window's note handling: the note
// modes, the sustain pedal, pitch bend, the mod wheel, channel and polyphonic aftertouch and
// velocity. Notes still start, end and hand over through the window's own handling
// (playMidiNotice), so that in the Window mode, without the new messages, everything plays
// exactly as the window does. Channel 1 only; never allocates, never waits.
#pragma once

#include <cstdint>

#include "engine/engine_state.h"
#include "engine/nonblocking.h"

// Status bytes of the expression messages, channel 1.
inline constexpr uint8_t PolyPressureChannel1 = 0xA0;
inline constexpr uint8_t PitchBendChannel1 = 0xE0;
inline constexpr uint8_t ModWheel = 1;
inline constexpr uint8_t SustainPedal = 64;

// One short message (packed as packShortMessage packs it) on channel 1.
void playInstrumentMessage(EngineState& state, uint32_t message) noexcept QUILLFERN_NONBLOCKING;

// Every key up and the pedal's hold let go: the port's close, a panic, a stopped transport.
void closeInstrument(EngineState& state) noexcept QUILLFERN_NONBLOCKING;

// Note-offs for every key held (CLAP's note-off with a key wildcard).
void releaseAllKeys(EngineState& state) noexcept QUILLFERN_NONBLOCKING;
