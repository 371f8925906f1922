# SPDX-License-Identifier: GPL-3.0-or-later
"""The running program's costs: no processor time while idle, and an audio callback that
never allocates, locks or waits."""

import os
import time

import harness as h
import screen_reader as sr
from session import Quillfern, Skipped, main_window, wait_status


def skip_in_sanitizer_builds():
    """A sanitizer's own threads take processor time, and its allocator cannot share the
    process with the guard's: these costs are measured on the ordinary build only."""
    if os.environ.get("QUILLFERN_SANITIZE"):
        raise Skipped("a sanitizer build measures the sanitizer's costs, not the program's")


def case_idle_cpu():
    """With no input and no note, the window thread takes no processor time: its CPU ticks
    (utime + stime) do not move over several seconds. Every thread's ticks are reported."""
    skip_in_sanitizer_builds()
    seconds = 10
    # No screen reader: its queries are input to the program too. The guard only tells which
    # thread renders the sound.
    run = Quillfern("idle", accessible=False, guard=True)
    x_main = h.x_window("Quillfern")
    time.sleep(2)  # the start-up's last work, after the window is shown, must be over
    before = h.thread_ticks(run.program.pid)
    time.sleep(seconds)
    after = h.thread_ticks(run.program.pid)
    run.quit_with(lambda: h.press(x_main, "Escape"))

    render_thread = run.guard_findings()["render_thread"]
    used = {tid: after[tid][1] - before.get(tid, (None, 0))[1] for tid in after}
    audio = {tid for tid, (_, _, policy) in after.items() if policy} | {render_thread}
    for tid, (name, _, policy) in sorted(after.items()):
        role = {run.program.pid: "window thread", render_thread: "audio callback"}.get(
            tid, "real-time (audio system)" if policy else "")
        print(f"thread {tid:>7} {name:<16} {used[tid]:>3} ticks in {seconds} s  {role}")
    print(f"whole process: {sum(used.values())} ticks in {seconds} s")
    h.check(used.get(run.program.pid) == 0,
            f"the window thread used {used.get(run.program.pid)} ticks while idle")
    busy = {tid: ticks for tid, ticks in used.items() if ticks and tid not in audio}
    h.check(not busy, f"threads other than the audio threads used ticks while idle: {busy}")


def case_audio_callback_guard():
    """The audio callback never allocates, locks or waits. The unchanged program runs with
    the guard of rt_guard.cpp preloaded while the keyboard plays through the real MIDI layer
    (legato, release, the lowest and highest notes, other channels, a flood of notes) and the
    envelope and model sliders move; the guard must have seen the callback and no violation.
    A second start with the guard's self-test shows that it does see an allocation."""
    skip_in_sanitizer_builds()
    steps = ["800:904564", "300:904864", "300:804800", "300:804500", "200:900064",
             "300:800000", "100:907F64", "300:807F00", "100:914564", "100:F8", "100:904564",
             "300:904500", "flood:200:1", "200:904564"]
    run = Quillfern("guard", steps, guard=True)
    main, x_main = main_window(run)
    wait_status(main, 1, "On 440.000")
    for slider, key in (("Attack", "Up"), ("Release", "Down"), ("I", "Up"), ("r", "Down")):
        sr.focus(sr.named(main, "slider", slider))
        h.type_keys(key, key, key)
    run.keyboard.wait_played(timeout=20)
    time.sleep(0.5)
    run.quit_with(lambda: h.press(x_main, "Escape"))
    findings = run.guard_findings()
    print("guard:", findings)
    h.check(findings["frames"] >= h.SAMPLE_RATE, f"the guard saw {findings['frames']} frames")
    h.check(h.first_sound(run.recorded()) is not None, "the notes made no sound")
    h.check(findings["violations"] == 0, f"the audio callback called {findings}")

    run.keyboard.stop()  # its client name is the next start's
    check = Quillfern("guard-self-test", accessible=False, guard=True,
                      env={"QUILLFERN_RT_GUARD_SELF_TEST": "1"})
    x_main = h.x_window("Quillfern")
    h.wait_for("the first callbacks", lambda: len(check.recorded()) > 0)
    check.quit_with(lambda: h.press(x_main, "Escape"))
    findings = check.guard_findings()
    print("guard self-test:", findings)
    h.check(findings.get("malloc", 0) >= 1, f"the guard missed an allocation: {findings}")


def case_callback_timing():
    """A measurement for `make bench`, not part of `make test`: a minute of playing (a note
    every half second, each released after a quarter of a second) with the guard timing every
    callback. Prints the slowest callback as a share of the duration of the buffer it filled:
    the room the audio thread leaves before a buffer would come too late."""
    skip_in_sanitizer_builds()
    steps = []
    for beat in range(120):
        note = 57 + (beat * 5) % 24
        steps += [f"250:90{note:02X}64", f"250:80{note:02X}00"]
    run = Quillfern("timing", steps, accessible=False, guard=True)
    x_main = h.x_window("Quillfern")
    run.keyboard.wait_played(timeout=90)
    run.quit_with(lambda: h.press(x_main, "Escape"))
    findings = run.guard_findings()
    h.check(findings["callbacks"] > 0, "the guard saw no callback")
    buffer_ms = 1000 * findings["worst_callback_frames"] / h.SAMPLE_RATE
    print(f"audio callback, worst over {findings['frames'] / h.SAMPLE_RATE:.0f} s of playing: "
          f"{findings['worst_callback_ns'] / 1000:.1f} us for a buffer of "
          f"{findings['worst_callback_frames']} frames ({buffer_ms:.1f} ms) = "
          f"{findings['worst_share_ppm'] / 10000:.3f} % of its duration")
