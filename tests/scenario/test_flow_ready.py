#!/usr/bin/env python3
"""Mode 1 with the setup of the ordered version already downloaded and
verified: nothing is fetched or asked, and the companion waits for the
client's word: 102 starts the setup, 103 ends without it."""

import hashlib
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kit  # noqa: E402
from kit import flow  # noqa: E402


class ReadySetup(flow.FlowCase):

    def ready(self, version, upgrade_type=None):
        setup = self.publish("DazuvuvevSetup_%s.exe" % version, version)
        self.place_setup(setup)
        self.bed.write_ini({"version": version, "path": self.upgrade_path(setup.name), "overflags": "over",
                            "clearflags": "false"})
        companion = self.launch()
        self.assertIn("result=1", self.send_order(setup, version, mode=1, type=upgrade_type).out)
        self.assertStays(companion, 1)
        self.assertLogged(self.md5_line(setup), 1)
        self.assertNotLogged(flow.DOWNLOAD_STARTED)
        self.assertNotLogged(flow.QUIT)
        self.assertFalse(self.upgrade_window_shown())
        return companion, setup

    def assertUntouched(self, setup, version):
        self.assertEqual(self.downloads(setup), [])
        self.assertState(version=version, overflags="over", clearflags="false")
        self.assertFolder(setup.name)

    def test_install_starts_the_ready_setup(self):
        companion, setup = self.ready("9.0", upgrade_type="9434")
        # The prompt command is for setups still to be fetched.
        self.assertIn("result=1", self.assertCtl(self.ctl.command("prompt", send=True)).out)
        self.assertNoBox(flow.UPDATE_CAPTION)
        self.assertIn("result=1", self.assertCtl(self.ctl.command("install")).out)
        self.assertEnds(companion, timeout=15)
        self.assertSetupRan(setup)
        self.assertTrue(self.client.running(), "command 102 leaves the client to the setup")
        self.assertUntouched(setup, "9.0")

    def windows_cmd(self, line):
        """A command of Windows' own shell, run in the prefix as any program
        of the user could. (Its paths carry no quotes: wine would escape
        them, and the shell's exit code says nothing either way.)"""
        subprocess.run(["wine", "cmd", "/c", line], env=self.env, stdin=subprocess.DEVNULL, capture_output=True,
                       timeout=60)

    def test_verified_setup_is_held_against_writers_until_it_runs(self):
        companion, setup = self.ready("9.2")
        path = os.path.join(self.bed.upgrade_dir, setup.name)
        windows_path = self.upgrade_path(setup.name)
        self.assertNotIn(" ", windows_path)
        self.windows_cmd("echo changed>>%s" % windows_path)
        self.windows_cmd("del /f /q %s" % windows_path)
        self.windows_cmd("copy /y %s %s" % (self.bed.to_windows(self.bed.exe("DazuvuVevUpgradeCtl.exe")), windows_path))
        with open(path, "rb") as f:
            self.assertEqual(hashlib.md5(f.read()).hexdigest(), setup.md5, "the held setup was changed")

        self.assertIn("result=1", self.assertCtl(self.ctl.command("install")).out)
        self.assertEnds(companion, timeout=15)
        self.assertSetupRan(setup)
        # Read once, when the order came; not again before the start.
        self.assertLogged(self.md5_line(setup), 1)
        self.assertUntouched(setup, "9.2")
        # The hold ends with the upgrade (the setup's own run may take a moment more).
        gone = kit.wait_for(lambda: self.windows_cmd("del /f /q %s" % windows_path) or not os.path.exists(path),
                            timeout=20, interval=0.5)
        self.assertTrue(gone, "the setup could not be deleted after the upgrade")

    def test_release_ends_without_the_setup(self):
        companion, setup = self.ready("9.1")
        self.assertIn("result=1", self.assertCtl(self.ctl.command("release")).out)
        self.assertEnds(companion, timeout=15)
        self.assertNoSetupRan()
        self.assertTrue(self.client.running())
        self.assertUntouched(setup, "9.1")


if __name__ == "__main__":
    kit.main()
