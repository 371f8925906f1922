// SPDX-License-Identifier: GPL-3.0-or-later
// Real numbers as the read-outs and the note text show them: fixed-point notation with a
// fixed number of decimals, never an exponent, with texts of their own for infinities and NaN.
//
// Decimals: -1 means 10, a count above 512 is cut to 512, any other negative count means 0.
// A zero of either sign is written as "0.000...", while a negative value that rounds to zero
// keeps its sign ("-0.000"). Re-entrant: no shared buffer, so the window thread and the MIDI
// thread may format at the same moment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The longest text: a negative double of the largest finite magnitude with 512 decimals.
inline constexpr std::size_t FormatRealMaxLength = 823;

// Writes the text into `buffer` (zero-terminated, cut to fit `size`) without allocating;
// returns the length of the whole text. Goes through the C library's formatting, which makes
// no promise not to block: never on an audio thread.
std::size_t formatRealInto(char* buffer, std::size_t size, double value, int32_t decimals) noexcept;

std::string formatReal(double value, int32_t decimals);
std::string formatReal(float value, int32_t decimals);
