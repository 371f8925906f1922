#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""jalv plays the LV2 plugin on a JACK server: a JACK MIDI client sends A4 for a second, jack_rec
records the plugin's output, and the recorded note must have the renderer's pitch (its spikes
over half a second, within 2 %) and level (RMS within 2 %). Usually the recording is
the rendered note sample for sample; on a busy machine the server may repeat or drop a period.
jalv's console must also list every preset of the factory bank by its name. With eight voices,
the chord A4 C#5 E5 must have the rendered chord's level and spikes, within the same 2 %.

Key-to-sound, on the server's clock (the MIDI client's ear): with the default note start the
first non-zero sample comes exactly the latency jalv reports to JACK plus one frame after the
note-on (the attack starts from 0); with notes started at once (start=1) the latency is 0 and
the sound starts on the note-on's frame or the next.

Run under scripts/with-jack.sh (at its QUILLFERN_JACK_RATE, 44100 Hz unless set); with
key-to-sound last, only that is measured (jack_rec may repeat or drop periods as small as 64
frames on a busy machine):
  jalv_case.py LV2-FOLDER MIDI-SENDER QUILLFERN-RENDER WORK-FOLDER [key-to-sound]
Exits 77 (skipped) where jalv is not installed."""
import os
import re
import shutil
import struct
import subprocess
import sys
import time

SKIPPED = 77
SCORE_RATE = 44100  # score frames count at 44100 Hz at any rate
RATE = int(os.environ.get("QUILLFERN_JACK_RATE", SCORE_RATE))
NOTE_MS = 1000
RECORD_SECONDS = 3
COMPARED = RATE // 2  # samples compared from the start of the attack
ONSET = 1e-4  # first sample above this is the attack's start, in both sounds
TOLERANCE = 0.02  # a semitone is 6 %
KEY_TO_SOUND_ATTEMPTS = 3  # pairs of notes played before a late one counts


def samples_of(path):
    """Mono samples of a WAV file: 32-bit float or 16/24/32-bit integer PCM."""
    data = open(path, "rb").read()
    position = 12
    kind = bits = None
    while position + 8 <= len(data):
        chunk, size = data[position:position + 4], struct.unpack("<I", data[position + 4:position + 8])[0]
        body = data[position + 8:position + 8 + size]
        if chunk == b"fmt ":
            kind, _, _, _, _, bits = struct.unpack("<HHIIHH", body[:16])
        elif chunk == b"data":
            if kind == 3:
                return list(struct.unpack("<%df" % (len(body) // 4), body))
            width = bits // 8
            scale = float(1 << (bits - 1))
            return [int.from_bytes(body[i:i + width], "little", signed=True) / scale
                    for i in range(0, len(body) - width + 1, width)]
        position += 8 + size + (size & 1)
    raise ValueError(path + ": no data")


def onset(samples):
    return next(i for i, value in enumerate(samples) if abs(value) > ONSET)


def wait_for_port(name, seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        ports = subprocess.run(["jack_lsp"], capture_output=True, text=True).stdout.split()
        if name in ports:
            return True
        time.sleep(0.1)
    return False


def stop_all(processes):
    """Ends the processes a case started, the last started first."""
    for process in reversed(processes):
        if process.poll() is None:
            process.terminate()
            process.wait(timeout=10)


def rms(samples):
    return (sum(value * value for value in samples) / len(samples)) ** 0.5


def rising_crossings(samples):
    """The spikes: rising crossings of the middle of the sound's range (about 100 in half a
    second of A4, so that a semitone, 6 %, shows clearly)."""
    middle = (min(samples) + max(samples)) / 2
    return sum(1 for a, b in zip(samples, samples[1:]) if a < middle <= b)

# The renderer's options for the plugins' own defaults: stable steps, the DC filter and Key mode on.
PLUGIN_DEFAULTS = ["--param", "stable=on", "--param", "dc_filter=on", "--param", "pitch=key"]


def reported_latency(port, seconds=10):
    """The latency jalv tells JACK for the plugin: the larger end of the port's ranges; -1 if
    the server gave none in time (a loaded server may answer jack_lsp with nothing)."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        listing = subprocess.run(["jack_lsp", "-l", port], capture_output=True,
                                 text=True).stdout
        ends = [int(line.split("[")[1].split()[1]) for line in listing.splitlines()
                if "latency" in line and "[" in line]
        if ends:
            return max(ends)
        time.sleep(0.1)
    return -1


