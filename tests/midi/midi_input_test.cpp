// SPDX-License-Identifier: GPL-3.0-or-later
// MIDI input of the synthesizer on the real toolkit (Qt's offscreen platform) and a real JACK
// server (scripts/with-jack.sh) played by real JACK MIDI senders: the device list, the
// status bar and the engine state as the user sees them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QComboBox>
#include <QLabel>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "app/control_numbers.h"
#include "app/panel_layout.h"
#include "engine/engine_state.h"
#include "midi/midi_input.h"
#include "notice_recorder.h"
#include "sender_process.h"
#include "toolkit_test_support.h"

namespace {

constexpr int SentTimeoutMs = 10000;

// What the program's event loop does for MIDI input: switch ports when the user changed the
// device list's selection.
void handleWaitingEvents() {
  for (int32_t code = waitEvent(0); code != NoEvent; code = waitEvent(0)) {
    if (code == ControlEvent && eventControl() == MidiDeviceList) onMidiDeviceSelected();
  }
}

QString statusText(int32_t field) {
  const QLabel* label = statusField(MainWindow, MainStatusBar, field);
  return label == nullptr ? QString() : label->text();
}

// Keeps the window thread going until the status field shows the text.
bool waitForStatus(int32_t field, const char* text) {
  return waitUntil([&] {
    handleWaitingEvents();
    return statusText(field) == QString::fromUtf8(text);
  });
}

QComboBox* deviceList() {
  return controlWidget<QComboBox>(MainWindow, MidiDeviceList);
}

// Start-up as the program makes it: the window with the device list and the status bar, the
// listing, the start-up choice and the first opening.
void startUp() {
  openWindow(MainWindow, 0, 0, PanelWidth, PanelHeight, "Quillfern",
             WindowTitleBar + WindowScreenCentred);
  addComboBox(MidiDeviceList, DeviceListPlace.x, DeviceListPlace.y, DeviceListPlace.width,
              DeviceListPlace.height);
  createStatusBar(MainStatusBar, windowHandle(MainWindow));
  for (const int32_t width : StatusFieldWidths) addStatusField(width);
  chooseStartupMidiDevice(listMidiDevices());
  openMidiPort();
  handleWaitingEvents();
}

class MidiInputPanel : public ::testing::Test {
 protected:
  void SetUp() override { setMidiClientName(uniqueClientName("panel").c_str()); }

  void TearDown() override {
    if (midiInput.midiHandle != nullptr) closeMidiInput(midiInput.midiHandle);
    for (SenderProcess& sender : senders) endSender(sender);
  }

  SenderProcess& addSender(std::vector<std::string> arguments) {
    senders.push_back(startSender(uniqueClientName("key"), arguments));
    return senders.back();
  }

  // The user moves the closed device list one entry down with the keyboard.
  void pickNextDevice() {
    QTest::keyClick(deviceList(), Qt::Key_Down);
    handleWaitingEvents();
  }

