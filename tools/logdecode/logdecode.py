#!/usr/bin/env python3
"""Reads the upgrade companion's log on the Linux side.

Every byte of the file is stored with its two 4-bit halves swapped; the text
is ANSI of code page 936 and each record ends with a zero byte and CR LF.

    decode(path) -> str          the records' text
    split_records(data) -> list  (timestamp, level, thread, source, function, line, message)
    read_records(path) -> list   the same, straight from a log file

On the command line it prints the log with its rotated backups in order, as
UTF-8, optionally filtered by severity and time, then one line per run of
the companion and a one-line summary of the last run; DazuvuVevLogDecode.exe
prints the same bytes. Parsing is one pass over the bytes: split at each
record terminator, then each piece read against the record's layout with
bounded fields, so no crafted log costs more than its length.
"""

import argparse
import os
import re
import sys

CODEPAGE = "cp936"

_SWAP = bytes(((b & 0x0F) << 4) | (b >> 4) for b in range(256))
_TERMINATOR = b"\x00\r\n"
_MAX_DIGITS = 10
_MAX_LEVEL_LETTERS = 10
_TIME_SHAPE = b"dddd-dd-dd dd:dd:dd.ddd"
_DIGITS = frozenset(b"0123456789")
_UPPER = frozenset(b"ABCDEFGHIJKLMNOPQRSTUVWXYZ")

LEVELS = ("[TRACE]", "[DEBUG]", "[INFO]", "[WARN]", "[ERROR]", "[FATAL]", "[UNKNOWN]")
LEVEL_WARN = 3
LEVEL_ERROR = 4
WARNING_WORD = b"warning: "
ERROR_WORD = b"error: "
# A prefix of a record's timestamp, at least the date.
_TIME = re.compile(r"^\d{4}-\d\d-\d\d( \d\d(:\d\d(:\d\d(\.\d{1,3})?)?)?)?$")
# The record with which the companion's message loop ends in order.
END_OF_RUN = "GetMessage QUIT!"
BANNER_START = b"DazuvuVevUpgrade "
BANNER_MARK = b" started, command line: "
MAX_VERSION_CHARS = 64
ENDS_WORD = b"upgrade ends: "
RESULTS = ("setup-started", "user-declined", "hidden", "ready-waiting", "held-waiting", "download-failed",
           "digest-mismatch", "network-lost", "refused", "superseded")
MAX_ERROR_CHARS = 200
MAX_RUN_ERROR_CHARS = 80
MAX_REASON_CHARS = 120


def decode_bytes(data):
    """The file's bytes with the swap undone."""
    return bytes(data).translate(_SWAP)


def decode(path):
    """The log's text, without the zero byte after each record."""
    with open(path, "rb") as f:
        raw = decode_bytes(f.read())
    return raw.replace(b"\x00", b"").decode(CODEPAGE, errors="replace")


# ---- records ----------------------------------------------------------------

class Entry:
    """One piece of a log file: a record, or a stretch of damaged bytes (a
    torn end, foreign bytes) kept so that nothing is hidden. Texts are the
    file's bytes, unconverted."""

    def __init__(self, fields=None, fallback=False, damaged=None):
        # (time, level, thread, source, function, line, message) as bytes
        self.fields = fields
        self.fallback = fallback
        self.damaged = damaged

    @property
    def is_record(self):
        return self.fields is not None


def _matches_time_shape(data, length):
    if len(data) < length or length > len(_TIME_SHAPE):
        return False
    for i in range(length):
        if _TIME_SHAPE[i] == 0x64:  # 'd'
            if data[i] not in _DIGITS:
                return False
        elif data[i] != _TIME_SHAPE[i]:
            return False
    return True


def _take_number(data, pos, end_byte):
    """An optional '-' and 1 to 10 digits at pos, then end_byte: (number,
    position after end_byte), or None."""
    n = pos
    if n < len(data) and data[n] == 0x2D:
        n += 1
    digits = n
    while n < len(data) and n - digits < _MAX_DIGITS and data[n] in _DIGITS:
        n += 1
    if n == digits or n >= len(data) or data[n] != end_byte:
        return None
    return data[pos:n], n + 1


