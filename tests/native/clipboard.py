#!/usr/bin/python3
"""Holds a text as the clipboard, as another program holds what a person copied in it, until it
is ended; prints "ready" once the X server names it the clipboard's owner.

  clipboard.py FILE     the text is FILE's, UTF-8
"""
import sys

import gi

gi.require_version("Gdk", "3.0")
gi.require_version("Gtk", "3.0")
from gi.repository import Gdk, Gtk  # noqa: E402


def main():
    if len(sys.argv) != 2:
        print("usage: clipboard.py FILE", file=sys.stderr)
        sys.exit(2)
    with open(sys.argv[1], encoding="utf-8") as file:
        text = file.read()
    Gtk.init(None)
    clipboard = Gtk.Clipboard.get(Gdk.SELECTION_CLIPBOARD)
    clipboard.set_text(text, -1)
    Gdk.Display.get_default().sync()
    print("ready", flush=True)
    Gtk.main()


main()
