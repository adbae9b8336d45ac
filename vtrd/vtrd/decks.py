"""The decks the service owns: each with threads of its own for the library's
calls (which block), a poll at the console's watch rate, its notifications
numbered as they arrive, and the clients watching it."""

import asyncio
import collections
import concurrent.futures
import itertools
import json
import shlex
import time
from typing import Callable, Deque, Dict, Optional, Set

import vtr422

from .config import DeckConfig
from .lease import Lease

WATCH_PERIOD = 0.2        # five samples a second, as vtrctl's .watch
REOPEN_AFTER = 2.0        # a deck silent this long is closed and opened again
WATCHER_BACKLOG = 5000    # messages a watcher may fall behind before it is dropped
COMMAND_THREADS = 3       # a stop can run while a waiting cue holds one thread



def words_of(command: str):
    try:
        return shlex.split(command)
    except ValueError:
        return command.split()


def asks_notify(command: str) -> bool:
    return any(w.lower() == "notify" for w in words_of(command)[2:])


def timecode_of(position: str, frame_rate: str) -> str:
    """A position as "status" answers it, shown as timecode: colonised text as
    it is, a frame count at the deck's frame rate with non-drop labels."""
    if ":" in position or not position.isdigit():
        return position
    rate = 25 if frame_rate == "25" else 30
    frames = int(position) % (rate * 86400)
    secs, ff = divmod(frames, rate)
    return f"{secs // 3600:02}:{secs // 60 % 60:02}:{secs % 60:02}:{ff:02}"


def answer_of(command: str, call: Callable[[], str]) -> dict:
    """Runs one library call and answers as `vtrctl --json` prints it."""
    try:
        text = call()
    except vtr422.MciError as e:
        answer = {"command": command, "ok": False, "error": e.code, "text": e.text}
        ending = {getattr(vtr422, "ERR_INTERRUPTED", None): "interrupted",
                  getattr(vtr422, "ERR_SUPERSEDED", None): "superseded"}.get(e.code)
        if ending:
            answer["ending"] = ending
        detail = getattr(e, "detail", "")
        if detail:
            answer["detail"] = detail
        return answer
    answer = {"command": command, "ok": True}
    if text:
        answer["result"] = text
    return answer


class Watcher:
    """One WebSocket's queue: notifications and answers in order and never
    dropped; of the states only the newest."""

    def __init__(self, ws, address: str):
        self.ws = ws
        self.address = address
        self.messages: Deque[str] = collections.deque()
        self.state: Optional[str] = None
        self.wake = asyncio.Event()
        self.closed = False

    def push(self, text: str) -> None:
        if len(self.messages) >= WATCHER_BACKLOG:
            # Too slow to keep up: it is told by its socket closing, never by a gap.
            self.closed = True
        self.messages.append(text)
        self.wake.set()

    def push_state(self, text: str) -> None:
        self.state = text
        self.wake.set()

    async def run(self) -> None:
        """Sends what is queued until the socket closes."""
        try:
            while not self.ws.closed:
                await self.wake.wait()
                self.wake.clear()
                if self.closed:
                    await self.ws.close(code=1008, message=b"too far behind")
                    return
                while self.messages:
                    await self.ws.send_str(self.messages.popleft())
                if self.state is not None:
                    text, self.state = self.state, None
                    await self.ws.send_str(text)
        except (ConnectionError, RuntimeError):
            pass  # the client went; its handler forgets it


