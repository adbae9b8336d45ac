"""The package's classes over libvtr422; see the package's own docstring."""

import ctypes
import itertools
import queue
import threading
import traceback
from typing import Callable, Dict, List, NamedTuple, Optional, Sequence, Tuple, Union

from . import _loader

SUCCESSFUL, SUPERSEDED, ABORTED, FAILURE = 1, 2, 4, 8
_NOTIFY_NAMES = {SUCCESSFUL: "successful", SUPERSEDED: "superseded",
                 ABORTED: "aborted", FAILURE: "failure"}

ERR_HARDWARE = 262
ERR_OUTOFRANGE = 282
ERR_INTERRUPTED = 0x10001
ERR_SUPERSEDED = 0x10002

NOTIFY_FLAG, WAIT_FLAG = 0x1, 0x2
_WORD = 2 ** 32
_RETURN_SIZE = 1024
_POLL_SECONDS = 0.05  # how soon Ctrl-C is seen while a command waits

_dll = None
_dll_lock = threading.Lock()


def load_library() -> ctypes.CDLL:
    """libvtr422, loaded once: from $VTR422_LIBRARY when it is set, else
    through the dynamic loader, else from an installed prefix (the
    environment's, ~/.local, /usr/local, /usr) or the source tree the package
    was installed from (its build/default/lib). OSError when it is nowhere."""
    global _dll
    with _dll_lock:
        if _dll is None:
            _dll = _loader.load()
        return _dll


def error_text(code: int) -> str:
    """The library's text for an MCI error code or one of its own (ERR_*)."""
    buf = ctypes.create_string_buffer(512)
    load_library().vtr_error_text(code, buf, len(buf))
    return buf.value.decode()


def _last_detail() -> str:
    buf = ctypes.create_string_buffer(512)
    load_library().vtr_last_detail(buf, len(buf))
    return buf.value.decode()


class MciError(Exception):
    """A command failed: `code` (the MCI error code, or ERR_INTERRUPTED or
    ERR_SUPERSEDED for a wait that did not end as asked), `text` (the
    library's text for it), `command` and `detail` (why the port failed, as
    the library tells it; empty when the port was not to blame)."""

    def __init__(self, code: int, command: str = "", detail: str = ""):
        """The error `code` of `command`, with the port's `detail` if any."""
        self.code = code
        self.text = error_text(code)
        self.command = command
        self.detail = detail
        message = f"error {code}: {self.text}" + (f" ({detail})" if detail else "")
        super().__init__(f"{command}: {message}" if command else message)


class LibraryInUseError(RuntimeError):
    """A second Library in one process: the driver and its poll timer exist
    once per process, so close the first (or share it) before opening another."""


class Notification(NamedTuple):
    """A command's notification: its `code` (SUCCESSFUL, SUPERSEDED, ABORTED
    or FAILURE), the device it came from and the command that asked for it."""

    code: int
    device_id: int
    command: str

    @property
    def name(self) -> str:
        """"successful", "superseded", "aborted" or "failure"."""
        return _NOTIFY_NAMES.get(self.code, "unknown")

    @property
    def successful(self) -> bool:
        """Whether the deck did what the command asked."""
        return self.code == SUCCESSFUL


Receiver = Callable[[Notification], None]
NotifyArg = Union[None, bool, Receiver]

# Commands waiting for their notification: key -> (command, receiver).
_pending: Dict[int, Tuple[str, Receiver]] = {}
_pending_lock = threading.Lock()
_keys = itertools.count(1)


@_loader.NOTIFY_FN
def _trampoline(_lib_ptr, device_id, code, user):
    with _pending_lock:
        command, receiver = _pending.pop(user, (None, None))
    if receiver is not None:
        receiver(Notification(code, device_id, command))


