// SPDX-License-Identifier: GPL-3.0-or-later
// The audio and MIDI delivery paths under clang's real-time sanitizer: every function marked
// QUILLFERN_NONBLOCKING is checked at run time, and anything it calls that allocates, locks,
// waits or makes a blocking system call ends the program with a report. Here notes are played
// through those functions as the program plays them: the render path on the program's voice,
// reading the window's envelope sliders, MIDI notices as the MIDI thread delivers them,
// sliders moved between notes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "engine/engine_state.h"
#include "engine/render.h"
#include "engine/voice.h"
#include "engine/voice_controls.h"
#include "midi/midi_messages.h"
#include "ui/control_state.h"

namespace {

constexpr unsigned long BufferFrames = 256;

void renderBuffers(int buffers) {
  std::vector<float> buffer(BufferFrames);
  for (int i = 0; i < buffers; ++i) {
    renderFrames(engineState, buffer.data(), buffer.size());
  }
}

void deliver(uint32_t notice, uint32_t message) {
  handleMidiNotice(engineState, notice, message);
}

TEST(RealtimePaths, NotesPlayedThroughTheCallbackAndMidiHandlingNeverBlock) {
  startVoice(engineState, DefaultSampleRate);
  engineState.envelopePositionReader = getControlState;
  for (int32_t note = 24; note < 108; note += 5) {
    publishControlState(AttackSlider, 1 + note * 7);
    publishControlState(SustainSlider, note % 101);
    setVoiceControl(engineState, ISlider, note * 9);
    deliver(MidiDataNotice, packShortMessage(0x90, static_cast<uint8_t>(note), 100));
    renderBuffers(8);
    deliver(MidiDataNotice, packShortMessage(0x90, static_cast<uint8_t>(note + 3), 90));
    renderBuffers(4);
    deliver(MidiDataNotice, packShortMessage(0x80, static_cast<uint8_t>(note), 0));
    deliver(MidiDataNotice, packShortMessage(0x80, static_cast<uint8_t>(note + 3), 0));
    renderBuffers(8);
  }
  deliver(MidiDataNotice, packShortMessage(0x90, 60, 100));
  deliver(MidiCloseNotice, 0);
  renderBuffers(8);
  EXPECT_EQ(engineState.gate.load(), 0);
}

// The other way round: the sanitizer is there and catches an allocation in a marked function.
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wfunction-effects"
void* volatile allocated = nullptr;  // volatile: the allocation must not be optimised away

void allocateWhileRendering() [[clang::nonblocking]] {
  allocated = std::malloc(64);
  std::free(allocated);
}
#pragma clang diagnostic pop

TEST(RealtimePathsDeathTest, AnAllocationInAMarkedFunctionIsReported) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(allocateWhileRendering(), "RealtimeSanitizer");
}

}  // namespace
