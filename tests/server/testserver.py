#!/usr/bin/env python3
"""Local HTTP test server: files with Range support, faults on demand, a
request log, and an optional forward proxy that demands Basic authentication.

Standard library only. Binds to 127.0.0.1. See README.md beside this file for
the command line, the fault syntax, the control endpoints and the Python API.
"""

import argparse
import hashlib
import http.server
import json
import os
import signal
import socketserver
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from server_faults import Fault  # noqa: E402
from server_handler import Handler  # noqa: E402

__all__ = ["TestServer", "Fault", "md5_of", "main"]


class _Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64


class TestServer:
    """In-process server: TestServer(root).start(); ...; stop().

    root        folder whose files are served (created if missing)
    port        0 picks a free port; read .port after start()
    log_path    optional file that receives one JSON object per request
    proxy_auth  "user:password" turns this instance into a forward proxy that
                demands Basic authentication and forwards to loopback only
    """

    def __init__(self, root=".", port=0, log_path=None, proxy_auth=None, host="127.0.0.1"):
        self.root = os.path.realpath(root)
        os.makedirs(self.root, exist_ok=True)
        self.host = host
        self.log_path = log_path
        self.proxy_auth = proxy_auth
        self._port = port
        self._lock = threading.Lock()
        self._requests = []
        self._faults = {}
        self._seen = set()
        self._sending = {}
        self._stopping = threading.Event()
        self._httpd = None
        self._thread = None

    # lifecycle
    def start(self):
        self._stopping.clear()
        self._httpd = _Server((self.host, self._port), Handler)
        self._httpd.owner = self
        self._thread = threading.Thread(target=self._httpd.serve_forever, kwargs={"poll_interval": 0.1},
                                        name="testserver", daemon=True)
        self._thread.start()
        return self

    def stop(self):
        if self._httpd is None:
            return
        self._stopping.set()  # ends stalls and slow transfers
        self._httpd.shutdown()
        self._httpd.server_close()
        self._thread.join(5)
        self._httpd = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    @property
    def port(self):
        return self._httpd.server_address[1]

    def url(self, path="/"):
        return "http://%s:%d/%s" % (self.host, self.port, path.lstrip("/"))

    # faults and log
    def add_fault(self, path, faults, count=1):
        """The next `count` requests of `path` (without any /fault/ prefix)
        behave as `faults` says."""
        Fault(faults)  # validate now, not at request time
        with self._lock:
            self._faults.setdefault(path, []).extend([faults] * count)

    def _first_request(self, path):
        """True for the first request of path since the start or the last reset."""
        with self._lock:
            first = path not in self._seen
            self._seen.add(path)
            return first

    def _take_fault(self, path):
        with self._lock:
            queue = self._faults.get(path)
            return queue.pop(0) if queue else ""

    def _count_body(self, path, delta):
        """Counts answers of path sending their bodies (+1 at the start, -1
        at the end); returns how many others were sending before."""
        with self._lock:
            self._sending[path] = self._sending.get(path, 0) + delta
            return self._sending[path] - delta

    def _record(self, entry):
        with self._lock:
            self._requests.append(entry)
            if self.log_path:
                with open(self.log_path, "a", encoding="utf-8") as f:
                    f.write(json.dumps(entry, sort_keys=True, separators=(",", ":")) + "\n")

    def requests(self, path=None):
        with self._lock:
            return [dict(e) for e in self._requests if path is None or e.get("file", e["path"]) == path]

    def reset(self):
        with self._lock:
            self._requests.clear()
            self._faults.clear()
            self._seen.clear()


def md5_of(path):
    h = hashlib.md5()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--root", default=".", help="folder to serve")
    ap.add_argument("--port", type=int, default=0, help="0 picks a free port")
    ap.add_argument("--port-file", help="write the chosen port here once listening")
    ap.add_argument("--log", help="append one JSON line per request here")
    ap.add_argument("--proxy-auth", metavar="USER:PASSWORD",
                    help="run as a forward proxy demanding these Basic credentials")
    args = ap.parse_args(argv)
    server = TestServer(args.root, args.port, args.log, args.proxy_auth).start()
    if args.port_file:
        tmp = args.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write("%d\n" % server.port)
        os.replace(tmp, args.port_file)
    print("listening on 127.0.0.1:%d" % server.port, flush=True)
    done = threading.Event()
    for sig in (signal.SIGINT, signal.SIGTERM):
        signal.signal(sig, lambda *_: done.set())
    done.wait()
    server.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
