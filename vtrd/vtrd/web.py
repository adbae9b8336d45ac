"""The HTTP JSON API, the WebSockets and the panel's files (aiohttp)."""

import asyncio
import hmac
import json
import pathlib
from typing import Callable, Dict, List

from aiohttp import WSMsgType, web

from .decks import DeckService, Watcher

STATIC = pathlib.Path(__file__).with_name("static")
CLIENT_HEADER = "X-Vtrd-Client"
# Verbs with requests of their own: open and close change what the service
# owns, not only the deck.
OWN_REQUESTS = {"open", "close"}


_HTTP_ERRORS = {400: web.HTTPBadRequest, 401: web.HTTPUnauthorized, 403: web.HTTPForbidden,
                409: web.HTTPConflict}


def _refusal(status: int, text: str) -> web.Response:
    return web.json_response({"ok": False, "text": text}, status=status)


class Api:
    def __init__(self, decks: Dict[str, DeckService], token: str, origins: List[str],
                 audit: Callable[[dict], None]):
        self.decks = decks
        self.token = token
        self.origins = set(origins)
        self.audit = audit

    # ---- checks ---------------------------------------------------------------

    def origin_ok(self, request: web.Request) -> bool:
        """A browser's request from another site's page is refused; programs
        that send no Origin are not browsers and pass."""
        origin = request.headers.get("Origin")
        return origin is None or origin.rstrip("/") in self.origins

    @staticmethod
    def who(request: web.Request) -> dict:
        return {"client": request.headers.get(CLIENT_HEADER, "").strip()[:64] or None,
                "address": request.remote}

    def deck(self, request: web.Request) -> DeckService:
        deck = self.decks.get(request.match_info["name"])
        if deck is None:
            raise web.HTTPNotFound(text=json.dumps({"ok": False, "text": "no such deck"}),
                                   content_type="application/json")
        return deck

    def control(self, request: web.Request, deck: DeckService, what: str) -> dict:
        """The caller's identity when it may control `deck`: the token, and the
        lease (taken when free). Refusals are audited and raised."""
        who = self.who(request)

        def refuse(status: int, text: str):
            self.audit({**who, "deck": deck.name, "command": what,
                        "answer": {"ok": False, "status": status, "text": text}})
            raise _HTTP_ERRORS[status](text=json.dumps({"ok": False, "text": text}),
                                       content_type="application/json")

        if not self.origin_ok(request):
            refuse(403, "requests from this origin are refused")
        given = request.headers.get("Authorization", "")
        if not given.startswith("Bearer ") or not hmac.compare_digest(
                given[7:].strip().encode(), self.token.encode()):
            refuse(401, "a valid control token is needed (Authorization: Bearer TOKEN)")
        if who["client"] is None:
            refuse(400, f"name the client in the {CLIENT_HEADER} header")
        ok, holder = deck.lease.take(who["client"])
        if not ok:
            refuse(409, f"{holder} is in control of {deck.name}")
        return who

    # ---- requests ---------------------------------------------------------------

    async def list_decks(self, request: web.Request) -> web.Response:
        return web.json_response({"decks": [d.snapshot() for d in self.decks.values()]})

    async def one_deck(self, request: web.Request) -> web.Response:
        return web.json_response(self.deck(request).snapshot())

    async def take_lease(self, request: web.Request) -> web.Response:
        deck = self.deck(request)
        who = self.control(request, deck, "lease")
        deck.publish_state()
        return web.json_response({"ok": True, "lease": deck.lease.describe(),
                                  "client": who["client"]})

    async def release_lease(self, request: web.Request) -> web.Response:
        deck = self.deck(request)
        who = self.control(request, deck, "release")
        deck.lease.release(who["client"])
        self.audit({**who, "deck": deck.name, "command": "release", "answer": {"ok": True}})
        deck.publish_state()
        return web.json_response({"ok": True, "lease": None})

    async def open_deck(self, request: web.Request) -> web.Response:
        deck = self.deck(request)
        who = self.control(request, deck, "open")
        answer = await asyncio.shield(deck.open())
        self.audit({**who, "deck": deck.name, "command": answer["command"], "answer": answer})
        return web.json_response(answer)

    async def close_deck(self, request: web.Request) -> web.Response:
        deck = self.deck(request)
        who = self.control(request, deck, "close")
        answer = await asyncio.shield(deck.close())
        self.audit({**who, "deck": deck.name, "command": answer["command"], "answer": answer})
        return web.json_response(answer)

    async def command(self, request: web.Request) -> web.Response:
        deck = self.deck(request)
        try:
            body = await request.json()
            text = str(body["command"]).strip()
        except (ValueError, KeyError, TypeError):
            return _refusal(400, 'the body is {"command": "VERB [ARGUMENTS]"}')
        who = self.control(request, deck, text)
        if not text or "\n" in text or "\r" in text:
            return _refusal(400, "one command, on one line")
        if text.split()[0].lower() in OWN_REQUESTS:
            return _refusal(400, f"open and close have requests of their own: "
                                 f"POST /api/decks/{deck.name}/{text.split()[0].lower()}")
        # Shielded: a client that goes away mid-command does not cut the command
        # short; its answer is still audited and shown to the watchers.
        answer = await asyncio.shield(deck.send(text, who))
        return web.json_response(answer)

    async def websocket(self, request: web.Request) -> web.StreamResponse:
        deck = self.deck(request)
        if not self.origin_ok(request):
            return _refusal(403, "WebSocket connections from this origin are refused")
        ws = web.WebSocketResponse(heartbeat=30)
        await ws.prepare(request)
        watcher = Watcher(ws, request.remote or "")
        deck.watchers.add(watcher)
        await ws.send_str(json.dumps({"type": "state", **deck.snapshot()}))
        sender = asyncio.get_running_loop().create_task(watcher.run())
        try:
            async for msg in ws:
                if msg.type == WSMsgType.ERROR:
                    break  # watchers only listen; what they send is ignored
        finally:
            deck.watchers.discard(watcher)
            sender.cancel()
        return ws


async def _index(request: web.Request) -> web.FileResponse:
    return web.FileResponse(STATIC / "index.html")


@web.middleware
async def _no_cache(request: web.Request, handler):
    response = await handler(request)
    response.headers.setdefault("Cache-Control", "no-store")
    response.headers.setdefault("X-Content-Type-Options", "nosniff")
    return response


def make_app(api: Api) -> web.Application:
    app = web.Application(middlewares=[_no_cache])
    app.add_routes([
        web.get("/", _index),
        web.static("/static", STATIC),
        web.get("/api/decks", api.list_decks),
        web.get("/api/decks/{name}", api.one_deck),
        web.post("/api/decks/{name}/lease", api.take_lease),
        web.delete("/api/decks/{name}/lease", api.release_lease),
        web.post("/api/decks/{name}/open", api.open_deck),
        web.post("/api/decks/{name}/close", api.close_deck),
        web.post("/api/decks/{name}/command", api.command),
        web.get("/api/decks/{name}/ws", api.websocket),
    ])
    return app
