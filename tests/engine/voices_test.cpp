// SPDX-License-Identifier: GPL-3.0-or-later
// Voices share nothing: two of them in one process, rendered in turn block by block (as two
// plugin instances in one host are), each give exactly what they give alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine_test_support.h"

namespace {

struct VoiceSetting {
  double sampleRate;
  int32_t attack, decay, sustain, release;  // envelope positions
  int32_t i, r;                             // model positions
  int32_t note;
  std::size_t blockFrames;
};

constexpr std::size_t HeldFrames = 30000;  // then the key is released for as long again

std::unique_ptr<EngineState> voiceWith(const VoiceSetting& setting) {
  auto state = startedEngine(setting.sampleRate);
  setEnvelopeSliders(*state, setting.attack, setting.decay, setting.sustain, setting.release);
  setVoiceControl(*state, ISlider, setting.i);
  setVoiceControl(*state, RSlider, setting.r);
  pressKey(*state, setting.note);
  return state;
}

void renderBlock(EngineState& state, std::vector<float>& out, std::size_t frames) {
  const std::size_t start = out.size();
  out.resize(start + frames);
  renderFrames(state, out.data() + start, frames);
}

TEST(Voices, TwoVoicesRenderedInTurnEachGiveTheirSoloRender) {
  const VoiceSetting settings[] = {{44100.0, 1, 1000, 50, 1500, 500, 47, 69, 64},
                                   {96000.0, 400, 20, 90, 30, 900, 5, 57, 100}};
  std::vector<float> solo[2];
  for (int v = 0; v < 2; ++v) {
    auto state = voiceWith(settings[v]);
    renderBlock(*state, solo[v], HeldFrames);
    releaseKey(*state, settings[v].note);
    renderBlock(*state, solo[v], HeldFrames);
  }

  std::unique_ptr<EngineState> voices[] = {voiceWith(settings[0]), voiceWith(settings[1])};
  std::vector<float> together[2];
  for (const std::size_t end : {HeldFrames, 2 * HeldFrames}) {
    while (together[0].size() < end || together[1].size() < end) {
      for (int v = 0; v < 2; ++v) {
        renderBlock(*voices[v], together[v],
                    std::min(settings[v].blockFrames, end - together[v].size()));
      }
    }
    for (int v = 0; v < 2; ++v) releaseKey(*voices[v], settings[v].note);
  }
  for (int v = 0; v < 2; ++v) {
    EXPECT_EQ(together[v], solo[v]) << "voice " << v;
    EXPECT_GT(*std::max_element(solo[v].begin(), solo[v].end()), 0.05f) << "voice " << v;
  }
}

}  // namespace
