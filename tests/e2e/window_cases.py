# SPDX-License-Identifier: GPL-3.0-or-later
"""The windows: the main window as laid out, the help window, the About box, the "PortAudio"
box without audio output, and the start without any display."""

import os
import re
import subprocess
import time

import harness as h
import screen_reader as sr
from session import KEYBOARD, Quillfern, Skipped, activate, main_window, wait_status


# The main window as laid out: (role, accessible name, x, y, width, height) in the client area
# below the menu bar. Sliders and labels are named by their toolkit names and texts.
LAYOUT = [
    ("combo box", f"{KEYBOARD}:out", 350, 60, 140, 20),
    ("slider", "Attack", 250, 40, 20, 120), ("slider", "Decay", 270, 40, 20, 120),
    ("slider", "Sustain", 290, 40, 20, 120), ("slider", "Release", 310, 40, 20, 120),
    ("slider", "r", 60, 40, 20, 120), ("slider", "I", 100, 40, 20, 120),
    ("slider", "b", 140, 40, 20, 120), ("slider", "a", 180, 40, 20, 120),
    ("slider", "Volume", 220, 40, 20, 120),
    ("label", "0.0100", 50, 160, 40, 20), ("label", "2.500", 130, 160, 30, 20),
    ("label", "3.000", 90, 160, 30, 20), ("label", "1.000", 175, 160, 50, 20),
    ("label", "r", 65, 27, 20, 20), ("label", "I", 105, 27, 20, 20),
    ("label", "b", 145, 27, 40, 20), ("label", "a", 185, 27, 20, 20),
    ("label", "Vol", 220, 27, 30, 20), ("label", "A", 255, 27, 10, 20),
    ("label", "D", 275, 27, 10, 20), ("label", "S", 295, 27, 10, 20),
    ("label", "R", 315, 27, 10, 20),
    ("check box", "s", 20, 90, 40, 20),
]
# Slider: (minimum, maximum, position at start).
SLIDERS = {"Attack": (1, 2000, 1), "Decay": (1, 5000, 1000), "Sustain": (0, 100, 50),
           "Release": (1, 5000, 1500), "r": (1, 100, 47), "I": (1, 1000, 500),
           "b": (1, 1000, 348), "a": (0, 100, 20), "Volume": (1, 100, 30)}
READOUTS = ["0.0100", "2.500", "3.000", "1.000"]


def inside(inner, outer):
    x, y, width, height = inner
    left, top, outer_width, outer_height = outer
    return (left <= x and top <= y and x + width <= left + outer_width
            and y + height <= top + outer_height)


def case_main_window():
    """The window at start: title, fixed size, menu, every control where the layout puts it
    with its range and start position, the status bar; a screenshot for people to look at."""
    run = Quillfern("main-window")
    main, x_main = main_window(run)
    wait_status(main, 0, "MIDI IN")
    h.check(sr.status_fields(main) == ["MIDI IN", "", ""],
            f"status bar at start: {sr.status_fields(main)}")
    h.check(h.client_size(x_main) == (510, 230), f"client area {h.client_size(x_main)}")
    h.check(h.size_hints(x_main) == ((510, 230), (510, 230)),
            f"the window must keep its size; size hints {h.size_hints(x_main)}")

    menu_bar = sr.descendants(main, "menu bar")[0]
    titles = [item.name for item in menu_bar]
    h.check(titles == ["?"], f"menu titles {titles}")
    items = [item.name for item in sr.descendants(menu_bar[0], "menu item")]
    h.check(items == ["About", "Help"], f"items of the ? menu: {items}")

    left, _, _, _ = sr.extents(main)
    _, bar_top, _, bar_height = sr.extents(menu_bar)
    for role, name, x, y, width, height in LAYOUT:
        box = sr.extents(sr.named(main, role, name))
        expected = (left + x, bar_top + bar_height + y, width, height)
        if role == "check box":  # the toolkit tells only the box and text, the part to click
            h.check(inside(box, expected), f"check box {name!r} at {box}, not in {expected}")
        else:
            h.check(box == expected, f"{role} {name!r} at {box}, expected {expected}")
    for name, (minimum, maximum, start) in SLIDERS.items():
        slider = sr.named(main, "slider", name).queryValue()
        found = (slider.minimumValue, slider.maximumValue, slider.currentValue)
        h.check(found == (minimum, maximum, start), f"slider {name}: {found}")
    check_box = sr.named(main, "check box", "s")
    h.check(not sr.checked(check_box), "s starts checked")
    devices = [item.name for item in sr.descendants(main, "list item")]
    h.check(devices == [f"{KEYBOARD}:out"], f"MIDI input list {devices}")

    print("screenshot:", h.screenshot(x_main, "main-window.png"))
    lines = {text: h.ink_lines(sr.extents(sr.named(main, "label", text))) for text in READOUTS}
    h.check(set(lines.values()) == {1}, f"lines of text drawn in each read-out: {lines}; each "
                                        "must show its number whole, on one line")


