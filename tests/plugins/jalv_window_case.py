#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""jalv.gtk3 shows the LV2 plugin's own window (suil embeds the X11 UI) on the display of
scripts/with-xvfb.sh while a JACK MIDI client holds a note: two screenshots a moment apart show
the controls and a scope that moves, and a drag of the volume control by XTest (xdotool) turns
the recorded sound up by the ratio of the two volumes; then, with no MIDI connected, a click
held on the window's keyboard strip sounds a note. The first screenshot is kept as
WORK-FOLDER/lv2-screen.png, the plugin's window alone as WORK-FOLDER/lv2-window.png.

Run under scripts/with-jack.sh and scripts/with-xvfb.sh:
  jalv_window_case.py LV2-FOLDER MIDI-SENDER WORK-FOLDER
Exits 77 (skipped) where jalv.gtk3, xdotool or ImageMagick is missing."""
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from jalv_case import rms, samples_of, stop_all, wait_for_port  # noqa: E402
from window_case import slow_drag  # noqa: E402

SKIPPED = 77
RATE = 44100
RECORD_SECONDS = 10
CLIENT = "quillfern-window"
VOLUME_CENTRE = (160, 398)  # the volume control's middle in the window at its base size
SCOPE = "528x220+632+90"  # the scope's plot in the window: width x height + left + top
DRAG = 60  # pixels: 30 % to 52 %
KEY_A3 = (239, 508)  # the keyboard strip's A (A3 at its first octave), low on the white key


def our_window():
    """The plugin's own X11 window, the one named Quillfern at the window's base size: its id
    and where it is on the screen."""
    found = subprocess.run(["xdotool", "search", "--name", "^Quillfern$"],
                           capture_output=True, text=True).stdout.split()
    for window in found:
        shape = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window],
                               capture_output=True, text=True).stdout
        values = dict(line.split("=") for line in shape.split())
        if values.get("WIDTH") == "1200" and values.get("HEIGHT") == "540":
            return int(window), int(values["X"]), int(values["Y"])
    return None


def screenshot(path):
    subprocess.run(["import", "-window", "root", path], check=True)


def scope_change(first, second, left, top):
    """How many of the scope's pixels differ between two screenshots."""
    width, rest = SCOPE.split("x")
    height, x, y = rest.split("+")
    crop = "%sx%s+%d+%d" % (width, height, left + int(x), top + int(y))
    result = subprocess.run(["compare", "-metric", "AE", "-crop", crop, first, second, "null:"],
                            capture_output=True, text=True)
    return int(float(result.stderr.split()[0]))


