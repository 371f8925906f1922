// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/parameter_mapping.h"

#include <gtest/gtest.h>

#include "app/control_numbers.h"
#include "engine/envelope.h"
#include "engine/format_real.h"
#include "engine/voice.h"

namespace {

std::string readoutAt(int32_t control, int32_t position) {
  return formatReal(findParameterControl(control)->valueAt(position),
                    findParameterReadout(control)->decimals);
}

TEST(ParameterMapping, ReadoutsAtTheEndsAndStartPositions) {
  const struct {
    int32_t control;
    int32_t position;
    const char* readout;
  } cases[] = {
      {RSlider, 1, "0.0005"},  {RSlider, 100, "0.3000"}, {RSlider, 47, "0.0098"},
      {RSlider, 50, "0.0119"}, {ISlider, 1, "1.004"},    {ISlider, 1000, "5.000"},
      {ISlider, 500, "3.000"}, {BSlider, 1, "1.702"},    {BSlider, 1000, "4.000"},
      {BSlider, 348, "2.500"}, {ASlider, 0, "0.500"},    {ASlider, 1, "0.525"},
      {ASlider, 100, "3.000"}, {ASlider, 20, "1.000"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(readoutAt(c.control, c.position), c.readout) << c.control << " at " << c.position;
  }
}

TEST(ParameterMapping, ValuesAreStoredAtSinglePrecision) {
  EXPECT_EQ(rParameterAt(100), 0.30000025f);
  EXPECT_NEAR(rParameterAt(47), 0.0097685f, 1e-7);
  EXPECT_EQ(iParameterAt(500), 3.0f);
  EXPECT_EQ(bParameterAt(348), 2.5004f);
  EXPECT_EQ(bParameterAt(375), 2.5625f);  // exactly halfway between two read-outs
  EXPECT_EQ(aParameterAt(1), 0.52499998f);
  EXPECT_EQ(volumeAt(1), 0.01f);
  EXPECT_EQ(volumeAt(30), 0.3f);
  EXPECT_EQ(volumeAt(100), 1.0f);
  EXPECT_EQ(sParameterAt(1), 4.0f);
  EXPECT_EQ(sParameterAt(0), 2.8f);
}

TEST(ParameterMapping, ControlsSetTheirOwnParameterAndNoOther) {
  EngineState state;
  startVoice(state, DefaultSampleRate);
  setVoiceControl(state, VolumeSlider, 100);
  setVoiceControl(state, SCheckBox, 0);
  setVoiceControl(state, ReleaseSlider, 20);
  EXPECT_EQ(state.volume.load(), 1.0f);
  EXPECT_EQ(state.paramS.load(), 2.8f);
  EXPECT_EQ(state.paramI.load(), 3.0f);
  EXPECT_EQ(state.releaseSetting.load(), 0.02);
  EXPECT_EQ(state.attackSetting.load(), attackTimeAt(1));
  EXPECT_EQ(findParameterReadout(VolumeSlider), nullptr);
  EXPECT_EQ(findParameterReadout(RSlider)->label, RReadout);
  for (const int32_t other :
       {AttackSlider, DecaySlider, SustainSlider, ReleaseSlider, MidiDeviceList, IReadout, 0, -1}) {
    EXPECT_EQ(findParameterControl(other), nullptr) << other;
  }
}

}  // namespace
