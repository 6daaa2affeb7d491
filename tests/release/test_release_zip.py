#!/usr/bin/env python3
"""The release archives as a person who ships them would check them: packed
by CPack from this build, the companion's archive holds exactly what the
client's folder needs, the tools, the symbols and the SDK come apart, every
binary is stripped and points at its symbols, the checksum list matches,
the notices name every linked runtime with its licence, the sample client
builds from the SDK alone, and the companion unpacked from the archive
runs. Packed unsigned, the release says so; packed with a (throwaway)
certificate, every shipped binary carries a valid, time-stamped signature
that the system's verifier accepts, and its symbols are still found."""

import glob
import hashlib
import os
import re
import shlex
import shutil
import struct
import subprocess
import sys
import zipfile
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "scenario"))
import kit  # noqa: E402
from kit import signing  # noqa: E402

OBJDUMP = "i686-w64-mingw32-objdump"
OBJCOPY = "i686-w64-mingw32-objcopy"
REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def skin_files():
    """UISkin/ as the program reads it: the skin files and pictures, without
    the designers' README and tools."""
    root = os.path.join(REPO, "UISkin")
    found = set()
    for folder, dirs, files in os.walk(root):
        dirs[:] = [d for d in dirs if d != "tools" and not d.startswith(".")]
        for name in files:
            if name != "README.md" and not name.startswith("."):
                found.add("UISkin/" + os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/"))
    return found


NOTICES = "DazuvuVevUpgrade-THIRD-PARTY-NOTICES.txt"
TOOLS_NOTE = "DazuvuVevUpgrade-tools-README.txt"
COMPANION_FILES = {"DazuvuVevUpgrade.exe", "NubraSdk.dll", "VEXUI32.dll", NOTICES}
TOOL_FILES = {"DazuvuVevUpgradeCtl.exe", "DazuvuVevLogDecode.exe", NOTICES, TOOLS_NOTE}
SDK_FILES = {"README.txt", "include/DazuvuVevUpgradeClient.h", "docs/client-protocol.md", "sample/SampleClient.cpp"}
BINARIES = ["DazuvuVevUpgrade.exe", "NubraSdk.dll", "VEXUI32.dll", "DazuvuVevLogDecode.exe", "DazuvuVevUpgradeCtl.exe"]
KINDS = ("companion", "tools", "debug", "sdk")
# The runtimes linked into every binary, and a text each one's licence holds.
RUNTIMES = {"mingw-w64 runtime": "ZPL-2.1", "winpthreads": "mingw-w64-libraries/winpthreads",
            "libstdc++": "GCC RUNTIME LIBRARY EXCEPTION", "libgcc": "GCC RUNTIME LIBRARY EXCEPTION"}
SIGN_VARIABLES = ("RELEASE_SIGN_CERT", "RELEASE_SIGN_KEY", "RELEASE_SIGN_PASS", "RELEASE_SIGN_PASS_FILE",
                  "RELEASE_SIGN_TIMESTAMP_URL")


def files_of(archive):
    with zipfile.ZipFile(archive) as z:
        return {name for name in z.namelist() if not name.endswith("/")}


def sections(path):
    out = subprocess.run([OBJDUMP, "-h", path], capture_output=True, text=True, timeout=60).stdout
    return {line.split()[1] for line in out.splitlines() if line.strip()[:1].isdigit()}


def debuglink(path, scratch):
    """The file name and CRC-32 that the binary's .gnu_debuglink section
    holds: a debugger takes the symbol file of that name only when its
    CRC-32 matches."""
    section = os.path.join(scratch, "debuglink.bin")
    subprocess.run([OBJCOPY, "--dump-section", ".gnu_debuglink=" + section, path, section + ".exe"], check=True,
                   timeout=60)
    with open(section, "rb") as f:
        data = f.read()
    name = data.split(b"\0", 1)[0]
    crc_at = (len(name) + 1 + 3) // 4 * 4
    return name.decode("ascii", errors="replace"), struct.unpack_from("<I", data, crc_at)[0]


def crc32_of(path):
    with open(path, "rb") as f:
        return zlib.crc32(f.read()) & 0xFFFFFFFF


class ReleaseArchives(kit.ScenarioCase):

    def run_cpack(self, out, signing_env):
        build = os.path.dirname(self.bed.built)
        env = {k: v for k, v in self.env.items() if k not in SIGN_VARIABLES}
        env.update(signing_env)
        self.addCleanup(shutil.rmtree, out, True)
        packed = subprocess.run(["cpack", "--config", os.path.join(build, "CPackConfig.cmake"), "-B", out],
                                capture_output=True, text=True, timeout=300, env=env)
        return packed.returncode, packed.stdout + packed.stderr

    def pack(self, folder, **signing_env):
        """Packs the release into scratch/folder with CPack; returns the
        archives by kind and CPack's output."""
        out = os.path.join(self.scratch, folder)
        code, output = self.run_cpack(out, signing_env)
        self.assertEqual(code, 0, output)
        archives = {}
        for kind in KINDS:
            found = glob.glob(os.path.join(out, "DazuvuVevUpgrade-*-win32-%s.zip" % kind))
            self.assertEqual(len(found), 1, "one %s archive in %s" % (kind, os.listdir(out)))
            archives[kind] = found[0]
        return out, archives, output

    def check_sums(self, out, archives):
        sums = glob.glob(os.path.join(out, "*-SHA256SUMS.txt"))
        self.assertEqual(len(sums), 1)
        with open(sums[0]) as f:
            listed = dict(reversed(line.split("  ", 1)) for line in f.read().splitlines())
        self.assertEqual(set(listed), {os.path.basename(p) for p in archives.values()})
        for name, digest in listed.items():
            with open(os.path.join(out, name), "rb") as f:
                self.assertEqual(hashlib.sha256(f.read()).hexdigest(), digest, name)
        checked = subprocess.run(["sha256sum", "-c", os.path.basename(sums[0])], cwd=out, capture_output=True,
                                 text=True, timeout=60)
        self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)

    def unpack(self, archives):
        """Companion and tools unpacked into one folder, as on a support
        engineer's machine; the symbols and the SDK apart."""
        folder = os.path.join(self.scratch, "client")
        places = {"companion": folder, "tools": folder, "debug": os.path.join(self.scratch, "symbols"),
                  "sdk": os.path.join(self.scratch, "sdk")}
        for target in set(places.values()):
            shutil.rmtree(target, ignore_errors=True)
        for kind, target in places.items():
            with zipfile.ZipFile(archives[kind]) as z:
                z.extractall(target)
        return places

    def check_stripped_and_linked(self, folder, symbols):
        for name in BINARIES:
            shipped = sections(os.path.join(folder, name))
            self.assertFalse({s for s in shipped if s.startswith(".debug")}, "%s is not stripped" % name)
            self.assertIn(".gnu_debuglink", shipped, name)
            symbol_file = os.path.join(symbols, name + ".debug")
            self.assertEqual(debuglink(os.path.join(folder, name), self.scratch), (name + ".debug", crc32_of(symbol_file)),
                             "%s names its symbol file and that file's CRC-32" % name)
            self.assertIn(".debug_info", sections(symbol_file), name)

    def test_unsigned_release_holds_every_archive_and_says_it_is_unsigned(self):
        out, archives, output = self.pack("package")
        self.assertIn("UNSIGNED", output, "cpack says that the release is unsigned")

        skin = skin_files()
        self.assertIn("UISkin/DazuvuVev.dui", skin)
        self.assertIn("UISkin/Default.skn", skin)
        self.assertEqual(files_of(archives["companion"]), COMPANION_FILES | skin)
        self.assertEqual(files_of(archives["tools"]), TOOL_FILES)
        self.assertEqual(files_of(archives["debug"]), {name + ".debug" for name in BINARIES})
        self.assertEqual(files_of(archives["sdk"]), SDK_FILES)
        self.check_sums(out, archives)
        places = self.unpack(archives)
        self.check_stripped_and_linked(places["companion"], places["debug"])
        for name in BINARIES:
            ok, report = signing.verify_signature(os.path.join(places["companion"], name), "/dev/null")
            self.assertFalse(ok, "%s is not signed:\n%s" % (name, report))
            self.assertIn("No signature found", report, name)

        # The notices: each runtime named, with the licence text from the
        # toolchain's packages as it is installed, in both archives.
        for kind in ("companion", "tools"):
            with zipfile.ZipFile(archives[kind]) as z:
                notices = z.read(NOTICES).decode("utf-8")
            self.assertNotIn("\n", notices.replace("\r\n", ""), "CR LF line ends for Windows")
            notices = notices.replace("\r\n", "\n")
            listing = notices[notices.index("Runtimes linked into the binaries"):notices.index("\nText 1:")]
            for runtime, licence in RUNTIMES.items():
                entry = re.search(r"^%s.*\n  linked from: (.*)\n  licence: (.*)$" % re.escape(runtime), listing,
                                  re.M)
                self.assertIsNotNone(entry, "%s is named in %s's notices:\n%s" % (runtime, kind, listing))
                numbers = [int(n) for n in re.findall(r"text (\d+) below", entry.group(2))]
                texts = [notices.split("\nText %d: " % n, 1)[1].split("\nText %d: " % (n + 1), 1)[0]
                         for n in numbers]
                self.assertTrue(any(licence in text for text in texts), "%s's licence text holds %r" % (
                    runtime, licence))
            for path in ("/usr/share/doc/mingw-w64-i686-dev/copyright", "/usr/share/common-licenses/GPL-3"):
                with open(path, encoding="utf-8") as f:
                    self.assertIn(f.read(), notices, "%s is copied whole" % path)

        # The SDK: its note's build command makes the sample client from the
        # unpacked SDK alone, and the client runs.
        sdk = places["sdk"]
        with open(os.path.join(sdk, "README.txt"), encoding="utf-8") as f:
            note = f.read()
        command = next(line.strip() for line in note.splitlines() if line.strip().startswith("i686-w64-mingw32-g++"))
        argv = shlex.split(command)
        argv[0] = "i686-w64-mingw32-g++-posix"  # the toolchain this build uses
        built = subprocess.run(argv, cwd=sdk, capture_output=True, text=True, timeout=300)
        self.assertEqual(built.returncode, 0, "%s\n%s%s" % (command, built.stdout, built.stderr))
        usage = subprocess.run(["wine", os.path.join(sdk, "SampleClient.exe")], capture_output=True, timeout=60,
                               stdin=subprocess.DEVNULL, env=self.env)
        self.assertEqual(usage.returncode, 2, usage.stderr)
        self.assertIn(b"usage: SampleClient", usage.stderr)
        with open(os.path.join(sdk, "docs", "client-protocol.md"), encoding="utf-8") as f:
            links = re.findall(r"\]\((\.\./[^)]+)\)", f.read())
        self.assertIn("../sample/SampleClient.cpp", links)
        for link in links:
            self.assertTrue(os.path.exists(os.path.join(sdk, "docs", link)), "the SDK's link %s leads nowhere" % link)
        with open(os.path.join(places["tools"], TOOLS_NOTE), encoding="utf-8") as f:
            self.assertIn("signature-refused  the setup's signature was refused", f.read())

    def test_signed_release_verifies_and_the_companion_runs_from_it(self):
        pki = signing.Pki(os.path.join(self.scratch, "pki"))
        vendor = pki.signer("Talvex", "Talvex")
        stamps = signing.TimestampServer(pki)
        self.addCleanup(stamps.stop)
        build = os.path.dirname(self.bed.built)
        out, archives, output = self.pack("signed", RELEASE_SIGN_CERT=vendor.pem,
                                          RELEASE_SIGN_KEY=vendor.encrypted_key("release pass"),
                                          RELEASE_SIGN_PASS="release pass", RELEASE_SIGN_TIMESTAMP_URL=stamps.url)
        self.assertNotIn("UNSIGNED", output)
        self.assertEqual(stamps.requests, len(BINARIES), "one time stamp per binary")
        self.assertEqual(glob.glob(os.path.join(build, "release-sign-*")), [], "the password file is gone")
        self.check_sums(out, archives)

        # A release meant to be signed never comes out unsigned: half the
        # settings, or a wrong password, stop the packing.
        for name, env in (("no key", dict(RELEASE_SIGN_CERT=vendor.pem)),
                          ("wrong password", dict(RELEASE_SIGN_CERT=vendor.pem, RELEASE_SIGN_PASS="wrong",
                                                  RELEASE_SIGN_KEY=vendor.encrypted_key("release pass"))),):
            refused = os.path.join(self.scratch, "refused")
            code, output = self.run_cpack(refused, env)
            self.assertNotEqual(code, 0, "%s:\n%s" % (name, output))
            self.assertIn("release signing", output, name)
            self.assertEqual(glob.glob(os.path.join(refused, "*.zip")), [], name)
            self.assertEqual(glob.glob(os.path.join(build, "release-sign-*")), [], "%s: no password file left" % name)

        places = self.unpack(archives)
        folder = places["companion"]
        self.check_stripped_and_linked(folder, places["debug"])
        trust = signing.trust_root(self, pki.root)
        for name in BINARIES:
            path = os.path.join(folder, name)
            ok, report = signing.verify_signature(path, pki.root.pem)
            self.assertTrue(ok, "%s:\n%s" % (name, report))
            self.assertIn("Timestamp Server Signature verification: ok", report, name)
            answer = signing.verify_trust(self.bed, path)
            self.assertEqual((answer.result, answer.organization), (0, "Talvex"), "%s: %s" % (name, answer.output))
        trust.remove()

        # The unpacked companion starts, finds its DLLs and skin (its window
        # is made from the skin), and ends in order.
        self.start_server()
        bed = kit.Bed(folder)
        ctl = kit.Ctl(bed)
        companion = kit.Companion(bed, ctl, env=self.env)
        self.addCleanup(companion.stop)
        companion.start()
        self.assertCtl(ctl.run("quit"))
        self.assertEqual(companion.wait_exit(30), 0)
        self.assertIn("GetMessage QUIT!", self.bed.log_messages())


if __name__ == "__main__":
    kit.main()
