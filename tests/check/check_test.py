#!/usr/bin/env python3
"""kelmem-check's tests, one mode per CTest test.

    check_test.py agree   --check PATH --kelmem PATH --work DIR
        kelmem itself as the program under test: no difference over generated
        cases; the same cases, written as a suite and run by kelmem, reach
        every error message, every command, every banner and report, and
        kelmem's output is the expected.out the in-process reference wrote.
    check_test.py wrong   ...
        Wrong programs made here (kelmem with one thing changed under one
        condition): each found as the right kind of difference and shrunk to
        a few lines; the kept folder reruns it; the reports parse and count.
    check_test.py hostile ...
        Hanging, flooding and crashing programs are reported within their
        time, leave no process and no folder behind, also after Ctrl+C; a
        missing or non-executable COMMAND is a set-up error before any case.
"""
import argparse
import json
import os
import re
import shutil
import signal
import stat
import subprocess
import sys
import time
import xml.etree.ElementTree as ET

ERRORS = ["Invalid syntax in processor input", "Process already loaded", "Cannot open load file",
          "Load file has invalid format", "Excess values in load file",
          "Invalid instruction in load file", "Invalid data value in load file",
          "Insufficient main memory to load file", "Address is outside of valid segments",
          "Specified process does not exist", "Insufficient privilege for PrintAllMemory",
          "END command reached, parser stopped", "Unknown error."]
COMMANDS = ["LoadFile", "STORE", "PrintProcessTable", "PrintProcessMemory", "PrintAllMemory",
            "TerminateProcess", "END"]
REPORTS = {"banner Parsing": rb"^-{15}Parsing .*-{24}$", "banner Parsed": rb"^-{15}Parsed .*-{25}$",
           "banner Couldn't parse": rb"^-{15}Couldn't parse .*-{17}$",
           "process table": rb"^\| Process Table:$", "process table row": rb"^\|   P\d    \d",
           "memory report": rb"^\| Memory Contents:$", "memory cell": rb"^\|  [ \d]{2}\d ",
           "usage line": rb"^Use commandline parameter 'kelmem parse.txt \[parse2.txt\] \.\.\.'$"}

# Each wrong program: a filter on kelmem's output, the kind of difference
# it must be found as, and the most lines its shrunk case may keep.
WRONG = {
    "excess-as-data": ("sed 's/Excess values in load file/Invalid data value in load file/'",
                       'error line "Excess values in load file"', 6),
    "unsigned-print": ("sed 's/^\\(|  *[0-9]*\\) -1$/\\1 4294967295/'", "memory report cell", 8),
    "short-banner": ("sed 's/^\\(---------------Parsed .*\\)-$/\\1/'", 'banner "Parsed"', 2),
    "no-blank-error": ("sed '/^\\*\\*\\*\\*\\*\\*\\* ERROR: Unknown error\\.$/d'",
                       'error line "Unknown error."', 1),
}

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print(f"FAIL: {what}")
    return ok


def run(cmd, env=None, timeout=600):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env,
                          stdin=subprocess.DEVNULL, timeout=timeout)


def program(work, name, body):
    """A small bash program in work/, made executable; its path."""
    path = os.path.join(work, name)
    with open(path, "w") as f:
        f.write("#!/bin/bash\n" + body + "\n")
    os.chmod(path, 0o755)
    return path


def running(marker):
    """Command lines of live processes that hold marker (as pgrep -f finds)."""
    found = []
    for pid in os.listdir("/proc"):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                words = f.read().split(b"\0")
        except OSError:
            continue
        if pid.isdigit() and int(pid) != os.getpid() and marker.encode() in words:
            found.append(b" ".join(words))
    return found


def private_tmp(work):
    tmp = os.path.join(work, "tmp")
    os.makedirs(tmp, exist_ok=True)
    return tmp, dict(os.environ, TMPDIR=tmp)


