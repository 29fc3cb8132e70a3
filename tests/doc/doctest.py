#!/usr/bin/env python3
r"""Doc tests: runs the examples of README.md and the manual pages and checks
that they print, byte for byte, what the text shows.

Every code block of a document (a ``` fence in Markdown, a .nf/.fi or .EX/.EE
region in a man page) comes right after a marker comment:

    Markdown:  <!-- doctest: NAME KIND ... -->
    man page:  .\" doctest: NAME KIND ...

where KIND is one of
    file PATH [crlf]  the block is the file PATH (with CRLF line ends if crlf)
    run COMMAND       the block is what COMMAND prints
    session           the block is a transcript: "$ cat PATH" and the lines
                      after it are the file PATH; any other "$ COMMAND" must
                      print exactly the lines after it, up to the next "$ "
A PATH under examples/ is not written but compared with the project's file.
NAME is letters, digits, "-", "_" and ".". In a man page, the escapes \-,
\(dq, \(aq, \e, \\ and \& are read as what they print; others are refused.
A block that shows no output is marked "doctest: none REASON"; an unmarked
block is an error, so no shown output escapes the tests.

The blocks named NAME, in document order, make the test doc.NAME. It runs in
a fresh folder that holds a copy of the project's examples/ and a build/
folder with the programs given as --program NAME=PATH (kelmem, kelmem-view),
which is also first on PATH: "kelmem x.txt", "build/kelmem x.txt" and
"cd examples && ../build/kelmem demo.txt" all work. Each COMMAND runs there
in its own bash; its standard output and error together are compared. A
line "..." in shown output stands for any number of lines. The exit status
is not compared (show it with "; echo $?"), but death by a signal fails.
With --build DIR, a program that the build folder DIR holds is also found
in build/ where DIR has it ("build/viewer/kelmem-view").

    doctest.py list DOC...       print every test name
    doctest.py run NAME --root SRC --work DIR --program kelmem=PATH DOC...
"""
import argparse
import difflib
import os
import re
import shutil
import subprocess
import sys

MARKER = re.compile(r'^(?:<!--|\.\\") doctest: (.*?)(?: -->)?$')
GROFF = {'(dq': '"', '(aq': "'", '-': '-', 'e': '\\', '\\': '\\', '&': ''}


class DocError(Exception):
    pass


def unescape_groff(line, where):
    """The text a man-page line shows; only the escapes in GROFF are known."""
    def sub(m):
        if m.group(1) not in GROFF:
            raise DocError(f'{where}: unknown escape \\{m.group(1)}')
        return GROFF[m.group(1)]
    if line.startswith(('.', "'")):
        raise DocError(f'{where}: request inside a doctest block')
    return re.sub(r'\\(\(..|.)', sub, line)


def read_blocks(path):
    """Yields (place, marker words, block lines) for every code block. A
    Markdown fence may be indented (in a list item); its indent is dropped."""
    man = not path.endswith('.md')
    with open(path, encoding='utf-8') as f:
        lines = f.read().split('\n')
    i, marker = 0, None
    while i < len(lines):
        text, where = lines[i].strip(), f'{path}:{i + 1}'
        indent = len(lines[i]) - len(lines[i].lstrip(' '))
        if (text in ('.nf', '.EX')) if man else text.startswith('```'):
            close = ('.fi', '.EE') if man else ('```',)
            end = i + 1
            while end < len(lines) and lines[end].strip() not in close:
                end += 1
            if end == len(lines):
                raise DocError(f'{where}: block never closed')
            if marker is None:
                raise DocError(f'{where}: code block without a doctest marker')
            body = [b[indent:] if b[:indent].isspace() else b for b in lines[i + 1:end]]
            if man and marker[:1] != ['none']:
                body = [unescape_groff(b, f'{path}:{i + 2 + k}') for k, b in enumerate(body)]
            yield where, marker, body
            i, marker = end + 1, None
            continue
        if marker is not None:
            raise DocError(f'{where}: doctest marker not followed by a code block')
        m = MARKER.match(text)
        if m:
            marker = m.group(1).split()
        i += 1
    if marker is not None:
        raise DocError(f'{path}: doctest marker at the end')


def parse_session(where, body):
    """The steps of a transcript: ('file', path, lines) and ('run', command, lines)."""
    steps = []
    for line in body:
        if line.startswith('$ '):
            words = line[2:].split()
            if len(words) == 2 and words[0] == 'cat':
                steps.append(['file', words[1], [], False])
            else:
                steps.append(['run', line[2:], []])
        elif not steps:
            raise DocError(f'{where}: transcript must begin with "$ "')
        else:
            steps[-1][2].append(line)
    return steps


