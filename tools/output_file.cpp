#include "tools/output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

// Short, so that it fits beside a name of up to 250 bytes; the X's become a unique suffix.
constexpr const char* TemporaryName = ".quillfern-XXXXXX";
constexpr int MostLinks = 40;  // as the kernel allows before ELOOP
constexpr int CleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The temporary files a signal handler must remove: fixed storage, as the handler may only
// call async-signal-safe functions. Slots change only with the cleanup signals blocked.
constexpr int MostTemporaries = 4;
std::array<std::array<char, PATH_MAX>, MostTemporaries> temporaries;
std::array<volatile sig_atomic_t, MostTemporaries> temporaryInUse{};

void removeTemporariesAndEnd(int signal) {
  for (int slot = 0; slot < MostTemporaries; ++slot) {
    if (temporaryInUse[slot]) unlink(temporaries[slot].data());
  }
  // Ends with the signal's own status, as the shell and a parent expect.
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  sigaction(signal, &standard, nullptr);
  raise(signal);
}

// Holds the cleanup signals back while the list of temporaries and the files change together.
struct SignalsHeld {
  sigset_t previous{};
  SignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (const int signal : CleanupSignals) sigaddset(&held, signal);
    pthread_sigmask(SIG_BLOCK, &held, &previous);
  }
  ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;
};

void listTemporary(const std::string& path) {
  for (int slot = 0; slot < MostTemporaries; ++slot) {
    if (temporaryInUse[slot]) continue;
    std::memcpy(temporaries[slot].data(), path.c_str(), path.size() + 1);
    temporaryInUse[slot] = 1;
    return;
  }
}

void unlistTemporary(const std::string& path) {
  for (int slot = 0; slot < MostTemporaries; ++slot) {
    if (temporaryInUse[slot] && path == temporaries[slot].data()) temporaryInUse[slot] = 0;
  }
}

bool failWith(const OutputFile& file, int number, std::string& error) {
  error = "cannot write " + file.name + ": " + systemReason(number);
  return false;
}

// Follows a chain of symbolic links that ends at a name not yet taken.
fs::path resolveLinks(fs::path path) {
  for (int depth = 0; depth < MostLinks; ++depth) {
    std::error_code failure;
    if (!fs::is_symlink(path, failure)) break;
    const fs::path link = fs::read_symlink(path, failure);
    if (failure) break;
    path = link.is_absolute() ? link : path.parent_path() / link;
  }
  return path;
}

