#!/usr/bin/env bash
# The Windows program: MinGW-w64 build (preset mingw), then its tests under Wine inside Xvfb.
# One Wine prefix is prepared once (build/wine/template). The cases run in lanes (two by default,
# VLM_WINE_LANES): each lane has its own Xvfb display and its own copy of the prefix, whose Wine
# server it keeps running from one case to the next; after a case with a failure the lane's
# server is restarted, so that nothing a failed case left behind reaches the next. Each case
# prints PASS or FAIL with what it checked and how long it took; the stage prints the cases in
# their order and exits 1 when any check failed (a case is never run again, so an intermittent
# failure fails the stage as a steady one does). Where MinGW-w64, Wine or Xvfb cannot be
# installed, the stage says so and is skipped.
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

skip() {
    echo "windows: skipped: $*"
    exit 0
}

tools/install-deps.sh windows >/dev/null 2>&1 || true
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
[ -x "$wineserver" ] || wineserver=/usr/lib/wine/wineserver
command -v x86_64-w64-mingw32-g++-posix >/dev/null || skip "MinGW-w64 (g++-mingw-w64-x86-64) is not installed"
[ -x "$wine" ] || skip "Wine (wine64) is not installed"
command -v Xvfb >/dev/null || skip "Xvfb (xvfb) is not installed"

echo "windows: building the mingw preset"
if ! { cmake --preset mingw >/dev/null && cmake --build --preset mingw -j "$(nproc)" >build/mingw-build.log 2>&1; }; then
    tail -n 40 build/mingw-build.log 2>/dev/null
    echo "FAIL: the Windows build"
    exit 1
fi
bin=$root/build/mingw
work=$root/build/wine
mkdir -p "$work"

# ---- Displays and Wine prefixes ---------------------------------------------------------------

# What the stage started, ended on exit whatever happens.
xvfb_pids=()
lane_prefixes=()
cleanup() {
    for prefix in "${lane_prefixes[@]}"; do
        WINEPREFIX=$prefix timeout 30 "$wineserver" -k >/dev/null 2>&1
    done
    for pid in "${xvfb_pids[@]}"; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
}
trap cleanup EXIT

# Starts Xvfb on the first free display number, kept in display_started. Xvfb writes the number
# to the ready file once it takes connections; a number taken meanwhile by another server makes
# Xvfb end, and the next one is tried.
start_display() {
    local ready=$work/xvfb-ready-$1 n pid
    for n in $(seq 90 140); do
        [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ] || continue
        rm -f "$ready"
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp -displayfd 3 3>"$ready" >/dev/null 2>&1 &
        pid=$!
        for _ in $(seq 200); do  # at most 10 seconds
            [ -s "$ready" ] && break
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.05
        done
        if [ -s "$ready" ]; then
            xvfb_pids+=("$pid")
            display_started=":$n"
            return 0
        fi
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    return 1
}

# The event log's lines, and the warnings of Wine's heap checks: with them on, freed memory is
# filled and every block given back is checked, so a use after free or a bad free is seen in every
# run rather than as a rare crash; each case fails on any such warning of its program.
export WINEDEBUG=-all,err+eventlog,warn+heap
export WINEDLLOVERRIDES="mscoree,mshtml="
lanes=${VLM_WINE_LANES:-2}
lane_displays=()
for lane in $(seq "$lanes"); do
    if ! start_display "$lane"; then
        echo "FAIL: Xvfb took no connection on any free display"
        exit 1
    fi
    lane_displays+=("$display_started")
done
export DISPLAY=${lane_displays[0]}

template=$work/template
if [ ! -f "$template/.vlm-prefix-ready-2" ]; then
    echo "windows: preparing the Wine prefix"
    rm -rf "$template"
    WINEPREFIX=$template timeout 300 "$wine" wineboot -i >/dev/null 2>&1
    WINEPREFIX=$template timeout 60 "$wineserver" -w
    # Windows live in a desktop of Wine's own, with their captions and frames drawn by Wine
    # (Xvfb has no window manager), so the pictures show whole windows.
    WINEPREFIX=$template "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    WINEPREFIX=$template "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
    # A program that crashes gets its backtrace written to standard error, and ends; Wine's
    # crash dialog would wait for a click until the case's time limit.
    WINEPREFIX=$template "$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    WINEPREFIX=$template timeout 60 "$wineserver" -w
    [ -f "$template/system.reg" ] || { echo "FAIL: the Wine prefix could not be made"; exit 1; }
    touch "$template/.vlm-prefix-ready-2"
