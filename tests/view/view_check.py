#!/usr/bin/env python3
"""Command-line checks of kelmem-view, run by CTest.

  view_check.py property KELMEM VIEW WORK CASE_DIR [ARG...]
      Copies CASE_DIR to WORK, runs kelmem and `kelmem-view --format=json`
      there with the same arguments (from CASE_DIR/args unless given), and
      checks that the trace is well-formed JSON Lines whose concatenated
      "output" equals kelmem's standard output byte for byte, and that each
      step's statistics agree with its free list.
  view_check.py usage VIEW WORK
      The table of usage errors, exit statuses and output files.

Trace strings hold bytes that are not UTF-8 as lone surrogates (\\udcXX);
json.loads accepts them and surrogateescape gives the bytes back.
"""
import json
import os
import pty
import shutil
import signal
import subprocess
import sys


def fail(msg):
    print("FAIL: " + msg)
    sys.exit(1)


def raw(s):
    return s.encode("utf-8", "surrogateescape")


def read_args(case_dir):
    path = os.path.join(case_dir, "args")
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        return [l for l in f.read().decode("utf-8", "surrogateescape").split("\n") if l]


def fresh_copy(case_dir, work):
    shutil.rmtree(work, ignore_errors=True)
    shutil.copytree(case_dir, work, symlinks=True)


def expected_stats(free):
    holes = [l for _, l in free if l > 0]
    f = sum(holes)
    largest = max(holes, default=0)
    hist = []
    for l in holes:
        k = l.bit_length() - 1
        hist += [0] * (k + 1 - len(hist))
        hist[k] += 1
    frag = None if f == 0 else ((f - largest) * 20000 + f) // (2 * f) / 10000
    return {"free": f, "holes": len(holes), "largest": largest,
            "fragmentation": frag, "histogram": hist}


def check_trace(data, args):
    if data and not data.endswith(b"\n"):
        fail("the trace does not end with a line feed")
    events = [json.loads(l) for l in data.decode("utf-8").split("\n")[:-1]]
    meta, end = events[0], events[-1]
    errors = meta.get("errors")
    if meta != {"type": "meta", "schema": "kelmem-trace/1", "version": meta.get("version"),
                "memory": 1000, "files": args, "errors": errors}:
        fail("meta line: %r" % meta)
    # The text of each result code 0-11, then "Unknown error." (code -1).
    if not isinstance(errors, list) or len(errors) != 13 or errors[12] != "Unknown error." \
            or len(set(errors)) != 13 or not all(isinstance(e, str) and e for e in errors):
        fail("meta errors: %r" % errors)
    steps = [e for e in events if e["type"] == "step"]
    if end != {"type": "end", "steps": len(steps)}:
        fail("end line: %r, %d steps" % (end, len(steps)))
    if any(e["type"] not in ("banner", "step") for e in events[1:-1]):
        fail("an event other than banner or step between meta and end")
    for s in steps:
        addrs = [c[0] for c in s["cells"]]
        if addrs != sorted(set(addrs)) or any(not 0 <= a < 1000 for a in addrs):
            fail("line %d: cells not by ascending address: %r" % (s["line"], addrs))
        if s["stats"] != expected_stats(s["free"]):
            fail("line %d: stats %r for free list %r" % (s["line"], s["stats"], s["free"]))
        if s["error"] is not None and (s["error"] not in errors or "******* ERROR: %s\n"
                                       % s["error"] not in s["output"]):
            fail("line %d: error %r is not an error line of meta's" % (s["line"], s["error"]))
        if ("request" in s) != ("placements" in s):
            fail("line %d: request without placements or the reverse" % s["line"])
        # A line without tokens is not echoed: it prints its error line alone.
        echo = b"%4d " % s["line"] if s["error"] != "Unknown error." else b"******* ERROR"
        if not raw(s["output"]).startswith(echo):
            fail("line %d: output does not begin with %r" % (s["line"], echo))
    return b"".join(raw(e["output"]) for e in events[1:-1])


