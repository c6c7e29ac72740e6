# Shared by the scripts in tools/: paths, the build, the display and Wine.
# Settings (environment):
#   TM_BUILD_DIR  build folder (default: build, relative to the repository)
#   WINEPREFIX    Wine prefix (default: ~/.wine-tokenmanager)
#   DISPLAY       an X display to use; without one, Xvfb is started

TM_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
TM_BUILD_DIR=${TM_BUILD_DIR:-build}
case $TM_BUILD_DIR in /*) ;; *) TM_BUILD_DIR=$TM_ROOT/$TM_BUILD_DIR ;; esac
export WINEPREFIX=${WINEPREFIX:-$HOME/.wine-tokenmanager}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml,winemenubuilder.exe=}
TM_STARTED_XVFB_PID=
TM_STARTED_WINESERVER=

tm_build() {
    if [ ! -f "$TM_BUILD_DIR/CMakeCache.txt" ]; then
        cmake -S "$TM_ROOT" -B "$TM_BUILD_DIR" \
            -DCMAKE_TOOLCHAIN_FILE="$TM_ROOT/cmake/mingw-w64-x86_64.cmake" \
            -DCMAKE_BUILD_TYPE=Release >/dev/null
    fi
    cmake --build "$TM_BUILD_DIR" -j "$(nproc)"
}

# Starts Xvfb on the first free display when there is no DISPLAY.
tm_start_display() {
    [ -n "${DISPLAY:-}" ] && return 0
    local n=90
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    TM_STARTED_XVFB_PID=$!
    for _ in $(seq 100); do
        [ -e "/tmp/.X11-unix/X$n" ] && break
        sleep 0.05
    done
    export DISPLAY=":$n"
}

# A persistent wineserver makes every Wine start that follows cheap.
# Wine's helper processes (services, explorer) are started here too, with
# their output away from the caller: started by the first test instead, they
# would hold CTest's output pipe open and the test would never end.
tm_start_wineserver() {
    # A server that already runs for the prefix is used and left running.
    wineserver -p 2>/dev/null || return 0
    TM_STARTED_WINESERVER=1
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

tm_stop_started() {
    if [ -n "$TM_STARTED_WINESERVER" ]; then
        wineserver -k 2>/dev/null || true
        wineserver -w 2>/dev/null || true
    fi
    if [ -n "$TM_STARTED_XVFB_PID" ]; then
        kill "$TM_STARTED_XVFB_PID" 2>/dev/null || true
        wait "$TM_STARTED_XVFB_PID" 2>/dev/null || true
    fi
}
