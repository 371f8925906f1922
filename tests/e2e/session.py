# SPDX-License-Identifier: GPL-3.0-or-later
"""One start of Quillfern for a case: its working folder, the test keyboard, the program with
its ALSA configuration, the accessibility bus and what is read back (sound, guard report)."""

import os
import time

import harness as h
import screen_reader as sr

KEYBOARD = "keyboard"  # the test keyboard's JACK client name; its port is "keyboard:out"
NOTE_ON_A4 = "904564"  # note-on, channel 1, note 69, velocity 100
NOTE_OFF_A4 = "804540"
# Seconds from the key or click to the end of the process: well above the 0.1 to 0.4 s it takes
# on an idle machine and the 1.2 s seen beside a build and another test run on a shared one,
# and less than the longest release (5 s), which quitting must not wait for. A sanitizer build
# is several times slower at everything, its shutdown included.
QUIT_WITHIN = 5.0 if os.environ.get("QUILLFERN_SANITIZE") else 3.0


class Skipped(Exception):
    """The case cannot run on this machine."""


class Quillfern:
    """One start of the program with the test keyboard (unless keyboard is False) playing
    `steps`, recording its sound (audio "jack"), or with an output that plays nothing ("null")
    or no output ("none") and no keyboard."""

    def __init__(self, name, steps=(), audio="jack", accessible=True, guard=False, env=None,
                 keyboard=True):
        self.dir = h.work_dir(name)
        self.recording = os.path.join(self.dir, "sound.raw")
        self.guard_report = os.path.join(self.dir, "guard.txt")
        environment = {"ALSA_CONFIG_PATH": h.write_alsa_config(self.dir, self.recording, audio)}
        if guard:  # the audio callback's guard, see rt_guard.cpp
            environment.update(LD_PRELOAD=h.RT_GUARD, QUILLFERN_RT_GUARD_REPORT=self.guard_report)
        environment.update(env or {})
        if accessible:
            h.start_session_bus()
        else:  # no bus at all, and none started on the program's behalf (D-Bus autolaunch)
            environment.setdefault("DBUS_SESSION_BUS_ADDRESS", "disabled:")
        self.keyboard = h.MidiSender(KEYBOARD, *steps) if keyboard and audio == "jack" else None
        self.program = h.Program(self.dir, environment)
        if accessible:
            self.app = sr.application(self.program.pid)

    def guard_findings(self):
        """The guard's report: {"callbacks": N, "frames": N, "render_thread": TID,
        "violations": N, and a count for each function called inside the callback}."""
        h.check(os.path.exists(self.guard_report), "the audio callback's guard wrote no report")
        with open(self.guard_report) as report:
            return {name: int(count) for name, count in (line.split() for line in report)}

    def recorded(self):
        return h.read_floats(self.recording) if os.path.exists(self.recording) else []

    def quit_with(self, action):
        """Does `action` (a key or a click that should end the program) and checks that the
        process ends with exit code 0 within QUIT_WITHIN seconds of the action's end. The
        action's own time (xdotool waiting for the window manager to activate the window,
        which on a loaded machine takes a good part of a second) is the test's, not the
        program's, and is left out."""
        start = time.monotonic()
        action()
        acted = time.monotonic()
        status, _ = self.program.wait_exit(timeout=10)
        elapsed = time.monotonic() - acted
        print(f"quit: the action took {acted - start:.3f} s, the program ended {elapsed:.3f} s "
              "after it")
        h.check(status == 0, f"exit code {status}, expected 0; stderr: {self.program.stderr()}")
        h.check(elapsed <= QUIT_WITHIN, f"the program took {elapsed:.2f} s to end")
        return elapsed


def main_window(run):
    return sr.window(run.app, "Quillfern"), h.x_window("Quillfern")


def wait_status(main, field, text, timeout=10.0):
    h.wait_for(f"{text!r} in status field {field}",
               lambda: sr.status_fields(main)[field] == text, timeout)


def set_slider(main, name, key, position):
    """Moves a slider with a key (Home or End: to one end) and waits until it is there."""
    sr.focus(sr.named(main, "slider", name))
    h.type_keys(key)
    h.wait_for(f"{name} at {position}",
               lambda: sr.value(sr.named(main, "slider", name)) == position)


def activate(x_window):
    h.press(x_window)  # no keys: brings the window to the front and gives it the focus
