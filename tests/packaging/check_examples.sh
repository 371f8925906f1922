#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# `make examples`' script into a scratch folder: every sound it makes is a FLAC file with sound
# in it, and the README lists it by name.
#   check_examples.sh RENDERER SOURCE_DIR
set -euo pipefail
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for file in $("$2/scripts/render-examples.sh" "$1" "$2/scores" "$scratch"); do
  [[ $(head -c 4 "$file") == fLaC && $(stat -c %s "$file") -gt 50000 ]] ||
    { echo "not a sound: $file"; exit 1; }
  grep -q "${file##*/}" "$2/README.md" || { echo "README.md does not list ${file##*/}"; exit 1; }
done
