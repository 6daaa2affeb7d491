"""Scenario-test kit: drives the upgrade companion and its stand-ins inside
the Wine test bed of scripts/winebed.sh (DISPLAY, WINEPREFIX, HOME and LC_ALL
set). Standard library only.

    import kit
    class MyScenario(kit.ScenarioCase):
        def test_something(self):
            server = self.start_server()
            client = self.start_client()
            companion = self.start_companion()
            self.ctl.order(url=..., version=..., file=...)
            ...
    if __name__ == "__main__":
        kit.main()

Pieces usable on their own: Bed (the prefix's folders, state and log),
Ctl / Client / Companion (processes), xwin (X windows, clicks, screenshots),
fakes (the stand-in setup program) and serve() (the local HTTP server).
"""

from .bed import Bed, BedError
from .procs import Client, Companion, Ctl, CtlResult, WineProcess
from .fakes import make_setup, read_setup_runs
from .net import serve, TestServer
from .case import ScenarioCase, main, config, wait_for
from . import xwin

__all__ = ["Bed", "BedError", "Client", "Companion", "Ctl", "CtlResult", "WineProcess", "make_setup",
           "read_setup_runs", "serve", "TestServer", "ScenarioCase", "main", "config", "wait_for", "xwin"]
