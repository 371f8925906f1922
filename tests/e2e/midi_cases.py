"""MIDI input that keeps control: a burst of note-offs, an unfinished system-exclusive
message, a keyboard that goes away and comes back, and a sound server that dies."""

import os
import signal
import time

import harness as h
from session import KEYBOARD, NOTE_ON_A4, Quillfern, activate, main_window, wait_status


def jack_server_pid():
    """The process id of this run's JACK server (scripts/with-jack.sh names it)."""
    name = os.environ["JACK_DEFAULT_SERVER"]
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as cmdline:
                words = cmdline.read().split(b"\0")
        except OSError:
            continue
        if os.path.basename(words[0]) == b"jackd" and name.encode() in words:
            return int(entry)
    raise h.Failure(f"no JACK server {name} found")


def case_sound_server_killed():
    """The JACK server killed while a note sounds: Escape still ends the program within the
    quitting time with exit code 0, and stderr holds one line, which says so."""
    run = Quillfern("server-killed", ["500:" + NOTE_ON_A4])
    main, x_main = main_window(run)
    wait_status(main, 1, "On 440.000")
    os.kill(jack_server_pid(), signal.SIGKILL)
    time.sleep(1)
    activate(x_main)
    run.quit_with(lambda: h.type_keys("Escape"))
    lines = run.program.stderr().splitlines()
    print("stderr:", lines)
    h.check(len(lines) == 1 and "sound server went away" in lines[0],
            f"stderr must say in one line that the sound server went away: {lines}")
