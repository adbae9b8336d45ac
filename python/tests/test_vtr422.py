"""The Python package against the library's embedded virtual deck, in real time."""

import ctypes
import threading
import time

import pytest

import vtr422


@pytest.fixture(scope="module")
def lib(tmp_path_factory):
    mp = pytest.MonkeyPatch()
    mp.setenv("VTR422_PROFILE_DIR", str(tmp_path_factory.mktemp("profile")))
    library = vtr422.Library()
    library.attach_virtual_deck("COM2", "BVW-75", "ntsc")
    yield library
    library.close()
    mp.undo()


@pytest.fixture(scope="module")
def deck(lib):
    d = lib.open("vcr", alias="tape")
    yield d
    d.close()


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


def test_break_ends_a_waiting_seek(deck):
    errors = []
    seek = threading.Thread(target=lambda: errors.append(
        _error_of(lambda: deck.seek(to=50000, wait=True))))
    seek.start()
    time.sleep(0.5)
    deck.break_()
    seek.join(10)
    assert not seek.is_alive()
    assert deck.position() < 50000
    deck.stop(wait=True)


def _error_of(fn):
    try:
        fn()
        return 0
    except vtr422.MciError as e:
        return e.code


@pytest.mark.parametrize("command, code", [
    ("status nosuch position", 263),      # no device under that alias
    ("seek tape to", 270),                # missing integer
    ('seek tape to "12', 294),            # unclosed quote
    ("frobnicate tape", 261),             # unknown verb
    ("open vcr alias tape", 289),         # alias in use
])
def test_errors_carry_code_and_text(lib, deck, command, code):
    with pytest.raises(vtr422.MciError) as e:
        lib.send(command)
    assert e.value.code == code
    assert e.value.text and e.value.text != f"Unknown MCI error {code}."


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
    dll, no_fn = lib._dll, vtr422._NOTIFY_FN()
    small = ctypes.create_string_buffer(4)
    assert dll.vtr_send_string(lib._handle, b"status tape mode", small, 4, no_fn, None) == 268
    assert small.value == b"sto"
    assert dll.vtr_send_string(None, b"status tape mode", small, 4, no_fn, None) == 297
    text = ctypes.create_string_buffer(8)
    assert dll.vtr_error_text(262, text, 8) == len(vtr422.error_text(262)) > 8
    assert text.value == vtr422.error_text(262)[:7].encode()


def test_one_library_per_process(lib):
    with pytest.raises(RuntimeError):
        vtr422.Library()


MCI_PLAY, MCI_STATUS, MCI_TO, MCI_STATUS_ITEM, MCI_STATUS_POSITION = 0x0806, 0x0814, 0x8, 0x100, 2


def test_raw_messages_match_the_strings(deck):
    deck.seek(to=420, wait=True)
    block = deck.send_command(MCI_STATUS, MCI_STATUS_ITEM, [0, 0, MCI_STATUS_POSITION])
    assert block[1] == deck.position() == 420
    deck.send_command(MCI_PLAY, MCI_TO, [0, 0, 450], notify=True)
    note = deck.wait_notify(timeout=30)
    assert (note.name, note.device_id) == ("successful", deck.device_id)
    assert deck.position() >= 450


@pytest.mark.parametrize("device_id, message, code", [
    (99, MCI_STATUS, 257),      # no such device
    (None, 0x0803, 261),        # open goes through the string path only
    (None, 0x1000, 261),        # not a command message
])
def test_raw_messages_refused(lib, deck, device_id, message, code):
    with pytest.raises(vtr422.MciError) as e:
        lib.send_command(device_id or deck.device_id, message, 0, [0])
    assert e.value.code == code


def test_only_notified_commands_wait_for_a_receiver(deck):
    before = len(vtr422._pending)
    for _ in range(3):
        deck.mode()
    deck.play(to=20000, notify=True)
    assert len(vtr422._pending) == before + 1
    deck.stop(wait=True)
    assert deck.wait_notify(timeout=10).name == "superseded"
    assert len(vtr422._pending) == before
