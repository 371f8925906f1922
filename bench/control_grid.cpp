// SPDX-License-Identifier: GPL-3.0-or-later
// How far the voice's controls reach: a grid of the neuron's settings times every key, each
// note held for half a second at 44100 Hz through the plugins' voice, with and without stable
// steps. Prints the share of notes that stay bounded each way, how many keys sound at the
// start-up settings with stable steps, and the loudest peak over the grid at full volume with
// the plugins' defaults (stable steps and the DC filter on), so that a user knows the headroom.
//   quillfern-control-grid
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "engine/instrument.h"
#include "engine/render.h"
#include "instrument/instrument_voice.h"
#include "midi/instrument_messages.h"
#include "midi/midi_messages.h"

namespace {

constexpr double Rate = 44100.0;
constexpr int32_t HeldFrames = 22050;
constexpr int32_t BlockFrames = 256;

// Window positions: each control's ends and middle, and both values of s.
constexpr int32_t IPositions[] = {1, 500, 1000};
constexpr int32_t BPositions[] = {1, 348, 1000};
constexpr int32_t RPositions[] = {1, 47, 100};
constexpr int32_t APositions[] = {0, 20, 100};
constexpr int32_t SPositions[] = {0, 1};

struct Note {
  bool bounded = false;
  bool sounding = false;
  double peak = 0.0;
};

Note playNote(const ParameterValues& values, int32_t key) {
  auto voice = std::make_unique<EngineState>();
  startVoiceWith(*voice, Rate, values);
  playInstrumentMessage(*voice, packShortMessage(NoteOnChannel1, static_cast<uint8_t>(key), 127));
  std::vector<float> block(BlockFrames);
  Note note;
  float low = 0.0f;
  float high = 0.0f;
  for (int32_t done = 0; done < HeldFrames; done += BlockFrames) {
    renderFrames(*voice, block.data(), BlockFrames);
    for (const float sample : block) {
      low = std::min(low, sample);
      high = std::max(high, sample);
    }
  }
  note.bounded = !std::isnan(voice->x);
  note.sounding = note.bounded && high - low > 0.01f;
  note.peak = std::max(-low, high);
  return note;
}

ParameterValues setting(ParameterValues values, int32_t control, int32_t position) {
  const int32_t index = parameterIndexOfId(static_cast<uint32_t>(control));
  values.value[index] =
      positionValue(instrumentParameters()[static_cast<std::size_t>(index)], position);
  return values;
}

ParameterValues withSwitch(ParameterValues values, uint32_t id, double on) {
  values.value[parameterIndexOfId(id)] = on;
  return values;
}

}  // namespace

int main() {
  const ParameterValues plain = withSwitch(rendererValues(), StableStepsSetting, 0.0);
  int32_t notes = 0;
  int32_t boundedPlain = 0;
  int32_t boundedStable = 0;
  double worstPeak = 0.0;
  char loudest[96] = "";
  for (const int32_t i : IPositions) {
    for (const int32_t b : BPositions) {
      for (const int32_t r : RPositions) {
        for (const int32_t a : APositions) {
          for (const int32_t s : SPositions) {
            ParameterValues values = setting(plain, ISlider, i);
            values = setting(setting(setting(values, BSlider, b), RSlider, r), ASlider, a);
            values = setting(values, SCheckBox, s);
            for (int32_t key = 0; key < MidiKeyCount; ++key) {
              ++notes;
              boundedPlain += playNote(values, key).bounded ? 1 : 0;
              ParameterValues loud = withSwitch(values, StableStepsSetting, 1.0);
              loud = withSwitch(setting(loud, VolumeSlider, 100), DcFilterSetting, 1.0);
              const Note stable = playNote(loud, key);
              boundedStable += stable.bounded ? 1 : 0;
              if (stable.peak > worstPeak) {
                worstPeak = stable.peak;
                std::snprintf(loudest, sizeof loudest, "key %d, I %d, b %d, r %d, a %d, s %d", key,
                              i, b, r, a, s);
              }
            }
          }
        }
      }
    }
  }
  int32_t sounding = 0;
  for (int32_t key = 0; key < MidiKeyCount; ++key) {
    sounding += playNote(withSwitch(plain, StableStepsSetting, 1.0), key).sounding ? 1 : 0;
  }
  std::printf("start-up settings with stable steps: %d of %d keys sound and stay bounded\n",
              sounding, MidiKeyCount);
  std::printf(
      "%d notes (%zu settings x %d keys) bounded: %.1f %% without sub-steps, %.1f %% "
      "with\n",
      notes, static_cast<std::size_t>(notes / MidiKeyCount), MidiKeyCount,
      100.0 * boundedPlain / notes, 100.0 * boundedStable / notes);
  std::printf(
      "loudest peak over the grid at Vol 100 %% with the DC filter: %.3f (%+.1f dBFS), at "
      "%s (window positions)\n",
      worstPeak, 20.0 * std::log10(worstPeak), loudest);
  return 0;
}
