// SPDX-License-Identifier: GPL-3.0-or-later
#include "plugins/gui/window_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "instrument/parameters.h"
#include "plugins/gui/gui_parameters.h"

namespace {

constexpr double Margin = 16.0;
constexpr double TopOfGroups = 52.0;
constexpr double BottomOfGroups = BaseHeight - Margin;
constexpr double ColumnWidth = 290.0;
constexpr std::size_t ControlColumns = 2;
constexpr double GroupTitleHeight = 22.0;
constexpr double GroupPadding = 8.0;
constexpr double GroupGap = 10.0;
constexpr double LargestRowPitch = 34.0;
constexpr double SmallestRowPitch = 20.0;
constexpr double RowGapFraction = 0.18;  // of the pitch, between two controls
constexpr double RightColumnX = Margin + ControlColumns * (ColumnWidth + Margin);
constexpr double RightColumnWidth = BaseWidth - RightColumnX - Margin;
constexpr double ScopeHeight = 262.0;
constexpr double ButtonWidth = 52.0;
constexpr double ButtonHeight = 22.0;
constexpr double MenuWidth = 200.0;
constexpr double MenuItemHeight = 22.0;
constexpr double HeaderTop = 10.0;
constexpr double HeaderButtonHeight = 28.0;
constexpr double StepWidth = 28.0;
constexpr double SaveWidth = 84.0;
constexpr double HeaderGap = 4.0;
constexpr double MessageWidth = 600.0;
constexpr double MeterLeft = 360.0;  // right of the title
constexpr double MeterWidth = 280.0;
constexpr double ClipMarkWidth = 40.0;
constexpr double SegmentLabelWidth = 96.0;  // a control of named values: its name's share
constexpr int32_t MostSegments = 3;         // values side by side; a control of more has a slider
constexpr double StepperArrowWidth = 26.0;
constexpr double KeyboardHeight = 84.0;
constexpr double OctaveButtonWidth = 22.0;
constexpr double OctaveLabelWidth = 40.0;
constexpr double StepperValueWidth = 64.0;

constexpr uint32_t DoubleClickMilliseconds = 400;
// Whole cycles the read-out waits for: a spiking note's spikes, a bursting one's bursts (as
// many as measureSpikes judges alike, and one more), and how long a note stays quiet before
// it is called silent.
constexpr int32_t SettledSpikes = 8;
constexpr int32_t SettledBursts = 5;
constexpr double SettledSilenceSeconds = 0.5;
constexpr double FineDragFactor = 0.1;
constexpr double WheelFraction = 0.01;  // of the range, per notch
constexpr double FineWheelFraction = 0.001;

std::size_t groupOf(std::size_t parameter) {
  return static_cast<std::size_t>(guiParameterGroup(parameter));
}

double rowsInGroup(std::size_t group) {
  double rows = 0;
  for (std::size_t index = 0; index < guiParameterCount(); ++index) rows += groupOf(index) == group;
  return rows;
}

double groupHeight(std::size_t group, double pitch) {
  return GroupTitleHeight + GroupPadding + rowsInGroup(group) * pitch;
}

// The first column's groups stand over the keyboard strip.
double columnBottom(std::size_t column) {
  return column == 0 ? BottomOfGroups - KeyboardHeight - GroupGap : BottomOfGroups;
}

// The groups fill the control columns in order, each whole in one column; a group that does
// not fit below the one before starts the next column.
struct GroupPlace {
  std::size_t column = 0;
  double top = TopOfGroups;
};

std::array<GroupPlace, ControlGroupCount> placeGroups(double pitch) {
  std::array<GroupPlace, ControlGroupCount> places{};
  GroupPlace next;
  for (std::size_t group = 0; group < ControlGroupCount; ++group) {
    if (next.top > TopOfGroups &&
        next.top + groupHeight(group, pitch) > columnBottom(next.column)) {
      next = {next.column + 1, TopOfGroups};
    }
    places[group] = next;
    next.top += groupHeight(group, pitch) + GroupGap;
  }
  return places;
}

bool fits(const std::array<GroupPlace, ControlGroupCount>& places, double pitch) {
  for (std::size_t group = 0; group < ControlGroupCount; ++group) {
    if (places[group].column >= ControlColumns ||
        places[group].top + groupHeight(group, pitch) > columnBottom(places[group].column)) {
      return false;
    }
  }
  return true;
}

// The controls' pitch: as roomy as lets every group fit, closer with more parameters.
struct ControlLayout {
  double pitch = LargestRowPitch;
  std::array<GroupPlace, ControlGroupCount> places{};
};

ControlLayout makeControlLayout() {
  for (ControlLayout layout;; layout.pitch -= 1.0) {
    layout.places = placeGroups(layout.pitch);
    if (fits(layout.places, layout.pitch) || layout.pitch <= SmallestRowPitch) return layout;
  }
}

const ControlLayout& controlLayout() {
  static const ControlLayout layout = makeControlLayout();
  return layout;
}

double columnX(std::size_t column) {
  return Margin + static_cast<double>(column) * (ColumnWidth + Margin);
}

double normalizedOf(const WindowView& view, std::size_t parameter) {
  return guiNormalizedOf(parameter, view.values[parameter]);
}

void setFromWindow(WindowView& view, const GuiHost& host, std::size_t parameter, double value) {
  view.values[parameter] = value;
  host.setValue(host.context, parameter, value);
  view.dirty = true;
}

// A change complete in itself (a click, a wheel notch, a typed value): a gesture of its own.
void changeOnce(WindowView& view, const GuiHost& host, std::size_t parameter, double value) {
  host.beginGesture(host.context, parameter);
  setFromWindow(view, host, parameter, value);
  host.endGesture(host.context, parameter);
}

// The sound is the preset's, as far as a host's 32-bit value can tell.
bool soundIsPreset(const WindowView& view, const GuiPreset& preset) {
  if (preset.name.empty() || !preset.problem.empty()) return false;
  for (std::size_t index = 0; index < view.values.size() && index < preset.values.size(); ++index) {
    const double value = preset.values[index];
    if (!std::isnan(value) && static_cast<float>(value) != static_cast<float>(view.values[index])) {
      return false;
    }
  }
  return true;
}

// A sound that is one of the menu's presets (one the host loaded) shows that preset's name.
void recognisePreset(WindowView& view) {
  if (soundIsPreset(view, view.loaded)) return;
  for (const GuiPreset& preset : view.presets) {
    if (soundIsPreset(view, preset)) {
      view.loaded = preset;
      return;
    }
  }
}

// The preset, read again if it is the user's, sets every parameter it names, or nothing at all.
void choosePreset(WindowView& view, const GuiHost& host, std::size_t index) {
  GuiPreset preset = view.presets[index];
  if (!guiReadPresetAgain(preset)) {
    view.message = "\u201C" + preset.name + "\u201D is refused: " + preset.problem;
    view.presets[index].problem = preset.problem;
    return;
  }
  view.presets[index] = preset;
  for (std::size_t parameter = 0; parameter < preset.values.size(); ++parameter) {
    if (!std::isnan(preset.values[parameter])) {
      changeOnce(view, host, parameter, preset.values[parameter]);
    }
  }
  view.loaded = preset;
}

std::size_t loadedIndex(const WindowView& view) {
  for (std::size_t index = 0; index < view.presets.size(); ++index) {
    const GuiPreset& preset = view.presets[index];
    if (preset.name == view.loaded.name && preset.path == view.loaded.path) return index;
  }
  return view.presets.size();
}

// The previous or next preset of the menu, round, past the user's files that are none.
void stepPreset(WindowView& view, const GuiHost& host, int direction) {
  const std::size_t count = view.presets.size();
  if (count == 0) return;
  std::size_t index = loadedIndex(view);
  if (index == count) index = direction > 0 ? count - 1 : 0;
  for (std::size_t tried = 0; tried < count; ++tried) {
    index = (index + count + static_cast<std::size_t>(direction > 0 ? 1 : count - 1)) % count;
    if (view.presets[index].problem.empty()) {
      choosePreset(view, host, index);
      return;
    }
  }
}

void openPresetNameEntry(WindowView& view) {
  view.presets = guiPresets();
  view.entry = {true, true, 0, guiFreePresetName(view.presets), true, false};
}

// Enter on a preset's name: the sound is saved under it and becomes the loaded preset.
void savePresetNamed(WindowView& view) {
  std::string problem;
  if (!guiSavePreset(view.entry.text, view.values, problem)) {
    view.entry.refused = true;
    view.message = "Not saved: " + problem;
    return;
  }
  view.entry.open = false;
  view.presets = guiPresets();
  for (const GuiPreset& preset : view.presets) {
    if (!preset.path.empty() && preset.name == view.entry.text) view.loaded = preset;
  }
}

void openEntry(WindowView& view, std::size_t parameter) {
  char text[64];
  guiValueText(parameter, view.values[parameter], text, sizeof text);
  view.entry = {true, false, parameter, text, true, false};
}

// Enter, or a click elsewhere: a value that reads is taken; text that does not stays, marked,
// for Enter (a click elsewhere gives it up).
void commitEntry(WindowView& view, const GuiHost& host, bool keepRefused) {
  if (view.entry.presetName) {
    if (keepRefused) {
      savePresetNamed(view);
    } else {
      view.entry.open = false;  // a click elsewhere: nothing saved
    }
    view.dirty = true;
    return;
  }
  double value = 0.0;
  if (guiValueOfText(view.entry.parameter, view.entry.text.c_str(), value)) {
    changeOnce(view, host, view.entry.parameter, value);
    view.entry.open = false;
  } else {
    view.entry.refused = true;
    view.entry.open = keepRefused;
  }
  view.dirty = true;
}

void startDrag(WindowView& view, const GuiHost& host, std::size_t parameter, double x, double y) {
  host.beginGesture(host.context, parameter);
  view.dragging = true;
  view.dragged = parameter;
  view.dragStartX = x;
  view.dragStartY = y;
  view.dragStartNormalized = normalizedOf(view, parameter);
  view.dragMoved = false;
}

// A segment takes its value; the control's name steps to the next value, round.
void pressSegment(WindowView& view, const GuiHost& host, std::size_t parameter, double x) {
  const std::size_t count = segmentCount(parameter);
  const auto current = static_cast<std::size_t>(
      std::lround(normalizedOf(view, parameter) * static_cast<double>(count - 1)));
  std::size_t chosen = (current + 1) % count;
  for (std::size_t segment = 0; segment < count; ++segment) {
    const Rect rect = segmentRect(parameter, segment);
    if (x >= rect.x && x < rect.x + rect.width) chosen = segment;
  }
  const double value =
      guiValueAt(parameter, static_cast<double>(chosen) / static_cast<double>(count - 1));
  if (value != view.values[parameter]) changeOnce(view, host, parameter, value);
}

// An arrow of a stepper takes the value before or after, stopping at the ends.
bool pressStepper(WindowView& view, const GuiHost& host, std::size_t parameter, double x,
                  double y) {
  for (const int direction : {-1, 1}) {
    if (!contains(stepperArrowRect(parameter, direction), x, y)) continue;
    const double step = 1.0 / guiParameterSteps(parameter);
    const double value = guiValueAt(parameter, normalizedOf(view, parameter) + direction * step);
    if (value != view.values[parameter]) changeOnce(view, host, parameter, value);
    return true;
  }
  return false;
}

void pressControl(WindowView& view, const GuiHost& host, const Target& target, double x, double y,
                  int button, bool doubleClick) {
  const std::size_t parameter = target.index;
  if (button == RightButton) {
    openEntry(view, parameter);
  } else if (button != LeftButton) {
    return;
  } else if (doubleClick) {
    changeOnce(view, host, parameter, guiDefaultValue(parameter));
  } else if (segmentCount(parameter) > 0) {
    pressSegment(view, host, parameter, x / viewScale(view));
  } else if (!isStepper(parameter) ||
             !pressStepper(view, host, parameter, x / viewScale(view), y / viewScale(view))) {
    startDrag(view, host, parameter, x, y);
  }
}

// A wheel notch moves a parameter of whole steps one step (or a hundredth of its range, if that
// is more), a continuous one a hundredth of its range (Shift: one step, or a thousandth).
double wheelStep(std::size_t parameter, bool fine) {
  const int32_t steps = guiParameterSteps(parameter);
  if (steps == 0) return fine ? FineWheelFraction : WheelFraction;
  const double oneStep = 1.0 / steps;
  if (fine) return oneStep;
  return std::max(oneStep, std::round(WheelFraction * steps) / steps);
}

void popCharacter(std::string& text) {
  // Drop UTF-8 continuation bytes together with their lead byte.
  while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80) {
    text.pop_back();
  }
  if (!text.empty()) text.pop_back();
}

}  // namespace

