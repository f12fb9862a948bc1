#!/bin/bash
# Starts Pendulark under Wine in a scratch program directory whose server list
# names a reference time server that this script runs on loopback: first the
# unattended "/q" run, whose log it prints, then the program with its window.
#   run-pendulark.sh BIN_DIR
# With no display it runs under Xvfb for RUN_SECONDS (default 20), keeps a
# screenshot in build/run/screen.png and closes the program.
set -euo pipefail
bin=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")/.." && pwd)
run_dir=$here/build/run
address=127.0.0.123

rm -rf "$run_dir" && mkdir -p "$run_dir"
# The help document beside the program, so that Help opens it.
cp "$bin/Pendulark.exe" "$bin/ReadMe.htm" "$bin"/*.png "$run_dir/"
printf '%s\r\n' "$address" > "$run_dir/ServFile.txt"

python3 "$here/tests/reference_server.py" --address "$address" &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null || true' EXIT
sleep 0.5

wine_run=$here/tests/wine/wine-run.sh
# Log everything, SNTP, the one entry of the list.
PYTHONPATH=$here/tests/e2e python3 -c 'import sys, harness
harness.write_settings(sys.argv[1], server_index=1, log_level=3, protocol=1, sync_timeout_seconds=5)' "$run_dir"
echo "Quiet run: Pendulark.exe /q against $address"
(cd "$run_dir" && timeout 120 "$wine_run" "$run_dir/Pendulark.exe" /q) || echo "the quiet run failed: $?"
echo "--- $run_dir/dLog.txt"
cat "$run_dir/dLog.txt" 2>/dev/null | tr -d '\r' || echo "(no log)"
echo "---"

export WINE_GRAPHICS=x11
if [ -n "${DISPLAY:-}" ]; then
    echo "Pendulark runs in $run_dir; close its window to end."
    (cd "$run_dir" && "$wine_run" "$run_dir/Pendulark.exe") || true
else
    seconds=${RUN_SECONDS:-20}
    echo "No display: Pendulark runs under Xvfb, checks and corrects against $address, stays $seconds s more and closes (screenshot in $run_dir/screen.png)."
    xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
        set -u
        cd "$1"
        "$2" "$1/Pendulark.exe" &
        program=$!
        wine=$2 bin=$3
        winctl() { "$wine" "$bin/winctl.exe" "$@" 2>/dev/null | tr -d "\r"; }
        # Waits up to 20 s until control $1 reads text matching $2.
        wait_text() {
            for _ in $(seq 100); do
                case "$(winctl get-text PENDULARK "$1")" in $2) return 0 ;; esac
                sleep 0.2
            done
            echo "control $1 never read $2"
        }
        "$2" "$3/winctl.exe" wait PENDULARK 60000 >/dev/null 2>&1 || echo "the main window did not appear"
        wait_text 1029 "*M*"
        winctl click PENDULARK 1
        wait_text 1032 "127.0.0.123"
        sleep 0.6  # one display tick, to draw the server clock
        echo "Check: the server clock reads $(winctl get-text PENDULARK 1030 | tr "\n" " ")"
        winctl click PENDULARK 3
        wait_text 1000 "[TE]*"  # "Time Corrected..." or "Error setting..."
        echo "Correct: $(winctl get-text PENDULARK 1000)"
        sleep 0.6  # one display tick, to draw the server clock after the correction
        import -window root -crop 468x129+278+329 "$1/screen.png" 2>/dev/null || true
        sleep "$4"
        "$2" "$3/winctl.exe" close PENDULARK >/dev/null 2>&1 || true
        wait $program || true
        "$2" --server -k 2>/dev/null || true
    ' run "$run_dir" "$wine_run" "$bin" "$seconds"
fi

if [ -f "$run_dir/dSync.dat" ]; then
    echo "Pendulark ended and saved its settings: $(stat -c %s "$run_dir/dSync.dat") bytes in $run_dir/dSync.dat"
fi
