#!/usr/bin/env bash
# The Ansible role (contrib/ansible): its example playbook run with ansible_connection=local
# against eight hosts, each a folder of its own with its own emulated PC (machine file and flash
# files in the host's machine/ folder, given to every run of the program with VLMIO_EMULATOR):
# two good hosts, one whose second flash cannot be erased, one without a 270X controller (where
# an earlier run of the role left files), one whose flashes already hold the image (with a
# controller left out as expected), one where another play replaces the image just before the
# update (no backups), and, in the second batch that the failed hosts keep from being written, a
# fresh host and one with a controller the program leaves out (and an image for another
# controller). The play runs twice (the second
# run, on a good host, the current one and the one without a 270X, changes nothing), then in check mode, with the program as
# a Debian package, on good-2 (whose lock another play holds) and the two hosts of the second
# batch; ansible_check.py reads each run's JSON output and the hosts' files. Then ansible-lint
# (beside the runs) where Debian has it, else a syntax check.
# Nothing here can restart the machine: the role's restart is off, and ansible.builtin.reboot
# refuses a local connection.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=build/release

if [ "$(id -u)" -ne 0 ]; then
    echo "ansible: skipped: the program runs only as root"
    exit 0
fi
tools/install-deps.sh ansible >/dev/null
if ! command -v ansible-lint >/dev/null && apt-cache show ansible-lint >/dev/null 2>&1; then
    tools/install-deps.sh ansible-lint >/dev/null || true
fi

cmake --preset release >/dev/null
cmake --build --preset release --target vlm270fwupdate vlmio_emulator vlm_program_folders make_sample_image >/dev/null

work=$(mktemp -d /tmp/vlm-ansible-XXXXXX)
# VLM_KEEP=1 keeps the work folder (the runs' JSON output, the hosts' files) for a look afterwards.
trap '[ -n "${VLM_KEEP:-}" ] || rm -rf "$work"' EXIT
chmod 0755 "$work"
status=0
fail() {
    echo "ansible: FAILED: $*"
    status=1
}

# ansible-lint takes a while and needs nothing of the runs: it runs beside them.
lint=none
if command -v ansible-lint >/dev/null; then
    (cd contrib/ansible && ANSIBLE_HOME="$work/lint-home" ansible-lint --offline -p \
        update.yml roles/vlm270fwupdate >"$work/lint" 2>&1; echo $? >"$work/lint.status") &
    lint=$!
fi

# What the role copies: the program with the emulator's access library, and the image; the
# same program as a Debian package (holding what the role reads from it: the program folder).
mkdir -m 0755 "$work/dist" "$work/tmp" "$work/deb"
install -m 0755 "$build/demo/vlm270fwupdate" "$work/dist/"
install -m 0644 "$build/demo/libvlmio.so" "$work/dist/"
image=$work/VLM270_Option_ROM.rom
install -m 0644 "$build/demo/VLM270_Option_ROM.rom" "$image"
sha=$(sha256sum "$image" | cut -d' ' -f1)
mkdir -p -m 0755 "$work/deb/DEBIAN" "$work/deb/usr/lib/vlm270fwupdate"
cp -a "$work/dist/." "$work/deb/usr/lib/vlm270fwupdate/"
printf '%s\n' "Package: vlm270fwupdate" "Version: 1.0.2.0" "Architecture: amd64" \
    "Maintainer: Tests <tests@example.net>" "Description: the program folder for the role's tests" \
    >"$work/deb/DEBIAN/control"
package=$work/vlm270fwupdate_1.0.2.0_amd64.deb
dpkg-deb --root-owner-group -Zgzip -z1 --build "$work/deb" "$package" >/dev/null

# An image made for another member of the family only: refused for left-out's controller.
tools_dir=$build/tools
"$tools_dir/make_sample_image" "$work/other-device.rom" other-device
other_device_sha=$(sha256sum "$work/other-device.rom" | cut -d' ' -f1)