def _take_time_and_level(chunk):
    if not _matches_time_shape(chunk, 23) or len(chunk) < 26 or chunk[23] != 0x20 or chunk[24] != 0x5B:
        return None
    close = 25
    while close < len(chunk) and close - 25 < _MAX_LEVEL_LETTERS and chunk[close] in _UPPER:
        close += 1
    if close == 25 or close + 1 >= len(chunk) or chunk[close] != 0x5D or chunk[close + 1] != 0x09:
        return None
    return chunk[:23], chunk[24:close + 1], close + 2


def _parse_record(chunk):
    """"TIME [LEVEL]\\tThread[N]\\tSOURCE\\tFUNCTION: LINE :\\r\\nMESSAGE\\r\\n\\r\\n" """
    head = _take_time_and_level(chunk)
    if head is None:
        return None
    ts, level, pos = head
    if chunk[pos:pos + 7] != b"Thread[":
        return None
    taken = _take_number(chunk, pos + 7, 0x5D)
    if taken is None:
        return None
    thread, pos = taken
    if pos >= len(chunk) or chunk[pos] != 0x09:
        return None
    pos += 1
    line_end = chunk.find(b"\r\n", pos)
    source_end = chunk.find(b"\t", pos)
    if line_end < 0 or source_end < 0 or source_end > line_end:
        return None
    rest = source_end + 1
    if line_end < rest + 2 or chunk[line_end - 2:line_end] != b" :":
        return None
    digits = line_end - 2
    while digits > rest and line_end - 2 - digits < _MAX_DIGITS and chunk[digits - 1] in _DIGITS:
        digits -= 1
    if digits == line_end - 2:
        return None
    number = digits
    if number > rest and chunk[number - 1] == 0x2D:
        number -= 1
    if number < rest + 2 or chunk[number - 2:number] != b": ":
        return None
    message = line_end + 2
    if len(chunk) < message + 4 or chunk[-4:] != b"\r\n\r\n":
        return None
    return Entry((ts, level, thread, chunk[pos:source_end], chunk[rest:number - 2], chunk[number:line_end - 2],
                  chunk[message:len(chunk) - 4]))


def _parse_fallback(chunk):
    """The record written when a record could not be built:
    "TIME [LEVEL]\\tTHREAD SOURCE:LINE \\tFUNCTION:\\tMESSAGE" """
    head = _take_time_and_level(chunk)
    if head is None:
        return None
    ts, level, pos = head
    taken = _take_number(chunk, pos, 0x20)
    if taken is None:
        return None
    thread, pos = taken
    colon, tab = chunk.find(b":", pos), chunk.find(b"\t", pos)
    if colon < 0 or (0 <= tab < colon):
        return None
    source = chunk[pos:colon]
    taken = _take_number(chunk, colon + 1, 0x20)
    if taken is None:
        return None
    line, pos = taken
    if pos >= len(chunk) or chunk[pos] != 0x09:
        return None
    function = pos + 1
    tab = chunk.find(b"\t", function)
    if tab < 0 or tab == function or chunk[tab - 1] != 0x3A:
        return None
    return Entry((ts, level, thread, source, chunk[function:tab - 1], line, chunk[tab + 1:]), fallback=True)


def _parse_chunk(chunk):
    return _parse_record(chunk) or _parse_fallback(chunk)


def split_entries(decoded):
    """The entries of decoded bytes; neighbouring pieces that are no record
    form one damaged entry. None when the first bytes are no record."""
    entries = []
    pos = 0
    damaged_start = None
    damaged_end = 0
    while pos < len(decoded):
        found = decoded.find(_TERMINATOR, pos)
        end = len(decoded) if found < 0 else found
        entry = _parse_chunk(decoded[pos:end])
        if entry is not None:
            if damaged_start is not None:
                entries.append(Entry(damaged=decoded[damaged_start:damaged_end]))
                damaged_start = None
            entries.append(entry)
        else:
            if pos == 0:
                return None
            if damaged_start is None:
                damaged_start = pos
            damaged_end = end
        pos = len(decoded) if found < 0 else found + len(_TERMINATOR)
    if damaged_start is not None:
        entries.append(Entry(damaged=decoded[damaged_start:damaged_end]))
    return entries


def _record_tuple(entry, codepage=CODEPAGE):
    ts, level, thread, source, function, line, message = entry.fields
    return (ts.decode("ascii"), level.decode("ascii"), int(thread), source.decode(codepage, errors="replace"),
            function.decode(codepage, errors="replace"), int(line), message.decode(codepage, errors="replace"))


