// SPDX-License-Identifier: GPL-3.0-or-later
// The cost of one MIDI message from the service layer to the engine state: the MIDI thread
// calls the program's callback through the port's function pointer with each notice, as the
// service does; the floor is the same call of a callback that does nothing. Without a window
// the callback's status-bar step finds no status bar, as before the window is open.
#include <benchmark/benchmark.h>

#include "engine/engine_state.h"
#include "engine/voice.h"
#include "midi/midi_input.h"
#include "midi/midi_messages.h"

namespace {

void emptyCallback(MidiPortHandle, uint32_t, uintptr_t, uintptr_t, uintptr_t) noexcept {}

// A note-on and its note-off per iteration: the two messages every key press brings.
void deliverKeyPresses(benchmark::State& run, MidiInProc callback) {
  startVoice(engineState, DefaultSampleRate);
  MidiInProc volatile deliver = callback;  // an indirect call, as the service makes it
  const uintptr_t noteOn = packShortMessage(0x90, 69, 100);
  const uintptr_t noteOff = packShortMessage(0x80, 69, 0);
  for (auto _ : run) {
    deliver(nullptr, MidiDataNotice, 0, noteOn, 0);
    deliver(nullptr, MidiDataNotice, 0, noteOff, 0);
    benchmark::ClobberMemory();
  }
  run.SetItemsProcessed(run.iterations() * 2);
}

void MidiMessageToEngineState(benchmark::State& run) {
  deliverKeyPresses(run, midiInCallback);
}
BENCHMARK(MidiMessageToEngineState);

void EmptyMidiHandler(benchmark::State& run) {
  deliverKeyPresses(run, emptyCallback);
}
BENCHMARK(EmptyMidiHandler);

}  // namespace
