#!/usr/bin/env python3
"""A download that starts hidden and that the client shows with command 102
while it runs: the window appears, follows the transfer to its end, and the
verified setup is started because the user now watches. Run beside our
libraries and beside the strict and plain ones of this folder (--bin).
Beside ours also with a scanner that holds the fresh setup: the check waits
for it, and the client's order and command are answered meanwhile."""

import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "scenario"))
import kit  # noqa: E402
from kit import flow  # noqa: E402

PROGRESS = "Receive WM_MSG_DOWNLOAD, t->iState=1,"
FINISHED = "Receive WM_MSG_DOWNLOAD, t->iState=2,"
# The fixed pause between the transfer's end and the setup's check.
SETTLE_S = 3.0
# Long enough that an order and a command are sent, as separate programs
# under Wine, while the scanner still holds the setup.
SCAN_HOLD_MS = 12000
# What "at once" allows beyond the console tool's own start under Wine.
ANSWER_S = 1.0


class ShownByInstall(flow.FlowCase):

    def test_hidden_download_shown_by_command_102_starts_the_setup(self):
        setup = self.publish("DazuvuvevSetup_6.9.exe", "6.9", pad=600000)
        # About four seconds of transfer: the command surely arrives while it runs.
        self.server.add_fault("/" + setup.name, "rate=150000")
        companion = self.launch()
        if self.plain == "lostwatch":
            # Its watch has found the host lost by now, a host that never
            # answered in this run: that ends nothing.
            self.assertStays(companion, 2)
        self.assertIn("result=1", self.send_order(setup, "6.9").out)
        self.wait_logged(lambda m: m.startswith(PROGRESS))
        self.assertFalse(self.upgrade_window_shown(), "a hidden order showed the window")

        self.assertIn("result=1", self.assertCtl(self.ctl.command("install")).out)
        self.wait_upgrade_window(timeout=10)
        shown_at = len(self.messages())
        self.assertResult("setup-started", companion)
        self.assertTrue([m for m in self.messages()[shown_at:] if m.startswith(PROGRESS)],
                        "no progress reached the shown window: %r" % self.messages())
        if self.plain != "silent":
            self.assertLogged("Receive WM_MSG_DOWNLOAD, t->iState=2, t->unFileSize=%d, t->unPosition=0 " % setup.size)
        self.assertLogged(self.md5_line(setup), 1)
        self.assertSetupRan(setup)
        self.assertTrue(self.client.running(), "a watched download's setup leaves the client to the setup")
        self.assertState(version="6.9", overflags="over", clearflags="false")
        self.assertFolder(setup.name)
        self.assertEqual(len(self.downloads(setup)), 1)
        self.assertLogged(flow.QUIT, 1)


class ShownBesideAScanner(flow.FlowCase):

    def timed(self, call):
        started = time.monotonic()
        result = call()
        return result, time.monotonic() - started

    def tool_start_cost(self):
        """What a call of the console tool that sends nothing takes under Wine."""
        return self.timed(lambda: self.assertCtl(self.ctl.run("help")))[1]

    def test_a_scanned_setup_is_checked_when_let_go_and_the_client_is_answered_meanwhile(self):
        setup = self.publish("DazuvuvevSetup_7.0.exe", "7.0", pad=300000)
        companion = self.launch()
        scanner = self.start_scanner(setup, hold_ms=SCAN_HOLD_MS)
        self.assertIn("result=1", self.send_order(setup, "7.0").out)
        self.assertTrue(scanner.wait_line(lambda l: l.startswith("scan: holding"), timeout=60),
                        "the scanner never held the setup: %r; log: %r" % (scanner.lines, self.messages()))
        self.wait_logged(lambda m: m.startswith(FINISHED))
        time.sleep(SETTLE_S + 0.5)
        self.assertTrue(companion.running(), "the companion ended while the scanner held the setup; log: %r" %
                        self.messages())

        # The check waits for the scanner now; the window answers at once.
        start_cost = self.tool_start_cost()
        order, order_s = self.timed(lambda: self.send_order(setup, "7.0", timeout_ms=30000))
        install, install_s = self.timed(lambda: self.assertCtl(self.ctl.command("install", timeout_ms=30000)))
        start_cost = max(start_cost, self.tool_start_cost())
        self.assertNotIn("scan: released", scanner.lines, "the scanner let go before the client was answered")
        self.assertIn("result=1", order.out)
        self.assertIn("result=1", install.out)
        self.assertLess(order_s, start_cost + ANSWER_S,
                        "the order waited for the check (tool start %.1f s)" % start_cost)
        self.assertLess(install_s, start_cost + ANSWER_S,
                        "the command waited for the check (tool start %.1f s)" % start_cost)

        self.assertResult("setup-started", companion)
        self.assertIn("scan: released", scanner.lines)
        self.assertLogged(self.md5_line(setup))
        self.assertSetupRan(setup)
        self.assertState(version="7.0", overflags="over", clearflags="false")
        self.assertFolder(setup.name)
        self.assertEqual(len(self.downloads(setup)), 1, "the good setup was fetched again")


if __name__ == "__main__":
    kit.main()
