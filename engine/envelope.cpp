// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/envelope.h"

#include <cmath>
#include <limits>

#include "engine/oscillator.h"
#include "engine/render.h"
#include "engine/voice_controls.h"

namespace {

constexpr auto relaxed = std::memory_order_relaxed;
constexpr double HandoverExponent = 1.0;        // a straight fade
constexpr double AttackGrowth = 1.00517037535;  // per slider step
constexpr double AttackScale = 0.0994856;       // milliseconds at position 0
constexpr double MillisecondsPerSecond = 1000.0;
constexpr double PercentPerUnit = 100.0;

// Ties go to the even integer (the default rounding mode).
double roundedToEven(double value) noexcept {
  return static_cast<double>(std::lrint(value));
}

// A per-note flag may only stay set while the gate is open. The MIDI thread clears it right
// after closing the gate; if that happened between our reading of the gate and this store,
// the store would leave the flag set for a note that is over, and the next note would start
// without its handover or reset. So look at the gate again after the store and take the flag
// back if the note has ended meanwhile. Both sides use sequentially consistent operations so
// that at least one of them sees the other's store.
void setNoteFlag(EngineState& state, std::atomic<int32_t>& flag) noexcept {
  flag.store(1, std::memory_order_seq_cst);
  if (state.gate.load(std::memory_order_seq_cst) == 0) {
    int32_t set = 1;
    flag.compare_exchange_strong(set, 0, std::memory_order_seq_cst);
  }
}

// The voice's own setting, or the value of the window's slider when the voice reads those.
double envelopeSetting(const EngineState& state, int32_t control,
                       const std::atomic<double>& own) noexcept {
  const EnvelopePositionReader reader = state.envelopePositionReader;
  return reader != nullptr ? controlValueAt(control, reader(control)) : own.load(relaxed);
}

// Once per note, out of the render loop's way: inlined there, its calls made the compiler keep
// the model's variables in memory through every sample, about a tenth of a sample's cost.
[[gnu::cold, gnu::noinline]] void readSettings(EngineState& state) noexcept {
  const double rate = state.sampleRate;
  state.attackSamples = envelopeSetting(state, AttackSlider, state.attackSetting) * rate;
  state.decaySamples = envelopeSetting(state, DecaySlider, state.decaySetting) * rate;
  state.sustainLevel = envelopeSetting(state, SustainSlider, state.sustainSetting);
  state.releaseSamples = envelopeSetting(state, ReleaseSlider, state.releaseSetting) * rate;
  state.attackEnd = roundedToEven(state.attackSamples);
  state.decayEnd = roundedToEven(state.attackSamples + state.decaySamples);
}

double releaseLevel(const EngineState& state, int32_t n) noexcept {
  const double remaining = (state.releaseSamples + state.lastGateSample) - n;
  return remaining <= 0.0 ? 0.0 : (state.lastGateLevel * remaining) / state.releaseSamples;
}

// The level `samples` into a fade from `from` over the handover's length. Its last sample is
// also the divisor: the fade reaches 0.0 exactly there.
double fadeOutLevel(const EngineState& state, int32_t samples, double from) noexcept {
  const double length = state.handoverLimit;
  const double faded = std::pow(samples / length, HandoverExponent);
  return (1.0 - faded) * from;
}

double handoverLevel(const EngineState& state) noexcept {
  return fadeOutLevel(state, state.handoverSamples, state.handoverLevel);
}

double noteLevel(const EngineState& state, int32_t n) noexcept {
  const double attack = state.attackSamples;
  const double decay = state.decaySamples;
  const double sustain = state.sustainLevel;
  if (n <= state.attackEnd) return n / attack;
  if (n <= state.decayEnd) {
    return sustain + ((attack + decay - n) * (1.0 - sustain)) / decay;
  }
  return sustain;
}

// What the latest sample's level was: the envelope's, the note's fade-in and its velocity.
double heardLevel(const EngineState& state) noexcept {
  const int32_t heard = state.noteSamples - 1;
  const int32_t fadeInSamples = state.fadeInSamples;
  const double fadeIn =
      heard >= 0 && heard < fadeInSamples ? fadeInFactor(heard, fadeInSamples) : 1.0;
  return state.envelopeLevel * fadeIn * state.instrument.heardGain;
}

// The level of the note still fading out, 0 when none does.
double fadingLevel(const EngineState& state) noexcept {
  const FadingNote& fading = state.fading;
  return fading.remaining > 0 ? fadeOutLevel(state, fading.faded, fading.level) : 0.0;
}

// The end of the handover: the model starts afresh and the note's sample count with it.
void startAttack(EngineState& state, ModelVariables& model) noexcept {
  model = {0.0f, 0.0f, 0.0f};
  state.instrument.glideStep = 0.0;  // a new note starts at its own pitch, never glides there
  startKeyedNote(state.instrument.keyed);
  setNoteFlag(state, state.oscillatorReset);
  state.noteSamples = 0;
}

}  // namespace

