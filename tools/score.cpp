// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/score.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <sstream>
#include <system_error>

#include "engine/voice_controls.h"
#include "midi/midi_messages.h"
#include "tools/midi_file.h"

namespace {

constexpr std::size_t MaxFieldsPerLine = 5;
constexpr std::size_t LongestEcho = 40;  // characters of a token that a message repeats
constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";

// What went wrong on the line being read; empty while all is well. Each step below does
// nothing once a problem is set, so a line reads top to bottom without a test after each step.
struct LineReader {
  const std::vector<std::string>& words;
  std::string problem;

  bool failed() const { return !problem.empty(); }
  void fail(std::string text) {
    if (!failed()) problem = std::move(text);
  }
};

std::vector<std::string> wordsOf(const std::string& line) {
  std::istringstream stream(line.substr(0, line.find('#')));
  std::vector<std::string> words;
  for (std::string word; stream >> word;) words.push_back(word);
  return words;
}

std::string quoted(std::string_view text) {
  return "'" + readableText(text) + "'";
}

int64_t readInteger(LineReader& reader, const std::string& given, int base, const std::string& what,
                    int64_t minimum, int64_t maximum) {
  if (reader.failed()) return 0;
  const bool hexPrefix = given.starts_with("0x") || given.starts_with("0X");
  const std::string text = base == 16 && hexPrefix ? given.substr(2) : given;
  int64_t value = 0;
  const char* last = text.data() + text.size();
  const auto [end, failure] = std::from_chars(text.data(), last, value, base);
  if (text.empty() || failure != std::errc() || end != last) {
    reader.fail("bad " + what + " " + quoted(given));
  } else if (value < minimum || value > maximum) {
    reader.fail(what + " " + readableText(given) + " is out of range " + std::to_string(minimum) +
                " to " + std::to_string(maximum));
  }
  return value;
}

void expectFieldCount(LineReader& reader, std::size_t least, std::size_t most) {
  const std::size_t count = reader.words.size();
  if (count < least) reader.fail(quoted(reader.words[1]) + " needs more values");
  if (count > most) reader.fail("too many values for " + quoted(reader.words[1]));
}

// A data byte in decimal, or in hex after "0x".
int64_t readDataByte(LineReader& reader, const std::string& text) {
  const bool hex = text.starts_with("0x") || text.starts_with("0X");
  return readInteger(reader, text, hex ? 16 : 10, "data byte", 0, 127);
}

// A message at its natural length. As scores were written before natural lengths, a second
// data byte left out reads 0, and bytes beyond the natural length (up to three bytes in all)
// are carried along.
uint32_t readMidiMessage(LineReader& reader) {
  expectFieldCount(reader, 3, MaxFieldsPerLine);
  if (reader.failed()) return 0;
  const auto& words = reader.words;
  const auto status =
      readInteger(reader, words[2], 16, "status byte", FirstStatusByte, LastStatusByte);
  const int32_t needed = dataBytesOf(static_cast<uint8_t>(status));
  const auto given = static_cast<int32_t>(words.size() - 3);
  if (needed < 0) reader.fail("system exclusive is not a short message");
  if (given < std::min(needed, 1)) {
    reader.fail("status byte " + readableText(words[2]) + " takes " + std::to_string(needed) +
                (needed == 1 ? " data byte, not " : " data bytes, not ") + std::to_string(given));
  }
  uint32_t message = static_cast<uint32_t>(status);
  for (int32_t index = 0; index < given; ++index) {
    const auto data = readDataByte(reader, words[3 + static_cast<std::size_t>(index)]);
    message |= static_cast<uint32_t>(data) << (8 * (index + 1));
  }
  return message;
}

void readControl(LineReader& reader, ScoreEvent& event) {
  expectFieldCount(reader, 4, 4);
  if (reader.failed()) return;
  const auto number = readInteger(reader, reader.words[2], 10, "control number", 0, INT32_MAX);
  for (const VoiceControl& control : voiceControls()) {
    if (control.number != number) continue;
    event.kind = ScoreEventKind::Control;
    event.control = control.number;
    event.value = static_cast<int32_t>(readInteger(reader, reader.words[3], 10,
                                                   "value of control " + reader.words[2],
                                                   control.minimum, control.maximum));
    return;
  }
  reader.fail("no control " + readableText(reader.words[2]) +
              " (5 A, 6 D, 7 S, 8 R, 17 I, 18 b, 19 r, 20 a, 26 Vol, 27 s)");
}

int64_t readFrame(LineReader& reader, int64_t previousFrame) {
  const std::string& text = reader.words[0];
  const int64_t frame = readInteger(reader, text, 10, "frame", 0, INT64_MAX);
  if (reader.failed()) return 0;
  if (frame < previousFrame) {
    reader.fail("frame " + text + " comes before frame " + std::to_string(previousFrame));
  } else if (frame > LongestSongFrames) {
    reader.fail("frame " + text + " is past 24 hours (frame " + std::to_string(LongestSongFrames) +
                "), the longest render");
  }
  return frame;
}

// Reads one event line into `score`; returns true for the `end` line.
bool readEventLine(LineReader& reader, int64_t previousFrame, Score& score) {
  const auto& words = reader.words;
  if (words.size() < 2) {
    reader.fail("an event needs a frame and a word");
    return false;
  }
  ScoreEvent event;
  event.frame = readFrame(reader, previousFrame);
  const std::string& word = words[1];
  if (word == "midi") {
    event.message = readMidiMessage(reader);
  } else if (word == "control") {
    readControl(reader, event);
  } else if (word == "close" || word == "end") {
    expectFieldCount(reader, 2, 2);
    event.kind = ScoreEventKind::Close;
  } else {
    reader.fail("unknown word " + quoted(word));
  }
  if (reader.failed()) return false;
  if (word == "end") {
    score.endFrame = event.frame;
    return true;
  }
  score.events.push_back(event);
  return false;
}

// The score being read, line by line.
struct ScoreReader {
  const std::string& name;
  Score& score;
  int lineNumber = 0;
  int64_t previousFrame = 0;
  bool ended = false;
  std::string error;

