#!/usr/bin/env python3
"""Both skinned windows of the real companion driven by real key presses
only: Tab moves the focus over the buttons and the check box, Space presses
the focused control, Enter presses a focused button, and Esc is the upgrade
window's close cross. A window manager runs meanwhile, as on every user's
desktop, so that focus and activation are the ones users meet."""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kit  # noqa: E402
from kit import flow, wm  # noqa: E402


def press(window, *keys):
    for key in keys:
        kit.xwin.press(window, key)
        time.sleep(0.2)


class Keyboard(flow.FlowCase):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        wm.manage_class(cls)

    def test_choice_prompt_answered_from_the_keyboard(self):
        setup = self.publish("DazuvuvevSetup_5.5.exe", "5.5")
        self.place_setup(setup)
        self.bed.write_ini({"version": "5.5", "path": self.upgrade_path(setup.name), "overflags": "over",
                            "clearflags": "false"})
        companion = self.launch()
        order = self.order_later(setup, "5.5")
        box = self.wait_box(flow.UPDATE_CAPTION, two_buttons=True)
        # The focus starts on "升级"; around it go "取消", the close cross,
        # "不再提醒", back to "升级" and on to "取消".
        press(box.window, "Tab", "Tab", "Tab", "space")
        self.keep_picture(box.grab(), "box-ticked-by-keyboard.png")
        self.assertFalse(order.done(), "a key other than a button's ended the prompt")
        press(box.window, "Tab", "Tab", "Return")
        self.assertIn("result=1", self.assertCtl(order.result()).out)
        self.assertEnds(companion)
        self.assertState(version="5.5", overflags="over", clearflags="false", version_no_tips="5.5")
        self.assertNoSetupRan()
        self.assertTrue(self.client.running(), "cancel closed the client")

    def test_escape_is_the_close_cross_of_the_upgrade_window(self):
        self.start_server()
        companion = self.start_companion()
        # Without an order, "install" has nothing to start and shows the window.
        self.assertCtl(self.ctl.command("install"))
        window = self.wait_upgrade_window(timeout=20)
        time.sleep(0.5)
        press(window.window, "a", "F5")
        time.sleep(0.5)
        self.assertTrue(self.upgrade_window_shown(), "a key that means nothing closed the window")
        press(window.window, "Escape")
        self.assertTrue(kit.xwin.wait_gone("^%s$" % flow.WINDOW_TITLE, timeout=10), "Esc did not hide the window")
        self.assertTrue(companion.running(), "hiding must not end the companion")


if __name__ == "__main__":
    kit.main()
