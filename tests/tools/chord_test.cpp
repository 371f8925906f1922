// SPDX-License-Identifier: GPL-3.0-or-later
// Chords: a chord is the float sum of its notes played alone, and stolen voices neither click
// nor stick.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "instrument/instrument_voice.h"
#include "midi/midi_messages.h"
#include "tests/tools/midi_bytes.h"
#include "tests/tools/score_text.h"
#include "tools/midi_file.h"
#include "tools/score_render.h"

namespace {

using Events = std::vector<std::pair<uint64_t, std::string>>;

// A score of MIDI events in frame order, ending at `end`.
std::string scoreText(Events events, int64_t end) {
  std::ranges::stable_sort(events, {}, &Events::value_type::first);
  std::string text;
  for (const auto& [frame, event] : events) text += std::to_string(frame) + " midi " + event + "\n";
  return text + std::to_string(end) + " end\n";
}

std::vector<float> rendered(const Score& score, ParameterValues values, double voices) {
  values.value[parameterIndexOfId(VoicesParameterId)] = voices;
  std::vector<float> samples;
  renderScore(
      score, DefaultBlockFrames,
      [&](const float* block, int64_t n) { samples.insert(samples.end(), block, block + n); }, {},
      {}, values);
  return samples;
}

void expectSumOf(const std::vector<float>& chord, const std::vector<std::vector<float>>& notes) {
  for (std::size_t frame = 0; frame < chord.size(); ++frame) {
    float sum = 0.0f;
    for (const std::vector<float>& note : notes) sum += note.at(frame);
    ASSERT_EQ(chord[frame], sum) << "frame " << frame;
  }
}

// Keys pressed in turn, each with its own velocity and release, under a bend, the mod wheel and
// the pedal, with notes started after a handover or at once, filtered or not, held into their
// sustain (where voices step side by side) or released in their decay.
TEST(Chord, IsTheSumInVoiceOrderOfItsNotesPlayedAlone) {
  const std::vector<std::vector<int32_t>> chords{{60, 64, 67}, {48, 55, 62, 69, 76}, {90, 30}};
  std::mt19937 random(32);
  for (const auto& chord : chords) {
    for (int32_t setting = 0; setting < 3; ++setting) {
      ParameterValues values = rendererValues();
      values.value[parameterIndexOfId(NoteStartSetting)] = setting % 2;
      values.value[parameterIndexOfId(DcFilterSetting)] = setting > 0;
      values.value[parameterIndexOfId(StableStepsSetting)] = setting > 0;
      values.value[parameterIndexOfId(VelocitySetting)] = setting * 0.5;
      if (setting < 2) values.value[parameterIndexOfId(DecaySlider)] = 0.05;  // held in sustain
      Events shared{{3000, "E0 0 90"}, {9000, "B0 1 100"}};
      if (setting == 2) shared.insert(shared.end(), {{100, "B0 64 127"}, {30000, "B0 64 0"}});
      Events together = shared;
      std::vector<std::vector<float>> notes;
      for (std::size_t note = 0; note < chord.size(); ++note) {
        const std::string key = std::to_string(chord[note]) + " ";
        Events alone = shared;
        alone.push_back({note * 700, "90 " + key + std::to_string(random() % 127 + 1)});
        alone.push_back({20000 + random() % 10000, "80 " + key + "0"});
        together.insert(together.end(), alone.end() - 2, alone.end());
        notes.push_back(rendered(scoreFrom(scoreText(alone, 60000)), values, 1));
      }
      expectSumOf(rendered(scoreFrom(scoreText(together, 60000)), values, 8), notes);
    }
  }
}

// 40 low notes in one beat on 4 voices, some under the pedal: no jump between samples beyond four
// (at once eight) times the highest note's own steepest, which a cut note's click would pass, and
// silence once every key and the pedal are up.
TEST(Chord, StolenVoicesFadeOutAndNoneSticks) {
  for (const double start : {0.0, 1.0}) {
    ParameterValues values = rendererValues();
    values.value[parameterIndexOfId(NoteStartSetting)] = start;
    values.value[parameterIndexOfId(VoicesParameterId)] = 4;
    const std::vector<float> single =
        rendered(scoreFrom(scoreText({{0, "90 40 127"}}, 44100)), values, 1);
    double steepest = 0.0;
    for (std::size_t n = 1; n < single.size(); ++n)
      steepest = std::max(steepest, std::fabs(double{single[n]} - single[n - 1]));
    auto voice = std::make_unique<InstrumentVoice>();
    startInstrumentVoice(*voice, 44100.0, values);
    std::mt19937 random(40);
    std::vector<float> output(551);  // a beat at 120 per minute: 40 of these
    std::vector<uint8_t> keys;
    const auto play = [&](uint8_t status, uint8_t data1, uint8_t data2) {
      playMessage(*voice, packShortMessage(status, data1, data2));
    };
    const double notes = start == 0.0 ? 4.0 : 8.0;  // at once, a stolen note fades beside the new
    float last = 0.0f;
    for (int32_t note = 0; note < 200; ++note) {
      if (note < 40) play(NoteOnChannel1, keys.emplace_back(28 + random() % 13), 100);
      if (note % 3 == 1 || note == 40) play(NoteOffChannel1, keys[random() % keys.size()], 0);
      if (note % 10 == 5) play(ControlChangeChannel1, 64, note % 20 == 5 ? 127 : 0);
      for (const uint8_t key : note == 41 ? keys : std::vector<uint8_t>{})
        play(NoteOffChannel1, key, 0);
      renderVoice(*voice, output.data(), static_cast<uint32_t>(output.size()));
      for (const float sample : output) {
        ASSERT_LE(std::fabs(double{sample} - last), notes * steepest)
            << "note " << note << " start " << start;
        last = sample;
      }
    }
    EXPECT_EQ(last, 0.0f);
    for (int32_t index = 0; index < voice->chord.started; ++index)
      EXPECT_TRUE(restsSilently(engineOf(*voice, index)));
  }
}

// A Standard MIDI File of a track for each channel's events after one that sets up a lower zone
// of three members bent over 12 semitones, on 8 voices; `alone`: the first, on channel 1 alone.
std::vector<float> renderedFile(std::vector<std::string> channels, bool alone,
                                const ParameterValues& values) {
  using namespace midi_bytes;
  std::string file = header(1, static_cast<uint32_t>(channels.size()) + (alone ? 0 : 1), 96);
  for (char& byte : channels.front()) {
    if (alone && (byte & 0x80) != 0) byte = static_cast<char>(byte & 0xF0);
  }
  if (!alone) {
    file += track(event(0, bytes({0xB0, 101, 0})) + event(0, bytes({0xB0, 100, 6})) +
                  event(0, bytes({0xB0, 6, 3})) + event(0, bytes({0xB1, 101, 0})) +
                  event(0, bytes({0xB1, 100, 0})) + event(0, bytes({0xB1, 6, 12})));
  }
  for (const std::string& channel : channels) file += track(channel, 40);
  Score score;
  std::string error;
  const std::span bytes(reinterpret_cast<const uint8_t*>(file.data()), file.size());
  EXPECT_TRUE(parseMidiFile(bytes, "mpe", score, error)) << error;
  return rendered(score, values, alone ? 1 : 8);
}

// An MPE file in the lower zone, set up by its configuration message: three notes, each bent,
// pressed and coloured on its own channel, sound as the sum of each played alone on channel 1,
// bent by the pitch wheel over the members' range, pressed by channel pressure and its b moved.
TEST(Chord, MpeNotesFollowTheirOwnChannels) {
  using namespace midi_bytes;
  const std::vector<std::string> channels{
      event(0, bytes({0x91, 57, 100})) + event(20, bytes({0xE1, 0, 80})) +
          event(90, bytes({0x81, 57, 0})),
      event(0, bytes({0xB2, 74, 96})) + event(0, bytes({0x92, 61, 90})) +
          event(30, bytes({0xE2, 0, 48})) + event(0, bytes({0xD2, 100})) +
          event(80, bytes({0x82, 61, 0})),
      event(0, bytes({0x93, 64, 110})) + event(40, bytes({0xE3, 127, 127})) +
          event(70, bytes({0x83, 64, 0}))};
  ParameterValues values = rendererValues();
  const std::vector<float> together = renderedFile(channels, false, values);
  values.value[parameterIndexOfId(BendRangeSetting)] = 12;
  std::vector<std::vector<float>> notes;
  for (std::size_t note = 0; note < channels.size(); ++note) {
    ParameterValues alone = values;
    if (note == 1) alone.value[parameterIndexOfId(BSlider)] += 0.5 * (96 - 64) / 64.0;
    notes.push_back(renderedFile({channels[note]}, true, alone));
  }
  expectSumOf(together, notes);
}

}  // namespace
