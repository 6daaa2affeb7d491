#!/usr/bin/env python3
"""The release archives as a person who ships them would check them: packed
by CPack from this build, the companion's archive holds exactly what the
client's folder needs, the tools and the symbols come apart, every binary
is stripped and points at its symbols, the checksum list matches, and the
companion unpacked from the archive runs."""

import glob
import hashlib
import os
import shutil
import subprocess
import sys
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "scenario"))
import kit  # noqa: E402

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


COMPANION_FILES = {"DazuvuVevUpgrade.exe", "NubraSdk.dll", "VEXUI32.dll"}
TOOL_FILES = {"DazuvuVevUpgradeCtl.exe", "DazuvuVevLogDecode.exe"}
BINARIES = ["DazuvuVevUpgrade.exe", "NubraSdk.dll", "VEXUI32.dll"] + sorted(TOOL_FILES)


def files_of(archive):
    with zipfile.ZipFile(archive) as z:
        return {name for name in z.namelist() if not name.endswith("/")}


def sections(path):
    out = subprocess.run([OBJDUMP, "-h", path], capture_output=True, text=True, timeout=60).stdout
    return {line.split()[1] for line in out.splitlines() if line.strip()[:1].isdigit()}


def debuglink(path, scratch):
    """The file name that the binary's .gnu_debuglink section names."""
    section = os.path.join(scratch, "debuglink.bin")
    subprocess.run([OBJCOPY, "--dump-section", ".gnu_debuglink=" + section, path, section + ".exe"], check=True,
                   timeout=60)
    with open(section, "rb") as f:
        return f.read().split(b"\0", 1)[0].decode("ascii", errors="replace")


class ReleaseArchives(kit.ScenarioCase):

    def test_archives_hold_the_release_and_the_companion_runs_from_them(self):
        build = os.path.dirname(self.bed.bin)
        out = os.path.join(self.scratch, "package")
        packed = subprocess.run(["cpack", "--config", os.path.join(build, "CPackConfig.cmake"), "-B", out],
                                capture_output=True, text=True, timeout=300)
        self.assertEqual(packed.returncode, 0, packed.stdout + packed.stderr)

        def archive(kind):
            found = glob.glob(os.path.join(out, "DazuvuVevUpgrade-*-win32-%s.zip" % kind))
            self.assertEqual(len(found), 1, "one %s archive in %s" % (kind, os.listdir(out)))
            return found[0]
        companion_zip, tools_zip, debug_zip = archive("companion"), archive("tools"), archive("debug")

        skin = skin_files()
        self.assertIn("UISkin/DazuvuVev.dui", skin)
        self.assertIn("UISkin/Default.skn", skin)
        self.assertEqual(files_of(companion_zip), COMPANION_FILES | skin)
        self.assertEqual(files_of(tools_zip), TOOL_FILES)
        self.assertEqual(files_of(debug_zip), {name + ".debug" for name in BINARIES})

        sums = glob.glob(os.path.join(out, "*-SHA256SUMS.txt"))
        self.assertEqual(len(sums), 1)
        with open(sums[0]) as f:
            listed = dict(reversed(line.split("  ", 1)) for line in f.read().splitlines())
        self.assertEqual(set(listed), {os.path.basename(p) for p in (companion_zip, tools_zip, debug_zip)})
        for name, digest in listed.items():
            with open(os.path.join(out, name), "rb") as f:
                self.assertEqual(hashlib.sha256(f.read()).hexdigest(), digest, name)

        # Companion and tools unpacked into one folder, as on a support
        # engineer's machine; the symbols apart.
        folder = os.path.join(self.scratch, "client")
        symbols = os.path.join(self.scratch, "symbols")
        for source, target in ((companion_zip, folder), (tools_zip, folder), (debug_zip, symbols)):
            with zipfile.ZipFile(source) as z:
                z.extractall(target)
        for name in BINARIES:
            shipped = sections(os.path.join(folder, name))
            self.assertFalse({s for s in shipped if s.startswith(".debug")}, "%s is not stripped" % name)
            self.assertIn(".gnu_debuglink", shipped, name)
            self.assertEqual(debuglink(os.path.join(folder, name), self.scratch), name + ".debug")
            self.assertIn(".debug_info", sections(os.path.join(symbols, name + ".debug")), name)

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
        shutil.rmtree(out, ignore_errors=True)


if __name__ == "__main__":
    kit.main()
