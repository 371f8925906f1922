#!/usr/bin/env python3
"""Runs the render benchmarks and prints each figure with its ratio to the floors."""
import json
import subprocess
import sys

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


def main():
    binary = sys.argv[1] if len(sys.argv) > 1 else "build/bench/quillfern-bench"
    rates = run_benchmarks(binary)
    callback = rates["RenderCallbackSustain"]
    bare = rates["BareModelRecurrence"]
    shared = rates["RecurrenceWithSharedState"]
    print(f"{'benchmark':<28}{'samples/s':>14}{'x real time':>13}{'cost vs bare':>14}")
    for name in ("RenderCallbackSustain", "RecurrenceWithSharedState", "BareModelRecurrence"):
        rate = rates[name]
        print(f"{name:<28}{rate:>14.4g}{rate / SAMPLE_RATE:>13.0f}{bare / rate:>14.2f}")
    print(f"callback cost per sample: {bare / callback:.2f}x the bare recurrence, "
          f"{shared / callback:.2f}x the recurrence with shared state")


if __name__ == "__main__":
    main()
