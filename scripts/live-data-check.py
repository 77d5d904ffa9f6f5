#!/usr/bin/env python3
"""Live data as a user sees it: compares what a `tagscope-cli watch --format csv` printed with what
the simulated OPC server reports having sent (VELQOR_COMSIM_REPORT), and measures the delay from
each value's server timestamp to the moment the client printed it.

usage: live-data-check.py CSV REPORT RATE_MS [MIN_SHARE]
Prints one line of figures; exits 1 when fewer than MIN_SHARE (default 0.95) of the values sent
arrived, or the median delay is not under one update period (RATE_MS). Each item's first value
is left out of the delays: it may be older than the subscription."""
import csv
import datetime
import re
import statistics
import sys


def when(text):
    return datetime.datetime.fromisoformat(text)


def main():
    if len(sys.argv) < 4:
        print(__doc__)
        return 2
    rows_file, report_file, rate = sys.argv[1], sys.argv[2], float(sys.argv[3])
    min_share = float(sys.argv[4]) if len(sys.argv) > 4 else 0.95
    with open(rows_file, newline="", encoding="utf-8") as f:
        rows = [r for r in csv.DictReader(f)]
    with open(report_file, encoding="utf-8", errors="replace") as f:
        sent = sum(int(m.group(1)) for m in re.finditer(r" sent (\d+)", f.read()))
    seen, delays = set(), []
    for r in rows:
        if r["item"] in seen and r["timestamp"]:
            delays.append((when(r["time"]) - when(r["timestamp"])).total_seconds() * 1000)
        seen.add(r["item"])
    share = len(rows) / sent if sent else 0.0
    median = statistics.median(delays) if delays else float("inf")
    print(f"live data: received {len(rows)} of {sent} values sent ({share:.1%}), "
          f"median delay {median:.0f} ms (update rate {rate:.0f} ms, {len(seen)} items)")
    return 0 if sent > 0 and share >= min_share and median < rate else 1


if __name__ == "__main__":
    sys.exit(main())
