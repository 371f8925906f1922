// SPDX-License-Identifier: GPL-3.0-or-later
// The plugin window's state and what the player's mouse and keys do to it, apart from any
// window system: the CLAP and LV2 glue feed it events in pixels and the host's values, and
// draw it with drawWindow() (window_draw.h). The window's thread only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/model_regime.h"
#include "plugins/gui/gui_parameters.h"
#include "plugins/gui/scope_history.h"

// The window is laid out on this size and scaled as a whole, so its aspect never changes.
inline constexpr double BaseWidth = 1200.0;
inline constexpr double BaseHeight = 540.0;
inline constexpr double SmallestScale = 0.75;
inline constexpr double LargestScale = 3.0;

// The scope's time scales, in seconds: a control of the view, not of the sound.
inline constexpr std::array<double, 6> TimeScales{0.05, 0.1, 0.2, 0.5, 1.0, 2.0};
inline constexpr double PhasePortraitSeconds = 1.0;
// The regime is judged on the note's settled sound, over the history the window keeps (up to
// 2.7 s): from its attack's end on, and not before the model's own opening is over (its first
// spikes come at their own pace whatever the attack). Before this much of it is known it is
// "settling".
inline constexpr double LeastSettledSeconds = 0.3;
inline constexpr double OpeningSeconds = 0.5;

// Seconds from a note's start to its settled sound, with the controls `values`.
double settledAfterSeconds(std::span<const double> values);
inline constexpr double ClipLevel = 1.0;  // a peak above full scale clips

// How the window reaches the host: a gesture is begun, takes one or more values and is ended,
// so that a host records it as automation. Values are in the host's units.
struct GuiHost {
  void* context = nullptr;
  void (*beginGesture)(void* context, std::size_t index) = nullptr;
  void (*setValue)(void* context, std::size_t index, double value) = nullptr;
  void (*endGesture)(void* context, std::size_t index) = nullptr;
  // The keyboard strip's keys, live: a MIDI key (0 to 127) pressed or let go on the plugin's
  // channel, played as the host's notes are. Null: the strip plays nothing.
  void (*playKey)(void* context, int32_t key, bool down) = nullptr;
};

struct Rect {
  double x = 0, y = 0, width = 0, height = 0;
};

bool contains(const Rect& rect, double x, double y);

// What lies under a point of the window, in the layout's units.
enum class TargetKind {
  Nothing,
  Control,
  TimeScale,
  PresetButton,
  PresetItem,
  PresetPrevious,
  PresetNext,
  SavePreset,
  ClipMark,
  Key,  // index: the semitone from the strip's C
  OctaveDown,
  OctaveUp
};
struct Target {
  TargetKind kind = TargetKind::Nothing;
  std::size_t index = 0;
};

// Where things are, in the layout's units (BaseWidth × BaseHeight).
Rect controlRect(std::size_t parameter);
Rect groupRect(std::size_t group);  // in ControlGroup's order
// A parameter of a few named values (a switch, the note mode) shows them side by side, as
// segments of its control; the player clicks the one wanted.
std::size_t segmentCount(std::size_t parameter);  // 0 for a control of another kind
Rect segmentRect(std::size_t parameter, std::size_t segment);
// A parameter of more named values (the MIDI channel) is a stepper: arrows either side of its
// value take the one before or after.
bool isStepper(std::size_t parameter);
Rect stepperArrowRect(std::size_t parameter, int direction);  // -1 or 1
Rect scopeRect();
Rect timeScaleRect(std::size_t scale);
Rect phaseRect();
Rect regimeRect();
Rect presetButtonRect();
Rect presetStepRect(int direction);  // -1: the previous preset, 1: the next
Rect saveButtonRect();
Rect messageRect();  // a refused preset's or a failed save's words
Rect meterRect();
Rect clipMarkRect();
// The keyboard strip: one octave from C, at the foot of the first column, with the octave's
// buttons in its title row.
inline constexpr int32_t LowestOctave = 0;  // C0 is MIDI key 12
inline constexpr int32_t HighestOctave = 8;
inline constexpr int32_t KeyboardVelocity = 100;  // of 127
Rect keyboardRect();
Rect octaveButtonRect(int direction);  // -1 or 1
Rect keyRect(int32_t semitone);        // 0 to 11
bool isBlackKey(int32_t semitone);
// The menu's items in columns from the right, as many rows a column as fit below the button.
Rect presetItemRect(std::size_t preset);
// `presetsShown`: the menu's items, 0 while it is closed.
Target targetAt(std::size_t presetsShown, double x, double y);

