#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a command on a private virtual X display (Xvfb, on a display number it finds free)
# with the openbox window manager, then stops both, however the command ends: success,
# failure, Ctrl-C or termination. The command's exit status is passed on.
#
# Usage: scripts/with-xvfb.sh COMMAND [ARGUMENT...]
# Environment: XVFB_SCREEN (default 1280x1024x24).
set -uo pipefail

if [[ $# -eq 0 ]]; then
  echo "usage: $0 command [argument...]" >&2
  exit 2
fi

workdir=$(mktemp -d -t quillfern-xvfb.XXXXXX)
xvfb_pid=""
openbox_pid=""
command_pid=""

stop_process() {
  if [[ -n $1 ]] && kill -0 "$1" 2>/dev/null; then
    kill "$1" 2>/dev/null
    wait "$1" 2>/dev/null
  fi
}

stop_servers() {
  stop_process "$openbox_pid"
  stop_process "$xvfb_pid"
  openbox_pid=""
  xvfb_pid=""
}

stop() {
  stop_process "$command_pid"
  stop_servers
  rm -rf "$workdir"
}
trap stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

fail() {
  echo "with-xvfb: $*" >&2
  [[ -s $workdir/xvfb.log ]] && sed 's/^/  Xvfb: /' "$workdir/xvfb.log" >&2
  [[ -s $workdir/openbox.log ]] && sed 's/^/  openbox: /' "$workdir/openbox.log" >&2
  exit 1
}

# Xvfb writes the display number it chose to the descriptor given with -displayfd once it
# accepts connections.
start_xvfb() {
  rm -f "$workdir/display"
  mkfifo "$workdir/display"
  Xvfb -displayfd 3 -screen 0 "${XVFB_SCREEN:-1280x1024x24}" -nolisten tcp \
    3>"$workdir/display" >"$workdir/xvfb.log" 2>&1 &
  xvfb_pid=$!
  display=""
  read -r -t 10 display <"$workdir/display" || true
  [[ $display =~ ^[0-9]+$ ]]
}

start_openbox() {
  openbox --sm-disable >"$workdir/openbox.log" 2>&1 &
  openbox_pid=$!
  for _ in $(seq 100); do
    wmctrl -m >/dev/null 2>&1 && return 0
    kill -0 "$openbox_pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# Two servers starting at the same moment can pick one display number, and the loser never
# gets its sockets. Concurrent runs of this script therefore start their servers one at a
# time; an attempt that still fails (a server started by someone else) is repeated.
exec {startup_lock}>"${TMPDIR:-/tmp}/quillfern-xvfb.lock"
flock "$startup_lock"
for attempt in 1 2 3 4 5; do
  if start_xvfb; then
    export DISPLAY=":$display"
    if start_openbox && kill -0 "$xvfb_pid" 2>/dev/null; then
      break
    fi
  fi
  [[ $attempt -eq 5 ]] && fail "no X server with a window manager after $attempt attempts"
  stop_servers
  sleep "0.$RANDOM"
done
flock --unlock "$startup_lock"
exec {startup_lock}>&-

# Qt and other toolkits must use this display, not one the caller had.
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
if [[ -z ${XDG_RUNTIME_DIR:-} ]]; then
  export XDG_RUNTIME_DIR="$workdir/runtime"
  mkdir -m 700 "$XDG_RUNTIME_DIR"
fi

"$@" &
command_pid=$!
wait "$command_pid"
status=$?
command_pid=""
exit "$status"
