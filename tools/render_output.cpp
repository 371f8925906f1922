// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/render_output.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <span>

#include "tools/render_plot.h"
#include "tools/score.h"

namespace {

constexpr std::size_t SpoolReadFrames = 1 << 16;

void blockDc(DcFilter& blocker, const float* input, float* output, int64_t frames) {
  for (int64_t frame = 0; frame < frames; ++frame) {
    output[frame] = static_cast<float>(filterDc(blocker, input[frame]));
  }
}

// Four running sums side by side, so that each addition need not wait for the one before: the
// frame's place in the block modulo four is its lane. The lanes are taken four frames at a time,
// so that they stay in registers, where the compiler pairs them into vector operations.
void measureLevels(SoundLevels& levels, const float* samples, int64_t frames) {
  constexpr int64_t Lanes = 4;
  std::array<double, Lanes> peak{}, sum{}, squares{};
  const auto take = [&](std::size_t lane, double sample) {
    peak[lane] = std::max(peak[lane], std::fabs(sample));
    sum[lane] += sample;
    squares[lane] += sample * sample;
  };
  int64_t frame = 0;
  for (; frame + Lanes <= frames; frame += Lanes) {
    for (std::size_t lane = 0; lane < Lanes; ++lane) take(lane, samples[frame + lane]);
  }
  for (std::size_t lane = 0; frame < frames; ++frame, ++lane) take(lane, samples[frame]);
  for (std::size_t lane = 0; lane < Lanes; ++lane) {
    levels.peak = std::max(levels.peak, peak[lane]);
    levels.sum += sum[lane];
    levels.sumOfSquares += squares[lane];
  }
  levels.frames += frames;
}

std::string decibels(double amplitude) {
  if (!(amplitude > 0.0)) return "-inf dBFS";
  char text[32];
  std::snprintf(text, sizeof text, "%+.2f dBFS", 20.0 * std::log10(amplitude));
  return text;
}

// The levels of the file as written: the measured render scaled by the normalizing gain.
void reportLevels(const RenderOutputs& outputs, double gain) {
  const SoundLevels& levels = outputs.levels;
  const double frames = static_cast<double>(std::max<int64_t>(levels.frames, 1));
  const double peak = levels.peak * gain;
  std::fprintf(
      stderr, "quillfern-render: peak %s, RMS %s, DC offset %+.4f\n", decibels(peak).c_str(),
      decibels(std::sqrt(levels.sumOfSquares / frames) * gain).c_str(), levels.sum / frames * gain);
  if (!(peak > 1.0)) return;
  switch (fullScaleOf(outputs.format)) {
    case FullScale::Kept:
      break;
    case FullScale::Clipped:
      std::fprintf(stderr,
                   "quillfern-render: warning: the peak is above 0 dBFS and this format clips "
                   "it; --normalize -1 lowers the whole render below full scale\n");
      break;
    case FullScale::DecodersMayClip:
      std::fprintf(stderr,
                   "quillfern-render: warning: the peak is above 0 dBFS; this format keeps it, "
                   "but decoders and players may clip it; --normalize -1 lowers the whole render "
                   "below full scale\n");
      break;
  }
}

double normalizingGain(const RenderOutputs& outputs) {
  if (!outputs.normalize) return 1.0;
  if (outputs.levels.peak == 0.0) {
    std::fprintf(stderr, "quillfern-render: the render is silent; --normalize leaves it so\n");
    return 1.0;
  }
  return std::pow(10.0, outputs.normalizePeak / 20.0) / outputs.levels.peak;
}

// The one pass over the render that normalization needs: the spooled float samples, scaled,
// into the sound file.
bool writeSpoolScaled(RenderOutputs& outputs, double gain, std::string& error) {
  std::string spoolError;
  if (!finishAudio(outputs.spoolWriter, spoolError)) {
    error = "cannot write the render's temporary file: " + spoolError;
    return false;
  }
  const auto header = static_cast<off_t>(
      wavHeader(SampleFormat::Float, outputs.sampleRate, outputs.levels.frames).size());
  if (lseek(outputs.spool, header, SEEK_SET) != header) {
    error = "cannot read the render's temporary file: " + systemReason(errno);
    return false;
  }
  std::vector<float> block(SpoolReadFrames);
  for (int64_t left = outputs.levels.frames; left > 0;) {
    const auto frames = static_cast<std::size_t>(std::min<int64_t>(left, SpoolReadFrames));
    const ssize_t got = read(outputs.spool, block.data(), frames * sizeof(float));
    if (got != static_cast<ssize_t>(frames * sizeof(float))) {
      error = "cannot read the render's temporary file back";
      return false;
    }
    for (std::size_t index = 0; index < frames; ++index) {
      block[index] = static_cast<float>(block[index] * gain);
    }
    if (!writeAudio(outputs.writer, block.data(), static_cast<int64_t>(frames))) break;
    left -= static_cast<int64_t>(frames);
  }
  return true;
}

// A block at the file's rate on its way into the file (or the spool, when normalizing).
bool passOn(RenderOutputs& outputs, const float* samples, int64_t frames) {
  if (outputs.dcBlock) {
    outputs.filtered.resize(static_cast<std::size_t>(frames));
    blockDc(outputs.dcBlocker, samples, outputs.filtered.data(), frames);
    samples = outputs.filtered.data();
  }
  measureLevels(outputs.levels, samples, frames);
  return writeAudio(outputs.normalize ? outputs.spoolWriter : outputs.writer, samples, frames);
}

// The samples the rate reduction still holds, whose filter reaches past the render's end. A
// failure shows in the writer, as every other does.
void passOnTheLastSamples(RenderOutputs& outputs) {
  if (outputs.decimator.factor <= 1) return;
  finishDecimating(outputs.decimator, outputs.frames, outputs.reduced);
  passOn(outputs, outputs.reduced.data(), static_cast<int64_t>(outputs.reduced.size()));
}

bool failOutput(const OutputFile& file, const std::string& reason, std::string& error) {
  error = "cannot write " + file.name + ": " + reason;
  return false;
}

// The song, the sound and the picture must be three files, however they are named (links,
// "..", a name not yet taken that a dangling link points to); a character device such as
// /dev/null may take them all.
bool checkDistinctFiles(const OutputOptions& options, const std::string& inputPath,
                        std::string& error) {
  const FileIdentity song = identityOf(inputPath, STDIN_FILENO);
  const FileIdentity sound = identityOf(options.soundPath, STDOUT_FILENO);
  const bool wantsPicture = !options.plotPath.empty();
  const FileIdentity picture =
      wantsPicture ? identityOf(options.plotPath, STDOUT_FILENO) : FileIdentity{};
  const std::string* clash = nullptr;
  if (isSameTarget(song, sound)) clash = &options.soundPath;
  if (isSameTarget(song, picture)) clash = &options.plotPath;
  if (clash != nullptr) {
    error = "will not write " + readableName(*clash) + ": it is the song being read";
    return false;
  }
  if (isSameTarget(sound, picture)) {
    error = "the sound and the picture cannot both go to " + readableName(options.plotPath);
    return false;
  }
  return true;
}

bool openFiles(RenderOutputs& outputs, const OutputOptions& options, int64_t frames,
               std::string& error) {
  removeTemporariesOnSignals();
  if (!openOutput(options.soundPath, outputs.sound, error)) return false;
  if (outputs.wantsPicture && !openOutput(options.plotPath, outputs.picture, error)) return false;
  std::string reason;
  if (!startAudio(outputs.writer, outputs.sound.descriptor, outputs.format, outputs.sampleRate,
                  frames, reason)) {
    return failOutput(outputs.sound, reason, error);
  }
  if (!outputs.normalize) return true;
  outputs.spool = openScratchFile(error);
  return outputs.spool >= 0 && startAudio(outputs.spoolWriter, outputs.spool, AudioFormat{},
                                          outputs.sampleRate, frames, error);
}

}  // namespace

