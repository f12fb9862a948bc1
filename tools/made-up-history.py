#!/usr/bin/env python3
"""Writes a made-up dHistory.csv for the pictures of the History window: a week
of a clock that gains 1.5 s a day under AutoSync every 4 hours, with a Check now
and then between, ending an hour before now.

    made-up-history.py OUT_FILE
"""
import datetime
import random
import sys

HEADER = "time,server,address,protocol,offset,delay,stratum,corrected\r\n"
GAIN_PER_DAY = 1.5


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    random.seed(7)  # the same picture every time
    end = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0) - datetime.timedelta(hours=1)
    start = end - datetime.timedelta(days=7)
    rows = []
    at = start
    while at <= end:
        for hours, corrected in ((1.5, False), (4, True)):
            when = at + datetime.timedelta(hours=hours, seconds=random.uniform(-60, 60))
            if when > end:
                break
            offset = -GAIN_PER_DAY * hours / 24 + random.gauss(0, 0.004)
            delay = random.uniform(0.008, 0.030)
            stamp = when.strftime("%Y-%m-%dT%H:%M:%S.") + f"{when.microsecond // 1000:03d}Z"
            rows.append(f"{stamp},pool.ntp.example,192.0.2.{10 + len(rows) % 4},SNTP,{offset:+.6f},{delay:.6f},2,"
                        f"{int(corrected)}\r\n")
        at += datetime.timedelta(hours=4)
    with open(sys.argv[1], "w", newline="") as f:
        f.write(HEADER + "".join(rows))


if __name__ == "__main__":
    main()