def split_records(decoded):
    """Splits decoded bytes into record tuples; text that is no record
    (a torn end, foreign bytes) raises ValueError naming its position."""
    records = []
    pos = 0
    while pos < len(decoded):
        end = decoded.find(_TERMINATOR, pos)
        if end < 0:
            raise ValueError("unterminated record at byte %d" % pos)
        entry = _parse_chunk(decoded[pos:end])
        if entry is None:
            raise ValueError("malformed record at byte %d" % pos)
        records.append(_record_tuple(entry))
        pos = end + len(_TERMINATOR)
    return records


def read_records(path):
    with open(path, "rb") as f:
        return split_records(decode_bytes(f.read()))


# ---- severity and filters -----------------------------------------------------

def level_number(text):
    """A level given by name (warn, [WARN]) or number; None if unknown."""
    if not text.isascii():
        return None
    name = text.upper().strip(" []")
    if len(name) == 1 and name in "0123456":
        return int(name)
    for number, level in enumerate(LEVELS):
        if level == "[%s]" % name:
            return number
    return None


def severity(entry):
    """The word that leads the text ("warning: ", "error: "), else the
    header's level: a level number, None for an unknown name."""
    message = entry.fields[6]
    if message.startswith(WARNING_WORD):
        return LEVEL_WARN
    if message.startswith(ERROR_WORD):
        return LEVEL_ERROR
    level = entry.fields[1].decode("ascii")
    return LEVELS.index(level) if level in LEVELS else None


def severity_name(entry):
    number = severity(entry)
    return entry.fields[1].decode("ascii") if number is None else LEVELS[number]


def message_without_severity(entry):
    message = entry.fields[6]
    for word in (WARNING_WORD, ERROR_WORD):
        if message.startswith(word):
            return message[len(word):]
    return message


def selected(entry, min_level, since, until):
    if min_level is None and since is None and until is None:
        return True
    if not entry.is_record:
        return False
    ts = entry.fields[0].decode("ascii")
    level = severity(entry)
    if min_level is not None and (level is None or level < min_level):
        return False
    if since is not None and ts[:len(since)] < since:
        return False
    if until is not None and ts[:len(until)] > until:
        return False
    return True


# ---- printing -----------------------------------------------------------------

def escape_controls(text):
    """Control characters (U+0000 to U+001F, U+007F to U+009F) as \\r, \\n,
    \\t or \\xNN, so that a log cannot steer the terminal it is read on."""
    out = []
    for ch in text:
        code = ord(ch)
        if code >= 0x20 and (code < 0x7F or code > 0x9F):
            out.append(ch)
        elif ch == "\r":
            out.append("\\r")
        elif ch == "\n":
            out.append("\\n")
        elif ch == "\t":
            out.append("\\t")
        else:
            out.append("\\x%02x" % code)
    return "".join(out)


# Code page 936 read unit by unit: a run of ASCII, a lead byte with its
# trail byte, or any other byte alone.
_GBK_UNIT = re.compile(rb"[\x00-\x7f]+|[\x81-\xfe][\x40-\x7e\x80-\xfe]|[\x80-\xff]")
_gbk_pairs = {}


def _gbk_pair(pair):
    """The character of a byte pair, or None where code page 936 does not
    define one; private-use characters (the user-defined areas, which some
    tables fill and others leave out) count as undefined."""
    if pair not in _gbk_pairs:
        try:
            ch = pair.decode("cp936")
        except UnicodeDecodeError:
            ch = None
        if ch is not None and (len(ch) != 1 or 0xE000 <= ord(ch) <= 0xF8FF):
            ch = None
        _gbk_pairs[pair] = ch
    return _gbk_pairs[pair]


def text_of(data, codepage):
    """Log bytes as text. In code page 936, the users' one, a byte or pair
    the code page does not define comes out as \\xNN per byte, as in
    DazuvuVevLogDecode.exe; other code pages decode as Python does."""
    if codepage != "cp936":
        return data.decode(codepage, errors="replace")
    out = []
    for unit in _GBK_UNIT.findall(data):
        if unit[0] < 0x80:
            out.append(unit.decode("ascii"))
        elif len(unit) == 2 and _gbk_pair(unit) is not None:
            out.append(_gbk_pair(unit))
        else:
            out.append("".join("\\x%02x" % b for b in unit))
    return "".join(out)


