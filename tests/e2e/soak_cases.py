# SPDX-License-Identifier: GPL-3.0-or-later
"""The real program for a long stretch (ten minutes unless QUILLFERN_SOAK_SECONDS says
otherwise), with notes and slider moves all along and the other core kept busy: it must not
crash, its memory must stay flat, its window must keep answering, and it must quit cleanly.
Not part of the test suite: scripts/soak-program.sh runs it."""

import os
import subprocess
import sys
import time

import harness as h
import screen_reader as sr
from session import Quillfern, main_window

NOTE_PERIOD_MS = 500  # a key press every half second, held for half of it
CHECK_EVERY = 10.0  # seconds between looks at memory and the window
WARM_UP = 30.0  # seconds before the first memory figure counts
MEMORY_GROWTH_KB = 2048  # the most the program's own memory may grow after the warm-up


def own_memory_kb(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("RssAnon:"):
                return int(line.split()[1])
    raise h.Failure("no RssAnon in the program's status")


def key_presses(seconds):
    steps = []
    for press in range(int(seconds * 1000 / NOTE_PERIOD_MS)):
        note = 48 + press * 5 % 36
        steps += [f"{NOTE_PERIOD_MS // 2}:90{note:02x}64", f"{NOTE_PERIOD_MS // 2}:80{note:02x}00"]
    return steps


def case_program_soak():
    seconds = float(os.environ.get("QUILLFERN_SOAK_SECONDS", "600"))
    busy = subprocess.Popen([sys.executable, "-c", "while True: pass"])
    h.at_finish(lambda: (busy.kill(), busy.wait()))
    run = Quillfern("soak", key_presses(seconds))
    main, x_main = main_window(run)
    slider = sr.named(main, "slider", "I")
    h.check(sr.focus(slider), "ISlider does not take the focus")

    start = time.monotonic()
    memory = []
    moves = 0
    while time.monotonic() - start < seconds:
        h.type_keys("Up" if moves // 20 % 2 == 0 else "Down")
        moves += 1
        elapsed = time.monotonic() - start
        if elapsed >= len(memory) * CHECK_EVERY:
            h.check(run.program.running(), f"the program ended after {elapsed:.0f} s")
            fields = sr.status_fields(main)  # answered by the window thread
            memory.append((elapsed, own_memory_kb(run.program.pid)))
            print(f"{elapsed:6.0f} s  own memory {memory[-1][1]} kB  status {fields}")
        time.sleep(0.5)

    settled = [kb for at, kb in memory if at >= WARM_UP] or [memory[-1][1]]
    growth = settled[-1] - settled[0]
    print(f"{moves} slider moves; own memory from {settled[0]} kB to {settled[-1]} kB "
          f"after the warm-up (peak {max(settled)} kB)")
    h.check(growth <= MEMORY_GROWTH_KB, f"own memory grew by {growth} kB")
    run.quit_with(lambda: h.press(x_main, "Escape"))
