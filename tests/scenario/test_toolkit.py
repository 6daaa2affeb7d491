#!/usr/bin/env python3
"""The scenario kit's own pieces without the companion: the console tool
against a recording window, the stand-in client, the state and log readers,
the stand-in setup program and the display helpers."""

import hashlib
import os
import struct
import sys
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kit  # noqa: E402

ORDER_SIZE = 3642
FIELDS = ("szFileName", "szReserved", "szVersion", "szURL", "szSize", "szMD5", "szUpgradeType")


def parse_order(data):
    """The order record read the way the companion reads it."""
    order = {}
    for i, name in enumerate(FIELDS):
        raw = data[i * 520:(i + 1) * 520]
        text = raw.decode("utf-16-le")
        order[name] = text.split("\0", 1)[0]
        order[name + "_terminated"] = "\0" in text
    order["bReserved"], order["padding"] = struct.unpack_from("<BB", data, 3640)
    return order



class ToolkitScenario(kit.ScenarioCase):

    def start_fake_window(self):
        record = os.path.join(self.scratch, "window.txt")
        process = self.start_wine(self.bed.exe("FakeUpgradeWindow.exe"), self.bed.to_windows(record), "60000")
        self.assertCtl(self.ctl.wait_window(20000), msg="the recording window did not appear")
        return process, record

    def window_lines(self, record):
        if not os.path.exists(record):
            return []
        with open(record, encoding="utf-8") as f:
            return [line.strip() for line in f if line.strip() and line.strip() != "ready"]

    def test_exit_codes_without_a_companion(self):
        self.assertIn("Exit codes", self.assertCtl(self.ctl.run("--help")).out)
        self.assertIn("--cbdata", self.assertCtl(self.ctl.run("order", "--help")).out)
        bare = self.assertCtl(self.ctl.run(), 2, "no arguments is a usage error")
        self.assertIn("Exit codes", bare.err)
        self.assertEqual(bare.out, "")
        self.assertIn("unknown command", self.assertCtl(self.ctl.run("upgrade"), 2).err)
        self.assertIn("--url", self.assertCtl(self.ctl.run("order", "--version", "1", "--size", "1"), 2).err)

        missing = self.ctl.order("http://127.0.0.1/s.exe", "1", file=os.path.join(self.scratch, "none.exe"))
        self.assertCtl(missing, 3, "a setup file that cannot be read")
        self.assertIn("none.exe", missing.err)

        nowhere = self.ctl.order("http://127.0.0.1/s.exe", "1", size=1, md5="0" * 32)
        self.assertCtl(nowhere, 1, "no companion window")
        self.assertIn('(class "#COMM_IN_UPGRADE") was not found', nowhere.err)
        self.assertCtl(self.ctl.command("hold", wait_ms=300), 1)
        self.assertCtl(self.ctl.wait_window(300), 1)
        self.assertCtl(self.ctl.wait_gone(300), 0)

    def test_orders_and_commands_arrive_byte_for_byte(self):
        window, record = self.start_fake_window()
        setup = os.path.join(self.scratch, "DazuvuvevSetup_3.2.exe")
        size, md5 = kit.make_setup(self.bed, setup, b"version 3.2")

        url = "http://127.0.0.1:8080/download/DazuvuvevSetup_3.2.exe"
        sent = self.assertCtl(self.ctl.order(url, "3.2.0.1", file=setup, type="9434"))
        self.assertIn("result=1", sent.out)
        sent = self.assertCtl(self.ctl.order(url, "版本3", size=12, md5="aB" * 16, mode=1, name="名字.exe"))
        self.assertCtl(self.ctl.order(url, "3", size=1, md5="0" * 32, cbdata=100, tag=238, raw_mode=2))
        self.assertCtl(self.ctl.order("u" * 260, "3", size=1, md5="0" * 32, unterminated=True))
        self.assertCtl(self.ctl.order("u" * 260, "3", size=1, md5="0" * 32), 2, "a value without room for its end")

        lines = kit.wait_for(lambda: len(self.window_lines(record)) >= 4 and self.window_lines(record))
        self.assertEqual(lines[:4], ["copydata dwData=15663104 cbData=3642", "copydata dwData=15663105 cbData=3642",
                                     "copydata dwData=15597570 cbData=100", "copydata dwData=15663104 cbData=3642"])
        payloads = []
        for n in range(1, 5):
            with open("%s.%d.bin" % (record, n), "rb") as f:
                payloads.append(f.read())

        first = parse_order(payloads[0])
        self.assertEqual(first["szFileName"], "DazuvuvevSetup_3.2.exe")
        self.assertEqual(first["szReserved"], "")
        self.assertEqual(first["szVersion"], "3.2.0.1")
        self.assertEqual(first["szURL"], url)
        self.assertEqual(first["szSize"], str(size))
        self.assertEqual(first["szMD5"], md5, "the MD5 of --file is lower-case hex")
        self.assertEqual(first["szUpgradeType"], "9434")
        self.assertEqual((first["bReserved"], first["padding"]), (0, 0))

        second = parse_order(payloads[1])
        self.assertEqual((second["szVersion"], second["szFileName"], second["szSize"], second["szMD5"]),
                         ("版本3", "名字.exe", "12", "ab" * 16), "an upper-case MD5 arrives lowered")
        self.assertEqual(payloads[2], payloads[2][:100])
        self.assertEqual(len(payloads[2]), 100)
        fourth = parse_order(payloads[3])
        self.assertEqual(fourth["szURL"], "u" * 260)
        self.assertFalse(fourth["szURL_terminated"])
        self.assertEqual(fourth["szVersion"], "3", "the next field is intact")

        self.assertIn("result=1101", self.assertCtl(self.ctl.command("hold")).out)
        self.assertIn("posted", self.assertCtl(self.ctl.command("prompt")).out)
        self.assertIn("result=1102", self.assertCtl(self.ctl.command("install")).out)
        self.assertCtl(self.ctl.command("release", post=True, tag=7))
        busy = self.ctl.command("cmd", code=999, timeout_ms=500)
        self.assertCtl(busy, 1, "a handler that does not answer in time")
        self.assertIn("did not answer within 500 ms", busy.err)
        patient = self.ctl.command("cmd", code=999, background=True)
        self.assertEqual(patient.wait(30), 0, patient.lines)
        self.assertIn("command 999 sent: result=1999", patient.lines)
        commands = kit.wait_for(lambda: len(self.window_lines(record)) >= 10 and self.window_lines(record)[4:])
        self.assertEqual(commands, ["cmd wParam=101 lParam=239", "cmd wParam=100 lParam=239",
                                    "cmd wParam=102 lParam=239", "cmd wParam=103 lParam=7",
                                    "cmd wParam=999 lParam=239", "cmd wParam=999 lParam=239"])

        self.assertCtl(self.ctl.command("cmd", code=998, post=True))
        self.assertCtl(self.ctl.wait_gone(10000), msg="the window closed on command 998")
        self.assertEqual(window.wait(20), 0)

    def test_client_holds_the_running_flag(self):
        client = self.start_client()
        second = self.ctl.run("client", "--exit-after-ms", "0")
        self.assertCtl(second)
        self.assertIn("it already existed", second.out, "the first client holds the mutex")
        self.assertEqual(client.stop(), 0)
        self.assertTrue(any("released" in line for line in client.process.lines))

        alone = self.assertCtl(self.ctl.run("client", "--exit-after-ms", "200"))
        self.assertNotIn("already existed", alone.out, "the mutex went with the client")
        self.assertIn("time is up", alone.out)

    def test_state_and_log_of_a_prepared_prefix(self):
        self.assertIn("no state file", self.assertCtl(self.ctl.state(), 3).err)
        values = {"version": "3.2.0测试", "path": "C:\\升级\\setup.exe", "overflags": "over",
                  "clearflags": "false", "version_no_tips": "3.1", "result": "hidden",
                  "resulttime": "2026-01-02T03:04:05", "resultpid": "4242"}
        self.bed.write_ini(values)
        self.assertEqual(self.bed.read_ini(), values)
        printed = self.assertCtl(self.ctl.state()).out.splitlines()
        self.assertEqual(printed[1:], ["[UPGRADE]"] + ["%s=%s" % kv for kv in values.items()])

        self.assertIn("Upgrade.log", self.assertCtl(self.ctl.log(), 3).err)
        records = [("CUpgradeDlgDUI::OnCopyData", "URL check failure,URL= ftp:/x"),
                   ("MsgBoxCal::ShowMsgBox", "有新版本咯，赶紧去升级体验最新功能吧！")]
        self.bed.write_log(records)
        self.assertEqual(self.bed.log_messages(), [m for _, m in records])
        text = self.assertCtl(self.ctl.log()).out
        self.assertIn("CUpgradeDlgDUI::OnCopyData: 1 :\nURL check failure,URL= ftp:/x\n", text)
        self.assertIn("MsgBoxCal::ShowMsgBox: 2 :\n有新版本咯，赶紧去升级体验最新功能吧！\n", text)
        self.assertNotIn("\0", text)

        self.bed.reset()
        self.assertIsNone(self.bed.read_ini())
        self.assertEqual(self.bed.log_text(), "")
        self.assertEqual(self.bed.upgrade_files(), [])

    def test_fake_setup_is_served_and_records_its_runs(self):
        server = self.start_server()
        size, md5 = kit.make_setup(self.bed, os.path.join(server.root, "setup.exe"), b"served")
        with urllib.request.urlopen(server.url("setup.exe"), timeout=30) as response:
            data = response.read()
        self.assertEqual((len(data), hashlib.md5(data).hexdigest()), (size, md5))

        folder = os.path.join(self.scratch, "升级")
        os.makedirs(folder)
        setup = os.path.join(folder, "setup.exe")
        with open(setup, "wb") as f:
            f.write(data)
        run = self.start_wine(setup, "/UPGRADESHELL")
        self.assertEqual(run.wait(60), 0)
        runs = self.setup_runs()
        self.assertEqual(len(runs), 1)
        self.assertTrue(runs[0]["path"].endswith("\\升级\\setup.exe"), runs[0]["path"])
        self.assertTrue(runs[0]["cmdline"].endswith("/UPGRADESHELL"), runs[0]["cmdline"])
        self.assertGreater(runs[0]["pid"], 0)

        env = dict(self.env)
        del env["FAKESETUP_RECORD"]
        self.assertEqual(self.start_wine(setup, env=env).wait(60), 0)
        beside = kit.read_setup_runs(os.path.join(folder, "fakesetup-runs.txt"))
        self.assertEqual(len(beside), 1, "without FAKESETUP_RECORD the record lies beside the program")
        self.assertEqual(len(self.setup_runs()), 1)

    def test_companion_runs_under_the_kit(self):
        """The kit's handle on the real companion: started from its folder,
        found by its window, its exit code and log read back."""
        self.start_server()
        companion = self.start_companion()
        self.assertTrue(companion.running())
        sent = self.ctl.order("http://127.0.0.1/s.exe", "1", size=1, md5="0" * 32, cbdata=3641)
        self.assertCtl(sent, msg="an order of the wrong size is still answered")
        self.assertEqual(companion.wait_exit(30), 0)
        self.assertCtl(self.ctl.wait_gone(5000))
        messages = self.bed.log_messages()
        self.assertTrue(any(m.startswith("COPYDATASTRUCT ERROR! Address of m_stComm:") for m in messages), messages)
        self.assertEqual(self.setup_runs(), [])

    def test_display_helpers(self):
        self.assertEqual(kit.xwin.find_windows("no such window title 1b2c"), [])
        shot = kit.xwin.screenshot(os.path.join(self.scratch, "screen.png"))
        with open(shot, "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")


if __name__ == "__main__":
    kit.main()
