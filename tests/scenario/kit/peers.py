"""Real peers from the system's packages, each started with a configuration
of its own in a scenario's scratch folder, on 127.0.0.1 only, and stopped
again: nginx as the download server and tinyproxy as an authenticating proxy.
Also the prefix's system proxy setting, restored afterwards.

    with Nginx(root, workdir, limit_rate="200k") as web: web.url("Setup.exe")
    with Tinyproxy(workdir, "user", "secret") as proxy: proxy.port
    with SystemProxy("127.0.0.1:%d" % proxy.port): ...
"""

import os
import shutil
import socket
import subprocess
import time

INTERNET_SETTINGS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"


class PeerError(RuntimeError):
    pass


def _program(name, *fallbacks):
    for candidate in (shutil.which(name),) + fallbacks:
        if candidate and os.path.isfile(candidate):
            return candidate
    raise PeerError("%s is not installed (scripts/setup.sh installs it)" % name)


def _free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def _wait_listening(port, process, what, timeout=15):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if process.poll() is not None:
            return False
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return True
        except OSError:
            time.sleep(0.1)
    raise PeerError("%s did not listen on 127.0.0.1:%d within %d s" % (what, port, timeout))


class _Peer:
    """A server process in the foreground of its own configuration. A port
    taken by someone else between choosing and binding makes the start fail;
    it is tried again on another port."""

    name = "peer"

    def __init__(self, workdir):
        self.workdir = os.path.join(workdir, self.name)
        os.makedirs(self.workdir, exist_ok=True)
        self.port = None
        self.process = None

    def command(self):
        raise NotImplementedError

    def write_config(self):
        raise NotImplementedError

    def start(self):
        for _ in range(3):
            self.port = _free_port()
            self.write_config()
            with open(os.path.join(self.workdir, "stdout.txt"), "ab") as out:
                self.process = subprocess.Popen(self.command(), stdin=subprocess.DEVNULL, stdout=out,
                                                stderr=subprocess.STDOUT, cwd=self.workdir)
            if _wait_listening(self.port, self.process, self.name):
                return self
        raise PeerError("%s did not start; see %s" % (self.name, self.workdir))

    def stop(self):
        if self.process is not None and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(10)
        self.process = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


class Nginx(_Peer):
    """nginx serving the files of root; its access log (requests()) names
    each request's Range, If-Range and Via headers. limit_rate slows every
    response down (nginx's own syntax, e.g. "200k")."""

    name = "nginx"

    def __init__(self, root, workdir, limit_rate=None):
        super().__init__(workdir)
        self.root = root
        self.limit_rate = limit_rate
        self.access_log = os.path.join(self.workdir, "access.log")

    def write_config(self):
        w = self.workdir
        temp = "\n".join("  %s_temp_path %s;" % (kind, os.path.join(w, kind))
                         for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
        config = """
daemon off;
master_process off;
worker_processes 1;
pid {w}/nginx.pid;
error_log {w}/error.log;
events {{ worker_connections 64; }}
http {{
  log_format peers '$request_method\\t$uri\\t$status\\t$body_bytes_sent\\t$http_range\\t$http_if_range\\t$http_via';
  access_log {w}/access.log peers;
{temp}
  default_type application/octet-stream;
  server {{
    listen 127.0.0.1:{port};
    root {root};
    {rate}
  }}
}}
""".format(w=w, temp=temp, port=self.port, root=self.root,
           rate=("limit_rate %s;" % self.limit_rate) if self.limit_rate else "")
        with open(os.path.join(w, "nginx.conf"), "w") as f:
            f.write(config)

    def command(self):
        # -e: nginx writes to its default error log before it reads the
        # configuration; it is kept in the scratch folder too.
        return [_program("nginx", "/usr/sbin/nginx"), "-p", self.workdir, "-e",
                os.path.join(self.workdir, "error.log"), "-c", os.path.join(self.workdir, "nginx.conf")]

    def url(self, name):
        return "http://127.0.0.1:%d/%s" % (self.port, name)

    def requests(self, uri=None):
        """[{method, uri, status, bytes, range, if_range, via}] so far."""
        if not os.path.exists(self.access_log):
            return []
        found = []
        with open(self.access_log, encoding="utf-8", errors="replace") as f:
            for line in f:
                fields = line.rstrip("\n").split("\t")
                if len(fields) != 7:
                    continue
                entry = dict(zip(("method", "uri", "status", "bytes", "range", "if_range", "via"), fields))
                entry = {k: ("" if v == "-" else v) for k, v in entry.items()}
                entry["status"] = int(entry["status"])
                entry["bytes"] = int(entry["bytes"])
                if uri is None or entry["uri"] == uri:
                    found.append(entry)
        return found


class Tinyproxy(_Peer):
    """tinyproxy demanding Basic credentials from every client."""

    name = "tinyproxy"

    def __init__(self, workdir, user, password):
        super().__init__(workdir)
        self.user = user
        self.password = password
        self.log = os.path.join(self.workdir, "tinyproxy.log")

    def write_config(self):
        config = "\n".join([
            "Port %d" % self.port,
            "Listen 127.0.0.1",
            "Timeout 60",
            "MaxClients 20",
            'LogFile "%s"' % self.log,
            "LogLevel Info",
            'PidFile "%s"' % os.path.join(self.workdir, "tinyproxy.pid"),
            "Allow 127.0.0.1",
            "BasicAuth %s %s" % (self.user, self.password),
        ]) + "\n"
        with open(os.path.join(self.workdir, "tinyproxy.conf"), "w") as f:
            f.write(config)

    def command(self):
        return [_program("tinyproxy", "/usr/bin/tinyproxy"), "-d", "-c", os.path.join(self.workdir, "tinyproxy.conf")]

    def log_text(self):
        if not os.path.exists(self.log):
            return ""
        with open(self.log, encoding="utf-8", errors="replace") as f:
            return f.read()


class SystemProxy:
    """The prefix's system proxy (the user's Internet settings) set to
    server for the duration; the previous values come back afterwards."""

    NAMES = ("ProxyEnable", "ProxyServer")

    def __init__(self, server):
        self.server = server
        self.saved = {}

    @staticmethod
    def _reg(*args):
        return subprocess.run(["wine", "reg"] + list(args), stdin=subprocess.DEVNULL, capture_output=True,
                              text=True, errors="replace", timeout=60)

    def _query(self, name):
        done = self._reg("query", INTERNET_SETTINGS, "/v", name)
        for line in done.stdout.splitlines():
            parts = line.split(None, 2)
            if len(parts) == 3 and parts[0] == name:
                return parts[1], parts[2]
        return None

    def __enter__(self):
        for name in self.NAMES:
            self.saved[name] = self._query(name)
        self._reg("add", INTERNET_SETTINGS, "/v", "ProxyServer", "/t", "REG_SZ", "/d", self.server, "/f")
        self._reg("add", INTERNET_SETTINGS, "/v", "ProxyEnable", "/t", "REG_DWORD", "/d", "1", "/f")
        return self

    def __exit__(self, *exc):
        for name in self.NAMES:
            saved = self.saved.get(name)
            if saved is None:
                self._reg("delete", INTERNET_SETTINGS, "/v", name, "/f")
            else:
                kind, value = saved
                if kind == "REG_DWORD":
                    value = str(int(value, 0))
                self._reg("add", INTERNET_SETTINGS, "/v", name, "/t", kind, "/d", value, "/f")
