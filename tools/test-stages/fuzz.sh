#!/usr/bin/env bash
# Bounded fuzzing of the RTF reader with libFuzzer, where clang is present.
set -euo pipefail
cd "$(dirname "$0")/../.."
if ! command -v clang++ >/dev/null; then
    echo "fuzz: clang++ not found, skipped"
    exit 0
fi
out=build/fuzz
mkdir -p "$out/corpus"
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -I. \
    tests/fuzz/rtf_fuzz.cpp framework/rtf_text.cpp -o "$out/rtf_fuzz"
cp tools/sample/*.rtf "$out/corpus/" 2>/dev/null || true
cp tests/data/rtf/*.rtf "$out/corpus/" 2>/dev/null || true
"$out/rtf_fuzz" -max_total_time="${VLM_FUZZ_SECONDS:-30}" -max_len=8192 -print_final_stats=1 \
    "$out/corpus" 2>&1 | tail -n 12