bool contains(const Rect& rect, double x, double y) {
  return x >= rect.x && x < rect.x + rect.width && y >= rect.y && y < rect.y + rect.height;
}

Rect groupRect(std::size_t group) {
  const ControlLayout& layout = controlLayout();
  const GroupPlace& place = layout.places[group];
  return {columnX(place.column), place.top, ColumnWidth, groupHeight(group, layout.pitch)};
}

Rect controlRect(std::size_t parameter) {
  const std::size_t group = groupOf(parameter);
  double row = 0;
  for (std::size_t before = 0; before < parameter; ++before) row += groupOf(before) == group;
  const ControlLayout& layout = controlLayout();
  const GroupPlace& place = layout.places[group];
  const double top = place.top + GroupTitleHeight + row * layout.pitch;
  return {columnX(place.column) + GroupPadding, top, ColumnWidth - 2 * GroupPadding,
          layout.pitch * (1.0 - RowGapFraction)};
}

std::size_t segmentCount(std::size_t parameter) {
  const int32_t steps = guiParameterSteps(parameter);
  return steps > 0 && steps + 1 <= MostSegments ? static_cast<std::size_t>(steps) + 1 : 0;
}

Rect segmentRect(std::size_t parameter, std::size_t segment) {
  const Rect control = controlRect(parameter);
  const double width =
      (control.width - SegmentLabelWidth) / static_cast<double>(segmentCount(parameter));
  return {control.x + SegmentLabelWidth + static_cast<double>(segment) * width, control.y + 3.0,
          width - 3.0, control.height - 6.0};
}

