#!/usr/bin/env python3
"""The companion as real launchers, users, servers and other processes of
the session treat it: a command line without a program token; an upgrade
folder that cannot be prepared; setup names chosen by the server; the shown
window closed with Alt+F4; the same or another order while a download runs;
download messages that the library or the window did not produce; versions
with line breaks or text outside the ANSI code page; a read-only leftover."""

import os
import shutil
import stat
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kit  # noqa: E402
from kit import flow  # noqa: E402

PEER_EXE = flow.PEER_EXE
WM_MSG_NET_BREAK = 1281
WM_MSG_DOWNLOAD = 1282
WM_MSG_DOWNLOAD_OVER = 1283
WM_MSG_DOWNLOAD_FAIL = 1284
ORDER_REFUSED = "order refused while the download of "
ORDER_REPEATED = "same order again while its download runs, URL= "


class HardeningCase(flow.FlowCase):

    def assertStateOnlyRecordsTheResult(self, before, result):
        """The state file holds what it held before, and now how the run ended."""
        after = kit.bed.parse_ini(open(self.bed.ini_path, "rb").read()).get("upgrade", {})
        earlier = kit.bed.parse_ini(before).get("upgrade", {})
        self.assertEqual(after.get("result"), result)
        self.assertEqual({k: v for k, v in after.items() if k not in kit.bed.RESULT_KEYS},
                         {k: v for k, v in earlier.items() if k not in kit.bed.RESULT_KEYS}, "the state file changed")

    def companion_copy(self):
        """The companion, its libraries and skin in a folder of their own,
        which is also its current folder; with a program beside them that a
        sweep of the current folder would take."""
        folder = os.path.join(self.scratch, "app")
        os.makedirs(folder)
        for name in ("DazuvuVevUpgrade.exe", "NubraSdk.dll", "VEXUI32.dll"):
            shutil.copyfile(self.bed.exe(name), os.path.join(folder, name))
        shutil.copytree(os.path.join(self.bed.bin, "UISkin"), os.path.join(folder, "UISkin"))
        with open(os.path.join(folder, "Old.exe"), "wb") as f:
            f.write(b"not the companion's")
        return folder


class Launching(HardeningCase):

    def test_arguments_alone_are_an_upgrade_command_line(self):
        for line in ("DazuvuVevNeedUpgrade:user:pass", "DazuvuVevNeedUpgrade::"):
            with self.subTest(line=line):
                self.bed.reset()
                launcher = self.start_wine(self.bed.exe(PEER_EXE), "launch",
                                           self.bed.to_windows(self.bed.exe("DazuvuVevUpgrade.exe")), line)
                self.assertIsNotNone(launcher.wait_line(lambda l: l.startswith("pid ")), "\n".join(launcher.lines))
                self.assertCtl(self.ctl.wait_window(), msg="window for %r" % line)
                self.assertTrue(kit.wait_for(self.bed.ini_untouched, 10), "no new state file: %r" % self.bed.ini_bytes())
                self.assertCtl(self.ctl.run("quit"))
                self.assertEqual(launcher.wait_line(lambda l: l.startswith("exit ")), "exit 0")
                self.assertIn("GetMessage QUIT!", self.messages())

    def test_orders_before_a_failed_folder_quit_touch_nothing(self):
        # The folder's name is taken by a link that leads nowhere.
        os.makedirs(self.bed.appdata, exist_ok=True)
        os.symlink(os.path.join(self.scratch, "nowhere"), self.bed.upgrade_dir)
        self.addCleanup(lambda: os.path.lexists(self.bed.upgrade_dir) and os.remove(self.bed.upgrade_dir))
        folder = self.companion_copy()
        before = sorted(os.listdir(folder))
        setup = self.publish("DazuvuvevSetup_6.0.exe", "6.0")
        # Orders as fast as they go, so that some arrive before the quit.
        flood = self.start_wine(self.bed.exe(PEER_EXE), "orders-until-gone", setup.url, "60")
        launcher = self.start_wine(self.bed.exe(PEER_EXE), "launch",
                                   self.bed.to_windows(os.path.join(folder, "DazuvuVevUpgrade.exe")),
                                   "DazuvuVevUpgrade.exe DazuvuVevNeedUpgrade:user:pass")
        self.assertEqual(launcher.wait_line(lambda l: l.startswith("exit "), timeout=60), "exit 0")
        flood.wait(90)
        self.assertEqual(sorted(os.listdir(folder)), before, "files of the current folder went")
        self.assertTrue(os.path.islink(self.bed.upgrade_dir))
        self.assertFalse(os.path.exists(os.path.join(self.scratch, "nowhere")))
        self.assertNotLogged("Clear Expire File")
        self.assertNotLogged(flow.DOWNLOAD_STARTED)
        self.assertEqual(self.downloads(setup), [])
        self.assertLogged(flow.QUIT)


