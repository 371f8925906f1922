#include "engine/audio_stream.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>

#include <cstdlib>

#include "engine/engine_state.h"
#include "engine/oscillator.h"
#include "engine/render.h"
#include "ui/toolkit.h"

namespace {

constexpr int MonoChannels = 1;
constexpr int32_t ShutdownPollMs = 1;  // how long the windows are serviced between looks
constexpr PaError StreamActive = 1;

void ignoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}
void ignoreJackMessage(const char*) {}

// While PortAudio looks for devices, ALSA and JACK report every card, plugin and server they
// do not find on the terminal, dozens of lines on an ordinary desktop. The program says what
// matters itself: a failure to open the stream appears in the "PortAudio" box.
void quietAudioSystemMessages() {
  snd_lib_error_set_handler(ignoreAlsaMessage);
  jack_set_error_function(ignoreJackMessage);
  jack_set_info_function(ignoreJackMessage);
}

}  // namespace

void openAudioStream() {
  quietAudioSystemMessages();
  engineState.audioError = Pa_Initialize();
  if (engineState.audioError != paNoError) reportAudioError(engineState.audioError);

  PaStreamParameters& output = engineState.outputParameters;
  output.channelCount = MonoChannels;
  output.device = Pa_GetDefaultOutputDevice();
  output.sampleFormat = paFloat32;
  output.suggestedLatency = SuggestedLatencySeconds;
  output.hostApiSpecificStreamInfo = nullptr;

  engineState.audioError =
      Pa_OpenStream(&engineState.stream, nullptr, &output, SampleRate, paFramesPerBufferUnspecified,
                    paNoFlag, RenderCallback, nullptr);
  if (engineState.audioError != paNoError) reportAudioError(engineState.audioError);
}

void startAudioStream() {
  engineState.gate.store(0, std::memory_order_relaxed);
  Pa_StartStream(engineState.stream);
}

void stopAudioStream() {
  Pa_AbortStream(engineState.stream);
  // An error (a negative answer) ends the wait as well: nothing would ever change it.
  while (Pa_IsStreamActive(engineState.stream) == StreamActive) waitEvent(ShutdownPollMs);
  Pa_Terminate();
}

void reportAudioError(PaError code) {
  showMessage("PortAudio", Pa_GetErrorText(code));
  closeToolkit();
  // The audio stream is opened before the MIDI port: no thread of ours runs yet to race exit's
  // destructors.
  std::exit(EXIT_SUCCESS);  // NOLINT(concurrency-mt-unsafe)
}
