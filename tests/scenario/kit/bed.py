"""The Wine prefix as the companion sees it: where its state file, upgrade
folder and log live, and how to reset them between scenarios."""

import glob
import os
import pwd
import shutil
import sys

_HERE = os.path.dirname(os.path.abspath(__file__))
_REPO = os.path.normpath(os.path.join(_HERE, "..", "..", ".."))
sys.path.insert(0, os.path.join(_REPO, "tools", "logdecode"))
import logdecode  # noqa: E402  (the log decoder's Python twin)

UPGRADE_FOLDER = "DazuvuvevUpgrade"
INI_SECTION = "UPGRADE"
INI_KEYS = ("version", "path", "overflags", "clearflags", "version_no_tips")
# A state file as the companion creates it: empty.
NEW_STATE_FILE = b""


# Every record is at level INFO; a failure's text starts with its severity.
SEVERITY_WORDS = ("warning: ", "error: ")
# How a run ended and when: keys the companion adds before every end.
RESULT_KEYS = ("result", "resulttime", "resultpid")


def strip_severity(message):
    for word in SEVERITY_WORDS:
        if message.startswith(word):
            return message[len(word):]
    return message


class BedError(RuntimeError):
    pass


# The programs' folders each bed of this process has made its own.
_OWN_BINS = set()


def _link_or_copy(src, dst):
    try:
        os.link(src, dst)
    except OSError:
        shutil.copy2(src, dst)


def _inside(path, root):
    path = os.path.realpath(path)
    root = os.path.realpath(root)
    return path == root or path.startswith(root + os.sep)


