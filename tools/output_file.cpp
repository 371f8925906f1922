// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <linux/capability.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <span>

#include "tools/score.h"

namespace {

namespace fs = std::filesystem;

constexpr int MostLinks = 40;  // as the kernel allows before ELOOP
constexpr int MostNameAttempts = 100;

// Every signal whose default action ends the program, but SIGPIPE and SIGXFSZ, which are
// ignored so that a closed pipe and a file-size limit become write errors, and SIGKILL, which
// no program can catch. The real-time signals are added at run time.
constexpr int EndingSignals[] = {SIGHUP,  SIGINT,    SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS,
                                 SIGFPE,  SIGUSR1,   SIGSEGV, SIGUSR2, SIGALRM, SIGTERM, SIGSTKFLT,
                                 SIGXCPU, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSYS};

// The named temporary files a signal handler must remove, each by its folder and name: fixed
// storage, as the handler may only call async-signal-safe functions. Slots change only with
// every signal held back.
constexpr int MostTemporaries = 4;
constexpr std::size_t LongestTemporaryName = 32;
struct TemporarySlot {
  volatile sig_atomic_t inUse = 0;
  int folder = -1;
  std::array<char, LongestTemporaryName> name{};
};
std::array<TemporarySlot, MostTemporaries> temporaries;

void removeTemporariesAndEnd(int signal) {
  for (const TemporarySlot& slot : temporaries) {
    if (slot.inUse) unlinkat(slot.folder, slot.name.data(), 0);
  }
  // Ends with the signal's own status, as the shell and a parent expect.
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  sigaction(signal, &standard, nullptr);
  raise(signal);
}

// Holds every signal back while the list of temporaries and the files change together.
struct SignalsHeld {
  sigset_t previous{};
  SignalsHeld() {
    sigset_t held;
    sigfillset(&held);
    pthread_sigmask(SIG_BLOCK, &held, &previous);
  }
  ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;
};

void listTemporary(int folder, const std::string& name) {
  for (TemporarySlot& slot : temporaries) {
    if (slot.inUse) continue;
    slot.folder = folder;
    std::memcpy(slot.name.data(), name.c_str(), name.size() + 1);
    slot.inUse = 1;
    return;
  }
}

void unlistTemporary(int folder, const std::string& name) {
  for (TemporarySlot& slot : temporaries) {
    if (slot.inUse && slot.folder == folder && name == slot.name.data()) slot.inUse = 0;
  }
}

// A hidden name beside the target, short enough for any folder; unique with the attempts made.
std::string hiddenName() {
  constexpr std::string_view Letters =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string name = ".quillfern-";
  for (int index = 0; index < 6; ++index) name += Letters[arc4random_uniform(Letters.size())];
  return name;
}

bool failWith(const OutputFile& file, int number, std::string& error) {
  error = "cannot write " + file.name + ": " + systemReason(number);
  return false;
}

// The folder a path ends up in and the name there, symbolic links followed: a folder of its
// own descriptor, so that nothing needs its absolute path.
struct Place {
  int folder = -1;
  std::string folderName;  // for messages
  std::string leaf;
};

int openFolder(int from, const fs::path& path) {
  return openat(from, path.empty() ? "." : path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

bool failToLocate(Place& place, int number, int& failure) {
  failure = number;
  if (place.folder >= 0) close(place.folder);
  place.folder = -1;
  return false;
}

bool locate(const std::string& name, Place& place, int& failure) {
  const fs::path path = name;
  place.folderName = path.parent_path().empty() ? "." : path.parent_path().string();
  place.leaf = path.filename();
  place.folder = openFolder(AT_FDCWD, path.parent_path());
  for (int depth = 0;; ++depth) {
    if (place.folder < 0) return failToLocate(place, errno, failure);
    if (place.leaf.empty() || place.leaf == "." || place.leaf == "..") {
      return failToLocate(place, EISDIR, failure);
    }
    std::array<char, PATH_MAX> link{};
    const ssize_t length = readlinkat(place.folder, place.leaf.c_str(), link.data(), link.size());
    if (length < 0 && (errno == EINVAL || errno == ENOENT)) return true;  // the target itself
    if (length < 0) return failToLocate(place, errno, failure);
    if (depth == MostLinks) return failToLocate(place, ELOOP, failure);
    const fs::path target(std::string(link.data(), static_cast<std::size_t>(length)));
    const int next =
        openFolder(target.is_absolute() ? AT_FDCWD : place.folder, target.parent_path());
    place.folderName = target.is_absolute()
                           ? target.parent_path().string()
                           : (fs::path(place.folderName) / target.parent_path()).string();
    close(place.folder);
    place.folder = next;
    place.leaf = target.filename();
  }
}

// Whether the process may act as the owner of any file (root, or CAP_FOWNER).
bool overridesOwnership() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3> data{};
  if (syscall(SYS_capget, &header, data.data()) != 0) return false;
  return (data[CAP_FOWNER / 32].effective & (1u << (CAP_FOWNER % 32))) != 0;
}

bool isImmutableOrAppendOnly(int folder, const std::string& name) {
  struct statx attributes {};
  constexpr uint64_t Fixed = STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND;
  return statx(folder, name.c_str(), AT_SYMLINK_NOFOLLOW | AT_EMPTY_PATH, 0, &attributes) == 0 &&
         (attributes.stx_attributes & attributes.stx_attributes_mask & Fixed) != 0;
}

// What the rename at the end will ask of the old file, asked now: that it is writable (as it
// would be to write into it), that the folder lets it be replaced (in a folder with the sticky
// bit, such as /tmp, only its owner, the folder's owner or root may), and that it is neither
// immutable nor append-only.
bool checkReplaceable(const OutputFile& file, const std::string& folderName, const struct stat& old,
                      std::string& error) {
  if (faccessat(file.folder, file.leaf.c_str(), W_OK, AT_EACCESS) != 0) {
    return failWith(file, errno, error);
  }
  struct stat folder {};
  const uid_t user = geteuid();
  if (fstat(file.folder, &folder) == 0 && (folder.st_mode & S_ISVTX) != 0 && user != old.st_uid &&
      user != folder.st_uid && !overridesOwnership()) {
    error = "cannot write " + file.name + ": " + systemReason(EPERM) + ": in " +
            readableName(folderName) +
            ", a folder with the sticky bit, only the file's owner or the folder's may replace it";
    return false;
  }
  if (isImmutableOrAppendOnly(file.folder, file.leaf) || isImmutableOrAppendOnly(file.folder, "")) {
    error = "cannot write " + file.name + ": " + systemReason(EPERM) +
            ": it or its folder is immutable or append-only";
    return false;
  }
  return true;
}

std::string descriptorPath(int descriptor) {
  return "/proc/self/fd/" + std::to_string(descriptor);
}

// An unnamed file in the folder, which can be linked into place later through /proc.
bool openUnnamed(OutputFile& file) {
  const int descriptor = openat(file.folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (descriptor < 0) return false;
  if (access(descriptorPath(descriptor).c_str(), F_OK) != 0) {
    close(descriptor);
    errno = EOPNOTSUPP;  // no /proc: it could never be linked
    return false;
  }
  file.descriptor = descriptor;
  file.unnamed = true;
  return true;
}

// A hidden, uniquely named file in the folder.
bool openNamed(OutputFile& file) {
  const SignalsHeld held;
  for (int attempt = 0; attempt < MostNameAttempts; ++attempt) {
    const std::string name = hiddenName();
    file.descriptor =
        openat(file.folder, name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (file.descriptor >= 0) {
      file.temporary = name;
      listTemporary(file.folder, name);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

// The file systems and kernels that make no unnamed files say so in one of these ways.
bool makesNoUnnamedFiles(int number) {
  return number == EOPNOTSUPP || number == EISDIR || number == EINVAL;
}

mode_t newFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// A new file gets the mode any program's would (0666 less the umask). A replacement keeps the
// old file's permission bits, and its owner and group where the process may give them; the
// set-user and set-group bits stay only with the owner and group they were set for.
void giveOwnerAndMode(const OutputFile& file) {
  mode_t mode = file.mode;
  if (file.owner != static_cast<uid_t>(-1) &&
      fchown(file.descriptor, file.owner, file.group) != 0) {
    mode &= ~static_cast<mode_t>(S_ISUID | S_ISGID);
    // The group alone, which an owner may give among their own groups; else it stays ours.
    [[maybe_unused]] const bool groupKept =
        fchown(file.descriptor, static_cast<uid_t>(-1), file.group) == 0;
  }
  fchmod(file.descriptor, mode);
}

bool openBeside(OutputFile& file, const std::string& folderName, const struct stat* old,
                std::string& error) {
  const bool opened = openUnnamed(file) || (makesNoUnnamedFiles(errno) && openNamed(file));
  if (!opened) {
    error = "cannot write " + file.name + ": " + systemReason(errno) + " in its folder " +
            readableName(folderName) +
            ", where the finished file is put in place (an old file is replaced only when the new "
            "one is complete, never written over)";
    return false;
  }
  file.mode = old != nullptr ? old->st_mode & 07777 : newFileMode();
  if (old != nullptr) {
    file.owner = old->st_uid;
    file.group = old->st_gid;
  }
  file.seekable = true;
  return true;
}

bool openExisting(const std::string& name, OutputFile& file, std::string& error) {
  file.descriptor = open(name.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (file.descriptor < 0) return failWith(file, errno, error);
  file.seekable = lseek(file.descriptor, 0, SEEK_CUR) >= 0;
  return true;
}

// The unnamed file under a hidden name beside the target, where it waits for its turn to take
// the target's place.
bool linkBeside(OutputFile& file) {
  const std::string source = descriptorPath(file.descriptor);
  const SignalsHeld held;
  for (int attempt = 0; attempt < MostNameAttempts; ++attempt) {
    const std::string name = hiddenName();
    if (linkat(AT_FDCWD, source.c_str(), file.folder, name.c_str(), AT_SYMLINK_FOLLOW) != 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    listTemporary(file.folder, name);
    file.temporary = name;
    file.unnamed = false;
    return true;
  }
  return false;
}

bool renameInFolder(const OutputFile& file, const std::string& from, const std::string& to,
                    unsigned int flags) {
  return renameat2(file.folder, from.c_str(), file.folder, to.c_str(), flags) == 0;
}

// The complete file takes the target's place: renamed there when the name is free, or
// exchanged with the old file, which stays under the hidden name until every output is in
// place. A file system that exchanges nothing has the old file replaced outright.
bool placeOutput(OutputFile& file) {
  if (file.folder < 0) return true;
  file.placed = Placement::IntoFreeName;
  if (renameInFolder(file, file.temporary, file.leaf, RENAME_NOREPLACE)) return true;
  file.placed = Placement::Exchanged;
  if (errno == EEXIST && renameInFolder(file, file.temporary, file.leaf, RENAME_EXCHANGE)) {
    return true;
  }
  file.placed = Placement::OverOldFile;
  if (renameInFolder(file, file.temporary, file.leaf, 0)) return true;
  file.placed = Placement::Not;
  return false;
}

// Undoes placeOutput where it can: the old file back in place, or the name free again, with the
// new file under the hidden name, to be removed.
void putBack(OutputFile& file) {
  if (file.placed == Placement::Exchanged) {
    renameInFolder(file, file.temporary, file.leaf, RENAME_EXCHANGE);
  } else if (file.placed == Placement::IntoFreeName) {
    renameInFolder(file, file.leaf, file.temporary, RENAME_NOREPLACE);
  }
  file.placed = Placement::Not;
}

// What placeOutput leaves under the hidden name: nothing, or the old file, now to be removed.
void forgetTemporary(OutputFile& file) {
  if (file.placed != Placement::Exchanged) {
    unlistTemporary(file.folder, file.temporary);
    file.temporary.clear();
  }
}

bool closeDescriptor(OutputFile& file) {
  const bool closed = file.descriptor == STDOUT_FILENO || close(file.descriptor) == 0;
  file.descriptor = -1;
  return closed;
}

}  // namespace

bool openStandardStreams(bool& outputClosed) {
  outputClosed = fcntl(STDOUT_FILENO, F_GETFD) == -1 && errno == EBADF;
  for (int stream = STDIN_FILENO; stream <= STDERR_FILENO; ++stream) {
    if (fcntl(stream, F_GETFD) != -1 || errno != EBADF) continue;
    if (open("/dev/null", stream == STDIN_FILENO ? O_RDONLY : O_WRONLY) != stream) return false;
  }
  return true;
}

void removeTemporariesOnSignals() {
  struct sigaction cleanup {};
  cleanup.sa_handler = removeTemporariesAndEnd;
  sigemptyset(&cleanup.sa_mask);
  for (const int signal : EndingSignals) sigaction(signal, &cleanup, nullptr);
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) sigaction(signal, &cleanup, nullptr);
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
}

bool isDeviceOrPipe(const std::string& name) {
  struct stat status {};
  return name == "-" ||
         (stat(name.c_str(), &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode));
}

bool openOutput(const std::string& name, OutputFile& file, std::string& error) {
  file = OutputFile{};
  file.name = readableName(name);
  if (name == "-") {
    file.descriptor = STDOUT_FILENO;
    file.seekable = lseek(STDOUT_FILENO, 0, SEEK_CUR) >= 0;
    return true;
  }
  struct stat status {};
  if (stat(name.c_str(), &status) == 0) {
    if (S_ISDIR(status.st_mode)) return failWith(file, EISDIR, error);
    if (!S_ISREG(status.st_mode)) return openExisting(name, file, error);
  } else if (errno != ENOENT) {
    return failWith(file, errno, error);
  }
  Place place;
  int failure = 0;
  if (!locate(name, place, failure)) return failWith(file, failure, error);
  file.folder = place.folder;
  file.leaf = place.leaf;
  const bool replacing = fstatat(file.folder, file.leaf.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
  if ((replacing && !checkReplaceable(file, place.folderName, status, error)) ||
      !openBeside(file, place.folderName, replacing ? &status : nullptr, error)) {
    discardOutput(file);
    return false;
  }
  return true;
}

// Everything that can fail before a target is replaced: the file complete and closed, given its
// owner and mode, and named beside its target. A device or standard output is only closed.
bool stageOutput(OutputFile& file, std::string& error) {
  if (file.folder >= 0) giveOwnerAndMode(file);
  if (file.unnamed && !linkBeside(file)) return failWith(file, errno, error);
  if (!closeDescriptor(file)) return failWith(file, errno, error);
  return true;
}

bool commitOutputs(std::span<OutputFile* const> files, std::string& error) {
  const auto discardAll = [files] {
    for (OutputFile* file : files) discardOutput(*file);
    return false;
  };
  for (OutputFile* file : files) {
    if (!stageOutput(*file, error)) return discardAll();
  }
  // No signal may end the program between the first target replaced and the last.
  const SignalsHeld held;
  for (std::size_t index = 0; index < files.size(); ++index) {
    if (placeOutput(*files[index])) continue;
    failWith(*files[index], errno, error);
    for (std::size_t placed = index; placed-- > 0;) putBack(*files[placed]);
    return discardAll();
  }
  for (OutputFile* file : files) {
    forgetTemporary(*file);
    discardOutput(*file);
  }
  return true;
}

void discardOutput(OutputFile& file) {
  if (file.descriptor >= 0 && file.descriptor != STDOUT_FILENO) close(file.descriptor);
  file.descriptor = -1;
  if (!file.temporary.empty()) {
    const SignalsHeld held;
    unlinkat(file.folder, file.temporary.c_str(), 0);
    unlistTemporary(file.folder, file.temporary);
    file.temporary.clear();
  }
  if (file.folder >= 0) close(file.folder);
  file.folder = -1;
}

FileIdentity identityOf(const std::string& name, int standardStream) {
  struct stat status {};
  const bool found =
      name == "-" ? fstat(standardStream, &status) == 0 : stat(name.c_str(), &status) == 0;
  if (found) return {true, true, S_ISCHR(status.st_mode), status.st_dev, status.st_ino, {}};
  Place place;
  int failure = 0;
  if (!locate(name, place, failure)) return {};
  const bool folderFound = fstat(place.folder, &status) == 0;
  close(place.folder);
  if (!folderFound) return {};
  return {true, false, false, status.st_dev, status.st_ino, place.leaf};
}

bool isSameTarget(const FileIdentity& first, const FileIdentity& second) {
  return first.known && second.known && !first.characterDevice && first.exists == second.exists &&
         first.device == second.device && first.inode == second.inode && first.leaf == second.leaf;
}

int openScratchFile(std::string& error) {
  std::error_code unset;  // TMPDIR naming no folder: /tmp
  fs::path directory = fs::temp_directory_path(unset);
  if (unset) directory = "/tmp";
  const int unnamed = open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (unnamed >= 0) return unnamed;
  std::string path = (directory / "quillfern-XXXXXX").string();
  const int descriptor = mkstemp(path.data());
  if (descriptor < 0) {
    error = "cannot make a temporary file in " + readableName(directory.string()) + ": " +
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