def collect(docs):
    """Maps every test name to its steps, in document order."""
    tests, home = {}, {}
    for doc in docs:
        for where, words, body in read_blocks(doc):
            if words[:1] == ['none']:
                continue
            if len(words) < 2:
                raise DocError(f'{where}: marker needs NAME and KIND')
            name, kind, args = words[0], words[1], words[2:]
            if not re.fullmatch(r'[A-Za-z0-9_.-]+', name):
                raise DocError(f'{where}: bad test name {name}')
            if home.setdefault(name, doc) != doc:
                raise DocError(f'{where}: test {name} is also in {home[name]}')
            steps = tests.setdefault(name, [])
            if kind == 'file' and len(args) in (1, 2) and args[1:] in ([], ['crlf']):
                steps.append(['file', args[0], body, args[1:] == ['crlf']])
            elif kind == 'run' and args:
                steps.append(['run', ' '.join(args), body])
            elif kind == 'session' and not args:
                steps.extend(parse_session(where, body))
            else:
                raise DocError(f'{where}: bad marker "{" ".join(words)}"')
    for name, steps in tests.items():
        if not any(s[0] == 'run' for s in steps):
            raise DocError(f'{home[name]}: test {name} runs nothing')
    return tests


def text_of(lines, crlf=False):
    end = '\r\n' if crlf else '\n'
    return ''.join(line + end for line in lines)


def matches(shown, actual):
    """True when actual is shown exactly, a line "..." standing for any lines."""
    if '...' not in shown.split('\n'):
        return shown == actual
    parts = [re.escape(p) for p in ('\n' + shown).split('\n...\n')]
    return re.fullmatch(r'(?:.*\n)*?'.join(parts), '\n' + actual) is not None


def prepare(work, root, programs, build=None):
    shutil.rmtree(work, ignore_errors=True)
    shutil.copytree(os.path.join(root, 'examples'), os.path.join(work, 'examples'))
    os.makedirs(os.path.join(work, 'build'))
    for given in programs:
        name, _, path = given.partition('=')
        path = os.path.abspath(path)
        os.symlink(path, os.path.join(work, 'build', name))
        inside = build and os.path.relpath(path, os.path.abspath(build))
        if inside and not inside.startswith('..') and os.sep in inside:
            os.makedirs(os.path.join(work, 'build', os.path.dirname(inside)), exist_ok=True)
            os.symlink(path, os.path.join(work, 'build', inside))


def differs(what, shown, actual):
    """Prints how actual differs from what the documentation shows; True."""
    print(f'{what}: differs from the documentation')
    sys.stdout.writelines(difflib.unified_diff(
        shown.splitlines(True), actual.splitlines(True), 'shown', 'actual'))
    return True


def file_step(work, path, shown):
    """Writes the file path, or checks it when it is the project's. True on failure."""
    full = os.path.join(work, path)
    if not path.startswith('examples/'):
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, 'w', encoding='utf-8', newline='') as f:
            f.write(shown)
        return False
    try:
        with open(full, encoding='utf-8', newline='') as f:
            actual = f.read()
    except OSError as e:
        actual = f'({e.strerror})\n'
    return actual != shown and differs(path, shown, actual)


def run_step(work, env, command, shown):
    """Runs command and checks what it prints. True on failure."""
    proc = subprocess.run(['bash', '-c', command], cwd=work, env=env, timeout=120,
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT)
    actual = proc.stdout.decode('utf-8', 'replace')
    killed = proc.returncode < 0
    if killed:
        print(f'$ {command}: killed by signal {-proc.returncode}')
    return (not matches(shown, actual) and differs(f'$ {command}', shown, actual)) or killed


def run_test(steps, work):
    """Carries out every step, even after a failure; True when all passed."""
    env = dict(os.environ, PATH=os.path.join(work, 'build') + os.pathsep + os.environ['PATH'])
    failed = False
    for step in steps:
        if step[0] == 'file':
            failed |= file_step(work, step[1], text_of(step[2], step[3]))
        else:
            failed |= run_step(work, env, step[1], text_of(step[2]))
    return not failed


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('mode', choices=['list', 'run'])
    ap.add_argument('words', nargs='+', help='list: DOC...; run: NAME DOC...')
    ap.add_argument('--root')
    ap.add_argument('--work')
    ap.add_argument('--program', action='append', default=[])
    ap.add_argument('--build')
    # CMake passes an empty word for a program that is not built.
    args = ap.parse_args([a for a in sys.argv[1:] if a])
    try:
        if args.mode == 'list':
            print('\n'.join(collect(args.words)))
            return 0
        name, docs = args.words[0], args.words[1:]
        steps = collect(docs).get(name)
        if steps is None:
            raise DocError(f'no doc test named {name}')
        prepare(args.work, args.root, args.program, args.build)
        return 0 if run_test(steps, args.work) else 1
    except DocError as e:
        print(f'doctest: {e}', file=sys.stderr)
        return 1


if __name__ == '__main__':
    sys.exit(main())
