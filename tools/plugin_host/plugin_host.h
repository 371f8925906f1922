// SPDX-License-Identifier: GPL-3.0-or-later
// Our own offline plugin host: loads the CLAP plugin (a .clap file, through dlopen) or the LV2
// plugin (a bundle folder, through lilv) and plays a score through it, as a DAW would play a
// MIDI track: MIDI events at their frame, a control moved to a window position as its parameter
// set to the value that position stands for (CLAP: an event at its frame; LV2: the port's
// float, taken at the start of a run(), so the block is split there), the score's close as All
// Notes Off. Not real-time: tests and the command line use it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/score.h"

struct HostedPlugin;
struct HostedPluginDeleter {
  void operator()(HostedPlugin* plugin) const;
};
using HostedPluginPtr = std::unique_ptr<HostedPlugin, HostedPluginDeleter>;

// Loads and activates the plugin at `path` for `sampleRate` (Hz) and blocks of at most
// `maxBlockFrames`; null with `error` set when that fails.
// A CLAP plugin may be given a host's window services (format_hosts.h).
struct ClapHostServices;
HostedPluginPtr openPlugin(const std::string& path, double sampleRate, int32_t maxBlockFrames,
                           std::string& error, const ClapHostServices* services = nullptr);

// The CLAP plugin's own interface, for what this host does not do itself (its window); null for
// an LV2 plugin.
struct clap_plugin;
const clap_plugin* clapPluginOf(const HostedPlugin& plugin);
// The LV2 plugin as our LV2 host holds it (format_hosts.h), for a host with a window; null for a
// CLAP plugin.
struct Lv2Hosted;
Lv2Hosted* lv2PluginOf(const HostedPlugin& plugin);

// Where a score stands in its playing.
struct ScoreCursor {
  const Score* score = nullptr;
  std::size_t nextEvent = 0;
  int64_t frame = 0;
};

// Plays the next `frames` frames of the score (fewer at its end) into `output`; returns how
// many were played.
int64_t playBlock(HostedPlugin& plugin, ScoreCursor& cursor, int64_t frames, float* output);

// Sets a parameter by its CLAP id (LV2: the port of that parameter) to `value` at the start of
// the next block, for what a score cannot say, such as the MIDI channel.
void presetParameter(HostedPlugin& plugin, uint32_t id, double value);

// LV2: the next block carries what the plugin's window sends when it opens, its request for the
// model's points, which run() then writes to its trace port (CLAP opens its window through
// clapPluginOf).
void askForModelTrace(HostedPlugin& plugin);

// The host's transport starts or stops at the start of the next block (stopping releases the
// voice).
void setTransport(HostedPlugin& plugin, bool rolling);

// The whole score in blocks of `blockFrames`.
std::vector<float> playScore(HostedPlugin& plugin, const Score& score, int32_t blockFrames);

// CLAP only: the score's notes and polyphonic pressure go as CLAP's own note events, its pitch
// bends as tuning of the sounding note over `bendRange` semitones, instead of MIDI.
void useClapNotes(HostedPlugin& plugin, double bendRange);

// The latency the plugin reports, in samples.
uint32_t pluginLatencyOf(HostedPlugin& plugin);

// The plugin's saved state as the host stores it (CLAP: the plugin's stream; LV2: lilv's
// Turtle text with the port values), and loading it into an instance.
bool savePluginState(HostedPlugin& plugin, std::string& state);
bool loadPluginState(HostedPlugin& plugin, const std::string& state);
