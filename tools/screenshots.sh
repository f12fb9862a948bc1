#!/bin/bash
# Takes the pictures of every window for the README and the help document,
# under a virtual X server where Wine draws the frames itself: the main window
# after a Correct against a loopback server, the History window over a made-up
# week, the tray menu, About, Options, the question of its Reset, the time-zone
# window (New York time) and Sumwick.
# Pendulark runs as the setup installs it, so About shows a user's folders.
#   screenshots.sh [--dpi N] BIN_DIR SETUP [OUTPUT_DIR]
# BIN_DIR holds winctl.exe and Sumwick.exe. At --dpi N (96 unless given) the
# display is set to N dots per inch; the pictures go to OUTPUT_DIR, by default
# docs/ at 96 and build/shots-N/ otherwise.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
dpi=96
if [ "${1:-}" = --dpi ]; then
    dpi=$2
    shift 2
fi
if [ $# -lt 2 ] || [ ! -f "$1/winctl.exe" ] || [ ! -f "$2" ]; then
    echo "usage: $0 [--dpi N] BIN_DIR SETUP [OUTPUT_DIR]" >&2
    exit 2
fi
bin=$(cd "$1" && pwd)
setup=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
default_docs=$root/docs
[ "$dpi" = 96 ] || default_docs=$root/build/shots-$dpi
docs=${3:-$default_docs}
mkdir -p "$docs"
docs=$(cd "$docs" && pwd)
# The screen grows with the DPI, so the windows keep their room on it.
width=$((1024 * dpi / 96))
height=$((768 * dpi / 96))

if [ -z "${PENDULARK_SHOTS_INNER:-}" ]; then
    export PENDULARK_SHOTS_INNER=1
    exec timeout 600 xvfb-run -a -s "-screen 0 ${width}x${height}x24" "$0" --dpi "$dpi" "$bin" "$setup" "$docs"
fi

export WINE_GRAPHICS=x11 TZ=America/New_York
# A prefix for each DPI; a 32-bit one for a 32-bit setup, so that it installs
# into "Program Files" as on 32-bit Windows.
export WINE_ROOT=$root/build/wine-shots-$dpi
case "$(file -b "$setup")" in PE32+*) ;; *) export WINEARCH=win32 ;; esac
run() { "$root/tests/wine/wine-run.sh" "$@"; }
winctl() { run "$bin/winctl.exe" "$@" 2>/dev/null | tr -d '\r'; }
run reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
run reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "${width}x${height}" /f >/dev/null 2>&1
run reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1

# Without the service: its window would be the service's face, and it would ask the list it made.
run "$setup" /S /SERVICE=0
installed='C:\Program Files\Pendulark'
# The installed copy keeps the user's files in the application-data folder:
# a fresh one there, whose list names the loopback server.
data=$(run winepath -u "$(run cmd /c echo %APPDATA% | tr -d '\r')\Brenlo\Pendulark")
rm -rf "$data" && mkdir -p "$data"
address=127.0.0.124
printf '%s\r\n' "$address" > "$data/ServFile.txt"
python3 "$root/tests/reference_server.py" --address "$address" --offset 0.25 >/dev/null &
server=$!
run "$installed\Pendulark.exe" &
program=$!
trap 'winctl key PENDULARK 0x1B >/dev/null || true; wait $program || true; kill $server 2>/dev/null || true; run --server -k || true' EXIT

# Waits up to 20 s until control $2 of window $1 reads text matching $3.
wait_text() {
    for _ in $(seq 100); do
        case "$(winctl get-text "$1" "$2")" in $3) return 0 ;; esac
        sleep 0.2
    done
    echo "control $2 of $1 never read $3" >&2
}
# The window's own rectangle out of the whole screen.
shoot() {
    sleep 1
    read -r x y w h < <(winctl rect "$1")
    import -window root -crop "${w}x${h}+${x}+${y}" +repage "$docs/$2"
    echo "wrote $docs/$2"
}
# A modal window opens inside the click, which returns when it times out.
open() { winctl click "$1" "$2" >/dev/null & sleep 2; winctl wait "$3" 10000 >/dev/null; }

winctl wait PENDULARK 60000 >/dev/null
wait_text PENDULARK 1029 "*M*"
winctl click PENDULARK 1 >/dev/null
wait_text PENDULARK 1032 "$address"
winctl click PENDULARK 3 >/dev/null
wait_text PENDULARK 1000 "[TE]*"
shoot PENDULARK pendulark.png

xdotool mousemove $((width * 520 / 1024)) $((height * 420 / 768))
winctl post PENDULARK $((0x8000 + 5)) 0 0x204 >/dev/null  # the tray icon's WM_APP + 5: a right click
sleep 1
shoot "#32768" tray-menu.png
winctl key PENDULARK 0x1B >/dev/null
xdotool mousemove $((width - 4)) $((height - 4))  # out of the way of the windows, so no tooltip shows
sleep 1

# A made-up week in place of this run's own Correct; the window reads it as it opens.
python3 "$here/made-up-history.py" "$data/dHistory.csv"
winctl post PENDULARK 0x111 1010 0 >/dev/null
winctl wait "#32770:Pendulark History" 10000 >/dev/null
shoot "#32770:Pendulark History" history.png
winctl click "#32770:Pendulark History" 2 >/dev/null

open PENDULARK 5 "#32770:About Pendulark"
shoot "#32770:About Pendulark" about.png
winctl click "#32770:About Pendulark" 1 >/dev/null

open PENDULARK 101 "#32770:Options"
shoot "#32770:Options" options.png
# The message's title names the version, which base/program.h keeps.
message="#32770:Pendulark $(sed -n 's/^#define PROGRAM_VERSION_TEXT "\(.*\)"/\1/p' "$root/base/program.h")"
open "#32770:Options" 7 "$message"
shoot "$message" message.png
winctl click "$message" 2 >/dev/null
sleep 1
winctl click "#32770:Options" 2 >/dev/null

open PENDULARK 1001 "#32770:Time Zone"
shoot "#32770:Time Zone" time-zone.png
winctl click "#32770:Time Zone" 1 >/dev/null

PENDULARK_SHOTS_INNER= "$here/screenshot-sumwick.sh" --dpi "$dpi" "$bin" "$docs/sumwick.png"