double attackTimeAt(int32_t position) noexcept QUILLFERN_NONBLOCKING {
  return std::pow(AttackGrowth, position) * AttackScale / MillisecondsPerSecond;
}

double decayTimeAt(int32_t position) noexcept QUILLFERN_NONBLOCKING {
  return position / MillisecondsPerSecond;
}

double sustainLevelAt(int32_t position) noexcept QUILLFERN_NONBLOCKING {
  return position / PercentPerUnit;
}

double releaseTimeAt(int32_t position) noexcept QUILLFERN_NONBLOCKING {
  return decayTimeAt(position);
}

// A time in seconds times the rate, as the settings become samples at each note's start.
double attackSamplesAt(int32_t position, double sampleRate) noexcept QUILLFERN_NONBLOCKING {
  return attackTimeAt(position) * sampleRate;
}

double decaySamplesAt(int32_t position, double sampleRate) noexcept QUILLFERN_NONBLOCKING {
  return decayTimeAt(position) * sampleRate;
}

double releaseSamplesAt(int32_t position, double sampleRate) noexcept QUILLFERN_NONBLOCKING {
  return releaseTimeAt(position) * sampleRate;
}

// releaseLevel's remaining samples are (releaseSamples + lastGateSample) - n: none from this
// sum on, the sign of a double difference being the sign of the exact one.
double releaseSilentFrom(const EngineState& state) noexcept QUILLFERN_NONBLOCKING {
  if (state.lastGateLevel == 0.0) return -std::numeric_limits<double>::infinity();
  return state.releaseSamples + state.lastGateSample;
}

int32_t envelopeStep(EngineState& state, ModelVariables& model,
                     int32_t n) noexcept QUILLFERN_NONBLOCKING {
  if (n > NoteSamplesLimit) {
    state.noteSamples = 0;
    state.lastGateLevel = 0.0;
  }

  if (state.gate.load(relaxed) == 0) {
    state.envelopeLevel = releaseLevel(state, n);
    state.handoverLevel = state.envelopeLevel;
    return 0;
  }

  if (state.envelopeReady.load(relaxed) == 0) {
    setNoteFlag(state, state.envelopeReady);
    state.handoverSamples = -1;
    // The handover fades from what the sample just before gave, gate-closed or not: a note-off
    // and the next note-on between two blocks leave no gate-closed sample to take it from.
    state.handoverLevel = state.envelopeLevel;
    readSettings(state);
  }
  // Counting stops just past the handover: only "above the limit or not" matters later, and a
  // note held for days must not overflow the count.
  const int32_t handoverLimit = state.handoverLimit;
  if (state.handoverSamples <= handoverLimit) ++state.handoverSamples;

  if (state.handoverSamples <= handoverLimit) {
    state.envelopeLevel = handoverLevel(state);
  } else {
    if (state.oscillatorReset.load(relaxed) == 0) {
      startAttack(state, model);
      n = 0;
    }
    state.envelopeLevel = noteLevel(state, n);
  }
  state.lastGateLevel = state.envelopeLevel;
  state.lastGateSample = n;
  return 0;
}

bool startsNoteAtOnce(const EngineState& state) noexcept QUILLFERN_NONBLOCKING {
  return state.instrument.settings.noteStart == NoteStart::Immediate &&
         state.envelopeReady.load(relaxed) == 0 && state.gate.load(relaxed) != 0;
}

// No handover: the next envelope step starts the attack. Of two notes that would fade at once
// (a note started within the handover's length of the one before) the louder goes on fading,
// and the other ends.
void startNoteAtOnce(EngineState& state) noexcept QUILLFERN_NONBLOCKING {
  const double level = heardLevel(state);
  const bool stepped = state.instrument.glideStep > 0.0 && !hasRunAway(state.x);
  if (stepped && level > fadingLevel(state)) beginFading(state, level);
  setNoteFlag(state, state.envelopeReady);
  state.handoverSamples = state.handoverLimit + 1;
  state.handoverLevel = state.envelopeLevel;
  readSettings(state);
}

// Out of the render loop's way, and its parameters by value (see envelope.h).
[[gnu::noinline]] double fadingSample(
    EngineState& state,
    ModelParameters parameters)  // cppcheck-suppress passedByValue
    noexcept QUILLFERN_NONBLOCKING {
  FadingNote& fading = state.fading;
  const double sample =
      fadingStep(fading, parameters) * fadeOutLevel(state, fading.faded, fading.level);
  ++fading.faded;
  --fading.remaining;
  return sample;
}
