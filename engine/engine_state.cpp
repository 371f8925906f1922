#include "engine/engine_state.h"

EngineState engineState;

void assignStartupValues(EngineState& state) noexcept {
  constexpr auto relaxed = std::memory_order_relaxed;
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
