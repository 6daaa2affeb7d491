#!/usr/bin/env python3
"""Reads the upgrade companion's log on the Linux side.

Every byte of the file is stored with its two 4-bit halves swapped; the text
is ANSI of code page 936 and each record ends with a zero byte and CR LF.

    decode(path) -> str          the records' text
    split_records(data) -> list  (timestamp, level, thread, source, function, line, message)
    read_records(path) -> list   the same, straight from a log file

On the command line it prints the log with its rotated backups in order, as
UTF-8, optionally filtered by level and time, and ends with a one-line
summary of the last run; DazuvuVevLogDecode.exe prints the same bytes.
"""

import argparse
import os
import re
import sys

CODEPAGE = "cp936"

_SWAP = bytes(((b & 0x0F) << 4) | (b >> 4) for b in range(256))

_HEADER = re.compile(
    rb"^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) (\[[A-Z]+\])\tThread\[(-?\d+)\]\t([^\t]*)\t(.*?): (-?\d+) :\r\n(.*)\r\n\r\n$",
    re.S)
# Written when a record could not be built: no "Thread[" label, no empty line.
_FALLBACK = re.compile(
    rb"^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) (\[[A-Z]+\])\t(-?\d+) ([^:\t]*):(-?\d+) \t([^\t]*):\t(.*)$",
    re.S)

LEVELS = ("[TRACE]", "[DEBUG]", "[INFO]", "[WARN]", "[ERROR]", "[FATAL]", "[UNKNOWN]")
# A prefix of a record's timestamp, at least the date.
_TIME = re.compile(r"^\d{4}-\d\d-\d\d( \d\d(:\d\d(:\d\d(\.\d{1,3})?)?)?)?$")
# What a decoded log starts with, to tell it from a foreign file.
_DECODED_START = re.compile(rb"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[")
# The record with which the companion's message loop ends in order.
END_OF_RUN = "GetMessage QUIT!"
_DOWNLOAD_STATE = re.compile(r"^Receive WM_MSG_DOWNLOAD, t->iState=(-?\d+)")
# Records of failures that older builds logged at INFO level.
_FAILURE_WORDS = re.compile(r"fail|error|refused|cutdown|is NULL|not started|iState=3", re.I)


def decode_bytes(data):
    """The file's bytes with the swap undone."""
    return bytes(data).translate(_SWAP)


def decode(path):
    """The log's text, without the zero byte after each record."""
    with open(path, "rb") as f:
        raw = decode_bytes(f.read())
    return raw.replace(b"\x00", b"").decode(CODEPAGE, errors="replace")


def _match_record(chunk, codepage=CODEPAGE):
    m = _HEADER.match(chunk)
    if m:
        ts, level, thread, source, function, line, message = m.groups()
    else:
        m = _FALLBACK.match(chunk)
        if not m:
            return None
        ts, level, thread, source, line, function, message = m.groups()
    return (ts.decode("ascii"), level.decode("ascii"), int(thread),
            source.decode(codepage, errors="replace"),
            function.decode(codepage, errors="replace"), int(line),
            message.decode(codepage, errors="replace"))


def split_records(decoded):
    """Splits decoded bytes into record tuples; text that is no record
    (a torn end, foreign bytes) raises ValueError naming its position."""
    records = []
    pos = 0
    while pos < len(decoded):
        end = decoded.find(b"\x00\r\n", pos)
        if end < 0:
            raise ValueError("unterminated record at byte %d" % pos)
        record = _match_record(decoded[pos:end])
        if record is None:
            raise ValueError("malformed record at byte %d" % pos)
        records.append(record)
        pos = end + 3
    return records


def read_records(path):
    with open(path, "rb") as f:
        return split_records(decode_bytes(f.read()))


# ---- the support tool -------------------------------------------------------

class NotALog(Exception):
    pass


class Entry:
    """One piece of a log file as printed: a record, or damaged bytes
    (a torn end, foreign bytes) kept so that nothing is hidden."""

    def __init__(self, text, record):
        self.text = text        # the record as written, without its zero byte
        self.record = record    # the tuple of split_records, None when damaged


def read_entries(path, codepage=CODEPAGE):
    """The file's entries. NotALog when its first bytes are no record:
    printing a foreign file as if it were a log would only mislead."""
    with open(path, "rb") as f:
        raw = f.read()
    decoded = decode_bytes(raw)
    entries = []
    pos = 0
    while pos < len(decoded):
        end = decoded.find(b"\x00\r\n", pos)
        chunk = decoded[pos:] if end < 0 else decoded[pos:end]
        record = _match_record(chunk, codepage)
        if record is None and pos == 0:
            if _DECODED_START.match(raw):
                raise NotALog("%s is already decoded text, not the log file itself" % path)
            raise NotALog("%s is not an upgrade log (its first record cannot be read)" % path)
        text = chunk.replace(b"\x00", b"") + (b"" if end < 0 else b"\r\n")
        entries.append(Entry(text.decode(codepage, errors="replace"), record))
        pos = len(decoded) if end < 0 else end + 3
    return entries


def backup_files(path):
    """The numbered backups beside the log, oldest first. Rotation fills the
    lowest free number, so after a backup was deleted by hand the numbers no
    longer follow time; the first record's time decides, then the number."""
    folder = os.path.dirname(path) or "."
    base = os.path.basename(path)
    found = []
    try:
        names = os.listdir(folder)
    except OSError:
        return []
    for name in names:
        if name.startswith(base + ".") and name[len(base) + 1:].isdigit():
            found.append((int(name[len(base) + 1:]), os.path.join(folder, name)))
    ordered = []
    for number, backup in found:
        try:
            with open(backup, "rb") as f:
                head = decode_bytes(f.read(64))
        except OSError:
            head = b""
        stamp = head[:23].decode("ascii", errors="replace")
        ordered.append((stamp, number, backup))
    return [backup for _, _, backup in sorted(ordered)]


