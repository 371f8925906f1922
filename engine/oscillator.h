// The neuron oscillator: one explicit Euler step of the Hindmarsh-Rose model per output sample,
//   dx/dt = y - a x^3 + b x^2 - z + i,   dy/dt = c - d x^2 - y,   dz/dt = r (s (x + 1.6) - z),
// with c = 1 and d = 5. The step size follows the pitch: the model advances 8 time units per
// period of the note, the period rounded to whole samples at 44100 Hz. Audio thread only.
#pragma once

#include <cstdint>

#include "engine/engine_state.h"
#include "engine/nonblocking.h"

inline constexpr float ModelTimePerPeriod = 8.0f;  // model time units per note period

// Model time advanced by one sample at `frequency` Hz, for a voice whose modelTimePerPeriod is
// `modelTimePerPeriod` (ModelTimePerPeriod at 44100 Hz).
float timeStepFor(double frequency, double modelTimePerPeriod) noexcept QUILLFERN_NONBLOCKING;

// Advances the model by one step with `parameters` and returns x times the volume, which the
// caller keeps as lastOutput. Before the first note (no note frequency yet) it returns
// lastOutput and changes nothing.
float oscillatorStep(EngineState& state, ModelVariables& model,
                     const ModelParameters& parameters) noexcept QUILLFERN_NONBLOCKING;
