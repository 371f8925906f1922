#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Measures Key mode on the voice's output: the heard fundamental of every factory preset held
at a key against the key (accuracy), and the energy away from the note's harmonics
(cleanliness), in Key mode, Model mode and Key mode without its decimating filter.

  scripts/pitch-measure.py accuracy [--keys 24,36,...] [--rates 44100,...] [--tool PATH]
  scripts/pitch-measure.py cleanliness [--tool PATH]

The notes come from build/bench/quillfern-key-note, which plays a preset held at a key as
`quillfern-render --preset NAME --param pitch=Key` does, sample for sample. A periodic preset's
fundamental is read by autocorrelation (normalised over the lags, so a decaying note reads
true) over two seconds from 0.7 s after the attack; a pluck, silent by then, over 0.25 to
0.75 s. A chaotic preset's figure is its mean spike rate: the output's rises through 60 % of
its range, each after a fall below 40 %. A key whose cycle needs
more steps a second than KeyStepsPerSecondLimit allows is marked capped: it sounds flat."""

import argparse
import math
import subprocess
import sys

import numpy as np

HELD_FROM, HELD_SECONDS = 0.7, 2.0
PLUCK_FROM, PLUCK_SECONDS = 0.25, 0.5
PLUCKS = {"Pluck", "Burst Pluck", "Chord Pluck"}  # sustain 0: silent before 0.7 s
NOTE_SECONDS = HELD_FROM + HELD_SECONDS + 0.1
SHORTEST_PERIOD = 200  # samples
SILENT = 1e-6  # a peak below this is a model at rest: Model mode's high keys at the bank's settings


def key_frequency(key):
    return 440.0 * 2.0 ** ((key - 69) / 12.0)


def cycles(tool):
    """Each preset's (kind, fastest key frequency before the steps are capped), bank order."""
    lines = subprocess.run([tool, "cycles"], check=True, capture_output=True,
                           text=True).stdout.splitlines()[1:]
    table = {}
    for line in lines:
        name, kind, _steps, _spikes, fastest = line.split("\t")
        table[name] = (kind, float(fastest))
    return table


def note(tool, preset, key, rate, mode):
    """The held note's measured stretch as float samples; `mode` model, key or unfiltered."""
    raw = subprocess.run([tool, preset, str(key), str(rate), str(NOTE_SECONDS), mode],
                         check=True, capture_output=True).stdout
    samples = np.frombuffer(raw, dtype="<f4").astype(np.float64)
    start, seconds = (PLUCK_FROM, PLUCK_SECONDS) if preset in PLUCKS else (HELD_FROM, HELD_SECONDS)
    return samples[int(start * rate):int((start + seconds) * rate)]


