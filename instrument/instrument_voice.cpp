// SPDX-License-Identifier: GPL-3.0-or-later
#include "instrument/instrument_voice.h"

#include <algorithm>
#include <cmath>

#include "engine/instrument.h"
#include "engine/render.h"
#include "engine/voice.h"
#include "midi/instrument_messages.h"
#include "midi/midi_messages.h"

namespace {

constexpr uint8_t DataBits = 0x7F;

bool listensTo(const InstrumentVoice& voice, uint8_t channelBits) noexcept QUILLFERN_NONBLOCKING {
  const int32_t index = parameterIndexOfId(ChannelParameterId);
  const auto channel = static_cast<int32_t>(voice.values.value[index]);
  return channel == OmniChannel || channel == channelBits + FirstMidiChannel;
}

void applyValue(InstrumentVoice& voice, std::size_t index) noexcept QUILLFERN_NONBLOCKING {
  applyParameterValue(voice.engine, index, voice.values.value[index]);
}

}  // namespace

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
  for (std::size_t index = 0; index < ParameterCount; ++index) {
    applyParameterValue(engine, index, values.value[index]);
  }
}

void startInstrumentVoice(InstrumentVoice& voice, double sampleRate,
                          const ParameterValues& values) noexcept QUILLFERN_NONBLOCKING {
  startVoiceWith(voice.engine, sampleRate, values);
  voice.values = values;
  voice.transportRolling = false;
}

void setInstrumentParameter(InstrumentVoice& voice, std::size_t index,
                            double value) noexcept QUILLFERN_NONBLOCKING {
  const InstrumentParameter& parameter = instrumentParameters()[index];
  const double playable = playableValue(parameter, value);
  // NaN or infinite, or the value the voice already plays: an LV2 host hands every port over in
  // every block.
  if (!std::isfinite(value) || playable == voice.values.value[index]) return;
  // Notes held on the old channel would never see their note-off: another channel releases
  // them, as closing a MIDI port does.
  if (parameter.id == ChannelParameterId) closeInstrument(voice.engine);
  voice.values.value[index] = playable;
  applyValue(voice, index);
}

void playMidi(InstrumentVoice& voice, const uint8_t* bytes,
              std::size_t size) noexcept QUILLFERN_NONBLOCKING {
  if (size == 0) return;
  const uint8_t status = bytes[0];
  if (status < FirstStatusByte || status >= SystemExclusive) return;  // channel messages only
  if (!listensTo(voice, status & ChannelBits)) return;
  const auto data1 = static_cast<uint8_t>(size > 1 ? bytes[1] & DataBits : 0);
  const auto data2 = static_cast<uint8_t>(size > 2 ? bytes[2] & DataBits : 0);
  const auto onChannel1 = static_cast<uint8_t>(status & ~ChannelBits);
  playInstrumentMessage(voice.engine, packShortMessage(onChannel1, data1, data2));
}

void playNoteEvent(InstrumentVoice& voice, NoteEventKind kind, int32_t channel, int32_t key,
                   double value) noexcept QUILLFERN_NONBLOCKING {
  constexpr double LargestVelocity = 127.0;
  if (channel >= 0 && !listensTo(voice, static_cast<uint8_t>(channel & ChannelBits))) return;
  if (key >= MidiKeyCount) return;
  const bool everyKey = key < 0;
  const auto keyByte = static_cast<uint8_t>(key);
  EngineState& engine = voice.engine;
  switch (kind) {
    case NoteEventKind::On: {
      if (everyKey) return;
      // A velocity that is no number plays as the loudest rather than losing the note.
      const double scaled = std::isnan(value) ? LargestVelocity : value * LargestVelocity;
      const auto velocity =
          static_cast<uint8_t>(std::lrint(std::clamp(scaled, 1.0, LargestVelocity)));
      playInstrumentMessage(engine, packShortMessage(NoteOnChannel1, keyByte, velocity));
      return;
    }
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
  }
}

void followTransport(InstrumentVoice& voice, bool rolling) noexcept QUILLFERN_NONBLOCKING {
  if (voice.transportRolling && !rolling) closeInstrument(voice.engine);
  voice.transportRolling = rolling;
}

uint32_t latencyOf(double sampleRate,
                   const ParameterValues& values) noexcept QUILLFERN_NONBLOCKING {
  const double start = values.value[parameterIndexOfId(NoteStartSetting)];
  if (static_cast<NoteStart>(std::lrint(start)) == NoteStart::Immediate) return 0;
  return static_cast<uint32_t>(latencySamplesAt(sampleRate));
}

void renderVoice(InstrumentVoice& voice, float* output,
                 uint32_t frames) noexcept QUILLFERN_NONBLOCKING {
  if (frames > 0) renderFrames(voice.engine, output, frames);
}
