#include "engine/voice.h"

#include <algorithm>
#include <cmath>

#include "engine/oscillator.h"
#include "engine/voice_controls.h"

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

double supportedRate(double sampleRate) noexcept {
  if (std::isnan(sampleRate)) return DefaultSampleRate;
  return std::clamp(sampleRate, MinimumSampleRate, MaximumSampleRate);
}

void setRate(EngineState& state, double sampleRate) noexcept {
  state.sampleRate = sampleRate;
  state.modelTimePerPeriod = ModelTimePerPeriod * (DefaultSampleRate / sampleRate);
  state.handoverLimit = samplesAtRate(HandoverLimit, sampleRate);
  state.fadeInSamples = samplesAtRate(FadeInSamples, sampleRate);
}

// The program's start-up values, in their fixed order.
void assignStartupValues(EngineState& state) noexcept {
  state.envelopeReady.store(0, relaxed);
  state.x = 0.0f;
  state.y = 0.0f;
  state.z = 0.0f;
  state.paramI.store(3.0f, relaxed);
  state.paramB.store(2.5f, relaxed);
  state.paramR.store(0.01f, relaxed);
  state.paramA.store(1.0f, relaxed);
  state.paramS.store(4.0f, relaxed);
  state.volume.store(0.3f, relaxed);
  state.handoverSamples = 0;
  state.handoverLevel = 0.0;
  state.oscillatorReset.store(0, relaxed);
  state.previousFrequency.store(100.0, relaxed);
  state.lastOutput = 0.0f;
}

std::atomic<int32_t>* envelopePositionOf(EngineState& state, int32_t control) noexcept {
  switch (control) {
    case AttackSlider:
      return &state.attackPosition;
    case DecaySlider:
      return &state.decayPosition;
    case SustainSlider:
      return &state.sustainPosition;
    case ReleaseSlider:
      return &state.releasePosition;
    default:
      return nullptr;
  }
}

}  // namespace

void startVoice(EngineState& state, double sampleRate) noexcept QUILLFERN_NONBLOCKING {
  setRate(state, supportedRate(sampleRate));
  assignStartupValues(state);
  // The envelope's positions only: the model's parameters keep their start-up values, not those
  // of their sliders' initial positions, until a slider is moved.
  for (const VoiceControl& control : voiceControls()) {
    if (std::atomic<int32_t>* position = envelopePositionOf(state, control.number)) {
      position->store(control.initial, relaxed);
    }
  }
  // No key is held: a plugin restarted while one was (reset, reactivation, a restored state)
  // would otherwise never open the gate for its next note.
  state.gate.store(0, relaxed);
  state.heldNotes.store(0, relaxed);
  state.heldKeys.fill(false);
}

void setVoiceControl(EngineState& state, int32_t control,
                     int32_t position) noexcept QUILLFERN_NONBLOCKING {
  const VoiceControl* known = findVoiceControl(control);
  if (known == nullptr) return;
  const int32_t inRange = std::clamp(position, known->minimum, known->maximum);
  if (const ParameterControl* parameter = findParameterControl(control)) {
    (state.*parameter->parameter).store(parameter->valueAt(inRange), relaxed);
  } else if (std::atomic<int32_t>* stored = envelopePositionOf(state, control)) {
    stored->store(inRange, relaxed);
  }
}

int32_t voiceLatencySamples(const EngineState& state) noexcept {
  return state.handoverLimit + 1;
}

int32_t latencySamplesAt(double sampleRate) noexcept {
  return samplesAtRate(HandoverLimit, supportedRate(sampleRate)) + 1;
}

int32_t samplesAtRate(int32_t samples, double sampleRate) noexcept QUILLFERN_NONBLOCKING {
  return static_cast<int32_t>(std::lrint(samples * sampleRate / DefaultSampleRate));
}
