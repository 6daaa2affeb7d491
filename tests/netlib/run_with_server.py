#!/usr/bin/env python3
"""Runs a Windows test program under wine with the local test servers around it.

  run_with_server.py --exe build/bin/netlib_tests.exe [-- extra args]

Starts an origin server and an authenticating forward proxy on free ports of
127.0.0.1, each on a fresh temporary folder, and passes to the program:
  NUBRA_TEST_PORT, NUBRA_TEST_PROXY_PORT   the two ports
  NUBRA_TEST_PROXY_USER, NUBRA_TEST_PROXY_PASSWORD
  NUBRA_TEST_ROOT   served folder (Windows path)
  NUBRA_TEST_WORK   scratch folder for downloads (Windows path)
  NUBRA_TEST_BIG_MD5   MD5 of "big.bin" in the served folder (made here)
Stops everything and removes both folders afterwards; exits with the
program's exit code.
"""

import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "server"))
from testserver import TestServer  # noqa: E402

PROXY_USER = "nubra"
PROXY_PASSWORD = "s3cret:pw"


def windows_path(path):
    # Wine maps the Unix root to drive Z:.
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def make_big_file(path, size):
    """Deterministic bytes that are not a short repeating pattern."""
    block = bytearray()
    counter = 0
    while len(block) < size:
        block += hashlib.sha256(counter.to_bytes(8, "little")).digest()
        counter += 1
    data = bytes(block[:size])
    with open(path, "wb") as f:
        f.write(data)
    return hashlib.md5(data).hexdigest()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--timeout", type=int, default=280)
    ap.add_argument("rest", nargs=argparse.REMAINDER)
    args = ap.parse_args()

    base = tempfile.mkdtemp(prefix="nubra-net-")
    root = os.path.join(base, "root")
    work = os.path.join(base, "work")
    os.makedirs(root)
    os.makedirs(work)
    big_md5 = make_big_file(os.path.join(root, "big.bin"), 3 * 1024 * 1024 + 7)
    origin = TestServer(root, log_path=os.path.join(base, "origin.log")).start()
    proxy = TestServer(os.path.join(base, "proxyroot"), log_path=os.path.join(base, "proxy.log"),
                       proxy_auth="%s:%s" % (PROXY_USER, PROXY_PASSWORD)).start()
    env = dict(os.environ)
    env.update({
        "NUBRA_TEST_PORT": str(origin.port),
        "NUBRA_TEST_PROXY_PORT": str(proxy.port),
        "NUBRA_TEST_PROXY_USER": PROXY_USER,
        "NUBRA_TEST_PROXY_PASSWORD": PROXY_PASSWORD,
        "NUBRA_TEST_ROOT": windows_path(root),
        "NUBRA_TEST_WORK": windows_path(work),
        "NUBRA_TEST_BIG_MD5": big_md5,
    })
    rest = [a for a in args.rest if a != "--"]
    try:
        rc = subprocess.call(["wine", args.exe] + rest, env=env, timeout=args.timeout)
    except subprocess.TimeoutExpired:
        print("run_with_server: %s timed out" % args.exe, file=sys.stderr)
        rc = 1
    finally:
        origin.stop()
        proxy.stop()
        shutil.rmtree(base, ignore_errors=True)
    return rc


if __name__ == "__main__":
    sys.exit(main())
