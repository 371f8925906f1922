// A score: what happens to the synthesizer, frame by frame, for an offline render.
//
// Plain text, one event per line; `#` starts a comment, blank lines are ignored:
//   <frame> midi <status-hex> <data1> [<data2>]   a short MIDI message, as a data notice
//   <frame> control <number> <value>              the user sets a control of the main window
//   <frame> close                                 the MIDI port's close notice
//   <frame> end                                   render frames [0, frame) and stop (last)
// Frames are absolute sample indices at 44100 Hz and never go backwards.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "engine/voice.h"

enum class ScoreEventKind { Midi, Control, Close };

struct ScoreEvent {
  int64_t frame = 0;
  ScoreEventKind kind = ScoreEventKind::Midi;
  uint32_t message = 0;  // Midi: status | data1 << 8 | data2 << 16
  int32_t control = 0;   // Control: its number
  int32_t value = 0;     // Control: its new position or state
};

struct Score {
  std::vector<ScoreEvent> events;         // in the order they are applied
  int64_t endFrame = 0;                   // frames rendered
  double sampleRate = DefaultSampleRate;  // Hz: the rate its frames count and it renders at
};

// A control the score may set, with the range of positions it takes and its position when the
// window opens.
struct ScoreControl {
  int32_t number;
  int32_t minimum;
  int32_t maximum;
  int32_t initial;
};

const std::vector<ScoreControl>& scoreControls();

// Reads a score. On a malformed one, returns false with `error` set to "name:line: problem".
bool parseScore(std::istream& input, const std::string& name, Score& score, std::string& error);