class ServerNames(HardeningCase):

    def test_names_of_our_own_files_or_of_no_program_are_refused(self):
        setup = self.publish("DazuvuvevSetup_6.1.exe", "6.1")
        self.bed.write_ini({"version": "5.0", "overflags": "over", "clearflags": "false"})
        with open(self.bed.ini_path, "rb") as f:
            state = f.read()
        self.client = self.start_client()
        for name in ("upgrade.INI", "Upgrade.ini", "DazuvuvevSetup_6.1.exe.part", "x.exe.PART.meta",
                     "DazuvuvevSetup_6.1.msi", "DazuvuvevSetup_6.1"):
            with self.subTest(name=name):
                url = self.server.url(name)
                companion = self.start_companion()
                self.assertIn("result=1", self.send_order(setup, "6.1", url=url).out)
                self.assertEnds(companion)
                self.assertLogged(flow.URL_REFUSED + url, 1)
                self.assertStateOnlyRecordsTheResult(state, "refused")
                self.assertEqual(self.server.requests("/" + name), [])
                os.remove(self.bed.log_path)

    def test_a_slash_in_the_query_does_not_name_the_file(self):
        setup = self.publish("DazuvuvevSetup_6.2.exe", "6.2")
        url = setup.url + "?sig=a/upgrade.INI"
        companion = self.launch()
        self.send_order(setup, "6.2", url=url)
        self.assertEnds(companion)
        self.assertLogged("MakeCurrentSetupPath  " + self.upgrade_path(setup.name))
        self.assertState(version="6.2", overflags="over", clearflags="false")
        self.assertFolder(setup.name)


class ClosingTheWindow(HardeningCase):

    def test_alt_f4_hides_it_like_its_close_button(self):
        setup = self.publish("DazuvuvevSetup_6.3.exe", "6.3", pad=400000)
        self.server.add_fault("/" + setup.name, "rate=100000")
        companion = self.launch()
        self.send_order(setup, "6.3")
        self.assertCtl(self.ctl.command("install"))  # shows the running download
        window = self.wait_upgrade_window()
        kit.xwin.press(window.window, "alt+F4")
        self.assertTrue(kit.xwin.wait_gone("^%s$" % flow.WINDOW_TITLE, timeout=10), "the window is still shown")
        # Nobody watches any more: the verified setup waits for the next order.
        self.assertEnds(companion)
        self.assertState(version="6.3", overflags="over", clearflags="false")
        self.assertNoSetupRan()
        self.assertFolder(setup.name)


class OneTransfer(HardeningCase):

    def test_a_repeated_or_other_order_leaves_the_running_download_alone(self):
        setup = self.publish("DazuvuvevSetup_6.4.exe", "6.4", pad=400000)
        other = self.publish("DazuvuvevSetup_6.5.exe", "6.5")
        self.server.add_fault("/" + setup.name, "rate=100000")
        companion = self.launch()
        self.send_order(setup, "6.4")
        self.wait_logged(lambda m: m.startswith("Receive WM_MSG_DOWNLOAD, t->iState=1"))
        self.assertEqual(self.send_order(setup, "6.4").code, 0)
        self.send_order(other, "6.5")
        self.send_order(setup, "6.4", md5="0" * 32)
        self.assertEnds(companion)
        self.assertLogged(ORDER_REPEATED + setup.url, 1)
        self.assertEqual(len([m for m in self.messages() if m.startswith(ORDER_REFUSED)]), 2, self.messages())
        self.assertLogged(self.download_line(setup), 1)
        self.assertEqual(len(self.downloads(setup)), 1)
        self.assertEqual(self.downloads(other), [])
        self.assertState(version="6.4", overflags="over", clearflags="false")
        self.assertFolder(setup.name)


