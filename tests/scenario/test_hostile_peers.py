#!/usr/bin/env python3
"""Another program of the session against a companion whose verified setup
waits for the client's word: a DPI change posted and sent with a pointer
that points nowhere, creation and destruction messages posted or sent from
outside, two install commands at once, the upgrade folder renamed away with
an impostor planted at its old place (also in the moment the client dies),
an upgrade folder that a link sends elsewhere, links at the state file and
the log, a forged instance slot, and a decoy window of the companion's
class. Each ends in the specified behaviour, nothing crashes, nothing but
the verified setup starts, and it starts at most once. Around a download:
links at the partial file and its note, thumbprint pins that cannot be
read, a forged final record, and an inherited environment that sets every
limit to 1."""

import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kit  # noqa: E402
from kit import flow  # noqa: E402

WM_DESTROY = 0x0002
WM_NCDESTROY = 0x0082
WM_INITDIALOG = 0x0110
WM_DPICHANGED = 0x02E0
WM_MSG_UPGRADE_CMD = 1280
UPGRADE_CMD_INSTALL = 102
TAG = 239


class HostilePeers(flow.FlowCase):

    def ready(self, version):
        """A verified setup of version held for the client's command (mode 1)."""
        setup = self.publish("DazuvuvevSetup_%s.exe" % version, version)
        self.place_setup(setup)
        self.bed.write_ini({"version": version, "path": self.upgrade_path(setup.name), "overflags": "over",
                            "clearflags": "false"})
        companion = self.launch()
        self.send_order(setup, version, mode=1)
        self.wait_logged("localMD5:%s, remoteMD5:%s" % (setup.md5, setup.md5))
        return companion, setup

    def test_dpi_and_lifecycle_messages_from_outside_change_nothing(self):
        companion, setup = self.ready("17.0")
        for how in ("post", "send"):
            self.message(how, WM_DPICHANGED, 0x00C000C0, 16)  # 192 dpi, and a "rectangle" at address 16
        self.message("post", WM_INITDIALOG, 0, 0, count=300)
        for how in ("post", "send"):
            self.message(how, WM_DESTROY, 0, 0)
            self.message(how, WM_NCDESTROY, 0, 0)
        self.message("send", 0)  # everything posted before has been handled
        self.assertTrue(companion.running(), "the companion ended; log: %r" % self.messages()[-10:])
        self.assertEqual(len([m for m in self.messages() if m.startswith("net track server: ")]), 1,
                         "initialised again")
        # Still hearing the client: its command installs the setup.
        self.assertCtl(self.ctl.command("install"))
        self.assertEnds(companion)
        self.assertSetupRan(setup)
        self.assertState(result="setup-started")

    def test_two_install_commands_start_the_setup_once(self):
        companion, setup = self.ready("17.1")
        self.message("post", WM_MSG_UPGRADE_CMD, UPGRADE_CMD_INSTALL, TAG, count=2)
        self.assertEnds(companion)
        self.assertSetupRan(setup)
        self.assertEqual(len([m for m in self.messages() if m.startswith("setup started: ")]), 1, self.messages())
        self.assertLogged("setup already started in this run, not started again: " + self.upgrade_path(setup.name))

    def test_a_folder_renamed_after_the_check_starts_nothing_else(self):
        companion, setup = self.ready("17.2")
        impostor_dir = os.path.join(self.scratch, "impostor")
        os.makedirs(impostor_dir)
        impostor = os.path.join(impostor_dir, setup.name)
        kit.make_setup(self.bed, impostor, b"impostor")
        swapped = self.bed.upgrade_dir + ".swapped"
        self.addCleanup(shutil.rmtree, swapped, True)
        result = self.peer("swap-folder", self.bed.to_windows(self.bed.upgrade_dir), self.bed.to_windows(impostor))
        self.assertEqual(result.code, 0, result.out + result.err)
        self.assertCtl(self.ctl.command("install"))
        self.assertEnds(companion)
        if result.out.startswith("refused"):
            # Windows keeps a held folder in its place: the verified setup runs.
            self.assertSetupRan(setup)
        else:
            # Wine lets it go: the file at the old path is not the verified one.
            self.assertNoSetupRan()
            self.assertState(result="digest-mismatch")
            self.assertLogged("setup file( %s ) no longer verified, not started" % self.upgrade_path(setup.name))
            self.assertTrue(os.path.exists(os.path.join(swapped, setup.name)), "the moved setup was touched")

    def test_an_upgrade_folder_that_leads_elsewhere_is_refused(self):
        elsewhere = os.path.join(self.scratch, "elsewhere")
        os.makedirs(elsewhere)
        kept = os.path.join(elsewhere, "Kept.exe")
        with open(kept, "wb") as f:
            f.write(b"not the companion's")
        os.makedirs(os.path.dirname(self.bed.upgrade_dir), exist_ok=True)
        shutil.rmtree(self.bed.upgrade_dir, ignore_errors=True)
        os.symlink(elsewhere, self.bed.upgrade_dir)
        self.addCleanup(lambda: os.path.islink(self.bed.upgrade_dir) and os.remove(self.bed.upgrade_dir))
        companion = self.start_companion(wait_window=False)
        self.assertEqual(companion.wait_exit(30), 0)
        found = [m for m in self.messages() if m.startswith("upgrade folder( ") and "leads elsewhere" in m]
        self.assertEqual(len(found), 1, self.messages())
        self.assertEqual(sorted(os.listdir(elsewhere)), ["Kept.exe"], "written or swept through the link")

    def test_a_folder_swapped_when_the_client_dies_starts_nothing_else(self):
        setup = self.publish("DazuvuvevSetup_17.3.exe", "17.3")
        self.place_setup(setup)
        self.bed.write_ini({"version": "17.3", "overflags": "over", "clearflags": "false"})
        companion = self.launch()
        client_pid = self.client.process.wait_line(lambda l: l.startswith("client: holding")).rsplit(" ", 1)[1]
        impostor = os.path.join(self.scratch, setup.name)
        shutil.copyfile(self.bed.exe(flow.PEER_EXE), impostor)
        self.addCleanup(shutil.rmtree, self.bed.upgrade_dir + ".swapped", True)
        self.start_wine(self.bed.exe(flow.PEER_EXE), "swap-when-gone", client_pid,
                        self.bed.to_windows(self.bed.upgrade_dir), self.bed.to_windows(impostor))
        order = self.order_later(setup, "17.3", type="9434")
        self.wait_box(flow.UPDATE_CAPTION).click("OKBtn")
        self.assertCtl(order.result())
        self.assertEnds(companion)
        runs = self.wait_setup_runs(1, timeout=5)
        self.assertFalse([r for r in runs if "impostor" in r], "the planted program ran: %r" % runs)
        if not runs:  # the folder went before the start: refused, and said so
            self.assertTrue([m for m in self.messages() if m.startswith("setup refused: ")], self.messages())
            self.assertTrue([m for m in self.messages() if m.startswith("upgrade ends: refused: ")], self.messages())
            # The swap renames the folder away before it makes the new one: a
            # result written in between has no folder to go to.
            state = self.bed.read_ini()
            if state is not None:
                self.assertEqual(state["result"], "refused", state)

    def test_a_forged_instance_slot_is_ignored(self):
        companion, setup = self.ready("17.4")
        client_pid = int(self.client.process.wait_line(lambda l: l.startswith("client: holding")).rsplit(" ", 1)[1])
        # No such process, then a live one of this session that runs another program.
        result = self.peer("forge-slot", self.bed.to_windows(self.bed.exe("DazuvuVevUpgrade.exe")), 0x7FFFFFF0,
                           client_pid)
        self.assertEqual(result.code, 0, result.out + result.err)
        self.assertTrue(companion.running(), "ended by a forged id; log: %r" % self.messages()[-5:])
        for pid in (0x7FFFFFF0, client_pid):
            self.assertEqual(len([m for m in self.messages() if m.startswith(
                "instance slot names process %d, ignored: " % pid)]), 1, self.messages())
        self.assertCtl(self.ctl.command("install"))
        self.assertEnds(companion)
        self.assertSetupRan(setup)

    def test_links_at_the_state_file_and_the_log_change_nothing_elsewhere(self):
        elsewhere = os.path.join(self.scratch, "elsewhere")
        os.makedirs(os.path.join(elsewhere, "logs"))
        os.makedirs(self.bed.upgrade_dir)
        os.makedirs(os.path.dirname(self.bed.log_dir), exist_ok=True)
        victims = [os.path.join(elsewhere, name) for name in ("a.ini", "b.ini", "c.log")]
        for path in victims:
            with open(path, "wb") as f:
                f.write(b"[UPGRADE]\r\nkept=1\r\n")
        log_folder = os.path.dirname(self.bed.log_dir)  # Documents\DazuvuVev\log
        shutil.rmtree(log_folder, ignore_errors=True)
        self.addCleanup(lambda: os.path.islink(log_folder) and os.remove(log_folder))
        rounds = [(os.symlink, os.path.join(elsewhere, "logs"), log_folder), (os.symlink, victims[0], self.bed.ini_path),
                  (os.link, victims[1], self.bed.ini_path), (os.link, victims[2], self.bed.log_path)]
        for make_link, target, place in rounds:
            for path in (self.bed.ini_path, self.bed.log_path, log_folder):
                if os.path.islink(path) or os.path.isfile(path):
                    os.remove(path)
            os.makedirs(os.path.dirname(place), exist_ok=True)
            make_link(target, place)
            companion = self.start_companion()
            self.start_companion(wait_window=False, arg="")  # a newer bare start ends it
            self.assertEqual(companion.wait_exit(30), 0)
            self.assertFalse(os.path.islink(self.bed.ini_path) or os.stat(self.bed.ini_path).st_nlink > 1)
            self.assertState(result="superseded")
            if place == self.bed.ini_path:
                self.assertTrue([m for m in self.messages() if m.startswith("state file( ") and " refused, " in m])
        for path in victims:
            with open(path, "rb") as f:
                self.assertEqual(f.read(), b"[UPGRADE]\r\nkept=1\r\n", path)
        self.assertEqual(os.listdir(os.path.join(elsewhere, "logs")), [])

    def test_a_network_loss_reaches_this_runs_window_past_a_decoy(self):
        companion = self.launch(client=False)
        decoy = self.start_wine(self.bed.exe(flow.PEER_EXE), "decoy-window", "90")
        self.assertIsNotNone(decoy.wait_line(lambda l: l == "decoy up"))
        self.lose_network()
        self.assertEqual(companion.wait_exit(60), 0, self.messages())
        self.assertState(result="network-lost")

    def assertDownloaded(self, setup, version, meanwhile=lambda: None):
        """A normal download of setup, verified in this run, whatever meanwhile does."""
        companion = self.launch()
        self.send_order(setup, version)
        meanwhile()
        self.assertEnds(companion)
        self.assertState(version=version, overflags="over")
        self.assertLogged("localMD5:%s, remoteMD5:%s" % (setup.md5, setup.md5))
        self.client.stop()

    def test_links_at_the_partial_download_change_nothing_elsewhere(self):
        setup = self.publish("DazuvuvevSetup_18.0.exe", "18.0", pad=300000)
        st = os.stat(setup.path)
        # A note that vouches for the bytes behind the link, as a resume would read it.
        note = b'url=%s\nvalidator="%x-%x"\nsize=%d\n' % (setup.url.encode(), st.st_mtime_ns, setup.size, setup.size)
        part = os.path.join(self.bed.upgrade_dir, setup.name + ".part")
        for n, links in enumerate(((os.link, os.symlink), (os.symlink, os.link))):
            victims = {os.path.join(self.scratch, "victim%d.part" % n): b"outside " * 15,
                       os.path.join(self.scratch, "victim%d.meta" % n): note + b"kept=%d\n" % n}
            os.makedirs(self.bed.upgrade_dir, exist_ok=True)
            for (victim, content), make_link, place in zip(victims.items(), links, (part, part + ".meta")):
                with open(victim, "wb") as f:
                    f.write(content)
                make_link(victim, place)
            self.assertDownloaded(setup, "18.0")
            for victim, content in victims.items():
                with open(victim, "rb") as f:
                    self.assertEqual(f.read(), content, victim)
            self.bed.reset()

    def test_thumbprint_pins_that_cannot_be_read_refuse_an_unsigned_setup(self):
        config = os.path.join(self.bed.bin, "config.ini")
        self.addCleanup(lambda: os.path.exists(config) and os.remove(config))
        sha1 = "0123456789ABCDEF0123456789abcdef01234567"
        # The piece that cannot be read; None: a SHA-256, or two SHA-1, pin as written.
        cases = ((sha1[:39], sha1[:39]), (sha1 + ", 0x%szz" % sha1[:38], "0x%szz" % sha1[:38]),
                 (sha1 + " " + sha1[:20], sha1 + " " + sha1[:20]), (sha1 + " " + sha1[::-1], None),
                 (sha1 + sha1[:24], None))
        for n, (value, piece) in enumerate(cases):
            with open(config, "w", encoding="utf-8") as f:
                f.write("[APP]\r\nSetupPublisherThumbprints=%s\r\n" % value)
            setup = self.publish("DazuvuvevSetup_18.%d.exe" % (n + 1), "18.%d" % (n + 1))
            self.bed.reset()
            companion = self.launch()
            self.assertCtl(self.ctl.command("hold"))
            self.send_order(setup, "18.%d" % (n + 1))
            self.assertEnds(companion)
            self.assertNoSetupRan(0)
            # An unreadable piece is named, and the file kept.
            self.assertTrue([m for m in self.messages() if (piece or "setup refused, ") in m], self.messages())
            self.assertEqual(piece is not None, setup.name in self.bed.upgrade_files())
            self.client.stop()

    def test_a_forged_final_record_does_not_end_a_slow_download(self):
        setup = self.publish("DazuvuvevSetup_18.9.exe", "18.9", pad=900000)
        self.server.add_fault("/" + setup.name, "rate=200000")

        def forge():
            self.wait_logged(lambda m: m.startswith("Receive WM_MSG_DOWNLOAD, t->iState=1,"))
            self.assertEqual(self.peer("forge-record", 2, 0, 0, 0).code, 0)
        self.assertDownloaded(setup, "18.9", forge)
        self.assertLogged("Receive WM_MSG_DOWNLOAD, t->iState=2, t->unFileSize=0, t->unPosition=0 ", 1)

    def test_every_limit_at_1_still_lets_a_download_through(self):
        for name in ("CONNECT_TIMEOUT_MS", "RECEIVE_TIMEOUT_MS", "FLOOR_PERIOD_MS", "RETRY_LIMIT", "RETRY_PAUSE_MS",
                     "SIZE_CAP_BYTES", "TRANSFER_DEADLINE_MS"):
            self.env["NUBRA_" + name] = "1"
        self.env["DAZUVUVEV_RECORD_SILENCE_MS"] = "1"
        setup = self.publish("DazuvuvevSetup_19.0.exe", "19.0", pad=900000)
        self.server.add_fault("/" + setup.name, "rate=200000")
        self.assertDownloaded(setup, "19.0")

if __name__ == "__main__":
    kit.main()
