// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers for the engine tests: a started voice on the heap, its controls at their positions
// when the window opens, and a note played through the same handling as live MIDI.
#pragma once

#include <memory>
#include <vector>

#include "engine/engine_state.h"
#include "engine/envelope.h"
#include "engine/oscillator.h"
#include "engine/render.h"
#include "engine/voice.h"
#include "engine/voice_controls.h"
#include "midi/midi_messages.h"

inline void setEnvelopeSliders(EngineState& state, int32_t attack, int32_t decay, int32_t sustain,
                               int32_t release) {
  setVoiceControl(state, AttackSlider, attack);
  setVoiceControl(state, DecaySlider, decay);
  setVoiceControl(state, SustainSlider, sustain);
  setVoiceControl(state, ReleaseSlider, release);
}

inline std::unique_ptr<EngineState> startedEngine(double sampleRate = DefaultSampleRate) {
  auto state = std::make_unique<EngineState>();
  startVoice(*state, sampleRate);
  return state;
}

inline void pressKey(EngineState& state, int32_t note) {
  handleMidiNotice(state, MidiDataNotice, packShortMessage(0x90, static_cast<uint8_t>(note), 100));
}

inline void releaseKey(EngineState& state, int32_t note) {
  handleMidiNotice(state, MidiDataNotice, packShortMessage(0x80, static_cast<uint8_t>(note), 0));
}

inline std::vector<float> render(EngineState& state, std::size_t frames) {
  std::vector<float> samples(frames);
  renderFrames(state, samples.data(), frames);
  return samples;
}

// One envelope step and one oscillator step with the model's variables taken from the record
// and put back, so that a test sees them in x, y and z after every step.
inline void stepEnvelope(EngineState& state, int32_t n) {
  ModelVariables model = modelVariablesOf(state);
  envelopeStep(state, model, n);
  storeModelVariables(state, model);
}

inline float stepOscillator(EngineState& state) {
  ModelVariables model = modelVariablesOf(state);
  const float output = oscillatorStep(state, model, blockParametersOf(state));
  storeModelVariables(state, model);
  state.lastOutput = output;
  return output;
}

// Envelope levels of the next `frames` frames, as the render callback would step them.
inline std::vector<double> envelopeLevels(EngineState& state, std::size_t frames) {
  std::vector<double> levels;
  for (std::size_t frame = 0; frame < frames; ++frame) {
    stepEnvelope(state, state.noteSamples);
    levels.push_back(state.envelopeLevel);
    ++state.noteSamples;
  }
  return levels;
}
