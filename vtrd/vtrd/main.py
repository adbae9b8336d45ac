"""vtrd's command line: reads the configuration, binds the decks' ports,
opens them and serves until interrupted."""

import argparse
import asyncio
import json
import logging
import logging.handlers
import os
import pathlib
import queue
import shutil
import signal
import sys
import tempfile
import time

from . import config as cfgmod
from . import profile



def parse_args(argv):
    p = argparse.ArgumentParser(
        prog="vtrd", description="Serves the decks of this computer to operators in a "
        "browser (a panel), and to programs (an HTTP JSON API and a WebSocket per deck).")
    p.add_argument("--config", metavar="DIR", type=pathlib.Path,
                   help="the configuration directory: vtrd.ini, the control token, "
                   "audit.log (default $VTRD_CONFIG_DIR, else ~/.config/vtrd)")
    p.add_argument("--host", help="address to listen on (default 127.0.0.1, this computer "
                   "only; 0.0.0.0 for every network)")
    p.add_argument("--port", type=int, help=f"TCP port (default {cfgmod.DEFAULT_PORT}; "
                   "0 picks a free one)")
    p.add_argument("--origin", action="append", default=[], metavar="URL",
                   help="a further origin whose pages may watch and control, e.g. "
                   "http://machine-room:8422 (repeatable)")
    p.add_argument("--sim", type=int, metavar="N",
                   help="serve N virtual decks inside the service instead of the "
                   "configured ones (a fresh profile in a temporary directory)")
    p.add_argument("--sim-model", default="BVW-75", metavar="MODEL",
                   help="the virtual decks' machine (default BVW-75)")
    p.add_argument("--lease", type=float, metavar="SECONDS",
                   help="how long control lasts without renewal (default 30)")
    p.add_argument("--audit", type=pathlib.Path, metavar="FILE",
                   help="the audit log (default audit.log in the configuration directory)")
    p.add_argument("--closed", action="store_true", help="start with the decks closed")
    return p.parse_args(argv)


def configure(args) -> cfgmod.Config:
    directory = args.config or cfgmod.default_directory()
    cfg = cfgmod.load(directory)
    if args.sim is not None:
        if not 1 <= args.sim <= 10:
            raise cfgmod.ConfigError("--sim takes 1 to 10 (the driver opens ten devices)")
        cfg.decks = cfgmod.simulated(args.sim, args.sim_model)
        if not os.environ.get("VTR422_PROFILE_DIR"):
            cfg.profile_dir = pathlib.Path(tempfile.mkdtemp(prefix="vtrd-profile-"))
    cfg.host = args.host or cfg.host
    cfg.port = cfg.port if args.port is None else args.port
    cfg.origins += args.origin
    cfg.lease_seconds = args.lease or cfg.lease_seconds
    cfg.audit_path = args.audit or cfg.audit_path or directory / "audit.log"
    if not cfg.decks:
        raise cfgmod.ConfigError(f"no decks: list them in {directory / 'vtrd.ini'}, "
                                 "or serve virtual ones with --sim N")
    cfgmod.assign_ports(cfg.decks)
    return cfg


def write_profile(cfg: cfgmod.Config) -> None:
    """The decks' sections in VTR.INI get the port the service leads to the deck,
    and the model and standard when the configuration gives them."""
    if cfg.profile_dir is not None:
        os.environ["VTR422_PROFILE_DIR"] = str(cfg.profile_dir)
    directory = profile.profile_directory()
    for d in cfg.decks:
        keys = {"ComPort": str(d.com)}
        if d.model:
            keys["VTRID"] = "56" if d.model.lower() == "detect" else d.model
        elif d.sim:
            keys["VTRID"] = "56"  # the virtual deck says what it is
        if d.standard:
            keys["Pal"] = "1" if d.standard == "pal" else "0"
        profile.write_keys(directory, cfgmod.section_of(d.device), keys)


