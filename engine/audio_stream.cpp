#include "engine/audio_stream.h"

#include <cstdlib>

#include "engine/engine_state.h"
#include "engine/oscillator.h"
#include "engine/quiet_audio_system.h"
#include "engine/render.h"
#include "ui/toolkit.h"

namespace {

constexpr int MonoChannels = 1;
constexpr int32_t ShutdownPollMs = 1;  // how long the windows are serviced between looks
constexpr PaError StreamActive = 1;

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
