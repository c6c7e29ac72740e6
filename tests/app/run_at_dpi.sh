#!/bin/sh
# Runs a test program under Wine at another DPI, in a copy of the prefix
# whose LogPixels is set: usage run_at_dpi.sh DPI COPY PROGRAM [ARGS...].
# The copy is made once, with hard links (quick, and small on disk); the
# registry files, which Wine rewrites, are copied whole.
set -eu
dpi=$1; copy=$2; shift 2
base=${WINEPREFIX:-$HOME/.wine-tokenmanager}
if [ ! -f "$copy/.logpixels-$dpi" ]; then
    rm -rf "$copy"
    mkdir -p "$(dirname "$copy")"
    cp -al "$base" "$copy" 2>/dev/null || { rm -rf "$copy"; cp -a "$base" "$copy"; }
    for f in system.reg user.reg userdef.reg; do
        [ -f "$base/$f" ] && cp --remove-destination "$base/$f" "$copy/$f"
    done
    WINEPREFIX=$copy wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    WINEPREFIX=$copy wine reg add 'HKCC\Software\Fonts' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    WINEPREFIX=$copy wineserver -w
    touch "$copy/.logpixels-$dpi"
fi
WINEPREFIX=$copy
export WINEPREFIX
exec "$(dirname "$0")/../../tools/wine-exec" "$@"