class Audit:
    """One JSON line per command: when, who (client and address), which deck,
    what, and the answer. Written on a thread of its own."""

    def __init__(self, path: pathlib.Path):
        path.parent.mkdir(parents=True, exist_ok=True)
        self.queue: "queue.Queue" = queue.Queue()
        handler = logging.FileHandler(path, encoding="utf-8")
        handler.setFormatter(logging.Formatter("%(message)s"))
        self.listener = logging.handlers.QueueListener(self.queue, handler)
        self.logger = logging.getLogger("vtrd.audit")
        self.logger.propagate = False
        self.logger.setLevel(logging.INFO)
        self.logger.addHandler(logging.handlers.QueueHandler(self.queue))
        self.listener.start()

    def __call__(self, entry: dict) -> None:
        stamp = time.strftime("%Y-%m-%dT%H:%M:%S", time.localtime())
        self.logger.info(json.dumps({"time": stamp, **entry}))

    def close(self) -> None:
        self.listener.stop()


async def serve(cfg: cfgmod.Config, token: str, open_decks: bool) -> None:
    from aiohttp import web

    import vtr422

    from .decks import DeckService
    from .web import Api, make_app

    audit = Audit(cfg.audit_path)
    library = vtr422.Library()
    for d in cfg.decks:
        if d.sim:
            library.attach_virtual_deck(f"COM{d.com}", d.sim,
                                        d.standard if d.standard else None)
        elif d.bind:
            library.bind_port(f"COM{d.com}", d.bind)
    decks = {d.name: DeckService(d, library, cfg.lease_seconds, audit) for d in cfg.decks}
    runner = None
    loop = asyncio.get_running_loop()
    stop = asyncio.Event()
    for sig in (signal.SIGINT, signal.SIGTERM):
        loop.add_signal_handler(sig, stop.set)
    try:
        # The site first: its port decides the origins the panel is served from.
        api = Api(decks, token, [], audit)
        runner = web.AppRunner(make_app(api), handle_signals=False, access_log=None)
        await runner.setup()
        site = web.TCPSite(runner, cfg.host, cfg.port)
        await site.start()
        cfg.port = runner.addresses[0][1]
        api.origins = set(cfg.allowed_origins())
        for deck in decks.values():
            deck.start(loop, open_decks)
        shown = "127.0.0.1" if cfg.host in ("0.0.0.0", "") else cfg.host
        shown = f"[{shown}]" if ":" in shown else shown
        print(f"vtrd: {len(decks)} deck{'s' if len(decks) != 1 else ''} "
              f"({', '.join(decks)}); open http://{shown}:{cfg.port}/", flush=True)
        await stop.wait()
    finally:
        for deck in decks.values():
            await deck.shutdown()
        if runner is not None:
            await runner.cleanup()
        library.close()
        audit.close()


def main(argv=None) -> int:
    args = parse_args(sys.argv[1:] if argv is None else argv)
    logging.basicConfig(level=logging.INFO, format="vtrd: %(message)s")
    try:
        cfg = configure(args)
        token, made = cfgmod.read_or_make_token(cfg.directory)
    except (cfgmod.ConfigError, OSError) as e:
        print(f"vtrd: {e}", file=sys.stderr)
        return 2
    if made:
        print(f"vtrd: the control token (shown this once; kept in {cfg.directory / 'token'}):\n"
              f"  {token}", flush=True)
    else:
        print(f"vtrd: the control token is in {cfg.directory / 'token'}", flush=True)
    try:
        write_profile(cfg)
        asyncio.run(serve(cfg, token, not args.closed))
        if args.sim is not None and cfg.profile_dir is not None:
            shutil.rmtree(cfg.profile_dir, ignore_errors=True)  # --sim's own profile
    except ImportError as e:
        print(f"vtrd: {e} (Debian: apt-get install python3-aiohttp)", file=sys.stderr)
        return 2
    except OSError as e:
        print(f"vtrd: {e}", file=sys.stderr)
        return 1
    return 0