bool isStepper(std::size_t parameter) {
  return guiParameterSteps(parameter) > 0 && segmentCount(parameter) == 0;
}

Rect stepperArrowRect(std::size_t parameter, int direction) {
  const Rect control = controlRect(parameter);
  const double right = control.x + control.width - 3.0 - StepperArrowWidth;
  const double x = direction > 0 ? right : right - StepperValueWidth - StepperArrowWidth;
  return {x, control.y + 3.0, StepperArrowWidth, control.height - 6.0};
}

Rect keyboardRect() {
  return {columnX(0), BottomOfGroups - KeyboardHeight, ColumnWidth, KeyboardHeight};
}

Rect octaveButtonRect(int direction) {
  const Rect strip = keyboardRect();
  const double right = strip.x + strip.width - GroupPadding - OctaveButtonWidth;
  const double x = direction > 0 ? right : right - OctaveLabelWidth - OctaveButtonWidth;
  return {x, strip.y + 3.0, OctaveButtonWidth, GroupTitleHeight - 4.0};
}

bool isBlackKey(int32_t semitone) {
  return semitone == 1 || semitone == 3 || semitone == 6 || semitone == 8 || semitone == 10;
}

// White keys share the width; a black key straddles the line between its two white ones.
Rect keyRect(int32_t semitone) {
  constexpr int32_t WhiteBefore[12] = {0, 1, 1, 2, 2, 3, 4, 4, 5, 5, 6, 6};
  const Rect strip = keyboardRect();
  const double left = strip.x + GroupPadding;
  const double top = strip.y + GroupTitleHeight + 2.0;
  const double white = (strip.width - 2 * GroupPadding) / 7.0;
  const double height = strip.y + strip.height - GroupPadding - top;
  const double x = left + WhiteBefore[semitone] * white;
  if (!isBlackKey(semitone)) return {x, top, white, height};
  return {x - white * 0.3, top, white * 0.6, height * 0.6};
}