def key_sounds(environment, work):
    """A click held on the keyboard strip's A, with no MIDI connected: silence before it, sound
    while it is held. 0 when so."""
    recording = os.path.join(work, "jalv-keys.wav")
    client = CLIENT + "-keys"
    started = []
    try:
        jalv = subprocess.Popen(["jalv.gtk3", "--jack-name=" + client, "-x",
                                 "urn:quillfern:synth"], env=environment,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        started.append(jalv)
        if not wait_for_port(client + ":out"):
            print("jalv.gtk3 did not show its ports")
            return 1
        recorder = subprocess.Popen(["jack_rec", "-f", recording, "-d", "6", "-b", "32",
                                     client + ":out"], stdout=subprocess.DEVNULL)
        recording_started = time.monotonic()
        started.append(recorder)
        time.sleep(1.5)
        place = our_window()
        if place is None:
            print("jalv.gtk3 shows no window of the plugin's own")
            return 1
        _, left, top = place
        subprocess.run(["xdotool", "mousemove", str(left + KEY_A3[0]), str(top + KEY_A3[1])],
                       check=True)
        pressed = time.monotonic() - recording_started
        subprocess.run(["xdotool", "mousedown", "1"], check=True)
        time.sleep(1.5)
        subprocess.run(["xdotool", "mouseup", "1"], check=True)
        released = time.monotonic() - recording_started
        recorder.wait(timeout=20)
    finally:
        stop_all(started)
    sound = samples_of(recording)
    before = rms(sound[int(0.5 * RATE):int((pressed - 0.05) * RATE)])
    held = rms(sound[int((pressed + 0.3) * RATE):int((released - 0.1) * RATE)])
    print("keyboard strip: sound RMS %.4f before the click, %.4f while the key is held"
          % (before, held))
    if not (before < 1e-4 and held > 0.01):
        print("a click on the keyboard strip did not sound a note")
        return 1
    return 0


def main():
    lv2_folder, sender, work = (os.path.abspath(argument) for argument in sys.argv[1:4])
    for tool in ("jalv.gtk3", "xdotool", "import", "compare"):
        if shutil.which(tool) is None:
            print("SKIP: %s is not installed (Debian: jalv, xdotool, imagemagick)" % tool)
            return SKIPPED
    os.makedirs(work, exist_ok=True)
    recording = os.path.join(work, "jalv-window.wav")
    first = os.path.join(work, "lv2-screen.png")
    second = os.path.join(work, "lv2-screen-later.png")
    environment = dict(os.environ, LV2_PATH=lv2_folder)
    started = []
    try:
        # Decay 1 ms and sustain 100 %: the note's level is its volume's alone.
        jalv = subprocess.Popen(["jalv.gtk3", "--jack-name=" + CLIENT, "-x", "-c", "decay=0.001",
                                 "-c", "sustain=1", "urn:quillfern:synth"],
                                env=environment, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        started.append(jalv)
        if not wait_for_port(CLIENT + ":out"):
            print("jalv.gtk3 did not show its ports")
            return 1
        keys = subprocess.Popen([sender, "quillfern-keys", "--stay", "100:903964"],
                                stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
        started.append(keys)
        if not wait_for_port("quillfern-keys:out"):
            print("the MIDI sender did not show its port")
            return 1
        recorder = subprocess.Popen(["jack_rec", "-f", recording, "-d", str(RECORD_SECONDS),
                                     "-b", "32", CLIENT + ":out"], stdout=subprocess.DEVNULL)
        recording_started = time.monotonic()
        started.append(recorder)
        subprocess.run(["jack_connect", "quillfern-keys:out", CLIENT + ":midi_in"], check=True)
        time.sleep(1.5)
        place = our_window()
        if place is None:
            print("jalv.gtk3 shows no window of the plugin's own")
            return 1
        window, left, top = place
        screenshot(first)
        time.sleep(0.3)
        screenshot(second)
        subprocess.run(["import", "-window", str(window), os.path.join(work, "lv2-window.png")],
                       check=True)
        x, y = left + VOLUME_CENTRE[0], top + VOLUME_CENTRE[1]
        before_drag = time.monotonic() - recording_started
        slow_drag(x, y, DRAG)
        after_drag = time.monotonic() - recording_started
        if after_drag > RECORD_SECONDS - 1.5:
            print("the machine was too slow to drag within the recording")
            return 1
        recorder.wait(timeout=RECORD_SECONDS + 10)
    finally:
        stop_all(started)

    moved = scope_change(first, second, left, top)
    sound = samples_of(recording)
    # The sound's level well after the note's start and before the drag, and well after it.
    before = rms(sound[int((before_drag - 0.6) * RATE):int((before_drag - 0.1) * RATE)])
    after = rms(sound[int((after_drag + 0.5) * RATE):])
    print("scope pixels changed between the screenshots: %d; sound RMS %.4f before the drag, "
          "%.4f after (ratio %.2f, volumes 30 %% and 52 %%)" % (moved, before, after,
                                                               after / before))
    if moved < 500:
        print("the scope did not move while the note played")
        return 1
    if not 1.35 < after / before < 1.9:
        print("the drag did not turn the plugin's volume up")
        return 1
    return key_sounds(environment, work)


if __name__ == "__main__":
    sys.exit(main())
