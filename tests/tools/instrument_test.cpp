// SPDX-License-Identifier: GPL-3.0-or-later
// The instrument the plugins and the renderer play: pitch bend on the spike rate, the note
// modes told apart by the key orders that differ, every key sounding with stable steps, notes
// started at once, the factory bank's presets keeping their character at A3, the output's level
// bound and what a host's odd expression values do.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "engine/instrument.h"
#include "engine/model_regime.h"
#include "engine/pitch_cycle.h"
#include "engine/render.h"
#include "engine/voice.h"
#include "instrument/factory_presets.h"
#include "instrument/instrument_voice.h"
#include "midi/instrument_messages.h"
#include "midi/midi_messages.h"
#include "tests/tools/score_text.h"
#include "tools/score_render.h"

namespace {

constexpr double Rate = 44100.0;

std::vector<float> rendered(const std::string& text, const ParameterValues& values) {
  std::vector<float> samples;
  renderScore(
      scoreFrom(text), DefaultBlockFrames,
      [&](const float* block, int64_t frames) {
        samples.insert(samples.end(), block, block + frames);
      },
      {}, {}, values);
  return samples;
}

ParameterValues with(ParameterValues values,
                     std::initializer_list<std::pair<uint32_t, double>> set) {
  for (const auto& [id, value] : set) values.value[parameterIndexOfId(id)] = value;
  return values;
}

// A held note, from its attack's end on.
std::vector<float> heldNote(int32_t key, const ParameterValues& values, int64_t frames,
                            const std::string& bend = "") {
  const std::string text =
      "0 midi 90 " + std::to_string(key) + " 127\n" + bend + std::to_string(frames) + " end\n";
  std::vector<float> samples = rendered(text, values);
  samples.erase(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(Rate / 2));
  return samples;
}

// The bend multiplies the step size, so a regularly spiking neuron spikes that much faster.
TEST(Instrument, APitchBendOfTwoSemitonesScalesTheSpikeRate) {
  const ParameterValues spiking =
      with(rendererValues(),
           {{ISlider, 5.0}, {SCheckBox, 2.8}, {SustainSlider, 1.0}, {BendRangeSetting, 4.0}});
  const int64_t frames = 10 * static_cast<int64_t>(Rate);
  const SpikeMeasures plain = measureSpikes(heldNote(33, spiking, frames));
  const SpikeMeasures bent = measureSpikes(heldNote(33, spiking, frames, "0 midi E0 0 96\n"));
  ASSERT_GT(plain.spikes, 500);
  EXPECT_LT(plain.longestInterval, 1.3 * plain.shortestInterval);  // regular spiking
  EXPECT_NEAR(static_cast<double>(bent.spikes) / plain.spikes, std::pow(2.0, 2.0 / 12.0),
              0.005 * std::pow(2.0, 2.0 / 12.0));
}

// The note modes after the same keys: C4 held, E4 pressed, E4 released.
struct ModeRun {
  double frequency = 0.0;     // the pitch after the keys
  bool startedAgain = false;  // E4 began a note of its own, with handover and reset
};

ModeRun playModeKeys(NoteMode mode) {
  auto state = std::make_unique<EngineState>();
  startVoiceWith(*state, Rate,
                 with(defaultValues(), {{NoteModeSetting, static_cast<double>(mode)}}));
  std::vector<float> block(2000);
  playInstrumentMessage(*state, packShortMessage(NoteOnChannel1, 60, 100));
  renderFrames(*state, block.data(), block.size());
  playInstrumentMessage(*state, packShortMessage(NoteOnChannel1, 64, 100));
  const bool startedAgain = state->envelopeReady.load() == 0;
  renderFrames(*state, block.data(), block.size());
  playInstrumentMessage(*state, packShortMessage(NoteOffChannel1, 64, 0));
  return {state->noteFrequency.load(), startedAgain};
}

TEST(Instrument, WindowModeStaysOnTheLatestNote) {
  const ModeRun run = playModeKeys(NoteMode::Window);
  EXPECT_EQ(run.frequency, noteFrequencyOf(64));
  EXPECT_FALSE(run.startedAgain);
}

TEST(Instrument, LastKeyModeReturnsToTheKeyStillHeld) {
  const ModeRun run = playModeKeys(NoteMode::LastKey);
  EXPECT_EQ(run.frequency, noteFrequencyOf(60));
  EXPECT_FALSE(run.startedAgain);
}

TEST(Instrument, RetriggerModeStartsEveryNoteAgain) {
  const ModeRun run = playModeKeys(NoteMode::Retrigger);
  EXPECT_EQ(run.frequency, noteFrequencyOf(64));
  EXPECT_TRUE(run.startedAgain);
}

// Every key sounds and stays bounded with stable steps; keys 0 to 85 play exactly as without.
TEST(Instrument, EveryKeySoundsWithStableSteps) {
  const ParameterValues stable = with(rendererValues(), {{StableStepsSetting, 1.0}});
  const int64_t frames = static_cast<int64_t>(Rate);
  for (int32_t key = 0; key < MidiKeyCount; ++key) {
    const std::vector<float> note = heldNote(key, stable, frames);
    const auto [low, high] = std::minmax_element(note.begin(), note.end());
    EXPECT_GT(*high - *low, 0.05f) << key;
    EXPECT_LT(std::max(-*low, *high), 1.0f) << key;  // x within ±3.3 at the volume of 0.3
    if (key <= 85) {
      EXPECT_EQ(note, heldNote(key, rendererValues(), frames)) << key;
    }
  }
}

// Notes started at once: a note from silence sounds from the frame after its note-on. One
// started over a held note leaves that note's next sample as it was (the new attack starts from
// 0), sums both while the held one fades out, even past a short release of the new one, and is
// then the new note alone, sample for sample as if it had started from silence.
TEST(Instrument, ANoteStartedAtOnceFadesTheNoteBeforeOutBesideIt) {
  const ParameterValues immediate = with(
      rendererValues(), {{NoteStartSetting, 1.0}, {DecaySlider, 0.001}, {ReleaseSlider, 0.01}});
  const std::vector<float> held = rendered("0 midi 90 57 100\n30000 end\n", immediate);
  const std::vector<float> over = rendered(
      "0 midi 90 57 100\n20000 midi 80 57 0\n20000 midi 90 62 100\n30000 end\n", immediate);
  const std::vector<float> alone = rendered("20000 midi 90 62 100\n30000 end\n", immediate);
  EXPECT_EQ(held[0], 0.0f);
  EXPECT_NE(held[1], 0.0f);
  EXPECT_EQ(over[20000], held[20000]);
  EXPECT_NE(over[20500], held[20500]);
  EXPECT_NE(over[20500], alone[20500]);
  const auto fadeEnd = static_cast<std::ptrdiff_t>(20000 + latencySamplesAt(Rate));
  EXPECT_NE(over[fadeEnd - 2], alone[fadeEnd - 2]);
  EXPECT_TRUE(std::equal(over.begin() + fadeEnd, over.end(), alone.begin() + fadeEnd));
  const std::vector<float> released = rendered(
      "0 midi 90 57 100\n20000 midi 80 57 0\n20000 midi 90 62 100\n20100 midi 80 62 0\n"
      "30000 end\n",
      immediate);
  EXPECT_NE(released[fadeEnd - 100], 0.0f);
}

// What each factory preset plays on A3 held with full velocity, from its attack's end on: the
// model's regime and spike rates, judged on x so that an envelope that fades does not hide
// them, and the output's peak, level and offset. A setting that drifts into a neighbouring
// regime, or bursts of another count, fails here.
struct PresetCharacter {
  const char* name;
  ModelRegime regime;
  double spikesPerSecond;
  int32_t spikesPerBurst;  // bursting presets
  double burstsPerSecond;  // bursting presets
  double peak;             // of the whole note
  double level;            // RMS of the held part; about 0 for plucks, which are over by then
};

using enum ModelRegime;
constexpr PresetCharacter Bank[] = {
    {"Regular Spikes", Spiking, 96.0, 0, 0.0, 0.763, 0.150},
    {"Fast Spikes", Spiking, 166.0, 0, 0.0, 0.787, 0.185},
    {"Doublets", Bursting, 29.1, 2, 14.0, 0.867, 0.113},
    {"Triplets", Bursting, 42.0, 3, 13.4, 0.834, 0.121},
    {"Quadruplets", Bursting, 36.6, 4, 8.57, 0.865, 0.118},
    {"Slow Bursts", Bursting, 24.0, 7, 2.86, 0.797, 0.093},
    {"Chaos", Chaotic, 38.3, 0, 0.0, 0.785, 0.108},
    {"Square Buzz", Spiking, 25.7, 0, 0.0, 0.752, 0.277},
    {"Pluck", Spiking, 96.0, 0, 0.0, 0.759, 0.0},
    {"Burst Pluck", Bursting, 42.0, 3, 13.4, 0.714, 0.005},
    {"Slow Pad", Spiking, 96.0, 0, 0.0, 0.739, 0.148},
    {"Burst Pad", Bursting, 29.1, 2, 14.0, 0.887, 0.125},
    {"Restless Pad", Chaotic, 38.3, 0, 0.0, 0.841, 0.109},
    {"Chord Pad", Bursting, 42.0, 3, 13.4, 0.576, 0.086},
    {"Chord Pluck", Spiking, 130.6, 0, 0.0, 0.512, 0.0},
    {"Start-up Neuron", Bursting, 116.3, 9, 12.6, 0.893, 0.143},
};

struct PresetSound {
  ModelRegime regime = Silent;
  SpikeMeasures spikes;
  double seconds = 0.0;  // the held part measured
  double peak = 0.0;
  double level = 0.0;
  double offset = 0.0;
};

PresetSound playPreset(const FactoryPreset& preset) {
  constexpr int32_t A3 = 57;
  constexpr uint32_t Points = 1u << 18;  // more than the note's frames: x of every sample
  const auto frames = static_cast<std::size_t>(4 * Rate);
  const auto attack = static_cast<std::size_t>(Rate / 2);
  auto state = std::make_unique<EngineState>();
  // In Model mode: Key mode steps the model as A3 does, the same regimes and bursts, at the
  // key's own speed (the test below holds that).
  startVoiceWith(
      *state, Rate,
      with(presetValues(preset), {{PitchSetting, static_cast<double>(PitchMode::Model)}}));
  playInstrumentMessage(*state, packShortMessage(NoteOnChannel1, A3, 127));
  std::vector<float> output(frames);
  std::vector<float> points(2 * Points);
  ModelTrace trace{points.data(), Points - 1, 0, 1, 1};
  for (std::size_t done = 0; done < frames; done += DefaultBlockFrames) {
    renderFramesTraced(*state, output.data() + done,
                       std::min<std::size_t>(DefaultBlockFrames, frames - done), trace);
  }
  std::vector<float> x(frames - attack);
  for (std::size_t point = 0; point < x.size(); ++point) x[point] = points[2 * (attack + point)];
  PresetSound sound{regimeOf(x), measureSpikes(x), static_cast<double>(x.size()) / Rate};
  for (std::size_t frame = 0; frame < frames; ++frame) {
    sound.peak = std::max(sound.peak, std::fabs(static_cast<double>(output[frame])));
    if (frame < attack) continue;
    sound.level += static_cast<double>(output[frame]) * output[frame];
    sound.offset += output[frame];
  }
  sound.level = std::sqrt(sound.level / static_cast<double>(x.size()));
  sound.offset /= static_cast<double>(x.size());
  return sound;
}

TEST(Instrument, EveryFactoryPresetKeepsItsCharacterAtA3) {
  ASSERT_EQ(std::size(Bank), factoryPresets().size());
  for (const PresetCharacter& expected : Bank) {
    SCOPED_TRACE(expected.name);
    const FactoryPreset* preset = findFactoryPreset(expected.name);
    ASSERT_NE(preset, nullptr);
    const PresetSound sound = playPreset(*preset);
    EXPECT_STREQ(regimeName(sound.regime), regimeName(expected.regime));
    EXPECT_NEAR(sound.spikes.spikes / sound.seconds, expected.spikesPerSecond,
                0.03 * expected.spikesPerSecond);
    if (expected.regime == Bursting) {
      EXPECT_EQ(sound.spikes.spikesPerBurst, expected.spikesPerBurst);
      EXPECT_NEAR(sound.spikes.bursts / sound.seconds, expected.burstsPerSecond,
                  0.1 * expected.burstsPerSecond);
    }
    EXPECT_NEAR(sound.peak, expected.peak, 0.1 * expected.peak);
    EXPECT_NEAR(sound.level, expected.level, 0.1 * expected.level + 0.002);
    EXPECT_LT(std::fabs(sound.offset), 2e-3);  // the DC filter, on in every preset
  }
}

// A song of `events` random notes, bends, mod wheel and pressure moves, retriggered quickly.
std::string randomSong(std::mt19937& random, int32_t events, int64_t frames) {
  std::uniform_int_distribution<int32_t> data(0, 127);
  std::uniform_int_distribution<int32_t> kind(0, 5);
  std::string text;
  int64_t frame = 0;
  for (int32_t event = 0; event < events; ++event) {
    frame += std::uniform_int_distribution<int64_t>(0, 2 * frames / events)(random);
    if (frame >= frames) break;
    const std::string at = std::to_string(frame);
    const std::string one = std::to_string(data(random));
    const std::string two = std::to_string(data(random));
    // Notes on and off, a bend, the mod wheel and channel pressure.
    const std::string messages[] = {"90 " + one + " " + two, "90 " + one + " " + two,
                                    "80 " + one + " 0",      "e0 " + one + " " + two,
                                    "b0 1 " + two,           "d0 " + one};
    text += at + " midi " + messages[kind(random)] + "\n";
  }
  return text + std::to_string(frames) + " end\n";
}

// Every parameter anywhere in its range, the channel Omni.
ParameterValues randomValues(std::mt19937& random) {
  ParameterValues values;
  for (std::size_t index = 0; index < ParameterCount; ++index) {
    const InstrumentParameter& parameter = instrumentParameters()[index];
    const double at = std::uniform_real_distribution<double>(0.0, 1.0)(random);
    values.value[index] =
        playableValue(parameter, parameter.minimum + at * (parameter.maximum - parameter.minimum));
  }
  values.value[parameterIndexOfId(ChannelParameterId)] = OmniChannel;
  return values;
}

double peakOf(const std::vector<float>& samples) {
  double peak = 0.0;
  for (const float sample : samples) peak = std::max(peak, std::fabs(static_cast<double>(sample)));
  return peak;
}

// No sample is louder than LevelBound times the volume, whatever the parameters, the notes and
// the rate: among them two settings where a note fading out beside a new one and the DC
// filter's overshoot went to 15 and 14 times the volume.
TEST(Instrument, NoSampleIsLouderThanTheLevelBound) {
  const ParameterValues quickImmediate = with(defaultValues(), {{NoteStartSetting, 1.0},
                                                                {NoteModeSetting, 2.0},
                                                                {ASlider, 0.5},
                                                                {BSlider, 1.7023},
                                                                {RSlider, 0.01},
                                                                {ISlider, 1.004},
                                                                {SCheckBox, 2.8},
                                                                {AttackSlider, 0.0001},
                                                                {SustainSlider, 1.0}});
  const ParameterValues slowGlide =
      with(defaultValues(), {{NoteModeSetting, 1.0}, {GlideSetting, 0.02}, {RSlider, 0.0005}});
  std::mt19937 random(20261208);
  for (int32_t song = 0; song < 48; ++song) {
    const ParameterValues values = song == 0   ? quickImmediate
                                   : song == 1 ? slowGlide
                                               : randomValues(random);
    Score score = scoreFrom(randomSong(random, song < 2 ? 400 : 60, 44100));
    if (song % 3 == 2) score = scoreAtRate(score, 96000.0);
    std::vector<float> samples;
    renderScore(
        score, DefaultBlockFrames,
        [&](const float* block, int64_t frames) {
          samples.insert(samples.end(), block, block + frames);
        },
        {}, {}, values);
    const double volume = values.value[parameterIndexOfId(VolumeSlider)] *
                          values.value[parameterIndexOfId(VoicesParameterId)];
    EXPECT_LE(peakOf(samples), LevelBound * volume) << "song " << song;
  }
}

// A NaN or infinite expression or parameter is ignored and the voice keeps the last finite
// value; tuning and bend beyond their ranges are held at their ends, and the sub-steps a sample
// takes stay bounded however far the step goes.
TEST(Instrument, NonFiniteAndOutOfRangeExpressionKeepTheVoicePlaying) {
  constexpr double Nan = std::numeric_limits<double>::quiet_NaN();
  constexpr double Infinity = std::numeric_limits<double>::infinity();
  for (const double odd : {Nan, Infinity, -Infinity}) {
    auto voice = std::make_unique<InstrumentVoice>();
    startInstrumentVoice(*voice, Rate, defaultValues());
    playNoteEvent(*voice, NoteEventKind::Pressure, -1, -1, odd);
    playNoteEvent(*voice, NoteEventKind::On, 0, 60, odd);
    playNoteEvent(*voice, NoteEventKind::Tuning, 0, 60, odd);
    setInstrumentParameter(*voice, static_cast<std::size_t>(parameterIndexOfId(ISlider)), odd);
    std::vector<float> output(22050);
    renderVoice(*voice, output.data(), static_cast<uint32_t>(output.size()));
    EXPECT_GT(peakOf(output), 0.1) << odd;
    EXPECT_EQ(voice->engine.instrument.stepFactor, 1.0) << odd;
    EXPECT_EQ(voice->engine.instrument.offsetOfI, 0.0) << odd;
  }
  for (const double semitones : {120.0, 200.0, 1e308}) {
    EngineState state;
    tuneNote(state, semitones);
    EXPECT_EQ(state.instrument.stepFactor, 1024.0) << semitones;
  }
  for (const double step : {0.0, 0.2, 0.21, 25.6, 1e9, Infinity, Nan}) {
    EXPECT_GE(subStepsFor(step), 1) << step;
    EXPECT_LE(subStepsFor(step), MostSubSteps) << step;
  }
}

}  // namespace

