// SPDX-License-Identifier: GPL-3.0-or-later
// The CLAP host of the conformance tests: the plugin library through dlopen, instances offered
// the host extensions a validator offers (thread check, params, latency), events and streams
// made to order, and a record of every call the plugin makes back into the host, with the
// thread it came from.
#pragma once

#include <clap/entry.h>
#include <clap/ext/latency.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/plugin-factory.h>

#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

struct ClapLibrary {
  void* handle = nullptr;
  const clap_plugin_entry_t* entry = nullptr;
  const clap_plugin_factory_t* factory = nullptr;
};

// Loads and initialises the library at `path`; a library without an entry leaves `entry` null.
ClapLibrary openClapLibrary(const std::string& path);
void closeClapLibrary(ClapLibrary& library);

// What the plugin asked of the host. A call made from a thread it does not belong on, or a
// latency change while active outside activate(), counts as misplaced.
struct HostCalls {
  std::atomic<int32_t> rescans{0};
  std::atomic<int32_t> latencyChanges{0};
  std::atomic<int32_t> restartRequests{0};
  std::atomic<int32_t> misplaced{0};
};

struct ClapTestInstance {
  clap_host_t host{};
  HostCalls calls;
  std::thread::id mainThread = std::this_thread::get_id();
  std::atomic<std::thread::id> audioThread{};
  std::atomic<bool> activating{false};
  std::atomic<bool> active{false};
  const clap_plugin_t* plugin = nullptr;
  const clap_plugin_params_t* params = nullptr;
  const clap_plugin_state_t* state = nullptr;
  const clap_plugin_latency_t* latency = nullptr;
  int64_t steadyTime = 0;
  std::vector<clap_event_note_t> endedNotes;  // the NOTE_END events process() sent, in order
  ~ClapTestInstance();
};

// A plugin instance of `id`, initialised, with its extensions found; null if it is not created.
std::unique_ptr<ClapTestInstance> createClapInstance(const ClapLibrary& library, const char* id);
// The library's first plugin.
std::unique_ptr<ClapTestInstance> createClapInstance(const ClapLibrary& library);

// activate() and start_processing(), as the host's main thread calls them.
bool activateClap(ClapTestInstance& instance, double sampleRate, uint32_t maxFrames);
void deactivateClap(ClapTestInstance& instance);

// One event of the kinds the tests send.
union ClapTestEvent {
  clap_event_header_t header;
  clap_event_midi_t midi;
  clap_event_note_t note;
  clap_event_param_value_t parameter;
  clap_event_param_mod_t modulation;
  clap_event_transport_t transport;
};

ClapTestEvent parameterEvent(uint32_t time, clap_id id, double value,
                             uint16_t space = CLAP_CORE_EVENT_SPACE_ID);
ClapTestEvent midiEvent(uint32_t time, uint8_t status, uint8_t data1, uint8_t data2);
// A CLAP note event (NOTE_ON, NOTE_OFF) of `noteId` on channel 0.
ClapTestEvent noteEvent(uint32_t time, uint16_t type, int32_t noteId, int16_t key);
// Modulation of parameter `id` by `amount` on the note `noteId` (-1: every note).
ClapTestEvent modulationEvent(uint32_t time, clap_id id, int32_t noteId, double amount);
ClapTestEvent transportEvent(uint32_t time, bool playing);

// One block through process(), out of place, into an output filled with NaN beforehand so that
// a sample the plugin leaves unwritten shows. `transport` null: a free-running host.
std::vector<float> processClap(ClapTestInstance& instance, const std::vector<ClapTestEvent>& events,
                               uint32_t frames, const clap_event_transport_t* transport = nullptr);

// The plugin's flush() with these events.
void flushClap(ClapTestInstance& instance, const std::vector<ClapTestEvent>& events);

// Every parameter's value as get_value() gives it, in the plugin's order.
std::vector<double> parameterValues(ClapTestInstance& instance);

// The state through streams that move at most `bytesPerCall` bytes per call.
constexpr std::size_t WholeStream = std::numeric_limits<std::size_t>::max();
bool saveClapState(ClapTestInstance& instance, std::string& state,
                   std::size_t bytesPerCall = WholeStream);
bool loadClapState(ClapTestInstance& instance, const std::string& state,
                   std::size_t bytesPerCall = WholeStream);
