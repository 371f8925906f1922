#include "plugins/plugin_voice.h"

#include "engine/render.h"
#include "engine/voice.h"
#include "midi/midi_messages.h"

namespace {

constexpr uint8_t DataBits = 0x7F;

constexpr std::size_t ChannelIndex = ParameterCount - 1;

bool isControl(std::size_t index) noexcept {
  return index < ChannelIndex;
}

bool listensTo(const PluginVoice& voice, uint8_t channelBits) noexcept {
  const int32_t channel = voice.positions.position[ChannelIndex];
  return channel == OmniChannel || channel == channelBits + FirstMidiChannel;
}

}  // namespace

void startPluginVoice(PluginVoice& voice, double sampleRate,
                      const ParameterPositions& positions) noexcept QUILLFERN_NONBLOCKING {
  startVoice(voice.engine, sampleRate);
  voice.positions = positions;
  voice.transportRolling = false;
  const auto parameters = pluginParameters();
  for (std::size_t index = 0; index < ParameterCount; ++index) {
    if (isControl(index) && positions.changed[index]) {
      setVoiceControl(voice.engine, static_cast<int32_t>(parameters[index].id),
                      positions.position[index]);
    }
  }
}

void setPluginParameter(PluginVoice& voice, std::size_t index,
                        double value) noexcept QUILLFERN_NONBLOCKING {
  const PluginParameter& parameter = pluginParameters()[index];
  const int32_t position = positionOfValue(parameter, value);
  // The voice already plays this position (or the start-up value, for a control not yet
  // moved): an LV2 host hands over every control port in every block.
  if (position == voice.positions.position[index]) return;
  // Notes held on the old channel would never see their note-off: another channel releases
  // them, as closing a MIDI port does.
  if (!isControl(index)) playMidiNotice(voice.engine, MidiCloseNotice, 0);
  if (moveParameter(voice.positions, index, position) && isControl(index)) {
    setVoiceControl(voice.engine, static_cast<int32_t>(parameter.id), position);
  }
}

void playMidi(PluginVoice& voice, const uint8_t* bytes,
              std::size_t size) noexcept QUILLFERN_NONBLOCKING {
  if (size == 0) return;
  const uint8_t status = bytes[0];
  if (status < FirstStatusByte || status >= SystemExclusive) return;  // channel messages only
  if (!listensTo(voice, status & ChannelBits)) return;
  const auto data1 = static_cast<uint8_t>(size > 1 ? bytes[1] & DataBits : 0);
  const auto data2 = static_cast<uint8_t>(size > 2 ? bytes[2] & DataBits : 0);
  const auto onChannel1 = static_cast<uint8_t>(status & ~ChannelBits);
  playMidiNotice(voice.engine, MidiDataNotice, packShortMessage(onChannel1, data1, data2));
}

void followTransport(PluginVoice& voice, bool rolling) noexcept QUILLFERN_NONBLOCKING {
  if (voice.transportRolling && !rolling) playMidiNotice(voice.engine, MidiCloseNotice, 0);
  voice.transportRolling = rolling;
}

void renderVoice(PluginVoice& voice, float* output,
                 uint32_t frames) noexcept QUILLFERN_NONBLOCKING {
  if (frames > 0) renderFrames(voice.engine, output, frames);
}

uint32_t pluginLatency(const PluginVoice& voice) noexcept {
  return static_cast<uint32_t>(voiceLatencySamples(voice.engine));
}
