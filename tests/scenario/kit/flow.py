"""Pieces for the scenarios of a whole upgrade: a published setup program,
orders sent while a prompt blocks the sender, the skinned boxes and the
upgrade window found on the screen and clicked where the layout puts their
controls, screen pixels of those controls, and a relay that holds back the
request back from the server so the waiting face can be seen.

    from kit import flow
    class MyFlow(flow.FlowCase):
        def test_x(self):
            setup = self.publish("DazuvuvevSetup_5.0.exe", "5.0")
            companion = self.launch()
            self.send_order(setup, "5.0")
            ...
"""

import collections
import os
import shutil
import socket
import subprocess
import threading
import time
import xml.etree.ElementTree as ET

from .case import ScenarioCase, wait_for
from .fakes import make_setup
from .net import TestServer
from .procs import CtlResult
from . import xwin

# What the companion shows and writes, as its users and support staff see it.
WINDOW_TITLE = "正在下载"
TIP_CAPTION = "提示"
UPDATE_CAPTION = "版本更新"
DOWNLOAD_FAILED = "下载失败，请稍后重试！"
NETWORK_LOST = "网络异常，请稍后重试！"
UPDATE_TEXT = "有新版本咯，赶紧去升级体验最新功能吧！"
SETUP_SWITCH = "/UPGRADESHELL"
QUIT = "ExistMainThread"
DOWNLOAD_STARTED = "Nubra_SDK::UpgradeDownLoadFile, URL="
URL_REFUSED = "URL check failure,URL= "
NO_TIPS = "version_no_tips = "

# Another program of the session that forges what reaches the window.
PEER_EXE = "HostilePeer.exe"

# The message box moves its two buttons apart by this much when it shows both.
BUTTON_SPREAD = 92

Setup = collections.namedtuple("Setup", "name size md5 url path")


# -- layouts ---------------------------------------------------------------

def layout_rects(skin_file, layout):
    """{control name: (x, y, width, height)} in window pixels for one layout
    of a .dui file; controls inside a form are offset by the form's place."""
    root = ET.parse(skin_file).getroot()
    for node in root.iter("layout"):
        if node.get("name") == layout:
            rects = {}
            _collect(node, 0, 0, rects)
            return rects
    raise KeyError("no layout %r in %s" % (layout, skin_file))


def _collect(node, left, top, rects):
    for child in node:
        x, y = left + int(child.get("x", 0)), top + int(child.get("y", 0))
        if child.get("name"):
            rects[child.get("name")] = (x, y, int(child.get("width", 0)), int(child.get("height", 0)))
        _collect(child, x, y, rects)


class SkinWindow:
    """A skinned window on the screen (the message box or the upgrade
    window), clicked at the centre of its controls as the layout places
    them."""

    def __init__(self, window, rects):
        self.window = window
        self.rects = rects

    def rect(self, name):
        return self.rects[name]

    def click(self, name):
        x, y, w, h = self.rects[name]
        xwin.click(self.window, x + w // 2, y + h // 2)

    def grab(self):
        return Screen.grab().crop(*xwin.geometry(self.window))


def message_box_rects(skin_file, two_buttons):
    rects = dict(layout_rects(skin_file, "MessageboxCalDUI"))
    if two_buttons:
        x, y, w, h = rects["OKBtn"]
        rects["OKBtn"] = (x - BUTTON_SPREAD, y, w, h)
        x, y, w, h = rects["CancelBtn"]
        rects["CancelBtn"] = (x + BUTTON_SPREAD, y, w, h)
    return rects


# -- pixels ----------------------------------------------------------------

class Screen:
    """An RGB picture of the screen or of a part of it."""

    def __init__(self, width, height, data):
        self.width, self.height, self.data = width, height, data

    @classmethod
    def grab(cls):
        done = subprocess.run("xwd -root -silent | xwdtopnm 2>/dev/null", shell=True, capture_output=True,
                              timeout=60)
        if done.returncode != 0:
            raise RuntimeError("screen grab failed")
        return cls.from_ppm(done.stdout)

    @classmethod
    def from_ppm(cls, raw):
        fields, pos = [], 0
        while len(fields) < 4:
            while raw[pos:pos + 1].isspace():
                pos += 1
            if raw[pos:pos + 1] == b"#":
                pos = raw.index(b"\n", pos)
                continue
            end = pos
            while not raw[end:end + 1].isspace():
                end += 1
            fields.append(raw[pos:end])
            pos = end
        if fields[0] != b"P6" or int(fields[3]) not in (255, 65535):
            raise RuntimeError("unexpected picture format %r" % fields[:4])
        width, height = int(fields[1]), int(fields[2])
        data = raw[pos + 1:]
        if int(fields[3]) == 65535:
            data = data[0:width * height * 6:2]  # the high byte of each 16-bit sample
        return cls(width, height, data[:width * height * 3])

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])

    def crop(self, left, top, width, height):
        rows = []
        for y in range(top, top + height):
            start = (y * self.width + left) * 3
            rows.append(self.data[start:start + width * 3])
        return Screen(width, height, b"".join(rows))

    def region(self, rect):
        x, y, w, h = rect
        return self.crop(x, y, w, h)

    def count(self, colour):
        return sum(1 for i in range(0, len(self.data), 3) if tuple(self.data[i:i + 3]) == colour)

    def run_length(self, y, colour):
        """How many pixels of row y, from the left, have that colour."""
        n = 0
        while n < self.width and self.pixel(n, y) == colour:
            n += 1
        return n

    def save_png(self, path):
        header = b"P6\n%d %d\n255\n" % (self.width, self.height)
        with open(path, "wb") as out:
            subprocess.run(["pnmtopng"], input=header + self.data, stdout=out, stderr=subprocess.DEVNULL,
                           check=True, timeout=60)
        return path