fi

pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; }
# expect WHAT COMMAND...: passes when the command succeeds.
expect() {
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}

# Whether a test runs: all of them, or those named in VLM_WINE_CASES (blank-separated).
want_case() { [ -z "${VLM_WINE_CASES:-}" ] || [[ " $VLM_WINE_CASES " == *" $1 "* ]]; }

# A case's folder, with a copy of the demonstration folder as the program folder.
new_case() {
    case_dir=$work/case-$1
    rm -rf "$case_dir"
    mkdir -p "$case_dir"
    app=$case_dir/app
    cp -r "$bin/demo" "$app"
    rm -f "$app"/flash-*.bin
    # The emulated PC records every misuse of its bridges and chips by the program here.
    export VLMIO_EMULATOR_VIOLATIONS
    VLMIO_EMULATOR_VIOLATIONS=$(winpath "$case_dir/violations.log")
}
# A Windows path for a file of ours (Wine's drive Z: is the root).
winpath() { printf 'Z:%s' "${1//\//\\}"; }
# Starts the program in the background: program_pid, output in $case_dir/out and err.
start_program() {
    (cd "$case_dir" && exec timeout 240 "$wine" "$app/VLM270FWUpdate.exe" "$@" >"$case_dir/out" 2>>"$case_dir/err") &
    program_pid=$!
}
# Waits for the program; its exit status in program_status.
wait_program() {
    wait "$program_pid"
    program_status=$?
}
driver() { timeout 200 "$wine" "$bin/test/win_test_driver.exe" "$@" 2>/dev/null | tr -d '\r' | tee -a "$case_dir/driver"; return "${PIPESTATUS[0]}"; }
has_line() { grep -qxF -- "$2" "$1"; }
has_text() { grep -qF -- "$2" "$1"; }
flash_equals_image() { cmp -s -n "$(stat -c %s "$app/VLM270_Option_ROM.rom")" "$1" "$app/VLM270_Option_ROM.rom"; }
# The run misused no bridge and no chip of the emulated PC.
no_misuse() { [ ! -s "$case_dir/violations.log" ] || { cat "$case_dir/violations.log"; false; }; }

# ---- The back end on its own ------------------------------------------------------------------

case_backend() {
    new_case backend
    if timeout 120 "$wine" "$bin/test/win_backend_check.exe" "$(winpath "$bin/hardware/XEventMessage.dll")" 2>"$case_dir/err" | tr -d '\r' >"$case_dir/out"; then
        pass "Win32 back end: $(grep -c '^PASS' "$case_dir/out") checks"
    else
        cat "$case_dir/out"
        fail "Win32 back end"
    fi
}

key='HKLM\SYSTEM\CurrentControlSet\Services\Eventlog\Application\VLMT 270X MP Tool'
main_title="Velmora 270 Firmware Upgrade Tool Ver 1.0.2.0"

# ---- Silent run on the emulated PC ------------------------------------------------------------

case_silent() {
    new_case silent
    sed -i '/^controller/s/$/ timing=instant/' "$app/emulated-pc.conf"
    start_program /s
    driver timeout=60 "never=$main_title,3000" >/dev/null
    wait_program
    expect "silent run: exit status 0 (got $program_status)" [ "$program_status" -eq 0 ]
    expect "silent run: controller 1's flash holds the image" flash_equals_image "$app/flash-02-00-0.bin"
    expect "silent run: controller 2's flash holds the image" flash_equals_image "$app/flash-03-00-0.bin"
    expect "silent run: no misuse of the emulated hardware" no_misuse
    "$wine" reg query "$key" 2>/dev/null | tr -d '\r' >"$case_dir/reg"
    expect "silent run: EventMessageFile names XEventMessage.dll in the program folder" \
        has_text "$case_dir/reg" "EventMessageFile    REG_SZ    $(winpath "$app")\\XEventMessage.dll"
    expect "silent run: TypesSupported is 31" has_text "$case_dir/reg" "TypesSupported    REG_DWORD    0x1f"
}

