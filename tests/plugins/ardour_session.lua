-- SPDX-License-Identifier: GPL-3.0-or-later
-- Ardour without a window or a sound card (ardour7-lua, Dummy backend): a new session, a MIDI
-- track with Quillfern as its instrument, a note written to the track's input, and the track's
-- meter must go from silence to a sound; Ardour must list the bundle's presets and load one;
-- then parameters moved and the session saved. Run again
-- with QUILLFERN_ARDOUR_RELOAD set, it loads that session and checks the values were kept: in a
-- process of its own, as Ardour loads a session at its start, since loading one into the tool
-- after closing another now and then crashes Ardour 7.3. Run with QUILLFERN_ARDOUR_EXPORT set
-- to a folder, it makes a session of its own whose track plays A3 from the start
-- (ardour_test_note.lua) into Quillfern with the preset Chaos loaded, and exports it there as a
-- float WAV file; with QUILLFERN_ARDOUR_CHORD set, the chord A3 C#4 E4 into Chord Pad. Run by ardour_case.sh, which sets the session folder.
local folder = os.getenv("QUILLFERN_ARDOUR_SESSION")
local function fail(what)
  print("FAILED: " .. what)
  os.exit(1)
end

-- Parameters moved in the model's own units (Ardour numbers the control inputs from 0: attack,
-- decay, sustain, release, I, b, r, a, volume, s, channel).
local moves = { [0] = 0.25, [6] = 0.05, [8] = 0.5, [9] = 2.8, [10] = 3 }
local function check(processor, when)
  for index, value in pairs(moves) do
    local now = ARDOUR.LuaAPI.get_processor_param(processor, index, true)
    if math.abs(now - value) > 1e-6 * value then
      fail(string.format("%s, control %d holds %g instead of %g", when, index, now, value))
    end
  end
end

-- A MIDI track named `name` with Quillfern as its instrument, after `before` when given.
local function instrumentTrack(name, before)
  -- Without strict I/O: with it, Ardour 7 re-registers the track's output ports when the mono
  -- instrument is added, and now and then crashes on "Port already exists" while doing so.
  local tracks = Session:new_midi_track(
    ARDOUR.ChanCount(ARDOUR.DataType("midi"), 1), ARDOUR.ChanCount(ARDOUR.DataType("audio"), 2),
    false, ARDOUR.PluginInfo(), nil, nil, 1, name, ARDOUR.PresentationInfo.max_order,
    ARDOUR.TrackMode.Normal, false, false)
  local track
  for t in tracks:iter() do track = t end
  if not track then fail("no MIDI track") end
  if before then track:add_processor_by_index(before, 0, nil, true) end
  local instrument =
    ARDOUR.LuaAPI.new_plugin(Session, "urn:quillfern:synth", ARDOUR.PluginType.LV2, "")
  if instrument:isnil() then fail("Ardour does not find the Quillfern LV2 plugin") end
  track:add_processor_by_index(instrument, before and 1 or 0, nil, true)
  if track:nth_plugin(before and 1 or 0):isnil() then fail("Quillfern is not on the track") end
  return track, instrument
end

local export = os.getenv("QUILLFERN_ARDOUR_EXPORT")
if export then
  if not create_session(folder, "export", 44100) then fail("no session") end
  ARDOUR.LuaAPI.usleep(500000)
  local note = ARDOUR.LuaAPI.new_luaproc(Session, "Quillfern Test Note")
  if note:isnil() then fail("no test note processor") end
  local chord = os.getenv("QUILLFERN_ARDOUR_CHORD") ~= nil
  ARDOUR.LuaAPI.set_processor_param(note, 0, chord and 1 or 0)
  local label = chord and "Chord Pad" or "Chaos"
  local track, instrument = instrumentTrack(label, note)
  local plugin = instrument:to_insert():plugin(0)
  if not plugin:load_preset(plugin:preset_by_label(label)) then fail(label .. " does not load") end
  -- The mono output to both channels as it is, without the panner's pan law.
  track:panner_shell():set_bypassed(true)
  local job = Session:simple_export()
  job:set_folder(export)
  job:set_range(0, 3 * 44100)
  -- A 32-bit float WAV without dither or normalisation (ardour_case.sh installs it).
  if not job:set_preset("9a2fb9a4-3a5f-4f2e-9b55-2d8d1b2b0a01") then fail("no export preset") end
  if not (job:check_outputs() and job:run_export()) then fail("the export failed") end
  print(label .. " exported")
  os.exit(0)
