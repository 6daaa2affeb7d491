"""The log's records as printed: control characters escaped, code page 936
read unit by unit, one-line forms for the closing lines. The same bytes as
tools/logdecode/LogPrint.cpp."""

import re

from logrecords import severity_name


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