def cmd_property(kelmem, view, work, case_dir, args):
    args = args or read_args(case_dir)
    fresh_copy(case_dir, work + "/kelmem")
    fresh_copy(case_dir, work + "/view")
    want = subprocess.run([kelmem] + args, cwd=work + "/kelmem", stdout=subprocess.PIPE,
                          timeout=300).stdout
    got = subprocess.run([view, "--format=json", "--"] + args, cwd=work + "/view",
                         stdout=subprocess.PIPE, timeout=300)
    if got.returncode != 0:
        fail("kelmem-view exited with %d" % got.returncode)
    joined = check_trace(got.stdout, args)
    if joined != want:
        at = next((i for i, (a, b) in enumerate(zip(joined, want)) if a != b),
                  min(len(joined), len(want)))
        fail("concatenated output differs from kelmem's at byte %d:\n%r\n%r"
             % (at, joined[at:at + 80], want[at:at + 80]))
    print("ok: %d bytes of output" % len(want))


# (arguments, exit status, stderr holds one line pointing to --help,
#  expected beginning of standard output or None for any)
USAGE = [
    ([], 2, True, b""),
    (["--frobnicate", "s.txt"], 2, True, b""),
    (["-x", "s.txt"], 2, True, b""),
    (["--format=yaml", "s.txt"], 2, True, b""),
    (["--format"], 2, True, b""),
    (["--color=sometimes", "s.txt"], 2, True, b""),
    (["--quiz", "s.txt"], 2, True, b""),
    (["--quiz", "--format=json", "s.txt"], 2, True, b""),
    (["-o", "out.json"], 2, True, b""),
    (["-o", "", "s.txt"], 2, True, b""),
    (["--help=x", "s.txt"], 2, True, b""),
    (["--quiz=1", "s.txt"], 2, True, b""),
    (["--help"], 0, False, b"Usage: kelmem-view [OPTION]... SCRIPT...\n"),
    (["-h", "--frobnicate"], 0, False, b"Usage: kelmem-view"),
    (["-V"], 0, False, b"kelmem-view "),
    (["--version"], 0, False, b"kelmem-view "),
    (["--format=json", "missing.txt"], 0, False, b'{"type":"meta"'),
    (["-fjson", "s.txt", "--color=never"], 0, False, b'{"type":"meta"'),
    (["--", "-o"], 0, False, b"---------------Couldn't parse -o"),
    (["-o", "nosuchdir/out.txt", "s.txt"], 1, False, b""),
    (["-o", "/dev/full", "s.txt"], 1, False, b""),
]

# What standard error says for some of the rows above.
MESSAGES = [
    (["--help=x", "s.txt"], "option '--help' doesn't allow an argument"),
    (["--quiz=1", "s.txt"], "option '--quiz' doesn't allow an argument"),
    (["-x", "s.txt"], "unknown option '-x'"),
    (["-o", "/dev/full", "s.txt"], "No space left on device"),
    (["-o", "/dev/full", "many.txt"], "No space left on device"),
    (["--format=json", "-o", "/dev/full", "many.txt"], "No space left on device"),
]


def cmd_usage(view, work):
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    with open(os.path.join(work, "s.txt"), "w") as f:
        f.write("P0 PrintProcessTable\n")
    with open(os.path.join(work, "many.txt"), "w") as f:  # far more than one block of output
        f.write("P0 PrintProcessTable\n" * 5000)
    for args, status, points, out_head in USAGE:
        r = subprocess.run([view] + args, cwd=work, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=60)
        err = r.stderr.decode("utf-8", "replace")
        if r.returncode != status:
            fail("%r: exit %d, expected %d (stderr %r)" % (args, r.returncode, status, err))
        if points and (err.count("\n") != 1 or "--help" not in err):
            fail("%r: stderr is not one line pointing to --help: %r" % (args, err))
        if status == 1 and (err.count("\n") != 1 or not err.startswith("kelmem-view: ")):
            fail("%r: a write failure says so in one line: %r" % (args, err))
        if not r.stdout.startswith(out_head) or (out_head == b"" and r.stdout):
            fail("%r: standard output %r" % (args, r.stdout[:120]))
    for args, said in MESSAGES:
        err = run_ok(view, work, args)[2].decode("utf-8", "replace")
        if said not in err:
            fail("%r: stderr %r does not say %r" % (args, err, said))
    check_output_files(view, work)
    check_color(view, work)
    print("ok: %d rows" % len(USAGE))


def colored_on_terminal(view, work, no_color):
    """Runs the text map on a pseudo-terminal; True when it holds colour."""
    env = dict(os.environ)
    env.pop("NO_COLOR", None)
    if no_color is not None:
        env["NO_COLOR"] = no_color
    master, slave = pty.openpty()
    p = subprocess.Popen([view, "c.txt"], cwd=work, stdout=slave, env=env)
    os.close(slave)
    data = b""
    while True:  # read while it writes, or it would block on a full terminal
        try:
            chunk = os.read(master, 65536)
        except OSError:
            break
        if not chunk:
            break
        data += chunk
    p.wait(timeout=60)
    os.close(master)
    return b"\x1b[" in data


