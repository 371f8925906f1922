# SPDX-License-Identifier: GPL-3.0-or-later
"""The surroundings of an end-to-end run: the program and the test keyboard as processes, a
D-Bus session with the accessibility bus, the X tools that play the user's hands, and the
audio recording.

Every helper process started here is a descendant of this Python process, which makes itself
their subreaper, so finish() can end all of them, even the daemons that detach from their
parent, by their process ids. The program and the keyboard are ended first and gently: the
JACK server (jackd 1.9) dies of SIGPIPE when several of its clients vanish at once, and a
server that dies so keeps its slot in JACK's registry of servers, of which there are eight.
"""

import array
import ctypes
import glob
import os
import re
import select
import shutil
import signal
import subprocess
import tempfile
import time

PROGRAM = os.environ.get("QUILLFERN_PROGRAM", "build/app/quillfern")
RT_GUARD = os.environ.get("QUILLFERN_RT_GUARD",
                          "build/tests/e2e/libquillfern-test-rt-guard.so")
RENDER = os.environ.get("QUILLFERN_RENDER", "build/tools/quillfern-render")
MIDI_SENDER = os.environ.get("QUILLFERN_MIDI_SENDER",
                             "build/tests/midi/quillfern-test-midi-sender")
ARTIFACTS = os.environ.get("QUILLFERN_ARTIFACTS", "build/artifacts")

SAMPLE_RATE = 44100
PR_SET_CHILD_SUBREAPER = 36


class Failure(AssertionError):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_for(what, probe, timeout=10.0, interval=0.05):
    """Polls probe() until it returns something true; returns that or fails after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f"timed out after {timeout} s waiting for {what}")
        time.sleep(interval)


def become_subreaper():
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)


def descendant_pids(root=None):
    """Process ids below root (this process by default), children before grandchildren."""
    root = root or os.getpid()
    parents = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as stat:
                # The command name may hold blanks; the fields after its ')' do not.
                ppid = int(stat.read().rsplit(")", 1)[1].split()[1])
        except (OSError, IndexError, ValueError):
            continue
        parents.setdefault(ppid, []).append(int(entry))
    found, frontier = [], [root]
    while frontier:
        children = [pid for parent in frontier for pid in parents.get(parent, [])]
        found += children
        frontier = children
    return found


_endings = []
_work_dirs = []


def at_finish(ending):
    """Registers ending() to run in finish(), before the processes are stopped; the last
    registered runs first."""
    _endings.append(ending)


def finish(keep_files):
    """Ends everything the case started; keeps its files for a look when keep_files."""
    while _endings:
        try:
            _endings.pop()()
        except Exception as error:  # one failed ending must not keep the others from running
            print(f"while finishing: {error!r}")
    stop_descendants()
    for directory in _work_dirs:
        if keep_files:
            print(f"files of the run kept in {directory}")
        else:
            shutil.rmtree(directory, ignore_errors=True)


def stop_descendants():
    """Terminates every process below this one, then kills what is left after a second."""
    for sig, grace in ((signal.SIGTERM, 1.0), (signal.SIGKILL, 1.0)):
        pids = descendant_pids()
        if not pids:
            return
        for pid in pids:
            try:
                os.kill(pid, sig)
            except ProcessLookupError:
                pass
        deadline = time.monotonic() + grace
        while time.monotonic() < deadline:
            reap_children()
            if not descendant_pids():
                return
            time.sleep(0.02)


def reap_children():
    try:
        while os.waitpid(-1, os.WNOHANG)[0] != 0:
            pass
    except ChildProcessError:
        pass


def work_dir(name):
    """A new folder for a run's files, removed by finish() unless the case failed."""
    _work_dirs.append(tempfile.mkdtemp(prefix=f"quillfern-e2e-{name}."))
    return _work_dirs[-1]


def has_sound_card():
    return bool(glob.glob("/dev/snd/pcmC*p"))


