#include "tools/render_output.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "tools/render_plot.h"

namespace {

constexpr double DcCutoffHz = 5.0;  // below the lowest note, above the model's slow drift
constexpr std::size_t SpoolReadFrames = 1 << 16;

DcBlocker dcBlockerAt(int32_t sampleRate) {
  DcBlocker blocker;
  blocker.coefficient = std::exp(-2.0 * std::numbers::pi * DcCutoffHz / sampleRate);
  return blocker;
}

// y[n] = c (y[n-1] + x[n] - x[n-1]): a zero at DC, a pole just inside it.
void blockDc(DcBlocker& blocker, const float* input, float* output, int64_t frames) {
  for (int64_t frame = 0; frame < frames; ++frame) {
    const double sample = input[frame];
    blocker.lastOutput = blocker.coefficient * (blocker.lastOutput + sample - blocker.lastInput);
    blocker.lastInput = sample;
    output[frame] = static_cast<float>(blocker.lastOutput);
  }
}

// Four running sums side by side, so that each addition need not wait for the one before.
void measureLevels(SoundLevels& levels, const float* samples, int64_t frames) {
  constexpr int Lanes = 4;
  std::array<double, Lanes> peak{}, sum{}, squares{};
  for (int64_t frame = 0; frame < frames; ++frame) {
    const double sample = samples[frame];
    const auto lane = static_cast<std::size_t>(frame % Lanes);
    peak[lane] = std::max(peak[lane], std::fabs(sample));
    sum[lane] += sample;
    squares[lane] += sample * sample;
  }
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
  if (peak > 1.0 && clipsAboveFullScale(outputs.format)) {
    std::fprintf(stderr,
                 "quillfern-render: warning: the peak is above 0 dBFS and this format clips it; "
                 "--normalize -1 lowers the whole render below full scale\n");
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

bool failOutput(const OutputFile& file, const std::string& reason, std::string& error) {
  error = "cannot write " + file.name + ": " + reason;
  return false;
}

bool checkNotTheInput(const OutputOptions& options, const std::string& inputPath,
                      std::string& error) {
  const bool wantsPicture = !options.plotPath.empty();
  const std::string* clash = nullptr;
  if (isSameFile(inputPath, options.soundPath, true)) clash = &options.soundPath;
  if (wantsPicture && isSameFile(inputPath, options.plotPath, true)) clash = &options.plotPath;
  if (clash != nullptr) {
    error = "will not write " + *clash + ": it is the song being read";
    return false;
  }
  if (wantsPicture && isSameFile(options.soundPath, options.plotPath, false)) {
    error = "the sound and the picture cannot both go to " + options.plotPath;
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
  outputs.sampleRate = sampleRate;
  outputs.wantsPicture = !options.plotPath.empty();
  outputs.dcBlock = options.dcBlock;
  outputs.dcBlocker = dcBlockerAt(sampleRate);
  outputs.normalize = options.normalize;
  outputs.normalizePeak = options.normalizePeak;
  if (!checkNotTheInput(options, inputPath, error)) return false;
  if (!audioFormatOf(options.soundPath, isDeviceOrPipe(options.soundPath), options.sampleFormat,
                     outputs.format, error)) {
    return false;
  }
  if (outputs.wantsPicture &&
      !plotFormatOf(options.plotPath, isDeviceOrPipe(options.plotPath), outputs.png, error)) {
    return false;
  }
  if (!canWriteAudio(outputs.format, sampleRate, error)) {
    error = "cannot write " + options.soundPath + ": " + error;
    return false;
  }
  if (openFiles(outputs, options, frames, error)) return true;
  discardRenderOutputs(outputs);
  return false;
}

void takeSamples(RenderOutputs& outputs, const float* samples, int64_t frames) {
  if (outputs.dcBlock) {
    outputs.filtered.resize(static_cast<std::size_t>(frames));
    blockDc(outputs.dcBlocker, samples, outputs.filtered.data(), frames);
    samples = outputs.filtered.data();
  }
  measureLevels(outputs.levels, samples, frames);
  writeAudio(outputs.normalize ? outputs.spoolWriter : outputs.writer, samples, frames);
}

bool finishRenderOutputs(RenderOutputs& outputs, const std::string& svg, std::string& error) {
  const double gain = normalizingGain(outputs);
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
  if (!commitOutput(outputs.sound, error) ||
      (outputs.wantsPicture && !commitOutput(outputs.picture, error))) {
    discardRenderOutputs(outputs);
    return false;
  }
  if (outputs.spool >= 0) close(outputs.spool);
  outputs.spool = -1;
  reportLevels(outputs, gain);
  return true;
}

void discardRenderOutputs(RenderOutputs& outputs) {
  if (outputs.writer.encoder != nullptr) sf_close(outputs.writer.encoder);
  outputs.writer.encoder = nullptr;
  discardOutput(outputs.sound);
  discardOutput(outputs.picture);
  if (outputs.spool >= 0) close(outputs.spool);
  outputs.spool = -1;
}
