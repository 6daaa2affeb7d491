#!/usr/bin/env python3
"""Every end of a run leaves its word in the state file ("result", with the
local time in "resulttime") and in the log's last record of the run, so
that the client and support can tell the endings apart, a transfer whose
end left no file and a verified setup that cannot start among them."""

import hashlib
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

        # A verified file that the system cannot start: the client's install
        # ends as "start-failed", and the setup stays ready for the next order.
        self.bed.reset()
        broken = os.path.join(self.server.root, "DazuvuvevSetup_16.3.exe")
        with open(broken, "wb") as f:
            f.write(b"not a program " * 1000)
        setup = flow.Setup("DazuvuvevSetup_16.3.exe", os.path.getsize(broken),
                           hashlib.md5(open(broken, "rb").read()).hexdigest(),
                           self.server.url("DazuvuvevSetup_16.3.exe"), broken)
        self.place_setup(setup)
        self.bed.write_ini({"version": "16.3", "overflags": "over", "clearflags": "false"})
        companion = self.launch()
        self.send_order(setup, "16.3", mode=1)
        self.assertCtl(self.ctl.command("install"))
        self.assertResult("start-failed", companion)
        self.assertState(overflags="over")
        self.assertFolder(setup.name)

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


    def test_a_fault_in_the_network_library_leaves_a_minidump(self):
        if os.path.basename(self.bed.built) != "bin-fault":
            self.skipTest("beside the network library that faults (bin-fault, tests/contract)")
        # Four older dumps, the oldest a link to a file elsewhere, and a file
        # of another name: only the program's own oldest dump goes.
        os.makedirs(self.bed.log_dir, exist_ok=True)
        for name in [n for n in os.listdir(self.bed.log_dir) if n.endswith(".dmp")]:
            os.remove(os.path.join(self.bed.log_dir, name))
        outside = os.path.join(self.scratch, "elsewhere.dmp")
        with open(outside, "wb") as f:
            f.write(b"not ours")
        old = ["Upgrade-2020010%d-000000-4.dmp" % day for day in (1, 2, 3, 4)] + ["Upgrade-notes.dmp"]
        os.link(outside, os.path.join(self.bed.log_dir, old[0]))
        for name in old[1:]:
            open(os.path.join(self.bed.log_dir, name), "wb").close()

        setup = self.publish("DazuvuvevSetup_16.9.exe", "16.9")
        companion = self.launch()
        self.ctl.order(setup.url, "16.9", size=setup.size, md5=setup.md5, timeout_ms=30000)
        self.assertNotIn(companion.wait_exit(60), (None, 0), "the fault ends the companion")
        new = sorted(set(n for n in os.listdir(self.bed.log_dir) if n.endswith(".dmp")) - set(old))
        self.assertEqual(sorted(set(old) - set(os.listdir(self.bed.log_dir))), [old[1]])
        with open(outside, "rb") as f:
            self.assertEqual(f.read(), b"not ours")
        self.assertEqual(len(new), 1, new)
        with open(os.path.join(self.bed.log_dir, new[0]), "rb") as f:
            dump = f.read()
        self.assertEqual(dump[:4], b"MDMP")
        self.assertGreater(len(dump), 1024, "more than the header")
        records = [m for m in self.messages() if "unhandled fault" in m]
        self.assertEqual(len(records), 1, self.messages())
        self.assertRegex(records[0], r"^unhandled fault 0xC0000005 at NubraSdk\.dll\+0x[0-9a-f]+ in thread \d+: "
                         r"minidump %s written beside the log; the companion ends$" % re.escape(new[0]))


if __name__ == "__main__":
    kit.main()
