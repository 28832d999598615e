#!/usr/bin/env bash
# The demonstration: installs what the build needs, builds, runs the program in silent mode on the
# emulated PC of build/demo/ (as root: with sudo when not root), then reports the outcome: the
# exit status with its meaning, and each emulated flash file checked against the image.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh build
generator=()
[ -f build/CMakeCache.txt ] || generator=(-G Ninja)
cmake -S . -B build "${generator[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target vlm_program_folders -j "$(nproc)"

demo=build/demo
image=$(ls "$demo"/*.rom | head -n 1)
# Fresh emulated chips: each starts with the old-firmware pattern again.
rm -f "$demo"/flash-*.bin

echo
echo "=== Running $demo/vlm270fwupdate /s on the emulated PC ($demo/emulated-pc.conf) ==="
status=0
if [ "$(id -u)" -eq 0 ]; then
    "$demo/vlm270fwupdate" /s || status=$?
else
    sudo "$demo/vlm270fwupdate" /s || status=$?
fi

case $status in
    0) meaning="every controller updated" ;;
    1) meaning="controller not ready" ;;
    2) meaning="image not found" ;;
    3) meaning="image load failed" ;;
    4) meaning="time-out" ;;
    5) meaning="host not ready (a controller not updated)" ;;
    6) meaning="licence not accepted, or no terminal to ask it on" ;;
    7) meaning="access library missing or refused, driver not loaded, or not administrator" ;;
    8) meaning="an unexpected failure" ;;
    9) meaning="another update is in progress on this computer" ;;
    *) meaning="unknown" ;;
esac
echo
echo "Exit status: $status ($meaning)"

size=$(stat -c %s "$image")
checked=0
mismatched=0
for line in $(sed -n 's/^controller[[:space:]]\+\([0-9a-fA-F:.]*\).*flash=\([^[:space:]]*\).*/\1=\2/p' \
        "$demo/emulated-pc.conf"); do
    where=${line%%=*}
    file=$demo/${line#*=}
    checked=$((checked + 1))
    if [ ! -f "$file" ]; then
        echo "Controller $where: $file was not written"
        mismatched=$((mismatched + 1))
    elif cmp -s -n "$size" "$image" "$file"; then
        echo "Controller $where: $file holds the image ($(basename "$image"), $size bytes)"
    else
        echo "Controller $where: $file does NOT hold the image"
        mismatched=$((mismatched + 1))
    fi
done
echo "$((checked - mismatched)) of $checked emulated flash chips hold the image."
[ "$status" -eq 0 ] && [ "$mismatched" -eq 0 ]