# Another play's image under the same name (two bytes far from its headers changed, the sum
# kept: still a well-formed option ROM for the same controllers), and
# the host swapped, which runs the program through a stand-in that copies that image over the
# play's just before the update, as a second play did when plays shared one image file.
python3 -c '
import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[0x1000], data[0x1001] = (data[0x1000] + 1) % 256, (data[0x1001] - 1) % 256
open(sys.argv[2], "wb").write(data)' "$image" "$work/other.rom"
mkdir -m 0755 "$work/swap-dist" "$work/swap-real"
cp -a "$work/dist/." "$work/swap-real/"
{
    echo '#!/bin/bash'
    echo 'image=; for a in "$@"; do [ "$prev" = --image ] && image=$a; prev=$a; done'
    echo "if [[ \" \$* \" == *' /s '* ]]; then cp '$work/other.rom' \"\$image\"; fi"
    echo "exec '$work/swap-real/vlm270fwupdate' \"\$@\""
} >"$work/swap-dist/vlm270fwupdate"
chmod 0755 "$work/swap-dist/vlm270fwupdate"

# Each host's emulated PC. A controller on bus 0x10 or 0x20 is one the program leaves out.
declare -A machine=(
    [good-1]="controller 02:00.0 part=MX25L(V)512(C) flash=flash-02.bin timing=instant
controller 03:00.0 part=W25X10B(C)L(V) member=2 flash=flash-03.bin timing=instant"
    [good-2]="controller 04:00.0 part=AT25F512A(B) member=3 flash=flash-04.bin timing=instant"
    [erase-fails]="controller 02:00.0 part=MX25L(V)512(C) flash=flash-02.bin timing=instant
controller 03:00.0 part=W25X10B(C)L(V) member=2 flash=flash-03.bin timing=instant fault=erase-fails"
    [no-270x]="device 00:1f.2 8086:2922"
    [current]="controller 02:00.0 part=MX25L(V)512(C) flash=flash-02.bin timing=instant
controller 20:00.0 part=MX25L(V)512(C) flash=flash-20.bin timing=instant"
    [swapped]="controller 02:00.0 part=MX25L(V)512(C) flash=flash-02.bin timing=instant"
    [late]="controller 02:00.0 part=MX25L(V)512(C) flash=flash-02.bin timing=instant
controller 20:00.0 part=MX25L(V)512(C) flash=flash-20.bin timing=instant"
    [left-out]="controller 02:00.0 part=MX25L(V)512(C) flash=flash-02.bin timing=instant
controller 10:00.0 part=MX25L(V)512(C) member=2 flash=flash-10.bin timing=instant"
)
declare -A extra=(
    [current]="vlm270fwupdate_allow_left_out: true"
    [swapped]="vlm270fwupdate_folder_src: $work/swap-dist
vlm270fwupdate_backup: false"
    [late]="vlm270fwupdate_allow_left_out: true"
    [left-out]="vlm270fwupdate_image_src: $work/other-device.rom
vlm270fwupdate_image_sha256: $other_device_sha"
)
hosts="good-1 good-2 erase-fails no-270x current swapped late left-out"
{
    echo "vlm270:"
    echo "  hosts:"
    for h in $hosts; do
        mkdir -p -m 0755 "$work/hosts/$h/machine"
        printf '%s\n' "${machine[$h]}" >"$work/hosts/$h/machine/emulated-pc.conf"
        echo "    $h:"
        echo "      vlm270fwupdate_folder: $work/hosts/$h/program"
        echo "      vlm270fwupdate_work_dir: $work/hosts/$h/work"
        echo "      vlm270fwupdate_environment: {VLMIO_EMULATOR: $work/hosts/$h/machine/emulated-pc.conf}"
        [ -n "${extra[$h]:-}" ] && printf '%s\n' "${extra[$h]}" | sed 's/^/      /'
    done
    cat <<EOF
  vars:
    ansible_connection: local
    ansible_python_interpreter: /usr/bin/python3
    ansible_become: false
    vlm270fwupdate_source: folder
    vlm270fwupdate_folder_src: $work/dist
    vlm270fwupdate_image_src: $image
    vlm270fwupdate_image_sha256: $sha
    vlm270fwupdate_backup: true
    vlm270fwupdate_backup_fetch_dir: $work/fetched
    vlm270fwupdate_reboot: false
EOF
} >"$work/inventory.yml"

