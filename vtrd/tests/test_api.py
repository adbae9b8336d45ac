"""vtrd's API and WebSockets without a browser, against a running service; its
pure parts (configuration, profile, lease) on their own."""

import asyncio
import json
import os
import pathlib
import socket
import stat
import threading
import time
import urllib.error
import urllib.request

import pytest

aiohttp = pytest.importorskip("aiohttp", reason="python3-aiohttp is not installed")

from conftest import Service  # noqa: E402
from vtrd import config, profile  # noqa: E402
from vtrd.lease import Lease  # noqa: E402


def post(rig, path, body=None, method="POST", client="tester", token=None, origin=None):
    headers = {"Content-Type": "application/json"}
    if client:
        headers["X-Vtrd-Client"] = client
    token = rig.token if token is None else token
    if token:
        headers["Authorization"] = f"Bearer {token}"
    if origin:
        headers["Origin"] = origin
    data = json.dumps(body).encode() if body is not None else None
    req = urllib.request.Request(rig.url + path, data=data, method=method, headers=headers)
    try:
        with urllib.request.urlopen(req, timeout=60) as r:
            return r.status, json.loads(r.read())
    except urllib.error.HTTPError as e:
        return e.code, json.loads(e.read())


def ws_messages(rig, deck, seconds, origin=None, until=None):
    """What deck's WebSocket sends in `seconds` (or until `until(message)`)."""
    async def run():
        got = []
        headers = {"Origin": origin} if origin else {}
        async with aiohttp.ClientSession() as s:
            async with s.ws_connect(f"{rig.url}/api/decks/{deck}/ws", headers=headers) as ws:
                loop = asyncio.get_running_loop()
                end = loop.time() + seconds
                while loop.time() < end:
                    try:
                        msg = await ws.receive(timeout=end - loop.time())
                    except asyncio.TimeoutError:
                        break
                    if msg.type != aiohttp.WSMsgType.TEXT:
                        break
                    got.append(json.loads(msg.data))
                    if until and until(got[-1]):
                        break
        return got
    return asyncio.run(run())


def command(rig, text, deck="deck1", client="tester"):
    return post(rig, f"/api/decks/{deck}/command", {"command": text}, client=client)


def audit_lines(rig):
    return [json.loads(line) for line in (rig.directory / "audit.log").read_text().splitlines()]


def audited(rig, command, client, after=0):
    """The audit log's last entry of `client` for `command` past its first
    `after` lines (written by a thread of the service's own, so it may come a
    moment after the answer)."""
    deadline = time.monotonic() + 5
    while True:
        found = [e for e in audit_lines(rig)[after:]
                 if e["command"] == command and e["client"] == client]
        if found or time.monotonic() > deadline:
            assert found, f"no audit entry of {client} for {command!r}"
            return found[-1]
        time.sleep(0.05)


# ---- the pure parts -------------------------------------------------------------

@pytest.mark.parametrize("text, section, keys, expected", [
    ("", "videotape1", {"ComPort": "11"}, "[videotape1]\nComPort=11\n"),
    # a key is matched without regard to case and replaced where it stands
    ("[videotape1]\ncomport=2\nVTRID=19\n\n[videotape2]\nComPort=3\n", "videotape1",
     {"ComPort": "11", "Pal": "1"},
     "[videotape1]\nComPort=11\nVTRID=19\nPal=1\n\n[videotape2]\nComPort=3\n"),
    # the byte-order mark, comments and other sections stay as they were
    ("\xef\xbb\xbf; decks\n[videotape]\nPreRoll=150\n", "videotape2", {"ComPort": "12"},
     "\xef\xbb\xbf; decks\n[videotape]\nPreRoll=150\n\n[videotape2]\nComPort=12\n"),
])
def test_profile_keys_are_set_and_the_rest_kept(text, section, keys, expected):
    assert profile.set_keys(text, section, keys) == expected


@pytest.mark.parametrize("ini, decks, error", [
    ("[a]\nport = COM3\n[b]\nport = /dev/ttyUSB0\n[c]\nsim = BVW-75\n[d]\nport = tcp://h:2001\n"
     "device = vcr1\n",
     [("a", 3, "", "vcr2"), ("b", 11, "/dev/ttyUSB0", "vcr3"), ("c", 12, "", "vcr4"),
      ("d", 13, "tcp://h:2001", "vcr1")], None),
    ("[a]\nport = COM3\n[b]\nport = com3\n", None, "COM3 is another deck's port"),
    ("[a]\nsim = BVW-75\nport = COM3\n", None, "either port"),
    ("[a]\n", None, "either port"),
    ("[a]\nsim = X\nmodel = BVW-75\n", None, "model is a row"),
    ("[a]\nsim = X\nstandard = secam\n", None, "standard is ntsc, drop or pal"),
    ("[9a]\nsim = X\n", None, "deck name"),
    ("[a]\nsim = X\ndevice = vcr\n[b]\nsim = X\ndevice = vcr\n", None, "same device"),
    ("[vtrd]\nport = http\n", None, "[vtrd]"),
])
def test_configuration(ini, decks, error):
    try:
        cfg = config.parse(ini, pathlib.Path("/nonexistent"))
        config.assign_ports(cfg.decks)
    except config.ConfigError as e:
        assert error and error in str(e)
        return
    assert error is None
    assert [(d.name, d.com, d.bind, d.device) for d in cfg.decks] == decks


