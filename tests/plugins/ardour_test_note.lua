-- SPDX-License-Identifier: GPL-3.0-or-later
-- A MIDI processor for the Ardour case's export: A3 at full velocity on the first sample the
-- transport rolls, held to the end, so that an exported range starts with the note as a score
-- that plays it at frame 0 does; with its Chord control on, the chord A3 C#4 E4 there instead.
ardour {
  ["type"] = "dsp",
  name = "Quillfern Test Note",
  category = "Utility",
  license = "GPL-3.0-or-later",
  author = "Quillfern developers",
  description = [[A3, or the chord A3 C#4 E4, from the transport's start]]
}

function dsp_params()
  return { { ["type"] = "input", name = "Chord", min = 0, max = 1, default = 0, integer = true } }
end

function dsp_ioconfig() return { { midi_in = 1, midi_out = 1, audio_in = 0, audio_out = 0 } } end
function dsp_has_midi_input() return true end
function dsp_has_midi_output() return true end

local sent = false
function dsp_run(_, _, _)
  if not sent and Session:transport_rolling() then
    local keys = CtrlPorts:array()[1] > 0 and { 57, 61, 64 } or { 57 }
    for index, key in ipairs(keys) do midiout[index] = { time = 1, data = { 0x90, key, 127 } } end
    sent = true
  end
end
