// SPDX-License-Identifier: GPL-3.0-or-later
// The factory bank: the presets every instance offers, walking through what the neuron can do.
// This table is their one home: the LV2 bundle's preset files are written from it at build
// time, the renderer's --preset and the plugin window take them from here.
#pragma once

#include <span>
#include <string_view>

#include "instrument/parameters.h"

// A parameter's value in a preset, by its symbol, in its own units.
struct PresetValue {
  const char* symbol;
  double value;
};

struct FactoryPreset {
  const char* name;                     // what it sounds like; also its LV2 label
  std::span<const PresetValue> values;  // the parameters that differ from their defaults
};

std::span<const FactoryPreset> factoryPresets() noexcept;

// The preset of that name, in any case, or null.
const FactoryPreset* findFactoryPreset(std::string_view name) noexcept;

// What the preset plays: every parameter at its default but those it names, each as the
// 32-bit float an LV2 preset's port value is.
ParameterValues presetValues(const FactoryPreset& preset) noexcept;
