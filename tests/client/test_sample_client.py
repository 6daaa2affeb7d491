#!/usr/bin/env python3
"""The sample client, built from the public client header alone, drives the
real companion: without a companion it gives up after its wait; with one, its
order is taken, the setup is downloaded and verified, and the client sees the
companion end."""

import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "scenario"))
import kit  # noqa: E402
from kit import flow  # noqa: E402

VERSION = "6.0"


class SampleClient(flow.FlowCase):

    def run_client(self, setup, *extra):
        done = subprocess.run(["wine", self.bed.exe("SampleClient.exe"), setup.url, VERSION, str(setup.size),
                               setup.md5] + list(extra), stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=240)
        return done.returncode, done.stdout.decode("utf-8", "replace"), done.stderr.decode("utf-8", "replace")

    def test_sample_client_orders_and_sees_the_companion_end(self):
        setup = self.publish("DazuvuvevSetup_6.0.exe", VERSION)

        code, out, err = self.run_client(setup, "500")
        self.assertEqual((code, out), (1, ""), err)
        self.assertIn("window was not found", err)

        companion = self.launch()
        code, out, err = self.run_client(setup)
        self.assertEqual(code, 0, out + err)
        self.assertEqual(out.split(), ["order", "taken:", "result=1", "companion", "ended"])
        self.assertEnds(companion)
        self.assertState(version=VERSION, overflags="over")
        self.assertLogged("localMD5:%s, remoteMD5:%s" % (setup.md5, setup.md5))
        self.assertEqual(len(self.downloads(setup)), 1)


if __name__ == "__main__":
    kit.main()
