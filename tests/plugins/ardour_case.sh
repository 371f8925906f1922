#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Ardour loads the LV2 plugin headless and plays a note through it (ardour_session.lua).
#   ardour_case.sh LV2-FOLDER WORK-FOLDER
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
# The presets' labels, as the bundle's presets.ttl gives them.
QUILLFERN_PRESET_LABELS=$(sed -n 's/^ *rdfs:label "\(.*\)" ;$/\1/p' "$LV2_PATH"/quillfern.lv2/presets.ttl)
export QUILLFERN_PRESET_LABELS
# One run plays a note and saves the moved parameters, a second loads the session again; each
# must print every line named.
run_ardour() {
  local output status line
  output=$(timeout 120 ardour7-lua "$(dirname "$0")/ardour_session.lua" 2>&1)
  status=$?
  echo "ardour7-lua: exit status $status"
  echo "$output"
  [[ $status -eq 0 ]] && ! grep -q "^FAILED" <<<"$output" || return 1
  for line in "$@"; do grep -q "$line" <<<"$output" || return 1; done
}
run_ardour "^meter before" "^presets listed, Chaos loaded" "^moved parameters saved" || exit 1
QUILLFERN_ARDOUR_RELOAD=1 run_ardour "^moved parameters loaded again" || exit 1
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
