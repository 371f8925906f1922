// SPDX-License-Identifier: GPL-3.0-or-later
// What the plugins and the renderer play beyond the window's voice: pitch bend, the mod wheel
// and aftertouch on I, velocity on the level, glide, sub-steps that keep every key's Euler
// step stable, and the output's DC filter. The window never sets any of it, and a voice
// started by startVoice plays none of it: a step factor of exactly 1, no offset of I, a gain
// of exactly 1, no glide, no sub-steps, no filter. Audio thread only (the plugins and the
// renderer handle their events on the thread that renders).
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "engine/dc_filter.h"
#include "engine/keyed_pitch.h"
#include "engine/nonblocking.h"

struct EngineState;

inline constexpr int32_t InstrumentKeyCount = 128;

enum class NoteMode : int32_t {
  Window,     // legato; the pitch stays on the latest note while other keys are held
  LastKey,    // legato; releasing the sounding key returns to the latest key still held
  Retrigger,  // every note-on starts a new note: handover, model reset, attack
};

enum class NoteStart : int32_t {
  Handover,   // a new note waits while what sounded fades out: the reported latency
  Immediate,  // a new note starts on its note-on's sample; what sounded fades out beside it
};

// The settings, numbered as the plugin parameters that set them (their CLAP ids).
enum InstrumentSetting : int32_t {
  BendRangeSetting = 200,      // semitones at the pitch wheel's ends
  WheelDepthSetting = 201,     // I added by the full mod wheel
  PressureDepthSetting = 202,  // I added by full aftertouch
  VelocitySetting = 203,       // velocity sensitivity of the level, 0 to 1
  NoteModeSetting = 204,       // a NoteMode
  GlideSetting = 205,          // seconds: the time constant of a legato slide
  StableStepsSetting = 206,    // 1: sub-steps keep each Euler step at or below StableStepLimit
  DcFilterSetting = 207,       // 1: the output goes through the 5 Hz high-pass filter
  NoteStartSetting = 250,      // a NoteStart
  PitchSetting = 251,          // a PitchMode
  TransposeSetting = 252,      // semitones, both modes
  FineTuneSetting = 253,       // cents, both modes
  KeyFilterSetting = 254,      // 0: Key mode keeps its steps' outputs unfiltered (for measures)
};

enum class PitchMode : int32_t {
  Model,  // the window's rule: 8 model time units a note period
  Key,    // the neuron's measured cycle a note period (engine/keyed_pitch.h)
};

// The largest Euler step the model takes with stable steps on: at the start-up settings the
// model stays bounded up to it (key 85 at 44100 Hz) and runs away above. It is the float
// nearest 0.2, as key 85's step is, so that key takes one step per sample as it always has.
inline constexpr double StableStepLimit = 0.2f;

struct InstrumentSettings {
  double bendRange = 2.0;
  double wheelDepth = 1.0;
  double pressureDepth = 0.5;
  double velocitySensitivity = 0.0;
  NoteMode noteMode = NoteMode::Window;
  double glideTime = 0.0;
  bool stableSteps = false;  // off in the renderer unless asked for; on in the plugins
  bool dcFilter = false;     // the same
  NoteStart noteStart = NoteStart::Handover;
  bool keyedPitch = false;  // PitchMode::Key; off in the renderer unless asked for; on in the
                            // plugins
  double transpose = 0.0;   // semitones
  double fineTune = 0.0;    // cents
  bool keyFilter = true;
  std::span<const KnownCycle> knownCycles;  // Key mode's cycles known without measuring
};

struct Instrument {
  InstrumentSettings settings;
  double bendPosition = 0.0;  // the pitch wheel, -1 to 1
  double tuning = 0.0;        // semitones: the sounding note's own bend (CLAP note expression)
  double stepFactor = 1.0;    // 2^((bend + tuning + transpose) / 12), exactly 1 unbent
  double wheel = 0.0;         // the mod wheel, 0 to 1
  double channelPressure = 0.0;
  std::array<double, InstrumentKeyCount> keyPressure{};
  double offsetOfI = 0.0;  // added to I, the sum kept within I's range
  double lowestI = 0.0;    // I's range
  double highestI = 0.0;
  double velocityGain = 1.0;  // the level's factor for the sounding note
  double heardGain = 1.0;     // velocityGain at the latest sample rendered
  double glideKeep = 0.0;     // the share of the distance left after a sample; 0: no glide
  double glideStep = 0.0;     // the step size the glide has reached (in Key mode the steps a
                              // sample); 0: none yet this note
  DcFilter dcFilter;
  KeyedPitch keyed;

  // The keys, as the instrument's note handling keeps them.
  int32_t soundingKey = -1;
  bool pedalDown = false;
  std::array<bool, InstrumentKeyCount> sustainedKeys{};   // released under the pedal
  std::array<uint32_t, InstrumentKeyCount> pressOrder{};  // when each key was last pressed
  uint32_t presses = 0;
};

// The instrument as a new voice at `sampleRate` plays it: nothing beyond the window's voice.
void startInstrument(EngineState& state, double sampleRate) noexcept QUILLFERN_NONBLOCKING;

// One setting to `value` in its own units. Unknown settings are ignored.
void setInstrumentValue(EngineState& state, int32_t setting,
                        double value) noexcept QUILLFERN_NONBLOCKING;

// The expressions below take values within their ranges, a value beyond brought to the range's
// end; a NaN or infinite value is ignored and the voice keeps the last it had.

// The sounding note's own bend can reach this many semitones either way (as CLAP's tuning).
inline constexpr double LargestTuning = 120.0;

// The pitch wheel at `position`, -1 (down) to 1 (up); 0 is the centre.
void bendPitch(EngineState& state, double position) noexcept QUILLFERN_NONBLOCKING;

// The sounding note's own bend, in semitones; a new sounding key starts unbent.
void tuneNote(EngineState& state, double semitones) noexcept QUILLFERN_NONBLOCKING;

// The mod wheel and the pressures, 0 to 1.
void moveModWheel(EngineState& state, double position) noexcept QUILLFERN_NONBLOCKING;
void pressChannel(EngineState& state, double pressure) noexcept QUILLFERN_NONBLOCKING;
void pressKey(EngineState& state, int32_t key, double pressure) noexcept QUILLFERN_NONBLOCKING;

// `key` sounds now, with its own pressure and no tuning.
void soundKey(EngineState& state, int32_t key) noexcept QUILLFERN_NONBLOCKING;

// A note starts with this velocity (1 to 127): its level's factor.
void setNoteVelocity(EngineState& state, int32_t velocity) noexcept QUILLFERN_NONBLOCKING;

// The most sub-steps a sample takes: key 127 bent up two octaves at 22050 Hz takes 80. A step
// that would need more takes this many, each past StableStepLimit, and its model runs away to
// silence as a note too high for the model does without stable steps; the work a sample costs
// stays bounded whatever a host sends.
inline constexpr int32_t MostSubSteps = 128;

// The Euler step of one sample at `step` model time units with stable steps: how many equal
// sub-steps keep each at or below StableStepLimit, at most MostSubSteps. 1 for NaN.
int32_t subStepsFor(double step) noexcept QUILLFERN_NONBLOCKING;
