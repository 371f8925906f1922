#include "tools/audio_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>

#include "tools/output_file.h"
#include "tools/score.h"

namespace {

// Frames gathered before each write: a few hundred system calls for an hour of sound.
constexpr std::size_t BlockFrames = 1 << 16;
constexpr std::size_t RelayBytes = 1 << 16;

// What a render without a sample becomes: a file of no samples, which libsndfile's FLAC
// encoder writes only when asked for its header; or nothing, as Opus and MP3 have no valid
// file without sound.
enum class EmptyRender { Written, HeaderAsked, Refused };

struct ContainerInfo {
  AudioContainer container;
  const char* extension;
  const char* name;
  int sndfileFormat;  // 0: written here
  bool lossy;
  EmptyRender empty;
};

constexpr ContainerInfo Containers[] = {
    {AudioContainer::Wav, ".wav", "WAV", 0, false, EmptyRender::Written},
    {AudioContainer::Flac, ".flac", "FLAC", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, false,
     EmptyRender::HeaderAsked},
    {AudioContainer::OggVorbis, ".ogg", "Ogg Vorbis", SF_FORMAT_OGG | SF_FORMAT_VORBIS, true,
     EmptyRender::Written},
    {AudioContainer::Opus, ".opus", "Opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, true,
     EmptyRender::Refused},
    {AudioContainer::Mp3, ".mp3", "MP3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, true,
     EmptyRender::Refused},
};

struct SampleInfo {
  SampleFormat sample;
  const char* name;
  uint16_t bytes;
  uint16_t formatTag;  // of the WAV format chunk: 1 integer PCM, 3 IEEE float
  int32_t fullScale;   // the integer that stands for 1.0
};

constexpr SampleInfo Samples[] = {
    {SampleFormat::Float, "float", 4, 3, 0},
    {SampleFormat::Pcm24, "pcm24", 3, 1, (1 << 23) - 1},
    {SampleFormat::Pcm16, "pcm16", 2, 1, (1 << 15) - 1},
};

const ContainerInfo& containerOf(AudioContainer container) {
  return *std::find_if(std::begin(Containers), std::end(Containers),
                       [&](const ContainerInfo& info) { return info.container == container; });
}

const SampleInfo& sampleOf(SampleFormat sample) {
  return *std::find_if(std::begin(Samples), std::end(Samples),
                       [&](const SampleInfo& info) { return info.sample == sample; });
}

std::string knownExtensions() {
  std::string list;
  for (const ContainerInfo& info : Containers)
    list += (list.empty() ? "" : ", ") + std::string(info.extension);
  return list;
}

void appendLittleEndian(std::string& bytes, uint64_t value, int size) {
  for (int index = 0; index < size; ++index)
    bytes += static_cast<char>(value >> (8 * index) & 0xFF);
}

void appendChunkHeader(std::string& bytes, const char* id, uint64_t size) {
  bytes.append(id, 4);
  appendLittleEndian(bytes, size, 4);
}

// The format chunk: 16 bytes for integer PCM; a float file's adds its extension size (0),
// which readers of non-PCM formats look for.
std::string formatChunk(const SampleInfo& sample, int32_t sampleRate) {
  const bool extended = sample.formatTag != 1;
  std::string chunk;
  appendChunkHeader(chunk, "fmt ", extended ? 18 : 16);
  appendLittleEndian(chunk, sample.formatTag, 2);
  appendLittleEndian(chunk, 1, 2);  // mono
  appendLittleEndian(chunk, static_cast<uint64_t>(sampleRate), 4);
  appendLittleEndian(chunk, static_cast<uint64_t>(sampleRate) * sample.bytes, 4);
  appendLittleEndian(chunk, sample.bytes, 2);
  appendLittleEndian(chunk, uint64_t{sample.bytes} * 8, 2);
  if (extended) appendLittleEndian(chunk, 0, 2);
  return chunk;
}

// Scales to the integer range, clipping what lies beyond full scale (NaN as silence).
int32_t integerSample(float sample, int32_t fullScale) {
  const float limited = std::isnan(sample) ? 0.0f : std::clamp(sample, -1.0f, 1.0f);
  return static_cast<int32_t>(std::lrint(limited * static_cast<float>(fullScale)));
}

void encodeWavSamples(const SampleInfo& sample, const std::vector<float>& samples,
                      std::vector<unsigned char>& bytes) {
  bytes.resize(samples.size() * sample.bytes);
  unsigned char* next = bytes.data();
  for (const float value : samples) {
    const uint32_t word = sample.fullScale == 0
                              ? std::bit_cast<uint32_t>(value)
                              : static_cast<uint32_t>(integerSample(value, sample.fullScale));
    for (int index = 0; index < sample.bytes; ++index) *next++ = word >> (8 * index) & 0xFF;
  }
}

SF_INFO sndfileInfo(const ContainerInfo& container, int32_t sampleRate) {
  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = 1;
  info.format = container.sndfileFormat;
  return info;
}

// Keeps the first reason: what followed it is its consequence.
void fail(AudioWriter& writer, std::string reason) {
  if (!writer.failed) writer.failure = std::move(reason);
  writer.failed = true;
}

EncoderStream& streamOf(void* user) {
  return *static_cast<EncoderStream*>(user);
}

// libsndfile's file operations on a file that can seek, each write checked.
sf_count_t streamLength(void* user) {
  struct stat status {};
  return fstat(streamOf(user).descriptor, &status) == 0 ? status.st_size : -1;
}

sf_count_t streamSeek(sf_count_t offset, int whence, void* user) {
  return lseek(streamOf(user).descriptor, offset, whence);
}

sf_count_t streamRead(void* bytes, sf_count_t count, void* user) {
  const ssize_t got = read(streamOf(user).descriptor, bytes, static_cast<std::size_t>(count));
  return std::max<ssize_t>(got, 0);
}

sf_count_t streamWrite(const void* bytes, sf_count_t count, void* user) {
  EncoderStream& stream = streamOf(user);
  if (stream.failure != 0) return 0;
  if (writeAll(stream.descriptor, bytes, static_cast<std::size_t>(count))) return count;
  stream.failure = errno;
  return 0;
}

sf_count_t streamTell(void* user) {
  return lseek(streamOf(user).descriptor, 0, SEEK_CUR);
}

// Copies what libsndfile writes into the pipe on to the stream. After a failure it stops
// reading, so that libsndfile's next write fails at once instead of waiting.
void relayStream(int from, EncoderStream& stream) {
  std::vector<char> buffer(RelayBytes);
  for (;;) {
    const ssize_t got = read(from, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got == 0) break;
    if (got < 0 || !writeAll(stream.descriptor, buffer.data(), static_cast<std::size_t>(got))) {
      stream.failure = errno;
      break;
    }
  }
  close(from);
}

SNDFILE* openEncoder(AudioWriter& writer, SF_INFO& info) {
  writer.stream = std::make_unique<EncoderStream>();
  EncoderStream& stream = *writer.stream;
  stream.descriptor = writer.descriptor;
  if (lseek(writer.descriptor, 0, SEEK_CUR) >= 0) {
    SF_VIRTUAL_IO io{streamLength, streamSeek, streamRead, streamWrite, streamTell};
    return sf_open_virtual(&io, SFM_WRITE, &info, &stream);
  }
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return nullptr;
  stream.relayInput = ends[1];
  stream.relay = std::jthread(relayStream, ends[0], std::ref(stream));
  return sf_open_fd(ends[1], SFM_WRITE, &info, SF_FALSE);
}

// Closes the encoder and waits for its last bytes to reach the file.
bool closeEncoder(AudioWriter& writer) {
  const bool closed = writer.encoder == nullptr || sf_close(writer.encoder) == 0;
  writer.encoder = nullptr;
  if (writer.stream == nullptr) return closed;
  EncoderStream& stream = *writer.stream;
  if (stream.relayInput >= 0) close(stream.relayInput);
  stream.relayInput = -1;
  if (stream.relay.joinable()) stream.relay.join();
  return closed;
}

// Why the encoder failed: the file's own reason where a write of it failed, else libsndfile's
// (asked only then: for an error number it does not know, libsndfile prints to stdout).
std::string encoderFailure(const AudioWriter& writer) {
  const int failure = writer.stream != nullptr ? writer.stream->failure.load() : 0;
  return failure != 0 ? systemReason(failure) : sf_strerror(writer.encoder);
}

bool encoderFailed(const AudioWriter& writer) {
  return writer.stream->failure != 0 || sf_error(writer.encoder) != SF_ERR_NO_ERROR;
}

bool flushPending(AudioWriter& writer) {
  if (writer.failed || writer.pending.empty()) return !writer.failed;
  bool written = false;
  if (writer.encoder != nullptr) {
    const auto frames = static_cast<sf_count_t>(writer.pending.size());
    written = sf_writef_float(writer.encoder, writer.pending.data(), frames) == frames &&
              !encoderFailed(writer);
  } else if (writer.format.sample == SampleFormat::Float &&
             std::endian::native == std::endian::little) {
    // The file's own byte order: the samples go out as they are.
    written =
        writeAll(writer.descriptor, writer.pending.data(), writer.pending.size() * sizeof(float));
  } else {
    encodeWavSamples(sampleOf(writer.format.sample), writer.pending, writer.bytes);
    written = writeAll(writer.descriptor, writer.bytes.data(), writer.bytes.size());
  }
  if (!written)
    fail(writer, writer.encoder != nullptr ? encoderFailure(writer) : systemReason(errno));
  writer.pending.clear();
  return written;
}

}  // namespace

