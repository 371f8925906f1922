// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/plugin_host/plugin_host.h"

#include <algorithm>
#include <filesystem>
#include <optional>

#include "instrument/parameters.h"
#include "midi/midi_messages.h"
#include "tools/plugin_host/format_hosts.h"

namespace {

constexpr uint32_t ByteMask = 0xFF;

}  // namespace

struct HostedPlugin {
  ClapHosted* clap = nullptr;
  Lv2Hosted* lv2 = nullptr;
  int32_t maxBlockFrames = 0;
  std::vector<BlockEvent> presets;  // parameter changes for the next block's start
  std::optional<bool> transport;    // a transport change for the next block's start
};

void HostedPluginDeleter::operator()(HostedPlugin* plugin) const {
  if (plugin->clap != nullptr) closeClap(plugin->clap);
  if (plugin->lv2 != nullptr) closeLv2(plugin->lv2);
  delete plugin;
}

std::array<uint8_t, 3> midiBytesOf(const ScoreEvent& event) {
  const uint32_t message = event.kind == ScoreEventKind::Close
                               ? packShortMessage(ControlChangeChannel1, AllNotesOff, 0)
                               : event.message;
  return {static_cast<uint8_t>(message & ByteMask), static_cast<uint8_t>((message >> 8) & ByteMask),
          static_cast<uint8_t>((message >> 16) & ByteMask)};
}

HostedPluginPtr openPlugin(const std::string& path, double sampleRate, int32_t maxBlockFrames,
                           std::string& error, const ClapHostServices* services) {
  HostedPluginPtr plugin(new HostedPlugin);
  plugin->maxBlockFrames = maxBlockFrames;
  if (std::filesystem::is_directory(path)) {
    plugin->lv2 = openLv2(path, sampleRate, maxBlockFrames, error);
  } else {
    plugin->clap = openClapWith(path, sampleRate, maxBlockFrames, error, services);
  }
  if (plugin->clap == nullptr && plugin->lv2 == nullptr) return nullptr;
  return plugin;
}

int64_t playBlock(HostedPlugin& plugin, ScoreCursor& cursor, int64_t frames, float* output) {
  const Score& score = *cursor.score;
  const int64_t start = cursor.frame;
  const int64_t end =
      std::min({start + frames, score.endFrame, start + int64_t{plugin.maxBlockFrames}});
  std::vector<BlockEvent> events;
  if (plugin.transport) {
    events.push_back(
        {.offset = 0, .kind = BlockEventKind::Transport, .rolling = *plugin.transport});
  }
  events.insert(events.end(), plugin.presets.begin(), plugin.presets.end());
  for (; cursor.nextEvent < score.events.size(); ++cursor.nextEvent) {
    const ScoreEvent& event = score.events[cursor.nextEvent];
    if (event.frame >= end) break;
    const auto offset = static_cast<uint32_t>(std::max(event.frame, start) - start);
    if (event.kind != ScoreEventKind::Control) {
      events.push_back({.offset = offset, .kind = BlockEventKind::Score, .event = &event});
    } else if (const int32_t index = parameterIndexOfId(static_cast<uint32_t>(event.control));
               index >= 0) {
      const InstrumentParameter& parameter =
          instrumentParameters()[static_cast<std::size_t>(index)];
      events.push_back({.offset = offset,
                        .kind = BlockEventKind::Parameter,
                        .parameter = static_cast<std::size_t>(index),
                        .value = positionValue(parameter, event.value)});
    }
  }
  const auto count = static_cast<uint32_t>(end - start);
  if (plugin.clap != nullptr) processClap(*plugin.clap, events, count, output);
  if (plugin.lv2 != nullptr) runLv2(*plugin.lv2, events, count, output);
  cursor.frame = end;
  plugin.presets.clear();
  plugin.transport.reset();
  return end - start;
}

const clap_plugin* clapPluginOf(const HostedPlugin& plugin) {
  return plugin.clap != nullptr ? clapPluginOf(*plugin.clap) : nullptr;
}

Lv2Hosted* lv2PluginOf(const HostedPlugin& plugin) {
  return plugin.lv2;
}

void presetParameter(HostedPlugin& plugin, uint32_t id, double value) {
  const int32_t index = parameterIndexOfId(id);
  if (index < 0) return;
  plugin.presets.push_back({.offset = 0,
                            .kind = BlockEventKind::Parameter,
                            .parameter = static_cast<std::size_t>(index),
                            .value = value});
}

void askForModelTrace(HostedPlugin& plugin) {
  if (plugin.lv2 != nullptr) askLv2ForTrace(*plugin.lv2);
}

void setTransport(HostedPlugin& plugin, bool rolling) {
  plugin.transport = rolling;
}

std::vector<float> playScore(HostedPlugin& plugin, const Score& score, int32_t blockFrames) {
  std::vector<float> samples(static_cast<std::size_t>(score.endFrame));
  ScoreCursor cursor{&score};
  while (cursor.frame < score.endFrame) {
    playBlock(plugin, cursor, blockFrames, samples.data() + cursor.frame);
  }
  return samples;
}

void useClapNotes(HostedPlugin& plugin, double bendRange) {
  if (plugin.clap != nullptr) useClapNotes(*plugin.clap, bendRange);
}

uint32_t pluginLatencyOf(HostedPlugin& plugin) {
  return plugin.clap != nullptr ? clapLatency(*plugin.clap) : lv2Latency(*plugin.lv2);
}

bool savePluginState(HostedPlugin& plugin, std::string& state) {
  return plugin.clap != nullptr ? saveClapState(*plugin.clap, state)
                                : saveLv2State(*plugin.lv2, state);
}

bool loadPluginState(HostedPlugin& plugin, const std::string& state) {
  return plugin.clap != nullptr ? loadClapState(*plugin.clap, state)
                                : loadLv2State(*plugin.lv2, state);
}
