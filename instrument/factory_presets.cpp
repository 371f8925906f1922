// SPDX-License-Identifier: GPL-3.0-or-later
#include "instrument/factory_presets.h"

#include <array>

namespace {

// The neuron's settings at A3 (key 57), each where I and r a percent or two away play the same
// regime (Chaos mostly so): b = 3 and s = 4 are the model's textbook values, around which I and r
// walk from regular spiking through bursts of two, three and four spikes to chaos. A small b (for
// which the upper branch of x is stable, b^2 < 3a) turns the bursts into a relaxation
// oscillation between two levels: the square-like tone. Each plays in Key mode, the plugins'
// default: in tune, its regimes being the ones Key mode's step plays. The expectations each one
// is held to are in the instrument test.
constexpr PresetValue RegularSpikes[] = {
    {"i", 4.0}, {"r", 0.006}, {"b", 3.0}, {"s", 4.0}, {"sustain", 0.8}};
constexpr PresetValue FastSpikes[] = {
    {"i", 5.0}, {"r", 0.006}, {"b", 3.0}, {"s", 4.0}, {"sustain", 0.8}};
constexpr PresetValue Doublets[] = {
    {"i", 2.1}, {"r", 0.006}, {"b", 3.0}, {"s", 4.0}, {"sustain", 0.8}};
constexpr PresetValue Triplets[] = {
    {"i", 2.7}, {"r", 0.006}, {"b", 3.0}, {"s", 4.0}, {"sustain", 0.8}};
constexpr PresetValue Quadruplets[] = {
    {"i", 2.4}, {"r", 0.003}, {"b", 3.0}, {"s", 4.0}, {"sustain", 0.8}};
constexpr PresetValue SlowBursts[] = {
    {"i", 1.8}, {"r", 0.0007}, {"b", 3.0}, {"s", 4.0}, {"sustain", 0.8}};
constexpr PresetValue Chaos[] = {
    {"i", 2.9}, {"r", 0.003}, {"b", 3.0}, {"s", 4.0}, {"sustain", 0.8}};
constexpr PresetValue SquareBuzz[] = {{"i", 4.5}, {"r", 0.04}, {"b", 1.71},
                                      {"a", 1.2}, {"s", 4.0},  {"sustain", 0.8}};
constexpr PresetValue Pluck[] = {{"i", 4.0},     {"r", 0.006},     {"b", 3.0},      {"s", 4.0},
                                 {"decay", 0.4}, {"sustain", 0.0}, {"release", 0.2}};
constexpr PresetValue BurstPluck[] = {{"i", 2.7},     {"r", 0.006},     {"b", 3.0},      {"s", 4.0},
                                      {"decay", 0.6}, {"sustain", 0.0}, {"release", 0.3}};
constexpr PresetValue SlowPad[] = {{"i", 4.0},       {"r", 0.006},    {"b", 3.0},
                                   {"s", 4.0},       {"attack", 1.5}, {"sustain", 0.8},
                                   {"release", 3.0}, {"glide", 0.08}};
constexpr PresetValue BurstPad[] = {{"i", 2.1},      {"r", 0.006},     {"b", 3.0},      {"s", 4.0},
                                    {"attack", 1.0}, {"sustain", 0.9}, {"release", 4.0}};
constexpr PresetValue RestlessPad[] = {{"i", 2.9},      {"r", 0.003},    {"b", 3.0},
                                       {"s", 4.0},      {"attack", 1.2}, {"sustain", 0.8},
                                       {"release", 3.0}};
// Chords: eight voices, each note its own neuron.
constexpr PresetValue ChordPad[] = {{"i", 2.7},       {"r", 0.006},    {"b", 3.0},
                                    {"s", 4.0},       {"attack", 0.8}, {"sustain", 0.85},
                                    {"release", 3.5}, {"volume", 0.2}, {"voices", 8.0}};
constexpr PresetValue ChordPluck[] = {{"i", 4.5},       {"r", 0.006},    {"b", 3.0},
                                      {"s", 4.0},       {"decay", 0.5},  {"sustain", 0.0},
                                      {"release", 0.3}, {"volume", 0.2}, {"voices", 8.0}};
constexpr std::span<const PresetValue> StartUp;  // the settings of a new instance

constexpr std::array<FactoryPreset, 16> Presets{{
    {"Regular Spikes", RegularSpikes},
    {"Fast Spikes", FastSpikes},
    {"Doublets", Doublets},
    {"Triplets", Triplets},
    {"Quadruplets", Quadruplets},
    {"Slow Bursts", SlowBursts},
    {"Chaos", Chaos},
    {"Square Buzz", SquareBuzz},
    {"Pluck", Pluck},
    {"Burst Pluck", BurstPluck},
    {"Slow Pad", SlowPad},
    {"Burst Pad", BurstPad},
    {"Restless Pad", RestlessPad},
    {"Chord Pad", ChordPad},
    {"Chord Pluck", ChordPluck},
    {"Start-up Neuron", StartUp},
}};

}  // namespace

std::span<const FactoryPreset> factoryPresets() noexcept {
  return Presets;
}

const FactoryPreset* findFactoryPreset(std::string_view name) noexcept {
  for (const FactoryPreset& preset : Presets) {
    if (sameTextAnyCase(name, preset.name)) return &preset;
  }
  return nullptr;
}

ParameterValues presetValues(const FactoryPreset& preset) noexcept {
  ParameterValues values = defaultValues();
  for (const PresetValue& value : preset.values) {
    const int32_t index = parameterIndexOfSymbol(value.symbol);
    if (index < 0) continue;
    // As an LV2 port carries it, a 32-bit float: every format then plays a preset alike.
    const InstrumentParameter& parameter = instrumentParameters()[static_cast<std::size_t>(index)];
    values.value[index] =
        playableValue(parameter, valueOfPortFloat(parameter, static_cast<float>(value.value)));
  }
  return values;
}
