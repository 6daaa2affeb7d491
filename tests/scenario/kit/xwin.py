"""X windows of the test bed's display: Wine's top-level windows are X
windows named by their titles, so xdotool finds and clicks them."""

import subprocess
import time


def _xdotool(*args):
    return subprocess.run(["xdotool"] + [str(a) for a in args], capture_output=True, text=True, timeout=30)


def find_windows(title, visible=True):
    """Ids of the windows whose title matches (xdotool's regular expression)."""
    args = ["search"] + (["--onlyvisible"] if visible else []) + ["--name", title]
    done = _xdotool(*args)
    return [int(w) for w in done.stdout.split()]


def wait_window(title, timeout=20, visible=True):
    """The first window with that title; None on time-out."""
    deadline = time.monotonic() + timeout
    while True:
        found = find_windows(title, visible)
        if found:
            return found[0]
        if time.monotonic() >= deadline:
            return None
        time.sleep(0.2)


def wait_gone(title, timeout=20, visible=True):
    """True once no window has that title."""
    deadline = time.monotonic() + timeout
    while find_windows(title, visible):
        if time.monotonic() >= deadline:
            return False
        time.sleep(0.2)
    return True


def geometry(window):
    """(x, y, width, height) of the window on the screen."""
    done = _xdotool("getwindowgeometry", "--shell", window)
    values = dict(line.split("=", 1) for line in done.stdout.split() if "=" in line)
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def click(window, x, y):
    """A real left click at (x, y) relative to the window's top left corner."""
    left, top, _, _ = geometry(window)
    # "mousemove --sync" waits for a motion event, and a pointer already at
    # the spot never sends one (xdotool gives up only after 15 s).
    where = _xdotool("getmouselocation", "--shell").stdout.split()
    if "X=%d" % (left + x) in where and "Y=%d" % (top + y) in where:
        done = _xdotool("click", "1")
    else:
        done = _xdotool("mousemove", "--sync", left + x, top + y, "click", "1")
    if done.returncode != 0:
        raise RuntimeError("xdotool click failed: " + done.stderr.strip())


def screenshot(path):
    """Saves the whole screen as a PNG file."""
    with open(path, "wb") as out:
        pipeline = subprocess.run("xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng 2>/dev/null",
                                  shell=True, stdout=out, timeout=60)
    if pipeline.returncode != 0:
        raise RuntimeError("screenshot failed")
    return path


def press(window, keys):
    """Real key presses (xdotool key names, e.g. "Return") into the window,
    after giving it the keyboard focus."""
    _xdotool("windowactivate", "--sync", window)
    _xdotool("windowfocus", "--sync", window)
    done = _xdotool("key", "--clearmodifiers", keys)
    if done.returncode != 0:
        raise RuntimeError("xdotool key failed: " + done.stderr.strip())
