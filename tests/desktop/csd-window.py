#!/usr/bin/python3
# A GTK 3 window with client-side decorations (a header bar) over a magenta
# area of the width asked for, standing for
# another program on the test desktop. Prints its X window id once mapped and
# stays until its standard input closes, so it never outlives the test.
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("GdkX11", "3.0")
from gi.repository import GdkX11, GLib, Gtk  # noqa: E402,F401

width, height = (int(v) for v in (sys.argv[1:3] if len(sys.argv) >= 3 else (400, 300)))
window = Gtk.Window(title="csd window")
bar = Gtk.HeaderBar(title="csd window", show_close_button=True)
window.set_titlebar(bar)
window.set_default_size(width, height)
# The window's own background (not the header bar) is magenta, drawn by
# GTK's style machinery so no cairo binding is needed.
style = Gtk.CssProvider()
style.load_from_data(b"window.background { background-color: #ff00ff; background-image: none; }")
Gtk.StyleContext.add_provider_for_screen(
    window.get_screen(), style, Gtk.STYLE_PROVIDER_PRIORITY_APPLICATION)


def mapped(*_):
    print(window.get_window().get_xid(), flush=True)
    return False


window.connect("map-event", mapped)
GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, lambda *_: Gtk.main_quit())
window.show_all()
Gtk.main()
