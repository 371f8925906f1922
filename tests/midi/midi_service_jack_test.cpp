// The MIDI service against a real JACK server (started by scripts/with-jack.sh) and real
// JACK MIDI senders.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "notice_recorder.h"
#include "sender_process.h"

namespace {

constexpr int SentTimeoutMs = 10000;
constexpr uint32_t NoteOn69 = packShortMessage(0x90, 69, 100);
constexpr uint32_t NoteOn81 = packShortMessage(0x90, 81, 100);

std::string jackPortName(const SenderProcess& sender, const char* port = "out") {
  return sender.clientName + ":" + port;
}

class JackMidiService : public ::testing::Test {
 protected:
  void SetUp() override {
    setMidiClientName(uniqueClientName("in").c_str());
    clearNoticeRecord();
  }

  void TearDown() override {
    if (port != nullptr) closeMidiInput(port);
    for (SenderProcess& sender : senders) endSender(sender);
  }

  SenderProcess& addSender(std::vector<std::string> arguments) {
    senders.push_back(startSender(uniqueClientName("send"), arguments));
    return senders.back();
  }

  // Lists the inputs and returns the position of the sender's port, or -1.
  int32_t listedPosition(const SenderProcess& sender) {
    const uint32_t count = countMidiInputs();
    for (uint32_t id = 0; id < count; ++id) {
      if (midiInputName(static_cast<int32_t>(id)) == jackPortName(sender)) {
        return static_cast<int32_t>(id);
      }
    }
    return -1;
  }

  void openAndStart(int32_t deviceId) {
    ASSERT_EQ(openMidiInput(&port, deviceId, recordNotice, 0), MidiOk);
    ASSERT_EQ(startMidiInput(port), MidiOk);
  }

  // Starts a sender, lists the inputs and opens (and starts) the sender's entry; port stays
  // null when that fails.
  SenderProcess& openSender(std::vector<std::string> arguments, bool start = true) {
    SenderProcess& sender = addSender(std::move(arguments));
    const int32_t id = listedPosition(sender);
    EXPECT_GE(id, 0) << sender.clientName << " is not listed";
    if (openMidiInput(&port, id, recordNotice, 0) == MidiOk && start) startMidiInput(port);
    return sender;
  }

  void close() {
    ASSERT_EQ(closeMidiInput(port), MidiOk);
    port = nullptr;
  }

  std::deque<SenderProcess> senders;  // keeps references to its elements valid
  MidiPortHandle port = nullptr;
};

TEST_F(JackMidiService, ListsSendersInTheOrderTheyCameWithTheirWholeNames) {
  const std::string longName = "Klaviatur für Übungen " + std::string(150, 'k');
  SenderProcess& first = addSender({});
  SenderProcess& second = addSender({"--port", longName});
  ASSERT_NE(first.pid, -1);
  ASSERT_NE(second.pid, -1);

  const uint32_t count = countMidiInputs();
  ASSERT_EQ(count, 2u);  // no ALSA sequencer here, and no other JACK MIDI outputs
  EXPECT_EQ(midiInputName(0), jackPortName(first));
  EXPECT_EQ(midiInputName(1), jackPortName(second, longName.c_str()));
  EXPECT_EQ(midiInputName(2), nullptr);
  EXPECT_EQ(midiInputName(-1), nullptr);
}

TEST_F(JackMidiService, DeliversShortMessagesInOrderBetweenOpenAndCloseNotices) {
  SenderProcess& sender = openSender({
      "200:904564",      // note-on 69, once the port has surely started
      "0:F8",            // clock
      "0:FE",            // active sensing
      "0:F07E7F0901F7",  // system exclusive: no short message
      "0:914864",        // note-on 72 on channel 2
      "0:B00764",        // controller
      "0:904864",        // note-on 72: legato
      "0:904800",        // velocity 0: a release
      "0:804500",        // the last release
  });
  ASSERT_NE(port, nullptr);
  ASSERT_TRUE(waitForLine(sender, "sent", SentTimeoutMs));
  ASSERT_TRUE(waitUntil([] { return recordedCount() == 9; })) << recordedCount();
  close();

  const std::vector<uint32_t> expected{NoteOn69,
                                       packShortMessage(0xF8, 0, 0),
                                       packShortMessage(0xFE, 0, 0),
                                       packShortMessage(0x91, 72, 100),
                                       packShortMessage(0xB0, 7, 100),
                                       packShortMessage(0x90, 72, 100),
                                       packShortMessage(0x90, 72, 0),
                                       packShortMessage(0x80, 69, 0)};
  ASSERT_EQ(recordedCount(), 10u);
  const auto& notices = noticeRecord.notices;
  EXPECT_EQ(notices[0].notice, MidiOpenNotice);
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(notices[i + 1].notice, MidiDataNotice) << i;
    EXPECT_EQ(notices[i + 1].message, expected[i]) << i;
  }
  EXPECT_EQ(notices[9].notice, MidiCloseNotice);

