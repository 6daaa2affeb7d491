"""The log's runs and how each ended, for the lines that close the decoded
log: one line per run of the companion, then the one-line summary of the
last run that support greps for ("summary: "). The same text as
tools/logdecode/LogRuns.cpp."""

from logrecords import LEVEL_WARN, message_without_severity, severity, severity_name
from logprint import one_line, text_of
from lognames import error_gist, signature_gist, signature_rest

CODEPAGE = "cp936"
# The record with which the companion's message loop ends in order.
END_OF_RUN = "GetMessage QUIT!"
BANNER_START = b"DazuvuVevUpgrade "
BANNER_MARK = b" started, command line: "
MAX_VERSION_CHARS = 64
ENDS_WORD = b"upgrade ends: "
RESULTS = ("setup-started", "user-declined", "hidden", "ready-waiting", "held-waiting", "download-failed",
           "digest-mismatch", "network-lost", "refused", "superseded", "signature-refused", "could-not-check",
           "start-failed")
# The endings in which the upgrade went through or waits for the client:
# a failure before them was overcome.
RECOVERED_RESULTS = ("setup-started", "user-declined", "hidden", "ready-waiting", "held-waiting")
RECOVERED_MARK = " (recovered)"
# "order accepted: mode M, type T, version V, size S, MD5 D, URL U"
ORDER_WORD = b"order accepted: "
ORDER_VERSION = b", version "
ORDER_SIZE = b", size "
ORDER_URL = b", URL "
MAX_URL_CHARS = 120
MAX_ERROR_CHARS = 200
MAX_RUN_ERROR_CHARS = 80
MAX_REASON_CHARS = 120


class Run:
    def __init__(self, first, version):
        self.first = first
        self.end = first
        self.version = version
        self.ends = None
        self.quit = False
        self.order = None
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
        elif message_without_severity(record).startswith(ORDER_WORD):
            run.order = record
        if record.fields[6] == end_of_run:
            run.quit = True
    return runs


def order_version_and_url(record, codepage):
    """The ordered version and address of an accepted order's record, each
    on one short line; None when the record does not have their shape."""
    rest = message_without_severity(record)[len(ORDER_WORD):]
    version = rest.find(ORDER_VERSION)
    size = rest.find(ORDER_SIZE, version + len(ORDER_VERSION)) if version >= 0 else -1
    url = rest.find(ORDER_URL, size) if size >= 0 else -1
    if url < 0:
        return None
    return (one_line(text_of(rest[version + len(ORDER_VERSION):size], codepage), MAX_VERSION_CHARS),
            one_line(text_of(rest[url + len(ORDER_URL):], codepage), MAX_URL_CHARS))


def run_result(run):
    """The run's result word, or None."""
    if run.ends is None:
        return None
    rest = message_without_severity(run.ends)[len(ENDS_WORD):]
    for result in RESULTS:
        word = result.encode("ascii")
        if rest == word or rest.startswith(word + b": "):
            return result
    return None


def _recovered(run):
    return RECOVERED_MARK if run_result(run) in RECOVERED_RESULTS else ""


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
    # A signature's gist is the record's own text with the status's bits
    # named: only what follows the status comes after it, not the text again.
    if signature_gist(message):
        text = gist + one_line(signature_rest(message), MAX_ERROR_CHARS)
    else:
        text = (gist + "; " if gist else "") + one_line(message, MAX_ERROR_CHARS)
    return "%s %s %s: %s" % (record.fields[0].decode("ascii"), severity_name(record),
                             one_line(text_of(record.fields[4], codepage), MAX_ERROR_CHARS), text)


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
            order = order_version_and_url(run.order, codepage) if run.order is not None else None
            if order is not None:
                line += ", version %s, URL %s" % order
            line += ", outcome " + run_outcome(run, codepage)
            if run.last_error is not None:
                line += ", last error " + _run_error_text(run.last_error, codepage) + _recovered(run)
            lines.append(line + "\r\n")
        last = runs[-1]
        summary = "summary: %d records, run start %s, outcome %s, last error %s" % (
            len(records), records[last.first].fields[0].decode("ascii"), run_outcome(last, codepage),
            _last_error_text(last.last_error, codepage) + _recovered(last) if last.last_error is not None else "none")
    if damaged:
        summary += ", %d damaged" % damaged
    return "".join(lines) + summary + "\r\n"
