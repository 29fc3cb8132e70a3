#!/usr/bin/env python3
"""Writes a benchmark script of a given number of lines, and its load files.

python3 gen.py LINES FOLDER [SEED]

The script is shaped like a long autograder session: loads and terminations
of all ten slots (some refused: the slot is taken, the memory is, the file is
broken or missing), stores of integers and strings (some refused: the wrong
segment, no such process, a string too long), the three reports, comment
lines, trailing comments, blank lines, CRLF line ends and lines that break the
grammar. The same LINES and SEED always give the same bytes.
"""

import os
import random
import sys

WORDS = ["a", "ok", "abc", "hello", "kelmem", "segment", "process", "x1y2z3",
         "memory_cell", "twenty_characters_ab", "quote\"inside"]

# Load files: name -> text. Process k is loaded near cell 100*k, so the
# segments of one load fit below the next slot's.
LOAD_FILES = {
    "p1.txt": "8585\n2\n3 10\nRUN RUN HALT\n#1 #2 \"three 4 #5\n",
    "p2.txt": "8585 // magic\n3\n4 12 6\nRUN RUN RUN HALT\n" + " ".join(f"#{i}" for i in range(12)) + "\n",
    "p3.txt": "8585\n4\n2 8 5 5\nRUN HALT\n\"alpha \"beta #4294967295 7 8\n\"gamma\n",
    "p4.txt": "8585\n1\n6\nRUN RUN RUN RUN RUN HALT\n",
    "p5.txt": "8585\n2\n5 20\r\nRUN RUN RUN RUN HALT\r\n" + " ".join(f"\"s{i}" for i in range(20)) + "\r\n",
    "big.txt": "8585\n2\n10 60\n" + "RUN " * 9 + "HALT\n" + " ".join(str(i * 7) for i in range(60)) + "\n",
    "badmagic.txt": "8586\n1\n1\nRUN\n",
    "badcount.txt": "8585\n2\n3\nRUN RUN HALT\n",
    "badinstr.txt": "8585\n2\n2 2\nRUN JUMP\n#1 #2\n",
    "excess.txt": "8585\n2\n1 1\nHALT\n#1 #2\n",
}
GOOD = ["p1.txt", "p2.txt", "p3.txt", "p4.txt", "p5.txt", "p1.txt", "p2.txt"]
BAD = ["badmagic.txt", "badcount.txt", "badinstr.txt", "excess.txt", "missing.txt"]

BAD_LINES = [
    "P12 STORE @5 #1", "P1 Store @105 #1", "P1 STORE @1000 #1", "hello world",
    "P1 LoadFile @100", "P1 STORE @105 42", "P1 STORE @105 #4294967296",
    "P1 PrintProcessTable now", "PX TerminateProcess", "P1 STORE @105 \"" + "y" * 25,
    "#1 #2 #3 #4", "P0 Print All Memory",
]


def line(rng):
    k = rng.randrange(10)
    home = 100 * k
    r = rng.random()
    if r < 0.44:
        # Stores: most land in the data segment, some in the program or past it.
        addr = home + rng.choice([3, 4, 5, 6, 8, 10, 12, 0, 1, 25, 60])
        if rng.random() < 0.6:
            return f"P{k} STORE @{addr} #{rng.randrange(1 << 32)}"
        return f"P{k} STORE @{addr} \"{rng.choice(WORDS)}"
    if r < 0.48:
        name = rng.choice(GOOD) if rng.random() < 0.85 else rng.choice(BAD)
        if k == 9 and rng.random() < 0.5:
            name = "big.txt"
            home = 900 if rng.random() < 0.5 else 800
        return f"P{k} LoadFile @{home if rng.random() < 0.9 else rng.randrange(1000)} \"{name}"
    if r < 0.497:
        return f"P{k} TerminateProcess"
    if r < 0.55:
        return f"P{0 if rng.random() < 0.7 else k} PrintProcessTable"
    if r < 0.59:
        return f"P{k} PrintProcessMemory"
    if r < 0.595:
        return f"P{0 if rng.random() < 0.8 else k} PrintAllMemory"
    if r < 0.72:
        return "// " + " ".join(rng.choice(WORDS) for _ in range(rng.randrange(1, 8)))
    if r < 0.80:
        return ""
    if r < 0.85:
        return rng.choice(BAD_LINES)
    # A command with a trailing comment or odd white space.
    cmd = f"P{k} STORE @{home + rng.randrange(3, 13)} #{rng.randrange(1000)}"
    return rng.choice([cmd + "   // set a cell", "\t" + cmd.replace(" ", "\t"), cmd + "\r",
                       "  " + cmd + "  "])


def main():
    lines = int(sys.argv[1])
    folder = sys.argv[2]
    rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 20261208)
    os.makedirs(folder, exist_ok=True)
    for name, text in LOAD_FILES.items():
        with open(os.path.join(folder, name), "w", newline="") as f:
            f.write(text)
    with open(os.path.join(folder, "script.txt"), "w", newline="") as f:
        chunk = []
        for _ in range(lines):
            chunk.append(line(rng))
            if len(chunk) == 100000:
                f.write("\n".join(chunk) + "\n")
                chunk = []
        if chunk:
            f.write("\n".join(chunk) + "\n")


if __name__ == "__main__":
    main()
