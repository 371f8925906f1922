// SPDX-License-Identifier: GPL-3.0-or-later
// The parameters a host sees, in the model's own units: one table from which the CLAP plugin,
// the LV2 description, the factory bank, the renderer's --param and the plugins' window take
// every parameter's id, symbol, name, group, unit, range, default, scale and text. A
// parameter's default is what a new voice plays, so a fresh instance and one reset to its
// defaults sound alike and there is no state besides the values. The CLAP ids (the window's
// control numbers, 100 for the channel), the LV2 port symbols and port indices are part of
// every saved session: they never change, and a new parameter takes new ones.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "engine/instrument.h"
#include "engine/nonblocking.h"
#include "engine/voice_controls.h"

inline constexpr uint32_t ChannelParameterId = 100;
inline constexpr uint32_t VoicesParameterId = 260;
inline constexpr uint32_t MpeParameterId = 261;
inline constexpr uint32_t TimbreDepthParameterId = 262;

// MIDI Polyphonic Expression: a master channel whose messages reach every note, and member
// channels around it, one note each, with its own bend, pressure and timbre.
enum class MpeZone : int32_t {
  Off,
  Lower,  // master channel 1, members 2 up
  Upper,  // master channel 16, members 15 down
};
inline constexpr int32_t OmniChannel = 0;  // the channel parameter's value for all channels
inline constexpr int32_t FirstMidiChannel = 1;
inline constexpr int32_t LastMidiChannel = 16;

// What a parameter's value measures, and so how it reads and which LV2 unit it has.
enum class ParameterUnit {
  Number,   // a quantity of the model without a unit (I, r, ...): a plain number
  Seconds,  // shown in ms below a second; typed as "3 s", "250 ms" or "0.25"
  Level,    // 0 to 1, shown as a percentage; typed as "50 %" or "0.5"
  Channel,  // a MIDI channel
};

enum class ParameterScale {
  Linear,
  Logarithmic,  // hosts that can spread it logarithmically
  Stepped,      // only the values of its window control's positions (s: 2.8 or 4.0)
  Enumeration,  // whole numbers from the minimum on, each named by its label
  Toggle,       // 0 or 1, named by its two labels
};

// Where a parameter stands in a host's list (CLAP's module, LV2's port group) and the window.
enum class ParameterGroup : int32_t { Envelope, Neuron, Output, Midi, Expression, Notes };

// The group's name as hosts show it: "Envelope", "Neuron", "Output", "MIDI", ...
const char* parameterGroupName(ParameterGroup group) noexcept;

struct InstrumentParameter {
  uint32_t id;         // CLAP parameter id
  const char* symbol;  // LV2 port symbol and key in a saved state
  const char* name;
  ParameterGroup group;
  ParameterUnit unit;
  ParameterScale scale;
  // The range and default. A window control's are its positions' values, filled in from its
  // formulas (see instrumentParameters); the table leaves them 0.
  double minimum;
  double maximum;
  double defaultValue;  // the voice's start-up value
  // Digits shown: significant ones of a time or a logarithmic Number, decimals of another
  // Number or of a Level's percentage.
  int32_t digits;
  bool automatable;
  bool inPresets;    // a preset sets it; false for what says where notes come from, not the sound
  uint32_t lv2Port;  // its LV2 control port's index
  std::span<const char* const> labels;  // Enumeration and Toggle: one per value, from minimum
};

