# Shared by the scripts in tools/: paths, the build, the display and Wine.
# Settings (environment):
#   TM_BUILD_DIR  build folder (default: build, relative to the repository)
#   WINEPREFIX    Wine prefix (default: ~/.wine-tokenmanager)
#   DISPLAY       an X display to use; without one, Xvfb is started
#   TM_CMAKE_ARGS more CMake settings (for example -DTM_WERROR=ON); given,
#                 they are applied to an existing build folder as well

TM_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
TM_BUILD_DIR=${TM_BUILD_DIR:-build}
case $TM_BUILD_DIR in /*) ;; *) TM_BUILD_DIR=$TM_ROOT/$TM_BUILD_DIR ;; esac
export WINEPREFIX=${WINEPREFIX:-$HOME/.wine-tokenmanager}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml,winemenubuilder.exe=}
TM_STARTED_XVFB_PIDS=()
TM_STARTED_WINESERVERS=()  # prefixes whose server was started here

tm_build() {
    if [ ! -f "$TM_BUILD_DIR/CMakeCache.txt" ] || [ -n "${TM_CMAKE_ARGS:-}" ]; then
        # shellcheck disable=SC2086 # the settings are words
        cmake -S "$TM_ROOT" -B "$TM_BUILD_DIR" \
            -DCMAKE_TOOLCHAIN_FILE="$TM_ROOT/cmake/mingw-w64-x86_64.cmake" \
            -DCMAKE_BUILD_TYPE=Release ${TM_CMAKE_ARGS:-} >/dev/null
    fi
    cmake --build "$TM_BUILD_DIR" -j "$(nproc)"
}

# Starts Xvfb on the first free display and sets TM_NEW_DISPLAY to it.
tm_new_display() {
    local n=90
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    TM_STARTED_XVFB_PIDS+=($!)
    for _ in $(seq 100); do
        [ -e "/tmp/.X11-unix/X$n" ] && break
        sleep 0.05
    done
    TM_NEW_DISPLAY=":$n"
}

# Starts Xvfb when there is no DISPLAY.
tm_start_display() {
    [ -n "${DISPLAY:-}" ] && return 0
    tm_new_display
    export DISPLAY=$TM_NEW_DISPLAY
}

# A persistent wineserver makes every Wine start that follows cheap.
# Wine's helper processes (services, explorer) are started here too, with
# their output away from the caller: started by the first test instead, they
# would hold CTest's output pipe open and the test would never end.
# tm_start_wineserver [prefix [display]]: the given prefix, or WINEPREFIX,
# with its helpers on the given display, or DISPLAY. A lane's helpers must
# run on the lane's own display: its desktop process, started on another
# lane's display, is not the desktop its programs' windows are on.
tm_start_wineserver() {
    local prefix=${1:-$WINEPREFIX} display=${2:-${DISPLAY:-}}
    # A server that already runs for the prefix is used and left running.
    WINEPREFIX=$prefix wineserver -p 2>/dev/null || return 0
    TM_STARTED_WINESERVERS+=("$prefix")
    DISPLAY=$display WINEPREFIX=$prefix wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

tm_stop_started() {
    local prefix pid
    for prefix in "${TM_STARTED_WINESERVERS[@]}"; do
        WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
        WINEPREFIX=$prefix wineserver -w 2>/dev/null || true
    done
    for pid in "${TM_STARTED_XVFB_PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    [ -z "${TM_LANES:-}" ] || rm -rf "$TM_LANES"
}

# Test lanes: tools/wine-exec runs each test program in a lane of its own,
# a Wine prefix with its own wineserver and X display, so that CTest can run
# as many programs at once as there are lanes. Lane 1 is WINEPREFIX on
# DISPLAY; every further lane uses a copy of that prefix (made once, kept
# as WINEPREFIX-lane<n>) on an Xvfb display started here.
# tm_start_lanes <count>: exports TM_LANES, the folder of lane files.
tm_start_lanes() {
    local count=$1 n prefix display
    TM_LANES=$(mktemp -d "${TMPDIR:-/tmp}/tm-lanes.XXXXXX")
    export TM_LANES
    for n in $(seq "$count"); do
        prefix=$WINEPREFIX display=$DISPLAY
        if [ "$n" -gt 1 ]; then
            prefix=$WINEPREFIX-lane$n
            if [ ! -f "$prefix/system.reg" ]; then
                rm -rf "$prefix"
                cp -a "$WINEPREFIX" "$prefix"
            fi
            WINEPREFIX=$prefix "$TM_ROOT/tools/bootstrap"
            tm_new_display
            display=$TM_NEW_DISPLAY
        fi
        tm_start_wineserver "$prefix" "$display"
        printf '%s\n%s\n' "$prefix" "$display" >"$TM_LANES/lane$n"
    done
}
