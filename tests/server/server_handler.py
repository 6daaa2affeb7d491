"""The test server's request handler: files with Range support, the faults of
server_faults.py, the control endpoints and the forward proxy.
"""

import base64
import email.utils
import fcntl
import http.client
import http.server
import json
import os
import re
import socket
import struct
import termios
import time
import urllib.parse

from server_faults import BLOCK, ENDLESS_LIMIT, MAX_STALL, Fault, parse_range

class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "NubraTestServer/1.0"

    def log_message(self, fmt, *args):  # quiet: the JSON log is the record
        pass

    # -- helpers ---------------------------------------------------------
    @property
    def owner(self):
        return self.server.owner

    def _entry(self, **extra):
        entry = {
            "time": round(time.time(), 3),
            "method": self.command,
            "path": self.path,
            "range": self.headers.get("Range", ""),
            "if_range": self.headers.get("If-Range", ""),
            "status": 0,
            "sent": 0,
            "length": None,
            "fault": "",
            "proxy_user": "",
        }
        entry.update(extra)
        return entry

    def _simple(self, status, body=b"", headers=None, entry=None):
        self.send_response(status)
        for k, v in (headers or {}).items():
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD" and body:
            self.wfile.write(body)
        if entry is not None:
            entry["status"] = status
            entry["sent"] = len(body) if self.command != "HEAD" else 0
            self.owner._record(entry)

    def _answer_without_file(self, status, body, headers, entry, fault):
        """A status or redirect answer, with the fault's Retry-After, and with
        "bodylen=N" a body that announces and sends N filler bytes for as long
        as the client reads (an error page or redirect that will not end), at
        the fault's rate if it names one."""
        headers = dict(headers or {})
        if fault.has("retry_after"):
            headers["Retry-After"] = fault.items["retry_after"]
        length = fault.num("bodylen")
        if length is None:
            self._simple(status, body, headers, entry)
            return
        self.send_response(status)
        for k, v in headers.items():
            self.send_header(k, v)
        self.send_header("Content-Length", str(length))
        self.end_headers()
        entry["status"] = status
        entry["length"] = length
        filler = b"x" * BLOCK
        rate = fault.num("rate")
        began = time.monotonic()
        try:
            while self.command != "HEAD" and entry["sent"] < length and not self.owner._stopping.is_set():
                chunk = filler[:min(BLOCK if not rate else max(1, int(rate) // 20), length - entry["sent"])]
                self.wfile.write(chunk)
                entry["sent"] += len(chunk)
                if rate:
                    delay = began + entry["sent"] / float(rate) - time.monotonic()
                    if delay > 0 and self.owner._stopping.wait(delay):
                        break
        finally:
            self.close_connection = True
            self.owner._record(entry)

    def flush_headers(self):
        # "slowheaders=S": the status line and headers go out one byte every
        # S seconds, so that the client waits for its answer's headers.
        delay = getattr(self, "_header_delay", None)
        if delay is None or not getattr(self, "_headers_buffer", None):
            super().flush_headers()
            return
        data = b"".join(self._headers_buffer)
        self._headers_buffer = []
        for i in range(len(data)):
            self.wfile.write(data[i:i + 1])
            self.wfile.flush()
            if self.owner._stopping.wait(delay):
                raise ConnectionError("server stopping")

    def _abort_connection(self):
        # An abrupt close (RST) is what a broken link looks like to the client.
        # A reset makes the client's system discard what it has not read yet,
        # so the bytes already sent are first let through: otherwise how much
        # of them arrives would depend on the machine's load.
        self._let_sent_bytes_arrive()
        try:
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        except OSError:
            pass
        self.close_connection = True

    def _let_sent_bytes_arrive(self, timeout=5.0):
        deadline = time.monotonic() + timeout
        try:
            # Bytes not yet acknowledged by the client (Linux SIOCOUTQ).
            while fcntl.ioctl(self.connection.fileno(), termios.TIOCOUTQ, struct.pack("i", 0)) != b"\0\0\0\0":
                if time.monotonic() >= deadline or self.owner._stopping.wait(0.01):
                    return
        except OSError:
            return
        # Acknowledged is in the client's system; give the client a moment to read it.
        self.owner._stopping.wait(0.3)

    # -- dispatch ---------------------------------------------------------
    def do_HEAD(self):
        self.do_GET()

    def do_POST(self):
        self.do_GET()

    def do_GET(self):
        try:
            # Control requests use a plain path, proxied ones an absolute URL,
            # so a proxy instance answers both.
            if self.path.startswith("/_control/"):
                self._control()
            elif self.owner.proxy_auth is not None:
                self._proxy()
            else:
                self._serve_file()
        except (ConnectionError, BrokenPipeError, socket.timeout):
            self.close_connection = True

    # -- control endpoints -------------------------------------------------
    def _control(self):
        url = urllib.parse.urlsplit(self.path)
        query = dict(urllib.parse.parse_qsl(url.query))
        body = b""
        if self.command == "POST":
            length = int(self.headers.get("Content-Length", "0") or 0)
            if length:
                body = self.rfile.read(length)
        if url.path == "/_control/log":
            text = "".join(json.dumps(e, sort_keys=True, separators=(",", ":")) + "\n"
                           for e in self.owner.requests())
            self._simple(200, text.encode(), {"Content-Type": "application/x-ndjson"})
        elif url.path == "/_control/reset":
            self.owner.reset()
            self._simple(200, b"ok\n")
        elif url.path == "/_control/fault":
            try:
                args = json.loads(body) if body else query
                self.owner.add_fault(args["path"], args.get("fault", ""), int(args.get("count", 1)))
            except (ValueError, KeyError) as exc:
                self._simple(400, ("bad fault: %s\n" % exc).encode())
                return
            self._simple(200, b"ok\n")
        else:
            self._simple(404, b"unknown control\n")

    # -- files ---------------------------------------------------------
    def _resolve(self):
        """Splits the request path into (fault, file path) and applies queued
        faults; the fault travels in a "/fault/FAULTS/" prefix or "?fault=FAULTS"."""
        url = urllib.parse.urlsplit(self.path)
        path = urllib.parse.unquote(url.path)
        faults = ""
        m = re.match(r"^/fault/([^/]*)(/.*)$", path)
        if m:
            faults, path = m.group(1), m.group(2)
        query = dict(urllib.parse.parse_qsl(url.query))
        if "fault" in query:
            faults = ",".join(filter(None, (faults, query["fault"])))
        # "once": the address's faults hit only the first request of the file
        # since the last reset; the client's next try is served as asked.
        first = self.owner._first_request(path)
        if Fault(faults).has("once") and not first:
            faults = ""
        queued = self.owner._take_fault(path)
        if queued:
            faults = ",".join(filter(None, (faults, queued)))
        return Fault(faults), path

    def _serve_file(self):
        try:
            fault, path = self._resolve()
        except ValueError as exc:
            self._simple(400, ("%s\n" % exc).encode(), entry=self._entry())
            return
        entry = self._entry(fault=str(fault), file=path)
        # Per request: a kept-alive connection serves the next one fast.
        self._header_delay = float(fault.items["slowheaders"] or 1) if fault.has("slowheaders") else None
        status = fault.num("status")
        if status:
            self._answer_without_file(int(status), b"fault\n", None, entry, fault)
            return
        location = self._redirect_location(fault, path)
        if location is not None:
            self._answer_without_file(302, b"moved\n", {"Location": location}, entry, fault)
            return

        served = fault.items.get("serve") or path
        full = os.path.realpath(os.path.join(self.owner.root, served.lstrip("/")))
        if not full.startswith(self.owner.root + os.sep) or not os.path.isfile(full):
            self._simple(404, b"not found\n", entry=entry)
            return

        st = os.stat(full)
        size = st.st_size
        etag = fault.items.get("etag") or '"%x-%x"' % (st.st_mtime_ns, size)
        last_modified = email.utils.formatdate(st.st_mtime, usegmt=True)
        validators = []
        if not fault.has("noetag"):
            validators.append(etag)
        if not fault.has("nolastmod"):
            validators.append(last_modified)

        rng = None if fault.has("norange") else parse_range(self.headers.get("Range"), size)
        if_range = self.headers.get("If-Range")
        if rng is not None and if_range is not None and if_range not in validators and not fault.has("noifrange"):
            rng = None  # the client's copy is stale: send the whole new file
        if rng == "bad":
            self._simple(416, b"", {"Content-Range": "bytes */%d" % size}, entry=entry)
            return

        start, end = rng if rng else (0, size - 1)
        length = end - start + 1 if size else 0
        self.send_response(206 if rng else 200)
        self.send_header("Content-Type", "application/octet-stream")
        if not fault.has("norange"):
            self.send_header("Accept-Ranges", "bytes")
        if not fault.has("noetag"):
            self.send_header("ETag", etag)
        if not fault.has("nolastmod"):
            self.send_header("Last-Modified", last_modified)
        if rng:
            total = fault.num("total", size)
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, end, total))
        announced = fault.num("length")
        if announced is not None:
            length = announced
        if fault.has("endless"):
            length = ENDLESS_LIMIT
        if fault.has("nolength") or fault.has("endless"):
            self.close_connection = True
            self.send_header("Connection", "close")
        elif fault.has("rawlength"):
            # Announced verbatim (a length no integer holds); the file's own
            # bytes follow and the connection closes after them.
            self.close_connection = True
            self.send_header("Content-Length", fault.items["rawlength"])
        else:
            self.send_header("Content-Length", str(length))
        self.end_headers()
        entry["status"] = 206 if rng else 200
        entry["length"] = None if fault.has("nolength") or fault.has("endless") else length
        if fault.has("rawlength"):
            entry["length"] = fault.items["rawlength"]
        entry["concurrent"] = self.owner._count_body(path, 1)
        try:
            if self.command != "HEAD":
                self._send_body(full, start, length, fault, entry)
        finally:
            self.owner._count_body(path, -1)
            self.owner._record(entry)

    def _redirect_location(self, fault, path):
        """Where a redirect fault sends the client, or None. "redirect=loop"
        answers every request with itself; "redirect=N" is a chain of N hops
        before the file; "location=URL" sends to URL."""
        if fault.has("location"):
            return fault.items["location"]
        hops = fault.items.get("redirect")
        if hops is None:
            return None
        if hops == "loop":
            return self.path
        if not hops.isdigit() or int(hops) <= 0:
            return None
        rest = Fault(str(fault))
        if int(hops) > 1:
            rest.items["redirect"] = str(int(hops) - 1)
        else:
            del rest.items["redirect"]
        return "/fault/%s%s" % (rest, path) if rest else path

    def _send_body(self, full, start, length, fault, entry):
        drop = fault.num("drop")
        short = fault.num("short")
        stall = fault.num("stall")
        stall_after = fault.num("stall_after", 0)
        rate = fault.num("rate")
        rate_after = fault.num("rate_after", 0)
        burst = fault.num("burst", 0.05)
        trickle = fault.num("trickle")
        limit = length
        if drop is not None:
            limit = min(limit, drop)
        if short is not None:
            limit = max(0, min(limit, length - short))
        sent = 0
        began, paced_from = None, 0
        # A body longer than the file (a lying length, an endless body)
        # repeats the file's bytes.
        cycle = fault.has("endless") or fault.has("length")
        with open(full, "rb") as f:
            f.seek(start)
            while sent < limit:
                if stall is not None and sent >= stall_after:
                    self.wfile.flush()
                    self.owner._stopping.wait(min(float(stall), MAX_STALL))
                    stall = None
                    if self.owner._stopping.is_set():
                        break
                chunk_size = min(BLOCK, limit - sent)
                paced = rate and sent >= rate_after
                if paced:
                    chunk_size = min(limit - sent, max(1, int(rate * burst)))
                if stall is not None and sent < stall_after:
                    chunk_size = min(chunk_size, stall_after - sent)
                if rate and sent < rate_after:
                    chunk_size = min(chunk_size, rate_after - sent)
                if trickle is not None:
                    chunk_size = 1
                if paced and began is None:
                    began, paced_from = time.monotonic(), sent
                chunk = f.read(chunk_size)
                if not chunk and cycle and os.path.getsize(full):
                    f.seek(0)
                    chunk = f.read(chunk_size)
                if not chunk:
                    break
                self.wfile.write(chunk)
                sent += len(chunk)
                entry["sent"] = sent
                if trickle is not None:
                    self.wfile.flush()
                    if self.owner._stopping.wait(float(trickle)):
                        break
                elif paced:
                    due = began + (sent - paced_from) / float(rate)
                    delay = due - time.monotonic()
                    if delay > 0 and self.owner._stopping.wait(delay):
                        break
        self.wfile.flush()
        if sent < length:
            if drop is not None and short is None:
                self._abort_connection()
            else:
                # A clean close that leaves the body shorter than announced.
                self.close_connection = True
                try:
                    self.connection.shutdown(socket.SHUT_WR)
                except OSError:
                    pass

    # -- forward proxy -----------------------------------------------------
    def _proxy(self):
        entry = self._entry()
        auth = self.headers.get("Proxy-Authorization", "")
        user = None
        if auth.lower().startswith("basic "):
            try:
                user = base64.b64decode(auth[6:].strip()).decode("utf-8")
            except (ValueError, UnicodeDecodeError):
                user = None
        entry["proxy_user"] = (user or "").partition(":")[0]
        entry["file"] = urllib.parse.urlsplit(self.path).path
        if user != self.owner.proxy_auth:
            self._simple(407, b"proxy authentication required\n",
                         {"Proxy-Authenticate": 'Basic realm="test proxy"'}, entry=entry)
            return
        url = urllib.parse.urlsplit(self.path)
        host = url.hostname or ""
        # Only loopback targets: a test must never reach beyond this machine.
        if url.scheme != "http" or host not in ("127.0.0.1", "localhost"):
            self._simple(502, b"only loopback targets\n", entry=entry)
            return
        conn = http.client.HTTPConnection(host, url.port or 80, timeout=60)
        target = url.path + ("?" + url.query if url.query else "")
        headers = {k: v for k, v in self.headers.items()
                   if k.lower() not in ("proxy-authorization", "proxy-connection", "connection", "keep-alive")}
        try:
            conn.request(self.command, target, headers=headers)
            resp = conn.getresponse()
        except OSError:
            self._simple(502, b"upstream unreachable\n", entry=entry)
            return
        self.send_response(resp.status)
        length = resp.getheader("Content-Length")
        for k, v in resp.getheaders():
            if k.lower() not in ("connection", "keep-alive", "transfer-encoding", "server", "date"):
                self.send_header(k, v)
        if length is None:
            self.close_connection = True
            self.send_header("Connection", "close")
        self.end_headers()
        entry["status"] = resp.status
        try:
            while self.command != "HEAD":
                chunk = resp.read(BLOCK)
                if not chunk:
                    break
                self.wfile.write(chunk)
                entry["sent"] += len(chunk)
        finally:
            conn.close()
            if length is not None and entry["sent"] < int(length):
                self._abort_connection()
            self.owner._record(entry)
