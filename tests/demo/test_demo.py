#!/usr/bin/env python3
"""The demonstration under Wine: its setup program on its own, and the whole
demo run as the README's command runs it, unattended."""

import os
import subprocess
import sys
import time

REPO = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(REPO, "tests", "scenario"))
sys.path.insert(0, os.path.join(REPO, "scripts", "demo"))
import kit  # noqa: E402
import demo  # noqa: E402

SETUP_TITLE = "^Dazuvuvev 安装程序$"


class DemoSetupProgram(kit.ScenarioCase):

    def start_setup(self, folder, *args, record=None, show_ms=1500):
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, "DazuvuvevSetup_9.exe")
        with open(self.bed.exe("DemoSetup.exe"), "rb") as src, open(path, "wb") as dst:
            dst.write(src.read())
        env = dict(self.env, DEMOSETUP_SHOW_MS=str(show_ms))
        if record is not None:
            env["DEMOSETUP_RECORD"] = self.bed.to_windows(record)
        return path, self.start_wine(path, *args, env=env)

    def test_records_its_start_shows_its_window_and_exits(self):
        record = os.path.join(self.scratch, "runs.txt")
        path, process = self.start_setup(os.path.join(self.scratch, "升级"), "/UPGRADESHELL", record=record)
        window = kit.xwin.wait_window(SETUP_TITLE, timeout=30)
        self.assertIsNotNone(window, "the setup's window did not appear")
        runs = demo.read_setup_runs(record)
        self.assertEqual(len(runs), 1, runs)
        pid, cmdline = runs[0]
        self.assertTrue(pid.isdigit() and int(pid) > 0, pid)
        self.assertTrue(cmdline.endswith("/UPGRADESHELL"), cmdline)
        self.assertIn("\\升级\\DazuvuvevSetup_9.exe", cmdline, "the Chinese folder name survives the record")
        started = time.monotonic()
        self.assertEqual(process.wait(30), 0)
        self.assertTrue(kit.xwin.wait_gone(SETUP_TITLE, timeout=5))
        self.assertLess(time.monotonic() - started, 20)

        # A second run appends; without DEMOSETUP_RECORD it writes beside itself.
        _, again = self.start_setup(os.path.join(self.scratch, "升级"), record=record, show_ms=500)
        self.assertEqual(again.wait(30), 0)
        self.assertEqual(["/UPGRADESHELL" in c for _, c in demo.read_setup_runs(record)], [True, False])
        beside_folder = os.path.join(self.scratch, "beside")
        _, alone = self.start_setup(beside_folder, "/UPGRADESHELL", show_ms=500)
        self.assertEqual(alone.wait(30), 0)
        self.assertEqual(len(demo.read_setup_runs(os.path.join(beside_folder, "demosetup-runs.txt"))), 1)

    def test_a_start_it_cannot_record_fails_without_a_window(self):
        record = os.path.join(self.scratch, "no such folder", "runs.txt")
        _, process = self.start_setup(os.path.join(self.scratch, "s"), "/UPGRADESHELL", record=record)
        self.assertEqual(process.wait(30), 3, "an unrecorded run must not look like a recorded one")
        self.assertEqual(kit.xwin.find_windows(SETUP_TITLE), [])


class DemoRun(kit.ScenarioCase):

    def test_the_unattended_demo_shows_the_whole_upgrade(self):
        out = os.path.join(self.scratch, "out")
        done = subprocess.run([sys.executable, os.path.join(REPO, "scripts", "demo", "demo.py"),
                               "--bin", self.bed.bin, "--out", out, "--seconds", "6", "--setup-ms", "1500"],
                              capture_output=True, timeout=240, env=self.env)
        text = done.stdout.decode("utf-8", "replace") + done.stderr.decode("utf-8", "replace")
        self.assertEqual(done.returncode, 0, text)
        for step in ("local server up", "stand-in client", "order sent", "prompt 版本更新 shown",
                     "prompt answered: the demo clicked 升级", "progress window 正在下载 shown", "download complete",
                     "MD5 verified", "setup started", "/UPGRADESHELL", "companion exited with code 0"):
            self.assertIn(step, text)
        shots = sorted(os.listdir(out))
        self.assertIn("01-prompt.png", shots)
        self.assertIn("03-setup.png", shots)
        progress = [name for name in shots if name.startswith("02-progress-") and name.endswith("pct.png")]
        self.assertGreaterEqual(len(progress), 2, shots)
        self.assertIn("upgrade-log.txt", shots)
        self.assertEqual(self.bed.read_ini()["overflags"], "over")
        self.assertCtl(self.ctl.wait_gone(5000), msg="the companion is gone after the demo")


if __name__ == "__main__":
    kit.main()
