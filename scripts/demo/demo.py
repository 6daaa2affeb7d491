#!/usr/bin/env python3
"""The upgrade companion's main job, once, end to end, as a person would watch
it: a local server offers a new version's setup program, the stand-in client
runs, the companion gets the order, asks the user, shows the download, checks
the file and starts the setup with "/UPGRADESHELL".

Runs inside the Wine test bed (scripts/demo.sh starts it):

    python3 scripts/demo/demo.py --bin build/bin --out out/demo [--interactive]

Prints a timeline while it happens and a summary at the end; saves screenshots
of the prompt, the progress window and the setup program in --out. Exit code
0 only when every step happened; 1 with the reason otherwise.
"""

import argparse
import hashlib
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(REPO, "tests", "scenario"))
sys.path.insert(0, HERE)
import kit  # noqa: E402
from kit import flow  # noqa: E402
import progressbar  # noqa: E402

VERSION = "5.1.0.2046"
SETUP_NAME = "DazuvuvevSetup_%s.exe" % VERSION
UPGRADE_TYPE = "9434"  # asks the user before the download
PROMPT_TITLE = flow.UPDATE_CAPTION
PROMPT_BUTTON = "升级"
PROGRESS_TITLE = flow.WINDOW_TITLE
SETUP_TITLE = "Dazuvuvev 安装程序"
SETUP_SWITCH = flow.SETUP_SWITCH
PROGRESS_RECORD = "Receive WM_MSG_DOWNLOAD"
# An empty bar still shows its rounded start, which reads as 1 or 2 per cent.
MIN_PART_WAY = 3


class DemoError(RuntimeError):
    pass


def title_pattern(title):
    return "^%s$" % title


class Timeline:
    def __init__(self):
        self.start = time.monotonic()

    def event(self, text):
        print("  +%6.1f s  %s" % (time.monotonic() - self.start, text), flush=True)

    def note(self, text):
        print("             %s" % text, flush=True)


class LogWatch:
    """New records of the companion's log since the last look. The companion
    writes a record at a time, so a look that meets a half-written one just
    tries again on the next round."""

    def __init__(self, bed):
        self.bed = bed
        self.records = []

    def fresh(self):
        try:
            records = self.bed.log_records()
        except (ValueError, OSError):
            return []
        new = records[len(self.records):]
        self.records = records
        return new


def read_setup_runs(path):
    """(pid, command line) of each run of the demonstration's setup."""
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        return [tuple(line.rstrip("\n").split("\t", 1)) for line in f if "\t" in line]


def md5_hex(path):
    with open(path, "rb") as f:
        return hashlib.md5(f.read()).hexdigest()