def _escaped(data, codepage):
    return escape_controls(text_of(data, codepage))


def printed_entry(entry, codepage):
    """The entry as printed, CR LF line ends: a record's own line breaks stay,
    its level shows its severity; a damaged stretch is one line."""
    if not entry.is_record:
        return "damaged: " + _escaped(entry.damaged, codepage) + "\r\n"
    ts, _, thread, source, function, line, message = entry.fields
    head = "%s %s\t" % (ts.decode("ascii"), severity_name(entry))
    if entry.fallback:
        return "%s%s %s:%s \t%s:\t%s\r\n" % (head, thread.decode("ascii"), _escaped(source, codepage),
                                              line.decode("ascii"), _escaped(function, codepage),
                                              _escaped(message, codepage))
    return "%sThread[%s]\t%s\t%s: %s :\r\n%s\r\n\r\n\r\n" % (
        head, thread.decode("ascii"), _escaped(source, codepage), _escaped(function, codepage), line.decode("ascii"),
        _escaped(message, codepage))


def _utf16_units(ch):
    return 2 if ord(ch) > 0xFFFF else 1


def one_line(text, limit):
    """Line breaks as spaces, blanks trimmed, controls escaped, cut to at
    most `limit` UTF-16 units (never inside a pair) with "..." when longer."""
    line = text.replace("\r\n", " ").replace("\r", " ").replace("\n", " ").strip(" \t")
    line = escape_controls(line)
    units = 0
    for i, ch in enumerate(line):
        units += _utf16_units(ch)
        if units > limit:
            return line[:i] + "..."
    return line


# ---- names of numbers -----------------------------------------------------------

# The statuses a download can end on: the library follows redirects itself
# and takes only 200 and 206, so anything else is the server's refusal.
HTTP_STATUS_NAMES = {
    200: "ok", 206: "partial content", 301: "moved permanently", 302: "found", 303: "see other",
    304: "not modified", 307: "temporary redirect", 308: "permanent redirect", 400: "bad request",
    401: "unauthorized", 403: "forbidden", 404: "not found", 405: "method not allowed",
    407: "proxy authentication required", 408: "request timeout", 410: "gone", 412: "precondition failed",
    416: "range not satisfiable", 429: "too many requests", 500: "internal server error", 501: "not implemented",
    502: "bad gateway", 503: "service unavailable", 504: "gateway timeout",
}

# What the network library reports: the last error of a WinINet call, the
# codes it sets itself, and the Windows errors of writing the download.
ERROR_CODE_NAMES = {
    2: "file not found", 3: "path not found", 5: "access denied", 8: "not enough memory", 14: "out of memory",
    19: "write protected", 21: "device not ready", 29: "write fault", 32: "sharing violation",
    33: "lock violation", 39: "disk full", 80: "file exists", 87: "invalid parameter", 112: "disk full",
    123: "invalid file name", 183: "already exists", 206: "file name too long", 995: "operation aborted",
    1224: "file in use by a mapped section", 1450: "insufficient system resources", 1460: "timed out",
    12001: "out of handles", 12002: "timed out", 12003: "extended error", 12004: "internal error",
    12005: "invalid URL", 12006: "unrecognized scheme", 12007: "name not resolved", 12008: "protocol not found",
    12009: "invalid option", 12012: "shut down", 12013: "incorrect user name", 12014: "incorrect password",
    12015: "login failure", 12016: "invalid operation", 12017: "operation cancelled",
    12018: "incorrect handle type", 12019: "incorrect handle state", 12026: "request pending",
    12028: "item not found", 12029: "cannot connect", 12030: "connection aborted", 12031: "connection reset",
    12032: "force retry", 12033: "invalid proxy request", 12036: "handle exists",
    12037: "certificate date invalid", 12038: "certificate name invalid", 12039: "redirect from http to https",
    12040: "redirect from https to http", 12044: "client certificate needed",
    12045: "invalid certificate authority", 12046: "client authentication not set up",
    12047: "async thread failed", 12048: "redirect scheme change", 12055: "certificate errors",
    12056: "certificate revocation unknown", 12057: "certificate revocation check failed",
    12150: "header not found", 12151: "downlevel server", 12152: "invalid server response",
    12153: "invalid header", 12154: "invalid query request", 12155: "header already exists",
    12156: "redirect failed", 12157: "secure channel error", 12158: "unable to cache file",
    12159: "TCP/IP not installed", 12160: "not redirected", 12163: "disconnected", 12164: "server unreachable",
    12165: "proxy server unreachable", 12166: "bad auto-proxy script",
    12167: "unable to download the auto-proxy script", 12169: "invalid certificate",
    12170: "certificate revoked", 12171: "failed due to a security check", 12172: "not initialized",
    12175: "decoding failed",
}

