#!/bin/sh
# Runs a test program under Wine at another DPI: usage
#   run_at_dpi.sh DPI COPY PROGRAM [ARGS...]
# It is a lane of its own (see tools/wine-exec): a copy of the Wine prefix
# whose LogPixels is DPI, and an Xvfb display of its own, so that it can run
# beside the other test programs. The copy is made once, with hard links
# where it can (quick, and small on disk); the registry files, which Wine
# rewrites, are copied whole.
set -eu
dpi=$1; copy=$2; shift 2
base=${WINEPREFIX:-$HOME/.wine-tokenmanager}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

n=150
while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done
export DISPLAY=":$n"
export WINEPREFIX=$copy
stop() {
    wineserver -k 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
}
trap stop EXIT

if [ ! -f "$copy/.logpixels-$dpi" ]; then
    rm -rf "$copy"
    mkdir -p "$(dirname "$copy")"
    cp -al "$base" "$copy" 2>/dev/null || { rm -rf "$copy"; cp -a "$base" "$copy"; }
    for f in system.reg user.reg userdef.reg; do
        [ -f "$base/$f" ] && cp --remove-destination "$base/$f" "$copy/$f"
    done
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    wine reg add 'HKCC\Software\Fonts' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    wineserver -w
    touch "$copy/.logpixels-$dpi"
fi
wine "$@"