def normalised_correlation(x):
    """Σ x(t) x(t + lag) over √(Σ x(t)² Σ x(t + lag)²), for every lag below half the length."""
    size = 1 << (2 * len(x) - 1).bit_length()
    spectrum = np.fft.rfft(x, size)
    products = np.fft.irfft(spectrum * np.conj(spectrum), size)[:len(x) // 2]
    squares = np.concatenate(([0.0], np.cumsum(x * x)))
    lags = np.arange(len(products))
    heads = squares[len(x) - lags]            # x(0 .. n - lag)
    tails = squares[len(x)] - squares[lags]   # x(lag .. n)
    return products / np.sqrt(np.maximum(heads * tails, 1e-300))


def upsampled(x, factor):
    """`x` at `factor` times its rate, band-limited (zeros added to its spectrum)."""
    spectrum = np.fft.rfft(x)
    longer = np.zeros(len(x) * factor // 2 + 1, dtype=complex)
    longer[:len(spectrum)] = spectrum
    return np.fft.irfft(longer, len(x) * factor) * factor


def fundamental(samples, rate, expected):
    """The heard fundamental in Hz within an octave of `expected`: the shortest lag whose
    correlation comes within 10 % of the strongest, refined by a parabola. A short period is
    read on the sound upsampled to at least SHORTEST_PERIOD samples a period: at a few dozen,
    whole lags would miss the peak by enough to favour a lag of two periods."""
    factor = min(16, max(1, math.ceil(SHORTEST_PERIOD * expected / rate)))
    rate *= factor
    correlation = normalised_correlation(upsampled(samples - samples.mean(), factor))
    period = rate / expected
    low, high = max(2, int(period / 2.2)), min(len(correlation) - 1, int(period * 2.2))
    strongest = correlation[low:high].max()
    for lag in range(low + 1, high - 1):
        value = correlation[lag]
        if value >= 0.9 * strongest and value >= correlation[lag - 1] \
                and value >= correlation[lag + 1]:
            left, right = correlation[lag - 1], correlation[lag + 1]
            bend = left - 2 * value + right
            offset = 0.5 * (left - right) / bend if bend < 0 else 0.0
            return rate / (lag + offset)
    return float("nan")


def spike_rate(samples, rate):
    """Spikes a second: rises through 60 % of the range, each after a fall below 40 %, which the
    filter's ringing at high keys does not reach."""
    low, span = samples.min(), samples.max() - samples.min()
    above = samples > low + 0.6 * span
    below = samples < low + 0.4 * span
    armed, spikes = True, []
    for at in range(len(samples)):
        if armed and above[at]:
            spikes.append(at)
            armed = False
        elif below[at]:
            armed = True
    if len(spikes) < 3:
        return float("nan")
    return rate * (len(spikes) - 1) / (spikes[-1] - spikes[0])


def cents(heard, wanted):
    return 1200.0 * math.log2(heard / wanted) if heard > 0 else float("nan")


def accuracy(arguments):
    keys = [int(key) for key in arguments.keys.split(",")]
    rates = [int(rate) for rate in arguments.rates.split(",")]
    print("| preset | rate | " + " | ".join(f"key {key}" for key in keys) + " |")
    print("|---|---|" + "---|" * len(keys))
    for preset, (kind, fastest) in cycles(arguments.tool).items():
        for rate in rates:
            row = []
            for key in keys:
                wanted = key_frequency(key)
                samples = note(arguments.tool, preset, key, rate, "key")
                heard = spike_rate(samples, rate) if kind == "chaotic" else \
                    fundamental(samples, rate, min(wanted, fastest))
                figure = f"{cents(heard, wanted):+.2f}"
                row.append(f"{figure} capped" if wanted > fastest else figure)
            label = f"{preset} ({kind}{', spike rate' if kind == 'chaotic' else ''})"
            print(f"| {label} | {rate} | " + " | ".join(row) + " |", flush=True)


def away_from_harmonics(samples, rate, frequency):
    """Energy more than 1.5 % of `frequency` from every harmonic of it, in dB of the whole."""
    x = (samples - samples.mean()) * np.blackman(len(samples))
    power = np.abs(np.fft.rfft(x)) ** 2
    bins = np.fft.rfftfreq(len(x), 1.0 / rate)
    nearest = np.round(bins / frequency) * frequency
    away = np.abs(bins - nearest) > 0.015 * frequency
    return 10.0 * math.log10(power[away].sum() / power.sum())


def cleanliness(arguments):
    """Key mode against the key's harmonics; Model mode, which does not play the key, against
    the harmonics of its spike rate."""
    print("| preset | mode | key 84 | key 96 | key 108 |")
    print("|---|---|---|---|---|")
    rate = 44100
    for preset in ["Regular Spikes", "Fast Spikes"]:
        for mode, name in [("key", "Key"), ("unfiltered", "Key, unfiltered"),
                           ("model", "Model (against its spike rate)")]:
            row = []
            for key in (84, 96, 108):
                samples = note(arguments.tool, preset, key, rate, mode)
                if np.abs(samples).max() < SILENT:
                    row.append("silent")
                    continue
                frequency = spike_rate(samples, rate) if mode == "model" else key_frequency(key)
                row.append(f"{away_from_harmonics(samples, rate, frequency):.1f} dB")
            print(f"| {preset} | {name} | " + " | ".join(row) + " |", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("what", choices=["accuracy", "cleanliness"])
    parser.add_argument("--tool", default="build/bench/quillfern-key-note")
    parser.add_argument("--keys", default="24,36,48,60,72,84,96")
    parser.add_argument("--rates", default="44100,48000,96000")
    arguments = parser.parse_args()
    accuracy(arguments) if arguments.what == "accuracy" else cleanliness(arguments)


if __name__ == "__main__":
    sys.exit(main())