def rgb(text):
    text = text.lstrip("#")
    return tuple(int(text[i:i + 2], 16) for i in (0, 2, 4))


# -- a relay that holds back the request -----------------------------------

class SlowStart:
    """Forwards TCP connections on 127.0.0.1 to a server, passing the
    client's request on only after `delay` seconds, so that the client sits
    that long before the first byte of the answer. (Holding back the answer
    instead would let the server fill the socket buffers meanwhile, and the
    whole file would then arrive at once.)"""

    def __init__(self, port, delay):
        self.target = ("127.0.0.1", port)
        self.delay = delay
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.port = self.listener.getsockname()[1]
        self.stopping = threading.Event()
        self.sockets = []
        threading.Thread(target=self._accept, daemon=True).start()

    def url(self, path):
        return "http://127.0.0.1:%d/%s" % (self.port, path.lstrip("/"))

    def _accept(self):
        while not self.stopping.is_set():
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            upstream = socket.create_connection(self.target, timeout=30)
            self.sockets += [client, upstream]
            threading.Thread(target=self._pump, args=(client, upstream, self.delay), daemon=True).start()
            threading.Thread(target=self._pump, args=(upstream, client, 0), daemon=True).start()

    def _pump(self, source, sink, delay):
        if delay and self.stopping.wait(delay):
            return
        try:
            while True:
                data = source.recv(65536)
                if not data:
                    sink.shutdown(socket.SHUT_WR)
                    return
                sink.sendall(data)
        except OSError:
            return

    def stop(self):
        self.stopping.set()
        for s in [self.listener] + self.sockets:
            try:
                s.close()
            except OSError:
                pass


# -- orders that block their sender ------------------------------------------

class Pending:
    """A call run on its own thread: an order of type "9434" or a prompt
    command does not return before the user has answered."""

    def __init__(self, call, *args, **kwargs):
        self._result = None
        self._error = None
        self._thread = threading.Thread(target=self._run, args=(call, args, kwargs), daemon=True)
        self._thread.start()

    def _run(self, call, args, kwargs):
        try:
            self._result = call(*args, **kwargs)
        except Exception as exc:  # handed to the test's thread by result()
            self._error = exc

    def done(self):
        return not self._thread.is_alive()

    def result(self, timeout=60):
        self._thread.join(timeout)
        if self._thread.is_alive():
            raise AssertionError("the call still waits after %s s" % timeout)
        if self._error:
            raise self._error
        return self._result


# -- the base class of the flow scenarios ------------------------------------

