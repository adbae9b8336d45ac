"""MCI "vcr" devices (decks on a 9-pin RS-422 line) through libvtr422."""

import ctypes
import itertools
import os
import pathlib
import queue
import threading
from typing import Callable, NamedTuple, Optional, Union

__all__ = ["Library", "Deck", "MciError", "Notification", "load_library",
           "SUCCESSFUL", "SUPERSEDED", "ABORTED", "FAILURE"]

SUCCESSFUL, SUPERSEDED, ABORTED, FAILURE = 1, 2, 4, 8
_NOTIFY_NAMES = {SUCCESSFUL: "successful", SUPERSEDED: "superseded",
                 ABORTED: "aborted", FAILURE: "failure"}
_RETURN_SIZE = 1024
NOTIFY_FLAG, WAIT_FLAG = 0x1, 0x2

_NOTIFY_FN = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_uint, ctypes.c_uint,
                              ctypes.c_void_p)


def _candidates():
    env = os.environ.get("VTR422_LIBRARY")
    if env:
        return [env]
    tree = pathlib.Path(__file__).resolve().parents[2] / "build" / "default" / "lib"
    return ["libvtr422.so.0", str(tree / "libvtr422.so.0")]


def load_library() -> ctypes.CDLL:
    """libvtr422 from $VTR422_LIBRARY, the dynamic loader's path or the source tree."""
    errors = []
    for name in _candidates():
        try:
            dll = ctypes.CDLL(name)
            break
        except OSError as e:
            errors.append(str(e))
    else:
        raise OSError("libvtr422 not found (set VTR422_LIBRARY to its path): "
                      + "; ".join(errors))
    c = ctypes
    dll.vtr_version.restype = c.c_char_p
    dll.vtr_open_library.restype = c.c_void_p
    dll.vtr_close_library.argtypes = [c.c_void_p]
    dll.vtr_send_string.argtypes = [c.c_void_p, c.c_char_p, c.c_char_p, c.c_size_t,
                                    _NOTIFY_FN, c.c_void_p]
    dll.vtr_send_command.argtypes = [c.c_void_p, c.c_uint, c.c_uint, c.c_uint32,
                                     c.POINTER(c.c_size_t), c.c_size_t, _NOTIFY_FN, c.c_void_p]
    dll.vtr_device_id.argtypes = [c.c_void_p, c.c_char_p]
    dll.vtr_break.argtypes = [c.c_void_p, c.c_uint]
    dll.vtr_error_text.argtypes = [c.c_uint, c.c_char_p, c.c_size_t]
    dll.vtr_error_text.restype = c.c_size_t
    dll.vtr_bind_port.argtypes = [c.c_void_p, c.c_char_p, c.c_char_p]
    dll.vtr_attach_virtual_deck.argtypes = [c.c_void_p, c.c_char_p, c.c_char_p, c.c_char_p]
    dll.vtr_detach_virtual_deck.argtypes = [c.c_void_p, c.c_char_p]
    for f in ("vtr_send_string", "vtr_send_command", "vtr_device_id", "vtr_break", "vtr_bind_port",
              "vtr_attach_virtual_deck", "vtr_detach_virtual_deck"):
        getattr(dll, f).restype = c.c_uint
    return dll


_dll = None
_dll_lock = threading.Lock()


def _lib() -> ctypes.CDLL:
    global _dll
    with _dll_lock:
        if _dll is None:
            _dll = load_library()
        return _dll


def error_text(code: int) -> str:
    buf = ctypes.create_string_buffer(512)
    _lib().vtr_error_text(code, buf, len(buf))
    return buf.value.decode()


class MciError(Exception):
    """An MCI error code and the library's text for it."""

    def __init__(self, code: int, command: str = ""):
        self.code = code
        self.text = error_text(code)
        self.command = command
        super().__init__(f"{command}: error {code}: {self.text}" if command
                         else f"error {code}: {self.text}")


class Notification(NamedTuple):
    code: int
    device_id: int
    command: str

    @property
    def name(self) -> str:
        return _NOTIFY_NAMES.get(self.code, "unknown")

    @property
    def successful(self) -> bool:
        return self.code == SUCCESSFUL


# Commands waiting for their notification: key -> (command, receiver).
_pending = {}
_pending_lock = threading.Lock()
_keys = itertools.count(1)


@_NOTIFY_FN
def _trampoline(_lib_ptr, device_id, code, user):
    with _pending_lock:
        command, receiver = _pending.pop(user, (None, None))
    if receiver is not None:
        receiver(Notification(code, device_id, command))


NotifyArg = Union[None, bool, Callable[[Notification], None]]


def _check(err: int, command: str = "") -> None:
    if err:
        raise MciError(err, command)


