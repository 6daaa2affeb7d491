#!/usr/bin/env python3
"""The log alone explains a run: the start banner (version, command line
without the password, Windows, code page, proxy, watched host), every
decision and answer, how the transfer ended (HTTP status, network error,
bytes, time, speed) and why and how the upgrade ended. Every record is at
level INFO, so that the client's LogLevel 3 silences the log; failures carry
their severity as the first word of their text; the fixed records keep
their text."""

import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kit  # noqa: E402
from kit import flow  # noqa: E402

VERSION = "7.0"
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
with open(os.path.join(ROOT, "CMakeLists.txt")) as _f:
    # The release's one version; the banner must name it, not a stale copy.
    PRODUCT_VERSION = re.search(r"project\(\S+ VERSION (\S+)", _f.read()).group(1)
PASSWORD = "s3:cret"
ENDS = "upgrade ends: "
DOWNLOAD_FAILED_END = "the download failed; its partial file is kept for a resume, older setups were swept"
# A refused answer leaves nothing to resume, and the log must not claim otherwise.
NOTHING_RECEIVED_END = "the download failed; nothing of it was received, older setups were swept"
SEVERITY_WORDS = (("warning: ", "[WARN]"), ("error: ", "[ERROR]"))


def severity(level, message):
    """(severity, message without its severity word) of a record."""
    for word, name in SEVERITY_WORDS:
        if message.startswith(word):
            return name, message[len(word):]
    return level, message


