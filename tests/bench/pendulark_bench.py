#!/usr/bin/env python3
"""Four figures of the real Pendulark window under Wine, each beside a
reference measured in the same run:

- correction accuracy: over Corrects against a loopback reference server whose
  offset is spread over -0.45 to +0.45 s (Wine accepts steps below half a second
  without moving the clock), the magnitude of the offset the status line shows
  minus the server's true offset; median, 95th percentile and worst. It is the
  program's estimate, not the clock that was set: Wine moves no clock to read.
  The step set is that estimate rounded to the nearest millisecond, so the
  clock may be up to 0.5 ms further off, which the printed bound adds. Its
  floor: bare_sntp_client.exe under the same Wine (request, reply, the four
  timestamps, nothing more), asked at each offset just before each Correct and
  rounded to the status line's five decimals; the program's 95th percentile and
  worst are given against the floor's;
- idle CPU: the CPU time of the running window over a while as a share of one
  core, beside an idle Sumwick window measured the same way. Only processes of
  the bench's own Wine prefix whose command line names the program count, and
  only those that live through the whole window, so the share is never negative;
- time server: sequential clients answered per second at log level 0, against a
  bare Winsock accept/send/close loop under the same Wine (the ceiling there:
  every socket call goes through the Wine server) and against xinetd's built-in
  RFC 868 "time" service; rounds take the three servers in turn, and the range
  of each ratio over the rounds is printed;
- SNTP replies per second: sequential 48-byte version-4 requests, each waiting
  for its reply (a second at most), against a bare Winsock receive/send loop
  under the same Wine and against chrony's chronyd on another loopback port, in
  turns and rounds as above. Each request comes from the next address of
  127.1.0.0/16 and none of them asks more than 8 times in a run: Pendulark
  answers an address 8 times in a burst, then once every 2 s. It has corrected
  nothing in this run, so it answers "unsynchronised": the same work but for a
  few stores. More than 2 % of a server's requests without a good reply fail
  the bench.

chronyd is the one unpacked into build/chrony, never installed; it runs with
-x, so it never touches the clock, and answers from its own free-running clock.
The whole bench runs in a network namespace of its own with only loopback up:
the servers' ports are then free whatever else runs here, and the name look-ups
of the time server's reports for those many client addresses never leave the
machine (they fail at once).

    pendulark_bench.py BIN_DIR [--corrects N] [--idle-seconds S] [--clients N] [--requests N] [--rounds N]

    --corrects N      Corrects for the accuracy (default 51)
    --idle-seconds S  length of each idle window (default 60)
    --clients N       sequential clients per server and round, taken in turns
                      of 100 (default 2000)
    --requests N      sequential SNTP requests per server and round, taken in
                      turns of 250 (default 10000)
    --rounds N        rounds of the three servers, for each protocol (default 3)

`make bench BENCH_ARGS="--rounds 5"` passes them on. The bench runs in a Wine
prefix of its own under build/wine-bench (WINE_ROOT overrides it): stopping its
Wine server at the end then ends no one else's programs, and no one else's
programs are counted as ours.
"""
import argparse
import collections
import ctypes
import itertools
import os
import re
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

WINDOW, STATUS, CORRECT, COMPUTER_CLOCK = "PENDULARK", 1000, 3, 1029
ADDRESS = "127.0.9.201"
SHOWN = re.compile(r"Time Corrected by (-?\d+\.\d{5}) Scs")


def wine_prefix():
    """The prefix that wine-run.sh runs in, from the same variables."""
    return os.path.join(os.environ["WINE_ROOT"], "prefix-" + os.environ.get("WINE_GRAPHICS", "null"))


