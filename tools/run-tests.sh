#!/usr/bin/env bash
# Builds and runs every test: the source checks (layers, formatting), Release,
# address/undefined sanitizers, thread sanitizer, then the stages under tools/test-stages/
# (fuzzing, Windows build and Wine tests).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh build extra
jobs=$(nproc)
status=0
echo "=== source checks ==="
tools/check-layers.sh || status=1
tools/check-format.sh || status=1
for preset in release asan tsan; do
    echo "=== $preset ==="
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
    export ASAN_OPTIONS="detect_leaks=1"
    export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1"
    if ! ctest --preset "$preset" -j "$jobs"; then status=1; fi
done
for stage in tools/test-stages/*.sh; do
    [ -e "$stage" ] || continue
    echo "=== $(basename "$stage" .sh) ==="
    if ! bash "$stage"; then status=1; fi
done
exit $status
