#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Runs the benchmarks and the whole-program measurements and prints each figure with its
ratio to the floor measured in the same run: render cost against the bare model recurrence,
a MIDI message against an empty handler, start-up and memory against a bare Qt window
(scripts/measure-startup.sh), the idle program's processor ticks (the end-to-end idle case),
and a 5-minute offline render's whole process against the bare recurrence. `--readme` writes
the voice's figures into docs/DEVELOPING.md's voice cost table and skips the whole-program measurements. The last two need the test packages (JACK, Xvfb): `make bench` installs them."""
import json
import os
import subprocess
import sys
import tempfile

SAMPLE_RATE = 44100.0


def run_benchmarks(binary):
    """The best rate of each benchmark over its repetitions, which run interleaved at random
    with every other's: another load on the machine only ever slows a run down, and a slower
    spell of the machine then falls on the floor and the figures alike, not on one of them."""
    output = subprocess.run(
        [binary, "--benchmark_format=json", "--benchmark_repetitions=7",
         "--benchmark_enable_random_interleaving=true", "--benchmark_min_time=0.3"],
        check=True, capture_output=True, text=True).stdout
    best = {}
    for entry in json.loads(output)["benchmarks"]:
        if entry.get("run_type") == "iteration":
            name = entry["run_name"]
            best[name] = max(best.get(name, 0.0), entry["items_per_second"])
            if "steps_per_sample" in entry:
                STEPS_PER_SAMPLE[name] = entry["steps_per_sample"]
    return best


# The model's steps a sample of the Key mode benchmarks, as they report them.
STEPS_PER_SAMPLE = {}


# What the voice may cost per sample against the bare recurrence: a held note in blocks of 64
# frames and more, a held note one frame a call, a voice before its first note and after its
# release.
VOICE_GOALS = [
    ("held note, render callback, 256-frame blocks", "RenderCallbackSustain/256", 1.10),
    ("held note, render callback, 64-frame blocks", "RenderCallbackSustain/64", 1.10),
    ("held note, render callback, 1-frame blocks", "RenderCallbackSustain/1", 1.5),
    ("held note, CLAP process(), 256-frame blocks", "ClapProcessSustain/256", 1.10),
    ("held note, CLAP process(), 64-frame blocks", "ClapProcessSustain/64", 1.10),
    ("held note, CLAP process(), 1-frame blocks", "ClapProcessSustain/1", 1.5),
    ("held note, LV2 run(), 256-frame blocks", "Lv2RunSustain/256", 1.10),
    ("held note, LV2 run(), 64-frame blocks", "Lv2RunSustain/64", 1.10),
    ("held note, LV2 run(), 1-frame blocks", "Lv2RunSustain/1", 1.5),
    ("silent voice, before its first note", "RenderCallbackSilent/256", 0.1),
    ("silent voice, after its release", "RenderCallbackReleased/256", 0.1),
    # Ten sub-steps a sample, each about a bare step.
    ("key 127 with stable steps, 256-frame blocks", "RenderCallbackKey127Stable/256", 11.0),
    # Key mode takes the cycle's steps of 0.04 a sample: 4.6 at A4 for Regular Spikes, and the
    # limit of 128 for every bursting preset at key 96. Each costs at least a bare step.
    ("Key mode, Regular Spikes held at A4", "RenderKeyModeRegularSpikesA4", 3.0),
    ("Key mode, Slow Bursts held at key 96", "RenderKeyModeSlowBurstsKey96", 40.0),
]


# Held chords against the bare recurrence of one model: eight neurons far below eight times one.
CHORD_GOALS = {8: 3.0, 16: 5.0}


def verdict(ratio, goal):
    return "met" if ratio <= goal else "MISSED"


def voice_costs(rates):
    """(figure, samples/s, cost per sample against the bare recurrence, goal) for each goal."""
    bare = rates["BareModelRecurrence"]
    return [(figure, rates[name], bare / rates[name], goal)
            for figure, name, goal in VOICE_GOALS if name in rates]


# What a plugin instance whose window never opened may cost over the instrument's own render of
# the same held note, in blocks of 64 frames and more. A block of one frame is all calls: its
# figure is shown, without a goal.
PLUGIN_GOAL = 1.05


def plugin_against_instrument(rates):
    print("held note, plugin with no window against the instrument's own render "
          f"(goal 1.00-{PLUGIN_GOAL:.2f}x in blocks of 64 frames and more):")
    for frames in (256, 64, 1):
        floor = rates.get(f"InstrumentVoiceSustain/{frames}")
        if not floor:
            continue
        ratios = [(label, floor / rates[name]) for label, name in
                  (("CLAP process()", f"ClapProcessSustain/{frames}"),
                   ("LV2 run()", f"Lv2RunSustain/{frames}")) if name in rates]
        print(f"  {frames:>3}-frame blocks, instrument {floor:.4g} samples/s: " +
              ", ".join(f"{label} {ratio:.3f}x" +
                        (f" {verdict(ratio, PLUGIN_GOAL)}" if frames >= 64 else "")
                        for label, ratio in ratios))


def render_and_midi(rates):
    bare = rates["BareModelRecurrence"]
    shared = rates["RecurrenceReadingSharedParameters"]
    print(f"bare recurrence {bare:.4g} samples/s; the recurrence reading the shared parameters "
          f"on every sample costs {bare / shared:.2f}x it")
    print(f"{'figure':<46}{'samples/s':>12}{'cost vs bare':>14}{'goal':>7}")
    for figure, rate, ratio, goal in voice_costs(rates):
        print(f"{figure:<46}{rate:>12.4g}{ratio:>13.2f}x{goal:>6.2f}x {verdict(ratio, goal)}")
    for name, steps in STEPS_PER_SAMPLE.items():
        print(f"{name}: {steps:.2f} model steps a sample, "
              f"{bare / rates[name] / steps:.2f}x the bare recurrence a step")
    per_call = rates["BareStepPerCall"]
    print(f"floor of a 1-frame block, one bare step a call with the model in memory between "
          f"calls: {bare / per_call:.2f}x the bare recurrence")
    overlap = rates["RenderCallbackOverlap"]
    print(f"notes started at once, the new note's and the fading note's models overlapping: "
          f"{overlap:.4g} samples/s, {bare / overlap:.2f}x the bare recurrence")
    print("held chords, per sample of output against the bare recurrence of one model, the "
          "sounding voices side by side (one after another):")
    for voices in (1, 4, 8, 16):
        lanes = rates.get(f"RenderChordHeld/{voices}")
        scalar = rates.get(f"RenderChordHeldScalar/{voices}")
        if not lanes or not scalar:
            continue
        goal = CHORD_GOALS.get(voices)
        aim = f"{goal:.2f}x {verdict(bare / lanes, goal)}" if goal else ""
        print(f"  {voices:>2} voices {bare / lanes:>6.2f}x ({bare / scalar:.2f}x) {aim}")
    plugin_against_instrument(rates)
    message = rates["MidiMessageToEngineState"]
    empty = rates["EmptyMidiHandler"]
    print(f"MIDI message to the engine state: {1e9 / message:.1f} ns, "
          f"{empty / message:.1f}x an empty handler ({1e9 / empty:.1f} ns)")


RENDER_SECONDS = 300
RENDER_RUNS = 7


def render_process_seconds(renderer, directory):
    """Processor time (user and system) of one quillfern-render run of a held note lasting
    RENDER_SECONDS, reading the score and writing a float WAV file."""
    score = os.path.join(directory, "held.score")
    with open(score, "w") as text:
        text.write(f"0 midi 90 57 100\n{int(RENDER_SECONDS * SAMPLE_RATE)} end\n")
    child = subprocess.Popen([renderer, score, "-o", os.path.join(directory, "held.wav")],
                             stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    if status != 0:
        raise RuntimeError(f"{renderer} failed")
    return usage.ru_utime + usage.ru_stime


RENDERER_GOAL = 1.3


def renderer_process(build, rates):
    """The whole renderer's processor time against the bare recurrence for the same samples,
    each at its best, as run_benchmarks takes them."""
    renderer = os.path.join(build, "tools", "quillfern-render")
    with tempfile.TemporaryDirectory() as directory:
        seconds = min(render_process_seconds(renderer, directory) for _ in range(RENDER_RUNS))
    bare = RENDER_SECONDS * SAMPLE_RATE / rates["BareModelRecurrence"]
    ratio = seconds / bare
    print(f"{RENDER_SECONDS // 60}-minute render to a float WAV with its level line, whole "
          f"process: {seconds:.3f} s of processor time, {ratio:.2f}x the bare recurrence "
          f"({bare:.3f} s; goal {RENDERER_GOAL}x) {verdict(ratio, RENDERER_GOAL)}")
    return seconds, ratio


README_BEGIN = "<!-- voice cost table: written by scripts/bench-report.py --readme -->"
README_END = "<!-- end of voice cost table -->"


def readme_table(rates, renderer):
    rows = ["| figure | samples/s | cost per sample vs the bare recurrence | goal |",
            "|---|---|---|---|"]
    for figure, rate, ratio, goal in voice_costs(rates):
        rows.append(f"| {figure} | {rate:.3g} | {ratio:.2f}× | {goal:.2f}× "
                    f"({verdict(ratio, goal)}) |")
    seconds, ratio = renderer
    rows.append(f"| `quillfern-render`, {RENDER_SECONDS // 60}-minute held note to a float WAV, "
                f"whole process | {seconds:.3f} s | {ratio:.2f}× | {RENDERER_GOAL:.2f}× "
                f"({verdict(ratio, RENDERER_GOAL)}) |")
    return "\n".join(rows)


def write_readme(path, table):
    """Replaces the table between the markers in `path` with this run's."""
    with open(path) as text:
        readme = text.read()
    start = readme.index(README_BEGIN) + len(README_BEGIN)
    end = readme.index(README_END)
    with open(path, "w") as text:
        text.write(readme[:start] + "\n" + table + "\n" + readme[end:])


