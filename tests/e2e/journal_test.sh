#!/usr/bin/env bash
# The Linux program's records in a real systemd journal: a journald of its own, started in a
# private mount namespace (as root) with its sockets and files on a tmpfs, so that the machine's
# own journal is never touched. One silent run on the emulated PC updates one controller and
# fails the other; then "journalctl -t vlm270fwupdate" must show every outcome with its fields,
# and VLM270_EVENT_LOG must hold the diagnostic lines exactly as written.
# Exit 77 (skipped) only where such a journald cannot be started, saying why.
set -uo pipefail
demo=${1:?usage: journal_test.sh DEMO_FOLDER MAKE_SAMPLE_IMAGE}
make_sample=${2:?usage: journal_test.sh DEMO_FOLDER MAKE_SAMPLE_IMAGE}
skip() { echo "SKIPPED: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "not root: a private journald needs root"
journald=/lib/systemd/systemd-journald
[ -x "$journald" ] || skip "no $journald (Debian package systemd)"
command -v journalctl >/dev/null || skip "no journalctl"
command -v unshare >/dev/null || skip "no unshare"
unshare -m true 2>/dev/null || skip "no private mount namespace here"

work=$(mktemp -d /tmp/vlm-journal-XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 0755 "$work"
cp -a "$demo" "$work/program"
chmod 0755 "$work/program"
rm -f "$work/program"/flash-*.bin
cat >"$work/program/emulated-pc.conf" <<'CONF'
controller 02:00.0 part=MX25L(V)512(C) flash=flash-02-00-0.bin timing=instant
controller 03:00.0 part=W25X10B(C)L(V) member=2 flash=flash-03-00-0.bin timing=instant fault=erase-fails
CONF

"$make_sample" "$work/other.rom" other-device || { echo "FAILED: no sample image"; exit 1; }
export work
unshare -m --propagation private bash -s <<'INNER'
set -uo pipefail
fail() { echo "FAILED: $*"; exit 1; }
mount -t tmpfs tmpfs /run || { echo "SKIPPED: cannot mount a tmpfs on /run"; exit 77; }
mkdir -p /run/systemd/journal /run/log/journal
if [ -d /var/log/journal ]; then mount -t tmpfs tmpfs /var/log/journal; fi
/lib/systemd/systemd-journald >"$work/journald.out" 2>&1 &
journald=$!
trap 'kill $journald 2>/dev/null; wait $journald 2>/dev/null' EXIT
for _ in $(seq 100); do [ -S /run/systemd/journal/socket ] && break; sleep 0.1; done
if [ ! -S /run/systemd/journal/socket ]; then
    echo "SKIPPED: systemd-journald did not start:"; cat "$work/journald.out"; exit 77
fi

cd "$work"
VLM270_EVENT_LOG="$work/events.log" program/vlm270fwupdate /s 2>"$work/stderr"
status=$?
[ $status -eq 5 ] || fail "exit status $status, not 5 (a controller not updated)"
sha=$(sha256sum program/VLM270_Option_ROM.rom | cut -c1-64)

# The journal takes records asynchronously: wait until both outcomes are there.
for _ in $(seq 50); do
    journalctl -t vlm270fwupdate -o json --no-pager >"$work/records" 2>/dev/null
    [ "$(grep -c '"VLM270_STEP":"outcome"' "$work/records")" -ge 2 ] && break
    sleep 0.1
done
records=$(wc -l <"$work/records")
[ "$records" -ge 5 ] || fail "journalctl -t vlm270fwupdate found $records records"

# One record of the first failed blank check: its message without the CR/LF framing (text, not
# bytes), the verbatim line, the event source and the structured fields in fields of their own.
line=$(grep -F 'BlankCheck Fail!!, ucRetry[0] "' "$work/records") ||
    fail "no blank-check record: $(cat "$work/records")"
for field in \
    '"MESSAGE":"CInterctl::Update_Firmware:1317: ucTargetNumber[1], BlankCheck Fail!!, ucRetry[0] "' \
    '"VLM270_EVENT_LINE":[13,10,67,73,110' \
    '"VLM270_EVENT_SOURCE":"VLMT 270X MP Tool"' \
    '"SYSLOG_IDENTIFIER":"vlm270fwupdate"' \
    '"PRIORITY":"3"' \
    '"VLM270_CONTROLLER":"0000:03:00.0"' \
    '"VLM270_PART":"WinBond:[W25X10B(C)L(V)]"' \
    '"VLM270_STEP":"blank-check"' \
    '"VLM270_RESULT":"-3"' \
    '"CODE_FUNC":"CInterctl::Update_Firmware"' \
    '"CODE_LINE":"1317"'; do
    grep -qF -- "$field" <<<"$line" || fail "the blank-check record lacks $field: $line"
done

# One outcome record per controller: updated with the image's SHA-256, or not updated.
[ "$(grep -c '"VLM270_STEP":"outcome"' "$work/records")" -eq 2 ] || fail "not two outcome records"
updated=$(grep -F '"MESSAGE":"0000:02:00.0 updated' "$work/records") || fail "no success record"
for field in "\"VLM270_IMAGE_SHA256\":\"$sha\"" '"VLM270_OUTCOME":"updated"' '"VLM270_RESULT":"0"' \
    '"PRIORITY":"5"' '"VLM270_ATTEMPTS":"1"' "sha256 $sha\""; do
    grep -qF -- "$field" <<<"$updated" || fail "the success record lacks $field: $updated"
done
failed=$(grep -F '"MESSAGE":"0000:03:00.0 not updated' "$work/records") || fail "no failure record"
for field in '"VLM270_OUTCOME":"not-updated"' '"VLM270_RESULT":"-3"' '"PRIORITY":"3"'; do
    grep -qF -- "$field" <<<"$failed" || fail "the failure record lacks $field: $failed"
done

# VLM270_EVENT_LOG: the diagnostic lines as written (CR/LF and trailing blanks kept), each
# followed by a line feed, and nothing else (no outcome records).
expected="$work/expected.log"
: >"$expected"
for retry in 0 1 2; do
    printf '\r\nCInterctl::Update_Firmware:1317: ucTargetNumber[1], BlankCheck Fail!!, ucRetry[%d] \n' \
        "$retry" >>"$expected"
done
cmp -s "$expected" "$work/events.log" || fail "VLM270_EVENT_LOG differs: $(od -c "$work/events.log" | head)"

# An image made for another device, written with --force: the journal says so, in the check's
# own record and in the outcome's field.
program/vlm270fwupdate -s --controller 02:00.0 --image "$work/other.rom" --force 2>"$work/stderr"
status=$?
[ $status -eq 0 ] || fail "the forced run ended with $status: $(cat "$work/stderr")"
for _ in $(seq 50); do
    journalctl -t vlm270fwupdate -o json --no-pager >"$work/records" 2>/dev/null
    grep -qF '"VLM270_FORCED":' "$work/records" && break
    sleep 0.1
done
forced=$(grep -F '"MESSAGE":"0000:02:00.0 updated' "$work/records" | grep -F '"VLM270_FORCED":') ||
    fail "no forced outcome record: $(cat "$work/records")"
grep -qF '"VLM270_FORCED":"the image is for ' <<<"$forced" || fail "VLM270_FORCED: $forced"
check=$(grep -F '"VLM270_STEP":"image-check"' "$work/records") || fail "no image-check record"
grep -qF -- '--force writes it anyway' <<<"$check" || fail "the image-check record: $check"
echo "journal: $records records, every outcome with its fields"
INNER
