// SPDX-License-Identifier: GPL-3.0-or-later
// The plugins' process cost per sample, set against the standalone render callback's
// (RenderCallbackSustain): the same note held in its sustain, in blocks of 256, 64 and 1
// frames, rendered through the CLAP process() and the LV2 run() as a host calls them, with no
// events. A block of one frame shows what each call costs besides its samples. Their floor in
// the same run (InstrumentVoiceSustain): the instrument's own render of the same note with the
// plugins' default parameters and no plugin around it, which is what a host pays for a plugin
// whose window it never opens.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "instrument/instrument_voice.h"
#include "midi/midi_messages.h"
#include "tools/plugin_host/format_hosts.h"

namespace {

constexpr int LargestBlock = 256;
constexpr int PreRollFrames = 100000;  // past the handover, the attack and the decay
constexpr double Rate = 44100.0;

// The first block carries the note-on, the pre-roll brings the note to its sustain.
template <typename Plugin, typename Process>
void playSustainedNote(Plugin& plugin, Process process, std::vector<float>& block) {
  const ScoreEvent noteOn{0, ScoreEventKind::Midi, packShortMessage(0x90, 57, 100), 0, 0};
  process(plugin, {{.offset = 0, .kind = BlockEventKind::Score, .event = &noteOn}}, LargestBlock,
          block.data());
  for (int frame = LargestBlock; frame < PreRollFrames; frame += LargestBlock) {
    process(plugin, {}, LargestBlock, block.data());
  }
}

template <typename Plugin, typename Process>
void measure(benchmark::State& run, Plugin& plugin, Process process) {
  std::vector<float> block(LargestBlock);
  playSustainedNote(plugin, process, block);
  const std::vector<BlockEvent> none;
  const auto frames = static_cast<uint32_t>(run.range(0));
  for (auto _ : run) {
    process(plugin, none, frames, block.data());
    benchmark::DoNotOptimize(block.data());
    benchmark::ClobberMemory();
  }
  run.SetItemsProcessed(static_cast<int64_t>(run.iterations()) * frames);
}

// One format's way in: how our offline host opens, plays and closes it.
template <typename Plugin>
struct Format {
  Plugin* (*open)(const std::string& path, double rate, int32_t maxBlock, std::string& error);
  void (*process)(Plugin& plugin, const std::vector<BlockEvent>& events, uint32_t frames,
                  float* output);
  void (*close)(Plugin* plugin);
  const char* path;
};

template <typename Plugin>
void sustain(benchmark::State& run, const Format<Plugin>& format) {
  std::string error;
  Plugin* plugin = format.open(format.path, Rate, LargestBlock, error);
  if (plugin == nullptr) {
    run.SkipWithError(error.c_str());
    return;
  }
  measure(run, *plugin, format.process);
  format.close(plugin);
}

void ClapProcessSustain(benchmark::State& run) {
  sustain(run, Format<ClapHosted>{openClap, processClap, closeClap, QUILLFERN_CLAP_PATH});
}
BENCHMARK(ClapProcessSustain)->Arg(LargestBlock)->Arg(64)->Arg(1);

void Lv2RunSustain(benchmark::State& run) {
  sustain(run, Format<Lv2Hosted>{openLv2, runLv2, closeLv2, QUILLFERN_LV2_BUNDLE});
}
BENCHMARK(Lv2RunSustain)->Arg(LargestBlock)->Arg(64)->Arg(1);

struct BareInstrument {
  std::unique_ptr<InstrumentVoice> voice = std::make_unique<InstrumentVoice>();
};

// The voice as the plugins play it, minus the plugin: the note-on straight to the voice.
void renderBare(BareInstrument& instrument, const std::vector<BlockEvent>& events, uint32_t frames,
                float* output) {
  for (const BlockEvent& event : events) playMessage(*instrument.voice, event.event->message);
  renderVoice(*instrument.voice, output, frames);
}

void InstrumentVoiceSustain(benchmark::State& run) {
  BareInstrument instrument;
  startInstrumentVoice(*instrument.voice, Rate, defaultValues());
  measure(run, instrument, renderBare);
}
BENCHMARK(InstrumentVoiceSustain)->Arg(LargestBlock)->Arg(64)->Arg(1);

}  // namespace
