#!/usr/bin/env python3
"""Two figures of the real Pendulark window under Wine:

- correction accuracy: over Corrects against a loopback reference server whose
  offset is spread over -0.45 to +0.45 s (Wine accepts steps below half a second
  without moving the clock), the magnitude of the offset the status line shows
  minus the server's true offset; median and worst;
- idle CPU: the CPU time of the running window over a minute as a share of one
  core, beside an idle Sumwick window measured the same way as the reference.

    pendulark_bench.py BIN_DIR [CORRECTS] [IDLE_SECONDS]
"""
import os
import re
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "e2e"))

WINDOW, STATUS, CORRECT, COMPUTER_CLOCK = "PENDULARK", 1000, 3, 1029
ADDRESS = "127.0.9.201"
SHOWN = re.compile(r"Time Corrected by (-?\d+\.\d{5}) Scs")


def process_ticks(name):
    """utime + stime, in clock ticks, of every process whose command line names
    the program: the Wine process and the script that started it."""
    total, found = 0, False
    for pid in subprocess.run(["pgrep", "-f", name], capture_output=True, text=True).stdout.split():
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if name.encode() not in f.read():
                    continue
            with open(f"/proc/{pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        total += int(fields[11]) + int(fields[12])
        found = True
    return total if found else None


def idle_share(harness, directory, program, window_class, seconds):
    process = harness.start(directory, program)
    try:
        if harness.winctl("wait", window_class, "30000").returncode != 0:
            sys.exit(f"{program}: no window")
        time.sleep(3)  # past the start and the first display ticks
        before = process_ticks(program)
        started = time.monotonic()
        time.sleep(seconds)
        after = process_ticks(program)
        elapsed = time.monotonic() - started
    finally:
        harness.winctl("close", window_class)
        harness.finish(process, 20)
    if before is None or after is None:
        sys.exit(f"{program}: its process was not found")
    return (after - before) / os.sysconf("SC_CLK_TCK") / elapsed


def accuracy(harness, directory, corrects):
    offsets = [-0.45 + 0.9 * i / (corrects - 1) for i in range(corrects)]
    errors = []
    with harness.ReferenceServer(ADDRESS) as reference:
        process = harness.start(directory, "Pendulark.exe")
        try:
            if harness.winctl("wait", WINDOW, "30000").returncode != 0:
                sys.exit("Pendulark: no window")
            harness.wait_for_text(WINDOW, COMPUTER_CLOCK, lambda t: t != "Wait...")
            for offset in offsets:
                reference.offset = offset
                # A mark in the status line, so that the next result is told from the last.
                harness.winctl("set-text", WINDOW, str(STATUS), "-")
                harness.winctl("click", WINDOW, str(CORRECT))
                text = harness.wait_for_text(WINDOW, STATUS, lambda t: SHOWN.fullmatch(t) is not None, 20)
                match = SHOWN.fullmatch(text or "")
                if not match:
                    sys.exit(f"no correction shown for offset {offset:+.3f} s: {text!r}")
                errors.append(abs(float(match.group(1)) - offset))
        finally:
            harness.winctl("key", WINDOW, "0x1B")
            harness.finish(process, 20)
    return errors


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    os.environ["PENDULARK_BIN"] = os.path.abspath(sys.argv[1])
    corrects = int(sys.argv[2]) if len(sys.argv) > 2 else 21
    seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 60
    import harness
    harness.start_wine()
    try:
        directory = harness.scratch_dir("bench-pendulark", ("Pendulark.exe", "Sumwick.exe"))
        with open(os.path.join(directory, "ServFile.txt"), "wb") as f:
            f.write(ADDRESS.encode() + b"\r\n")
        harness.write_settings(directory, protocol=1, sync_timeout_seconds=10)
        errors = accuracy(harness, directory, corrects)
        print(f"correction accuracy over {len(errors)} Corrects, offsets -0.45..+0.45 s: "
              f"median {statistics.median(errors) * 1000:.3f} ms, worst {max(errors) * 1000:.3f} ms "
              f"(target: worst below 1 ms)")
        pendulark = idle_share(harness, directory, "Pendulark.exe", WINDOW, seconds)
        sumwick = idle_share(harness, directory, "Sumwick.exe", "SUMWICK", seconds)
        ratio = f"{pendulark / sumwick:.2f} x Sumwick's" if sumwick > 0 else "Sumwick used no measurable CPU"
        print(f"idle CPU over {seconds:.0f} s: Pendulark {pendulark * 100:.3f} % of one core, "
              f"idle Sumwick window {sumwick * 100:.3f} % ({ratio}; target below 0.5 %)")
    finally:
        harness.stop_wine()


if __name__ == "__main__":
    main()
