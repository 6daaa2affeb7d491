"""Base class and entry point of scenario scripts.

    python3 tests/scenario/test_x.py --bin build/bin [unittest arguments]
"""

import argparse
import os
import sys
import time
import unittest

from .bed import Bed
from .fakes import read_setup_runs
from .net import serve
from .procs import Client, Companion, Ctl, WineProcess

config = {"bin": None}

# The folders of the plain network libraries (tests/contract), named after the
# one choice each makes differently from ours.
PLAIN_FOLDER = "bin-plain-"
# The plain library that never reports a transfer's end leaves it to the
# companion's silence guard, shortened from minutes to seconds.
SILENCE_MS = "5000"


def plain_library(bin_dir):
    """The choice of the plain network library beside the programs in
    bin_dir ("counts", "unshared", "storage", "silent", "lateclose",
    "stdcall", "lostwatch" or "upper"), or None beside ours or the strict
    one. A plain library has no log records, resume or reachability watch of
    its own: scenarios skip what checks those."""
    name = os.path.basename(os.path.realpath(bin_dir))
    return name[len(PLAIN_FOLDER):] if name.startswith(PLAIN_FOLDER) else None


def wait_for(predicate, timeout=15, interval=0.1):
    """Polls predicate until it returns a true value, which is returned; on
    time-out the last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


def main():
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--bin", default=os.path.join("build", "bin"),
                        help="folder of the built executables")
    args, rest = parser.parse_known_args()
    config["bin"] = os.path.abspath(args.bin)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


class ScenarioCase(unittest.TestCase):
    """Each test starts from a reset state, with a scratch folder in the
    prefix (self.scratch) and the stand-in setup's record file in it
    (self.setup_record). Servers and processes started through the helpers
    are stopped when the test ends, whatever happens."""

    def setUp(self):
        self.bed = Bed(config["bin"] or os.path.join("build", "bin"))
        self.ctl = Ctl(self.bed)
        self.addCleanup(self.ctl.stop_pending)
        gone = self.ctl.wait_gone(timeout_ms=5000)
        if gone.code != 0:
            self.fail("a companion window from an earlier run is still open; it must end before the next scenario")
        self.bed.reset()
        self.scratch = self.bed.scratch(self.id().rsplit(".", 1)[-1])
        self.setup_record = os.path.join(self.scratch, "fakesetup-runs.txt")
        self.env = dict(os.environ, FAKESETUP_RECORD=self.bed.to_windows(self.setup_record))
        self.env.pop("NUBRA_TRACK_SERVER", None)
        self.plain = plain_library(self.bed.built)
        if self.plain == "silent":
            self.env["DAZUVUVEV_RECORD_SILENCE_MS"] = SILENCE_MS

    def start_server(self, root=None):
        """A local HTTP server for root (default: scratch/www). The first one
        also becomes the host whose reachability the network library watches
        (NUBRA_TRACK_SERVER in self.env): the configured one is out of reach
        here, so the companion would see a lost network at once. Stopping
        this server is how a scenario loses the network."""
        root = root or os.path.join(self.scratch, "www")
        os.makedirs(root, exist_ok=True)
        server = serve(root, log_path=os.path.join(self.scratch, "requests.jsonl"))
        self.addCleanup(server.stop)
        self.env.setdefault("NUBRA_TRACK_SERVER", "127.0.0.1:%d" % server.port)
        return server

    def start_client(self, exit_after_ms=None, synchronize_only=False):
        client = Client(self.bed, self.scratch)
        self.addCleanup(client.stop)
        return client.start(exit_after_ms, synchronize_only=synchronize_only)

    def start_companion(self, wait_window=True, arg=None):
        companion = Companion(self.bed, self.ctl, env=self.env, **({"arg": arg} if arg is not None else {}))
        self.addCleanup(companion.stop)
        return companion.start(wait_window)

    def start_wine(self, *argv, **kwargs):
        """Any other background wine process, ended with the test."""
        process = WineProcess(argv, env=kwargs.pop("env", self.env), **kwargs)
        self.addCleanup(process.kill)
        return process

    def setup_runs(self):
        return read_setup_runs(self.setup_record)

    def wait_setup_runs(self, count=1, timeout=20):
        """The setup's runs once there are at least count of them. The
        companion starts the setup without waiting for it, so its record may
        lag behind the companion's exit."""
        return wait_for(lambda: len(self.setup_runs()) >= count and self.setup_runs(), timeout) or self.setup_runs()

    def assertCtl(self, result, code=0, msg=None):
        """The tool's exit code, with its output in the failure message."""
        self.assertEqual(result.code, code, "%sexit %d\nstdout: %s\nstderr: %s" % (
            (msg + ": ") if msg else "", result.code, result.out.strip(), result.err.strip()))
        return result
