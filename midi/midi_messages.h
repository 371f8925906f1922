// SPDX-License-Identifier: GPL-3.0-or-later
// What incoming MIDI does to the voice: note-on and note-off of channel 1 set the pitch, the
// gate and the set of held keys (monophonic, legato); All Notes Off and All Sound Off of
// channel 1 release every held key, as the port's close notice does. The window also keeps the
// note text that its status bar shows; the plugins, which show none, never format it.
#pragma once

#include <cstdint>

#include "engine/engine_state.h"
#include "engine/nonblocking.h"

// Status bytes, the one place for them: the messages the voice plays (channel 1), and those the
// MIDI readers must tell apart. A status byte has its top bit set, a data byte never.
inline constexpr uint8_t FirstStatusByte = 0x80;
inline constexpr uint8_t LastStatusByte = 0xFF;
inline constexpr uint8_t NoteOffChannel1 = 0x80;
inline constexpr uint8_t NoteOnChannel1 = 0x90;
inline constexpr uint8_t ControlChangeChannel1 = 0xB0;
inline constexpr uint8_t ProgramChangeChannel1 = 0xC0;
inline constexpr uint8_t ChannelPressureChannel1 = 0xD0;
inline constexpr uint8_t ChannelBits = 0x0F;      // a channel message's channel, counted from 0
inline constexpr uint8_t SystemExclusive = 0xF0;  // and the system messages from here on
inline constexpr uint8_t TimeCodeQuarterFrame = 0xF1;
inline constexpr uint8_t SongPosition = 0xF2;
inline constexpr uint8_t SongSelect = 0xF3;
inline constexpr uint8_t EndOfExclusive = 0xF7;  // in a MIDI file also an escape's start
inline constexpr uint8_t MetaEvent = 0xFF;       // in a MIDI file; System Reset on the wire

// The controllers of a keyboard's panic button, which release every held key.
inline constexpr uint8_t AllSoundOff = 120;
inline constexpr uint8_t AllNotesOff = 123;

// The notices a MIDI input port delivers to its callback.
inline constexpr uint32_t MidiOpenNotice = 0x3C1;
inline constexpr uint32_t MidiCloseNotice = 0x3C2;
inline constexpr uint32_t MidiDataNotice = 0x3C3;

// A short MIDI message packed as status | data1 << 8 | data2 << 16.
constexpr uint32_t packShortMessage(uint8_t status, uint8_t data1, uint8_t data2) noexcept {
  return static_cast<uint32_t>(status) | static_cast<uint32_t>(data1) << 8 |
         static_cast<uint32_t>(data2) << 16;
}

// What a notice did to the note: started it from silence, ended it, or neither.
enum class NoteChange { None, Started, Ended };

// Applies one notice to the voice, without touching the note text: the plugins' audio path.
// Never allocates, never waits.
NoteChange playMidiNotice(EngineState& state, uint32_t notice,
                          uint32_t message) noexcept QUILLFERN_NONBLOCKING;

// The window's MIDI thread: applies one notice and keeps the note text ("On " and the
// frequency, or "Off"). Returns true when the text should be shown again (after every data
// notice, whatever message it carried). Formats text: never on an audio thread.
bool handleMidiNotice(EngineState& state, uint32_t notice, uint32_t message) noexcept;

double noteFrequencyOf(int32_t noteNumber) noexcept QUILLFERN_NONBLOCKING;
