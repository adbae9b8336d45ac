"""Cues a virtual deck, plays it to a position and waits for the notification."""
import sys

import vtr422

with vtr422.Library() as lib:
    lib.attach_virtual_deck("COM2", model="BVW-75")
    with lib.open("vcr", alias="tape") as deck:
        deck.cue(to=300, wait=True)
        deck.play(to=390, notify=True)
        note = deck.wait_notify(timeout=30)
        print(f"notify {note.name}: {note.command}")
        print(f"position {deck.position()}, {deck.mode()}")
sys.exit(0 if note.successful else 1)
