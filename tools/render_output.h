// SPDX-License-Identifier: GPL-3.0-or-later
// The renderer's outputs from the first check to the last byte: every path checked and opened
// before rendering, the samples on their way to the file (DC removal, levels, normalization),
// and the files made final together, or neither.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/dc_filter.h"
#include "tools/audio_output.h"
#include "tools/decimator.h"
#include "tools/output_file.h"

struct OutputOptions {
  std::string soundPath;
  std::string plotPath;                      // empty: no picture
  std::optional<SampleFormat> sampleFormat;  // --format
  bool normalize = false;
  double normalizePeak = 0.0;  // dBFS
  bool dcBlock = false;
  int32_t rateReduction = 1;  // render frames to a frame of the file
};

struct SoundLevels {
  double peak = 0.0;
  double sum = 0.0;
  double sumOfSquares = 0.0;
  int64_t frames = 0;
};

struct RenderOutputs {
  AudioFormat format;
  OutputFile sound;
  OutputFile picture;
  bool png = false;
  bool wantsPicture = false;
  int32_t sampleRate = 0;  // the file's
  int64_t frames = 0;      // the file's
  Decimator decimator;
  std::vector<float> reduced;  // a block at the file's rate
  AudioWriter writer;
  bool dcBlock = false;
  DcFilter dcBlocker;
  std::vector<float> filtered;  // a block after DC removal
  SoundLevels levels;
  bool normalize = false;
  double normalizePeak = 0.0;
  int spool = -1;           // the render in float, when normalizing
  AudioWriter spoolWriter;  // raw floats into the spool, in large blocks
  std::string failure;      // the first failure while rendering
};

// Checks every output and opens it, for a render of `frames` samples at `sampleRate` of the
// song read from `inputPath` (the file has a rateReduction-th of each); false with `error` set
// (exit code 2) when any would fail.
bool openRenderOutputs(const OutputOptions& options, const std::string& inputPath,
                       int32_t sampleRate, int64_t frames, RenderOutputs& outputs,
                       std::string& error);

// Takes a block of the render on its way to the sound file; false once writing has failed,
// when the render should stop.
bool takeSamples(RenderOutputs& outputs, const float* samples, int64_t frames);

// Ends the sound file (normalizing it first when asked) and writes `svg` as the picture when
// one is wanted, then makes both final; on any failure neither is left. Prints the levels
// line. False with `error` set.
bool finishRenderOutputs(RenderOutputs& outputs, const std::string& svg, std::string& error);

// Removes whatever was opened, leaving every target as it was.
void discardRenderOutputs(RenderOutputs& outputs);
