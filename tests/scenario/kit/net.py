"""The local HTTP server of tests/server, on 127.0.0.1 only."""

import os
import sys

_HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.normpath(os.path.join(_HERE, "..", "..", "server")))
from testserver import TestServer  # noqa: E402


def serve(root, log_path=None):
    """A started TestServer for the files in root; stop() it afterwards (or
    use ScenarioCase.start_server, which does)."""
    return TestServer(root, log_path=log_path).start()
