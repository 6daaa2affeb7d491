#!/usr/bin/env python3
"""What the companion shares with the client and older readers, kept: the
client's LogLevel 3 silences the log even when a download fails; the state
file starts empty and stays ANSI while its values fit the code page, and a
version outside it survives (from an older ANSI file too); Enter in the
shown window cannot cancel the install; and whatever name a failed setup
had, nothing of it stays behind."""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kit  # noqa: E402
from kit import flow  # noqa: E402

# Thai is in no Chinese code page: an ANSI state file would turn it into "?".
FOREIGN_VERSION = "14.1 \u0e01\u0e02"


class Contracts(flow.FlowCase):

    def client_config(self, text):
        config = os.path.join(self.bed.bin, "config.ini")
        self.addCleanup(lambda: os.path.exists(config) and os.remove(config))
        with open(config, "w") as f:
            f.write(text)

    def test_log_level_3_leaves_no_log_even_when_the_download_fails(self):
        self.client_config("[APP]\r\nLogLevel=3\r\n")
        setup = self.publish("DazuvuvevSetup_14.0.exe", "14.0")
        self.fail_download(setup, "404")
        companion = self.launch()
        self.send_order(setup, "14.0")
        self.assertEnds(companion)
        self.assertState(result="download-failed")
        self.assertFalse(os.path.exists(self.bed.log_dir) and os.listdir(self.bed.log_dir), "a log was written")

    def test_the_state_file_stays_ansi_until_a_value_needs_more(self):
        setup = self.publish("DazuvuvevSetup_14.1.exe", "14.1")
        companion = self.launch()
        self.assertTrue(kit.wait_for(lambda: self.bed.ini_bytes() == b"", 10), self.bed.ini_bytes())
        self.send_order(setup, "14.1")
        self.assertEnds(companion)
        data = self.bed.ini_bytes()
        self.assertFalse(data.startswith(b"\xff\xfe"), data)
        self.assertIn(b"version=14.1\r\n", data)
        self.assertState(version="14.1", overflags="over")

        # An older companion's ANSI file, Chinese in it, and a version the
        # code page lacks: rewritten once, every key kept.
        for start in ("new", "legacy"):
            with self.subTest(start=start):
                self.bed.reset()
                self.server.reset()
                if start == "legacy":
                    self.bed.write_ini({"version": "13.9", "clearflags": "false", "version_no_tips": "不再"})
                companion = self.start_companion()
                self.send_order(setup, FOREIGN_VERSION)
                self.assertEnds(companion)
                self.assertTrue(self.bed.ini_bytes().startswith(b"\xff\xfe"), self.bed.ini_bytes())
                self.assertState(version=FOREIGN_VERSION, overflags="over",
                                 version_no_tips="不再" if start == "legacy" else "")
                # The same order again finds its verified download.
                companion = self.start_companion()
                self.send_order(setup, FOREIGN_VERSION, mode=1)
                self.assertCtl(self.ctl.command("release"))
                self.assertEnds(companion)
                self.assertEqual(len(self.downloads(setup)), 1, "downloaded again")
                self.assertState(result="ready-waiting")

    def test_enter_in_the_shown_window_does_not_stop_the_install(self):
        setup = self.publish("DazuvuvevSetup_14.2.exe", "14.2", pad=400000)
        self.server.add_fault("/" + setup.name, "rate=150000")
        companion = self.launch()
        order = self.order_later(setup, "14.2", type="9434")
        self.wait_box(flow.UPDATE_CAPTION).click("OKBtn")
        self.assertCtl(order.result())
        window = self.wait_upgrade_window()
        time.sleep(0.5)
        kit.xwin.press(window.window, "Return")
        time.sleep(0.5)
        self.assertTrue(self.upgrade_window_shown(), "Enter took the window away: %r" % self.messages())
        self.assertEnds(companion)
        self.assertSetupRan(setup)
        self.assertLogged("Enter ignored: the window has no default button")

    def test_a_failed_setup_named_in_capitals_is_swept_or_kept_by_its_exact_name(self):
        for kind in ("drop", "md5"):
            with self.subTest(kind=kind):
                self.bed.reset()
                self.server.reset()
                setup = self.publish("DazuvuvevSetup_14.3.EXE", "14.3", pad=400000)
                md5 = self.fail_download(setup, kind)
                companion = self.launch()
                self.send_order(setup, "14.3", md5=md5)
                self.assertEnds(companion)
                if kind == "md5":
                    self.assertFolder()
                    self.assertLogged("Clear Expire File( %s ) Success!" % setup.name)
                else:  # broken on the network: kept, by its exact name, for a resume
                    self.assertFolder(setup.name + ".part", setup.name + ".part.meta")


if __name__ == "__main__":
    kit.main()