_ASCII_DIGITS = frozenset("0123456789")


def _number_after(text, word):
    """(digits, position of the word) for the first `word` followed by a
    number of 1 to 10 digits; (None, -1) when there is none."""
    pos = text.find(word)
    while pos >= 0:
        end = pos + len(word)
        while end < len(text) and end - pos - len(word) <= 10 and text[end] in _ASCII_DIGITS:
            end += 1
        count = end - pos - len(word)
        if 1 <= count <= 10:
            return text[pos + len(word):end], pos
        pos = text.find(word, pos + 1)
    return None, -1


def _named(label, digits, names):
    name = names.get(int(digits))
    return label + digits + (" (%s)" % name if name else "")


def error_gist(text):
    """The numbers of a record's text, named, the HTTP status first."""
    parts = []
    status, _ = _number_after(text, "HTTP status ")
    if status is not None and int(status) != 0:
        parts.append(_named("HTTP ", status, HTTP_STATUS_NAMES))
    error, at = _number_after(text, "error ")
    if error is not None and int(error) != 0:
        label = "network error " if at >= 8 and text[at - 8:at] == "network " else "error "
        parts.append(_named(label, error, ERROR_CODE_NAMES))
    return ", ".join(parts)


# ---- runs and the summary -----------------------------------------------------

class Run:
    def __init__(self, first, version):
        self.first = first
        self.end = first
        self.version = version
        self.ends = None
        self.quit = False
        self.last_error = None


def _banner_version(entry):
    message = entry.fields[6]
    if not message.startswith(BANNER_START):
        return None
    start = len(BANNER_START)
    mark = message.find(BANNER_MARK, start, start + MAX_VERSION_CHARS + len(BANNER_MARK))
    return None if mark < 0 else message[start:mark]


def split_runs(records):
    """Runs start at each start banner; before the first banner (older logs)
    at the record after the orderly end of the message loop."""
    runs = []
    banner_seen = False
    end_of_run = END_OF_RUN.encode("ascii")
    for i, record in enumerate(records):
        version = _banner_version(record)
        after_loop_end = not banner_seen and i > 0 and records[i - 1].fields[6] == end_of_run
        if not runs or version is not None or after_loop_end:
            runs.append(Run(i, version or b""))
        banner_seen = banner_seen or version is not None
        run = runs[-1]
        run.end = i + 1
        # The record that ends the run is its outcome, not its last error.
        if message_without_severity(record).startswith(ENDS_WORD):
            run.ends = run.ends or record
        elif severity(record) is not None and severity(record) >= LEVEL_WARN:
            run.last_error = record
        if record.fields[6] == end_of_run:
            run.quit = True
    return runs


def run_outcome(run, codepage):
    if run.ends is None:
        return "ended in order without an outcome record" if run.quit else "still running or ended without a record"
    rest = message_without_severity(run.ends)[len(ENDS_WORD):]
    for result in RESULTS:
        word = result.encode("ascii")
        if rest == word:
            return result
        if rest.startswith(word + b": "):
            reason = one_line(text_of(rest[len(word) + 2:], codepage), MAX_REASON_CHARS)
            return result + (": " + reason if reason else "")
    # Older companions wrote the reason alone.
    reason = one_line(text_of(rest, codepage), MAX_REASON_CHARS)
    return reason or "ended without a reason"


def _message_text(record, codepage):
    return text_of(message_without_severity(record), codepage)


def _run_error_text(record, codepage):
    message = _message_text(record, codepage)
    return error_gist(message) or one_line(message, MAX_RUN_ERROR_CHARS)


def _last_error_text(record, codepage):
    message = _message_text(record, codepage)
    gist = error_gist(message)
    return "%s %s %s: %s%s" % (record.fields[0].decode("ascii"), severity_name(record),
                               one_line(text_of(record.fields[4], codepage), MAX_ERROR_CHARS),
                               gist + "; " if gist else "", one_line(message, MAX_ERROR_CHARS))


