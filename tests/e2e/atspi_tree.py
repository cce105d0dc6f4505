#!/usr/bin/env python3
"""Reads a running program through the accessibility bus (AT-SPI).

Run it with the program's DISPLAY and DBUS_SESSION_BUS_ADDRESS (and inside its
network namespace when the bus sockets are abstract). Usable as a module or
from the shell:

  atspi_tree.py --pid P wait-app [--timeout S]
  atspi_tree.py --pid P tree-items             "group<TAB>name" / "item<TAB>name"
  atspi_tree.py --pid P wait-items N [--timeout S]
  atspi_tree.py --pid P item-point NAME        screen centre "x y" of a tree item
  atspi_tree.py --pid P showing-items          "x y name" of the items on the screen
  atspi_tree.py --pid P windows                "role<TAB>title<TAB>showing"
  atspi_tree.py --pid P close-boxes [--timeout S]   presses OK in every open box
  atspi_tree.py --pid P [--window-role ROLE] wait-window TITLE [--timeout S]
  atspi_tree.py --pid P [--window-role R] text --window TITLE --role ROLE --name NAME
  atspi_tree.py --pid P [--window-role R] point --window TITLE --role ROLE --name NAME
  atspi_tree.py --pid P [--window-role R] press --window TITLE --role ROLE --name NAME

The tree is the first node with the role "tree" or "tree table"; its rows are
the children with the role "table cell" or "tree item" (Qt lists the visible
rows, so items under collapsed groups are not counted). A top-level row is a
group; every row below one is an item.
"""
import argparse
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

TREE_ROLES = ("tree", "tree table")
ROW_ROLES = ("table cell", "tree item", "list item")

# A busy program answers late; a dead one must not hold the caller for long.
Atspi.set_timeout(5000, 5000)


class NotFound(Exception):
    pass


def find_app(pid=None, name=None, timeout=0.0):
    """The application node of the program with this pid (or name)."""
    deadline = time.monotonic() + timeout
    while True:
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            if app is None:
                continue
            try:
                if pid is not None and app.get_process_id() == pid:
                    return app
                if name is not None and app.get_name() == name:
                    return app
            except GLib.Error:
                continue
        if time.monotonic() >= deadline:
            raise NotFound("no application with pid %s name %s" % (pid, name))
        time.sleep(0.2)


def children(node):
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is not None:
            yield child


def walk(node, max_depth=12):
    """Depth-first, the node itself first; does not enter a tree's rows."""
    yield node
    if max_depth == 0 or node.get_role_name() in TREE_ROLES:
        return
    for child in children(node):
        yield from walk(child, max_depth - 1)


def find(node, role=None, name=None):
    for n in walk(node):
        if (role is None or n.get_role_name() == role) and (name is None or n.get_name() == name):
            return n
    raise NotFound("no node with role %r name %r" % (role, name))


def windows(app):
    """The program's top-level windows: (node, role, title, showing)."""
    result = []
    for w in children(app):
        try:
            result.append((w, w.get_role_name(), w.get_name(), is_showing(w)))
        except GLib.Error:
            pass  # a box that closed while the list was read
    return result


def find_window(app, title, role=None, showing_only=True):
    for w, w_role, name, showing in windows(app):
        if name == title and (role is None or w_role == role) and (showing or not showing_only):
            return w
    raise NotFound("no window %r" % title)


def find_tree(app):
    for w in children(app):
        for n in walk(w):
            if n.get_role_name() in TREE_ROLES:
                return n
    raise NotFound("no tree")


def tree_row_nodes(tree):
    """(kind, node) of every row the tree lists, kind "group" for a top-level
    row and "item" for a row below one. Qt gives a row no level (no attribute,
    no relation), and a group without children cannot be expanded, so the
    indent of the row's cell tells: top-level rows are the least indented."""
    rows = []
    for child in children(tree):
        if child.get_role_name() not in ROW_ROLES:
            continue  # the column header
        rows.append((child.get_extents(Atspi.CoordType.WINDOW).x, child))
    top = min((x for x, _ in rows), default=0)
    return [("group" if x == top else "item", node) for x, node in rows]


def tree_rows(tree):
    """(kind, name) of every row the tree lists (see tree_row_nodes)."""
    return [(kind, node.get_name()) for kind, node in tree_row_nodes(tree)]


def tree_row(tree, name):
    for child in children(tree):
        if child.get_role_name() in ROW_ROLES and child.get_name() == name:
            return child
    raise NotFound("no row %r" % name)


def centre(node):
    box = node.get_extents(Atspi.CoordType.SCREEN)
    return box.x + box.width // 2, box.y + box.height // 2


def is_showing(node):
    return node.get_state_set().contains(Atspi.StateType.SHOWING)


