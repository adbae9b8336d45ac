"""The service's configuration: where it listens, who may connect, and its decks."""

import configparser
import os
import pathlib
import re
import secrets
from dataclasses import dataclass, field
from typing import List, Optional

from .profile import config_directory

DEFAULT_PORT = 8422
DEFAULT_LEASE_SECONDS = 30.0
# COM numbers the service picks for decks given as a path, a network address or
# a virtual deck: above the ports a facility names itself (COM1..COM10).
FIRST_SPARE_COM = 11
MAX_COM = 98
_COM = re.compile(r"^com([1-9][0-9]?)$", re.IGNORECASE)
_NAME = re.compile(r"^[A-Za-z][A-Za-z0-9_-]{0,31}$")


class ConfigError(ValueError):
    """A configuration that cannot be served as written."""


@dataclass
class DeckConfig:
    name: str             # the alias the deck is opened under and named by in URLs
    port: str = ""        # "COMn", a device path or tcp:// / rfc2217:// address
    sim: str = ""         # a virtual deck of this model inside the service instead
    model: str = ""       # a model row written as VTRID; empty: detect at open
    standard: str = ""    # "ntsc", "drop" or "pal"; empty: as the profile says
    device: str = ""      # "vcr1".."vcr99"; empty: one by the deck's place
    com: int = 0          # the COMn the driver opens
    bind: str = ""        # what the service binds COMn to ("" when COMn leads on its own)

    def describe(self) -> str:
        if self.sim:
            return f"virtual {self.sim}"
        return self.port


@dataclass
class Config:
    directory: pathlib.Path
    host: str = "127.0.0.1"
    port: int = DEFAULT_PORT
    lease_seconds: float = DEFAULT_LEASE_SECONDS
    origins: List[str] = field(default_factory=list)
    audit_path: Optional[pathlib.Path] = None
    profile_dir: Optional[pathlib.Path] = None
    decks: List[DeckConfig] = field(default_factory=list)

    def allowed_origins(self) -> List[str]:
        """Browsers' Origin values that may watch and control: the service's own
        addresses, plus those configured (a name the machine is reached by)."""
        hosts = {"127.0.0.1", "localhost", "[::1]"}
        if self.host not in ("0.0.0.0", "::", ""):
            hosts.add(f"[{self.host}]" if ":" in self.host else self.host)
        own = [f"http://{h}:{self.port}" for h in sorted(hosts)]
        return own + [o.rstrip("/") for o in self.origins]


def default_directory() -> pathlib.Path:
    return config_directory("VTRD_CONFIG_DIR", "vtrd")


def _deck(name: str, section) -> DeckConfig:
    if not _NAME.match(name):
        raise ConfigError(f"deck name {name!r}: a letter, then letters, digits, - or _ "
                          "(at most 32)")
    deck = DeckConfig(name=name, port=section.get("port", "").strip(),
                      sim=section.get("sim", "").strip(),
                      model=section.get("model", "").strip(),
                      standard=section.get("standard", "").strip().lower(),
                      device=section.get("device", "").strip().lower())
    if bool(deck.port) == bool(deck.sim):
        raise ConfigError(f"[{name}]: give either port (COMn, a path or an address) or sim")
    if deck.standard not in ("", "ntsc", "drop", "pal"):
        raise ConfigError(f"[{name}]: standard is ntsc, drop or pal")
    if deck.model and deck.model.lower() != "detect" and not deck.model.isdigit():
        raise ConfigError(f"[{name}]: model is a row of the model table (a number) or detect")
    if deck.device and not re.match(r"^vcr([1-9][0-9]?)?$", deck.device):
        raise ConfigError(f"[{name}]: device is vcr or vcr1 .. vcr99")
    return deck


def parse(text: str, directory: pathlib.Path) -> Config:
    """A Config from the text of vtrd.ini: a [vtrd] section for the service and
    one section per deck, named by the deck."""
    ini = configparser.ConfigParser(inline_comment_prefixes=(";", "#"), interpolation=None)
    ini.optionxform = str
    try:
        ini.read_string(text)
    except configparser.Error as e:
        raise ConfigError(str(e).splitlines()[0]) from None
    cfg = Config(directory=directory)
    if ini.has_section("vtrd"):
        s = ini["vtrd"]
        cfg.host = s.get("host", cfg.host)
        try:
            cfg.port = s.getint("port", cfg.port)
            cfg.lease_seconds = s.getfloat("lease", cfg.lease_seconds)
        except ValueError as e:
            raise ConfigError(f"[vtrd]: {e}") from None
        cfg.origins = s.get("origins", "").split()
        if s.get("audit"):
            cfg.audit_path = pathlib.Path(s.get("audit"))
        if s.get("profile"):
            cfg.profile_dir = pathlib.Path(s.get("profile"))
    cfg.decks = [_deck(name, ini[name]) for name in ini.sections() if name != "vtrd"]
    return cfg


def load(directory: pathlib.Path) -> Config:
    path = directory / "vtrd.ini"
    try:
        text = path.read_text(encoding="utf-8-sig")
    except FileNotFoundError:
        text = ""
    return parse(text, directory)


def simulated(count: int, model: str = "BVW-75") -> List[DeckConfig]:
    """`count` virtual decks named deck1, deck2 ..."""
    return [DeckConfig(name=f"deck{i}", sim=model) for i in range(1, count + 1)]


def assign_ports(decks: List[DeckConfig]) -> None:
    """Gives each deck its device and COMn. A deck named by COMn keeps it (the
    environment, the ports file or /dev/ttyS lead it on); a path, an address or a
    virtual deck gets a spare COMn the service binds. Devices: vcr1, vcr2 ... by
    place, unless a deck names its own."""
    taken_com = set()
    for d in decks:
        m = _COM.match(d.port) if d.port else None
        if m:
            d.com = int(m.group(1))
            if d.com in taken_com:
                raise ConfigError(f"[{d.name}]: COM{d.com} is another deck's port")
            taken_com.add(d.com)
    spare = FIRST_SPARE_COM
    for d in decks:
        if d.com:
            continue
        while spare in taken_com:
            spare += 1
        if spare > MAX_COM:
            raise ConfigError("no COM number left for the decks")
        d.com = spare
        d.bind = d.port
        taken_com.add(spare)
    taken_dev = {d.device for d in decks if d.device}
    if len(taken_dev) != len([d for d in decks if d.device]):
        raise ConfigError("two decks name the same device")
    n = 1
    for d in decks:
        if d.device:
            continue
        while f"vcr{n}" in taken_dev:
            n += 1
        d.device = f"vcr{n}"
        taken_dev.add(d.device)


def section_of(device: str) -> str:
    """The VTR.INI section of a device: vcr -> videotape, vcr3 -> videotape3."""
    return "videotape" + device[3:]


def read_or_make_token(directory: pathlib.Path) -> "tuple[str, bool]":
    """The control token kept in DIRECTORY/token (owner read and write only),
    made at the first start; True when it was made now."""
    path = directory / "token"
    directory.mkdir(parents=True, exist_ok=True)
    try:
        fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    except FileExistsError:
        mode = path.stat().st_mode & 0o777
        if mode & 0o077:
            os.chmod(path, 0o600)  # someone widened it: the token is a password
        token = path.read_text().strip()
        if not token:
            raise ConfigError(f"{path} is empty: remove it and start again for a new token")
        return token, False
    token = secrets.token_urlsafe(24)
    with os.fdopen(fd, "w") as f:
        f.write(token + "\n")
    return token, True
