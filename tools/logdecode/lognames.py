"""Names for the numbers a failure record carries: the HTTP status, the
network library's error codes, and the error bits of a signature's chain.
The same names as tools/logdecode/ErrorNames.cpp."""

from logprint import one_line

# The statuses a download can end on: the library follows redirects itself
# and takes only 200 and 206, so anything else is the server's refusal.
HTTP_STATUS_NAMES = {
    200: "ok", 206: "partial content", 301: "moved permanently", 302: "found", 303: "see other",
    304: "not modified", 307: "temporary redirect", 308: "permanent redirect", 400: "bad request",
    401: "unauthorized", 403: "forbidden", 404: "not found", 405: "method not allowed",
    407: "proxy authentication required", 408: "request timeout", 410: "gone", 412: "precondition failed",
    416: "range not satisfiable", 429: "too many requests", 500: "internal server error", 501: "not implemented",
    502: "bad gateway", 503: "service unavailable", 504: "gateway timeout",
}

# What the network library reports: the last error of a WinINet call, the
# codes it sets itself, and the Windows errors of writing the download.
ERROR_CODE_NAMES = {
    2: "file not found", 3: "path not found", 5: "access denied", 8: "not enough memory", 14: "out of memory",
    19: "write protected", 21: "device not ready", 29: "write fault", 32: "sharing violation",
    33: "lock violation", 39: "disk full", 80: "file exists", 87: "invalid parameter", 112: "disk full",
    123: "invalid file name", 183: "already exists", 206: "file name too long", 995: "operation aborted",
    1224: "file in use by a mapped section", 1450: "insufficient system resources", 1460: "timed out",
    12001: "out of handles", 12002: "timed out", 12003: "extended error", 12004: "internal error",
    12005: "invalid URL", 12006: "unrecognized scheme", 12007: "name not resolved", 12008: "protocol not found",
    12009: "invalid option", 12012: "shut down", 12013: "incorrect user name", 12014: "incorrect password",
    12015: "login failure", 12016: "invalid operation", 12017: "operation cancelled",
    12018: "incorrect handle type", 12019: "incorrect handle state", 12026: "request pending",
    12028: "item not found", 12029: "cannot connect", 12030: "connection aborted", 12031: "connection reset",
    12032: "force retry", 12033: "invalid proxy request", 12036: "handle exists",
    12037: "certificate date invalid", 12038: "certificate name invalid", 12039: "redirect from http to https",
    12040: "redirect from https to http", 12044: "client certificate needed",
    12045: "invalid certificate authority", 12046: "client authentication not set up",
    12047: "async thread failed", 12048: "redirect scheme change", 12055: "certificate errors",
    12056: "certificate revocation unknown", 12057: "certificate revocation check failed",
    12150: "header not found", 12151: "downlevel server", 12152: "invalid server response",
    12153: "invalid header", 12154: "invalid query request", 12155: "header already exists",
    12156: "redirect failed", 12157: "secure channel error", 12158: "unable to cache file",
    12159: "TCP/IP not installed", 12160: "not redirected", 12163: "disconnected", 12164: "server unreachable",
    12165: "proxy server unreachable", 12166: "bad auto-proxy script",
    12167: "unable to download the auto-proxy script", 12169: "invalid certificate",
    12170: "certificate revoked", 12171: "failed due to a security check", 12172: "not initialized",
    12175: "decoding failed",
}

_ASCII_DIGITS = frozenset("0123456789")


def _number_after(text, word):
    """(digits, position of the word) for the first `word` followed by a
    number of 1 to 10 digits; (None, -1) when there is none."""
    pos = text.find(word)
    while pos >= 0:
        end = pos + len(word)
        while end < len(text) and end - pos - len(word) <= 10 and text[end] in _ASCII_DIGITS:
            end += 1
        count = end - pos - len(word)
        if 1 <= count <= 10:
            return text[pos + len(word):end], pos
        pos = text.find(word, pos + 1)
    return None, -1


def _named(label, digits, names):
    name = names.get(int(digits))
    return label + digits + (" (%s)" % name if name else "")