end

if os.getenv("QUILLFERN_ARDOUR_RELOAD") then
  if not load_session(folder, "quillfern") then fail("the saved session does not load") end
  ARDOUR.LuaAPI.usleep(300000)
  local reloaded
  for route in Session:get_routes():iter() do
    if route:name() == "Neuron" then reloaded = route end
  end
  if not reloaded or reloaded:nth_plugin(0):isnil() then
    fail("the reloaded session lost Quillfern")
  end
  check(reloaded:nth_plugin(0), "reloaded")
  print("moved parameters loaded again")
  -- Closing a loaded session in ardour7-lua never returns (Ardour 7.3); nothing is left to
  -- save, so the tool ends here.
  os.exit(0)
end

local session = create_session(folder, "quillfern", 44100)
if not session then fail("no session") end
-- The new session finishes setting itself up (ports, connections) in its own threads first.
ARDOUR.LuaAPI.usleep(500000)
local track = instrumentTrack("Neuron")
print("track '" .. track:name() .. "' plays " .. track:nth_plugin(0):display_name())

local function level()
  return track:peak_meter():meter_level(0, ARDOUR.MeterType.MeterPeak)
end

local function send(status, note, velocity)
  local parser = ARDOUR.RawMidiParser()
  parser:process_byte(status)
  parser:process_byte(note)
  parser:process_byte(velocity)
  track:to_track():to_midi_track():write_immediate_event(
    Evoral.EventType.MIDI_EVENT, parser:buffer_size(), parser:midi_buffer())
end

ARDOUR.LuaAPI.usleep(300000)
local before = level()
send(0x90, 69, 100)
-- The engine's thread gets no real-time priority here, and on a busy machine half a second may
-- pass before it has played the note: the meter is read until it moves, for 5 s at most.
local during = 0
for _ = 1, 50 do
  ARDOUR.LuaAPI.usleep(100000)
  during = level()
  if during >= 0.01 then break end
end
send(0x80, 69, 0)
print(string.format("meter before the note: peak %.4f; while it sounds: peak %.4f", before, during))
if before > 1e-6 then fail("the track sounded before the note") end
if during < 0.01 then fail("the note made no sound") end

local processor = track:nth_plugin(0)
-- The presets Ardour lists are the bundle's (their labels given by ardour_case.sh, one a line).
local plugin = processor:to_insert():plugin(0)
local listed = {}
for preset in plugin:get_info():get_presets(false):iter() do listed[preset.label] = true end
for label in os.getenv("QUILLFERN_PRESET_LABELS"):gmatch("[^\n]+") do
  if not listed[label] then fail("Ardour does not list the preset " .. label) end
end
-- Loading one sets the neuron's parameters: Chaos has I = 2.9 (Ardour's control input 4).
if not plugin:load_preset(plugin:preset_by_label("Chaos")) then fail("Chaos does not load") end
local i = ARDOUR.LuaAPI.get_processor_param(processor, 4, true)
if math.abs(i - 2.9) > 1e-6 then fail(string.format("Chaos loaded I = %g", i)) end
print("presets listed, Chaos loaded")
for index, value in pairs(moves) do ARDOUR.LuaAPI.set_processor_param(processor, index, value) end
check(processor, "once moved")
Session:save_state("", false, false, false, false, false)
print("moved parameters saved")
-- The session is saved; closing it is not needed and, in ardour7-lua, not always safe.
os.exit(0)
