#!/usr/bin/env bash
# Bounded fuzzing with libFuzzer, where clang is present: the RTF reader, the emulated PC's
# machine-file parser and the option ROM reader, VLM_FUZZ_SECONDS (default 25) each.
set -euo pipefail
cd "$(dirname "$0")/../.."
if ! command -v clang++ >/dev/null; then
    echo "fuzz: clang++ not found, skipped"
    exit 0
fi
out=build/fuzz
seconds=${VLM_FUZZ_SECONDS:-25}
flags=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -I.)

# run NAME MAX_LEN: runs build/fuzz/NAME on its corpus folder for the bounded time.
run() {
    echo "fuzz: $1 for $seconds s"
    "$out/$1" -max_total_time="$seconds" -max_len="$2" -print_final_stats=1 "$out/$1-corpus" \
        2>&1 | tail -n 12
}

# build NAME SOURCE...: compiles each source on its own, through ccache where it is installed (a
# second run compiles only what changed), then links build/fuzz/NAME from the objects.
launcher=()
if command -v ccache >/dev/null; then launcher=(ccache); fi
build() {
    local name=$1 source object objects=()
    shift
    for source in "$@"; do
        object=$out/objects/${source//\//-}.o
        "${launcher[@]}" clang++ "${flags[@]}" -c "$source" -o "$object"
        objects+=("$object")
    done
    clang++ "${flags[@]}" "${objects[@]}" -o "$out/$name"
}

mkdir -p "$out/rtf_fuzz-corpus" "$out/machine_file_fuzz-corpus" "$out/objects"
build rtf_fuzz tests/fuzz/rtf_fuzz.cpp framework/rtf_text.cpp
cp tools/sample/*.rtf "$out/rtf_fuzz-corpus/" 2>/dev/null || true
cp tests/data/rtf/*.rtf "$out/rtf_fuzz-corpus/" 2>/dev/null || true
run rtf_fuzz 8192

# The emulated PC reads its machine file and writes its flash files through the platform layer.
build machine_file_fuzz tests/fuzz/machine_file_fuzz.cpp emulator/*.cpp \
    framework/posix/file_posix.cpp framework/posix/platform_posix.cpp
cp tools/sample/emulated-pc.conf tests/data/machine/*.conf "$out/machine_file_fuzz-corpus/"
run machine_file_fuzz 4096

# The option ROM reader, on the sample maker's images (each kind) and a chain of them.
mkdir -p "$out/option_rom_fuzz-corpus"
clang++ "${flags[@]}" tests/fuzz/option_rom_fuzz.cpp util/option_rom.cpp -o "$out/option_rom_fuzz"
clang++ -std=c++20 -O1 -I. tools/make_sample_image.cpp tools/option_rom_builder.cpp \
    pci/controller_ids.cpp -o "$out/make_sample_image"
for kind in demo other-device device-list chain bad-checksum truncated-pcir text; do
    "$out/make_sample_image" "$out/option_rom_fuzz-corpus/$kind.rom" "$kind"
done
run option_rom_fuzz 131072
