"""Code signing for tests: a throwaway certificate authority made with
openssl, Authenticode signatures (SHA-256) made with osslsigncode, a signed
file damaged by one byte, and the test bed's trust in the throwaway root.
Standard library plus the openssl and osslsigncode commands; the trust and
the verifier's answer go through tests/trust's TrustRoot.exe under Wine.

    from kit import signing

    pki = signing.Pki(os.path.join(self.scratch, "pki"))  # root made on first use
    vendor = pki.signer("Talvex", "Talvex")                # O and CN of the signer
    other = pki.signer("Another Publisher", "Another Publisher")
    old = pki.signer("Talvex", "Talvex", expired=True)     # ended a year ago
    signing.trust_root(self, pki.root)                     # trusted until the test ends

    signed = signing.sign(source_exe, vendor, target_exe)  # a signed copy
    broken = signing.flip_byte(signed, broken_exe)         # digest no longer matches
    unsigned = source_exe                                  # nothing to do

    answer = signing.verify_trust(self.bed, signed)        # as the companion asks
    answer.result == 0                                     # signed and valid
    signing.verify_trust(self.bed, broken).result == signing.TRUST_E_BAD_DIGEST
    signing.verify_trust(self.bed, unsigned).result == signing.TRUST_E_NOSIGNATURE
    answer.organization, answer.common_name                # the publisher, for a pin

What the companion's scenarios need, in these terms:

- signed and valid: sign(setup, vendor, ...) with the root trusted;
- signed, then one byte changed: flip_byte(sign(...)) — the file is still a
  PE that runs, only its digest is wrong;
- unsigned, without a pin / with a pin: the setup as built;
- another publisher with a pin: sign(setup, other, ...), pinned to vendor's
  organization (vendor.organization) or common name.

Pieces:

    Pki(folder)                 the authority; .root is its Certificate, .config
                                its openssl configuration
    Pki.signer(o, cn, expired=False, days=365, name=None)
                                a code-signing Certificate issued by the root (no
                                O when o is empty; names in UTF-8 are kept)
    Pki.timestamp_authority()   a Certificate for time stamps (see TimestampServer)
    Certificate                 .name .organization .common_name .pem (signer's
                                certificate) .key (its unencrypted key) .der
                                .encrypted_key(password) -> path of a protected copy
    sign(source, cert, target=None, description=None, url=None, timestamp_url=None,
         key=None, password_file=None)
                                osslsigncode sign -h sha256; target defaults to
                                source with ".signed" before the extension; returns it
    sign_command(...)           the argument list sign() runs, for reports
    flip_byte(path, target=None, offset=None)
                                copies path (or changes it in place) with one byte
                                inverted inside a section's padding (or at offset);
                                returns the changed file's path
    verify_signature(path, ca_file)
                                osslsigncode verify against the throwaway root
                                alone: (ok, output)
    trust_root(case, cert, machine=False)
                                TrustRoot.exe add into the prefix's ROOT store of
                                the current user (or local machine); removed when
                                the case ends; returns a TrustedRoot (.remove(), .present())
    verify_trust(bed, path, env=None)
                                TrustRoot.exe verify: WinVerifyTrust through the
                                open file's handle, generic verify action, no UI, no
                                revocation; a TrustAnswer(result, chain, organization,
                                common_name, output)
    TimestampServer(pki)        an RFC 3161 time-stamp server on 127.0.0.1 (openssl ts)
                                with the authority's time-stamp certificate; .url
                                (for sign(timestamp_url=...)), .requests, .stop()

Wine 8 and the system's verifier (WINTRUST_ACTION_GENERIC_VERIFY_V2): a
changed byte gives TRUST_E_BAD_DIGEST, a file without signature
TRUST_E_NOSIGNATURE. A signer whose root is not trusted is accepted all the
same (only TrustAnswer.chain tells: CERT_TRUST_IS_PARTIAL_CHAIN when the
root is nowhere, as the kit's signatures do not carry it, or
CERT_TRUST_IS_UNTRUSTED_ROOT), and so is a certificate that has expired,
without time stamp (only the chain shows CERT_TRUST_IS_NOT_TIME_VALID),
where Windows answers CERT_E_CHAINING or CERT_E_UNTRUSTEDROOT, and
CERT_E_EXPIRED. Tests trust the root anyway, so that they read like the
field, where only a trusted root passes; the trust goes into the registry
part of the ROOT store, the part Wine 8 really changes.
"""

import collections
import datetime
import hashlib
import http.server
import os
import shutil
import struct
import subprocess
import tempfile
import threading

TRUST_ROOT_EXE = "TrustRoot.exe"

