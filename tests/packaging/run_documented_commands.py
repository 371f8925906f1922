#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Runs, as a reader would type them, the renderer commands that a document shows in its code
blocks, each in a scratch folder, and fails on the first that does not exit 0.

usage: run_documented_commands.py DOCUMENT [--link NAME=PATH]... [--replace OLD=NEW]...
                                  [--path FOLDER]

DOCUMENT is Markdown or an scdoc manual page (whose "\\\\" is one backslash). A command is a
line of a ``` block, with its continuation lines, that runs quillfern-render, after a trailing
comment is cut. --link puts PATH into the scratch folder as NAME (the clone's build/ and scores/
for the README), --replace rewrites the commands (an installed path into a scratch root), --path
puts FOLDER first on PATH (where quillfern-render is).
"""
import argparse
import os
import pathlib
import subprocess
import sys
import tempfile

RENDERER = "quillfern-render"


def code_blocks(text):
    block = None
    for line in text.splitlines():
        if line.lstrip().startswith("```"):
            if block is None:
                block = []
            else:
                yield block
                block = None
        elif block is not None:
            block.append(line)


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
        if command:
            command += "\n" + line
        else:
            command = line
        if command.endswith("\\") or command.endswith("|"):
            continue
        if RENDERER in command:
            yield command.strip()
        command = ""


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("document", type=pathlib.Path)
    parser.add_argument("--link", action="append", default=[])
    parser.add_argument("--replace", action="append", default=[])
    parser.add_argument("--path")
    args = parser.parse_args()

    text = args.document.read_text(encoding="utf-8")
    if args.document.suffix == ".scd":
        text = text.replace("\\\\", "\\")
    found = [command for block in code_blocks(text) for command in commands(block)]
    if not found:
        sys.exit(f"{args.document}: no {RENDERER} command in a code block")

    environment = dict(os.environ)
    if args.path:
        environment["PATH"] = os.path.abspath(args.path) + os.pathsep + environment["PATH"]
    failed = 0
    for command in found:
        for pair in args.replace:
            old, new = pair.split("=", 1)
            command = command.replace(old, new)
        with tempfile.TemporaryDirectory() as scratch:
            for pair in args.link:
                name, target = pair.split("=", 1)
                os.symlink(os.path.abspath(target), os.path.join(scratch, name))
            result = subprocess.run(["bash", "-e", "-o", "pipefail", "-c", command], cwd=scratch,
                                    env=environment, stdin=subprocess.DEVNULL,
                                    capture_output=True, text=True, timeout=120, check=False)
        status = "ok" if result.returncode == 0 else f"FAILED (exit {result.returncode})"
        print(f"{status}: {command}")
        if result.returncode != 0:
            print(result.stderr, end="")
            failed += 1
    print(f"{len(found) - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
