#!/usr/bin/env python3
"""Reads the upgrade companion's log on the Linux side.

Every byte of the file is stored with its two 4-bit halves swapped; the text
is ANSI of code page 936 and each record ends with a zero byte and CR LF.

    decode(path) -> str          the records' text
    split_records(data) -> list  (timestamp, level, thread, source, function, line, message)
    read_records(path) -> list   the same, straight from a log file
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


def decode_bytes(data):
    """The file's bytes with the swap undone."""
    return bytes(data).translate(_SWAP)


def decode(path):
    """The log's text, without the zero byte after each record."""
    with open(path, "rb") as f:
        raw = decode_bytes(f.read())
    return raw.replace(b"\x00", b"").decode(CODEPAGE, errors="replace")


def split_records(decoded):
    """Splits decoded bytes into record tuples; text that is no record
    (a torn end, foreign bytes) raises ValueError naming its position."""
    records = []
    pos = 0
    while pos < len(decoded):
        end = decoded.find(b"\x00\r\n", pos)
        if end < 0:
            raise ValueError("unterminated record at byte %d" % pos)
        chunk = decoded[pos:end]
        m = _HEADER.match(chunk)
        if m:
            ts, level, thread, source, function, line, message = m.groups()
        else:
            m = _FALLBACK.match(chunk)
            if not m:
                raise ValueError("malformed record at byte %d" % pos)
            ts, level, thread, source, line, function, message = m.groups()
        records.append((ts.decode("ascii"), level.decode("ascii"), int(thread),
                        source.decode(CODEPAGE, errors="replace"),
                        function.decode(CODEPAGE, errors="replace"), int(line),
                        message.decode(CODEPAGE, errors="replace")))
        pos = end + 3
    return records


def read_records(path):
    with open(path, "rb") as f:
        return split_records(decode_bytes(f.read()))


def main(argv=None):
    parser = argparse.ArgumentParser(description="Decodes the upgrade log.")
    parser.add_argument("log", help="the log file")
    parser.add_argument("-o", dest="output", help="write the decoded bytes to this file")
    args = parser.parse_args(argv)
    if args.output:
        # Decoding the log onto itself would destroy it.
        if os.path.exists(args.output) and os.path.samefile(args.log, args.output):
            sys.stderr.write("logdecode: the output file is the log itself: %s\n" % args.output)
            return 1
        with open(args.log, "rb") as f:
            data = decode_bytes(f.read())
        with open(args.output, "wb") as f:
            f.write(data)
    else:
        sys.stdout.write(decode(args.log))
    return 0


if __name__ == "__main__":
    sys.exit(main())
