// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender_process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

extern char** environ;

namespace {

constexpr int ReadyTimeoutMs = 5000;

bool readLine(int fd, std::string& line, int timeoutMs) {
  line.clear();
  for (;;) {
    pollfd output{fd, POLLIN, 0};
    if (poll(&output, 1, timeoutMs) <= 0) return false;
    char c = 0;
    if (read(fd, &c, 1) != 1) return false;
    if (c == '\n') return true;
    line += c;
  }
}

}  // namespace

std::string uniqueClientName(const char* role) {
  static std::atomic<int> serial{0};
  return std::string("qf-") + role + "-" + std::to_string(getpid()) + "-" +
         std::to_string(++serial);
}

SenderProcess startSender(const std::string& clientName,
                          const std::vector<std::string>& arguments) {
  SenderProcess sender;
  sender.clientName = clientName;
  int toSender[2];
  int fromSender[2];
  // Close-on-exec, so that no other sender inherits this one's pipe ends and keeps it alive.
  if (pipe2(toSender, O_CLOEXEC) != 0) return sender;
  if (pipe2(fromSender, O_CLOEXEC) != 0) {
    close(toSender[0]);
    close(toSender[1]);
    return sender;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toSender[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fromSender[1], STDOUT_FILENO);
  std::vector<std::string> words{QUILLFERN_TEST_MIDI_SENDER, clientName};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const int spawned = posix_spawn(&sender.pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(toSender[0]);
  close(fromSender[1]);
  sender.input = toSender[1];
  sender.output = fromSender[0];
  if (spawned != 0) sender.pid = -1;
  if (sender.pid == -1 || !waitForLine(sender, "ready", ReadyTimeoutMs)) endSender(sender);
  return sender;
}

bool waitForLine(SenderProcess& sender, const char* line, int timeoutMs) {
  std::string text;
  while (readLine(sender.output, text, timeoutMs)) {
    if (text == line) return true;
  }
  return false;
}

void endSender(SenderProcess& sender) {
  if (sender.input != -1) close(sender.input);
  if (sender.pid != -1) waitpid(sender.pid, nullptr, 0);
  if (sender.output != -1) close(sender.output);
  sender.input = sender.output = -1;
  sender.pid = -1;
}

long residentBytes() {
  long pages = 0;
  long resident = 0;
  FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return 0;
  if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
  std::fclose(statm);
  return resident * sysconf(_SC_PAGESIZE);
}