  // The voice after each message: pitch, gate and held keys.
  EXPECT_DOUBLE_EQ(notices[1].noteFrequency, 440.0);
  EXPECT_EQ(notices[1].gate, 1);
  EXPECT_EQ(notices[1].heldNotes, 1);
  EXPECT_EQ(notices[5].heldNotes, 1);  // channel 2 and the controller changed nothing
  EXPECT_DOUBLE_EQ(notices[5].noteFrequency, 440.0);
  EXPECT_NEAR(notices[6].noteFrequency, 523.251131, 1e-6);
  EXPECT_EQ(notices[6].heldNotes, 2);
  EXPECT_EQ(notices[7].heldNotes, 1);
  EXPECT_EQ(notices[7].gate, 1);
  EXPECT_EQ(notices[8].heldNotes, 0);
  EXPECT_EQ(notices[8].gate, 0);
  EXPECT_STREQ(noticeRecord.voice.noteText, "Off");
  EXPECT_NEAR(noticeRecord.voice.previousFrequency.load(), 523.251131, 1e-6);
}

TEST_F(JackMidiService, NothingIsDeliveredBeforeStart) {
  SenderProcess& sender = openSender({"0:904564"}, false);
  ASSERT_NE(port, nullptr);
  ASSERT_TRUE(waitForLine(sender, "sent", SentTimeoutMs));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  close();
  ASSERT_EQ(recordedCount(), 2u);
  EXPECT_EQ(noticeRecord.notices[0].notice, MidiOpenNotice);
  EXPECT_EQ(noticeRecord.notices[1].notice, MidiCloseNotice);
}

