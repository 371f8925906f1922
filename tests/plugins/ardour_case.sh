#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Ardour loads the LV2 plugin headless and plays a note through it (ardour_session.lua), lists
# the factory presets and loads one, and exports a note played with the preset Chaos and a
# three-note chord played with Chord Pad, each of which must be quillfern-render --preset
# with the same notes sample for sample.
#   ardour_case.sh LV2-FOLDER WORK-FOLDER QUILLFERN-RENDER
set -uo pipefail
if ! command -v ardour7-lua >/dev/null; then
  echo "SKIP: Ardour's Lua session tool ardour7-lua is not installed (Debian: ardour)"
  exit 77
fi
work=$(realpath -m "$2")
rm -rf "$work" && mkdir -p "$work"
export LV2_PATH
LV2_PATH=$(realpath "$1")
# Ardour keeps its configuration and plugin cache in the home folder: a private one per run.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_CACHE_HOME="$work/home/.cache"
export QUILLFERN_ARDOUR_SESSION="$work/session"
render=$(realpath "$3")
# The export's note and its file format, where Ardour looks for a user's own: in a
# configuration of the export's run alone, since with a script of the user's Ardour 7.3 now and
# then crashes while it sets up a new session's first track.
export_config="$work/export-home/.config"
mkdir -p "$export_config/ardour7/scripts" "$export_config/ardour7/export"
cp "$(dirname "$0")/ardour_test_note.lua" "$export_config/ardour7/scripts/"
cat >"$export_config/ardour7/export/float-wav.preset" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<ExportPreset id="9a2fb9a4-3a5f-4f2e-9b55-2d8d1b2b0a01" name="Quillfern float WAV">
  <ExportFormat id="20b4ab09-6452-4cb3-bd66-b921cdbd2942"/>
</ExportPreset>
EOF
# The presets' labels, as the bundle's presets.ttl gives them.
QUILLFERN_PRESET_LABELS=$(sed -n 's/^ *rdfs:label "\(.*\)" ;$/\1/p' \
  "$LV2_PATH"/quillfern.lv2/presets.ttl)
export QUILLFERN_PRESET_LABELS
# One run plays a note, lists and loads presets and saves the moved parameters, a second loads
# the session again, a third exports; each must print every line named.
run_ardour_once() {
  local output status line
  output=$(timeout 120 stdbuf -oL ardour7-lua "$(dirname "$0")/ardour_session.lua" 2>&1)
  status=$?
  echo "ardour7-lua: exit status $status"
  echo "$output"
  # Ardour 7.3 now and then crashes on its way out, after the script's work: a crash counts
  # only where a line named is missing, as the lines leave at once (stdbuf).
  [[ $status -eq 0 || $status -gt 128 ]] && ! grep -q "^FAILED" <<<"$output" || return 1
  for line in "$@"; do
    grep -q "$line" <<<"$output" && continue
    [[ $status -gt 128 ]] && return 2 || return 1
  done
}
# It also crashes, more rarely, while it sets up a session on a loaded machine, before the
# script's first line: such a run is made again, twice at most. A run that ends by itself
# without every line fails at once.
run_ardour() {
  local attempt status
  for attempt in 1 2 3; do
    run_ardour_once "$@"
    status=$?
    [[ $status -eq 2 && $attempt -lt 3 ]] || return $status
    echo "Ardour crashed before the script's lines: run again"
  done
}
run_ardour "^meter before" "^presets listed, Chaos loaded" "^moved parameters saved" || exit 1
QUILLFERN_ARDOUR_RELOAD=1 run_ardour "^moved parameters loaded again" || exit 1
# The export against the renderer, from each one's first sound on (Ardour starts the note a
# little into the range, after its own latency compensation): every sample equal.
XDG_CONFIG_HOME=$export_config QUILLFERN_ARDOUR_SESSION="$work/export-session" \
  QUILLFERN_ARDOUR_EXPORT="$work/export/1" run_ardour "^Chaos exported" || exit 1
XDG_CONFIG_HOME=$export_config QUILLFERN_ARDOUR_SESSION="$work/chord-session" \
  QUILLFERN_ARDOUR_EXPORT="$work/export/2" QUILLFERN_ARDOUR_CHORD=1 \
  run_ardour "^Chord Pad exported" || exit 1
printf '0 midi 90 57 127\n132300 end\n' >"$work/Chaos.score"
printf '0 midi 90 57 127\n0 midi 90 61 127\n0 midi 90 64 127\n132300 end\n' >"$work/Chord Pad.score"
for preset in Chaos "Chord Pad"; do
  "$render" "$work/$preset.score" -o "$work/$preset.wav" --preset "$preset" || exit 1
done
python3 -B - "$(dirname "$0")" "$work" <<'EOF' || exit 1
import glob, sys
sys.path.insert(0, sys.argv[1])
from jalv_case import samples_of
def sounding(samples):
    return samples[next(i for i, value in enumerate(samples) if value != 0):]
failed = False
for folder, preset in ((1, "Chaos"), (2, "Chord Pad")):
    # The left channel; the right is the same.
    exported = samples_of(glob.glob("%s/export/%d/*.wav" % (sys.argv[2], folder))[0])[0::2]
    rendered = samples_of("%s/%s.wav" % (sys.argv[2], preset))
    exported, rendered = sounding(exported), sounding(rendered)
    compared = min(len(exported), len(rendered))
    differing = sum(1 for a, b in zip(exported, rendered) if a != b)
    print("Ardour's export of %s against the renderer: %d samples, %d differ"
          % (preset, compared, differing))
    failed |= compared <= 2 * 44100 or differing != 0
sys.exit(1 if failed else 0)
EOF
# The saved session's plugin state as an LV2 host reads it: any Turtle file Ardour wrote for
# the plugin, with the plugin's description, must validate without an error or a warning.
# Ardour keeps the port values in its session file; a plugin without a state of its own gets
# no Turtle file there.
mapfile -t states < <(find "$work/session" -name '*.ttl')
echo "Turtle files in the saved session: ${#states[@]}"
grep -c '<Port symbol=' "$work/session/quillfern.ardour"
if command -v lv2_validate >/dev/null; then
  validation=$(lv2_validate "$LV2_PATH"/quillfern.lv2/*.ttl "${states[@]}" 2>&1)
  echo "$validation" | grep "Found"
  ! grep -qiE "^error|warning" <<<"$validation"
fi
