// A score: what happens to the synthesizer, frame by frame, for an offline render.
//
// Plain text, one event per line; `#` starts a comment, blank lines are ignored:
//   <frame> midi <status-hex> [<data>...]          a short MIDI message, as a data notice
//   <frame> control <number> <value>              the user sets a control of the main window
//   <frame> close                                 the MIDI port's close notice
//   <frame> end                                   render frames [0, frame) and stop (last)
// Frames are absolute sample indices at 44100 Hz and never go backwards. A message has its
// natural length (one to three bytes by its status); data bytes are decimal or hex with "0x".
// Lines end in LF, CR LF or CR alone.
#pragma once

#include <array>
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
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

// Reads a score. On a malformed one, returns false with `error` set to "name:line: problem".
bool parseScore(std::istream& input, const std::string& name, Score& score, std::string& error);

// Reads a whole song file, or standard input for "-", refusing what is not a readable file of
// at most LargestSongBytes. On failure returns false with `error` set to a sentence.
inline constexpr std::size_t LargestSongBytes = std::size_t{64} << 20;
bool readSongFile(const std::string& path, std::string& contents, std::string& error);

// The song's name in messages: its path as readableName shows it, or "stdin" for "-".
std::string songNameOf(const std::string& path);

// A command line's whole number, decimal, from `minimum` to `maximum`; false, leaving `number`
// alone, for anything else.
bool parseWholeNumber(std::string_view text, int32_t minimum, int32_t maximum, int32_t& number);

// The data bytes that follow a status byte: 0, 1 or 2; -1 for system exclusive (F0, F7),
// which is no short message.
int32_t dataBytesOf(uint8_t status);

// `text` as a message may echo it: invisible characters and those that reorder a terminal's
// line named (<NUL>, <CR>, <BOM>, <0x1B>, <U+200B>, <U+202E>), bytes that are not UTF-8 given
// by value, and anything past 40 characters cut.
std::string readableText(std::string_view text);

// A file name as a message may echo it: named as readableText names characters, never cut.
std::string readableName(std::string_view name);

// A note's name in scientific pitch notation: 60 is C4, 69 is A4.
std::string noteName(int32_t note);

// The notes (note-ons of velocity above 0) a song plays on each MIDI channel, counted from 0.
struct ChannelNotes {
  int32_t count = 0;
  int32_t lowest = 127;
  int32_t highest = 0;
};
inline constexpr std::size_t MidiChannels = 16;
using NotesByChannel = std::array<ChannelNotes, MidiChannels>;
void countNote(NotesByChannel& channels, uint32_t message);
NotesByChannel notesByChannel(const Score& score);

// Moves the channel messages of `channel` (1 to 16) to channel 1, the one the voice plays, and
// those of channel 1 to `channel`, so that every message still reaches the voice.
void playChannel(Score& score, int32_t channel);