# The host whose flashes already hold the image: updated once by the program itself.
mkdir -m 0755 "$work/hosts/current/program"
cp -a "$work/dist/." "$work/hosts/current/program/"
if ! VLMIO_EMULATOR="$work/hosts/current/machine/emulated-pc.conf" \
    "$work/hosts/current/program/vlm270fwupdate" -s --image "$image" >"$work/current.log" 2>&1; then
    fail "the program could not bring the host current up to date: $(cat "$work/current.log")"
fi
# What an earlier run of the role left on the host without a 270X, a file of someone else's in
# the program folder, and a backup of earlier days.
mkdir -m 0755 "$work/hosts/no-270x/program"
mkdir -p -m 0700 "$work/hosts/no-270x/work/backups"
cp -a "$work/dist/." "$work/hosts/no-270x/program/"
echo "not the role's" >"$work/hosts/no-270x/program/notes.txt"
cp "$image" "$work/hosts/no-270x/work/"
cp "$image" "$work/hosts/no-270x/work/backups/02-00-0-old.rom"

# Six hosts in the first batch, then one at a time; a failed host stops the rollout. Temporary
# folders of the runs go to $work/tmp, which must be empty after each run. Ansible looks for
# its workers' results every 10 ms instead of every 1 ms: the same runs for less processor time.
play() {
    local name=$1
    shift
    local code=0
    ANSIBLE_STDOUT_CALLBACK=json ANSIBLE_LOCALHOST_WARNING=false ANSIBLE_NOCOLOR=1 \
        ANSIBLE_RETRY_FILES_ENABLED=false ANSIBLE_PIPELINING=true ANSIBLE_HOME="$work/ansible-home" \
        ANSIBLE_FORKS=6 ANSIBLE_INTERNAL_POLL_INTERVAL=0.01 TMPDIR="$work/tmp" \
        ansible-playbook -i "$work/inventory.yml" contrib/ansible/update.yml \
        -e '{"vlm270fwupdate_serial": [6, 1], "vlm270fwupdate_max_fail_percentage": 0}' \
        "$@" >"$work/$name.json" 2>"$work/$name.err" || code=$?
    echo "ansible: $name run ended with $code"
    python3 tools/test-stages/ansible_check.py "$name" "$work" "$image" "$code" README.md \
        contrib/ansible/roles/vlm270fwupdate/vars/main.yml || fail "the $name run: see above"
}
started=$(date +%s)
play first
play second --limit good-1,no-270x,current
# Check mode writes, installs and fetches nothing, reports late as a host it would update, and
# fails left-out. The role's lock of good-2 is held meanwhile, as by another play: good-2 fails
# with status 9, which does not stop this run (max_fail_percentage 100). The program comes as a
# Debian package this time, unpacked in each play's folder.
exec 9>"$work/hosts/good-2/work/run.lock"
flock --nonblock 9
play check --check --limit good-2,late,left-out -e '{"vlm270fwupdate_max_fail_percentage": 100}' \
    -e "{\"vlm270fwupdate_source\": \"package\", \"vlm270fwupdate_package_src\": \"$package\"}"
exec 9>&-
echo "ansible: three runs took $(($(date +%s) - started)) s"

if [ "$lint" != none ]; then
    wait "$lint" || true
    echo "ansible: ansible-lint $(ansible-lint --version 2>/dev/null | head -n 1 | sed 's/\x1b\[[0-9;]*m//g')"
    if [ "$(cat "$work/lint.status" 2>/dev/null)" != 0 ]; then
        sed 's/^/    /' "$work/lint"
        fail "ansible-lint reports findings"
    fi
else
    echo "ansible: ansible-lint is not in this Debian: ansible-playbook --syntax-check instead"
fi
(cd contrib/ansible && ansible-playbook -i inventory.example.yml --syntax-check update.yml >"$work/syntax" 2>&1) ||
    fail "syntax check: $(cat "$work/syntax")"

[ $status -eq 0 ] && echo "ansible: the role updates, skips, stops and reports as expected"
exit $status
