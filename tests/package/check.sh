#!/usr/bin/env bash
# Checks the Debian package without installing it: unpacks it into a scratch
# root with dpkg-deb -x, runs the unpacked programs on the unpacked examples
# (copied to a scratch folder, as a user would), compares the demo's output
# with the committed examples/demo.out, renders every manual page with
# man -l and runs lintian, which must report no error and no warning.
#
#   bash tests/package/check.sh build-package/kelmem_<version>_amd64.deb
set -euo pipefail

deb=$(realpath "$1")
src=$(cd "$(dirname "$0")/../.." && pwd)
scratch=$(mktemp -d /tmp/kelmem-package-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "package check: $*" >&2; exit 1; }

root=$scratch/root
dpkg-deb -x "$deb" "$root"
version=$(dpkg-deb -f "$deb" Version)
doc=$root/usr/share/doc/kelmem

# Everything the package promises, where Debian expects it.
programs=(kelmem)
[ -f "$src/viewer/CMakeLists.txt" ] && programs+=(kelmem-view)
[ -f "$src/checker/CMakeLists.txt" ] && programs+=(kelmem-check)
for f in "${programs[@]/#/usr/bin/}" "${programs[@]/#/usr/share/man/man1/}" \
    usr/share/doc/kelmem/README.md usr/share/doc/kelmem/copyright \
    usr/share/doc/kelmem/changelog.gz usr/share/doc/kelmem/examples/demo.txt; do
  case $f in usr/share/man/*) f=$f.1.gz ;; esac
  [ -e "$root/$f" ] || fail "missing /$f"
done

# Every file the installed README links to is installed beside it.
while read -r link; do
  [ -e "$doc/$link" ] || fail "README.md links $link, which the package lacks"
done < <(grep -o '](\([^)#:]*\))' "$doc/README.md" | sed 's/^](//; s/)$//' | sort -u)

# The demo, run by the unpacked program in a copy of the unpacked examples.
cp -r "$doc/examples" "$scratch/examples"
(cd "$scratch/examples" && "$root/usr/bin/kelmem" demo.txt >"$scratch/demo.out") ||
  fail "kelmem demo.txt failed"
cmp -s "$scratch/demo.out" "$src/examples/demo.out" ||
  { diff -u "$src/examples/demo.out" "$scratch/demo.out" >&2 || true; fail "demo output differs"; }

if [[ " ${programs[*]} " == *" kelmem-view "* ]]; then
  view=$root/usr/bin/kelmem-view
  "$view" --version | grep -qxF "kelmem-view $version" || fail "kelmem-view --version does not say $version"
  # The trace of the demo: JSON Lines whose outputs, put together, are
  # exactly what kelmem printed.
  (cd "$scratch/examples" && "$view" --format=json demo.txt >"$scratch/demo.jsonl") ||
    fail "kelmem-view --format=json demo.txt failed"
  python3 - "$scratch/demo.jsonl" "$src/examples/demo.out" <<'PY' || fail "the trace's output is not demo.out"
import json, sys
with open(sys.argv[1]) as trace:
    out = "".join(json.loads(line).get("output") or "" for line in trace)
sys.exit(out != open(sys.argv[2]).read())
PY
  # The text map and the page.
  (cd "$scratch/examples" && "$view" demo.txt >"$scratch/view.txt") ||
    fail "kelmem-view demo.txt failed"
  grep -q "P1 LoadFile @100" "$scratch/view.txt" || fail "kelmem-view's map lacks the demo's first step"
  (cd "$scratch/examples" && "$view" -o "$scratch/demo.html" demo.txt) ||
    fail "kelmem-view -o demo.html failed"
  grep -q "<html" "$scratch/demo.html" || fail "kelmem-view wrote no page"
fi

if [[ " ${programs[*]} " == *" kelmem-check "* ]]; then
  check=$root/usr/bin/kelmem-check
  "$check" --version | grep -qxF "kelmem-check $version" || fail "kelmem-check --version does not say $version"
  # The unpacked kelmem checked against itself on a few cases.
  (cd "$scratch" && "$check" -q --cases=20 --seed=1 -- "$root/usr/bin/kelmem" >"$scratch/check.out") ||
    fail "kelmem-check finds differences between kelmem and itself"
fi

# The playground page, where emscripten could build it: one file of at most
# 1.5 MB with its content policy.
page=$root/usr/share/kelmem/playground.html
if command -v em++ >/dev/null; then
  [ -f "$page" ] || fail "missing /usr/share/kelmem/playground.html"
fi
if [ -f "$page" ]; then
  [ "$(stat -c %s "$page")" -le 1500000 ] || fail "playground.html is larger than 1.5 MB"
  grep -q 'http-equiv="Content-Security-Policy"' "$page" || fail "playground.html has no content policy"
fi

# Every manual page renders without a warning and names the version.
for page in "$root"/usr/share/man/man1/*.gz; do
  out=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || fail "man -l $page failed"
  [ -z "$out" ] || fail "man -l $page warns: $out"
  [ -n "$(MANWIDTH=80 man -l "$page" 2>/dev/null)" ] || fail "man -l $page renders nothing"
  zcat "$page" | grep -q "^\.TH .*$version" || fail "$page does not carry version $version"
done

# Errors and warnings fail; the notice about running as root is no finding.
if ! report=$(lintian --fail-on error,warning "$deb" 2>&1); then
  grep -v "running with root privileges" <<<"$report" >&2 || true
  fail "lintian reports errors or warnings"
fi
echo "package check: $(basename "$deb") passed"