class ExplainingLog(flow.FlowCase):

    def records(self):
        """(severity, message) of every record; each one's level is INFO."""
        records = self.bed.log_records()
        self.assertEqual({r[1] for r in records}, {"[INFO]"}, [r[6] for r in records])
        return [severity(r[1], r[6]) for r in records]

    def record(self, pattern):
        """(severity, message) of the one record whose message, without its
        severity word, matches the regular expression `pattern` as a whole."""
        records = self.records()
        found = [r for r in records if re.fullmatch(pattern, r[1])]
        self.assertEqual(len(found), 1, "%r in log: %r" % (pattern, [m for _, m in records]))
        return found[0]

    def assertRecord(self, pattern, level):
        found_level, message = self.record(pattern)
        self.assertEqual(found_level, level, message)
        return message

    def assertEnded(self, result, reason, level):
        """The result and its reason come right before the fixed quit record,
        which keeps its own text; the state file holds the result."""
        records = self.records()
        quits = [i for i, r in enumerate(records) if r[1] == flow.QUIT]
        self.assertEqual(len(quits), 1, "log: %r" % records)
        self.assertEqual(records[quits[0]], ("[INFO]", flow.QUIT))
        self.assertEqual(records[quits[0] - 1], (level, ENDS + result + ": " + reason))
        self.assertEqual(self.bed.read_ini().get("result"), result)
        self.assertRegex(self.bed.read_ini().get("resulttime", ""), r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d$")

    def test_banner_and_refused_orders(self):
        setup = self.publish("DazuvuvevSetup_7.0.exe", VERSION)
        for url, version, check, reason in [
                ("no-address-here", VERSION, flow.URL_REFUSED + "no-address-here",
                 "order refused, no setup file can be taken from its address"),
                (setup.url, VERSION + "\t", "order check failure, control character in szVersion",
                 "order refused, a field holds a control character")]:
            with self.subTest(check=check):
                self.bed.reset()
                companion = self.start_companion(arg="DazuvuVevNeedUpgrade:alice:" + PASSWORD)
                self.send_order(setup, version, url=url)
                self.assertEnds(companion)
                banner = self.records()[0]
                self.assertRegex(banner[1], r"^DazuvuVevUpgrade %s started, command line: "
                                            r".*DazuvuVevNeedUpgrade:alice:\*\*\*, Windows \d+\.\d+\.\d+, "
                                            r"ANSI code page \d+$" % re.escape(PRODUCT_VERSION))
                # The password may hold colons; the user name may not.
                self.assertNotIn("cret", self.bed.log_text())
                self.assertRecord("no proxy in use", "[INFO]")
                self.assertRecord(r"net track server: .* \(overridden by NUBRA_TRACK_SERVER=127\.0\.0\.1:%d\)"
                                  % self.watch.port, "[INFO]")
                level, _ = self.record(re.escape(check))
                # The address check's text is the client's; the new ones warn.
                self.assertEqual(level, "[INFO]" if check.startswith(flow.URL_REFUSED) else "[WARN]")
                self.assertEnded("refused", reason, "[WARN]")
                self.assertNotLogged("order accepted")

    def test_outside_text_cannot_forge_records(self):
        forged = "\r\n2026-01-01 00:00:00.000 [INFO]\tThread[1]\t.\\UpgradeDlgHandoff\tCUpgradeDlgDUI::RunSetup: 1 :" \
                 "\r\nsetup started: C:\\evil.exe /UPGRADESHELL\r\n\r\n\x1b[2J\x07"
        setup = self.publish("DazuvuvevSetup_7.0.exe", VERSION)
        companion = self.start_companion(arg="DazuvuVevNeedUpgrade:ali" + forged + "ce:" + PASSWORD)
        self.send_order(setup, VERSION, url="no-address-here" + forged)
        self.assertEnds(companion)
        messages = [m for _, m in self.records()]
        self.assertFalse([m for m in messages if m.startswith("setup started")], messages)
        # The user name runs to the next colon; the rest is masked as the password.
        self.assertIn("ali\\r\\n2026-01-01 00:***", messages[0])
        self.assertNotRegex(self.bed.log_text(), "[\x07\x1b]")

    def test_watched_download_hidden_by_the_user_then_a_forged_order(self):
        setup = self.publish("DazuvuvevSetup_7.0.exe", VERSION, pad=600000)
        self.fail_download(setup, "net", stall_after=300000)
        companion = self.launch()
        order = self.order_later(setup, VERSION, type="9434")
        self.wait_box(flow.UPDATE_CAPTION).click("OKBtn")
        self.assertCtl(order.result())
        self.wait_upgrade_window().click("CloseBtn")
        self.assertTrue(kit.xwin.wait_gone("^%s$" % flow.WINDOW_TITLE, timeout=10), "the window stayed")
        self.wait_logged(lambda m: m.startswith("Receive WM_MSG_DOWNLOAD, t->iState=1,"))
        # An order whose address would end the record and start one of its own.
        self.send_order(setup, VERSION, url=setup.url + "\r\n2026-01-01 00:00:00.000 [INFO] forged")
        self.lose_network()
        self.assertEnds(companion)

        self.assertRecord(r"upgrade prompt shown \(upgrade button only\)", "[INFO]")
        self.assertRecord(r"upgrade prompt answered: upgrade \(1\)", "[INFO]")
        self.assertRecord("window shown by the user's answer to the upgrade prompt", "[INFO]")
        self.assertRecord(r"window hidden by the user \(its close button\), the download goes on", "[INFO]")
        self.assertRecord("order refused while a download runs, control character in szURL", "[WARN]")
        self.assertFalse([m for m in self.messages() if "forged" in m], self.messages())
        # Hidden by the user: the loss ends the upgrade without a notice.
        self.assertNotLogged("network-lost notice shown")
        self.assertEnded("network-lost", "the network was lost; the partial download is kept for a resume", "[ERROR]")

    def run_failure(self, kind):
        self.bed.reset()
        self.server.reset()
        md5 = self.fail_download(self.setup, kind, stall_after=300000)
        companion = self.launch()
        self.send_order(self.setup, VERSION, md5=md5)
        if kind == "net":
            self.lose_network_mid_download()
        self.assertEnds(companion, timeout=60)
        self.client.stop()
        self.assertRecord(r"order accepted: mode 0, type , version 7\.0, size %d, MD5 %s, URL %s"
                          % (self.setup.size, md5, re.escape(self.setup.url)), "[INFO]")

    def test_each_failure_says_how_the_transfer_and_the_upgrade_ended(self):
        self.setup = self.publish("DazuvuvevSetup_7.0.exe", VERSION, pad=600000)
        failed = r"transfer failed on the server or the connection: HTTP status %s(?:, network error [1-9]\d*)?, " \
                 r"(\d+) bytes received \(0 already on disk\), \d+\.\d{3} s, mean speed \d+\.\d KB/s"
        with self.subTest(kind="404"):
            self.run_failure("404")
            message = self.assertRecord(failed % "404", "[ERROR]")
            self.assertEqual(re.fullmatch(failed % "404", message).group(1), "0")
            self.assertEnded("download-failed", NOTHING_RECEIVED_END, "[ERROR]")
        with self.subTest(kind="drop"):
            self.run_failure("drop")
            message = self.assertRecord(failed % "200", "[ERROR]")
            received = int(re.fullmatch(failed % "200", message).group(1))
            self.assertTrue(0 < received < self.setup.size, message)
            self.assertEnded("download-failed", DOWNLOAD_FAILED_END, "[ERROR]")
        with self.subTest(kind="md5"):
            self.run_failure("md5")
            self.assertRecord(r"transfer finished: HTTP status 200, %d bytes received "
                              r"\(0 already on disk\), \d+\.\d{3} s, mean speed \d+\.\d KB/s" % self.setup.size,
                              "[INFO]")
            self.assertRecord("the downloaded setup's digest %s does not match the order's digest %s"
                              % (self.setup.md5, "0" * 32), "[ERROR]")
            self.assertEnded("digest-mismatch", "the downloaded setup failed its check and was swept", "[ERROR]")
        with self.subTest(kind="net"):
            self.run_failure("net")
            self.assertRecord("net cutdown", "[INFO]")
            self.assertEnded("network-lost", "the network was lost; the partial download is kept for a resume",
                             "[ERROR]")

    def test_ready_setup_prompt_answer_client_and_setup_start(self):
        for with_client in (True, False):
            with self.subTest(client=with_client):
                self.bed.reset()
                setup = self.publish("DazuvuvevSetup_9.0.exe", "9.0")
                self.place_setup(setup)
                self.bed.write_ini({"version": "9.0", "path": self.upgrade_path(setup.name), "overflags": "over",
                                    "clearflags": "false"})
                companion = self.launch(client=with_client)
                order = self.order_later(setup, "9.0")
                self.wait_box(flow.UPDATE_CAPTION, two_buttons=True).click("OKBtn")
                self.assertCtl(order.result())
                self.assertEnds(companion)
                self.assertSetupRan(setup)
                self.assertRecord(r"upgrade prompt shown \(upgrade, cancel and no-reminder choices\)", "[INFO]")
                self.assertRecord(r"upgrade prompt answered: upgrade \(1\)", "[INFO]")
                if with_client:
                    self.assertRecord(r"client Dazuvuvev\.exe \(process \d+\) closed", "[INFO]")
                    self.client.stop()
                else:
                    self.assertRecord(r"client Dazuvuvev\.exe not found running", "[INFO]")
                self.assertRecord(re.escape("setup started: %s %s" % (self.upgrade_path(setup.name),
                                                                      flow.SETUP_SWITCH)), "[INFO]")
                self.assertEnded("setup-started", "the setup of this version was found ready",
                                 "[INFO]")
                os.remove(self.setup_record)  # the next run's start is counted alone


if __name__ == "__main__":
    kit.main()
