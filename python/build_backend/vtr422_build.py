"""A build backend from the standard library alone, so that `pip install ./python`
works offline: the package is pure Python (ctypes over libvtr422)."""

import base64
import hashlib
import pathlib
import tarfile
import zipfile

NAME, VERSION = "vtr422", "0.1.0"
ROOT = pathlib.Path(__file__).resolve().parents[1]
DIST_INFO = f"{NAME}-{VERSION}.dist-info"
TAG = "py3-none-any"


def _metadata() -> str:
    readme = (ROOT / "README.md").read_text(encoding="utf-8")
    return (f"Metadata-Version: 2.1\nName: {NAME}\nVersion: {VERSION}\n"
            "Summary: Control decks on a 9-pin RS-422 line through libvtr422\n"
            "Requires-Python: >=3.8\nDescription-Content-Type: text/markdown\n\n" + readme)


def _digest(data: bytes) -> str:
    return "sha256=" + base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()


def _wheel(wheel_directory, files) -> str:
    name = f"{NAME}-{VERSION}-{TAG}.whl"
    files = dict(files)
    files[f"{DIST_INFO}/METADATA"] = _metadata().encode()
    files[f"{DIST_INFO}/WHEEL"] = (f"Wheel-Version: 1.0\nGenerator: {NAME}_build\n"
                                   f"Root-Is-Purelib: true\nTag: {TAG}\n").encode()
    record = "".join(f"{path},{_digest(data)},{len(data)}\n" for path, data in files.items())
    files[f"{DIST_INFO}/RECORD"] = (record + f"{DIST_INFO}/RECORD,,\n").encode()
    with zipfile.ZipFile(pathlib.Path(wheel_directory) / name, "w", zipfile.ZIP_DEFLATED) as z:
        for path, data in files.items():
            z.writestr(path, data)
    return name


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    sources = sorted((ROOT / NAME).glob("*.py"))
    return _wheel(wheel_directory, {f"{NAME}/{p.name}": p.read_bytes() for p in sources})


def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    # A .pth file puts the source tree on the path.
    return _wheel(wheel_directory, {f"{NAME}.pth": f"{ROOT}\n".encode()})


def build_sdist(sdist_directory, config_settings=None):
    name = f"{NAME}-{VERSION}"
    with tarfile.open(pathlib.Path(sdist_directory) / f"{name}.tar.gz", "w:gz") as t:
        for path in ["pyproject.toml", "README.md", "build_backend", NAME, "tests"]:
            t.add(ROOT / path, arcname=f"{name}/{path}",
                  filter=lambda i: None if "__pycache__" in i.name else i)
    return f"{name}.tar.gz"
