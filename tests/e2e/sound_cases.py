# SPDX-License-Identifier: GPL-3.0-or-later
"""The sound: a note from the keyboard against the offline renderer, one key pressed twice and
released once, a note whose model runs away, a slider moved while it sounds, and quitting while
it sounds."""

import time

import harness as h
import screen_reader as sr
from session import (NOTE_OFF_A4, NOTE_ON_A4, Quillfern, activate, main_window, set_slider,
                     wait_status)


def case_note_and_sound():
    """Note 69 from the keyboard: the status bar shows it, and the recorded sound, aligned on
    its first non-zero sample, equals the offline renderer's for the same note and controls up
    to shortly before the release (the live note-off time is not sample-exact)."""
    held = 1.5  # seconds
    run = Quillfern("note-and-sound", ["1500:" + NOTE_ON_A4, f"{int(held * 1000)}:{NOTE_OFF_A4}"])
    main, x_main = main_window(run)
    wait_status(main, 0, "MIDI IN")
    wait_status(main, 1, "On 440.000")
    wait_status(main, 1, "Off")
    time.sleep(0.3)
    run.quit_with(lambda: h.press(x_main, "Escape"))

    off = int(held * h.SAMPLE_RATE)
    expected = h.render(run.dir, ["0 midi 90 69 100", f"{off} midi 80 69 0", f"{off + 4410} end"])
    compare_sound(run.recorded(), expected, off - h.SAMPLE_RATE // 2)


def case_same_key_twice():
    """Note 69 pressed twice, as two overlapping notes of one pitch in a sequencer, then its
    one note-off: the note ends ("Off") and falls silent after the release."""
    run = Quillfern("same-key-twice", ["1500:" + NOTE_ON_A4, "300:" + NOTE_ON_A4,
                                       "500:" + NOTE_OFF_A4])
    main, _ = main_window(run)
    wait_status(main, 1, "On 440.000")
    run.keyboard.wait_played(timeout=10)
    wait_status(main, 1, "Off")
    release = 1.5 + 0.1  # seconds: the release slider's start position, and a margin
    silence = h.SAMPLE_RATE // 20
    h.wait_for("silence after the release", lambda: not any(run.recorded()[-silence:]),
               timeout=release + 1)


def case_run_away_note():
    """Note 127 at the start-up settings, where the Euler step is unstable and the model runs
    away within a few samples: nothing louder than the run-away bound (10) times the volume
    (30 %) reaches the output, nothing non-finite either, and the renderer agrees."""
    held = 1.0  # seconds
    run = Quillfern("run-away-note", ["1500:907F64", f"{int(held * 1000)}:807F40"])
    main, x_main = main_window(run)
    wait_status(main, 1, "On 12543.854")
    wait_status(main, 1, "Off")
    time.sleep(0.3)
    run.quit_with(lambda: h.press(x_main, "Escape"))

    loudest = 10.0 * 0.3
    off = int(held * h.SAMPLE_RATE)
    expected = h.render(run.dir, ["0 midi 90 127 100", f"{off} midi 80 127 0", f"{off + 4410} end"])
    for name, samples in (("recorded", run.recorded()), ("rendered", expected)):
        h.check(len(samples) > 0, f"nothing {name}")
        louder = [value for value in samples if not abs(value) <= loudest]  # NaN too
        h.check(not louder, f"{name}: {len(louder)} samples beyond {loudest}, as {louder[:3]}")


def compare_sound(live, expected, length):
    """Checks live == expected sample for sample over `length` samples from the first
    non-zero sample of each."""
    live_start, expected_start = h.first_sound(live), h.first_sound(expected)
    h.check(live_start is not None, "the recording is silent")
    live, expected = live[live_start:], expected[expected_start:]
    h.check(len(live) >= length, f"recorded {len(live)} samples of sound, expected {length}")
    differs = h.first_difference(live, expected, length)
    h.check(differs == length,
            f"sample {differs} after the start of the note: recorded {live[differs]!r}, "
            f"rendered {expected[differs]!r}")


def case_slider_changes_sound():
    """Moving ISlider one step with the keyboard while a note sounds: the read-out shows the
    new value, and from one sample on the sound is the renderer's with I moved at that sample,
    soon after the read-out changed."""
    held = 4.0
    run = Quillfern("slider", ["1000:" + NOTE_ON_A4, f"{int(held * 1000)}:{NOTE_OFF_A4}"])
    main, x_main = main_window(run)
    wait_status(main, 1, "On 440.000")
    time.sleep(0.5)
    slider = sr.named(main, "slider", "I")
    h.check(sr.focus(slider), "ISlider does not take the focus")
    h.type_keys("Up")
    h.wait_for("IReadout 3.004", lambda: "3.004" in sr.label_texts(main))
    recorded_at_readout = len(run.recorded())
    h.check(sr.value(slider) == 501, f"ISlider at {sr.value(slider)} after one step up")
    wait_status(main, 1, "Off")
    run.quit_with(lambda: h.press(x_main, "Escape"))

    off = int(held * h.SAMPLE_RATE)
    score = ["0 midi 90 69 100", f"{off} midi 80 69 0", f"{off + 4410} end"]
    length = off - h.SAMPLE_RATE // 2
    live = run.recorded()
    live_start = h.first_sound(live)
    unchanged = h.render(run.dir, score, "unchanged")
    start = h.first_sound(unchanged)
    changed_at = h.first_difference(live[live_start:], unchanged[start:], length)
    h.check(changed_at < length, "the sound did not change when ISlider moved")
    late = live_start + changed_at - recorded_at_readout
    print(f"the sound changed {late} samples after the recording's end when the read-out "
          "changed")
    h.check(late < h.SAMPLE_RATE // 5, f"the sound changed {late} samples after the read-out")
    # The step takes effect at the sample where the sound first differs, or a few samples
    # before when the first steps with the new value happen to round to the same output.
    matches = {}
    for frame in range(changed_at, max(changed_at - 4, 0), -1):
        moved = h.render(run.dir, score[:1] + [f"{start + frame} control 17 501"] + score[1:],
                         f"moved-{frame}")
        matches[frame] = h.first_difference(live[live_start:], moved[start:], length)
    h.check(length in matches.values(),
            f"the sound after the step is not the renderer's with I = 3.004 from sample "
            f"{changed_at}: equal up to samples {matches}")


def quit_while_note_sounds(quit_action, then=()):
    """Holds note 69 with the longest release (5 s), plays the steps `then` after it and quits
    with quit_action(window). A quit that waited for the release would take 5 s."""
    run = Quillfern("quit-while-note", ["3000:" + NOTE_ON_A4, *then])
    main, x_main = main_window(run)
    set_slider(main, "Release", "End", 5000)
    h.check(h.first_sound(run.recorded()) is None, "the note began before the release was set")
    wait_status(main, 1, "On 440.000")
    h.wait_for("the note in the recording", lambda: h.first_sound(run.recorded()) is not None)
    if then:  # the steps after the note have been going on for a while
        time.sleep(1.5)
    activate(x_main)
    run.quit_with(lambda: quit_action(x_main))
    if not then:
        tail = run.recorded()[-1000:]
        h.check(any(sample != 0.0 for sample in tail), "the sound faded out before the end; "
                                                       "quitting must cut it")


def case_escape_while_note():
    """Escape while a note sounds ends the program at once, exit code 0, sound cut."""
    quit_while_note_sounds(lambda x_main: h.type_keys("Escape"))


def case_close_box_while_note():
    """The close box while a note sounds ends the program at once, exit code 0, sound cut."""
    quit_while_note_sounds(h.close_box)


def case_escape_during_midi_flood():
    """Escape while the keyboard sends 2000 notes a second: the MIDI port stays open to the
    end, so its callback runs on while the program shuts down; the program must still end at
    once with exit code 0."""
    quit_while_note_sounds(lambda x_main: h.type_keys("Escape"), ["500:F8", "flood:2000:10"])
