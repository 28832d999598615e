#!/usr/bin/env bash
# The hardware program folder (build/release/hardware/: the program and its sysfs access library)
# end to end, on a stand-in for /sys that the kernel serves through FUSE (tests/sysfs/): config
# files that behave like the kernel's, over the emulated PC's controllers and chips. Runs as
# root; fails where it cannot mount, never skips.
#
# The program's restart is real: every run has no system bus (DBUS_SYSTEM_BUS_ADDRESS names a
# socket that does not exist) and a PATH whose systemctl and systemd-inhibit only record their
# call; the stage asserts that no restart was asked for.
#
# Cases: a silent update of two controllers of different families beside a storage function
# that is not a 270X; --list, --list --backup, --verify; a kernel that refuses writes (status 7,
# flash untouched, the cause named; --list predicts 7; --verify says that no flash can be read,
# since every flash command is a configuration write, and ends with 7); a run killed while
# it reads a flash, then one that identifies the part and updates it; a function removed
# mid-update (the run ends, the controller is reported not updated with the refusal named).
set -euo pipefail
cd "$(dirname "$0")/../.."
tools/install-deps.sh build fuse
build=build/release
cmake --preset release >/dev/null
cmake --build --preset release --target vlm_sysfs_standin vlm_program_folders >/dev/null
standin=$PWD/$build/tests/vlm-sysfs-standin
[ -x "$standin" ] || { echo "sysfs: FAILED: no $standin (libfuse3-dev missing?)"; exit 1; }

work=$(mktemp -d /tmp/vlm-sysfs-XXXXXX)
chmod 0755 "$work"
mnt=$work/sys
standin_pid=
unmount() {
    if [ -n "$standin_pid" ]; then
        fusermount3 -u "$mnt" 2>/dev/null || true
        wait "$standin_pid" 2>/dev/null || true
        standin_pid=
    fi
}
trap 'unmount; rm -rf "$work"' EXIT
status=0
fail() {
    echo "sysfs: FAILED: $*"
    status=1
}

# The program folder: a copy of the hardware folder with the sample image, owned by root.
prog=$work/program
cp -a "$build/hardware" "$prog"
cp "$build/demo/VLM270_Option_ROM.rom" "$prog/"
chmod 0755 "$prog"
mkdir -p "$work/bin" "$work/backups" "$mnt"
printf '#!/bin/sh\necho "$*" >> %s/systemctl.calls\nexit 0\n' "$work" >"$work/bin/systemctl"
# Holds nothing: records the call, then runs the command it was given (the keep-awake's cat).
printf '#!/bin/sh\necho "$*" >> %s/inhibit.calls\nwhile [ $# -gt 0 ]; do case "$1" in --*) shift ;; *) break ;; esac; done\nexec "$@"\n' \
    "$work" >"$work/bin/systemd-inhibit"
chmod 0755 "$work/bin" "$work/bin/systemctl" "$work/bin/systemd-inhibit"
image=$prog/VLM270_Option_ROM.rom
image_bytes=$(stat -c %s "$image")

# Two controllers of different families, and a storage function (class 01) that is not a 270X.
cat >"$work/pc.conf" <<'EOF'
controller 02:00.0 part=MX25L(V)512(C) flash=flash-02.bin timing=instant
controller 03:00.0 part=W25X10B(C)L(V) member=2 flash=flash-03.bin timing=instant
device 05:00.0 8086:2922
EOF

# Mounts the stand-in with the given options; fails the stage when it cannot. The first
# argument, log or nolog: whether the emulated PC logs every register access to access.log
# (a write of its own each, which slows a run down).
mount_standin() {
    unmount
    local log=()
    : >"$work/access.log"
    [ "$1" = log ] && log=(--access-log "$work/access.log")
    shift
    "$standin" "$work/pc.conf" "$mnt" --class 05:00.0=010601 "${log[@]}" \
        --violations "$work/violations.log" "$@" 2>>"$work/standin.err" &
    standin_pid=$!
    for _ in $(seq 100); do
        mountpoint -q "$mnt" && return 0
        sleep 0.05
    done
    echo "sysfs: FAILED: the stand-in could not be mounted on $mnt"
    cat "$work/standin.err"
    exit 1
}

# Runs the program from its folder with the stand-in as /sys; its outputs in out and err. A run
# refused because this computer's update lock is held elsewhere (status 9) is run again.
run() {
    local rc
    for _ in $(seq 60); do
        rc=0
        env -i PATH="$work/bin:/usr/sbin:/usr/bin:/sbin:/bin" \
            DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/no-bus" VLMIO_SYSFS_ROOT="$mnt" \
            VLM270_EVENT_LOG="$work/events.log" "$prog/vlm270fwupdate" "$@" \
            >"$work/out" 2>"$work/err" </dev/null || rc=$?
        [ "$rc" -ne 9 ] && break
        sleep 2
    done
    return "$rc"
}

expect_status() {  # CASE WANT GOT
    [ "$3" -eq "$2" ] || fail "$1: exit status $3, not $2: $(cat "$work/err")"
}
expect_text() {  # CASE FILE TEXT
    grep -qF -- "$3" "$2" || fail "$1: no \"$3\" in $(basename "$2"): $(head -c 2000 "$2")"
}
holds_image() {  # FLASH-FILE
    cmp -s -n "$image_bytes" "$image" "$work/$1"
}
sums() { sha256sum "$work"/flash-0*.bin | awk '{print $1}' | tr '\n' ' '; }

