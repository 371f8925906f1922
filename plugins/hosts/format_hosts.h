// The two formats behind plugin_host.h.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "plugins/hosts/plugin_host.h"

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
void closeClap(ClapHosted* plugin);
void closeLv2(Lv2Hosted* plugin);

ClapHosted* openClap(const std::string& path, double sampleRate, int32_t maxBlockFrames,
                     std::string& error);
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
bool saveLv2State(Lv2Hosted& plugin, std::string& state);
bool loadLv2State(Lv2Hosted& plugin, const std::string& state);

// The bytes of the short MIDI message a score event stands for (a close is All Notes Off on
// channel 1).
std::array<uint8_t, 3> midiBytesOf(const ScoreEvent& event);