def text_of(node):
    if "Text" not in node.get_interfaces():
        raise NotFound("%r has no text" % node.get_name())
    return Atspi.Text.get_text(node, 0, Atspi.Text.get_character_count(node))


def press(node):
    if "Action" not in node.get_interfaces() or Atspi.Action.get_n_actions(node) < 1:
        raise NotFound("%r has no action" % node.get_name())
    return Atspi.Action.do_action(node, 0)


def open_boxes(app):
    """(node, title) of the message boxes and dialogs on the screen."""
    return [(w, title) for w, role, title, showing in windows(app)
            if showing and role in ("alert", "dialog")]


def close_boxes(app, timeout, button="OK", quiet=0.5):
    """Closes the open boxes one by one, the newest first, as a user does, until
    none has been open for the quiet time (closing one may let the next come).
    Returns ([(title, seconds the box took to go)], titles still open at the
    timeout). A button is pressed once: Qt animates a press for 100 ms, and a
    second press in that time starts the animation again."""
    deadline = time.monotonic() + timeout
    closed = []
    quiet_since = time.monotonic()
    while True:
        boxes = open_boxes(app)
        now = time.monotonic()
        if boxes:
            quiet_since = now
        if (not boxes and now - quiet_since >= quiet) or now >= deadline:
            return closed, [title for _, title in boxes]
        if not boxes:
            time.sleep(0.05)
            continue
        box, title = boxes[-1]
        try:
            pressed_at = time.monotonic()
            press(find(box, "push button", button))
            while is_showing(box) and time.monotonic() < deadline:
                time.sleep(0.02)
            closed.append((title, time.monotonic() - pressed_at))
        except (NotFound, GLib.Error):
            pass  # gone meanwhile


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("--pid", type=int)
    parser.add_argument("--app-name")
    parser.add_argument("--timeout", type=float, default=0.0)
    parser.add_argument("--window-role", help="only windows with this role (e.g. dialog)")
    sub = parser.add_subparsers(dest="command", required=True)
    sub.add_parser("wait-app")
    sub.add_parser("tree-items")
    wait_items = sub.add_parser("wait-items")
    wait_items.add_argument("count", type=int)
    item_point = sub.add_parser("item-point")
    item_point.add_argument("name")
    sub.add_parser("showing-items")
    sub.add_parser("windows")
    sub.add_parser("close-boxes")
    wait_window = sub.add_parser("wait-window")
    wait_window.add_argument("title")
    for command in ("text", "point", "press"):
        p = sub.add_parser(command)
        p.add_argument("--window", required=True)
        p.add_argument("--role")
        p.add_argument("--name")
    args = parser.parse_args(argv)

    app = find_app(args.pid, args.app_name, args.timeout if args.command == "wait-app" else 5.0)
    deadline = time.monotonic() + args.timeout
    if args.command == "wait-app":
        print(app.get_name())
    elif args.command == "tree-items":
        for kind, name in tree_rows(find_tree(app)):
            print("%s\t%s" % (kind, name))
    elif args.command == "wait-items":
        while True:
            count = sum(1 for kind, _ in tree_rows(find_tree(app)) if kind == "item")
            if count >= args.count or time.monotonic() >= deadline:
                print(count)
                return 0 if count >= args.count else 1
            time.sleep(0.5)
    elif args.command == "item-point":
        row = tree_row(find_tree(app), args.name)
        if not is_showing(row):
            print("row %r is not on the screen" % args.name, file=sys.stderr)
            return 1
        print("%d %d" % centre(row))
    elif args.command == "showing-items":
        for kind, row in tree_row_nodes(find_tree(app)):
            if kind == "item" and is_showing(row):
                print("%d %d %s" % (centre(row) + (row.get_name(),)))
    elif args.command == "windows":
        for _w, role, title, showing in windows(app):
            print("%s\t%s\t%s" % (role, title, "showing" if showing else "hidden"))
    elif args.command == "close-boxes":
        closed, left = close_boxes(app, args.timeout or 5.0)
        for title, seconds in closed:
            print("closed\t%s\t%.3f" % (title, seconds))
        for title in left:
            print("open\t%s" % title)
        return 1 if left else 0
    elif args.command == "wait-window":
        while True:
            try:
                find_window(app, args.title, args.window_role)
                return 0
            except NotFound:
                if time.monotonic() >= deadline:
                    raise
            time.sleep(0.05)
    else:
        node = find(find_window(app, args.window, args.window_role), args.role, args.name)
        if args.command == "text":
            sys.stdout.write(text_of(node))
        elif args.command == "point":
            print("%d %d" % centre(node))
        elif args.command == "press":
            if not press(node):
                return 1
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except NotFound as error:
        print("atspi_tree: %s" % error, file=sys.stderr)
        sys.exit(1)
