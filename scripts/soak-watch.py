#!/usr/bin/env python3
"""Soak check of a long watch (not a test; not run in CI).

Runs `tagscope-cli watch` on many items of xmlda-sim's Load branch while the simulator drops
every subscription now and then and is killed and restarted on the same port, and prints what
the watch delivered: values received, gaps (time without any good value), losses and
recoveries the watch reported, and the watch's resident memory at the start and the end.

  scripts/soak-watch.py [--build build] [--minutes 10] [--items 200] [--rate 100]
                        [--drop-every 20000] [--restart-every 30] [--gap 2.5]
"""
import argparse
import os
import re
import signal
import socket
import subprocess
import sys
import threading
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def rss_kib(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return -1


class Sim:
    def __init__(self, exe, port, drop_every):
        self.args = [exe, "--port", str(port), "--drop-subscriptions-every", str(drop_every)]
        self.proc = None
        self.starts = 0

    def start(self):
        for _ in range(100):  # the port may linger for a moment after a kill
            self.proc = subprocess.Popen(self.args, stdout=subprocess.PIPE,
                                         stderr=subprocess.DEVNULL, text=True)
            line = self.proc.stdout.readline()
            if "listening" in line:
                self.starts += 1
                threading.Thread(target=self.proc.stdout.read, daemon=True).start()
                return
            self.proc.wait()
            time.sleep(0.1)
        sys.exit("xmlda-sim does not start")

    def kill(self):
        self.proc.kill()  # a crash, not a clean stop
        self.proc.wait()


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", default="build")
    ap.add_argument("--minutes", type=float, default=10)
    ap.add_argument("--items", type=int, default=200)
    ap.add_argument("--rate", type=int, default=100)
    ap.add_argument("--drop-every", type=int, default=20000)
    ap.add_argument("--restart-every", type=float, default=30)
    # The Load items change once a second, so good values come at least that far apart.
    ap.add_argument("--gap", type=float, default=2.5, help="a gap is longer than this, seconds")
    a = ap.parse_args()

    port = free_port()
    sim = Sim(os.path.join(a.build, "sim/xmlda/xmlda-sim"), port, a.drop_every)
    sim.start()
    items = [f"Load/Item{i:05d}" for i in range(a.items)]
    url = f"http://127.0.0.1:{port}/opc/xmlda"
    cli = subprocess.Popen(
        [os.path.join(a.build, "cli/tagscope-cli"), "watch", url, *items, "--rate", str(a.rate),
         "--format", "csv"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    lock = threading.Lock()
    good_times = []  # arrival of each good value (monotonic seconds)
    counts = {"values": 0, "bad": 0, "lost": 0, "recovered": 0}
    errors = []

    def read_out():
        next(cli.stdout, None)  # the csv header
        for line in cli.stdout:
            now = time.monotonic()
            with lock:
                counts["values"] += 1
                if re.search(r",good,", line):
                    good_times.append(now)
                else:
                    counts["bad"] += 1

    def read_err():
        for line in cli.stderr:
            with lock:
                if "subscription lost:" in line:
                    counts["lost"] += 1
                elif "subscription recovered" in line:
                    counts["recovered"] += 1
                else:
                    errors.append(line.rstrip())

    threads = [threading.Thread(target=read_out), threading.Thread(target=read_err)]
    for t in threads:
        t.start()

    t0 = time.monotonic()
    end = t0 + a.minutes * 60
    time.sleep(5)
    rss_start = rss_kib(cli.pid)
    next_restart = t0 + a.restart_every
    while time.monotonic() < end and cli.poll() is None:
        time.sleep(max(0.0, min(next_restart, end) - time.monotonic()))
        if time.monotonic() >= next_restart and time.monotonic() < end:
            sim.kill()
            sim.start()
            next_restart += a.restart_every
    rss_end = rss_kib(cli.pid)
    still_running = cli.poll() is None
    if still_running:
        cli.send_signal(signal.SIGINT)
    try:
        code = cli.wait(timeout=30)
    except subprocess.TimeoutExpired:
        cli.kill()
        code = cli.wait()
    for t in threads:
        t.join()
    sim.kill()

    span = time.monotonic() - t0
    gaps = [b - a_ for a_, b in zip(good_times, good_times[1:])]
    long_gaps = [g for g in gaps if g > a.gap]
    print(f"soak: {span / 60:.1f} min, {a.items} items at {a.rate} ms, subscriptions dropped every "
          f"{a.drop_every / 1000:g} s, simulator killed and restarted {sim.starts - 1} times")
    print(f"values received: {counts['values']} ({len(good_times)} good, {counts['bad']} bad)")
    print(f"gaps over {a.gap:g} s without a good value: {len(long_gaps)}, longest "
          f"{max(gaps, default=0):.2f} s, total {sum(long_gaps):.1f} s")
    print(f"losses reported: {counts['lost']}, re-subscriptions: {counts['recovered']}")
    print(f"watch RSS: start {rss_start} KiB, end {rss_end} KiB")
    print(f"watch ran to the end: {'yes' if still_running else 'no'}; exit code {code}")
    for e in errors[:10]:
        print(f"stderr: {e}")
    return 0 if still_running and code == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
