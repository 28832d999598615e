#!/usr/bin/env bash
# Builds and runs every test: the source checks (layers, formatting), Release,
# address/undefined sanitizers, thread sanitizer, then the stages under tools/test-stages/
# (fuzzing, Windows build and Wine tests).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh build extra fuse
jobs=$(nproc)
status=0

# Runs a step and prints how long it took: wall time, and the CPU time (user and system) of the
# processes it ran, from the count the shell keeps of its children (`times`, second line; run in
# this shell, not in a subshell, whose count would start afresh).
cpu_file=$(mktemp)
trap 'rm -f "$cpu_file"' EXIT
children_cpu_tenths() {
    awk 'NR == 2 { split($1 " " $2, t, /[ms ]+/); printf "%d", (t[1] * 60 + t[2] + t[3] * 60 + t[4]) * 10 }' "$cpu_file"
}
timed() {
    local name=$1 started cpu rc=0
    shift
    started=$(date +%s%N)
    times >"$cpu_file"
    cpu=$(children_cpu_tenths)
    "$@" || rc=$?
    local wall=$((($(date +%s%N) - started) / 100000000))
    times >"$cpu_file"
    local used=$(($(children_cpu_tenths) - cpu))
    echo "--- $name: $((wall / 10)).$((wall % 10)) s wall, $((used / 10)).$((used % 10)) s CPU"
    return $rc
}
echo "=== source checks ==="
tools/check-layers.sh || status=1
tools/check-format.sh || status=1
for preset in release asan tsan; do
    echo "=== $preset ==="
    cmake --preset "$preset" >/dev/null
    timed "$preset build" cmake --build --preset "$preset" -j "$jobs"
    export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
    export ASAN_OPTIONS="detect_leaks=1"
    export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1"
    if ! timed "$preset tests" ctest --preset "$preset" -j "$jobs"; then status=1; fi
done
for stage in tools/test-stages/*.sh; do
    [ -e "$stage" ] || continue
    echo "=== $(basename "$stage" .sh) ==="
    if ! timed "$(basename "$stage" .sh) stage" bash "$stage"; then status=1; fi
done
exit $status
