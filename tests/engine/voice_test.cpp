// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>

#include "engine_test_support.h"
#include "midi/midi_messages.h"

namespace {

std::string noteText(const EngineState& state) {
  return state.noteText;
}

bool send(EngineState& state, uint8_t status, uint8_t data1, uint8_t data2) {
  return handleMidiNotice(state, MidiDataNotice, packShortMessage(status, data1, data2));
}

TEST(Voice, NoteNumbersGiveEqualTemperedFrequenciesAndTheirText) {
  const struct {
    uint8_t note;
    double frequency;
    const char* text;
  } notes[] = {{69, 440.0, "On 440.000"},
               {60, 261.625565, "On 261.626"},
               {0, 8.175799, "On 8.176"},
               {127, 12543.853951, "On 12543.854"}};
  for (const auto& note : notes) {
    auto state = startedEngine();
    EXPECT_TRUE(send(*state, 0x90, note.note, 64));
    EXPECT_NEAR(state->noteFrequency.load(), note.frequency, 1e-6);
    EXPECT_EQ(noteText(*state), note.text);
    EXPECT_EQ(state->gate.load(), 1);
  }
  EXPECT_EQ(noteFrequencyOf(69), 440.0);
}

TEST(Voice, LegatoChangesPitchOnlyAndTheLastReleaseClosesTheGate) {
  auto state = startedEngine();
  state->envelopeReady = 1;
  state->oscillatorReset = 1;
  send(*state, 0x90, 69, 100);
  send(*state, 0x90, 72, 100);
  EXPECT_NEAR(state->noteFrequency.load(), 523.251131, 1e-6);
  EXPECT_EQ(state->heldNotes.load(), 2);
  EXPECT_EQ(noteText(*state), "On 440.000");
  EXPECT_EQ(state->envelopeReady.load(), 1);

  send(*state, 0x80, 72, 0);
  EXPECT_EQ(state->heldNotes.load(), 1);
  EXPECT_EQ(state->gate.load(), 1);
  EXPECT_NEAR(state->noteFrequency.load(), 523.251131, 1e-6);
  EXPECT_EQ(state->previousFrequency.load(), 100.0);

  send(*state, 0x80, 69, 0);
  EXPECT_EQ(state->heldNotes.load(), 0);
  EXPECT_EQ(state->gate.load(), 0);
  EXPECT_EQ(noteText(*state), "Off");
  EXPECT_EQ(state->envelopeReady.load(), 0);
  EXPECT_EQ(state->oscillatorReset.load(), 0);
  EXPECT_EQ(state->previousFrequency.load(), state->noteFrequency.load());
}

TEST(Voice, VelocityZeroNoteOnIsANoteOff) {
  auto state = startedEngine();
  send(*state, 0x90, 69, 100);
  send(*state, 0x90, 69, 0);
  EXPECT_EQ(state->heldNotes.load(), 0);
  EXPECT_EQ(state->gate.load(), 0);
  EXPECT_EQ(noteText(*state), "Off");
}

// Keys are held one by one: a second note-on of a held key is not counted again, and a
// note-off of a key that is not held (a stray one, or the second of two) changes nothing.
TEST(Voice, EachKeyIsHeldOnceAndOnlyItsOwnNoteOffReleasesIt) {
  auto state = startedEngine();
  send(*state, 0x90, 69, 100);
  send(*state, 0x90, 69, 100);
  EXPECT_EQ(state->heldNotes.load(), 1);
  send(*state, 0x80, 46, 0);  // never pressed
  EXPECT_EQ(state->heldNotes.load(), 1);
  EXPECT_EQ(state->gate.load(), 1);
  EXPECT_EQ(noteText(*state), "On 440.000");
  send(*state, 0x80, 69, 0);
  EXPECT_EQ(state->heldNotes.load(), 0);
  EXPECT_EQ(state->gate.load(), 0);
  EXPECT_EQ(noteText(*state), "Off");

  state->noteFrequency = 330.0;
  state->envelopeReady = 1;
  state->oscillatorReset = 1;
  for (const uint8_t status : {0x80, 0x90}) send(*state, status, 69, 0);
  EXPECT_EQ(state->envelopeReady.load(), 1);
  EXPECT_EQ(state->oscillatorReset.load(), 1);
  EXPECT_EQ(state->previousFrequency.load(), 440.0);
}

// What a plugin's reset, reactivation or restored state does while a key is held.
TEST(Voice, ARestartedVoiceHoldsNoKey) {
  auto state = startedEngine();
  send(*state, 0x90, 69, 100);
  startVoice(*state, DefaultSampleRate);
  EXPECT_EQ(state->heldNotes.load(), 0);
  send(*state, 0x90, 72, 100);
  EXPECT_EQ(state->gate.load(), 1);
  EXPECT_EQ(state->heldNotes.load(), 1);
}

TEST(Voice, OtherChannelsAndMessagesChangeNothingButAskForTheText) {
  auto state = startedEngine();
  const uint8_t ignored[][3] = {{0x91, 69, 100}, {0x81, 69, 0}, {0xB0, 7, 100}, {0xB0, 121, 0},
                                {0xB1, 123, 0},  {0xE0, 0, 64}, {0xF8, 0, 0},   {0xFE, 0, 0}};
  for (const auto& message : ignored) {
    EXPECT_TRUE(send(*state, message[0], message[1], message[2]));
    EXPECT_EQ(state->heldNotes.load(), 0);
    EXPECT_EQ(state->gate.load(), 0);
    EXPECT_EQ(state->noteFrequency.load(), 0.0);
    EXPECT_EQ(noteText(*state), "");  // shown as the empty text before any note
  }
}

// The port's close notice, All Notes Off and All Sound Off on channel 1 release a voice with
// keys held as the last key's release would, and forget every key; only the data messages ask
// for the text.
TEST(Voice, CloseNoticeAndPanicControllersReleaseEveryHeldKey) {
  const struct {
    uint32_t notice;
    uint32_t message;
    bool asksForText;
  } releases[] = {{MidiCloseNotice, 0, false},
                  {MidiDataNotice, packShortMessage(0xB0, 123, 0), true},
                  {MidiDataNotice, packShortMessage(0xB0, 120, 0), true}};
  for (const auto& release : releases) {
    auto state = startedEngine();
    send(*state, 0x90, 69, 100);
    send(*state, 0x90, 72, 100);
    state->envelopeReady = 1;
    state->oscillatorReset = 1;
    EXPECT_EQ(handleMidiNotice(*state, release.notice, release.message), release.asksForText);
    EXPECT_EQ(state->heldNotes.load(), 0);
    EXPECT_EQ(state->gate.load(), 0);
    EXPECT_EQ(noteText(*state), "Off");
    EXPECT_EQ(state->envelopeReady.load(), 0);
    EXPECT_EQ(state->oscillatorReset.load(), 0);
    EXPECT_NEAR(state->previousFrequency.load(), 523.251131, 1e-6);
    send(*state, 0x90, 72, 100);  // no key is left held: this one sounds again
    EXPECT_EQ(state->heldNotes.load(), 1);
    EXPECT_EQ(state->gate.load(), 1);
  }
}

TEST(Voice, OpenAndUnknownNoticesChangeNothing) {
  auto state = startedEngine();
  send(*state, 0x90, 69, 100);
  for (const uint32_t notice : {MidiOpenNotice, 0x3C4u, 0x3C5u, 0u}) {
    EXPECT_FALSE(handleMidiNotice(*state, notice, packShortMessage(0x80, 69, 0)));
    EXPECT_EQ(state->gate.load(), 1);
    EXPECT_EQ(noteText(*state), "On 440.000");
  }
}

}  // namespace