struct TextEntry {
  bool open = false;
  bool presetName = false;  // the name of a preset to save, not a parameter's value
  std::size_t parameter = 0;
  std::string text;
  bool untouched = true;  // the first key typed replaces the value shown
  bool refused = false;   // the text last entered named no value
};

struct WindowView {
  std::vector<double> values;  // the host's value of each parameter
  ScopeHistory history;
  std::size_t timeScale = 2;  // 200 ms
  double width = BaseWidth;   // pixels
  double height = BaseHeight;
  // The pointer: the control under it, and the one being dragged with where the drag began.
  Target hovered;
  bool dragging = false;
  std::size_t dragged = 0;
  double dragStartX = 0, dragStartY = 0, dragStartNormalized = 0;
  bool dragMoved = false;
  // The latest press, to tell a double click.
  Target lastPress;
  uint32_t lastPressTime = 0;
  bool lastPressWasDouble = false;
  TextEntry entry;
  bool presetMenuOpen = false;
  std::vector<GuiPreset> presets;  // the menu's: the factory bank, then the user's
  // The preset loaded (its name empty before one is) and what it set, to tell a changed sound.
  GuiPreset loaded;
  std::string message;  // why a preset was refused or not saved; until the next click
  // The output's level: its latest peak, and whether one went over ClipLevel since the
  // player last clicked the clip mark.
  float peak = 0.0f;
  bool clipped = false;
  uint32_t notePoints = 0;  // the history's newest points that belong to the newest note
  int32_t voices = 0;       // voices sounding
  int32_t octave = 3;       // the keyboard strip's: C3 (MIDI key 48) to B3
  int32_t keyDown = -1;     // the MIDI key the pointer holds down on the strip, or -1
  bool dirty = true;        // something changed since the last drawing
};

// A view with every parameter at its default value and no points yet.
WindowView makeWindowView();

// The size in pixels, and the scale that follows.
void resizeView(WindowView& view, double width, double height);
double viewScale(const WindowView& view);

// Takes the host's value of a parameter, unless the player is dragging that very control. A
// sound that becomes a preset's (the host loaded one) shows that preset's name.
void followHostValue(WindowView& view, std::size_t parameter, double value);

// Lets go of the strip's key held, if any: before the window closes, so that no note sticks.
void releaseKeyboard(WindowView& view, const GuiHost& host);

// The plugin's newest peak, how many points its newest note has had and how many voices sound.
void followLevel(WindowView& view, float peak, uint32_t notePoints, int32_t voices);

// What the regime read-out says: "settling" until enough whole cycles of the note's settled
// sound are known, then their regime and measures over `seconds` of it. Silent, without a
// stretch, before any note.
struct RegimeReading {
  bool settling = false;
  ModelRegime regime = ModelRegime::Silent;
  SpikeMeasures spikes;
  double seconds = 0.0;
  double frequency = 0.0;  // the pitch heard, in Hz, from the cycle the points show; 0: none
};
RegimeReading readRegime(const WindowView& view, std::span<const float> x);

// A pitch as a tuner names it: the nearest key (C3 is MIDI key 48) and the cents off it, as
// "A3 −2 ¢"; empty for no pitch.
std::string pitchName(double frequency);

// The name the window shows for the sound: the loaded preset's, "Name *" once anything of the
// sound differs from it.
std::string presetShownName(const WindowView& view);
bool presetChanged(const WindowView& view);

// Modifiers of pointer and key events.
inline constexpr unsigned FineModifier = 1u;  // Shift: finer drags and wheel steps

// Pointer and keyboard, in pixels of the window. `time` is the event's time in milliseconds.
void pointerPressed(WindowView& view, const GuiHost& host, double x, double y, int button,
                    uint32_t time);
void pointerMoved(WindowView& view, const GuiHost& host, double x, double y, unsigned modifiers);
void pointerReleased(WindowView& view, const GuiHost& host);
void wheelTurned(WindowView& view, const GuiHost& host, double x, double y, int notches,
                 unsigned modifiers);

// Keys while a value is being typed: text the key produced (UTF-8, may be empty), or one of
// these.
enum class EditKey { Text, Backspace, Enter, Escape };
void keyPressed(WindowView& view, const GuiHost& host, EditKey key, const char* text);

// Pointer buttons as X11 numbers them.
inline constexpr int LeftButton = 1;
inline constexpr int RightButton = 3;
