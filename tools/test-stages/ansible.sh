#!/usr/bin/env bash
# The Ansible role (contrib/ansible): its example playbook run with ansible_connection=local
# against six hosts, each a folder of its own with its own emulated PC (machine file and flash
# files beside the emulator's access library): two good hosts, one whose second flash cannot be
# erased, one without a 270X controller, one whose flashes already hold the image, and one in a
# second batch that the failed host must keep from being written. The play runs twice (the
# second run changes nothing), then in check mode while another play holds one host's lock;
# ansible_check.py reads each run's JSON output and the hosts' files. Then ansible-lint where Debian has it, else a syntax check.
# Nothing here can restart the machine: the role's restart is off, and ansible.builtin.reboot
# refuses a local connection.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
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
cmake --build --preset release --target vlm270fwupdate vlmio_emulator vlm_program_folders >/dev/null

work=$(mktemp -d /tmp/vlm-ansible-XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 0755 "$work"
status=0
fail() {
    echo "ansible: FAILED: $*"
    status=1
}

# What the role copies: the program with the emulator's access library, and the image.
mkdir -m 0755 "$work/dist"
install -m 0755 "$build/demo/vlm270fwupdate" "$work/dist/"
install -m 0644 "$build/demo/libvlmio.so" "$work/dist/"
image=$work/VLM270_Option_ROM.rom
install -m 0644 "$build/demo/VLM270_Option_ROM.rom" "$image"
sha=$(sha256sum "$image" | cut -d' ' -f1)

# Each host's emulated PC: its machine file in the program folder the role copies into.
declare -A machine=(
    [good-1]="controller 02:00.0 part=MX25L(V)512(C) flash=flash-02.bin timing=instant
controller 03:00.0 part=W25X10B(C)L(V) member=2 flash=flash-03.bin timing=instant"
    [good-2]="controller 04:00.0 part=AT25F512A(B) member=3 flash=flash-04.bin timing=instant"
    [erase-fails]="controller 02:00.0 part=MX25L(V)512(C) flash=flash-02.bin timing=instant
controller 03:00.0 part=W25X10B(C)L(V) member=2 flash=flash-03.bin timing=instant fault=erase-fails"
    [no-270x]="device 00:1f.2 8086:2922"
    [current]="controller 02:00.0 part=MX25L(V)512(C) flash=flash-02.bin timing=instant"
    [late]="controller 02:00.0 part=MX25L(V)512(C) flash=flash-02.bin timing=instant"
)
hosts="good-1 good-2 erase-fails no-270x current late"
{
    echo "vlm270:"
    echo "  hosts:"
    for h in $hosts; do
        mkdir -p -m 0755 "$work/hosts/$h/program"
        printf '%s\n' "${machine[$h]}" >"$work/hosts/$h/program/emulated-pc.conf"
        echo "    $h:"
        echo "      vlm270fwupdate_folder: $work/hosts/$h/program"
        echo "      vlm270fwupdate_work_dir: $work/hosts/$h/work"
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
cp -a "$work/dist/." "$work/hosts/current/program/"
if ! "$work/hosts/current/program/vlm270fwupdate" -s --image "$image" >"$work/current.log" 2>&1; then
    fail "the program could not bring the host current up to date: $(cat "$work/current.log")"
fi

# Five hosts in the first batch, the sixth after them; one failed host stops the rollout.
play() {
    local name=$1
    shift
    local code=0
    ANSIBLE_STDOUT_CALLBACK=json ANSIBLE_LOCALHOST_WARNING=false ANSIBLE_NOCOLOR=1 \
        ANSIBLE_RETRY_FILES_ENABLED=false ANSIBLE_PIPELINING=true ANSIBLE_HOME="$work/ansible-home" \
        ansible-playbook -i "$work/inventory.yml" contrib/ansible/update.yml \
        -e '{"vlm270fwupdate_serial": [5, 1], "vlm270fwupdate_max_fail_percentage": 0}' \
        "$@" >"$work/$name.json" 2>"$work/$name.err" || code=$?
    echo "ansible: $name run ended with $code"
    python3 tools/test-stages/ansible_check.py "$name" "$work" "$image" "$code" README.md \
        contrib/ansible/roles/vlm270fwupdate/vars/main.yml || fail "the $name run: see above"
}
started=$(date +%s)
play first
play second
# good-1 back to its old firmware (a missing flash file is the old pattern): check mode writes
# nothing, fetches nothing, and reports good-1 as the host it would update, and late (never
# reached) as one it cannot probe yet. The role's lock of good-2 is held meanwhile, as by another
# play: good-2 fails with status 9, which does not stop this run (max_fail_percentage 100).
rm -f "$work/hosts/good-1/program"/flash-*.bin
exec 9>"$work/hosts/good-2/work/run.lock"
flock --nonblock 9
play check --check --limit good-1,good-2,late -e '{"vlm270fwupdate_max_fail_percentage": 100}'
exec 9>&-
echo "ansible: three runs took $(($(date +%s) - started)) s"

if command -v ansible-lint >/dev/null; then
    echo "ansible: ansible-lint $(ansible-lint --version 2>/dev/null | head -n 1 | sed 's/\x1b\[[0-9;]*m//g')"
    if ! (cd contrib/ansible && ANSIBLE_HOME="$work/ansible-home" ansible-lint --offline -p \
            update.yml roles/vlm270fwupdate >"$work/lint" 2>&1); then
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
