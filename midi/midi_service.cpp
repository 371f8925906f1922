// SPDX-License-Identifier: GPL-3.0-or-later
#include "midi/midi_service.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include "app/quiet_audio_system.h"
#include "midi/midi_device_table.h"
#include "midi/midi_messages.h"

// Messages travel from the thread on which the system hands them over (JACK's real-time
// process thread, or RtMidi's ALSA reading thread) to the MIDI thread through a fixed ring of
// packed messages: one producer, one consumer, no lock and no allocation on either side. The
// producer wakes the consumer with std::atomic::notify_one, which with libstdc++ on Linux is an
// atomic load of the waiter count and, only when the MIDI thread sleeps, one FUTEX_WAKE system
// call: it takes no lock, never blocks and never allocates (the same cost as sem_post, the
// usual way to wake a worker from a real-time thread). The MIDI thread sleeps in
// std::atomic::wait on `wake` when there is nothing to deliver, using no CPU; JACK's
// notification thread wakes it the same way when the sources of the input may have changed.
struct MidiMessageQueue {
  std::array<uint32_t, MidiQueueCapacity> messages{};
  std::atomic<uint32_t> head{0};     // next message to deliver; the MIDI thread advances it
  std::atomic<uint32_t> tail{0};     // next free slot; the producer advances it
  std::atomic<uint32_t> dropped{0};  // messages the producer found no room for
  bool lossMarked = false;           // producer only: the last thing queued is a loss marker
};

// What the service follows of a JACK input's sources: the chosen one, and any other connected
// to the input port by hand.
struct JackSourceWatch {
  std::string name;                         // the chosen source port's full name
  int32_t sourcesShown = 0;                 // MIDI thread only: the count last delivered
  std::atomic<bool> watching{false};        // the notification thread may act for this port
  std::atomic<bool> inNotification{false};  // the notification thread is acting for it
  std::atomic<bool> armed{false};           // the opening's own connection was announced
  std::atomic<uint32_t> sourcesLost{0};     // removals of connections announced since the open
  uint32_t lostSeen = 0;                    // the process thread only: sourcesLost last cycle
  uint32_t lostQueued = 0;                  // the process thread only: ... when last queued
  std::atomic<bool> sourceCame{false};      // a port called `name` was registered
};

struct MidiPort {
  std::optional<RtMidiIn> input;  // an ALSA connection; destroying it ends the producer thread
  bool jack = false;              // the input is the JACK session's port
  std::thread delivery;           // the MIDI thread
  MidiInProc callback = nullptr;
  uintptr_t instance = 0;
  bool open = false;  // window thread only
  std::atomic<bool> started{false};
  std::atomic<bool> receiving{false};  // the producer is between its started test and its push
  std::atomic<uint32_t> wake{0};       // advanced whenever the MIDI thread has something to do
  MidiMessageQueue queue;
  JackSourceWatch source;
};

// The service's one JACK client and its input port, from the first listing that finds a
// server to the end of the program.
struct JackSession {
  jack_client_t* client = nullptr;
  jack_port_t* input = nullptr;
  std::string clientName;  // the name it was opened under
  bool active = false;
  // Connections to the input port. The server announces each connection made or removed at
  // once, in order, while the client is active, but shows it in the graph that clients read
  // only from a later cycle: counted from the announcements, the number is never behind.
  std::atomic<int32_t> sources{0};
  std::atomic<bool> serverGone{false};     // the server of this client went away
  std::atomic<bool> anyServerGone{false};  // that of any client so far: never cleared
};