def program_ticks(prefix, program):
    """utime + stime in clock ticks, keyed by (pid, start time), of the processes
    of prefix whose command line names program. Wine writes the Windows command
    line over the process's own, so the name may come after a backslash."""
    names = re.compile(rf'(?:^|[\s"/\\]){re.escape(program)}(?:$|[\s"])', re.I)
    wanted = b"WINEPREFIX=" + prefix.encode()
    found = {}
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/environ", "rb") as f:
                if wanted not in f.read().split(b"\0"):
                    continue
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if not names.search(f.read().replace(b"\0", b" ").decode("latin-1").strip()):
                    continue
            with open(f"/proc/{pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue  # gone, or not ours to read
        # Fields 14, 15 and 22 of stat: utime, stime, start time.
        found[(pid, fields[19])] = int(fields[11]) + int(fields[12])
    return found


def idle_share(harness, directory, program, window_class, seconds):
    """The share of one core, and how many processes it was taken over."""
    prefix = wine_prefix()
    process = harness.start(directory, program)
    try:
        if harness.winctl("wait", window_class, "30000").returncode != 0:
            sys.exit(f"{program}: no window")
        time.sleep(3)  # past the start and the first display ticks
        before = program_ticks(prefix, program)
        started = time.monotonic()
        time.sleep(seconds)
        after = program_ticks(prefix, program)
        elapsed = time.monotonic() - started
    finally:
        harness.winctl("close", window_class)
        harness.finish(process, 20)
    # A process that started or ended inside the window has no delta to give.
    lasting = before.keys() & after.keys()
    if not lasting:
        sys.exit(f"{program}: no process of {prefix} lived through the window")
    ticks = sum(after[key] - before[key] for key in lasting)
    return ticks / os.sysconf("SC_CLK_TCK") / elapsed, len(lasting)


def bare_client(harness):
    """The floor: bare_sntp_client.exe under the same Wine, one exchange a line."""
    return subprocess.Popen([harness.WINE_RUN, os.path.join(harness.bin_dir(), "bare_sntp_client.exe"), ADDRESS],
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)


def bare_offset(floor):
    floor.stdin.write("\n")
    floor.stdin.flush()
    line = floor.stdout.readline().strip()
    if not re.fullmatch(r"-?\d+\.\d+", line):
        sys.exit(f"bare SNTP client: {line!r}")
    return round(float(line), 5)  # as the status line shows it


def correct_quietly(harness, reference):
    """Correct, with the bench quiet during the exchange: a winctl process that
    starts or ends, or a look at the window, keeps the single-threaded Wine
    server busy, and a socket call that waits behind it puts up to a
    millisecond into one half of the round trip alone. So the click goes
    through the long-lived winctl (Correct ends up in no COM), and the window
    is read only once the reference server has had the request and the reply
    has had its while to arrive."""
    asked = reference.count("sntp")
    harness.winctl_served("click", WINDOW, str(CORRECT))
    deadline = time.monotonic() + 20
    while reference.count("sntp") == asked and time.monotonic() < deadline:
        time.sleep(0.001)
    time.sleep(0.05)


def accuracy(harness, directory, corrects):
    """The program's errors and the bare client's, taken in turns at each offset,
    so that both meet the same load of this machine."""
    offsets = [-0.45 + 0.9 * i / (corrects - 1) for i in range(corrects)]
    errors, floor_errors = [], []
    with harness.ReferenceServer(ADDRESS) as reference:
        process = harness.start(directory, "Pendulark.exe")
        floor = bare_client(harness)
        try:
            if harness.winctl("wait", WINDOW, "30000").returncode != 0:
                sys.exit("Pendulark: no window")
            harness.wait_for_text(WINDOW, str(COMPUTER_CLOCK), lambda t: t != "Wait...")
            for offset in offsets:
                reference.offset = offset
                floor_errors.append(abs(bare_offset(floor) - offset))
                # A mark in the status line, so that the next result is told from the last.
                harness.winctl("set-text", WINDOW, str(STATUS), "-")
                correct_quietly(harness, reference)
                text = harness.wait_for_text(WINDOW, str(STATUS), lambda t: SHOWN.fullmatch(t) is not None, 20)
                match = SHOWN.fullmatch(text or "")
                if not match:
                    sys.exit(f"no correction shown for offset {offset:+.3f} s: {text!r}")
                errors.append(abs(float(match.group(1)) - offset))
        finally:
            floor.stdin.close()
            harness.finish(floor, 20)
            harness.winctl("key", WINDOW, "0x1B")
            harness.finish(process, 20)
    return errors, floor_errors


def percentile_95(values):
    return statistics.quantiles(values, n=20, method="inclusive")[-1]


XINETD_PORT, BARE_PORT = 3737, 3738
TURN = 100  # clients in one server's turn
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


def serving_time(port, clients):
    """Seconds for sequential clients, each reading the four bytes until the close."""
    started = time.monotonic()
    for _ in range(clients):
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
                data = b""
                while chunk := s.recv(16):
                    data += chunk
        except OSError as error:
            sys.exit(f"port {port}: {error}")
        if len(data) != 4:
            sys.exit(f"port {port} answered {len(data)} bytes")
    return time.monotonic() - started


def answers(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=2).close()
        return True
    except OSError:
        return False


def wait_for_port(port, seconds=30):
    deadline = time.monotonic() + seconds
    while not answers(port):
        if time.monotonic() >= deadline:
            sys.exit(f"nothing answers on port {port}")
        time.sleep(0.2)


CHRONYD = os.path.join(ROOT, "build", "chrony", "usr", "sbin", "chronyd")
SNTP_PORT, CHRONY_PORT, BARE_SNTP_PORT = 123, 11123, 11124
SNTP_TURN = 250
SNTP_FAILURES = 0.02  # the share of a server's requests that may go unanswered
# chronyd answers every request: it limits only with a "ratelimit" line. No
# Unix command socket either, which would go to /run/chrony.
CHRONY_CONF = f"""port {CHRONY_PORT}
bindaddress 127.0.0.1
allow 127.0.0.0/8
local stratum 10
cmdport 0
bindcmdaddress /
"""
REQUEST = struct.Struct("!B39xQ")  # version 4, client; the transmit time last
# Addresses taken in turn, so that none asks more than 8 times in a whole run
# and so never runs past Pendulark's burst (a RATE kiss, then silence).
SOURCES = [f"127.1.{i // 254}.{i % 254 + 1}" for i in range(256 * 254)]
stamps = itertools.count(1)


def sntp_time(port, requests, sources):
    """Seconds for sequential requests, and how many had no good reply."""
    failed = 0
    started = time.monotonic()
    for _ in range(requests):
        request = REQUEST.pack(0x23, next(stamps))
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.settimeout(1)
            s.bind((next(sources), 0))
            s.sendto(request, ("127.0.0.1", port))
            try:
                reply = s.recv(64)
            except TimeoutError:
                reply = b""
        # A kiss-o'-death, stratum 0, would mean the bench asked too often.
        failed += len(reply) != 48 or reply[0] & 7 != 4 or reply[1] == 0 or reply[24:32] != request[40:]
    return time.monotonic() - started, failed


def wait_for_sntp(port, sources, seconds=30):
    deadline = time.monotonic() + seconds
    while sntp_time(port, 1, sources)[1]:
        if time.monotonic() >= deadline:
            sys.exit(f"nothing answers SNTP on port {port}")


def in_turns(servers, measure, count, turn, rounds):
    """Each server's count per second, one figure per round. Other work on this
    machine comes and goes within seconds: short turns give every server its
    share of it in each round."""
    rates = {name: [] for name in servers}
    names = list(servers)
    for _ in range(rounds):
        spent = dict.fromkeys(servers, 0.0)
        for i in range(count // turn):
            for name in names[i % len(names):] + names[:i % len(names)]:
                spent[name] += measure(servers[name], turn)
        for name in servers:
            rates[name].append(count / spent[name])
    return rates


def server_rates(harness, directory, clients, requests, rounds):
    """Each server's RFC 868 clients and SNTP replies per second, one figure per round."""
    harness.write_settings(directory, time_server_enabled=1, log_level=0)
    probes = 100  # the waits for the ports and the warm-up
    sources = itertools.cycle(SOURCES)
    with tempfile.TemporaryDirectory() as scratch:
        conf = os.path.join(scratch, "xinetd.conf")
        with open(conf, "w") as f:
            f.write(XINETD_CONF)
        # xinetd removes its pid file when it ends: it gets one of its own.
        xinetd = subprocess.Popen(["xinetd", "-dontfork", "-f", conf, "-pidfile", os.path.join(scratch, "pid"),
                                   "-filelog", os.path.join(scratch, "log")],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(os.path.join(scratch, "chrony.conf"), "w") as f:
            f.write(CHRONY_CONF + f"pidfile {scratch}/chronyd.pid\n")
        # -x: it never touches the clock.
        chronyd = subprocess.Popen([CHRONYD, "-x", "-4", "-d", "-L", "2", "-u", "root", "-f", f.name],
                                   stdout=subprocess.DEVNULL)
        # The bare loops end when their input does.
        bare = subprocess.Popen([harness.WINE_RUN, os.path.join(harness.bin_dir(), "bare_time_server.exe"),
                                 str(BARE_PORT), str(rounds * clients + probes)],
                                stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        bare_sntp = subprocess.Popen([harness.WINE_RUN, os.path.join(harness.bin_dir(), "bare_sntp_server.exe"),
                                      str(BARE_SNTP_PORT), str(rounds * requests + probes)],
                                     stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        pendulark = harness.start(directory, "Pendulark.exe")
        try:
            if harness.winctl("wait", WINDOW, "30000").returncode != 0:
                sys.exit("Pendulark: no window")
            servers = {"Pendulark": 37, "bare": BARE_PORT, "xinetd": XINETD_PORT}
            for port in servers.values():
                wait_for_port(port)
                serving_time(port, probes // 4)
            rates = in_turns(servers, serving_time, clients, TURN, rounds)

            failed = collections.Counter()

            def ask(port, count):
                seconds, failures = sntp_time(port, count, sources)
                failed[port] += failures
                return seconds

            sntp_servers = {"Pendulark": SNTP_PORT, "bare": BARE_SNTP_PORT, "chronyd": CHRONY_PORT}
            for port in sntp_servers.values():
                wait_for_sntp(port, sources)
                sntp_time(port, probes // 4, sources)
            sntp = in_turns(sntp_servers, ask, requests, SNTP_TURN, rounds)
            for name, port in sntp_servers.items():
                if failed[port] > SNTP_FAILURES * rounds * requests:
                    sys.exit(f"{name}: {failed[port]} of {rounds * requests} SNTP requests had no good reply")
        finally:
            harness.winctl("key", WINDOW, "0x1B")
            harness.finish(pendulark, 20)
            for loop in (bare, bare_sntp):
                loop.stdin.close()
                harness.finish(loop, 20)
            for daemon in (xinetd, chronyd):
                daemon.terminate()
                harness.finish(daemon, 10)
    return rates, sntp, failed


def own_network():
    """A network namespace of this process's own, with only loopback, up."""
    if ctypes.CDLL(None, use_errno=True).unshare(0x40000000) != 0:  # CLONE_NEWNET
        sys.exit(f"no network namespace of our own: {os.strerror(ctypes.get_errno())}")
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True, timeout=10)


def spread(values, form):
    return f"{form.format(min(values))}..{form.format(max(values))}"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("bin_dir")
    parser.add_argument("--corrects", type=int, default=51)
    parser.add_argument("--idle-seconds", type=float, default=60)
    parser.add_argument("--clients", type=int, default=2000)
    parser.add_argument("--requests", type=int, default=10000)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    if args.corrects < 2 or args.rounds < 1 or args.clients < TURN or args.clients % TURN:
        sys.exit(f"needs at least 2 Corrects, 1 round, and clients in whole turns of {TURN}")
    if args.requests < SNTP_TURN or args.requests % SNTP_TURN or \
            3 * (args.rounds * args.requests + 200) > 8 * len(SOURCES):
        sys.exit(f"needs SNTP requests in whole turns of {SNTP_TURN}, and no more in all than 8 for each of the "
                 f"{len(SOURCES)} source addresses")
    own_network()
    os.environ["PENDULARK_BIN"] = os.path.abspath(args.bin_dir)
    os.environ["WINE_ROOT"] = os.path.abspath(os.environ.get("WINE_ROOT", os.path.join(ROOT, "build", "wine-bench")))
    import harness
    harness.start_wine()
    try:
        directory = harness.scratch_dir("bench-pendulark", ("Pendulark.exe", "Sumwick.exe"))
        with open(os.path.join(directory, "ServFile.txt"), "wb") as f:
            f.write(ADDRESS.encode() + b"\r\n")
        harness.write_settings(directory, protocol=1, sync_timeout_seconds=10)
        errors, floor = ([e * 1000 for e in side] for side in accuracy(harness, directory, args.corrects))
        p95, floor_p95 = percentile_95(errors), percentile_95(floor)
        print(f"correction accuracy over {len(errors)} Corrects, offsets -0.45..+0.45 s: "
              f"median {statistics.median(errors):.3f} ms, 95th percentile {p95:.3f} ms, "
              f"worst {max(errors):.3f} ms, as the status line estimates the step; the step set is rounded to "
              f"the nearest ms, so the clock is within {max(errors) + 0.5:.3f} ms (target: worst below 1 ms)")
        print(f"  floor, a bare SNTP exchange under the same Wine at the same offsets: median "
              f"{statistics.median(floor):.3f} ms, 95th percentile {floor_p95:.3f} ms, worst {max(floor):.3f} ms; "
              f"Pendulark / floor: 95th percentile {p95 / floor_p95:.2f}, worst {max(errors) / max(floor):.2f} "
              f"(goal: 95th percentile within 1.5)", flush=True)
        seconds = args.idle_seconds
        pendulark, counted = idle_share(harness, directory, "Pendulark.exe", WINDOW, seconds)
        sumwick, sumwick_counted = idle_share(harness, directory, "Sumwick.exe", "SUMWICK", seconds)
        ratio = f"{pendulark / sumwick:.2f} x Sumwick's" if sumwick > 0 else "Sumwick used no measurable CPU"
        print(f"idle CPU over {seconds:.0f} s: Pendulark {pendulark * 100:.3f} % of one core, idle Sumwick window "
              f"{sumwick * 100:.3f} % ({ratio}; processes counted: {counted} and {sumwick_counted}; "
              f"target below 0.5 %)", flush=True)
        rates, sntp, failed = server_rates(harness, directory, args.clients, args.requests, args.rounds)
        ours = rates["Pendulark"]
        per_bare = [o / b for o, b in zip(ours, rates["bare"])]
        per_xinetd = [o / x for o, x in zip(ours, rates["xinetd"])]
        ceiling = [b / x for b, x in zip(rates["bare"], rates["xinetd"])]
        print(f"time server, {args.rounds} rounds of {args.clients} sequential clients per server, in turns of "
              f"{TURN}: "
              f"Pendulark under Wine {spread(ours, '{:.0f}')}/s, bare Winsock loop under Wine "
              f"{spread(rates['bare'], '{:.0f}')}/s, xinetd's time service {spread(rates['xinetd'], '{:.0f}')}/s")
        print(f"  Pendulark / bare loop {spread(per_bare, '{:.2f}')}; Pendulark / xinetd "
              f"{spread(per_xinetd, '{:.2f}')} (aim: at least 0.25); bare loop / xinetd {spread(ceiling, '{:.2f}')} "
              f"(the most any server reaches under Wine)")
        ours = sntp["Pendulark"]
        per_bare = [o / b for o, b in zip(ours, sntp["bare"])]
        per_chronyd = [o / c for o, c in zip(ours, sntp["chronyd"])]
        print(f"SNTP server, {args.rounds} rounds of {args.requests} sequential requests per server, in turns of "
              f"{SNTP_TURN}: Pendulark under Wine (unsynchronised) {spread(ours, '{:.0f}')}/s, bare Winsock loop "
              f"under Wine {spread(sntp['bare'], '{:.0f}')}/s, chronyd {spread(sntp['chronyd'], '{:.0f}')}/s; "
              f"no good reply: {failed[SNTP_PORT]}, {failed[BARE_SNTP_PORT]}, {failed[CHRONY_PORT]}")
        print(f"  Pendulark / bare loop {spread(per_bare, '{:.2f}')}; Pendulark / chronyd "
              f"{spread(per_chronyd, '{:.2f}')}")
    finally:
        harness.stop_wine()


if __name__ == "__main__":
    main()
