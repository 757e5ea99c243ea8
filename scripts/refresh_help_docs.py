#!/usr/bin/env python3
"""Writes the answers of )HELP into the README and the pages of docs/ again.

The pages show )HELP in their ```apl examples; after share/help.txt or the
keyboard changes, this puts what the session now answers under each such
line, so that the pages are made from the help file rather than copied by
hand. The docs test then checks every example, these among them.

    scripts/refresh_help_docs.py [ORBAX [PAGE...]]   (README.md and docs/*.md)
"""
import pathlib
import subprocess
import sys

INPUT = " " * 6


def answer(orbax, command):
    run = subprocess.run([orbax], input=command + "\n", capture_output=True, text=True, check=True)
    return run.stdout.rstrip("\n").split("\n")


def refresh(page, orbax):
    lines = page.read_text(encoding="utf-8").split("\n")
    result, inside, i = [], False, 0
    while i < len(lines):
        line = lines[i]
        result.append(line)
        i += 1
        if line in ("```apl", "```"):
            inside = line == "```apl"
        elif inside and line.startswith(INPUT + ")HELP"):
            result += answer(orbax, line.strip())
            while i < len(lines) and not lines[i].startswith(INPUT) and lines[i] != "```":
                i += 1
    text = "\n".join(result)
    if text != page.read_text(encoding="utf-8"):
        page.write_text(text, encoding="utf-8")
        print("refreshed", page)


def main():
    orbax = sys.argv[1] if len(sys.argv) > 1 else "build/default/host/orbax"
    pages = [pathlib.Path(p) for p in sys.argv[2:]]
    for page in pages or [pathlib.Path("README.md")] + sorted(pathlib.Path("docs").glob("*.md")):
        refresh(page, orbax)


main()