Rect scopeRect() {
  return {RightColumnX, TopOfGroups, RightColumnWidth, ScopeHeight};
}

Rect timeScaleRect(std::size_t scale) {
  const double right = RightColumnX + RightColumnWidth - GroupPadding;
  const double x = right - static_cast<double>(TimeScales.size() - scale) * ButtonWidth;
  return {x, TopOfGroups + 6.0, ButtonWidth - 4.0, ButtonHeight};
}

Rect phaseRect() {
  const double top = TopOfGroups + ScopeHeight + GroupGap;
  return {RightColumnX, top, RightColumnWidth * 0.5 - GroupGap / 2, BaseHeight - Margin - top};
}

Rect regimeRect() {
  const Rect phase = phaseRect();
  return {phase.x + phase.width + GroupGap, phase.y, RightColumnWidth - phase.width - GroupGap,
          phase.height};
}

Rect saveButtonRect() {
  return {BaseWidth - Margin - SaveWidth, HeaderTop, SaveWidth, HeaderButtonHeight};
}

Rect presetStepRect(int direction) {
  const double next = saveButtonRect().x - HeaderGap - StepWidth;
  const double x = direction > 0 ? next : next - 2 * HeaderGap - MenuWidth - StepWidth;
  return {x, HeaderTop, StepWidth, HeaderButtonHeight};
}