# The error bits of a certificate chain (CERT_TRUST_* of the system's
# chain engine), as the records about a setup's signature carry them.
CHAIN_STATUS_NAMES = (
    (0x00000001, "IS_NOT_TIME_VALID"), (0x00000002, "IS_NOT_TIME_NESTED"), (0x00000004, "IS_REVOKED"),
    (0x00000008, "IS_NOT_SIGNATURE_VALID"), (0x00000010, "IS_NOT_VALID_FOR_USAGE"), (0x00000020, "IS_UNTRUSTED_ROOT"),
    (0x00000040, "REVOCATION_STATUS_UNKNOWN"), (0x00000080, "IS_CYCLIC"), (0x00000100, "INVALID_EXTENSION"),
    (0x00000200, "INVALID_POLICY_CONSTRAINTS"), (0x00000400, "INVALID_BASIC_CONSTRAINTS"),
    (0x00000800, "INVALID_NAME_CONSTRAINTS"), (0x00001000, "HAS_NOT_SUPPORTED_NAME_CONSTRAINT"),
    (0x00002000, "HAS_NOT_DEFINED_NAME_CONSTRAINT"), (0x00004000, "HAS_NOT_PERMITTED_NAME_CONSTRAINT"),
    (0x00008000, "HAS_EXCLUDED_NAME_CONSTRAINT"), (0x00010000, "IS_PARTIAL_CHAIN"),
    (0x00020000, "CTL_IS_NOT_TIME_VALID"), (0x00040000, "CTL_IS_NOT_SIGNATURE_VALID"),
    (0x00080000, "CTL_IS_NOT_VALID_FOR_USAGE"), (0x00100000, "HAS_WEAK_SIGNATURE"),
    (0x01000000, "IS_OFFLINE_REVOCATION"), (0x02000000, "NO_ISSUANCE_CHAIN_POLICY"),
    (0x04000000, "IS_EXPLICIT_DISTRUST"), (0x08000000, "HAS_NOT_SUPPORTED_CRITICAL_EXT"),
)
_CHAIN_WORD = "chain status 0x"
_HEX_DIGITS = frozenset("0123456789abcdefABCDEF")
# The answers the library takes; with any other status its error 12152 only
# says that the server refused, which the status already names.
_ACCEPTED_STATUSES = (200, 206)
_REFUSED_ANSWER_ERROR = 12152
MAX_SIGNATURE_CHARS = 200


def chain_status_names(value):
    """"IS_UNTRUSTED_ROOT, IS_PARTIAL_CHAIN"; bits without a name as one hex number."""
    names = [name for bit, name in CHAIN_STATUS_NAMES if value & bit]
    known = 0
    for bit, _ in CHAIN_STATUS_NAMES:
        known |= bit
    if value & ~known:
        names.append("0x%08X" % (value & ~known))
    return ", ".join(names)


def signature_gist(text):
    """A record about a setup's signature up to its chain status, with the
    status's bits named: what was refused or not verified, and why. "" for
    any other record."""
    at = text.find(_CHAIN_WORD)
    digits = text[at + len(_CHAIN_WORD):at + len(_CHAIN_WORD) + 8] if at >= 0 else ""
    if len(digits) != 8 or not all(ch in _HEX_DIGITS for ch in digits):
        return ""
    names = chain_status_names(int(digits, 16))
    return one_line(text[:at + len(_CHAIN_WORD) + 8], MAX_SIGNATURE_CHARS) + (" (%s)" % names if names else "")


def signature_rest(text):
    """What a signature record says after its chain status, unchanged; ""
    for any other record."""
    if not signature_gist(text):
        return ""
    return text[text.find(_CHAIN_WORD) + len(_CHAIN_WORD) + 8:]


def error_gist(text):
    """The numbers of a record's text, named, the HTTP status first; a
    signature record's cause and chain status."""
    signature = signature_gist(text)
    if signature:
        return signature
    parts = []
    status, _ = _number_after(text, "HTTP status ")
    refused = status is not None and int(status) != 0 and int(status) not in _ACCEPTED_STATUSES
    if status is not None and int(status) != 0:
        parts.append(_named("HTTP ", status, HTTP_STATUS_NAMES))
    error, at = _number_after(text, "error ")
    if error is not None and int(error) != 0 and not (refused and int(error) == _REFUSED_ANSWER_ERROR):
        label = "network error " if at >= 8 and text[at - 8:at] == "network " else "error "
        parts.append(_named(label, error, ERROR_CODE_NAMES))
    return ", ".join(parts)
