// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/score_render.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/render.h"
#include "engine/voice.h"
#include "instrument/instrument_voice.h"
#include "midi/instrument_messages.h"
#include "midi/midi_messages.h"

namespace {

// A control of the main window moves on every voice, as on the window's one.
void moveControl(InstrumentVoice& voice, int32_t control, int32_t position) {
  for (int32_t index = 0; index < voice.chord.started; ++index) {
    setVoiceControl(engineOf(voice, index), control, position);
  }
}

void applyEvent(InstrumentVoice& voice, const ScoreEvent& event) {
  switch (event.kind) {
    case ScoreEventKind::Midi:
      playMessage(voice, event.message);
      break;
    case ScoreEventKind::Control:
      moveControl(voice, event.control, event.value);
      break;
    case ScoreEventKind::Close:
      playMessage(voice, packShortMessage(ControlChangeChannel1, AllNotesOff, 0));
      break;
  }
}

// Exact arithmetic: a frame number times a rate may pass 2^63.
__extension__ typedef __int128 WideInteger;

void renderWatched(InstrumentVoice& voice, float* output, int64_t frames,
                   const FrameWatcher& watcher) {
  for (int64_t frame = 0; frame < frames; ++frame) {
    renderVoice(voice, output + frame, 1);
    watcher(voice.engine, output[frame]);
  }
}

}  // namespace

void renderScore(const Score& score, int32_t blockFrames, const BlockSink& sink,
                 const FrameWatcher& watcher, const KeepRendering& keepRendering,
                 const ParameterValues& values) {
  // The record is the renderer's own, so that renders in one process never share a voice; it
  // starts as the program's does right before its stream starts.
  auto voice = std::make_unique<InstrumentVoice>();
  startInstrumentVoice(*voice, score.sampleRate, values);
  std::vector<float> block(static_cast<std::size_t>(std::max<int32_t>(blockFrames, 1)));
  const auto blockSize = static_cast<int64_t>(block.size());

  auto nextEvent = score.events.begin();
  for (int64_t frame = 0; frame < score.endFrame;) {
    for (; nextEvent != score.events.end() && nextEvent->frame <= frame; ++nextEvent) {
      applyEvent(*voice, *nextEvent);
    }
    const int64_t stop = nextEvent == score.events.end()
                             ? score.endFrame
                             : std::min(nextEvent->frame, score.endFrame);
    const int64_t frames = std::min(blockSize, stop - frame);
    if (watcher) {
      renderWatched(*voice, block.data(), frames, watcher);
    } else {
      renderVoice(*voice, block.data(), static_cast<uint32_t>(frames));
    }
    sink(block.data(), frames);
    frame += frames;
    if (keepRendering && !keepRendering()) return;
  }
}

int64_t framesAtRate(int64_t frames, double fromRate, double toRate) noexcept {
  const WideInteger scaled =
      static_cast<WideInteger>(frames) * std::llround(toRate) / std::llround(fromRate);
  return static_cast<int64_t>(std::min<WideInteger>(scaled, INT64_MAX));
}

Score scoreAtRate(Score score, double sampleRate) {
  for (ScoreEvent& event : score.events) {
    event.frame = framesAtRate(event.frame, score.sampleRate, sampleRate);
  }
  score.endFrame = framesAtRate(score.endFrame, score.sampleRate, sampleRate);
  score.sampleRate = sampleRate;
  return score;
}