def level_number(text):
    """A level given by name (warn, [WARN]) or number; None if unknown."""
    name = text.upper().strip(" []")
    if len(name) == 1 and name in "0123456":
        return int(name)
    for number, level in enumerate(LEVELS):
        if level == "[%s]" % name:
            return number
    return None


def _one_line(text, limit=200):
    line = text.replace("\r\n", " ").replace("\n", " ").replace("\r", " ").strip(" \t")
    return line if len(line) <= limit else line[:limit] + "..."


def summary_line(entries):
    """One line for support: when the last run started, how it ended, its
    last error."""
    records = [e.record for e in entries if e.record is not None]
    damaged = len(entries) - len(records)
    if not records:
        text = "summary: no records"
    else:
        # The last run: after the previous orderly end, up to the end of the
        # log; a log that ends with an orderly end closes the last run there.
        ends = [i for i, r in enumerate(records) if r[6] == END_OF_RUN]
        start = 0
        if ends:
            start = ends[-1] + 1 if ends[-1] + 1 < len(records) else (ends[-2] + 1 if len(ends) > 1 else 0)
        run = records[start:]
        parts = []
        states = [int(m.group(1)) for m in (_DOWNLOAD_STATE.match(r[6]) for r in run) if m]
        if states and states[-1] == 2:
            parts.append("download complete")
        elif states and states[-1] == 3:
            parts.append("download failed")
        parts.append("ended in order" if run[-1][6] == END_OF_RUN else "no orderly end (still running or stopped)")
        errors = [r for r in run if level_number(r[1]) is not None and level_number(r[1]) >= 3]
        if not errors:
            errors = [r for r in run if _FAILURE_WORDS.search(r[6])]
        last_error = "none"
        if errors:
            r = errors[-1]
            last_error = "%s %s %s: %s" % (r[0], r[1], r[4], _one_line(r[6]))
        text = "summary: %d records, run start %s, outcome %s, last error %s" % (
            len(records), run[0][0], ", ".join(parts), last_error)
    if damaged:
        text += ", %d damaged" % damaged
    return text + "\r\n"


def selected(entry, min_level, since, until):
    if min_level is None and since is None and until is None:
        return True
    if entry.record is None:
        return False
    ts, level = entry.record[0], level_number(entry.record[1])
    if min_level is not None and (level is None or level < min_level):
        return False
    if since is not None and ts[:len(since)] < since:
        return False
    if until is not None and ts[:len(until)] > until:
        return False
    return True


def main(argv=None):
    parser = argparse.ArgumentParser(
        description="Prints the upgrade log and its rotated backups, oldest first, as UTF-8 text "
                    "with a one-line summary at the end.")
    parser.add_argument("log", help="the log file (Upgrade.log); its backups Upgrade.log.N are read too")
    parser.add_argument("-o", dest="output", help="write the text to this file instead of printing it")
    parser.add_argument("--level", help="only records of this level or above (TRACE ... FATAL, or 0 to 6)")
    parser.add_argument("--since", help="only records from this time on (YYYY-MM-DD[ hh[:mm[:ss]]])")
    parser.add_argument("--until", help="only records up to this time (same form; the whole minute etc.)")
    parser.add_argument("--no-backups", action="store_true", help="read only the named file")
    parser.add_argument("--codepage", type=int, default=936, help="code page of the log's text (default 936)")
    parser.add_argument("--raw", action="store_true",
                        help="write the decoded bytes of the named file unchanged (no filter, no summary)")
    args = parser.parse_args(argv)

    def fail(message):
        sys.stderr.write("logdecode: %s\n" % message)
        return 1

    min_level = None
    if args.level is not None:
        min_level = level_number(args.level)
        if min_level is None:
            return fail("unknown level %r (TRACE, DEBUG, INFO, WARN, ERROR, FATAL or 0 to 6)" % args.level)
    for name in ("since", "until"):
        value = getattr(args, name)
        if value is not None and not _TIME.match(value):
            return fail("--%s takes a time like 2026-01-02 03:04:05, not %r" % (name, value))
    codepage = "cp%d" % args.codepage
    try:
        "".encode(codepage)
    except LookupError:
        return fail("unknown code page %d" % args.codepage)
    # Writing over the log would destroy the only copy of it.
    if args.output and os.path.exists(args.output) and os.path.exists(args.log) and \
            os.path.samefile(args.log, args.output):
        return fail("the output file is the log itself: %s" % args.output)

    try:
        if args.raw:
            with open(args.log, "rb") as f:
                raw = f.read()
            read_entries(args.log, codepage)  # refuses a foreign file
            data = decode_bytes(raw)
        else:
            files = ([] if args.no_backups else backup_files(args.log)) + [args.log]
            entries = []
            for path in files:
                try:
                    entries += read_entries(path, codepage)
                except NotALog as e:
                    if path == args.log:
                        raise
                    sys.stderr.write("logdecode: skipped: %s\n" % e)
            text = "".join(e.text for e in entries if selected(e, min_level, args.since, args.until))
            data = (text + summary_line(entries)).encode("utf-8")
    except NotALog as e:
        return fail(str(e))
    except OSError as e:
        return fail("cannot read %s: %s" % (e.filename or args.log, e.strerror or e))

    if args.output:
        try:
            with open(args.output, "wb") as f:
                f.write(data)
        except OSError as e:
            return fail("cannot write %s: %s" % (args.output, e.strerror or e))
    else:
        sys.stdout.flush()
        sys.stdout.buffer.write(data)
        sys.stdout.buffer.flush()
    return 0


if __name__ == "__main__":
    sys.exit(main())
