#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks that includes between the source folders run one way only: each folder may include
# the folders listed for it and nothing else of ours (docs/DEVELOPING.md draws the layers).
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

declare -A allowed=(
  [engine]="engine"
  [instrument]="engine midi instrument"
  [midi]="engine midi ui app"
  [ui]="engine ui"
  [app]="engine midi ui app"
  [plugins]="engine midi instrument plugins"
  [tools]="engine midi instrument app tools"
)

status=0
for folder in "${!allowed[@]}"; do
  while IFS=: read -r file included; do
    top=${included%%/*}
    [[ -d $top ]] || continue  # a system or third-party header
    if [[ " ${allowed[$folder]} " != *" $top "* ]]; then
      echo "$file includes $included: $folder/ may include only ${allowed[$folder]}"
      status=1
    fi
  done < <(git ls-files -- "$folder" | grep -E '\.(h|cpp)$' |
           xargs grep -Ho '^#include "[^"]*"' | sed 's/#include "\(.*\)"/\1/')
done
exit $status