class ForgedMessages(HardeningCase):

    def test_download_messages_from_elsewhere_change_nothing(self):
        setup = self.publish("DazuvuvevSetup_6.6.exe", "6.6")
        self.place_setup(setup)
        self.bed.write_ini({"version": "6.6", "overflags": "over", "clearflags": "false"})
        with open(self.bed.ini_path, "rb") as f:
            state = f.read()
        companion = self.launch()
        self.assertIn("result=1", self.send_order(setup, "6.6", mode=1).out)  # ready, waits for commands
        for how in ("post", "send"):
            self.message(how, WM_MSG_DOWNLOAD_OVER)
            self.message(how, WM_MSG_DOWNLOAD_FAIL)
            self.message(how, WM_MSG_NET_BREAK, 0, 239)
            for wparam in (0, 0x1234, 0xDEADBEEF, 0xFFFFFFFF):
                self.message(how, WM_MSG_DOWNLOAD, wparam)
        self.message("send", 0)  # the posted ones are handled by now
        self.assertStays(companion, 4)  # longer than the settle pause of a real end
        with open(self.bed.ini_path, "rb") as f:
            self.assertEqual(f.read(), state, "the state file changed")
        self.assertFolder(setup.name)
        self.assertNotLogged("Clear Expire File")
        self.assertEqual(len([m for m in self.messages() if m.startswith("WM_MSG_DOWNLOAD ignored")]), 8)
        self.assertEqual(len([m for m in self.messages() if m.endswith("not posted by this window ignored")]), 4)
        # The client's own command still installs the setup.
        self.assertCtl(self.ctl.command("install"))
        self.assertEnds(companion)
        self.assertSetupRan(setup)


class StateText(HardeningCase):

    def test_line_breaks_are_refused_and_any_text_survives(self):
        setup = self.publish("DazuvuvevSetup_6.7.exe", "6.7")
        self.client = self.start_client()
        for version in ("6.7\r\nversion_no_tips=6.7", "6.7\noverflags=over", "6.7\t"):
            with self.subTest(version=version):
                companion = self.start_companion()
                self.assertIn("result=1", self.send_order(setup, version).out)
                self.assertEnds(companion)
                self.assertLogged("order check failure, control character in szVersion", 1)
                self.assertStateOnlyRecordsTheResult(b"", "refused")
                os.remove(self.bed.log_path)
        self.assertEqual(self.downloads(setup), [])

        # Thai and a character outside the BMP: neither is in the ANSI code page.
        version = "6.7 \u0e01\u0e02 \U0001F600 \u4e0d\u518d\u63d0\u9192"
        companion = self.start_companion()
        self.send_order(setup, version)
        self.assertEnds(companion)
        self.assertState(version=version, overflags="over", clearflags="false")
        # The same order again finds its verified download.
        companion = self.start_companion()
        self.send_order(setup, version, mode=1)
        self.assertCtl(self.ctl.command("install"))
        self.assertEnds(companion)
        self.assertEqual(len(self.downloads(setup)), 1)
        self.assertSetupRan(setup)


class ReadOnlyLeftover(HardeningCase):

    def test_a_read_only_old_setup_is_swept(self):
        setup = self.publish("DazuvuvevSetup_6.8.exe", "6.8")
        self.bed.write_ini({"version": "5.0", "overflags": "over", "clearflags": "false"})
        old = os.path.join(self.bed.upgrade_dir, "Old.exe")
        with open(old, "wb") as f:
            f.write(b"old")
        os.chmod(old, stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)  # Wine's read-only attribute
        companion = self.launch()
        self.send_order(setup, "6.8")
        self.assertEnds(companion)
        self.assertLogged("Clear Expire File( Old.exe ) Success!")
        self.assertState(version="6.8", overflags="over", clearflags="false")
        self.assertFolder(setup.name)


if __name__ == "__main__":
    kit.main()