class FlowCase(ScenarioCase):
    """A scenario with two local servers: `self.watch`, the host whose
    reachability the companion's network watch probes (stopping it is a lost
    network), and `self.server`, which serves the setup programs."""

    def setUp(self):
        super().setUp()
        self.watch = self.start_server(root=os.path.join(self.scratch, "watch"))
        self.server = self.start_server()
        self.skin_file = os.path.join(self.bed.bin, "UISkin", "DazuvuVev.dui")

    def lose_network(self):
        self.watch.port_before_stop = self.watch.port
        self.watch.stop()

    def restore_network(self):
        """The watched host back on its old port."""
        self.watch = TestServer(self.watch.root, port=self.watch.port_before_stop).start()
        self.addCleanup(self.watch.stop)

    def fail_download(self, setup, kind, stall_after=1100000):
        """Makes the next download of `setup` fail by `kind`: "404", "drop"
        (the connection closes part-way), "md5" (the order's digest will not
        match) or "net" (the server stalls; lose_network_mid_download then
        takes the network away). Returns the MD5 the order should carry."""
        faults = {"404": "status=404", "drop": "drop=200000", "net": "stall=120,stall_after=%d" % stall_after}
        if kind in faults:
            self.server.add_fault("/" + setup.name, faults[kind])
        if kind == "drop":
            # The connection breaks for good: the library would otherwise
            # mend the break with a retry in the same run.
            self.env["NUBRA_RETRY_LIMIT"] = "0"
        if kind == "net":
            # The library retries a stalled answer from where it stopped:
            # those answers stall from their start.
            self.server.add_fault("/" + setup.name, "stall=120", count=4)
        return "0" * 32 if kind == "md5" else setup.md5

    def lose_network_mid_download(self):
        self.wait_logged(lambda m: m.startswith("Receive WM_MSG_DOWNLOAD, t->iState=1,"))
        self.lose_network()

    # setup programs
    def publish(self, name, tag, pad=0):
        """The stand-in setup program served as `name`; pad adds bytes
        after the image for downloads that take a while."""
        path = os.path.join(self.server.root, name)
        size, md5 = make_setup(self.bed, path, tag.encode("utf-8") + b"\0" * pad)
        return Setup(name, size, md5, self.server.url(name), path)

    def upgrade_path(self, name):
        """The Windows path under which the companion keeps a setup file."""
        return self.bed.to_windows(os.path.join(self.bed.upgrade_dir, name))

    def place_setup(self, setup):
        """Puts a setup into the upgrade folder as if downloaded earlier."""
        os.makedirs(self.bed.upgrade_dir, exist_ok=True)
        shutil.copyfile(setup.path, os.path.join(self.bed.upgrade_dir, setup.name))

    def downloads(self, setup):
        return [r for r in self.server.requests("/" + setup.name) if r.get("method") == "GET"]

    # processes
    def launch(self, client=True, synchronize_only=False):
        """The stand-in client (when asked; with synchronize_only its flag
        grants SYNCHRONIZE only) and the companion, started as the client
        starts it; returns the companion."""
        self.client = self.start_client(synchronize_only=synchronize_only) if client else None
        return self.start_companion()

    def start_scanner(self, setup, hold_ms=8000, watch_ms=120000):
        """A scanner of fresh programs (HostilePeer scan): it waits for
        `setup` in the upgrade folder, opens it without sharing as soon as
        whoever writes it lets it go, and holds it hold_ms; a scanner of a
        large setup holds it tens of seconds. Returns its process, whose
        lines say "scan: holding after N ms" and "scan: released"."""
        return self.start_wine(self.bed.exe(PEER_EXE), "scan", self.upgrade_path(setup.name), str(hold_ms),
                               str(watch_ms))

    def lock_file(self, path):
        """Makes `path` a running program (a copy of the console tool acting
        as a client), which Windows refuses to delete while it runs; returns
        a function that ends it."""
        shutil.copyfile(self.bed.exe("DazuvuVevUpgradeCtl.exe"), path)
        process = self.start_wine(path, "client", stdin=subprocess.PIPE)
        self.assertIsNotNone(process.wait_line(lambda l: l.startswith("client: holding")), "the locker did not start")

        def release():
            process.proc.stdin.close()
            process.wait(20)
            process.kill()
        return release

    def send_order(self, setup, version, expect=0, url=None, **options):
        """The order of `setup`, answered by the companion (the tool's exit
        code `expect`); options may replace its size and md5."""
        options.setdefault("timeout_ms", 60000)
        options.setdefault("size", setup.size)
        options.setdefault("md5", setup.md5)
        result = self.ctl.order(url or setup.url, version, **options)
        return self.assertCtl(result, expect, "order of %s" % setup.name)

    def order_later(self, setup, version, url=None, **options):
        """The order sent from another thread; its result() is the tool's."""
        options.setdefault("timeout_ms", 120000)
        options.setdefault("size", setup.size)
        options.setdefault("md5", setup.md5)
        return Pending(self.ctl.order, url or setup.url, version, **options)

    def command_later(self, name, **options):
        return Pending(self.ctl.command, name, send=True, timeout_ms=120000, **options)

    def assertEnds(self, companion, timeout=60):
        """The companion ends by itself with exit code 0 and its window goes."""
        code = companion.wait_exit(timeout)
        self.assertIsNotNone(code, "the companion still runs after %s s; log: %r" % (timeout, self.messages()))
        self.assertEqual(code, 0, "exit code; log: %r" % self.messages())
        self.assertCtl(self.ctl.wait_gone(5000), msg="the window is gone")
        return code

    def assertStays(self, companion, seconds):
        time.sleep(seconds)
        self.assertTrue(companion.running(), "the companion ended early; log: %r" % self.messages())

    # another program of the session
    def peer(self, *args, timeout=120):
        """HostilePeer.exe with these arguments; its exit code and output."""
        done = subprocess.run(["wine", self.bed.exe(PEER_EXE)] + [str(a) for a in args], stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=timeout, env=self.env)
        return CtlResult(done.returncode, done.stdout.decode("utf-8", "replace"),
                         done.stderr.decode("utf-8", "replace"))

    def message(self, how, number, wparam=0, lparam=0, count=1):
        """A message (or count alike) posted or sent to the companion's window
        by another process."""
        result = self.peer("message", how, number, wparam, lparam, count)
        self.assertEqual(result.code, 0, "%s of %d unanswered: %s" % (how, number, result.out + result.err))
        return result.out

    # windows on the screen
    def wait_box(self, caption, two_buttons=False, timeout=30):
        window = xwin.wait_window("^%s$" % caption, timeout)
        self.assertIsNotNone(window, "no box %r on the screen; log: %r" % (caption, self.messages()))
        time.sleep(0.5)  # let it paint before it is clicked or grabbed
        return SkinWindow(window, message_box_rects(self.skin_file, two_buttons))

    def assertNoBox(self, caption):
        self.assertEqual(xwin.find_windows("^%s$" % caption), [], "a box %r is on the screen" % caption)

    def wait_upgrade_window(self, timeout=30):
        window = xwin.wait_window("^%s$" % WINDOW_TITLE, timeout)
        self.assertIsNotNone(window, "the upgrade window is not on the screen")
        return SkinWindow(window, layout_rects(self.skin_file, "UpgradeDUI"))

    def upgrade_window_shown(self):
        return bool(xwin.find_windows("^%s$" % WINDOW_TITLE))

    def keep_picture(self, screen, name):
        """Saves a picture next to the scenario's files for a person to look at."""
        return screen.save_png(os.path.join(self.scratch, name))

    # log and state
    def messages(self):
        return self.bed.log_messages()

    def wait_logged(self, predicate, timeout=30):
        """The first log message for which predicate holds (a text is
        matched as the whole message)."""
        test = predicate if callable(predicate) else (lambda m: m == predicate)
        found = wait_for(lambda: next((m for m in self.messages() if test(m)), None), timeout)
        self.assertIsNotNone(found, "not logged within %s s; log: %r" % (timeout, self.messages()))
        return found

    def assertLogged(self, text, count=None):
        messages = self.messages()
        if count is None:
            self.assertIn(text, messages, "log: %r" % messages)
        else:
            self.assertEqual(messages.count(text), count, "%r in log: %r" % (text, messages))

    def assertNotLogged(self, prefix):
        messages = self.messages()
        self.assertFalse([m for m in messages if m.startswith(prefix)], "%r in log: %r" % (prefix, messages))

    def md5_line(self, setup):
        """The record of the digest check of a good setup: the library's
        digest, in the letter case of the library beside the programs, and
        the order's."""
        local = setup.md5.upper() if self.plain == "upper" else setup.md5
        return "localMD5:%s, remoteMD5:%s" % (local, setup.md5)

    def download_line(self, setup):
        return "%s%s, m_strTemp=%s, m_stComm.szSize=%d" % (DOWNLOAD_STARTED, setup.url, self.upgrade_path(setup.name),
                                                          setup.size)

    def assertState(self, **expected):
        """The state file holds these values (the other keys are not checked)."""
        state = self.bed.read_ini()
        self.assertIsNotNone(state, "no state file")
        self.assertEqual({k: state[k] for k in expected}, expected, "state file: %r" % state)
        return state

    def wait_state(self, timeout=30, **expected):
        """Waits until the state file holds these values."""
        def holds():
            state = self.bed.read_ini() or {}
            return all(state.get(k) == v for k, v in expected.items())
        if not wait_for(holds, timeout):
            self.assertState(**expected)

    def assertResult(self, word, companion=None):
        """The run ended (it waits for companion when given) with `word` in
        the state file and in the log's last "upgrade ends: " record, which
        says why."""
        if companion is not None:
            self.assertEnds(companion)
        state = self.bed.read_ini()
        self.assertEqual(state.get("result"), word, state)
        self.assertRegex(state.get("resulttime", ""), r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d$")
        ends = [m for m in self.messages() if m.startswith("upgrade ends: ")]
        self.assertTrue(ends and ends[-1].startswith("upgrade ends: %s: " % word), self.messages())

    def assertFolder(self, *names):
        self.assertEqual(self.bed.upgrade_files(), sorted(("Upgrade.ini",) + names))

    def assertSetupRan(self, setup):
        runs = self.wait_setup_runs(1)
        self.assertEqual(len(runs), 1, "setup runs: %r" % runs)
        self.assertEqual(runs[0]["path"], self.upgrade_path(setup.name))
        self.assertTrue(runs[0]["cmdline"].endswith(" " + SETUP_SWITCH), runs[0]["cmdline"])
        return runs[0]

    def assertNoSetupRan(self, wait=1.0):
        time.sleep(wait)  # a start would be recorded within this time
        self.assertEqual(self.setup_runs(), [])
