#!/usr/bin/env python3
"""The Python log decoder read against records that CLog really wrote (the
log's test executable writes a fixed sample under Wine) and against crafted
logs (tests/log/craftedlogs.py): both decoders must print the same bytes."""

import argparse
import os
import re
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools", "logdecode"))
import logdecode  # noqa: E402
import craftedlogs  # noqa: E402  (beside this script)

failures = []
passes = []


def check(condition, what):
    if condition:
        passes.append(what)
    else:
        failures.append(what)
        print("FAILED: " + what)


def run_python(*args):
    return subprocess.run([sys.executable, os.path.join(ROOT, "tools", "logdecode", "logdecode.py")] + list(args),
                          capture_output=True, timeout=60)


def run_exe(bin_dir, log, *args):
    winlog = subprocess.run(["winepath", "-w", log], capture_output=True, text=True, timeout=60).stdout.strip()
    return subprocess.run(["wine", os.path.join(bin_dir, "DazuvuVevLogDecode.exe"), winlog] + list(args),
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=120)


def check_rotated_logs(bin_dir, log):
    """Both decoders print the same bytes for real rotated logs."""
    if not os.path.exists(log):
        check(False, "the rotated sample exists")
        return
    five = [r for r in logdecode.read_records(log) if r[6].startswith("rotated five")]
    check(len(five) == 1, "the rotated sample holds its warning")
    since = five[0][0][:19] if five else "2000-01-01"
    for options in ([], ["--level", "warn"], ["--since", since], ["--until", "2000-01-01"], ["--no-backups"]):
        ours = run_python(log, *options)
        theirs = run_exe(bin_dir, log, *options)
        what = "options %s" % options
        check(ours.returncode == 0 and theirs.returncode == 0,
              "%s: both succeed (%r %r)" % (what, ours.stderr, theirs.stderr))
        check(ours.stdout == theirs.stdout,
              "%s: the same text\n--- python\n%s\n--- exe\n%s" % (what, ours.stdout.decode("utf-8", "replace"),
                                                                  theirs.stdout.decode("utf-8", "replace")))
    text = run_python(log).stdout.decode("utf-8")
    order = [text.find(":\r\nrotated " + n) for n in ("two", "three", "four", "five")]
    check(-1 not in order and order == sorted(order) and ":\r\nrotated one" not in text,
          "backups in time order, the deleted one missing: %s" % order)
    check(text.endswith(", outcome ended in order without an outcome record, last error %s [WARN] "
                        "CUpgradeDlgDUI::OnCopyData: rotated five \u4e0b\u8f7d\r\n" % five[0][0]) if five else False,
          "summary line: %r" % text.splitlines()[-1:])


def same_from_both(bin_dir, log, *options):
    """Both decoders' output, checked to be the same bytes; the text."""
    ours, theirs = run_python(log, *options), run_exe(bin_dir, log, *options)
    what = "%s %s" % (os.path.basename(os.path.dirname(log)), list(options))
    check(ours.returncode == 0 and theirs.returncode == 0,
          "%s: both succeed (%r %r)" % (what, ours.stderr[-300:], theirs.stderr[-300:]))
    if ours.stdout != theirs.stdout:
        at = next((i for i, (a, b) in enumerate(zip(ours.stdout, theirs.stdout)) if a != b),
                  min(len(ours.stdout), len(theirs.stdout)))
        check(False, "%s: the same bytes; first difference at %d:\n--- python\n%r\n--- exe\n%r" % (
            what, at, ours.stdout[max(0, at - 200):at + 200], theirs.stdout[max(0, at - 200):at + 200]))
    else:
        check(True, "%s: the same bytes" % what)
    return ours.stdout.decode("utf-8", "replace"), ours.stderr.decode("utf-8", "replace")


def folder_with(tmp, name, log):
    folder = os.path.join(tmp, name)
    os.makedirs(folder)
    return log.write(os.path.join(folder, "Upgrade.log"))


# The network errors the library can report that support meets most.
NAMED_ERRORS = (12002, 12007, 12029, 12030, 12031, 12038, 12044, 12045, 12152, 12157, 12175, 12005, 12006, 12156,
                2, 5, 32, 112)


