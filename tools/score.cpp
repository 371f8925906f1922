#include "tools/score.h"

#include <charconv>
#include <sstream>

#include "engine/voice_controls.h"
#include "midi/midi_messages.h"

namespace {

constexpr std::size_t MaxFieldsPerLine = 5;

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

int64_t readInteger(LineReader& reader, std::string text, int base, const std::string& what,
                    int64_t minimum, int64_t maximum) {
  if (reader.failed()) return 0;
  if (base == 16 && (text.starts_with("0x") || text.starts_with("0X"))) text = text.substr(2);
  int64_t value = 0;
  const char* last = text.data() + text.size();
  const auto [end, failure] = std::from_chars(text.data(), last, value, base);
  if (text.empty() || failure != std::errc() || end != last) {
    reader.fail("bad " + what + " '" + text + "'");
  } else if (value < minimum || value > maximum) {
    reader.fail(what + " " + text + " is out of range " + std::to_string(minimum) + " to " +
                std::to_string(maximum));
  }
  return value;
}

void expectFieldCount(LineReader& reader, std::size_t least, std::size_t most) {
  const std::size_t count = reader.words.size();
  if (count < least) reader.fail("'" + reader.words[1] + "' needs more values");
  if (count > most) reader.fail("too many values for '" + reader.words[1] + "'");
}

uint32_t readMidiMessage(LineReader& reader) {
  expectFieldCount(reader, 4, MaxFieldsPerLine);
  if (reader.failed()) return 0;
  const auto& words = reader.words;
  const auto status =
      readInteger(reader, words[2], 16, "status byte", FirstStatusByte, LastStatusByte);
  if (status == SystemExclusive || status == EndOfExclusive) {
    reader.fail("system exclusive is not a short message");
  }
  const auto data1 = readInteger(reader, words[3], 10, "data byte", 0, 127);
  const auto data2 =
      words.size() == MaxFieldsPerLine ? readInteger(reader, words[4], 10, "data byte", 0, 127) : 0;
  return static_cast<uint32_t>(status | data1 << 8 | data2 << 16);
}

void readControl(LineReader& reader, ScoreEvent& event) {
  expectFieldCount(reader, 4, 4);
  if (reader.failed()) return;
  const auto number = readInteger(reader, reader.words[2], 10, "control number", 0, INT32_MAX);
  for (const ScoreControl& control : scoreControls()) {
    if (control.number != number) continue;
    event.kind = ScoreEventKind::Control;
    event.control = control.number;
    event.value = static_cast<int32_t>(readInteger(reader, reader.words[3], 10,
                                                   "value of control " + reader.words[2],
                                                   control.minimum, control.maximum));
    return;
  }
  reader.fail("no control " + reader.words[2] +
              " (5-8 envelope, 17 I, 18 B, 19 R, 20 A, 26 volume, 27 s)");
}

// Reads one event line into `score`; returns true for the `end` line.
bool readEventLine(LineReader& reader, int64_t previousFrame, Score& score) {
  const auto& words = reader.words;
  if (words.size() < 2) {
    reader.fail("an event needs a frame and a word");
    return false;
  }
  ScoreEvent event;
  event.frame = readInteger(reader, words[0], 10, "frame", 0, INT64_MAX);
  if (!reader.failed() && event.frame < previousFrame) {
    reader.fail("frame " + words[0] + " comes before frame " + std::to_string(previousFrame));
  }
  const std::string& word = words[1];
  if (word == "midi") {
    event.message = readMidiMessage(reader);
  } else if (word == "control") {
    readControl(reader, event);
  } else if (word == "close" || word == "end") {
    expectFieldCount(reader, 2, 2);
    event.kind = ScoreEventKind::Close;
  } else {
    reader.fail("unknown word '" + word + "'");
  }
  if (reader.failed()) return false;
  if (word == "end") {
    score.endFrame = event.frame;
    return true;
  }
  score.events.push_back(event);
  return false;
}

}  // namespace

const std::vector<ScoreControl>& scoreControls() {
  static const std::vector<ScoreControl> controls = [] {
    std::vector<ScoreControl> all;
    for (const VoiceControl& control : voiceControls()) {
      all.push_back({control.number, control.minimum, control.maximum, control.initial});
    }
    return all;
  }();
  return controls;
}

bool parseScore(std::istream& input, const std::string& name, Score& score, std::string& error) {
  score = Score{};
  int lineNumber = 0;
  int64_t previousFrame = 0;
  bool ended = false;
  for (std::string line; std::getline(input, line);) {
    ++lineNumber;
    const std::vector<std::string> words = wordsOf(line);
    if (words.empty()) continue;
    LineReader reader{words, {}};
    if (ended) reader.fail("nothing may follow 'end'");
    if (!reader.failed()) ended = readEventLine(reader, previousFrame, score);
    if (reader.failed()) {
      error = name + ":" + std::to_string(lineNumber) + ": " + reader.problem;
      return false;
    }
    previousFrame = ended ? score.endFrame : score.events.back().frame;
  }
  if (!ended) {
    error = name + ":" + std::to_string(lineNumber) + ": the score has no 'end'";
    return false;
  }
  return true;
}