namespace {

// The correlation of `x` with itself `lag` samples later, over `span` samples.
double correlationAt(const std::vector<float>& x, std::size_t lag, std::size_t span) {
  double product = 0.0;
  double energy = 0.0;
  for (std::size_t i = 0; i < span; ++i) {
    product += static_cast<double>(x[i]) * x[i + lag];
    energy += static_cast<double>(x[i]) * x[i];
  }
  return product / energy;
}

// The heard period near `period` samples, read between samples by a parabola; 0 when a shorter
// lag repeats the sound as well (the fundamental lies higher).
double heardPeriod(const std::vector<float>& x, double period) {
  const auto span = static_cast<std::size_t>(20 * period);
  std::size_t best = 0;
  double strongest = -1.0;
  for (auto lag = static_cast<std::size_t>(0.97 * period); lag <= 1.03 * period + 1; ++lag) {
    const double value = correlationAt(x, lag, span);
    if (value > strongest) std::tie(strongest, best) = std::pair{value, lag};
  }
  for (auto lag = static_cast<std::size_t>(0.3 * period); lag < 0.9 * period; ++lag) {
    if (correlationAt(x, lag, span) > 0.95 * strongest) return 0.0;
  }
  const double left = correlationAt(x, best - 1, span);
  const double right = correlationAt(x, best + 1, span);
  return best + 0.5 * (left - right) / (left - 2.0 * strongest + right);
}

// The mean interval between spikes, in samples: rising crossings of the middle of x's range,
// each read between two samples.
double meanSpikeInterval(const std::vector<float>& x) {
  const auto [low, high] = std::minmax_element(x.begin(), x.end());
  const double middle = (static_cast<double>(*low) + *high) / 2.0;
  std::vector<double> crossings;
  for (std::size_t i = 1; i < x.size(); ++i) {
    if (x[i - 1] < middle && x[i] >= middle) {
      crossings.push_back(static_cast<double>(i - 1) + (middle - x[i - 1]) / (x[i] - x[i - 1]));
    }
  }
  return (crossings.back() - crossings.front()) / static_cast<double>(crossings.size() - 1);
}

// A note of `key` held at `rate`, from its second second on.
std::vector<float> heldAtRate(const ParameterValues& values, int32_t key, double rate) {
  const Score score = scoreFrom("0 midi 90 " + std::to_string(key) + " 127\n80000 end\n");
  std::vector<float> samples;
  renderScore(
      scoreAtRate(score, rate), DefaultBlockFrames,
      [&](const float* block, int64_t frames) {
        samples.insert(samples.end(), block, block + frames);
      },
      {}, {}, values);
  samples.erase(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(rate));
  return samples;
}

struct PresetAtRate {
  std::string regime;
  int32_t spikesPerBurst = 0;
  double pitch = 0.0;  // cents off `frequency`; without one, a chaotic sound's spikes a second
};

PresetAtRate measureAtRate(const std::vector<float>& samples, double rate, double frequency) {
  const ModelRegime regime = regimeOf(samples);
  PresetAtRate sound{regimeName(regime),
                     regime == Bursting ? measureSpikes(samples).spikesPerBurst : 0};
  sound.pitch = frequency > 0.0
                    ? 1200.0 * std::log2(rate / frequency / heardPeriod(samples, rate / frequency))
                    : 1200.0 * std::log2(rate / meanSpikeInterval(samples));
  return sound;
}

}  // namespace

