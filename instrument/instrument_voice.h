// SPDX-License-Identifier: GPL-3.0-or-later
// One plugin instance's voice: the engine record and the parameter values it plays, with what
// both plugin formats do to it. The thread that runs the instance's audio owns it while the
// instance is active; nothing here allocates, locks or waits.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/engine_state.h"
#include "engine/nonblocking.h"
#include "engine/render.h"
#include "instrument/parameters.h"

// The parameters a host may modulate note by note (CLAP's per-note modulation).
inline constexpr std::array<uint32_t, 5> PerNoteParameterIds{ISlider, BSlider, RSlider, ASlider,
                                                             VolumeSlider};

// What a chord's voice plays, for choosing the voice a new note takes and the one an event
// names, and its note's own modulation.
struct VoiceSlot {
  int32_t key = -1;       // the key it plays or played last; -1: none yet
  int32_t channel = -1;   // the channel its note came on (0 to 15); -1: unknown
  int32_t noteId = -1;    // the host's id for its note (CLAP's); -1: none
  uint32_t pressed = 0;   // when its note started, in the order of the chord's events
  uint32_t released = 0;  // when its key went up; 0 while it is held
  bool sounding = false;  // its note sounds; a host is told when it falls silent
  std::array<double, PerNoteParameterIds.size()> offsets{};  // added to those parameters
  double brightness = 0.0;  // -1 to 1: moves b as an MPE channel's timbre does
};

// Voices 2 to 16, played when the Voices parameter asks for more than one: each note its own
// engine, started the moment the count first reaches it. Until then nothing touches them, and
// a one-voice instance plays voice 1 (InstrumentVoice::engine) alone, as it always has.
struct ChordVoices {
  std::array<EngineState, MostVoices - 1> engines;
  std::array<VoiceSlot, MostVoices> slots;
  int32_t count = 1;    // voices new notes may take: the Voices parameter
  int32_t started = 1;  // voices started so far, and so rendered: at least `count`
  int32_t newest = 0;   // the voice of the latest note: the one a window's trace follows
  uint32_t events = 0;  // note-ons and releases so far
};

inline constexpr int32_t MidiChannelCount = 16;
inline constexpr double MemberBendRange = 48.0;  // semitones: MPE's default for member channels

// What MPE's member channels hold: their expression, which reaches the note they play, and the
// registered parameter each is being told of.
struct MpeChannels {
  MpeZone zone = MpeZone::Off;
  int32_t members = MidiChannelCount - 1;             // member channels of the zone
  double bendRange = MemberBendRange;                 // semitones at the members' bend's ends
  std::array<double, MidiChannelCount> bend{};        // -1 to 1
  std::array<double, MidiChannelCount> pressure{};    // 0 to 1
  std::array<double, MidiChannelCount> timbre{};      // -1 to 1, 0 at CC 74's centre
  std::array<int32_t, MidiChannelCount> parameter{};  // RPN: MSB << 7 | LSB; -1 none
};

struct InstrumentVoice {
  EngineState engine;
  ParameterValues values;  // what the voice plays, each a playable value
  bool transportRolling = false;
  ChordVoices chord;
  MpeChannels mpe;
  std::array<double, PerNoteParameterIds.size()> offsets{};  // modulation of every note
  // Notes fallen silent or taken over since a host last took them (CLAP's note end); more
  // are not kept.
  std::array<VoiceSlot, 2 * MostVoices> ended;
  int32_t endedCount = 0;
};

// What parameter `index` at `value` (playable) does to an engine: a window control's value goes
// to the voice as the window's would, an instrument setting to the instrument.
void applyParameterValue(EngineState& engine, std::size_t index,
                         double value) noexcept QUILLFERN_NONBLOCKING;

// An engine started at `sampleRate` and playing `values`: the plugins' voice and the renderer's.
void startVoiceWith(EngineState& engine, double sampleRate,
                    const ParameterValues& values) noexcept QUILLFERN_NONBLOCKING;

// A fresh voice at `sampleRate` (Hz) playing `values`: what a new, activated or reloaded
// instance plays. With the defaults, the voice's start-up values.
void startInstrumentVoice(InstrumentVoice& voice, double sampleRate,
                          const ParameterValues& values) noexcept QUILLFERN_NONBLOCKING;

// The host sets parameter `index` to `value`, which plays as playableValue makes it; NaN and
// infinities change nothing. Another MIDI channel releases the notes held.
void setInstrumentParameter(InstrumentVoice& voice, std::size_t index,
                            double value) noexcept QUILLFERN_NONBLOCKING;

// One MIDI message from the host. Channel messages of the chosen channel (any channel for
// Omni) play as channel 1 does in the window; everything else is ignored.
void playMidi(InstrumentVoice& voice, const uint8_t* bytes,
              std::size_t size) noexcept QUILLFERN_NONBLOCKING;

// A note event in a host's own terms (CLAP's): on and off with a velocity from 0 to 1, choke,
// and the note expressions tuning (semitones, a bend of that note alone) and pressure (0 to 1,
// as aftertouch). A channel (0 to 15) or key of -1 stands for every one; a note-on needs a key.
// With more than one voice, `noteId` (-1: none) names the note a later event may name.
// Brightness (0 to 1, 0.5 the centre) moves b as an MPE channel's timbre does.
enum class NoteEventKind { On, Off, Choke, Tuning, Pressure, Brightness };
void playNoteEvent(InstrumentVoice& voice, NoteEventKind kind, int32_t channel, int32_t key,
                   double value, int32_t noteId = -1) noexcept QUILLFERN_NONBLOCKING;

// One short message (packed as packShortMessage packs it) as if on channel 1: what the renderer
// plays, its song's channel already moved there. In an MPE zone, on its own channel.
void playMessage(InstrumentVoice& voice, uint32_t message) noexcept QUILLFERN_NONBLOCKING;

// Voice `index` (0 to MostVoices - 1): voice 1 is `voice.engine`.
EngineState& engineOf(InstrumentVoice& voice, int32_t index) noexcept QUILLFERN_NONBLOCKING;

// Parameter `id` (one of PerNoteParameterIds) moved by `amount` on the notes an event names
// (note id, channel and key; -1 for every one), for as long as each note sounds: CLAP's
// per-note modulation. With one voice, the voice's.
void modulateNotes(InstrumentVoice& voice, uint32_t id, int32_t noteId, int32_t channel,
                   int32_t key, double amount) noexcept QUILLFERN_NONBLOCKING;

// The host's transport rolls or stands; stopping it releases the voice as a panic button does.
void followTransport(InstrumentVoice& voice, bool rolling) noexcept QUILLFERN_NONBLOCKING;

// The latency a voice playing `values` at `sampleRate` reports: its handover's, none when its
// notes start at once.
uint32_t latencyOf(double sampleRate, const ParameterValues& values) noexcept QUILLFERN_NONBLOCKING;

// Renders `frames` samples into `output`: with more than one voice, the sum in voice order of
// each sounding voice's own output, complete with its DC filter, velocity, level and bound, so
// that a chord is exactly the sum of its notes played alone. The model's course goes to
// `trace` when it is not null: the newest note's.
void renderVoice(InstrumentVoice& voice, float* output, uint32_t frames,
                 ModelTrace* trace = nullptr) noexcept QUILLFERN_NONBLOCKING;