// The table's labels and the instrument settings' ranges: the table below is their one home.
inline constexpr std::array<const char*, 3> NoteModeLabels{"Window", "Last key", "Retrigger"};
inline constexpr std::array<const char*, 2> SwitchLabels{"Off", "On"};
inline constexpr std::array<const char*, 2> NoteStartLabels{"Handover", "Immediate"};
inline constexpr std::array<const char*, 2> PitchLabels{"Model", "Key"};
inline constexpr std::array<const char*, LastMidiChannel + 1> ChannelLabels{
    "Omni", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14", "15", "16"};
// How many notes sound at once: 1, the window's one neuron, to 16, each note its own.
inline constexpr int32_t MostVoices = 16;
static_assert(MostVoices == LastMidiChannel, "the voice counts are named as the channels are");
inline constexpr std::span<const char* const> VoiceCountLabels{
    ChannelLabels.begin() + FirstMidiChannel, ChannelLabels.end()};
inline constexpr std::array<const char*, 3> MpeLabels{"Off", "Lower", "Upper"};  // zones
inline constexpr double LargestBendRange = 24.0;                                 // semitones
inline constexpr double LargestDepthOfI = 4.0;    // about I's whole range, either way
inline constexpr double LargestDepthOfB = 2.0;    // about b's whole range, either way
inline constexpr double LongestGlide = 2.0;       // seconds
inline constexpr double LargestTranspose = 24.0;  // semitones
inline constexpr double LargestFineTune = 100.0;  // cents

namespace parameter_table {

using enum ParameterGroup;
using enum ParameterUnit;
using enum ParameterScale;
inline constexpr InstrumentSettings Renderer;
inline constexpr double On = 1.0;

// One of the window's controls: its range and default come from its positions.
constexpr InstrumentParameter control(int32_t number, const char* symbol, const char* name,
                                      ParameterGroup group, ParameterUnit unit,
                                      ParameterScale scale, int32_t digits, uint32_t lv2Port) {
  return {static_cast<uint32_t>(number),
          symbol,
          name,
          group,
          unit,
          scale,
          0.0,
          0.0,
          0.0,
          digits,
          true,
          true,
          lv2Port,
          {}};
}

// An instrument setting with a range of its own.
constexpr InstrumentParameter setting(InstrumentSetting id, const char* symbol, const char* name,
                                      ParameterGroup group, ParameterUnit unit,
                                      ParameterScale scale, double minimum, double maximum,
                                      double defaultValue, int32_t digits, uint32_t lv2Port,
                                      std::span<const char* const> labels = {}) {
  return {static_cast<uint32_t>(id),
          symbol,
          name,
          group,
          unit,
          scale,
          minimum,
          maximum,
          defaultValue,
          digits,
          true,
          true,
          lv2Port,
          labels};
}

// Not for a host's automation: it restarts the plugin or says where the notes come from.
constexpr InstrumentParameter notAutomatic(InstrumentParameter parameter) {
  parameter.automatable = false;
  return parameter;
}

constexpr InstrumentParameter notInPresets(InstrumentParameter parameter) {
  parameter.inPresets = false;
  return parameter;
}

// Every parameter, in the order of the values an instance plays and saves. LV2 ports 0 and 1
// are the MIDI input and the audio output, 13 the latency and 23 the window's trace: a new
// parameter takes the next free port.
inline constexpr std::array Table{
    control(AttackSlider, "attack", "Attack", Envelope, Seconds, Logarithmic, 3, 2),
    control(DecaySlider, "decay", "Decay", Envelope, Seconds, Logarithmic, 3, 3),
    control(SustainSlider, "sustain", "Sustain", Envelope, Level, Linear, 1, 4),
    control(ReleaseSlider, "release", "Release", Envelope, Seconds, Logarithmic, 3, 5),
    control(ISlider, "i", "Input current I", Neuron, Number, Linear, 3, 6),
    control(BSlider, "b", "b", Neuron, Number, Linear, 3, 7),
    control(RSlider, "r", "Adaptation rate r", Neuron, Number, Logarithmic, 3, 8),
    control(ASlider, "a", "a", Neuron, Number, Linear, 3, 9),
    control(VolumeSlider, "volume", "Volume", Output, Level, Linear, 1, 10),
    control(SCheckBox, "s", "s", Neuron, Number, Stepped, 1, 11),
    notInPresets(notAutomatic(InstrumentParameter{
        ChannelParameterId, "channel", "MIDI channel", Midi, Channel, Enumeration, OmniChannel,
        LastMidiChannel, FirstMidiChannel, 0, true, true, 12, ChannelLabels})),
    setting(BendRangeSetting, "bend_range", "Pitch bend range (semitones)", Expression, Number,
            Linear, 0.0, LargestBendRange, Renderer.bendRange, 1, 14),
    setting(WheelDepthSetting, "wheel_i", "Mod wheel to I", Expression, Number, Linear,
            -LargestDepthOfI, LargestDepthOfI, Renderer.wheelDepth, 3, 15),
    setting(PressureDepthSetting, "pressure_i", "Aftertouch to I", Expression, Number, Linear,
            -LargestDepthOfI, LargestDepthOfI, Renderer.pressureDepth, 3, 16),
    setting(VelocitySetting, "velocity", "Velocity to level", Expression, Level, Linear, 0.0, 1.0,
            Renderer.velocitySensitivity, 1, 17),
    setting(NoteModeSetting, "note_mode", "Note mode", Notes, Number, Enumeration, 0.0,
            NoteModeLabels.size() - 1.0, static_cast<double>(Renderer.noteMode), 0, 18,
            NoteModeLabels),
    setting(GlideSetting, "glide", "Glide", Notes, Seconds, Linear, 0.0, LongestGlide,
            Renderer.glideTime, 3, 19),
    // On in the plugins: every key sounds, and keys 0 to 85 play exactly as without.
    setting(StableStepsSetting, "stable", "Stable steps", Neuron, Number, Toggle, 0.0, On, On, 0,
            20, SwitchLabels),
    // On in the plugins: a track without the model's offset.
    setting(DcFilterSetting, "dc_filter", "DC filter", Output, Number, Toggle, 0.0, On, On, 0, 21,
            SwitchLabels),
    // Its latency goes with it: a host may restart the plugin to take the new one.
    notAutomatic(setting(NoteStartSetting, "start", "Note start", Notes, Number, Enumeration, 0.0,
                         NoteStartLabels.size() - 1.0, static_cast<double>(Renderer.noteStart), 0,
                         22, NoteStartLabels)),
    // Key in the plugins, and so in the factory bank: a new instance plays in tune.
    setting(PitchSetting, "pitch", "Pitch", Neuron, Number, Enumeration, 0.0,
            PitchLabels.size() - 1.0, static_cast<double>(PitchMode::Key), 0, 24, PitchLabels),
    setting(TransposeSetting, "transpose", "Transpose (semitones)", Neuron, Number, Linear,
            -LargestTranspose, LargestTranspose, Renderer.transpose, 0, 25),
    setting(FineTuneSetting, "fine_tune", "Fine tune (cents)", Neuron, Number, Linear,
            -LargestFineTune, LargestFineTune, Renderer.fineTune, 1, 26),
    // A host may restart the plugin to take another count; a change releases every note.
    notAutomatic(InstrumentParameter{VoicesParameterId, "voices", "Voices", Notes, Number,
                                     Enumeration, 1.0, MostVoices, 1.0, 0, true, true, 27,
                                     VoiceCountLabels}),
    // Off: the MIDI channel parameter says which channel plays; in a zone, its channels do.
    notInPresets(notAutomatic(InstrumentParameter{MpeParameterId, "mpe", "MPE", Midi, Number,
                                                  Enumeration, 0.0, MpeLabels.size() - 1.0, 0.0, 0,
                                                  true, true, 28, MpeLabels})),
    // b moved by a member channel's timbre (CC 74) from its centre, 64, to either end.
    InstrumentParameter{TimbreDepthParameterId,
                        "timbre_b",
                        "Timbre (CC 74) to b",
                        Expression,
                        Number,
                        Linear,
                        -LargestDepthOfB,
                        LargestDepthOfB,
                        0.5,
                        3,
                        true,
                        true,
                        29,
                        {}},
};

constexpr bool sameText(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

constexpr bool everyEntryFilled() {
  for (const InstrumentParameter& parameter : Table) {
    if (parameter.symbol == nullptr || parameter.name == nullptr || *parameter.symbol == '\0') {
      return false;
    }
    const bool named = parameter.scale == Enumeration || parameter.scale == Toggle;
    const double values = parameter.maximum - parameter.minimum + 1.0;
    if (named && static_cast<double>(parameter.labels.size()) != values) return false;
  }
  return true;
}

constexpr bool idsSymbolsAndPortsUnique() {
  for (std::size_t one = 0; one < Table.size(); ++one) {
    for (std::size_t other = one + 1; other < Table.size(); ++other) {
      if (Table[one].id == Table[other].id || Table[one].lv2Port == Table[other].lv2Port ||
          sameText(Table[one].symbol, Table[other].symbol)) {
        return false;
      }
    }
  }
  return true;
}

static_assert(everyEntryFilled(), "a parameter without symbol, name or a label per value");
static_assert(idsSymbolsAndPortsUnique(), "two parameters share a CLAP id, symbol or LV2 port");

}  // namespace parameter_table

inline constexpr std::size_t ParameterCount = parameter_table::Table.size();

// The table, with every window control's range and default filled in from its positions.
std::span<const InstrumentParameter> instrumentParameters() noexcept QUILLFERN_NONBLOCKING;

// Two texts alike but for the case of their letters: how labels, units and preset names are
// matched ("on", "MS", "chaos").
bool sameTextAnyCase(std::string_view one, std::string_view other) noexcept;

// The index of the parameter with this CLAP id or LV2 symbol, or -1.
int32_t parameterIndexOfId(uint32_t id) noexcept QUILLFERN_NONBLOCKING;
int32_t parameterIndexOfSymbol(std::string_view symbol) noexcept;

// The window's control a parameter sets (its id is the control's number), or null.
const VoiceControl* windowControlOf(const InstrumentParameter& parameter) noexcept
    QUILLFERN_NONBLOCKING;

// What a window position of the parameter's control stands for: the value a host sets to play
// exactly what the window (and quillfern-render) play at that position.
double positionValue(const InstrumentParameter& parameter,
                     int32_t position) noexcept QUILLFERN_NONBLOCKING;

// The value that plays for a host's value: brought into the range, and to the nearest value a
// stepped, enumerated or toggled parameter has. NaN stays NaN: callers keep what they had.
double playableValue(const InstrumentParameter& parameter,
                     double value) noexcept QUILLFERN_NONBLOCKING;

// An LV2 control port's 32-bit float as a value: the float nearest a window position's value,
// or one that differs from it only past the eighth decimal (as a saved session keeps it), plays
// exactly that position's value; any other float plays as itself.
double valueOfPortFloat(const InstrumentParameter& parameter,
                        float port) noexcept QUILLFERN_NONBLOCKING;

// The value that plays for `value` as a host shows it, with its unit: "0.100 ms", "1.50 s",
// "50 %", "3.000", "0.00977", "4.0", "Omni". `text` gets at most `size` bytes with the zero.
void formatParameterValue(const InstrumentParameter& parameter, double value, char* text,
                          std::size_t size);

// What a user typed, in any unit the parameter's unit allows ("3 s", "3000 ms", "250ms",
// "50 %", "0.0098", "omni"); a number without a unit is in the parameter's own unit. False for
// text that names no number or label, an unknown unit, and a value outside the range (one that
// reads as the range's end, like "1.702" for b's 1.7023, is that end).
bool parseParameterText(const InstrumentParameter& parameter, std::string_view text, double& value);

// One value per parameter, in table order: what an instance plays and saves.
struct ParameterValues {
  double value[ParameterCount]{};
};

// Every parameter at its default: what a new instance plays.
ParameterValues defaultValues() noexcept;

// What quillfern-render plays unless told otherwise: the defaults, with stable steps and the DC
// filter off and Model mode's pitch, so that its sound is the window's.
ParameterValues rendererValues() noexcept;
