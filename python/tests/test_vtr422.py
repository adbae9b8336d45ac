"""The Python package against the library's embedded virtual deck, in real time."""

import ctypes
import inspect
import os
import signal
import threading
import time

import pytest

import vtr422


@pytest.fixture(scope="module")
def lib(tmp_path_factory):
    profile = tmp_path_factory.mktemp("profile")
    # vcr3 and vcr5 on ports of their own (a second virtual deck, a refused address).
    (profile / "VTR.INI").write_text("[videotape3]\nComPort=3\n[videotape5]\nComPort=5\n")
    mp = pytest.MonkeyPatch()
    mp.setenv("VTR422_PROFILE_DIR", str(profile))
    with vtr422.Library() as library:
        library.attach_virtual_deck("COM2", "BVW-75", "ntsc")
        yield library
    mp.undo()


@pytest.fixture(scope="module")
def deck(lib):
    with lib.open("vcr", alias="tape") as d:
        yield d


def test_play_between_positions_notifies_and_moves(deck):
    deck.cue(to=300, wait=True)
    assert deck.position() == 300
    deck.play(from_=300, to=360, notify=True)
    note = deck.wait_notify(timeout=30)
    assert (note.name, note.device_id) == ("successful", deck.device_id)
    assert note.command == "play tape from 300 to 360 notify"
    assert deck.position() >= 360
    assert deck.mode() in ("paused", "stopped")


def test_callback_hears_a_superseded_play(deck):
    heard, arrived = [], threading.Event()

    def on_note(note):  # runs on the library's thread, which may send commands
        heard.append((note.name, threading.current_thread() is threading.main_thread(),
                      deck.mode() in ("playing", "stopped")))
        arrived.set()

    deck.play(to=20000, notify=on_note)
    deck.stop(wait=True)
    assert arrived.wait(10)
    assert heard == [("superseded", False, True)]
    with pytest.raises(TimeoutError):  # a callback's notification is not queued
        deck.wait_notify(timeout=0.2)


@pytest.mark.parametrize("other, code", [
    (lambda d: d.break_(), vtr422.ERR_INTERRUPTED),   # vtr_break from another thread
    (lambda d: d.stop(), vtr422.ERR_SUPERSEDED),      # a later command takes the deck
])
def test_a_wait_cut_short_does_not_read_as_done(deck, other, code):
    errors = []
    seek = threading.Thread(target=lambda: errors.append(
        _error_of(lambda: deck.seek(to=50000, wait=True))))
    seek.start()
    time.sleep(0.5)
    other(deck)
    seek.join(10)
    assert not seek.is_alive()
    assert errors == [code]
    assert deck.position() < 50000
    deck.stop(wait=True)


def test_ctrl_c_breaks_a_wait_within_a_poll_period(deck):
    sent = []

    def interrupt():
        sent.append(time.monotonic())
        os.kill(os.getpid(), signal.SIGINT)

    threading.Timer(0.5, interrupt).start()
    with pytest.raises(KeyboardInterrupt):
        deck.seek(to=90000, wait=True)
    assert time.monotonic() - sent[0] < 0.15  # not when the wind would have ended
    time.sleep(0.3)
    assert deck.mode() in ("stopped", "paused")
    assert deck.position() < 90000


def _error_of(fn):
    try:
        fn()
        return 0
    except vtr422.MciError as e:
        return e.code


@pytest.mark.parametrize("command, code, detail", [
    ("status nosuch position", 263, ""),      # no device under that alias
    ("seek tape to", 270, ""),                # missing integer
    ('seek tape to "12', 294, ""),            # unclosed quote
    ("frobnicate tape", 261, ""),             # unknown verb
    ("open vcr alias tape", 289, ""),         # alias in use
    ("open vcr5 alias far", 262, "127.0.0.1:1"),  # the port says why
])
def test_errors_carry_code_text_and_detail(lib, deck, command, code, detail):
    lib.bind_port("COM5", "tcp://127.0.0.1:1")
    with pytest.raises(vtr422.MciError) as e:
        lib.send(command)
    assert e.value.code == code
    assert e.value.text and e.value.text != f"Unknown MCI error {code}."
    assert detail in e.value.detail and bool(e.value.detail) == bool(detail)


