// SPDX-License-Identifier: GPL-3.0-or-later
// The MIDI input service: lists the system's MIDI inputs and delivers the messages of one open
// input to a callback on a thread of its own, "the MIDI thread".
//
// Inputs come from the ALSA sequencer (hardware and USB keyboards, virtual keyboards,
// PipeWire's MIDI bridge) and from JACK MIDI ports, in one list: ALSA ports first, then JACK
// ports, each in the order its system reports them. Device ids are positions in the list
// made by the latest countMidiInputs.
//
// The service stays a client of the JACK server from the first listing that finds one to the
// end of the program. Its input port takes the chosen source and any other that someone
// connects to it by hand; through the server's own notices it follows every source (one went
// away: disconnected, its client ended or the server died; the number connected changed), and
// connects again to a port of the chosen source's name that comes again.
//
// A port goes through open -> start -> stop -> close. The callback receives an open notice
// when the port opens, one data notice per short message received while started, and a close
// notice when the port closes, always after every data notice received before it. Between
// them come, in their place among the data notices, the service's own notices below. Once
// closeMidiInput returns, the callback is not called again for that port. A port still open
// when the program ends is closed on the way out (through the same path).
//
// Everything here is called on one thread (the window thread), except the callback, which
// runs on the MIDI thread. Failures are return values; nothing is thrown or printed.
#pragma once

#include <cstddef>
#include <cstdint>

// An open input port. The service has room for one at a time.
struct MidiPort;
using MidiPortHandle = MidiPort*;

// Called on the MIDI thread with a notice of midi_messages.h or below; a data notice carries
// one short message packed as by packShortMessage in param1, a sources notice the number of
// sources connected. instance is the value given to openMidiInput; param2 carries nothing (0).
using MidiInProc = void (*)(MidiPortHandle handle, uint32_t notice, uintptr_t instance,
                            uintptr_t param1, uintptr_t param2) noexcept;

// The service's own notices, for a JACK input. After a loss notice or a source-gone notice the
// receiver must release every held note: a note-off may have been among what did not arrive.
// A source that goes away gives a sources notice with the new number at once, and the
// source-gone notice after the last messages it sent.
inline constexpr uint32_t MidiLossNotice = 0x3D1;        // messages were dropped here
inline constexpr uint32_t MidiSourceGoneNotice = 0x3D2;  // one of the sources went away
inline constexpr uint32_t MidiSourcesNotice = 0x3D3;     // the number connected changed

// Results of the port operations.
inline constexpr int32_t MidiOk = 0;
inline constexpr int32_t MidiOpenFailed = 1;     // the system refused or the port is gone
inline constexpr int32_t MidiBadDeviceId = 2;    // no such position in the list
inline constexpr int32_t MidiPortBusy = 4;       // the service's port is already open
inline constexpr int32_t MidiInvalidHandle = 5;  // not the handle of an open port

// Messages waiting for the MIDI thread; more than this many in arrears are dropped. A JACK
// MIDI port buffer holds 32768 bytes whatever the period (jackd 1.9), which takes at most 2727
// messages in one cycle (measured: jack_midi_event_write until it fails, 1- and 3-byte
// messages alike); this holds six such cycles. A power of two, so that the free-running
// 32-bit positions wrap onto the same slots.
inline constexpr uint32_t MidiQueueCapacity = 16384;

// The client name under which the service appears to ALSA and JACK ("Quillfern" unless set).
// Takes effect at the next listing or opening.
void setMidiClientName(const char* name);

// Takes a fresh look at the system's inputs and returns how many there are.
uint32_t countMidiInputs() noexcept;

// The name of input deviceId as its system gives it (UTF-8, whole), or null for an id the
// latest count did not list. Valid until the next countMidiInputs.
const char* midiInputName(int32_t deviceId) noexcept;

// Connects to input deviceId of the latest count. On success *handle names the port and the
// callback receives the open notice; on failure *handle is null.
int32_t openMidiInput(MidiPortHandle* handle, int32_t deviceId, MidiInProc callback,
                      uintptr_t instance) noexcept;

// Data notices begin to reach the callback.
int32_t startMidiInput(MidiPortHandle handle) noexcept;

// Messages received from now on are not delivered; returns once every message received
// before has been delivered. Must not be called from the callback.
int32_t stopMidiInput(MidiPortHandle handle) noexcept;

// Disconnects, delivers what was received before and then the close notice, and returns when
// the callback has finished with the port. Must not be called from the callback.
int32_t closeMidiInput(MidiPortHandle handle) noexcept;

// Messages lost since the port opened because the MIDI thread was too far behind.
uint32_t droppedMidiMessages(MidiPortHandle handle) noexcept;

// True once a JACK server the service was a client of has gone away (killed or crashed), even
// if another has started since. Any thread.
bool jackServerWentAway() noexcept;

// One message as the system delivers it, as a short message packed for a data notice.
// False for what is not a short message: nothing, system exclusive, or more than 3 bytes.
bool packReceivedMessage(const unsigned char* bytes, size_t size, uint32_t* message) noexcept;