// New files get the mode any program's would (0666 less the umask); a replaced file keeps its.
mode_t modeFor(const struct stat* existing) {
  if (existing != nullptr) return existing->st_mode & 07777;
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

bool openTemporaryBeside(OutputFile& file, const struct stat* existing, std::string& error) {
  const fs::path directory = fs::path(file.target).parent_path();
  std::string path = (directory.empty() ? fs::path(TemporaryName) : directory / TemporaryName);
  if (path.size() >= PATH_MAX) return failWith(file, ENAMETOOLONG, error);
  const SignalsHeld held;
  file.descriptor = mkstemp(path.data());
  if (file.descriptor < 0) return failWith(file, errno, error);
  file.temporary = path;
  listTemporary(path);
  fchmod(file.descriptor, modeFor(existing));
  file.seekable = true;
  return true;
}

bool openExisting(OutputFile& file, std::string& error) {
  file.descriptor = open(file.target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (file.descriptor < 0) return failWith(file, errno, error);
  file.seekable = lseek(file.descriptor, 0, SEEK_CUR) >= 0;
  return true;
}

}  // namespace

void removeTemporariesOnSignals() {
  struct sigaction cleanup {};
  cleanup.sa_handler = removeTemporariesAndEnd;
  sigemptyset(&cleanup.sa_mask);
  for (const int signal : CleanupSignals) sigaction(signal, &cleanup, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

bool isDeviceOrPipe(const std::string& name) {
  struct stat status {};
  return name == "-" ||
         (stat(name.c_str(), &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode));
}

bool openOutput(const std::string& name, OutputFile& file, std::string& error) {
  file = OutputFile{name, name, {}, -1, false};
  if (name == "-") {
    file.descriptor = STDOUT_FILENO;
    file.seekable = lseek(STDOUT_FILENO, 0, SEEK_CUR) >= 0;
    return true;
  }
  struct stat status {};
  if (stat(name.c_str(), &status) != 0) {
    if (errno != ENOENT) return failWith(file, errno, error);
    file.target = resolveLinks(name).string();
    return openTemporaryBeside(file, nullptr, error);
  }
  if (S_ISDIR(status.st_mode)) return failWith(file, EISDIR, error);
  if (!S_ISREG(status.st_mode)) return openExisting(file, error);
  std::array<char, PATH_MAX> real{};
  if (realpath(name.c_str(), real.data()) == nullptr) return failWith(file, errno, error);
  file.target = real.data();
  // Replacing goes through the directory: ask the file itself, as writing into it would.
  if (faccessat(AT_FDCWD, file.target.c_str(), W_OK, AT_EACCESS) != 0) {
    return failWith(file, errno, error);
  }
  return openTemporaryBeside(file, &status, error);
}

bool commitOutput(OutputFile& file, std::string& error) {
  const bool closed = file.descriptor == STDOUT_FILENO || close(file.descriptor) == 0;
  const int closeError = errno;
  file.descriptor = -1;
  if (!closed) {
    discardOutput(file);
    return failWith(file, closeError, error);
  }
  if (file.temporary.empty()) return true;
  const SignalsHeld held;
  if (rename(file.temporary.c_str(), file.target.c_str()) != 0) {
    const int renameError = errno;
    discardOutput(file);
    return failWith(file, renameError, error);
  }
  unlistTemporary(file.temporary);
  file.temporary.clear();
  return true;
}

void discardOutput(OutputFile& file) {
  if (file.descriptor >= 0 && file.descriptor != STDOUT_FILENO) close(file.descriptor);
  file.descriptor = -1;
  if (file.temporary.empty()) return;
  const SignalsHeld held;
  unlink(file.temporary.c_str());
  unlistTemporary(file.temporary);
  file.temporary.clear();
}

bool isSameFile(const std::string& first, const std::string& second, bool firstIsInput) {
  struct stat one {};
  struct stat two {};
  const bool haveFirst = first == "-"
                             ? fstat(firstIsInput ? STDIN_FILENO : STDOUT_FILENO, &one) == 0
                             : stat(first.c_str(), &one) == 0;
  const bool haveSecond =
      second == "-" ? fstat(STDOUT_FILENO, &two) == 0 : stat(second.c_str(), &two) == 0;
  return haveFirst && haveSecond && one.st_dev == two.st_dev && one.st_ino == two.st_ino;
}

int openScratchFile(std::string& error) {
  std::error_code unset;  // TMPDIR naming no folder: /tmp
  fs::path directory = fs::temp_directory_path(unset);
  if (unset) directory = "/tmp";
  std::string path = (directory / "quillfern-XXXXXX").string();
  const int descriptor = mkstemp(path.data());
  if (descriptor < 0) {
    error = "cannot make a temporary file in " + fs::path(path).parent_path().string() + ": " +
            systemReason(errno);
    return -1;
  }
  unlink(path.c_str());
  return descriptor;
}

bool writeAll(int descriptor, const void* bytes, std::size_t size) {
  const auto* next = static_cast<const char*>(bytes);
  while (size > 0) {
    const ssize_t written = write(descriptor, next, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = EIO;
      return false;
    }
    next += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

std::string systemReason(int number) {
  std::array<char, 256> text{};
  return strerror_r(number, text.data(), text.size());  // GNU: returns the text
}

std::string lowerExtension(const std::string& name) {
  std::string extension = fs::path(name).extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension;
}