bool parseSampleFormat(std::string_view text, SampleFormat& sample, std::string& error) {
  const auto* found = std::find_if(std::begin(Samples), std::end(Samples),
                                   [&](const SampleInfo& info) { return text == info.name; });
  if (found == std::end(Samples)) {
    error = "--format takes float, pcm24 or pcm16, not '" + readableText(text) + "'";
    return false;
  }
  sample = found->sample;
  return true;
}

bool audioFormatOf(const std::string& name, bool anyName, std::optional<SampleFormat> sample,
                   AudioFormat& format, std::string& error) {
  const std::string extension = lowerExtension(name);
  const auto* container =
      std::find_if(std::begin(Containers), std::end(Containers),
                   [&](const ContainerInfo& info) { return extension == info.extension; });
  if (!extension.empty() && container == std::end(Containers) && !anyName) {
    error = "cannot tell the sound format of " + readableName(name) + ": its name may end in " +
            knownExtensions();
    return false;
  }
  format.container = container == std::end(Containers) ? AudioContainer::Wav : container->container;
  if (!sample) return true;
  if (format.container != AudioContainer::Wav) {
    error = "--format is for WAV files; " + std::string(containerOf(format.container).name) +
            " has a sample format of its own";
    return false;
  }
  format.sample = *sample;
  return true;
}

