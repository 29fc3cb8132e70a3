#!/usr/bin/env bash
# Builds the fuzz targets with clang (sanitizers on) into build-fuzz and runs
# each for FUZZ_SECONDS seconds (default 60) with its dictionary. The
# committed corpus fuzz/corpus/<target> is read; new inputs go to
# fuzz-out/<target>, crashes to fuzz-out/artifacts/. Prints executions per
# second and coverage per target; exits non-zero when a target failed.
#
# Environment: FUZZ_SECONDS, FUZZ_TARGETS (space-separated subset),
# FUZZ_BUILD_DIR (default build-fuzz), FUZZ_ARGS (extra libFuzzer flags),
# FUZZ_SOURCE_DIR (the project to configure; default the repository).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
src=${FUZZ_SOURCE_DIR:-$root}
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
case $build in /*) ;; *) build=$root/$build ;; esac
seconds=${FUZZ_SECONDS:-60}
targets=${FUZZ_TARGETS:-fuzz_tokens fuzz_loader fuzz_script fuzz_alloc fuzz_view}
out=$root/fuzz-out
cxx=${FUZZ_CXX:-clang++}

cmake -S "$src" -B "$build" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKELMEM_SANITIZE=ON -DKELMEM_FUZZ=ON
# shellcheck disable=SC2086 # targets is a word list
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target $targets

mkdir -p "$out/artifacts"
failed=0
summary=()
for t in $targets; do
    bin=$build/fuzz/$t
    if [ ! -x "$bin" ]; then
        echo "run.sh: $bin was not built (is fuzz/ added with add_subdirectory(fuzz)?)" >&2
        exit 2
    fi
    mkdir -p "$out/$t"
    log=$out/$t.log
    echo "== $t: ${seconds}s, log $log"
    status=0
    # shellcheck disable=SC2086 # FUZZ_ARGS is a word list
    "$bin" "$out/$t" "$root/fuzz/corpus/$t" \
        -dict="$root/fuzz/$t.dict" \
        -max_total_time="$seconds" \
        -timeout=10 \
        -artifact_prefix="$out/artifacts/$t-" \
        -print_final_stats=1 \
        ${FUZZ_ARGS:-} </dev/null >"$log" 2>&1 || status=$?
    execs=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    cov=$(grep -o 'cov: [0-9]* ft: [0-9]* corp: [0-9]*/[0-9]*[a-zA-Z]*' "$log" | tail -n 1)
    if [ "$status" -ne 0 ]; then
        failed=1
        line="$t: FAILED (exit $status), see $log and $out/artifacts/"
    else
        line="$t: ${execs:-?} exec/s, ${cov:-no coverage line}"
    fi
    echo "$line"
    summary+=("$line")
done

echo "== summary"
printf '%s\n' "${summary[@]}"
exit "$failed"
