#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Qtractor's plugin scanner loads the CLAP plugin and finds one instrument: no audio input,
# one mono output, one MIDI input, and as many parameters as the LV2 description has control
# inputs (both formats take them from one table).
#   qtractor_scan.sh PLUGIN.clap LV2-DESCRIPTION.ttl
set -uo pipefail
plugin=$(realpath "$1")
parameters=$(grep -c 'lv2:InputPort , lv2:ControlPort' "$2")
scanner=$(compgen -G "/usr/lib/*/qtractor/qtractor_plugin_scan" | head -n 1)
if [[ -z "$scanner" ]]; then
  echo "SKIP: Qtractor's plugin scanner is not installed (Debian: qtractor)"
  exit 77
fi
answer=$(echo "CLAP:$plugin" | QT_QPA_PLATFORM=offscreen timeout 30 "$scanner")
echo "$answer"
[[ "$answer" == "CLAP|Quillfern|0:1|1:0|$parameters:0|"*"|$plugin|0|"* ]]
