#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a command against a JACK server of its own: starts jackd on the dummy driver (no sound
# card needed) under a server name no other run uses at the moment, waits until it answers, runs
# the command with JACK_DEFAULT_SERVER naming that server (and JACK_NO_START_SERVER set, so
# that no client starts a server of its own), and stops the command and the server however
# the run ends: success, failure, Ctrl-C or termination. Exits with the command's exit code.
#
#   scripts/with-jack.sh COMMAND [ARGUMENTS...]
#
# The server runs at 44100 Hz in periods of 256 frames, or at QUILLFERN_JACK_RATE and
# QUILLFERN_JACK_PERIOD where they are set.
set -uo pipefail

if [[ $# -eq 0 ]]; then
  echo "usage: $0 COMMAND [ARGUMENTS...]" >&2
  exit 2
fi

# Server names come from a small pool, each held through a lock file while a run uses it, or
# are the fixed name QUILLFERN_JACK_SERVER (a run that kills its server). JACK keeps one entry
# per server in a machine-wide registry of 8 and clears an entry left by a server that died only
# when a server of the same name starts again: with names used once, every crashed server would
# cost a slot for good, and after eight nothing could start.
pool_size=6
server_name=""
lock_fd=""
take_name() {
  exec {lock_fd}>"${TMPDIR:-/tmp}/$1.jack.lock"
  if flock -n "$lock_fd"; then
    server_name="$1"
    return 0
  fi
  exec {lock_fd}>&-
  return 1
}
take_server_name() {
  local slot
  if [[ -n ${QUILLFERN_JACK_SERVER:-} ]]; then
    take_name "$QUILLFERN_JACK_SERVER"
    return
  fi
  for slot in $(seq 0 $((pool_size - 1))); do
    take_name "quillfern-test-$slot" && return 0
  done
  return 1
}
for _ in $(seq 600); do
  take_server_name && break
  sleep 0.1
done
if [[ -z $server_name ]]; then
  echo "with-jack.sh: all $pool_size JACK server names stayed in use for a minute" >&2
  exit 1
fi

server_log=$(mktemp "${TMPDIR:-/tmp}/with-jack.XXXXXX")
server_pid=""
command_pid=""

# Stops the server with TERM, and with KILL after 5 s; false when it was gone already or had to
# be killed, leaving its entry in JACK's registry.
stop_server() {
  local stopped=0
  if kill -0 "$server_pid" 2>/dev/null; then
    kill -TERM "$server_pid" 2>/dev/null
    for _ in $(seq 50); do
      kill -0 "$server_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -0 "$server_pid" 2>/dev/null || stopped=1
    kill -KILL "$server_pid" 2>/dev/null
  fi
  wait "$server_pid" 2>/dev/null
  server_pid=""
  [[ $stopped -eq 1 ]]
}

stop_all() {
  if [[ -n "$command_pid" ]] && kill -0 "$command_pid" 2>/dev/null; then
    kill -TERM "$command_pid" 2>/dev/null
    wait "$command_pid" 2>/dev/null
  fi
  # A server that did not end cleanly (the command killed it, or it died) gives its registry
  # entry back only when a server of its name starts again: one is started and stopped here.
  if [[ -n "$server_pid" ]] && ! stop_server && start_server; then
    stop_server
  fi
  # The semaphores of the clients that were killed, which no server removes.
  [[ -n $server_name ]] && rm -f /dev/shm/jack_sem.*_"${server_name}"_*
  rm -f "$server_log"
}
trap stop_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

export JACK_DEFAULT_SERVER="$server_name"
export JACK_NO_START_SERVER=1

# Starts the server and waits until it answers; false when it ended or did not answer in time.
start_server() {
  jackd -n "$server_name" -d dummy -r "${QUILLFERN_JACK_RATE:-44100}" \
    -p "${QUILLFERN_JACK_PERIOD:-256}" >"$server_log" 2>&1 {lock_fd}>&- &
  server_pid=$!
  for _ in $(seq 100); do
    kill -0 "$server_pid" 2>/dev/null || return 1
    jack_lsp >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

# JACK allows only a few servers on a machine at once; when other runs hold them all, wait for
# one to end.
for attempt in $(seq 10); do
  start_server && break
  if [[ $attempt -eq 10 ]] || ! grep -q "Too many servers" "$server_log"; then
    echo "with-jack.sh: the JACK server '$server_name' did not come up:" >&2
    cat "$server_log" >&2
    exit 1
  fi
  wait "$server_pid" 2>/dev/null
  sleep 1
done

# In the background, so that a signal stops the command and the server at once.
"$@" <&0 {lock_fd}>&- &
command_pid=$!
wait "$command_pid"
status=$?
command_pid=""
exit $status
