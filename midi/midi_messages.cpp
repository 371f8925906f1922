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
  setNoteText(state, "Off");
  state.envelopeReady.store(0, std::memory_order_seq_cst);
  state.oscillatorReset.store(0, std::memory_order_seq_cst);
  state.previousFrequency.store(state.noteFrequency.load(relaxed), relaxed);
}

void handleShortMessage(EngineState& state, uint32_t message) noexcept {
  const auto status = static_cast<uint8_t>(message & 0xFF);
  const auto data1 = static_cast<int32_t>((message >> 8) & 0xFF);
  const auto velocity = static_cast<uint8_t>((message >> 16) & 0xFF);
  if (status == NoteOnChannel1 && velocity != 0) {
    startNote(state, data1);
  } else if (status == NoteOnChannel1 || status == NoteOffChannel1) {
    releaseNote(state);
  } else if (status == ControlChangeChannel1 && (data1 == AllNotesOff || data1 == AllSoundOff)) {
    closeVoice(state);  // a panic button: every key up, whatever was lost on the way
  }
}

}  // namespace

double noteFrequencyOf(int32_t noteNumber) noexcept QUILLFERN_NONBLOCKING {
  return std::pow(2.0, (noteNumber + -ConcertANote) / SemitonesPerOctave) * ConcertA;
}

void startNote(EngineState& state, int32_t noteNumber) noexcept QUILLFERN_NONBLOCKING {
  const double frequency = noteFrequencyOf(noteNumber);
  state.noteFrequency.store(frequency, relaxed);
  const int32_t held = state.heldNotes.load(relaxed);
  if (held == 0) {
    state.gate.store(1, relaxed);
    setNoteOnText(state, frequency);
  }
  state.heldNotes.store(held + 1, relaxed);
}

void releaseNote(EngineState& state) noexcept QUILLFERN_NONBLOCKING {
  int32_t held = state.heldNotes.load(relaxed);
  if (held != 0) state.heldNotes.store(--held, relaxed);
  if (held == 0) endNote(state);
}

// While keys are held this ends the note as the release of the last key would, so that the
// next note starts with its handover, model reset and attack.
void closeVoice(EngineState& state) noexcept QUILLFERN_NONBLOCKING {
  const int32_t held = state.heldNotes.load(relaxed);
  state.heldNotes.store(0, relaxed);
  if (held != 0) {
    endNote(state);
  } else {
    state.gate.store(0, std::memory_order_seq_cst);
    setNoteText(state, "Off");
  }
}

bool handleMidiNotice(EngineState& state, uint32_t notice,
                      uint32_t message) noexcept QUILLFERN_NONBLOCKING {
  switch (notice) {
    case MidiDataNotice:
      handleShortMessage(state, message);
      return true;
    case MidiCloseNotice:
      closeVoice(state);
      return false;
    default:
      return false;
  }
}
