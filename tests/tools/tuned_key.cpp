// SPDX-License-Identifier: GPL-3.0-or-later
// Key 127 held with stable steps and a host's tuning of it, rendered for a number of blocks:
// what callgrind counts the instructions of, to see that a sample's work stays bounded however
// far a host tunes the note.
//   quillfern-tuned-key SEMITONES BLOCKS
#include <cstdlib>
#include <memory>
#include <vector>

#include "instrument/instrument_voice.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  constexpr uint32_t BlockFrames = 8;
  auto voice = std::make_unique<InstrumentVoice>();
  startInstrumentVoice(*voice, 44100.0, defaultValues());
  playNoteEvent(*voice, NoteEventKind::On, 0, 127, 1.0);
  playNoteEvent(*voice, NoteEventKind::Tuning, 0, 127, std::strtod(argv[1], nullptr));
  std::vector<float> output(BlockFrames);
  for (long block = std::strtol(argv[2], nullptr, 10); block > 0; --block) {
    renderVoice(*voice, output.data(), BlockFrames);
  }
  return 0;
}
