#!/bin/bash
# Runs a Windows program under Wine in a throwaway prefix under the build tree.
#   WINE_GRAPHICS=null (default) needs no display; WINE_GRAPHICS=x11 uses $DISPLAY.
#   WINE_ROOT is where the prefixes live (default: build/wine next to this tree).
# Wine's own exit code is passed through.
#   wine-run.sh --server ARGS runs the prefix's wineserver instead (-k, -p, -w).
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
graphics=${WINE_GRAPHICS:-null}
root=${WINE_ROOT:-$here/build/wine}
export WINEPREFIX="$root/prefix-$graphics"
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# WINEARCH=win32 makes a 32-bit prefix, whose Program Files is the one a
# 32-bit installer writes to, for hosts that run 32-bit code.
export WINEARCH=${WINEARCH:-win64}

# This host may not run 32-bit code; the 64-bit loader runs both the x86_64
# test builds and, where the kernel allows, the i686 programs through WoW64.
loader=/usr/lib/wine/wine64
[ "$WINEARCH" = win32 ] && loader=/usr/lib/wine/wine
[ -x "$loader" ] || loader=$(command -v wine64 || command -v wine)

if [ ! -f "$WINEPREFIX/.ready" ]; then
    mkdir -p "$root"
    # One prefix set-up at a time, even when CTest runs tests in parallel.
    exec 9>"$root/.lock-$graphics"
    flock -w 300 9
    if [ ! -f "$WINEPREFIX/.ready" ]; then
        rm -rf "$WINEPREFIX"
        "$loader" wineboot -i >/dev/null 2>&1 || true
        if [ "$graphics" = null ]; then
            "$loader" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
        fi
        /usr/lib/wine/wineserver -w 2>/dev/null || wineserver -w || true
        # This Wine finds no fonts of its own (fonts-wine) unless they are in the
        # prefix: without Marlett, caption buttons and arrows show letters.
        for font in marlett.ttf tahoma.ttf tahomabd.ttf; do
            cp -n "/usr/share/wine/fonts/$font" "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
        done
        touch "$WINEPREFIX/.ready"
    fi
    flock -u 9
fi
if [ "${1:-}" = --server ]; then
    shift
    exec /usr/lib/wine/wineserver "$@"
fi
exec "$loader" "$@"
