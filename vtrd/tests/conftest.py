"""Starts vtrd as its own process on a free port, with virtual decks and decks
of vtrsim on pseudo-terminals, for the API and browser tests."""

import json
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

import pytest

SRC = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(os.environ.get("VTRD_BUILD", SRC / "build" / "default"))
LIBRARY = BUILD / "lib" / "libvtr422.so.0"
VTRSIM = BUILD / "sim" / "vtrsim"
sys.path[:0] = [str(SRC / "vtrd"), str(SRC / "python")]


def pytest_configure(config):
    if not LIBRARY.exists():
        pytest.exit(f"build libvtr422 first ({LIBRARY} is missing)", returncode=4)


class Sim:
    """vtrsim on a pseudo-terminal reached through a link that outlives it, so
    the deck can vanish (killed) and come back (a new vtrsim, the link moved)."""

    def __init__(self, link: pathlib.Path):
        self.link = link
        self.proc = None
        self.start()

    def start(self):
        self.proc = subprocess.Popen([str(VTRSIM)], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, text=True)
        pty = self.proc.stdout.readline().strip()
        tmp = self.link.with_suffix(".new")
        if tmp.is_symlink():
            tmp.unlink()
        tmp.symlink_to(pty)
        tmp.replace(self.link)

    def panel(self, line: str):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()

    def vanish(self):
        self.proc.kill()
        self.proc.wait()

    def stop(self):
        if self.proc.poll() is None:
            self.vanish()


class Service:
    def __init__(self, directory: pathlib.Path, args, env=None):
        self.directory = directory
        self.env = {**os.environ, "VTR422_LIBRARY": str(LIBRARY),
                    "VTR422_PROFILE_DIR": str(directory / "profile"),
                    "PYTHONPATH": os.pathsep.join([str(SRC / "vtrd"), str(SRC / "python")]),
                    **(env or {})}
        self.proc = subprocess.Popen(
            [sys.executable, "-m", "vtrd", "--config", str(directory), "--port", "0", *args],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, env=self.env)
        self.lines = []
        self.url = None
        deadline = time.monotonic() + 30
        while self.url is None:
            line = self.proc.stdout.readline()
            if not line or time.monotonic() > deadline:
                raise RuntimeError("vtrd did not start:\n" + "".join(self.lines))
            self.lines.append(line)
            if "open http://" in line:
                self.url = line.split("open ", 1)[1].strip().rstrip("/")
        self.token = (directory / "token").read_text().strip()
        self.host = self.url.split("//", 1)[1]

    def get(self, path):
        with urllib.request.urlopen(self.url + path, timeout=10) as r:
            return json.loads(r.read())

    def wait_for(self, deck, predicate, timeout=20.0):
        """The deck's snapshot once `predicate` holds for it."""
        deadline = time.monotonic() + timeout
        while True:
            snap = self.get(f"/api/decks/{deck}")
            if predicate(snap):
                return snap
            if time.monotonic() > deadline:
                raise AssertionError(f"{deck} never got there: {snap}")
            time.sleep(0.1)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(15)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        rest = self.proc.stdout.read()
        self.lines.append(rest)
        return self.proc.returncode


@pytest.fixture(scope="module")
def rig(tmp_path_factory):
    """A service with three virtual decks and one vtrsim deck ("vtr4") on a
    pseudo-terminal; lease 30 s."""
    directory = tmp_path_factory.mktemp("vtrd")
    lines = pathlib.Path(tempfile.mkdtemp(prefix="vtrd-"))  # a short path: the panel shows it
    sim = Sim(lines / "ttyVTR4")
    (directory / "vtrd.ini").write_text(
        "[vtrd]\nlease = 30\n\n"
        "[deck1]\nsim = BVW-75\n\n[deck2]\nsim = DVW-500\nstandard = pal\n\n"
        "[deck3]\nsim = BVW-75\n\n"
        f"[vtr4]\nport = {lines / 'ttyVTR4'}\n")
    service = Service(directory, [])
    service.sim = sim
    for deck in ("deck1", "deck2", "deck3", "vtr4"):
        service.wait_for(deck, lambda s: s["online"])
    yield service
    rc = service.stop()
    sim.stop()
    shutil.rmtree(lines, ignore_errors=True)
    assert rc == 0, "".join(service.lines)
