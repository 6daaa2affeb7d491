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
        check(logdecode.main([sample, "-o", out]) == 0, "command line -o")
        with open(out, "rb") as f:
            check(f.read() == raw, "-o writes the decoded bytes")

    print("%d passed, %d failed" % (len(passes), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