def check_crafted_logs(bin_dir, tmp):
    """Runs and their outcomes, named numbers, hostile and mutated logs: the
    same bytes from both decoders, and what support reads at the end."""
    runs = folder_with(tmp, "runs", craftedlogs.runs_log())
    later, _ = same_from_both(bin_dir, runs, "--since", "2026-03-04", "10:01")
    iso, _ = same_from_both(bin_dir, runs, "--since", "2026-03-04T10:00", "--until", "2026-03-04", "10:00")
    check(later.startswith("run 1: ") and iso.startswith("2026-03-04 10:00:01.001 [INFO]"),
          "a time to the minute, unquoted or with the T of resulttime: %r %r" % (later[:40], iso[:40]))
    text, _ = same_from_both(bin_dir, runs)
    check(text.count("\r\nrun ") == 7 and text.split("\r\n")[-2].startswith("summary: 27 records, "),
          "one line per run and the summary:\n%s" % text[-1500:])
    check(", last error HTTP 404 (not found)\r\n" in text and "version 6.0, URL http://127.0.0.1/v6.0/Setup.exe, "
          "outcome signature-refused: the setup's signature was refused, last error setup refused, its signature "
          "does not verify: trust result 0x800B0109 CERT_E_UNTRUSTEDROOT, chain status 0x01010021 (IS_NOT_TIME_VALID"
          ", IS_UNTRUSTED_ROOT, IS_PARTIAL_CHAIN, IS_OFFLINE_REVOCATION)\r\n" in text and
          "TRUST_E_NOSIGNATURE, chain status 0x00000000 (recovered)\r\n" in text,
          "a refusal's status without its 12152, a signature's cause and bits, the order, a recovered warning")

    # A last run's signature record: its cause and bits once, then the rest.
    for version, ends, record in craftedlogs.SIGNATURE_RUNS:
        log = craftedlogs.LogWriter().banner().record(record).ends(ends)
        summary = same_from_both(bin_dir, folder_with(tmp, "signature" + version, log))[0].split("\r\n")[-2]
        check(summary.count("trust result") == 1 and summary.count(record[-20:]) == 1,
              "the summary does not repeat the signature record: %r" % summary)

    statuses = sorted(logdecode.HTTP_STATUS_NAMES) + [418]
    errors = sorted(logdecode.ERROR_CODE_NAMES) + [12345]
    text, _ = same_from_both(bin_dir, folder_with(tmp, "named", craftedlogs.named_errors_log(statuses, errors)))
    unnamed = [code for code in NAMED_ERRORS if ", last error network error %d (" % code not in text]
    check(not unnamed, "every error the library reports is named: missing %r" % unnamed)
    check(", last error HTTP 404 (not found)\r\n" in text and ", last error HTTP 418\r\n" in text and
          ", last error network error 12345\r\n" in text, "statuses named, unknown numbers kept bare")

    # Hostile: control characters, a very long record, many tiny ones, the
    # piece that was quadratic; a "Upgrade.log.\u00b2" beside it, which is no
    # backup, and a real backup.
    log = folder_with(tmp, "hostile", craftedlogs.hostile_log())
    craftedlogs.write_superscript_backup(os.path.dirname(log))
    craftedlogs.LogWriter(day="2026-01-01").record("the old backup").write(log + ".1")
    started = time.monotonic()
    text, err = same_from_both(bin_dir, log)
    print("hostile log of %d bytes decoded by both in %.1f s" % (os.path.getsize(log), time.monotonic() - started))
    check(err == "", "no file was skipped or refused: %r" % err)
    raw = text.encode("utf-8")
    controls = sorted(set(re.findall(rb"[\x00-\x08\x0b\x0c\x0e-\x1f\x7f]|\xc2[\x80-\x9f]", raw)))
    check(not controls, "no control character reaches the terminal: %r" % controls)
    check("\\x1b[31mred\\x1b[0m bell\\x07 tab\\there del\\x7f\\r\\nsummary: 0 records, forged" in text and
          "Evil\\x1b]0;title\\x07::F" in text, "controls shown escaped in message and function")
    check(text.index("the old backup") < text.index("DazuvuVevUpgrade 1.0.0.1 started") and
          "not a backup" not in text, "the real backup read first, the superscript one left alone")
    check(text.count("\r\ndamaged: ") == 1, "the quadratic piece is one damaged stretch")
    last = text.split("\r\n")[-2]
    check(last.startswith("summary: 20006 records, run start 2026-03-04 10:00:01.001, outcome network-lost: the "
                          "network was lost during the download, last error ") and last.endswith(", 1 damaged"),
          "hostile summary: %r" % last[:300])

    for seed in (1, 2, 3):
        log = folder_with(tmp, "mutated%d" % seed, craftedlogs.mutated_log(seed))
        same_from_both(bin_dir, log)
        same_from_both(bin_dir, log, "--level", "warn")


