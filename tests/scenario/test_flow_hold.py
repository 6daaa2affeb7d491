#!/usr/bin/env python3
"""The client holds the installation (command 101) while the download runs:
the verified setup is not started at the end, and the companion stays until
the client exits, or until the client ends the hold with 102 (start it) or
103 (leave it for later); also beside a client whose running flag lets
others wait on it and no more, as one at another integrity level."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kit  # noqa: E402
from kit import flow  # noqa: E402


class HeldInstallation(flow.FlowCase):

    def held_download(self, version, synchronize_only=False):
        """A hidden download that the client holds before it ends; returns
        the companion and the setup once the download is verified."""
        setup = self.publish("DazuvuvevSetup_%s.exe" % version, version, pad=300000)
        # Slow enough that the hold surely arrives before the transfer ends.
        self.server.add_fault("/" + setup.name, "rate=500000")
        companion = self.launch(synchronize_only=synchronize_only)
        self.send_order(setup, version)
        self.assertIn("result=1", self.assertCtl(self.ctl.command("hold")).out)
        self.wait_state(version=version, overflags="over", clearflags="false")
        self.assertLogged("localMD5:%s, remoteMD5:%s" % (setup.md5, setup.md5), 1)
        # Longer than one period of the client watch: it keeps waiting.
        self.assertStays(companion, 4)
        self.assertNoSetupRan(0)
        self.assertNotLogged(flow.QUIT)
        self.assertFolder(setup.name)
        return companion, setup

    def test_client_exit_ends_the_wait_without_a_setup(self):
        companion, setup = self.held_download("8.0")
        self.assertEqual(self.client.stop(), 0)
        self.assertEnds(companion, timeout=15)
        self.assertNoSetupRan()
        self.assertState(version="8.0", overflags="over")
        self.assertFolder(setup.name)
        self.assertLogged(flow.QUIT, 1)

    def test_a_client_whose_flag_grants_only_synchronize_is_waited_for(self):
        companion, setup = self.held_download("8.3", synchronize_only=True)
        # What any other process of the session, the companion among them,
        # may open that flag for.
        self.assertEqual(self.client.flag_access, "full access error 5, synchronize granted")
        self.assertEqual(self.client.stop(), 0)
        self.assertResult("held-waiting", companion)
        self.assertNoSetupRan()
        self.assertState(version="8.3", overflags="over")
        self.assertFolder(setup.name)

    def test_install_after_the_hold_starts_the_setup(self):
        companion, setup = self.held_download("8.1")
        self.assertIn("result=1", self.assertCtl(self.ctl.command("install")).out)
        self.assertEnds(companion, timeout=15)
        self.assertSetupRan(setup)
        self.assertTrue(self.client.running(), "command 102 leaves the client to the setup")
        self.assertState(version="8.1", overflags="over")
        self.assertLogged(flow.QUIT, 1)

    def test_release_after_the_hold_quits_without_the_setup(self):
        companion, setup = self.held_download("8.2")
        self.assertIn("result=1", self.assertCtl(self.ctl.command("release")).out)
        self.assertEnds(companion, timeout=15)
        self.assertNoSetupRan()
        self.assertTrue(self.client.running())
        self.assertState(version="8.2", overflags="over")
        self.assertFolder(setup.name)


if __name__ == "__main__":
    kit.main()
