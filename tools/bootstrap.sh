#!/usr/bin/env bash
# The quick start's two commands, from a Debian 12 that has only git:
#
#   bash tools/bootstrap.sh demo   installs what the programs need, builds
#                                  them and runs the demo
#   bash tools/bootstrap.sh test   installs what the tests need as well and
#                                  runs every test, a short fuzz run included
#
# The packages and why each is needed are in tools/packages.txt. Only what is
# missing is installed, with apt-get, as root or through sudo; without either
# the script stops with the command to run. Running it again installs nothing
# and builds only what changed.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

usage() { echo "usage: bash tools/bootstrap.sh demo|test" >&2; exit 2; }
[ $# -eq 1 ] || usage
case $1 in
  demo) groups=" build " ;;
  test) groups=" build test " ;;
  *) usage ;;
esac

installed() {
  [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ] ||
    command -v "$1" >/dev/null
}

# What is missing, and why it is needed.
missing=()
reasons=()
while read -r group package why; do
  case $group in ''|'#'*) continue ;; esac
  [[ $groups == *" $group "* ]] || continue
  installed "$package" && continue
  missing+=("$package")
  reasons+=("$(printf '  %-20s %s' "$package" "$why")")
done < tools/packages.txt

if [ "${#missing[@]}" -gt 0 ]; then
  install=(apt-get install -y --no-install-recommends "${missing[@]}")
  if [ "$(id -u)" -eq 0 ]; then
    as_root=()
  elif command -v sudo >/dev/null; then
    as_root=(sudo)
  else
    echo "bootstrap: installing needs root: run as root 'apt-get update && ${install[*]}', then this again" >&2
    exit 1
  fi
  echo "== installing ${#missing[@]} Debian packages:"
  printf '%s\n' "${reasons[@]}"
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive "${install[@]}"
else
  echo "== every Debian package needed is installed (tools/packages.txt)"
fi

if [ "$1" = demo ]; then
  echo "== building: make"
  make build
  echo "== the demo: cd examples && ../build/kelmem demo.txt"
  cd examples && exec ../build/kelmem demo.txt
fi

# The browser tests drive Debian's chromium with playwright-core from npm.
echo "== playwright-core for the browser tests: npm ci in tests/browser"
(cd tests/browser && npm ci --no-audit --no-fund)

echo "== every test: make test"
make test

# A few seconds of fuzzing per target, so that the fuzz build cannot break
# unnoticed; `make fuzz` alone fuzzes for a minute each.
echo "== a short fuzz run: make fuzz FUZZ_SECONDS=${FUZZ_SECONDS:-5}"
make fuzz FUZZ_SECONDS="${FUZZ_SECONDS:-5}"
echo "== bootstrap test: every step passed"
