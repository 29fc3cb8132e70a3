#!/bin/sh
# Runs one browser check with node where what it needs is installed;
# otherwise prints one line "skipped: WHY" and exits 77, which CTest counts
# as skipped, never failed. Looked up when the test runs, so that installing
# node or chromium later needs no new configure.
#
#   sh run.sh node FILE.mjs...      needs node
#   sh run.sh browser FILE.mjs...   needs node, chromium and playwright-core
#                                   (the page is driven by `node --test`)
here=${0%/*}
needs=$1
shift
skip() { echo "skipped: $1"; exit 77; }

command -v node >/dev/null 2>&1 || skip "the browser tests need node (apt-get install nodejs)"
[ "$needs" = node ] && exec node "$@"

CHROMIUM=${CHROMIUM:-$(command -v chromium)} ||
  skip "the browser tests need chromium (apt-get install chromium)"
export CHROMIUM
[ -f "$here/node_modules/playwright-core/package.json" ] ||
  skip "the browser tests need playwright-core (cd tests/browser && npm ci; npm is apt-get install npm)"
exec node --test "$@"
