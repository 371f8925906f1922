// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/quiet_audio_system.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>

namespace {

void ignoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}
void ignoreJackMessage(const char*) {}

}  // namespace

void quietAudioSystemMessages() noexcept {
  snd_lib_error_set_handler(ignoreAlsaMessage);
  jack_set_error_function(ignoreJackMessage);
  jack_set_info_function(ignoreJackMessage);
}
