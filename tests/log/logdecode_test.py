#!/usr/bin/env python3
"""The Python log decoder read against records that CLog really wrote: the
log's test executable writes a fixed sample under Wine, this script decodes it."""

import argparse
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools", "logdecode"))
import logdecode  # noqa: E402

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
    check(text.endswith(", outcome ended in order, last error %s [WARN] CUpgradeDlgDUI::OnCopyData: "
                        "rotated five \u4e0b\u8f7d\r\n" % five[0][0]) if five else False,
          "summary line: %r" % text.splitlines()[-1:])


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
            check(records[1][6] == "line one\r\nline two", "multi-line message: %r" % records[1][6])
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

    print("%d passed, %d failed" % (len(passes), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
