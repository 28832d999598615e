#!/usr/bin/env bash
# The Debian package: built with CPack from the Release build, unpacked into a temporary root
# (dpkg -x), its files, owners and modes checked, its dependencies checked against the libraries
# the program is linked with and the programs it runs, its version checked for a Debian revision,
# and the program run from there: --help, --list with its own (sysfs) access library, and --list
# on the emulated PC (the demonstration's library put in its place). Then lintian -I --pedantic,
# where Debian's lintian is installed: its findings are printed, and an error or a hardening tag
# fails the stage.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=build/release
cmake --preset release >/dev/null
cmake --build --preset release --target vlm_package_files vlm_program_folders >/dev/null

work=$(mktemp -d /tmp/vlm-package-XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 0755 "$work"
status=0
fail() {
    echo "package: FAILED: $*"
    status=1
}

(cd "$build" && cpack -G DEB -B "$work/out" >/dev/null)
deb=$(ls "$work"/out/vlm270fwupdate_*_amd64.deb)
echo "package: $(basename "$deb")"

# Files, owners and modes as the package holds them.
dpkg-deb -c "$deb" | awk '{line = $1 " " $2 " " $6; if (NF > 6) line = line " " $7 " " $8; print line}' \
    >"$work/contents"
expected="drwxr-xr-x root/root ./usr/lib/vlm270fwupdate/
-rwxr-xr-x root/root ./usr/lib/vlm270fwupdate/vlm270fwupdate
-rw-r--r-- root/root ./usr/lib/vlm270fwupdate/libvlmio.so
lrwxrwxrwx root/root ./usr/sbin/vlm270fwupdate -> ../lib/vlm270fwupdate/vlm270fwupdate
-rw-r--r-- root/root ./usr/share/man/man8/vlm270fwupdate.8.gz
-rw-r--r-- root/root ./usr/share/bash-completion/completions/vlm270fwupdate
-rw-r--r-- root/root ./usr/share/doc/vlm270fwupdate/copyright
-rw-r--r-- root/root ./usr/share/doc/vlm270fwupdate/changelog.Debian.gz
-rw-r--r-- root/root ./usr/share/doc/vlm270fwupdate/json-report.md"
while IFS= read -r line; do
    grep -qxF -- "$line" "$work/contents" || fail "no \"$line\" in the package"
done <<<"$expected"
if awk '$2 != "root/root"' "$work/contents" | grep -q .; then
    fail "entries not owned by root: $(awk '$2 != "root/root"' "$work/contents")"
fi
if grep -E '^.{5}w|^.{8}w' "$work/contents" | grep -v '^l' | grep -q .; then
    fail "entries writable by group or others"
fi

dpkg -x "$deb" "$work/root"

# The version is the program's with the package's own revision, as the changelog's last entry.
version=$(dpkg-deb -f "$deb" Version)
program_version=$(sed -n 's/^project(vlm270fwupdate VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[[ "$version" =~ ^${program_version//./\\.}-[0-9]+$ ]] ||
    fail "version $version is not $program_version with a Debian revision"
zcat "$work/root/usr/share/doc/vlm270fwupdate/changelog.Debian.gz" 2>/dev/null |
    head -n 1 | grep -qF "vlm270fwupdate ($version)" || fail "the changelog's last entry is not $version"

# Every library the program and its access library need comes from a package it depends on.
depends=$(dpkg-deb -f "$deb" Depends)
program=$work/root/usr/lib/vlm270fwupdate
for elf in "$program/vlm270fwupdate" "$program/libvlmio.so"; do
    for lib in $(objdump -p "$elf" | awk '/NEEDED/ {print $2}'); do
        path=$(ldconfig -p | awk -v l="$lib" '$1 == l && !found {print $NF; found = 1}')
        owner=""
        for candidate in "$path" "$(readlink -f "$path")"; do
            [ -n "$owner" ] || owner=$( (dpkg -S "$candidate" 2>/dev/null || true) | awk -F: "NR == 1 {print \$1}")
        done
        case ", $depends," in
            *", $owner "* | *", $owner,"*) ;;
            *) fail "$(basename "$elf") needs $lib from ${owner:-an unknown package}, not in Depends: $depends" ;;
        esac
    done
done

# The programs it runs (the restart, the lock against sleep where no system bus answers) come from
# a package it depends on or recommends.
declared="$depends, $(dpkg-deb -f "$deb" Recommends)"
for tool in systemctl systemd-inhibit; do
    path=$(command -v "$tool" || true)
    [ -n "$path" ] || { fail "$tool is not installed here: its package cannot be checked"; continue; }
    owner=""
    for candidate in "$path" "$(readlink -f "$path")" "/usr$path" "${path#/usr}"; do
        [ -n "$owner" ] || owner=$( (dpkg -S "$candidate" 2>/dev/null || true) | awk -F: "NR == 1 {print \$1}")
    done
    case ", $declared," in
        *", $owner "* | *", $owner,"*) ;;
        *) fail "the program runs $tool from ${owner:-an unknown package}, neither in Depends nor Recommends: $declared" ;;
    esac
done

# The program runs from the unpacked root, through its link.
link=$work/root/usr/sbin/vlm270fwupdate
[ "$(readlink -f "$link")" = "$program/vlm270fwupdate" ] || fail "the link does not lead to the program"
"$link" --help >"$work/help" || fail "--help ended with $?"
grep -q '^Usage: vlm270fwupdate' "$work/help" || fail "--help printed no usage"
zcat "$work/root/usr/share/man/man8/vlm270fwupdate.8.gz" | grep -q '^\.TH VLM270FWUPDATE 8' ||
    fail "the manual page is not vlm270fwupdate(8)"
bash -n "$work/root/usr/share/bash-completion/completions/vlm270fwupdate" ||
    fail "the bash completion does not parse"

if [ "$(id -u)" -eq 0 ]; then
    # Its own access library: this machine's /sys, where no 270X controller is.
    set +e
    (cd "$work" && "$link" --list >"$work/list-sysfs" 2>&1)
    code=$?
    set -e
    [ $code -eq 1 ] || fail "--list on this machine's /sys ended with $code: $(cat "$work/list-sysfs")"
    # The emulated PC in its place.
    install -m 0644 "$build/emulator/libvlmio.so" "$program/libvlmio.so"
    sed 's/$/ timing=instant/' "$build/demo/emulated-pc.conf" | grep '^controller' \
        >"$program/emulated-pc.conf"
    install -m 0644 "$build/demo/VLM270_Option_ROM.rom" "$program/"
    set +e
    (cd "$work" && "$link" --list >"$work/list" 2>&1)
    code=$?
    set -e
    [ $code -eq 0 ] || fail "--list on the emulated PC ended with $code: $(cat "$work/list")"
    grep -q '^0000:02:00.0  270X identifier row 1' "$work/list" || fail "--list: $(cat "$work/list")"
    grep -q "^image: $program/VLM270_Option_ROM.rom" "$work/list" || fail "--list named no image"
else
    echo "package: not root: the program's --list runs are left out"
fi

if command -v lintian >/dev/null; then
    echo "package: lintian -I --pedantic findings:"
    lintian -I --pedantic --tag-display-limit 0 "$deb" | sed 's/^/    /' | tee "$work/lintian" || true
    if grep -q '^    E:' "$work/lintian"; then fail "lintian reports errors"; fi
    if grep -q '^    [A-Z]: [^ ]*: hardening-' "$work/lintian"; then fail "lintian reports hardening tags"; fi
else
    echo "package: lintian is not installed: not run"
fi

[ $status -eq 0 ] && echo "package: files, modes, dependencies and runs as expected"
exit $status
