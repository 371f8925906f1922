// SPDX-License-Identifier: GPL-3.0-or-later
// The parameter table's texts and units, what an LV2 port's float plays, and the saved state's
// text: exact, lenient where a later version or another platform may differ, strict otherwise.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "engine/envelope.h"
#include "engine/voice_controls.h"
#include "instrument/parameters.h"
#include "instrument/state.h"

namespace {

const InstrumentParameter& parameter(const char* symbol) {
  return instrumentParameters()[static_cast<std::size_t>(parameterIndexOfSymbol(symbol))];
}

std::string textOf(const InstrumentParameter& parameter, double value) {
  char text[64];
  formatParameterValue(parameter, value, text, sizeof text);
  return text;
}

TEST(PluginParameters, ValuesReadWithTheirUnitsAndBack) {
  struct Shown {
    const char* symbol;
    double value;
    const char* text;
  };
  for (const Shown& shown :
       {Shown{"attack", attackTimeAt(1), "0.100 ms"}, Shown{"release", 3.0, "3.00 s"},
        Shown{"release", 0.25, "250 ms"}, Shown{"decay", 0.9996, "1.00 s"},
        Shown{"sustain", 0.5, "50 %"}, Shown{"volume", volumeAt(30), "30 %"},
        Shown{"sustain", 0.333, "33.3 %"}, Shown{"i", 3.0, "3.000"}, Shown{"b", 2.5, "2.500"},
        Shown{"r", rParameterAt(47), "0.00977"}, Shown{"r", rParameterAt(1), "0.000500"},
        Shown{"s", sParameterAt(0), "2.8"}, Shown{"s", 3.9, "4.0"}, Shown{"channel", 0.0, "Omni"},
        Shown{"channel", 16.0, "16"}, Shown{"channel", NAN, "Omni"}}) {
    EXPECT_EQ(textOf(parameter(shown.symbol), shown.value), shown.text) << shown.symbol;
  }
  struct Typed {
    const char* symbol;
    const char* text;
    double value;
  };
  for (const Typed& typed :
       {Typed{"release", "3 s", 3.0}, Typed{"release", "3000 ms", 3.0},
        Typed{"release", "250ms", 0.25}, Typed{"release", " 0,25 S ", 0.25},
        Typed{"sustain", "50 %", 0.5}, Typed{"sustain", "0.5", 0.5}, Typed{"r", "0.0098", 0.0098},
        Typed{"attack", "3 s", attackTimeAt(2000)}, Typed{"b", "1.702", bParameterAt(1)},
        Typed{"s", "+3", sParameterAt(0)}, Typed{"channel", "omni", 0.0},
        Typed{"channel", "3", 3.0}}) {
    double value = -1.0;
    EXPECT_TRUE(parseParameterText(parameter(typed.symbol), typed.text, value)) << typed.text;
    EXPECT_EQ(value, typed.value) << typed.symbol << " '" << typed.text << "'";
  }
  for (const char* refused : {"fast", "", "1e308", "-1e308", "inf", "nan", "3 V", "3 s s"}) {
    double value = 0.0;
    EXPECT_FALSE(parseParameterText(parameter("release"), refused, value)) << refused;
  }
  double value = 0.0;
  EXPECT_FALSE(parseParameterText(parameter("channel"), "17", value));
  EXPECT_FALSE(parseParameterText(parameter("sustain"), "150 %", value));
}

// A parameter to come, as the table will hold it: a toggle with its two labels.
TEST(PluginParameters, AToggleReadsByItsLabels) {
  constexpr const char* Labels[] = {"Off", "On"};
  const InstrumentParameter toggle{.id = 250,
                                   .symbol = "dc_filter",
                                   .name = "DC filter",
                                   .group = ParameterGroup::Output,
                                   .unit = ParameterUnit::Number,
                                   .scale = ParameterScale::Toggle,
                                   .minimum = 0.0,
                                   .maximum = 1.0,
                                   .defaultValue = 0.0,
                                   .digits = 0,
                                   .automatable = true,
                                   .inPresets = true,
                                   .lv2Port = 24,
                                   .labels = Labels};
  EXPECT_EQ(textOf(toggle, 0.0), "Off");
  EXPECT_EQ(textOf(toggle, 0.9), "Off");  // CLAP turns a stepped value to a whole one by cutting
  EXPECT_EQ(textOf(toggle, 1.0), "On");
  double value = 0.0;
  EXPECT_TRUE(parseParameterText(toggle, "on", value));
  EXPECT_EQ(value, 1.0);
}

// The float nearest each position's value, and the eighth decimal of it that a saved session
// keeps, play that position exactly; floats between two positions play as themselves.
TEST(PluginParameters, APortNearAPositionsValuePlaysThatPosition) {
  for (const InstrumentParameter& each : instrumentParameters()) {
    const VoiceControl* control = windowControlOf(each);
    if (control == nullptr) continue;
    for (int32_t position = control->minimum; position <= control->maximum; ++position) {
      const double value = positionValue(each, position);
      ASSERT_EQ(valueOfPortFloat(each, static_cast<float>(value)), value)
          << each.symbol << position;
      const auto saved = static_cast<float>(std::round(value * 1e8) / 1e8);
      ASSERT_EQ(valueOfPortFloat(each, saved), value) << each.symbol << position;
      if (position == control->maximum) continue;
      const auto between = static_cast<float>((value + positionValue(each, position + 1)) / 2.0);
      ASSERT_EQ(valueOfPortFloat(each, between), static_cast<double>(between)) << each.symbol;
    }
  }
}

TEST(PluginState, ValuesComeBackExactly) {
  ParameterValues values = defaultValues();
  values.value[parameterIndexOfSymbol("attack")] = attackTimeAt(777);
  values.value[parameterIndexOfSymbol("r")] = 0.0123456789;
  values.value[parameterIndexOfSymbol("channel")] = 0.0;
  ParameterValues read;
  ASSERT_TRUE(parseStateText(stateText(values), read));
  for (std::size_t index = 0; index < ParameterCount; ++index) {
    EXPECT_EQ(read.value[index], values.value[index]) << instrumentParameters()[index].symbol;
  }
}

// CR LF, blank lines, fields a later version adds and parameters this one does not know;
// the positions of the version before, with and without their moved flags.
TEST(PluginState, ReadsLenientlyAndTheFormatBefore) {
  ParameterValues read;
  ASSERT_TRUE(
      parseStateText("quillfern-plugin-state 2 more\r\nr 0.05 later fields\r\n\r\n"
                     "pitch_bend 2\r\nvolume 0.5\r\nend\r\n\r\n",
                     read));
  EXPECT_EQ(read.value[parameterIndexOfSymbol("r")], 0.05);
  EXPECT_EQ(read.value[parameterIndexOfSymbol("volume")], 0.5);
  EXPECT_EQ(read.value[parameterIndexOfSymbol("i")], 3.0);
  ASSERT_TRUE(parseStateText(
      "quillfern-plugin-state 1\r\nr 47 0\r\nb 500 1 x\r\nchannel 0 0\r\n\r\n", read));
  EXPECT_EQ(read.value[parameterIndexOfSymbol("r")], parameter("r").defaultValue);
  EXPECT_EQ(read.value[parameterIndexOfSymbol("b")], bParameterAt(500));
  EXPECT_EQ(read.value[parameterIndexOfSymbol("channel")], 0.0);
}

TEST(PluginState, RefusesWhatItCannotReadAndKeepsWhatItHad) {
  ParameterValues kept = defaultValues();
  kept.value[0] = 2.0;
  for (const char* refused :
       {"", "not a state", "quillfern-plugin-state 3\nend\n", "quillfern-plugin-state 2\nr 0.01\n",
        "quillfern-plugin-state 2\nr\nend\n", "quillfern-plugin-state 2\nr 0.5\nend\n",
        "quillfern-plugin-state 2\nr nan\nend\n", "quillfern-plugin-state 2\nr 0.01x\nend\n",
        "quillfern-plugin-state 1\nr 400 1\n", "quillfern-plugin-state 1\nr 47 2\n",
        "quillfern-plugin-state 1\nchannel 17 0\n"}) {
    ParameterValues values = kept;
    EXPECT_FALSE(parseStateText(refused, values)) << refused;
    EXPECT_EQ(values.value[0], 2.0) << refused;
  }
}

}  // namespace
