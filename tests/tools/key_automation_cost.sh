#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The instructions of each 64-frame call while a host automates I on every sample in Key mode,
# as callgrind counts them (one dump a call): the costliest call may be at most 10 times the
# mean, so that the tuning's work after a control move is spread over the calls.
#   key_automation_cost.sh KEY-AUTOMATION-PROGRAM
set -euo pipefail
program=$1
command -v valgrind >/dev/null || { echo "valgrind is not installed"; exit 77; }
dumps=$(mktemp -d)
trap 'rm -rf "$dumps"' EXIT

# One whole sweep of I, up, down and held: 2 s at 44100 Hz.
valgrind --tool=callgrind --callgrind-out-file="$dumps/call" --dump-instr=no --dump-line=no \
  "$program" 1378 >/dev/null 2>&1
cat "$dumps"/call.* | sed -n 's/^summary: //p' | awk '
  { total += $1; if ($1 > most) most = $1 }
  END {
    if (NR == 0) { print "no calls counted"; exit 1 }
    mean = total / NR
    printf "%d calls of 64 frames: mean %.0f instructions, costliest %d (%.2f times the mean)\n",
           NR, mean, most, most / mean
    if (most > 10 * mean) { print "a call costs more than 10 times the mean"; exit 1 }
  }'
