// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/midi_file.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <string_view>
#include <vector>

#include "engine/envelope.h"
#include "engine/voice.h"
#include "midi/midi_messages.h"

namespace {

// Exact clock arithmetic: a tick can add up to 2^24 clock units, songs can have 2^60 ticks.
__extension__ typedef __int128 WideInteger;

constexpr std::size_t ChunkHeaderBytes = 8;
constexpr std::size_t FileHeaderBytes = 6;
constexpr int32_t LongestVariableLength = 4;
constexpr uint32_t DefaultMicrosecondsPerQuarter = 500000;  // 120 beats per minute
constexpr int64_t MicrosecondsPerSecond = 1000000;
constexpr uint8_t TempoMeta = 0x51;
constexpr uint8_t TrackNameMeta = 0x03;
constexpr uint8_t EndOfTrackMeta = 0x2F;
constexpr double SilenceAfterReleaseSeconds = 0.1;

// A message or tempo change of a track, where it is in time and in the file: 16 bytes, as a
// large file holds millions of them. Its track is found by its offset.
struct TrackEvent {
  int64_t tick = 0;
  uint32_t value = 0;   // the packed message, or the tempo in microseconds per quarter note
  uint32_t offset = 0;  // files are read only up to 4 GiB
};

struct TrackEvents {
  bool keepMessages = true;  // false for a listing, which needs only the notes counted
  std::size_t messageCount = 0;
  std::vector<TrackEvent> messages;
  std::vector<TrackEvent> tempos;
  TrackEvent end;  // the latest End of Track
  uint32_t format = 0;
  std::vector<TrackNotes> tracks;        // one for each track read: its name and notes
  std::vector<std::size_t> trackStarts;  // where each track's chunk begins in the file
};

// The track (counted from 1) that holds the event at `offset`.
int32_t trackAt(const TrackEvents& events, std::size_t offset) {
  const auto after = std::upper_bound(events.trackStarts.begin(), events.trackStarts.end(), offset);
  return static_cast<int32_t>(after - events.trackStarts.begin());
}

// Walks the file's bytes. The first problem found is kept with its place; every step does
// nothing once a problem is set, so a reading sequence needs no test after each step.
struct ByteReader {
  std::span<const uint8_t> bytes;
  std::size_t offset = 0;
  std::size_t limit = 0;  // end of the chunk being read
  int32_t track = 0;      // 0 while reading the header
  std::string problem;
  std::size_t problemOffset = 0;

