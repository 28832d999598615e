#!/usr/bin/env bash
# Builds and runs every test: the source checks (layers, formatting), Release,
# address/undefined sanitizers, thread sanitizer, then the stages under tools/test-stages/
# (fuzzing, Windows build and Wine tests, package, Ansible role).
#   --quick  the developer's own lane: the source checks, Release and the stages that need no
#            sanitizer build. CI and landing run the whole command.
# Every preset compiles through ccache (installed with the build group): a second run after a
# change recompiles only what changed, also in a build folder made afresh.
set -euo pipefail
cd "$(dirname "$0")/.."
presets=(release asan tsan)
# The stages that build with sanitizers, left out of the quick lane.
sanitizer_stages=(fuzz)
quick=0
for arg in "$@"; do
    case "$arg" in
        --quick) quick=1 ;;
        -h | --help)
            echo "Usage: tools/run-tests.sh [--quick]"
            echo "  --quick  source checks, Release and the stages that need no sanitizer build"
            exit 0
            ;;
        *)
            echo "run-tests: unknown argument $arg (usage: tools/run-tests.sh [--quick])" >&2
            exit 64
            ;;
    esac
done
[ $quick -eq 1 ] && presets=(release)
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
for preset in "${presets[@]}"; do
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
    name=$(basename "$stage" .sh)
    if [ $quick -eq 1 ] && [[ " ${sanitizer_stages[*]} " == *" $name "* ]]; then
        echo "=== $name: left out of the quick lane (sanitizer build) ==="
        continue
    fi
    echo "=== $name ==="
    if ! timed "$name stage" bash "$stage"; then status=1; fi
done
exit $status
