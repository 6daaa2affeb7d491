#!/usr/bin/env python3
"""The sample client, built from the public client header alone, drives the
real companion: without a companion it gives up after its wait; with one, its
order is taken, the setup is downloaded and verified, and the client's window
hears the progress and the outcome; a client that holds the installation
hears that the setup is ready and installs it at once, whether it was just
downloaded or already there; a client that re-creates its window mid-download
hears the rest on the new one, and another client's order hears that it was
refused; a client with a window is asked to close itself before the setup
starts, and ended only when it does not."""

import os
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "scenario"))
import kit  # noqa: E402
from kit import flow  # noqa: E402

VERSION = "6.0"


class SampleClient(flow.FlowCase):

    def run_client(self, setup, *extra, options=()):
        done = subprocess.run(["wine", self.bed.exe("SampleClient.exe")] + list(options) + [
            setup.url, VERSION, str(setup.size), setup.md5] + list(extra), stdin=subprocess.DEVNULL,
            capture_output=True, timeout=240, env=self.env)
        return done.returncode, done.stdout.decode("utf-8", "replace"), done.stderr.decode("utf-8", "replace")

    def assertNotices(self, out, *ending, after="order taken: result=1", downloaded=True):
        """Progress notices that rise to 100 (none for a setup that was
        already there), then the given lines."""
        lines = out.splitlines()
        taken = lines.index(after)
        progress = [int(l.split()[1]) for l in lines[taken + 1:] if l.startswith("progress ")]
        self.assertEqual(lines[taken + 1 + len(progress):], list(ending), out)
        self.assertEqual(progress, sorted(progress), out)
        self.assertEqual(progress[-1:], [100] if downloaded else [], out)

    def test_sample_client_orders_and_hears_the_companion_end(self):
        setup = self.publish("DazuvuvevSetup_6.0.exe", VERSION)

        code, out, err = self.run_client(setup, "500")
        self.assertEqual((code, out), (1, ""), err)
        self.assertIn("window was not found", err)

        companion = self.launch()
        code, out, err = self.run_client(setup)
        self.assertEqual(code, 0, out + err)
        self.assertNotices(out, "outcome 2 hidden", "companion ended")
        self.assertEnds(companion)
        self.assertState(version=VERSION, overflags="over", result="hidden")
        self.assertLogged("localMD5:%s, remoteMD5:%s" % (setup.md5, setup.md5))
        self.assertEqual(len(self.downloads(setup)), 1)

    def test_install_as_soon_as_it_is_ready(self):
        setup = self.publish("DazuvuvevSetup_6.0.exe", VERSION, pad=4 << 20)
        self.start_client()
        companion = ["--start", self.bed.to_windows(self.bed.exe("DazuvuVevUpgrade.exe")), "--install-when-ready"]
        # Fresh, then already there from the first run: the same recipe.
        for run, downloaded in ((1, True), (2, False)):
            code, out, err = self.run_client(setup, options=companion)
            self.assertEqual(code, 0, out + err)
            self.assertNotices(out, "ready", "outcome 0 setup-started", "companion ended", downloaded=downloaded)
            pid = re.match(r"companion started: pid (\d+)", out).group(1)
            self.assertState(result="setup-started", resultpid=pid)
            self.assertEqual(len(self.wait_setup_runs(run)), run)
        self.assertEqual(len(self.downloads(setup)), 1)
        self.assertLogged("client command: install", count=2)

    def test_notices_follow_the_client_to_its_new_window(self):
        setup = self.publish("DazuvuvevSetup_6.0.exe", VERSION, pad=2 << 20)
        self.server.add_fault("/" + setup.name, "rate=250000")
        first = self.start_wine(self.bed.exe("SampleClient.exe"), "--start",
                                self.bed.to_windows(self.bed.exe("DazuvuVevUpgrade.exe")), "--again-at", "10",
                                setup.url, VERSION, str(setup.size), setup.md5)
        self.assertTrue(first.wait_line(lambda l: l == "order again: result=1", 60), first.lines)
        # Another order while it runs: refused, and its window hears why.
        code, out, err = self.run_client(setup._replace(url=setup.url + "?other"))
        self.assertEqual((code, out.splitlines()), (0, ["order taken: result=1", "refused 1", "companion ended"]),
                         out + err)
        self.assertEqual(first.wait(120), 0, first.lines)
        self.assertNotices("\n".join(first.lines), "outcome 2 hidden", "companion ended",
                           after="order again: result=1")
        self.assertTrue([m for m in self.messages() if m.startswith("the notices follow the client to window ")])
        self.assertEqual(len(self.downloads(setup)), 1)

    def test_a_client_with_a_window_is_asked_to_close_before_it_is_ended(self):
        setup = self.publish("DazuvuvevSetup_6.0.exe", VERSION)
        self.place_setup(setup)
        # The sample as the client itself: named as the client, owning its flag.
        client_exe = os.path.join(self.scratch, "Dazuvuvev.exe")
        shutil.copyfile(self.bed.exe("SampleClient.exe"), client_exe)
        for run, (ignore, way) in enumerate(((False, "the client closed itself when asked"),
                                              (True, "the client did not close when asked: it was ended")), 1):
            with self.subTest(ignore=ignore):
                self.bed.write_ini({"version": VERSION, "overflags": "over", "clearflags": "false"})
                companion = self.start_companion()
                client = self.start_wine(client_exe, "--running-flag", *(["--ignore-close"] if ignore else []),
                                         setup.url, VERSION, str(setup.size), setup.md5, "60000")
                self.wait_box(flow.UPDATE_CAPTION, two_buttons=True).click("OKBtn")
                self.assertTrue(client.wait_line(lambda l: l.startswith("close requested "), 30), client.lines)
                self.assertEnds(companion)
                if not ignore:
                    self.assertTrue(client.wait_line(lambda l: l == "closed on request", 10), client.lines)
                self.assertEqual(client.wait(20), 0, client.lines)
                self.assertLogged(way, 1)
                self.assertState(result="setup-started")
                self.assertEqual(len(self.wait_setup_runs(run)), run)
        # A client that named no window is ended at once, as always.
        self.bed.write_ini({"version": VERSION, "overflags": "over", "clearflags": "false"})
        companion = self.launch()
        order = self.order_later(setup, VERSION)
        self.wait_box(flow.UPDATE_CAPTION, two_buttons=True).click("OKBtn")
        self.assertCtl(order.result())
        self.assertEnds(companion)
        self.assertState(result="setup-started")
        asked = [m for m in self.messages() if m.endswith(" asked to close itself within 5000 ms")]
        ended = [m for m in self.messages() if m.startswith("client Dazuvuvev.exe (process ")]
        self.assertEqual((len(asked), len(ended)), (2, 1), self.messages())


if __name__ == "__main__":
    kit.main()