def summary_text(entries, codepage=CODEPAGE):
    """One line per run, then "summary: ..." for the last run."""
    records = [e for e in entries if e.is_record]
    damaged = len(entries) - len(records)
    lines = []
    if not records:
        summary = "summary: no records"
    else:
        runs = split_runs(records)
        for number, run in enumerate(runs, 1):
            line = "run %d: %s to %s, %d records" % (number, records[run.first].fields[0].decode("ascii"),
                                                     records[run.end - 1].fields[0].decode("ascii"),
                                                     run.end - run.first)
            if run.version:
                line += ", companion " + one_line(text_of(run.version, codepage), MAX_VERSION_CHARS)
            line += ", outcome " + run_outcome(run, codepage)
            if run.last_error is not None:
                line += ", last error " + _run_error_text(run.last_error, codepage)
            lines.append(line + "\r\n")
        last = runs[-1]
        summary = "summary: %d records, run start %s, outcome %s, last error %s" % (
            len(records), records[last.first].fields[0].decode("ascii"), run_outcome(last, codepage),
            _last_error_text(last.last_error, codepage) if last.last_error is not None else "none")
    if damaged:
        summary += ", %d damaged" % damaged
    return "".join(lines) + summary + "\r\n"


# ---- the support tool -------------------------------------------------------

class NotALog(Exception):
    pass


def read_entries(path):
    """The file's entries. NotALog when its first bytes are no record:
    printing a foreign file as if it were a log would only mislead."""
    with open(path, "rb") as f:
        raw = f.read()
    entries = split_entries(decode_bytes(raw))
    if entries is None:
        if _matches_time_shape(raw, 23) and len(raw) > 24 and raw[23] == 0x20 and raw[24] == 0x5B:
            raise NotALog("%s is already decoded text, not the log file itself" % path)
        raise NotALog("%s is not an upgrade log (its first record cannot be read)" % path)
    return entries


def backup_number(name, base):
    """1 to 4 for "<base>.1" to "<base>.4" (the base compared ignoring
    case, as the file system does), 0 for any other name. Only ASCII digits
    count: a wider notion of a digit ("²") names no backup."""
    if len(name) != len(base) + 2 or name[len(base)] != "." or name[-1] not in "1234":
        return 0
    if name[:len(base)].lower() != base.lower():
        return 0
    return int(name[-1])


def backup_files(path):
    """The numbered backups beside the log, oldest first. Rotation fills the
    lowest free number, so after a backup was deleted by hand the numbers no
    longer follow time; the first record's time decides, then the number."""
    folder = os.path.dirname(path) or "."
    base = os.path.basename(path)
    try:
        names = os.listdir(folder)
    except OSError:
        return []
    ordered = []
    for name in names:
        number = backup_number(name, base)
        backup = os.path.join(folder, name)
        if number == 0 or os.path.isdir(backup):
            continue
        try:
            with open(backup, "rb") as f:
                head = decode_bytes(f.read(23))
        except OSError:
            head = b""
        ordered.append((head, number, backup))
    return [backup for _, _, backup in sorted(ordered)]


def main(argv=None):
    parser = argparse.ArgumentParser(
        description="Prints the upgrade log and its rotated backups, oldest first, as UTF-8 text, then one line "
                    "per run of the companion and a one-line summary of the last run. The level of each record "
                    "shows its severity; control characters are shown as \\r, \\n, \\t or \\xNN.")
    parser.add_argument("log", help="the log file (Upgrade.log); its backups Upgrade.log.1 to .4 are read too")
    parser.add_argument("-o", dest="output", help="write the text to this file instead of printing it")
    parser.add_argument("--level", help="only records of this severity or above (TRACE ... FATAL, or 0 to 6)")
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
            read_entries(args.log)  # refuses a foreign file
            data = decode_bytes(raw)
        else:
            files = ([] if args.no_backups else backup_files(args.log)) + [args.log]
            entries = []
            for path in files:
                try:
                    entries += read_entries(path)
                except NotALog as e:
                    if path == args.log:
                        raise
                    sys.stderr.write("logdecode: skipped: %s\n" % e)
            text = "".join(printed_entry(e, codepage) for e in entries
                           if selected(e, min_level, args.since, args.until))
            data = (text + summary_text(entries, codepage)).encode("utf-8", errors="replace")
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