Rect presetButtonRect() {
  const Rect previous = presetStepRect(-1);
  return {previous.x + StepWidth + HeaderGap, HeaderTop, MenuWidth, HeaderButtonHeight};
}

// Under the presets' buttons, over the scope's title, while it is there.
Rect messageRect() {
  const double right = saveButtonRect().x + SaveWidth;
  return {right - MessageWidth, HeaderTop + HeaderButtonHeight + 2.0, MessageWidth, MenuItemHeight};
}

Rect meterRect() {
  return {MeterLeft, HeaderTop + 4.0, MeterWidth, 10.0};
}

Rect clipMarkRect() {
  const Rect meter = meterRect();
  return {meter.x + meter.width + HeaderGap, HeaderTop + 2.0, ClipMarkWidth, 16.0};
}

Rect presetItemRect(std::size_t preset) {
  const double top = HeaderTop + HeaderButtonHeight + 2.0;
  const auto rows = static_cast<std::size_t>((BaseHeight - Margin - top) / MenuItemHeight);
  // Whole columns and rows: the division's remainder is the row.
  const std::size_t wholeColumns = preset / rows;
  const auto column = static_cast<double>(wholeColumns);
  const auto row = static_cast<double>(preset % rows);
  const double right = saveButtonRect().x + SaveWidth;
  return {right - (column + 1) * MenuWidth, top + row * MenuItemHeight, MenuWidth, MenuItemHeight};
}

