#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Measures Quillfern's start-up against its floor, a bare Qt window with the same controls
# (bench/bare_window.cpp): the time from starting the program to its window being mapped on
# the screen, and the resident memory a second later. Prints the median of RUNS starts of
# each and the ratios Quillfern / floor. A measurement, not a test: nothing is asserted.
#
#   scripts/measure-startup.sh [BUILD_DIR] [RUNS]      (defaults: build, 10)
#
# Both run on a private X display with openbox (scripts/with-xvfb.sh), in two sound systems:
#   - no sound server: ALSA's default device is its null device and no JACK server answers,
#     so what is measured is the program's own start-up: PortAudio's device probe, the MIDI
#     device list (empty) and the window;
#   - JACK: a JACK server on its dummy driver (scripts/with-jack.sh); Quillfern plays to it
#     through an ALSA configuration of its own, as in the end-to-end tests, and lists its MIDI
#     ports. Every JACK client waits for the server's process cycle at least once while it
#     connects, and maps the server's shared memory, which is counted in its resident memory
#     although the server and all its clients share it.
set -euo pipefail

build=${1:-build}
runs=${2:-10}
here=$(cd "$(dirname "$0")" && pwd)
case ${QUILLFERN_MEASURING:-} in
  "")
    QUILLFERN_MEASURING=none "$here/with-xvfb.sh" "$0" "$@"
    echo
    QUILLFERN_MEASURING=jack exec "$here/with-jack.sh" "$here/with-xvfb.sh" "$0" "$@"
    ;;
  none | jack) ;;
  *)
    echo "measure-startup: QUILLFERN_MEASURING is none or jack" >&2
    exit 2
    ;;
esac

program="$build/app/quillfern"
floor="$build/bench/quillfern-bare-window"
for binary in "$program" "$floor"; do
  [[ -x $binary ]] || { echo "measure-startup: $binary is not built" >&2; exit 2; }
done

workdir=$(mktemp -d -t quillfern-startup.XXXXXX)
xev_pid=""
cleanup() {
  [[ -n $xev_pid ]] && kill "$xev_pid" 2>/dev/null
  rm -rf "$workdir"
}
trap cleanup EXIT

export ALSA_CONFIG_PATH="$workdir/asound.conf"
if [[ $QUILLFERN_MEASURING == jack ]]; then
  echo 'pcm.!default { type jack playback_ports { 0 system:playback_1 } }' >"$ALSA_CONFIG_PATH"
else
  echo 'pcm.!default { type null }' >"$ALSA_CONFIG_PATH"
  export JACK_DEFAULT_SERVER=quillfern-no-server  # not the desktop's own, should one run
fi
# No D-Bus session: without this, Qt would have libdbus start one that outlives the program.
export DBUS_SESSION_BUS_ADDRESS=disabled:

# xev reports the windows that appear on the root window; the window manager maps the frame
# of a new top-level window there once the program has asked for its window to be shown.
mkfifo "$workdir/events"
xev -root -event substructure >"$workdir/events" &
xev_pid=$!
exec {events}<"$workdir/events"
sleep 0.5  # xev has chosen its events by now

# Starts the program once; prints the milliseconds to its window, then its resident memory in
# kB: all of it, its own (anonymous), mapped files, and shared memory (JACK's, for a client).
measure_once() {
  local line started shown memory pid
  while read -r -t 0.2 -u "$events" line; do :; done  # what earlier runs left
  started=$EPOCHREALTIME
  "$1" >/dev/null 2>&1 &
  pid=$!
  while read -r -u "$events" line; do
    [[ $line == MapNotify* ]] && break
  done
  shown=$EPOCHREALTIME
  sleep 1
  memory=$(awk '$1 ~ /^(VmRSS|RssAnon|RssFile|RssShmem):$/ { printf "%d ", $2 }' \
    "/proc/$pid/status")
  wmctrl -c Quillfern  # the close box: both programs end through their own shutdown
  wait "$pid"
  awk -v from="$started" -v to="$shown" 'BEGIN { printf "%.1f ", (to - from) * 1000 }'
  echo "$memory"
}

# Prints the median of each column of the file's lines.
medians() {
  local column
  for column in 1 2 3 4 5; do
    sort -n -k"$column,$column" "$1" | awk -v c="$column" '{ v[NR] = $c }
      END { printf "%s ", v[int((NR + 1) / 2)] }'
  done
  echo
}

# Alternating, so that whatever the machine does meanwhile weighs on both alike.
: >"$workdir/program" >"$workdir/floor"
for _ in $(seq "$runs"); do
  measure_once "$program" >>"$workdir/program"
  measure_once "$floor" >>"$workdir/floor"
done
read -r program_ms program_kb program_anon program_file program_shm < <(medians "$workdir/program")
read -r floor_ms floor_kb floor_anon floor_file floor_shm < <(medians "$workdir/floor")

if [[ $QUILLFERN_MEASURING == jack ]]; then
  echo "sound system: JACK (dummy driver), ALSA default device through JACK"
else
  echo "sound system: no sound server, ALSA default device is the null device"
fi
row() { printf '%-30s %7.1f ms %9d kB = %7d + %7d + %7d\n' "$@"; }
printf '%-30s %10s %12s   %7s   %7s   %7s\n' "median of $runs starts" "to window" "resident" \
  "own" "files" "shared"
row "Quillfern" "$program_ms" "$program_kb" "$program_anon" "$program_file" "$program_shm"
row "bare Qt window, same controls" "$floor_ms" "$floor_kb" "$floor_anon" "$floor_file" \
  "$floor_shm"
awk -v a="$program_ms" -v b="$floor_ms" -v c="$program_kb" -v d="$floor_kb" \
  -v e="$program_anon" -v f="$floor_anon" -v g="$program_shm" -v h="$floor_shm" \
  'BEGIN { printf "ratio Quillfern / floor: start-up %.2f, memory %.2f, without shared memory " \
           "%.2f, own memory %.2f\n", a / b, c / d, (c - g) / (d - h), e / f }'
