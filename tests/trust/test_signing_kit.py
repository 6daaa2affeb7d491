#!/usr/bin/env python3
"""The signing kit (tests/scenario/kit/signing.py) as the companion's trust
scenarios will use it: a stand-in setup signed by a throwaway publisher is
valid to osslsigncode and to the system's verifier in the test bed, one
changed byte or no signature at all is caught with the verifier's own
codes, the changed file still runs, another publisher and an expired
certificate are told apart, a time stamp from the local server verifies,
and the throwaway root is trusted only while the test runs."""

import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "scenario"))
import kit  # noqa: E402
from kit import signing  # noqa: E402

VENDOR = ("Talvex", "Talvex")
OTHER = ("另一家发行商有限公司", "Another Publisher")


class SigningKit(kit.ScenarioCase):

    def setUp(self):
        super().setUp()
        self.pki = signing.Pki(os.path.join(self.scratch, "pki"))
        self.setup_exe = self.bed.exe("FakeSetup.exe")

    def answer(self, path):
        answer = signing.verify_trust(self.bed, path)
        print("%-24s result=0x%08x chain=%s signer=%s / %s" % (
            os.path.basename(path), answer.result, "-" if answer.chain is None else "0x%08x" % answer.chain,
            answer.organization, answer.common_name))
        return answer

    def test_signed_changed_unsigned_and_foreign_setups_as_the_verifier_answers(self):
        vendor = self.pki.signer(*VENDOR)
        other = self.pki.signer(*OTHER)
        signed = signing.sign(self.setup_exe, vendor, os.path.join(self.scratch, "signed.exe"))
        changed = signing.flip_byte(signed, os.path.join(self.scratch, "changed.exe"))
        foreign = signing.sign(self.setup_exe, other, os.path.join(self.scratch, "foreign.exe"))

        # Without the system: osslsigncode against the throwaway root alone.
        for path, valid in ((signed, True), (foreign, True), (changed, False), (self.setup_exe, False)):
            ok, out = signing.verify_signature(path, self.pki.root.pem)
            self.assertEqual(ok, valid, "osslsigncode verify %s:\n%s" % (os.path.basename(path), out))
        self.assertIn("MISMATCH", signing.verify_signature(changed, self.pki.root.pem)[1])

        trusted = signing.trust_root(self, self.pki.root)
        self.assertTrue(trusted.present(), "the root is in the prefix's ROOT store")

        answer = self.answer(signed)
        self.assertEqual(answer.result, 0, answer.output)
        self.assertEqual((answer.organization, answer.common_name), VENDOR, answer.output)
        self.assertIsNotNone(answer.chain, answer.output)
        self.assertFalse(answer.chain & signing.CERT_TRUST_IS_UNTRUSTED_ROOT,
                         "the chain ends at the trusted root: %s" % answer.output)

        answer = self.answer(foreign)
        self.assertEqual(answer.result, 0, answer.output)
        self.assertEqual((answer.organization, answer.common_name), OTHER, "publisher names survive as UTF-16")

        self.assertEqual(self.answer(changed).result, signing.TRUST_E_BAD_DIGEST)
        self.assertEqual(self.answer(self.setup_exe).result, signing.TRUST_E_NOSIGNATURE)

        # The changed byte lies where the loader never looks: the file still
        # runs as the setup it was.
        done = subprocess.run(["wine", changed, "/UPGRADESHELL"], env=self.env, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr)
        runs = self.setup_runs()
        self.assertEqual(len(runs), 1, runs)
        self.assertTrue(runs[0]["path"].endswith("changed.exe"), runs)
        self.assertTrue(runs[0]["cmdline"].endswith("/UPGRADESHELL"), runs)

        # Once removed, the root is unknown again (the signature does not
        # carry it): Wine's verifier still accepts the file, and only the
        # chain's status tells.
        trusted.remove()
        self.assertFalse(trusted.present(), "the root is gone from the ROOT store")
        answer = self.answer(signed)
        self.assertTrue(answer.chain & (signing.CERT_TRUST_IS_UNTRUSTED_ROOT | signing.CERT_TRUST_IS_PARTIAL_CHAIN),
                        answer.output)

    def test_expired_certificate_and_time_stamps(self):
        signing.trust_root(self, self.pki.root)
        expired = self.pki.signer(*VENDOR, expired=True)
        signed = signing.sign(self.setup_exe, expired, os.path.join(self.scratch, "expired.exe"))
        ok, out = signing.verify_signature(signed, self.pki.root.pem)
        self.assertFalse(ok, out)
        self.assertIn("expired", out)
        # Windows refuses it (CERT_E_EXPIRED); Wine 8 accepts it, and only
        # the chain's status says that the certificate is out of date.
        answer = self.answer(signed)
        self.assertIn(answer.result, (0, signing.CERT_E_EXPIRED), answer.output)
        self.assertTrue(answer.chain & signing.CERT_TRUST_IS_NOT_TIME_VALID, answer.output)

        stamps = signing.TimestampServer(self.pki)
        self.addCleanup(stamps.stop)
        vendor = self.pki.signer(*VENDOR)
        stamped = signing.sign(self.setup_exe, vendor, os.path.join(self.scratch, "stamped.exe"),
                               timestamp_url=stamps.url)
        self.assertEqual(stamps.requests, 1)
        ok, out = signing.verify_signature(stamped, self.pki.root.pem)
        self.assertTrue(ok, out)
        self.assertIn("Timestamp Server Signature verification: ok", out)
        self.assertEqual(self.answer(stamped).result, 0)


if __name__ == "__main__":
    kit.main()
