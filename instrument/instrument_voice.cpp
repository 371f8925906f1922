// SPDX-License-Identifier: GPL-3.0-or-later
#include "instrument/instrument_voice.h"

#include <algorithm>
#include <cmath>

#include "engine/instrument.h"
#include "engine/render.h"
#include "engine/voice.h"
#include "engine/voice_lanes.h"
#include "instrument/known_cycles.h"
#include "midi/instrument_messages.h"
#include "midi/midi_messages.h"

namespace {

constexpr uint8_t DataBits = 0x7F;
constexpr uint32_t ByteMask = 0xFF;
static_assert(MostVoices <= MostVoicesSummed, "a chord's voices are summed together");

bool listensTo(const InstrumentVoice& voice, uint8_t channelBits) noexcept QUILLFERN_NONBLOCKING {
  const int32_t index = parameterIndexOfId(ChannelParameterId);
  const auto channel = static_cast<int32_t>(voice.values.value[index]);
  return channel == OmniChannel || channel == channelBits + FirstMidiChannel;
}

bool playsChord(const InstrumentVoice& voice) noexcept {
  return voice.chord.started > 1;
}

// Every started voice, in order.
template <typename Action>
void forEachVoice(InstrumentVoice& voice, Action action) noexcept {
  for (int32_t index = 0; index < voice.chord.started; ++index) action(engineOf(voice, index));
}

void applyValue(InstrumentVoice& voice, std::size_t index) noexcept QUILLFERN_NONBLOCKING {
  const double value = voice.values.value[index];
  forEachVoice(voice, [&](EngineState& engine) { applyParameterValue(engine, index, value); });
}

uint32_t noteMessage(uint8_t status, int32_t key, int32_t velocity) noexcept {
  return packShortMessage(status, static_cast<uint8_t>(key), static_cast<uint8_t>(velocity));
}

// Every key up and the pedal's hold let go, on every voice.
void closeEveryVoice(InstrumentVoice& voice) noexcept {
  forEachVoice(voice, [](EngineState& engine) { closeInstrument(engine); });
  for (VoiceSlot& slot : voice.chord.slots) {
    if (slot.released == 0) slot.released = ++voice.chord.events;
  }
}

// The voice a note of `key` takes: the one that sounds it already (pressed again, it restarts
// there), else a free one, else the one released longest ago, else the oldest held one.
int32_t voiceForKey(InstrumentVoice& voice, int32_t key) noexcept {
  const ChordVoices& chord = voice.chord;
  int32_t free = -1;
  int32_t released = -1;
  int32_t oldest = 0;
  for (int32_t index = 0; index < chord.count; ++index) {
    const VoiceSlot& slot = chord.slots[static_cast<std::size_t>(index)];
    const bool rests = restsSilently(engineOf(voice, index));
    if (slot.key == key && !rests) return index;
    if (rests) {
      if (free < 0) free = index;
      continue;
    }
    const auto at = [&](int32_t other) { return chord.slots[static_cast<std::size_t>(other)]; };
    if (slot.released != 0 && (released < 0 || slot.released < at(released).released)) {
      released = index;
    }
    if (slot.pressed < at(oldest).pressed) oldest = index;
  }
  if (free >= 0) return free;
  return released >= 0 ? released : oldest;
}

void applyNoteOffsets(InstrumentVoice& voice, int32_t index) noexcept;

// A note a host no longer hears from the plugin: kept for it to take, while there is room.
void reportEnded(InstrumentVoice& voice, const VoiceSlot& slot) noexcept {
  if (!slot.sounding || voice.endedCount >= static_cast<int32_t>(voice.ended.size())) return;
  voice.ended[static_cast<std::size_t>(voice.endedCount++)] = slot;
}

// Voice `index` plays a new note: the note it sounded ends for the host, and that note's own
// modulation with it.
void startSlot(InstrumentVoice& voice, int32_t index, int32_t key, int32_t channel,
               int32_t noteId) noexcept {
  VoiceSlot& slot = voice.chord.slots[static_cast<std::size_t>(index)];
  reportEnded(voice, slot);
  const bool modulated =
      slot.brightness != 0.0 || std::any_of(slot.offsets.begin(), slot.offsets.end(),
                                            [](double offset) { return offset != 0.0; });
  slot = {key, channel, noteId, ++voice.chord.events, 0, true, {}, 0.0};
  if (modulated) applyNoteOffsets(voice, index);
  voice.chord.newest = index;
}

// A note on a voice of its own. Whatever the voice sounded ends first, as the release of its
// last key would end it: the new note then fades it out over its handover, or beside itself
// when notes start at once, as a mono note hands over.
void startChordNote(InstrumentVoice& voice, int32_t key, int32_t velocity, int32_t channel,
                    int32_t noteId) noexcept {
  const int32_t index = voiceForKey(voice, key);
  EngineState& engine = engineOf(voice, index);
  closeInstrument(engine);
  playInstrumentMessage(engine, noteMessage(NoteOnChannel1, key, velocity));
  startSlot(voice, index, key, channel, noteId);
}

// Whether an event for `noteId`, `channel` and `key` names the slot's note: each that is not -1
// matches, as CLAP matches its wildcards. A note whose host gave it no id matches any id.
bool names(const VoiceSlot& slot, int32_t noteId, int32_t channel, int32_t key) noexcept {
  return (noteId < 0 || slot.noteId < 0 || slot.noteId == noteId) &&
         (channel < 0 || slot.channel == channel) && (key < 0 || slot.key == key);
}

// The release of every held note the event names.
void endChordNotes(InstrumentVoice& voice, int32_t noteId, int32_t channel, int32_t key) noexcept {
  for (int32_t index = 0; index < voice.chord.started; ++index) {
    VoiceSlot& slot = voice.chord.slots[static_cast<std::size_t>(index)];
    if (slot.released != 0 || !names(slot, noteId, channel, key)) continue;
    playInstrumentMessage(engineOf(voice, index), noteMessage(NoteOffChannel1, slot.key, 0));
    slot.released = ++voice.chord.events;
  }
}

// With more than one voice: notes to voices of their own, everything else to every voice.
void playChordMessage(InstrumentVoice& voice, uint32_t message, int32_t channel) noexcept {
  const auto status = static_cast<uint8_t>(message & ByteMask);
  const auto key = static_cast<int32_t>((message >> 8) & ByteMask);
  const auto velocity = static_cast<int32_t>((message >> 16) & ByteMask);
  const bool noteOn = status == NoteOnChannel1 && velocity != 0;
  const bool noteOff = status == NoteOffChannel1 || (status == NoteOnChannel1 && velocity == 0);
  if ((noteOn || noteOff) && key >= MidiKeyCount) return;
  if (noteOn) return startChordNote(voice, key, velocity, channel, -1);
  if (noteOff) return endChordNotes(voice, -1, voice.mpe.zone != MpeZone::Off ? channel : -1, key);
  const bool panic = status == ControlChangeChannel1 && (key == AllNotesOff || key == AllSoundOff);
  if (panic) return closeEveryVoice(voice);
  forEachVoice(voice, [&](EngineState& engine) { playInstrumentMessage(engine, message); });
}

// The one voice's note-on: its note is the latest key's.
void playMonoNoteOn(InstrumentVoice& voice, uint32_t message, int32_t channel,
                    int32_t noteId) noexcept {
  playInstrumentMessage(voice.engine, message);
  const auto key = static_cast<int32_t>((message >> 8) & ByteMask);
  if (key < MidiKeyCount && voice.engine.heldKeys[static_cast<std::size_t>(key)]) {
    startSlot(voice, 0, key, channel, noteId);
  }
}

void playVoiceMessage(InstrumentVoice& voice, uint32_t message, int32_t channel) noexcept {
  if (playsChord(voice)) return playChordMessage(voice, message, channel);
  const bool noteOn = (message & ByteMask) == NoteOnChannel1 && ((message >> 16) & ByteMask) != 0;
  if (noteOn) return playMonoNoteOn(voice, message, channel, -1);
  playInstrumentMessage(voice.engine, message);
}

// The expressions every voice shares, as voice 1 has them: a voice started later joins in.
void shareExpression(const EngineState& from, EngineState& to) noexcept {
  const Instrument& instrument = from.instrument;
  bendPitch(to, instrument.bendPosition);
  moveModWheel(to, instrument.wheel);
  pressChannel(to, instrument.channelPressure);
  to.instrument.pedalDown = instrument.pedalDown;
}

// Another voice count releases every note, and starts the voices it reaches for the first time.
void changeVoiceCount(InstrumentVoice& voice, int32_t count) noexcept {
  ChordVoices& chord = voice.chord;
  closeEveryVoice(voice);
  for (int32_t index = chord.started; index < count; ++index) {
    EngineState& engine = engineOf(voice, index);
    startVoiceWith(engine, voice.engine.sampleRate, voice.values);
    shareExpression(voice.engine, engine);
    chord.slots[static_cast<std::size_t>(index)] = {};
  }
  chord.count = count;
  chord.started = std::max(chord.started, count);
}

// Every sounding voice, summed in voice order: a voice at rest costs nothing.
void renderChord(InstrumentVoice& voice, float* output, uint32_t frames,
                 ModelTrace* trace) noexcept {
  std::array<EngineState*, MostVoices> sounding;
  int32_t count = 0;
  int32_t traced = -1;
  for (int32_t index = 0; index < voice.chord.started; ++index) {
    EngineState& engine = engineOf(voice, index);
    if (restsSilently(engine)) continue;
    if (index == voice.chord.newest && trace != nullptr) traced = count;
    sounding[static_cast<std::size_t>(count++)] = &engine;
  }
  renderVoiceSum(sounding.data(), count, output, frames, traced, trace);
}

// MPE.

constexpr int32_t BendCentre = 8192;  // of the 14-bit pitch wheel
constexpr double DataCentre = 64.0;   // of a 7-bit controller
constexpr double LargestData = 127.0;
constexpr int32_t MasterOfLowerZone = 0;
constexpr int32_t MasterOfUpperZone = MidiChannelCount - 1;
constexpr uint8_t DataEntry = 6;
constexpr uint8_t TimbreController = 74;
constexpr uint8_t ParameterLsb = 100;  // registered parameter number, low and high 7 bits
constexpr uint8_t ParameterMsb = 101;
constexpr int32_t NoParameter = 0x3FFF;
constexpr int32_t BendSensitivity = 0;   // RPN 0: the bend's range in semitones
constexpr int32_t MpeConfiguration = 6;  // RPN 6: the zone's member count

int32_t masterOf(const MpeChannels& mpe) noexcept {
  return mpe.zone == MpeZone::Upper ? MasterOfUpperZone : MasterOfLowerZone;
}

bool isMember(const MpeChannels& mpe, int32_t channel) noexcept {
  if (mpe.zone == MpeZone::Lower) return channel > MasterOfLowerZone && channel <= mpe.members;
  return channel < MasterOfUpperZone && channel >= MasterOfUpperZone - mpe.members;
}

void startMpe(InstrumentVoice& voice) noexcept {
  const double zone = voice.values.value[parameterIndexOfId(MpeParameterId)];
  voice.mpe = {};
  voice.mpe.zone = static_cast<MpeZone>(std::lrint(zone));
  voice.mpe.parameter.fill(NoParameter);
}

// The per-note parameters of voice `index`: the parameters' values, moved by its note's own
// modulation, and b by its member channel's timbre or its note's brightness.
void applyNoteOffsets(InstrumentVoice& voice, int32_t index) noexcept {
  const VoiceSlot& slot = voice.chord.slots[static_cast<std::size_t>(index)];
  const bool member =
      voice.mpe.zone != MpeZone::Off && slot.channel >= 0 && isMember(voice.mpe, slot.channel);
  const double timbre =
      member ? voice.mpe.timbre[static_cast<std::size_t>(slot.channel)] : slot.brightness;
  const double depth = voice.values.value[parameterIndexOfId(TimbreDepthParameterId)];
  for (std::size_t which = 0; which < PerNoteParameterIds.size(); ++which) {
    const auto parameter = static_cast<std::size_t>(parameterIndexOfId(PerNoteParameterIds[which]));
    double moved = voice.values.value[parameter] + voice.offsets[which] + slot.offsets[which];
    if (PerNoteParameterIds[which] == BSlider) moved += depth * timbre;
    applyParameterValue(engineOf(voice, index), parameter,
                        playableValue(instrumentParameters()[parameter], moved));
  }
}

// A member channel's bend, pressure and timbre on the note it plays.
void applyMemberExpression(InstrumentVoice& voice, int32_t channel) noexcept {
  const MpeChannels& mpe = voice.mpe;
  const auto slot = static_cast<std::size_t>(channel);
  const int32_t voices = playsChord(voice) ? voice.chord.started : 1;
  for (int32_t index = 0; index < voices; ++index) {
    if (playsChord(voice) &&
        voice.chord.slots[static_cast<std::size_t>(index)].channel != channel) {
      continue;
    }
    EngineState& engine = engineOf(voice, index);
    tuneNote(engine, mpe.bend[slot] * mpe.bendRange);
    pressKey(engine, engine.instrument.soundingKey, mpe.pressure[slot]);
    applyNoteOffsets(voice, index);
  }
}

// The registered parameters MPE sets: the members' bend range, and the zone itself (the MPE
// Configuration Message, on a zone's master channel: 0 members turn the zone off).
void followRegisteredParameter(InstrumentVoice& voice, int32_t channel, uint8_t controller,
                               uint8_t value) noexcept {
  MpeChannels& mpe = voice.mpe;
  int32_t& parameter = mpe.parameter[static_cast<std::size_t>(channel)];
  if (controller == ParameterMsb) parameter = (value << 7) | (parameter & DataBits);
  if (controller == ParameterLsb) parameter = (parameter & ~int32_t{DataBits}) | value;
  if (controller != DataEntry) return;
  const bool master = channel == MasterOfLowerZone || channel == MasterOfUpperZone;
  if (parameter == MpeConfiguration && master) {
    const bool lower = channel == MasterOfLowerZone;
    mpe.zone = value == 0 ? MpeZone::Off : lower ? MpeZone::Lower : MpeZone::Upper;
    mpe.members = std::min<int32_t>(value, MidiChannelCount - 1);
    mpe.bendRange = MemberBendRange;
  } else if (parameter == BendSensitivity && mpe.zone != MpeZone::Off && isMember(mpe, channel)) {
    mpe.bendRange = value;
  }
}

// A message in an MPE zone: the master channel's reach every note, a member channel's its own.
void playMpe(InstrumentVoice& voice, uint8_t kind, int32_t channel, uint8_t data1,
             uint8_t data2) noexcept {
  MpeChannels& mpe = voice.mpe;
  const uint32_t message = packShortMessage(kind, data1, data2);
  if (channel == masterOf(mpe)) return playVoiceMessage(voice, message, channel);
  if (!isMember(mpe, channel)) return;
  const auto slot = static_cast<std::size_t>(channel);
  switch (kind) {
    case NoteOnChannel1:
    case NoteOffChannel1:
    case PolyPressureChannel1:
      playVoiceMessage(voice, message, channel);
      if (kind == NoteOnChannel1 && data2 != 0) applyMemberExpression(voice, channel);
      return;
    case PitchBendChannel1:
      mpe.bend[slot] = static_cast<double>((data1 | data2 << 7) - BendCentre) / BendCentre;
      return applyMemberExpression(voice, channel);
    case ChannelPressureChannel1:
      mpe.pressure[slot] = data1 / LargestData;
      return applyMemberExpression(voice, channel);
    case ControlChangeChannel1:
      if (data1 != TimbreController) return;
      mpe.timbre[slot] = std::max(-1.0, (data2 - DataCentre) / DataCentre);
      return applyMemberExpression(voice, channel);
    default:
      return;
  }
}

// A channel message, its channel in `status`: to an MPE zone when one is on, else `plain` to
// the voice as channel 1's message.
void playChannelMessage(InstrumentVoice& voice, uint8_t status, uint8_t data1, uint8_t data2,
                        uint32_t plain) noexcept {
  const auto channel = static_cast<int32_t>(status & ChannelBits);
  const auto kind = static_cast<uint8_t>(status & ~ChannelBits);
  if (kind == ControlChangeChannel1) followRegisteredParameter(voice, channel, data1, data2);
  if (voice.mpe.zone != MpeZone::Off) return playMpe(voice, kind, channel, data1, data2);
  playVoiceMessage(voice, plain, channel);
}

}  // namespace

