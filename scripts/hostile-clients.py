#!/usr/bin/env python3
"""Runs hostile clients against xmlda-sim and prints, per case, the time it took, what the
attacker got, how long a normal client waited meanwhile, and the service's peak resident memory.

    scripts/hostile-clients.py build/sim/xmlda/xmlda-sim [case ...]

Each case starts a fresh xmlda-sim (so that its peak memory belongs to that case alone).
Cases: chunked, gzip, length, trickle, unread, subscriptions, deadband (default: all).
"""
import re
import socket
import subprocess
import sys
import threading
import time
import urllib.request
import zlib

OPC = "http://opcfoundation.org/webservices/XMLDA/1.0/"
GIB = 1 << 30


def envelope(op, attrs="", inner=""):
    return ('<?xml version="1.0" encoding="utf-8"?><soap:Envelope '
            'xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/"><soap:Body>'
            f'<{op} xmlns="{OPC}" {attrs}>{inner}</{op}></soap:Body></soap:Envelope>').encode()


class Sim:
    def __init__(self, binary, extra):
        self.proc = subprocess.Popen([binary, "--port", "0"] + extra, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, text=True)
        line = self.proc.stdout.readline()
        m = re.search(r"url (http://[^:]+:(\d+)(/\S*))", line)
        if not m:
            raise SystemExit("xmlda-sim did not start: " + line)
        self.url, self.port, self.path = m.group(1), int(m.group(2)), m.group(3)

    def memory_kb(self, field):
        with open(f"/proc/{self.proc.pid}/status") as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
        return 0

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()


def post(sim, body, timeout=120):
    """A normal client: (status, seconds)."""
    t0 = time.monotonic()
    req = urllib.request.Request(sim.url, data=body, headers={"Content-Type": "text/xml"})
    try:
        with urllib.request.urlopen(req, timeout=timeout) as r:
            r.read()
            status = r.status
    except urllib.error.HTTPError as e:
        e.read()
        status = e.code
    except OSError as e:
        status = type(e).__name__
    return status, time.monotonic() - t0


def head(sim, headers):
    return (f"POST {sim.path} HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/xml\r\n"
            f"{headers}\r\n").encode()


def stream(sim, first, pieces, limit=120):
    """Sends first, then pieces while the service takes them; returns the answer's status."""
    s = socket.create_connection(("127.0.0.1", sim.port))
    s.settimeout(limit)
    try:
        s.sendall(first)
        for p in pieces:
            s.sendall(p)
    except OSError:
        pass
    data = b""
    try:
        s.shutdown(socket.SHUT_WR)
    except OSError:
        pass
    try:
        while True:
            d = s.recv(65536)
            if not d:
                break
            data += d
    except OSError:
        pass
    s.close()
    m = re.match(rb"HTTP/1\.1 (\d+)", data)
    return int(m.group(1)) if m else "no answer"


