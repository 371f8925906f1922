// SPDX-License-Identifier: GPL-3.0-or-later
#include "plugins/gui/window_draw.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "engine/model_regime.h"
#include "plugins/gui/gui_parameters.h"

namespace {

constexpr const char* FontFamily = "DejaVu Sans";

struct Colour {
  double red, green, blue, alpha = 1.0;
};

constexpr Colour Background{0.106, 0.118, 0.137};
constexpr Colour Panel{0.145, 0.165, 0.192};
constexpr Colour ControlFace{0.196, 0.220, 0.255};
constexpr Colour ControlHover{0.235, 0.263, 0.302};
constexpr Colour Accent{0.247, 0.757, 0.788};
constexpr Colour AccentDim{0.247, 0.757, 0.788, 0.45};
constexpr Colour Text{0.902, 0.910, 0.918};
constexpr Colour DimText{0.604, 0.627, 0.651};
constexpr Colour Grid{1.0, 1.0, 1.0, 0.08};
constexpr Colour ScopeLine{0.494, 0.878, 0.506};
constexpr Colour PhaseLine{0.961, 0.651, 0.357, 0.75};
constexpr Colour Warning{0.878, 0.322, 0.310};
constexpr Colour EntryFace{0.925, 0.937, 0.945};
constexpr Colour EntryText{0.08, 0.08, 0.10};

constexpr double CornerRadius = 5.0;
constexpr double SmallText = 11.0;
constexpr double ChoiceText = 12.0;  // every named value, in segments and steppers
constexpr double MarkHeight = 3.0;   // the value's edge, under the text
constexpr double NormalText = 13.0;
constexpr double TitleText = 20.0;
constexpr double RegimeText = 30.0;
constexpr double TextInset = 10.0;
constexpr std::size_t MostPhasePoints = 6000;
// Fixed ranges, so that presets compare at a glance: the factory bank's whole course at A3 with
// room (x from -2.25 to 2.39, z from 0 to 5.6).
struct AxisRange {
  double low, high;
};
constexpr AxisRange XRange{-2.5, 2.5};
constexpr AxisRange ZRange{0.0, 6.0};

enum class Align { Left, Centre, Right };

void setColour(cairo_t* cairo, const Colour& colour) {
  cairo_set_source_rgba(cairo, colour.red, colour.green, colour.blue, colour.alpha);
}

void roundedRect(cairo_t* cairo, const Rect& rect, double radius) {
  const double right = rect.x + rect.width;
  const double bottom = rect.y + rect.height;
  cairo_new_sub_path(cairo);
  cairo_arc(cairo, right - radius, rect.y + radius, radius, -M_PI / 2, 0);
  cairo_arc(cairo, right - radius, bottom - radius, radius, 0, M_PI / 2);
  cairo_arc(cairo, rect.x + radius, bottom - radius, radius, M_PI / 2, M_PI);
  cairo_arc(cairo, rect.x + radius, rect.y + radius, radius, M_PI, 3 * M_PI / 2);
  cairo_close_path(cairo);
}

void fillRect(cairo_t* cairo, const Rect& rect, const Colour& colour) {
  setColour(cairo, colour);
  roundedRect(cairo, rect, CornerRadius);
  cairo_fill(cairo);
}

void useFont(cairo_t* cairo, double size, bool bold) {
  cairo_select_font_face(cairo, FontFamily, CAIRO_FONT_SLANT_NORMAL,
                         bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cairo, size);
}

double textWidth(cairo_t* cairo, const char* text, double size) {
  useFont(cairo, size, false);
  cairo_text_extents_t extents;
  cairo_text_extents(cairo, text, &extents);
  return extents.width;
}

// Text whose baseline's middle sits at `y`, placed by `align` against `x`.
void drawText(cairo_t* cairo, double x, double y, const char* text, double size,
              const Colour& colour, Align align = Align::Left, bool bold = false) {
  useFont(cairo, size, bold);
  cairo_text_extents_t extents;
  cairo_text_extents(cairo, text, &extents);
  double left = x - extents.x_bearing;
  if (align == Align::Centre) left = x - extents.x_bearing - extents.width / 2;
  if (align == Align::Right) left = x - extents.x_bearing - extents.width;
  setColour(cairo, colour);
  cairo_move_to(cairo, left, y + size * 0.35);
  cairo_show_text(cairo, text);
}

double middleOf(const Rect& rect) {
  return rect.y + rect.height / 2;
}

// The model's present, worked out once a drawing.
struct ModelPicture {
  std::vector<float> x;  // the whole history, oldest first
  std::vector<float> z;
  RegimeReading regime;
};

bool playable(float value) {
  return std::fabs(value) <= RunAwayLevel;
}

std::span<const float> lastSeconds(const std::vector<float>& values, double seconds,
                                   double pointRate) {
  const auto wanted = static_cast<std::size_t>(std::lround(seconds * pointRate));
  return std::span<const float>(values).last(std::min(wanted, values.size()));
}

ModelPicture pictureOf(const WindowView& view) {
  ModelPicture picture;
  latestPoints(view.history, HistorySeconds, picture.x, picture.z);
  picture.regime = readRegime(view, picture.x);
  return picture;
}

// "200 ms", "2 s".
void durationText(double seconds, char* text, std::size_t size) {
  if (seconds < 1.0) {
    std::snprintf(text, size, "%g ms", seconds * 1000.0);
  } else {
    std::snprintf(text, size, "%g s", seconds);
  }
}

bool hovers(const WindowView& view, TargetKind kind, std::size_t index = 0) {
  return view.hovered.kind == kind && view.hovered.index == index;
}

void drawButton(cairo_t* cairo, const Rect& rect, const char* label, bool lit) {
  fillRect(cairo, rect, lit ? ControlHover : ControlFace);
  drawText(cairo, rect.x + rect.width / 2, middleOf(rect), label, NormalText, Text, Align::Centre);
}

// Text cut at the rectangle's right edge.
void drawClippedText(cairo_t* cairo, const Rect& rect, const std::string& text, double size,
                     const Colour& colour, Align align = Align::Left) {
  cairo_save(cairo);
  cairo_rectangle(cairo, rect.x, rect.y, rect.width, rect.height);
  cairo_clip(cairo);
  const double x = align == Align::Right ? rect.x + rect.width : rect.x;
  drawText(cairo, x, middleOf(rect), text.c_str(), size, colour, align);
  cairo_restore(cairo);
}

void drawEntry(cairo_t* cairo, const Rect& rect, const TextEntry& entry);

// The output's peak on a scale of decibels from full scale, its part above 0 dB in red, and
// the clip mark, lit from a peak over full scale until clicked.
void drawMeter(cairo_t* cairo, const WindowView& view) {
  constexpr double LowestDb = -48.0;
  constexpr double HighestDb = 12.0;
  const Rect meter = meterRect();
  const auto at = [&](double db) {
    return meter.x +
           meter.width * (std::clamp(db, LowestDb, HighestDb) - LowestDb) / (HighestDb - LowestDb);
  };
  fillRect(cairo, meter, ControlFace);
  const double peakDb = 20.0 * std::log10(std::max(static_cast<double>(view.peak), 1e-6));
  const double full = at(0.0);
  if (peakDb > LowestDb) {
    setColour(cairo, ScopeLine);
    cairo_rectangle(cairo, meter.x, meter.y, std::min(at(peakDb), full) - meter.x, meter.height);
    cairo_fill(cairo);
    if (peakDb > 0.0) {
      setColour(cairo, Warning);
      cairo_rectangle(cairo, full, meter.y, at(peakDb) - full, meter.height);
      cairo_fill(cairo);
    }
  }
  for (const double db : {-48.0, -36.0, -24.0, -12.0, 0.0, 12.0}) {
    char label[8];
    std::snprintf(label, sizeof label, "%+.0f", db);
    setColour(cairo, db == 0.0 ? Text : Grid);
    cairo_rectangle(cairo, at(db) - 0.5, meter.y, 1.0, meter.height);
    cairo_fill(cairo);
    const Align align = db == LowestDb    ? Align::Left
                        : db == HighestDb ? Align::Right
                                          : Align::Centre;
    drawText(cairo, at(db), meter.y + meter.height + 9.0, db == 0.0 ? "0 dB" : label, 9.0, DimText,
             align);
  }
  const Rect clip = clipMarkRect();
  fillRect(cairo, clip, view.clipped ? Warning : ControlFace);
  drawText(cairo, clip.x + clip.width / 2, middleOf(clip), "clip", SmallText,
           view.clipped ? Text : DimText, Align::Centre);
}

// A refused preset's or a failed save's words, over what lies below until the next click.
void drawMessage(cairo_t* cairo, const WindowView& view) {
  if (view.message.empty()) return;
  const Rect box = messageRect();
  fillRect(cairo, box, Colour{0.10, 0.05, 0.05, 0.95});
  const Rect text{box.x + TextInset, box.y, box.width - 2 * TextInset, box.height};
  drawClippedText(cairo, text, view.message, SmallText, Warning, Align::Right);
}

void drawHeader(cairo_t* cairo, const WindowView& view) {
  drawText(cairo, 16.0, 24.0, "Quillfern", TitleText, Text, Align::Left, true);
  drawText(cairo, 122.0, 25.0, "a neuron played as an instrument", NormalText, DimText);
  drawMeter(cairo, view);
  drawButton(cairo, presetStepRect(-1), "\u25C0", hovers(view, TargetKind::PresetPrevious));
  drawButton(cairo, presetStepRect(1), "\u25B6", hovers(view, TargetKind::PresetNext));
  drawButton(cairo, saveButtonRect(), "Save as\u2026",
             hovers(view, TargetKind::SavePreset) || (view.entry.presetName && view.entry.open));
  const Rect button = presetButtonRect();
  if (view.entry.open && view.entry.presetName) {
    drawEntry(cairo, button, view.entry);
    return;
  }
  fillRect(
      cairo, button,
      hovers(view, TargetKind::PresetButton) || view.presetMenuOpen ? ControlHover : ControlFace);
  const Rect name{button.x + TextInset, button.y, button.width - 2 * TextInset - 14.0,
                  button.height};
  drawClippedText(cairo, name, presetShownName(view), NormalText, Text);
  drawText(cairo, button.x + button.width - TextInset, middleOf(button), "\u25BE", NormalText, Text,
           Align::Right);
}

void drawPresetMenu(cairo_t* cairo, const WindowView& view) {
  if (!view.presetMenuOpen) return;
  for (std::size_t preset = 0; preset < view.presets.size(); ++preset) {
    const Rect item = presetItemRect(preset);
    const GuiPreset& shown = view.presets[preset];
    const bool user = preset >= guiFactoryPresetCount();
    setColour(cairo, hovers(view, TargetKind::PresetItem, preset) ? ControlHover
                     : user                                       ? Panel
                                                                  : Background);
    cairo_rectangle(cairo, item.x, item.y, item.width, item.height);
    cairo_fill_preserve(cairo);
    setColour(cairo, ControlHover);
    cairo_set_line_width(cairo, 1.0);
    cairo_stroke(cairo);
    const Rect text{item.x + TextInset, item.y, item.width - 2 * TextInset, item.height};
    const bool broken = !shown.problem.empty();
    drawClippedText(cairo, text, broken ? shown.name + " (not a preset)" : shown.name, NormalText,
                    broken ? DimText : Text);
  }
}

void drawGroups(cairo_t* cairo) {
  for (std::size_t group = 0; group < ControlGroupCount; ++group) {
    const Rect box = groupRect(group);
    fillRect(cairo, box, Panel);
    drawText(cairo, box.x + TextInset, box.y + 12.0,
             controlGroupTitle(static_cast<ControlGroup>(group)), SmallText, DimText, Align::Left,
             true);
  }
}

void drawEntry(cairo_t* cairo, const Rect& rect, const TextEntry& entry) {
  fillRect(cairo, rect, EntryFace);
  if (entry.refused) {
    setColour(cairo, Warning);
    cairo_set_line_width(cairo, 2.0);
    roundedRect(cairo, rect, CornerRadius);
    cairo_stroke(cairo);
  }
  const char* hint = entry.presetName ? "Enter saves" : entry.refused ? "not a value" : "Enter";
  const double hintWidth = textWidth(cairo, hint, SmallText) + TextInset;
  const std::string shown = entry.text + (entry.untouched ? "" : "|");
  drawClippedText(cairo,
                  {rect.x + TextInset, rect.y, rect.width - 2 * TextInset - hintWidth, rect.height},
                  shown, NormalText, EntryText);
  drawText(cairo, rect.x + rect.width - TextInset, middleOf(rect), hint, SmallText,
           entry.refused ? Warning : Colour{0.4, 0.4, 0.45}, Align::Right);
}

// Each of a few named values side by side, the one in force lit, in the one font of every
// control of named values.
void drawSegments(cairo_t* cairo, std::size_t parameter, double value) {
  const std::size_t count = segmentCount(parameter);
  const auto placeOf = [count](std::size_t segment) {
    return static_cast<double>(segment) / static_cast<double>(count - 1);
  };
  const double inForce = guiNormalizedOf(parameter, value);
  for (std::size_t segment = 0; segment < count; ++segment) {
    char name[32];
    guiValueText(parameter, guiValueAt(parameter, placeOf(segment)), name, sizeof name);
    const Rect part = segmentRect(parameter, segment);
    const bool lit = std::fabs(placeOf(segment) - inForce) < 0.5 / static_cast<double>(count - 1);
    fillRect(cairo, part, lit ? AccentDim : ControlFace);
    drawText(cairo, part.x + part.width / 2, middleOf(part), name, ChoiceText, lit ? Text : DimText,
             Align::Centre);
  }
}

// The value between its arrows, each dim at its end of the range.
void drawStepper(cairo_t* cairo, std::size_t parameter, double value) {
  const double place = guiNormalizedOf(parameter, value);
  for (const int direction : {-1, 1}) {
    const Rect arrow = stepperArrowRect(parameter, direction);
    const bool atEnd = direction < 0 ? place <= 0.0 : place >= 1.0;
    fillRect(cairo, arrow, ControlHover);
    drawText(cairo, arrow.x + arrow.width / 2, middleOf(arrow), direction < 0 ? "\u25C0" : "\u25B6",
             SmallText, atEnd ? DimText : Text, Align::Centre);
  }
  char text[32];
  guiValueText(parameter, value, text, sizeof text);
  const Rect left = stepperArrowRect(parameter, -1);
  const Rect right = stepperArrowRect(parameter, 1);
  drawText(cairo, (left.x + left.width + right.x) / 2, middleOf(left), text, ChoiceText, Text,
           Align::Centre);
}

// The value's fill lies under the text, and its edge is marked below the text's lowest ink, so
// that no mark crosses a letter.
void drawValueFill(cairo_t* cairo, const Rect& rect, double filled) {
  if (filled <= 0.5) return;
  cairo_save(cairo);
  roundedRect(cairo, rect, CornerRadius);
  cairo_clip(cairo);
  setColour(cairo, AccentDim);
  cairo_rectangle(cairo, rect.x, rect.y, filled, rect.height);
  cairo_fill(cairo);
  setColour(cairo, Accent);
  cairo_rectangle(cairo, rect.x, rect.y + rect.height - MarkHeight, filled, MarkHeight);
  cairo_fill(cairo);
  cairo_restore(cairo);
}

void drawControl(cairo_t* cairo, const WindowView& view, std::size_t parameter) {
  const Rect rect = controlRect(parameter);
  if (view.entry.open && !view.entry.presetName && view.entry.parameter == parameter) {
    drawEntry(cairo, rect, view.entry);
    return;
  }
  const bool active = (view.dragging && view.dragged == parameter) ||
                      (view.hovered.kind == TargetKind::Control && view.hovered.index == parameter);
  fillRect(cairo, rect, active ? ControlHover : ControlFace);
  const double value = view.values[parameter];
  const double left = rect.x + TextInset;
  if (segmentCount(parameter) > 0 || isStepper(parameter)) {
    drawText(cairo, left, middleOf(rect), guiParameterName(parameter), NormalText, Text);
    (isStepper(parameter) ? drawStepper : drawSegments)(cairo, parameter, value);
    return;
  }
  drawValueFill(cairo, rect, guiNormalizedOf(parameter, value) * rect.width);
  drawText(cairo, left, middleOf(rect), guiParameterName(parameter), NormalText, Text);
  char text[64];
  guiValueText(parameter, value, text, sizeof text);
  drawText(cairo, rect.x + rect.width - TextInset, middleOf(rect), text, NormalText, Text,
           Align::Right);
}

// One octave of keys, the one held lit, and the octave between its buttons.
void drawKeyboard(cairo_t* cairo, const WindowView& view) {
  const Rect strip = keyboardRect();
  fillRect(cairo, strip, Panel);
  drawText(cairo, strip.x + TextInset, strip.y + 12.0, "Keys", SmallText, DimText, Align::Left,
           true);
  drawButton(cairo, octaveButtonRect(-1), "\u25C0", hovers(view, TargetKind::OctaveDown));
  drawButton(cairo, octaveButtonRect(1), "\u25B6", hovers(view, TargetKind::OctaveUp));
  const Rect down = octaveButtonRect(-1);
  const Rect up = octaveButtonRect(1);
  char octave[8];
  std::snprintf(octave, sizeof octave, "C%d", view.octave);
  drawText(cairo, (down.x + down.width + up.x) / 2, middleOf(down), octave, ChoiceText, Text,
           Align::Centre);
  const int32_t held = view.keyDown - 12 * (view.octave + 1);
  for (const bool black : {false, true}) {
    for (int32_t semitone = 0; semitone < 12; ++semitone) {
      if (isBlackKey(semitone) != black) continue;
      const Rect key = keyRect(semitone);
      setColour(cairo, semitone == held ? Accent : black ? Background : Text);
      cairo_rectangle(cairo, key.x + 0.5, key.y, key.width - 1.0, key.height);
      cairo_fill(cairo);
    }
  }
}

// What the control under the pointer does to the sound, on a line below it.
void drawHint(cairo_t* cairo, const WindowView& view) {
  if (view.hovered.kind != TargetKind::Control || view.dragging) return;
  const char* hint = guiParameterHint(view.hovered.index);
  if (*hint == '\0') return;
  const Rect control = controlRect(view.hovered.index);
  const Rect box{control.x, control.y + control.height + 2.0,
                 textWidth(cairo, hint, SmallText) + 2 * TextInset, 20.0};
  fillRect(cairo, box, Colour{0.05, 0.06, 0.07, 0.95});
  drawText(cairo, box.x + TextInset, middleOf(box), hint, SmallText, Text);
}

// Where the plot of a panel goes, inside its labels.
Rect plotArea(const Rect& panel, double top) {
  return {panel.x + 38.0, panel.y + top, panel.width - 48.0, panel.height - top - 24.0};
}

// Grid lines 1, 2, 5, 10, 20, ... apart: no more than MostGridLines of them.
double gridStep(double span) {
  constexpr double MostGridLines = 7.0;
  double step = 1.0;
  for (int decade = 0; span / step > MostGridLines; ++decade) {
    step = std::pow(10.0, decade / 3) * (decade % 3 == 0 ? 1.0 : decade % 3 == 1 ? 2.0 : 5.0);
  }
  return step;
}

double placeIn(const AxisRange& range, double value) {
  return (value - range.low) / (range.high - range.low);
}

// Lines across the plot at round values of the range, labelled, and the axis's name at its
// middle (vertical) or right end.
void drawGrid(cairo_t* cairo, const Rect& plot, const AxisRange& range, bool vertical,
              const char* axis) {
  cairo_set_line_width(cairo, 1.0);
  const double step = gridStep(range.high - range.low);
  for (int line = static_cast<int>(std::ceil(range.low / step)); line * step <= range.high;
       ++line) {
    const double level = line * step;
    const double at = placeIn(range, level);
    char label[16];
    std::snprintf(label, sizeof label, "%g", level);
    setColour(cairo, Grid);
    if (vertical) {
      const double y = plot.y + plot.height * (1.0 - at);
      cairo_move_to(cairo, plot.x, y);
      cairo_line_to(cairo, plot.x + plot.width, y);
      cairo_stroke(cairo);
      drawText(cairo, plot.x - 6.0, y, label, SmallText, DimText, Align::Right);
    } else {
      const double x = plot.x + plot.width * at;
      cairo_move_to(cairo, x, plot.y);
      cairo_line_to(cairo, x, plot.y + plot.height);
      cairo_stroke(cairo);
      drawText(cairo, x, plot.y + plot.height + 12.0, label, SmallText, DimText, Align::Centre);
    }
  }
  if (vertical) {
    drawText(cairo, plot.x - 28.0, plot.y + plot.height / 2, axis, SmallText, Text, Align::Right,
             true);
  } else {
    drawText(cairo, plot.x + plot.width + 6.0, plot.y + plot.height + 12.0, axis, SmallText, Text,
             Align::Left, true);
  }
}

// x against time, the newest point at the right edge (a stretch not known yet stays empty on
// the left): a line through the points, or each pixel column's lowest to highest point where
// more points than columns share the width.
void drawTrace(cairo_t* cairo, const Rect& plot, std::span<const float> x, std::size_t slots,
               double columns) {
  const auto yOf = [&](float value) {
    return plot.y + plot.height * (1.0 - placeIn(XRange, value));
  };
  const std::size_t offset = slots - x.size();
  const double perColumn = static_cast<double>(slots) / columns;
  const bool joinPoints = perColumn <= 2.0;
  setColour(cairo, ScopeLine);
  cairo_set_line_width(cairo, 1.2);
  cairo_set_line_join(cairo, CAIRO_LINE_JOIN_ROUND);
  bool drawing = false;
  float low = INFINITY;
  float high = -INFINITY;
  for (std::size_t point = 0; point < x.size(); ++point) {
    const auto slot = static_cast<double>(offset + point);
    if (!playable(x[point])) {
      drawing = false;
      continue;
    }
    if (joinPoints) {
      const double at = plot.x + plot.width * slot / static_cast<double>(slots - 1);
      (drawing ? cairo_line_to : cairo_move_to)(cairo, at, yOf(x[point]));
      drawing = true;
      continue;
    }
    low = std::min(low, x[point]);
    high = std::max(high, x[point]);
    const double column = std::floor(slot / perColumn);
    const bool columnEnds = point + 1 == x.size() || std::floor((slot + 1.0) / perColumn) != column;
    if (!columnEnds) continue;
    const double at = plot.x + plot.width * (column + 0.5) / columns;
    (drawing ? cairo_line_to : cairo_move_to)(cairo, at, yOf(low));
    cairo_line_to(cairo, at, yOf(high));
    drawing = true;
    low = INFINITY;
    high = -INFINITY;
  }
  cairo_stroke(cairo);
}

void drawRunAway(cairo_t* cairo, const Rect& plot) {
  const Rect box{plot.x + plot.width / 2 - 200.0, plot.y + plot.height / 2 - 44.0, 400.0, 88.0};
  fillRect(cairo, box, Colour{0.10, 0.05, 0.05, 0.9});
  drawText(cairo, box.x + box.width / 2, box.y + 26.0, "Run away", RegimeText - 6.0, Warning,
           Align::Centre, true);
  drawText(cairo, box.x + box.width / 2, box.y + 62.0,
           "The model left its range; the voice is silent.", NormalText, Text, Align::Centre);
  drawText(cairo, box.x + box.width / 2, box.y + 78.0, "The next note resets it.", NormalText, Text,
           Align::Centre);
}

void drawScope(cairo_t* cairo, const WindowView& view, const ModelPicture& picture) {
  const Rect panel = scopeRect();
  fillRect(cairo, panel, Panel);
  const double seconds = TimeScales[view.timeScale];
  char duration[16];
  durationText(seconds, duration, sizeof duration);
  char title[48];
  std::snprintf(title, sizeof title, "x over the last %s", duration);
  drawText(cairo, panel.x + TextInset, panel.y + 17.0, title, SmallText, DimText, Align::Left,
           true);
  for (std::size_t scale = 0; scale < TimeScales.size(); ++scale) {
    const Rect button = timeScaleRect(scale);
    const bool hovered = view.hovered.kind == TargetKind::TimeScale && view.hovered.index == scale;
    fillRect(cairo, button,
             scale == view.timeScale ? AccentDim
             : hovered               ? ControlHover
                                     : ControlFace);
    char label[16];
    durationText(TimeScales[scale], label, sizeof label);
    drawText(cairo, button.x + button.width / 2, middleOf(button), label, SmallText, Text,
             Align::Centre);
  }
  const Rect plot = plotArea(panel, 36.0);
  drawGrid(cairo, plot, XRange, true, "x");
  const double rate = view.history.pointRate;
  const auto slots = static_cast<std::size_t>(std::max(2.0, std::round(seconds * rate)));
  const std::span<const float> shown = lastSeconds(picture.x, seconds, rate);
  cairo_save(cairo);
  cairo_rectangle(cairo, plot.x, plot.y, plot.width, plot.height);
  cairo_clip(cairo);
  double columnsX = plot.width;
  double columnsY = 0.0;
  cairo_user_to_device_distance(cairo, &columnsX, &columnsY);
  drawTrace(cairo, plot, shown, std::max(slots, shown.size()), std::max(columnsX, 1.0));
  cairo_restore(cairo);
  char ago[24];
  std::snprintf(ago, sizeof ago, "%s ago", duration);
  drawText(cairo, plot.x, plot.y + plot.height + 12.0, ago, SmallText, DimText);
  drawText(cairo, plot.x + plot.width, plot.y + plot.height + 12.0, "now", SmallText, DimText,
           Align::Right);
  if (picture.regime.regime == ModelRegime::RunAway) drawRunAway(cairo, plot);
}

void drawPhasePortrait(cairo_t* cairo, const WindowView& view, const ModelPicture& picture) {
  const Rect panel = phaseRect();
  fillRect(cairo, panel, Panel);
  drawText(cairo, panel.x + TextInset, panel.y + 17.0, "x against z, the last second", SmallText,
           DimText, Align::Left, true);
  const Rect plot = plotArea(panel, 30.0);
  drawGrid(cairo, plot, XRange, false, "x");
  drawGrid(cairo, plot, ZRange, true, "z");
  const double rate = view.history.pointRate;
  const std::span<const float> x = lastSeconds(picture.x, PhasePortraitSeconds, rate);
  const std::span<const float> z = lastSeconds(picture.z, PhasePortraitSeconds, rate);
  const auto at = [&](std::size_t point) {
    return std::pair{plot.x + plot.width * placeIn(XRange, x[point]),
                     plot.y + plot.height * (1.0 - placeIn(ZRange, z[point]))};
  };
  cairo_save(cairo);
  cairo_rectangle(cairo, plot.x, plot.y, plot.width, plot.height);
  cairo_clip(cairo);
  setColour(cairo, PhaseLine);
  cairo_set_line_width(cairo, 1.0);
  const std::size_t step = std::max<std::size_t>(1, x.size() / MostPhasePoints);
  bool drawing = false;
  for (std::size_t point = 0; point < x.size(); point += step) {
    if (!playable(x[point]) || !playable(z[point])) {
      drawing = false;
      continue;
    }
    const auto [px, py] = at(point);
    (drawing ? cairo_line_to : cairo_move_to)(cairo, px, py);
    drawing = true;
  }
  cairo_stroke(cairo);
  if (!x.empty() && playable(x.back()) && playable(z.back())) {
    const auto [px, py] = at(x.size() - 1);
    setColour(cairo, Text);
    cairo_arc(cairo, px, py, 3.0, 0, 2 * M_PI);
    cairo_fill(cairo);
  }
  cairo_restore(cairo);
}

Colour regimeColour(ModelRegime regime) {
  switch (regime) {
    case ModelRegime::Silent:
      return DimText;
    case ModelRegime::Spiking:
      return ScopeLine;
    case ModelRegime::Bursting:
      return Accent;
    case ModelRegime::Chaotic:
      return PhaseLine;
    case ModelRegime::RunAway:
      return Warning;
  }
  return Text;
}

// The newest note's regime with the pitch it sounds beside it, and how many voices sound.
void drawRegime(cairo_t* cairo, const WindowView& view, const RegimeReading& reading) {
  const Rect panel = regimeRect();
  fillRect(cairo, panel, Panel);
  const double left = panel.x + TextInset;
  const double right = panel.x + panel.width - TextInset;
  drawText(cairo, left, panel.y + 17.0, view.voices > 1 ? "The newest note is" : "The neuron is",
           SmallText, DimText, Align::Left, true);
  if (view.voices > 0) {
    char voices[24];
    std::snprintf(voices, sizeof voices, view.voices == 1 ? "%d voice" : "%d voices", view.voices);
    drawText(cairo, right, panel.y + 17.0, voices, SmallText, DimText, Align::Right, true);
  }
  if (reading.settling) {
    drawText(cairo, left, panel.y + 62.0, "settling\u2026", RegimeText, DimText, Align::Left, true);
    drawText(cairo, left, panel.y + 110.0, "its note's first cycles", NormalText, DimText);
    return;
  }
  drawText(cairo, left, panel.y + 62.0, regimeName(reading.regime), RegimeText,
           regimeColour(reading.regime), Align::Left, true);
  drawText(cairo, right, panel.y + 62.0, pitchName(reading.frequency).c_str(), TitleText, Text,
           Align::Right, true);
  if (reading.regime == ModelRegime::RunAway) {
    drawText(cairo, left, panel.y + 110.0, "Its voice fell silent.", NormalText, Text);
    drawText(cairo, left, panel.y + 130.0, "The next note resets it.", NormalText, Text);
    return;
  }
  if (!(reading.seconds >= LeastSettledSeconds)) return;  // no note yet
  char line[96];
  std::snprintf(line, sizeof line, "%d spikes in %.1f s of its held sound", reading.spikes.spikes,
                reading.seconds);
  drawText(cairo, left, panel.y + 110.0, line, NormalText, Text);
  if (reading.regime == ModelRegime::Bursting || reading.regime == ModelRegime::Chaotic) {
    std::snprintf(line, sizeof line, "%d whole bursts, %s", reading.spikes.bursts,
                  reading.spikes.burstsAlike ? "all alike" : "each different");
    drawText(cairo, left, panel.y + 130.0, line, NormalText, Text);
  }
}

}  // namespace

void drawWindow(cairo_t* cairo, const WindowView& view) {
  cairo_save(cairo);
  const double scale = viewScale(view);
  setColour(cairo, Background);
  cairo_paint(cairo);
  cairo_scale(cairo, scale, scale);
  const ModelPicture picture = pictureOf(view);
  drawHeader(cairo, view);
  drawGroups(cairo);
  for (std::size_t parameter = 0; parameter < guiParameterCount(); ++parameter) {
    drawControl(cairo, view, parameter);
  }
  drawScope(cairo, view, picture);
  drawPhasePortrait(cairo, view, picture);
  drawRegime(cairo, view, picture.regime);
  drawKeyboard(cairo, view);
  drawHint(cairo, view);
  drawPresetMenu(cairo, view);
  drawMessage(cairo, view);
  cairo_restore(cairo);
}

cairo_surface_t* renderWindowImage(const WindowView& view) {
  cairo_surface_t* surface =
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(std::lround(view.width)),
                                 static_cast<int>(std::lround(view.height)));
  cairo_t* cairo = cairo_create(surface);
  drawWindow(cairo, view);
  cairo_destroy(cairo);
  cairo_surface_flush(surface);
  return surface;
}