EngineState& engineOf(InstrumentVoice& voice, int32_t index) noexcept QUILLFERN_NONBLOCKING {
  if (index <= 0) return voice.engine;
  return voice.chord.engines[static_cast<std::size_t>(index - 1)];
}

void applyParameterValue(EngineState& engine, std::size_t index,
                         double value) noexcept QUILLFERN_NONBLOCKING {
  const InstrumentParameter& parameter = instrumentParameters()[index];
  if (const VoiceControl* control = windowControlOf(parameter)) {
    setVoiceValue(engine, control->number, value);
  } else {
    setInstrumentValue(engine, static_cast<int32_t>(parameter.id), value);
  }
}

void startVoiceWith(EngineState& engine, double sampleRate,
                    const ParameterValues& values) noexcept QUILLFERN_NONBLOCKING {
  startVoice(engine, sampleRate);
  engine.instrument.settings.knownCycles = knownCycles();
  for (std::size_t index = 0; index < ParameterCount; ++index) {
    applyParameterValue(engine, index, values.value[index]);
  }
}

void startInstrumentVoice(InstrumentVoice& voice, double sampleRate,
                          const ParameterValues& values) noexcept QUILLFERN_NONBLOCKING {
  startVoiceWith(voice.engine, sampleRate, values);
  voice.values = values;
  voice.transportRolling = false;
  voice.chord.started = 1;
  voice.chord.slots[0] = {};
  voice.chord.newest = 0;
  const auto count = static_cast<int32_t>(values.value[parameterIndexOfId(VoicesParameterId)]);
  if (count > 1) changeVoiceCount(voice, count);
  voice.chord.count = std::max(count, 1);
  startMpe(voice);
}

