// SPDX-License-Identifier: GPL-3.0-or-later
// The program's three threads at full speed at once, on the real toolkit (Qt offscreen): the
// window thread moving sliders and storing parameters, the MIDI thread playing notes and
// sending their text to the status bar, the audio thread rendering. Run under
// ThreadSanitizer, any unsynchronised access among them is reported; in every build the voice
// must come out of the storm consistent.
#include <gtest/gtest.h>

#include <QLabel>
#include <QString>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "app/control_numbers.h"
#include "engine/engine_state.h"
#include "engine/render.h"
#include "engine/voice.h"
#include "midi/midi_messages.h"
#include "toolkit_test_support.h"
#include "ui/control_state.h"

namespace {

constexpr int32_t MidiRounds = 100000;
constexpr unsigned long AudioBlockFrames = 256;

// Notes in overlapping pairs (legato), a stray note-off now and then, and the port closing
// every so often, as a busy keyboard and an unplugged cable would deliver them. Checks the
// voice's invariants after every notice, on the thread that writes it.
void playMidi(EngineState& state, std::atomic<int32_t>& broken) {
  const auto deliver = [&](uint32_t notice, uint32_t message) {
    if (handleMidiNotice(state, notice, message)) {
      setStatusText(MainStatusBar, NoteStatusField, state.noteText, StatusTextCentred);
    }
    const int32_t held = state.heldNotes.load();
    if (held < 0 || state.gate.load() != (held > 0 ? 1 : 0)) broken.fetch_add(1);
  };
  for (int32_t round = 0; round < MidiRounds; ++round) {
    const auto first = static_cast<uint8_t>(36 + round % 48);
    const auto second = static_cast<uint8_t>(first + 7);
    deliver(MidiDataNotice, packShortMessage(0x90, first, 100));
    deliver(MidiDataNotice, packShortMessage(0x90, second, 90));
    deliver(MidiDataNotice, packShortMessage(0x80, first, 0));
    deliver(MidiDataNotice, packShortMessage(0x80, second, 0));
    if (round % 7 == 0) deliver(MidiDataNotice, packShortMessage(0x80, second, 0));
    if (round % 97 == 0) {
      deliver(MidiDataNotice, packShortMessage(0x90, first, 100));
      deliver(MidiCloseNotice, 0);
    }
  }
  deliver(MidiCloseNotice, 0);
}

TEST(CrossThread, WindowMidiAndAudioThreadsAtOnceLeaveTheVoiceConsistent) {
  openPanelWindow();
  auto state = std::make_unique<EngineState>();
  startVoice(*state, DefaultSampleRate);
  state->envelopePositionReader = getControlState;  // the window's sliders, as in the program

  std::atomic<bool> stopAudio{false};
  std::atomic<int64_t> nonFinite{0};
  std::thread audio([&] {
    std::vector<float> block(AudioBlockFrames);
    while (!stopAudio.load()) {
      renderFrames(*state, block.data(), block.size());
      for (const float sample : block) {
        if (!std::isfinite(sample)) nonFinite.fetch_add(1);
      }
    }
  });
  std::atomic<bool> midiDone{false};
  std::atomic<int32_t> broken{0};
  std::thread midi([&] {
    playMidi(*state, broken);
    midiDone.store(true);
  });

  // The window thread: the user drags sliders while the notes play; the envelope sliders are
  // read by the audio thread at each note's start.
  for (int32_t step = 0; !midiDone.load(); ++step) {
    setControlState(PanelAttackSlider, 1 + step % 2000);
    setControlState(PanelISlider, 1 + step % 1000);
    setVoiceControl(*state, ISlider, getControlState(PanelISlider));
    publishControlState(DecaySlider, 1 + step % 5000);
    publishControlState(SustainSlider, step % 101);
    publishControlState(ReleaseSlider, 1 + step % 5000);
    takeWaitingEvents();
  }
  midi.join();
  stopAudio.store(true);
  audio.join();

  EXPECT_EQ(broken.load(), 0) << "notices after which heldNotes or gate were inconsistent";
  EXPECT_EQ(nonFinite.load(), 0);
  EXPECT_EQ(state->heldNotes.load(), 0);
  EXPECT_EQ(state->gate.load(), 0);
  // The last text sent, after the port's close, is the one the status bar ends up showing.
  const QLabel* field = statusField(PanelWindow, MainStatusBar, NoteStatusField);
  ASSERT_NE(field, nullptr);
  for (int wait = 0; wait < 500 && field->text() != QStringLiteral("Off"); ++wait) waitEvent(10);
  EXPECT_EQ(field->text(), QStringLiteral("Off"));
  closeToolkit();
}

}  // namespace