def start_session_bus():
    """A private D-Bus session bus and the accessibility bus on it, so that the program's
    widgets can be read through AT-SPI. Sets the environment for the program and for us."""
    daemon = subprocess.Popen(
        ["dbus-daemon", "--session", "--nofork", "--print-address=1"],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    os.environ["DBUS_SESSION_BUS_ADDRESS"] = daemon.stdout.readline().strip()
    subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.environ["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"


def write_alsa_config(directory, recording=None, device="jack"):
    """An ALSA configuration of the test's own, passed to the program as ALSA_CONFIG_PATH.

    device "jack": the default output records the exact float samples into `recording` and
    plays them to the JACK server's system:playback_1, which paces them in real time.
    device "null": a default output that takes everything and plays nothing.
    device "none": no output device: the default is on a sound card that does not exist.
    (PortAudio 19.6 fails an assertion when the configuration names no device at all.)
    """
    path = os.path.join(directory, "asound.conf")
    lines = {
        "jack": [f'pcm.!default {{ type file slave.pcm "tojack" file "{recording}" '
                 'format "raw" }',
                 "pcm.tojack { type jack playback_ports { 0 system:playback_1 } }"],
        "null": ["pcm.!default { type null }"],
        "none": ["pcm.!default { type hw card 99 }"],
    }[device]
    with open(path, "w") as config:
        config.write("\n".join(lines) + "\n")
    return path


class MidiSender:
    """The test keyboard: a JACK MIDI client that plays its script once the program has
    connected to it. Started before the program, so that it is MIDI input device 0."""

    def __init__(self, client, *steps):
        self.client = client
        self.process = subprocess.Popen([MIDI_SENDER, client, "--stay", *steps],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        text=True)
        at_finish(self.stop)
        line = self.process.stdout.readline().strip()
        check(line == "ready", f"the MIDI sender did not start (said {line!r})")

    def wait_played(self, timeout):
        """Waits until the whole script has been sent."""
        ready, _, _ = select.select([self.process.stdout], [], [], timeout)
        line = self.process.stdout.readline().strip() if ready else "nothing"
        check(line == "sent", f"the MIDI sender did not finish its script (said {line!r})")

    def stop(self):
        """Closes its standard input, on which it leaves the JACK server in order."""
        if self.process.poll() is None:
            self.process.stdin.close()
            self.process.wait(timeout=5)


class Program:
    """Quillfern, started without arguments as a user would, with the environment given."""

    def __init__(self, directory, env=None, program=PROGRAM):
        self.stderr_path = os.path.join(directory, "stderr.txt")
        environment = dict(os.environ)
        environment.update(env or {})
        with open(self.stderr_path, "w") as stderr:
            self.process = subprocess.Popen([program], env=environment,
                                            stdout=subprocess.DEVNULL, stderr=stderr)
        self.pid = self.process.pid
        at_finish(self.end)

    def end(self):
        """Ends a program still running the way a user would, closing its windows (the help
        window or a message box first, then the main window), and kills it only if that
        fails."""
        deadline = time.monotonic() + 5
        while self.running() and time.monotonic() < deadline:
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid",
                                    str(self.pid), "--name", "."],
                                   capture_output=True, text=True).stdout.split()
            for window in found:
                subprocess.run(["wmctrl", "-i", "-c", window], capture_output=True)
            time.sleep(0.3)
        if self.running():
            self.process.kill()
        self.process.wait()

    def running(self):
        return self.process.poll() is None

    def wait_exit(self, timeout):
        """Waits for the end; returns (exit status, seconds taken) or fails."""
        start = time.monotonic()
        try:
            status = self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"the program did not end within {timeout} s")
        return status, time.monotonic() - start

    def stderr(self):
        with open(self.stderr_path, errors="replace") as text:
            return text.read()


def thread_ticks(pid):
    """{thread id: (name, utime + stime in clock ticks, scheduling policy)} of every thread
    of process pid; policy 0 is the ordinary one, 1 and 2 are real-time (FIFO, RR)."""
    ticks = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/stat") as stat:
                name, fields = stat.read().split(" (", 1)[1].rsplit(") ", 1)
        except OSError:  # the thread ended meanwhile
            continue
        fields = fields.split()
        # Fields counted from the state, the third of the file: utime, stime, policy.
        ticks[int(tid)] = (name, int(fields[11]) + int(fields[12]), int(fields[38]))
    return ticks


