// SPDX-License-Identifier: GPL-3.0-or-later
// One voice: the record through which the thread that owns its controls (the window thread,
// a plugin's host), the MIDI thread and the audio thread cooperate. Everything the voice needs
// is here, so that voices in one process never share anything. The standalone program's voice
// is `engineState`; the offline renderer, each plugin instance and tests make their own.
//
// Fields that two threads touch are relaxed atomics: every read and write is one whole value,
// never half a double, and no lock or wait is involved. Fields that only the audio thread
// touches are plain. Times are in samples at the voice's sample rate; frequencies in Hz.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "engine/instrument.h"
#include "engine/model_variables.h"
#include "engine/nonblocking.h"

inline constexpr int32_t NoteTextCapacity = 32;
inline constexpr int32_t MidiKeyCount = 128;  // MIDI note numbers 0 to 127

// Reads an envelope slider's latest position from elsewhere, on the audio thread, never
// waiting (the standalone program's window publishes its sliders' states this way).
using EnvelopePositionReader = int32_t (*)(int32_t control) noexcept QUILLFERN_NONBLOCKING;

// With notes started at once, the note that sounded goes on beside the new one while it fades
// out: a copy of its model at the step it last took, from the level it last had to 0 over the
// handover's length. Audio thread only.
struct FadingNote {
  ModelVariables model;
  double subStep = 0.0;  // model time of each Euler sub-step
  int32_t subSteps = 1;
  double level = 0.0;     // the level it fades from
  int32_t faded = 0;      // samples faded so far
  int32_t remaining = 0;  // samples still to fade; 0: none fades
};

struct EngineState {
  // Model parameters and volume: written by the window thread, read by the audio thread.
  std::atomic<float> paramI{0.0f};  // injected current i
  std::atomic<float> paramA{0.0f};  // coefficient a of x cubed
  std::atomic<float> paramB{0.0f};  // coefficient b of x squared
  std::atomic<float> paramR{0.0f};  // rate r of the slow variable z
  std::atomic<float> paramS{0.0f};  // s of the z equation
  std::atomic<float> volume{0.0f};  // gain from x to the output

  // The envelope's settings, read at each note's start: written by the controls' thread.
  // Times in seconds, the sustain as a level from 0 to 1.
  std::atomic<double> attackSetting{0.0};
  std::atomic<double> decaySetting{0.0};
  std::atomic<double> sustainSetting{0.0};
  std::atomic<double> releaseSetting{0.0};
  // Where the slider positions are read instead when set: the standalone program's window, whose
  // sliders' states change the moment the user moves them, before their events are handled.
  EnvelopePositionReader envelopePositionReader = nullptr;

  // The sample rate and the lengths that follow from it; set before rendering starts.
  double sampleRate = 0.0;          // Hz
  double modelTimePerPeriod = 0.0;  // per note period counted at 44100 Hz: 8.0 × 44100 / rate
  int32_t handoverLimit = 0;        // last handover sample (1000 at 44100 Hz)
  int32_t fadeInSamples = 0;        // length of a note's fade-in (100 at 44100 Hz)

  // Voice: written by the MIDI thread, read by the audio thread.
  std::atomic<double> noteFrequency{0.0};      // latest note-on; 0.0 until the first one
  std::atomic<double> previousFrequency{0.0};  // played during the next note's handover
  std::atomic<int32_t> gate{0};                // 1 while at least one key is held
  std::atomic<int32_t> heldNotes{0};           // number of keys held
  std::array<bool, MidiKeyCount> heldKeys{};   // which keys are held; MIDI thread only
  char noteText[NoteTextCapacity]{};           // "On 440.000" or "Off"; the window's only

  // Per-note flags: the audio thread sets them, the MIDI thread clears them.
  std::atomic<int32_t> envelopeReady{0};    // envelope settings read for this note
  std::atomic<int32_t> oscillatorReset{0};  // x, y, z zeroed for this note

  // Audio thread only.
  int32_t noteSamples = 0;      // samples since the current note's attack began
  int32_t handoverSamples = 0;  // gate-open samples since the settings were read
  double handoverLevel = 0.0;   // level the handover fades from
  double attackSamples = 0.0;
  double decaySamples = 0.0;
  double sustainLevel = 0.0;
  double releaseSamples = 0.0;
  double attackEnd = 0.0;      // last attack sample, attackSamples rounded to even
  double decayEnd = 0.0;       // last decay sample, attackSamples + decaySamples rounded to even
  double envelopeLevel = 0.0;  // gain of the current sample
  double lastGateLevel = 0.0;  // level of the latest gate-open sample
  int32_t lastGateSample = 0;  // noteSamples at that sample
  float x = 0.0f;              // membrane potential
  float y = 0.0f;              // fast, spiking variable
  float z = 0.0f;              // slow, bursting variable
  float lastOutput = 0.0f;     // x times volume after the latest step, stored once per block
  // The step size of the latest frequency played: an lrint and two divisions per sample
  // otherwise. NaN until a step is taken, and after the rate changes.
  double stepFrequency = 0.0;
  float timeStep = 0.0f;
  FadingNote fading;

  // The plugins' and the renderer's expression, note modes, sub-steps and filter.
  Instrument instrument;
};

inline ModelVariables modelVariablesOf(const EngineState& state) noexcept {
  return {state.x, state.y, state.z};
}

inline void storeModelVariables(EngineState& state, const ModelVariables& model) noexcept {
  state.x = model.x;
  state.y = model.y;
  state.z = model.z;
}

inline ModelParameters modelParametersOf(const EngineState& state) noexcept {
  constexpr auto relaxed = std::memory_order_relaxed;
  return {state.paramA.load(relaxed), state.paramB.load(relaxed), state.paramI.load(relaxed),
          state.paramR.load(relaxed), state.paramS.load(relaxed), state.volume.load(relaxed)};
}

// The standalone program's voice, zero-filled before anything runs. Nothing on the render path
// refers to it: the audio stream's callback and the MIDI input hand it over.
extern EngineState engineState;
