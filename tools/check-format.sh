#!/usr/bin/env bash
# Fails when a C++ file of the tree differs from what clang-format makes of it (.clang-format).
set -euo pipefail
cd "$(dirname "$0")/.."
formatter=$(command -v clang-format || command -v clang-format-14 || true)
if [ -z "$formatter" ]; then
    echo "check-format: clang-format is not installed (tools/install-deps.sh build)" >&2
    exit 1
fi
bad=()
while IFS= read -r file; do
    "$formatter" --style=file "$file" | cmp -s - "$file" || bad+=("$file")
done < <(git ls-files -- '*.cpp' '*.h' '*.c')
if [ ${#bad[@]} -gt 0 ]; then
    echo "check-format: ${#bad[@]} file(s) differ from .clang-format; run:" >&2
    echo "  $formatter -i --style=file ${bad[*]}" >&2
    exit 1
fi
echo "check-format: every C++ file is formatted"
