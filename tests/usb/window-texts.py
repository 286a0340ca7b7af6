#!/usr/bin/python3
"""Reads the texts of pavo's window as a screen reader does, through the desktop's
accessibility bus (AT-SPI on D-Bus): each control's role, accessible name and text, one
line each ("push button<TAB>UID<TAB>", "text<TAB>Tag<TAB>E004015012345678"). With
conditions it waits, reading again every 100 ms, until all of them hold at once.

  window-texts.py [--limit SECONDS] [NAME | NAME=TEXT | NAME~REGEX]...

NAME: a control of that name is there (a button by its caption); NAME=TEXT: a control so
named shows exactly TEXT; NAME~REGEX: its text matches. A part without a name of its own
(the edit field of a combo box) goes by its control's. Exit status 0 when the conditions
hold (or, without any, the window was read), 1 when the limit (default 120 s) passed
first, 2 on a usage error; the last reading is printed either way. The session bus must
have the accessibility bus launcher on it, and pavo runs with
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1."""
import re
import sys
import time

import dbus

ACCESSIBLE = "org.a11y.atspi.Accessible"


def parse(arguments):
    limit, conditions = 120.0, []
    while arguments:
        argument = arguments.pop(0)
        equals, tilde = argument.find("="), argument.find("~")
        if argument == "--limit" and arguments:
            limit = float(arguments.pop(0))
        elif equals > 0 and (tilde < 0 or equals < tilde):
            text = argument[equals + 1:]
            conditions.append((argument[:equals], lambda t, text=text: t == text))
        elif tilde > 0:
            pattern = re.compile(argument[tilde + 1:])
            conditions.append((argument[:tilde], lambda t, p=pattern: p.search(t) is not None))
        elif argument and not argument.startswith("-"):
            conditions.append((argument, lambda t: True))
        else:
            sys.exit("usage: window-texts.py [--limit SECONDS] [NAME | NAME=TEXT | NAME~REGEX]...")
    return limit, conditions


def read(bus):
    """The controls of the application named "pavo", depth first, or [] without it."""
    def call(ref, interface, method, *arguments):
        return bus.get_object(ref[0], ref[1], introspect=False).get_dbus_method(
            method, interface)(*arguments, timeout=5)

    def walk(ref, depth, parent_name, controls):
        name = str(call(ref, "org.freedesktop.DBus.Properties", "Get", ACCESSIBLE, "Name"))
        name = name or parent_name
        if depth > 0:
            try:
                text = str(call(ref, "org.a11y.atspi.Text", "GetText", 0, -1))
            except dbus.DBusException:
                text = ""
            controls.append((str(call(ref, ACCESSIBLE, "GetRoleName")), name, text))
        if depth < 4:
            for child in call(ref, ACCESSIBLE, "GetChildren"):
                walk((str(child[0]), str(child[1])), depth + 1, name, controls)

    registry = ("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root")
    for application in call(registry, ACCESSIBLE, "GetChildren"):
        ref = (str(application[0]), str(application[1]))
        try:
            if call(ref, "org.freedesktop.DBus.Properties", "Get", ACCESSIBLE, "Name") == "pavo":
                controls = []
                walk(ref, 0, "", controls)
                return controls
        except dbus.DBusException:
            continue  # an application that has gone meanwhile
    return []


def main():
    limit, conditions = parse(sys.argv[1:])
    session = dbus.SessionBus()
    address = session.get_object("org.a11y.Bus", "/org/a11y/bus").GetAddress(
        dbus_interface="org.a11y.Bus", timeout=30)
    bus = dbus.bus.BusConnection(str(address))
    end = time.monotonic() + limit
    while True:
        try:
            controls = read(bus)
        except dbus.DBusException:
            controls = []  # the window went or came while it was read: read it again
        holds = bool(controls) and all(
            any(name == n and check(text) for _, n, text in controls) for name, check in conditions)
        if holds or time.monotonic() > end:
            for control in controls:
                print("\t".join(control))
            if not holds:
                print("window-texts: %s within %g s" % (
                    "the window's texts did not come to what was asked" if controls
                    else "no window of pavo on the accessibility bus", limit), file=sys.stderr)
            return 0 if holds else 1
        time.sleep(0.1)


if __name__ == "__main__":
    sys.exit(main())
