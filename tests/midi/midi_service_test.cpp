// SPDX-License-Identifier: GPL-3.0-or-later
// The MIDI service without any MIDI system to talk to, and the parts of it that need none:
// turning received bytes into data notices, and the device table.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "midi/midi_device_table.h"
#include "midi/midi_messages.h"
#include "midi/midi_service.h"

namespace {

bool pack(std::vector<unsigned char> bytes, uint32_t* message) {
  return packReceivedMessage(bytes.data(), bytes.size(), message);
}

TEST(ReceivedMessages, ShortMessagesArePackedStatusFirst) {
  uint32_t message = 0;
  ASSERT_TRUE(pack({0x90, 0x45, 0x64}, &message));
  EXPECT_EQ(message, 0x644590u);
  ASSERT_TRUE(pack({0xC1, 0x05}, &message));  // two-byte program change
  EXPECT_EQ(message, 0x05C1u);
  ASSERT_TRUE(pack({0xF8}, &message));  // clock and active sensing are data notices too
  EXPECT_EQ(message, 0xF8u);
  ASSERT_TRUE(pack({0xFE}, &message));
  EXPECT_EQ(message, 0xFEu);
}

TEST(ReceivedMessages, WhatIsNoShortMessageIsNoDataNotice) {
  uint32_t message = 0x12345678;
  EXPECT_FALSE(pack({}, &message));
  EXPECT_FALSE(pack({0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}, &message));  // system exclusive
  EXPECT_FALSE(pack({0xF0, 0x7E, 0xF7}, &message));                    // short exclusive
  EXPECT_FALSE(pack({0xF7}, &message));                                // its end alone
  EXPECT_FALSE(pack({0x45, 0x64}, &message));                          // data without status
  EXPECT_FALSE(pack({0x90, 0x45, 0x64, 0x00}, &message));              // too long
  EXPECT_EQ(message, 0x12345678u);
}

// Random byte streams cut into events as a MIDI system may hand them over, whatever they
// hold, interleaved with open and close notices, must keep the voice consistent.
TEST(ReceivedMessages, RandomBytesKeepTheVoiceConsistent) {
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> length(0, 4);
  std::uniform_int_distribution<int> kind(0, 99);
  const uint32_t notices[] = {MidiOpenNotice, MidiCloseNotice, 0x3C4, 0x3C5};
  EngineState voice;
  int32_t highestHeld = 0;
  for (int step = 0; step < 200000; ++step) {
    const int roll = kind(random);
    if (roll < 2) {
      handleMidiNotice(voice, notices[roll == 0 ? byte(random) % 4 : 1], byte(random));
    } else {
      std::vector<unsigned char> bytes(static_cast<size_t>(length(random)));
      for (unsigned char& b : bytes) b = static_cast<unsigned char>(byte(random));
      // Favour note messages of channel 1 so that keys pile up and get released.
      if (!bytes.empty() && roll < 60) bytes[0] = roll < 35 ? 0x90 : 0x80;
      uint32_t message = 0;
      if (packReceivedMessage(bytes.data(), bytes.size(), &message)) {
        EXPECT_TRUE(handleMidiNotice(voice, MidiDataNotice, message));
      }
    }
    const int32_t held = voice.heldNotes.load();
    ASSERT_GE(held, 0) << "step " << step;
    ASSERT_EQ(voice.gate.load(), held > 0 ? 1 : 0) << "step " << step;
    highestHeld = std::max(highestHeld, held);
  }
  EXPECT_GT(highestHeld, 2);  // the stream did hold several keys at once
}

std::string readFrom(const std::vector<std::string>& names, uint32_t index) {
  return index < names.size() ? names[index] : std::string();
}

TEST(MidiDeviceTable, APortWhoseNameCannotBeReadIsLeftOutWithoutShiftingOthers) {
  const std::vector<std::string> alsa{"Keys:port 20:0", "", "Pads:port 24:0"};
  const std::vector<std::string> jack{"sender:out"};
  MidiDeviceTable table;
  appendReadablePorts(table, 2, 3, [&](uint32_t i) { return readFrom(alsa, i); });
  appendReadablePorts(table, 3, 1, [&](uint32_t i) { return readFrom(jack, i); });
  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(table[0].portName, "Keys:port 20:0");
  EXPECT_EQ(table[1].portName, "Pads:port 24:0");
  EXPECT_EQ(table[1].api, 2);
  EXPECT_EQ(table[2].portName, "sender:out");
  EXPECT_EQ(table[2].api, 3);
}

TEST(MidiDeviceTable, APortIsFoundByNameWhereverTheSystemNowNumbersIt) {
  const std::vector<std::string> now{"b:out", "c:out"};  // "a:out" went away since listing
  const auto reader = [&](uint32_t i) { return readFrom(now, i); };
  EXPECT_EQ(findPortIndex(2, reader, "c:out"), 1);
  EXPECT_EQ(findPortIndex(2, reader, "b:out"), 0);
  EXPECT_EQ(findPortIndex(2, reader, "a:out"), -1);
}

// Runs the calls with the process's standard output and error going to a file, and returns
// what they printed.
template <typename Calls>
std::string printedBy(Calls calls) {
  char path[] = "/tmp/quillfern-midi-quiet.XXXXXX";
  const int file = mkstemp(path);
  std::fflush(stdout);
  std::fflush(stderr);
  const int savedOut = dup(STDOUT_FILENO);
  const int savedErr = dup(STDERR_FILENO);
  dup2(file, STDOUT_FILENO);
  dup2(file, STDERR_FILENO);
  calls();
  std::fflush(stdout);
  std::fflush(stderr);
  dup2(savedOut, STDOUT_FILENO);
  dup2(savedErr, STDERR_FILENO);
  close(savedOut);
  close(savedErr);
  std::string printed;
  char chunk[256];
  lseek(file, 0, SEEK_SET);
  for (ssize_t n; (n = read(file, chunk, sizeof chunk)) > 0;) printed.append(chunk, n);
  close(file);
  unlink(path);
  return printed;
}

void recordNothing(MidiPortHandle, uint32_t, uintptr_t, uintptr_t, uintptr_t) noexcept {}

// No ALSA sequencer on this machine (no /dev/snd/seq) and no JACK server under the name used:
// the list is empty, nothing is printed however often it is asked, and no server is started.
TEST(MidiWithoutSystems, ListsNothingPrintsNothingAndStartsNoServer) {
  // A fixed name: a server started by mistake would not take a new slot in JACK's registry.
  const std::string server = "quillfern-absent";
  setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
  unsetenv("JACK_NO_START_SERVER");
  setMidiClientName("quillfern-test");

  uint32_t counts[3] = {9, 9, 9};
  MidiPortHandle port = nullptr;
  int32_t opened = MidiOk;
  const std::string printed = printedBy([&] {
    for (uint32_t& count : counts) count = countMidiInputs();
    opened = openMidiInput(&port, 0, recordNothing, 0);
  });
  EXPECT_EQ(printed, "");
  for (uint32_t count : counts) EXPECT_EQ(count, 0u);
  EXPECT_EQ(midiInputName(0), nullptr);
  EXPECT_EQ(opened, MidiBadDeviceId);
  EXPECT_EQ(port, nullptr);

  jack_status_t status{};
  jack_client_t* client = jack_client_open("quillfern-probe", JackNoStartServer, &status);
  EXPECT_EQ(client, nullptr) << "a JACK server answers under " << server;
  if (client != nullptr) jack_client_close(client);
}

}  // namespace