class Demo:
    def __init__(self, args):
        self.args = args
        self.out = os.path.abspath(args.out)
        self.timeline = Timeline()
        self.bed = kit.Bed(args.bin)
        self.ctl = kit.Ctl(self.bed)
        self.log = LogWatch(self.bed)
        skin = os.path.join(self.bed.bin, "UISkin", "DazuvuVev.dui")
        self.prompt_rects = flow.message_box_rects(skin, two_buttons=False)
        self.progress_rects = flow.layout_rects(skin, "UpgradeDUI")
        self.screenshots = []
        self.bar_readings = []
        self.events = {}
        self.server = self.client = self.companion = self.order = None
        self.companion_may_end = False

    # -- helpers ------------------------------------------------------------
    def shoot(self, name, window):
        """Saves the window as it stands on the screen; returns the picture."""
        image = flow.SkinWindow(window, {}).grab()
        path = image.save_png(os.path.join(self.out, name))
        self.screenshots.append(path)
        return image

    def watch_log(self):
        """Reports the log records that mark steps of the upgrade."""
        for _, _, _, _, function, _, message in self.log.fresh():
            if message.startswith(PROGRESS_RECORD):
                if "t->iState=1" in message and "first progress" not in self.events:
                    self.mark("first progress", "first progress report of the download (log)")
                elif "t->iState=2" in message:
                    self.mark("download complete", "download complete (log: %s)" % message.strip())
                elif "t->iState=3" in message or "t->iState=4" in message:
                    raise DemoError("the download failed (log: %s)" % message.strip())
            elif message.startswith("localMD5:"):
                local, _, remote = message[len("localMD5:"):].partition(", remoteMD5:")
                if local.strip() != remote.strip() or not local.strip():
                    raise DemoError("the downloaded file failed its check (log: %s)" % message)
                if "MD5 verified" not in self.events:
                    self.mark("MD5 verified", "MD5 verified: %s (log)" % local.strip())
                else:
                    self.timeline.event("MD5 checked again right before the start (log)")
            elif message in ("net cutdown",) or message.startswith(("URL check failure", "COPYDATASTRUCT ERROR",
                                                                    "MakeCurrentSetupPath refused")):
                raise DemoError("the companion gave up (log, %s: %s)" % (function, message))

    def mark(self, key, text):
        self.events[key] = time.monotonic()
        self.timeline.event(text)

    def wait(self, what, predicate, timeout):
        """Polls predicate while reporting the log; a companion that ends
        before predicate holds is an error unless predicate says otherwise."""
        deadline = time.monotonic() + timeout
        while True:
            self.watch_log()
            value = predicate()
            if value:
                return value
            if time.monotonic() >= deadline:
                raise DemoError("%s did not happen within %d s" % (what, timeout))
            if self.companion is not None and not self.companion.running() and not self.companion_may_end:
                raise DemoError("the companion ended (exit code %s) while waiting for: %s"
                                % (self.companion.returncode, what))
            time.sleep(0.2)

    # -- the steps ----------------------------------------------------------
    def prepare(self):
        os.makedirs(self.out, exist_ok=True)
        for name in os.listdir(self.out):
            if name.endswith(".png") or name == "upgrade-log.txt":
                os.remove(os.path.join(self.out, name))
        if self.ctl.wait_gone(timeout_ms=5000).code != 0:
            raise DemoError("a companion window of an earlier run is still open")
        self.bed.reset()
        self.scratch = self.bed.scratch("demo")
        self.www = os.path.join(self.scratch, "www")
        os.makedirs(self.www)
        self.setup_path = os.path.join(self.www, SETUP_NAME)
        with open(self.bed.exe("DemoSetup.exe"), "rb") as src, open(self.setup_path, "wb") as dst:
            dst.write(src.read())
        self.setup_size = os.path.getsize(self.setup_path)
        self.setup_md5 = md5_hex(self.setup_path)
        self.setup_record = os.path.join(self.scratch, "demosetup-runs.txt")

    def start_server(self):
        self.server = kit.serve(self.www, log_path=os.path.join(self.scratch, "requests.jsonl"))
        # Slow enough that the bar visibly moves for the chosen time.
        self.rate = max(1024, self.setup_size // self.args.seconds)
        self.server.add_fault("/" + SETUP_NAME, "rate=%d" % self.rate, count=20)
        self.url = self.server.url(SETUP_NAME)
        self.timeline.event("local server up: %s" % self.url)
        self.timeline.note("setup program %s: %d bytes, MD5 %s, served at %.0f KB/s"
                           % (SETUP_NAME, self.setup_size, self.setup_md5, self.rate / 1024.0))
        self.env = dict(os.environ,
                        NUBRA_TRACK_SERVER="127.0.0.1:%d" % self.server.port,
                        DEMOSETUP_RECORD=self.bed.to_windows(self.setup_record),
                        DEMOSETUP_SHOW_MS=str(self.args.setup_ms))

    def start_client(self):
        self.client = kit.Client(self.bed, self.scratch).start()
        self.timeline.event("stand-in client Dazuvuvev.exe up, holding the running flag")

    def start_companion(self):
        self.companion = kit.Companion(self.bed, self.ctl, env=self.env)
        self.timeline.event("companion started: DazuvuVevUpgrade.exe %s" % self.companion.arg)
        self.companion.start(wait_window=True)
        self.timeline.event('companion window (class "#COMM_IN_UPGRADE") found, still hidden')

    def send_order(self):
        self.order = self.ctl.order(self.url, VERSION, size=self.setup_size, md5=self.setup_md5,
                                    type=UPGRADE_TYPE, mode=0, background=True)
        self.timeline.event("order sent: DazuvuVevUpgradeCtl %s" % " ".join(self.order.argv[1:]))

    def answer_prompt(self):
        prompt = self.wait("the prompt %s" % PROMPT_TITLE,
                           lambda: kit.xwin.find_windows(title_pattern(PROMPT_TITLE)), 30)[0]
        self.timeline.event("prompt %s shown" % PROMPT_TITLE)
        time.sleep(0.8)  # let it paint
        image = self.shoot("01-prompt.png", prompt)
        if sum(1 for y in range(image.height) for x in range(0, image.width, 2)
               if max(image.pixel(x, y)) < 110) < 40:
            raise DemoError("the prompt's screenshot shows no text")

        answered = "the demo clicked %s" % PROMPT_BUTTON
        if self.args.interactive:
            print("\n  >>> Please click %s in the window %s; the demo answers by itself in %d s.\n"
                  % (PROMPT_BUTTON, PROMPT_TITLE, self.args.answer_after), flush=True)
            if kit.xwin.wait_gone(title_pattern(PROMPT_TITLE), timeout=self.args.answer_after):
                answered = "you answered it"
            else:
                self.timeline.event("no answer yet: the demo clicks %s itself" % PROMPT_BUTTON)
        if not answered.startswith("you"):
            flow.SkinWindow(prompt, self.prompt_rects).click("OKBtn")
            if not kit.xwin.wait_gone(title_pattern(PROMPT_TITLE), timeout=10):
                raise DemoError("the prompt stayed open after a click on %s" % PROMPT_BUTTON)
        self.timeline.event("prompt answered: %s" % answered)

    def watch_download(self):
        try:
            window = self.wait("the progress window %s" % PROGRESS_TITLE,
                               lambda: kit.xwin.find_windows(title_pattern(PROGRESS_TITLE)), 20)[0]
        except DemoError:
            raise DemoError("the progress window did not appear; was the prompt closed without %s? "
                            "Then the companion downloads out of sight and starts nothing" % PROMPT_BUTTON)
        self.timeline.event("progress window %s shown" % PROGRESS_TITLE)

        bar_x, bar_y, bar_width, bar_height = self.progress_rects["DownloadProgress"]
        interval = max(1.0, self.args.seconds / 6.0)
        next_shot = 0.0
        waiting_seen = False
        deadline = time.monotonic() + self.args.seconds * 6 + 60
        while "download complete" not in self.events:
            self.watch_log()
            if not self.companion.running():
                raise DemoError("the companion ended during the download (exit code %s)" % self.companion.returncode)
            if time.monotonic() > deadline:
                raise DemoError("the download did not finish in time")
            if time.monotonic() >= next_shot:
                next_shot = time.monotonic() + interval
                try:
                    left, top, _, _ = kit.xwin.geometry(window)
                    image = flow.Screen.grab()
                except (KeyError, ValueError, RuntimeError):
                    continue  # the window went away at the end of the download
                shown, fraction = progressbar.bar_reading(image, left + bar_x, top + bar_y,
                                                          bar_width, bar_height)
                percent = int(fraction * 100)
                if not shown and not waiting_seen and "first progress" not in self.events:
                    waiting_seen = True
                    self.shoot("02-progress-0-waiting.png", window)
                    self.timeline.event("waiting face on screen (02-progress-0-waiting.png)")
                elif shown and MIN_PART_WAY <= percent < 100 and (not self.bar_readings or percent > self.bar_readings[-1]):
                    name = "02-progress-%d-%02dpct.png" % (len(self.bar_readings) + 1, percent)
                    self.shoot(name, window)
                    self.bar_readings.append(percent)
                    self.timeline.event("bar at %d%% on screen (%s)" % (percent, name))
            time.sleep(0.2)
        if len(self.bar_readings) < 2:
            raise DemoError("the bar was caught part-way only %d time(s); try a longer --seconds"
                            % len(self.bar_readings))

    def watch_handoff(self):
        self.companion_may_end = True
        self.wait("the MD5 check", lambda: "MD5 verified" in self.events, 30)
        runs = self.wait("the start of the setup program", lambda: read_setup_runs(self.setup_record), 30)
        pid, cmdline = runs[0]
        self.timeline.event("setup started (pid %s): %s" % (pid, cmdline))
        if SETUP_SWITCH not in cmdline.split() and SETUP_SWITCH not in cmdline:
            raise DemoError("the setup was started without %s" % SETUP_SWITCH)
        if SETUP_NAME.lower() not in cmdline.lower() or self.bed.to_windows(self.bed.upgrade_dir).lower() \
                not in cmdline.lower():
            raise DemoError("the started program is not the setup in the upgrade folder: %s" % cmdline)
        # The companion does not wait for the setup; it ends while the
        # setup's window is still up.
        code = self.companion.wait_exit(30)
        self.watch_log()
        if code is None:
            raise DemoError("the companion still runs 30 s after starting the setup")
        self.timeline.event("companion exited with code %d" % code)
        if code != 0:
            raise DemoError("the companion exited with code %d" % code)
        window = kit.xwin.wait_window(title_pattern(SETUP_TITLE), timeout=20)
        if window is None:
            raise DemoError("the setup program's window did not appear")
        time.sleep(0.8)
        self.shoot("03-setup.png", window)
        self.timeline.event("setup window %s on screen (03-setup.png)" % SETUP_TITLE)
        if len(read_setup_runs(self.setup_record)) != 1:
            raise DemoError("the setup was started %d times" % len(read_setup_runs(self.setup_record)))
        order_code = self.order.wait(30)
        if order_code != 0:
            raise DemoError("the console tool's order ended with %s: %s" % (order_code, self.order.lines))
        if not kit.xwin.wait_gone(title_pattern(SETUP_TITLE), timeout=self.args.setup_ms / 1000.0 + 20):
            raise DemoError("the setup program's window did not close")
        self.timeline.event("setup program finished")
        self.timeline.event("stand-in client stopped (exit code %s)" % self.client.stop())

    # -- report -------------------------------------------------------------
    def summary(self):
        print("\nSummary")
        state = self.bed.read_ini() or {}
        print("  state file %s:" % self.bed.to_windows(self.bed.ini_path))
        for key, value in state.items():
            print("    %s=%s" % (key, value))
        if state.get("overflags") != "over" or state.get("version") != VERSION:
            raise DemoError("the state file does not record the finished download")
        installed = os.path.join(self.bed.upgrade_dir, SETUP_NAME)
        if not os.path.exists(installed) or md5_hex(installed) != self.setup_md5:
            raise DemoError("the upgrade folder does not hold the verified setup")
        served = [r for r in self.server.requests() if r.get("status") in (200, 206)]
        for request in served:
            print("  server: %s %s -> %d, %d bytes" % (request["method"], request["path"], request["status"],
                                                        request["sent"]))
        print("  bar readings on screen: %s" % ", ".join("%d%%" % p for p in self.bar_readings))
        print("  screenshots:")
        for path in self.screenshots:
            print("    %s" % os.path.relpath(path, REPO))
        text = self.bed.log_text()
        with open(os.path.join(self.out, "upgrade-log.txt"), "w", encoding="utf-8") as f:
            f.write(text)
        print("  decoded log (all of it in %s):" % os.path.relpath(os.path.join(self.out, "upgrade-log.txt"), REPO))
        for line in log_excerpt(self.log.records):
            print("    " + line)

    def run(self):
        print("Upgrade companion demo: %s mode, screenshots in %s\n" % (
            "interactive" if self.args.interactive else "unattended", os.path.relpath(self.out, REPO)), flush=True)
        self.prepare()
        self.start_server()
        self.start_client()
        self.start_companion()
        self.send_order()
        self.answer_prompt()
        self.watch_download()
        self.watch_handoff()
        self.summary()

    def stop(self):
        self.ctl.stop_pending()
        for part in (self.companion, self.client, self.server):
            if part is not None:
                part.stop()

    def failure_report(self, reason):
        print("\ndemo failed: %s" % reason, file=sys.stderr)
        tail = log_excerpt(self.log.records)[-12:]
        if tail:
            print("last records of the companion's log:", file=sys.stderr)
            for line in tail:
                print("    " + line, file=sys.stderr)
        if self.screenshots:
            print("screenshots so far: %s" % ", ".join(os.path.relpath(p, REPO) for p in self.screenshots),
                  file=sys.stderr)


def log_excerpt(records):
    """One line a record; the run of progress reports shortened to its ends."""
    lines = []
    progress = [i for i, r in enumerate(records) if r[6].startswith(PROGRESS_RECORD) and "t->iState=1" in r[6]]
    skip = set(progress[2:-1])
    for i, (stamp, _, _, _, function, _, message) in enumerate(records):
        if i in skip:
            if i == progress[2]:
                lines.append("... %d more progress reports ..." % len(skip))
            continue
        lines.append("%s  %s: %s" % (stamp[11:], function, " ".join(message.split())))
    return lines


def main():
    parser = argparse.ArgumentParser(description="The upgrade companion's main job, end to end.")
    parser.add_argument("--bin", default=os.path.join(REPO, "build", "bin"), help="folder of the built programs")
    parser.add_argument("--out", default=os.path.join(REPO, "out", "demo"), help="folder for the screenshots")
    parser.add_argument("--interactive", action="store_true", help="wait for the user to click the prompt")
    parser.add_argument("--answer-after", type=int, default=60, metavar="S",
                        help="in interactive mode, click the prompt after S seconds without an answer")
    parser.add_argument("--seconds", type=int, default=10, metavar="S", help="how long the download takes")
    parser.add_argument("--setup-ms", type=int, default=4000, metavar="MS",
                        help="how long the setup program's window stays")
    args = parser.parse_args()
    if args.seconds < 3 or args.answer_after < 1 or args.setup_ms < 500:
        parser.error("--seconds must be at least 3, --answer-after 1, --setup-ms 500")

    demo = None
    try:
        demo = Demo(args)
        demo.run()
    except (DemoError, kit.BedError, RuntimeError, OSError, ValueError) as exc:
        if demo is None:
            print("demo failed: %s" % exc, file=sys.stderr)
        else:
            demo.failure_report(exc)
        return 1
    except KeyboardInterrupt:
        print("\ndemo interrupted", file=sys.stderr)
        return 130
    finally:
        if demo is not None:
            demo.stop()
    print("\ndemo finished: the setup was downloaded, verified and started with %s; the companion exited 0."
          % SETUP_SWITCH)
    return 0


if __name__ == "__main__":
    sys.exit(main())
