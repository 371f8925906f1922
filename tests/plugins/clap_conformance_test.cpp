// SPDX-License-Identifier: GPL-3.0-or-later
// The CLAP plugin through the checks a plugin validator runs, one test per check: scanning and
// the descriptor, the parameters' texts, defaults and fuzzing, processing notes (consistent or
// not) at every rate and block size, the state and its streams, activation cycles, and each
// function on its own thread. Output is clean when every sample is finite and none subnormal.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <string_view>

#include "engine/instrument.h"
#include "engine/voice.h"
#include "engine/voice_controls.h"
#include "instrument/parameters.h"
#include "tests/plugins/clap_test_host.h"

namespace {

constexpr double Rate = 44100.0;
constexpr uint32_t Block = 512;

bool isClean(const std::vector<float>& samples) {
  for (const float sample : samples) {
    if (!std::isfinite(sample) || std::fpclassify(sample) == FP_SUBNORMAL) return false;
  }
  return true;
}

// Note-ons and note-offs at random frames of a block. Consistent notes turn off only what is
// held; inconsistent ones are anything a careless host or a broken cable sends.
struct NoteGenerator {
  std::mt19937 random{20};
  std::set<uint8_t> held;

  uint8_t byte(int32_t below) { return static_cast<uint8_t>(random() % below); }

  ClapTestEvent consistentNote(uint32_t time) {
    if (!held.empty() && random() % 2 == 0) {
      const uint8_t key = *held.begin();
      held.erase(held.begin());
      return midiEvent(time, 0x80, key, 0);
    }
    const uint8_t key = byte(128);
    held.insert(key);
    return midiEvent(time, 0x90, key, static_cast<uint8_t>(1 + byte(127)));
  }

  ClapTestEvent inconsistentNote(uint32_t time) {
    const uint8_t statuses[] = {0x80, 0x90, 0x90, 0xA0, 0xB0, 0xE0, 0x9F, 0xF0, 0x45};
    return midiEvent(time, statuses[random() % std::size(statuses)], byte(256), byte(256));
  }

  std::vector<ClapTestEvent> block(uint32_t frames, bool consistent) {
    std::vector<uint32_t> times(random() % 5);
    for (uint32_t& time : times) time = static_cast<uint32_t>(random() % frames);
    std::sort(times.begin(), times.end());
    std::vector<ClapTestEvent> events;
    for (const uint32_t time : times) {
      events.push_back(consistent ? consistentNote(time) : inconsistentNote(time));
    }
    return events;
  }
};

std::vector<clap_param_info_t> parameterInfos(ClapTestInstance& instance) {
  std::vector<clap_param_info_t> infos(instance.params->count(instance.plugin));
  for (uint32_t index = 0; index < infos.size(); ++index) {
    instance.params->get_info(instance.plugin, index, &infos[index]);
  }
  return infos;
}

// Every parameter set to a random value in its range (a whole one when stepped), as a
// validator's fuzzer does; `bounds` snaps each to its minimum or maximum.
std::vector<ClapTestEvent> randomParameters(ClapTestInstance& instance, std::mt19937& random,
                                            bool bounds = false, bool nullCookies = false) {
  std::vector<ClapTestEvent> events;
  for (const clap_param_info_t& info : parameterInfos(instance)) {
    double value = std::uniform_real_distribution<double>(info.min_value, info.max_value)(random);
    if ((info.flags & CLAP_PARAM_IS_STEPPED) != 0) value = std::round(value);
    if (bounds) value = random() % 2 == 0 ? info.min_value : info.max_value;
    events.push_back(parameterEvent(0, info.id, value));
    events.back().parameter.cookie = nullCookies ? nullptr : info.cookie;
  }
  return events;
}

std::string textOf(ClapTestInstance& instance, clap_id id, double value) {
  char text[128] = {};
  EXPECT_TRUE(instance.params->value_to_text(instance.plugin, id, value, text, sizeof text));
  return text;
}

double valueOf(ClapTestInstance& instance, clap_id id, const std::string& text) {
  double value = std::nan("");
  EXPECT_TRUE(instance.params->text_to_value(instance.plugin, id, text.c_str(), &value)) << text;
  return value;
}

class ClapConformance : public testing::Test {
 protected:
  static void SetUpTestSuite() { library = openClapLibrary(QUILLFERN_CLAP_PATH); }
  static void TearDownTestSuite() { closeClapLibrary(library); }