# The verifier's answers (HRESULTs as unsigned 32-bit numbers).
TRUST_E_NOSIGNATURE = 0x800B0100
TRUST_E_BAD_DIGEST = 0x80096010
TRUST_E_SUBJECT_NOT_TRUSTED = 0x800B0004
CERT_E_EXPIRED = 0x800B0101
CERT_E_UNTRUSTEDROOT = 0x800B0109
CERT_E_CHAINING = 0x800B010A
# Bits of the chain's error status.
CERT_TRUST_IS_NOT_TIME_VALID = 0x01
CERT_TRUST_IS_UNTRUSTED_ROOT = 0x20
CERT_TRUST_IS_PARTIAL_CHAIN = 0x10000

_CA_CONFIG = """\
[ ca ]
default_ca = kit_ca

[ kit_ca ]
dir = {dir}
database = $dir/index.txt
new_certs_dir = $dir/issued
serial = $dir/serial
default_md = sha256
policy = any_name
unique_subject = no
email_in_dn = no
preserve = yes
copy_extensions = none

[ any_name ]
organizationName = optional
commonName = supplied

[ code_signing ]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid

[ time_stamping ]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid

[ tsa ]
default_tsa = kit_tsa

[ kit_tsa ]
dir = {dir}
serial = $dir/tsa-serial
crypto_device = builtin
signer_digest = sha256
default_policy = 1.3.6.1.4.1.55555.1
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = yes
ess_cert_id_chain = no
ess_cert_id_alg = sha256
"""


class SigningError(RuntimeError):
    pass


def _run(argv, what, **kwargs):
    done = subprocess.run(argv, capture_output=True, text=True, timeout=120, **kwargs)
    if done.returncode != 0:
        raise SigningError("%s failed (exit %d): %s\n%s%s" % (what, done.returncode, " ".join(argv), done.stdout,
                                                              done.stderr))
    return done


def _subject(organization, common_name):
    """-subj text; the characters that separate its parts are escaped."""
    def escape(value):
        for c in "\\/=+":
            value = value.replace(c, "\\" + c)
        return value
    parts = []
    if organization:
        parts.append("/O=" + escape(organization))
    parts.append("/CN=" + escape(common_name))
    return "".join(parts)


def _asn1_time(moment):
    return moment.strftime("%Y%m%d%H%M%SZ")


class Certificate:
    """A certificate of the throwaway authority with its key, as files."""

    def __init__(self, folder, name, organization, common_name):
        self.name = name
        self.organization = organization
        self.common_name = common_name
        self.pem = os.path.join(folder, name + ".pem")
        self.key = os.path.join(folder, name + ".key")
        self.der = os.path.join(folder, name + ".der")

    def encrypted_key(self, password):
        """A copy of the key protected by password (AES-256), as a signing
        key is kept; returns its path."""
        path = os.path.join(os.path.dirname(self.key), self.name + ".protected.key")
        _run(["openssl", "pkey", "-in", self.key, "-aes256", "-passout", "pass:" + password, "-out", path],
             "protecting the key")
        return path

    def __repr__(self):
        return "Certificate(%r, O=%r, CN=%r)" % (self.name, self.organization, self.common_name)


