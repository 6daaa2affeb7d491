#!/usr/bin/env python3
"""The interactive upgrade (mode 0, type "9434"): the user is asked before
anything is fetched; "升级" shows the download, whose face, texts and bar
follow the transfer, and the verified setup is started at the end. A setup
that is already there is offered with the single-button prompt, whatever the
user chose not to be reminded of, and "升级" then closes the client. A
scanner that holds the fresh setup only delays the watched upgrade."""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kit  # noqa: E402
from kit import flow  # noqa: E402

ACCENT = flow.rgb("#2D7FF9")  # progress fill and spinner
TRACK = flow.rgb("#E6EAF0")   # progress groove and spinner ring


class InteractiveUpgrade(flow.FlowCase):

    def faces(self, window):
        """(spinner pixels, bar groove pixels, filled bar length, speed and
        amount pixels) of the upgrade window as it stands."""
        shot = window.grab()
        spinner = shot.region(window.rect("LoadingAnimate"))
        bar = shot.region(window.rect("DownloadProgress"))
        middle = bar.height // 2
        texts = shot.region(window.rect("SpeedStatic")).data + shot.region(window.rect("AlreadyloadStatic")).data
        return shot, (spinner.count(ACCENT) + spinner.count(TRACK), bar.count(TRACK), bar.run_length(middle, ACCENT),
                      texts)

    def test_prompt_first_then_watched_download_and_setup(self):
        setup = self.publish("DazuvuvevSetup_6.0.exe", "6.0", pad=600000)
        # About 4 s of transfer, behind an answer held back for 3 s: long
        # enough to see the waiting face and then the bar move.
        # Served without a length beside the library that then counts
        # 0xFFFFFFFF bytes: the bar must follow the transfer all the same.
        self.server.add_fault("/" + setup.name, "rate=350000" + (",nolength" if self.plain == "counts" else ""))
        relay = flow.SlowStart(self.server.port, delay=3)
        self.addCleanup(relay.stop)
        url = relay.url(setup.name)

        companion = self.launch()
        if self.plain == "lostwatch":
            # Its watch has found the host lost by now, a host that never
            # answered in this run: that ends nothing.
            self.assertStays(companion, 2)
        order = self.order_later(setup, "6.0", url=url, type="9434")
        box = self.wait_box(flow.UPDATE_CAPTION)
        self.keep_picture(box.grab(), "single-prompt.png")
        self.assertFalse(order.done(), "the order returned before the prompt was answered")
        self.assertEqual(self.downloads(setup), [], "fetched before the user answered")
        self.assertNotLogged(flow.DOWNLOAD_STARTED)
        self.assertFalse(self.upgrade_window_shown())

        box.click("OKBtn")
        self.assertIn("result=1", self.assertCtl(order.result()).out)
        window = self.wait_upgrade_window()
        shot, (spinner, groove, _, _) = self.faces(window)
        self.keep_picture(shot, "waiting-face.png")
        self.assertNotLogged("Receive WM_MSG_DOWNLOAD")
        self.assertGreater(spinner, 0, "the waiting face shows the spinner")
        self.assertEqual(groove, 0, "the bar is hidden before the first record")

        self.wait_logged(lambda m: m.startswith("Receive WM_MSG_DOWNLOAD, t->iState=1,"), timeout=15)
        time.sleep(0.5)
        shot, (spinner, groove, filled, texts) = self.faces(window)
        self.keep_picture(shot, "download-face.png")
        self.assertEqual(spinner, 0, "the spinner went at the first record")
        self.assertGreater(groove + filled, 0, "the bar is shown")
        time.sleep(1.5)
        later_shot, (_, _, later_filled, later_texts) = self.faces(window)
        self.keep_picture(later_shot, "download-later.png")
        self.assertGreater(later_filled, filled, "the bar moves")
        self.assertNotEqual(later_texts, texts, "speed and amount move")

        self.assertResult("setup-started", companion)
        self.assertSetupRan(setup)
        self.assertTrue(self.client.running(), "a watched download's setup leaves the client to the setup")
        self.assertFalse(self.upgrade_window_shown())
        self.assertState(version="6.0", overflags="over", clearflags="false")
        self.assertFolder(setup.name)
        messages = self.messages()
        self.assertIn(flow.DOWNLOAD_STARTED + url + ", m_strTemp=", "\n".join(messages))
        if self.plain not in ("silent", "counts"):
            self.assertIn("Receive WM_MSG_DOWNLOAD, t->iState=2, t->unFileSize=%d, t->unPosition=0 " % setup.size,
                          messages)
        # Checked once, when the transfer ended; held unchanged from there to the start.
        self.assertLogged(self.md5_line(setup), 1)
        self.assertEqual(len(self.downloads(setup)), 1)

    def test_ready_setup_gets_the_single_prompt_despite_no_tips(self):
        setup = self.publish("DazuvuvevSetup_6.1.exe", "6.1")
        self.place_setup(setup)
        self.bed.write_ini({"version": "6.1", "overflags": "over", "clearflags": "false",
                            "version_no_tips": "6.1"})
        companion = self.launch()
        order = self.order_later(setup, "6.1", type="9434")
        box = self.wait_box(flow.UPDATE_CAPTION)
        box.click("OKBtn")
        self.assertCtl(order.result())
        self.assertEnds(companion)
        self.assertSetupRan(setup)
        self.assertIsNotNone(self.client.process.wait(10), "the client was not closed before the setup")
        self.assertNotLogged(flow.NO_TIPS)
        self.assertNotLogged(flow.DOWNLOAD_STARTED)
        self.assertEqual(self.downloads(setup), [])
        self.assertState(version="6.1", overflags="over", version_no_tips="6.1")
        self.assertFolder(setup.name)


class BesideAScanner(flow.FlowCase):

    def test_watched_download_of_a_scanned_setup_starts_it_when_let_go(self):
        setup = self.publish("DazuvuvevSetup_6.2.exe", "6.2", pad=300000)
        companion = self.launch()
        scanner = self.start_scanner(setup, hold_ms=8000)
        order = self.order_later(setup, "6.2", type="9434")
        self.wait_box(flow.UPDATE_CAPTION).click("OKBtn")
        self.assertIn("result=1", self.assertCtl(order.result()).out)
        self.wait_upgrade_window()
        self.assertTrue(scanner.wait_line(lambda l: l.startswith("scan: holding"), timeout=60),
                        "the scanner never held the setup: %r; log: %r" % (scanner.lines, self.messages()))
        self.assertResult("setup-started", companion)
        self.assertIn("scan: released", scanner.lines)
        self.assertSetupRan(setup)
        self.assertLogged(self.md5_line(setup))
        self.assertState(version="6.2", overflags="over", clearflags="false")
        self.assertFolder(setup.name)
        self.assertEqual(len(self.downloads(setup)), 1, "the good setup was fetched again")


if __name__ == "__main__":
    kit.main()