bool openRenderOutputs(const OutputOptions& options, const std::string& inputPath,
                       int32_t sampleRate, int64_t frames, RenderOutputs& outputs,
                       std::string& error) {
  outputs.sampleRate = sampleRate / options.rateReduction;
  outputs.frames = frames / options.rateReduction;
  outputs.decimator = decimatorFor(options.rateReduction);
  outputs.wantsPicture = !options.plotPath.empty();
  outputs.dcBlock = options.dcBlock;
  outputs.dcBlocker = dcFilterAt(outputs.sampleRate);
  outputs.normalize = options.normalize;
  outputs.normalizePeak = options.normalizePeak;
  if (!checkDistinctFiles(options, inputPath, error)) return false;
  if (!audioFormatOf(options.soundPath, isDeviceOrPipe(options.soundPath), options.sampleFormat,
                     outputs.format, error)) {
    return false;
  }
  if (outputs.wantsPicture &&
      !plotFormatOf(options.plotPath, isDeviceOrPipe(options.plotPath), outputs.png, error)) {
    return false;
  }
  if (!canWriteAudio(outputs.format, outputs.sampleRate, outputs.frames, error)) {
    error = "cannot write " + readableName(options.soundPath) + ": " + error;
    return false;
  }
  if (openFiles(outputs, options, outputs.frames, error)) return true;
  discardRenderOutputs(outputs);
  return false;
}

bool takeSamples(RenderOutputs& outputs, const float* samples, int64_t frames) {
  if (outputs.decimator.factor <= 1) return passOn(outputs, samples, frames);
  decimate(outputs.decimator, samples, frames, outputs.reduced);
  return passOn(outputs, outputs.reduced.data(), static_cast<int64_t>(outputs.reduced.size()));
}

bool finishRenderOutputs(RenderOutputs& outputs, const std::string& svg, std::string& error) {
  passOnTheLastSamples(outputs);
  const double gain = outputs.spoolWriter.failed ? 1.0 : normalizingGain(outputs);
  std::string reason;
  const bool spooled = !outputs.normalize || writeSpoolScaled(outputs, gain, error);
  if (!spooled || !finishAudio(outputs.writer, reason)) {
    if (spooled) failOutput(outputs.sound, reason, error);
    discardRenderOutputs(outputs);
    return false;
  }
  if (outputs.wantsPicture && !writePlot(outputs.picture.descriptor, svg, outputs.png, reason)) {
    failOutput(outputs.picture, reason, error);
    discardRenderOutputs(outputs);
    return false;
  }
  OutputFile* const targets[] = {&outputs.sound, &outputs.picture};
  if (!commitOutputs(std::span(targets).first(outputs.wantsPicture ? 2 : 1), error)) {
    discardRenderOutputs(outputs);
    return false;
  }
  if (outputs.spool >= 0) close(outputs.spool);
  outputs.spool = -1;
  reportLevels(outputs, gain);
  return true;
}

void discardRenderOutputs(RenderOutputs& outputs) {
  abandonAudio(outputs.writer);
  discardOutput(outputs.sound);
  discardOutput(outputs.picture);
  if (outputs.spool >= 0) close(outputs.spool);
  outputs.spool = -1;
}
