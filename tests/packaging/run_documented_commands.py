#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Runs, as a reader would type them, the commands that documents show, each block in a scratch
folder, and fails if one does not run as shown.

usage: run_documented_commands.py DOCUMENT... [--link NAME=PATH]... [--replace OLD=NEW]...
                                  [--path FOLDER]

A DOCUMENT is Markdown, or a folder of it, or an scdoc manual page (whose "\\\\" is one
backslash). In Markdown every ``` block says what it is: ```sh holds commands, any other
language (```text, a score) none, and a block that says nothing fails. A score shown whole
(its first line "# NAME.score") must be the linked scores/NAME.score. A ```sh block runs as one
script and must exit 0, unless the comment on the line before it says otherwise:
<!-- not run: REASON --> skips it and says why (a window, sudo, a DAW), and <!-- diagnostic -->
runs it but takes any exit status a program gives (a check of a sound server that this machine
lacks), as long as every program is there. A command written inline (`make examples`) must be
one of the blocks' too. In a manual page, the lines of ``` blocks that run quillfern-render are
the commands. --link puts PATH into the scratch folder as NAME (the clone's build/ and scores/
for the README), --replace rewrites the commands (an installed path into a scratch root),
--path puts FOLDER first on PATH (where quillfern-render is).
"""
import argparse
import os
import pathlib
import re
import subprocess
import sys
import tempfile

RENDERER = "quillfern-render"
MARKER = re.compile(r"<!--\s*(not run:\s*(?P<reason>\S.*?)|diagnostic)\s*-->")
NEVER_GOOD = (124, 126, 127)  # timed out, not runnable, not found
SHELLS = ("bash", "shell", "console", "zsh", "shell-session")


def code_blocks(text):
    """(language, the comment line before the fence, lines) of each ``` block."""
    block, before, previous = None, "", ""
    for line in text.splitlines():
        if line.lstrip().startswith("```"):
            if block is None:
                block, language, before = [], line.strip()[3:].strip(), previous
            else:
                yield language, before, block
                block = None
        elif block is not None:
            block.append(line)
        elif line.strip():
            previous = line.strip()


def without_comment(line):
    """The line up to a '#' that starts a shell comment (outside quotes, after a blank)."""
    quote = None
    for index, char in enumerate(line):
        if quote:
            quote = None if char == quote else quote
        elif char in "'\"":
            quote = char
        elif char == "#" and (index == 0 or line[index - 1].isspace()):
            return line[:index].rstrip()
    return line.rstrip()


def commands(block):
    command = ""
    for line in block:
        line = without_comment(line)
        command = command + "\n" + line if command else line
        if command.endswith("\\") or command.endswith("|"):
            continue
        if command.strip():
            yield command.strip()
        command = ""


def markdown_blocks(path, shown):
    """(mode, script) of each ```sh block, whose text and programs go into shown."""
    found = []
    for language, before, block in code_blocks(path.read_text(encoding="utf-8")):
        if not language or language in SHELLS:
            sys.exit(f"{path}: a ```{language} block: say ```sh (commands) or ```text:\n"
                     + "\n".join(block[:3]))
        if language != "sh":
            if block and re.match(r"# \S+\.score\b", block[0]):
                shown["scores"][block[0].split()[1].rstrip(":")] = block
            continue
        marker = MARKER.fullmatch(before)
        mode = "run" if not marker else "skip" if marker["reason"] else "diagnostic"
        lines = list(commands(block))
        found.append((mode, marker["reason"] if mode == "skip" else "\n".join(lines)))
        shown["text"].append(" ".join(" ".join(block).split()))  # comments too: `jackd -d dummy`
        shown["programs"].update(next((w for w in line.split() if not re.match(r"\w+=", w)), "")
                                 for line in lines)
    return found


def unshown_inline_commands(paths, shown):
    """Inline code that starts with a program the blocks run, but is in none of them."""
    for path in paths:
        prose = re.sub(r"```.*?```", "", path.read_text(encoding="utf-8"), flags=re.S)
        for span in re.findall(r"`([^`\n]+)`", prose):
            words = span.split()
            if len(words) > 1 and words[0] in shown["programs"] and \
                    not any(" ".join(words) in text for text in shown["text"]):
                yield f"{path}: the command `{span}` is shown inline but in no ```sh block"


def scdoc_blocks(path):
    text = path.read_text(encoding="utf-8").replace("\\\\", "\\")
    found = [("run", command) for _, _, block in code_blocks(text) for command in commands(block)
             if RENDERER in command]
    if not found:
        sys.exit(f"{path}: no {RENDERER} command in a code block")
    return found


def documents(paths):
    for path in paths:
        yield from sorted(path.glob("*.md")) if path.is_dir() else [path]


def run(script, mode, args, environment):
    for pair in args.replace:
        old, new = pair.split("=", 1)
        script = script.replace(old, new)
    with tempfile.TemporaryDirectory() as scratch:
        for pair in args.link:
            name, target = pair.split("=", 1)
            os.symlink(os.path.abspath(target), os.path.join(scratch, name))
        # A diagnostic's every line runs: the one before may fail, as it does here.
        errexit = ["-e"] if mode == "run" else []
        try:
            result = subprocess.run(["bash", *errexit, "-o", "pipefail", "-c", script], cwd=scratch,
                                    env=environment, stdin=subprocess.DEVNULL,
                                    capture_output=True, text=True, timeout=120, check=False)
        except subprocess.TimeoutExpired:
            result = subprocess.CompletedProcess(script, 124, "", "timed out after 120 s\n")
    missing = result.returncode in NEVER_GOOD or "command not found" in result.stderr
    good = result.returncode == 0 or (mode == "diagnostic" and not missing)
    status = "ok" if good else f"FAILED (exit {result.returncode})"
    print(f"{status}{' (diagnostic)' if mode == 'diagnostic' else ''}: {script}")
    if not good:
        print(result.stderr, end="")
    return good


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("document", type=pathlib.Path, nargs="+")
    parser.add_argument("--link", action="append", default=[])
    parser.add_argument("--replace", action="append", default=[])
    parser.add_argument("--path")
    args = parser.parse_args()

    environment = dict(os.environ, JACK_NO_START_SERVER="1")  # a check starts no server
    if args.path:
        environment["PATH"] = os.path.abspath(args.path) + os.pathsep + environment["PATH"]
    paths = list(documents(args.document))
    shown = {"text": [], "programs": set(), "scores": {}}
    blocks = {path: scdoc_blocks(path) if path.suffix == ".scd" else markdown_blocks(path, shown)
              for path in paths}
    unshown = list(unshown_inline_commands([p for p in paths if p.suffix != ".scd"], shown))
    scores = dict(pair.split("=", 1) for pair in args.link).get("scores", "")
    unshown += [f"{name} as shown differs from {scores}/{name}"
                for name, lines in shown["scores"].items()
                if os.path.isfile(f"{scores}/{name}") and
                pathlib.Path(f"{scores}/{name}").read_text().splitlines() != lines]
    if unshown:
        sys.exit("\n".join(unshown))
    ran = failed = 0
    for document in paths:
        print(f"== {document}")
        for mode, script in blocks[document]:
            if mode == "skip":
                print(f"not run ({script})")
                continue
            ran += 1
            failed += not run(script, mode, args, environment)
    print(f"{ran - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
