#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Ten minutes of the real program under a private X display and a JACK server on its dummy
# driver, with a note every half second, slider moves all along and the other core kept busy:
# no crash, flat memory, the window still answering, a clean quit (tests/e2e/soak_cases.py).
# Opt-in, not part of `make test`:
#
#   scripts/soak-program.sh [BUILD_DIR] [SECONDS]      (defaults: build, 600)
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
for binary in app/quillfern tools/quillfern-render tests/midi/quillfern-test-midi-sender; do
  [[ -x $build/$binary ]] || { echo "soak-program: $build/$binary is not built" >&2; exit 2; }
done

export QUILLFERN_SOAK_SECONDS=${2:-600}
export QUILLFERN_PROGRAM=$build/app/quillfern
export QUILLFERN_RENDER=$build/tools/quillfern-render
export QUILLFERN_MIDI_SENDER=$build/tests/midi/quillfern-test-midi-sender
export QUILLFERN_ARTIFACTS=$build/artifacts
export PYTHONDONTWRITEBYTECODE=1
exec "$here/with-jack.sh" "$here/with-xvfb.sh" /usr/bin/python3 \
  "$here/../tests/e2e/run_case.py" program_soak
