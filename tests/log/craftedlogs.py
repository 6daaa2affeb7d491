"""Logs written by hand for the decoders' tests: runs with every kind of end,
failure records with numbers to name, and hostile logs (long records, many
tiny ones, the piece that took the old pattern quadratic time, control
characters). Bytes are built as the companion writes them (code page 936,
record terminator, nibble swap)."""

import os

SWAP = bytes(((b & 0x0F) << 4) | (b >> 4) for b in range(256))


class LogWriter:
    """Records with increasing time stamps; bytes() gives the swapped file."""

    def __init__(self, day="2026-03-04", hour=10):
        self.day, self.hour = day, hour
        self.seconds = 0
        self.data = bytearray()

    def stamp(self):
        self.seconds += 1
        minute, second = divmod(self.seconds, 60)
        return "%s %02d:%02d:%02d.%03d" % (self.day, self.hour + minute // 60, minute % 60, second,
                                           self.seconds % 1000)

    def raw(self, data):
        """Bytes as they are, before the swap (a torn end, foreign bytes)."""
        self.data += data
        return self

    def record(self, message, function="CUpgradeDlgDUI::OnCopyData", level="[INFO]", thread=7, line=42,
               source=".\\UpgradeDlgOrders"):
        text = "%s %s\tThread[%d]\t%s\t%s: %d :\r\n%s\r\n\r\n" % (self.stamp(), level, thread, source, function, line,
                                                                  message)
        return self.raw(text.encode("cp936") + b"\x00\r\n")

    def banner(self, version="1.0.0.1"):
        return self.record("DazuvuVevUpgrade %s started, command line: \"C:\\x\\DazuvuVevUpgrade.exe\" "
                           "DazuvuVevNeedUpgrade:user:***, Windows 6.1.7601, ANSI code page 936" % version,
                           function="CDazuvuVevUpgradeApp::InitInstance", source=".\\DazuvuVevUpgrade", line=77)

    def quit(self):
        return self.record("GetMessage QUIT!", function="CDazuvuVevUpgradeApp::InitInstance",
                           source=".\\DazuvuVevUpgrade", line=167)

    def ends(self, text, severity=""):
        return self.record("%supgrade ends: %s" % (severity, text), function="CUpgradeDlgDUI::ExistMainThread")

    def transfer(self, status, error, severity="error: ", how="failed on the server or the connection"):
        return self.record("%stransfer %s: HTTP status %d, network error %d, 0 bytes received (0 already on disk), "
                           "0.125 s, mean speed 0.0 KB/s" % (severity, how, status, error),
                           function="CUpgradeDlgDUI::OnDownloadProgress")

    def bytes(self):
        return bytes(self.data).translate(SWAP)

    def write(self, path):
        with open(path, "wb") as f:
            f.write(self.bytes())
        return path


# A setup whose signature was refused, and one whose missing signature was
# only a warning: (version, end, record).
SIGNATURE_RUNS = (
    ("6.0", "signature-refused: the setup's signature was refused",
     "error: setup refused, its signature does not verify: trust result 0x800B0109 CERT_E_UNTRUSTEDROOT, "
     "chain status 0x01010021, pinned publisher \"Talvex\""),
    ("6.1", "hidden: download verified while hidden",
     "warning: setup signature not verified, not signed: trust result 0x800B0100 TRUST_E_NOSIGNATURE, "
     "chain status 0x00000000; no publisher is pinned, the upgrade goes on"))


def runs_log():
    """Seven runs: one per kind of end, a successful one whose transfer
    record carries "network error 0" (no error at all), and two about a
    setup's signature."""
    log = LogWriter()
    # An older build: no banner, [WARN] in the header, a reason without a word.
    log.record("order accepted: version 4.0")
    log.record("transfer failed: HTTP status 0, network error 12029, 0 bytes", level="[WARN]")
    log.ends("the transfer failed")
    log.quit()
    # Today's: a clean 404.
    log.banner("1.0.0.1")
    log.record("order accepted: version 5.0")
    log.transfer(404, 12152)
    log.ends("download-failed: the transfer failed", severity="error: ")
    log.quit()
    # Ended by a newer instance: no end of the loop.
    log.banner("1.0.0.1")
    log.record("warning: order refused, another download is running")
    log.ends("superseded: ended by a newer instance (process 1234)", severity="warning: ")
    # A success: its transfer record names no error.
    log.banner("1.0.0.2")
    log.transfer(200, 0, severity="", how="finished")
    log.record("localMD5:%s, remoteMD5:%s" % ("ab" * 16, "ab" * 16), function="CUpgradeDlgDUI::IsNewSetupFileExist")
    log.ends("setup-started: download verified while the user watched")
    log.quit()
    # A setup whose signature was refused, and one whose missing signature
    # was only a warning: the cause and the chain's bits named, the order's
    # version and address on the run line, the warning marked recovered.
    for version, ends, text in SIGNATURE_RUNS:
        log.banner("1.1.0.0")
        log.record("order accepted: mode 0, type 1, version %s, size 12, MD5 %s, URL http://127.0.0.1/v%s/Setup.exe"
                   % (version, "ab" * 16, version))
        log.record(text)
        log.ends(ends, severity="error: " if "refused" in ends else "")
    # Still running.
    log.banner("1.0.0.2")
    log.record("order accepted: version 5.1")
    return log


