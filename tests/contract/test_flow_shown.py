#!/usr/bin/env python3
"""A download that starts hidden and that the client shows with command 102
while it runs: the window appears, follows the transfer to its end, and the
verified setup is started because the user now watches. Run beside our
libraries and beside the strict ones of this folder (--bin)."""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "scenario"))
import kit  # noqa: E402
from kit import flow  # noqa: E402

PROGRESS = "Receive WM_MSG_DOWNLOAD, t->iState=1,"


class ShownByInstall(flow.FlowCase):

    def test_hidden_download_shown_by_command_102_starts_the_setup(self):
        setup = self.publish("DazuvuvevSetup_6.9.exe", "6.9", pad=600000)
        # About four seconds of transfer: the command surely arrives while it runs.
        self.server.add_fault("/" + setup.name, "rate=150000")
        companion = self.launch()
        self.assertIn("result=1", self.send_order(setup, "6.9").out)
        self.wait_logged(lambda m: m.startswith(PROGRESS))
        self.assertFalse(self.upgrade_window_shown(), "a hidden order showed the window")

        self.assertIn("result=1", self.assertCtl(self.ctl.command("install")).out)
        self.wait_upgrade_window(timeout=10)
        shown_at = len(self.messages())
        self.assertEnds(companion)
        self.assertTrue([m for m in self.messages()[shown_at:] if m.startswith(PROGRESS)],
                        "no progress reached the shown window: %r" % self.messages())
        if self.plain != "silent":
            self.assertLogged("Receive WM_MSG_DOWNLOAD, t->iState=2, t->unFileSize=%d, t->unPosition=0 " % setup.size)
        self.assertLogged("localMD5:%s, remoteMD5:%s" % (setup.md5, setup.md5), 1)
        self.assertSetupRan(setup)
        self.assertTrue(self.client.running(), "a watched download's setup leaves the client to the setup")
        self.assertState(version="6.9", overflags="over", clearflags="false")
        self.assertFolder(setup.name)
        self.assertEqual(len(self.downloads(setup)), 1)
        self.assertLogged(flow.QUIT, 1)


if __name__ == "__main__":
    kit.main()