# ---- Silent run with a controller that cannot be updated --------------------------------------

case_failing() {
    new_case failing
    cat >"$app/emulated-pc.conf" <<'EOF'
controller 02:00.0 part=MX25L(V)512(C) flash=flash-02-00-0.bin timing=instant
controller 03:00.0 part=W25X10B(C)L(V) flash=flash-03-00-0.bin timing=instant fault=erase-fails
EOF
    start_program /s
    driver timeout=120 "box=VLM270FWUpdate" >"$case_dir/boxes"
    wait_program
    expect "failing controller: the host-not-ready message is shown" has_line "$case_dir/boxes" \
        "box VLM270FWUpdate: Your Host Device is not ready, Firmware Update Failed!!!, Please reboot your PC and try again!!!"
    expect "failing controller: exit status 5 (got $program_status)" [ "$program_status" -eq 5 ]
    expect "failing controller: the update failures reach the event log" \
        grep -q 'err:eventlog:.*CInterctl::Update_Firmware:[0-9]*: ucTargetNumber\[1\]' "$case_dir/err"
    expect "failing controller: controller 1 was still updated" flash_equals_image "$app/flash-02-00-0.bin"
}

# ---- Interactive run: licence, main window, restart prompt ------------------------------------

case_interactive() {
    new_case interactive
    sed -i '/^controller/s/$/ timing=datasheet/' "$app/emulated-pc.conf"
    start_program
    driver timeout=60 "wait=License Agreement" "text=License Agreement,1006" \
        "text=License Agreement,1002" "text=License Agreement,1" \
        "shot=License Agreement,$case_dir/licence.bmp" "press=License Agreement,1" \
        "wait=$main_title" "until=$main_title,1023,WinBond:[W25X10B(C)L(V)]" \
        "shot=$main_title,$case_dir/main.bmp" \
        "text=$main_title,1009" "text=$main_title,1024" \
        "text=$main_title,1011" "text=$main_title,1012" "text=$main_title,1014" \
        "text=$main_title,1016" "text=$main_title,1018" "text=$main_title,1007" \
        "text=$main_title,1023" "visible=$main_title,1" \
        "wait=Restart Computer" "text=Restart Computer,1004" "checked=Restart Computer,1005" \
        "shot=Restart Computer,$case_dir/restart.bmp" "press=Restart Computer,1006" \
        "checked=Restart Computer,1005" "press=Restart Computer,1" "gone=$main_title" \
        >"$case_dir/steps"
    wait_program
    s=$case_dir/steps
    expect "interactive: the licence prompt" has_line "$s" "text 1006: Please read the following license agreement"
    expect "interactive: the licence text is shown" grep -q "^text 1002: .*[A-Za-z]" "$s"
    expect "interactive: Accept" has_line "$s" "text 1: Accept"
    expect "interactive: the main window" has_line "$s" "window $main_title"
    expect "interactive: row names" has_line "$s" "text 1009: 270X 1:"
    expect "interactive: second row name" has_line "$s" "text 1024: 270X 2:"
    expect "interactive: bus caption" has_line "$s" "text 1011: Bus:"
    expect "interactive: bus, device and function as two digits" \
        bash -c "grep -qx 'text 1012: 02' '$s' && grep -qx 'text 1014: 00' '$s' && grep -qx 'text 1016: 00' '$s' && grep -qx 'text 1018: 03' '$s'"
    expect "interactive: flash part labels" \
        bash -c "grep -qxF 'text 1007: MXIC:[MX25L(V)512(C)]' '$s' && grep -qxF 'text 1023: WinBond:[W25X10B(C)L(V)]' '$s'"
    expect "interactive: the hidden OK button stays hidden" has_line "$s" "visible 1: 0"
    expect "interactive: restart prompt headline" has_line "$s" "text 1004: Firmware Updated Successful!!"
    expect "interactive: restart now is chosen first, later after its click" \
        bash -c "grep -x 'checked 1005: [01]' '$s' | tr '\n' ' ' | grep -qx 'checked 1005: 1 checked 1005: 0 '"
    expect "interactive: exit status 0 after Finish with restart later (got $program_status)" [ "$program_status" -eq 0 ]
    expect "interactive: both flashes hold the image" \
        bash -c "cmp -s -n 65536 '$app/flash-02-00-0.bin' '$app/VLM270_Option_ROM.rom' && cmp -s -n 65536 '$app/flash-03-00-0.bin' '$app/VLM270_Option_ROM.rom'"
    expect "interactive: no misuse of the emulated hardware" no_misuse
    # The pictures, as PNG where Python is at hand (docs/ keeps a copy for the README).
    for shot in licence main restart; do
        [ -f "$case_dir/$shot.bmp" ] || continue
        cp "$case_dir/$shot.bmp" "$work/$shot.bmp"
        command -v python3 >/dev/null && python3 tools/bmp_to_png.py "$work/$shot.bmp" "$work/$shot.png"
    done
}