namespace {

constexpr size_t ShortMessageMaxBytes = 3;
// Never packed short messages (those leave the top byte 0): the MIDI thread's signs to
// deliver the close notice and end, to deliver a loss notice, and a source-gone notice.
constexpr uint32_t CloseMarker = 0xFFFFFFFF;
constexpr uint32_t LossMarker = 0xFFFFFFFE;
constexpr uint32_t SourceGoneMarker = 0xFFFFFFFD;
// The producer keeps the last free slot for the close marker, so that closing never waits for
// room in the queue, and the one before it for a loss marker.
constexpr uint32_t MarkerCapacity = MidiQueueCapacity - 1;
constexpr uint32_t MessageCapacity = MidiQueueCapacity - 2;
constexpr const char* InputPortName = "MIDI in";

MidiPort midiPort;
MidiDeviceTable deviceTable;
JackSession jackSession;
std::string clientName = "Quillfern";

// The libraries' own error reports go to the terminal unless a handler takes them; failures
// here are results, never messages.
void ignoreRtMidiError(RtMidiError::Type, const std::string&, void*) {}

// RtMidi reports a failing constructor on std::cerr before it throws, and also a connection
// that fails, before any error callback can be installed; the stream is muted for the
// construction only. Only the window thread writes to std::cerr here.
bool makeQuietInput(std::optional<RtMidiIn>& input, int32_t api) {
  quietAudioSystemMessages();
  std::streambuf* const terminal = std::cerr.rdbuf(nullptr);
  try {
    input.emplace(static_cast<RtMidi::Api>(api), clientName);
    input->setErrorCallback(ignoreRtMidiError);
  } catch (...) {
    input.reset();
  }
  std::cerr.rdbuf(terminal);
  std::cerr.clear();
  return input.has_value();
}

MidiPortNameReader portNamesOf(RtMidiIn& input) {
  return [&input](uint32_t index) { return input.getPortName(index); };
}

void appendAlsaPorts() {
  std::optional<RtMidiIn> input;
  if (makeQuietInput(input, RtMidi::LINUX_ALSA)) {
    appendReadablePorts(deviceTable, RtMidi::LINUX_ALSA, input->getPortCount(),
                        portNamesOf(*input));
  }
}

bool isOpenPort(MidiPortHandle handle) noexcept {
  return handle == &midiPort && midiPort.open;
}

void wakeMidiThread(MidiPort& port) noexcept {
  port.wake.fetch_add(1, std::memory_order_release);
  port.wake.notify_one();
}

void enqueue(MidiMessageQueue& queue, uint32_t tail, uint32_t item) noexcept {
  queue.messages[tail % MidiQueueCapacity] = item;
  queue.tail.store(tail + 1, std::memory_order_release);
}

// Producer side. A message that finds the queue full is dropped and counted; the first of a
// run of dropped messages leaves a loss marker in its place.
void pushMessage(MidiPort& port, uint32_t message) noexcept {
  MidiMessageQueue& queue = port.queue;
  const uint32_t tail = queue.tail.load(std::memory_order_relaxed);
  const uint32_t queued = tail - queue.head.load(std::memory_order_acquire);
  if (queued < MessageCapacity) {
    enqueue(queue, tail, message);
    queue.lossMarked = false;
  } else {
    queue.dropped.fetch_add(1, std::memory_order_relaxed);
    if (queue.lossMarked || queued >= MarkerCapacity) return;
    enqueue(queue, tail, LossMarker);
    queue.lossMarked = true;
  }
  wakeMidiThread(port);
}

// RtMidi's ALSA reading thread, for every message.
void receiveMessage(double, std::vector<unsigned char>* bytes, void* userData) noexcept {
  MidiPort& port = *static_cast<MidiPort*>(userData);
  uint32_t message = 0;
  if (!packReceivedMessage(bytes->data(), bytes->size(), &message)) return;
  // Paired with stopReceiving: either this sees started cleared, or the stopper sees
  // receiving set and waits for the push to finish.
  port.receiving.store(true, std::memory_order_seq_cst);
  if (port.started.load(std::memory_order_seq_cst)) pushMessage(port, message);
  port.receiving.store(false, std::memory_order_release);
}

// A connection's removal is announced at once, but the graph takes it in only from the start
// of a later cycle: the source may still reach the port in the cycle during which the removal
// was announced. The source-gone marker follows that cycle's messages, so that the release
// comes after every note the source sent.
void queueSourceGone(MidiPort& port) noexcept {
  JackSourceWatch& source = port.source;
  if (source.lostSeen != source.lostQueued) {
    pushMessage(port, SourceGoneMarker);
    source.lostQueued = source.lostSeen;
  }
  source.lostSeen = source.sourcesLost.load(std::memory_order_acquire);
}

// JACK's process thread, every cycle. Each event is read on its own: one that begins with a
// data byte (the rest of a long system-exclusive message) is no short message, and any event
// that begins with a status byte stands for itself, so an unfinished system-exclusive message
// never swallows the messages after it.
int receiveJackCycle(jack_nframes_t frames, void*) noexcept {
  MidiPort& port = midiPort;
  port.receiving.store(true, std::memory_order_seq_cst);
  if (port.started.load(std::memory_order_seq_cst) && port.jack) {
    queueSourceGone(port);
    void* buffer = jack_port_get_buffer(jackSession.input, frames);
    const uint32_t count = jack_midi_get_event_count(buffer);
    for (uint32_t index = 0; index < count; ++index) {
      jack_midi_event_t event;
      uint32_t message = 0;
      if (jack_midi_event_get(&event, buffer, index) == 0 &&
          packReceivedMessage(event.buffer, event.size, &message)) {
        pushMessage(port, message);
      }
    }
  }
  port.receiving.store(false, std::memory_order_release);
  return 0;
}

// JACK's notification thread: a port was registered. One of the chosen source's name is
// connected again by the MIDI thread.
void onJackPortRegistration(jack_port_id_t id, int registered, void*) noexcept {
  if (registered == 0) return;  // its connections' removals are announced on their own
  JackSourceWatch& source = midiPort.source;
  // Paired with disconnectInput's withdraw, as receiving is with stopReceiving.
  source.inNotification.store(true, std::memory_order_seq_cst);
  if (source.watching.load(std::memory_order_seq_cst)) {
    const jack_port_t* port = jack_port_by_id(jackSession.client, id);
    if (port != nullptr && source.name == jack_port_name(port)) {
      source.sourceCame.store(true, std::memory_order_release);
      wakeMidiThread(midiPort);
    }
  }
  source.inNotification.store(false, std::memory_order_release);
}

bool isSessionInput(jack_port_id_t id) noexcept {
  const jack_port_t* port = jack_port_by_id(jackSession.client, id);
  return port != nullptr &&
         std::strcmp(jack_port_name(port), jack_port_name(jackSession.input)) == 0;
}

// JACK's notification thread: a connection to the input port was made or removed. As the
// announcements come in order, the removals announced before the opening's own connection are
// those that the previous port's closing made: no source going away.
void onJackConnection(jack_port_id_t, jack_port_id_t destination, int connected, void*) noexcept {
  if (!isSessionInput(destination)) return;
  jackSession.sources.fetch_add(connected != 0 ? 1 : -1, std::memory_order_acq_rel);
  JackSourceWatch& source = midiPort.source;
  source.inNotification.store(true, std::memory_order_seq_cst);
  if (source.watching.load(std::memory_order_seq_cst)) {
    if (connected != 0) {
      source.armed.store(true, std::memory_order_release);
    } else if (source.armed.load(std::memory_order_acquire)) {
      source.sourcesLost.fetch_add(1, std::memory_order_release);
    }
    wakeMidiThread(midiPort);  // the number of sources changed
  }
  source.inNotification.store(false, std::memory_order_release);
}

// JACK's thread that found the server gone. The client stays open until the program ends.
void onJackServerGone(jack_status_t, const char*, void*) noexcept {
  jackSession.anyServerGone.store(true, std::memory_order_release);
  jackSession.serverGone.store(true, std::memory_order_release);
  wakeMidiThread(midiPort);
}

void closeJackSession() {
  if (jackSession.client != nullptr) jack_client_close(jackSession.client);
  jackSession.client = nullptr;
  jackSession.input = nullptr;
  jackSession.active = false;
  jackSession.sources.store(0, std::memory_order_relaxed);
}

// The service's JACK client leaves the server in order as the program ends, after the port.
void closeJackSessionAtExitOnce() {
  static const bool registered = std::atexit(closeJackSession) == 0;
  static_cast<void>(registered);
}

bool prepareJackClient(jack_client_t* client) {
  jackSession.input =
      jack_port_register(client, InputPortName, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  return jackSession.input != nullptr &&
         jack_set_process_callback(client, receiveJackCycle, nullptr) == 0 &&
         jack_set_port_registration_callback(client, onJackPortRegistration, nullptr) == 0 &&
         jack_set_port_connect_callback(client, onJackConnection, nullptr) == 0;
}

// A client under the current name with its input port, unless the one there still serves
// (the one of an open JACK input always does); false when no server answers. Never starts a
// server.
bool openJackSession() {
  const bool gone = jackSession.serverGone.load(std::memory_order_acquire);
  if (jackSession.client != nullptr && midiPort.open && midiPort.jack) return !gone;
  if (jackSession.client != nullptr && jackSession.clientName == clientName && !gone) return true;
  closeJackSession();
  quietAudioSystemMessages();
  jack_client_t* const client = jack_client_open(clientName.c_str(), JackNoStartServer, nullptr);
  if (client == nullptr) return false;
  jackSession.client = client;
  jackSession.clientName = clientName;
  jackSession.serverGone.store(false, std::memory_order_relaxed);
  jack_on_info_shutdown(client, onJackServerGone, nullptr);
  if (!prepareJackClient(client)) {
    closeJackSession();
    return false;
  }
  closeJackSessionAtExitOnce();
  return true;
}

void appendJackPorts() {
  if (!openJackSession()) return;
  const char** const names =
      jack_get_ports(jackSession.client, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput);
  if (names == nullptr) return;
  uint32_t count = 0;
  while (names[count] != nullptr) ++count;
  try {
    appendReadablePorts(deviceTable, RtMidi::UNIX_JACK, count,
                        [names](uint32_t index) { return std::string(names[index]); });
  } catch (...) {
    jack_free(static_cast<void*>(names));
    throw;
  }
  jack_free(static_cast<void*>(names));
}

void deliver(MidiPort& port, uint32_t notice, uint32_t message = 0) noexcept {
  port.callback(&port, notice, port.instance, message, 0);
}

void deliverSourceCount(MidiPort& port, int32_t count) noexcept {
  if (count == port.source.sourcesShown) return;
  port.source.sourcesShown = count;
  deliver(port, MidiSourcesNotice, static_cast<uint32_t>(count));
}

// The MIDI thread, after a JACK notice: tells the callback when the number of sources changed
// and when the server died (which takes every source), and connects to a port of the chosen
// source's name that came again. The count waits for the opening's own connection, until which
// it may still hold the previous port's.
void followJackSources(MidiPort& port) noexcept {
  JackSourceWatch& source = port.source;
  if (jackSession.serverGone.load(std::memory_order_acquire)) {
    if (source.sourcesShown != 0) deliver(port, MidiSourceGoneNotice);
    deliverSourceCount(port, 0);
    return;
  }
  if (source.sourceCame.exchange(false, std::memory_order_acq_rel) &&
      jack_port_connected_to(jackSession.input, source.name.c_str()) == 0) {
    jack_connect(jackSession.client, source.name.c_str(), jack_port_name(jackSession.input));
  }
  if (source.armed.load(std::memory_order_acquire)) {
    deliverSourceCount(port, std::max(jackSession.sources.load(std::memory_order_acquire), 0));
  }
}

// Delivers what is queued; false once the close notice has been delivered.
bool deliverQueued(MidiPort& port, uint32_t& head) noexcept {
  MidiMessageQueue& queue = port.queue;
  for (uint32_t tail = queue.tail.load(std::memory_order_acquire); head != tail; ++head) {
    const uint32_t message = queue.messages[head % MidiQueueCapacity];
    const uint32_t notice = message == CloseMarker        ? MidiCloseNotice
                            : message == LossMarker       ? MidiLossNotice
                            : message == SourceGoneMarker ? MidiSourceGoneNotice
                                                          : MidiDataNotice;
    deliver(port, notice, notice == MidiDataNotice ? message : 0);
    queue.head.store(head + 1, std::memory_order_release);
    queue.head.notify_all();
    if (notice == MidiCloseNotice) return false;
  }
  return true;
}

// Consumer side: the MIDI thread, from the open notice to the close notice.
void deliverNotices(MidiPort& port) noexcept {
  deliver(port, MidiOpenNotice);
  uint32_t head = port.queue.head.load(std::memory_order_relaxed);
  for (;;) {
    const uint32_t seen = port.wake.load(std::memory_order_acquire);
    if (!deliverQueued(port, head)) return;
    if (port.jack) followJackSources(port);
    port.wake.wait(seen, std::memory_order_acquire);
  }
}

// Paired with a flag the other thread sets around its look at `allowed`: after this returns
// that thread does not act on what `allowed` guards until it is set again.
void withdraw(std::atomic<bool>& allowed, const std::atomic<bool>& looking) noexcept {
  allowed.store(false, std::memory_order_seq_cst);
  while (looking.load(std::memory_order_seq_cst)) std::this_thread::yield();
}

// After this returns the producer adds nothing to the queue until the next start.
void stopReceiving(MidiPort& port) noexcept {
  withdraw(port.started, port.receiving);
}

void waitUntilDelivered(MidiMessageQueue& queue) noexcept {
  const uint32_t end = queue.tail.load(std::memory_order_acquire);
  for (uint32_t head = queue.head.load(std::memory_order_acquire); head != end;
       head = queue.head.load(std::memory_order_acquire)) {
    queue.head.wait(head, std::memory_order_acquire);
  }
}

// Called with the producer stopped for good: the window thread is the queue's only producer now.
void sendCloseMarker(MidiPort& port) noexcept {
  enqueue(port.queue, port.queue.tail.load(std::memory_order_relaxed), CloseMarker);
  wakeMidiThread(port);
}

void resetPort(MidiPort& port, MidiInProc callback, uintptr_t instance) noexcept {
  port.callback = callback;
  port.instance = instance;
  port.jack = false;
  port.started.store(false, std::memory_order_relaxed);
  port.queue.head.store(0, std::memory_order_relaxed);
  port.queue.tail.store(0, std::memory_order_relaxed);
  port.queue.dropped.store(0, std::memory_order_relaxed);
  port.queue.lossMarked = false;
  // Every page of the ring is touched here, so that the real-time producer never takes the
  // page fault of a first write.
  port.queue.messages.fill(0);
  port.source.armed.store(false, std::memory_order_relaxed);
  port.source.sourcesLost.store(0, std::memory_order_relaxed);
  port.source.lostSeen = 0;
  port.source.lostQueued = 0;
  port.source.sourceCame.store(false, std::memory_order_relaxed);
}

// Finds the ALSA port by name in the sequencer's current numbering and connects to it.
bool connectAlsaInput(MidiPort& port, const std::string& portName) {
  if (!makeQuietInput(port.input, RtMidi::LINUX_ALSA)) return false;
  RtMidiIn& input = *port.input;
  const int32_t index = findPortIndex(input.getPortCount(), portNamesOf(input), portName);
  if (index >= 0) {
    input.ignoreTypes(true, false, false);  // system exclusive is no short message
    input.setCallback(receiveMessage, &port);
    input.openPort(static_cast<unsigned int>(index), InputPortName);
  }
  if (index < 0 || !input.isPortOpen()) {
    port.input.reset();
    return false;
  }
  return true;
}

// The client becomes active for good. Connections made to its port before are not announced
// to it: the count starts from the graph.
bool activateJackSession() {
  if (jackSession.active) return true;
  jackSession.active = jack_activate(jackSession.client) == 0;
  if (jackSession.active) {
    jackSession.sources.store(jack_port_connected(jackSession.input), std::memory_order_release);
  }
  return jackSession.active;
}

void stopWatchingSources(MidiPort& port) noexcept {
  withdraw(port.source.watching, port.source.inNotification);
  port.jack = false;
}

// Starts watching the sources and connects the session's input port to the chosen one. The
// watch starts first, so that the notification thread sees the announcement of this connection.
bool connectJackInput(MidiPort& port, const std::string& portName) {
  if (!openJackSession() || !activateJackSession()) return false;
  port.jack = true;
  port.source.name = portName;
  port.source.sourcesShown = 1;
  port.source.watching.store(true, std::memory_order_seq_cst);
  if (jack_connect(jackSession.client, portName.c_str(), jack_port_name(jackSession.input)) == 0) {
    return true;
  }
  stopWatchingSources(port);
  return false;
}

bool connectInput(MidiPort& port, const MidiDeviceEntry& device) {
  return device.api == RtMidi::UNIX_JACK ? connectJackInput(port, device.portName)
                                         : connectAlsaInput(port, device.portName);
}

// Undoes connectInput once the MIDI thread has ended.
void disconnectInput(MidiPort& port) noexcept {
  port.input.reset();
  if (!port.jack) return;
  stopWatchingSources(port);
  if (!jackSession.serverGone.load(std::memory_order_acquire)) {
    jack_port_disconnect(jackSession.client, jackSession.input);
  }
}

bool startDelivery(MidiPort& port) {
  try {
    port.delivery = std::thread(deliverNotices, std::ref(port));
  } catch (...) {
    disconnectInput(port);
    return false;
  }
  return true;
}

// A port left open at the end of the program is closed before the statics it uses go away;
// the MIDI thread must not outlive them.
void closeOpenPortAtExit() {
  if (midiPort.open) closeMidiInput(&midiPort);
}

void closeOpenPortAtExitOnce() {
  static const bool registered = std::atexit(closeOpenPortAtExit) == 0;
  static_cast<void>(registered);
}

}  // namespace

void setMidiClientName(const char* name) {
  clientName = name ? name : "";
}

uint32_t countMidiInputs() noexcept {
  try {
    deviceTable.clear();
    appendAlsaPorts();
    appendJackPorts();
  } catch (...) {  // NOLINT(bugprone-empty-catch): nothing to undo
    // Out of memory while listing: what was listed so far stays.
  }
  return static_cast<uint32_t>(deviceTable.size());
}

const char* midiInputName(int32_t deviceId) noexcept {
  if (deviceId < 0 || static_cast<size_t>(deviceId) >= deviceTable.size()) return nullptr;
  return deviceTable[static_cast<size_t>(deviceId)].portName.c_str();
}

int32_t openMidiInput(MidiPortHandle* handle, int32_t deviceId, MidiInProc callback,
                      uintptr_t instance) noexcept {
  if (handle == nullptr || callback == nullptr) return MidiOpenFailed;
  *handle = nullptr;
  if (deviceId < 0 || static_cast<size_t>(deviceId) >= deviceTable.size()) {
    return MidiBadDeviceId;
  }
  if (midiPort.open) return MidiPortBusy;
  resetPort(midiPort, callback, instance);
  try {
    if (!connectInput(midiPort, deviceTable[static_cast<size_t>(deviceId)])) return MidiOpenFailed;
  } catch (...) {
    disconnectInput(midiPort);
    return MidiOpenFailed;
  }
  if (!startDelivery(midiPort)) return MidiOpenFailed;
  midiPort.open = true;
  closeOpenPortAtExitOnce();
  *handle = &midiPort;
  return MidiOk;
}

int32_t startMidiInput(MidiPortHandle handle) noexcept {
  if (!isOpenPort(handle)) return MidiInvalidHandle;
  handle->started.store(true, std::memory_order_seq_cst);
  return MidiOk;
}

int32_t stopMidiInput(MidiPortHandle handle) noexcept {
  if (!isOpenPort(handle)) return MidiInvalidHandle;
  stopReceiving(*handle);
  waitUntilDelivered(handle->queue);
  return MidiOk;
}

int32_t closeMidiInput(MidiPortHandle handle) noexcept {
  if (!isOpenPort(handle)) return MidiInvalidHandle;
  stopReceiving(*handle);
  sendCloseMarker(*handle);
  handle->delivery.join();
  disconnectInput(*handle);
  handle->open = false;
  return MidiOk;
}

uint32_t droppedMidiMessages(MidiPortHandle handle) noexcept {
  if (!isOpenPort(handle)) return 0;
  return handle->queue.dropped.load(std::memory_order_relaxed);
}

bool jackServerWentAway() noexcept {
  return jackSession.anyServerGone.load(std::memory_order_acquire);
}

bool packReceivedMessage(const unsigned char* bytes, size_t size, uint32_t* message) noexcept {
  if (size == 0 || size > ShortMessageMaxBytes) return false;
  const unsigned char status = bytes[0];
  if (status < FirstStatusByte || status == SystemExclusive || status == EndOfExclusive) {
    return false;
  }
  *message = packShortMessage(status, size > 1 ? bytes[1] : 0, size > 2 ? bytes[2] : 0);
  return true;
}
