#!/usr/bin/env python3
"""Reads the upgrade companion's log on the Linux side: the command line,
and the names the tests and scripts import (decode, split_records,
read_records from logrecords; the rest beside it: logprint, lognames,
logruns).

On the command line it prints the log with its rotated backups in order, as
UTF-8, optionally filtered by severity and time, then one line per run of
the companion and a one-line summary of the last run; DazuvuVevLogDecode.exe
prints the same bytes. Parsing is one pass over the bytes: split at each
record terminator, then each piece read against the record's layout with
bounded fields, so no crafted log costs more than its length.
"""

import argparse
import os
import sys

from logrecords import (CODEPAGE, LEVELS, NotALog, backup_files, backup_number, decode, decode_bytes,  # noqa: F401
                        join_date_and_time, level_number, read_entries, read_records, selected, split_entries,
                        split_records, time_prefix)
from logprint import escape_controls, one_line, printed_entry, text_of  # noqa: F401
from lognames import ERROR_CODE_NAMES, HTTP_STATUS_NAMES, error_gist  # noqa: F401
from logruns import summary_text  # noqa: F401


def main(argv=None):
    parser = argparse.ArgumentParser(
        description="Prints the upgrade log and its rotated backups, oldest first, as UTF-8 text, then one line "
                    "per run of the companion and a one-line summary of the last run. The level of each record "
                    "shows its severity; control characters are shown as \\r, \\n, \\t or \\xNN.")
    parser.add_argument("log", help="the log file (Upgrade.log); its backups Upgrade.log.1 to .4 are read too")
    parser.add_argument("-o", dest="output", help="write the text to this file instead of printing it")
    parser.add_argument("--level", help="only records of this severity or above (TRACE ... FATAL, or 0 to 6)")
    parser.add_argument("--since", help="only records from this time on (YYYY-MM-DD[ hh[:mm[:ss]]], or with T "
                                        "for the blank)")
    parser.add_argument("--until", help="only records up to this time (same form; the whole minute etc.)")
    parser.add_argument("--no-backups", action="store_true", help="read only the named file")
    parser.add_argument("--codepage", type=int, default=936, help="code page of the log's text (default 936)")
    parser.add_argument("--raw", action="store_true",
                        help="write the decoded bytes of the named file unchanged (no filter, no summary)")
    args = parser.parse_args(join_date_and_time(sys.argv[1:] if argv is None else list(argv)))

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
        if value is not None:
            setattr(args, name, time_prefix(value))
            if getattr(args, name) is None:
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