def check_failures_without_traceback(tmp, decoded):
    """Support sees one clear line and exit code 1, never a traceback."""
    junk = os.path.join(tmp, "junk.bin")
    with open(junk, "wb") as f:
        f.write(b"MZ\x90\x00 not a log")
    cases = (("missing", os.path.join(tmp, "absent.log"), "absent.log"),
             ("a folder", tmp, "cannot read"),
             ("junk", junk, "is not an upgrade log"),
             ("decoded text", decoded, "already decoded"))
    for what, path, expected in cases:
        done = run_python(path)
        err = done.stderr.decode("utf-8", "replace")
        check(done.returncode == 1 and "Traceback" not in err and expected in err and done.stdout == b"",
              "%s: exit %d, %r" % (what, done.returncode, err))
    done = run_python(junk, "--level", "loud")
    check(done.returncode == 1 and b"unknown level" in done.stderr, "bad level: %r" % done.stderr)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as tmp:
        sample = os.path.join(tmp, "Upgrade.log")
        winpath = subprocess.run(["winepath", "-w", sample], capture_output=True, text=True,
                                 timeout=60).stdout.strip()
        env = dict(os.environ, LOG_SAMPLE_PATH=winpath)
        run = subprocess.run(["wine", os.path.join(args.bin, "log_tests.exe"),
                              "--gtest_filter=LogDecodeSample.*"],
                             env=env, capture_output=True, text=True, timeout=120)
        if run.returncode != 0 or not os.path.exists(sample):
            print(run.stdout, run.stderr)
            print("0 passed, 1 failed")
            return 1

        records = logdecode.read_records(sample)
        check(len(records) == 4, "four records, got %d" % len(records))
        if len(records) == 4:
            ts, level, thread, source, function, line, message = records[0]
            check(len(ts) == 23 and ts[4] == "-" and ts[19] == ".", "timestamp shape: " + ts)
            check(level == "[INFO]", "level: " + level)
            check(thread > 0, "thread id")
            check(source == ".\\UpgradeDlgDUI", "source: " + source)
            check(function == "CUpgradeDlgDUI::OnCopyData", "function: " + function)
            check(line == 120, "line: %d" % line)
            check(message == "\u4e0b\u8f7d Setup.exe", "Chinese message: %r" % message)
            # The log writes a line break inside a message out: no record can forge another.
            check(records[1][6] == "line one\\r\\nline two", "multi-line message: %r" % records[1][6])
            check(records[2][1:] == ("[ERROR]", thread, ".\\Log", "CLog::Log", 280,
                                     "Exception error,the params invalid"),
                  "fallback record: %r" % (records[2],))
            check(records[3][1] == "[FATAL]" and records[3][5] == 167 and
                  records[3][6] == "GetMessage QUIT!", "fatal record: %r" % (records[3],))

        text = logdecode.decode(sample)
        check("\u4e0b\u8f7d Setup.exe\r\n\r\n\r\n" in text, "decoded text holds the message and record ends")
        check("\x00" not in text, "no zero bytes in the decoded text")

        # A torn last record is reported, not silently dropped.
        with open(sample, "rb") as f:
            raw = logdecode.decode_bytes(f.read())
        try:
            logdecode.split_records(raw[:-2])
            check(False, "a torn record raises")
        except ValueError as e:
            check("unterminated" in str(e), "torn record message: %s" % e)

        out = os.path.join(tmp, "decoded.txt")
        check(logdecode.main([sample, "--raw", "-o", out]) == 0, "command line --raw -o")
        with open(out, "rb") as f:
            check(f.read() == raw, "--raw -o writes the decoded bytes")

        # The fallback record, a multi-line and a Chinese message: the same
        # text from both decoders.
        ours, theirs = run_python(sample), run_exe(args.bin, sample)
        check(ours.returncode == 0 and ours.stdout == theirs.stdout,
              "sample: the same text\n--- python\n%s\n--- exe\n%s" % (ours.stdout.decode("utf-8", "replace"),
                                                                      theirs.stdout.decode("utf-8", "replace")))
        check(ours.stdout.decode("utf-8").endswith(
                  ", last error %s [FATAL] CDazuvuVevUpgradeApp::InitInstance: GetMessage QUIT!\r\n" % records[3][0])
              if len(records) == 4 else False, "sample summary: %r" % ours.stdout[-200:])
        check_rotated_logs(args.bin, os.path.join(tmp, "rotated", "Upgrade.log"))
        check_failures_without_traceback(tmp, out)
        check_crafted_logs(args.bin, tmp)

    print("%d passed, %d failed" % (len(passes), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