void setInstrumentParameter(InstrumentVoice& voice, std::size_t index,
                            double value) noexcept QUILLFERN_NONBLOCKING {
  const InstrumentParameter& parameter = instrumentParameters()[index];
  const double playable = playableValue(parameter, value);
  // NaN or infinite, or the value the voice already plays: an LV2 host hands every port over in
  // every block.
  if (!std::isfinite(value) || playable == voice.values.value[index]) return;
  voice.values.value[index] = playable;
  // Notes held on the old channel would never see their note-off: another channel releases
  // them, as closing a MIDI port does.
  if (parameter.id == ChannelParameterId) closeEveryVoice(voice);
  if (parameter.id == VoicesParameterId) changeVoiceCount(voice, static_cast<int32_t>(playable));
  if (parameter.id == MpeParameterId) {
    closeEveryVoice(voice);
    startMpe(voice);
  }
  applyValue(voice, index);
  if (voice.mpe.zone == MpeZone::Off ||
      (parameter.id != BSlider && parameter.id != TimbreDepthParameterId))
    return;
  for (int32_t channel = 0; channel < MidiChannelCount; ++channel) {
    if (isMember(voice.mpe, channel)) applyMemberExpression(voice, channel);
  }
}

void playMidi(InstrumentVoice& voice, const uint8_t* bytes,
              std::size_t size) noexcept QUILLFERN_NONBLOCKING {
  if (size == 0) return;
  const uint8_t status = bytes[0];
  if (status < FirstStatusByte || status >= SystemExclusive) return;  // channel messages only
  // In an MPE zone its channels play; the MPE Configuration Message may come on any.
  const bool inZone = voice.mpe.zone != MpeZone::Off;
  if (!inZone && !listensTo(voice, static_cast<uint8_t>(status & ChannelBits))) return;
  const auto data1 = static_cast<uint8_t>(size > 1 ? bytes[1] & DataBits : 0);
  const auto data2 = static_cast<uint8_t>(size > 2 ? bytes[2] & DataBits : 0);
  const auto onChannel1 = static_cast<uint8_t>(status & ~ChannelBits);
  playChannelMessage(voice, status, data1, data2, packShortMessage(onChannel1, data1, data2));
}

