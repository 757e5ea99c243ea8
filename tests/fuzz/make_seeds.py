#!/usr/bin/env python3
"""Regenerates the fuzz seed corpora under tests/fuzz/seeds/ from the transcripts.

  tests/fuzz/make_seeds.py [ORBAX]

evaluate_fuzz gets the input lines of each transcript in groups (so that names
defined early are used later), tokenize_fuzz single lines, fixrun_fuzz the
function definitions given to FX, readarray_fuzz serialised values written by
the console program ORBAX (default build/default/host/orbax) with IIO. Every
seed is in the system's 8-bit code page, as the targets read their bytes.
It also writes tests/fuzz/apl.dict, the token dictionary: every glyph, the
system names after the quad, and the punctuation of lines and blocks.
"""
import hashlib
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SEEDS = os.path.join(ROOT, "tests", "fuzz", "seeds")
GROUP = 6  # input lines per evaluate seed


def code_page():
    table = {}
    with open(os.path.join(ROOT, "share", "codepage.tsv"), encoding="utf-8") as f:
        next(f)
        for line in f:
            fields = line.rstrip("\n").split("\t")
            table[chr(int(fields[1][2:], 16))] = int(fields[0])
    return table


CODES = code_page()


def encode(text):
    return bytes(CODES[c] for c in text if c in CODES)


def write_seed(folder, data):
    os.makedirs(folder, exist_ok=True)
    name = hashlib.sha1(data).hexdigest()[:16]
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def input_lines(path):
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("      ") and line[6:].strip()[:1] not in (")", "]", ""):
                yield line[6:]


def fx_definitions(line):
    """The quoted lines of a ⎕FX 'a' 'b' ... call, quotes undoubled."""
    if "⎕FX '" not in line:
        return None
    text = line[line.index("⎕FX '") + 4:]
    return [m.replace("''", "'") for m in re.findall(r"'((?:[^']|'')*)'", text)]


SYSTEM_NAMES = ("IO CT PP PW RL DIV AV EM EL LX TC NLT SM FC WA MODE A D TS AI MD NTIE NUNTIE NSIZE NREMOVE "
                "NFLUSH NREAD NWRITE NAPPEND NEXIST SH IIO IIOL IIOS FX CR VR NC NL AT EX CONST VAR EA DR "
                "INTRN EXTRN HEAD AF ORBAX TF LIB SHORT BOOL REAL DISPLAY LC IC").split()
PUNCTUATION = ["⋄", "←", "→", "[", "]", "(", ")", "{", "}", ":", "⍺", "⍵", "∇", "⍝", "'", ";", "¯", "⎕", "⍞",
               "1E8", "0.5", "⍳", "⍴", "¨", "/", "\\", ".", "∘.", "⊂", "⊃", "⍕", "⍎", "⍬", "\n"]


def write_dictionary():
    entries = set()
    for char, code in CODES.items():
        if code >= 33 and char.isprintable() and not char.isalnum():
            entries.add(bytes([code]))
    for name in SYSTEM_NAMES:
        entries.add(encode("⎕" + name))
    for token in PUNCTUATION:
        entries.add(encode(token) if token != "\\n" else b"\n")
    with open(os.path.join(ROOT, "tests", "fuzz", "apl.dict"), "w", encoding="ascii") as f:
        f.write("# Tokens of APL lines in the 8-bit code page (written by make_seeds.py).\n")
        for entry in sorted(e for e in entries if e):
            f.write('"' + "".join(f"\\x{b:02X}" for b in entry) + '"\n')


def main():
    write_dictionary()
    transcripts = sorted(os.path.join(ROOT, "tests", "transcripts", t)
                         for t in os.listdir(os.path.join(ROOT, "tests", "transcripts")) if t.endswith(".tr"))
    for path in transcripts:
        lines = list(input_lines(path))
        for i in range(0, len(lines), GROUP):
            write_seed(os.path.join(SEEDS, "evaluate_fuzz"), encode("\n".join(lines[i:i + GROUP])))
        for line in lines:
            write_seed(os.path.join(SEEDS, "tokenize_fuzz"), encode(line))
            definition = fx_definitions(line)
            if definition:
                write_seed(os.path.join(SEEDS, "fixrun_fuzz"), encode("\n".join(definition)))

    orbax = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "default", "host", "orbax")
    values = ["0", "1.5", "'a'", "⍳5", "2 3⍴⍳6", "2 3⍴1.5 ¯2", "'abc'", "3 2⍴'abcdef'", "0⍴0", "0 3⍴''",
              "1 0 1 1 0", "2 40⍴1 0 0 1", "(1 2)(3 4 5)", "'ab' (⊂1 2) 3.5", "⊂⊂⍳3", "2 2⍴(1 2)'x' 3 (⊂'yz')",
              "0⍴⊂1 2", "⍬", "1E9 ¯1E9", "2 2 2⍴⍳8"]
    out = os.path.join(SEEDS, "readarray_fuzz")
    os.makedirs(out, exist_ok=True)
    with tempfile.TemporaryDirectory() as scratch:
        script = "".join(f"({v}) ⎕IIO '{scratch}/v{i}'\n" for i, v in enumerate(values))
        with open(os.path.join(scratch, "make.apl"), "w", encoding="utf-8") as f:
            f.write(script)
        subprocess.run([orbax, "-script", os.path.join(scratch, "make.apl")], check=True, cwd=scratch,
                       stdout=subprocess.DEVNULL)
        for i in range(len(values)):
            with open(os.path.join(scratch, f"v{i}"), "rb") as f:
                write_seed(out, f.read())


if __name__ == "__main__":
    main()
