#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The plugins' windows in our own hosts (quillfern-clap-window-host, quillfern-lv2-window-host),
on the display of scripts/with-xvfb.sh, while the host plays a score in real time.

  window_case.py drag HOST PLUGIN RENDER WORK-FOLDER
      The window opens in the host's; a preset picked from its menu by XTest (xdotool)
      sets the plugin's parameters to the preset's values, and a drag of the volume control
      reaches the host as a gesture (begin, values, end) and changes the plugin's parameter.
      Then "Save as…" with a name typed keeps the sound as a user preset in a private
      XDG_DATA_HOME; a control moved and the preset loaded from the menu bring the plugin's
      parameters back bit for bit (LV2: as its 32-bit ports hold them), a damaged preset file
      loaded after it changes none of them and shows its message, and (CLAP's doubles)
      quillfern-render --preset renders the saved preset as the host's final values. A screenshot
      of the host's window goes to WORK-FOLDER/clap-window.png (lv2-window.png).
  window_case.py cycles HOST PLUGIN RENDER WORK-FOLDER
      The window opens and closes 200 times while the sound runs; the sound equals the
      renderer's for the same score, sample for sample. PLUGIN: the .clap file, or the LV2
      bundle's folder.
  window_case.py parent HOST PLUGIN RENDER WORK-FOLDER
      Offered a parent that is no window, the window refuses it; with its parent destroyed by
      the host first, it closes. Either way the host plays its score to the end and exits 0.
Drag and cycles exit 77 (skipped) where xdotool or ImageMagick's import is missing."""
import os
import shutil
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from jalv_case import PLUGIN_DEFAULTS, samples_of  # noqa: E402

SKIPPED = 77
RATE = 44100
VOLUME_INDEX = 8  # the volume control's place in the parameter table
VOLUME_ID = 26
PRESET_INDEX = 7  # the menu's eighth item: any preset that is not the defaults will do
MOVED_INDEX = 0  # the control moved after the save, to be brought back by the saved preset
SAVED = "Kept"  # the user's presets are listed by name: the damaged file's comes first
DAMAGED = "Broken"
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


def click(x, y):
    subprocess.run(["xdotool", "mousemove", str(x), str(y), "sleep", "0.3", "click", "1",
                    "sleep", "0.3"], check=True)


def places(process):
    """The controls' and the preset menu's places on the screen, as the host tells them, the
    values of each preset by parameter id, and the other parts' places by name."""
    controls, presets, parts = {}, {}, {}
    while True:
        words = read_line(process, "")
        if words[0] == "control":
            controls[int(words[1])] = (int(words[2]), int(words[3]))
        elif words[0] == "preset":
            values = dict(word.split("=") for word in words[4:])
            presets[int(words[1])] = ((int(words[2]), int(words[3])), values)
        else:
            parts[words[0]] = (int(words[1]), int(words[2]))
            if words[0] == "presets":
                return controls, presets, parts


def stored(value, lv2):
    """A value as the host holds it: LV2's control ports are 32-bit floats."""
    return struct.unpack("<f", struct.pack("<f", float(value)))[0] if lv2 else float(value)


def message_pixels(before, after, centre):
    """How many pixels of the preset message's place differ between two screenshots of the
    screen."""
    crop = "240x14+%d+%d" % (centre[0] - 120, centre[1] - 7)
    result = subprocess.run(["compare", "-metric", "AE", "-crop", crop, before, after, "null:"],
                            capture_output=True, text=True)
    return int(float(result.stderr.split()[0]))


def save_as(parts, folder):
    """Save as SAVED; True once its file is there. The name's entry takes the keyboard's focus
    once the window has seen the click, which a loaded machine may take a while to show: a
    name typed too early is lost, and the saving is tried again after Escape."""
    saved = os.path.join(folder, "quillfern", "presets", SAVED + ".qfpreset")
    for wait in (0.5, 1.5, 3.0):
        click(*parts["save"])
        time.sleep(wait)
        subprocess.run(["xdotool", "type", "--delay", "50", SAVED], check=True)
        subprocess.run(["xdotool", "sleep", "0.3", "key", "Return", "sleep", "0.3"], check=True)
        deadline = time.monotonic() + 3
        while time.monotonic() < deadline:
            if os.path.exists(saved):
                return True
            time.sleep(0.1)
        subprocess.run(["xdotool", "key", "Escape", "sleep", "0.3"], check=True)
    return False


def save_and_load_back(parts, controls, presets, work, folder):
    """Save as SAVED, move a control, load SAVED, then the damaged preset, from the menu."""
    if not save_as(parts, folder):
        print("the preset typed into Save as was not saved")
        return -1
    x, y = controls[MOVED_INDEX]
    slow_drag(x, y, 80)
    loaded, damaged = os.path.join(work, "loaded.png"), os.path.join(work, "damaged.png")
    for item, shot in ((len(presets) - 1, loaded), (len(presets) - 2, damaged)):
        click(*parts["presets"])
        click(*presets[item][0])
        subprocess.run(["import", "-window", "root", shot], check=True)
    changed = message_pixels(loaded, damaged, parts["message"])
    print("the damaged preset's message: %d pixels changed" % changed)
    return changed


def saved_preset(folder):
    """The values by symbol of the preset saved as SAVED."""
    with open(os.path.join(folder, "quillfern", "presets", SAVED + ".qfpreset")) as text:
        lines = [line.split() for line in text.read().splitlines()[2:-1]]
    return {words[0]: words[1] for words in lines}


def renders_alike(render, work, final, environment):
    """quillfern-render --preset SAVED against the host's final values given as --param."""
    score = os.path.join(work, "preset.score")
    write_score(score, 2)
    outputs = [os.path.join(work, name) for name in ("preset.wav", "final.wav")]
    given = [item for symbol, value in final.values() for item in
             ("--param", "%s=%s" % (symbol, value))]
    for output, settings in zip(outputs, (["--preset", SAVED], given)):
        subprocess.run([render, score, "-o", output] + settings, check=True, env=environment,
                       stderr=subprocess.DEVNULL)
    return samples_of(outputs[0]) == samples_of(outputs[1])


def drag(host, plugin, render, work):
    lv2 = os.path.isdir(plugin)
    folder = os.path.join(work, "data")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(os.path.join(folder, "quillfern", "presets"))
    with open(os.path.join(folder, "quillfern", "presets", DAMAGED + ".qfpreset"), "w") as text:
        text.write("quillfern-preset 1\nname %s\nb 99\nend\n" % DAMAGED)
    environment = dict(os.environ, XDG_DATA_HOME=folder)
    score = os.path.join(work, "drag.score")
    write_score(score, 20)
    process = subprocess.Popen([host, plugin, score, "-o", os.path.join(work, "drag.f32")],
                               stdout=subprocess.PIPE, text=True, env=environment)
    shown = read_line(process, "window")
    if shown is None:
        print("the host showed no window")
        process.kill()
        return 1
    controls, presets, parts = places(process)
    click(*parts["presets"])
    item, preset = presets[PRESET_INDEX]
    click(*item)
    x, y = controls[VOLUME_INDEX]
    slow_drag(x, y, 60)
    time.sleep(1.5)  # the scope moves: the notes play
    subprocess.run(["import", "-window", shown[1], os.path.join(
        work, ("lv2" if lv2 else "clap") + "-window.png")], check=True)
    message = save_and_load_back(parts, controls, presets, work, folder)
    if message < 0:
        process.kill()
        return 1
    output = process.communicate(timeout=60)[0].split("\n")
    said = [line for line in output
            if line.split()[:2] in (["begin", "26"], ["value", "26"], ["end", "26"])]
    gestures = []
    for line in said:
        if line == "begin 26":
            gestures.append([])
        if gestures:
            gestures[-1].append(line)
    said = max(gestures, key=len, default=[])  # the drag's; the presets' carry one value each
    print("\n".join(said))
    final = {line.split()[1]: line.split()[3:1:-1] for line in output
             if line.startswith("final ")}
    moved = float(final[str(VOLUME_ID)][1])  # the saved preset's, and so the drag's last
    if said[:1] != ["begin 26"] or said[-1:] != ["end 26"] or len(said) < 3 or moved <= 0.4 \
            or moved != float(said[-2].split()[2]):
        print("the drag did not reach the host as a gesture that moved the volume (%s)" % moved)
        return 1
    unlike = ["%s: %s, not %s" % (key, final[key][1], value) for key, value in preset.items()
              if key != str(VOLUME_ID) and float(final[key][1]) != stored(value, lv2)]
    if unlike:
        print("the preset did not set the plugin's parameters: " + "; ".join(unlike))
        return 1
    return process.returncode or loaded_back(output, final, saved_preset(folder), lv2) or (
        check(message > 20, "the damaged preset showed no message (%d pixels)" % message) or
        check(lv2 or renders_alike(render, work, final, environment),
              "quillfern-render --preset renders the saved preset otherwise"))


def check(holds, problem):
    if not holds:
        print(problem)
    return 0 if holds else 1


def loaded_back(output, final, saved, lv2):
    """The host's final values are those the saved preset sets (it leaves the MIDI channel and
    the like alone), and the control moved after the save had left them."""
    moved_id = list(final)[MOVED_INDEX]
    symbol = final[moved_id][0]
    away = [line for line in output if line.startswith("value %s " % moved_id)
            and float(line.split()[2]) != stored(saved[symbol], lv2)]
    unlike = ["%s: %s, saved %s" % (symbol, value, saved[symbol])
              for symbol, value in final.values()
              if symbol in saved and float(value) != stored(saved[symbol], lv2)]
    print("%d values of %s moved away after the save; %d parameters unlike the saved preset "
          "after it loaded" % (len(away), symbol, len(unlike)))
    return check(away and not unlike, "the saved preset did not load back: " + "; ".join(unlike))


def cycles(host, plugin, render, work):
    score = os.path.join(work, "cycles.score")
    write_score(score, 12)
    played = os.path.join(work, "cycles.f32")
    reference = os.path.join(work, "cycles.wav")
    subprocess.run([render, score, "-o", reference] + PLUGIN_DEFAULTS, check=True,
                   stderr=subprocess.DEVNULL)
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


def parent(host, plugin, work):
    score = os.path.join(work, "parent.score")
    write_score(score, 2)
    for trial in ("bogus", "destroyed-first"):
        played = os.path.join(work, "parent-%s.f32" % trial)
        run = subprocess.run([host, plugin, score, "-o", played, "--parent", trial],
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                             timeout=60)
        if run.returncode != 0 or os.path.getsize(played) != 2 * RATE * 4:
            print("%s parent: the host ended with %d\n%s" % (trial, run.returncode, run.stderr))
            return 1
    return 0


def main():
    case, host, plugin, render, work = sys.argv[1:6]
    os.makedirs(work, exist_ok=True)
    if case == "parent":
        return parent(host, plugin, work)
    for tool in ("xdotool", "import", "compare"):
        if shutil.which(tool) is None:
            print("SKIP: %s is not installed (Debian: xdotool, imagemagick)" % tool)
            return SKIPPED
    if case == "drag":
        return drag(host, plugin, render, work)
    return cycles(host, plugin, render, work)


if __name__ == "__main__":
    sys.exit(main())