class Bed:
    """Folders of the prefix. Everything that is reset or written lies in
    the prefix or in the test bed's own HOME (Wine links Documents there)."""

    def __init__(self, bin_dir):
        self.prefix = os.environ.get("WINEPREFIX")
        self.home = os.environ.get("HOME")
        if not self.prefix or not os.path.isdir(os.path.join(self.prefix, "drive_c")):
            raise BedError("no booted Wine prefix: run this under scripts/winebed.sh STATE_DIR ...")
        if not self.home or os.path.realpath(self.home) == os.path.realpath(pwd.getpwuid(os.getuid()).pw_dir):
            raise BedError("HOME is the real home folder: run this under scripts/winebed.sh STATE_DIR ...")
        self.prefix = os.path.realpath(self.prefix)
        self.built = os.path.realpath(bin_dir)
        self.bin = self._own_bin(self.built)
        self.drive_c = os.path.join(self.prefix, "drive_c")
        self.user_dir = self._find_user_dir()
        self.appdata = os.path.join(self.user_dir, "AppData", "Roaming")
        self.upgrade_dir = os.path.join(self.appdata, UPGRADE_FOLDER)
        self.ini_path = os.path.join(self.upgrade_dir, "Upgrade.ini")
        # Wine 8 makes Documents a link to $HOME.
        self.documents = os.path.realpath(os.path.join(self.user_dir, "Documents"))
        self.log_dir = os.path.join(self.documents, "DazuvuVev", "log", "Upgrade")
        self.log_path = os.path.join(self.log_dir, "Upgrade.log")
        self.scratch_root = os.path.join(self.drive_c, "scenario")

    def _find_user_dir(self):
        users = os.path.join(self.drive_c, "users")
        for name in sorted(os.listdir(users)):
            if name != "Public" and os.path.isdir(os.path.join(users, name, "AppData", "Roaming")):
                return os.path.join(users, name)
        raise BedError("no user profile in %s" % users)

    def _own_bin(self, built):
        """The built programs in a folder of this bed's own, where the
        scenarios write the client's config.ini beside the companion without
        touching the beds that run beside this one. Links, made once per
        process, cost next to nothing and follow every build."""
        state = os.path.dirname(self.prefix)
        if _inside(built, state) or _inside(built, self.home):
            return built
        own = os.path.join(state, os.path.basename(built))
        if own not in _OWN_BINS:
            shutil.rmtree(own, ignore_errors=True)
            shutil.copytree(built, own, copy_function=_link_or_copy,
                            ignore=shutil.ignore_patterns("*.debug", "*.log", "*.ini"))
            _OWN_BINS.add(own)
        return own

    def exe(self, name):
        path = os.path.join(self.bin, name)
        if not os.path.isfile(path):
            raise BedError("%s is not built (expected %s)" % (name, path))
        return path

    # paths
    def to_windows(self, path):
        """The Windows form of a Unix path, as Wine maps it: C: for the
        prefix's drive_c, Z: for the rest of the file system."""
        path = os.path.abspath(path)
        real = os.path.realpath(path)
        if _inside(real, self.drive_c):
            rel = os.path.relpath(real, self.drive_c)
            return "C:\\" + ("" if rel == "." else rel.replace("/", "\\"))
        return "Z:" + path.replace("/", "\\")

    def _guard(self, path):
        if not (_inside(path, self.prefix) or _inside(path, self.home)):
            raise BedError("refusing to touch %s: outside the test bed" % path)
        return path

    def scratch(self, name):
        """A fresh folder of the prefix for one scenario's files."""
        path = self._guard(os.path.join(self.scratch_root, name))
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        return path

    # reset
    def reset(self):
        """Forgets everything the companion remembers: state file, upgrade
        folder and log (with its backups and crash dumps)."""
        shutil.rmtree(self._guard(self.upgrade_dir), ignore_errors=True)
        for path in glob.glob(glob.escape(self.log_path) + "*") + glob.glob(
                os.path.join(glob.escape(self.log_dir), "*.dmp")):
            os.remove(self._guard(path))

    # state file
    def read_ini(self, path=None):
        """Section "UPGRADE" as a dict of the five keys (missing ones empty),
        or None when the file does not exist."""
        path = path or self.ini_path
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            data = f.read()
        values = {key: "" for key in INI_KEYS}
        values.update(parse_ini(data).get(INI_SECTION.lower(), {}))
        return values

    def write_ini(self, values, path=None):
        """Prepares a state file the way the profile functions write one
        (ANSI, CR LF), for scenarios that start from a given state."""
        path = self._guard(path or self.ini_path)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        lines = ["[%s]" % INI_SECTION] + ["%s=%s" % (k, v) for k, v in values.items()]
        with open(path, "wb") as f:
            f.write(("\r\n".join(lines) + "\r\n").encode(logdecode.CODEPAGE))

    def ini_bytes(self):
        """The state file's bytes; None when it does not exist."""
        if not os.path.exists(self.ini_path):
            return None
        with open(self.ini_path, "rb") as f:
            return f.read()

    def ini_untouched(self):
        """True when the state file is as the companion creates it, with
        nothing written to it yet."""
        return self.ini_bytes() == NEW_STATE_FILE

    def upgrade_files(self):
        """Names in the upgrade folder, sorted; [] when it does not exist."""
        if not os.path.isdir(self.upgrade_dir):
            return []
        return sorted(os.listdir(self.upgrade_dir))

    # log
    def log_text(self):
        """The decoded log as text; "" when there is none."""
        if not os.path.exists(self.log_path):
            return ""
        return logdecode.decode(self.log_path)

    def log_records(self):
        """(timestamp, level, thread, source, function, line, message) tuples."""
        if not os.path.exists(self.log_path):
            return []
        return logdecode.read_records(self.log_path)

    def log_messages(self):
        """Every record's message, without the severity word ("warning: ",
        "error: ") that a failure's text starts with."""
        return [strip_severity(r[6]) for r in self.log_records()]

    def write_log(self, text_records):
        """Writes a log as the companion would: each (function, message) pair
        becomes one record, nibble-swapped code page 936 bytes."""
        os.makedirs(self._guard(self.log_dir), exist_ok=True)
        data = b""
        for i, (function, message) in enumerate(text_records):
            record = "2026-01-02 03:04:%02d.000 [INFO]\tThread[1]\t.\\Scenario\t%s: %d :\r\n%s\r\n\r\n" % (
                i % 60, function, i + 1, message)
            data += record.encode(logdecode.CODEPAGE) + b"\x00\r\n"
        with open(self.log_path, "wb") as f:
            f.write(logdecode.decode_bytes(data))


def parse_ini(data):
    """{section: {key: value}} with lower-case names, from the bytes of a
    profile file in any of the encodings the profile functions write."""
    if data.startswith(b"\xff\xfe"):
        text = data[2:].decode("utf-16-le", errors="replace")
    elif data.startswith(b"\xef\xbb\xbf"):
        text = data[3:].decode("utf-8", errors="replace")
    else:
        text = data.decode(logdecode.CODEPAGE, errors="replace")
    sections = {}
    current = None
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("[") and "]" in line:
            current = sections.setdefault(line[1:line.index("]")].strip().lower(), {})
        elif current is not None and "=" in line:
            key, _, value = line.partition("=")
            current.setdefault(key.strip().lower(), value.strip())
    return sections
