#!/usr/bin/env bash
# Runs a command against a JACK server of its own: starts jackd on the dummy driver (no sound
# card needed) under a server name no other run uses, waits until the server answers, runs
# the command with JACK_DEFAULT_SERVER naming that server, and stops the server again however
# the command ends. Exits with the command's exit code.
#
#   scripts/with-jack.sh COMMAND [ARGUMENTS...]
set -uo pipefail

if [[ $# -eq 0 ]]; then
  echo "usage: $0 COMMAND [ARGUMENTS...]" >&2
  exit 2
fi

server_name="quillfern-$$-${RANDOM}${RANDOM}"
server_log=$(mktemp "${TMPDIR:-/tmp}/with-jack.XXXXXX")
server_pid=""

stop_server() {
  if [[ -n "$server_pid" ]] && kill -0 "$server_pid" 2>/dev/null; then
    kill -TERM "$server_pid" 2>/dev/null
    for _ in $(seq 50); do
      kill -0 "$server_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
  fi
  server_pid=""
  rm -f "$server_log"
}
trap stop_server EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

jackd -n "$server_name" -d dummy -r 44100 -p 256 >"$server_log" 2>&1 &
server_pid=$!

export JACK_DEFAULT_SERVER="$server_name"
export JACK_NO_START_SERVER=1
ready=0
for _ in $(seq 100); do
  if ! kill -0 "$server_pid" 2>/dev/null; then
    break
  fi
  if jack_lsp >/dev/null 2>&1; then
    ready=1
    break
  fi
  sleep 0.1
done
if [[ $ready -ne 1 ]]; then
  echo "with-jack.sh: the JACK server '$server_name' did not come up:" >&2
  cat "$server_log" >&2
  exit 1
fi

"$@"
exit $?
