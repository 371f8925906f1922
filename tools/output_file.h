// Where the renderer's outputs go, opened before any rendering so that every problem with a
// path is reported before minutes of work, and written so that nothing is harmed on failure.
//
// A regular file (or a name not yet taken) is written into a temporary file with a unique name
// in the same directory and renamed over it once complete: a failed or interrupted render leaves
// the old file as it was and no litter. Anything else that exists (a device, a FIFO, a terminal)
// is written directly and never replaced; symbolic links are followed to their target. "-" is
// standard output.
#pragma once

#include <string>

struct OutputFile {
  std::string name;       // as given, for messages
  std::string target;     // the file finally written, symbolic links followed
  std::string temporary;  // beside the target while a regular file is being written
  int descriptor = -1;
  bool seekable = false;
};

// Removes the temporary files of open outputs when SIGINT, SIGTERM or SIGHUP ends the program,
// and makes a closed pipe a write error instead of a silent death.
void removeTemporariesOnSignals();

// Whether `name` is standard output ("-") or an existing file that is neither regular nor a
// directory (a device, a FIFO, a terminal), which is written directly.
bool isDeviceOrPipe(const std::string& name);

// Opens `name` for writing; false with `error` set ("cannot write NAME: reason").
bool openOutput(const std::string& name, OutputFile& file, std::string& error);

// Makes the output final: the temporary file takes the target's place.
bool commitOutput(OutputFile& file, std::string& error);

// Closes the output, removing a temporary file; the target is left as it was.
void discardOutput(OutputFile& file);

// Whether two names given on the command line are one file, however named ("-" standing for
// standard input when `firstIsInput`, standard output otherwise).
bool isSameFile(const std::string& first, const std::string& second, bool firstIsInput);

// A temporary file already removed from its directory: it disappears when closed or when the
// program ends, however it ends. Returns the descriptor, or -1 with `error` set.
int openScratchFile(std::string& error);

// Writes all of `bytes`; false (with errno set) when the file takes less.
bool writeAll(int descriptor, const void* bytes, std::size_t size);

// strerror's text for an error number, safe in any thread.
std::string systemReason(int number);

// The lower-cased extension of a name, with its dot: ".wav" for "Song.WAV".
std::string lowerExtension(const std::string& name);
