#!/usr/bin/env python3
"""The upgrade window of the real companion: hidden and titled at start,
its folder and state file, a state file it cannot write, the network watch,
and the close button of a shown window; under a window manager, as users
have one."""

import os
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kit  # noqa: E402
from kit import wm  # noqa: E402

TITLE = "^正在下载$"
# "CloseBtn" of layout "UpgradeDUI": the cross at the right of the caption bar.
CLOSE_BUTTON = (384 + 18, 18)


def active_window():
    """The window the window manager has activated, or None."""
    done = subprocess.run(["xdotool", "getactivewindow"], capture_output=True, text=True, timeout=30)
    return int(done.stdout) if done.returncode == 0 and done.stdout.strip().isdigit() else None


class UpgradeWindow(kit.ScenarioCase):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        wm.manage_class(cls)

    def test_starts_hidden_with_its_title_folder_and_empty_state_file(self):
        self.start_server()
        self.start_companion()
        # The window exists a moment before it has its title and its folder.
        self.assertIsNotNone(kit.xwin.wait_window(TITLE, timeout=10, visible=False), "no window titled 正在下载")
        self.assertTrue(kit.wait_for(self.bed.ini_untouched, 10), "no new state file: %r" % self.bed.ini_bytes())
        self.assertEqual(kit.xwin.find_windows(TITLE, visible=True), [], "the window must start hidden")
        self.assertEqual(self.bed.upgrade_files(), ["Upgrade.ini"])

    def test_an_unwritable_state_file_ends_the_process_at_once(self):
        self.start_server()
        # Root passes Wine's read-only check, so the state file is made
        # unwritable for everyone: a folder stands where the file belongs.
        os.makedirs(self.bed.ini_path)
        companion = self.start_companion(wait_window=False)
        self.assertEqual(companion.wait_exit(30), 0)
        messages = self.bed.log_messages()
        self.assertEqual(messages[-2:], ["ExistMainThread", "GetMessage QUIT!"], messages)

    def test_a_lost_network_is_reported_once_and_ends_a_hidden_run(self):
        tracked = self.start_server()
        companion = self.start_companion()
        time.sleep(1)
        tracked.stop()
        self.assertEqual(companion.wait_exit(40), 0, "the companion must end once the network is lost")
        messages = self.bed.log_messages()
        self.assertEqual(messages.count("net cutdown"), 1, messages)
        self.assertEqual(messages[-2:], ["ExistMainThread", "GetMessage QUIT!"], messages)

    def test_only_a_watched_host_once_reached_can_be_lost(self):
        # An administrator names the watched host in the client's config.ini.
        config = os.path.join(self.bed.bin, "config.ini")
        self.addCleanup(lambda: os.path.exists(config) and os.remove(config))
        closed = socket.socket()
        closed.bind(("127.0.0.1", 0))
        closed_port = closed.getsockname()[1]
        closed.close()
        with open(config, "w") as f:
            f.write("[APP]\r\nNetTrackServer=127.0.0.1:%d\r\n" % closed_port)

        # A host that never answers in this run is no lost network.
        companion = self.start_companion()
        time.sleep(8)  # the watch probes about every 3 s
        self.assertTrue(companion.running(), "a host never reached ended the run")
        messages = self.bed.log_messages()
        self.assertIn("net track server: 127.0.0.1:%d" % closed_port, messages)
        self.assertNotIn("net cutdown", messages)
        companion.stop()
        self.assertEqual(self.ctl.wait_gone(timeout_ms=10000).code, 0)

        # A host reached once and then gone is.
        self.bed.reset()
        tracked = self.start_server()
        self.env.pop("NUBRA_TRACK_SERVER", None)
        tracked_port = tracked.port
        with open(config, "w") as f:
            f.write("[APP]\r\nNetTrackServer=127.0.0.1:%d\r\n" % tracked_port)
        companion = self.start_companion()
        time.sleep(2)
        tracked.stop()
        self.assertEqual(companion.wait_exit(40), 0, "the companion must end once the network is lost")
        messages = self.bed.log_messages()
        self.assertIn("net track server: 127.0.0.1:%d" % tracked_port, messages)
        self.assertEqual(messages.count("net cutdown"), 1, messages)

    def test_close_button_hides_a_shown_window(self):
        self.start_server()
        companion = self.start_companion()
        # Without an order, "install" has nothing to start and shows the window.
        self.assertCtl(self.ctl.command("install"))
        window = kit.xwin.wait_window(TITLE, timeout=20)
        self.assertIsNotNone(window, "the window was not shown")
        # Shown for the user to watch, it is the window the desktop activates.
        self.assertTrue(kit.wait_for(lambda: active_window() == window, 10),
                        "the shown window is not the active one (active: %r)" % active_window())
        kit.xwin.screenshot(os.path.join(self.scratch, "window-shown.png"))
        kit.xwin.click(window, *CLOSE_BUTTON)
        self.assertTrue(kit.xwin.wait_gone(TITLE, timeout=10), "CloseBtn did not hide the window")
        self.assertTrue(companion.running(), "hiding must not end the companion")
        self.assertEqual(self.ctl.wait_window(timeout_ms=1000).code, 0)


if __name__ == "__main__":
    kit.main()
