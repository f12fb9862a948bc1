#!/bin/bash
# Takes the pictures of every window for the README and the help document,
# under a virtual X server where Wine draws the frames itself: the main window
# after a Correct against a loopback server, the tray menu, About, Options, the
# question of its Reset, the time-zone window (New York time) and Sumwick.
#   screenshots.sh BIN_DIR [DOCS_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "$1" && pwd)
docs=${2:-$(cd "$here/.." && pwd)/docs}

if [ -z "${PENDULARK_SHOTS_INNER:-}" ]; then
    export PENDULARK_SHOTS_INNER=1
    exec timeout 600 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

export WINE_GRAPHICS=x11 TZ=America/New_York
export WINE_ROOT=$here/../build/wine-shots
run() { "$here/wine/wine-run.sh" "$@"; }
winctl() { run "$bin/winctl.exe" "$@" 2>/dev/null | tr -d '\r'; }
run reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
run reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1

scratch=$here/../build/shots
rm -rf "$scratch" && mkdir -p "$scratch" && cp "$bin/Pendulark.exe" "$bin/ReadMe.htm" "$bin"/*.png "$scratch/"
address=127.0.0.124
printf '%s\r\n' "$address" > "$scratch/ServFile.txt"
python3 "$here/reference_server.py" --address "$address" --offset 0.25 >/dev/null &
server=$!
(cd "$scratch" && run "$scratch/Pendulark.exe") &
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

xdotool mousemove 520 420
winctl post PENDULARK 1029 0 0x204 >/dev/null
sleep 1
shoot "#32768" tray-menu.png
winctl key PENDULARK 0x1B >/dev/null
xdotool mousemove 1020 764  # out of the way of the windows, so no tooltip shows
sleep 1

open PENDULARK 5 "#32770:About Pendulark"
shoot "#32770:About Pendulark" about.png
winctl click "#32770:About Pendulark" 1 >/dev/null

open PENDULARK 101 "#32770:Options"
shoot "#32770:Options" options.png
open "#32770:Options" 7 "#32770:Pendulark 1.15"
shoot "#32770:Pendulark 1.15" message.png
winctl click "#32770:Pendulark 1.15" 2 >/dev/null
sleep 1
winctl click "#32770:Options" 2 >/dev/null

open PENDULARK 1001 "#32770:Time Zone"
shoot "#32770:Time Zone" time-zone.png
winctl click "#32770:Time Zone" 1 >/dev/null

PENDULARK_SHOTS_INNER= "$here/screenshot-sumwick.sh" "$bin" "$docs/sumwick.png"
