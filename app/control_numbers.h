// SPDX-License-Identifier: GPL-3.0-or-later
// The numbers of MainWindow's objects. The ten controls that shape the voice (sliders and the
// s check box) are named with the voice, in engine/voice_controls.h.
#pragma once

#include <cstdint>

#include "engine/voice_controls.h"

inline constexpr int32_t MainWindow = 1;
inline constexpr int32_t MainMenu = 0;
inline constexpr int32_t MainStatusBar = 0;

inline constexpr int32_t MidiDeviceList = 4;
inline constexpr int32_t AttackLabel = 9;
inline constexpr int32_t SustainLabel = 10;
inline constexpr int32_t DecayLabel = 11;
inline constexpr int32_t ReleaseLabel = 12;
inline constexpr int32_t BReadout = 13;
inline constexpr int32_t IReadout = 14;
inline constexpr int32_t RReadout = 15;
inline constexpr int32_t AReadout = 16;
inline constexpr int32_t ILabel = 21;
inline constexpr int32_t BLabel = 22;
inline constexpr int32_t RLabel = 23;
inline constexpr int32_t ALabel = 24;
inline constexpr int32_t VolumeLabel = 25;

// Menu items and the Escape shortcut's event.
inline constexpr int32_t MenuAbout = 1;
inline constexpr int32_t MenuHelp = 2;
inline constexpr int32_t MenuQuit = 111;

// Status bar fields.
inline constexpr int32_t MidiStatusField = 0;
inline constexpr int32_t NoteStatusField = 1;
