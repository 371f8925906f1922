// SPDX-License-Identifier: GPL-3.0-or-later
// The cost of rendering one sample, against two floors: the bare model recurrence, and the
// same recurrence reading the shared parameters anew on every sample. The voice is measured
// holding a note in blocks of 1, 64 and 256 frames, silent before its first note and after its
// release, holding key 127 with stable steps, the dearest note: ten sub-steps a sample, and with
// two models overlapping as notes start at once; chords of 1, 4, 8 and 16 voices held, side by
// side and one voice after another; Key mode at A4 and its dearest note at key 96.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "engine/instrument.h"
#include "engine/oscillator.h"
#include "engine/render.h"
#include "engine/voice.h"
#include "instrument/factory_presets.h"
#include "instrument/instrument_voice.h"
#include "midi/midi_messages.h"

namespace {

constexpr int BlockFrames = 256;
constexpr int PreRollFrames = 100096;  // past the handover, the attack and the decay (or a release)
constexpr double StepAt218Hz = 8.0f / 202.0f;

void countSamples(benchmark::State& run, int frames = BlockFrames) {
  run.SetItemsProcessed(run.iterations() * frames);
}

// Renders blocks of `frames` (the benchmark's argument) as the live callback does, on a voice
// at 44100 Hz with its envelope at the window's initial positions.
void renderBlocks(benchmark::State& run, EngineState& voice) {
  const auto frames = static_cast<int>(run.range(0));
  std::vector<float> block(static_cast<std::size_t>(frames));
  for (auto _ : run) {
    renderFrames(voice, block.data(), static_cast<unsigned long>(frames));
    benchmark::DoNotOptimize(block.data());
    benchmark::ClobberMemory();
  }
  countSamples(run, frames);
}

// `key` held into its sustain.
void holdNote(EngineState& voice, uint8_t key) {
  handleMidiNotice(voice, MidiDataNotice, packShortMessage(NoteOnChannel1, key, 100));
  std::vector<float> block(BlockFrames);
  for (int frame = 0; frame < PreRollFrames; frame += BlockFrames) {
    renderFrames(voice, block.data(), BlockFrames);
  }
}

// A note held in its sustain.
void RenderCallbackSustain(benchmark::State& run) {
  auto voice = std::make_unique<EngineState>();
  startVoice(*voice, DefaultSampleRate);
  holdNote(*voice, 57);
  renderBlocks(run, *voice);
}
BENCHMARK(RenderCallbackSustain)->Arg(BlockFrames)->Arg(64)->Arg(1);

// The plugins' voice, its notes held into their sustain, rendered in blocks.
void renderHeldVoice(benchmark::State& run, InstrumentVoice& voice) {
  std::vector<float> block(BlockFrames);
  for (int frame = 0; frame < PreRollFrames; frame += BlockFrames) {
    renderVoice(voice, block.data(), BlockFrames);
  }
  for (auto _ : run) {
    renderVoice(voice, block.data(), BlockFrames);
    benchmark::DoNotOptimize(block.data());
    benchmark::ClobberMemory();
  }
  countSamples(run);
}

// The chord's keys: minor thirds up from A2.
uint8_t chordKey(int32_t note) {
  return static_cast<uint8_t>(45 + 3 * note);
}

// A chord of `voices` notes held into their sustain, a voice each, per sample of the chord's
// output: the voices holding their sustain step side by side.
void RenderChordHeld(benchmark::State& run) {
  const auto voices = static_cast<int32_t>(run.range(0));
  auto voice = std::make_unique<InstrumentVoice>();
  ParameterValues values = rendererValues();
  values.value[parameterIndexOfId(VoicesParameterId)] = voices;
  startInstrumentVoice(*voice, DefaultSampleRate, values);
  for (int32_t note = 0; note < voices; ++note) {
    playMessage(*voice, packShortMessage(NoteOnChannel1, chordKey(note), 100));
  }
  renderHeldVoice(run, *voice);
}
BENCHMARK(RenderChordHeld)->Arg(1)->Arg(4)->Arg(8)->Arg(16);

// The same chord one voice after another, as a voice alone renders, each block summed in voice
// order: what the chord would cost without its lanes.
void RenderChordHeldScalar(benchmark::State& run) {
  const auto voices = static_cast<std::size_t>(run.range(0));
  std::vector<std::unique_ptr<EngineState>> engines;
  for (std::size_t note = 0; note < voices; ++note) {
    engines.push_back(std::make_unique<EngineState>());
    startVoiceWith(*engines.back(), DefaultSampleRate, rendererValues());
    handleMidiNotice(*engines.back(), MidiDataNotice,
                     packShortMessage(NoteOnChannel1, chordKey(static_cast<int32_t>(note)), 100));
  }
  std::vector<float> block(BlockFrames);
  std::vector<float> part(BlockFrames);
  const auto renderChord = [&] {
    std::fill(block.begin(), block.end(), 0.0f);
    for (const auto& engine : engines) {
      renderFrames(*engine, part.data(), BlockFrames);
      for (int frame = 0; frame < BlockFrames; ++frame) block[frame] += part[frame];
    }
  };
  for (int frame = 0; frame < PreRollFrames; frame += BlockFrames) renderChord();
  for (auto _ : run) {
    renderChord();
    benchmark::DoNotOptimize(block.data());
    benchmark::ClobberMemory();
  }
  countSamples(run);
}
BENCHMARK(RenderChordHeldScalar)->Arg(1)->Arg(4)->Arg(8)->Arg(16);

// Notes started at once, each a handover's length after the one before: on every sample the
// new note's model and the fading one's both step.
void RenderCallbackOverlap(benchmark::State& run) {
  auto voice = std::make_unique<EngineState>();
  startVoice(*voice, DefaultSampleRate);
  setInstrumentValue(*voice, NoteStartSetting, static_cast<double>(NoteStart::Immediate));
  const int overlap = voice->handoverLimit + 1;
  std::vector<float> block(BlockFrames);
  int key = 57;
  const auto playNextNote = [&] {
    handleMidiNotice(*voice, MidiDataNotice, packShortMessage(NoteOffChannel1, key, 0));
    key = key == 57 ? 60 : 57;
    handleMidiNotice(*voice, MidiDataNotice, packShortMessage(NoteOnChannel1, key, 100));
    for (int frame = 0; frame < overlap; frame += BlockFrames) {
      renderFrames(*voice, block.data(), std::min(BlockFrames, overlap - frame));
    }
  };
  playNextNote();  // the first has nothing to fade
  for (auto _ : run) {
    playNextNote();
    benchmark::DoNotOptimize(block.data());
    benchmark::ClobberMemory();
  }
  countSamples(run, overlap);
}
BENCHMARK(RenderCallbackOverlap);

// Key 127 with stable steps: the worst cost per sample a note has.
void RenderCallbackKey127Stable(benchmark::State& run) {
  auto voice = std::make_unique<EngineState>();
  startVoice(*voice, DefaultSampleRate);
  setInstrumentValue(*voice, StableStepsSetting, 1.0);
  holdNote(*voice, 127);
  renderBlocks(run, *voice);
}
BENCHMARK(RenderCallbackKey127Stable)->Arg(BlockFrames);

// A voice before its first note: what an instance on a track not yet played costs.
void RenderCallbackSilent(benchmark::State& run) {
  auto voice = std::make_unique<EngineState>();
  startVoice(*voice, DefaultSampleRate);
  renderBlocks(run, *voice);
}
BENCHMARK(RenderCallbackSilent)->Arg(BlockFrames);

// A voice whose note has been released and whose release has ended: the model rests until the
// next note.
void RenderCallbackReleased(benchmark::State& run) {
  auto voice = std::make_unique<EngineState>();
  startVoice(*voice, DefaultSampleRate);
  handleMidiNotice(*voice, MidiDataNotice, packShortMessage(NoteOnChannel1, 57, 100));
  std::vector<float> block(BlockFrames);
  for (int frame = 0; frame < 2 * PreRollFrames; frame += BlockFrames) {
    if (frame == PreRollFrames) {
      handleMidiNotice(*voice, MidiDataNotice, packShortMessage(NoteOffChannel1, 57, 0));
    }
    renderFrames(*voice, block.data(), BlockFrames);
  }
  renderBlocks(run, *voice);
}
BENCHMARK(RenderCallbackReleased)->Arg(BlockFrames);

// The same with a plugin's window open: every sample's x and z go to a ring for the window.
void RenderCallbackTraced(benchmark::State& run) {
  auto voice = std::make_unique<EngineState>();
  startVoice(*voice, DefaultSampleRate);
  handleMidiNotice(*voice, MidiDataNotice, packShortMessage(NoteOnChannel1, 57, 100));
  std::vector<float> block(BlockFrames);
  constexpr uint32_t RingPoints = 1u << 16;
  std::vector<float> ring(2 * RingPoints);
  ModelTrace trace{ring.data(), RingPoints - 1, 0, 1, 1};
  for (int frame = 0; frame < PreRollFrames; frame += BlockFrames) {
    renderFramesTraced(*voice, block.data(), BlockFrames, trace);
  }
  for (auto _ : run) {
    renderFramesTraced(*voice, block.data(), BlockFrames, trace);
    benchmark::DoNotOptimize(block.data());
    benchmark::DoNotOptimize(ring.data());
    benchmark::ClobberMemory();
  }
  countSamples(run);
}
BENCHMARK(RenderCallbackTraced);

// A factory preset held at `key` in Key mode, whatever the plugins' default: the steps a sample
// its cycle takes there are reported with it, so that the cost of a step can be read.
void RenderKeyMode(benchmark::State& run, const char* preset, uint8_t key) {
  ParameterValues values = presetValues(*findFactoryPreset(preset));
  values.value[parameterIndexOfId(PitchSetting)] = static_cast<double>(PitchMode::Key);
  auto voice = std::make_unique<InstrumentVoice>();
  startInstrumentVoice(*voice, DefaultSampleRate, values);
  playMessage(*voice, packShortMessage(NoteOnChannel1, key, 100));
  renderHeldVoice(run, *voice);
  run.counters["steps_per_sample"] = voice->engine.instrument.glideStep;
}

// A4 of the plainest spiking preset.
void RenderKeyModeRegularSpikesA4(benchmark::State& run) {
  RenderKeyMode(run, "Regular Spikes", 69);
}
BENCHMARK(RenderKeyModeRegularSpikesA4);

// The bank's dearest note at key 96: Slow Bursts, the longest cycle, at the steps' limit (as
// every bursting preset is there).
void RenderKeyModeSlowBurstsKey96(benchmark::State& run) {
  RenderKeyMode(run, "Slow Bursts", 96);
}
BENCHMARK(RenderKeyModeSlowBurstsKey96);

// The three update equations, the oscillator's own.
inline void eulerStep(ModelVariables& model, double h, const ModelParameters& p) {
  eulerSteps(model, h, 1, p.a, p.b, p.i, p.r, p.s);
}

void keepModel(ModelVariables& model) {
  benchmark::DoNotOptimize(model.x);
  benchmark::DoNotOptimize(model.y);
  benchmark::DoNotOptimize(model.z);
}

// The floor: the update equations alone, with the state, the parameters and the step size in
// registers. The parameters are values the compiler cannot see, as the sliders' are: with
// constants it would fold the product by a = 1.0 away.
void BareModelRecurrence(benchmark::State& run) {
  ModelVariables model;
  ModelParameters parameters{1.0f, 2.5f, 3.0f, 0.01f, 4.0f, 0.3f};
  double h = StepAt218Hz;
  benchmark::DoNotOptimize(parameters);
  benchmark::DoNotOptimize(h);
  for (auto _ : run) {
    for (int frame = 0; frame < BlockFrames; ++frame) eulerStep(model, h, parameters);
    keepModel(model);
  }
  countSamples(run);
}
BENCHMARK(BareModelRecurrence);

// The floor of a block of one frame: one step a call, the model's variables kept in memory
// between calls as every voice keeps them, and the call itself, with nothing else decided.
[[gnu::noinline]] void stepOnce(ModelVariables& model, double h, const ModelParameters& parameters,
                                float& output) {
  eulerStep(model, h, parameters);
  output = static_cast<float>(model.x * parameters.volume);
}

void BareStepPerCall(benchmark::State& run) {
  ModelVariables model;
  ModelParameters parameters{1.0f, 2.5f, 3.0f, 0.01f, 4.0f, 0.3f};
  double h = StepAt218Hz;
  float output = 0.0f;
  benchmark::DoNotOptimize(parameters);
  benchmark::DoNotOptimize(h);
  for (auto _ : run) {
    stepOnce(model, h, parameters, output);
    benchmark::DoNotOptimize(output);
    benchmark::ClobberMemory();
  }
  countSamples(run, 1);
}
BENCHMARK(BareStepPerCall);

// The same equations reading the five parameters from the shared record on every sample, as
// the voice must (a slider move is heard from the next sample).
void RecurrenceReadingSharedParameters(benchmark::State& run) {
  auto state = std::make_unique<EngineState>();
  startVoice(*state, DefaultSampleRate);
  EngineState* shared = state.get();
  benchmark::DoNotOptimize(shared);
  constexpr auto relaxed = std::memory_order_relaxed;
  ModelVariables model;
  for (auto _ : run) {
    for (int frame = 0; frame < BlockFrames; ++frame) {
      eulerStep(
          model, StepAt218Hz,
          {shared->paramA.load(relaxed), shared->paramB.load(relaxed), shared->paramI.load(relaxed),
           shared->paramR.load(relaxed), shared->paramS.load(relaxed)});
    }
    keepModel(model);
  }
  countSamples(run);
}
BENCHMARK(RecurrenceReadingSharedParameters);

}  // namespace

BENCHMARK_MAIN();
