"""A window manager on the test bed's display, as every user's desktop has
one: focus, activation and hiding then behave as a user meets them, and
Wine does not wait for a window manager that never answers each time an
active window is hidden.

    from kit import wm

    class MyScenario(kit.ScenarioCase):
        @classmethod
        def setUpClass(cls):
            super().setUpClass()
            wm.manage_class(cls)

or, around any stretch of work:

    with wm.WindowManager():
        ...

openbox runs on DISPLAY for that time and is stopped afterwards; Wine's
X11 driver is told that windows are managed ("Managed" = "Y" under
HKCU\\Software\\Wine\\X11 Driver) and what stood there before is put back.
On a display that already has a window manager (a developer's own, with
KEEP_DISPLAY=1) nothing is started and nothing is changed.
"""

import os
import subprocess
import tempfile
import time

X11_KEY = r"HKCU\Software\Wine\X11 Driver"
VALUE = "Managed"


class WindowManagerError(RuntimeError):
    pass


def _run(argv, timeout=60):
    return subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True, text=True, errors="replace",
                          timeout=timeout)


def has_window_manager():
    """True while a window manager that follows the common desktop
    conventions runs on DISPLAY: the root window names a window of it that
    still exists (one that ended may leave the name behind)."""
    done = _run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], timeout=20)
    if done.returncode != 0 or "window id #" not in done.stdout:
        return False
    window = done.stdout.rsplit("#", 1)[1].strip().split(",")[0]
    return _run(["xprop", "-id", window, "_NET_SUPPORTING_WM_CHECK"], timeout=20).returncode == 0


def read_managed():
    """The value of Managed in Wine's registry; None when it is not set."""
    done = _run(["wine", "reg", "query", X11_KEY, "/v", VALUE])
    if done.returncode != 0:
        return None
    for line in done.stdout.splitlines():
        fields = line.split(None, 2)
        if len(fields) >= 2 and fields[0] == VALUE and fields[1].startswith("REG_"):
            return fields[2].strip() if len(fields) == 3 else ""
    return None


def write_managed(value):
    """Sets Managed to value, or removes it for None."""
    if value is None:
        _run(["wine", "reg", "delete", X11_KEY, "/v", VALUE, "/f"])
        return
    done = _run(["wine", "reg", "add", X11_KEY, "/v", VALUE, "/t", "REG_SZ", "/d", value, "/f"])
    if done.returncode != 0:
        raise WindowManagerError("cannot set %s\\%s: %s" % (X11_KEY, VALUE, done.stderr.strip()))


class WindowManager:
    """openbox on the test bed's display, from start() to stop()."""

    def __init__(self, timeout=20):
        self.timeout = timeout
        self.proc = None
        self.log = None
        self._saved = None
        self._changed = False

    def start(self):
        if not os.environ.get("DISPLAY"):
            raise WindowManagerError("no DISPLAY: run this under scripts/winebed.sh STATE_DIR ...")
        if has_window_manager():
            return self  # the desktop has one already: leave it as it is
        self._saved = read_managed()
        write_managed("Y")
        self._changed = True
        # Its chatter goes to a file of its own, read only when it fails.
        self.log = tempfile.TemporaryFile()
        try:
            self.proc = subprocess.Popen(["openbox", "--sm-disable"], stdin=subprocess.DEVNULL,
                                         stdout=self.log, stderr=subprocess.STDOUT)
        except OSError as e:
            self.stop()
            raise WindowManagerError("openbox cannot start (scripts/setup.sh installs it): %s" % e)
        deadline = time.monotonic() + self.timeout
        while not has_window_manager():
            if self.proc.poll() is not None or time.monotonic() >= deadline:
                output = self._output()
                self.stop()
                raise WindowManagerError("openbox did not take the display: %s" % output)
            time.sleep(0.1)
        return self

    def _output(self):
        self.log.seek(0)
        return self.log.read().decode("utf-8", errors="replace").strip()

    def stop(self):
        """Ends the window manager this object started (by its own handle)
        and puts the registry value back; harmless when called twice."""
        if self.proc is not None:
            if self.proc.poll() is None:
                self.proc.terminate()
                try:
                    self.proc.wait(10)
                except subprocess.TimeoutExpired:
                    self.proc.kill()
                    self.proc.wait(10)
            self.proc = None
        if self.log is not None:
            self.log.close()
            self.log = None
        if self._changed:
            write_managed(self._saved)
            self._changed = False

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
        return False


def manage_class(cls):
    """Runs a window manager for the tests of a unittest class: started now
    (call it from setUpClass), stopped when the class is done."""
    manager = WindowManager().start()
    cls.addClassCleanup(manager.stop)
    return manager
