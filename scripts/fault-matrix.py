#!/usr/bin/env python3
"""Runs tagscope-cli against every simulated COM server under every fault switch and checks
that no command passes for complete when something was lost.

For each server, switch and command it compares the run with the same command without
faults. A run fails the matrix when
  - it exits 0 but its answer is short: a listing with fewer lines, properties that differ,
    an item without its line or value, a write without "ok", a watch that never showed an
    item;
  - it prints an error without words ("error: " and nothing after it, "failed:" at a line's
    end, an item named with an empty reason);
  - it does not end within its time.

usage: fault-matrix.py CLI [--jobs N] [--servers A,B] [--switches X,Y]
Prints one line per failed run and a summary; exits 1 when any run failed.
"""
import argparse
import concurrent.futures
import os
import re
import subprocess
import sys

SERVERS = ["Velqor.SimDA10.1", "Velqor.SimDA20.1", "Velqor.SimDA20Flat.1", "Velqor.SimDA30.1"]
# Every switch of the simulated servers, with the items the commands below use as targets.
SWITCHES = [
    "slow=50", "property-error=Static/Int", "read-error=Static/Int", "write-error=Writable/Int",
    "add-error=Static/Int,add-error=Writable/Int", "refuse-browse=Plant/Area1",
    "item-id-error=Plant/Area1/Tank1/Level", "refuse-browse-to", "sfalse", "arrays=null",
    "arrays=short", "no-continuation", "endless-browse", "empty-properties",
    "callbacks-after-unadvise", "callbacks-after-remove", "unknown-handle", "bad-stream",
    "complete-in-call", "shutdown-after=300", "serverlist=break", "serverlist=endless",
]
READ = ["Static/Int", "Static/Double", "Plant/Area1/Tank1/Level"]
WRITE = ["Writable/Int=7", "Writable/Double=2.5"]
WATCH = ["Static/Int", "Plant/Area1/Tank1/Level"]
COMMANDS = {
    "status": lambda s: ["status", s],
    "browse": lambda s: ["browse", s],
    "browse --flat": lambda s: ["browse", s, "--flat"],
    "props": lambda s: ["props", s] + READ,
    "read": lambda s: ["read", s] + READ,
    "write": lambda s: ["write", s] + WRITE,
    "watch": lambda s: ["watch", s] + WATCH + ["--rate", "100", "--count", "6"],
}
TIMEOUT = 60
WORDLESS = [
    re.compile(r"^(error|warning):\s*$", re.M),
    re.compile(r"failed:\s*$", re.M),
    re.compile(r"^[^\s:]+:\s*$", re.M),  # an item named, nothing said
    re.compile(r"\berror:\s*(\t|$)", re.M),
]


def run(cli, args, switch):
    env = dict(os.environ, VELQOR_COMSIM_FAULTS=switch, TZ="UTC")
    try:
        p = subprocess.run([cli] + args, env=env, capture_output=True, text=True,
                           timeout=TIMEOUT, errors="replace")
        return p.returncode, p.stdout, p.stderr
    except subprocess.TimeoutExpired:
        return None, "", ""


def lines(text):
    return [l for l in text.splitlines() if l]


def short(command, out, base):
    """Why an exit-0 answer is shorter than the fault-free one; empty when it is not."""
    if command == "status":
        return ""
    if command.startswith("browse") or command == "props":
        return "" if lines(out) == lines(base) else "listing differs from the fault-free one"
    if command == "read":
        got = {l.split("\t")[0]: l.split("\t") for l in lines(out)}
        for item in READ:
            if item not in got or len(got[item]) < 3 or not got[item][1]:
                return "no value for " + item
        return ""
    if command == "write":
        for item in (w.split("=")[0] for w in WRITE):
            if item + "\tok" not in lines(out):
                return "no ok for " + item
        return ""
    if command == "watch":
        missing = [i for i in WATCH if ("  " + i + "  ") not in out]
        return "never showed " + ", ".join(missing) if missing else ""
    return ""


def verdict(cli, server, switch, command, baselines):
    rc, out, err = run(cli, COMMANDS[command](server), switch)
    where = f"{server} [{switch}] {command}"
    if rc is None:
        return f"{where}: no end within {TIMEOUT} s"
    for pattern in WORDLESS:
        m = pattern.search(err) or pattern.search(out)
        if m:
            return f"{where}: exit {rc}, an error without words: {m.group(0)!r}"
    if rc == 0 and baselines[(server, command)] is None:
        return f"{where}: exit 0 where the fault-free run fails"
    if rc == 0:
        why = short(command, out, baselines[(server, command)])
        if why:
            return f"{where}: exit 0 but {why}"
    return ""


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("cli")
    ap.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    ap.add_argument("--servers", default=",".join(SERVERS))
    ap.add_argument("--switches", default=";".join(SWITCHES))
    a = ap.parse_args()
    servers = a.servers.split(",")
    switches = a.switches.split(";")

    baselines = {}
    for server in servers:
        for command, make in COMMANDS.items():
            # A command that fails without faults (props on a DA 1.0 server) has nothing to
            # lose: any answer of it under faults is compared with nothing.
            rc, out, err = run(a.cli, make(server), "")
            baselines[(server, command)] = out if rc == 0 else None
    runs = [(s, w, c) for s in servers for w in switches for c in COMMANDS]
    with concurrent.futures.ThreadPoolExecutor(a.jobs) as pool:
        results = list(pool.map(lambda r: verdict(a.cli, *r, baselines), runs))
    failed = [r for r in results if r]
    for r in failed:
        print("FAIL " + r)
    print(f"fault matrix: {len(runs)} runs, {len(failed)} failed")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