def agree(a):
    cases, seed = 300, 20
    res = run([a.check, f"--cases={cases}", f"--seed={seed}", "--", a.kelmem])
    out = res.stdout.decode()
    check(res.returncode == 0, f"kelmem against itself exits {res.returncode}:\n{out}")
    check(f"{cases} cases: {cases} agree, 0 differ (seed {seed})" in out, "no difference reported as such")

    suite = os.path.join(a.work, "suite")
    shutil.rmtree(suite, ignore_errors=True)
    res = run([a.check, "-q", f"--cases={cases}", f"--seed={seed}", f"--write-suite={suite}"])
    check(res.returncode == 0, "--write-suite fails")
    # The same seed gives the same cases.
    again = os.path.join(a.work, "suite-again")
    shutil.rmtree(again, ignore_errors=True)
    run([a.check, "-q", f"--cases={cases}", f"--seed={seed}", f"--write-suite={again}"])
    same = subprocess.run(["diff", "-r", suite, again], stdout=subprocess.DEVNULL).returncode == 0
    check(same, "the same seed wrote different cases")

    count = {}
    for name in sorted(os.listdir(suite)):
        folder = os.path.join(suite, name)
        with open(os.path.join(folder, "cmdline")) as f:
            args = [w for w in f.read().split("\n") if w]
        got = subprocess.run([a.kelmem] + args, cwd=folder, stdout=subprocess.PIPE,
                             stdin=subprocess.DEVNULL).stdout
        with open(os.path.join(folder, "expected.out"), "rb") as f:
            check(got == f.read(), f"{name}: kelmem's output is not the reference's expected.out")
        for line in got.split(b"\n"):
            m = re.match(rb"^\*{7} ERROR: (.*)$", line)
            if m:
                count[m.group(1).decode()] = count.get(m.group(1).decode(), 0) + 1
            m = re.match(rb"^ *\d+ \S+ (\S+)", line)
            if m and m.group(1).decode("latin-1") in COMMANDS:
                count[m.group(1).decode()] = count.get(m.group(1).decode(), 0) + 1
            for report, pattern in REPORTS.items():
                if re.match(pattern, line):
                    count[report] = count.get(report, 0) + 1
    print("reached in kelmem's output:", json.dumps(count, indent=1, sort_keys=True))
    for what in ERRORS + COMMANDS + list(REPORTS):
        check(count.get(what, 0) > 0, f"the generator never reaches {what!r}")


def wrong(a):
    for name, (sed, kind, most) in WRONG.items():
        path = program(a.work, name, f'set -o pipefail\n"{a.kelmem}" "$@" | {sed}')
        keep = os.path.join(a.work, "keep-" + name)
        shutil.rmtree(keep, ignore_errors=True)
        xml, js = os.path.join(a.work, name + ".xml"), os.path.join(a.work, name + ".json")
        res = run([a.check, "-q", "--cases=150", "--seed=7", f"--keep={keep}", "--report=" + xml, "--", path])
        run([a.check, "-q", "--cases=150", "--seed=7", "--report=" + js, "--", path])
        out = res.stdout.decode()
        print(f"---- {name}\n{out}")
        check(res.returncode == 1, f"{name}: exit status {res.returncode}, not 1")
        shown = re.findall(r"^Difference \d+: (.*), in (case-\d+)", out, re.M)
        check([k for k, _ in shown] == [kind], f"{name}: found as {shown}, not only as {kind}")
        sizes = [int(n) for n in re.findall(r"shrunk from \d+ lines to (\d+)", out)]
        check(len(sizes) == 1 and sizes[0] <= most, f"{name}: shrunk to {sizes} lines, not at most {most}")
        m = re.search(r"^150 cases: (\d+) agrees?, (\d+) differs? in 1 way \(seed 7\)$", out, re.M)
        if not check(m, f"{name}: no summary"):
            continue
        agree_n, differ_n = int(m.group(1)), int(m.group(2))

        # The kept folder reruns the difference.
        if shown:
            folder = os.path.join(keep, shown[0][1])
            rerun = subprocess.run([os.path.join(folder, "run.sh")], stdout=subprocess.PIPE).stdout
            with open(os.path.join(folder, "actual.out"), "rb") as f:
                check(rerun == f.read(), f"{name}: run.sh does not print actual.out")
            with open(os.path.join(folder, "expected.out"), "rb") as f:
                check(rerun != f.read(), f"{name}: the kept case shows no difference")

        # The reports parse and carry the counts of the summary.
        suite = ET.parse(xml).getroot().find("testsuite")
        cases = suite.findall("testcase")
        check(len(cases) == 150 and suite.get("tests") == "150", f"{name}: the XML report lacks cases")
        check(int(suite.get("failures")) == differ_n == len([c for c in cases if c.find("failure") is not None]),
              f"{name}: the XML report counts {suite.get('failures')} failures, the run {differ_n}")
        with open(js, encoding="utf-8") as f:
            report = json.load(f)
        check(report["max_score"] == 150 and report["score"] == agree_n, f"{name}: results.json scores wrong")
        check(sum(t["score"] for t in report["tests"]) == agree_n and len(report["tests"]) == 150,
              f"{name}: results.json's tests do not add up")
        check(any(kind in t["output"] for t in report["tests"] if t["score"] == 0),
              f"{name}: results.json does not say what differs")