HELP_LINES = [
    "",
    "Quillfern allows you to hear (and play from a keyboard) the 'excitation behaviour' of a "
    "neuron (ie membrane potential),",
    "modelled by the Hindmarsh-Rose differential equations:",
    "",
    "dx/dt = y - a*(x^3) + b*(x^2) - z + i",
    "dy/dt = c - d*(x^2) - y",
    "dz/dt = r*(s*(x + 1.6) - z)",
    "",
    "where",
    "the membrane potential is x(t).",
    "the transport of ions through the 'fast ion' channels and its rate is measured by y(t): "
    "the spiking variable.",
    "the transport of ions through the 'slow ion' channels is determined by z(t): the "
    "bursting variable.",
    "i is the level of current which enters the neuron.",
    "the 's' checkbox simply toggles between two static s values.",
    "Adjust the volume with the Vol slider to a suitable level, otherwise clipping/distortion "
    "may occur.",
    "",
    "Varying the parameters changes the sound from variations of spiking to variations of "
    "bursting, and chaos in between.",
]


def case_help_window():
    """Help from the ? menu: the help window with its 17 lines. While it is open, the main
    window's close box, Escape and slider moves are dropped, not kept for later; its own close
    box returns to the main window, whose close box then ends the program."""
    run = Quillfern("help")
    main, x_main = main_window(run)
    sr.choose_menu_item(main, "?", "Help")
    help_window = sr.window(run.app, "Quillfern Help")
    x_help = h.x_window("Quillfern Help")
    h.check(h.client_size(x_help) == (620, 240), f"help window {h.client_size(x_help)}")
    lines = sr.text(sr.descendants(help_window, "text")[0]).split("\n")
    h.check(lines == HELP_LINES, f"help text lines: {lines}")

    h.close_box(x_main)
    h.press(x_main, "Escape")
    slider = sr.named(main, "slider", "I")
    sr.focus(slider)
    h.type_keys("Up")
    h.wait_for("ISlider moved", lambda: sr.value(slider) == 501)
    time.sleep(0.5)
    h.check(run.program.running(), "the main window's close request ended the program while "
                                   "the help window was open")
    h.check("3.000" in sr.label_texts(main),
            "a slider event reached the control panel while the help window was open")

    h.close_box(x_help)
    h.wait_for("the help window to close", lambda: not h.x_windows("Quillfern Help"))
    time.sleep(0.5)
    h.check(run.program.running(), "a close request made while the help window was open "
                                   "ended the program after it closed")
    h.check(sr.windows(run.app).keys() == {"Quillfern"}, f"windows {list(sr.windows(run.app))}")
    run.quit_with(lambda: h.close_box(x_main))


ABOUT_LINES = ["Quillfern v1.01", "The sound of an excited neuron - ",
               "based on Hindmarsh-Rose equations"]


def case_about_box():
    """About from the ? menu shows its three lines; OK returns to the main window, which
    works on (a slider step updates its read-out) and ends with Escape."""
    run = Quillfern("about")
    main, x_main = main_window(run)
    sr.choose_menu_item(main, "?", "About")
    about = sr.window(run.app, "About")
    h.x_window("About")
    texts = [label.name for label in sr.descendants(about, "label") if label.name]
    h.check(len(texts) == 1 and texts[0].split("\n") == ABOUT_LINES, f"About box text {texts}")
    h.type_keys("Return")
    h.wait_for("the About box to close", lambda: not h.x_windows("About"))

    slider = sr.named(main, "slider", "I")
    sr.focus(slider)
    h.type_keys("Up")
    h.wait_for("IReadout 3.004 after About", lambda: "3.004" in sr.label_texts(main))
    activate(x_main)
    run.quit_with(lambda: h.type_keys("Escape"))


