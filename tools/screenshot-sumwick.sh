#!/bin/bash
# Takes the README's picture of Sumwick: under a virtual X server, as on a
# Chinese system, with a text typed in and its digest computed.
#   screenshot-sumwick.sh [--dpi N] BIN_DIR [OUTPUT.png]   (default docs/sumwick.png)
set -euo pipefail
dpi=96
if [ "${1:-}" = --dpi ]; then
    dpi=$2
    shift 2
fi
if [ $# -lt 1 ] || [ ! -f "$1/Sumwick.exe" ] || [ ! -f "$1/winctl.exe" ]; then
    echo "usage: $0 [--dpi N] BIN_DIR [OUTPUT.png]" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
bin=$(cd "$1" && pwd)
output=${2:-$root/docs/sumwick.png}
width=$((640 * dpi / 96))
height=$((400 * dpi / 96))

if [ -z "${SUMWICK_SHOT_INNER:-}" ]; then
    export SUMWICK_SHOT_INNER=1
    exec timeout 300 xvfb-run -a -s "-screen 0 ${width}x${height}x24" "$0" --dpi "$dpi" "$@"
fi

"$(dirname "$0")/chinese-locale.sh"
export LC_ALL=zh_CN.UTF-8 WINE_GRAPHICS=x11
# A prefix of its own, whose default desktop is a virtual one: there Wine draws
# the window's frame and caption itself, with no window manager needed.
export WINE_ROOT=$root/build/wine-shot-$dpi
run() { "$root/tests/wine/wine-run.sh" "$@"; }
run reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
run reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "${width}x${height}" /f >/dev/null 2>&1
run reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1

run "$bin/Sumwick.exe" &
sumwick=$!
trap 'run "$bin/winctl.exe" close SUMWICK >/dev/null 2>&1 || true; wait $sumwick || true; run --server -k || true' EXIT
run "$bin/winctl.exe" wait SUMWICK 60000
run "$bin/winctl.exe" type SUMWICK 101 "加密"
run "$bin/winctl.exe" click SUMWICK 100
sleep 2  # let the window repaint
mkdir -p "$(dirname "$output")"
# The desktop around the window is one colour; trimming it leaves the window.
import -window root png:- | convert png:- -trim +repage "$output"
echo "wrote $output"
