"""Finds libvtr422 and declares its functions."""

import ctypes
import os
import pathlib
import sys
import sysconfig

SONAME = "libvtr422.so.0"

NOTIFY_FN = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_uint, ctypes.c_uint,
                             ctypes.c_void_p)


def _prefix_dirs():
    """Library directories of the prefixes `make install` may have used."""
    multiarch = sysconfig.get_config_var("MULTIARCH")
    for prefix in (sys.prefix, os.path.expanduser("~/.local"), "/usr/local", "/usr"):
        base = pathlib.Path(prefix)
        if multiarch:
            yield base / "lib" / multiarch
        yield base / "lib"


def _tree_dirs():
    """build/default/lib of the source tree the package was installed from,
    and of the tree it sits in when it runs from there."""
    trees = []
    try:
        from . import _origin  # written when the package was built
        trees.append(pathlib.Path(_origin.SOURCE_TREE))
    except ImportError:
        pass
    trees.append(pathlib.Path(__file__).resolve().parents[2])
    for tree in trees:
        yield tree / "build" / "default" / "lib"


def candidates():
    """Where the library is looked for, in order: $VTR422_LIBRARY alone when
    it is set; else the dynamic loader (LD_LIBRARY_PATH, ldconfig), the
    installed prefixes, the source tree."""
    env = os.environ.get("VTR422_LIBRARY")
    if env:
        return [env]
    found = [SONAME]
    for directory in list(_prefix_dirs()) + list(_tree_dirs()):
        path = directory / SONAME
        if path.exists() and str(path) not in found:
            found.append(str(path))
    return found


def load():
    """The loaded library with its functions declared; OSError naming every
    place tried when it is nowhere."""
    errors = []
    for name in candidates():
        try:
            dll = ctypes.CDLL(name)
            break
        except OSError as e:
            errors.append(str(e))
    else:
        raise OSError("libvtr422 not found (build it, install it, or set VTR422_LIBRARY "
                      "to its path): " + "; ".join(errors))
    c = ctypes
    signatures = {
        "vtr_version": (c.c_char_p, []),
        "vtr_open_library": (c.c_void_p, []),
        "vtr_close_library": (None, [c.c_void_p]),
        "vtr_send_string": (c.c_uint, [c.c_void_p, c.c_char_p, c.c_char_p, c.c_size_t,
                                       NOTIFY_FN, c.c_void_p]),
        "vtr_send_command": (c.c_uint, [c.c_void_p, c.c_uint, c.c_uint, c.c_uint32,
                                        c.POINTER(c.c_size_t), c.c_size_t, NOTIFY_FN,
                                        c.c_void_p]),
        "vtr_command_flags": (c.c_uint, [c.c_void_p, c.c_char_p, c.POINTER(c.c_uint32)]),
        "vtr_device_id": (c.c_uint, [c.c_void_p, c.c_char_p]),
        "vtr_break": (c.c_uint, [c.c_void_p, c.c_uint]),
        "vtr_error_text": (c.c_size_t, [c.c_uint, c.c_char_p, c.c_size_t]),
        "vtr_last_detail": (c.c_size_t, [c.c_char_p, c.c_size_t]),
        "vtr_bind_port": (c.c_uint, [c.c_void_p, c.c_char_p, c.c_char_p]),
        "vtr_attach_virtual_deck": (c.c_uint, [c.c_void_p, c.c_char_p, c.c_char_p, c.c_char_p]),
        "vtr_detach_virtual_deck": (c.c_uint, [c.c_void_p, c.c_char_p]),
    }
    for name, (restype, argtypes) in signatures.items():
        fn = getattr(dll, name)
        fn.restype, fn.argtypes = restype, argtypes
    return dll
