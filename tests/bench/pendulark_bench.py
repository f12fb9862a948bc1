#!/usr/bin/env python3
"""Two figures of the real Pendulark window under Wine:

- correction accuracy: over Corrects against a loopback reference server whose
  offset is spread over -0.45 to +0.45 s (Wine accepts steps below half a second
  without moving the clock), the magnitude of the offset the status line shows
  minus the server's true offset; median and worst;
- idle CPU: the CPU time of the running window over a minute as a share of one
  core, beside an idle Sumwick window measured the same way as the reference;
- time server: sequential clients answered per second on loopback at log level
  0, against xinetd's built-in RFC 868 "time" service on another loopback port.

    pendulark_bench.py BIN_DIR [CORRECTS] [IDLE_SECONDS] [CLIENTS]
"""
import os
import re
import socket
import statistics
import subprocess
import sys
import tempfile
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


XINETD_PORT = 3737
XINETD_CONF = f"""service time
{{
    type = INTERNAL UNLISTED
    id = time-stream
    socket_type = stream
    protocol = tcp
    user = root
    wait = no
    bind = 127.0.0.1
    port = {XINETD_PORT}
    disable = no
    cps = 1000000 1
    instances = UNLIMITED
    per_source = UNLIMITED
}}
"""


def clients_per_second(port, clients):
    """Sequential clients, each reading the four bytes until the close."""
    started = time.monotonic()
    for _ in range(clients):
        with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
            data = b""
            while True:
                chunk = s.recv(16)
                if not chunk:
                    break
                data += chunk
        if len(data) != 4:
            sys.exit(f"port {port} answered {len(data)} bytes")
    return clients / (time.monotonic() - started)


def wait_for_port(port, seconds=20):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=2).close()
            return
        except OSError:
            time.sleep(0.2)
    sys.exit(f"nothing answers on port {port}")


def server_rates(harness, directory, clients):
    # xinetd removes its pid file when it ends: it gets one of its own.
    with tempfile.TemporaryDirectory() as scratch:
        conf = os.path.join(scratch, "xinetd.conf")
        with open(conf, "w") as f:
            f.write(XINETD_CONF)
        xinetd = subprocess.Popen(["xinetd", "-dontfork", "-f", conf, "-pidfile", os.path.join(scratch, "pid"),
                                   "-filelog", os.path.join(scratch, "log")],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            wait_for_port(XINETD_PORT)
            reference = clients_per_second(XINETD_PORT, clients)
        finally:
            xinetd.terminate()
            xinetd.wait(10)
    harness.write_settings(directory, time_server_enabled=1, log_level=0)
    process = harness.start(directory, "Pendulark.exe")
    try:
        if harness.winctl("wait", WINDOW, "30000").returncode != 0:
            sys.exit("Pendulark: no window")
        wait_for_port(37)
        ours = clients_per_second(37, clients)
    finally:
        harness.winctl("key", WINDOW, "0x1B")
        harness.finish(process, 20)
    return ours, reference


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    os.environ["PENDULARK_BIN"] = os.path.abspath(sys.argv[1])
    corrects = int(sys.argv[2]) if len(sys.argv) > 2 else 21
    seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 60
    clients = int(sys.argv[4]) if len(sys.argv) > 4 else 2000
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
        ours, reference = server_rates(harness, directory, clients)
        print(f"time server, {clients} sequential clients: Pendulark under Wine {ours:.0f}/s, "
              f"xinetd's time service {reference:.0f}/s, ratio {ours / reference:.2f} (aim: at least 0.25)")
    finally:
        harness.stop_wine()


if __name__ == "__main__":
    main()
