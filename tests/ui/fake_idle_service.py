#!/usr/bin/env python3
"""Stands in on the session bus for the desktops' idle-time services.

  fake_idle_service.py [--mutter MS] [--screensaver MS|refuse]

--mutter serves GNOME's org.gnome.Mutter.IdleMonitor: GetIdletime answers MS
(uint64), SetIdletime changes the answer. --screensaver serves the freedesktop
screen saver's GetSessionIdleTime: MS (uint32), or the error of a desktop
that has no idle clock. Prints "ready" once its names are owned.
"""
import argparse

from gi.repository import Gio, GLib

MUTTER = """<node><interface name="org.gnome.Mutter.IdleMonitor">
  <method name="GetIdletime"><arg type="t" direction="out"/></method>
  <method name="SetIdletime"><arg type="t" direction="in"/></method>
</interface></node>"""
SAVER = """<node><interface name="org.freedesktop.ScreenSaver">
  <method name="GetSessionIdleTime"><arg type="u" direction="out"/></method>
</interface></node>"""


def serve(bus, name, path, xml, handler):
    info = Gio.DBusNodeInfo.new_for_xml(xml)
    bus.register_object(path, info.interfaces[0],
                        lambda _c, _s, _p, _i, method, params, call: handler(method, params, call))
    owned = bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                          "RequestName", GLib.Variant("(su)", (name, 4)),
                          GLib.VariantType("(u)"), Gio.DBusCallFlags.NONE, -1, None)
    assert owned.unpack()[0] == 1, "%s is taken" % name


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mutter", type=int)
    parser.add_argument("--screensaver")
    args = parser.parse_args()
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    idle = {"mutter": args.mutter}

    def mutter(method, params, call):
        if method == "SetIdletime":
            idle["mutter"] = params.unpack()[0]
            call.return_value(None)
        else:
            call.return_value(GLib.Variant("(t)", (idle["mutter"],)))

    def saver(_method, _params, call):
        if args.screensaver == "refuse":
            call.return_dbus_error("org.freedesktop.DBus.Error.NotSupported", "not supported")
        else:
            call.return_value(GLib.Variant("(u)", (int(args.screensaver),)))

    if args.mutter is not None:
        serve(bus, "org.gnome.Mutter.IdleMonitor", "/org/gnome/Mutter/IdleMonitor/Core",
              MUTTER, mutter)
    if args.screensaver is not None:
        serve(bus, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", SAVER, saver)
    print("ready", flush=True)
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
