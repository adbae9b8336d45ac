"""Writes the keys the service owns (the port, and the model and standard when
the configuration gives them) into a device's section of VTR.INI, leaving every
other key, comment and the byte-order mark as they were."""

import os
import pathlib
import re
import tempfile
from typing import Dict

_BOM = "\xef\xbb\xbf"  # a UTF-8 byte-order mark, read as Latin-1 like every byte here
_SECTION = re.compile(r"^\s*\[([^\]]*)\]")


def config_directory(variable: str, name: str) -> pathlib.Path:
    """$`variable` when set, else `name` under the XDG configuration home."""
    env = os.environ.get(variable)
    if env:
        return pathlib.Path(env)
    base = os.environ.get("XDG_CONFIG_HOME") or os.path.join(os.path.expanduser("~"), ".config")
    return pathlib.Path(base) / name


def profile_directory() -> pathlib.Path:
    """Where the library reads VTR.INI (the same rule as libvtr422's)."""
    return config_directory("VTR422_PROFILE_DIR", "vtr422")


def set_keys(text: str, section: str, keys: Dict[str, str]) -> str:
    """`text` with `keys` set in `section` (names and sections match without
    regard to case, as the profile reader matches them)."""
    bom = _BOM if text.startswith(_BOM) else ""
    lines = text[len(bom):].splitlines()
    pending = {k.lower(): (k, v) for k, v in keys.items()}
    out, inside, end_of_section = [], False, None
    for line in lines:
        m = _SECTION.match(line)
        if m:
            if inside:
                end_of_section = len(out)
            inside = m.group(1).strip().lower() == section.lower()
            out.append(line)
            continue
        if inside and "=" in line and not line.lstrip().startswith(";"):
            name = line.split("=", 1)[0].strip().lower()
            if name in pending:
                key, value = pending.pop(name)
                out.append(f"{key}={value}")
                continue
        out.append(line)
    if inside:
        end_of_section = len(out)
    rest = [f"{k}={v}" for k, v in pending.values()]
    if end_of_section is None:
        if out and out[-1].strip():
            out.append("")
        out += [f"[{section}]"] + rest
    else:
        while end_of_section > 0 and not out[end_of_section - 1].strip():
            end_of_section -= 1  # new keys go after the section's last key
        out[end_of_section:end_of_section] = rest
    return bom + "\n".join(out) + "\n"


def write_keys(directory: pathlib.Path, section: str, keys: Dict[str, str]) -> None:
    """Sets `keys` in VTR.INI in one rename, so a reader sees all or none."""
    directory.mkdir(parents=True, exist_ok=True)
    path = directory / "VTR.INI"
    try:
        text = path.read_text(encoding="latin-1")
    except FileNotFoundError:
        text = ""
    new = set_keys(text, section, keys)
    if new == text:
        return
    fd, tmp = tempfile.mkstemp(dir=directory, prefix=".VTR.INI.")
    with os.fdopen(fd, "w", encoding="latin-1", newline="") as f:
        f.write(new)
    os.replace(tmp, path)
