// SPDX-License-Identifier: GPL-3.0-or-later
// The MIDI service against a real JACK server (started by scripts/with-jack.sh) and real
// JACK MIDI senders.
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
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
    setMidiClientName(clientName.c_str());
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
  const std::string clientName = uniqueClientName("in");
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
      "0:F07E01",        // one never finished: the next status byte ends it
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
  SenderProcess& sender = openSender({"--stay", "0:904564"}, false);
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

uint32_t noticesOf(uint32_t kind) {
  uint32_t found = 0;
  const uint32_t count = std::min(recordedCount(), RecordedNoticeCapacity);
  for (uint32_t i = 0; i < count; ++i) found += noticeRecord.notices[i].notice == kind;
  return found;
}

// The number of sources the latest sources notice gave, or -1 before the first.
int32_t sourceCount() {
  for (uint32_t i = std::min(recordedCount(), RecordedNoticeCapacity); i-- > 0;) {
    if (noticeRecord.notices[i].notice == MidiSourcesNotice) {
      return static_cast<int32_t>(noticeRecord.notices[i].message);
    }
  }
  return -1;
}

// jack_connect or jack_disconnect of a sender's port and the service's input port.
void patch(const char* tool, const SenderProcess& sender, const std::string& inputClient) {
  const std::string command =
      std::string(tool) + " '" + jackPortName(sender) + "' '" + inputClient + ":MIDI in'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// Killed, ended in order, or only disconnected: each time the held note is released with the
// source-gone notice; a sender that comes under the same name is connected again and plays.
TEST_F(JackMidiService, ASenderThatGoesAwayReleasesItsNoteAndOneOfItsNameIsFollowed) {
  const std::vector<std::string> holdA4{"--stay", "200:904564"};
  const std::string name = openSender(holdA4).clientName;
  ASSERT_NE(port, nullptr);
  uint32_t gone = 0;
  for (const std::string going : {"kill", "end", "disconnect"}) {
    ASSERT_TRUE(waitUntil([] { return noticeRecord.voice.gate.load() == 1; })) << going;
    SenderProcess& sender = senders.back();
    if (going == "kill") kill(sender.pid, SIGKILL);
    if (going == "disconnect") {
      patch("jack_disconnect", sender, clientName);
    } else {
      endSender(sender);
    }
    ++gone;
    ASSERT_TRUE(waitUntil([&] { return noticesOf(MidiSourceGoneNotice) == gone; })) << going;
    EXPECT_EQ(noticeRecord.voice.heldNotes.load(), 0) << going;
    ASSERT_TRUE(waitUntil([] { return sourceCount() == 0; })) << going;
    if (going != "disconnect") senders.push_back(startSender(name, holdA4));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(noticeRecord.voice.gate.load(), 0);  // a port that stayed is not taken back
  EXPECT_EQ(sourceCount(), 0);
}

// Sources connected by hand besides the chosen one: any that goes away releases the held note,
// and the sources notices follow the number connected, whoever connects or disconnects.
TEST_F(JackMidiService, EverySourceConnectedByHandIsFollowed) {
  SenderProcess& keyboard = openSender({"--stay"});
  ASSERT_NE(port, nullptr);
  SenderProcess& second = addSender({"--stay", "200:904564"});
  patch("jack_connect", second, clientName);
  ASSERT_TRUE(waitUntil([] { return sourceCount() == 2; }));
  ASSERT_TRUE(waitUntil([] { return noticeRecord.voice.gate.load() == 1; }));

  kill(second.pid, SIGKILL);
  ASSERT_TRUE(waitUntil([] { return noticesOf(MidiSourceGoneNotice) == 1; }));
  EXPECT_EQ(noticeRecord.voice.heldNotes.load(), 0);
  EXPECT_EQ(noticeRecord.voice.gate.load(), 0);
  ASSERT_TRUE(waitUntil([] { return sourceCount() == 1; }));

  patch("jack_disconnect", keyboard, clientName);
  ASSERT_TRUE(waitUntil([] { return sourceCount() == 0; }));
  patch("jack_connect", keyboard, clientName);
  ASSERT_TRUE(waitUntil([] { return sourceCount() == 1; }));
  close();
  EXPECT_EQ(noticesOf(MidiSourceGoneNotice), 2u);
}

// Cycles the server missed while a test ran: what senders wrote in them never reached any
// reader. A machine loaded by other work makes them, not the service.
struct MissedCycles {
  jack_client_t* client = nullptr;
  std::atomic<int32_t> count{0};
};

void watchMissedCycles(MissedCycles& missed) {
  missed.client = jack_client_open("missed-cycles", JackNoStartServer, nullptr);
  if (missed.client == nullptr) return;
  jack_set_xrun_callback(
      missed.client,
      [](void* watched) {
        static_cast<MissedCycles*>(watched)->count.fetch_add(1);
        return 0;
      },
      &missed);
  jack_activate(missed.client);
}

TEST_F(JackMidiService, AFloodArrivesWholeInFlatMemoryEndingOnItsLastNote) {
  constexpr uint32_t FloodMessages = 10000 * 3;
  MissedCycles missed;
  watchMissedCycles(missed);
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

  if (missed.client != nullptr) jack_client_close(missed.client);
  if (missed.count.load() == 0) {
    EXPECT_EQ(delivered + dropped, FloodMessages + 2);
  } else {
    EXPECT_LE(delivered + dropped, FloodMessages + 2);
    std::printf("flood: the server missed %d cycles, whose messages no reader saw\n",
                missed.count.load());
  }
  // The queue is fixed: what the process holds must not grow with the messages it passed on.
  // A sanitizer's own records grow with the work done.
#ifndef QUILLFERN_SANITIZED
  EXPECT_LT(residentLate - residentEarly, 256 * 1024) << residentEarly << " -> " << residentLate;
#endif
  std::printf("flood: %u delivered, %u dropped, resident %ld -> %ld bytes\n", delivered, dropped,
              residentEarly, residentLate);
}

std::atomic<uint32_t> lossNotices{0};

// The MIDI thread stalls on the first note, long enough for a burst to overfill the queue.
void stallOnTheFirstNote(MidiPortHandle handle, uint32_t notice, uintptr_t instance,
                         uintptr_t message, uintptr_t param2) noexcept {
  if (notice == MidiDataNotice && recordedCount() == 1) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  if (notice == MidiLossNotice) lossNotices.fetch_add(1);
  recordNotice(handle, notice, instance, message, param2);
}

TEST_F(JackMidiService, WhatFindsNoRoomIsCountedAndReleasesTheHeldNote) {
  constexpr uint32_t Burst = MidiQueueCapacity + 4000;  // note-ons on channel 2
  SenderProcess& sender =
      addSender({"--stay", "200:904564", "burst:" + std::to_string(Burst) + ":914564"});
  ASSERT_EQ(openMidiInput(&port, listedPosition(sender), stallOnTheFirstNote, 0), MidiOk);
  ASSERT_EQ(startMidiInput(port), MidiOk);
  ASSERT_TRUE(waitForLine(sender, "sent", SentTimeoutMs));
  ASSERT_TRUE(waitUntil([] { return lossNotices.load() > 0; }));
  ASSERT_EQ(stopMidiInput(port), MidiOk);

  const uint32_t dataNotices = recordedCount() - 1 - lossNotices.load();  // less the open notice
  EXPECT_EQ(dataNotices + droppedMidiMessages(port), Burst + 1);
  EXPECT_EQ(lossNotices.load(), 1u);
  EXPECT_EQ(noticeRecord.lastNotice.load(), MidiLossNotice);
  EXPECT_EQ(noticeRecord.voice.gate.load(), 0);
  EXPECT_EQ(noticeRecord.voice.heldNotes.load(), 0);
}

// The most messages a JACK cycle carries into a port on this server: its MIDI buffer filled
// with 3-byte messages until it takes no more.
std::atomic<int32_t> cycleCapacity{-1};
jack_port_t* measuringPort = nullptr;

int fillOneCycle(jack_nframes_t frames, void*) {
  void* buffer = jack_port_get_buffer(measuringPort, frames);
  jack_midi_clear_buffer(buffer);
  const jack_midi_data_t noteOff[] = {0x80, 69, 0};
  int32_t count = 0;
  while (jack_midi_event_write(buffer, 0, noteOff, sizeof noteOff) == 0) ++count;
  jack_midi_clear_buffer(buffer);
  cycleCapacity.store(count);
  return 0;
}

TEST(JackMidiQueue, HoldsSeveralOfTheFullestCyclesOfThisServer) {
  jack_set_error_function([](const char*) {});  // the full buffer is reported as an error
  jack_client_t* client =
      jack_client_open(uniqueClientName("measure").c_str(), JackNoStartServer, nullptr);
  ASSERT_NE(client, nullptr);
  measuringPort = jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  ASSERT_EQ(jack_set_process_callback(client, fillOneCycle, nullptr), 0);
  ASSERT_EQ(jack_activate(client), 0);
  ASSERT_TRUE(waitUntil([] { return cycleCapacity.load() >= 0; }));
  jack_client_close(client);
  std::printf("one JACK cycle carries up to %d messages; the queue holds %u\n",
              cycleCapacity.load(), MidiQueueCapacity);
  EXPECT_GE(MidiQueueCapacity, 4u * static_cast<uint32_t>(cycleCapacity.load()));
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