def named_errors_log(statuses, errors):
    """One run per number: a failed transfer with that HTTP status and no
    error, or status 0 and that error; the run lines name each."""
    log = LogWriter()
    for status in statuses:
        log.banner()
        log.transfer(status, 0)
    for error in errors:
        log.banner()
        log.transfer(0, error)
    return log


CONTROL_MESSAGE = "colour \x1b[31mred\x1b[0m bell\x07 tab\there del\x7f\r\nsummary: 0 records, forged"


def hostile_log(long_bytes=2 * 1024 * 1024, tiny_records=20000, adversarial_bytes=224 * 1024):
    """A log that must neither take long nor reach the terminal unescaped:
    control characters in a message and a function name, one very long
    record, many tiny ones, and the piece the old pattern took quadratic
    time over (a header followed by many would-be line numbers, no end)."""
    log = LogWriter()
    log.banner()
    log.record(CONTROL_MESSAGE, function="Evil\x1b]0;title\x07::F")
    log.record("error: " + "x" * long_bytes)
    for i in range(tiny_records):
        log.raw(b"2026-03-04 11:00:00.000 [INFO]\tThread[1]\t.\\T\tF: %d :\r\n\r\n\r\n\x00\r\n" % i)
    head = b"2026-03-04 11:00:01.000 [INFO]\tThread[1]\t.\\S\t"
    log.raw(head + b"F: 1 :\r\n" * (adversarial_bytes // 8) + b"\x00\r\n")
    log.record("\u5347\u7ea7 still readable after the damage")
    log.ends("network-lost: the network was lost during the download", severity="error: ")
    return log


def write_superscript_backup(folder, name="Upgrade.log"):
    """A file whose suffix Python's str.isdigit() takes for a digit; it is no
    backup and must be left alone."""
    path = os.path.join(folder, name + ".\u00b2")
    LogWriter(day="2026-01-01").record("not a backup").write(path)
    return path


def mutated_log(seed, count=1500):
    """Records of every shape, a few bytes of each changed at random (line
    breaks, tabs, colons, digits, control and undefined bytes), some
    terminators left out: both decoders must read each piece alike."""
    import random
    rnd = random.Random(seed)
    shapes = [
        b"2026-03-04 11:00:00.000 [INFO]\tThread[12]\t.\\Src\tC::F: 123 :\r\n"
        b"warning: HTTP status 404, network error 12029\r\n\r\n",
        b"2026-03-04 11:00:00.000 [ERROR]\t12 .\\Log:280 \tCLog::Log:\tException error,the params invalid",
        b"2026-03-04 11:00:00.000 [INFO]\tThread[-5]\t.\\S\tA: B: -1 :\r\nupgrade ends: refused: x\r\n\r\n",
        b"2026-03-04 11:00:00.000 [INFO]\tThread[5]\t.\\S\tF: 1 :\r\n"
        b"DazuvuVevUpgrade 1.2 started, command line: x\r\n\r\n",
        b"2026-03-04 11:00:00.000 [INFO]\tThread[5]\t.\\S\tF: 1 :\r\nGetMessage QUIT!\r\n\r\n",
        "2026-03-04 11:00:00.000 [INFO]\tThread[5]\t.\\S\tF: 1 :\r\n\u5347\u7ea7 error 5\r\n\r\n".encode("cp936"),
    ]
    alphabet = b"\r\n\t :-[]0123456789AZaz\x00\x1b\x7f\x80\x81\xa1\xb0\xfe\xff"
    log = LogWriter()
    log.raw(shapes[0] + b"\x00\r\n")
    for _ in range(count):
        piece = bytearray(rnd.choice(shapes))
        for _ in range(rnd.choice((0, 0, 1, 2, 4))):
            pos = rnd.randrange(len(piece) + 1)
            byte = rnd.choice(alphabet)
            roll = rnd.random()
            if roll < 0.4:
                piece[pos:pos] = bytes([byte])
            elif pos < len(piece):
                if roll < 0.7:
                    del piece[pos]
                else:
                    piece[pos] = byte
        log.raw(bytes(piece) + (b"\x00\r\n" if rnd.random() < 0.97 else b""))
    return log
