"""The test server's fault catalogue: what one request may be told to do
wrong ("status=503,drop,..."), and the Range header as the server reads it.
"""

import re

BLOCK = 256 * 1024
MAX_STALL = 600.0  # seconds; a stall never outlives the server anyway
# An endless body ends here all the same, so that a client that fails to stop
# fails its test instead of filling the disk.
ENDLESS_LIMIT = 1 << 30


class Fault:
    """One request's misbehaviour, parsed from "name=value,name,..."."""

    KNOWN = {"status", "drop", "short", "stall", "stall_after", "rate", "rate_after", "noetag", "nolastmod",
             "norange", "nolength", "etag", "endless", "length", "total", "redirect", "location",
             "trickle", "slowheaders", "once", "retry_after", "bodylen", "rawlength", "burst", "noifrange",
             "serve", "validatorless"}

    def __init__(self, faults=""):
        self.items = {}
        for part in filter(None, (p.strip() for p in faults.split(","))):
            name, _, value = part.partition("=")
            if name not in self.KNOWN:
                raise ValueError("unknown fault %r" % name)
            self.items[name] = value
        if self.has("validatorless"):  # a cache that keeps no validators and ignores If-Range
            self.items.update(noifrange="", noetag="", nolastmod="")

    def num(self, name, default=None):
        value = self.items.get(name)
        if value is None or value == "":
            return default
        return float(value) if "." in value else int(value)

    def has(self, name):
        return name in self.items

    def __bool__(self):
        return bool(self.items)

    def __str__(self):
        return ",".join(k if v == "" else "%s=%s" % (k, v) for k, v in self.items.items())


def parse_range(header, size):
    """Returns (start, end) inclusive for a single "bytes=" range, None when the
    header is absent or not understood (serve the whole file), or "bad" when
    it cannot be satisfied."""
    if not header:
        return None
    m = re.fullmatch(r"\s*bytes\s*=\s*(\d*)\s*-\s*(\d*)\s*", header)
    if not m or (m.group(1) == "" and m.group(2) == ""):
        return None
    if m.group(1) == "":
        length = int(m.group(2))
        if length == 0:
            return "bad"
        return max(0, size - length), size - 1
    start = int(m.group(1))
    end = int(m.group(2)) if m.group(2) else size - 1
    if start >= size or end < start:
        return "bad"
    return start, min(end, size - 1)