class DeckService:
    def __init__(self, cfg: DeckConfig, library: "vtr422.Library", lease_seconds: float,
                 audit: Callable[[dict], None], clock: Callable[[], float] = time.monotonic):
        self.cfg = cfg
        self.name = cfg.name
        self.library = library
        self.audit = audit
        self.lease = Lease(lease_seconds, clock)
        self.commands = concurrent.futures.ThreadPoolExecutor(
            COMMAND_THREADS, thread_name_prefix=f"vtrd-{cfg.name}-cmd")
        self.poller = concurrent.futures.ThreadPoolExecutor(
            1, thread_name_prefix=f"vtrd-{cfg.name}-poll")
        self.loop: Optional[asyncio.AbstractEventLoop] = None
        self.deck: Optional["vtr422.Deck"] = None
        self.wanted_open = False
        self.online = False
        self.detail = "not open"
        self.silent_since: Optional[float] = None
        self.next_open = 0.0
        self.frame_rate = "30"
        self.sample: Dict[str, str] = {"position": "", "timecode": "", "mode": "", "speed": ""}
        self.owed: Optional[tuple] = None
        self.last_notify: Optional[dict] = None
        self.seq = 0
        self.in_flight = 0
        self.watchers: Set[Watcher] = set()
        self._keys = itertools.count(1)
        self._task: Optional[asyncio.Task] = None
        self._poke: Optional[asyncio.Event] = None

    # ---- what watchers see ----------------------------------------------------

    def snapshot(self) -> dict:
        return {"name": self.name, "port": self.cfg.describe(), "device": self.cfg.device,
                "com": f"COM{self.cfg.com}", "open": self.deck is not None,
                "online": self.online, "detail": "" if self.online else self.detail,
                **self.sample, "frame_rate": self.frame_rate,
                "owed": self.owed[1] if self.owed else None,
                "last_notify": self.last_notify, "notifications": self.seq,
                "lease": self.lease.describe()}

    def _broadcast(self, message: dict) -> None:
        text = json.dumps(message)
        for w in list(self.watchers):
            w.push(text)

    def publish_state(self) -> None:
        text = json.dumps({"type": "state", **self.snapshot()})
        for w in list(self.watchers):
            w.push_state(text)

    # ---- the poll ---------------------------------------------------------------

    def start(self, loop: asyncio.AbstractEventLoop, open_now: bool) -> None:
        self.loop = loop
        self.wanted_open = open_now
        self._poke = asyncio.Event()
        self._task = loop.create_task(self._poll())

    async def _poll(self) -> None:
        loop = asyncio.get_running_loop()
        next_tick = loop.time()
        while True:
            if self.wanted_open:
                await loop.run_in_executor(self.poller, self._visit)
            self.publish_state()
            next_tick += WATCH_PERIOD
            now = loop.time()
            if next_tick < now:
                next_tick = now  # a slow visit: the next one at once, no burst to catch up
            try:
                await asyncio.wait_for(self._poke.wait(), next_tick - now)
                next_tick = loop.time()  # a command answered: show where it left the deck
            except asyncio.TimeoutError:
                pass
            self._poke.clear()

    def _visit(self) -> None:
        """One look at the deck, on its poll thread; opens it again when it has
        been silent a while (a port that vanished needs a new open)."""
        now = time.monotonic()
        if self.deck is None:
            if now >= self.next_open:
                self._open_blocking()
            return
        if (not self.online and self.silent_since is not None and self.in_flight == 0
                and now - self.silent_since >= REOPEN_AFTER):
            self._close_blocking()
            self._open_blocking()
            return
        self._sample_blocking()

    def _sample_blocking(self) -> None:
        values = {}
        try:
            for item in ("position", "mode", "speed"):
                values[item] = self.deck.send(f"status {item}")
        except vtr422.MciError as e:
            self._went_silent(f"status: error {e.code}: {e.text}")
            return
        if values["mode"] == "not ready":
            self._went_silent("the deck does not answer")
            return
        values["timecode"] = timecode_of(values["position"], self.frame_rate)
        self.sample = values
        self.online = True
        self.silent_since = None

    def _went_silent(self, why: str) -> None:
        if self.online or self.silent_since is None:
            self.silent_since = time.monotonic()
        self.online = False
        self.detail = why

    def _open_blocking(self) -> dict:
        command = f"open {self.cfg.device} alias {self.name}"
        holder = {}

        def call():
            holder["deck"] = self.library.open(self.cfg.device, alias=self.name)
            return str(holder["deck"].device_id)
        answer = answer_of(command, call)
        if not answer["ok"]:
            self.deck = None
            self.online = False
            self.detail = f"open: error {answer['error']}: {answer['text']}" + (
                f" ({answer['detail']})" if answer.get("detail") else "")
            self.next_open = time.monotonic() + REOPEN_AFTER
            return answer
        self.deck = holder["deck"]
        # Positions in timecode, so that the panel's counter and cue field speak
        # the deck's own labels.
        try:
            self.frame_rate = self.deck.send("status frame rate")
            fmt = {"25": "smpte 25"}.get(self.frame_rate,
                                         "smpte 30 drop" if self.cfg.standard == "drop"
                                         else "smpte 30")
            self.deck.send(f"set time format {fmt}")
        except vtr422.MciError:
            pass  # the sample below finds out whether the deck answers
        self.silent_since = None
        self._sample_blocking()
        return answer

    def _close_blocking(self) -> dict:
        command = f"close {self.name}"
        if self.deck is None:
            return {"command": command, "ok": True}
        # The device is closed even when the deck does not answer the stop a
        # close sends (error 262), so it is forgotten either way.
        answer = answer_of(command, lambda: self.library.send(command))
        self.deck = None
        self.online = False
        self.detail = "closed"
        self.sample = {"position": "", "timecode": "", "mode": "", "speed": ""}
        if self.owed is not None:
            self.owed = None
        return answer

    # ---- what a controller does ------------------------------------------------

    async def open(self) -> dict:
        self.wanted_open = True
        if self.deck is not None:
            return {"command": f"open {self.cfg.device} alias {self.name}", "ok": False,
                    "text": "the deck is open"}
        answer = await asyncio.get_running_loop().run_in_executor(self.poller,
                                                                  self._open_blocking)
        self.publish_state()
        return answer

    async def close(self) -> dict:
        self.wanted_open = False
        answer = await asyncio.get_running_loop().run_in_executor(self.poller,
                                                                  self._close_blocking)
        self.publish_state()
        return answer

    def send(self, text: str, who: dict) -> "asyncio.Future[dict]":
        """Sends "VERB REST" as "VERB ALIAS REST" on one of the deck's command
        threads. The answer is audited and shown to the watchers when it
        comes, whether or not the client that sent it is still there."""
        loop = asyncio.get_running_loop()
        words = text.split(None, 1)
        verb, rest = words[0], (words[1] if len(words) > 1 else "")
        full = f"{verb} {self.name}" + (f" {rest}" if rest else "")
        receiver = None
        key = next(self._keys)
        if asks_notify(full):
            self.owed = (key, full)

            def receiver(note, key=key):
                loop.call_soon_threadsafe(self._notified, key, note)
        self.in_flight += 1
        future = loop.run_in_executor(self.commands, answer_of, full,
                                      lambda: self.library.send(full, receiver))

        def done(f: "asyncio.Future[dict]") -> None:
            self.in_flight -= 1
            if f.cancelled():
                return  # the service is stopping
            answer = f.result()
            self._poke.set()
            if not answer["ok"] and self.owed is not None and self.owed[0] == key:
                self.owed = None  # refused: nothing will come for it
            self.audit({**who, "deck": self.name, "command": full, "answer": answer})
            self._broadcast({"type": "answer", "deck": self.name,
                             "client": who.get("client"), **answer})
        future.add_done_callback(done)
        return future

    def _notified(self, key: int, note: "vtr422.Notification") -> None:
        self.seq += 1
        message = {"type": "notify", "deck": self.name, "seq": self.seq, "notify": note.name,
                   "code": note.code, "command": note.command}
        if self.owed is not None and self.owed[0] == key:
            self.owed = None
        self.last_notify = message
        self._broadcast(message)

    async def shutdown(self) -> None:
        if self._task is not None:
            self._task.cancel()
        loop = asyncio.get_running_loop()
        await loop.run_in_executor(self.poller, self._close_blocking)
        self.commands.shutdown(wait=False, cancel_futures=True)
        self.poller.shutdown(wait=False)
