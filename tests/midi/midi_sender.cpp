// SPDX-License-Identifier: GPL-3.0-or-later
// A JACK client with one MIDI output port that plays a timed script once something connects
// to the port: the keyboard of the MIDI tests.
//
//   quillfern-test-midi-sender CLIENT_NAME [--port NAME] [--stay] [--note-on-frame] STEP...
//   quillfern-test-midi-sender CLIENT_NAME --ear
//
// STEP is MS:HEX, the bytes HEX (e.g. 904564 for a note-on of note 69) sent MS milliseconds
// after the previous step, or flood:RATE:SECONDS, RATE messages a second for SECONDS seconds
// (note-ons and note-offs by turns, ending on a note-off), burst:COUNT:HEX, COUNT copies of HEX
// at once, or alloff, the note-offs of every key on every channel at once (2048 messages, as
// sequencers send on stop; channel 1 last). Times count from the first connection. The sender
// prints "ready" once its port is there and "sent" once the script is played; then it ends, or with
// --stay waits for the end of its standard input. The end of standard input ends it at any time, so
// a sender never outlives the test that started it. With --note-on-frame it prints "note-on at F"
// after "sent", F the server's frame of its first note-on.
//
// With --ear the client listens instead, at its audio input "in", and prints "sound at F", the
// server's frame of the first non-zero sample it hears: on the sender's clock, so that the two
// give the key-to-sound of what lies between them.
#include <jack/jack.h>
#include <jack/midiport.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint64_t NotYet = UINT64_MAX;

struct ScheduledMessage {
  uint64_t frame;  // frames after the first connection
  std::vector<jack_midi_data_t> bytes;
};

struct SenderState {
  jack_client_t* client = nullptr;
  jack_port_t* port = nullptr;
  std::vector<ScheduledMessage> script;
  size_t next = 0;                // process thread only
  bool connected = false;         // process thread only
  jack_nframes_t startFrame = 0;  // process thread only
  std::atomic<bool> played{false};
  std::atomic<uint64_t> noteOnFrame{NotYet};  // the first note-on's frame on the server's clock
  std::atomic<uint64_t> soundFrame{NotYet};   // the ear's first non-zero sample's
};

SenderState sender;

bool isNoteOn(const std::vector<jack_midi_data_t>& bytes) {
  return bytes.size() == 3 && (bytes[0] & 0xF0) == 0x90 && bytes[2] != 0;
}

int listen(jack_nframes_t frames, void*) {
  if (sender.soundFrame.load() != NotYet) return 0;
  const auto* samples = static_cast<const float*>(jack_port_get_buffer(sender.port, frames));
  const jack_nframes_t cycleStart = jack_last_frame_time(sender.client);
  for (jack_nframes_t frame = 0; frame < frames; ++frame) {
    if (samples[frame] != 0.0f) {
      sender.soundFrame.store(cycleStart + frame);
      break;
    }
  }
  return 0;
}

std::vector<jack_midi_data_t> parseHex(const std::string& hex) {
  std::vector<jack_midi_data_t> bytes;
  for (size_t at = 0; at + 1 < hex.size(); at += 2) {
    bytes.push_back(static_cast<jack_midi_data_t>(std::stoul(hex.substr(at, 2), nullptr, 16)));
  }
  return bytes;
}

void appendFlood(std::vector<ScheduledMessage>& script, uint64_t startFrame, uint64_t rate,
                 uint64_t seconds, uint64_t sampleRate) {
  const uint64_t count = rate * seconds;
  for (uint64_t i = 0; i < count; ++i) {
    const auto note = static_cast<jack_midi_data_t>(36 + (i / 2) % 48);
    const jack_midi_data_t status = i % 2 == 0 ? 0x90 : 0x80;
    script.push_back({startFrame + i * sampleRate / rate, {status, note, 100}});
  }
}

// Channel 16 first and channel 1 last, where a queue too short for the burst loses them.
void appendAllNotesOff(std::vector<ScheduledMessage>& script, uint64_t frame) {
  for (int channel = 15; channel >= 0; --channel) {
    for (jack_midi_data_t note = 0; note < 128; ++note) {
      script.push_back({frame, {static_cast<jack_midi_data_t>(0x80 | channel), note, 0}});
    }
  }
}

// Returns the frame after the last message of the step.
uint64_t appendStep(std::vector<ScheduledMessage>& script, const std::string& step, uint64_t frame,
                    uint64_t sampleRate) {
  if (step == "alloff") {
    appendAllNotesOff(script, frame);
    return frame;
  }
  if (step.rfind("burst:", 0) == 0) {
    const size_t colon = step.find(':', 6);
    const std::vector<jack_midi_data_t> bytes = parseHex(step.substr(colon + 1));
    script.insert(script.end(), std::stoull(step.substr(6, colon - 6)), {frame, bytes});
    return frame;
  }
  if (step.rfind("flood:", 0) == 0) {
    const size_t colon = step.find(':', 6);
    const uint64_t rate = std::stoull(step.substr(6, colon - 6));
    const uint64_t seconds = std::stoull(step.substr(colon + 1));
    appendFlood(script, frame, rate, seconds, sampleRate);
    return frame + seconds * sampleRate;
  }
  const size_t colon = step.find(':');
  frame += std::stoull(step.substr(0, colon)) * sampleRate / 1000;
  script.push_back({frame, parseHex(step.substr(colon + 1))});
  return frame;
}