def chunked(total, size=1 << 16):
    block = b" " * size
    for _ in range(total // size):
        yield b"%x\r\n" % size + block + b"\r\n"
    yield b"0\r\n\r\n"


def gzip_bomb(total):
    z = zlib.compressobj(9, zlib.DEFLATED, 31)
    block = bytes(1 << 20)
    out = [z.compress(block) for _ in range(total // len(block))]
    out.append(z.flush())
    return b"".join(out)


def case_chunked(sim):
    return stream(sim, head(sim, "Transfer-Encoding: chunked\r\n"), chunked(GIB)), None


def case_gzip(sim):
    bomb = gzip_bomb(GIB)
    h = head(sim, f"Content-Encoding: gzip\r\nContent-Length: {len(bomb)}\r\n")
    return f"{stream(sim, h, [bomb])} ({len(bomb) >> 10} KiB sent)", None


def case_length(sim):
    block = b" " * (1 << 16)
    return stream(sim, head(sim, f"Content-Length: {GIB}\r\n"),
                  (block for _ in range(GIB // len(block)))), None


def attackers(n, attack):
    stop = threading.Event()
    threads = [threading.Thread(target=attack, args=(stop,), daemon=True) for _ in range(n)]
    for t in threads:
        t.start()
    return stop, threads


def case_trickle(sim):
    """100 clients sending one header byte every 2 s; a normal client meanwhile."""
    text = head(sim, "X-Slow: 1\r\n")

    def attack(stop):
        while not stop.is_set():
            try:
                s = socket.create_connection(("127.0.0.1", sim.port))
                for i in range(len(text)):
                    s.send(text[i:i + 1])
                    if stop.wait(2):
                        break
                s.close()
            except OSError:
                pass

    stop, threads = attackers(100, attack)
    time.sleep(3)  # let them take the workers
    status, waited = post(sim, envelope("GetStatus"))
    stop.set()
    return f"normal client: {status}", waited


def case_unread(sim):
    """100 clients asking for a 9 MB reply and never reading it; a normal client meanwhile."""
    body = envelope("Browse", 'ItemName="Load" ReturnAllProperties="true" '
                              'ReturnPropertyValues="true"')
    request = head(sim, f"Content-Length: {len(body)}\r\n") + body
    socks = []
    for _ in range(100):
        s = socket.create_connection(("127.0.0.1", sim.port))
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        s.sendall(request)
        socks.append(s)
    time.sleep(3)
    status, waited = post(sim, envelope("GetStatus"))
    rss_now = sim.memory_kb("VmRSS")
    for s in socks:
        s.close()
    return f"normal client: {status}; RSS while held {rss_now >> 10} MiB", waited


def case_subscriptions(sim):
    """2000 subscriptions without a ping rate, one more, then one more after they expire."""
    sub = envelope("Subscribe", "", '<ItemList><Items ItemName="Static/Int"/></ItemList>')
    for _ in range(2000):
        post(sim, sub)
    over, _ = post(sim, sub)
    t0 = time.monotonic()
    later = over
    while later != 200 and time.monotonic() - t0 < 15:
        time.sleep(0.5)
        later, _ = post(sim, sub)
    return f"2001st: {over}; after expiry: {later}", time.monotonic() - t0


def case_deadband(sim):
    body = envelope("Subscribe", "", '<ItemList Deadband="NaN"><Items '
                    'ItemName="Plant/Area1/Tank1/Level"/></ItemList>')
    req = urllib.request.Request(sim.url, data=body, headers={"Content-Type": "text/xml"})
    with urllib.request.urlopen(req, timeout=30) as r:
        text = r.read().decode()
    m = re.search(r'ResultID="([^"]+)"', text)
    return "NaN deadband: " + (m.group(1) if m else "accepted"), None


CASES = {
    "chunked": (case_chunked, []),
    "gzip": (case_gzip, []),
    "length": (case_length, []),
    "trickle": (case_trickle, []),
    "unread": (case_unread, []),
    "subscriptions": (case_subscriptions, ["--default-ping-rate-ms", "2000"]),
    "deadband": (case_deadband, []),
}


def main():
    if len(sys.argv) < 2:
        raise SystemExit(__doc__)
    binary, names = sys.argv[1], sys.argv[2:] or list(CASES)
    print(f"{'case':<14}{'time s':>8}{'peak RSS MiB':>14}{'client wait s':>15}  outcome")
    for name in names:
        run, extra = CASES[name]
        # Switches an older build does not know are left out.
        supported = subprocess.run([binary, "--help"], capture_output=True, text=True).stdout
        if extra and extra[0] not in supported:
            extra = []
        sim = Sim(binary, extra)
        t0 = time.monotonic()
        try:
            outcome, waited = run(sim)
        finally:
            elapsed = time.monotonic() - t0
            peak = sim.memory_kb("VmHWM")
            sim.stop()
        wait = f"{waited:.1f}" if waited is not None else "-"
        print(f"{name:<14}{elapsed:>8.1f}{peak / 1024:>14.0f}{wait:>15}  {outcome}", flush=True)


if __name__ == "__main__":
    main()
