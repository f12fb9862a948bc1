#!/usr/bin/env python3
"""Runs clock_discipline_bench over the weeks below and several seeds and
prints one table: each figure is the range over the seeds.

usage: clock_discipline_table.py BENCH [--seeds N]
"""
import argparse
import re
import subprocess
import sys

LAST_LINE = re.compile(
    r"stepped p95 (\S+) ms worst (\S+) ms backward (\d+); disciplined p95 (\S+) ms worst (\S+) ms backward (\d+)$")

HOURLY, DAILY = "3600", "86400"
LAN, INTERNET = "0.2-1", "5-40"
# (what the week is, drift, wander, swing, period, delay)
WEEKS = [
    ("+40 ppm, wander 2, hourly, LAN", "40", "2", "0", HOURLY, LAN),
    ("+40 ppm, wander 2, hourly, Internet", "40", "2", "0", HOURLY, INTERNET),
    ("+40 ppm, wander 2, daily, LAN", "40", "2", "0", DAILY, LAN),
    ("-80 ppm, wander 2, swing 5, hourly, LAN", "-80", "2", "5", HOURLY, LAN),
    # A steadier clock, where the goals in milliseconds are within reach.
    ("+40 ppm, wander 0.5, hourly, LAN", "40", "0.5", "0", HOURLY, LAN),
    ("+40 ppm, wander 0.5, daily, LAN", "40", "0.5", "0", DAILY, LAN),
]


def run(bench, week, seed):
    _, drift, wander, swing, period, delay = week
    out = subprocess.run([bench, "--drift-ppm", drift, "--wander-ppm-per-day", wander, "--swing-ppm", swing,
                          "--period-s", period, "--delay-ms", delay, "--days", "7", "--seed", str(seed)],
                         capture_output=True, text=True, timeout=600, check=True).stdout.strip().splitlines()
    match = LAST_LINE.match(out[-1]) if out else None
    if not match:
        sys.exit(f"clock_discipline_table: unexpected last line {out[-1:]}")
    return [float(x) for x in match.groups()]


def span(values, form="{:.3f}"):
    low, high = min(values), max(values)
    return form.format(low) if low == high else (form + " to " + form).format(low, high)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("bench")
    parser.add_argument("--seeds", type=int, default=5)
    args = parser.parse_args()
    print(f"Clock discipline, a simulated week each, seeds 1 to {args.seeds}, the range over the seeds "
          "(|clock - true time| every 10 s after the first day; set-backs after it):")
    header = ("week", "stepped p95 ms", "disciplined p95 ms", "disciplined/stepped", "stepped worst ms",
              "disciplined worst ms", "set back (stepped, disciplined)")
    rows = [header]
    for week in WEEKS:
        runs = [run(args.bench, week, seed) for seed in range(1, args.seeds + 1)]
        ratio = [r[3] / r[0] for r in runs]
        rows.append((week[0], span([r[0] for r in runs]), span([r[3] for r in runs]), span(ratio),
                     span([r[1] for r in runs]), span([r[4] for r in runs]),
                     span([r[2] for r in runs], "{:.0f}") + ", " + span([r[5] for r in runs], "{:.0f}")))
    widths = [max(len(row[i]) for row in rows) for i in range(len(header))]
    for row in rows:
        print("  ".join(cell.ljust(width) for cell, width in zip(row, widths)).rstrip())


if __name__ == "__main__":
    main()