// Key mode: every periodic preset of the bank sounds at its key at every rate, wherever its
// cycle fits the steps a sample allow; every preset plays the same pitch (a chaotic one's spikes
// a second) at every rate, and at key 48 the same regime and spikes per burst, as measured on
// its sound. Transpose and
// fine tune move the pitch by what they say: in Key mode from the key, in Model mode to the key
// they name (whose step rounds its period to whole samples, a few cents away).
TEST(Instrument, KeyModePlaysEveryPeriodicPresetInTuneAtEveryRate) {
  for (const FactoryPreset& preset : factoryPresets()) {
    const ParameterValues values = with(presetValues(preset), {{SustainSlider, 1.0}});
    EngineState probe;
    startVoiceWith(probe, Rate, values);
    const CycleMeasure cycle = measureCycle(modelParametersOf(probe), WholeMeasureSteps);
    const bool periodic = cycle.kind == CycleKind::Spiking || cycle.kind == CycleKind::Bursting;
    for (const int32_t key : {36, 48, 60, 72, 84}) {
      const double frequency = noteFrequencyOf(key);
      const bool fits = cycle.steps * frequency <= KeyStepsPerSecondLimit;
      PresetAtRate atFirstRate;
      for (const double rate : {Rate, 48000.0, 96000.0}) {
        const PresetAtRate sound =
            measureAtRate(heldAtRate(values, key, rate), rate, periodic ? frequency : 0.0);
        const std::string trace = std::string(preset.name) + " key " + std::to_string(key) +
                                  " at " + std::to_string(rate);
        if (periodic && fits && (key == 36 || key == 60 || key == 84)) {
          EXPECT_LE(std::fabs(sound.pitch), 3.0) << trace;
        }
        if (key < 48 || key > 72) continue;
        if (rate == Rate) atFirstRate = sound;
        if (key == 48) {  // higher, a burst's spikes merge within 44.1 kHz's band: no count
          EXPECT_EQ(sound.regime, atFirstRate.regime) << trace;
          EXPECT_EQ(sound.spikesPerBurst, atFirstRate.spikesPerBurst) << trace;
        }
        if (fits) {
          EXPECT_NEAR(sound.pitch, atFirstRate.pitch, 3.0) << trace;  // cents
        }
      }
    }
  }
  const ParameterValues spiking = presetValues(*findFactoryPreset("Regular Spikes"));
  for (const auto& [key, transpose, fine] :
       {std::tuple{48, 12, 0.0}, {72, -24, 0.0}, {61, -2, 100.0}, {36, 24, 0.0}}) {
    for (const PitchMode mode : {PitchMode::Model, PitchMode::Key}) {
      const ParameterValues plain = with(spiking, {{PitchSetting, static_cast<double>(mode)}});
      const double moved = meanSpikeInterval(heldAtRate(
          with(plain, {{TransposeSetting, transpose}, {FineTuneSetting, fine}}), key, Rate));
      const int32_t named = key + transpose + static_cast<int32_t>(fine / 100.0);
      const bool keyed = mode == PitchMode::Key;
      const double expected =
          keyed ? Rate / noteFrequencyOf(named) : meanSpikeInterval(heldAtRate(plain, named, Rate));
      EXPECT_NEAR(1200.0 * std::log2(expected / moved), 0.0, keyed ? 3.0 : 8.0)
          << key << " " << transpose << " " << fine << " " << keyed;
    }
  }
}