# The user's hands and eyes on the X display.

def x_windows(title):
    """Ids of the mapped X windows whose title is exactly `title`."""
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{title}$"],
                           capture_output=True, text=True).stdout.split()
    return [int(window) for window in found]


def x_window(title, timeout=10.0):
    return wait_for(f"the window {title!r}", lambda: x_windows(title), timeout)[0]


def client_size(window):
    info = subprocess.run(["xwininfo", "-id", str(window)], capture_output=True,
                          text=True).stdout
    fields = dict(line.strip().split(":", 1) for line in info.splitlines() if ":" in line)
    return int(fields["Width"]), int(fields["Height"])


def press(window, *keys):
    """Activates the window, as a click on it would, and types the keys."""
    subprocess.run(["xdotool", "windowactivate", "--sync", str(window)], check=True)
    if keys:
        type_keys(*keys)


def type_keys(*keys):
    subprocess.run(["xdotool", "key", "--clearmodifiers", *keys], check=True)


def click_at(x, y):
    subprocess.run(["xdotool", "mousemove", "--sync", str(x), str(y), "click", "1"],
                   check=True)


def close_box(window):
    """Asks the window manager to close the window, as its close box does."""
    subprocess.run(["wmctrl", "-i", "-c", hex(window)], check=True)


def size_hints(window):
    """((min width, min height), (max width, max height)) that the window asks the window
    manager to keep, or None where it sets none."""
    hints = subprocess.run(["xprop", "-id", str(window), "WM_NORMAL_HINTS"],
                           capture_output=True, text=True).stdout

    def size(kind):
        match = re.search(rf"program specified {kind} size: (\d+) by (\d+)", hints)
        return (int(match[1]), int(match[2])) if match else None
    return size("minimum"), size("maximum")


def ink_lines(box):
    """How many lines of text are drawn in the screen rectangle box (x, y, width, height):
    runs of pixel rows with dark pixels, separated by rows without."""
    x, y, width, height = box
    pgm = subprocess.run(["import", "-window", "root", "-crop", f"{width}x{height}+{x}+{y}",
                          "-colorspace", "Gray", "-depth", "8", "pgm:-"],
                         capture_output=True, check=True).stdout
    # A binary PGM: "P5", width, height, maximum, one whitespace byte, then the pixels.
    pixels = pgm[re.match(rb"P5\s+\d+\s+\d+\s+\d+\s", pgm).end():]
    rows = [pixels[row * width:(row + 1) * width] for row in range(height)]
    inked = [min(row) < 128 for row in rows]
    return sum(1 for row, ink in enumerate(inked) if ink and (row == 0 or not inked[row - 1]))


def screenshot(window, name):
    os.makedirs(ARTIFACTS, exist_ok=True)
    path = os.path.join(ARTIFACTS, name)
    subprocess.run(["import", "-frame", "-window", str(window), path], check=True)
    return path


# The sound.

def read_floats(path):
    samples = array.array("f")
    with open(path, "rb") as raw:
        samples.frombytes(raw.read())
    return samples


def render(directory, score_lines, name="render"):
    """The offline renderer's output for a score, as float samples."""
    score = os.path.join(directory, f"{name}.score")
    with open(score, "w") as text:
        text.write("\n".join(score_lines) + "\n")
    wav = os.path.join(directory, f"{name}.wav")
    subprocess.run([RENDER, score, "-o", wav], check=True)
    with open(wav, "rb") as data:
        content = data.read()
    at = content.find(b"data")
    size = int.from_bytes(content[at + 4:at + 8], "little")
    samples = array.array("f")
    samples.frombytes(content[at + 8:at + 8 + size])
    return samples


def first_sound(samples):
    return next((index for index, value in enumerate(samples) if value != 0.0), None)


def first_difference(a, b, length):
    """The first index below length where a and b differ bit for bit, or length."""
    a = array.array("I", a[:length].tobytes())
    b = array.array("I", b[:length].tobytes())
    return next((index for index in range(min(len(a), len(b))) if a[index] != b[index]),
                min(len(a), len(b), length))