  static std::unique_ptr<ClapTestInstance> activeInstance(double rate = Rate,
                                                          uint32_t maxFrames = Block) {
    auto instance = createClapInstance(library);
    EXPECT_TRUE(activateClap(*instance, rate, maxFrames));
    return instance;
  }

  static const clap_plugin_descriptor_t& descriptor() {
    return *library.factory->get_plugin_descriptor(library.factory, 0);
  }

  static ClapLibrary library;
};

ClapLibrary ClapConformance::library;

TEST_F(ClapConformance, AnIdWithTrailingCharactersIsRefused) {
  ASSERT_NE(library.factory, nullptr);
  const std::string id = descriptor().id;
  for (const std::string& wrong :
       {id + "x", id + " ", id.substr(0, id.size() - 1), std::string()}) {
    EXPECT_EQ(createClapInstance(library, wrong.c_str()), nullptr) << "'" << wrong << "'";
  }
  EXPECT_NE(createClapInstance(library, id.c_str()), nullptr);
}

TEST_F(ClapConformance, OnlyThePluginFactoryIsOffered) {
  EXPECT_EQ(library.entry->get_factory("org.quillfern.no-such-factory"), nullptr);
  EXPECT_EQ(library.factory->get_plugin_count(library.factory), 1u);
  EXPECT_EQ(library.factory->get_plugin_descriptor(library.factory, 1), nullptr);
}

TEST_F(ClapConformance, TheInstanceHasTheFactorysDescriptor) {
  const auto instance = createClapInstance(library);
  const clap_plugin_descriptor_t& own = *instance->plugin->desc;
  EXPECT_TRUE(clap_version_is_compatible(own.clap_version));
  for (const auto field : {&clap_plugin_descriptor_t::id, &clap_plugin_descriptor_t::name,
                           &clap_plugin_descriptor_t::vendor, &clap_plugin_descriptor_t::version}) {
    ASSERT_NE(own.*field, nullptr);
    EXPECT_STREQ(own.*field, descriptor().*field);
  }
}

TEST_F(ClapConformance, TheFeaturesNameAnInstrumentOnce) {
  std::multiset<std::string_view> features;
  for (const char* const* feature = descriptor().features; *feature != nullptr; ++feature) {
    features.insert(*feature);
  }
  EXPECT_EQ(features.count(CLAP_PLUGIN_FEATURE_INSTRUMENT), 1u);
  EXPECT_EQ(std::set<std::string_view>(features.begin(), features.end()).size(), features.size());
}

// A value's text reads back as a value with the same text, again and again, for every
// parameter at its ends, its default and random values between.
TEST_F(ClapConformance, ValueToTextToValueIsStable) {
  const auto instance = createClapInstance(library);
  std::mt19937 random(4);
  for (const clap_param_info_t& info : parameterInfos(*instance)) {
    std::vector<double> values{info.min_value, info.max_value, info.default_value};
    for (int32_t draw = 0; draw < 40; ++draw) {
      values.push_back(
          std::uniform_real_distribution<double>(info.min_value, info.max_value)(random));
    }
    for (const double value : values) {
      const std::string text = textOf(*instance, info.id, value);
      const double read = valueOf(*instance, info.id, text);
      EXPECT_EQ(textOf(*instance, info.id, read), text) << info.name << " at " << value;
      EXPECT_EQ(valueOf(*instance, info.id, text), read) << info.name << " at " << value;
      EXPECT_GE(read, info.min_value) << info.name << " " << text;
      EXPECT_LE(read, info.max_value) << info.name << " " << text;
    }
  }
}

// The defaults are what a new voice plays, so a new instance reports them.
TEST_F(ClapConformance, ANewInstanceHoldsTheDefaultsTheVoiceStartsWith) {
  const auto instance = createClapInstance(library);
  const std::vector<double> values = parameterValues(*instance);
  const std::vector<clap_param_info_t> infos = parameterInfos(*instance);
  for (std::size_t index = 0; index < infos.size(); ++index) {
    EXPECT_EQ(values[index], infos[index].default_value) << infos[index].name;
    if (findVoiceControl(static_cast<int32_t>(infos[index].id)) != nullptr) {
      EXPECT_EQ(infos[index].default_value,
                controlStartupValue(static_cast<int32_t>(infos[index].id)))
          << infos[index].name;
    }
  }
}

// Random values, the ends of the ranges and what no host should send (NaN, infinities, far
// out of range), with random notes: the output stays clean, the values in their ranges.
TEST_F(ClapConformance, FuzzedParametersGiveCleanOutput) {
  const auto instance = activeInstance();
  const std::vector<clap_param_info_t> infos = parameterInfos(*instance);
  std::mt19937 random(9);
  NoteGenerator notes;
  for (int32_t permutation = 0; permutation < 60; ++permutation) {
    std::vector<ClapTestEvent> events = randomParameters(*instance, random, permutation % 3 == 1);
    if (permutation % 3 == 2) {
      const double hostile[] = {std::nan(""), INFINITY, -INFINITY, 1e300, -1e300};
      for (ClapTestEvent& event : events) event.parameter.value = hostile[random() % 5];
    }
    for (int32_t run = 0; run < 5; ++run) {
      std::vector<ClapTestEvent> block = notes.block(Block, true);
      if (run == 0) block.insert(block.begin(), events.begin(), events.end());
      ASSERT_TRUE(isClean(processClap(*instance, block, Block))) << "permutation " << permutation;
    }
    const std::vector<double> values = parameterValues(*instance);
    for (std::size_t index = 0; index < infos.size(); ++index) {
      EXPECT_GE(values[index], infos[index].min_value) << infos[index].name;
      EXPECT_LE(values[index], infos[index].max_value) << infos[index].name;
    }
  }
}

TEST_F(ClapConformance, ParameterEventsOfAnotherNamespaceChangeNothing) {
  const auto instance = activeInstance();
  const std::vector<double> before = parameterValues(*instance);
  std::mt19937 random(5);
  std::vector<ClapTestEvent> events = randomParameters(*instance, random, true);
  for (ClapTestEvent& event : events) event.header.space_id = 0xb33f;
  processClap(*instance, events, Block);
  flushClap(*instance, events);
  EXPECT_EQ(parameterValues(*instance), before);
}

TEST_F(ClapConformance, NotesOutOfPlaceGiveCleanOutput) {
  const auto instance = activeInstance();
  NoteGenerator notes;
  for (int32_t block = 0; block < 400; ++block) {
    ASSERT_TRUE(isClean(processClap(*instance, notes.block(Block, true), Block))) << block;
  }
}

// Offs without ons, ons twice, stray data bytes and system messages.
TEST_F(ClapConformance, InconsistentNotesGiveCleanOutput) {
  const auto instance = activeInstance();
  NoteGenerator notes;
  for (int32_t block = 0; block < 400; ++block) {
    ASSERT_TRUE(isClean(processClap(*instance, notes.block(Block, false), Block))) << block;
  }
}

// CLAP's channels are 0 to 15, and -1 for all of them: a note on another plays nothing, where
// the channel's low four bits name the one the plugin listens to (0, the first, by default).
TEST_F(ClapConformance, NotesOnChannelsPast15AreIgnored) {
  for (const int16_t channel : {-1, 0, 16, 32, 32767}) {
    const auto instance = activeInstance(Rate, 4096);
    ClapTestEvent on{};
    on.note = {{sizeof(clap_event_note_t), 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_NOTE_ON, 0},
               -1,
               0,
               channel,
               60,
               0.8};
    const std::vector<float> output = processClap(*instance, {on}, 4096);
    EXPECT_EQ(std::any_of(output.begin(), output.end(), [](float x) { return x != 0.0f; }),
              channel <= 0)
        << channel;
  }
}

// A chord's notes each keep their own modulation and their own end: I and the volume moved on
// one note by its id play as that note alone with them moved, beside the other as it was, and
// each note, released, is reported ended once, when its voice has fallen silent.
TEST_F(ClapConformance, PerNoteModulationMovesItsNoteAloneAndEachEndIsReported) {
  constexpr uint32_t Frames = 4096;
  constexpr int32_t Blocks = 40;  // the notes, then their release's fade to silence
  const auto play = [](const std::vector<int16_t>& keys, double voices, int32_t modulated) {
    auto instance = activeInstance(Rate, Frames);
    std::vector<std::vector<float>> blocks;
    std::vector<ClapTestEvent> events{parameterEvent(0, VoicesParameterId, voices)};
    for (const int16_t key : keys) events.push_back(noteEvent(0, CLAP_EVENT_NOTE_ON, key, key));
    for (const clap_id id : {static_cast<clap_id>(ISlider), static_cast<clap_id>(VolumeSlider)}) {
      events.push_back(modulationEvent(100, id, modulated, id == ISlider ? 0.5 : -0.25));
    }
    blocks.push_back(processClap(*instance, events, Frames));
    events.clear();
    for (const int16_t key : keys) events.push_back(noteEvent(7, CLAP_EVENT_NOTE_OFF, key, key));
    blocks.push_back(processClap(*instance, events, Frames));
    for (int32_t block = 2; block < Blocks; ++block)
      blocks.push_back(processClap(*instance, {}, Frames));
    return std::pair{std::move(blocks), std::move(instance->endedNotes)};
  };
  const auto [chord, ended] = play({57, 64}, 8.0, 57);
  const auto [modulated, endedAlone] = play({57}, 1.0, -1);
  const auto [unmoved, unused] = play({64}, 1.0, 0);  // a note id no note has
  int32_t lastSound = -1;
  for (int32_t block = 0; block < Blocks; ++block) {
    for (uint32_t frame = 0; frame < Frames; ++frame) {
      const float sum = 0.0f + modulated[block][frame] + unmoved[block][frame];
      ASSERT_EQ(chord[block][frame], sum) << "block " << block << ", frame " << frame;
      if (sum != 0.0f) lastSound = block;
    }
  }
  ASSERT_LT(lastSound, Blocks - 1) << "the release never fell silent";
  ASSERT_EQ(ended.size(), 2u);
  EXPECT_NE(ended[0].note_id, ended[1].note_id);
  for (const clap_event_note_t& end : ended) {
    EXPECT_EQ(end.note_id, end.key);
    EXPECT_EQ(end.header.type, CLAP_EVENT_NOTE_END);
  }
  EXPECT_EQ(endedAlone.size(), 1u);
}

// Every rate from 8000 to 384000 Hz, fractional ones too, with the latency of that rate; rates
// outside are refused and leave the instance as it was.
TEST_F(ClapConformance, EverySampleRateFrom8000To384000HzPlays) {
  for (const double rate : {8000.0, 11025.0, 12345.678, 16000.0, 22050.0, 44100.0, 45678.901,
                            88200.0, 123456.789, 192000.0, 352800.0, 384000.0}) {
    const auto instance = activeInstance(rate);
    EXPECT_EQ(instance->latency->get(instance->plugin),
              static_cast<uint32_t>(latencySamplesAt(rate)))
        << rate;
    NoteGenerator notes;
    for (int32_t block = 0; block < 100; ++block) {
      ASSERT_TRUE(isClean(processClap(*instance, notes.block(Block, true), Block))) << rate;
    }
  }
  for (const double rate : {1000.0, 7999.9, 384000.5, 768000.0, -44100.0, std::nan(""), HUGE_VAL}) {
    const auto instance = createClapInstance(library);
    EXPECT_FALSE(instance->plugin->activate(instance->plugin, rate, 1, Block)) << rate;
    EXPECT_TRUE(activateClap(*instance, Rate, Block)) << rate;
  }
}

// Blocks of every size up to the maximum given at activation, and random sizes below it.
TEST_F(ClapConformance, EveryBlockSizePlays) {
  std::mt19937 random(3);
  for (const uint32_t maxFrames : {1u, 17u, 256u, 1024u, 2048u, 16384u}) {
    const auto instance = activeInstance(Rate, maxFrames);
    NoteGenerator notes;
    for (int32_t block = 0; block < 64; ++block) {
      const uint32_t frames = block % 2 == 0 ? maxFrames : 1 + random() % maxFrames;
      ASSERT_TRUE(isClean(processClap(*instance, notes.block(frames, true), frames))) << maxFrames;
    }
  }
}

std::vector<float> playNotes(ClapTestInstance& instance) {
  NoteGenerator notes;
  std::vector<float> played;
  for (int32_t block = 0; block < 200; ++block) {
    const std::vector<float> samples = processClap(instance, notes.block(Block, true), Block);
    played.insert(played.end(), samples.begin(), samples.end());
  }
  return played;
}

TEST_F(ClapConformance, ResetAndReactivationRepeatTheSound) {
  const auto instance = activeInstance();
  std::mt19937 random(8);
  processClap(*instance, randomParameters(*instance, random), 1);
  const std::vector<float> first = playNotes(*instance);
  instance->plugin->reset(instance->plugin);
  EXPECT_EQ(playNotes(*instance), first);
  deactivateClap(*instance);
  ASSERT_TRUE(activateClap(*instance, Rate, Block));
  EXPECT_EQ(playNotes(*instance), first);
}

// Nothing that is not a whole state of this plugin loads, and a refused state changes nothing:
// not the values, not the state saved, not the sound.
TEST_F(ClapConformance, InvalidStateIsRefusedWithoutHarm) {
  const auto instance = createClapInstance(library);
  std::mt19937 random(2);
  flushClap(*instance, randomParameters(*instance, random));
  const std::vector<double> values = parameterValues(*instance);
  std::string saved;
  ASSERT_TRUE(saveClapState(*instance, saved));
  std::string noise(1 << 20, '\0');
  for (char& byte : noise) byte = static_cast<char>(random());
  for (const std::string& invalid :
       {std::string(), noise, noise + saved, saved.substr(0, saved.size() / 2),
        std::string("quillfern-plugin-state 2\nr 0.5\nend\n"),
        std::string("quillfern-plugin-state 9\n"),
        std::string("quillfern-plugin-state 2\nr fast\nend\n"), std::string("\x00\x01\x02", 3)}) {
    EXPECT_FALSE(loadClapState(*instance, invalid)) << invalid.substr(0, 40);
    EXPECT_EQ(parameterValues(*instance), values);
    std::string again;
    ASSERT_TRUE(saveClapState(*instance, again));
    EXPECT_EQ(again, saved);
  }
  EXPECT_EQ(instance->calls.rescans.load(), 0);
  ASSERT_TRUE(activateClap(*instance, Rate, Block));
  EXPECT_TRUE(isClean(playNotes(*instance)));
}

// Random values through process(), saved; a new instance loads the state and reports the same
// values and saves the same state.
void checkStateReproducible(const ClapLibrary& library, bool nullCookies) {
  std::mt19937 random(6);
  std::string saved;
  std::vector<double> values;
  {
    const auto instance = createClapInstance(library);
    ASSERT_TRUE(activateClap(*instance, Rate, Block));
    processClap(*instance, randomParameters(*instance, random, false, nullCookies), Block);
    values = parameterValues(*instance);
    ASSERT_TRUE(saveClapState(*instance, saved));
  }
  const auto reloaded = createClapInstance(library);
  ASSERT_TRUE(loadClapState(*reloaded, saved));
  EXPECT_EQ(parameterValues(*reloaded), values);
  std::string again;
  ASSERT_TRUE(saveClapState(*reloaded, again));
  EXPECT_EQ(again, saved);
}

TEST_F(ClapConformance, AStateReloadsIntoTheSameValuesAndState) {
  checkStateReproducible(library, false);
}

TEST_F(ClapConformance, AStateOfEventsWithNullCookiesReloadsAlike) {
  checkStateReproducible(library, true);
}

// The same values set through flush() on an inactive instance and through process() on an
// active one give the same state.
TEST_F(ClapConformance, TheStateAfterFlushIsTheStateAfterProcess) {
  std::mt19937 random(7);
  const auto flushed = createClapInstance(library);
  const std::vector<double> before = parameterValues(*flushed);
  const std::vector<ClapTestEvent> events = randomParameters(*flushed, random);
  flushClap(*flushed, events);
  EXPECT_NE(parameterValues(*flushed), before);
  std::string fromFlush;
  ASSERT_TRUE(saveClapState(*flushed, fromFlush));

  const auto processed = activeInstance();
  processClap(*processed, events, Block);
  std::string fromProcess;
  ASSERT_TRUE(saveClapState(*processed, fromProcess));
  EXPECT_EQ(fromProcess, fromFlush);
  EXPECT_EQ(parameterValues(*processed), parameterValues(*flushed));
}

// A host may move a stream's bytes a few at a time: the plugin loops until all have moved.
TEST_F(ClapConformance, TheStateMovesThroughStreamsOfOneByteAndOfSeven) {
  std::mt19937 random(1);
  const auto instance = createClapInstance(library);
  flushClap(*instance, randomParameters(*instance, random));
  std::string whole;
  ASSERT_TRUE(saveClapState(*instance, whole));
  for (const std::size_t bytesPerCall : {std::size_t{1}, std::size_t{7}}) {
    std::string piecewise;
    ASSERT_TRUE(saveClapState(*instance, piecewise, bytesPerCall));
    EXPECT_EQ(piecewise, whole);
    const auto reloaded = createClapInstance(library);
    ASSERT_TRUE(loadClapState(*reloaded, whole, bytesPerCall));
    EXPECT_EQ(parameterValues(*reloaded), parameterValues(*instance));
  }
}

// The latency follows the rate; the host hears of each change while activating, and only then.
TEST_F(ClapConformance, ActivationCyclesTellTheHostOfEachNewLatency) {
  const auto instance = createClapInstance(library);
  EXPECT_EQ(instance->latency->get(instance->plugin),
            static_cast<uint32_t>(latencySamplesAt(Rate)));
  int32_t changes = 0;
  uint32_t latency = instance->latency->get(instance->plugin);
  for (const double rate : {Rate, 48000.0, 48000.0, 8000.0, Rate, 96000.0, 384000.0}) {
    ASSERT_TRUE(activateClap(*instance, rate, Block)) << rate;
    const uint32_t now = instance->latency->get(instance->plugin);
    EXPECT_EQ(now, static_cast<uint32_t>(latencySamplesAt(rate))) << rate;
    changes += now != latency ? 1 : 0;
    latency = now;
    EXPECT_EQ(instance->calls.latencyChanges.load(), changes) << rate;
    EXPECT_TRUE(isClean(processClap(*instance, {midiEvent(0, 0x90, 60, 100)}, Block)));
    deactivateClap(*instance);
  }
  // Notes started at once have no latency: told at once while inactive; while active the host
  // is asked for a restart, and the new latency comes with the next activation.
  flushClap(*instance, {parameterEvent(0, NoteStartSetting, 1.0)});
  EXPECT_EQ(instance->latency->get(instance->plugin), 0u);
  EXPECT_EQ(instance->calls.latencyChanges.load(), ++changes);
  ASSERT_TRUE(activateClap(*instance, Rate, Block));
  processClap(*instance, {parameterEvent(0, NoteStartSetting, 0.0)}, Block);
  EXPECT_EQ(instance->calls.restartRequests.load(), 1);
  EXPECT_EQ(instance->latency->get(instance->plugin), 0u);
  deactivateClap(*instance);
  ASSERT_TRUE(activateClap(*instance, Rate, Block));
  EXPECT_EQ(instance->latency->get(instance->plugin),
            static_cast<uint32_t>(latencySamplesAt(Rate)));
  EXPECT_EQ(instance->calls.latencyChanges.load(), ++changes);
  deactivateClap(*instance);
  EXPECT_EQ(instance->calls.misplaced.load(), 0);
}

// process() runs on an audio thread of its own while the main thread reads and sets the
// parameters and saves and loads states: the plugin calls the host only from the threads its
// calls belong on (a thread sanitizer build also sees every access the two threads share).
TEST_F(ClapConformance, EachFunctionRunsOnItsOwnThread) {
  const auto instance = activeInstance(Rate, 64);
  std::atomic<bool> clean{true};
  std::thread audio([&] {
    NoteGenerator notes;
    std::mt19937 random(10);
    for (int32_t block = 0; block < 3000; ++block) {
      std::vector<ClapTestEvent> events = notes.block(64, true);
      if (block % 50 == 0) events = randomParameters(*instance, random);
      if (!isClean(processClap(*instance, events, 64))) clean = false;
    }
  });
  for (int32_t round = 0; round < 200; ++round) {
    std::string state;
    EXPECT_TRUE(saveClapState(*instance, state));
    for (const clap_param_info_t& info : parameterInfos(*instance)) {
      double value = 0.0;
      instance->params->get_value(instance->plugin, info.id, &value);
      valueOf(*instance, info.id, textOf(*instance, info.id, value));
    }
    instance->latency->get(instance->plugin);
    if (round % 20 == 0) {
      EXPECT_TRUE(loadClapState(*instance, state));
    }
  }
  audio.join();
  EXPECT_TRUE(clean);
  EXPECT_GT(instance->calls.rescans.load(), 0);
  EXPECT_EQ(instance->calls.misplaced.load(), 0);
}

}  // namespace