bool canWriteAudio(const AudioFormat& format, int32_t sampleRate, int64_t frames,
                   std::string& error) {
  const ContainerInfo& container = containerOf(format.container);
  if (frames == 0 && container.empty == EmptyRender::Refused) {
    error = std::string("the render is empty, and ") + container.name +
            " has no valid file without sound; WAV, FLAC and Ogg Vorbis have one";
    return false;
  }
  if (container.sndfileFormat == 0) return true;
  // Trying is the one sure test: libsndfile may be built without a codec, and a codec may
  // refuse a sample rate only when the file is opened.
  const int scratch = openScratchFile(error);
  if (scratch < 0) return false;
  SF_INFO info = sndfileInfo(container, sampleRate);
  SNDFILE* file = sf_open_fd(scratch, SFM_WRITE, &info, SF_FALSE);
  if (file != nullptr) sf_close(file);
  close(scratch);
  if (file != nullptr) return true;
  error = std::string("this system's libsndfile cannot write ") + container.name + " at " +
          std::to_string(sampleRate) + " Hz: " + sf_strerror(nullptr);
  return false;
}

FullScale fullScaleOf(const AudioFormat& format) {
  if (containerOf(format.container).lossy) return FullScale::DecodersMayClip;
  const bool kept = format.container == AudioContainer::Wav && format.sample == SampleFormat::Float;
  return kept ? FullScale::Kept : FullScale::Clipped;
}

