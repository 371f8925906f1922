#include "child_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

std::string probePath() {
  return QUILLFERN_TOOLKIT_PROBE;
}

namespace {

std::vector<std::string> changedEnvironment(
    const std::map<std::string, std::optional<std::string>>& changes) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string variable(*entry);
    if (!changes.contains(variable.substr(0, variable.find('=')))) environment.push_back(variable);
  }
  for (const auto& [name, value] : changes) {
    if (value) environment.push_back(name + "=" + *value);
  }
  return environment;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

ChildProcess startChild(const std::vector<std::string>& arguments,
                        const std::map<std::string, std::optional<std::string>>& changes) {
  int output[2];
  int error[2];
  if (pipe2(output, O_CLOEXEC) != 0 || pipe2(error, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, error[1], STDERR_FILENO);
  std::vector<std::string> argumentTexts = arguments;
  std::vector<std::string> environmentTexts = changedEnvironment(changes);
  ChildProcess child;
  if (posix_spawn(&child.pid, argumentTexts[0].c_str(), &actions, nullptr,
                  pointersTo(argumentTexts).data(), pointersTo(environmentTexts).data()) != 0) {
    child.pid = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  close(output[1]);
  close(error[1]);
  child.outputFd = output[0];
  child.errorFd = error[0];
  return child;
}

std::string readAll(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, got);
  close(fd);
  return text;
}

std::string readLine(int fd) {
  std::string line;
  char character;
  while (read(fd, &character, 1) == 1 && character != '\n') line.push_back(character);
  return line;
}

int waitForChild(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

long processorTicks(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // The command name may hold spaces; the fields after it are counted from its ')'.
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  long userTicks = 0;
  long systemTicks = 0;
  for (int index = 3; fields >> field; ++index) {
    if (index == 14) userTicks = std::stol(field);
    if (index == 15) {
      systemTicks = std::stol(field);
      break;
    }
  }
  return userTicks + systemTicks;
}