void playMessage(InstrumentVoice& voice, uint32_t message) noexcept QUILLFERN_NONBLOCKING {
  const auto status = static_cast<uint8_t>(message & ByteMask);
  if (status < FirstStatusByte || status >= SystemExclusive) {
    return playInstrumentMessage(voice.engine, message);  // as the window's voice takes it
  }
  playChannelMessage(voice, status, static_cast<uint8_t>((message >> 8) & ByteMask),
                     static_cast<uint8_t>((message >> 16) & ByteMask), message);
}

namespace {

// The voices a CLAP event names (see names()); voice 1 alone with one voice.
template <typename Action>
void forEachNamedVoice(InstrumentVoice& voice, int32_t noteId, int32_t channel, int32_t key,
                       Action action) noexcept {
  if (!playsChord(voice)) return action(voice.engine);
  for (int32_t index = 0; index < voice.chord.started; ++index) {
    const VoiceSlot& slot = voice.chord.slots[static_cast<std::size_t>(index)];
    if (names(slot, noteId, channel, key)) action(engineOf(voice, index));
  }
}

// The slots of the notes an event names, with their voices' index: voice 1's alone with one
// voice.
template <typename Action>
void forEachNamedSlot(InstrumentVoice& voice, int32_t noteId, int32_t channel, int32_t key,
                      Action action) noexcept {
  const int32_t voices = playsChord(voice) ? voice.chord.started : 1;
  for (int32_t index = 0; index < voices; ++index) {
    VoiceSlot& slot = voice.chord.slots[static_cast<std::size_t>(index)];
    if (names(slot, noteId, channel, key)) action(slot, index);
  }
}

void brightenNotes(InstrumentVoice& voice, int32_t noteId, int32_t channel, int32_t key,
                   double brightness) noexcept {
  if (!std::isfinite(brightness)) return;
  forEachNamedSlot(voice, noteId, channel, key, [&](VoiceSlot& slot, int32_t index) {
    slot.brightness = std::clamp(2.0 * brightness - 1.0, -1.0, 1.0);
    applyNoteOffsets(voice, index);
  });
}

// Notes whose voices have fallen silent end for the host.
void collectEndedNotes(InstrumentVoice& voice) noexcept {
  const int32_t voices = playsChord(voice) ? voice.chord.started : 1;
  for (int32_t index = 0; index < voices; ++index) {
    VoiceSlot& slot = voice.chord.slots[static_cast<std::size_t>(index)];
    if (!slot.sounding || !restsSilently(engineOf(voice, index))) continue;
    reportEnded(voice, slot);
    slot.sounding = false;
  }
}

void playChordNoteEvent(InstrumentVoice& voice, NoteEventKind kind, int32_t channel, int32_t key,
                        uint8_t velocity, double value, int32_t noteId) noexcept {
  switch (kind) {
    case NoteEventKind::On:
      return startChordNote(voice, key, velocity, channel, noteId);
    case NoteEventKind::Off:
      return endChordNotes(voice, noteId, channel, key);
    case NoteEventKind::Choke:
      return forEachNamedVoice(voice, noteId, channel, key,
                               [](EngineState& engine) { closeInstrument(engine); });
    case NoteEventKind::Tuning:
      return forEachNamedVoice(voice, noteId, channel, key,
                               [&](EngineState& engine) { tuneNote(engine, value); });
    case NoteEventKind::Brightness:
      return brightenNotes(voice, noteId, channel, key, value);
    case NoteEventKind::Pressure:
      if (key < 0 && noteId < 0) {
        return forEachVoice(voice, [&](EngineState& engine) { pressChannel(engine, value); });
      }
      return forEachNamedVoice(voice, noteId, channel, key, [&](EngineState& engine) {
        pressKey(engine, engine.instrument.soundingKey, value);
      });
  }
}

}  // namespace

