// The renderer's sound file: WAV written here, FLAC, Ogg Vorbis, Opus and MP3 through
// libsndfile, all in large blocks, every write checked.
//
// WAV is written here because the render's length is known before it starts: the header is
// whole from the first byte, so a WAV file needs no seeking back and streams to a pipe; its
// float format chunk carries the size of its (empty) extension, which some readers require and
// libsndfile leaves out; and past 4 GiB it becomes RF64, whose 64-bit sizes readers accept.
#pragma once

#include <sndfile.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

enum class AudioContainer { Wav, Flac, OggVorbis, Opus, Mp3 };
enum class SampleFormat { Float, Pcm24, Pcm16 };

struct AudioFormat {
  AudioContainer container = AudioContainer::Wav;
  SampleFormat sample = SampleFormat::Float;
};

// --format's value: "float", "pcm24" or "pcm16"; false with `error` set for anything else.
bool parseSampleFormat(std::string_view text, SampleFormat& sample, std::string& error);

// The format a name's extension asks for, in any case, with `sample` (--format) for WAV. A name
// without an extension gets WAV, and so does a device or a pipe (`anyName`) with an extension
// of no sound format.
bool audioFormatOf(const std::string& name, bool anyName, std::optional<SampleFormat> sample,
                   AudioFormat& format, std::string& error);

// Whether this system's libsndfile can write the format at that rate, and the format a file of
// `frames` samples (Opus and MP3 have no valid file without a sample); `error` says why not.
bool canWriteAudio(const AudioFormat& format, int32_t sampleRate, int64_t frames,
                   std::string& error);

// What a format does with samples beyond full scale: float WAV keeps them, integer WAV and
// FLAC clip them, and the lossy formats keep them in their own terms, for decoders to clip.
enum class FullScale { Kept, Clipped, DecodersMayClip };
FullScale fullScaleOf(const AudioFormat& format);

// The WAV header for `frames` samples: RIFF, or RF64 when the RIFF chunk would be larger than
// `largestRiff` bytes (4 GiB less one for every real file).
std::string wavHeader(SampleFormat sample, int32_t sampleRate, int64_t frames,
                      uint64_t largestRiff = UINT32_MAX);

// How libsndfile's encoders reach the file, so that every write of theirs is checked (libsndfile
// ignores the failures of some, its MP3 encoder's and any at the close): a file that can seek
// through callbacks of ours; a stream (pipe, FIFO, terminal) through a pipe of ours, which a
// thread copies on, so that libsndfile still writes it as a stream.
struct EncoderStream {
  int descriptor = -1;
  std::atomic<int> failure{0};  // errno of the first write that failed
  int relayInput = -1;          // what libsndfile writes into, for a stream
  std::jthread relay;
};

struct AudioWriter {
  AudioFormat format;
  int descriptor = -1;
  SNDFILE* encoder = nullptr;  // the libsndfile formats
  std::unique_ptr<EncoderStream> stream;
  std::vector<float> pending;        // samples waiting for a block to fill
  std::vector<unsigned char> bytes;  // one block in the WAV file's sample format
  bool padded = false;               // the data chunk's size is odd: a pad byte closes it
  bool failed = false;
  std::string failure;  // why the write failed, kept until the end reports it
};

// Starts the file on `descriptor` (left open) for exactly `frames` samples.
bool startAudio(AudioWriter& writer, int descriptor, const AudioFormat& format, int32_t sampleRate,
                int64_t frames, std::string& error);

// Adds samples; they reach the file a large block at a time. False once writing has failed.
bool writeAudio(AudioWriter& writer, const float* samples, int64_t count);

// Writes what is pending and ends the file; false with `error` set when anything failed.
bool finishAudio(AudioWriter& writer, std::string& error);

// Ends an encoder without caring what becomes of the file, which is being discarded.
void abandonAudio(AudioWriter& writer);
