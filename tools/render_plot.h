// SPDX-License-Identifier: GPL-3.0-or-later
// A picture of a render: the output's waveform and, below it, the model's x and z over the same
// time axis, with the notes marked, so that spiking, bursting and chaos can be seen at a glance.
//
// The traces are kept as the smallest and largest value per pixel column while the render runs,
// so that memory and the picture's size stay small however long the song. The picture is SVG
// written here; a PNG is converted from it by rsvg-convert (Debian package librsvg2-bin).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/voice.h"
#include "tools/score.h"

// The smallest and largest value each column saw; a column with no finite value (a model that
// ran away) has low > high and is left as a gap.
struct TraceColumns {
  std::vector<float> low;
  std::vector<float> high;
  float last = 0.0f;  // the latest finite value, where the next column joins on
};

struct PlotTraces {
  int64_t totalFrames = 0;
  double framesPerSecond = DefaultSampleRate;
  int64_t frame = 0;  // frames recorded so far
  TraceColumns output;
  TraceColumns x;
  TraceColumns z;
};

PlotTraces startPlotTraces(int64_t totalFrames, double framesPerSecond = DefaultSampleRate);
void recordPlotFrame(PlotTraces& traces, float sample, float x, float z);

// A note-on (note ≥ 0, sounding on channel 1), a note-off (on = false) or the port's close.
struct NoteMark {
  int64_t frame = 0;
  int32_t note = 0;
  bool on = false;
};

// The events of `score` that start or end the voice's notes.
std::vector<NoteMark> noteMarksOf(const Score& score);

// The whole picture as SVG text. `title` names the song, `subtitle` the settings.
std::string plotSvg(const PlotTraces& traces, const std::vector<NoteMark>& marks,
                    const std::string& title, const std::string& subtitle);

// Whether `path` names a picture this program draws: .svg, or .png when rsvg-convert is there
// to make it (in any case); a device or a pipe (`anyName`) gets SVG unless its name says PNG.
// False with `error` set.
bool plotFormatOf(const std::string& path, bool anyName, bool& png, std::string& error);

// Writes `svg` to the open file, converted to PNG when `png`; false with `error` set.
bool writePlot(int descriptor, const std::string& svg, bool png, std::string& error);
