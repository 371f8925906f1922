// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/audio_stream.h"

#include <cstdlib>

#include "app/quiet_audio_system.h"
#include "engine/engine_state.h"
#include "engine/render.h"
#include "engine/voice.h"
#include "ui/toolkit.h"

namespace {

constexpr int MonoChannels = 1;
constexpr int32_t ShutdownPollMs = 1;  // how long the windows are serviced between looks
constexpr PaError StreamActive = 1;

// The stream, window thread only.
struct AudioStream {
  PaStream* stream = nullptr;
  int32_t audioError = 0;
  PaStreamParameters outputParameters{};
};

AudioStream audioStream;

}  // namespace

int RenderCallback(const void* /*input*/, void* output, unsigned long frameCount,
                   const PaStreamCallbackTimeInfo* /*timeInfo*/,
                   PaStreamCallbackFlags /*statusFlags*/,
                   void* /*userData*/) noexcept QUILLFERN_NONBLOCKING {
  renderFrames(engineState, static_cast<float*>(output), frameCount);
  return paContinue;
}

void openAudioStream() {
  quietAudioSystemMessages();
  audioStream.audioError = Pa_Initialize();
  if (audioStream.audioError != paNoError) reportAudioError(audioStream.audioError);

  PaStreamParameters& output = audioStream.outputParameters;
  output.channelCount = MonoChannels;
  output.device = Pa_GetDefaultOutputDevice();
  output.sampleFormat = paFloat32;
  output.suggestedLatency = SuggestedLatencySeconds;
  output.hostApiSpecificStreamInfo = nullptr;

  audioStream.audioError =
      Pa_OpenStream(&audioStream.stream, nullptr, &output, DefaultSampleRate,
                    paFramesPerBufferUnspecified, paNoFlag, RenderCallback, nullptr);
  if (audioStream.audioError != paNoError) reportAudioError(audioStream.audioError);
}

void startAudioStream() {
  engineState.gate.store(0, std::memory_order_relaxed);
  Pa_StartStream(audioStream.stream);
}

void abortAudioStream() {
  Pa_AbortStream(audioStream.stream);
}

void stopAudioStream() {
  abortAudioStream();
  // An error (a negative answer) ends the wait as well: nothing would ever change it.
  while (Pa_IsStreamActive(audioStream.stream) == StreamActive) waitEvent(ShutdownPollMs);
  Pa_Terminate();
}

void reportAudioError(PaError code) {
  showMessage("PortAudio", Pa_GetErrorText(code));
  closeToolkit();
  // The audio stream is opened before the MIDI port: no thread of ours runs yet to race exit's
  // destructors.
  std::exit(EXIT_SUCCESS);  // NOLINT(concurrency-mt-unsafe)
}
