"""Wine processes of a scenario: the console tool, the stand-in client and
the companion itself. Every process started here is ended by its own handle,
never by name."""

import collections
import os
import shutil
import subprocess
import threading
import time

CTL_EXE = "DazuvuVevUpgradeCtl.exe"
COMPANION_EXE = "DazuvuVevUpgrade.exe"
CLIENT_EXE = "Dazuvuvev.exe"
UPGRADE_ARG = "DazuvuVevNeedUpgrade:user:pass"

CtlResult = collections.namedtuple("CtlResult", "code out err")


class WineProcess:
    """One background wine process whose output lines are collected."""

    def __init__(self, argv, cwd=None, env=None, stdin=subprocess.DEVNULL):
        self.argv = list(argv)
        self.proc = subprocess.Popen(["wine"] + self.argv, cwd=cwd, env=env, stdin=stdin,
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.lines = []
        self._cond = threading.Condition()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for raw in iter(self.proc.stdout.readline, b""):
            with self._cond:
                self.lines.append(raw.decode("utf-8", errors="replace").rstrip("\r\n"))
                self._cond.notify_all()
        with self._cond:
            self._cond.notify_all()

    def wait_line(self, predicate, timeout=20):
        """The first output line for which predicate holds; None on time-out
        or when the process ended without one."""
        deadline = time.monotonic() + timeout
        with self._cond:
            while True:
                for line in self.lines:
                    if predicate(line):
                        return line
                left = deadline - time.monotonic()
                if left <= 0 or (self.proc.poll() is not None and not self._reader.is_alive()):
                    return None
                self._cond.wait(min(left, 0.2))

    def running(self):
        return self.proc.poll() is None

    def wait(self, timeout=60):
        """The exit code, or None if the process still runs after timeout."""
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    @property
    def returncode(self):
        return self.proc.poll()

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(10)
        self._reader.join(5)
        if self.proc.stdin:
            self.proc.stdin.close()
        # A program the process started (Wine's desktop process, a setup)
        # may still hold the pipe; closing it under the blocked reader would
        # wait forever, so the reader keeps it until that program ends.
        if not self._reader.is_alive():
            self.proc.stdout.close()


class Ctl:
    """The console tool, run to completion for each call."""

    def __init__(self, bed):
        self.bed = bed
        self.exe = bed.exe(CTL_EXE)
        self.pending = []

    def run(self, *args, timeout=120, env=None, background=False):
        """A CtlResult once the tool has ended; with background=True the
        running WineProcess instead (an order or a sent prompt waits until
        the companion's modal box is answered), ended by stop_pending()."""
        if background:
            process = WineProcess([self.exe] + [str(a) for a in args], env=env)
            self.pending.append(process)
            return process
        done = subprocess.run(["wine", self.exe] + [str(a) for a in args], stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=timeout, env=env)
        return CtlResult(done.returncode, done.stdout.decode("utf-8", errors="replace"),
                         done.stderr.decode("utf-8", errors="replace"))

    def stop_pending(self):
        for process in self.pending:
            process.kill()
        self.pending = []

    def order(self, url, version, size=None, md5=None, file=None, type=None, mode=None, background=False,
              **options):
        """Sends an order. file is a Unix path; options are further named
        options of the tool: wait_ms=5000 becomes --wait-ms 5000, a True
        value a bare flag."""
        args = ["order", "--url", url, "--version", version]
        for name, value in (("--size", size), ("--md5", md5), ("--type", type), ("--mode", mode)):
            if value is not None:
                args += [name, value]
        if file is not None:
            args += ["--file", self.bed.to_windows(file)]
        return self.run(*(args + _options(options)), background=background)

    def command(self, name, background=False, **options):
        """prompt, hold, install, release, or cmd with code=N."""
        code = options.pop("code", None)
        return self.run(*([name] + ([code] if code is not None else []) + _options(options)), background=background)

    def wait_window(self, timeout_ms=30000):
        return self.run("wait-window", "--timeout-ms", timeout_ms, timeout=timeout_ms / 1000 + 60)

    def wait_gone(self, timeout_ms=30000):
        return self.run("wait-gone", "--timeout-ms", timeout_ms, timeout=timeout_ms / 1000 + 60)

    def state(self):
        return self.run("state")

    def log(self, path=None):
        return self.run(*(["log"] + ([path] if path else [])))


def _options(options):
    args = []
    for name, value in options.items():
        flag = "--" + name.replace("_", "-")
        if value is True:
            args.append(flag)
        elif value is not None and value is not False:
            args += [flag, str(value)]
    return args


class Client:
    """The stand-in client: a copy of the console tool named Dazuvuvev.exe
    (the companion closes the client by that name) holding the running-flag
    mutex while it runs. With synchronize_only its flag grants everyone
    SYNCHRONIZE and nothing more, as the flag of a client at another
    integrity level appears; flag_access then says what others may open it
    for ("full access error 5, synchronize granted")."""

    def __init__(self, bed, folder):
        self.bed = bed
        self.exe = os.path.join(folder, CLIENT_EXE)
        shutil.copyfile(bed.exe(CTL_EXE), self.exe)
        self.process = None
        self.flag_access = None

    def start(self, exit_after_ms=None, timeout=30, synchronize_only=False):
        args = [self.exe, "client"]
        if exit_after_ms is not None:
            args += ["--exit-after-ms", str(exit_after_ms)]
        if synchronize_only:
            args.append("--flag-synchronize-only")
        self.process = WineProcess(args, stdin=subprocess.PIPE)
        ready = "client: flag access: " if synchronize_only else "client: holding"
        line = self.process.wait_line(lambda l: l.startswith(ready), timeout)
        if not line:
            out = "\n".join(self.process.lines)
            self.process.kill()
            raise RuntimeError("the stand-in client did not start:\n" + out)
        if synchronize_only:
            self.flag_access = line[len(ready):]
        return self

    def running(self):
        return self.process is not None and self.process.running()

    def stop(self, timeout=20):
        """Lets the client exit as a user would close it (end of stdin);
        returns its exit code."""
        if self.process is None:
            return None
        if self.process.running():
            self.process.proc.stdin.close()
            self.process.wait(timeout)
        self.process.kill()
        return self.process.returncode


class Companion:
    """DazuvuVevUpgrade.exe started as the client starts it, from its own
    folder so that it finds UISkin."""

    def __init__(self, bed, ctl, arg=UPGRADE_ARG, env=None):
        self.bed = bed
        self.ctl = ctl
        self.arg = arg
        self.env = env
        self.process = None

    def start(self, wait_window=True, timeout_ms=30000):
        self.process = WineProcess([self.bed.exe(COMPANION_EXE)] + ([self.arg] if self.arg else []),
                                   cwd=self.bed.bin, env=self.env)
        if wait_window:
            result = self.ctl.wait_window(timeout_ms)
            if result.code != 0:
                code = self.process.wait(1)
                raise RuntimeError("the companion's window did not appear (process %s): %s" % (
                    "exited with %s" % code if code is not None else "still runs", result.err.strip()))
        return self

    def running(self):
        return self.process is not None and self.process.running()

    def wait_exit(self, timeout=60):
        """The exit code; None when the process still runs after timeout."""
        return self.process.wait(timeout)

    @property
    def returncode(self):
        return self.process.returncode

    def stop(self):
        if self.process is not None:
            self.process.kill()
