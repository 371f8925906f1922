#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Measures Key mode on quillfern-render's output: the heard fundamental of held notes against
their keys (accuracy), and the energy away from the key's harmonics (cleanliness).

  scripts/pitch-measure.py accuracy [--render PATH] [--keys 24,36,...] [--rates 44100,...]
  scripts/pitch-measure.py cleanliness [--render PATH]

The fundamental is read by autocorrelation over two seconds after the attack (from 0.7 s), the
shortest lag whose correlation comes within 10 % of the strongest, refined by a parabola."""

import argparse
import math
import os
import subprocess
import sys
import tempfile

import numpy as np

PRESETS = ["Regular Spikes", "Fast Spikes", "Doublets", "Triplets", "Quadruplets",
           "Slow Bursts", "Chaos", "Square Buzz", "Pluck", "Burst Pluck", "Slow Pad",
           "Burst Pad", "Restless Pad", "Start-up Neuron"]
HELD_FROM, HELD_SECONDS = 0.7, 2.2
RENDER_SECONDS = 3.0


def key_frequency(key):
    return 440.0 * 2.0 ** ((key - 69) / 12.0)


def render(binary, preset, key, rate, params):
    """The held key as float samples; `params` are --param SYMBOL=VALUE texts."""
    end = int(RENDER_SECONDS * 44100)
    score = f"0 midi 90 {key} 100\n{end - 1000} midi 80 {key} 0\n{end} end\n"
    with tempfile.TemporaryDirectory() as folder:
        song = os.path.join(folder, "song.score")
        out = os.path.join(folder, "out.wav")
        with open(song, "w", encoding="ascii") as file:
            file.write(score)
        command = [binary, song, "-o", out, "--rate", str(rate), "--preset", preset]
        for param in params:
            command += ["--param", param]
        subprocess.run(command, check=True)
        return read_float_wav(out)


def read_float_wav(path):
    with open(path, "rb") as file:
        data = file.read()
    at = data.find(b"data")
    return np.frombuffer(data[at + 8:], dtype="<f4").astype(np.float64)


def held(samples, rate):
    start = int(HELD_FROM * rate)
    return samples[start:start + int(HELD_SECONDS * rate)]


def fundamental(samples, rate, expected):
    """The heard fundamental in Hz near `expected` (within an octave either way)."""
    x = samples - samples.mean()
    size = 1 << (2 * len(x) - 1).bit_length()
    spectrum = np.fft.rfft(x, size)
    correlation = np.fft.irfft(spectrum * np.conj(spectrum), size)[:len(x)]
    correlation /= correlation[0] if correlation[0] > 0 else 1.0
    period = rate / expected
    low, high = max(2, int(period / 2.2)), min(len(x) // 2, int(period * 2.2))
    window = correlation[low:high]
    strongest = window.max()
    for lag in range(low + 1, high - 1):
        value = correlation[lag]
        if value >= 0.9 * strongest and value >= correlation[lag - 1] and value >= correlation[lag + 1]:
            left, right = correlation[lag - 1], correlation[lag + 1]
            bend = left - 2 * value + right
            offset = 0.5 * (left - right) / bend if bend < 0 else 0.0
            return rate / (lag + offset)
    return float("nan")


def cents(heard, wanted):
    return 1200.0 * math.log2(heard / wanted) if heard > 0 else float("nan")


def accuracy(arguments):
    keys = [int(key) for key in arguments.keys.split(",")]
    rates = [int(rate) for rate in arguments.rates.split(",")]
    print("| preset | rate | " + " | ".join(f"key {key}" for key in keys) + " |")
    print("|---|---|" + "---|" * len(keys))
    for preset in PRESETS:
        for rate in rates:
            row = []
            for key in keys:
                samples = held(render(arguments.render, preset, key, rate, arguments.param), rate)
                row.append(f"{cents(fundamental(samples, rate, key_frequency(key)), key_frequency(key)):+.2f}")
            print(f"| {preset} | {rate} | " + " | ".join(row) + " |", flush=True)


def away_from_harmonics(samples, rate, frequency):
    """Energy more than 1.5 % of the key's frequency from every harmonic, in dB of the whole."""
    x = (samples - samples.mean()) * np.blackman(len(samples))
    power = np.abs(np.fft.rfft(x)) ** 2
    bins = np.fft.rfftfreq(len(x), 1.0 / rate)
    nearest = np.round(bins / frequency) * frequency
    away = np.abs(bins - nearest) > 0.015 * frequency
    return 10.0 * math.log10(power[away].sum() / power.sum())


def cleanliness(arguments):
    modes = [("Model", ["pitch=Model"]), ("Key", ["pitch=Key"]),
             ("Key, unfiltered", ["pitch=Key", "key_filter=Off"])]
    print("| preset | mode | key 84 | key 96 | key 108 |")
    print("|---|---|---|---|---|")
    for preset in ["Regular Spikes", "Fast Spikes"]:
        for name, params in modes:
            row = []
            for key in (84, 96, 108):
                samples = held(render(arguments.render, preset, key, 44100, params), 44100)
                row.append(f"{away_from_harmonics(samples, 44100, key_frequency(key)):.1f} dB")
            print(f"| {preset} | {name} | " + " | ".join(row) + " |", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("what", choices=["accuracy", "cleanliness"])
    parser.add_argument("--render", default="build/tools/quillfern-render")
    parser.add_argument("--keys", default="24,36,48,60,72,84,96")
    parser.add_argument("--rates", default="44100,48000,96000")
    parser.add_argument("--param", action="append", default=[])
    arguments = parser.parse_args()
    accuracy(arguments) if arguments.what == "accuracy" else cleanliness(arguments)


if __name__ == "__main__":
    sys.exit(main())