void playNoteEvent(InstrumentVoice& voice, NoteEventKind kind, int32_t channel, int32_t key,
                   double value, int32_t noteId) noexcept QUILLFERN_NONBLOCKING {
  constexpr double LargestVelocity = 127.0;
  if (channel >= 0 && !listensTo(voice, static_cast<uint8_t>(channel & ChannelBits))) return;
  if (key >= MidiKeyCount) return;
  const bool everyKey = key < 0;
  const auto keyByte = static_cast<uint8_t>(key);
  // A velocity that is no number plays as the loudest rather than losing the note.
  const double scaled = std::isnan(value) ? LargestVelocity : value * LargestVelocity;
  const auto velocity = static_cast<uint8_t>(std::lrint(std::clamp(scaled, 1.0, LargestVelocity)));
  if (kind == NoteEventKind::On && everyKey) return;
  if (playsChord(voice))
    return playChordNoteEvent(voice, kind, channel, key, velocity, value, noteId);
  EngineState& engine = voice.engine;
  switch (kind) {
    case NoteEventKind::On:
      return playMonoNoteOn(voice, packShortMessage(NoteOnChannel1, keyByte, velocity), channel,
                            noteId);
    case NoteEventKind::Off:
      if (everyKey) return releaseAllKeys(engine);
      return playInstrumentMessage(engine, packShortMessage(NoteOffChannel1, keyByte, 0));
    case NoteEventKind::Choke:
      if (everyKey || key == engine.instrument.soundingKey) return closeInstrument(engine);
      return playInstrumentMessage(engine, packShortMessage(NoteOffChannel1, keyByte, 0));
    case NoteEventKind::Tuning:
      if (everyKey || key == engine.instrument.soundingKey) tuneNote(engine, value);
      return;
    case NoteEventKind::Pressure:
      if (everyKey) return pressChannel(engine, value);
      return pressKey(engine, key, value);
    case NoteEventKind::Brightness:
      return brightenNotes(voice, noteId, channel, key, value);
  }
}