# ---- Licence cancelled: nothing touched ---------------------------------------------------------

case_cancelled() {
    new_case cancelled
    log=$case_dir/access.log
    export VLMIO_EMULATOR_LOG
    VLMIO_EMULATOR_LOG=$(winpath "$log")
    start_program
    driver timeout=60 "wait=License Agreement" "press=License Agreement,2" "gone=License Agreement" >/dev/null
    wait_program
    unset VLMIO_EMULATOR_LOG
    expect "licence cancelled: exit status 6 (got $program_status)" [ "$program_status" -eq 6 ]
    expect "licence cancelled: no register was accessed" bash -c "[ ! -s '$log' ]"
}

# ---- Restart now on the emulated PC -------------------------------------------------------------

case_restart() {
    new_case restart
    sed -i '/^controller/s/$/ timing=instant/' "$app/emulated-pc.conf"
    log=$case_dir/access.log
    export VLMIO_EMULATOR_LOG
    VLMIO_EMULATOR_LOG=$(winpath "$log")
    start_program
    driver timeout=60 "wait=License Agreement" "press=License Agreement,1" "wait=Restart Computer" \
        "checked=Restart Computer,1005" "press=Restart Computer,1" "box=VLM270FWUpdate" \
        >"$case_dir/steps"
    wait_program
    unset VLMIO_EMULATOR_LOG
    expect "restart now: the emulated PC says it was power-cycled" has_line "$case_dir/steps" \
        "box VLM270FWUpdate: The emulated PC was power-cycled; this computer was not restarted."
    expect "restart now: the program ended normally (got $program_status)" [ "$program_status" -eq 0 ]
    expect "restart now: the flash survived the power cycle" flash_equals_image "$app/flash-02-00-0.bin"
    expect "restart now: the register accesses were logged" test -s "$log"
    expect "restart now: no misuse of the emulated hardware" no_misuse
}

# ---- No image -----------------------------------------------------------------------------------