  bool failed() const { return !problem.empty(); }
  bool atLimit() const { return offset >= limit; }
  void fail(std::size_t at, std::string text) {
    if (failed()) return;
    problem = std::move(text);
    problemOffset = at;
  }
};

std::string hexByte(uint8_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

uint8_t readByte(ByteReader& reader, const char* what) {
  if (reader.failed()) return 0;
  if (reader.atLimit()) {
    reader.fail(reader.offset, reader.track == 0 ? std::string("the file ends inside ") + what
                                                 : std::string("the track ends inside ") + what);
    return 0;
  }
  return reader.bytes[reader.offset++];
}

uint32_t readBigEndian(ByteReader& reader, int32_t count, const char* what) {
  uint32_t value = 0;
  for (int32_t index = 0; index < count; ++index) value = value << 8 | readByte(reader, what);
  return value;
}

uint32_t readVariableLength(ByteReader& reader, const char* what) {
  const std::size_t start = reader.offset;
  uint32_t value = 0;
  for (int32_t index = 0; index < LongestVariableLength; ++index) {
    const uint8_t byte = readByte(reader, what);
    value = value << 7 | (byte & 0x7F);
    if ((byte & 0x80) == 0) return value;
  }
  reader.fail(start, std::string(what) + " is longer than 4 bytes");
  return 0;
}

// Skips `length` bytes of the chunk.
void skipBytes(ByteReader& reader, uint32_t length, const char* what) {
  if (reader.failed()) return;
  if (length > reader.limit - reader.offset) {
    reader.fail(reader.offset, std::string(what) + " of " + std::to_string(length) +
                                   " bytes runs past the end of the " +
                                   (reader.track == 0 ? "file" : "track"));
    return;
  }
  reader.offset += length;
}

uint32_t readChannelMessage(ByteReader& reader, uint8_t status) {
  uint32_t message = status;
  for (int32_t index = 0; index < dataBytesOf(status); ++index) {
    const std::size_t at = reader.offset;
    const uint8_t data = readByte(reader, "a channel message");
    if (data & 0x80) reader.fail(at, "data byte expected, found " + hexByte(data));
    message |= static_cast<uint32_t>(data) << (8 * (index + 1));
  }
  return message;
}

// A track's first name, kept for listings.
void readTrackName(ByteReader& reader, uint32_t length, TrackEvents& events) {
  std::string& name = events.tracks.back().name;
  const std::size_t start = reader.offset;
  skipBytes(reader, length, "a meta event");
  if (name.empty() && !reader.failed()) {
    name.assign(reinterpret_cast<const char*>(reader.bytes.data() + start), length);
  }
}

// A meta event after its 0xFF: keeps tempo changes and the track's name, returns true at End
// of Track.
bool readMetaEvent(ByteReader& reader, TrackEvent event, TrackEvents& events) {
  const std::size_t typeOffset = reader.offset;
  const uint8_t type = readByte(reader, "a meta event");
  if (type & 0x80) reader.fail(typeOffset, "meta event type " + hexByte(type) + " above 0x7F");
  const uint32_t length = readVariableLength(reader, "a meta event's length");
  const std::size_t dataOffset = reader.offset;
  if (type == TempoMeta && !reader.failed()) {
    if (length != 3) {
      reader.fail(typeOffset, "a tempo change needs 3 bytes, not " + std::to_string(length));
    }
    event.value = readBigEndian(reader, 3, "a tempo change");
    if (event.value == 0) reader.fail(dataOffset, "a tempo of 0 microseconds per quarter note");
    events.tempos.push_back(event);
    return false;
  }
  if (type == TrackNameMeta) {
    readTrackName(reader, length, events);
    return false;
  }
  skipBytes(reader, length, "a meta event");
  if (type != EndOfTrackMeta) return false;
  if (event.tick >= events.end.tick) events.end = event;
  return true;
}

// One event of a track after its delta time; returns true at End of Track. `runningStatus`
// is the status a data byte continues (0 for none).
bool readTrackEvent(ByteReader& reader, TrackEvent event, uint8_t& runningStatus,
                    TrackEvents& events) {
  event.offset = static_cast<uint32_t>(reader.offset);
  uint8_t status = readByte(reader, "an event");
  if (reader.failed()) return false;
  if (status < FirstStatusByte) {
    if (runningStatus == 0) {
      reader.fail(event.offset, "a data byte (" + hexByte(status) + ") with no status before it");
      return false;
    }
    status = runningStatus;
    --reader.offset;  // the byte is the message's first data byte
  }
  if (status < SystemExclusive) {
    runningStatus = status;
    event.value = readChannelMessage(reader, status);
    countNote(events.tracks.back().channels, event.value);
    ++events.messageCount;
    if (events.keepMessages) events.messages.push_back(event);
    return false;
  }
  // Running status goes on across system exclusive and meta events: the standard says they
  // cancel it, but many files rely on it going on, as other players let it.
  if (status == MetaEvent) return readMetaEvent(reader, event, events);
  if (status == SystemExclusive || status == EndOfExclusive) {
    skipBytes(reader, readVariableLength(reader, "a system exclusive length"),
              "a system exclusive message");
    return false;
  }
  reader.fail(event.offset, "status byte " + hexByte(status) + " has no place in a MIDI file");
  return false;
}

void readTrack(ByteReader& reader, TrackEvents& events) {
  int64_t tick = 0;
  uint8_t runningStatus = 0;
  while (!reader.failed()) {
    if (reader.atLimit()) {
      reader.fail(reader.offset, "the track ends without an End of Track event");
      return;
    }
    tick += readVariableLength(reader, "a delta time");
    TrackEvent event;
    event.tick = tick;
    if (readTrackEvent(reader, event, runningStatus, events)) return;
  }
}

// How ticks become seconds: each tick adds `unitsPerTick` to a clock that counts
// `unitsPerSecond` a second. Metrical files count microseconds times ticks per quarter note, and
// tempo changes set the units per tick; time-code files count frames of time code.
struct Clock {
  bool metrical = true;
  int64_t unitsPerTick = 0;
  int64_t unitsPerSecond = 0;
};

// The division word: ticks per quarter note, or (top bit set) time-code frames per second
// and ticks per frame.
bool readDivision(ByteReader& reader, Clock& clock) {
  const std::size_t at = reader.offset;
  const uint32_t division = readBigEndian(reader, 2, "the header");
  if (reader.failed()) return false;
  if ((division & 0x8000) == 0) {
    if (division == 0) reader.fail(at, "a division of 0 ticks per quarter note");
    clock = {true, DefaultMicrosecondsPerQuarter, division * MicrosecondsPerSecond};
    return !reader.failed();
  }
  const int32_t framesPerSecond = 256 - static_cast<int32_t>(division >> 8);
  const int64_t ticksPerFrame = division & 0xFF;
  if (ticksPerFrame == 0) reader.fail(at, "a time code division of 0 ticks per frame");
  switch (framesPerSecond) {
    case 24:
    case 25:
    case 30:
      clock = {false, 1, framesPerSecond * ticksPerFrame};
      break;
    case 29:  // 29.97 frames per second
      clock = {false, 1001, 30000 * ticksPerFrame};
      break;
    default:
      reader.fail(at, "time code of " + std::to_string(framesPerSecond) +
                          " frames per second (24, 25, 29 or 30 expected)");
  }
  return !reader.failed();
}

bool readHeader(ByteReader& reader, Clock& clock, uint32_t& format, uint32_t& tracks) {
  reader.limit = reader.bytes.size();
  const std::string_view start(reinterpret_cast<const char*>(reader.bytes.data()),
                               std::min<std::size_t>(reader.bytes.size(), 4));
  if (start != "MThd") {
    reader.fail(0, "not a Standard MIDI File (it does not begin with \"MThd\")");
    return false;
  }
  if (reader.bytes.size() > UINT32_MAX) {
    reader.fail(0, "a file of more than 4 GiB");
    return false;
  }
  reader.offset = 4;
  const uint32_t length = readBigEndian(reader, 4, "the header");
  if (!reader.failed() && length < FileHeaderBytes) {
    reader.fail(4, "a header of " + std::to_string(length) + " bytes (6 expected)");
  }
  const std::size_t body = reader.offset;
  format = readBigEndian(reader, 2, "the header");
  if (!reader.failed() && format > 1) {
    reader.fail(body, "format " + std::to_string(format) + " (only formats 0 and 1 are played)");
  }
  tracks = readBigEndian(reader, 2, "the header");
  if (!reader.failed() && tracks == 0) reader.fail(body + 2, "the header announces no track");
  if (!readDivision(reader, clock)) return false;
  reader.offset = body;
  skipBytes(reader, length, "the header");  // a longer header's extra bytes are skipped
  return !reader.failed();
}

// Reads the announced number of track chunks; other chunk kinds are skipped.
void readTracks(ByteReader& reader, uint32_t tracks, TrackEvents& events) {
  const std::size_t size = reader.bytes.size();
  for (uint32_t found = 0; found < tracks && !reader.failed();) {
    const std::size_t chunk = reader.offset;
    reader.track = 0;
    if (size - chunk < ChunkHeaderBytes) {
      reader.fail(chunk, "the header announces " + std::to_string(tracks) +
                             " tracks, but the file ends after " + std::to_string(found));
      return;
    }
    const std::string_view kind(reinterpret_cast<const char*>(reader.bytes.data() + chunk), 4);
    reader.offset += 4;
    reader.limit = size;
    const uint32_t length = readBigEndian(reader, 4, "a chunk header");
    reader.track = kind == "MTrk" ? static_cast<int32_t>(++found) : 0;
    if (reader.track != 0) {
      events.tracks.emplace_back();
      events.trackStarts.push_back(chunk);
    }
    if (length > size - reader.offset) {
      reader.fail(chunk, "a chunk of " + std::to_string(length) +
                             " bytes runs past the end of the file (" + std::to_string(size) +
                             " bytes)");
      return;
    }
    reader.limit = reader.offset + length;
    if (kind == "MTrk") readTrack(reader, events);
    reader.offset = reader.limit;
  }
}

// Gives each message its frame at the score's rate through the tempo map; fails on a time past
// LongestSongSeconds.
void timeMessages(ByteReader& reader, Clock clock, const TrackEvents& events, Score& score) {
  const int64_t framesPerSecond = std::llround(score.sampleRate);
  WideInteger units = 0;
  int64_t unitsTick = 0;  // the tick that `units` stands for
  auto nextTempo = events.tempos.begin();
  const auto frameAt = [&](const TrackEvent& event) -> int64_t {
    for (; clock.metrical && nextTempo != events.tempos.end() && nextTempo->tick <= event.tick;
         ++nextTempo) {
      units += static_cast<WideInteger>(nextTempo->tick - unitsTick) * clock.unitsPerTick;
      unitsTick = nextTempo->tick;
      clock.unitsPerTick = nextTempo->value;
    }
    const WideInteger now =
        units + static_cast<WideInteger>(event.tick - unitsTick) * clock.unitsPerTick;
    const WideInteger frame = now * framesPerSecond / clock.unitsPerSecond;
    if (frame < WideInteger{LongestSongSeconds} * framesPerSecond)
      return static_cast<int64_t>(frame);
    if (!reader.failed()) reader.track = trackAt(events, event.offset);
    reader.fail(event.offset, "this event falls after 24 hours");
    return 0;
  };
  score.events.reserve(events.messages.size() + SpareScoreEvents);
  for (const TrackEvent& message : events.messages) {
    score.events.push_back({frameAt(message), ScoreEventKind::Midi, message.value, 0, 0});
  }
  score.endFrame = frameAt(events.end);
}

// Reads the file's header and tracks into `events`; false with the problem in `reader`.
bool readEvents(std::span<const uint8_t> bytes, ByteReader& reader, Clock& clock,
                TrackEvents& events) {
  reader = ByteReader{};
  reader.bytes = bytes;
  uint32_t tracks = 0;
  if (readHeader(reader, clock, events.format, tracks)) readTracks(reader, tracks, events);
  return !reader.failed();
}

// The messages are counted in a first reading, so that they and the score's events are each
// held once, at their size, with no vector grown by copying.
bool readAllEvents(std::span<const uint8_t> bytes, ByteReader& reader, Clock& clock,
                   TrackEvents& events) {
  if (!events.keepMessages) return readEvents(bytes, reader, clock, events);
  TrackEvents counted;
  counted.keepMessages = false;
  if (!readEvents(bytes, reader, clock, counted)) return false;
  events.messages.reserve(counted.messageCount);
  return readEvents(bytes, reader, clock, events);
}

// Messages of the same tick keep their order: the tracks, each already in order, are merged
// stably, and a single track needs no sorting at all.
void sortByTick(std::vector<TrackEvent>& events) {
  const auto byTick = [](const TrackEvent& a, const TrackEvent& b) { return a.tick < b.tick; };
  if (!std::is_sorted(events.begin(), events.end(), byTick)) {
    std::stable_sort(events.begin(), events.end(), byTick);
  }
}

// Reads the file into `events`, and its messages, timed at `sampleRate`, into `score`.
bool readMidiFile(std::span<const uint8_t> bytes, const std::string& name, double sampleRate,
                  Score& score, TrackEvents& events, std::string& error) {
  score = Score{};
  score.sampleRate = sampleRate;
  ByteReader reader;
  Clock clock;
  if (readAllEvents(bytes, reader, clock, events)) {
    sortByTick(events.messages);
    sortByTick(events.tempos);
    timeMessages(reader, clock, events, score);
  }
  if (!reader.failed()) return true;
  error = name + ": offset " + std::to_string(reader.problemOffset);
  if (reader.track != 0) error += ", track " + std::to_string(reader.track);
  error += ": " + reader.problem;
  score = Score{};
  return false;
}

std::string lengthOf(int64_t frames, double sampleRate) {
  char text[64];
  std::snprintf(text, sizeof text, "%.3f s (%lld frames)", static_cast<double>(frames) / sampleRate,
                static_cast<long long>(frames));
  return text;
}

std::string noteText(int32_t note) {
  return noteName(note) + " (" + std::to_string(note) + ")";
}

// "3 notes from A3 (57) to E4 (64)", "2 notes, all C2 (36)" or "1 note, C2 (36)".
std::string notesText(const ChannelNotes& notes) {
  const std::string count = std::to_string(notes.count) + (notes.count == 1 ? " note" : " notes");
  if (notes.lowest == notes.highest) {
    return count + (notes.count == 1 ? ", " : ", all ") + noteText(notes.lowest);
  }
  return count + " from " + noteText(notes.lowest) + " to " + noteText(notes.highest);
}

// "track 2 "Melody": " or, for a text score, nothing.
std::string trackLead(const SongSummary& summary, std::size_t index) {
  if (summary.format < 0) return {};
  const std::string& name = summary.tracks[index].name;
  return "track " + std::to_string(index + 1) +
         (name.empty() ? "" : " \"" + readableText(name) + "\"") + ": ";
}

}  // namespace

bool parseMidiFile(std::span<const uint8_t> bytes, const std::string& name, Score& score,
                   std::string& error, double sampleRate) {
  TrackEvents events;
  return readMidiFile(bytes, name, sampleRate, score, events, error);
}

// Counts the notes as it reads, keeping no message: memory in proportion to the tracks and
// tempo changes, not to the notes.
bool summarizeMidiFile(std::span<const uint8_t> bytes, const std::string& name, double sampleRate,
                       SongSummary& summary, std::string& error) {
  Score score;
  TrackEvents events;
  events.keepMessages = false;
  if (!readMidiFile(bytes, name, sampleRate, score, events, error)) return false;
  summary = SongSummary{static_cast<int32_t>(events.format), std::move(events.tracks),
                        score.endFrame, sampleRate};
  return true;
}

std::string songListing(const SongSummary& summary, const std::string& name) {
  std::string listing = name + ": ";
  if (summary.format >= 0) {
    listing += "MIDI file of format " + std::to_string(summary.format) + ", " +
               std::to_string(summary.tracks.size()) + " tracks, ";
  }
  listing += "length " + lengthOf(summary.endFrame, summary.sampleRate) + "\n";
  for (std::size_t track = 0; track < summary.tracks.size(); ++track) {
    bool anyNotes = false;
    for (std::size_t channel = 0; channel < MidiChannels; ++channel) {
      const ChannelNotes& notes = summary.tracks[track].channels[channel];
      if (notes.count == 0) continue;
      anyNotes = true;
      listing += trackLead(summary, track) + "channel " + std::to_string(channel + 1) + ", " +
                 notesText(notes) + "\n";
    }
    if (!anyNotes) listing += trackLead(summary, track) + "no notes\n";
  }
  return listing;
}

void addReleaseTail(Score& score, double releaseSeconds) {
  score.events.push_back({score.endFrame, ScoreEventKind::Close, 0, 0, 0});
  const double rate = score.sampleRate;
  const auto release = static_cast<int64_t>(std::ceil(releaseSeconds * rate));
  const auto silence = std::llround(SilenceAfterReleaseSeconds * rate);
  score.endFrame += latencySamplesAt(rate) + release + silence;
}