def case_no_midi_input():
    """No MIDI input device: the list is empty, the status bar says "No MIDI IN", and the
    panel works all the same."""
    if os.path.exists("/dev/snd/seq"):
        raise Skipped("this machine has an ALSA sequencer, whose ports would be listed")
    run = Quillfern("no-midi", keyboard=False)
    main, x_main = main_window(run)
    wait_status(main, 0, "No MIDI IN")
    devices = sr.descendants(main, "list item")
    h.check(not devices, f"MIDI input list {[item.name for item in devices]}")
    sr.focus(sr.named(main, "slider", "a"))
    h.type_keys("Up")
    h.wait_for("AReadout 1.025", lambda: "1.025" in sr.label_texts(main))
    activate(x_main)
    run.quit_with(lambda: h.type_keys("Escape"))


# Without a JACK server and with libjack forbidden to start one, nothing answers for JACK.
NO_JACK = {"JACK_NO_START_SERVER": "1", "JACK_DEFAULT_SERVER": "quillfern-e2e-no-server"}


def title_bar(window):
    """(width in pixels of the window's title in openbox's title font, sans 8 points bold, at
    the display's resolution; height of its title bar)."""
    title = subprocess.run(["xdotool", "getwindowname", str(window)], capture_output=True,
                           text=True).stdout.strip()
    dpi = re.search(r"resolution:\s+(\d+)x", subprocess.run(
        ["xdpyinfo"], capture_output=True, text=True).stdout)[1]
    font = subprocess.run(["fc-match", "--format=%{file}", "sans:bold"], capture_output=True,
                          text=True).stdout
    width = subprocess.run(["convert", "-density", dpi, "-font", font, "-pointsize", "8",
                            f"label:{title}", "-format", "%w", "info:"],
                           capture_output=True, text=True, check=True).stdout
    extents = subprocess.run(["xprop", "-id", str(window), "_NET_FRAME_EXTENTS"],
                             capture_output=True, text=True).stdout
    return int(width), int(extents.split("=")[1].split(",")[2])


def case_no_audio_output():
    """No audio output at all: the "PortAudio" box with the library's text, no main window,
    exit code 0 after OK. The box is wide enough for its whole title beside the title bar's
    icon and three buttons, each about as wide as the bar is high."""
    if h.has_sound_card():
        raise Skipped("this machine has a sound card, which PortAudio would find")
    os.environ.update(NO_JACK)
    run = Quillfern("no-audio", audio="none")
    box = sr.window(run.app, "PortAudio")
    x_box = h.x_window("PortAudio")
    texts = [label.name for label in sr.descendants(box, "label") if label.name]
    h.check(texts == ["Invalid device"], f"PortAudio box text {texts}")
    title_width, bar_height = title_bar(x_box)
    box_width = h.client_size(x_box)[0]
    print(f"box {box_width} px wide, title {title_width} px, title bar {bar_height} px high")
    h.check(box_width >= title_width + 4 * bar_height,
            f"the box is {box_width} px wide, its title needs {title_width} px and the title "
            f"bar's icon and buttons {4 * bar_height} px")
    h.check(not h.x_windows("Quillfern"), "the main window opened without audio output")
    run.quit_with(lambda: h.type_keys("Return"))


def case_no_display():
    """No display at all: exit code 0, no crash, and one line on stderr that says so; when the
    audio output is missing too, the "PortAudio" box that cannot be shown goes to stderr."""
    for variable in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
        os.environ.pop(variable, None)
    os.environ.update(NO_JACK)
    variants = {"null": "display"}  # audio output: what stderr must say, in one line
    if not h.has_sound_card():
        variants["none"] = "PortAudio: Invalid device"
    for audio, said in variants.items():
        run = Quillfern(f"no-display-{audio}", audio=audio, accessible=False)
        status, _ = run.program.wait_exit(timeout=20)
        lines = run.program.stderr().splitlines()
        print(f"{audio} audio output, no display, stderr: {lines}")
        h.check(status == 0, f"exit code {status} without display ({audio} audio)")
        h.check(sum(said.lower() in line.lower() for line in lines) == 1,
                f"stderr must say {said!r} in one line")
        h.check(sum("display" in line.lower() for line in lines) <= 1,
                "stderr tells of the missing display more than once")
