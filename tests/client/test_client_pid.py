#!/usr/bin/env python3
"""Orders by process id: the client starts the companion and sends its order
to the window of that very process, so a window of the companion's class
that belongs to another process (an older companion on its way out) never
takes it. The sample client does it with the public header; the console tool
with --pid, also for commands, and with the setup's SHA-256 in the digest
field."""

import hashlib
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "scenario"))
import kit  # noqa: E402
from kit import flow  # noqa: E402

VERSION = "6.1"


def order_fields(data):
    """The order record's texts by field name, read as the companion does."""
    names = ("szFileName", "szReserved", "szVersion", "szURL", "szSize", "szMD5", "szUpgradeType")
    return {name: data[i * 520:(i + 1) * 520].decode("utf-16-le").split("\0", 1)[0] for i, name in enumerate(names)}


class OrderByProcess(flow.FlowCase):

    def setUp(self):
        super().setUp()
        self.addCleanup(self.end_leftovers)

    def end_leftovers(self):
        """A companion the sample client started is no process of the kit's:
        should a check fail before it ended, it is asked to quit."""
        for _ in range(5):
            if self.ctl.wait_gone(2000).code == 0:
                return
            self.ctl.run("quit")

    def start_recording_window(self, name, *extra):
        """A window of the companion's class in a process of its own that
        records what reaches it; returns (record file, its process id)."""
        record = os.path.join(self.scratch, name + ".txt")
        self.start_wine(self.bed.exe("FakeUpgradeWindow.exe"), self.bed.to_windows(record), "90000", *extra)
        pid = kit.wait_for(lambda: self.read_text(record + ".pid").strip(), 30)
        self.assertTrue(pid, "the recording window %s did not appear" % name)
        return record, int(pid)

    def read_text(self, path):
        if not os.path.exists(path):
            return ""
        with open(path, encoding="utf-8") as f:
            return f.read()

    def received(self, record):
        if not os.path.exists(record):
            return []
        with open(record, encoding="utf-8") as f:
            return [line.strip() for line in f if line.strip() and line.strip() != "ready"]

    def payload(self, record, number):
        with open("%s.%d.bin" % (record, number), "rb") as f:
            return f.read()

    def test_order_reaches_the_companion_just_started_not_an_older_window(self):
        setup = self.publish("DazuvuvevSetup_6.1.exe", VERSION)
        # Above every window, where a search by class name finds it first.
        older, _ = self.start_recording_window("older", "topmost")
        earlier = self.start_companion()
        astray = self.assertCtl(self.ctl.order(setup.url, VERSION, size=setup.size, md5=setup.md5))
        self.assertIn("result=1", astray.out, "an order by class name is taken...")
        self.assertEqual(kit.wait_for(lambda: self.received(older)), ["copydata dwData=15663104 cbData=3642"],
                         "... by whichever window of the class comes first")

        done = subprocess.run(["wine", self.bed.exe("SampleClient.exe"), "--start",
                               self.bed.to_windows(self.bed.exe("DazuvuVevUpgrade.exe")), setup.url, VERSION,
                               str(setup.size), setup.md5], stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=240, env=self.env)
        out, err = done.stdout.decode("utf-8", "replace"), done.stderr.decode("utf-8", "replace")
        self.assertEqual(done.returncode, 0, out + err)
        lines = [line for line in out.splitlines() if not line.startswith("progress ")]
        self.assertEqual([lines[0].split(":")[0]] + lines[1:], ["companion started", "order taken: result=1",
                                                                "outcome 2 hidden", "companion ended"], out)
        self.assertEqual(self.received(older), ["copydata dwData=15663104 cbData=3642"],
                         "the older window of the class got nothing more")
        self.assertEqual(earlier.wait_exit(30), 0, "the new companion ended the earlier one")
        # Nobody watched the download: it is verified and waits for the
        # next order.
        self.assertState(version=VERSION, overflags="over")
        self.assertLogged("localMD5:%s, remoteMD5:%s" % (setup.md5, setup.md5))
        self.assertEqual(len(self.downloads(setup)), 1)
        self.assertCtl(self.ctl.command("cmd", code=998, post=True))

    def test_console_tool_addresses_the_window_of_a_process(self):
        first, first_pid = self.start_recording_window("first")
        second, second_pid = self.start_recording_window("second")
        setup = os.path.join(self.scratch, "DazuvuvevSetup_6.1.exe")
        size, md5 = kit.make_setup(self.bed, setup, b"version 6.1")
        with open(setup, "rb") as f:
            sha256 = hashlib.sha256(f.read()).hexdigest()
        url = "http://127.0.0.1:8080/download/DazuvuvevSetup_6.1.exe"

        self.assertIn("result=1", self.assertCtl(self.ctl.order(url, VERSION, file=setup, pid=second_pid)).out)
        self.assertIn("result=1", self.assertCtl(self.ctl.order(url, VERSION, file=setup, sha256=True,
                                                                pid=first_pid)).out)
        self.assertIn("result=1101", self.assertCtl(self.ctl.command("hold", pid=second_pid)).out)
        self.assertCtl(self.ctl.command("prompt", pid=first_pid))
        self.assertCtl(self.ctl.run("wait-window", "--pid", first_pid, "--timeout-ms", "5000"))

        gone = self.assertCtl(self.ctl.run("wait-gone", "--pid", first_pid, "--timeout-ms", "300"), 1,
                              "the window of that process is still there")
        self.assertIn("still exists", gone.err)
        nobody = self.assertCtl(self.ctl.order(url, VERSION, size=1, md5="0" * 32, pid=999996, wait_ms=300), 1,
                                "no window of that process")
        self.assertIn("of process 999996 was not found", nobody.err)
        self.assertCtl(self.ctl.command("hold", pid=999996), 1)
        self.assertIn("--pid", self.assertCtl(self.ctl.run("order", "--help")).out)

        self.assertEqual(kit.wait_for(lambda: len(self.received(second)) >= 2 and self.received(second)),
                         ["copydata dwData=15663104 cbData=3642", "cmd wParam=101 lParam=239"])
        self.assertEqual(kit.wait_for(lambda: len(self.received(first)) >= 2 and self.received(first)),
                         ["copydata dwData=15663104 cbData=3642", "cmd wParam=100 lParam=239"])
        self.assertEqual(order_fields(self.payload(second, 1))["szMD5"], md5, "the MD5 by default")
        by_sha = order_fields(self.payload(first, 1))
        self.assertEqual((by_sha["szMD5"], by_sha["szSize"]), (sha256, str(size)),
                         "--sha256 sends the file's SHA-256 as 64 lower-case hex digits")

        for pid in (first_pid, second_pid):
            self.assertCtl(self.ctl.command("cmd", code=998, post=True, pid=pid))
        self.assertCtl(self.ctl.wait_gone(10000))


if __name__ == "__main__":
    kit.main()