std::string wavHeader(SampleFormat sampleFormat, int32_t sampleRate, int64_t frames,
                      uint64_t largestRiff) {
  const SampleInfo& sample = sampleOf(sampleFormat);
  const std::string format = formatChunk(sample, sampleRate);
  const bool fact = sample.formatTag != 1;  // required for every format but integer PCM
  const uint64_t dataSize = static_cast<uint64_t>(frames) * sample.bytes;
  const uint64_t factSize = fact ? 12 : 0;
  const uint64_t riffSize = 4 + format.size() + factSize + 8 + dataSize + dataSize % 2;
  const bool rf64 = riffSize > largestRiff;
  constexpr uint64_t Ds64Size = 8 + 28;     // the chunk that holds RF64's 64-bit sizes
  constexpr uint64_t Unknown = UINT32_MAX;  // "see ds64"

  std::string header;
  appendChunkHeader(header, rf64 ? "RF64" : "RIFF", rf64 ? Unknown : riffSize);
  header += "WAVE";
  if (rf64) {
    appendChunkHeader(header, "ds64", 28);
    appendLittleEndian(header, riffSize + Ds64Size, 8);
    appendLittleEndian(header, dataSize, 8);
    appendLittleEndian(header, static_cast<uint64_t>(frames), 8);
    appendLittleEndian(header, 0, 4);  // no table of other large chunks
  }
  header += format;
  if (fact) {
    appendChunkHeader(header, "fact", 4);
    appendLittleEndian(header, rf64 ? Unknown : static_cast<uint64_t>(frames), 4);
  }
  appendChunkHeader(header, "data", rf64 ? Unknown : dataSize);
  return header;
}

bool startAudio(AudioWriter& writer, int descriptor, const AudioFormat& format, int32_t sampleRate,
                int64_t frames, std::string& error) {
  writer = AudioWriter{};
  writer.format = format;
  writer.descriptor = descriptor;
  writer.pending.reserve(BlockFrames);
  const ContainerInfo& container = containerOf(format.container);
  if (container.sndfileFormat == 0) {
    const SampleInfo& sample = sampleOf(format.sample);
    writer.padded = frames * sample.bytes % 2 != 0;
    const std::string header = wavHeader(format.sample, sampleRate, frames);
    if (writeAll(descriptor, header.data(), header.size())) return true;
    error = systemReason(errno);
    return false;
  }
  SF_INFO info = sndfileInfo(container, sampleRate);
  writer.encoder = openEncoder(writer, info);
  if (writer.encoder == nullptr) {
    error = encoderFailure(writer);
    closeEncoder(writer);
    return false;
  }
  sf_command(writer.encoder, SFC_SET_CLIPPING, nullptr, SF_TRUE);  // instead of wrapping round
  if (frames == 0 && container.empty == EmptyRender::HeaderAsked) {
    sf_command(writer.encoder, SFC_UPDATE_HEADER_NOW, nullptr, 0);
  }
  return true;
}

bool writeAudio(AudioWriter& writer, const float* samples, int64_t count) {
  while (count > 0 && !writer.failed) {
    const auto room = static_cast<int64_t>(BlockFrames - writer.pending.size());
    const int64_t taken = std::min(room, count);
    writer.pending.insert(writer.pending.end(), samples, samples + taken);
    samples += taken;
    count -= taken;
    if (writer.pending.size() == BlockFrames) flushPending(writer);
  }
  return !writer.failed;
}

bool finishAudio(AudioWriter& writer, std::string& error) {
  flushPending(writer);
  if (!writer.failed && writer.padded) {
    const unsigned char pad = 0;
    if (!writeAll(writer.descriptor, &pad, 1)) fail(writer, systemReason(errno));
  }
  if (writer.encoder != nullptr) {
    const std::string encoderError = encoderFailed(writer) ? encoderFailure(writer) : "";
    // The encoders write their last frames and rewrite their headers at the close.
    const bool closed = closeEncoder(writer);
    if (!encoderError.empty()) fail(writer, encoderError);
    if (writer.stream->failure != 0) fail(writer, systemReason(writer.stream->failure));
    if (!closed) fail(writer, "libsndfile could not end the file");
  }
  error = writer.failure;
  return !writer.failed;
}

void abandonAudio(AudioWriter& writer) {
  closeEncoder(writer);
}