void modulateNotes(InstrumentVoice& voice, uint32_t id, int32_t noteId, int32_t channel,
                   int32_t key, double amount) noexcept QUILLFERN_NONBLOCKING {
  const auto* which = std::find(PerNoteParameterIds.begin(), PerNoteParameterIds.end(), id);
  if (which == PerNoteParameterIds.end() || !std::isfinite(amount)) return;
  const auto slot = static_cast<std::size_t>(which - PerNoteParameterIds.begin());
  if (noteId < 0 && channel < 0 && key < 0) voice.offsets[slot] = amount;
  forEachNamedSlot(voice, noteId, channel, key, [&](VoiceSlot& named, int32_t index) {
    if (noteId >= 0 || channel >= 0 || key >= 0) named.offsets[slot] = amount;
    applyNoteOffsets(voice, index);
  });
}

void followTransport(InstrumentVoice& voice, bool rolling) noexcept QUILLFERN_NONBLOCKING {
  if (voice.transportRolling && !rolling) closeEveryVoice(voice);
  voice.transportRolling = rolling;
}

uint32_t latencyOf(double sampleRate,
                   const ParameterValues& values) noexcept QUILLFERN_NONBLOCKING {
  const double start = values.value[parameterIndexOfId(NoteStartSetting)];
  if (static_cast<NoteStart>(std::lrint(start)) == NoteStart::Immediate) return 0;
  return static_cast<uint32_t>(latencySamplesAt(sampleRate));
}

void renderVoice(InstrumentVoice& voice, float* output, uint32_t frames,
                 ModelTrace* trace) noexcept QUILLFERN_NONBLOCKING {
  if (frames == 0) return;
  if (playsChord(voice)) {
    renderChord(voice, output, frames, trace);
  } else if (trace != nullptr) {
    renderFramesTraced(voice.engine, output, frames, *trace);
  } else {
    renderFrames(voice.engine, output, frames);
  }
  collectEndedNotes(voice);
}
