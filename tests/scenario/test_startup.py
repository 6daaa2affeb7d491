#!/usr/bin/env python3
"""Start-up and lifetime of the real companion under Wine: which command
lines it accepts, the log it starts, the newest-instance rule, an orderly
end of its loop, and a start without skin files."""

import os
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kit  # noqa: E402

COMPANION = "DazuvuVevUpgrade.exe"


class Startup(kit.ScenarioCase):

    def setUp(self):
        super().setUp()
        # Also the host the network watch sees.
        self.start_server()


    def test_rejected_command_lines_exit_quietly_without_a_log(self):
        for arg in [None, "hello", "DazuvuVevNeedUpgrade", "DazuvuVevNeedUpgrade:one", "other:a:b"]:
            process = self.start_wine(self.bed.exe(COMPANION), *([arg] if arg else []), cwd=self.bed.bin)
            self.assertEqual(process.wait(30), 0, "exit code for %r" % arg)
            self.assertFalse(os.path.exists(self.bed.log_path), "a rejected line %r wrote a log" % arg)
            self.assertEqual(self.ctl.wait_window(timeout_ms=500).code, 1, "a window for %r" % arg)

    def test_accepted_line_logs_under_documents_and_quit_ends_the_loop(self):
        companion = self.start_companion()
        # The log's folder is made at start; its file with the first record.
        self.assertTrue(os.path.isdir(self.bed.log_dir), "no log folder at %s" % self.bed.log_dir)
        # The window exists a moment before it has prepared its folder.
        self.assertTrue(kit.wait_for(self.bed.ini_untouched, 10), "no new state file: %r" % self.bed.ini_bytes())
        self.assertCtl(self.ctl.run("quit"))
        self.assertEqual(companion.wait_exit(30), 0)
        records = self.bed.log_records()
        quit_records = [r for r in records if r[6] == "GetMessage QUIT!"]
        self.assertEqual(len(quit_records), 1, "records: %r" % [r[6] for r in records])
        _, level, _, source, function, line, _ = quit_records[0]
        self.assertEqual((level, source, function, line),
                         ("[INFO]", ".\\DazuvuVevUpgrade", "CDazuvuVevUpgradeApp::InitInstance", 167))

    def test_a_newer_start_ends_the_older_one_whatever_its_line(self):
        first = self.start_companion()
        started = time.monotonic()
        second = self.start_wine(self.bed.exe(COMPANION), cwd=self.bed.bin)
        self.assertEqual(first.wait_exit(30), 0)
        ended = time.monotonic() - started
        self.assertEqual(second.wait(30), 0)
        self.assertEqual(self.ctl.wait_gone(timeout_ms=5000).code, 0, "no instance may be left")
        # Wine needs most of that to start the second process; the watch
        # itself reacts within 10 ms.
        self.assertLess(ended, 15.0)
        self.assertNotIn("GetMessage QUIT!", self.bed.log_messages(), "the older one had no orderly end")

    def test_missing_skin_files_give_the_error_box_and_exit_zero(self):
        # A copy of the program without its UISkin folder.
        folder = os.path.join(self.scratch, "noskin")
        os.makedirs(folder)
        for name in (COMPANION, "NubraSdk.dll", "VEXUI32.dll"):
            shutil.copy(self.bed.exe(name), folder)
        process = self.start_wine(os.path.join(folder, COMPANION), "DazuvuVevNeedUpgrade:u:p", cwd=folder)
        box = kit.xwin.wait_window("^DazuvuVevUpgrade$", timeout=30)
        self.assertIsNotNone(box, "no error box")
        kit.xwin.screenshot(os.path.join(self.scratch, "skin-error.png"))
        self.assertIsNone(process.wait(1), "the process must wait for the box")
        kit.xwin.press(box, "Return")
        self.assertEqual(process.wait(30), 0)
        self.assertEqual(self.ctl.wait_window(timeout_ms=500).code, 1)
        reasons = [m for m in self.bed.log_messages() if m.startswith("OpenSkinW failed: ")]
        self.assertEqual(len(reasons), 1, "the log must say why the skin failed")
        self.assertIn("UISkin\\", reasons[0])


if __name__ == "__main__":
    kit.main()