def test_a_lease_is_taken_only_when_free_or_expired():
    now = [0.0]
    lease = Lease(30.0, lambda: now[0])
    steps = [  # (time, action, client, answer, holder afterwards)
        (0, "take", "a", (True, "a"), "a"),
        (1, "take", "b", (False, "a"), "a"),
        (1, "release", "b", False, "a"),     # only the holder gives it up
        (20, "take", "a", (True, "a"), "a"),  # renewed: now good until 50
        (45, "take", "b", (False, "a"), "a"),
        (50, "take", "b", (True, "b"), "b"),  # expired
        (51, "release", "b", True, None),
        (52, "take", "a", (True, "a"), "a"),
    ]
    for t, action, client, answer, holder in steps:
        now[0] = t
        assert getattr(lease, action)(client) == answer, (t, action, client)
        assert lease.current() == holder, (t, action, client)


# ---- the service ----------------------------------------------------------------

@pytest.mark.parametrize("path, body, kwargs, status, text", [
    ("/api/decks/deck1/command", {"command": "play"}, {"token": "wrong"}, 401, "control token"),
    ("/api/decks/deck1/command", {"command": "play"}, {"token": ""}, 401, "control token"),
    ("/api/decks/deck1/lease", None, {"token": "wrong"}, 401, "control token"),
    ("/api/decks/deck1/command", {"command": "play"}, {"client": ""}, 400, "X-Vtrd-Client"),
    ("/api/decks/deck1/command", {"command": "play"}, {"origin": "http://evil.example"}, 403,
     "origin"),
    ("/api/decks/deck1/command", {"command": "play"}, {"client": "other"}, 409,
     "tester is in control"),
    ("/api/decks/deck1/open", None, {"client": "other"}, 409, "tester is in control"),
    ("/api/decks/nosuch/command", {"command": "play"}, {}, 404, "no such deck"),
    ("/api/decks/deck1/command", {"verb": "play"}, {}, 400, '{"command"'),
    ("/api/decks/deck1/command", {"command": "close"}, {}, 400, "requests of their own"),
    ("/api/decks/deck1/command", {"command": "play\nstop"}, {}, 400, "one line"),
])
def test_refusals(rig, path, body, kwargs, status, text):
    assert post(rig, "/api/decks/deck1/lease")[0] == 200  # tester in control
    logged = len(audit_lines(rig))
    got, answer = post(rig, path, body, **kwargs)
    assert (got, answer["ok"]) == (status, False)
    assert text in answer["text"]
    if status in (401, 403, 409):
        what = body["command"] if body else path.rsplit("/", 1)[1]
        entry = audited(rig, what, kwargs.get("client", "tester"), logged)
        assert entry["answer"]["status"] == status


@pytest.mark.parametrize("text, answer", [
    ("status position", {"command": "status deck3 position", "ok": True,
                         "result": "00:00:00:00"}),
    ("seek to start wait", {"command": "seek deck3 to start wait", "ok": True}),
    ("status nosuchitem", {"command": "status deck3 nosuchitem", "ok": False, "error": 259}),
    ("frobnicate", {"command": "frobnicate deck3", "ok": False, "error": 261}),
])
def test_answers_are_vtrctl_json_and_audited(rig, text, answer):
    status, got = command(rig, text, deck="deck3")
    assert status == 200
    if not answer["ok"]:
        assert got.pop("text")  # the library's text for the code
    assert got == answer
    entry = audited(rig, answer["command"], "tester")
    assert (entry["deck"], entry["answer"]) == ("deck3", got if answer["ok"] else {
        **got, "text": entry["answer"]["text"]})
    post(rig, "/api/decks/deck3/lease", method="DELETE")


def test_websocket_state_rate_owed_and_notification(rig):
    messages = ws_messages(rig, "deck3", 2.0)
    states = [m for m in messages if m["type"] == "state"]
    assert 7 <= len(states) <= 12, len(states)  # five a second (on a busy machine a few fewer)
    assert {"timecode", "mode", "speed", "owed", "online", "lease"} <= states[0].keys()

    seen = []

    def watch():
        seen.extend(ws_messages(rig, "deck3", 20, until=lambda m: m["type"] == "notify"
                                and m["command"].startswith("play deck3 to")))
    watcher = threading.Thread(target=watch)
    watcher.start()
    time.sleep(0.5)
    assert command(rig, "play to 00:00:02:00 notify", deck="deck3")[1]["ok"]
    watcher.join()
    owed = [m["owed"] for m in seen if m["type"] == "state"]
    assert "play deck3 to 00:00:02:00 notify" in owed
    answer = [m for m in seen if m["type"] == "answer"]
    assert answer[0]["client"] == "tester" and answer[0]["ok"]
    note = seen[-1]
    assert (note["notify"], note["code"], note["seq"]) == ("successful", 1,
                                                          rig.get("/api/decks/deck3")[
                                                              "notifications"])
    assert rig.get("/api/decks/deck3")["owed"] is None
    post(rig, "/api/decks/deck3/lease", method="DELETE")


