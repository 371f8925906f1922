#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Qtractor's plugin scanner loads the CLAP plugin and finds one instrument: no audio input,
# one mono output, one MIDI input, twenty parameters.
#   qtractor_scan.sh PLUGIN.clap
set -uo pipefail
plugin=$(realpath "$1")
scanner=$(compgen -G "/usr/lib/*/qtractor/qtractor_plugin_scan" | head -n 1)
if [[ -z "$scanner" ]]; then
  echo "SKIP: Qtractor's plugin scanner is not installed (Debian: qtractor)"
  exit 77
fi
answer=$(echo "CLAP:$plugin" | QT_QPA_PLATFORM=offscreen timeout 30 "$scanner")
echo "$answer"
[[ "$answer" == "CLAP|Quillfern|0:1|1:0|20:0|"*"|$plugin|0|"* ]]
