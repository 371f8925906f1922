// SPDX-License-Identifier: GPL-3.0-or-later
// Standard MIDI Files (format 0 and 1) read into a score, so that a song from any sequencer
// plays through the same render path as a text score.
//
// Every channel message of every track, on every channel, becomes a MIDI event of the score;
// the engine ignores what it does not play. Meta events other than tempo changes and End of
// Track, and system exclusive messages, are skipped; running status goes on across them, as
// many files rely on it. A message falls on the sample during which its time falls:
// frame = floor(seconds × rate), computed exactly in integers from the ticks
// and the tempo map (120 beats per minute until the first tempo change). Messages of the same
// tick keep their order within a track; between tracks, the earlier track goes first.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/voice.h"
#include "tools/score.h"

// The longest song read: a day. Anything longer is a mistake in the file.
inline constexpr int64_t LongestSongSeconds = int64_t{24} * 60 * 60;
// The same in frames at 44100 Hz, as a text score counts them.
inline constexpr auto LongestSongFrames =
    LongestSongSeconds * static_cast<int64_t>(DefaultSampleRate);

// The events parseMidiFile leaves room for after the song's (the release tail's close, the
// controls a command line sets first), so that adding them copies none of a large song's.
inline constexpr std::size_t SpareScoreEvents = 64;

// Reads `bytes` into `score`: its channel messages as MIDI events, and endFrame at the latest
// End of Track. On a malformed or truncated file returns false with `error` set to
// "name: offset N, track T: problem" (tracks counted from 1; no track for the header).
// Frames count at `sampleRate` (Hz, a whole number).
bool parseMidiFile(std::span<const uint8_t> bytes, const std::string& name, Score& score,
                   std::string& error, double sampleRate = DefaultSampleRate);

// What a listing of a MIDI file shows: its tracks with their notes by channel, and its length.
struct TrackNotes {
  std::string name;  // the track's first name event, empty without one
  NotesByChannel channels;
};

struct SongSummary {
  int32_t format = -1;  // 0 or 1 for a MIDI file, -1 for a text score
  std::vector<TrackNotes> tracks;
  int64_t endFrame = 0;
  double sampleRate = DefaultSampleRate;  // Hz: the rate endFrame counts at
};

// Reads `bytes` as parseMidiFile does, into a summary.
bool summarizeMidiFile(std::span<const uint8_t> bytes, const std::string& name, double sampleRate,
                       SongSummary& summary, std::string& error);

// The summary as lines of text, headed by the song's name, format and length.
std::string songListing(const SongSummary& summary, const std::string& name);

// The port closes where the song ends, releasing notes still held, and the render goes on
// until the release of the last note has run out: the voice's handover (1001 samples at
// 44100 Hz), then `releaseSeconds` of release (the voice's, however it was set) and a tenth of
// a second of silence, at the score's sample rate.
void addReleaseTail(Score& score, double releaseSeconds);