// Writes every message due in this cycle; one that finds the buffer full waits for the next.
int playScript(jack_nframes_t frames, void*) {
  void* buffer = jack_port_get_buffer(sender.port, frames);
  jack_midi_clear_buffer(buffer);
  const jack_nframes_t cycleStart = jack_last_frame_time(sender.client);
  if (!sender.connected) {
    if (jack_port_connected(sender.port) == 0) return 0;
    sender.connected = true;
    sender.startFrame = cycleStart;
  }
  const uint64_t elapsed = cycleStart - sender.startFrame;
  while (sender.next < sender.script.size()) {
    const ScheduledMessage& message = sender.script[sender.next];
    if (message.frame >= elapsed + frames) break;
    const auto offset =
        static_cast<jack_nframes_t>(message.frame > elapsed ? message.frame - elapsed : 0);
    if (jack_midi_event_write(buffer, offset, message.bytes.data(), message.bytes.size()) != 0) {
      break;
    }
    if (isNoteOn(message.bytes) && sender.noteOnFrame.load() == NotYet) {
      sender.noteOnFrame.store(cycleStart + offset);
    }
    ++sender.next;
  }
  if (sender.next == sender.script.size()) sender.played.store(true);
  return 0;
}

// Waits up to timeoutMs for the end of standard input; true when it came.
bool inputEnded(int timeoutMs) {
  pollfd input{STDIN_FILENO, POLLIN, 0};
  if (poll(&input, 1, timeoutMs) <= 0) return false;
  char discard[64];
  return read(STDIN_FILENO, discard, sizeof discard) <= 0;
}

void say(const char* line) {
  std::printf("%s\n", line);
  std::fflush(stdout);
}

void printFrame(const char* what, uint64_t frame) {
  std::printf("%s %llu\n", what, static_cast<unsigned long long>(frame));
  std::fflush(stdout);
}

// The ear: says "ready", then "sound at F" once it hears one, and ends.
int listenForSound() {
  sender.port =
      jack_port_register(sender.client, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
  if (sender.port == nullptr || jack_set_process_callback(sender.client, listen, nullptr) != 0 ||
      jack_activate(sender.client) != 0) {
    return 1;
  }
  say("ready");
  bool ended = false;
  while (!ended && sender.soundFrame.load() == NotYet) ended = inputEnded(1);
  if (!ended) printFrame("sound at", sender.soundFrame.load());
  jack_client_close(sender.client);
  return 0;
}

// A client of exactly this name. A case that plays twice starts a sender of the same name right
// after the last one ended, and a busy server may not have removed that one yet: the name is
// asked for again for up to 2 s while the server says it is taken.
jack_client_t* openClient(const char* name) {
  const auto options = static_cast<jack_options_t>(JackNoStartServer | JackUseExactName);
  for (int attempt = 0;; ++attempt) {
    jack_status_t status{};
    jack_client_t* client = jack_client_open(name, options, &status);
    if (client != nullptr || (status & JackNameNotUnique) == 0 || attempt == 20) {
      if (client == nullptr) std::fprintf(stderr, "no JACK client %s: status 0x%x\n", name, status);
      return client;
    }
    usleep(100000);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CLIENT_NAME [--port NAME] [--stay] STEP...\n", argv[0]);
    return 2;
  }
  std::string portName = "out";
  bool stay = false;
  bool ear = false;
  bool tellNoteOn = false;
  std::vector<std::string> steps;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--stay") == 0) {
      stay = true;
    } else if (std::strcmp(argv[i], "--ear") == 0) {
      ear = true;
    } else if (std::strcmp(argv[i], "--note-on-frame") == 0) {
      tellNoteOn = true;
    } else if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
      portName = argv[++i];
    } else {
      steps.emplace_back(argv[i]);
    }
  }

  sender.client = openClient(argv[1]);
  if (sender.client == nullptr) return 1;
  if (ear) return listenForSound();
  const uint64_t sampleRate = jack_get_sample_rate(sender.client);
  uint64_t frame = 0;
  for (const std::string& step : steps) frame = appendStep(sender.script, step, frame, sampleRate);
  sender.port = jack_port_register(sender.client, portName.c_str(), JACK_DEFAULT_MIDI_TYPE,
                                   JackPortIsOutput, 0);
  if (sender.port == nullptr ||
      jack_set_process_callback(sender.client, playScript, nullptr) != 0 ||
      jack_activate(sender.client) != 0) {
    return 1;
  }
  say("ready");

  bool ended = false;
  while (!ended && !sender.played.load()) ended = inputEnded(1);
  if (!ended) {
    say("sent");
    if (tellNoteOn) printFrame("note-on at", sender.noteOnFrame.load());
    if (stay) {
      while (!inputEnded(-1)) {
      }
    } else {
      inputEnded(50);  // lets the cycle that wrote the last message finish
    }
  }
  jack_client_close(sender.client);
  return 0;
}
