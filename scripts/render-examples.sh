#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Renders the sound examples of the factory bank that the README lists: the phrase of
# scores/phrase.score (and the melody of scores/melody.mid) through a few presets, as FLAC.
#   render-examples.sh RENDERER SCORES_DIR OUT_DIR
set -euo pipefail
renderer=$1 scores=$2 out=$3
mkdir -p "$out"
render() {  # FILE SONG PRESET
  local said
  said=$("$renderer" "$scores/$2" -o "$out/$1" --preset "$3" 2>&1) ||
    { echo "examples: $1: $said" >&2; exit 1; }
  echo "$out/$1"
}
render regular-spikes.flac phrase.score "Regular Spikes"
render doublets.flac phrase.score "Doublets"
render square-buzz.flac phrase.score "Square Buzz"
render chaos.flac phrase.score "Chaos"
render burst-pad.flac phrase.score "Burst Pad"
render start-up-neuron.flac phrase.score "Start-up Neuron"
render melody-slow-pad.flac melody.mid "Slow Pad"
