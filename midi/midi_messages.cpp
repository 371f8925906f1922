// SPDX-License-Identifier: GPL-3.0-or-later
#include "midi/midi_messages.h"

#include <cmath>
#include <cstring>

#include "engine/format_real.h"

namespace {

constexpr auto relaxed = std::memory_order_relaxed;
constexpr double ConcertA = 440.0;  // Hz, MIDI note 69
constexpr double ConcertANote = 69.0;
constexpr double SemitonesPerOctave = 12.0;
constexpr int32_t FrequencyDecimals = 3;

void setNoteText(EngineState& state, const char* text) noexcept {
  std::strncpy(state.noteText, text, NoteTextCapacity - 1);
  state.noteText[NoteTextCapacity - 1] = '\0';
}

// "On " and the frequency, formatted straight into the record's own text: no shared buffer,
// no allocation.
void setNoteOnText(EngineState& state, double frequency) noexcept {
  constexpr char prefix[] = "On ";
  constexpr std::size_t prefixLength = sizeof prefix - 1;
  std::memcpy(state.noteText, prefix, prefixLength);
  formatRealInto(state.noteText + prefixLength, NoteTextCapacity - prefixLength, frequency,
                 FrequencyDecimals);
}

void endNote(EngineState& state) noexcept {
  // The gate closes before the per-note flags are cleared; the audio thread looks at the gate
  // again after setting a flag, so these stores are sequentially consistent (see envelope).
  state.gate.store(0, std::memory_order_seq_cst);
  state.envelopeReady.store(0, std::memory_order_seq_cst);
  state.oscillatorReset.store(0, std::memory_order_seq_cst);
  state.previousFrequency.store(state.noteFrequency.load(relaxed), relaxed);
}

// Every key counts once however many note-ons it got, so that two overlapping notes of one
// pitch end with the note-off of the later one.
NoteChange startNote(EngineState& state, int32_t key) noexcept {
  const double frequency = noteFrequencyOf(key);
  state.noteFrequency.store(frequency, relaxed);
  if (state.heldKeys[key]) return NoteChange::None;
  state.heldKeys[key] = true;
  const int32_t held = state.heldNotes.load(relaxed);
  state.heldNotes.store(held + 1, relaxed);
  if (held != 0) return NoteChange::None;
  state.gate.store(1, relaxed);
  return NoteChange::Started;
}

// A note-off for a key that is not held (a stray one after an edit, or the second of two
// note-offs) changes nothing at all.
NoteChange releaseNote(EngineState& state, int32_t key) noexcept {
  if (!state.heldKeys[key]) return NoteChange::None;
  state.heldKeys[key] = false;
  const int32_t held = state.heldNotes.load(relaxed) - 1;
  state.heldNotes.store(held, relaxed);
  if (held != 0) return NoteChange::None;
  endNote(state);
  return NoteChange::Ended;
}

// While keys are held this ends the note as the release of the last key would, so that the
// next note starts with its handover, model reset and attack.
NoteChange closeVoice(EngineState& state) noexcept {
  const int32_t held = state.heldNotes.load(relaxed);
  state.heldNotes.store(0, relaxed);
  state.heldKeys.fill(false);
  if (held != 0) {
    endNote(state);
  } else {
    state.gate.store(0, std::memory_order_seq_cst);
  }
  return NoteChange::Ended;
}

NoteChange playShortMessage(EngineState& state, uint32_t message) noexcept {
  const auto status = static_cast<uint8_t>(message & 0xFF);
  const auto data1 = static_cast<int32_t>((message >> 8) & 0xFF);
  const auto velocity = static_cast<uint8_t>((message >> 16) & 0xFF);
  const bool noteMessage = status == NoteOnChannel1 || status == NoteOffChannel1;
  if (noteMessage && data1 >= MidiKeyCount) return NoteChange::None;  // no key: not a note
  if (status == NoteOnChannel1 && velocity != 0) return startNote(state, data1);
  if (noteMessage) return releaseNote(state, data1);
  if (status == ControlChangeChannel1 && (data1 == AllNotesOff || data1 == AllSoundOff)) {
    return closeVoice(state);  // a panic button: every key up, whatever was lost on the way
  }
  return NoteChange::None;
}

}  // namespace

double noteFrequencyOf(int32_t noteNumber) noexcept QUILLFERN_NONBLOCKING {
  return std::pow(2.0, (noteNumber + -ConcertANote) / SemitonesPerOctave) * ConcertA;
}

NoteChange playMidiNotice(EngineState& state, uint32_t notice,
                          uint32_t message) noexcept QUILLFERN_NONBLOCKING {
  switch (notice) {
    case MidiDataNotice:
      return playShortMessage(state, message);
    case MidiCloseNotice:
      return closeVoice(state);
    default:
      return NoteChange::None;
  }
}

bool handleMidiNotice(EngineState& state, uint32_t notice, uint32_t message) noexcept {
  switch (playMidiNotice(state, notice, message)) {
    case NoteChange::Started:
      setNoteOnText(state, state.noteFrequency.load(relaxed));
      break;
    case NoteChange::Ended:
      setNoteText(state, "Off");
      break;
    case NoteChange::None:
      break;
  }
  return notice == MidiDataNotice;
}