def check_color(view, work):
    with open(os.path.join(work, "c.txt"), "w") as f:
        f.write("P1 STORE @0 #1\n")  # an error line, coloured when colour is on
    # --color=auto: colour on a terminal unless NO_COLOR is set (even empty);
    # never on a pipe (the rows above).
    for no_color, want in ((None, True), ("1", False), ("", False)):
        if colored_on_terminal(view, work, no_color) != want:
            fail("--color=auto on a terminal with NO_COLOR=%r: colour %s" % (no_color, not want))
    for args, want in ((["--color=always", "c.txt"], True), (["c.txt"], False)):
        if (b"\x1b[" in run_ok(view, work, args)[1]) != want:
            fail("%r on a pipe: colour %s" % (args, not want))


def run_ok(view, work, args):
    r = subprocess.run([view] + args, cwd=work, stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, timeout=60)
    return r.returncode, r.stdout, r.stderr


def check_output_files(view, work):
    # The format follows the output file's name; the file appears whole.
    for name, head in (("t.html", b"<!DOCTYPE html>"), ("t.json", b'{"type":"meta"'),
                       ("t.jsonl", b'{"type":"meta"'), ("t.txt", b"   1 P0 PrintProcessTable")):
        status, out, _ = run_ok(view, work, ["-o", name, "s.txt"])
        with open(os.path.join(work, name), "rb") as f:
            body = f.read()
        if status != 0 or out or not body.startswith(head):
            fail("-o %s: status %d, file begins %r" % (name, status, body[:40]))
    # A page of more than 100,000 steps is refused and nothing is written.
    with open(os.path.join(work, "long.txt"), "w") as f:
        f.write("P3 TerminateProcess\n" * 100001)
    for args in (["-o", "long.html", "long.txt"], ["--format=html", "long.txt"]):
        status, out, err = run_ok(view, work, args)
        if status != 1 or out or os.path.exists(os.path.join(work, "long.html")) \
                or b"100000" not in err:
            fail("%r: status %d, stdout %d bytes, stderr %r" % (args, status, len(out), err))
    check_replaced_files(view, work)
    leftovers = [n for n in os.listdir(work) if ".tmp-" in n]
    if leftovers:
        fail("temporary files left behind: %r" % leftovers)


def check_replaced_files(view, work):
    """-o through a link, over a file with its own mode, with a long name, and killed."""
    def path(n):
        return os.path.join(work, n)
    with open(path("real.txt"), "w") as f:
        f.write("old\n")
    os.chmod(path("real.txt"), 0o640)
    os.symlink("real.txt", path("link.txt"))
    long_name = "n" * 251 + ".txt"  # 255 bytes, the most a name may have
    for name in ("link.txt", long_name):
        status, _, err = run_ok(view, work, ["-o", name, "s.txt"])
        if status != 0:
            fail("-o %s: status %d, %r" % (name[:20], status, err))
    if not os.path.islink(path("link.txt")) or os.stat(path("real.txt")).st_mode & 0o777 != 0o640:
        fail("-o through a link: the link was replaced or the mode changed")
    with open(path("real.txt"), "rb") as f:
        if not f.read().startswith(b"   1 P0 PrintProcessTable"):
            fail("-o through a link: the target was not written")
    if not os.path.exists(path(long_name)):
        fail("-o with a 255-byte name: no file")
    # A run stopped by a signal leaves no temporary file (/dev/zero never ends).
    for sig in (signal.SIGTERM, signal.SIGINT):
        p = subprocess.Popen([view, "-o", "z.html", "/dev/zero"], cwd=work)
        while not [n for n in os.listdir(work) if n.startswith("z.html.tmp-")]:
            if p.poll() is not None:
                fail("the endless run ended by itself")
        p.send_signal(sig)
        if p.wait(timeout=60) != -sig:
            fail("a run stopped by signal %d did not die of it" % sig)


def main(argv):
    if len(argv) >= 5 and argv[1] == "property":
        cmd_property(argv[2], argv[3], argv[4], argv[5], argv[6:])
    elif len(argv) == 4 and argv[1] == "usage":
        cmd_usage(argv[2], argv[3])
    else:
        print(__doc__)
        sys.exit(2)


if __name__ == "__main__":
    main(sys.argv)