class Library:
    """The library of this process (one at a time): devices, ports, virtual decks."""

    _handle = None

    def __init__(self):
        self._dll = _lib()
        self._handle = self._dll.vtr_open_library()
        if not self._handle:
            raise RuntimeError("another vtr422.Library is open in this process")

    def close(self) -> None:
        """Closes every device; queued notifications are delivered first."""
        if self._handle:
            self._dll.vtr_close_library(self._handle)
            self._handle = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        self.close()

    @property
    def version(self) -> str:
        return self._dll.vtr_version().decode()

    def send(self, command: str,
             receiver: Optional[Callable[[Notification], None]] = None) -> str:
        """mciSendString: the return string; MciError on failure."""
        ret = ctypes.create_string_buffer(_RETURN_SIZE)
        if "notify" not in command.lower().split():
            receiver = None  # nothing will come for it
        self._call(command, receiver, lambda key: self._dll.vtr_send_string(
            self._handle, command.encode(), ret, len(ret), _trampoline, key))
        return ret.value.decode()

    def send_command(self, device_id: int, message: int, flags: int = 0, words=(),
                     receiver: Optional[Callable[[Notification], None]] = None) -> list:
        """mciSendCommand: the parameter block (one value per slot, callback first)
        as the driver left it; MciError on failure. With a receiver, the notify
        flag is added and the callback slot filled in."""
        block = (ctypes.c_size_t * max(len(words), 1))(*words)
        flags |= NOTIFY_FLAG if receiver is not None else 0
        self._call(f"message 0x{message:04X} to device {device_id}", receiver,
                   lambda key: self._dll.vtr_send_command(
                       self._handle, device_id, message, flags, block, len(words),
                       _trampoline, key))
        return list(block[:len(words)])

    def _call(self, command, receiver, call) -> None:
        if not self._handle:
            raise ValueError("the library is closed")
        key = None
        if receiver is not None:
            key = next(_keys)
            with _pending_lock:
                _pending[key] = (command, receiver)
        err = call(key)
        if err and key is not None:
            with _pending_lock:
                _pending.pop(key, None)
        _check(err, command)

    def open(self, device: str = "vcr", alias: Optional[str] = None,
             shareable: bool = False) -> "Deck":
        command = f"open {device}" + (f" alias {alias}" if alias else "")
        command += " shareable" if shareable else ""
        device_id = int(self.send(command))
        return Deck(self, alias or device, device_id)

    def attach_virtual_deck(self, port: str = "COM2", model: Optional[str] = None,
                            standard: Optional[str] = None) -> None:
        """Binds `port` to a virtual deck in this process (model row, name or type code;
        "ntsc", "drop" or "pal")."""
        enc = (lambda s: s.encode() if s is not None else None)
        _check(self._dll.vtr_attach_virtual_deck(self._handle, port.encode(), enc(model),
                                                 enc(standard)), f"attach {port}")

    def detach_virtual_deck(self, port: str) -> None:
        _check(self._dll.vtr_detach_virtual_deck(self._handle, port.encode()),
               f"detach {port}")

    def bind_port(self, port: str, path: str) -> None:
        """Binds `port` ("COMn") to a device path (a tty, a USB RS-422 adapter)."""
        _check(self._dll.vtr_bind_port(self._handle, port.encode(), path.encode()),
               f"bind {port}")


class Deck:
    """An open device. Commands name it by its alias."""

    def __init__(self, library: Library, alias: str, device_id: int):
        self.library = library
        self.alias = alias
        self.device_id = device_id
        self._notes: "queue.Queue[Notification]" = queue.Queue()

    def send(self, command: str, notify: NotifyArg = None) -> str:
        """Sends "VERB ALIAS REST" for `command` "VERB REST"; the return string.
        notify=True queues the notification for wait_notify(), a callable gets it."""
        verb, _, rest = command.strip().partition(" ")
        full = f"{verb} {self.alias}" + (f" {rest}" if rest else "")
        if notify:
            full += " notify"
        receiver = notify if callable(notify) else self._notes.put
        return self.library.send(full, receiver)

    def send_command(self, message: int, flags: int = 0, words=(),
                     notify: NotifyArg = None) -> list:
        """The raw message path for this device (see Library.send_command)."""
        receiver = None
        if notify:
            receiver = notify if callable(notify) else self._notes.put
        return self.library.send_command(self.device_id, message, flags, words, receiver)

    def wait_notify(self, timeout: Optional[float] = None) -> Notification:
        """The next queued notification; TimeoutError when none comes in time."""
        try:
            return self._notes.get(timeout=timeout)
        except queue.Empty:
            raise TimeoutError(f"no notification from {self.alias} within {timeout} s") \
                from None

    def _motion(self, verb: str, wait: bool, notify: NotifyArg, **positions) -> None:
        words = [verb]
        for key, value in positions.items():
            if value is not None:
                words.append(f"{key.rstrip('_')} {value}")
        if wait:
            words.append("wait")
        self.send(" ".join(words), notify)

    def play(self, from_=None, to=None, *, wait: bool = False, notify: NotifyArg = None):
        self._motion("play", wait, notify, from_=from_, to=to)

    def cue(self, from_=None, to=None, *, wait: bool = False, notify: NotifyArg = None):
        self._motion("cue", wait, notify, from_=from_, to=to)

    def seek(self, to, *, wait: bool = False, notify: NotifyArg = None):
        self._motion("seek", wait, notify, to=to)

    def stop(self, *, wait: bool = False, notify: NotifyArg = None):
        self._motion("stop", wait, notify)

    def pause(self, *, wait: bool = False, notify: NotifyArg = None):
        self._motion("pause", wait, notify)

    def position(self) -> Union[int, str]:
        """The position in the time format: an int for frames and milliseconds,
        the colonised text ("00:00:10:00") otherwise."""
        text = self.send("status position")
        return int(text) if text.lstrip("-").isdigit() else text

    def mode(self) -> str:
        return self.send("status mode")

    def break_(self) -> None:
        """Ends a command waiting on another thread and stops the machine."""
        _check(self.library._dll.vtr_break(self.library._handle, self.device_id),
               f"break {self.alias}")

    def close(self) -> None:
        self.send("close")