def _word(value: int, what: str, command: str) -> int:
    """`value` as a 32-bit word (a negative one as its two's complement);
    MciError(ERR_OUTOFRANGE) when it does not fit, rather than a word cut
    down to its low bits."""
    if not isinstance(value, int) or not -2 ** 31 <= value < _WORD:
        raise MciError(ERR_OUTOFRANGE, f"{command}: {what} {value!r} does not fit 32 bits")
    return value % _WORD


class Library:
    """The library of this process: its devices, ports and virtual decks.

    One Library at a time per process (LibraryInUseError otherwise). Use it
    as a context manager, or call close(); closing it closes its devices.
    """

    _opened_at: Optional[str] = None
    _handle = None

    def __init__(self):
        """Opens the library; LibraryInUseError while another one is open."""
        self._dll = load_library()
        self._handle = self._dll.vtr_open_library()
        if not self._handle:
            where = f" (opened at {Library._opened_at})" if Library._opened_at else ""
            raise LibraryInUseError(
                f"another vtr422.Library is open in this process{where}: the driver exists "
                "once per process; close that one first (or use it with 'with') or share it")
        caller = traceback.extract_stack(limit=2)[0]
        Library._opened_at = f"{caller.filename}:{caller.lineno}"

    def close(self) -> None:
        """Closes every device (queued notifications are delivered first) and
        the library. Closing twice does nothing."""
        if self._handle:
            self._dll.vtr_close_library(self._handle)
            self._handle = None
            Library._opened_at = None

    def __enter__(self) -> "Library":
        """The library itself; leaving the block closes it."""
        return self

    def __exit__(self, *exc) -> None:
        """Closes the library."""
        self.close()

    def __del__(self):
        self.close()

    @property
    def version(self) -> str:
        """The library's version, "0.1.0"."""
        return self._dll.vtr_version().decode()

    def command_flags(self, command: str) -> int:
        """The flags word `command` parses to (NOTIFY_FLAG, WAIT_FLAG, the
        command's own bits) with the library's parser, without sending it;
        MciError when it does not parse. Quoted text never counts as a word."""
        self._check_open()
        flags = ctypes.c_uint32(0)
        err = self._dll.vtr_command_flags(self._handle, command.encode(), ctypes.byref(flags))
        if err:
            raise MciError(err, command)
        return flags.value

    def send(self, command: str, receiver: Optional[Receiver] = None) -> str:
        """Sends a command string (mciSendString) and answers its return
        string ("" for none). `receiver` is called with the Notification, on a
        thread of the library, when the command asks for one ("notify").
        MciError on failure. Ctrl-C during a command that waits breaks it and
        raises KeyboardInterrupt at once."""
        self._check_open()
        try:
            flags = self.command_flags(command)
        except MciError:
            flags = 0  # sent all the same: the library answers it with its error
        if not flags & NOTIFY_FLAG:
            receiver = None  # nothing will come for it
        ret = ctypes.create_string_buffer(_RETURN_SIZE)
        self._call(command, receiver, flags & WAIT_FLAG, lambda: self._device_of(command),
                   lambda key: self._dll.vtr_send_string(
                       self._handle, command.encode(), ret, len(ret), _trampoline, key))
        return ret.value.decode()

    def send_command(self, device_id: int, message: int, flags: int = 0,
                     words: Sequence[int] = (), receiver: Optional[Receiver] = None) -> List[int]:
        """Sends a command message (mciSendCommand) to an open device with a
        parameter block of one value per slot, in the order of the device's
        command table (callback first, then the return slot, then the items),
        and answers the block as the driver left it. Every value, the flags
        and the message must fit 32 bits (negative values as two's
        complement): MciError(ERR_OUTOFRANGE) otherwise, nothing sent. With a
        receiver the notify flag is added and the callback slot filled in."""
        self._check_open()
        what = f"message 0x{message:04X} to device {device_id}"
        message = _word(message, "message", what)
        flags = _word(flags, "flags", what) | (NOTIFY_FLAG if receiver is not None else 0)
        values = [_word(w, f"word {i}", what) for i, w in enumerate(words)]
        block = (ctypes.c_size_t * max(len(values), 1))(*values)
        self._call(what, receiver, flags & WAIT_FLAG, lambda: device_id,
                   lambda key: self._dll.vtr_send_command(
                       self._handle, device_id, message, flags, block, len(values),
                       _trampoline, key))
        return list(block[:len(values)])

    def open(self, device: str = "vcr", alias: Optional[str] = None,
             shareable: bool = False) -> "Deck":
        """Opens an installed device ("vcr", "vcr1" ... "vcr99", whose settings
        are the VTR.INI sections "videotape" ... "videotape99") under `alias`
        (default: the device's name) and answers its Deck."""
        command = f"open {device}" + (f" alias {alias}" if alias else "")
        command += " shareable" if shareable else ""
        device_id = int(self.send(command))
        return Deck(self, alias or device, device_id)

    def attach_virtual_deck(self, port: str = "COM2", model: Optional[str] = None,
                            standard: Optional[str] = None) -> None:
        """Puts a virtual deck inside this process behind `port` ("COM1" ..
        "COM98"): `model` a model row ("19"), name ("BVW-75") or device type
        code ("0x2025"), `standard` "ntsc" (default), "drop" or "pal"."""
        self._check_open()
        enc = (lambda s: s.encode() if s is not None else None)
        self._check(self._dll.vtr_attach_virtual_deck(self._handle, port.encode(), enc(model),
                                                      enc(standard)), f"attach {port}")

    def detach_virtual_deck(self, port: str) -> None:
        """Removes the virtual deck behind `port`; close its devices first."""
        self._check_open()
        self._check(self._dll.vtr_detach_virtual_deck(self._handle, port.encode()),
                    f"detach {port}")

    def bind_port(self, port: str, path: str) -> None:
        """Leads `port` ("COMn") to a device path (a tty, a USB RS-422
        adapter) or a network address (tcp://HOST:PORT, rfc2217://HOST:PORT)."""
        self._check_open()
        self._check(self._dll.vtr_bind_port(self._handle, port.encode(), path.encode()),
                    f"bind {port}")

    # ---- private -------------------------------------------------------------

    def _check_open(self) -> None:
        if not self._handle:
            raise ValueError("the library is closed")

    @staticmethod
    def _check(err: int, command: str) -> None:
        if err:
            raise MciError(err, command, _last_detail())

    def _device_of(self, command: str) -> int:
        """The device a command string names (for the break after Ctrl-C)."""
        words = command.split()
        if len(words) < 2:
            return 0
        return self._dll.vtr_device_id(self._handle, words[1].strip('"').encode())

    def _call(self, command: str, receiver: Optional[Receiver], waits: int,
              device_of: Callable[[], int], call: Callable[[Optional[int]], int]) -> None:
        key = None
        if receiver is not None:
            key = next(_keys)
            with _pending_lock:
                _pending[key] = (command, receiver)
        err, detail = self._run(call, key, waits, device_of)
        if err and key is not None:
            with _pending_lock:
                _pending.pop(key, None)
        if err:
            raise MciError(err, command, detail)

    def _run(self, call, key, waits, device_of) -> Tuple[int, str]:
        """Runs the call, and its detail on the same thread. A command that
        waits runs on a thread of its own while the main thread watches for
        Ctrl-C, which breaks the device's wait (the deck stops) and is raised
        as KeyboardInterrupt at once, not when the wait would have ended."""
        if not waits or threading.current_thread() is not threading.main_thread():
            err = call(key)
            return err, _last_detail() if err else ""
        answer: List[Tuple[int, str]] = []

        def worker():
            err = call(key)
            answer.append((err, _last_detail() if err else ""))

        thread = threading.Thread(target=worker, name="vtr422 wait", daemon=True)
        thread.start()
        try:
            while thread.is_alive():
                thread.join(_POLL_SECONDS)
        except KeyboardInterrupt:
            device_id = device_of()
            if device_id:
                self._dll.vtr_break(self._handle, device_id)
            thread.join(1.0)
            raise
        return answer[0]


