// SPDX-License-Identifier: GPL-3.0-or-later
// Where the renderer's outputs go, opened before any rendering so that every problem with a
// path is reported before minutes of work, and written so that nothing is harmed on failure.
//
// A regular file (or a name not yet taken) is written into a file of its own in the target's
// folder, which is made before the render starts: that proves the folder takes the finished
// file. Where the file system allows, it is unnamed (O_TMPFILE) and linked into place only when
// complete, so that not even SIGKILL leaves anything behind; elsewhere it has a unique hidden
// name, removed on failure and on every signal that would end the program. The finished file
// replaces the old one by rename, never by writing over it, and takes the old one's permission
// bits and, where allowed, its owner and group. All of it works relative to the folder
// (openat, linkat, renameat), so folders deeper than PATH_MAX work too. Anything else that
// exists (a device, a FIFO, a terminal) is written directly and never replaced; symbolic links
// are followed to their target. "-" is standard output.
#pragma once

#include <sys/types.h>

#include <span>
#include <string>

// How a finished file took its target's place, which says how to undo it.
enum class Placement { Not, Exchanged, IntoFreeName, OverOldFile };

struct OutputFile {
  std::string name;       // as given, made readable, for messages
  int folder = -1;        // the target's folder while a regular file is made (O_PATH)
  std::string leaf;       // the target's name in `folder`, symbolic links followed
  std::string temporary;  // the hidden named file in `folder`, where no unnamed one can be made
  bool unnamed = false;   // an O_TMPFILE file, linked into place when complete
  Placement placed = Placement::Not;
  int descriptor = -1;
  bool seekable = false;
  // What the finished file gets, at the end, as writing clears the set-user and set-group bits:
  // the old file's permission bits and owner and group, or a new file's mode.
  mode_t mode = 0;
  uid_t owner = static_cast<uid_t>(-1);  // -1: left as it is
  gid_t group = static_cast<gid_t>(-1);
};

// Opens /dev/null on standard input, output or error where one is closed, so that no file of
// ours can take its number and receive what is meant for it. False when that fails.
// `outputClosed` tells whether standard output was closed, so that "-" can be refused.
bool openStandardStreams(bool& outputClosed);

// Removes the temporary files of open outputs when any signal that would end the program ends
// it, and makes a closed pipe and a file-size limit write errors instead of silent deaths.
void removeTemporariesOnSignals();

// Whether `name` is standard output ("-") or an existing file that is neither regular nor a
// directory (a device, a FIFO, a terminal), which is written directly.
bool isDeviceOrPipe(const std::string& name);

// Opens `name` for writing; false with `error` set ("cannot write NAME: reason").
bool openOutput(const std::string& name, OutputFile& file, std::string& error);

// Makes the outputs final together, or none of them: each complete file is first closed and
// named beside its target, and only then do they take their targets' places, one after the
// other with every signal held back. An old file is kept aside until the last is in place, so
// that a failure on the way puts every target back as it was (on a file system that cannot
// exchange two names, an old file replaced stays replaced). Every output is closed afterwards.
bool commitOutputs(std::span<OutputFile* const> files, std::string& error);

// Closes the output, removing its temporary file; the target is left as it was.
void discardOutput(OutputFile& file);

// What a name on the command line stands for, however it is spelt: an existing file by device
// and inode, a name not yet taken by its folder's device and inode and its own name.
struct FileIdentity {
  bool known = false;  // false: the name leads nowhere (no folder), and clashes with nothing
  bool exists = false;
  bool characterDevice = false;
  dev_t device = 0;
  ino_t inode = 0;
  std::string leaf;  // of a name not yet taken
};

// The identity of `name`; "-" stands for `standardStream` (standard input or output).
FileIdentity identityOf(const std::string& name, int standardStream);

// Whether writing one would write the other. A character device (/dev/null) takes any number.
bool isSameTarget(const FileIdentity& first, const FileIdentity& second);

// A temporary file no other program sees: it disappears when closed or when the program ends,
// however it ends. Returns the descriptor, or -1 with `error` set.
int openScratchFile(std::string& error);

// Writes all of `bytes`; false (with errno set) when the file takes less.
bool writeAll(int descriptor, const void* bytes, std::size_t size);

// strerror's text for an error number, safe in any thread.
std::string systemReason(int number);

// The lower-cased extension of a name, with its dot: ".wav" for "Song.WAV".
std::string lowerExtension(const std::string& name);
