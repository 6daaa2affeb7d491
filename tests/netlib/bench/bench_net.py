#!/usr/bin/env python3
"""Network library figures, as medians of alternating runs in one invocation.

  bench_net.py --bin build/bin [--size-mb 300] [--rounds 7] [--baseline-bin OTHER/bin] [--raw]

Runs inside the Wine test bed (scripts/bench-net.sh takes care of that).
Serves a file of SIZE MiB from the local test server on 127.0.0.1 and, round
after round with the order rotating so that no kind always runs first or
last, fetches it with the library, with a bare WinINet read loop that writes
a file, and with curl writing a file; then digests it with Md5CalFile,
md5sum and a bare BCrypt loop; and compares the library's peak working set
for that file with the one for a 1 MiB file. Prints one line per figure,
each ending with "ratio X.XX" (above 1 is better for the library, except for
the working set, where it is the big run over the small one). With
--baseline-bin the library of another build (say, of the main branch) joins
the same rotation, and a last line compares the two transfers.
"""

import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "server"))
from testserver import TestServer  # noqa: E402


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def netbench(exe, *args):
    out = subprocess.run(["wine", exe] + list(args), capture_output=True, text=True, timeout=600).stdout
    fields = dict(re.findall(r"(\w+)=(\S+)", out))
    if fields.get("ok") != "1":
        raise RuntimeError("netbench %s failed: %s" % (" ".join(args), out.strip()))
    return fields


def remove(path):
    if os.path.exists(path):
        os.remove(path)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--size-mb", type=int, default=300)
    ap.add_argument("--rounds", type=int, default=7)
    ap.add_argument("--baseline-bin")
    ap.add_argument("--raw", action="store_true", help="also print every run's figure (to stderr)")
    args = ap.parse_args()
    exe = os.path.join(os.path.abspath(args.bin), "netbench.exe")
    baseline = os.path.join(os.path.abspath(args.baseline_bin), "netbench.exe") if args.baseline_bin else None
    size = args.size_mb * 1024 * 1024

    base = tempfile.mkdtemp(prefix="nubra-bench-")
    root, out = os.path.join(base, "root"), os.path.join(base, "out")
    os.makedirs(root)
    os.makedirs(out)
    try:
        with open(os.path.join(root, "big.bin"), "wb") as f:
            for _ in range(args.size_mb):
                f.write(os.urandom(1024 * 1024))
        with open(os.path.join(root, "small.bin"), "wb") as f:
            f.write(os.urandom(1024 * 1024))
        server = TestServer(root).start()
        try:
            figures = run_rounds(exe, baseline, server, root, out, size, args.rounds)
        finally:
            server.stop()
    finally:
        shutil.rmtree(base, ignore_errors=True)
    if args.raw:
        for kind, values in sorted(figures.items()):
            print("raw %s: %s" % (kind, " ".join("%.3f" % v for v in values)), file=sys.stderr)
    report(figures, args.rounds, args.size_mb)
    return 0


