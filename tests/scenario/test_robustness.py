#!/usr/bin/env python3
"""The robustness run: while a download runs, a hostile peer of the session
sends the live window thousands of malformed orders (wrong sizes, tags and
modes, unterminated and oversized fields, odd addresses, sizes and digests)
and hundreds of malformed commands and private messages, sent and posted.
Every send is answered within 5 s, the window stays the same, the download
is not disturbed, the run ends in order with exit code 0, and nothing is
written outside the program's own folders."""

import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kit  # noqa: E402
from kit import flow  # noqa: E402

ORDERS = 2000
MESSAGES = 600
SEED = 20261208


class Robustness(flow.FlowCase):

    def snapshot(self):
        """Every file of the prefix's drive C with its size and time, except
        the program's own folders and the scenario's scratch files."""
        skip = [os.path.realpath(p) for p in (self.bed.upgrade_dir, self.bed.scratch_root)]
        files = {}
        for root, dirs, names in os.walk(self.bed.drive_c):
            real = os.path.realpath(root)
            if any(real == s or real.startswith(s + os.sep) for s in skip):
                dirs[:] = []
                continue
            for name in names:
                path = os.path.join(root, name)
                try:
                    st = os.lstat(path)
                except OSError:
                    continue
                files[os.path.relpath(path, self.bed.drive_c)] = (st.st_size, st.st_mtime_ns)
        return files

    def test_malformed_orders_and_messages_leave_the_live_window_working(self):
        setup = self.publish("DazuvuvevSetup_9.9.exe", "9.9", pad=400000)
        # The transfer stalls after its first bytes and stays running
        # throughout the flood.
        self.server.add_fault("/" + setup.name, "stall=600,stall_after=100000")
        before = self.snapshot()
        companion = self.launch()
        self.send_order(setup, "9.9", mode=1)
        self.wait_logged(lambda m: m.startswith("Receive WM_MSG_DOWNLOAD, t->iState=1"))

        done = subprocess.run(["wine", self.bed.exe("HostilePeer.exe"), "flood", str(SEED), str(ORDERS),
                               str(MESSAGES), self.server.url("").rstrip("/")],
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=400, env=self.env)
        out = done.stdout.decode("utf-8", "replace")
        print("\n" + out, file=sys.stderr)
        self.assertEqual(done.returncode, 0, out + done.stderr.decode("utf-8", "replace"))
        counts = dict(line.split(": ", 1) for line in out.splitlines() if ": " in line)
        self.assertIn("sent=%d answered=%d timed_out=0 failed=0" % (ORDERS, ORDERS), counts.get("orders", ""))
        self.assertIn("timed_out=0 failed=0", counts.get("messages", ""))
        self.assertIn("window kept", out)

        # The download was never disturbed and nothing was swept.
        self.assertTrue(companion.running(), "the companion ended; log: %r" % self.messages()[-20:])
        self.assertNotLogged("Clear Expire File")
        self.assertNotLogged(flow.QUIT)
        self.assertEqual(len([m for m in self.messages() if m.startswith(flow.DOWNLOAD_STARTED)]), 1)

        # The end in order: the server goes, the transfer fails, the upgrade
        # sweeps its own folder and quits.
        self.server.stop()
        self.assertEnds(companion, timeout=60)
        self.assertEqual(len(self.downloads(setup)), 1)
        after = self.snapshot()
        changed = sorted(p for p in set(before) | set(after) if before.get(p) != after.get(p))
        self.assertEqual(changed, [], "written outside the program's folders")


if __name__ == "__main__":
    kit.main()
