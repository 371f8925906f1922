// The cost of rendering one sample, against two floors: the bare model recurrence, and the
// same recurrence reading the shared parameters anew on every sample, as the live voice must.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "engine/oscillator.h"
#include "engine/render.h"
#include "midi/midi_messages.h"
#include "ui/control_state.h"

namespace {

constexpr int BlockFrames = 256;
constexpr int PreRollFrames = 100000;  // past the handover, the attack and the decay
constexpr double StepAt218Hz = 8.0f / 202.0f;

void countSamples(benchmark::State& run) {
  run.SetItemsProcessed(run.iterations() * BlockFrames);
}

// The live callback on the program's own engine state, with a note held in its sustain.
void RenderCallbackSustain(benchmark::State& run) {
  assignStartupValues(engineState);
  publishControlState(5, 1);
  publishControlState(6, 1000);
  publishControlState(7, 50);
  publishControlState(8, 1500);
  handleMidiNotice(engineState, MidiDataNotice, packShortMessage(0x90, 57, 100));
  std::vector<float> block(BlockFrames);
  for (int frame = 0; frame < PreRollFrames; frame += BlockFrames) {
    RenderCallback(nullptr, block.data(), BlockFrames, nullptr, 0, nullptr);
  }
  for (auto _ : run) {
    RenderCallback(nullptr, block.data(), BlockFrames, nullptr, 0, nullptr);
    benchmark::DoNotOptimize(block.data());
    benchmark::ClobberMemory();
  }
  countSamples(run);
}
BENCHMARK(RenderCallbackSustain);

// The floor: the three update equations alone, in the same precision and order, with the state,
// the parameters and the step size in registers. The parameters are values the compiler cannot
// see, as the sliders' are: with constants it would fold the product by a = 1.0 away.
void BareModelRecurrence(benchmark::State& run) {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;
  double a = 1.0f, b = 2.5f, i = 3.0f, r = 0.01f, s = 4.0f, h = StepAt218Hz;
  for (double* value : {&a, &b, &i, &r, &s, &h}) benchmark::DoNotOptimize(*value);
  for (auto _ : run) {
    for (int frame = 0; frame < BlockFrames; ++frame) {
      const double xd = x, yd = y, zd = z;
      const double xx = xd * xd;
      x = static_cast<float>(xd + h * (((yd - a * (xx * xd)) + b * xx) - zd + i));
      y = static_cast<float>(yd + h * ((-xx * 5.0f - yd) + 1.0f));
      z = static_cast<float>(zd + h * (r * ((s * (xd + 1.6f)) - zd)));
    }
    benchmark::DoNotOptimize(x);
    benchmark::DoNotOptimize(y);
    benchmark::DoNotOptimize(z);
  }
  countSamples(run);
}
BENCHMARK(BareModelRecurrence);

// The same equations reading the five parameters from the shared record on every sample, as
// the voice must (a slider move is heard from the next sample).
void RecurrenceReadingSharedParameters(benchmark::State& run) {
  auto state = std::make_unique<EngineState>();
  assignStartupValues(*state);
  EngineState* shared = state.get();
  benchmark::DoNotOptimize(shared);
  constexpr auto relaxed = std::memory_order_relaxed;
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;
  for (auto _ : run) {
    for (int frame = 0; frame < BlockFrames; ++frame) {
      const double a = shared->paramA.load(relaxed), b = shared->paramB.load(relaxed);
      const double i = shared->paramI.load(relaxed), r = shared->paramR.load(relaxed);
      const double s = shared->paramS.load(relaxed);
      const double xd = x, yd = y, zd = z;
      const double xx = xd * xd;
      x = static_cast<float>(xd + StepAt218Hz * (((yd - a * (xx * xd)) + b * xx) - zd + i));
      y = static_cast<float>(yd + StepAt218Hz * ((-xx * 5.0f - yd) + 1.0f));
      z = static_cast<float>(zd + StepAt218Hz * (r * ((s * (xd + 1.6f)) - zd)));
    }
    benchmark::DoNotOptimize(x);
    benchmark::DoNotOptimize(y);
    benchmark::DoNotOptimize(z);
  }
  countSamples(run);
}
BENCHMARK(RecurrenceReadingSharedParameters);

}  // namespace

BENCHMARK_MAIN();
