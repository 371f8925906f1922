// SPDX-License-Identifier: GPL-3.0-or-later
#include "midi/instrument_messages.h"

#include "engine/instrument.h"
#include "midi/midi_messages.h"

namespace {

constexpr auto relaxed = std::memory_order_relaxed;
constexpr uint32_t ByteMask = 0xFF;
constexpr double LargestData = 127.0;
constexpr int32_t BendCentre = 8192;  // of the 14-bit pitch wheel
constexpr uint8_t PedalDownFrom = 64;

std::size_t slot(int32_t key) noexcept {
  return static_cast<std::size_t>(key);
}

uint32_t noteOff(int32_t key) noexcept {
  return packShortMessage(NoteOffChannel1, static_cast<uint8_t>(key), 0);
}

// The latest key pressed of those still held, or -1.
int32_t latestHeldKey(const EngineState& state) noexcept {
  int32_t latest = -1;
  for (int32_t key = 0; key < MidiKeyCount; ++key) {
    if (state.heldKeys[slot(key)] &&
        (latest < 0 ||
         state.instrument.pressOrder[slot(key)] > state.instrument.pressOrder[slot(latest)])) {
      latest = key;
    }
  }
  return latest;
}

// A new note while others are held: ended as the release of the last key ends a note and
// started again at once, so that it gets its handover, model reset and attack.
void retrigger(EngineState& state, double previousFrequency) noexcept {
  state.gate.store(0, std::memory_order_seq_cst);
  state.envelopeReady.store(0, std::memory_order_seq_cst);
  state.oscillatorReset.store(0, std::memory_order_seq_cst);
  state.previousFrequency.store(previousFrequency, relaxed);
  state.gate.store(1, std::memory_order_seq_cst);
}

void pressNote(EngineState& state, uint32_t message, int32_t key, int32_t velocity) noexcept {
  Instrument& instrument = state.instrument;
  instrument.sustainedKeys[slot(key)] = false;
  instrument.pressOrder[slot(key)] = ++instrument.presses;
  const double sounding = state.noteFrequency.load(relaxed);
  const NoteChange change = playMidiNotice(state, MidiDataNotice, message);
  soundKey(state, key);
  if (change == NoteChange::Started) {
    setNoteVelocity(state, velocity);
  } else if (instrument.settings.noteMode == NoteMode::Retrigger) {
    retrigger(state, sounding);
    setNoteVelocity(state, velocity);
  }
}

void releaseKey(EngineState& state, int32_t key) noexcept {
  playMidiNotice(state, MidiDataNotice, noteOff(key));
  Instrument& instrument = state.instrument;
  if (instrument.settings.noteMode != NoteMode::LastKey || key != instrument.soundingKey) return;
  const int32_t latest = latestHeldKey(state);
  if (latest < 0) return;
  state.noteFrequency.store(noteFrequencyOf(latest), relaxed);
  soundKey(state, latest);
}

// Under the pedal a released key keeps sounding until the pedal goes up.
void liftKey(EngineState& state, int32_t key) noexcept {
  if (!state.heldKeys[slot(key)]) return;
  if (state.instrument.pedalDown) {
    state.instrument.sustainedKeys[slot(key)] = true;
    return;
  }
  releaseKey(state, key);
}

void releaseSustainedKeys(EngineState& state) noexcept {
  for (int32_t key = 0; key < MidiKeyCount; ++key) {
    if (!state.instrument.sustainedKeys[slot(key)]) continue;
    state.instrument.sustainedKeys[slot(key)] = false;
    releaseKey(state, key);
  }
}

void moveController(EngineState& state, uint32_t message, int32_t controller,
                    int32_t value) noexcept {
  switch (controller) {
    case ModWheel:
      moveModWheel(state, value / LargestData);
      return;
    case SustainPedal:
      state.instrument.pedalDown = value >= PedalDownFrom;
      if (!state.instrument.pedalDown) releaseSustainedKeys(state);
      return;
    case AllNotesOff:
    case AllSoundOff:
      closeInstrument(state);
      return;
    default:
      playMidiNotice(state, MidiDataNotice, message);
  }
}

}  // namespace

void playInstrumentMessage(EngineState& state, uint32_t message) noexcept QUILLFERN_NONBLOCKING {
  const auto status = static_cast<uint8_t>(message & ByteMask);
  const auto data1 = static_cast<int32_t>((message >> 8) & ByteMask);
  const auto data2 = static_cast<int32_t>((message >> 16) & ByteMask);
  const bool keyMessage =
      status == NoteOnChannel1 || status == NoteOffChannel1 || status == PolyPressureChannel1;
  if (keyMessage && data1 >= MidiKeyCount) return;  // no key
  switch (status) {
    case NoteOnChannel1:
      if (data2 != 0) {
        pressNote(state, message, data1, data2);
      } else {
        liftKey(state, data1);
      }
      return;
    case NoteOffChannel1:
      liftKey(state, data1);
      return;
    case PolyPressureChannel1:
      pressKey(state, data1, data2 / LargestData);
      return;
    case ControlChangeChannel1:
      moveController(state, message, data1, data2);
      return;
    case ChannelPressureChannel1:
      pressChannel(state, data1 / LargestData);
      return;
    case PitchBendChannel1:
      bendPitch(state, static_cast<double>((data1 | data2 << 7) - BendCentre) / BendCentre);
      return;
    default:
      playMidiNotice(state, MidiDataNotice, message);
  }
}

void closeInstrument(EngineState& state) noexcept QUILLFERN_NONBLOCKING {
  state.instrument.sustainedKeys.fill(false);
  playMidiNotice(state, MidiCloseNotice, 0);
}

void releaseAllKeys(EngineState& state) noexcept QUILLFERN_NONBLOCKING {
  for (int32_t key = 0; key < MidiKeyCount; ++key) {
    if (state.heldKeys[slot(key)]) liftKey(state, key);
  }
}
