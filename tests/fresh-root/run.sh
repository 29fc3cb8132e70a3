#!/usr/bin/env bash
# Proves the README's quick start on a fresh Debian 12: makes a minimal root
# with debootstrap, installs git (the one thing the quick start assumes),
# copies the working tree in, runs the quick start's two commands in it as
# root without standard input, and prints a table of each command's exit
# status and wall time. Needs root and a few GB and takes many minutes (it
# downloads the compilers and chromium), so `make test` does not run it.
#
#   sudo bash tests/fresh-root/run.sh [FOLDER]
#
# FOLDER (default build-fresh-root) holds the root and the logs; a root left
# there by an earlier run is removed first. Also checked: the demo's output
# is byte for byte examples/demo.out, and the browser tests are skipped with
# their reason, not failed, where node or chromium cannot be found.
set -euo pipefail
src=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(realpath -m "${1:-$src/build-fresh-root}")
root=$work/root
mirror=http://deb.debian.org/debian

[ "$(id -u)" -eq 0 ] || { echo "run.sh: needs root (debootstrap, chroot, mount)" >&2; exit 1; }
command -v debootstrap >/dev/null || { echo "run.sh: needs debootstrap (apt-get install debootstrap)" >&2; exit 1; }

mounted=()
cleanup() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" || true
  done
  mounted=()
}
trap cleanup EXIT
mountin() { # mountin TARGET MOUNT-ARGS...
  mkdir -p "$root$1"
  mount "${@:2}" "$root$1"
  mounted+=("$root$1")
}

if [ -d "$root" ]; then
  if grep -q " $root/" /proc/mounts; then
    echo "run.sh: something is still mounted under $root" >&2
    exit 1
  fi
  rm -rf "$root"
fi
mkdir -p "$work"
rows=()
row() { rows+=("$(printf '| %s | %s | %s |' "$1" "$2" "$3")"); }

# timed NAME LOG COMMAND...: runs COMMAND, its output to LOG.out/LOG.err,
# and adds a row to the table.
timed() {
  local name=$1 log=$2 start end status=0
  shift 2
  start=$(date +%s.%N)
  "$@" >"$log.out" 2>"$log.err" </dev/null || status=$?
  end=$(date +%s.%N)
  row "$name" "$status" "$(awk "BEGIN { printf \"%.0f s\", $end - $start }")"
  echo "$name: exit $status (log $log.out, $log.err)"
  return 0
}

timed 'debootstrap --variant=minbase bookworm' "$work/debootstrap" \
  debootstrap --variant=minbase bookworm "$root" "$mirror"
[ -x "$root/bin/bash" ] || { echo "run.sh: debootstrap failed, see $work/debootstrap.err" >&2; exit 1; }

# What a Debian 12 from the installer has in its sources: the release, its
# updates and the security updates.
cat >"$root/etc/apt/sources.list" <<SOURCES
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb http://deb.debian.org/debian-security bookworm-security main
SOURCES
cp /etc/resolv.conf "$root/etc/resolv.conf"