TEST_F(JackMidiService, StopHoldsDataBackAndNothingFollowsTheCloseNotice) {
  openSender({"--stay", "flood:2000:20"});
  ASSERT_NE(port, nullptr);
  ASSERT_TRUE(waitUntil([] { return recordedCount() > 50; }));

  ASSERT_EQ(stopMidiInput(port), MidiOk);
  const uint32_t atStop = recordedCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(recordedCount(), atStop);

  ASSERT_EQ(startMidiInput(port), MidiOk);
  ASSERT_TRUE(waitUntil([&] { return recordedCount() > atStop + 50; }));

  close();
  const uint32_t atClose = recordedCount();
  EXPECT_EQ(noticeRecord.lastNotice.load(), MidiCloseNotice);
  EXPECT_EQ(noticeRecord.voice.heldNotes.load(), 0);
  EXPECT_EQ(noticeRecord.voice.gate.load(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(recordedCount(), atClose);
}

TEST_F(JackMidiService, EntriesKeepTheirDevicesWhenAnEarlierOneGoes) {
  SenderProcess& first = addSender({});
  SenderProcess& second = addSender({"200:905164"});
  ASSERT_EQ(countMidiInputs(), 2u);
  endSender(first);

  // The system now numbers the second sender 0; the list still shows it at 1.
  EXPECT_EQ(openMidiInput(&port, 0, recordNotice, 0), MidiOpenFailed);
  EXPECT_EQ(port, nullptr);
  openAndStart(1);
  ASSERT_TRUE(waitForLine(second, "sent", SentTimeoutMs));
  ASSERT_TRUE(waitUntil([] { return noticeRecord.lastMessage.load() == NoteOn81; }));
  EXPECT_EQ(midiInputName(1), jackPortName(second));
}

TEST_F(JackMidiService, ASenderThatGoesAwayWhileOpenDoesNoHarm) {
  SenderProcess& sender = openSender({"--stay", "200:904564"});
  ASSERT_NE(port, nullptr);
  ASSERT_TRUE(waitUntil([] { return recordedCount() == 2; }));

  endSender(sender);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(stopMidiInput(port), MidiOk);
  close();
  EXPECT_EQ(noticeRecord.lastNotice.load(), MidiCloseNotice);
  EXPECT_EQ(noticeRecord.voice.gate.load(), 0);
  EXPECT_EQ(countMidiInputs(), 0u);
}

TEST_F(JackMidiService, AFloodArrivesWholeInFlatMemoryEndingOnItsLastNote) {
  constexpr uint32_t FloodMessages = 10000 * 3;
  SenderProcess& sender = openSender({"200:FE", "flood:10000:3", "0:905164"});
  ASSERT_NE(port, nullptr);
  ASSERT_TRUE(waitUntil([] { return recordedCount() > 5000; }));
  const long residentEarly = residentBytes();
  ASSERT_TRUE(waitForLine(sender, "sent", SentTimeoutMs));
  ASSERT_TRUE(waitUntil([] { return noticeRecord.lastMessage.load() == NoteOn81; }));
  const long residentLate = residentBytes();
  const uint32_t delivered = recordedCount() - 1;  // less the open notice
  const uint32_t dropped = droppedMidiMessages(port);
  EXPECT_STREQ(noticeRecord.voice.noteText, "On 880.000");
  close();

  EXPECT_EQ(delivered + dropped, FloodMessages + 2);
  // The queue is fixed: what the process holds must not grow with the messages it passed on.
  EXPECT_LT(residentLate - residentEarly, 256 * 1024) << residentEarly << " -> " << residentLate;
  std::printf("flood: %u delivered, %u dropped, resident %ld -> %ld bytes\n", delivered, dropped,
              residentEarly, residentLate);
}

TEST_F(JackMidiService, OnePortAtATimeAndOnlyItsOwnHandle) {
  addSender({});
  ASSERT_EQ(countMidiInputs(), 1u);
  EXPECT_EQ(openMidiInput(&port, 1, recordNotice, 0), MidiBadDeviceId);
  EXPECT_EQ(openMidiInput(&port, -1, recordNotice, 0), MidiBadDeviceId);
  openAndStart(0);
  MidiPortHandle second = nullptr;
  EXPECT_EQ(openMidiInput(&second, 0, recordNotice, 0), MidiPortBusy);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(startMidiInput(nullptr), MidiInvalidHandle);
  MidiPortHandle closed = port;
  close();
  EXPECT_EQ(stopMidiInput(closed), MidiInvalidHandle);
  EXPECT_EQ(closeMidiInput(closed), MidiInvalidHandle);
}

// Only the close notice may write here, on the MIDI thread, as the process ends.
void reportCloseNotice(MidiPortHandle, uint32_t notice, uintptr_t, uintptr_t, uintptr_t) noexcept {
  if (notice == MidiCloseNotice) {
    static const char text[] = "close notice at exit\n";
    static_cast<void>(write(STDERR_FILENO, text, sizeof text - 1));
  }
}

void openAFloodingPortAndExit() {
  setMidiClientName(uniqueClientName("exit").c_str());
  SenderProcess sender = startSender(uniqueClientName("send"), {"--stay", "flood:10000:20"});
  MidiPortHandle port = nullptr;
  if (countMidiInputs() != 1 || openMidiInput(&port, 0, reportCloseNotice, 0) != MidiOk) {
    std::_Exit(3);
  }
  startMidiInput(port);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::exit(0);  // the port is still open and receiving; the sender ends with this process
}

TEST(JackMidiServiceExit, APortLeftOpenIsClosedAsTheProgramEnds) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(openAFloodingPortAndExit(), ::testing::ExitedWithCode(0), "close notice at exit");
}

}  // namespace
