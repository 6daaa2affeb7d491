#!/usr/bin/env python3
"""The companion on a real network's troubles, with the real network
library against the fault server: a connection reset mid-download is mended
in the same run and the setup is verified; a server that trickles its bytes
ends the upgrade as a failed download within bounded time; a cache that
answers a resume with a range of a newer build cannot splice two builds; a
server that sends in bursts gets one request and sends each byte once; and
a setup a byte longer or shorter than the order names, or served without a
length, with the right MD5, is downloaded and verified. The library's limits
are shortened through the environment so that the whole file runs in well
under two minutes."""

import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kit  # noqa: E402
from kit import flow  # noqa: E402

VERSION = "6.1"
SETUP_NAME = "DazuvuvevSetup_6.1.exe"
PROGRESS = "Receive WM_MSG_DOWNLOAD, t->iState=1,"
FAILED = "Receive WM_MSG_DOWNLOAD, t->iState=3,"


class NetworkTroubles(flow.FlowCase):

    def setUp(self):
        super().setUp()
        # A tenth of the real pauses (0.1, 0.2 and 0.4 s), and a floor
        # judged every 2 s instead of every minute.
        self.env.update(NUBRA_RETRY_PAUSE_MS="100", NUBRA_FLOOR_PERIOD_MS="2000")
        self.setup = self.publish(SETUP_NAME, VERSION, pad=900000)

    def library_records(self, text):
        return [m for m in self.messages() if text in m]

    def test_a_reset_mid_download_is_mended_in_the_same_run(self):
        self.server.add_fault("/" + SETUP_NAME, "drop=300000")
        companion = self.launch()
        self.send_order(self.setup, VERSION)
        self.assertEnds(companion)

        self.assertState(version=VERSION, overflags="over", clearflags="false")
        self.assertLogged("localMD5:%s, remoteMD5:%s" % (self.setup.md5, self.setup.md5), 1)
        self.assertFolder(SETUP_NAME)
        self.assertLogged(self.download_line(self.setup), 1)
        self.assertNotLogged(FAILED)
        gets = self.downloads(self.setup)
        self.assertEqual(len(gets), 2, "requests: %r" % gets)
        self.assertEqual((gets[0]["status"], gets[0]["sent"]), (200, 300000))
        match = re.fullmatch(r"bytes=(\d+)-", gets[1]["range"])
        self.assertTrue(match, "the retry did not resume: %r" % gets[1])
        resumed_at = int(match.group(1))
        self.assertTrue(0 < resumed_at <= 300000, gets[1])
        self.assertTrue(gets[1]["if_range"], "a resume without If-Range: %r" % gets[1])
        self.assertEqual((gets[1]["status"], gets[1]["sent"]), (206, self.setup.size - resumed_at))
        # The window saw one transfer of the whole file from byte 0.
        self.wait_logged(lambda m: re.match(r"transfer finished: HTTP status 206, %d bytes received "
                                            r"\(0 already on disk\)" % self.setup.size, m))
        self.assertEqual(len(self.library_records(
            "retry 1 of 3 in 0.1 s after connection reset (error 12031), resuming at byte %d" % resumed_at)), 1,
            "the retry is not in the log: %r" % self.messages())

    def test_a_cache_that_ignores_if_range_cannot_splice_two_builds(self):
        # The first answer brings the older build under the same name and
        # breaks; the cache answers the resume with a range of the new one.
        older = self.publish("Older_" + SETUP_NAME, "6.0", pad=900000)
        self.server.add_fault("/" + SETUP_NAME, "serve=/%s,drop=300000" % older.name)
        self.server.add_fault("/" + SETUP_NAME, "noifrange")
        companion = self.launch()
        self.send_order(self.setup, VERSION)
        self.assertEnds(companion)

        self.assertState(version=VERSION, overflags="over", clearflags="false")
        self.assertLogged("localMD5:%s, remoteMD5:%s" % (self.setup.md5, self.setup.md5), 1)
        gets = self.downloads(self.setup)
        self.assertEqual([(g["status"], bool(g["range"])) for g in gets], [(200, False), (206, True), (200, False)],
                         "requests: %r" % gets)
        self.assertEqual(len(self.library_records("the partial file is stale")), 1, self.messages())

    def test_a_spliced_resume_is_fetched_once_more_whole(self):
        # A server that keeps one validator across builds: the next order's
        # resume is trusted, the joined file fails its digest, and one whole
        # fetch in the same run brings the new build instead of a lost upgrade.
        older = os.path.join(self.server.root, "Older_" + SETUP_NAME)
        with open(older, "wb") as f:
            f.write(os.urandom(self.setup.size))
        self.server.add_fault("/" + SETUP_NAME, 'serve=/Older_%s,drop=300000,etag="one",nolastmod' % SETUP_NAME)
        self.env["NUBRA_RETRY_LIMIT"] = "0"
        companion = self.launch()
        self.send_order(self.setup, VERSION)
        self.assertEnds(companion)
        self.assertState(result="download-failed")
        self.client.stop()

        self.server.reset()
        del self.env["NUBRA_RETRY_LIMIT"]
        self.server.add_fault("/" + SETUP_NAME, 'etag="one",nolastmod', count=2)
        companion = self.launch()
        self.send_order(self.setup, VERSION)
        self.assertEnds(companion)
        self.assertState(version=VERSION, overflags="over", clearflags="false", result="hidden")
        self.assertLogged("localMD5:%s, remoteMD5:%s" % (self.setup.md5, self.setup.md5), 1)
        self.assertLogged("the setup was resumed from a partial download and does not match: it is fetched once "
                          "more, whole", 1)
        gets = self.downloads(self.setup)
        self.assertEqual([(g["status"], bool(g["range"])) for g in gets], [(206, True), (200, False)],
                         "requests: %r" % gets)

    def test_a_server_that_sends_in_bursts_sends_each_byte_once(self):
        self.server.add_fault("/" + SETUP_NAME, "rate=300000,burst=1")
        companion = self.launch()
        self.send_order(self.setup, VERSION)
        self.assertEnds(companion, timeout=60)
        self.assertState(version=VERSION, overflags="over", clearflags="false")
        gets = self.downloads(self.setup)
        self.assertEqual([(g["status"], g["concurrent"]) for g in gets], [(200, 0)], "requests: %r" % gets)
        self.assertLessEqual(sum(g["sent"] for g in gets), 1.05 * self.setup.size)

    def test_a_trickle_ends_in_a_logged_failure(self):
        # Every try trickles one byte every half second, below the floor.
        self.server.add_fault("/" + SETUP_NAME, "trickle=0.5", count=4)
        companion = self.launch()
        self.send_order(self.setup, VERSION)
        self.wait_logged(lambda m: m.startswith(PROGRESS))
        self.wait_logged(lambda m: m.startswith(FAILED), timeout=60)
        self.assertEnds(companion, timeout=30)

        self.assertNoSetupRan(0)
        self.assertState(version=VERSION, overflags="")
        self.assertNotIn(SETUP_NAME, self.bed.upgrade_files())
        self.wait_logged(lambda m: re.match(r"transfer failed on the server or the connection: HTTP status "
                                            r"206, network error 12002, [1-9]\d* bytes received", m))
        gets = self.downloads(self.setup)
        self.assertEqual(len(gets), 4, "one request and three retries: %r" % gets)
        # Logged as each answer ends, which the trickle decides.
        self.assertEqual(len([g for g in gets if g["range"]]), 3, "the retries did not resume: %r" % gets)
        self.assertEqual(len(self.library_records("stall: ")), 4, self.messages())
        self.assertEqual(len(self.library_records("giving up after 3 retries: a stall below the floor")), 1,
                         self.messages())

    def test_a_size_off_by_one_byte_or_unknown_with_the_right_md5_completes(self):
        for delta, fault in ((1, None), (-1, None), (0, "nolength")):
            with self.subTest(ordered="size %+d" % delta, fault=fault):
                self.bed.reset()
                self.server.reset()
                if fault:
                    # An answer without a length: a library may count it as
                    # any size at all.
                    self.server.add_fault("/" + SETUP_NAME, fault)
                companion = self.launch()
                self.send_order(self.setup, VERSION, size=self.setup.size + delta)
                self.assertEnds(companion)
                self.assertState(version=VERSION, overflags="over", clearflags="false")
                self.assertLogged("localMD5:%s, remoteMD5:%s" % (self.setup.md5, self.setup.md5), 1)
                self.assertFolder(SETUP_NAME)
                self.assertEqual(len(self.downloads(self.setup)), 1)
                self.client.stop()


if __name__ == "__main__":
    kit.main()
