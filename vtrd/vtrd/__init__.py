"""vtrd: the decks of one computer served to operators anywhere, as an HTTP
JSON API, a WebSocket per deck and a web panel, over the vtr422 package."""

__version__ = "0.1.0"
