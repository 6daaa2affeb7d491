#!/usr/bin/env python3
"""Orders the companion must not act on as sent: a record of the wrong size,
a foreign tag or mode, an address without "://", setup names that cannot be
files of the upgrade folder, fields without a terminator; a new version
whose sweep fails on a file in use; and a setup changed after its check."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kit  # noqa: E402
from kit import flow  # noqa: E402


class BadOrders(flow.FlowCase):

    def assertNothingDone(self, setup):
        """Nothing fetched, swept or started; the state file holds only how
        the run ended."""
        self.assertNotLogged(flow.DOWNLOAD_STARTED)
        self.assertEqual(self.downloads(setup), [])
        state = kit.bed.parse_ini(self.bed.ini_bytes()).get("upgrade", {})
        self.assertEqual(sorted(state), sorted(kit.bed.RESULT_KEYS), "the state file was written: %r" % state)
        self.assertEqual(state["result"], "refused")
        self.assertFolder()
        self.assertNoSetupRan(0)

    def test_foreign_tag_and_mode_are_ignored_and_a_wrong_size_ends(self):
        setup = self.publish("DazuvuvevSetup_7.0.exe", "7.0")
        companion = self.launch()
        # The start-up's own records (the last one names the watched host).
        self.wait_logged(lambda m: m.startswith("net track server: "))
        started = self.messages()
        self.assertIn("result=0", self.send_order(setup, "7.0", tag=238).out)
        self.assertIn("result=0", self.send_order(setup, "7.0", raw_mode=2).out)
        self.assertStays(companion, 1)
        self.assertEqual(self.messages(), started, "an ignored order left a trace")

        self.assertIn("result=1", self.send_order(setup, "7.0", cbdata=3641).out)
        self.assertEnds(companion)
        added = self.messages()[len(started):]
        self.assertEqual(len(added), 4, added)
        self.assertTrue(added[0].startswith("COPYDATASTRUCT ERROR! Address of m_stComm:"))
        self.assertEqual(added[1], "upgrade ends: refused: order refused, its record is malformed")
        self.assertNothingDone(setup)

    def test_unusable_addresses_end_without_a_download(self):
        setup = self.publish("DazuvuvevSetup_7.0.exe", "7.0")
        base = self.server.url("")
        addresses = [
            base.replace("://", ":/"),          # no scheme separator
            base,                               # no name at all
            base + "..",
            base + "a/.",
            base + "con.exe",
            base + "lpt1",
            base + "a<b.exe",
            base + "setup.exe.",                # Windows would drop the dot
            base + "x" * (259 - len(base)),     # folder and name above 259
        ]
        self.client = self.start_client()
        for url in addresses:
            with self.subTest(url=url):
                self.bed.reset()
                companion = self.start_companion()
                self.assertIn("result=1", self.send_order(setup, "7.0", url=url).out)
                self.assertEnds(companion)
                self.assertLogged(flow.URL_REFUSED + url, 1)
                self.assertNothingDone(setup)

    def test_name_ends_before_query_and_fields_end_at_their_last_unit(self):
        setup = self.publish("DazuvuvevSetup_7.2.exe", "7.2")
        base = self.server.url("")
        # 260 units with no terminator: the last one, "#", is not read.
        url = base + setup.name + "?" + "q" * (258 - len(base) - len(setup.name)) + "#"
        version = "7" * 260
        self.assertEqual(len(url), 260)
        companion = self.launch()
        self.send_order(setup, version, url=url, unterminated=True)
        self.assertEnds(companion)
        self.assertLogged("MakeCurrentSetupPath  " + self.upgrade_path(setup.name))
        self.assertLogged(self.download_line(setup).replace(setup.url, url[:259]), 1)
        self.assertState(version="7" * 259, overflags="over", clearflags="false")
        self.assertFolder(setup.name)
        self.assertEqual(len(self.downloads(setup)), 1)

    def test_a_sweep_that_meets_a_lock_leaves_the_rest_for_the_next_order(self):
        old = self.publish("DazuvuvevSetup_4.0.exe", "4.0")
        new = self.publish("DazuvuvevSetup_7.1.exe", "7.1")
        self.bed.write_ini({"version": "4.0", "path": self.upgrade_path(old.name), "overflags": "over",
                            "clearflags": "false"})
        # An old setup held by a scanner: the new version goes on, and the
        # next order's clean-up tries again.
        release = self.lock_file(os.path.join(self.bed.upgrade_dir, old.name))
        self.addCleanup(release)
        companion = self.launch()
        self.send_order(new, "7.1")
        self.assertEnds(companion)
        self.assertLogged("Clear Expire File( %s ) Failure!" % old.name)
        self.assertLogged("old setup programs could not all be swept; the next order tries again, this one goes on")
        self.assertState(version="7.1", overflags="over", clearflags="true")
        self.assertFolder(old.name, new.name)
        self.assertNoSetupRan(0)
        release()
        self.client.stop()

        # The next order's pending clean-up sweeps what is free now, and
        # keeps this order's own verified setup: nothing is fetched again.
        companion = self.launch()
        self.send_order(new, "7.1", mode=1)
        self.wait_logged(lambda m: m.startswith("setup of version 7.1 already downloaded and verified"))
        self.assertCtl(self.ctl.command("release"))
        self.assertEnds(companion)
        self.assertState(version="7.1", overflags="over", clearflags="false", result="ready-waiting")
        self.assertFolder(new.name)
        self.assertEqual(len(self.downloads(new)), 1)
        self.client.stop()

        # An old file of the new setup's own name, held, is in the way of
        # the download: the order ends before anything else.
        self.bed.reset()
        self.server.reset()
        self.bed.write_ini({"version": "4.0", "overflags": "over", "clearflags": "false"})
        self.place_setup(new)
        release = self.lock_file(os.path.join(self.bed.upgrade_dir, new.name))
        self.addCleanup(release)
        companion = self.launch()
        self.send_order(new, "7.1")
        self.assertEnds(companion)
        self.assertLogged("Clear Expire File( %s ) Failure!" % new.name)
        self.assertNotLogged(flow.DOWNLOAD_STARTED)
        self.assertEqual(self.downloads(new), [])
        self.assertState(version="4.0", overflags="over", clearflags="true", result="download-failed")
        self.assertNoSetupRan(0)

    def tamper(self, setup):
        with open(os.path.join(self.bed.upgrade_dir, setup.name), "r+b") as f:
            f.seek(-1, os.SEEK_END)
            f.write(b"!")

    def assertTamperedSetupSwept(self, setup):
        self.assertNoSetupRan()
        messages = self.messages()
        last_check = [m for m in messages if m.startswith("localMD5:")][-1]
        self.assertTrue(last_check.endswith(", remoteMD5:" + setup.md5), last_check)
        self.assertNotEqual(last_check, "localMD5:%s, remoteMD5:%s" % (setup.md5, setup.md5))
        self.assertLogged("Clear Expire File( %s ) Success!" % setup.name)
        self.assertState(overflags="", clearflags="false")
        self.assertFolder()

    def test_setup_changed_before_install_is_not_started(self):
        setup = self.publish("DazuvuvevSetup_9.5.exe", "9.5")
        self.place_setup(setup)
        self.bed.write_ini({"version": "9.5", "overflags": "over", "clearflags": "false"})
        companion = self.launch()
        self.send_order(setup, "9.5", mode=1)
        self.tamper(setup)
        self.assertCtl(self.ctl.command("install"))
        self.assertEnds(companion)
        self.assertNoBox(flow.TIP_CAPTION)
        self.assertTamperedSetupSwept(setup)

    def test_setup_changed_during_a_watched_hold_gives_the_notice(self):
        setup = self.publish("DazuvuvevSetup_9.6.exe", "9.6", pad=300000)
        self.server.add_fault("/" + setup.name, "rate=500000")
        companion = self.launch()
        order = self.order_later(setup, "9.6", type="9434")
        self.wait_box(flow.UPDATE_CAPTION).click("OKBtn")
        self.assertCtl(order.result())
        self.assertCtl(self.ctl.command("hold"))
        self.wait_state(overflags="over")
        self.tamper(setup)
        install = self.command_later("install")
        box = self.wait_box(flow.TIP_CAPTION)
        self.keep_picture(box.grab(), "tampered-notice.png")
        box.click("OKBtn")
        self.assertCtl(install.result())
        self.assertEnds(companion)
        self.assertTamperedSetupSwept(setup)


if __name__ == "__main__":
    kit.main()
