-- SPDX-License-Identifier: GPL-3.0-or-later
-- A MIDI processor for the Ardour case's export: A3 at full velocity on the first sample the
-- transport rolls, held to the end, so that an exported range starts with the note as a score
-- that plays it at frame 0 does.
ardour {
  ["type"] = "dsp",
  name = "Quillfern Test Note",
  category = "Utility",
  license = "GPL-3.0-or-later",
  author = "Quillfern developers",
  description = [[A3 from the transport's start]]
}

function dsp_ioconfig() return { { midi_in = 1, midi_out = 1, audio_in = 0, audio_out = 0 } } end
function dsp_has_midi_input() return true end
function dsp_has_midi_output() return true end

local sent = false
function dsp_run(_, _, _)
  if not sent and Session:transport_rolling() then
    midiout[1] = { time = 1, data = { 0x90, 57, 127 } }
    sent = true
  end
end