# Our network, not something the README asks of a user: the registries are
# reached through a proxy whose certificate the root lacks. The host's CA
# bundle goes in (and its extra certificates, which update-ca-certificates
# keeps when the ca-certificates package is installed), with any proxy
# setting of apt and of the environment.
mkdir -p "$root/etc/ssl/certs" "$root/usr/local/share/ca-certificates"
cp /etc/ssl/certs/ca-certificates.crt "$root/etc/ssl/certs/"
cp /usr/local/share/ca-certificates/*.crt "$root/usr/local/share/ca-certificates/" 2>/dev/null || true
apt-config dump | grep -i '::proxy' >"$root/etc/apt/apt.conf.d/80proxy" || rm -f "$root/etc/apt/apt.conf.d/80proxy"
chroot_env=(env -i HOME=/root TERM=dumb LANG=C.UTF-8
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
  NODE_EXTRA_CA_CERTS=/etc/ssl/certs/ca-certificates.crt)
for v in http_proxy https_proxy no_proxy HTTP_PROXY HTTPS_PROXY NO_PROXY; do
  [ -n "${!v:-}" ] && chroot_env+=("$v=${!v}")
done

# What chromium and node need of a running system.
mountin /proc -t proc proc
mountin /sys -t sysfs sysfs
mountin /dev --bind /dev
mountin /dev/pts --bind /dev/pts
mountin /dev/shm -t tmpfs -o mode=1777 tmpfs

in_root() { chroot "$root" "${chroot_env[@]}" bash -c "$1"; }

timed 'apt-get install git' "$work/git" \
  in_root 'apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y git'

# The working tree as it stands (tracked files and new ones, not what git
# ignores), where a user would have cloned it.
(cd "$src" && git ls-files -z --cached --others --exclude-standard |
  tar --null -T - -cf -) | (mkdir -p "$root/root/kelmem" && tar -xf - -C "$root/root/kelmem")

# A user without root or sudo (minbase has no sudo) gets the command to run.
cp -a "$root/root/kelmem" "$root/tmp/kelmem-user"
timed 'bash tools/bootstrap.sh demo, as nobody' "$work/nobody" \
  in_root 'cd /tmp/kelmem-user && setpriv --reuid=nobody --regid=nogroup --clear-groups bash tools/bootstrap.sh demo'

timed 'bash tools/bootstrap.sh demo' "$work/demo" \
  in_root 'cd /root/kelmem && bash tools/bootstrap.sh demo'
size=$(stat -c %s "$src/examples/demo.out")
if tail -c "$size" "$work/demo.out" | cmp -s - "$src/examples/demo.out"; then
  demo="demo output is examples/demo.out, byte for byte"
else
  demo="demo output DIFFERS from examples/demo.out"
fi

timed 'bash tools/bootstrap.sh test' "$work/test" \
  in_root 'cd /root/kelmem && bash tools/bootstrap.sh test'

# Again: nothing to install, nothing to build.
timed 'bash tools/bootstrap.sh demo, again' "$work/demo-again" \
  in_root 'cd /root/kelmem && bash tools/bootstrap.sh demo'

# The browser tests where node cannot be found (an empty PATH), and where
# node is found but chromium is not: skipped with their reason.
timed 'browser tests, PATH without node' "$work/no-node" \
  in_root 'cd /root/kelmem/build && PATH=/nonexistent /usr/bin/ctest -R "^browser\." && grep "^skipped: " Testing/Temporary/LastTest.log'
timed 'browser tests, PATH with node only' "$work/no-chromium" \
  in_root 'mkdir -p /tmp/node-only && ln -sf /usr/bin/node /tmp/node-only/node &&
    cd /root/kelmem/build && PATH=/tmp/node-only /usr/bin/ctest -R "^browser\." && grep "^skipped: " Testing/Temporary/LastTest.log'

echo
echo "Fresh Debian 12 root ($(chroot "$root" cat /etc/debian_version)), tree of $(cd "$src" && git rev-parse --short HEAD)$(cd "$src" && git diff --quiet HEAD || echo ' with uncommitted changes'):"
echo
echo "| command | exit status | wall time |"
echo "|---|---|---|"
printf '%s\n' "${rows[@]}"
echo
echo "$demo"
echo "as nobody: $(cat "$work/nobody.out" "$work/nobody.err")"
echo "again: $(grep -c '^== installing' "$work/demo-again.out") installs; $(grep '^== every Debian' "$work/demo-again.out")"
echo "node $(chroot "$root" node --version 2>/dev/null || echo missing), $(chroot "$root" chromium --version 2>/dev/null || echo 'chromium missing'), playwright-core $(sed -n 's/.*"version": "\(.*\)".*/\1/p' "$root/root/kelmem/tests/browser/node_modules/playwright-core/package.json" 2>/dev/null | head -1)"
echo "test summary lines:"
grep -h -E 'tests passed|tests failed|^skipped: |^fuzz_[a-z]*: |package check:' "$work/test.out" | awk '!seen[$0]++' || true
grep -h '^skipped: ' "$work/no-node.out" "$work/no-chromium.out" || true
