#!/bin/bash
# Starts Sumwick under Wine as on a Chinese system (ANSI code page 936).
#   run-sumwick.sh BIN_DIR
# Without a display it still runs, under a virtual X server, so the run can be
# driven from outside (winctl) even though nothing is visible.
set -euo pipefail
if [ $# -ne 1 ] || [ ! -f "$1/Sumwick.exe" ]; then
    echo "usage: $0 BIN_DIR (the directory holding Sumwick.exe)" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
program=$(cd "$1" && pwd)/Sumwick.exe
"$(dirname "$0")/chinese-locale.sh"
export LC_ALL=zh_CN.UTF-8
if [ -n "${DISPLAY:-}" ]; then
    WINE_GRAPHICS=${WINE_GRAPHICS:-x11} exec "$root/tests/wine/wine-run.sh" "$program"
fi
echo "run-sumwick: no \$DISPLAY, so Sumwick runs under xvfb-run with WINE_GRAPHICS=x11;" \
     "nothing will be visible. Close it with: WINE_GRAPHICS=x11 tests/wine/wine-run.sh $1/winctl.exe close SUMWICK" >&2
WINE_GRAPHICS=x11 exec xvfb-run -a "$root/tests/wine/wine-run.sh" "$program"