@pytest.mark.parametrize("origin, accepted", [
    (None, True),                              # a program
    ("http://127.0.0.1:{port}", True),         # the panel's own page
    ("http://localhost:{port}", True),
    ("http://evil.example", False),
    ("http://127.0.0.1:1", False),             # another port is another origin
])
def test_websocket_origin(rig, origin, accepted):
    port = rig.url.rsplit(":", 1)[1]
    origin = origin.format(port=port) if origin else None
    if accepted:
        assert ws_messages(rig, "deck1", 0.3, origin=origin)[0]["type"] == "state"
    else:
        with pytest.raises(aiohttp.WSServerHandshakeError) as e:
            ws_messages(rig, "deck1", 0.3, origin=origin)
        assert e.value.status == 403


def test_one_slow_deck_stalls_no_other(rig):
    """A deck that waits, and a deck that has gone silent, leave the others'
    commands and states as quick as ever."""
    rig.sim.panel("fault silence")
    try:
        rig.wait_for("vtr4", lambda s: not s["online"])
        long_wait = threading.Thread(target=command, args=(rig, "seek to 00:20:00:00 wait"))
        long_wait.start()
        time.sleep(0.5)
        started = time.monotonic()
        status, got = command(rig, "status mode", deck="deck2")
        assert got["ok"] and time.monotonic() - started < 0.5
        states = [m for m in ws_messages(rig, "deck2", 1.0) if m["type"] == "state"]
        assert len(states) >= 4
        assert command(rig, "stop")[1]["ok"]  # ends the wait: a stop is not queued behind it
        long_wait.join(10)
        assert not long_wait.is_alive()
    finally:
        rig.sim.panel("clear")
        for deck in ("deck1", "deck2"):
            post(rig, f"/api/decks/{deck}/lease", method="DELETE")
    rig.wait_for("vtr4", lambda s: s["online"])


def test_a_client_gone_mid_command_leaves_the_deck_where_the_command_takes_it(rig):
    seen = []
    watcher = threading.Thread(target=lambda: seen.extend(ws_messages(
        rig, "deck1", 30, until=lambda m: m["type"] == "answer" and "00:00:40:00" in m.get(
            "command", ""))))
    watcher.start()
    time.sleep(0.3)
    body = json.dumps({"command": "cue to 00:00:40:00 wait"}).encode()
    host, port = rig.host.split(":")
    with socket.create_connection((host, int(port))) as s:
        s.sendall(b"POST /api/decks/deck1/command HTTP/1.1\r\nHost: " + rig.host.encode() +
                  b"\r\nAuthorization: Bearer " + rig.token.encode() +
                  b"\r\nX-Vtrd-Client: leaver\r\nContent-Type: application/json\r\n"
                  b"Content-Length: " + str(len(body)).encode() + b"\r\n\r\n" + body)
        time.sleep(0.3)  # the cue is under way; the client goes
    watcher.join()
    answer = [m for m in seen if m["type"] == "answer"][-1]
    assert (answer["client"], answer["ok"]) == ("leaver", True)
    # the snapshot is one poll old at most: the next ones show the deck at rest there
    snap = rig.wait_for("deck1", lambda s: s["mode"] in ("paused", "stopped"), timeout=2)
    assert snap["timecode"] == "00:00:40:00" and snap["lease"]["holder"] == "leaver"
    assert audited(rig, "cue deck1 to 00:00:40:00 wait", "leaver")["answer"]["ok"]
    # the lease stays until it runs out or is given up
    assert command(rig, "stop", client="tester")[0] == 409
    post(rig, "/api/decks/deck1/lease", method="DELETE", client="leaver")


def test_the_token_is_made_once_and_kept_private(tmp_path):
    first = Service(tmp_path, ["--sim", "1"])
    try:
        token_line = "".join(first.lines)
        assert first.token in token_line
        assert stat.S_IMODE(os.stat(tmp_path / "token").st_mode) == 0o600
    finally:
        assert first.stop() == 0
    second = Service(tmp_path, ["--sim", "1"])
    try:
        assert second.token == first.token
        assert first.token not in "".join(second.lines)
    finally:
        assert second.stop() == 0


def test_a_deck_that_cannot_open_says_why(tmp_path):
    (tmp_path / "vtrd.ini").write_text("[ghost]\nport = /nonexistent/ttyX\n")
    service = Service(tmp_path, [])
    try:
        snap = service.wait_for("ghost", lambda s: s["detail"].startswith("open: error 262"))
        assert (snap["open"], snap["online"]) == (False, False)
        status, answer = post(service, "/api/decks/ghost/open")
        assert (status, answer["ok"], answer["error"]) == (200, False, 262)
        assert "/nonexistent/ttyX" in answer["detail"]
    finally:
        assert service.stop() == 0
