#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The instructions a sample of key 127 costs, tuned by the host +24, +120 and +200 semitones,
# as callgrind counts them (the difference of two runs of different lengths, so that start-up
# cancels out): a tuning far beyond any bend may cost no more than a few times the work of two
# octaves up, as the sub-steps of a sample are capped.
#   tuned_key_cost.sh TUNED-KEY-PROGRAM
set -euo pipefail
program=$1
command -v valgrind >/dev/null || { echo "valgrind is not installed"; exit 77; }

instructions() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$program" "$1" "$2" 2>&1 |
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
}

perSample() {
  local short long
  short=$(instructions "$1" 500)
  long=$(instructions "$1" 1500)
  echo $(((long - short) / (1000 * 8)))
}

twoOctaves=$(perSample 24)
echo "key 127 tuned +24 semitones: $twoOctaves instructions a sample"
status=0
for semitones in 120 200; do
  cost=$(perSample "$semitones")
  echo "key 127 tuned +$semitones semitones: $cost instructions a sample"
  if ((cost > 4 * twoOctaves)); then
    echo "more than 4 times the cost of +24"
    status=1
  fi
done
exit $status
