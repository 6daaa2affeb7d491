#!/usr/bin/env python3
"""An order the companion handles on its own (mode 0, not the interactive
type): the download runs unseen and nothing is installed; the next order for
the same version goes straight to the choice prompt, and a user who cancels it
with "不再提醒" ticked is not asked again for that version."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kit  # noqa: E402
from kit import flow  # noqa: E402


class HiddenDownload(flow.FlowCase):

    def test_unseen_download_then_choice_prompt_then_no_tips(self):
        setup = self.publish("DazuvuvevSetup_5.0.exe", "5.0")

        # First run: downloaded and verified without a window or a box.
        companion = self.launch()
        self.assertIn("result=1", self.send_order(setup, "5.0").out)
        self.assertFalse(self.upgrade_window_shown(), "a hidden order showed the window")
        self.assertEnds(companion)
        self.assertFalse(self.upgrade_window_shown())
        self.assertNoBox(flow.TIP_CAPTION)
        self.assertLogged(self.download_line(setup), 1)
        self.assertLogged("localMD5:%s, remoteMD5:%s" % (setup.md5, setup.md5))
        self.assertState(version="5.0", path=self.upgrade_path(setup.name), overflags="over", clearflags="false",
                         version_no_tips="")
        self.assertFolder(setup.name)
        self.assertEqual(len(self.downloads(setup)), 1)
        self.assertNoSetupRan()
        self.assertTrue(self.client.running(), "the client was closed without asking")

        # Second run, same order: no download, the choice prompt at once.
        companion = self.start_companion()
        order = self.order_later(setup, "5.0")
        box = self.wait_box(flow.UPDATE_CAPTION, two_buttons=True)
        self.assertFalse(order.done(), "the order returned before the prompt was answered")
        self.keep_picture(box.grab(), "choice-prompt.png")
        box.click("MsgBoxCalCheckBox")
        box.click("CancelBtn")
        self.assertIn("result=1", self.assertCtl(order.result()).out)
        self.assertEnds(companion)
        self.assertEqual(len(self.downloads(setup)), 1, "the finished download was fetched again")
        self.assertLogged(self.download_line(setup), 1)
        self.assertState(version="5.0", overflags="over", clearflags="false", version_no_tips="5.0")
        self.assertFolder(setup.name)
        self.assertNoSetupRan()
        self.assertTrue(self.client.running(), "cancel closed the client")

        # Third run: nothing is asked, nothing is installed.
        companion = self.start_companion()
        self.send_order(setup, "5.0")
        self.assertEnds(companion)
        self.assertNoBox(flow.UPDATE_CAPTION)
        self.assertLogged(flow.NO_TIPS + "5.0", 1)
        self.assertEqual(len(self.downloads(setup)), 1)
        self.assertState(version="5.0", overflags="over", version_no_tips="5.0")
        self.assertFolder(setup.name)
        self.assertNoSetupRan()
        self.assertTrue(self.client.running())
        self.assertEqual(self.messages().count(flow.QUIT), 3, "one orderly end per run")


if __name__ == "__main__":
    kit.main()
