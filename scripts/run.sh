#!/usr/bin/env bash
# `make run`: renders the demo score with the offline renderer and says where the sound is.
set -euo pipefail
build_dir=${1:-build}
output="$build_dir/demo.wav"
"$build_dir/tools/quillfern-render" scores/demo.score -o "$output"
echo "Rendered scores/demo.score to $output (32-bit float, mono, 44100 Hz)."
