#include "tools/render_plot.h"

#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <limits>
#include <utility>

#include "midi/midi_messages.h"
#include "tools/output_file.h"

extern char** environ;

namespace {

constexpr int32_t Width = 1200;
constexpr int32_t Height = 780;
constexpr double Left = 90.0;  // room for the value labels and the panel names
constexpr double Right = 1180.0;
constexpr int32_t Columns = static_cast<int32_t>(Right - Left);
constexpr double NoteLabelSpacing = 30.0;  // pixels; closer note names are left out
constexpr float Unseen = std::numeric_limits<float>::infinity();
// The model's orbits stay within a few units, and the output within the volume times those.
// Beyond this the Euler step has run away (high notes), and drawing such values would squash
// everything else flat: they are shown as a shaded gap instead.
constexpr float RunawayMagnitude = 100.0f;
constexpr const char* RunawayShade = "#fbe3e0";
constexpr const char* Grid = "#e4e4e4";
constexpr const char* NoteOnColour = "#8e44ad";
constexpr const char* NoteOffColour = "#888";

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

// The length of the UTF-8 sequence at `at` and its code point, or 0 when the bytes there are not
// one (a stray or missing continuation byte, an overlong form, a surrogate, past U+10FFFF).
int decodeUtf8(const std::string& text, std::size_t at, char32_t& point) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const int length = lead < 0x80       ? 1
                     : lead >> 5 == 6  ? 2
                     : lead >> 4 == 14 ? 3
                     : lead >> 3 == 30 ? 4
                                       : 0;
  if (length == 0 || at + static_cast<std::size_t>(length) > text.size()) return 0;
  point = length == 1 ? lead : lead & (0x7F >> length);
  for (int index = 1; index < length; ++index) {
    const auto next = static_cast<unsigned char>(text[at + static_cast<std::size_t>(index)]);
    if (next >> 6 != 2) return 0;
    point = point << 6 | (next & 0x3F);
  }
  static constexpr char32_t Smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (point < Smallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
    return 0;
  return length;
}

// The characters XML 1.0 allows in a document; no escape makes the others well-formed.
bool allowedInXml(char32_t point) {
  return point == 0x9 || point == 0xA || point == 0xD || (point >= 0x20 && point <= 0xD7FF) ||
         (point >= 0xE000 && point <= 0xFFFD) || point >= 0x10000;
}

// Text as XML character data: markup characters escaped, and every byte that is not valid
// UTF-8 or is a character XML forbids (control characters) shown as U+FFFD.
std::string escaped(const std::string& text) {
  static constexpr const char* Replacement = "\xEF\xBF\xBD";
  std::string result;
  for (std::size_t at = 0; at < text.size();) {
    char32_t point = 0;
    const int length = decodeUtf8(text, at, point);
    if (length == 0 || !allowedInXml(point)) {
      result += Replacement;
      at += length == 0 ? 1 : static_cast<std::size_t>(length);
      continue;
    }
    switch (point) {
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
        result.append(text, at, static_cast<std::size_t>(length));
    }
    at += static_cast<std::size_t>(length);
  }
  return result;
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
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
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

std::string pixels(double value) {
  return number(value, 1);
}

// The multiples of `step` from `low` to `high`, counted in whole steps so that no error adds up.
std::vector<double> gridValues(double low, double high, double step) {
  std::vector<double> values;
  if (!(step > 0.0) || !std::isfinite(low) || !std::isfinite(high)) return values;  // no scale
  for (auto index = static_cast<int64_t>(std::ceil(low / step));
       static_cast<double>(index) * step <= high + step * 1e-9; ++index) {
    values.push_back(static_cast<double>(index) * step);
  }
  return values;
}

using Attributes = std::initializer_list<std::pair<const char*, std::string>>;

// Appends one SVG element: <name a="v" ...>text</name>, or <name .../> without text. Attribute
// values are ours (numbers, colours); the text may be the user's, and is escaped.
void element(std::string& svg, const char* name, Attributes attributes,
             const std::string& text = {}) {
  svg.append("<").append(name);
  for (const auto& [key, value] : attributes) {
    svg.append(" ").append(key).append("=\"").append(value).append("\"");
  }
  if (text.empty()) {
    svg.append("/>\n");
    return;
  }
  svg.append(">").append(escaped(text)).append("</").append(name).append(">\n");
}

// The band between each column's smallest and largest value: along the tops, back along the
// bottoms, one closed shape per stretch of columns without a gap.
std::string tracePath(const Panel& panel, const ValueRange& range) {
  const TraceColumns& trace = *panel.trace;
  const double columnWidth = (Right - Left) / static_cast<double>(trace.low.size());
  std::string path;
  std::vector<std::string> bottoms;
  const auto closeStretch = [&] {
    for (auto bottom = bottoms.rbegin(); bottom != bottoms.rend(); ++bottom) path.append(*bottom);
    if (!bottoms.empty()) path.append("Z");
    bottoms.clear();
  };
  for (std::size_t column = 0; column < trace.low.size(); ++column) {
    if (isGap(trace, column)) {
      closeStretch();
      continue;
    }
    const std::string x = pixels(Left + (static_cast<double>(column) + 0.5) * columnWidth);
    path.append(bottoms.empty() ? "M" : "L").append(x).append(" ");
    path.append(pixels(yOf(panel, range, trace.high[column])));
    bottoms.push_back("L" + x);
    bottoms.back().append(" ").append(pixels(yOf(panel, range, trace.low[column])));
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
    element(svg, "rect",
            {{"x", pixels(Left + static_cast<double>(first) * columnWidth)},
             {"y", pixels(panel.top)},
             {"width", pixels(static_cast<double>(column - first) * columnWidth)},
             {"height", pixels(panel.height)},
             {"fill", RunawayShade}});
  }
}

void drawPanel(std::string& svg, const Panel& panel) {
  drawGaps(svg, panel);
  const ValueRange range = rangeOf(*panel.trace, panel.symmetric);
  const double step = gridStep(range.high - range.low);
  for (const double value : gridValues(range.low, range.high, step)) {
    const std::string y = pixels(yOf(panel, range, value));
    element(svg, "line",
            {{"x1", pixels(Left)}, {"x2", pixels(Right)}, {"y1", y}, {"y2", y}, {"stroke", Grid}});
    element(svg, "text",
            {{"x", pixels(Left - 6)},
             {"y", y},
             {"text-anchor", "end"},
             {"dominant-baseline", "middle"}},
            number(value, decimalsFor(step)));
  }
  if (!panel.trace->low.empty()) {
    element(svg, "path",
            {{"fill", panel.color},
             {"stroke", panel.color},
             {"stroke-linejoin", "round"},
             {"d", tracePath(panel, range)}});
  }
  element(svg, "rect",
          {{"x", pixels(Left)},
           {"y", pixels(panel.top)},
           {"width", pixels(Right - Left)},
           {"height", pixels(panel.height)},
           {"fill", "none"},
           {"stroke", "#555"}});
  const std::string middle = pixels(panel.top + panel.height / 2);
  element(svg, "text",
          {{"x", "22"},
           {"y", middle},
           {"font-size", "15"},
           {"font-weight", "bold"},
           {"fill", panel.color},
           {"text-anchor", "middle"},
           {"transform", "rotate(-90 22 " + middle + ")"}},
          panel.name);
}

void drawTimeAxis(std::string& svg, int64_t totalFrames, double framesPerSecond, double top,
                  double bottom) {
  const double seconds = static_cast<double>(totalFrames) / framesPerSecond;
  const double step = gridStep(seconds / 2.0);  // about eight lines across
  for (const double time : gridValues(0.0, seconds, step)) {
    const std::string x = pixels(xOfFrame(std::llround(time * framesPerSecond), totalFrames));
    element(svg, "line",
            {{"x1", x}, {"x2", x}, {"y1", pixels(top)}, {"y2", pixels(bottom)}, {"stroke", Grid}});
    element(svg, "text", {{"x", x}, {"y", pixels(bottom + 18)}, {"text-anchor", "middle"}},
            number(time, decimalsFor(step)));
  }
  element(
      svg, "text",
      {{"x", pixels((Left + Right) / 2)}, {"y", pixels(bottom + 40)}, {"text-anchor", "middle"}},
      "time (s)");
}

// A note-on's line, or a note-off's dashed one, from (x, top) to (x, bottom).
void drawMarkLine(std::string& svg, bool on, double x, double top, double bottom) {
  const std::string at = pixels(x);
  const char* const style = on ? "stroke-opacity" : "stroke-dasharray";
  element(svg, "line",
          {{"x1", at},
           {"x2", at},
           {"y1", pixels(top)},
           {"y2", pixels(bottom)},
           {"stroke", on ? NoteOnColour : NoteOffColour},
           {style, on ? "0.7" : "4 3"}});
}

void drawNoteMarks(std::string& svg, const std::vector<NoteMark>& marks, int64_t totalFrames,
                   double top, double bottom) {
  double lastLabel = -NoteLabelSpacing;
  std::array<int64_t, 2> lastPixel = {-1, -1};  // of a note-off's line and a note-on's
  for (const NoteMark& mark : marks) {
    const double x = xOfFrame(mark.frame, totalFrames);
    // A long song's marks would crowd one pixel many times over: one line a pixel is enough.
    int64_t& last = lastPixel[mark.on ? 1 : 0];
    if (std::llround(x) == last) continue;
    last = std::llround(x);
    drawMarkLine(svg, mark.on, x, top, bottom);
    if (!mark.on || x - lastLabel < NoteLabelSpacing) continue;
    lastLabel = x;
    element(svg, "text",
            {{"x", pixels(x)},
             {"y", pixels(top - 5)},
             {"text-anchor", "middle"},
             {"fill", NoteOnColour}},
            noteName(mark.note));
  }
}

void drawHeader(std::string& svg, const std::string& title, const std::string& subtitle,
                bool ranAway) {
  element(svg, "text",
          {{"x", pixels(Left)}, {"y", "26"}, {"font-size", "17"}, {"font-weight", "bold"}}, title);
  element(svg, "text", {{"x", pixels(Left)}, {"y", "48"}, {"fill", "#444"}}, subtitle);
  const double legend = Right - 250;
  drawMarkLine(svg, true, legend, 14, 30);
  element(svg, "text", {{"x", pixels(legend + 6)}, {"y", "27"}}, "note on");
  drawMarkLine(svg, false, legend + 90, 14, 30);
  element(svg, "text", {{"x", pixels(legend + 96)}, {"y", "27"}}, "note off / release");
  if (!ranAway) return;
  element(svg, "rect",
          {{"x", pixels(legend - 6)},
           {"y", "36"},
           {"width", "12"},
           {"height", "14"},
           {"fill", RunawayShade}});
  element(svg, "text", {{"x", pixels(legend + 12)}, {"y", "48"}},
          "the model ran away (note too high)");
}

bool hasGaps(const TraceColumns& trace) {
  for (std::size_t column = 0; column < trace.low.size(); ++column) {
    if (isGap(trace, column)) return true;
  }
  return false;
}

constexpr const char* PngConverter = "rsvg-convert";

// Converts the SVG text to PNG with rsvg-convert, reading it from a memory file and writing to
// `descriptor`; returns its exit status, or -1 when it cannot start.
int convertToPng(const std::string& svg, int descriptor) {
  const int input = memfd_create("quillfern-plot", MFD_CLOEXEC);
  if (input < 0 || !writeAll(input, svg.data(), svg.size()) || lseek(input, 0, SEEK_SET) != 0) {
    if (input >= 0) close(input);
    return -1;
  }
  std::string program = PngConverter;
  char* argv[] = {program.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, descriptor, STDOUT_FILENO);
  pid_t child = 0;
  const bool started = posix_spawnp(&child, PngConverter, &actions, nullptr, argv, environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  close(input);
  int status = 0;
  if (!started || waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool isProgramOnPath(const char* program) {
  const char* path = std::getenv("PATH");  // NOLINT(concurrency-mt-unsafe): one thread
  std::string directories = path != nullptr ? path : "/usr/bin:/bin";
  for (std::size_t start = 0; start <= directories.size();) {
    std::size_t end = directories.find(':', start);
    if (end == std::string::npos) end = directories.size();
    const std::string directory = end > start ? directories.substr(start, end - start) : ".";
    if (access((directory + "/" + program).c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

PlotTraces startPlotTraces(int64_t totalFrames, double framesPerSecond) {
  PlotTraces traces;
  traces.totalFrames = totalFrames;
  traces.framesPerSecond = framesPerSecond;
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
    } else if (event.kind == ScoreEventKind::Midi &&
               (status == NoteOnChannel1 || status == NoteOffChannel1)) {
      marks.push_back({event.frame, note, status == NoteOnChannel1 && sounding});
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
  drawTimeAxis(svg, frames, traces.framesPerSecond, top, bottom);
  drawNoteMarks(svg, marks, frames, top, bottom);
  for (const Panel& panel : panels) drawPanel(svg, panel);
  svg += "</svg>\n";
  return svg;
}

bool plotFormatOf(const std::string& path, bool anyName, bool& png, std::string& error) {
  const std::string extension = lowerExtension(path);
  png = extension == ".png";
  if (png && !isProgramOnPath(PngConverter)) {
    error = "making " + readableName(path) + " needs rsvg-convert (Debian package librsvg2-bin)";
    return false;
  }
  if (png || anyName || extension == ".svg") return true;
  error = "cannot tell the picture format of " + readableName(path) +
          ": its name may end in .svg or .png";
  return false;
}

bool writePlot(int descriptor, const std::string& svg, bool png, std::string& error) {
  if (!png) {
    if (writeAll(descriptor, svg.data(), svg.size())) return true;
    error = systemReason(errno);
    return false;
  }
  const int status = convertToPng(svg, descriptor);
  if (status == 0) return true;
  error = status == -1 ? "rsvg-convert (Debian package librsvg2-bin) did not run"
                       : "rsvg-convert failed with exit code " + std::to_string(status);
  return false;
}