class Deck:
    """An open device, named in its commands by its alias.

    Its methods send command strings with the alias filled in. notify=True
    queues the command's Notification for wait_notify(); a callable receives
    it instead, on a thread of the library. A method with wait=True returns
    once the deck is where it was asked to be, or raises MciError (a break
    from another thread: code ERR_INTERRUPTED; a later command for the deck:
    ERR_SUPERSEDED); Ctrl-C breaks it and raises KeyboardInterrupt. Use it as
    a context manager, or call close().
    """

    def __init__(self, library: Library, alias: str, device_id: int):
        """A Deck for an alias already open (Library.open makes them)."""
        self.library = library
        self.alias = alias
        self.device_id = device_id
        self._notes: "queue.Queue[Notification]" = queue.Queue()
        self._closed = False

    def __enter__(self) -> "Deck":
        """The deck itself; leaving the block closes it."""
        return self

    def __exit__(self, *exc) -> None:
        """Closes the device, unless the library is closed already."""
        self.close()

    def send(self, command: str, notify: NotifyArg = None) -> str:
        """Sends "VERB ALIAS REST" for `command` "VERB REST" and answers the
        return string: send("status speed") asks "status tape speed"."""
        verb, _, rest = command.strip().partition(" ")
        full = f"{verb} {self.alias}" + (f" {rest}" if rest else "")
        if notify:
            full += " notify"
        receiver = notify if callable(notify) else self._notes.put
        return self.library.send(full, receiver)

    def send_command(self, message: int, flags: int = 0, words: Sequence[int] = (),
                     notify: NotifyArg = None) -> List[int]:
        """The raw message path for this device (see Library.send_command)."""
        receiver = None
        if notify:
            receiver = notify if callable(notify) else self._notes.put
        return self.library.send_command(self.device_id, message, flags, words, receiver)

    def wait_notify(self, timeout: Optional[float] = None) -> Notification:
        """The next queued Notification (of a command sent with notify=True);
        TimeoutError when none comes within `timeout` seconds."""
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

    def play(self, from_=None, to=None, *, wait: bool = False, notify: NotifyArg = None) -> None:
        """Plays, from `from_` (cueing there first) and up to `to` when given,
        positions in the device's time format (frames unless set otherwise)."""
        self._motion("play", wait, notify, from_=from_, to=to)

    def cue(self, from_=None, to=None, *, wait: bool = False, notify: NotifyArg = None) -> None:
        """Cues the tape (winds it and holds still) to `to` or `from_`."""
        self._motion("cue", wait, notify, from_=from_, to=to)

    def seek(self, to, *, wait: bool = False, notify: NotifyArg = None) -> None:
        """Winds the tape to position `to` and stops there."""
        self._motion("seek", wait, notify, to=to)

    def stop(self, *, wait: bool = False, notify: NotifyArg = None) -> None:
        """Stops the tape."""
        self._motion("stop", wait, notify)

    def pause(self, *, wait: bool = False, notify: NotifyArg = None) -> None:
        """Holds the picture still (the deck's still mode)."""
        self._motion("pause", wait, notify)

    def position(self) -> Union[int, str]:
        """The position in the time format: an int for frames and
        milliseconds, the colonised text ("00:00:10:00") otherwise."""
        text = self.send("status position")
        return int(text) if text.lstrip("-").isdigit() else text

    def mode(self) -> str:
        """The transport's mode: "stopped", "playing", "paused", "seeking",
        "recording", "not ready" ..."""
        return self.send("status mode")

    def break_(self) -> None:
        """Ends this deck's command that waits on another thread (it raises
        MciError with ERR_INTERRUPTED there) and stops the deck."""
        Library._check(self.library._dll.vtr_break(self.library._handle, self.device_id),
                       f"break {self.alias}")

    def close(self) -> None:
        """Closes the device (the deck stops). Closing twice does nothing."""
        if not self._closed and self.library._handle:
            self._closed = True
            self.send("close")