Target targetAt(std::size_t presetsShown, double x, double y) {
  for (std::size_t preset = 0; preset < presetsShown; ++preset) {
    if (contains(presetItemRect(preset), x, y)) return {TargetKind::PresetItem, preset};
  }
  if (contains(presetButtonRect(), x, y)) return {TargetKind::PresetButton, 0};
  if (contains(presetStepRect(-1), x, y)) return {TargetKind::PresetPrevious, 0};
  if (contains(presetStepRect(1), x, y)) return {TargetKind::PresetNext, 0};
  if (contains(saveButtonRect(), x, y)) return {TargetKind::SavePreset, 0};
  if (contains(clipMarkRect(), x, y)) return {TargetKind::ClipMark, 0};
  if (contains(octaveButtonRect(-1), x, y)) return {TargetKind::OctaveDown, 0};
  if (contains(octaveButtonRect(1), x, y)) return {TargetKind::OctaveUp, 0};
  for (const bool black : {true, false}) {
    for (int32_t semitone = 0; semitone < 12; ++semitone) {
      if (isBlackKey(semitone) == black && contains(keyRect(semitone), x, y)) {
        return {TargetKind::Key, static_cast<std::size_t>(semitone)};
      }
    }
  }
  for (std::size_t index = 0; index < guiParameterCount(); ++index) {
    if (contains(controlRect(index), x, y)) return {TargetKind::Control, index};
  }
  for (std::size_t scale = 0; scale < TimeScales.size(); ++scale) {
    if (contains(timeScaleRect(scale), x, y)) return {TargetKind::TimeScale, scale};
  }
  return {};
}

WindowView makeWindowView() {
  WindowView view;
  for (std::size_t index = 0; index < guiParameterCount(); ++index) {
    view.values.push_back(guiDefaultValue(index));
  }
  view.presets = guiPresets();
  recognisePreset(view);
  return view;
}

void resizeView(WindowView& view, double width, double height) {
  view.width = width;
  view.height = height;
  view.dirty = true;
}

double viewScale(const WindowView& view) {
  return std::min(view.width / BaseWidth, view.height / BaseHeight);
}

void followHostValue(WindowView& view, std::size_t parameter, double value) {
  if (parameter >= view.values.size() || view.values[parameter] == value) return;
  if (view.dragging && view.dragged == parameter) return;
  view.values[parameter] = value;
  view.dirty = true;
  recognisePreset(view);
}

void followLevel(WindowView& view, float peak, uint32_t notePoints, int32_t voices) {
  // A host's message may say anything: a peak that is no level shows as silence.
  const float level = peak >= 0.0f ? std::min(peak, 1000.0f) : 0.0f;
  voices = std::clamp(voices, 0, MostVoices);
  if (level == view.peak && notePoints == view.notePoints && voices == view.voices) return;
  view.peak = level;
  view.clipped = view.clipped || level > ClipLevel;
  view.notePoints = notePoints;
  view.voices = voices;
  view.dirty = true;
}

double settledAfterSeconds(std::span<const double> values) {
  return std::max(guiAttackSeconds(values), OpeningSeconds);
}

RegimeReading readRegime(const WindowView& view, std::span<const float> x) {
  RegimeReading reading;
  const double rate = view.history.pointRate;
  if (x.empty() || !(rate > 0.0)) return reading;
  if (!(std::fabs(x.back()) <= RunAwayLevel)) return {false, ModelRegime::RunAway, {}, 0.0};
  const double settled =
      std::min(static_cast<double>(view.notePoints) - settledAfterSeconds(view.values) * rate,
               static_cast<double>(x.size()));
  reading.settling = true;
  if (!(settled >= LeastSettledSeconds * rate)) return reading;  // an attack that is no number too
  const std::span<const float> stretch = x.last(static_cast<std::size_t>(settled));
  reading.regime = regimeOf(stretch);
  reading.spikes = measureSpikes(stretch);
  reading.seconds = static_cast<double>(stretch.size()) / rate;
  switch (reading.regime) {
    case ModelRegime::Silent:
      reading.settling = reading.seconds < SettledSilenceSeconds;
      break;
    case ModelRegime::Spiking:
      reading.settling = reading.spikes.spikes < SettledSpikes;
      break;
    case ModelRegime::Bursting:
    case ModelRegime::Chaotic:
      reading.settling = reading.spikes.bursts < SettledBursts;
      break;
    case ModelRegime::RunAway:
      reading.settling = false;
      break;
  }
  const double cycle = heardCyclePoints(reading.regime, reading.spikes);
  if (cycle > 0.0) reading.frequency = rate / cycle;
  return reading;
}

