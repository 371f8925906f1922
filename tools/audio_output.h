// The renderer's sound file: WAV written here, FLAC, Ogg Vorbis, Opus and MP3 through
// libsndfile, all in large blocks.
//
// WAV is written here because the render's length is known before it starts: the header is
// whole from the first byte, so a WAV file needs no seeking back and streams to a pipe; its
// float format chunk carries the size of its (empty) extension, which some readers require and
// libsndfile leaves out; and past 4 GiB it becomes RF64, whose 64-bit sizes readers accept.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>
#include <vector>

enum class AudioContainer { Wav, Flac, OggVorbis, Opus, Mp3 };
enum class SampleFormat { Float, Pcm24, Pcm16 };

struct AudioFormat {
  AudioContainer container = AudioContainer::Wav;
  SampleFormat sample = SampleFormat::Float;
};

// The format a name's extension asks for, in any case, with `sampleOption` (--format: "float",
// "pcm24", "pcm16" or empty) for WAV. A name without an extension gets WAV, and so does a device
// or a pipe (`anyName`) whatever its name.
bool audioFormatOf(const std::string& name, bool anyName, const std::string& sampleOption,
                   AudioFormat& format, std::string& error);

// Whether this system's libsndfile can write the format at that rate; `error` says why not.
bool canWriteAudio(const AudioFormat& format, int32_t sampleRate, std::string& error);

// Whether the format's samples are kept as they are (float WAV) or clip above 0 dBFS.
bool clipsAboveFullScale(const AudioFormat& format);

// The WAV header for `frames` samples: RIFF, or RF64 when the RIFF chunk would be larger than
// `largestRiff` bytes (4 GiB less one for every real file).
std::string wavHeader(SampleFormat sample, int32_t sampleRate, int64_t frames,
                      uint64_t largestRiff = UINT32_MAX);

struct AudioWriter {
  AudioFormat format;
  int descriptor = -1;
  SNDFILE* encoder = nullptr;        // the libsndfile formats
  std::vector<float> pending;        // samples waiting for a block to fill
  std::vector<unsigned char> bytes;  // one block in the WAV file's sample format
  bool padded = false;               // the data chunk's size is odd: a pad byte closes it
  bool failed = false;
  int failure = 0;  // errno of the write that failed, kept until the end reports it
};

// Starts the file on `descriptor` (left open) for exactly `frames` samples.
bool startAudio(AudioWriter& writer, int descriptor, const AudioFormat& format, int32_t sampleRate,
                int64_t frames, std::string& error);

// Adds samples; they reach the file a large block at a time. False once writing has failed.
bool writeAudio(AudioWriter& writer, const float* samples, int64_t count);

// Writes what is pending and ends the file; false with `error` set when anything failed.
bool finishAudio(AudioWriter& writer, std::string& error);
