// One plugin instance's voice: the engine record and the parameter positions it plays, with
// what both plugin formats do to it. The host's audio thread owns it while the instance is
// active; nothing here allocates, locks or waits except where said.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/engine_state.h"
#include "engine/nonblocking.h"
#include "plugins/plugin_parameters.h"

struct PluginVoice {
  EngineState engine;
  ParameterPositions positions;  // what the voice plays now
  bool transportRolling = false;
};

// A fresh voice at `sampleRate` (Hz) with the changed controls of `positions` applied: what a
// new, activated or reloaded instance plays.
void startPluginVoice(PluginVoice& voice, double sampleRate,
                      const ParameterPositions& positions) noexcept QUILLFERN_NONBLOCKING;

// The host moves parameter `index` to `value` (in the host's units: the position). Another
// MIDI channel releases the notes held.
void setPluginParameter(PluginVoice& voice, std::size_t index,
                        double value) noexcept QUILLFERN_NONBLOCKING;

// One MIDI message from the host. Channel messages of the chosen channel (any channel for
// Omni) play as channel 1 does in the window; everything else is ignored.
void playMidi(PluginVoice& voice, const uint8_t* bytes,
              std::size_t size) noexcept QUILLFERN_NONBLOCKING;

// The host's transport rolls or stands; stopping it releases the voice as a panic button does.
void followTransport(PluginVoice& voice, bool rolling) noexcept QUILLFERN_NONBLOCKING;

// Renders `frames` samples into `output`.
void renderVoice(PluginVoice& voice, float* output, uint32_t frames) noexcept QUILLFERN_NONBLOCKING;

// The delay from a note-on to its sound, in samples: what the instance reports as latency.
uint32_t pluginLatency(const PluginVoice& voice) noexcept;