  std::deque<SenderProcess> senders;  // keeps references to its elements valid
};

TEST_F(MidiInputPanel, TwoSendersAreListedTheFirstIsOpenedAndItsNotesPlay) {
  SenderProcess& first = addSender({"200:904564", "200:904864", "200:804500", "200:804800"});
  SenderProcess& second = addSender({});
  startUp();

  ASSERT_EQ(deviceList()->count(), 2);
  EXPECT_EQ(deviceList()->itemText(0).toStdString(), first.clientName + ":out");
  EXPECT_EQ(deviceList()->itemText(1).toStdString(), second.clientName + ":out");
  EXPECT_EQ(getControlState(MidiDeviceList), 0);
  EXPECT_EQ(midiInput.midiDeviceId, 0);
  EXPECT_EQ(statusText(MidiStatusField), "MIDI IN");

  ASSERT_TRUE(waitForStatus(NoteStatusField, "On 440.000"));
  ASSERT_TRUE(waitForLine(first, "sent", SentTimeoutMs));
  ASSERT_TRUE(waitForStatus(NoteStatusField, "Off"));
  EXPECT_EQ(engineState.heldNotes.load(), 0);
  EXPECT_EQ(engineState.gate.load(), 0);
  EXPECT_NEAR(engineState.noteFrequency.load(), 523.251131, 1e-6);
  EXPECT_NEAR(engineState.previousFrequency.load(), 523.251131, 1e-6);
}

TEST_F(MidiInputPanel, SwitchingReleasesTheHeldNoteAndListensToTheSecondSenderOnly) {
  SenderProcess& first = addSender({"--stay", "200:904564", "600:903C64"});
  SenderProcess& second = addSender({"--stay", "200:B00764", "0:914864"});
  startUp();
  ASSERT_TRUE(waitForStatus(NoteStatusField, "On 440.000"));

  pickNextDevice();
  EXPECT_EQ(midiInput.midiDeviceId, 1);
  EXPECT_EQ(statusText(MidiStatusField), "MIDI IN");
  // The close notice released the note; the note field waits for the next message.
  EXPECT_EQ(engineState.gate.load(), 0);
  EXPECT_EQ(engineState.heldNotes.load(), 0);
  EXPECT_EQ(statusText(NoteStatusField), "On 440.000");

  // A controller and a note of channel 2: nothing plays, but the field shows the state.
  ASSERT_TRUE(waitForLine(second, "sent", SentTimeoutMs));
  ASSERT_TRUE(waitForStatus(NoteStatusField, "Off"));
  // The first sender's later note went nowhere.
  ASSERT_TRUE(waitForLine(first, "sent", SentTimeoutMs));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  handleWaitingEvents();
  EXPECT_EQ(engineState.gate.load(), 0);
  EXPECT_EQ(engineState.heldNotes.load(), 0);
  EXPECT_DOUBLE_EQ(engineState.noteFrequency.load(), 440.0);
}

TEST_F(MidiInputPanel, ADeviceThatIsGoneShowsNoMidiInAndAWorkingOneMidiInAgain) {
  addSender({"--stay"});
  SenderProcess& second = addSender({"--stay"});
  startUp();
  endSender(second);

  pickNextDevice();
  EXPECT_EQ(midiInput.midiDeviceId, 1);
  EXPECT_EQ(midiInput.midiHandle, nullptr);
  EXPECT_EQ(statusText(MidiStatusField), "No MIDI IN");

  QTest::keyClick(deviceList(), Qt::Key_Up);
  handleWaitingEvents();
  EXPECT_EQ(midiInput.midiDeviceId, 0);
  EXPECT_NE(midiInput.midiHandle, nullptr);
  EXPECT_EQ(statusText(MidiStatusField), "MIDI IN");
}

TEST_F(MidiInputPanel, AFloodEndsWithItsLastNoteShownInFlatMemory) {
#ifdef QUILLFERN_SANITIZED
  GTEST_SKIP() << "a sanitizer keeps freed memory in quarantine";
#endif
  SenderProcess& sender = addSender({"200:FE", "flood:10000:3", "0:905164"});
  startUp();
  ASSERT_TRUE(waitForStatus(NoteStatusField, "Off"));  // from the active sensing
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  handleWaitingEvents();
  const long residentEarly = residentBytes();
  ASSERT_TRUE(waitUntil(
      [&] {
        handleWaitingEvents();
        return waitForLine(sender, "sent", 1);
      },
      SentTimeoutMs));
  ASSERT_TRUE(waitForStatus(NoteStatusField, "On 880.000"));
  const long residentLate = residentBytes();
  std::printf("flood with the status bar: %u dropped, resident %ld -> %ld bytes\n",
              droppedMidiMessages(midiInput.midiHandle), residentEarly, residentLate);
  EXPECT_LT(residentLate - residentEarly, 1024 * 1024) << residentEarly << " -> " << residentLate;
}

// With no JACK server (and no ALSA sequencer on this machine) the list stays empty, nothing
// is selected and the status bar says so; no server is started on the way.
TEST(MidiInputWithoutServer, TheListIsEmptyAndTheStatusSaysNoMidiIn) {
  const char* const ownServer = std::getenv("JACK_DEFAULT_SERVER");
  const std::string savedServer = ownServer != nullptr ? ownServer : "";
  // A fixed name: a server started by mistake would not take a new slot in JACK's registry.
  const std::string server = "quillfern-absent";
  setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
  unsetenv("JACK_NO_START_SERVER");  // let nothing but our own care keep a server from starting
  startUp();

  EXPECT_EQ(deviceList()->count(), 0);
  EXPECT_EQ(getControlState(MidiDeviceList), -1);
  EXPECT_EQ(midiInput.midiDeviceId, -1);
  EXPECT_EQ(midiInput.midiHandle, nullptr);
  EXPECT_EQ(statusText(MidiStatusField), "No MIDI IN");
  EXPECT_EQ(countMidiInputs(), 0u);  // a server started by the listing would be found now
  setenv("JACK_DEFAULT_SERVER", savedServer.c_str(), 1);
  setenv("JACK_NO_START_SERVER", "1", 1);
}

// The program's end: the toolkit closes while notes still pour in, and the process ends with
// the port open. The port is closed on the way out; nothing may touch what the toolkit freed.
void playWhileTheProgramEnds() {
  setMidiClientName(uniqueClientName("end").c_str());
  SenderProcess sender = startSender(uniqueClientName("key"), {"--stay", "flood:10000:20"});
  startUp();
  if (midiInput.midiHandle == nullptr) std::_Exit(3);
  waitUntil([] {
    handleWaitingEvents();
    return statusText(NoteStatusField).startsWith("O");
  });
  closeToolkit();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::exit(0);
}

TEST(MidiInputAtTheEnd, ThePortStillPlayingWhenTheProgramEndsDoesNoHarm) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(playWhileTheProgramEnds(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
