// SPDX-License-Identifier: GPL-3.0-or-later
// Defaults for the sanitizer builds, read by the sanitizer runtime at start-up of every program
// of the build (tests and the program itself). Only third-party code is excused here; every
// report about our own code stays an error.
extern "C" {

// fontconfig keeps a few hundred bytes of its configuration for the whole process and never
// frees them; Qt loads it to find the interface font.
const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

// Qt, glib, D-Bus and the audio libraries (PortAudio, ALSA with its JACK plugin, JACK) are not
// instrumented: their own futex- and semaphore-based handovers are invisible to the sanitizer,
// so memory that they pass between their threads (a sound buffer our callback filled, an object
// freed on another thread) looks like a race. Interceptor calls made from inside them are
// ignored; every access made by our own code is still checked.
const char* __tsan_default_suppressions() {
  return "called_from_lib:libQt6Core.so.6\n"
         "called_from_lib:libQt6Gui.so.6\n"
         "called_from_lib:libQt6Widgets.so.6\n"
         "called_from_lib:libQt6XcbQpa.so.6\n"
         "called_from_lib:libQt6DBus.so.6\n"
         "called_from_lib:libqoffscreen.so\n"
         "called_from_lib:libqxcb.so\n"
         "called_from_lib:libglib-2.0.so.0\n"
         "called_from_lib:libdbus-1.so.3\n"
         // The audio libraries' threads end inside them, where ignored calls would be left
         // open: their reports are suppressed instead.
         "race:libportaudio.so.2\n"
         "race:libasound.so.2\n"
         "race:libasound_module_pcm_jack.so\n"
         "race:libjack.so.0\n"
         // After the JACK server died the program ends without Pa_Terminate, which would
         // abort; the threads of PortAudio's JACK client are left to the process's end.
         "thread:libjack.so.0\n";
}

// The X libraries destroy their connection's lock while it is held when the display closes.
const char* __tsan_default_options() {
  return "report_destroy_locked=0";
}

}  // extern "C"
