// SPDX-License-Identifier: GPL-3.0-or-later
// The two formats behind plugin_host.h.
#pragma once

#include <lv2/atom/atom.h>
#include <lv2/urid/urid.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/plugin_host/plugin_host.h"

// The events of one block, in score order, with frames relative to the block's start.
enum class BlockEventKind { Score, Parameter, Transport };
struct BlockEvent {
  uint32_t offset;
  BlockEventKind kind;
  const ScoreEvent* event = nullptr;  // Score: a MIDI message or the port's close
  std::size_t parameter = 0;          // Parameter: its index in the table, set to `value`
  double value = 0.0;
  bool rolling = false;  // Transport: starts rolling (true) or stops
};

struct ClapHosted;
struct Lv2Hosted;
struct clap_plugin;
struct clap_event_header;

// What a host with a window offers a CLAP plugin besides playing it (its own extensions) and
// hears back from it (the events process() and flush() send out). Either may be missing.
struct ClapHostServices {
  void* context = nullptr;
  const void* (*extension)(void* context, const char* id) = nullptr;
  void (*eventOut)(void* context, const clap_event_header& event) = nullptr;
};
void closeClap(ClapHosted* plugin);
void closeLv2(Lv2Hosted* plugin);

ClapHosted* openClap(const std::string& path, double sampleRate, int32_t maxBlockFrames,
                     std::string& error);
ClapHosted* openClapWith(const std::string& path, double sampleRate, int32_t maxBlockFrames,
                         std::string& error, const ClapHostServices* services);
const clap_plugin* clapPluginOf(const ClapHosted& plugin);
void processClap(ClapHosted& plugin, const std::vector<BlockEvent>& events, uint32_t frames,
                 float* output);
uint32_t clapLatency(ClapHosted& plugin);
void useClapNotes(ClapHosted& plugin, double bendRange);
bool saveClapState(ClapHosted& plugin, std::string& state);
bool loadClapState(ClapHosted& plugin, const std::string& state);

Lv2Hosted* openLv2(const std::string& bundle, double sampleRate, int32_t maxBlockFrames,
                   std::string& error);
void runLv2(Lv2Hosted& plugin, const std::vector<BlockEvent>& events, uint32_t frames,
            float* output);
uint32_t lv2Latency(Lv2Hosted& plugin);
// The next run() carries the request an opening window sends for the model's points.
void askLv2ForTrace(Lv2Hosted& plugin);
bool saveLv2State(Lv2Hosted& plugin, std::string& state);
bool loadLv2State(Lv2Hosted& plugin, const std::string& state);
// For a host with a window: the URID map the plugin has (its window needs the same), and what
// the plugin's atom output (the trace port) wrote in its last run().
const LV2_URID_Map& lv2UridMap(Lv2Hosted& plugin);
const LV2_Atom_Sequence& lv2Notifications(const Lv2Hosted& plugin);
// The file of the plugin's window (its first UI), or "" when it has none.
std::string lv2UiBinary(const Lv2Hosted& plugin);

// The bytes of the short MIDI message a score event stands for (a close is All Notes Off on
// channel 1).
std::array<uint8_t, 3> midiBytesOf(const ScoreEvent& event);
