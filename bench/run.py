#!/usr/bin/env python3
"""Times kelmem against its I/O floor on generated scripts and prints a table.

python3 run.py --build BUILD [--sizes "100000 1000000"] [--runs 5]

For each size the script (see gen.py) and kelmem's output for it, the floor's
ready-made output, are made once under BUILD/bench-data/ and kept. Then kelmem and
the floor (and kelmem-view --format=json, when the build has it) run in turn,
RUNS times each, their standard output going to a file. The table gives the
median times, the median of the per-round ratios kelmem/floor (alternating
rounds, so that drifting machine load cancels), the same ratio of their CPU
times (user and system), which other programs on a busy machine disturb far
less, and the peak resident memory of each program as the kernel reports it
for the child (wait4, taken by the small launcher spawn.cpp).
"""

import argparse
import filecmp
import hashlib
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SPAWN = None  # the launcher, bench/kelmem-spawn in the build


def run(cmd, cwd, out_path):
    """Runs cmd in cwd, its output into out_path; returns (seconds, peak KiB, CPU seconds)."""
    # Removed here rather than truncated by the run, so that no run pays for
    # dropping the output of the one before.
    if os.path.exists(out_path):
        os.remove(out_path)
    res = subprocess.run([SPAWN, os.path.abspath(out_path), cwd] + cmd,
                         check=True, capture_output=True, text=True)
    seconds, peak, status, cpu = res.stdout.split()
    if int(status) != 0:
        sys.exit(f"{cmd[0]} exited with status {status}")
    return float(seconds), int(peak), float(cpu)


def prepare(build, kelmem, lines):
    """The folder holding the script of `lines` lines and its ready-made output."""
    with open(os.path.join(HERE, "gen.py"), "rb") as f:
        tag = hashlib.sha1(f.read()).hexdigest()[:8]
    folder = os.path.abspath(os.path.join(build, "bench-data", f"{lines}-{tag}"))
    ready = os.path.join(folder, "ready.out")
    if not os.path.exists(ready):
        print(f"generating {lines} lines in {folder} ...", file=sys.stderr, flush=True)
        subprocess.run([sys.executable, os.path.join(HERE, "gen.py"), str(lines), folder],
                       check=True)
        run([kelmem, "script.txt"], folder, ready + ".part")
        os.replace(ready + ".part", ready)
    return folder


def find_view(build):
    for rel in ("kelmem-view", os.path.join("viewer", "kelmem-view")):
        # Absolute: the launcher runs it from the script's folder.
        path = os.path.abspath(os.path.join(build, rel))
        if os.access(path, os.X_OK):
            return path
    return None


def mib(kib):
    return f"{kib / 1024:.1f}"


def measure(build, lines, runs, view):
    kelmem = os.path.abspath(os.path.join(build, "kelmem"))
    floor = os.path.abspath(os.path.join(build, "bench", "kelmem-floor"))
    folder = prepare(build, kelmem, lines)
    out = os.path.join(folder, "run.out")
    ready = os.path.join(folder, "ready.out")
    k_times, f_times, v_times, ratios, cpu_ratios, v_ratios = [], [], [], [], [], []
    k_peak = f_peak = v_peak = 0
    same = True
    for i in range(runs):
        kt, kp, kc = run([kelmem, "script.txt"], folder, out)
        if i == 0:
            same = filecmp.cmp(out, ready, shallow=False)
        ft, fp, fc = run([floor, "script.txt", ready], folder, out)
        k_times.append(kt)
        f_times.append(ft)
        ratios.append(kt / ft)
        cpu_ratios.append(kc / max(fc, 1e-6))
        k_peak = max(k_peak, kp)
        f_peak = max(f_peak, fp)
        if view:
            vt, vp, _ = run([view, "--format=json", "script.txt"], folder, out)
            v_times.append(vt)
            v_ratios.append(vt / kt)
            v_peak = max(v_peak, vp)
    # The last output goes too: kept, a trace of hundreds of MB would be
    # written back to the disk while the next size is timed.
    os.remove(out)
    row = {
        "lines": lines,
        "kelmem": statistics.median(k_times),
        "floor": statistics.median(f_times),
        "ratio": statistics.median(ratios),
        "cpu_ratio": statistics.median(cpu_ratios),
        "k_peak": k_peak,
        "f_peak": f_peak,
        "same": same,
        "out_mb": os.path.getsize(ready) / 1e6,
    }
    if view:
        row.update(view=statistics.median(v_times), v_ratio=statistics.median(v_ratios),
                   v_peak=v_peak)
    return row


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build")
    ap.add_argument("--sizes", default="100000 1000000 10000000")
    ap.add_argument("--runs", type=int, default=5)
    args = ap.parse_args()
    global SPAWN
    SPAWN = os.path.abspath(os.path.join(args.build, "bench", "kelmem-spawn"))
    view = find_view(args.build)
    sizes = [int(s) for s in args.sizes.split()]
    header = ["lines", "output MB", "kelmem s", "floor s", "kelmem/floor", "CPU kelmem/floor",
              "kelmem peak MiB", "floor peak MiB"]
    if view:
        header += ["view s", "view/kelmem", "view peak MiB"]
    print("| " + " | ".join(header) + " |")
    print("|" + "---|" * len(header), flush=True)
    differs = []
    for lines in sizes:
        r = measure(args.build, lines, args.runs, view)
        cells = [f"{lines:,}", f"{r['out_mb']:.0f}", f"{r['kelmem']:.3f}", f"{r['floor']:.3f}",
                 f"{r['ratio']:.2f}x", f"{r['cpu_ratio']:.2f}x", mib(r["k_peak"]), mib(r["f_peak"])]
        if view:
            cells += [f"{r['view']:.3f}", f"{r['v_ratio']:.2f}x", mib(r["v_peak"])]
        print("| " + " | ".join(cells) + " |", flush=True)
        if not r["same"]:
            differs.append(lines)
    print(f"\nmedians of {args.runs} alternating runs; output to a file in the build folder")
    if not view:
        print("kelmem-view: not in this build, not measured")
    for lines in differs:
        print(f"NOTE: kelmem's output for {lines} lines differs from the kept ready-made output")


if __name__ == "__main__":
    main()