@pytest.mark.parametrize("port, model, standard, code", [
    ("COM3", "no-such-deck", None, 290),
    ("COM3", None, "secam", 290),
    ("COM99", None, None, 282),
    ("LPT1", None, None, 282),
])
def test_bad_virtual_decks_are_refused(lib, port, model, standard, code):
    with pytest.raises(vtr422.MciError) as e:
        lib.attach_virtual_deck(port, model, standard)
    assert e.value.code == code


def test_c_buffers_are_cut_and_refused(lib, deck):
    dll, no_fn = lib._dll, vtr422._loader.NOTIFY_FN()
    small = ctypes.create_string_buffer(4)
    assert dll.vtr_send_string(lib._handle, b"status tape mode", small, 4, no_fn, None) == 268
    assert small.value == b"sto"
    assert dll.vtr_send_string(None, b"status tape mode", small, 4, no_fn, None) == 297
    text = ctypes.create_string_buffer(8)
    assert dll.vtr_error_text(262, text, 8) == len(vtr422.error_text(262)) > 8
    assert text.value == vtr422.error_text(262)[:7].encode()


MCI_PLAY, MCI_STATUS, MCI_TO, MCI_STATUS_ITEM, MCI_STATUS_POSITION = 0x0806, 0x0814, 0x8, 0x100, 2


def test_raw_messages_match_the_strings(deck):
    deck.seek(to=420, wait=True)
    block = deck.send_command(MCI_STATUS, MCI_STATUS_ITEM, [0, 0, MCI_STATUS_POSITION])
    assert block[1] == deck.position() == 420
    deck.send_command(MCI_PLAY, MCI_TO, [0, 0, 450], notify=True)
    note = deck.wait_notify(timeout=30)
    assert (note.name, note.device_id) == ("successful", deck.device_id)
    assert deck.position() >= 450


@pytest.mark.parametrize("device_id, message, flags, words, code", [
    (99, MCI_STATUS, 0, [0], 257),                    # no such device
    (None, 0x0803, 0, [0], 261),                      # open goes through the string path only
    (None, 0x1000, 0, [0], 261),                      # not a command message
    (None, MCI_STATUS, MCI_STATUS_ITEM, [0, 0, 2 ** 64 + 300], 282),  # not cut to 300
    (None, MCI_STATUS, MCI_STATUS_ITEM, [0, 0, 2 ** 32], 282),
    (None, MCI_STATUS, 2 ** 32 + MCI_STATUS_ITEM, [0, 0, 2], 282),   # flags too
])
def test_raw_messages_refused(lib, deck, device_id, message, flags, words, code):
    with pytest.raises(vtr422.MciError) as e:
        lib.send_command(device_id or deck.device_id, message, flags, words)
    assert e.value.code == code


def test_the_parser_decides_who_waits_for_a_notification(lib, deck):
    lib.attach_virtual_deck("COM3", "BVW-75")
    before = len(vtr422._api._pending)
    for _ in range(3):
        deck.mode()
    # A quoted "notify" is text: the alias of a second deck.
    lib.send('open vcr3 alias "a notify b"', receiver=print)
    lib.send('close "a notify b"')
    assert lib.command_flags('escape tape "a notify b"') & vtr422.NOTIFY_FLAG == 0
    assert len(vtr422._api._pending) == before
    deck.play(to=20000, notify=True)
    assert len(vtr422._api._pending) == before + 1
    deck.stop(wait=True)
    assert deck.wait_notify(timeout=10).name == "superseded"
    assert len(vtr422._api._pending) == before
    lib.detach_virtual_deck("COM3")


def test_a_well_kept_package(lib, deck):
    public = {name for name in dir(vtr422) if not name.startswith("_")}
    assert public == set(vtr422.__all__) - {"__version__"}
    assert vtr422.__version__ == lib.version
    for name in vtr422.__all__:
        thing = getattr(vtr422, name)
        if inspect.isclass(thing):
            assert inspect.getdoc(thing), name
            for attr, member in vars(thing).items():
                if callable(member) and (not attr.startswith("_") or attr in
                                         ("__init__", "__enter__", "__exit__")):
                    assert inspect.getdoc(member), f"{name}.{attr}"
    with pytest.raises(vtr422.LibraryInUseError, match="opened at .*test_vtr422.py"):
        vtr422.Library()