class Pki:
    """A throwaway root and the certificates it issues, all in folder. The
    root is made on first use; each further certificate once per name. A
    folder used before keeps its root and certificates."""

    def __init__(self, folder, root_organization="Talvex Test", root_name="Talvex Test Root"):
        self.folder = folder
        self._root_organization = root_organization
        self._root_name = root_name
        self._root = None
        self.config = os.path.join(folder, "ca.cnf")
        if not os.path.exists(self.config):
            os.makedirs(os.path.join(folder, "issued"), exist_ok=True)
            with open(self.config, "w") as f:
                f.write(_CA_CONFIG.format(dir=folder))
            open(os.path.join(folder, "index.txt"), "w").close()
            for name, first in (("serial", "1000"), ("tsa-serial", "01")):
                with open(os.path.join(folder, name), "w") as f:
                    f.write(first + "\n")

    @property
    def root(self):
        if self._root is None:
            cert = Certificate(self.folder, "root", self._root_organization, self._root_name)
            if os.path.exists(cert.der):  # an authority made earlier in the same folder
                self._root = cert
                return cert
            _run(["openssl", "req", "-x509", "-new", "-utf8", "-newkey", "rsa:2048", "-nodes", "-sha256",
                  "-keyout", cert.key, "-out", cert.pem, "-days", "3650",
                  "-subj", _subject(cert.organization, cert.common_name),
                  "-addext", "basicConstraints=critical,CA:TRUE",
                  "-addext", "keyUsage=critical,keyCertSign,cRLSign",
                  "-addext", "subjectKeyIdentifier=hash"], "making the root")
            _run(["openssl", "x509", "-in", cert.pem, "-outform", "DER", "-out", cert.der], "writing the root as DER")
            self._root = cert
        return self._root

    def _issue(self, name, organization, common_name, extensions, not_before, not_after):
        root = self.root
        cert = Certificate(self.folder, name, organization, common_name)
        if os.path.exists(cert.pem):
            return cert
        request = os.path.join(self.folder, name + ".csr")
        _run(["openssl", "req", "-new", "-utf8", "-newkey", "rsa:2048", "-nodes", "-keyout", cert.key,
              "-out", request, "-subj", _subject(organization, common_name)], "making the key of " + name)
        _run(["openssl", "ca", "-batch", "-utf8", "-notext", "-config", self.config, "-cert", root.pem,
              "-keyfile", root.key, "-extensions", extensions, "-in", request, "-out", cert.pem,
              "-startdate", _asn1_time(not_before), "-enddate", _asn1_time(not_after)], "issuing " + name)
        _run(["openssl", "x509", "-in", cert.pem, "-outform", "DER", "-out", cert.der], "writing %s as DER" % name)
        return cert

    def signer(self, organization, common_name, expired=False, days=365, name=None):
        """A code-signing certificate. expired=True: valid from two years
        ago until one year ago (sign without a time stamp to get a signature
        that no longer verifies)."""
        now = datetime.datetime.now(datetime.timezone.utc)
        if expired:
            not_before, not_after = now - datetime.timedelta(days=730), now - datetime.timedelta(days=365)
        else:
            # A day back, so that a clock a little behind still sees it valid.
            not_before, not_after = now - datetime.timedelta(days=1), now + datetime.timedelta(days=days)
        if name is None:
            # Named after what it is, so that a folder used again hands out
            # the same certificate for the same request, never another one's.
            what = "%s\0%s\0%s\0%d" % (organization, common_name, expired, days)
            name = "signer-" + hashlib.sha1(what.encode("utf-8")).hexdigest()[:12]
        return self._issue(name, organization, common_name, "code_signing", not_before, not_after)

    def timestamp_authority(self):
        now = datetime.datetime.now(datetime.timezone.utc)
        return self._issue("tsa", self._root_organization, self._root_name + " Time Stamps", "time_stamping",
                           now - datetime.timedelta(days=1), now + datetime.timedelta(days=3650))


def sign_command(source, cert, target, description=None, url=None, timestamp_url=None, key=None,
                 password_file=None):
    argv = ["osslsigncode", "sign", "-certs", cert.pem, "-key", key or cert.key, "-h", "sha256"]
    if password_file:
        argv += ["-readpass", password_file]
    if description:
        argv += ["-n", description]
    if url:
        argv += ["-i", url]
    if timestamp_url:
        argv += ["-ts", timestamp_url]
    return argv + ["-in", source, "-out", target]


def sign(source, cert, target=None, description=None, url=None, timestamp_url=None, key=None,
         password_file=None):
    """Signs a copy of the PE file source with cert (SHA-256); returns the
    signed file's path. key and password_file: a protected key instead of
    cert.key, and the file that holds its password."""
    if target is None:
        stem, ext = os.path.splitext(source)
        target = stem + ".signed" + ext
    if os.path.exists(target):
        os.remove(target)  # osslsigncode does not overwrite
    _run(sign_command(source, cert, target, description, url, timestamp_url, key, password_file),
         "signing " + source)
    return target


def _section_padding(data):
    """Offset of the last byte of the first section whose raw data is longer
    than what the loader maps of it; None when no section has such padding."""
    if data[:2] != b"MZ":
        return None
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        return None
    sections, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + optional_size
    for i in range(sections):
        virtual_size, _, raw_size, raw_pointer = struct.unpack_from("<IIII", data, table + 40 * i + 8)
        if raw_size > virtual_size and raw_pointer + raw_size <= len(data):
            return raw_pointer + raw_size - 1
    return None


def flip_byte(path, target=None, offset=None):
    """Inverts one byte covered by the Authenticode digest, of a copy at
    target (or of path itself). By default the byte lies in a section's
    padding, which the loader never reads, so the file stays a PE that
    runs exactly as before; with no padding, a byte of the DOS stub's
    message. Returns the changed file's path."""
    with open(path, "rb") as f:
        data = bytearray(f.read())
    if offset is None:
        offset = _section_padding(data)
    if offset is None:
        offset = data.find(b"This program cannot be run")
        if offset < 0:
            raise SigningError("%s: no byte found that can change without breaking the file" % path)
    data[offset] ^= 0xFF
    target = target or path
    with open(target, "wb") as f:
        f.write(bytes(data))
    return target


