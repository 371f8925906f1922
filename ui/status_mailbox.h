// SPDX-License-Identifier: GPL-3.0-or-later
// How status texts reach the window thread from any thread without waiting.
//
// Each live status bar holds a slot with one mailbox per field. A caller copies its text into
// a new block and swaps it into the field's mailbox; a text that was still waiting there is
// replaced (the last one wins) and freed. So however fast other threads write, at most one
// text per field waits, and at most one wake-up of the window thread is outstanding: the
// caller asks for one only when none is pending. The window thread takes the texts out and
// shows them. Free of any GUI library; the toolkit supplies the wake-up.
#pragma once

#include <cstdint>
#include <string>

inline constexpr int32_t StatusBarSlotCount = 8;
inline constexpr int32_t StatusFieldCapacity = 256;

// Window thread: accept texts from now on; `wakeWindowThread` is called (on the writer's
// thread) whenever the window thread must come and take texts.
void openStatusMailbox(void (*wakeWindowThread)());

// Window thread: drop every later text, wait for the deposits already under way to finish
// (they never wait themselves) and free what is still waiting.
void closeStatusMailbox();

// Window thread: reserves a slot for a new status bar; -1 when all are taken.
int32_t claimStatusSlot(int32_t number);
void releaseStatusSlot(int32_t slot);

// Any thread.
bool statusSlotExists(int32_t number);

// Any thread: leaves a copy of the text for the field. Returns false when it was dropped (no
// such status bar or field, or the mailbox is closed). With `wakeWindowThread` the window
// thread is woken unless a wake-up is already pending; the window thread itself passes false
// and takes the text at once.
bool depositStatusText(int32_t number, int32_t field, const char* text, int32_t appearance,
                       bool wakeWindowThread);

using StatusTextSink = void (*)(int32_t number, int32_t field, const std::string& text,
                                int32_t appearance);

// Window thread: hands every waiting text to `show` and frees it.
void takeStatusTexts(StatusTextSink show);

// Window thread, on the wake-up: re-arms the wake-up, then takes the texts.
void takeStatusTextsOnWakeUp(StatusTextSink show);
