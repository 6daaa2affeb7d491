#!/usr/bin/env python3
"""The companion against real peers instead of the test server: a download
from nginx that is cut by a lost network and resumed by the next order, and
downloads through tinyproxy demanding the proxy credentials of the command
line, set as the prefix's system proxy: the right password downloads, a wrong
one ends the upgrade cleanly."""

import hashlib
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kit  # noqa: E402
from kit import flow, peers  # noqa: E402

VERSION = "8.0"
SETUP_NAME = "DazuvuvevSetup_8.0.exe"
PROXY_USER = "nubra"
PROXY_PASSWORD = "s3cret"
PROGRESS = "Receive WM_MSG_DOWNLOAD, t->iState=1,"


class RealPeers(flow.FlowCase):

    def serve_with_nginx(self, pad, limit_rate=None):
        root = os.path.join(self.scratch, "nginx-root")
        os.makedirs(root, exist_ok=True)
        path = os.path.join(root, SETUP_NAME)
        size, md5 = kit.make_setup(self.bed, path, VERSION.encode("ascii") + b"\0" * pad)
        web = peers.Nginx(root, self.scratch, limit_rate=limit_rate).start()
        self.addCleanup(web.stop)
        return web, flow.Setup(SETUP_NAME, size, md5, web.url(SETUP_NAME), path)

    def downloaded_md5(self):
        with open(os.path.join(self.bed.upgrade_dir, SETUP_NAME), "rb") as f:
            return hashlib.md5(f.read()).hexdigest()

    def test_nginx_download_resumes_after_a_lost_network(self):
        # Slow enough that the network can be lost in the middle.
        web, setup = self.serve_with_nginx(pad=700000, limit_rate="60k")
        companion = self.launch()
        self.send_order(setup, VERSION)
        self.wait_logged(lambda m: m.startswith(PROGRESS))
        part = os.path.join(self.bed.upgrade_dir, SETUP_NAME + ".part")
        self.assertTrue(kit.wait_for(lambda: os.path.exists(part) and os.path.getsize(part) > 60000, 20),
                        "the transfer does not reach the disk")
        self.lose_network()
        self.assertEnds(companion, timeout=40)
        partial = os.path.getsize(part)
        self.assertLess(partial, setup.size, "the transfer was not cut")

        self.restore_network()
        companion = self.start_companion()
        self.send_order(setup, VERSION)
        self.assertEnds(companion, timeout=90)
        self.assertState(version=VERSION, overflags="over")
        self.assertEqual(self.downloaded_md5(), setup.md5)
        self.assertLogged("localMD5:%s, remoteMD5:%s" % (setup.md5, setup.md5))

        gets = [r for r in web.requests("/" + SETUP_NAME) if r["method"] == "GET"]
        resumed = gets[-1]
        self.assertEqual((resumed["status"], resumed["range"]), (206, "bytes=%d-" % partial),
                         "nginx saw: %r" % gets)
        self.assertTrue(resumed["if_range"], "the resume names the version of its bytes: %r" % resumed)
        self.assertEqual(resumed["bytes"], setup.size - partial)

    def test_downloads_through_an_authenticating_system_proxy(self):
        web, setup = self.serve_with_nginx(pad=50000)
        proxy = peers.Tinyproxy(self.scratch, PROXY_USER, PROXY_PASSWORD).start()
        self.addCleanup(proxy.stop)
        with peers.SystemProxy("127.0.0.1:%d" % proxy.port):
            self.start_client()
            companion = self.start_companion(arg="DazuvuVevNeedUpgrade:%s:%s" % (PROXY_USER, PROXY_PASSWORD))
            self.send_order(setup, VERSION)
            self.assertEnds(companion)
            self.assertState(version=VERSION, overflags="over")
            self.assertEqual(self.downloaded_md5(), setup.md5)
            gets = [r for r in web.requests("/" + SETUP_NAME) if r["method"] == "GET"]
            self.assertTrue(gets, "nginx saw no download")
            self.assertTrue(all("tinyproxy" in r["via"] for r in gets), "not through the proxy: %r" % gets)
            self.assertIn("GET %s " % setup.url, proxy.log_text())

            # A wrong password: the proxy refuses, the upgrade ends in order
            # and leaves no setup behind.
            self.bed.reset()
            served = len(web.requests())
            proxy_seen = len(proxy.log_text())
            companion = self.start_companion(arg="DazuvuVevNeedUpgrade:%s:wrong" % PROXY_USER)
            self.send_order(setup, VERSION)
            self.assertEnds(companion, timeout=60)
            self.assertLogged(flow.QUIT)
            self.assertTrue([m for m in self.messages() if m.startswith("Receive WM_MSG_DOWNLOAD, t->iState=3,")],
                            "no failed transfer in the log: %r" % self.messages())
            self.assertNotIn(SETUP_NAME, self.bed.upgrade_files())
            self.assertEqual(web.requests()[served:], [], "a request got past the proxy")
            refused = proxy.log_text()[proxy_seen:]
            self.assertIn("GET %s " % setup.url, refused, "the companion did not ask the proxy")
            self.assertNotIn("Established connection", refused, "the proxy forwarded a request")
            self.assertNoSetupRan(0.5)


if __name__ == "__main__":
    kit.main()