case_update() {
    mount_standin nolog
    local rc=0
    run /s --json || rc=$?
    expect_status update 0 "$rc"
    expect_text update "$work/out" '"exit_status":0'
    unmount
    holds_image flash-02.bin || fail "update: flash-02.bin does not hold the image"
    holds_image flash-03.bin || fail "update: flash-03.bin does not hold the image"
}

case_read_only() {
    mount_standin nolog
    local rc=0
    run --list --json || rc=$?
    expect_status list 0 "$rc"
    expect_text list "$work/out" '"name":"MX25L(V)512(C)"'
    expect_text list "$work/out" '"name":"W25X10B(C)L(V)"'
    rc=0
    run --list --backup "$work/backups" || rc=$?
    expect_status backup 0 "$rc"
    [ "$(ls "$work/backups" | wc -l)" -eq 2 ] || fail "backup: not two backups: $(ls "$work/backups")"
    rc=0
    run --verify || rc=$?
    expect_status verify 0 "$rc"
    expect_text verify "$work/out" "matches"
    unmount
}

case_lockdown() {
    local before rc=0
    before=$(sums)
    mount_standin log --lockdown
    run /s || rc=$?
    expect_status lockdown 7 "$rc"
    expect_text lockdown "$work/err" "refuses every write to PCI configuration space"
    expect_text lockdown "$work/err" "Operation not permitted (EPERM)"
    expect_text lockdown "$work/err" "/sys/kernel/security/lockdown"
    expect_text lockdown "$work/err" "Secure Boot"
    if grep -q '^W ' "$work/access.log"; then fail "lockdown: a register was written"; fi
    rc=0
    run --list --json || rc=$?
    expect_status "lockdown --list" 7 "$rc"
    expect_text "lockdown --list" "$work/out" '"exit_status":7'
    expect_text "lockdown --list" "$work/out" "an update would be refused with exit status 7"
    expect_text "lockdown --list" "$work/out" '"result":"unreadable"'
    rc=0
    run --verify || rc=$?
    expect_status "lockdown --verify" 7 "$rc"
    expect_text "lockdown --verify" "$work/out" "no flash can be read, so none was checked"
    if grep -q "differs" "$work/out"; then fail "lockdown --verify: a flash is said to differ"; fi
    unmount
    [ "$(sums)" = "$before" ] || fail "lockdown: a flash file changed"
}

case_killed_read() {
    # The stand-in holds back its answer to the 2000th receive of a read (control register 0xF4,
    # a 4-byte transfer): the run is killed there, well into reading the first flash, with the
    # chip selected in the middle of a read command.
    local held=$work/held
    rm -f "$held"
    mount_standin log --hold "2000:02:00.0:f4=24:$held"
    env -i PATH="$work/bin:/usr/sbin:/usr/bin:/sbin:/bin" \
        DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/no-bus" VLMIO_SYSFS_ROOT="$mnt" \
        "$prog/vlm270fwupdate" --verify >/dev/null 2>&1 </dev/null &
    local pid=$! killed=0
    for _ in $(seq 1200); do
        [ -e "$held" ] && break
        sleep 0.05
    done
    [ -e "$held" ] || fail "killed read: the run never reached its 2000th read transfer"
    kill -KILL "$pid" 2>/dev/null || true
    rm -f "$held"
    wait "$pid" 2>/dev/null || killed=$?
    [ "$killed" -eq 137 ] || fail "killed read: the run was not killed mid-read (status $killed)"
    # The killed run left the read command open on the chip.
    local last
    last=$(grep ' 02:00.0 f4 1 ' "$work/access.log" | grep '^W' | tail -1)
    [ "$last" = "W 02:00.0 f4 1 00000024" ] || fail "killed read: no read was left open: $last"
    local rc=0
    run --list || rc=$?
    expect_status "after the killed read, --list" 0 "$rc"
    expect_text "after the killed read, --list" "$work/out" "MXIC MX25L(V)512(C)"
    rc=0
    run /s || rc=$?
    expect_status "after the killed read, the update" 0 "$rc"
    unmount
    holds_image flash-02.bin || fail "killed read: flash-02.bin does not hold the image"
}

case_removed() {
    # 03:00.0 goes away about half-way through its update.
    mount_standin nolog --remove-after 60000:03:00.0
    local rc=0
    : >"$work/events.log"
    run /s --json || rc=$?
    expect_status removed 5 "$rc"
    expect_text removed "$work/out" '"address":"0000:02:00.0","identifier_row":1'
    expect_text removed "$work/out" "No such device (ENODEV)"
    expect_text removed "$work/events.log" "refused an access to its configuration space"
    grep -q '"address":"0000:03:00.0".*"result":"not updated"' "$work/out" ||
        fail "removed: 0000:03:00.0 is not reported not updated: $(cat "$work/out")"
    unmount
}

cases=(update read_only lockdown killed_read removed)
for c in "${cases[@]}"; do
    started=$(date +%s%N)
    "case_$c"
    echo "sysfs: $c: $((($(date +%s%N) - started) / 1000000)) ms"
done

if [ -s "$work/systemctl.calls" ]; then fail "systemctl was called: $(cat "$work/systemctl.calls")"; fi
if grep -q '^write to' "$work/standin.err" 2>/dev/null; then
    fail "a function that is not a 270X was written: $(grep '^write to' "$work/standin.err")"
fi
if [ -s "$work/violations.log" ]; then fail "misuse of a bridge or chip: $(head "$work/violations.log")"; fi
[ "$status" -eq 0 ] && echo "sysfs: every case passed"
exit "$status"
