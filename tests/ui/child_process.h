// Starting the toolkit probe as a child process with an environment of the test's choosing.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

// The probe program, built next to the tests (its path is compiled in).
std::string probePath();

struct ChildProcess {
  pid_t pid = -1;
  int outputFd = -1;  // the child's standard output
  int errorFd = -1;   // the child's standard error
};

// Starts `arguments` with this process's environment, changed by `changes` (a variable
// mapped to nothing is removed).
ChildProcess startChild(const std::vector<std::string>& arguments,
                        const std::map<std::string, std::optional<std::string>>& changes);

// Reads a descriptor up to its end.
std::string readAll(int fd);

// Reads one line from the descriptor (waiting for it), without the line end.
std::string readLine(int fd);

// Waits for the child and returns its exit status, or 128 + signal number.
int waitForChild(pid_t pid);

// User plus system processor time the process has used so far, in clock ticks.
long processorTicks(pid_t pid);