std::string pitchName(double frequency) {
  constexpr std::array<const char*, 12> Names{"C", "C\u266F", "D", "D\u266F", "E", "F", "F\u266F",
                                              "G", "G\u266F", "A", "A\u266F", "B"};
  const double key = 69.0 + 12.0 * std::log2(frequency / 440.0);
  if (!(key > -1000.0 && key < 1000.0)) return {};
  const double nearest = std::round(key);
  const auto cents = static_cast<int32_t>(std::lround(100.0 * (key - nearest)));
  const auto note = static_cast<int32_t>(nearest);
  const int32_t semitone = ((note % 12) + 12) % 12;
  char text[48];
  std::snprintf(text, sizeof text, "%s%d %s%d \u00A2", Names[static_cast<std::size_t>(semitone)],
                (note - semitone) / 12 - 1,
                cents < 0   ? "\u2212"
                : cents > 0 ? "+"
                            : "",
                std::abs(cents));
  return text;
}

bool presetChanged(const WindowView& view) {
  return !view.loaded.name.empty() && !soundIsPreset(view, view.loaded);
}

std::string presetShownName(const WindowView& view) {
  if (view.loaded.name.empty()) return "No preset";
  return presetChanged(view) ? view.loaded.name + " *" : view.loaded.name;
}

// What the preset menu and the header's buttons do; true for a press they took.
bool pressPresets(WindowView& view, const GuiHost& host, const Target& target) {
  if (view.presetMenuOpen) {
    view.presetMenuOpen = false;
    if (target.kind == TargetKind::PresetItem) choosePreset(view, host, target.index);
    return true;
  }
  switch (target.kind) {
    case TargetKind::PresetButton:
      view.presets = guiPresets();
      view.presetMenuOpen = true;
      return true;
    case TargetKind::PresetPrevious:
    case TargetKind::PresetNext:
      stepPreset(view, host, target.kind == TargetKind::PresetNext ? 1 : -1);
      return true;
    case TargetKind::SavePreset:
      openPresetNameEntry(view);
      return true;
    case TargetKind::ClipMark:
      view.clipped = false;
      return true;
    case TargetKind::OctaveDown:
    case TargetKind::OctaveUp:
      view.octave = std::clamp(view.octave + (target.kind == TargetKind::OctaveUp ? 1 : -1),
                               LowestOctave, HighestOctave);
      return true;
    case TargetKind::Key:
      releaseKeyboard(view, host);
      view.keyDown = 12 * (view.octave + 1) + static_cast<int32_t>(target.index);
      if (host.playKey != nullptr) host.playKey(host.context, view.keyDown, true);
      return true;
    default:
      return false;
  }
}

