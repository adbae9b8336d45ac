"""MCI "vcr" devices (decks on a 9-pin RS-422 line) through libvtr422.

    import vtr422

    with vtr422.Library() as lib:
        lib.attach_virtual_deck("COM2")          # no hardware needed
        with lib.open("vcr", alias="tape") as deck:
            deck.cue(to=300, wait=True)
            deck.play(to=390, notify=True)
            print(deck.wait_notify(timeout=30).name, deck.position(), deck.mode())

Library is the process's library (one at a time), Deck an open device,
Notification what a command sent with notify=True receives, MciError a failed
command (code, text, command, detail). The shared library libvtr422.so.0 is
found through $VTR422_LIBRARY, the dynamic loader, an installed prefix or the
source tree the package was installed from.
"""

from ._api import (ABORTED, ERR_HARDWARE, ERR_INTERRUPTED, ERR_OUTOFRANGE, ERR_SUPERSEDED,
                   FAILURE, NOTIFY_FLAG, SUCCESSFUL, SUPERSEDED, WAIT_FLAG, Deck, Library,
                   LibraryInUseError, MciError, Notification, error_text, load_library)

__version__ = "0.1.0"

for _public in (Deck, Library, LibraryInUseError, MciError, Notification):
    _public.__module__ = __name__  # help() names them vtr422.Deck, ...
del _public

__all__ = [
    "Library", "Deck", "Notification", "MciError", "LibraryInUseError",
    "load_library", "error_text",
    "SUCCESSFUL", "SUPERSEDED", "ABORTED", "FAILURE",
    "ERR_HARDWARE", "ERR_OUTOFRANGE", "ERR_INTERRUPTED", "ERR_SUPERSEDED",
    "NOTIFY_FLAG", "WAIT_FLAG",
    "__version__",
]