def frame_said(process, what):
    """The frame a sender or ear said after `what`, once it has ended by itself; -1 if none, or
    if it had not ended in time (a note a loaded server lost: the pair is played again)."""
    try:
        process.wait(timeout=NOTE_MS / 1000 + 20)  # its input stays open: it ends once done
    except subprocess.TimeoutExpired:
        return -1
    said = process.stdout.read().split(what + " ")
    return int(said[1].split()[0]) if len(said) > 1 else -1


CHORD = (69, 73, 76)
# The chord's volume (the default is 0.3): its peaks within jack_rec's full scale, past which
# it does not clip but wraps.
CHORD_VOLUME = 0.12


def key_steps(keys):
    """The sender's steps: the keys pressed together 300 ms in, released NOTE_MS later."""
    return (["%d:90%02x64" % (300 if i == 0 else 0, key) for i, key in enumerate(keys)] +
            ["%d:80%02x00" % (NOTE_MS if i == 0 else 0, key) for i, key in enumerate(keys)])


def play_note(lv2_folder, sender, start, recording=None, keys=(69,), volume=None):
    """jalv with note start `start` plays A4 (or `keys` together, on as many voices) from
    silence, at `volume` if given, recorded when asked: its key-to-sound on the server's clock, its reported latency
    and what its console said when asked for the presets; or None when a program did not come
    up."""
    environment = dict(os.environ, LV2_PATH=lv2_folder)
    started = []
    try:
        jalv = subprocess.Popen(["jalv", "-x", "-n", "quillfern-jalv", "-c", "start=%d" % start,
                                 "-c", "voices=%d" % len(keys)] +
                                (["-c", "volume=%g" % volume] if volume else []) +
                                ["urn:quillfern:synth"],
                                env=environment, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                text=True)
        ear = subprocess.Popen([sender, "quillfern-ear", "--ear"], stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, text=True)
        started += [jalv, ear]
        if not wait_for_port("quillfern-jalv:out") or not wait_for_port("quillfern-ear:in"):
            print("jalv or the ear did not show its ports")
            return None
        jalv.stdin.write("presets\n")
        jalv.stdin.flush()
        subprocess.run(["jack_connect", "quillfern-jalv:out", "quillfern-ear:in"], check=True)
        if recording:
            started.append(subprocess.Popen(["jack_rec", "-f", recording, "-d",
                                             str(RECORD_SECONDS), "-b", "32",
                                             "quillfern-jalv:out"], stdout=subprocess.DEVNULL))
        keyboard = subprocess.Popen([sender, "quillfern-keys", "--note-on-frame"] +
                                    key_steps(keys),
                                    stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        started.append(keyboard)
        if not wait_for_port("quillfern-keys:out"):
            print("the MIDI sender did not show its port")
            return None
        latency = reported_latency("quillfern-jalv:out")
        subprocess.run(["jack_connect", "quillfern-keys:out", "quillfern-jalv:midi_in"], check=True)
        heard, pressed = frame_said(ear, "sound at"), frame_said(keyboard, "note-on at")
        key_to_sound = heard - pressed if heard >= 0 and pressed >= 0 else -1
        if recording:
            started[2].wait(timeout=RECORD_SECONDS + 10)
    finally:
        stop_all(started)
    return key_to_sound, latency, jalv.stdout.read()


def bank_names(render):
    """The factory bank's names, as the renderer lists them for a name it does not know."""
    answer = subprocess.run([render, "-", "-o", os.devnull, "--preset", "?"],
                            capture_output=True, text=True).stderr
    return re.search(r"factory preset \((.*?)\)", answer).group(1).split(", ")


def main():
    lv2_folder, sender, render, work = (os.path.abspath(argument) for argument in sys.argv[1:5])
    if shutil.which("jalv") is None:
        print("SKIP: jalv is not installed (Debian: jalv)")
        return SKIPPED
    os.makedirs(work, exist_ok=True)
    recording = os.path.join(work, "jalv.wav")
    reference = os.path.join(work, "jalv-reference.wav")
    chord_recording = os.path.join(work, "jalv-chord.wav")
    chord_reference = os.path.join(work, "jalv-chord-reference.wav")
    for keys, volume, wav in (((69,), None, reference), (CHORD, CHORD_VOLUME, chord_reference)):
        score = os.path.join(work, "jalv-%d.score" % len(keys))
        with open(score, "w") as file:
            file.writelines("0 midi 90 %d 100\n" % key for key in keys)
            file.writelines("%d midi 80 %d 0\n" % (NOTE_MS * SCORE_RATE // 1000, key)
                            for key in keys)
            file.write("%d end\n" % (2 * SCORE_RATE))
        subprocess.run([render, score, "-o", wav, "--rate", str(RATE), "--param",
                        "voices=%d" % len(keys)] +
                       (["--param", "volume=%g" % volume] if volume else []) + PLUGIN_DEFAULTS,
                       check=True)

    compared = sys.argv[5:] != ["key-to-sound"]
    # A server cycle jalv misses on a loaded machine delays a note by whole periods, and a loaded
    # server may not tell a port's latency in time or may lose the note: that is the machine's,
    # not the plugin's, so such a pair of notes is played again, up to three times.
    for _ in range(KEY_TO_SOUND_ATTEMPTS):
        handover = play_note(lv2_folder, sender, 0, recording if compared else None)
        immediate = play_note(lv2_folder, sender, 1)
        if handover is None or immediate is None:
            return 1
        print("key-to-sound at %d Hz: handover %d frames (reported latency %d), immediate %d "
              "frames (reported latency %d)" % (RATE, *handover[:2], *immediate[:2]))
        on_time = handover[0] == handover[1] + 1 and immediate[0] in (0, 1)
        latencies_read = handover[1] >= 0 and immediate[1] >= 0
        if on_time or (latencies_read and (handover[1] == 0 or immediate[1] != 0)):
            break
    if handover[0] != handover[1] + 1 or handover[1] == 0 or immediate[1] != 0 or \
            immediate[0] not in (0, 1):
        print("the key-to-sound is not the reported latency plus one frame")
        return 1
    if not compared:
        return 0
    missing = [name for name in bank_names(render) if "(%s)" % name not in handover[2]]
    print("jalv lists the presets: %s" % ("all" if not missing else "not " + ", ".join(missing)))
    if missing:
        return 1

    if play_note(lv2_folder, sender, 0, chord_recording, CHORD, CHORD_VOLUME) is None:
        return 1
    return 0 if all([alike("note", recording, reference),
                     alike("chord", chord_recording, chord_reference)]) else 1


def alike(what, recording, reference):
    """The recorded sound has the rendered one's level and spikes, from its attack on."""
    played = samples_of(recording)
    expected = samples_of(reference)
    start, expected_start = onset(played), onset(expected)
    played = played[start:start + COMPARED]
    expected = expected[expected_start:expected_start + COMPARED]
    worst = max(abs(a - b) for a, b in zip(played, expected))
    level = rms(played) / rms(expected)
    pitch = rising_crossings(played) / rising_crossings(expected)
    print("%s: recorded RMS %.4f, rendered %.4f; %d spikes, rendered %d; "
          "largest sample difference %.2e" % (what, rms(played), rms(expected),
                                              rising_crossings(played),
                                              rising_crossings(expected), worst))
    if len(played) < COMPARED or abs(level - 1) > TOLERANCE or abs(pitch - 1) > TOLERANCE:
        print("the %s jalv played has not the rendered pitch and level" % what)
        return False
    return True


if __name__ == "__main__":
    sys.exit(main())
