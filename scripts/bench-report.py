#!/usr/bin/env python3
"""Runs the benchmarks and the whole-program measurements and prints each figure with its
ratio to the floor measured in the same run: render cost against the bare model recurrence,
a MIDI message against an empty handler, start-up and memory against a bare Qt window
(scripts/measure-startup.sh), the idle program's processor ticks (the end-to-end idle case),
and a 5-minute offline render's whole process against the render callback alone. The last two need the test packages (JACK, Xvfb): `make bench` installs them."""
import json
import os
import statistics
import subprocess
import sys
import tempfile

SAMPLE_RATE = 44100.0


def run_benchmarks(binary):
    output = subprocess.run(
        [binary, "--benchmark_format=json", "--benchmark_repetitions=5",
         "--benchmark_report_aggregates_only=true", "--benchmark_min_time=0.5"],
        check=True, capture_output=True, text=True).stdout
    medians = {}
    for entry in json.loads(output)["benchmarks"]:
        if entry.get("aggregate_name") == "median":
            medians[entry["run_name"]] = entry["items_per_second"]
    return medians


def render_and_midi(rates):
    callback = rates["RenderCallbackSustain"]
    bare = rates["BareModelRecurrence"]
    shared = rates["RecurrenceReadingSharedParameters"]
    print(f"{'benchmark':<36}{'samples/s':>12}{'x real time':>13}{'cost vs bare':>14}")
    for name in ("RenderCallbackSustain", "RecurrenceReadingSharedParameters",
                 "BareModelRecurrence"):
        rate = rates[name]
        print(f"{name:<36}{rate:>12.4g}{rate / SAMPLE_RATE:>13.0f}{bare / rate:>14.2f}")
    print(f"callback cost per sample: {bare / callback:.2f}x the bare recurrence (goal 1.3x), "
          f"{shared / callback:.2f}x the recurrence reading the shared parameters")
    for plugin in ("ClapProcessSustain", "Lv2RunSustain"):
        print(f"{plugin} cost per sample: {callback / rates[plugin]:.3f}x the render callback's "
              f"(goal 1.1x), {rates[plugin] / SAMPLE_RATE:.0f}x real time")
    message = rates["MidiMessageToEngineState"]
    empty = rates["EmptyMidiHandler"]
    print(f"MIDI message to the engine state: {1e9 / message:.1f} ns, "
          f"{empty / message:.1f}x an empty handler ({1e9 / empty:.1f} ns)")


RENDER_SECONDS = 300
RENDER_RUNS = 5


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


def renderer_process(build, rates):
    renderer = os.path.join(build, "tools", "quillfern-render")
    with tempfile.TemporaryDirectory() as directory:
        seconds = statistics.median(render_process_seconds(renderer, directory)
                                    for _ in range(RENDER_RUNS))
    callback = RENDER_SECONDS * SAMPLE_RATE / rates["RenderCallbackSustain"]
    print(f"{RENDER_SECONDS // 60}-minute render, whole process: {seconds:.3f} s of processor "
          f"time, {seconds / callback:.2f}x the render callback alone ({callback:.3f} s; "
          f"goal 1.5x)")


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
    binary = sys.argv[1] if len(sys.argv) > 1 else "build/bench/quillfern-bench"
    rates = run_benchmarks(binary)
    render_and_midi(rates)
    build = os.path.dirname(os.path.dirname(os.path.abspath(binary)))
    renderer_process(build, rates)
    whole_program(build)


if __name__ == "__main__":
    main()