  // Reads one line; false once the score is found malformed.
  bool readLine(const std::string& line) {
    ++lineNumber;
    const std::vector<std::string> words = wordsOf(line);
    if (words.empty()) return true;
    LineReader reader{words, {}};
    if (ended) reader.fail("nothing may follow 'end'");
    if (!reader.failed()) ended = readEventLine(reader, previousFrame, score);
    if (reader.failed()) {
      error = name + ":" + std::to_string(lineNumber) + ": " + reader.problem;
      return false;
    }
    previousFrame = ended ? score.endFrame : score.events.back().frame;
    return true;
  }
};

// Splits `text` at carriage returns, which end lines in files from old Macs; false as soon as
// a line is malformed.
bool readLines(ScoreReader& reader, std::string_view text) {
  if (text.ends_with('\r')) text.remove_suffix(1);  // a CR LF line end
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find('\r', start);
    if (!reader.readLine(std::string(text.substr(start, end - start)))) return false;
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

// The bytes of a UTF-8 sequence that begins with `lead`; 0 for a byte no sequence begins with.
std::size_t sequenceLength(uint8_t lead) {
  if (lead < 0x80) return 1;
  if (lead < 0xC2) return 0;  // a continuation byte, or the lead of an overlong form
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  return lead < 0xF5 ? 4 : 0;
}

// The length of the UTF-8 sequence at the start of `text`, with its code point; 0 when the
// bytes there are not UTF-8.
std::size_t decodeUtf8(std::string_view text, char32_t& point) {
  static constexpr char32_t Least[] = {0, 0, 0x80, 0x800, 0x10000};  // no overlong forms
  const auto lead = static_cast<uint8_t>(text[0]);
  const std::size_t length = sequenceLength(lead);
  if (length == 0 || length > text.size()) return 0;
  point = length == 1 ? lead : lead & (0x7Fu >> length);
  for (std::size_t index = 1; index < length; ++index) {
    const auto next = static_cast<uint8_t>(text[index]);
    if ((next & 0xC0) != 0x80) return 0;
    point = point << 6 | (next & 0x3Fu);
  }
  const bool surrogate = point >= 0xD800 && point <= 0xDFFF;
  return point < Least[length] || surrogate ? 0 : length;
}

// The name a message gives a character that would not show; empty for a visible one.
std::string invisibleName(char32_t point) {
  switch (point) {
    case 0:
      return "<NUL>";
    case '\t':
      return "<TAB>";
    case '\r':
      return "<CR>";
    case 0xFEFF:
      return "<BOM>";
    default:
      break;
  }
  const bool control = point < 0x20 || point == 0x7F;
  const bool unicodeBlank = (point >= 0x80 && point <= 0xA0) || point == 0xAD ||
                            (point >= 0x200B && point <= 0x200F) || point == 0x2028 ||
                            point == 0x2029 || point == 0x2060;
  // Marks and overrides that reorder the rest of a terminal's line.
  const bool bidiControl = point == 0x061C || (point >= 0x202A && point <= 0x202E) ||
                           (point >= 0x2066 && point <= 0x2069);
  char name[16] = "";
  if (control) std::snprintf(name, sizeof name, "<0x%02X>", static_cast<unsigned>(point));
  if (unicodeBlank || bidiControl) {
    std::snprintf(name, sizeof name, "<U+%04X>", static_cast<unsigned>(point));
  }
  return name;
}

}  // namespace

bool parseScore(std::istream& input, const std::string& name, Score& score, std::string& error) {
  score = Score{};
  ScoreReader reader{name, score, 0, 0, false, {}};
  for (std::string line; std::getline(input, line);) {
    if (reader.lineNumber == 0 && line.starts_with(ByteOrderMark)) {
      line.erase(0, ByteOrderMark.size());  // as some editors begin a file
    }
    if (!readLines(reader, line)) {
      error = reader.error;
      return false;
    }
  }
  if (!reader.ended) {
    error = name + ":" + std::to_string(reader.lineNumber) + ": the score has no 'end'";
    return false;
  }
  return true;
}

bool parseWholeNumber(std::string_view text, int32_t minimum, int32_t maximum, int32_t& number) {
  int32_t value = 0;
  const char* first = text.begin();
  const char* last = text.end();
  const auto [end, failure] = std::from_chars(first, last, value);
  if (text.empty() || failure != std::errc() || end != last) return false;
  if (value < minimum || value > maximum) return false;
  number = value;
  return true;
}

bool readSongFile(const std::string& path, std::string& contents, std::string& error) {
  const bool standardInput = path == "-";
  const std::string name = songNameOf(path);
  const int file = standardInput ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  contents.clear();
  int failure = file < 0 ? errno : 0;
  // Room for the whole file at once: growing by doubling would hold a song twice, and more. A
  // pipe or device, of unknown length, gets room for the largest song and what one read adds
  // past it, which takes memory only as far as it is filled.
  char buffer[1 << 16];
  struct stat status {};
  if (failure == 0 && fstat(file, &status) == 0) {
    contents.reserve(S_ISREG(status.st_mode)
                         ? std::min(static_cast<std::size_t>(status.st_size), LargestSongBytes) + 1
                         : LargestSongBytes + sizeof buffer);
  }
  while (failure == 0 && contents.size() <= LargestSongBytes) {
    const ssize_t count = read(file, buffer, sizeof buffer);
    if (count == 0) break;
    if (count > 0) contents.append(buffer, static_cast<std::size_t>(count));
    if (count < 0 && errno != EINTR) failure = errno;
  }
  if (file >= 0 && !standardInput) close(file);
  if (failure != 0) {
    error = "cannot read " + name + ": " + std::generic_category().message(failure);
    return false;
  }
  if (contents.size() > LargestSongBytes) {
    error = name + " is larger than " + std::to_string(LargestSongBytes >> 20) +
            " MiB, which no score or MIDI file needs";
    contents.clear();
    return false;
  }
  return true;
}

std::string songNameOf(const std::string& path) {
  return path == "-" ? "stdin" : readableName(path);
}

int32_t dataBytesOf(uint8_t status) {
  if (status < SystemExclusive) {
    const auto kind = static_cast<uint8_t>(status & ~ChannelBits);
    return kind == ProgramChangeChannel1 || kind == ChannelPressureChannel1 ? 1 : 2;
  }
  switch (status) {
    case SystemExclusive:
    case EndOfExclusive:
      return -1;
    case TimeCodeQuarterFrame:
    case SongSelect:
      return 1;
    case SongPosition:
      return 2;
    default:  // tune request, real-time messages
      return 0;
  }
}

namespace {

// `text` with every character that would not show named, cut after `longest` characters.
std::string readableUpTo(std::string_view text, std::size_t longest) {
  std::string readable;
  std::size_t characters = 0;
  while (!text.empty() && characters < longest) {
    char32_t point = 0;
    const std::size_t length = decodeUtf8(text, point);
    char byte[8];
    std::snprintf(byte, sizeof byte, "<0x%02X>", static_cast<uint8_t>(text[0]));
    const std::string name = length == 0 ? byte : invisibleName(point);
    readable += name.empty() ? std::string(text.substr(0, length)) : name;
    text.remove_prefix(std::max<std::size_t>(length, 1));
    ++characters;
  }
  if (!text.empty()) readable += "...";
  return readable;
}

}  // namespace

std::string readableText(std::string_view text) {
  return readableUpTo(text, LongestEcho);
}

std::string readableName(std::string_view name) {
  return readableUpTo(name, name.size());
}

std::string noteName(int32_t note) {
  static constexpr std::array<const char*, 12> names = {"C",  "C#", "D",  "D#", "E",  "F",
                                                        "F#", "G",  "G#", "A",  "A#", "B"};
  return names[static_cast<std::size_t>(note % 12)] + std::to_string(note / 12 - 1);
}

void countNote(NotesByChannel& channels, uint32_t message) {
  const uint32_t status = message & 0xFF;
  const int32_t note = static_cast<int32_t>(message >> 8 & 0x7F);
  if ((status & ~ChannelBits) != NoteOnChannel1 || (message >> 16 & 0x7F) == 0) return;
  ChannelNotes& notes = channels[status & ChannelBits];
  ++notes.count;
  notes.lowest = std::min(notes.lowest, note);
  notes.highest = std::max(notes.highest, note);
}

NotesByChannel notesByChannel(const Score& score) {
  NotesByChannel channels;
  for (const ScoreEvent& event : score.events) {
    if (event.kind == ScoreEventKind::Midi) countNote(channels, event.message);
  }
  return channels;
}

void playChannel(Score& score, int32_t channel) {
  const auto chosen = static_cast<uint32_t>(channel - 1);
  for (ScoreEvent& event : score.events) {
    const uint32_t status = event.message & 0xFF;
    if (event.kind != ScoreEventKind::Midi || status >= SystemExclusive) continue;
    const uint32_t from = status & ChannelBits;
    const uint32_t to = from == chosen ? 0 : from == 0 ? chosen : from;
    event.message = (event.message & ~uint32_t{ChannelBits}) | to;
  }
}