case_noimage() {
    new_case noimage
    rm -f "$app"/*.rom
    start_program /s
    driver timeout=60 "box=Error" >"$case_dir/boxes"
    wait_program
    expect "no image: \"Can't Find Firmware file(*.rom) !\" with the caption Error" \
        has_line "$case_dir/boxes" "box Error: Can't Find Firmware file(*.rom) !"
    expect "no image: exit status 2 (got $program_status)" [ "$program_status" -eq 2 ]
}

# ---- Image names: an upper-case .ROM is found by the second search, a .Rom by neither -----------

case_romcase() {
    new_case romcase
    sed -i '/^controller/s/$/ timing=instant/' "$app/emulated-pc.conf"
    mv "$app/VLM270_Option_ROM.rom" "$app/VLM270_OPTION_ROM.ROM"
    start_program /s
    wait_program
    expect "image named .ROM: found by the second search, exit status 0 (got $program_status)" \
        bash -c "[ $program_status -eq 0 ] && cmp -s -n 65536 '$app/flash-02-00-0.bin' '$app/VLM270_OPTION_ROM.ROM'"
    mv "$app/VLM270_OPTION_ROM.ROM" "$app/VLM270_Option_ROM.Rom"
    start_program /s
    driver timeout=60 "box=Error" >"$case_dir/boxes"
    wait_program
    expect "image named .Rom: taken by neither search, exit status 2 (got $program_status)" \
        bash -c "[ $program_status -eq 2 ] && grep -qxF \"box Error: Can't Find Firmware file(*.rom) !\" '$case_dir/boxes'"
}

# ---- About box, and a close request while the run writes ---------------------------------------

case_about() {
    new_case about
    sed -i '/^controller/s/$/ timing=datasheet/' "$app/emulated-pc.conf"
    start_program
    driver timeout=60 "wait=License Agreement" "press=License Agreement,1" "wait=$main_title" \
        "sysmenu=$main_title,16" "wait=About VLM270FWUpdate" "press=About VLM270FWUpdate,1" \
        "gone=About VLM270FWUpdate" "close=$main_title" "wait=Restart Computer" \
        "visible=$main_title,2" "press=Restart Computer,1006" "press=Restart Computer,1" \
        >"$case_dir/steps"
    wait_program
    expect "about: the system menu's About item opens the About box" has_line "$case_dir/steps" \
        "window About VLM270FWUpdate"
    expect "close during the run: the window stays until the run has ended" has_line "$case_dir/steps" \
        "visible 2: 1"
    expect "close during the run: the run still ends with its restart prompt" has_line "$case_dir/steps" \
        "window Restart Computer"
    expect "close during the run: every flash holds the image, exit status 0 (got $program_status)" \
        bash -c "[ $program_status -eq 0 ] && cmp -s -n 65536 '$app/flash-03-00-0.bin' '$app/VLM270_Option_ROM.rom'"
    expect "close during the run: no misuse of the emulated hardware" no_misuse
}

# ---- The rich-text library missing ----------------------------------------------------------------

case_norichedit() {
    new_case norichedit
    WINEDLLOVERRIDES="mscoree,mshtml,riched20=" start_program
    driver timeout=60 "box=VLM270FWUpdate" >"$case_dir/boxes"
    wait_program
    expect "no rich-text library: its message is shown" has_line "$case_dir/boxes" \
        'box VLM270FWUpdate: Fail to load "riched20.dll".'
    expect "no rich-text library: the program ends before touching a controller, status 8 (got $program_status)" \
        bash -c "[ $program_status -eq 8 ] && [ ! -e '$app/flash-02-00-0.bin' ]"
}

# ---- The access library missing ---------------------------------------------------------------

case_nolibrary() {
    new_case nolibrary
    rm -f "$app/vlmiodll.dll"
    start_program /s
    driver timeout=60 "box=VLM270FWUpdate" >"$case_dir/boxes"
    wait_program
    expect "no access library: the message names the missing file" \
        grep -qF "$(winpath "$app")\vlmiodll.dll was not found." "$case_dir/boxes"
    expect "no access library: exit status 7 (got $program_status)" [ "$program_status" -eq 7 ]
}

# ---- A second instance while the first holds the update lock ------------------------------------

case_second() {
    new_case second
    start_program # the first: at its licence, it holds the update lock
    local first_pid=$program_pid second_status
    driver timeout=60 "wait=License Agreement" >/dev/null
    (cd "$case_dir" && exec timeout 120 "$wine" "$app/VLM270FWUpdate.exe" /s >"$case_dir/out2" 2>>"$case_dir/err") &
    program_pid=$!
    driver timeout=60 "box=VLM270FWUpdate" >"$case_dir/boxes"
    wait_program
    second_status=$program_status
    driver timeout=60 "press=License Agreement,2" "gone=License Agreement" >/dev/null
    program_pid=$first_pid
    wait_program
    expect "second instance: it says another update is in progress" has_line "$case_dir/boxes" \
        "box VLM270FWUpdate: Not started: another update is in progress on this computer. Run the update again once it has ended."
    expect "second instance: exit status 9 (got $second_status)" [ "$second_status" -eq 9 ]
    expect "second instance: no flash was touched" bash -c "[ ! -e '$app/flash-02-00-0.bin' ]"
    expect "second instance: the first ends as its licence was cancelled, status 6 (got $program_status)" \
        [ "$program_status" -eq 6 ]
}

# ---- What every case checks -------------------------------------------------------------------

# After a case: no heap fault and no crash in the programs it ran (their standard error), with
# the first such lines shown when there is one.
heap_check() {
    local errs=() f
    for f in "$work/case-$1"/err "$work/case-$1"/*.err; do [ -f "$f" ] && errs+=("$f"); done
    [ ${#errs[@]} -gt 0 ] || return 0
    if grep -hE ':warn:heap:|^wine: Unhandled' "${errs[@]}" | head -n 5 | sed 's/^/    /' | grep . >"$work/case-$1/faults"; then
        fail "$1: the program's heap stayed sound and it did not crash"
        cat "$work/case-$1/faults"
    else
        pass "$1: the program's heap stayed sound and it did not crash"
    fi
}

# ---- Lanes ---------------------------------------------------------------------------------------

# The cases in the order they are reported. Without the application only the back end is run.
all_cases="backend silent failing interactive cancelled restart noimage romcase about norichedit nolibrary second"
if ! ls app/*.cpp >/dev/null 2>&1; then
    echo "windows: the application is not built yet: program tests skipped"
    all_cases="backend"
fi
cases=()
for c in $all_cases; do want_case "$c" && cases+=("$c"); done

# Each lane takes the cases one at a time, in the order below, each case going to the first lane
# that claims it (an atomic mkdir), so that the lanes end at about the same time: the long runs
# come first. The back end check (which runs no program) and then the silent run, which checks
# what the program wrote to the registry, are the first cases any lane tries, so the silent run
# is the first run of the program in its lane's prefix.
claim_order="backend silent restart interactive about romcase failing cancelled noimage norichedit nolibrary second"

# Runs the cases it claims, one after another, on a display and a copy of the prefix of its own;
# the Wine server stays up between cases and is restarted after a case with a failure. Each
# case's lines go to its log.
run_lane() {
    local lane=$1 c started took
    export DISPLAY=${lane_displays[$((lane - 1))]}
    export WINEPREFIX=$work/lane-$lane
    for c in $claim_order; do
        [[ " ${cases[*]} " == *" $c "* ]] || continue
        mkdir "$work/claims/$c" 2>/dev/null || continue
        started=$(date +%s%N)
        "case_$c" >"$work/case-$c.log" 2>&1
        heap_check "$c" >>"$work/case-$c.log"
        took=$((($(date +%s%N) - started) / 100000000))
        echo "windows: case $c took $((took / 10)).$((took % 10)) s (lane $lane)" >>"$work/case-$c.log"
        if grep -q '^FAIL' "$work/case-$c.log"; then
            timeout 30 "$wineserver" -k >/dev/null 2>&1
            "$wineserver" -p
        fi
    done
}

rm -rf "$work/claims" "$work"/case-*.log
mkdir -p "$work/claims"
lane_pids=()
for lane in $(seq "$lanes"); do
    prefix=$work/lane-$lane
    rm -rf "$prefix"
    cp -al "$template" "$prefix"
    for reg in "$template"/*.reg; do cp --remove-destination "$reg" "$prefix/"; done
    lane_prefixes+=("$prefix")
    WINEPREFIX=$prefix "$wineserver" -p
    run_lane "$lane" &
    lane_pids+=($!)
done
for pid in "${lane_pids[@]}"; do wait "$pid"; done

passes=0
failures=0
for c in "${cases[@]}"; do
    [ -f "$work/case-$c.log" ] || echo "FAIL: case $c was never run" >"$work/case-$c.log"
    cat "$work/case-$c.log"
    passes=$((passes + $(grep -c '^PASS' "$work/case-$c.log")))
    failures=$((failures + $(grep -c '^FAIL' "$work/case-$c.log")))
done
echo "windows: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
