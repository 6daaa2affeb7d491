#!/usr/bin/env python3
"""Every end of a run leaves its word in the state file ("result", with the
local time in "resulttime") and in the log's last record of the run, so
that the client and support can tell the endings apart, a transfer whose
end left no file among them."""

import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kit  # noqa: E402
from kit import flow  # noqa: E402


class Results(flow.FlowCase):

    def launch(self, client=True):
        # One client at a time: an earlier one would keep the running flag.
        if getattr(self, "client", None):
            self.client.stop()
        return super().launch(client)

    def ready(self, version, mode, order_type=None):
        self.bed.reset()
        setup = self.publish("DazuvuvevSetup_%s.exe" % version, version)
        self.place_setup(setup)
        self.bed.write_ini({"version": version, "path": self.upgrade_path(setup.name), "overflags": "over",
                            "clearflags": "false"})
        companion = self.launch()
        if mode == 1:
            self.send_order(setup, version, mode=1, type=order_type)
        return companion, setup

    def test_the_endings_of_a_ready_setup(self):
        companion, _ = self.ready("16.0", 1)
        self.assertCtl(self.ctl.command("install"))
        self.assertResult("setup-started", companion)

        companion, setup = self.ready("16.1", 0)
        order = self.order_later(setup, "16.1")
        self.wait_box(flow.UPDATE_CAPTION, two_buttons=True).click("CancelBtn")
        self.assertCtl(order.result())
        self.assertResult("user-declined", companion)

        companion, _ = self.ready("16.2", 1)
        self.assertCtl(self.ctl.command("release"))
        self.assertResult("ready-waiting", companion)

    def test_the_endings_of_a_download(self):
        for version, kind, word in (("16.3", None, "hidden"), ("16.4", "404", "download-failed"),
                                    ("16.5", "md5", "digest-mismatch"), ("16.6", "net", "network-lost")):
            with self.subTest(word=word):
                self.bed.reset()
                self.server.reset()
                setup = self.publish("DazuvuvevSetup_%s.exe" % version, version, pad=400000)
                md5 = self.fail_download(setup, kind, stall_after=300000) if kind else setup.md5
                companion = self.launch()
                self.send_order(setup, version, md5=md5)
                if kind == "net":
                    self.lose_network_mid_download()
                self.assertResult(word, companion)
                if kind == "net":
                    self.restore_network()

        # The transfer's end reported, and no file left to check.
        self.bed.reset()
        setup = self.publish("DazuvuvevSetup_16.9.exe", "16.9")
        companion = self.launch()
        self.send_order(setup, "16.9")
        self.wait_logged(lambda m: m.startswith("Receive WM_MSG_DOWNLOAD, t->iState=2,"))
        os.remove(os.path.join(self.bed.upgrade_dir, setup.name))
        self.assertResult("download-failed", companion)
        self.wait_logged(lambda m: m.startswith("the transfer's end left no file( "))

        self.bed.reset()
        setup = self.publish("DazuvuvevSetup_16.7.exe", "16.7")
        companion = self.launch()
        self.assertCtl(self.ctl.command("hold"))
        self.send_order(setup, "16.7")
        self.wait_state(overflags="over")
        self.client.stop()
        self.assertResult("held-waiting", companion)

    def test_a_refused_order_and_a_newer_companion(self):
        setup = self.publish("DazuvuvevSetup_16.8.exe", "16.8")
        companion = self.launch()
        self.send_order(setup, "16.8", url="no-address-here")
        self.assertResult("refused", companion)

        self.bed.reset()
        older = self.start_companion()
        newer = self.start_companion(wait_window=False)
        self.assertEqual(older.wait_exit(20), 0)
        newer.stop()
        self.assertEqual(self.bed.read_ini().get("result"), "superseded")
        # The older run's last record; the newer one's banner may follow it.
        messages = self.messages()
        ended = [i for i, m in enumerate(messages)
                 if re.fullmatch(r"upgrade ends: superseded: ended by a newer instance \(process \d+\)", m)]
        self.assertEqual(len(ended), 1, messages)
        self.assertNotIn(flow.QUIT, messages[:ended[0]])


if __name__ == "__main__":
    kit.main()
