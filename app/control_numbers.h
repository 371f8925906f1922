// The numbers of MainWindow's objects. The envelope sliders (5 to 8) are named where the
// envelope reads them, in engine/envelope.h.
#pragma once

#include <cstdint>

#include "engine/envelope.h"

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
inline constexpr int32_t ISlider = 17;
inline constexpr int32_t BSlider = 18;
inline constexpr int32_t RSlider = 19;
inline constexpr int32_t ASlider = 20;
inline constexpr int32_t ILabel = 21;
inline constexpr int32_t BLabel = 22;
inline constexpr int32_t RLabel = 23;
inline constexpr int32_t ALabel = 24;
inline constexpr int32_t VolumeLabel = 25;
inline constexpr int32_t VolumeSlider = 26;
inline constexpr int32_t SCheckBox = 27;

// Menu items and the Escape shortcut's event.
inline constexpr int32_t MenuAbout = 1;
inline constexpr int32_t MenuHelp = 2;
inline constexpr int32_t MenuQuit = 111;

// Status bar fields.
inline constexpr int32_t MidiStatusField = 0;
inline constexpr int32_t NoteStatusField = 1;
