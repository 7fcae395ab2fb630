#!/usr/bin/env python3
"""What watching costs an acquisition: the same run against the virtual bench with no viewer and with
five (four pages that follow every event and fetch every file's data, one stalled: it asks for the
event stream and never reads). Prints each run's time from the first scan to the last file saved,
the host's peak memory, and whether the saved files' data are the same in every run.

  benchmarks/live_view_load.py [--host build/dorvane] [--bench build/dorvane-benchsim]
                               [--files 6] [--points 4096] [--scans 4] [--baud 115200] [--rounds 2]
"""
import argparse
import glob
import hashlib
import json
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time


def http_get(port, path, timeout=30):
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nConnection: close\r\n\r\n".encode())
        data = b""
        while chunk := s.recv(65536):
            data += chunk
    head, _, body = data.partition(b"\r\n\r\n")
    return int(head.split()[1]), body


class Viewer(threading.Thread):
    """A page's traffic: the event stream read as it comes, and each new file's data fetched."""

    def __init__(self, port):
        super().__init__(daemon=True)
        self.port, self.files_fetched, self.running = port, 0, True

    def run(self):
        try:
            s = socket.create_connection(("127.0.0.1", self.port), timeout=60)
            s.sendall(f"GET /events HTTP/1.1\r\nHost: 127.0.0.1:{self.port}\r\n\r\n".encode())
            buffer = b""
            while self.running:
                chunk = s.recv(65536)
                if not chunk:
                    return
                buffer += chunk
                for number in re.findall(rb'event: file\ndata: \{"number":(\d+)', buffer):
                    status, _ = http_get(self.port, f"/files/{int(number)}.json")
                    self.files_fetched += status == 200
                buffer = buffer[buffer.rfind(b"\n\n") + 2:] if b"\n\n" in buffer else buffer
        except OSError:
            pass


def stalled_viewer(port):
    """Asks for the event stream with the smallest receive buffer the system gives, and never reads."""
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1024)
    s.connect(("127.0.0.1", port))
    s.sendall(f"GET /events HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n".encode())
    return s


def data_digest(folder):
    """The saved interferograms' numbers, without the comment lines that carry times."""
    digest = hashlib.sha256()
    for path in sorted(glob.glob(os.path.join(folder, "*.csv"))):
        with open(path, "rb") as f:
            digest.update(b"".join(line for line in f if not line.startswith(b"#")))
    return digest.hexdigest()[:16]


def one_run(args, viewers, work):
    folder = tempfile.mkdtemp(dir=work)
    link = os.path.join(folder, "bench")
    bench = subprocess.Popen([args.bench, "--seed", "1", "--baud", str(args.baud), "--link", link],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    while not os.path.exists(link):
        time.sleep(0.02)
    ini = os.path.join(folder, "dorvane.ini")
    with open(ini, "w") as f:
        f.write(f"[Settings]\nport=49\nbaud={args.baud}\npoints={args.points}\n")
    host = subprocess.Popen([args.host, "acquire", "--ini", ini, "--out", os.path.join(folder, "files"),
                             "--prefix", "run", "--files", str(args.files), "--scans", str(args.scans),
                             "--no-plot", "--live=0"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                            env=dict(os.environ, DORVANE_COM49=link))
    port, started, took, threads, stalled, counts, peak = None, None, None, [], None, None, None
    for line in host.stdout:
        if port is None and (m := re.match(r"http://127\.0\.0\.1:(\d+)/$", line.strip())):
            port = int(m.group(1))
            threads = [Viewer(port) for _ in range(viewers - 1)] if viewers else []
            for t in threads:
                t.start()
            stalled = stalled_viewer(port) if viewers else None
        elif line.startswith("acquiring "):
            started = time.monotonic()
        elif line.startswith("saved "):
            took = time.monotonic() - started
        elif line.startswith("the run is over"):
            status, body = http_get(port, "/run.json")
            counts = json.loads(body)["state"]["done"] if status == 200 else None
            with open(f"/proc/{host.pid}/status") as f:
                peak = next(int(line.split()[1]) for line in f if line.startswith("VmHWM:"))
            break
    host.send_signal(signal.SIGINT)
    host.wait(timeout=30)
    bench.send_signal(signal.SIGINT)
    bench.wait(timeout=30)
    for t in threads:
        t.running = False
    if stalled:
        stalled.close()
    fetched = sum(t.files_fetched for t in threads)
    return took, data_digest(os.path.join(folder, "files")), counts, fetched, peak


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--host", default="build/dorvane")
    parser.add_argument("--bench", default="build/dorvane-benchsim")
    parser.add_argument("--files", type=int, default=6)
    parser.add_argument("--points", type=int, default=4096)
    parser.add_argument("--scans", type=int, default=4)
    parser.add_argument("--baud", type=int, default=115200)
    parser.add_argument("--rounds", type=int, default=2)
    args = parser.parse_args()
    digests = set()
    with tempfile.TemporaryDirectory() as work:
        for round_ in range(args.rounds):
            for viewers in (0, 5):
                took, digest, done, fetched, peak = one_run(args, viewers, work)
                digests.add(digest)
                print(f"round {round_ + 1}, {viewers} viewers: {args.files} files of {args.points} points in "
                      f"{took:.2f} s, {done} saved, data {digest}, host's peak memory {peak / 1024:.1f} MiB"
                      + (f", {fetched} file data fetched by the four live viewers" if viewers else ""))
    print("the saved data are the same in every run" if len(digests) == 1 else "the saved data DIFFER between runs")
    return 0 if len(digests) == 1 else 1


if __name__ == "__main__":
    sys.exit(main())
