"""The upgrade companion's log as records: the nibble swap undone, the
records split out in one pass with bounded fields (no crafted log costs
more than its length), each record's severity, the filters by severity and
time, and the rotated backups in time order. Every byte of the file is
stored with its two 4-bit halves swapped; the text is ANSI of code page 936
and each record ends with a zero byte and CR LF.

    decode(path) -> str          the records' text
    split_records(data) -> list  (timestamp, level, thread, source, function, line, message)
    read_records(path) -> list   the same, straight from a log file

tools/logdecode/LogReport.cpp follows the same rules.
"""

import os
import re

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
# A prefix of a record's timestamp, at least the date; a "T" may stand for
# the blank, as in the state file's "resulttime".
_TIME = re.compile(r"^[0-9]{4}-[0-9][0-9]-[0-9][0-9]([ T][0-9][0-9](:[0-9][0-9](:[0-9][0-9](\.[0-9]{1,3})?)?)?)?$")
_TIME_OF_DAY = re.compile(r"^[0-9][0-9]:[0-9][0-9](:[0-9][0-9](\.[0-9]{1,3})?)?$")
_DATE_LENGTH = 10


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


def time_prefix(text):
    """A time from the command line as a prefix of a record's time stamp:
    "2026-01-02", "2026-01-02 03:04", "2026-01-02T03:04:05"; None when the
    text is no such time."""
    if not _TIME.match(text):
        return None
    return text[:_DATE_LENGTH] + text[_DATE_LENGTH:].replace("T", " ")


def join_date_and_time(argv, options=("--since", "--until")):
    """The arguments with "--since DATE HH:MM[...]", as an unquoted time to
    the minute reaches the program, taken as one value."""
    joined = []
    i = 0
    while i < len(argv):
        joined.append(argv[i])
        if argv[i] in options and i + 2 < len(argv) and len(argv[i + 1]) == _DATE_LENGTH and \
                _TIME.match(argv[i + 1]) and _TIME_OF_DAY.match(argv[i + 2]):
            joined.append(argv[i + 1] + " " + argv[i + 2])
            i += 3
            continue
        i += 1
    return joined
