#!/usr/bin/env python3
"""Trust beyond MD5: an order may carry the setup's SHA-256, and before every
start the setup's Authenticode signature is checked through the held file.
Without a pin only proof of tampering (a signature that no longer matches
the bytes) is refused: an unsigned setup, an unknown root or an expired
certificate is logged and the upgrade goes on. With a pinned publisher or
certificate (the client's config.ini [APP] SetupPublisher,
SetupPublisherThumbprints) the signature must verify and be that signer's.
A refused setup is swept, never starts, and the run ends as
signature-refused."""

import hashlib
import os
import ssl
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

    def pin(self, publisher="", thumbprint_of=None, digest=hashlib.sha1):
        thumbprint = ""
        if thumbprint_of:
            der = ssl.PEM_cert_to_DER_cert(open(thumbprint_of.pem).read())
            thumbprint = "0x" + " ".join("%02X" % b for b in digest(der).digest())
        with open(self.config, "w", encoding="utf-8") as f:
            f.write("[APP]\r\nSetupPublisher=%s\r\nSetupPublisherThumbprints=%s\r\n" % (publisher, thumbprint))

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
        self.assertState(result="signature-refused", overflags="", clearflags="false")
        self.assertFolder()
        found = [m for m in self.messages() if m.startswith("setup refused, " + refusal)]
        self.assertEqual(len(found), 1, self.messages())
        return found[0]

    def assertGoesOn(self, setup, version, cause):
        self.assertStarts(self.held_order(setup, version), setup)
        self.assertEqual(len([m for m in self.messages()
                              if m.startswith("setup signature not verified, %s: " % cause)
                              and m.endswith("; no publisher is pinned, the upgrade goes on")]), 1, self.messages())

    def test_without_a_pin_only_a_changed_byte_is_refused(self):
        setup = self.signed("11.0", self.vendor)
        companion = self.held_order(setup, "11.0")
        self.assertStarts(companion, setup)
        signer = [m for m in self.messages() if m.startswith("setup signer: ")]
        self.assertEqual(len(signer), 1, self.messages())
        self.assertIn("CN=Talvex Setup", signer[0])
        self.assertRegex(signer[0], r", thumbprint [0-9a-f]{40}$")

        broken = self.signed("11.1", self.vendor, flip=True)
        refusal = self.assertRefused(self.held_order(broken, "11.1"), "changed after signing")
        self.assertIn("TRUST_E_BAD_DIGEST", refusal)

        # What an old root store, a lapsed certificate or a plain file shows:
        # no forgery is stopped by refusing them while nothing is pinned.
        self.assertGoesOn(self.signed("11.2", self.pki.signer("Talvex", "Talvex Setup", expired=True)), "11.2",
                          "expired")
        stranger = signing.Pki(os.path.join(self.scratch, "pki-unknown"), root_name="Unknown Root")
        unknown_root = self.signed("11.3", stranger.signer("Talvex", "Talvex Setup"))
        self.assertGoesOn(unknown_root, "11.3", "untrusted or partial chain")
        self.assertGoesOn(self.signed("11.4"), "11.4", "not signed")

        # The same setup under an unknown root, once a publisher is pinned.
        self.pin("Talvex")
        self.assertRefused(self.held_order(unknown_root, "11.3"), "untrusted or partial chain")

    def test_a_pin_names_the_organisation_or_the_certificate(self):
        for version, cert, refusal in (("12.1", None, "not signed"),
                                       ("12.2", "other", "signed by another publisher or certificate")):
            with self.subTest(version=version):
                self.pin("Talvex")
                if cert == "other":
                    cert = self.pki.signer("Another Publisher", "Another Publisher")
                self.assertRefused(self.held_order(self.signed(version, cert), version), refusal)

        # The common name stands in only for a certificate without an organisation.
        self.pin("Talvex Setup")
        self.assertRefused(self.held_order(self.signed("12.3", self.vendor), "12.3"), "signed by another")
        setup = self.signed("12.4", self.pki.signer(None, "Talvex Setup"))
        self.assertStarts(self.held_order(setup, "12.4"), setup)

        # An exact certificate, by its SHA-1 thumbprint.
        self.pin(thumbprint_of=self.vendor)
        setup = self.signed("12.5", self.vendor)
        self.assertStarts(self.held_order(setup, "12.5"), setup)
        other = self.pki.signer("Talvex", "Talvex Setup", name="second-vendor-key")
        self.assertRefused(self.held_order(self.signed("12.6", other), "12.6"), "signed by another")
        # The refusal names what was pinned, for support.
        der = ssl.PEM_cert_to_DER_cert(open(self.vendor.pem).read())
        self.assertTrue([m for m in self.messages() if m.startswith("setup refused, ")
                         and m.endswith("pinned thumbprints (%s)" % hashlib.sha1(der).hexdigest())], self.messages())

        # ... or by its SHA-256 thumbprint.
        self.pin(thumbprint_of=self.vendor, digest=hashlib.sha256)
        setup = self.signed("12.7", self.vendor)
        self.assertStarts(self.held_order(setup, "12.7"), setup)
        self.assertRefused(self.held_order(self.signed("12.8", other), "12.8"), "signed by another")

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
