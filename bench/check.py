#!/usr/bin/env python3
"""Times kelmem-check against kelmem itself and prints a table.

python3 check.py --build BUILD [--cases 1000] [--runs 3]

kelmem-check runs CASES generated cases (seed 1) against BUILD/kelmem, with
one job and with every core; the table gives the median wall time and cases
per second. The floor is what starting the program costs alone: bash starts
kelmem on one small script CASES times in a row, as kelmem-check starts it
once per case. The ratio of the one-job run to the floor is the checker's
own work per case (generating, writing the case folder, the in-process
reference, comparing, removing the folder) on top of starting the program.
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time


def timed(cmd, **kw):
    start = time.monotonic()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stdin=subprocess.DEVNULL, **kw)
    return time.monotonic() - start


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build")
    ap.add_argument("--cases", type=int, default=1000)
    ap.add_argument("--runs", type=int, default=3)
    a = ap.parse_args()
    kelmem = os.path.abspath(os.path.join(a.build, "kelmem"))
    check = os.path.abspath(os.path.join(a.build, "checker", "kelmem-check"))
    if not os.access(check, os.X_OK):
        sys.exit(f"no {check}: build first")
    jobs = os.cpu_count() or 1
    rows = []
    for j in sorted({1, jobs}):
        times = [timed([check, "-q", f"--cases={a.cases}", "--seed=1", f"-j{j}", "--", kelmem])
                 for _ in range(a.runs)]
        rows.append((f"kelmem-check -j{j}", statistics.median(times)))
    with tempfile.TemporaryDirectory() as tmp:
        with open(os.path.join(tmp, "s.txt"), "w") as f:
            f.write("P0 PrintProcessTable\nP1 STORE @5 #1\n")
        loop = f'for i in $(seq {a.cases}); do "{kelmem}" s.txt >/dev/null; done'
        times = [timed(["bash", "-c", loop], cwd=tmp) for _ in range(a.runs)]
        floor = statistics.median(times)
    print(f"kelmem-check against kelmem, {a.cases} generated cases, median of {a.runs} runs")
    print(f"{'run':<22} {'seconds':>8} {'cases/s':>8} {'x floor':>8}")
    for name, t in rows + [("floor: bash starts kelmem", floor)]:
        print(f"{name:<22} {t:8.2f} {a.cases / t:8.0f} {t / floor:8.2f}")


if __name__ == "__main__":
    main()
