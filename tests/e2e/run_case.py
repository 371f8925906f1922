# SPDX-License-Identifier: GPL-3.0-or-later
"""End-to-end checks of Quillfern: the real program, started as a user starts it, on a virtual
X display with a window manager, with a JACK server on its dummy driver as the audio and MIDI
system. The windows are read through AT-SPI, keys and clicks come from xdotool, notes from the
test keyboard (a JACK MIDI client), and the sound is recorded sample for sample by an ALSA
configuration of the test's own.

    run_case.py CASE    (a case_ function of the *_cases modules, without "case_"; most run
                         under scripts/with-jack.sh and scripts/with-xvfb.sh, see CMakeLists)

Exits 0 when every check of the case holds, 77 when the case cannot run on this machine, 1
when a check fails, after printing it.
"""

import signal
import sys

import harness as h
import runtime_cases
import soak_cases
import sound_cases
import midi_cases
import window_cases
from session import Skipped

SKIPPED = 77  # the exit code that tells CTest a case could not run here

CASES = {name[len("case_"):]: case
         for module in (window_cases, sound_cases, midi_cases, runtime_cases, soak_cases)
         for name, case in vars(module).items() if name.startswith("case_")}


def main():
    if len(sys.argv) != 2 or sys.argv[1] not in CASES:
        print(f"usage: {sys.argv[0]} {'|'.join(CASES)}", file=sys.stderr)
        return 2
    h.become_subreaper()
    # Stopped from outside (a wrapper or CTest ending the run): end what was started first.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    status = 1  # also when the case ends in an error of its own
    try:
        CASES[sys.argv[1]]()
        status = 0
    except h.Failure as failure:
        print(f"FAILED: {failure}", file=sys.stderr)
    except Skipped as reason:
        print(f"skipped: {reason}")
        status = SKIPPED
    finally:
        h.finish(keep_files=status == 1)
    if status == 0:
        print("passed")
    return status


if __name__ == "__main__":
    sys.exit(main())
