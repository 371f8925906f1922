#include "midi/midi_service.h"

#include <rtmidi/RtMidi.h>

#include <array>
#include <atomic>
#include <cstdlib>
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
// std::atomic::wait when there is nothing to deliver, using no CPU.
struct MidiMessageQueue {
  std::array<uint32_t, MidiQueueCapacity> messages{};
  std::atomic<uint32_t> head{0};     // next message to deliver; the MIDI thread advances it
  std::atomic<uint32_t> tail{0};     // next free slot; the producer advances it
  std::atomic<uint32_t> dropped{0};  // messages the producer found no room for
};

struct MidiPort {
  std::optional<RtMidiIn> input;  // the connection; destroying it ends the producer thread
  std::thread delivery;           // the MIDI thread
  MidiInProc callback = nullptr;
  uintptr_t instance = 0;
  bool open = false;  // window thread only
  std::atomic<bool> started{false};
  std::atomic<bool> receiving{false};  // the producer is between its started test and its push
  MidiMessageQueue queue;
};

namespace {

constexpr size_t ShortMessageMaxBytes = 3;
// Never a packed short message (those leave the top byte 0): the MIDI thread's sign to deliver
// the close notice and end.
constexpr uint32_t CloseMarker = 0xFFFFFFFF;
// The producer keeps the last free slot for the close marker, so that closing never waits for
// room in the queue.
constexpr uint32_t ProducerCapacity = MidiQueueCapacity - 1;
constexpr const char* InputPortName = "MIDI in";

MidiPort midiPort;
MidiDeviceTable deviceTable;
std::string clientName = "Quillfern";

// The libraries' own error reports go to the terminal unless a handler takes them; failures
// here are results, never messages.
void ignoreRtMidiError(RtMidiError::Type, const std::string&, void*) {}

// RtMidi reports a failing constructor on std::cerr before it throws, and also a JACK
// connection that fails, before any error callback can be installed; the stream is muted for
// the construction only. Only the window thread writes to std::cerr here.
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

void appendPortsOf(int32_t api) {
  std::optional<RtMidiIn> input;
  if (makeQuietInput(input, api)) {
    appendReadablePorts(deviceTable, api, input->getPortCount(), portNamesOf(*input));
  }
}

bool isOpenPort(MidiPortHandle handle) noexcept {
  return handle == &midiPort && midiPort.open;
}

// Producer side: runs on the system's receiving thread for every message.
void receiveMessage(double, std::vector<unsigned char>* bytes, void* userData) noexcept {
  MidiPort& port = *static_cast<MidiPort*>(userData);
  uint32_t message = 0;
  if (!packReceivedMessage(bytes->data(), bytes->size(), &message)) return;
  // Paired with stopReceiving: either this sees started cleared, or the stopper sees
  // receiving set and waits for the push to finish.
  port.receiving.store(true, std::memory_order_seq_cst);
  if (port.started.load(std::memory_order_seq_cst)) {
    MidiMessageQueue& queue = port.queue;
    const uint32_t tail = queue.tail.load(std::memory_order_relaxed);
    if (tail - queue.head.load(std::memory_order_acquire) < ProducerCapacity) {
      queue.messages[tail % MidiQueueCapacity] = message;
      queue.tail.store(tail + 1, std::memory_order_release);
      queue.tail.notify_one();
    } else {
      queue.dropped.fetch_add(1, std::memory_order_relaxed);
    }
  }
  port.receiving.store(false, std::memory_order_release);
}

// Consumer side: the MIDI thread, from the open notice to the close notice.
void deliverNotices(MidiPort& port) noexcept {
  port.callback(&port, MidiOpenNotice, port.instance, 0, 0);
  MidiMessageQueue& queue = port.queue;
  uint32_t head = queue.head.load(std::memory_order_relaxed);
  for (;;) {
    const uint32_t tail = queue.tail.load(std::memory_order_acquire);
    if (head == tail) {
      queue.tail.wait(tail, std::memory_order_acquire);
      continue;
    }
    const uint32_t message = queue.messages[head % MidiQueueCapacity];
    const bool closing = message == CloseMarker;
    port.callback(&port, closing ? MidiCloseNotice : MidiDataNotice, port.instance,
                  closing ? 0 : message, 0);
    queue.head.store(++head, std::memory_order_release);
    queue.head.notify_all();
    if (closing) return;
  }
}

// After this returns the producer adds nothing to the queue until the next start.
void stopReceiving(MidiPort& port) noexcept {
  port.started.store(false, std::memory_order_seq_cst);
  while (port.receiving.load(std::memory_order_seq_cst)) std::this_thread::yield();
}

void waitUntilDelivered(MidiMessageQueue& queue) noexcept {
  const uint32_t end = queue.tail.load(std::memory_order_acquire);
  for (uint32_t head = queue.head.load(std::memory_order_acquire); head != end;
       head = queue.head.load(std::memory_order_acquire)) {
    queue.head.wait(head, std::memory_order_acquire);
  }
}

// Called with the producer stopped for good: the window thread is the queue's only producer now.
void sendCloseMarker(MidiMessageQueue& queue) noexcept {
  const uint32_t tail = queue.tail.load(std::memory_order_relaxed);
  queue.messages[tail % MidiQueueCapacity] = CloseMarker;
  queue.tail.store(tail + 1, std::memory_order_release);
  queue.tail.notify_one();
}

void resetPort(MidiPort& port, MidiInProc callback, uintptr_t instance) noexcept {
  port.callback = callback;
  port.instance = instance;
  port.started.store(false, std::memory_order_relaxed);
  port.queue.head.store(0, std::memory_order_relaxed);
  port.queue.tail.store(0, std::memory_order_relaxed);
  port.queue.dropped.store(0, std::memory_order_relaxed);
}

// Finds the device's port by name in its system's current numbering and connects to it.
bool connectInput(MidiPort& port, const MidiDeviceEntry& device) {
  if (!makeQuietInput(port.input, device.api)) return false;
  RtMidiIn& input = *port.input;
  const int32_t index = findPortIndex(input.getPortCount(), portNamesOf(input), device.portName);
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

bool startDelivery(MidiPort& port) {
  try {
    port.delivery = std::thread(deliverNotices, std::ref(port));
  } catch (...) {
    port.input.reset();
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
    appendPortsOf(RtMidi::LINUX_ALSA);
    appendPortsOf(RtMidi::UNIX_JACK);
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
    midiPort.input.reset();
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
  handle->input.reset();
  sendCloseMarker(handle->queue);
  handle->delivery.join();
  handle->open = false;
  return MidiOk;
}

uint32_t droppedMidiMessages(MidiPortHandle handle) noexcept {
  if (!isOpenPort(handle)) return 0;
  return handle->queue.dropped.load(std::memory_order_relaxed);
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
