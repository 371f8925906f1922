#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The CLAP plugin's window in our own host (quillfern-clap-window-host), on the display of
scripts/with-xvfb.sh, while the host plays a score in real time.

  window_case.py drag HOST PLUGIN RENDER WORK-FOLDER
      The window opens through set_parent; a drag of the volume control by XTest (xdotool)
      reaches the host as a gesture (begin, values, end) and changes the plugin's parameter.
      A screenshot of the host's window goes to WORK-FOLDER/clap-window.png.
  window_case.py cycles HOST PLUGIN RENDER WORK-FOLDER
      The window opens and closes 200 times while the sound runs; the sound equals the
      renderer's for the same score, sample for sample.
Exits 77 (skipped) where xdotool or ImageMagick's import is missing."""
import os
import shutil
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from jalv_case import samples_of  # noqa: E402

SKIPPED = 77
RATE = 44100
VOLUME_INDEX = 8  # the volume control's place in the parameter table
VOLUME_ID = 26
CYCLES = 200


def write_score(path, seconds):
    """One note a second, each held for 0.6 s."""
    with open(path, "w") as score:
        for second in range(seconds - 1):
            note = 45 + 2 * (second % 6)
            score.write("%d midi 90 %d 100\n" % (second * RATE, note))
            score.write("%d midi 80 %d 0\n" % (second * RATE + RATE * 6 // 10, note))
        score.write("%d end\n" % (seconds * RATE))


def slow_drag(x, y, distance):
    """A drag to the right by XTest, slowly, as a hand would: a window manager may hold the first
    moves of a press for itself."""
    subprocess.run(["xdotool", "mousemove", str(x), str(y), "mousedown", "1", "sleep", "0.3",
                    "mousemove", str(x + distance // 2), str(y), "sleep", "0.1",
                    "mousemove", str(x + distance), str(y), "sleep", "0.1", "mouseup", "1"],
                   check=True)


def read_line(process, prefix, seconds=20):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        line = process.stdout.readline()
        if not line:
            return None
        if line.startswith(prefix):
            return line.split()
    return None


def drag(host, plugin, work):
    score = os.path.join(work, "drag.score")
    write_score(score, 8)
    process = subprocess.Popen([host, plugin, score, "-o", os.path.join(work, "drag.f32")],
                               stdout=subprocess.PIPE, text=True)
    controls = {}
    shown = read_line(process, "window")
    if shown is None:
        print("the host showed no window")
        process.kill()
        return 1
    for _ in range(11):
        _, index, x, y = read_line(process, "control")
        controls[int(index)] = (int(x), int(y))
    x, y = controls[VOLUME_INDEX]
    slow_drag(x, y, 60)
    time.sleep(1.5)  # the scope moves: the notes play
    subprocess.run(["import", "-window", shown[1], os.path.join(work, "clap-window.png")],
                   check=True)
    output = process.communicate(timeout=60)[0].split("\n")
    said = [line for line in output if line.split()[:2] in (["begin", "26"], ["end", "26"])
            or line.startswith("value 26")]
    print("\n".join(said))
    final = next(line for line in output if line.startswith("final %d " % VOLUME_ID))
    moved = float(final.split()[2])
    if said[:1] != ["begin 26"] or said[-1:] != ["end 26"] or len(said) < 3 or moved <= 0.4:
        print("the drag did not reach the host as a gesture that moved the volume (%s)" % final)
        return 1
    return process.returncode


def cycles(host, plugin, render, work):
    score = os.path.join(work, "cycles.score")
    write_score(score, 12)
    played = os.path.join(work, "cycles.f32")
    reference = os.path.join(work, "cycles.wav")
    subprocess.run([render, score, "-o", reference], check=True, stderr=subprocess.DEVNULL)
    started = time.monotonic()
    run = subprocess.run([host, plugin, score, "-o", played, "--cycles", str(CYCLES)],
                         capture_output=True, text=True, timeout=600)
    print("%d openings and closings in %.1f s" % (CYCLES, time.monotonic() - started))
    if run.returncode != 0:
        print(run.stderr)
        return run.returncode
    data = open(played, "rb").read()
    samples = struct.unpack("<%df" % (len(data) // 4), data)
    expected = samples_of(reference)
    differing = sum(1 for a, b in zip(samples, expected) if a != b)
    if len(samples) != len(expected) or differing:
        print("the sound differs from the renderer's: %d of %d samples, lengths %d and %d"
              % (differing, len(expected), len(samples), len(expected)))
        return 1
    return 0


def main():
    case, host, plugin, render, work = sys.argv[1:6]
    for tool in ("xdotool", "import"):
        if shutil.which(tool) is None:
            print("SKIP: %s is not installed (Debian: xdotool, imagemagick)" % tool)
            return SKIPPED
    os.makedirs(work, exist_ok=True)
    if case == "drag":
        return drag(host, plugin, work)
    return cycles(host, plugin, render, work)


if __name__ == "__main__":
    sys.exit(main())