def verify_signature(path, ca_file):
    """osslsigncode verify with only ca_file's roots trusted (also for time
    stamps): (True when the signature and its time stamp, if any, are valid,
    the tool's output)."""
    done = subprocess.run(["osslsigncode", "verify", "-CAfile", ca_file, "-TSA-CAfile", ca_file, "-in", path],
                          capture_output=True, text=True, timeout=120)
    out = done.stdout + done.stderr
    # A time stamp that fails its check does not change the tool's exit code.
    return done.returncode == 0 and "verification: failed" not in out, out


def _to_windows(bed, path):
    return bed.to_windows(path) if bed is not None else "Z:" + os.path.abspath(path).replace("/", "\\")


def _trust_root_exe(bed):
    return bed.exe(TRUST_ROOT_EXE)


def _run_helper(bed, args, env=None):
    done = subprocess.run(["wine", _trust_root_exe(bed)] + args, stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=120, env=env)
    return done.returncode, done.stdout.decode("utf-8", "replace"), done.stderr.decode("utf-8", "replace")


class TrustedRoot:
    """A root certificate in the prefix's ROOT store, for as long as this
    object has not been removed."""

    def __init__(self, bed, cert, machine=False, env=None):
        self.bed, self.cert, self.env = bed, cert, env
        self._store = ["--machine"] if machine else []
        self._present = False
        code, out, err = _run_helper(bed, ["add", _to_windows(bed, cert.der)] + self._store, env)
        if code != 0:
            raise SigningError("TrustRoot add failed (exit %d): %s%s" % (code, out, err))
        self._present = True

    def present(self):
        """Asks the store itself."""
        code, _, _ = _run_helper(self.bed, ["has", _to_windows(self.bed, self.cert.der)] + self._store, self.env)
        return code == 0

    def remove(self):
        if not self._present:
            return
        code, out, err = _run_helper(self.bed, ["remove", _to_windows(self.bed, self.cert.der)] + self._store,
                                     self.env)
        if code != 0:
            raise SigningError("TrustRoot remove failed (exit %d): %s%s" % (code, out, err))
        self._present = False

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.remove()


def trust_root(case, cert, machine=False):
    """Trusts cert (a root) in the test bed's prefix until the case ends."""
    trusted = TrustedRoot(case.bed, cert, machine, getattr(case, "env", None))
    case.addCleanup(trusted.remove)
    return trusted


TrustAnswer = collections.namedtuple("TrustAnswer", "result chain organization common_name output")


def verify_trust(bed, path, env=None):
    """The system verifier's answer about path, asked as the companion asks."""
    code, out, err = _run_helper(bed, ["verify", _to_windows(bed, path)], env)
    values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
    if code not in (0, 1) or "result" not in values:
        raise SigningError("TrustRoot verify %s failed (exit %d): %s%s" % (path, code, out, err))
    chain = values.get("chain")
    return TrustAnswer(int(values["result"], 16), int(chain, 16) if chain is not None else None,
                       values.get("organization"), values.get("commonname"), out + err)


class TimestampServer:
    """An RFC 3161 time-stamp server on 127.0.0.1 that answers with openssl
    ts and the authority's time-stamp certificate; for signing with a time
    stamp (osslsigncode -ts URL). .requests counts the answered requests."""

    def __init__(self, pki):
        self.pki = pki
        self.tsa = pki.timestamp_authority()
        self.requests = 0
        self._work = tempfile.mkdtemp(prefix="tsa-", dir=pki.folder)
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                length = int(self.headers.get("Content-Length") or 0)
                reply = server._reply(self.rfile.read(length)) if 0 < length <= 64 * 1024 else None
                if reply is None:
                    self.send_error(400)
                    return
                self.send_response(200)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(reply)))
                self.end_headers()
                self.wfile.write(reply)

            def log_message(self, *args):
                pass

        self._httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = "http://127.0.0.1:%d/" % self._httpd.server_address[1]
        self._thread = threading.Thread(target=self._httpd.serve_forever, daemon=True)
        self._thread.start()

    def _reply(self, query):
        with tempfile.TemporaryDirectory(dir=self._work) as folder:
            query_path, reply_path = os.path.join(folder, "q.tsq"), os.path.join(folder, "r.tsr")
            with open(query_path, "wb") as f:
                f.write(query)
            done = subprocess.run(["openssl", "ts", "-reply", "-config", self.pki.config, "-queryfile", query_path,
                                   "-signer", self.tsa.pem, "-inkey", self.tsa.key, "-chain", self.pki.root.pem,
                                   "-out", reply_path], capture_output=True, timeout=60)
            if done.returncode != 0 or not os.path.exists(reply_path):
                return None
            self.requests += 1
            with open(reply_path, "rb") as f:
                return f.read()

    def stop(self):
        self._httpd.shutdown()
        self._httpd.server_close()
        self._thread.join(10)
        shutil.rmtree(self._work, ignore_errors=True)
