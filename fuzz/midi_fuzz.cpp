// SPDX-License-Identifier: GPL-3.0-or-later
// MIDI message handling fed any sequence of notices, four bytes each: the first picks the
// notice (mostly data, sometimes the port's close, now and then its open), the other three are
// the short message. After every notice the voice keeps its invariants.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "engine/engine_state.h"
#include "engine/voice.h"
#include "fuzz/fuzz_checks.h"
#include "midi/midi_messages.h"

namespace {

constexpr std::size_t NoticeBytes = 4;

uint32_t noticeFor(uint8_t selector) {
  if (selector < 224) return MidiDataNotice;
  return selector < 248 ? MidiCloseNotice : MidiOpenNotice;
}

// A note-on of a key: a key byte past 127 names no key, and the message is no note.
bool isNoteOn(uint32_t notice, uint32_t message) {
  return notice == MidiDataNotice && (message & 0xFF) == NoteOnChannel1 &&
         ((message >> 8) & 0xFF) < MidiKeyCount && ((message >> 16) & 0xFF) != 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  auto state = std::make_unique<EngineState>();
  startVoice(*state, DefaultSampleRate);
  bool noteOnSeen = false;
  for (std::size_t at = 0; at + NoticeBytes <= size; at += NoticeBytes) {
    const uint32_t notice = noticeFor(data[at]);
    const uint32_t message = packShortMessage(data[at + 1], data[at + 2], data[at + 3]);
    const bool showText = handleMidiNotice(*state, notice, message);
    noteOnSeen = noteOnSeen || isNoteOn(notice, message);

    const int32_t held = state->heldNotes.load();
    const double frequency = state->noteFrequency.load();
    require(showText == (notice == MidiDataNotice));
    require(held >= 0);
    require(held == std::count(state->heldKeys.begin(), state->heldKeys.end(), true));
    require(state->gate.load() == (held > 0 ? 1 : 0));
    require(noteOnSeen ? frequency > 0.0 && std::isfinite(frequency) : frequency == 0.0);
    const std::size_t textLength = strnlen(state->noteText, NoteTextCapacity);
    require(textLength < NoteTextCapacity);
    require(std::strcmp(state->noteText, "Off") == 0 ||
            std::strncmp(state->noteText, "On ", 3) == 0 || (!noteOnSeen && textLength == 0));
  }
  return 0;
}
