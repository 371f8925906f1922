#include "tools/render_plot.h"

#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>

extern char** environ;

namespace {

constexpr double FramesPerSecond = 44100.0;
constexpr int32_t Width = 1200;
constexpr int32_t Height = 780;
constexpr double Left = 90.0;  // room for the value labels and the panel names
constexpr double Right = 1180.0;
constexpr int32_t Columns = static_cast<int32_t>(Right - Left);
constexpr double NoteLabelSpacing = 30.0;  // pixels; closer note names are left out
constexpr uint8_t NoteOn = 0x90;
constexpr uint8_t NoteOff = 0x80;
constexpr float Unseen = std::numeric_limits<float>::infinity();
// The model's orbits stay within a few units, and the output within the volume times those.
// Beyond this the Euler step has run away (high notes), and drawing such values would squash
// everything else flat: they are shown as a shaded gap instead.
constexpr float RunawayMagnitude = 100.0f;
constexpr const char* RunawayShade = "#fbe3e0";

struct Panel {
  const char* name;
  const char* color;
  const TraceColumns* trace;
  double top;
  double height;
  bool symmetric;  // around zero: the waveform
};

struct ValueRange {
  double low = -1.0;
  double high = 1.0;
};

bool isGap(const TraceColumns& trace, std::size_t column) {
  return trace.low[column] > trace.high[column];
}

void startColumns(TraceColumns& trace, std::size_t columns) {
  trace.low.assign(columns, Unseen);
  trace.high.assign(columns, -Unseen);
}

// A column's first value also takes in the previous column's last, so that neighbouring
// columns join up; a column where the model ran away throughout stays a gap.
void recordValue(TraceColumns& trace, std::size_t column, float value) {
  if (!(std::fabs(value) <= RunawayMagnitude)) return;  // also NaN
  if (isGap(trace, column) && column > 0 && !isGap(trace, column - 1)) {
    trace.low[column] = trace.high[column] = trace.last;
  }
  trace.low[column] = std::min(trace.low[column], value);
  trace.high[column] = std::max(trace.high[column], value);
  trace.last = value;
}

std::string number(double value, int32_t decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string escaped(const std::string& text) {
  std::string result;
  for (const char c : text) {
    switch (c) {
      case '&':
        result += "&amp;";
        break;
      case '<':
        result += "&lt;";
        break;
      case '>':
        result += "&gt;";
        break;
      case '"':
        result += "&quot;";
        break;
      default:
        result += c;
    }
  }
  return result;
}

std::string noteName(int32_t note) {
  static constexpr std::array<const char*, 12> names = {"C",  "C#", "D",  "D#", "E",  "F",
                                                        "F#", "G",  "G#", "A",  "A#", "B"};
  return names[static_cast<std::size_t>(note % 12)] + std::to_string(note / 12 - 1);
}

// 1, 2 or 5 times a power of ten, near a quarter of `span`: four or so grid lines.
double gridStep(double span) {
  const double raw = span / 4.0;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  const double mantissa = raw / power;
  if (mantissa < 1.5) return power;
  if (mantissa < 3.5) return 2.0 * power;
  if (mantissa < 7.5) return 5.0 * power;
  return 10.0 * power;
}

int32_t decimalsFor(double step) {
  return std::max(0, static_cast<int32_t>(-std::floor(std::log10(step) + 1e-9)));
}

ValueRange rangeOf(const TraceColumns& trace, bool symmetric) {
  double low = Unseen;
  double high = -Unseen;
  for (std::size_t column = 0; column < trace.low.size(); ++column) {
    if (isGap(trace, column)) continue;
    low = std::min<double>(low, trace.low[column]);
    high = std::max<double>(high, trace.high[column]);
  }
  if (low > high) return {};
  if (symmetric) {
    const double peak = std::max(std::fabs(low), std::fabs(high));
    return peak == 0.0 ? ValueRange{} : ValueRange{-peak * 1.05, peak * 1.05};
  }
  const double margin = high > low ? (high - low) * 0.05 : 1.0;
  return {low - margin, high + margin};
}

double yOf(const Panel& panel, const ValueRange& range, double value) {
  return panel.top + panel.height * (range.high - value) / (range.high - range.low);
}

double xOfFrame(int64_t frame, int64_t totalFrames) {
  return Left + (Right - Left) * static_cast<double>(frame) / static_cast<double>(totalFrames);
}

// The band between each column's smallest and largest value, one closed shape per stretch of
// columns without a gap.
std::string tracePath(const Panel& panel, const ValueRange& range) {
  const TraceColumns& trace = *panel.trace;
  const double columnWidth = (Right - Left) / static_cast<double>(trace.low.size());
  std::string path;
  std::string back;
  const auto closeStretch = [&] {
    if (back.empty()) return;
    path += back + "Z";
    back.clear();
  };
  for (std::size_t column = 0; column < trace.low.size(); ++column) {
    if (isGap(trace, column)) {
      closeStretch();
      continue;
    }
    const std::string x = number(Left + (static_cast<double>(column) + 0.5) * columnWidth, 1);
    path += (back.empty() ? "M" : "L") + x + " " + number(yOf(panel, range, trace.high[column]), 1);
    back = "L" + x + " " + number(yOf(panel, range, trace.low[column]), 1) + back;
  }
  closeStretch();
  return path;
}

// Shades each stretch of columns where the model ran away.
void drawGaps(std::string& svg, const Panel& panel) {
  const TraceColumns& trace = *panel.trace;
  const double columnWidth = (Right - Left) / static_cast<double>(trace.low.size());
  for (std::size_t column = 0; column < trace.low.size();) {
    if (!isGap(trace, column)) {
      ++column;
      continue;
    }
    const std::size_t first = column;
    while (column < trace.low.size() && isGap(trace, column)) ++column;
    svg += "<rect x=\"" + number(Left + static_cast<double>(first) * columnWidth, 1) + "\" y=\"" +
           number(panel.top, 0) + "\" width=\"" +
           number(static_cast<double>(column - first) * columnWidth, 1) + "\" height=\"" +
           number(panel.height, 0) + "\" fill=\"" + RunawayShade + "\"/>\n";
  }
}

void drawPanel(std::string& svg, const Panel& panel) {
  drawGaps(svg, panel);
  const ValueRange range = rangeOf(*panel.trace, panel.symmetric);
  const double step = gridStep(range.high - range.low);
  for (double value = std::ceil(range.low / step) * step; value <= range.high; value += step) {
    const double shown = std::fabs(value) < step * 1e-6 ? 0.0 : value;
    const std::string y = number(yOf(panel, range, value), 1);
    svg += "<line x1=\"" + number(Left, 0) + "\" x2=\"" + number(Right, 0) + "\" y1=\"" + y +
           "\" y2=\"" + y + "\" stroke=\"#e4e4e4\"/>\n";
    svg += "<text x=\"" + number(Left - 6, 0) + "\" y=\"" + y +
           "\" text-anchor=\"end\" dominant-baseline=\"middle\">" +
           number(shown, decimalsFor(step)) + "</text>\n";
  }
  if (!panel.trace->low.empty()) {
    svg += std::string("<path fill=\"") + panel.color + "\" stroke=\"" + panel.color +
           "\" stroke-width=\"1\" stroke-linejoin=\"round\" d=\"" + tracePath(panel, range) +
           "\"/>\n";
  }
  svg += "<rect x=\"" + number(Left, 0) + "\" y=\"" + number(panel.top, 0) + "\" width=\"" +
         number(Right - Left, 0) + "\" height=\"" + number(panel.height, 0) +
         "\" fill=\"none\" stroke=\"#555\"/>\n";
  const std::string middle = number(panel.top + panel.height / 2, 0);
  svg += "<text x=\"22\" y=\"" + middle + "\" font-size=\"15\" font-weight=\"bold\" fill=\"" +
         panel.color + "\" text-anchor=\"middle\" transform=\"rotate(-90 22 " + middle + ")\">" +
         panel.name + "</text>\n";
}

void drawTimeAxis(std::string& svg, int64_t totalFrames, double top, double bottom) {
  const double seconds = static_cast<double>(totalFrames) / FramesPerSecond;
  const double step = gridStep(seconds / 2.0);  // about eight lines across
  for (double time = 0.0; time <= seconds + step * 1e-9; time += step) {
    const std::string x = number(xOfFrame(std::llround(time * FramesPerSecond), totalFrames), 1);
    svg += "<line x1=\"" + x + "\" x2=\"" + x + "\" y1=\"" + number(top, 0) + "\" y2=\"" +
           number(bottom, 0) + "\" stroke=\"#e4e4e4\"/>\n";
    svg += "<text x=\"" + x + "\" y=\"" + number(bottom + 18, 0) + "\" text-anchor=\"middle\">" +
           number(time, decimalsFor(step)) + "</text>\n";
  }
  svg += "<text x=\"" + number((Left + Right) / 2, 0) + "\" y=\"" + number(bottom + 40, 0) +
         "\" text-anchor=\"middle\">time (s)</text>\n";
}

void drawNoteMarks(std::string& svg, const std::vector<NoteMark>& marks, int64_t totalFrames,
                   double top, double bottom) {
  double lastLabel = -NoteLabelSpacing;
  for (const NoteMark& mark : marks) {
    const double x = xOfFrame(mark.frame, totalFrames);
    svg += "<line x1=\"" + number(x, 1) + "\" x2=\"" + number(x, 1) + "\" y1=\"" + number(top, 0) +
           "\" y2=\"" + number(bottom, 0) +
           (mark.on ? "\" stroke=\"#8e44ad\" stroke-opacity=\"0.7\"/>\n"
                    : "\" stroke=\"#888\" stroke-dasharray=\"4 3\"/>\n");
    if (!mark.on || x - lastLabel < NoteLabelSpacing) continue;
    lastLabel = x;
    svg += "<text x=\"" + number(x, 1) + "\" y=\"" + number(top - 5, 0) +
           "\" text-anchor=\"middle\" fill=\"#8e44ad\">" + noteName(mark.note) + "</text>\n";
  }
}

void drawHeader(std::string& svg, const std::string& title, const std::string& subtitle,
                bool ranAway) {
  svg += "<text x=\"" + number(Left, 0) + "\" y=\"26\" font-size=\"17\" font-weight=\"bold\">" +
         escaped(title) + "</text>\n";
  svg += "<text x=\"" + number(Left, 0) + "\" y=\"48\" fill=\"#444\">" + escaped(subtitle) +
         "</text>\n";
  const std::string legend = number(Right - 250, 0);
  svg += "<line x1=\"" + legend + "\" x2=\"" + legend +
         "\" y1=\"14\" y2=\"30\" stroke=\"#8e44ad\"/>"
         "<text x=\"" +
         number(Right - 244, 0) + "\" y=\"27\">note on</text>\n";
  const std::string off = number(Right - 160, 0);
  svg += "<line x1=\"" + off + "\" x2=\"" + off +
         "\" y1=\"14\" y2=\"30\" stroke=\"#888\" stroke-dasharray=\"4 3\"/>"
         "<text x=\"" +
         number(Right - 154, 0) + "\" y=\"27\">note off / release</text>\n";
  if (!ranAway) return;
  svg += "<rect x=\"" + legend + "\" y=\"36\" width=\"12\" height=\"14\" fill=\"" + RunawayShade +
         "\"/><text x=\"" + number(Right - 232, 0) +
         "\" y=\"48\">the model ran away (note too high)</text>\n";
}

bool hasGaps(const TraceColumns& trace) {
  for (std::size_t column = 0; column < trace.low.size(); ++column) {
    if (isGap(trace, column)) return true;
  }
  return false;
}

// Runs rsvg-convert on the SVG file; returns its exit status, or -1 when it cannot start.
int convertToPng(const std::filesystem::path& svg, const std::filesystem::path& png) {
  std::string program = "rsvg-convert";
  std::string outputFlag = "-o";
  std::string output = png.string();
  std::string input = svg.string();
  char* argv[] = {program.data(), outputFlag.data(), output.data(), input.data(), nullptr};
  pid_t child = 0;
  if (posix_spawnp(&child, program.c_str(), nullptr, nullptr, argv, environ) != 0) return -1;
  int status = 0;
  if (waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool writeText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream stream(path, std::ios::binary);
  stream << text;
  stream.close();
  return !stream.fail();
}

}  // namespace

PlotTraces startPlotTraces(int64_t totalFrames) {
  PlotTraces traces;
  traces.totalFrames = totalFrames;
  const auto columns = static_cast<std::size_t>(std::min<int64_t>(Columns, totalFrames));
  startColumns(traces.output, columns);
  startColumns(traces.x, columns);
  startColumns(traces.z, columns);
  return traces;
}

void recordPlotFrame(PlotTraces& traces, float sample, float x, float z) {
  if (traces.frame >= traces.totalFrames) return;
  const auto columns = static_cast<int64_t>(traces.output.low.size());
  const auto column = static_cast<std::size_t>(traces.frame * columns / traces.totalFrames);
  recordValue(traces.output, column, sample);
  recordValue(traces.x, column, x);
  recordValue(traces.z, column, z);
  ++traces.frame;
}

std::vector<NoteMark> noteMarksOf(const Score& score) {
  std::vector<NoteMark> marks;
  for (const ScoreEvent& event : score.events) {
    const auto status = static_cast<uint8_t>(event.message & 0xFF);
    const auto note = static_cast<int32_t>(event.message >> 8 & 0xFF);
    const bool sounding = (event.message >> 16 & 0xFF) != 0;
    if (event.kind == ScoreEventKind::Close) {
      marks.push_back({event.frame, -1, false});
    } else if (event.kind == ScoreEventKind::Midi && (status == NoteOn || status == NoteOff)) {
      marks.push_back({event.frame, note, status == NoteOn && sounding});
    }
  }
  return marks;
}

std::string plotSvg(const PlotTraces& traces, const std::vector<NoteMark>& marks,
                    const std::string& title, const std::string& subtitle) {
  const std::array panels = {
      Panel{"output", "#1f5fa8", &traces.output, 80.0, 250.0, true},
      Panel{"x", "#c0501a", &traces.x, 350.0, 170.0, false},
      Panel{"z", "#2e7d32", &traces.z, 540.0, 170.0, false},
  };
  const double top = panels.front().top;
  const double bottom = panels.back().top + panels.back().height;
  std::string svg =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
      std::to_string(Width) + "\" height=\"" + std::to_string(Height) + "\" viewBox=\"0 0 " +
      std::to_string(Width) + " " + std::to_string(Height) +
      "\" font-family=\"DejaVu Sans, sans-serif\" font-size=\"13\">\n"
      "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  drawHeader(svg, title, subtitle,
             hasGaps(traces.output) || hasGaps(traces.x) || hasGaps(traces.z));
  const int64_t frames = std::max<int64_t>(traces.totalFrames, 1);
  drawTimeAxis(svg, frames, top, bottom);
  drawNoteMarks(svg, marks, frames, top, bottom);
  for (const Panel& panel : panels) drawPanel(svg, panel);
  svg += "</svg>\n";
  return svg;
}

bool writePlotFile(const std::string& path, const std::string& svg, std::string& error) {
  const std::filesystem::path target(path);
  std::filesystem::path partial = target;
  partial.replace_filename("." + target.filename().string() + ".partial");
  const bool png = target.extension() == ".png";
  std::filesystem::path svgFile = partial;
  if (png) svgFile += ".svg";

  std::error_code ignored;
  bool written = writeText(svgFile, svg);
  if (written && png) {
    const int status = convertToPng(svgFile, partial);
    if (status != 0) {
      error = status == -1 ? "making a PNG needs rsvg-convert (Debian package librsvg2-bin)"
                           : "rsvg-convert could not make " + path;
      std::filesystem::remove(svgFile, ignored);
      std::filesystem::remove(partial, ignored);
      return false;
    }
    std::filesystem::remove(svgFile, ignored);
  }
  std::error_code renameError;
  if (written) std::filesystem::rename(partial, target, renameError);
  if (!written || renameError) {
    std::filesystem::remove(partial, ignored);
    std::filesystem::remove(svgFile, ignored);
    error = "cannot write " + path;
    return false;
  }
  return true;
}
