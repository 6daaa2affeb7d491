#!/usr/bin/env python3
"""The program's own figures, each as medians of alternating runs and each
line ending with its ratio:

- end to end: order received -> setup started for a large setup, with the
  fixed 3000 ms pause after the download taken out, against its ideal
  (a bare WinINet download loop + one Md5CalFile + one process start),
  under a window manager as on the users' desktops (without one, Wine waits
  for it each time the shown window is hidden);
- idle CPU of the companion, hidden and with the waiting face shown, against
  a program that only runs the 10 ms instance watch (process and wineserver
  time together: timers and waits of a Wine process cost wineserver time);
- repaint cost of the skinned upgrade window against a plain window.

Runs inside the Wine test bed (scripts/winebed.sh); scripts/bench.sh calls it.
"""

import argparse
import calendar
import os
import shutil
import statistics
import subprocess
import sys
import time

REPO = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(REPO, "tests", "scenario"))
from kit.bed import Bed  # noqa: E402
from kit.case import wait_for  # noqa: E402
from kit.fakes import make_setup, read_setup_runs  # noqa: E402
from kit.net import serve  # noqa: E402
from kit.procs import Companion, Ctl, WineProcess  # noqa: E402
from kit.wm import WindowManager  # noqa: E402

# The pause the companion takes after the download before judging it.
SETTLE_PAUSE_S = 3.0
TICKS = os.sysconf("SC_CLK_TCK")


def median(values):
    return statistics.median(values) if values else float("nan")


def ratio(a, b):
    return a / b if b else float("inf")


# -- CPU time of Linux processes ----------------------------------------------

