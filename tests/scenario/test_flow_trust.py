#!/usr/bin/env python3
"""Trust beyond MD5: an order may carry the setup's SHA-256, and before every
start the setup's Authenticode signature is checked through the held file,
with an optional pinned publisher (the client's config.ini [APP]
SetupPublisher). A setup that fails is swept like an MD5 mismatch and never
starts; an unsigned setup without a pin runs as it always did."""

import hashlib
import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kit  # noqa: E402
from kit import flow, signing  # noqa: E402
from kit.flow import Setup  # noqa: E402


class SignedSetups(flow.FlowCase):

    def setUp(self):
        super().setUp()
        self.pki = signing.Pki(os.path.join(self.scratch, "pki"))
        self.vendor = self.pki.signer("Talvex", "Talvex Setup")
        signing.trust_root(self, self.pki.root)
        self.config = os.path.join(self.bed.bin, "config.ini")
        self.addCleanup(lambda: os.path.exists(self.config) and os.remove(self.config))

    def pin(self, publisher):
        with open(self.config, "w", encoding="utf-8") as f:
            f.write("[APP]\r\nSetupPublisher=%s\r\n" % publisher)

    def signed(self, version, cert=None, flip=False):
        """The published setup of `version`, signed by cert (none: unsigned),
        then damaged by one byte when asked; served under its own name."""
        setup = self.publish("DazuvuvevSetup_%s.exe" % version, version)
        if cert:
            signed = signing.sign(setup.path, cert, setup.path + ".signed")
            os.replace(signed, setup.path)
        if flip:
            signing.flip_byte(setup.path)
        data = open(setup.path, "rb").read()
        return Setup(setup.name, len(data), hashlib.md5(data).hexdigest(), setup.url, setup.path)

    def held_order(self, setup, version, sha256_of=None):
        """A hidden download that the client holds; returns the companion.
        sha256_of: the order carries that file's SHA-256 instead of the MD5."""
        self.bed.reset()
        if os.path.exists(self.setup_record):
            os.remove(self.setup_record)
        companion = self.launch()
        self.assertCtl(self.ctl.command("hold"))
        if sha256_of:
            self.assertCtl(self.ctl.order(setup.url, version, size=setup.size, file=sha256_of, sha256=True,
                                          timeout_ms=60000))
        else:
            self.send_order(setup, version)
        return companion

    def assertStarts(self, companion, setup):
        self.wait_logged("download verified, window hidden")
        self.assertCtl(self.ctl.command("install"))
        self.assertEnds(companion)
        self.assertSetupRan(setup)
        self.assertState(result="setup-started")

    def assertRefused(self, companion, refusal):
        self.assertEnds(companion)
        self.assertNoSetupRan()
        self.assertState(result="digest-mismatch", overflags="", clearflags="false")
        self.assertFolder()
        found = [m for m in self.messages() if m.startswith("setup refused, " + refusal)]
        self.assertEqual(len(found), 1, self.messages())
        return found[0]

    def test_a_valid_signature_starts_and_a_changed_byte_never_does(self):
        setup = self.signed("11.0", self.vendor)
        companion = self.held_order(setup, "11.0")
        self.assertStarts(companion, setup)
        signer = [m for m in self.messages() if m.startswith("setup signer: ")]
        self.assertEqual(len(signer), 1, self.messages())
        self.assertIn("CN=Talvex Setup", signer[0])
        self.assertRegex(signer[0], r", thumbprint [0-9a-f]{40}$")

        broken = self.signed("11.1", self.vendor, flip=True)
        companion = self.held_order(broken, "11.1")
        refusal = self.assertRefused(companion, "its signature does not verify")
        self.assertIn("TRUST_E_BAD_DIGEST", refusal)

        # A certificate that has expired, without a time stamp: Windows
        # refuses it; Wine's verifier tells only in the chain's status, which
        # the companion reads as well.
        expired = self.signed("11.2", self.pki.signer("Talvex", "Talvex Setup", expired=True))
        companion = self.held_order(expired, "11.2")
        self.assertRefused(companion, "its signature does not verify")

    def test_unsigned_runs_without_a_pin_and_never_with_one(self):
        setup = self.signed("12.0")
        companion = self.held_order(setup, "12.0")
        self.assertStarts(companion, setup)
        self.assertLogged("setup not signed, and no publisher is pinned", 1)

        for version, cert, refusal in (("12.1", None, "not signed, but a publisher is pinned"),
                                       ("12.2", "other", "signed by another publisher than the pinned one")):
            with self.subTest(version=version):
                self.pin("Talvex")
                if cert == "other":
                    cert = self.pki.signer("Another Publisher", "Another Publisher")
                companion = self.held_order(self.signed(version, cert), version)
                self.assertRefused(companion, refusal)

        # The pinned name may be the common name as well as the organisation.
        self.pin("Talvex Setup")
        setup = self.signed("12.3", self.vendor)
        self.assertStarts(self.held_order(setup, "12.3"), setup)

    def test_a_sha256_order_verifies_and_a_wrong_one_is_swept(self):
        setup = self.signed("13.0", self.vendor)
        sha256 = hashlib.sha256(open(setup.path, "rb").read()).hexdigest()
        companion = self.held_order(setup, "13.0", sha256_of=setup.path)
        self.assertStarts(companion, setup)
        self.assertLogged("localSHA256:%s, remoteSHA256:%s" % (sha256, sha256), 1)

        other = self.signed("13.1", self.vendor)
        companion = self.held_order(other, "13.1", sha256_of=setup.path)
        self.assertEnds(companion)
        self.assertNoSetupRan()
        self.assertState(result="digest-mismatch", overflags="")
        self.assertFolder()


if __name__ == "__main__":
    kit.main()