void pointerPressed(WindowView& view, const GuiHost& host, double x, double y, int button,
                    uint32_t time) {
  const double scale = viewScale(view);
  const Target target =
      targetAt(view.presetMenuOpen ? view.presets.size() : 0, x / scale, y / scale);
  view.dirty = true;
  view.message.clear();
  if (view.entry.open) {
    const bool onEntry = view.entry.presetName ? target.kind == TargetKind::PresetButton
                                               : target.kind == TargetKind::Control &&
                                                     target.index == view.entry.parameter;
    if (onEntry) return;
    commitEntry(view, host, false);
  }
  if (pressPresets(view, host, target)) return;
  const bool doubleClick = !view.lastPressWasDouble && target.kind == view.lastPress.kind &&
                           target.index == view.lastPress.index &&
                           time - view.lastPressTime < DoubleClickMilliseconds;
  view.lastPress = target;
  view.lastPressTime = time;
  view.lastPressWasDouble = doubleClick;
  if (target.kind == TargetKind::Control) {
    pressControl(view, host, target, x, y, button, doubleClick);
  } else if (target.kind == TargetKind::TimeScale) {
    view.timeScale = target.index;
  }
}

void pointerMoved(WindowView& view, const GuiHost& host, double x, double y, unsigned modifiers) {
  const double scale = viewScale(view);
  const Target target =
      targetAt(view.presetMenuOpen ? view.presets.size() : 0, x / scale, y / scale);
  if (target.kind != view.hovered.kind || target.index != view.hovered.index) {
    view.hovered = target;
    view.dirty = true;
  }
  if (!view.dragging) return;
  const double travel = controlRect(view.dragged).width * scale;
  const double factor = (modifiers & FineModifier) != 0 ? FineDragFactor : 1.0;
  // Right or up is more; the whole width of the control is the whole range.
  const double moved = ((x - view.dragStartX) - (y - view.dragStartY)) / travel * factor;
  const double value = guiValueAt(view.dragged, view.dragStartNormalized + moved);
  // A change of the fine modifier starts the drag afresh from here, so the value never jumps.
  view.dragStartX = x;
  view.dragStartY = y;
  view.dragStartNormalized = std::clamp(view.dragStartNormalized + moved, 0.0, 1.0);
  if (value != view.values[view.dragged]) setFromWindow(view, host, view.dragged, value);
}

void releaseKeyboard(WindowView& view, const GuiHost& host) {
  if (view.keyDown < 0) return;
  if (host.playKey != nullptr) host.playKey(host.context, view.keyDown, false);
  view.keyDown = -1;
  view.dirty = true;
}

void pointerReleased(WindowView& view, const GuiHost& host) {
  releaseKeyboard(view, host);
  if (!view.dragging) return;
  view.dragging = false;
  host.endGesture(host.context, view.dragged);
  view.dirty = true;
}

void wheelTurned(WindowView& view, const GuiHost& host, double x, double y, int notches,
                 unsigned modifiers) {
  const double scale = viewScale(view);
  const Target target = targetAt(0, x / scale, y / scale);
  if (contains(scopeRect(), x / scale, y / scale)) {
    const auto last = static_cast<int>(TimeScales.size()) - 1;
    view.timeScale =
        static_cast<std::size_t>(std::clamp(static_cast<int>(view.timeScale) - notches, 0, last));
    view.dirty = true;
    return;
  }
  if (target.kind != TargetKind::Control || view.dragging) return;
  const std::size_t parameter = target.index;
  const double step = wheelStep(parameter, (modifiers & FineModifier) != 0);
  const double value = guiValueAt(parameter, normalizedOf(view, parameter) + notches * step);
  if (value != view.values[parameter]) changeOnce(view, host, parameter, value);
}

void keyPressed(WindowView& view, const GuiHost& host, EditKey key, const char* text) {
  if (!view.entry.open) return;
  TextEntry& entry = view.entry;
  view.dirty = true;
  switch (key) {
    case EditKey::Text:
      if (entry.untouched) entry.text.clear();
      entry.text += text;
      break;
    case EditKey::Backspace:
      if (entry.untouched) {
        entry.text.clear();
      } else {
        popCharacter(entry.text);
      }
      break;
    case EditKey::Enter:
      commitEntry(view, host, true);
      return;
    case EditKey::Escape:
      entry.open = false;
      return;
  }
  entry.untouched = false;
  entry.refused = false;
  view.message.clear();
}