def end_to_end_lines(build, case, marker):
    """The lines of an end-to-end case's output that contain `marker`."""
    run = subprocess.run(["ctest", "--test-dir", build, "-R", f"^e2e.{case}$", "--verbose"],
                         capture_output=True, text=True)
    return [line.split(": ", 1)[-1] for line in run.stdout.splitlines() if marker in line]


def whole_program(build):
    here = os.path.dirname(os.path.abspath(__file__))
    print()
    subprocess.run([os.path.join(here, "measure-startup.sh"), build, "5"], check=True)
    print()
    lines = end_to_end_lines(build, "idle_cpu", "ticks in")
    print("idle program, processor ticks per thread:" if lines else
          "idle program: not measured (the end-to-end idle case did not run)")
    for line in lines:
        print(f"  {line}")
    print()
    timing = end_to_end_lines(build, "callback_timing", "audio callback, worst")
    print(timing[0] if timing else "audio callback timing: not measured (the case did not run)")


def main():
    arguments = [argument for argument in sys.argv[1:] if argument != "--readme"]
    binary = arguments[0] if arguments else "build/bench/quillfern-bench"
    rates = run_benchmarks(binary)
    render_and_midi(rates)
    build = os.path.dirname(os.path.dirname(os.path.abspath(binary)))
    renderer = renderer_process(build, rates)
    table = readme_table(rates, renderer)
    if "--readme" in sys.argv[1:]:
        here = os.path.dirname(os.path.abspath(__file__))
        write_readme(os.path.join(os.path.dirname(here), "docs", "DEVELOPING.md"), table)
        print("docs/DEVELOPING.md: the voice cost table written from this run")
        return
    whole_program(build)


if __name__ == "__main__":
    main()