def hostile(a):
    tmp, env = private_tmp(a.work)
    marker = "1000.2024"  # a sleep no one else runs
    programs = {
        # Leaves a child behind and an unreadable folder in the case folder.
        "hang": (f'if grep -q TerminateProcess "$@" 2>/dev/null; then mkdir -p d/e; chmod 000 d/e d; '
                 f'sleep {marker} & wait; fi\nexec "{a.kelmem}" "$@"', "timeout"),
        "flood": (f'if grep -q END "$@" 2>/dev/null; then exec yes; fi\nexec "{a.kelmem}" "$@"',
                  "endless output"),
        "crash": (f'if grep -q PrintAllMemory "$@" 2>/dev/null; then kill -SEGV $$; fi\nexec "{a.kelmem}" "$@"',
                  "crash (SIGSEGV)"),
    }
    for name, (body, kind) in programs.items():
        path = program(a.work, name, body)
        start = time.monotonic()
        res = run([a.check, "-q", "--cases=20", "--seed=3", "--timeout=1", "-j2", "--", path], env=env)
        took = time.monotonic() - start
        out = res.stdout.decode()
        print(f"---- {name} ({took:.1f} s)\n{out}")
        check(res.returncode == 1, f"{name}: exit status {res.returncode}")
        check(re.search(rf"^Difference 1: {re.escape(kind)}, in case-\d+", out, re.M), f"{name}: not found as {kind}")
        # 20 cases on two jobs, each killed at 1 s at worst, and at most 10 s
        # of shrinking a hang: far less for the others.
        check(took < 10 + 12 + 10, f"{name}: took {took:.1f} s")
        check(os.listdir(tmp) == [], f"{name}: left {os.listdir(tmp)} in TMPDIR")
    check(running(marker) == [], "a child of the hanging program outlived its run")

    # Hostile bytes in what the program prints: the reports still parse.
    garbage = r"\x00\x01\x1b[31m\xff\xfe\xc0\xaf\xed\xa0\x80\xef\xbf\xbe<&>\"']]>\x7f"
    path = program(a.work, "garbage", f"printf '{garbage}'; printf '{garbage}' >&2")
    for ext in ("xml", "json"):
        report = os.path.join(a.work, "garbage." + ext)
        res = run([a.check, "-q", "--cases=3", "--seed=1", f"--report={report}", "--", path], env=env)
        check(res.returncode == 1, f"garbage: exit status {res.returncode}")
        try:
            if ext == "xml":
                cases = ET.parse(report).getroot().find("testsuite").findall("testcase")
                check(len(cases) == 3 and all(c.find("failure") is not None for c in cases),
                      "garbage: the XML report does not fail every case")
            else:
                with open(report, encoding="utf-8") as f:
                    tests = json.load(f)["tests"]
                check(len(tests) == 3 and all(t["score"] == 0 for t in tests), "garbage: results.json scores wrong")
        except (ET.ParseError, ValueError) as e:
            check(False, f"garbage: the {ext} report does not parse: {e}")

    # Ctrl+C in the middle of runs: everything killed, every folder removed.
    hang = program(a.work, "hang-always", f'mkdir sub && touch sub/x && sleep {marker}')
    proc = subprocess.Popen([a.check, "-q", "--cases=50", "--timeout=30", "-j2", "--", hang], env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
    time.sleep(1.5)
    proc.send_signal(signal.SIGINT)
    try:
        _, err = proc.communicate(timeout=10)
        check(proc.returncode == -signal.SIGINT, f"after Ctrl+C: exit status {proc.returncode}")
    except subprocess.TimeoutExpired:
        proc.kill()
        check(False, "Ctrl+C did not stop kelmem-check")
    check(os.listdir(tmp) == [], f"after Ctrl+C: left {os.listdir(tmp)} in TMPDIR")
    time.sleep(0.2)
    check(running(marker) == [], "after Ctrl+C: the program under test still runs")

    # A COMMAND that cannot run: one line on standard error, before any case.
    plain = os.path.join(a.work, "not-executable")
    with open(plain, "w") as f:
        f.write("#!/bin/sh\n")
    os.chmod(plain, stat.S_IRUSR | stat.S_IWUSR)
    for command in [os.path.join(a.work, "no-such-program"), plain, "no-such-program-in-path"]:
        res = run([a.check, "--cases=5", "--", command], env=env)
        err = res.stderr.decode()
        check(res.returncode == 2 and res.stdout == b"" and err.count("\n") == 1 and err.startswith("kelmem-check: "),
              f"{command}: exit {res.returncode}, stdout {res.stdout!r}, stderr {err!r}")
    check(os.listdir(tmp) == [], "a set-up error left a folder behind")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("mode", choices=["agree", "wrong", "hostile"])
    ap.add_argument("--check", required=True)
    ap.add_argument("--kelmem", required=True)
    ap.add_argument("--work", required=True)
    a = ap.parse_args()
    a.check, a.kelmem = os.path.abspath(a.check), os.path.abspath(a.kelmem)
    shutil.rmtree(a.work, ignore_errors=True)
    os.makedirs(a.work)
    {"agree": agree, "wrong": wrong, "hostile": hostile}[a.mode](a)
    print(f"{a.mode}: {len(failures)} failed" if failures else f"{a.mode}: passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
