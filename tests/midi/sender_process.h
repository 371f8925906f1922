// SPDX-License-Identifier: GPL-3.0-or-later
// Starts and ends the test MIDI senders (midi_sender.cpp) as child processes of a test.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct SenderProcess {
  pid_t pid = -1;
  int input = -1;   // the sender's standard input; closing it ends the sender
  int output = -1;  // the sender's standard output, read line by line
  std::string clientName;
};

// A JACK client name no other sender of any test process uses.
std::string uniqueClientName(const char* role);

// Starts a sender with the given arguments after its client name and waits until it says
// "ready". pid stays -1 when it could not start.
SenderProcess startSender(const std::string& clientName, const std::vector<std::string>& arguments);

// Waits up to timeoutMs for the sender to print the line; false when it did not.
bool waitForLine(SenderProcess& sender, const char* line, int timeoutMs);

// Closes the sender's standard input and waits for it to end.
void endSender(SenderProcess& sender);

// Resident memory of this process in bytes.
long residentBytes();
