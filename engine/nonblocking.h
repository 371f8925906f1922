// SPDX-License-Identifier: GPL-3.0-or-later
// QUILLFERN_NONBLOCKING marks a function of the audio or MIDI delivery path: it must never
// allocate, lock, wait or make a blocking system call, nor call a function that might. Clang
// checks the functions it calls while compiling (-Wfunction-effects) and, in a build with
// -fsanitize=realtime, aborts at the first such call at run time. Other compilers ignore it.
#pragma once

#if defined(__clang__) && __clang_major__ >= 20
#define QUILLFERN_NONBLOCKING [[clang::nonblocking]]
#else
#define QUILLFERN_NONBLOCKING
#endif
