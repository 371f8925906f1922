// The render callback: one envelope step and one oscillator step per frame, the fade-in over
// the first 100 samples of every note, one float sample per frame. Audio thread only; no
// allocation, no lock, no wait.
#pragma once

#include <portaudio.h>

#include <cstdint>

#include "engine/engine_state.h"
#include "ui/nonblocking.h"

inline constexpr int32_t FadeInSamples = 100;

// The fade-in over a note's first samples, (noteSamples / 100)^5, at float precision.
double fadeInFactor(int32_t noteSamples) noexcept QUILLFERN_NONBLOCKING;

// Fills `output` with `frames` samples rendered from `state`.
void renderFrames(EngineState& state, float* output,
                  unsigned long frames) noexcept QUILLFERN_NONBLOCKING;

// PortAudio's stream callback, rendering from `engineState`. Always returns paContinue.
int RenderCallback(const void* input, void* output, unsigned long frameCount,
                   const PaStreamCallbackTimeInfo* timeInfo, PaStreamCallbackFlags statusFlags,
                   void* userData) noexcept QUILLFERN_NONBLOCKING;