def cpu_seconds(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return 0.0
    return (int(fields[11]) + int(fields[12])) / TICKS  # utime + stime


def wineserver_pid():
    prefix = os.environ["WINEPREFIX"]
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open("/proc/%s/comm" % name) as f:
                if not f.read().startswith("wineserver"):
                    continue
            with open("/proc/%s/environ" % name, "rb") as f:
                if ("WINEPREFIX=%s" % prefix).encode() in f.read().split(b"\0"):
                    return int(name)
        except OSError:
            continue
    return None


def idle_cpu(pid, seconds):
    """CPU seconds per second of the process and the wineserver together."""
    server = wineserver_pid()
    before = cpu_seconds(pid) + (cpu_seconds(server) if server else 0)
    time.sleep(seconds)
    after = cpu_seconds(pid) + (cpu_seconds(server) if server else 0)
    return (after - before) / seconds


# -- runs ---------------------------------------------------------------------

class Bench:
    def __init__(self, args):
        self.args = args
        self.bed = Bed(args.bin)
        self.ctl = Ctl(self.bed)
        self.scratch = self.bed.scratch("perfbench")
        self.record = os.path.join(self.scratch, "fakesetup-runs.txt")
        self.watch = serve(os.path.join(self.scratch, "watch"))
        self.server = serve(os.path.join(self.scratch, "www"))
        self.env = dict(os.environ, FAKESETUP_RECORD=self.bed.to_windows(self.record),
                        NUBRA_TRACK_SERVER="127.0.0.1:%d" % self.watch.port)

    def close(self):
        self.server.stop()
        self.watch.stop()

    def companion(self):
        self.ctl.wait_gone(10000)
        self.bed.reset()
        return Companion(self.bed, self.ctl, env=self.env).start()

    def setup_started_at(self, before_count, timeout=600):
        """Wall-clock time at which the stand-in setup wrote its record."""
        if not wait_for(lambda: len(read_setup_runs(self.record)) > before_count, timeout, 0.02):
            raise RuntimeError("the setup was not started")
        return os.stat(self.record).st_mtime

    # end to end
    def publish(self, megabytes):
        path = os.path.join(self.server.root, "DazuvuvevSetup_9.9.exe")
        size, md5 = make_setup(self.bed, path, b"9.9" + b"\0" * (megabytes * 1024 * 1024))
        return path, size, md5

    def end_to_end(self, size, md5):
        companion = self.companion()
        try:
            runs = len(read_setup_runs(self.record))
            result = self.ctl.order(self.server.url("DazuvuvevSetup_9.9.exe"), "9.9", size=size, md5=md5,
                                    type="1", mode=0, timeout_ms=60000)
            if result.code != 0:
                raise RuntimeError("order refused: %s %s" % (result.out, result.err))
            # The user watches: the window is shown, so the setup is started
            # as soon as the download is verified.
            self.ctl.command("install")
            started = self.setup_started_at(runs)
            received = self.order_received_at()
            companion.wait_exit(60)
            return started - received - SETTLE_PAUSE_S
        finally:
            companion.stop()

    def order_received_at(self):
        for record in self.bed.log_records():
            if record[6].startswith("MakeCurrentSetupPath  "):
                stamp, _, millis = record[0].partition(".")
                return time.mktime(time.strptime(stamp, "%Y-%m-%d %H:%M:%S")) + int(millis) / 1000.0
        raise RuntimeError("the order was not logged")

    def ideal(self):
        target = os.path.join(self.scratch, "ideal", "DazuvuvevSetup_9.9.exe")
        shutil.rmtree(os.path.dirname(target), ignore_errors=True)
        os.makedirs(os.path.dirname(target))
        runs = len(read_setup_runs(self.record))
        done = subprocess.run(["wine", self.bed.exe("perfbench.exe"), "ideal",
                               self.server.url("DazuvuvevSetup_9.9.exe"), self.bed.to_windows(target)],
                              env=self.env, capture_output=True, timeout=600)
        fields = dict(f.split("=", 1) for f in done.stdout.decode().split())
        if fields.get("ok") != "1":
            raise RuntimeError("ideal run failed: %r" % done.stdout)
        started = self.setup_started_at(runs)
        return started - float(fields["start_epoch"]), float(fields["download"]), float(fields["digest"])

    # idle
    def idle_minimal(self, seconds):
        process = WineProcess([self.bed.exe("perfbench.exe"), "watch"], env=self.env)
        try:
            process.wait_line(lambda l: l.startswith("watching"), 30)
            time.sleep(self.args.settle)
            return idle_cpu(process.proc.pid, seconds)
        finally:
            process.kill()

    def idle_companion(self, seconds):
        """(hidden, shown) for one companion: hidden with no order, then with
        the waiting face on screen (the install command with no download
        shows it)."""
        companion = self.companion()
        try:
            time.sleep(self.args.settle)
            hidden = idle_cpu(companion.process.proc.pid, seconds)
            self.ctl.command("install")
            time.sleep(self.args.settle)
            shown = idle_cpu(companion.process.proc.pid, seconds)
            return hidden, shown
        finally:
            companion.stop()

    def repaint(self):
        done = subprocess.run(["wine", self.bed.exe("perfbench.exe"), "repaint", str(self.args.repaint_batches)],
                              cwd=self.bed.bin, env=self.env, capture_output=True, timeout=600)
        fields = dict(f.split("=", 1) for f in done.stdout.decode().split())
        if not fields:
            raise RuntimeError("repaint run failed: %r" % done.stderr)
        return {k: float(v) for k, v in fields.items()}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bin", default=os.path.join(REPO, "build", "bin"))
    parser.add_argument("--size-mb", type=int, default=300)
    parser.add_argument("--runs", type=int, default=3, help="alternating runs per comparison")
    parser.add_argument("--idle-seconds", type=float, default=20.0)
    parser.add_argument("--settle", type=float, default=3.0, help="seconds before an idle measurement")
    parser.add_argument("--repaint-batches", type=int, default=15)
    parser.add_argument("--only", choices=("e2e", "idle", "repaint"), action="append")
    args = parser.parse_args()
    only = set(args.only or ("e2e", "idle", "repaint"))

    bench = Bench(args)
    try:
        if "e2e" in only:
            _, size, md5 = bench.publish(args.size_mb)
            e2e, ideal, parts = [], [], []
            with WindowManager():
                for _ in range(args.runs):
                    e2e.append(bench.end_to_end(size, md5))
                    total, download, digest = bench.ideal()
                    ideal.append(total)
                    parts.append((download, digest, total - download - digest))
            m_e2e, m_ideal = median(e2e), median(ideal)
            print("end to end %d MiB (order -> setup started, 3000 ms pause excluded, under a window manager): "
                  "%.2f s vs ideal %.2f s (download %.2f + digest %.2f + start %.2f), ratio %.2f" % (
                      args.size_mb, m_e2e, m_ideal, median([p[0] for p in parts]), median([p[1] for p in parts]),
                      median([p[2] for p in parts]), ratio(m_e2e, m_ideal)), flush=True)
        if "idle" in only:
            minimal, hidden, shown = [], [], []
            for _ in range(args.runs):
                minimal.append(bench.idle_minimal(args.idle_seconds))
                h, s = bench.idle_companion(args.idle_seconds)
                hidden.append(h)
                shown.append(s)
            m_min, m_hidden, m_shown = median(minimal), median(hidden), median(shown)
            print("idle CPU, hidden, %g s: %.2f %% of a core vs minimal watch program %.2f %%, ratio %.2f" % (
                args.idle_seconds, 100 * m_hidden, 100 * m_min, ratio(m_hidden, m_min)), flush=True)
            print("idle CPU, waiting face shown, %g s: %.2f %% of a core vs minimal watch program %.2f %%, "
                  "ratio %.2f" % (args.idle_seconds, 100 * m_shown, 100 * m_min, ratio(m_shown, m_min)), flush=True)
        if "repaint" in only:
            # One invocation alternates its batches itself.
            r = bench.repaint()
            print("repaint after one progress report (speed, amount, bar): %.0f us vs plain window %.0f us "
                  "(standard controls %.0f us), ratio %.2f" % (
                      r["update_skin_us"], r["whole_plain_us"], r["update_controls_us"],
                      ratio(r["update_skin_us"], r["whole_plain_us"])), flush=True)
            print("repaint of the whole window: %.0f us vs plain window %.0f us, ratio %.2f" % (
                r["whole_skin_us"], r["whole_plain_us"], ratio(r["whole_skin_us"], r["whole_plain_us"])), flush=True)
    finally:
        bench.close()


if __name__ == "__main__":
    main()
