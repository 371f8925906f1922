// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <thread>

#include "engine/instrument.h"
#include "engine/oscillator.h"
#include "engine_test_support.h"
#include "midi/instrument_messages.h"

namespace {

TEST(Render, ZeroFramesWriteNothing) {
  auto state = startedEngine();
  float untouched = 7.0f;
  renderFrames(*state, &untouched, 0);
  EXPECT_EQ(untouched, 7.0f);
}

TEST(Render, IsSilentBeforeAnyNoteFromTheFirstFrame) {
  auto state = startedEngine();
  for (const float sample : render(*state, 4096)) ASSERT_EQ(sample, 0.0f);
  EXPECT_EQ(state->noteSamples, 4096);
}

// The model rests before the first note and once a release has ended: whatever the rest's
// length and the blocks it comes in, the note after it has the bits of a note played at once
// (or as the release ends), zeros' signs included.
TEST(Render, ANoteAfterAnyRestHasTheBitsOfANotePlayedAtOnce) {
  auto noteAfter = [](bool released, std::size_t silentFrames, std::size_t block) {
    auto state = startedEngine();
    if (released) {
      setEnvelopeSliders(*state, 1, 1, 50, 1);  // a release of 1 ms, at 0 from its 45th sample
      pressKey(*state, 64);
      render(*state, 2000);
      releaseKey(*state, 64);
      render(*state, 45);
    }
    state->noteSamples = NoteSamplesLimit - 40;  // the rest passes the count's guard too
    std::vector<float> samples(silentFrames + 3000);
    for (std::size_t frame = 0; frame < samples.size(); frame += block) {
      const std::size_t end = std::min(frame + block, samples.size());
      const std::size_t noteOn = std::clamp(silentFrames, frame, end);
      renderFrames(*state, samples.data() + frame, noteOn - frame);
      if (noteOn == silentFrames && noteOn < end) pressKey(*state, 69);
      renderFrames(*state, samples.data() + noteOn, end - noteOn);
    }
    for (std::size_t frame = 0; frame < silentFrames; ++frame) {
      EXPECT_EQ(std::bit_cast<uint32_t>(samples[frame]), 0U) << frame;  // 0.0, not -0.0
    }
    return std::vector<float>(samples.begin() + static_cast<std::ptrdiff_t>(silentFrames),
                              samples.begin() + static_cast<std::ptrdiff_t>(silentFrames) + 3000);
  };
  for (const bool released : {false, true}) {
    const std::vector<float> atOnce = noteAfter(released, 0, 1);
    for (const std::size_t silent : {1U, 33U, 4097U}) {
      for (const std::size_t block : {1U, 33U, 4096U}) {
        const std::vector<float> after = noteAfter(released, silent, block);
        ASSERT_EQ(std::memcmp(after.data(), atOnce.data(), atOnce.size() * sizeof(float)), 0)
            << silent << " silent frames in blocks of " << block
            << (released ? " after a note" : "");
      }
    }
  }
}

TEST(Render, FadeInFollowsTheFifthPowerOfTheNoteSampleCount) {
  EXPECT_EQ(fadeInFactor(0, 100), 0.0);
  EXPECT_EQ(fadeInFactor(50, 100), 0.03125);
  EXPECT_NEAR(fadeInFactor(99, 100), 0.95099008, 1e-8);
  EXPECT_EQ(fadeInFactor(99, 100), static_cast<float>(std::pow(static_cast<double>(0.99f), 5.0)));
}

// A4 from silence at the start-up settings: after the 1001-sample handover the model starts
// from zero at a step of 0.08, and each frame is its output times the attack or decay level,
// times the fade-in over the first 100 samples. The values were worked out from the equations
// alone, outside this code (one float32 Euler step per frame, the levels and the fade-in in
// double), so that a fault in any of the three factors or in their order shows.
TEST(Render, FirstFramesOfANoteMatchTheEquationsWorkedOutApart) {
  const struct {
    std::size_t frame;
    float sample;
  } expected[] = {
      {1001, 0.0f},
      {1002, 3.37690141e-12f},
      {1003, 3.41971895e-10f},
      {1005, 4.14314023e-08f},
      {1006, 1.74793399e-07f},
      {1050, 0.00788591336f},
      {1100, 0.518828571f},
      {1101, 0.602744341f},
      {1200, 0.415167183f},
      {1399, -0.278234452f},
  };
  auto state = startedEngine();
  pressKey(*state, 69);
  const std::vector<float> samples = render(*state, 1400);
  for (std::size_t frame = 0; frame <= 1000; ++frame) ASSERT_EQ(samples[frame], 0.0f) << frame;
  for (const auto& pinned : expected) {
    EXPECT_EQ(samples[pinned.frame], pinned.sample) << pinned.frame;
  }
}

// Once the release has ended the model rests and the silence is 0.0. Where the model still
// runs under a silent envelope, through the next note's handover from level 0, a zero keeps the
// sign of x.
TEST(Render, KeepsTheSignOfZeroWhereTheEnvelopeIsSilentAndTheModelRuns) {
  auto state = startedEngine();
  setEnvelopeSliders(*state, 1, 1, 50, 1);
  pressKey(*state, 69);
  render(*state, 2000);
  releaseKey(*state, 69);
  const std::vector<float> rest = render(*state, 2000);
  for (std::size_t frame = 100; frame < rest.size(); ++frame) {
    ASSERT_EQ(std::bit_cast<uint32_t>(rest[frame]), 0U) << frame;
  }
  pressKey(*state, 69);
  int negativeZeros = 0;
  for (const float sample : render(*state, 1000)) {
    ASSERT_EQ(sample, 0.0f);
    negativeZeros += std::signbit(sample) ? 1 : 0;
  }
  EXPECT_GT(negativeZeros, 0);
  EXPECT_LT(negativeZeros, 1000);
}

// A window's trace changes no sample, and holds x and z after every stride-th sample: a note
// rendered in uneven blocks with every third sample traced into an 8-point ring, against the
// same note rendered plainly one sample at a time.
TEST(Render, TracingLeavesTheSoundAloneAndRecordsEveryStrideThSample) {
  auto plain = startedEngine();
  auto traced = startedEngine();
  pressKey(*plain, 69);
  pressKey(*traced, 69);
  float points[16]{};
  ModelTrace trace{points, 7, 0, 3, 3};
  std::vector<float> expectedX, expectedZ, tracedSound;
  std::vector<float> plainSound(1500);
  for (std::size_t frame = 0; frame < plainSound.size(); ++frame) {
    renderFrames(*plain, &plainSound[frame], 1);
    if (frame % 3 == 2) {
      expectedX.push_back(plain->x);
      expectedZ.push_back(plain->z);
    }
  }
  for (const std::size_t block : {1, 7, 64, 428, 1000}) {
    const std::size_t start = tracedSound.size();
    tracedSound.resize(start + block);
    renderFramesTraced(*traced, &tracedSound[start], block, trace);
  }
  EXPECT_EQ(tracedSound, plainSound);
  ASSERT_EQ(trace.written, expectedX.size());
  for (uint32_t back = 1; back <= 8; ++back) {
    const uint32_t point = (trace.written - back) & 7;
    EXPECT_EQ(points[2 * point], expectedX[expectedX.size() - back]);
    EXPECT_EQ(points[2 * point + 1], expectedZ[expectedZ.size() - back]);
  }
}

// A held note's steady sustain takes a shorter way than the rest of a note, and a trace always
// takes the general one: both give the same bits, signs and NaN included, at each rate and block
// size, for the settings that change the step or the level, and with events inside the
// sustain: a legato step (to key 90 the model runs away there), a bend, the mod wheel, a
// parameter move and the release.
TEST(Render, TheSustainsShortWayGivesTheBitsOfTheGeneralOne) {
  struct Voice {
    double rate;
    int32_t key;
    int32_t legatoKey;
    std::vector<std::pair<int32_t, double>> settings;
  };
  const std::vector<Voice> voices{
      {DefaultSampleRate, 57, 60, {}},
      {DefaultSampleRate, 57, 90, {}},
      {DefaultSampleRate, 45, 90, {{StableStepsSetting, 1}, {DcFilterSetting, 1}}},
      {96000.0,
       64,
       52,
       {{DcFilterSetting, 1},
        {GlideSetting, 0.002},
        {VelocitySetting, 1},
        {NoteModeSetting, static_cast<double>(NoteMode::Retrigger)},
        {NoteStartSetting, static_cast<double>(NoteStart::Immediate)}}},
  };
  static constexpr std::size_t Frames = 20000;
  const auto render = [](const Voice& voice, std::size_t block, bool traced) {
    auto state = startedEngine(voice.rate);
    for (const auto& [setting, value] : voice.settings) setInstrumentValue(*state, setting, value);
    setEnvelopeSliders(*state, 1, 1, 70, 5);
    std::vector<float> points(2 * 64);
    ModelTrace trace = traced ? ModelTrace{points.data(), 63, 0, 5, 5} : ModelTrace{};
    const auto play = [&](uint8_t status, int32_t key) {
      playInstrumentMessage(*state, packShortMessage(status, static_cast<uint8_t>(key), 90));
    };
    const std::vector<std::pair<std::size_t, std::function<void()>>> events{
        {0, [&] { play(NoteOnChannel1, voice.key); }},
        {6000, [&] { play(NoteOnChannel1, voice.legatoKey); }},
        {9000, [&] { bendPitch(*state, 0.5); }},
        {11000, [&] { moveModWheel(*state, 0.7); }},
        {13000, [&] { setVoiceControl(*state, ISlider, 700); }},
        {16000,
         [&] {
           play(NoteOffChannel1, voice.key);
           play(NoteOffChannel1, voice.legatoKey);
         }},
        {Frames, [] {}}};
    std::vector<float> sound(Frames);
    std::size_t frame = 0;
    for (const auto& [at, apply] : events) {
      while (frame < at) {
        const std::size_t frames = std::min(block, at - frame);
        renderFramesTraced(*state, &sound[frame], frames, trace);
        frame += frames;
      }
      apply();
    }
    return sound;
  };
  for (const Voice& voice : voices) {
    const std::vector<float> general = render(voice, 4096, true);
    for (const std::size_t block : {1, 33, 4096}) {
      const std::vector<float> sound = render(voice, block, false);
      ASSERT_EQ(std::memcmp(sound.data(), general.data(), Frames * sizeof(float)), 0)
          << "key " << voice.key << " to " << voice.legatoKey << ", block " << block;
    }
  }
}

// A note-off can land between the audio thread's look at the gate and its setting of a per-note
// flag. Whatever the timing, once the keys are up and one sample has been rendered, both flags
// must be clear, or the next note would start without its handover and reset.
TEST(RenderRace, NoteFlagsAreClearAfterEveryReleaseWhateverTheTiming) {
  auto state = startedEngine();
  std::atomic<bool> running{true};
  std::atomic<int64_t> rendered{0};
  std::thread audio([&] {
    float block[32];
    while (running.load()) {
      renderFrames(*state, block, 32);
      rendered.fetch_add(32);
    }
  });
  for (int round = 0; round < 20000; ++round) {
    pressKey(*state, 60 + round % 12);
    for (int spin = round % 64; spin > 0; --spin) std::this_thread::yield();
    releaseKey(*state, 60 + round % 12);
  }
  const int64_t seen = rendered.load();
  while (rendered.load() < seen + 64) std::this_thread::yield();
  running = false;
  audio.join();
  EXPECT_EQ(state->gate.load(), 0);
  EXPECT_EQ(state->envelopeReady.load(), 0);
  EXPECT_EQ(state->oscillatorReset.load(), 0);
}

}  // namespace
