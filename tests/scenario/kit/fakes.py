"""The stand-in setup program FakeSetup.exe: copies to serve, and the record
of its runs."""

import hashlib
import os
import shutil


def make_setup(bed, dest, tag=b""):
    """Copies FakeSetup.exe to dest (a Unix path). A tag is appended after the
    image, where Windows ignores it, so that versions differ in size and MD5
    but all still run. Returns (size, md5 in lower-case hex)."""
    shutil.copyfile(bed.exe("FakeSetup.exe"), dest)
    if tag:
        with open(dest, "ab") as f:
            f.write(tag if isinstance(tag, bytes) else tag.encode("utf-8"))
    with open(dest, "rb") as f:
        data = f.read()
    return len(data), hashlib.md5(data).hexdigest()


def read_setup_runs(record_path):
    """One dict per run (pid, path, cmdline), in the order they ran; [] when
    the setup never ran."""
    if not os.path.exists(record_path):
        return []
    runs = []
    with open(record_path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line:
                continue
            fields = {}
            # cmdline is last and may itself contain tabs.
            head, _, cmdline = line.partition("\tcmdline=")
            for part in head.split("\t"):
                key, _, value = part.partition("=")
                fields[key] = value
            fields["cmdline"] = cmdline
            fields["pid"] = int(fields.get("pid", "0"))
            runs.append(fields)
    return runs
