#!/usr/bin/env python3
"""Stands in on the session bus for the desktop's notification service.

  fake_notification_service.py [--log FILE]

Serves org.freedesktop.Notifications. Every Notify call is written as one
JSON line (to FILE, else standard output): the sender's process id and the
call's arguments; it answers with a new id. A line "invoke ID" on standard
input makes the service report that the user chose the default action of
notification ID. Prints "ready" once the name is owned.
"""
import argparse
import json
import sys

from gi.repository import Gio, GLib

INTERFACE = """<node><interface name="org.freedesktop.Notifications">
  <method name="Notify">
    <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
    <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
    <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/>
    <arg type="u" direction="out"/>
  </method>
  <method name="CloseNotification"><arg type="u" direction="in"/></method>
  <method name="GetCapabilities"><arg type="as" direction="out"/></method>
  <method name="GetServerInformation">
    <arg type="s" direction="out"/><arg type="s" direction="out"/>
    <arg type="s" direction="out"/><arg type="s" direction="out"/>
  </method>
  <signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal>
  <signal name="NotificationClosed"><arg type="u"/><arg type="u"/></signal>
</interface></node>"""
PATH = "/org/freedesktop/Notifications"
NAME = "org.freedesktop.Notifications"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--log")
    args = parser.parse_args()
    out = open(args.log, "a", encoding="utf-8") if args.log else sys.stdout
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    state = {"next": 1}

    def sender_pid(sender):
        reply = bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus",
                              "org.freedesktop.DBus", "GetConnectionUnixProcessID",
                              GLib.Variant("(s)", (sender,)), GLib.VariantType("(u)"),
                              Gio.DBusCallFlags.NONE, -1, None)
        return reply.unpack()[0]

    def handle(_conn, sender, _path, _iface, method, params, call):
        if method == "Notify":
            app, replaces, icon, summary, body, actions, hints, timeout = params.unpack()
            number = replaces if replaces else state["next"]
            state["next"] = max(state["next"], number + 1)
            out.write(json.dumps({
                "pid": sender_pid(sender), "id": number, "app": app, "replaces": replaces,
                "icon": icon, "summary": summary, "body": body, "actions": actions,
                "hints": sorted(hints), "timeout": timeout}) + "\n")
            out.flush()
            call.return_value(GLib.Variant("(u)", (number,)))
        elif method == "GetCapabilities":
            call.return_value(GLib.Variant("(as)", (["actions", "body", "body-markup"],)))
        elif method == "GetServerInformation":
            call.return_value(GLib.Variant("(ssss)", ("fake", "murmex3 tests", "1", "1.2")))
        else:
            call.return_value(None)

    info = Gio.DBusNodeInfo.new_for_xml(INTERFACE)
    bus.register_object(PATH, info.interfaces[0], handle)
    owned = bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                          "RequestName", GLib.Variant("(su)", (NAME, 4)),
                          GLib.VariantType("(u)"), Gio.DBusCallFlags.NONE, -1, None)
    assert owned.unpack()[0] == 1, "%s is taken" % NAME

    def command(channel, _condition):
        line = channel.readline()
        if not line:
            return False
        words = line.split()
        if len(words) == 2 and words[0] == "invoke":
            bus.emit_signal(None, PATH, NAME, "ActionInvoked",
                            GLib.Variant("(us)", (int(words[1]), "default")))
            bus.flush_sync(None)
        return True

    GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.PRIORITY_DEFAULT,
                      GLib.IOCondition.IN | GLib.IOCondition.HUP, command)
    print("ready", flush=True)
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
