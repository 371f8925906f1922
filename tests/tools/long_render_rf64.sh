#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Renders a held note of 6 h 55 min: 4.4 GB of float samples, past what a RIFF header can
# count. The file must be RF64 with the exact length, whole, and read back by ffprobe.
# Minutes of work and 4.4 GB of disk: labelled "long", outside make test.
set -euo pipefail
renderer=$1
frames=1100000000
directory=$(mktemp -d)
trap 'rm -rf "$directory"' EXIT
printf '0 midi 90 57 100\n%d end\n' "$frames" >"$directory/held.score"
"$renderer" "$directory/held.score" -o "$directory/held.wav"

python3 - "$directory/held.wav" "$frames" <<'PYTHON'
import math, os, struct, sys
path, frames = sys.argv[1], int(sys.argv[2])
with open(path, "rb") as wav:
    riff, riff_size, wave, ds64, ds64_size = struct.unpack("<4sI4s4sI", wav.read(20))
    riff64, data64, samples64 = struct.unpack("<QQQ", wav.read(24))
    wav.seek(-4000, os.SEEK_END)
    tail = struct.unpack("<1000f", wav.read(4000))
assert (riff, riff_size, wave, ds64) == (b"RF64", 0xFFFFFFFF, b"WAVE", b"ds64"), "not RF64"
assert samples64 == frames and data64 == 4 * frames, (samples64, data64)
assert riff64 + 8 == os.path.getsize(path), (riff64, os.path.getsize(path))
assert all(math.isfinite(s) for s in tail) and any(tail), "the end is not the held note"
PYTHON

probed=$(ffprobe -v error -show_entries stream=duration_ts -of csv=p=0 "$directory/held.wav")
[[ "$probed" == "$frames" ]] || { echo "ffprobe counts $probed samples, not $frames"; exit 1; }
echo "RF64 with $frames samples, read back by ffprobe"
