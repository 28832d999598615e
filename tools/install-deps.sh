#!/usr/bin/env bash
# Installs, with apt-get, whatever of the named groups is missing.
#   build: compiler, CMake, Ninja, GoogleTest, Google Benchmark, clang-format, the journal's
#          client library, libcrypto (SHA-256) and nlohmann-json (the JSON report)
#   extra: clang (fuzzing), tmux (terminal tests), systemd (a private journald for the journal
#          test), dbus-daemon (a private system bus for the keep-awake test), lintian (the
#          package's check)
#   windows: MinGW-w64, Wine, Xvfb
#   ansible: ansible-core, and Debian's collection bundle for its JSON output callback
#   ansible-lint: ansible-lint (where Debian has it)
set -euo pipefail
want=()
for group in "$@"; do
    case "$group" in
        build) want+=(g++ cmake ninja-build libgtest-dev libgmock-dev libbenchmark-dev pkg-config
                      clang-format libsystemd-dev libssl-dev nlohmann-json3-dev) ;;
        extra) want+=(clang libclang-rt-14-dev tmux systemd dbus-daemon lintian) ;;
        windows) want+=(g++-mingw-w64-x86-64 wine64 xvfb) ;;
        ansible) want+=(ansible-core ansible) ;;
        ansible-lint) want+=(ansible-lint) ;;
        *) echo "install-deps: unknown group $group" >&2; exit 2 ;;
    esac
done
missing=()
for p in "${want[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    echo "install-deps: installing ${missing[*]}"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