def run_rounds(exe, baseline, server, root, out, size, rounds):
    big_url, small_url = server.url("/big.bin"), server.url("/small.bin")
    target = os.path.join(out, "download.exe")
    big = os.path.join(root, "big.bin")
    figures = {k: [] for k in ("lib", "bare", "curl", "md5", "md5sum", "bcrypt", "peak_big", "peak_small",
                               "baseline")}
    digests = set()

    def fetch(kind):
        remove(target)
        remove(target + ".part")
        remove(target + ".part.meta")
        # Each run starts with nothing of an earlier one waiting to be written
        # back, which would otherwise slow whichever run comes next.
        os.sync()
        if kind == "curl":
            text = subprocess.run(["curl", "-s", "--noproxy", "*", "-o", target, "-w", "%{time_total} %{size_download}",
                                   big_url], capture_output=True, text=True, timeout=600).stdout.split()
            seconds, got = float(text[0]), int(float(text[1]))
            if got != size:
                raise RuntimeError("curl fetched %d of %d bytes" % (got, size))
            figures["curl"].append(size / 1048576.0 / seconds)
            return
        fields = netbench(baseline if kind == "baseline" else exe, "lib" if kind == "baseline" else kind, big_url,
                          windows_path(target))
        if int(fields["bytes"]) != size and kind == "bare":
            raise RuntimeError("the bare loop fetched %s of %d bytes" % (fields["bytes"], size))
        if os.path.getsize(target) != size:
            raise RuntimeError("%s wrote %d of %d bytes" % (kind, os.path.getsize(target), size))
        figures[kind].append(float(fields["mbps"]))
        if kind == "lib":
            figures["peak_big"].append(int(fields["peak_ws_kb"]))

    def digest(kind):
        if kind == "md5sum":
            began = time.perf_counter()
            text = subprocess.run(["md5sum", big], capture_output=True, text=True, check=True).stdout
            figures["md5sum"].append(time.perf_counter() - began)
            digests.add(text.split()[0])
            return
        fields = netbench(exe, kind, windows_path(big))
        figures[kind].append(float(fields["seconds"]))
        digests.add(fields["md5"])

    # Whatever runs first after other work (the server's first big answer,
    # a digest) is slower whichever kind it is: one untimed transfer first,
    # then each kind of figure in rounds of its own.
    fetch("bare")
    for kind in figures:
        figures[kind].clear()
    transfers = ["bare", "lib", "curl"] + (["baseline"] if baseline else [])
    for i in range(rounds):
        n = i % len(transfers)
        for kind in transfers[n:] + transfers[:n]:
            fetch(kind)
    remove(target)
    hashes = ["md5sum", "md5", "bcrypt"]
    for i in range(rounds):
        for kind in hashes[i % 3:] + hashes[:i % 3]:
            digest(kind)
    small_target = os.path.join(out, "small.exe")
    for i in range(rounds):
        remove(small_target)
        fields = netbench(exe, "lib", small_url, windows_path(small_target))
        figures["peak_small"].append(int(fields["peak_ws_kb"]))
    if len(digests) != 1:
        raise RuntimeError("the digests disagree: %s" % sorted(digests))
    return figures


def report(figures, rounds, size_mb):
    med = {k: statistics.median(v) for k, v in figures.items() if v}
    runs = "median of %d alternating runs" % rounds
    print("transfer vs bare WinINet loop to a file (%d MiB): library %.1f MB/s, bare loop %.1f MB/s, %s, ratio %.2f"
          % (size_mb, med["lib"], med["bare"], runs, med["lib"] / med["bare"]))
    print("transfer vs curl to a file (%d MiB): library %.1f MB/s, curl %.1f MB/s, %s, ratio %.2f"
          % (size_mb, med["lib"], med["curl"], runs, med["lib"] / med["curl"]))
    print("digest vs md5sum (%d MiB): Md5CalFile %.3f s, md5sum %.3f s, %s, ratio %.2f"
          % (size_mb, med["md5"], med["md5sum"], runs, med["md5sum"] / med["md5"]))
    print("digest vs bare BCrypt loop (%d MiB): Md5CalFile %.3f s, bare loop %.3f s, %s, ratio %.2f"
          % (size_mb, med["md5"], med["bcrypt"], runs, med["bcrypt"] / med["md5"]))
    print("peak working set %d MiB vs 1 MiB: %d KB vs %d KB (difference %d KB), %s, ratio %.2f"
          % (size_mb, med["peak_big"], med["peak_small"], med["peak_big"] - med["peak_small"], runs,
             med["peak_big"] / med["peak_small"]))
    if "baseline" in med:
        print("transfer, this build vs baseline build (%d MiB): this %.1f MB/s, baseline %.1f MB/s, %s, ratio %.2f"
              % (size_mb, med["lib"], med["baseline"], runs, med["lib"] / med["baseline"]))


if __name__ == "__main__":
    sys.exit(main())
