#!/usr/bin/env python3
"""Two copies of the program, one per host, used as a person would use them.

Started by two_copies.sh, which makes the hosts (network namespaces), one X
display per host and the session and accessibility buses. This driver starts
the copies, reads their windows through the accessibility bus (atspi_tree.py),
types and clicks with xdotool, and prints one PASS or FAIL line per check.
The copies' notifications go to the desktop's notification service on the
session bus, here tests/ui/fake_notification_service.py, which writes each
into a file with the sender's process id.
A packet capture on the second host records every datagram the first copy
sends, so that timings and destinations can be checked against the wire.
With --routed the hosts stand on two subnets joined by a router that forwards
no broadcast: the first copy lists the second's address in its settings, the
second lists nothing, and only the checks of what crosses between them run.

  two_copies.py --program P --tmp DIR --pid-file F --host-a A --host-b B
                --addr-a IP --addr-b IP --link-a DEV --display-a N --display-b N
                [--routed]
  two_copies.py --capture SOURCE      (run inside a host: prints the datagrams)
"""
import argparse
import html
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time
import traceback

# The helper module sits beside this file; nothing is written into the sources.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

PORT = 23654
# Datagram kinds: (type, subtype).
PRESENCE = (1, 1)
TEXT = (1, 2)
TYPING = (1, 8)
BELL = (2, 2)

GROUP = "Připojeni"
AWAY_NOTICE = "%s je ve stavu : Pryč"
READY_NOTICE = "%s je ve stavu : OK"
GONE_NOTICE = "%s je ve stavu : Odpojen"
TYPING_CAPTION = "%s - píše zprávu."
BELL_NOTICE = "%s vyžaduje tvou pozornost!\nPoslední správa : %s"
DISCONNECTED_LINE = "%s: Uživatel se odpojil - nelze komunikovat!"
RECONNECTED_LINE = "%s: Uživatel se znovu připojil!"
FIRST_TEXT = "Ahoj Bobe, jak se máš? Čau ěščřžýáíé"
REPLY_TEXT = "Ahoj Alice, mám se dobře."
ALL_TEXT = "Zpráva pro všechny v síti"
HIDDEN_TEXT = "Jsi tam?"
MESSAGE_NOTICE = "%s : %s"

# The US keyboard with the Czech letters on keys it leaves free. xdotool types a
# character that no key has by rebinding a spare key for a moment, which a busy
# program reads with the wrong binding; with its own key every letter is typed
# like any other.
CZECH_LETTERS = ("aacute", "eacute", "iacute", "oacute", "uacute", "uring", "yacute", "ccaron",
                 "dcaron", "ecaron", "ncaron", "rcaron", "scaron", "tcaron", "zcaron")
SPARE_KEYS = ("FK13", "FK14", "FK15", "FK16", "FK17", "FK18", "FK19", "FK20", "FK21", "FK22",
              "FK23", "FK24", "I120", "I149", "I150")
KEYMAP = """xkb_keymap {
    xkb_keycodes { include "evdev+aliases(qwerty)" };
    xkb_types { include "complete" };
    xkb_compat { include "complete" };
    xkb_symbols {
        include "pc+us+inet(evdev)"
%s
    };
    xkb_geometry { include "pc(pc105)" };
};
""" % "\n".join("        override key <%s> { [ %s, %s ] };" % (key, letter, letter.capitalize())
                for key, letter in zip(SPARE_KEYS, CZECH_LETTERS))

ANNOUNCE_PERIOD = 5.0
# A status change travels in the next announcement; what the receiver does
# with it (a box under the accessibility bus, a sanitizer build) takes a moment.
ANNOUNCE_MARGIN = 2.5
# A peer is marked silent at the first scan (every 3 s) after more than 30 whole
# seconds without an announcement: 30 to about 34 s after the last one heard,
# and its box takes a moment to show.
SILENCE_MIN, SILENCE_MAX = 30.0, 35.5


# ---------------------------------------------------------------- capture mode


def capture(source):
    """Prints one JSON line per UDP datagram from SOURCE to the program's port,
    with its source port and its bytes in hex."""
    sock = socket.socket(socket.AF_PACKET, socket.SOCK_DGRAM, socket.htons(0x0800))
    wanted = socket.inet_aton(source)
    print(json.dumps({"ready": True}), flush=True)
    while True:
        data, _address = sock.recvfrom(4096)
        now = time.monotonic()
        if len(data) < 20 or data[9] != 17 or data[12:16] != wanted:
            continue
        header = (data[0] & 0x0F) * 4
        udp = data[header:]
        if len(udp) < 12 or int.from_bytes(udp[2:4], "big") != PORT:
            continue
        payload = udp[8:]
        # The text of a text message; other kinds carry other fields there.
        text = payload[4:].split(b"\0", 1)[0].decode("cp1250", "replace")
        print(json.dumps({
            "t": now,
            "dst": socket.inet_ntoa(data[16:20]),
            "sport": int.from_bytes(udp[0:2], "big"),
            "type": int.from_bytes(payload[0:2], "little", signed=True),
            "sub": int.from_bytes(payload[2:4], "little", signed=True),
            "len": len(payload),
            "text": text,
            "hex": payload.hex(),
        }), flush=True)


if __name__ == "__main__" and len(sys.argv) == 3 and sys.argv[1] == "--capture":
    capture(sys.argv[2])
    sys.exit(0)

import gi  # noqa: E402

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

import atspi_tree as at  # noqa: E402


class CheckFailed(Exception):
    pass


def wait_for(probe, timeout, interval=0.1):
    """Polls probe() until it returns something true; returns it, or None.

    A window that goes away while it is read, or is not there yet, counts as
    not yet."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            value = probe()
        except (GLib.Error, at.NotFound):
            value = None
        if value:
            return value
        if time.monotonic() >= deadline:
            return None
        time.sleep(interval)


def expect_soon(probe, message, timeout=5.0):
    """Waits for probe() to hold; else fails with message(), read at the deadline.
    What a window shows after an action reaches the accessibility bus a moment
    later, so it is waited for, never read once."""
    if wait_for(probe, timeout, 0.05) is None:
        raise CheckFailed(message())


def computer_name():
    return socket.gethostname().split(".")[0][:15]


# ---------------------------------------------------------------- the copies


class Notices:
    """The notifications the fake notification service has received."""

    def __init__(self, path):
        self.path = path

    def of(self, pid):
        """(None, title, text) of each notification from the process, oldest first."""
        try:
            with open(self.path, encoding="utf-8") as f:
                lines = [json.loads(line) for line in f if line.endswith("\n")]
        except FileNotFoundError:
            return []
        return [(None, n["summary"], html.unescape(n["body"])) for n in lines if n["pid"] == pid]



class Copy:
    """One running program on one host and display."""

    def __init__(self, session, label, host, display, user=None):
        self.session = session
        self.label = label
        self.host = host
        self.display = display
        self.user = user
        self.home = os.path.join(session.tmp, "home-" + label)
        self.log = os.path.join(session.tmp, label + ".log")
        self.process = None
        self._app = None
        self.notices_taken = 0
        # "ExtraAddresses" of its settings, when set: the hosts it reaches
        # beyond its own network.
        self.extra_addresses = None

    @property
    def name(self):
        return "%s@%s" % (self.user, computer_name())

    def start(self):
        config = os.path.join(self.home, ".config", "Quillory")
        os.makedirs(config, exist_ok=True)
        if self.user is not None or self.extra_addresses is not None:
            with open(os.path.join(config, "Mrmx3.conf"), "w", encoding="utf-8") as f:
                f.write("[Settings]\n")
                if self.user is not None:
                    f.write("UserName=%s\nWindowsUserName=0\n" % self.user)
                if self.extra_addresses is not None:
                    f.write("ExtraAddresses=%s\n" % self.extra_addresses)
        runtime = os.path.join(self.home, "run")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": self.home,
            "USER": self.label,
            "LOGNAME": self.label,
            "DISPLAY": ":%s" % self.display,
            "XDG_RUNTIME_DIR": runtime,
            "QT_QPA_PLATFORM": "xcb",
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
            "DBUS_SESSION_BUS_ADDRESS": os.environ["DBUS_SESSION_BUS_ADDRESS"],
            "ASAN_OPTIONS": os.environ.get("ASAN_OPTIONS", "detect_leaks=0"),
        }
        command = ["ip", "netns", "exec", self.host, "env", "-i"]
        command += ["%s=%s" % item for item in env.items()]
        command.append(self.session.program)
        with open(self.log, "ab") as log:
            self.process = subprocess.Popen(command, cwd=os.path.dirname(self.session.program),
                                            stdin=subprocess.DEVNULL, stdout=log,
                                            stderr=subprocess.STDOUT)
        self.session.remember(self.process)
        self._app = None
        self.notices_taken = 0

    def app(self):
        if self._app is None:
            self._app = at.find_app(pid=self.process.pid)
        return self._app

    def wait_started(self, timeout=30.0):
        """The main window, once the program is on the accessibility bus."""
        def probe():
            if self.process.poll() is not None:
                raise CheckFailed("%s ended at start with status %s" % (self.label,
                                                                          self.process.returncode))
            self._app = None
            return self.main_window()
        frame = wait_for(probe, timeout, 0.2)
        if frame is None:
            raise CheckFailed("%s: no main window on the accessibility bus" % self.label)
        return frame

    def main_window(self):
        for window, role, _title, showing in at.windows(self.app()):
            if role == "frame" and showing:
                return window
        return None

    def alive(self):
        return self.process is not None and self.process.poll() is None

    # Message boxes: (node, caption, text)
    def boxes(self):
        found = []
        for window, role, title, _showing in at.windows(self.app()):
            if role != "alert":
                continue
            labels = [n.get_name() for n in at.walk(window)
                      if n.get_role_name() == "label" and n.get_name()]
            found.append((window, title, "\n".join(labels)))
        return found

    def wait_box(self, timeout, text=None):
        def probe():
            for box in self.boxes():
                if text is None or box[2] == text:
                    return box
            return None
        return wait_for(probe, timeout, 0.05)

    # Desktop notifications: (None, title, text)
    def notices(self):
        """The notifications not taken by wait_notice yet."""
        return self.session.notices.of(self.process.pid)[self.notices_taken:]

    def wait_notice(self, timeout, text=None):
        """The first new notification (with this text); it and those before it are taken."""
        def probe():
            for i, notice in enumerate(self.notices()):
                if text is None or notice[2] == text:
                    self.notices_taken += i + 1
                    return notice
            return None
        return wait_for(probe, timeout, 0.05)

    def close_box(self, box):
        """Presses the box's OK and waits until it is gone."""
        node = box[0]
        at.press(at.find(node, "push button", "OK"))
        if not wait_for(lambda: all(b[0] != node for b in self.boxes()), 5.0, 0.05):
            raise CheckFailed("%s: the box %r did not close" % (self.label, box[2]))

    def close_all_boxes(self):
        texts = []
        for _ in range(10):
            try:
                boxes = self.boxes()
            except (GLib.Error, at.NotFound):
                return texts
            if not boxes:
                return texts
            texts.append(boxes[0][2])
            try:
                self.close_box(boxes[0])
            except (GLib.Error, at.NotFound):
                pass
        return texts

    def tree(self):
        """{group: [peer, ...]}: each item row belongs to the group row above it."""
        groups = {}
        group = None
        for kind, name in at.tree_rows(at.find_tree(self.app())):
            if kind == "group":
                group = name
                groups.setdefault(group, [])
            else:
                groups.setdefault(group, []).append(name)
        return groups

    def conversation(self, peer):
        """The conversation window of a peer, by its caption."""
        return at.find_window(self.app(), peer)

    def xdo(self, *args):
        subprocess.run(["xdotool", *[str(a) for a in args]], check=True,
                       env=dict(os.environ, DISPLAY=":%s" % self.display))

    def click(self, node, count=1):
        x, y = at.centre(node)
        self.xdo("mousemove", "--sync", x, y)
        self.xdo("click", "--repeat", count, "--delay", 120, 1)

    def type_text(self, text, delay=25):
        self.xdo("type", "--delay", delay, "--", text)

    def press_action(self, role, name):
        """Triggers a menu command or a tool-bar button of the main window."""
        at.press(at.find(self.main_window(), role, name))

    def quit(self, timeout=10.0):
        """"Soubor" → "Konec"; returns the exit status, or None if it stayed."""
        if not self.alive():
            return self.process.returncode
        self.close_all_boxes()
        self.press_action("menu item", "Konec")
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def stop(self):
        if self.alive():
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()

    def describe(self):
        """What the copy shows, for a failure's report."""
        if not self.alive():
            return "%s: ended with status %s" % (self.label, self.process.returncode)
        lines = ["%s (pid %d):" % (self.label, self.process.pid)]
        try:
            for window, role, title, showing in at.windows(self.app()):
                box = window.get_extents(Atspi.CoordType.SCREEN)
                lines.append("  %s %r %s at %d,%d %dx%d" % (
                    role, title, "showing" if showing else "hidden", box.x, box.y, box.width,
                    box.height))
            for child in at.children(at.find_tree(self.app())):
                box = child.get_extents(Atspi.CoordType.SCREEN)
                lines.append("  row %r at %d,%d %dx%d" % (child.get_name(), box.x, box.y,
                                                          box.width, box.height))
        except (GLib.Error, at.NotFound) as error:
            lines.append("  (%s)" % error)
        return "\n".join(lines)

    def end_by_signal(self, timeout=10.0):
        """SIGTERM; the exit status, or None if it still runs after timeout."""
        self.process.send_signal(signal.SIGTERM)
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def sanitizer_report(self):
        """The first line of a sanitizer's report in the log, if there is one."""
        try:
            with open(self.log, encoding="utf-8", errors="replace") as f:
                for line in f:
                    if "Sanitizer" in line or "runtime error:" in line:
                        return line.strip()
        except OSError:
            pass
        return None

    def log_tail(self, lines=20):
        try:
            with open(self.log, encoding="utf-8", errors="replace") as f:
                return "".join(f.readlines()[-lines:])
        except OSError:
            return ""


def log_of(window):
    return at.text_of(at.find(window, "text", "Rozhovor"))


def enabled(node):
    return node.get_state_set().contains(Atspi.StateType.ENABLED)


class Capture:
    """The datagrams the first copy sends, as heard on the second host."""

    def __init__(self, session, host, source):
        self.packets = []
        self.lock = threading.Lock()
        self.ready = threading.Event()
        self.process = subprocess.Popen(
            ["ip", "netns", "exec", host, sys.executable, os.path.abspath(__file__),
             "--capture", source],
            stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True)
        session.remember(self.process)
        threading.Thread(target=self._read, daemon=True).start()
        if not self.ready.wait(10):
            raise CheckFailed("the packet capture did not start")

    def _read(self):
        for line in self.process.stdout:
            item = json.loads(line)
            if item.get("ready"):
                self.ready.set()
                continue
            with self.lock:
                self.packets.append(item)

    def since(self, start, kind=None):
        with self.lock:
            return [p for p in self.packets
                    if p["t"] >= start and (kind is None or (p["type"], p["sub"]) == kind)]

    def wait_sent(self, start, kind, expected, timeout=5.0):
        """Waits until the datagrams of a kind since start are, as (dst, text), the
        expected ones (or only their destinations, when expected holds strings)."""
        def seen():
            found = self.since(start, kind)
            if expected and isinstance(expected[0], str):
                return [p["dst"] for p in found]
            return [(p["dst"], p["text"]) for p in found]
        if wait_for(lambda: seen() == expected, timeout, 0.05) is None:
            raise CheckFailed("%s datagrams on the wire: %r, expected %r" % (
                {TEXT: "text", TYPING: "typing", BELL: "bell"}.get(kind, kind), seen(), expected))

    def last(self, kind):
        with self.lock:
            times = [p["t"] for p in self.packets if (p["type"], p["sub"]) == kind]
        return max(times) if times else None

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(5)
        except subprocess.TimeoutExpired:
            self.process.kill()


# ---------------------------------------------------------------- the session


class Session:
    def __init__(self, args):
        self.args = args
        self.program = args.program
        self.tmp = args.tmp
        self.pid_file = args.pid_file
        self.results = []
        self.shots = os.environ.get("MURMEX3_SCREENSHOT_DIR")
        self.alice = Copy(self, "alice", args.host_a, args.display_a, "alice")
        self.bob = Copy(self, "bob", args.host_b, args.display_b, "bob")
        self.capture = None
        self.notices = Notices(os.path.join(self.tmp, "notifications.jsonl"))
        self.alice_window = None
        self.bob_window = None
        # Where alice's broadcasts are heard on bob's host, and how soon each
        # copy hears of the other once both run.
        self.broadcast = "255.255.255.255"
        self.heard_within = ANNOUNCE_PERIOD
        if args.routed:
            # Bob lists nothing: alice's announcements make him answer her.
            self.alice.extra_addresses = args.addr_b
            self.broadcast = args.addr_b
            # Bob answers with his next announcement after hearing alice's.
            self.heard_within = 2 * ANNOUNCE_PERIOD

    def remember(self, process):
        with open(self.pid_file, "a") as f:
            f.write("%d\n" % process.pid)

    def check(self, title, body):
        started = time.monotonic()
        try:
            detail = body()
            self.results.append((title, True))
            print("PASS: %s%s (%.1f s)" % (title, " - " + detail if detail else "",
                                            time.monotonic() - started), flush=True)
        except (CheckFailed, at.NotFound, GLib.Error, subprocess.CalledProcessError) as error:
            self.results.append((title, False))
            print("FAIL: %s - %s" % (title, error), flush=True)
            self.describe()
        except Exception:  # a fault of the driver itself: say where, go on
            self.results.append((title, False))
            print("FAIL: %s - %s" % (title, traceback.format_exc()), flush=True)
            self.describe()
        # A box left open would swallow the next notification.
        for copy in (self.alice, self.bob):
            if copy.alive():
                for text in copy.close_all_boxes():
                    print("  note: closed a box left open on %s: %r" % (copy.label, text))

    def load_keymap(self, display):
        """Loads KEYMAP into the display's server (started with -noreset, so it stays)."""
        path = os.path.join(self.tmp, "keymap.xkb")
        with open(path, "w", encoding="ascii") as f:
            f.write(KEYMAP)
        target = ":%s" % display
        subprocess.run(["xkbcomp", "-w", "0", path, target], check=True)
        loaded = subprocess.run(["xkbcomp", target, "-"], capture_output=True, text=True).stdout
        if not all(letter in loaded for letter in CZECH_LETTERS):
            raise CheckFailed("the keymap did not load on %s" % target)

    def describe(self):
        for copy in (self.alice, self.bob):
            print(copy.describe())
        with self.capture.lock:
            heard = self.capture.packets[-6:]
        now = time.monotonic()
        for packet in heard:
            print("  heard %.1f s ago: %s" % (now - packet["t"], packet))

    def screenshot(self, copy, title, file_name):
        """The window with this caption on the copy's display, cut out as a PNG."""
        if not self.shots:
            return
        try:
            self.take_screenshot(copy, title, file_name)
        except (OSError, subprocess.CalledProcessError) as error:
            print("  note: no screenshot %s: %s" % (file_name, error))

    def take_screenshot(self, copy, title, file_name):
        if shutil.which("import") is None:
            print("  note: no screenshot, ImageMagick's import is missing")
            return
        os.makedirs(self.shots, exist_ok=True)
        env = dict(os.environ, DISPLAY=":%s" % copy.display)
        time.sleep(0.5)  # let the window finish painting
        ids = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % title],
                             env=env, capture_output=True, text=True).stdout.split()
        if not ids:
            print("  note: no screenshot, no window %r" % title)
            return
        shell = subprocess.run(["xdotool", "getwindowgeometry", "--shell", ids[0]], env=env,
                               capture_output=True, text=True, check=True).stdout
        geometry = dict(line.split("=", 1) for line in shell.split())
        crop = "%sx%s+%s+%s" % (geometry["WIDTH"], geometry["HEIGHT"], geometry["X"],
                                geometry["Y"])
        path = os.path.join(self.shots, file_name)
        subprocess.run(["import", "-window", "root", "-crop", crop, "+repage", "-strip", path],
                       env=env, check=True)
        print("  screenshot: %s" % path)

    # -------------------------------------------------------- the checks

    def see_each_other(self):
        alice, bob = self.alice, self.bob
        for copy in (alice, bob):
            frame = copy.main_window()
            if frame.get_name() != copy.name:
                raise CheckFailed("%s's main window is %r, not %r" % (copy.label,
                                                                     frame.get_name(), copy.name))
        for copy, other in ((alice, bob), (bob, alice)):
            wanted = {GROUP: [other.name]}
            if not wait_for(lambda: copy.tree() == wanted, self.heard_within + 10.0, 0.25):
                raise CheckFailed("%s lists %r, not %r" % (copy.label, copy.tree(), wanted))
        self.screenshot(alice, alice.name, "main-window.png")
        return "%s and %s, each under %r" % (alice.name, bob.name, GROUP)

    def status_change(self):
        alice, bob = self.alice, self.bob
        lines = []
        for how, role, name, notice in (
                ("tool bar", "push button", "Pryč", AWAY_NOTICE),
                ("menu", "menu item", "Připraven", READY_NOTICE)):
            started = time.monotonic()
            alice.press_action(role, name)
            text = notice % alice.name
            notice = bob.wait_notice(ANNOUNCE_PERIOD + ANNOUNCE_MARGIN + 1.0)
            if notice is None:
                raise CheckFailed("no notification on %s after %r (%s)" % (bob.label, name, how))
            took = time.monotonic() - started
            if notice[2] != text:
                raise CheckFailed("notification %r, expected %r" % (notice[2], text))
            if notice[1] != "Murmex3 - OK":
                raise CheckFailed("notification title %r" % notice[1])
            if took > ANNOUNCE_PERIOD + ANNOUNCE_MARGIN:
                raise CheckFailed("%r arrived after %.1f s" % (text, took))
            lines.append("%r after %.1f s" % (text, took))
        if bob.tree() != {GROUP: [alice.name]}:
            raise CheckFailed("%s's tree changed to %r" % (bob.label, bob.tree()))
        return ", ".join(lines)

    def open_conversation(self, copy, peer):
        row = at.tree_row(at.find_tree(copy.app()), peer.name)
        copy.click(row, 2)
        window = wait_for(lambda: copy.conversation(peer.name), 5.0)
        if window is None:
            raise CheckFailed("%s: double-clicking %s opened no window" % (copy.label, peer.name))
        return window

    def message(self):
        alice, bob = self.alice, self.bob
        bob_window = self.open_conversation(bob, alice)
        alice_window = self.open_conversation(alice, bob)
        self.bob_window, self.alice_window = bob_window, alice_window
        for window in (bob_window, alice_window):
            if log_of(window) != "":
                raise CheckFailed("a new conversation shows %r" % log_of(window))

        started = time.monotonic()
        alice.click(at.find(alice_window, "text", "Zpráva"))
        alice.type_text(FIRST_TEXT[0])
        typing = TYPING_CAPTION % alice.name
        if not wait_for(lambda: bob_window.get_name() == typing, 5.0, 0.02):
            raise CheckFailed("%s's window caption stayed %r" % (bob.label, bob_window.get_name()))
        seen = time.monotonic() - started
        if log_of(bob_window) != "":
            raise CheckFailed("the log filled before the typing caption was seen")
        alice.type_text(FIRST_TEXT[1:])
        if at.text_of(at.find(alice_window, "text", "Zpráva")) != FIRST_TEXT:
            raise CheckFailed("the input holds %r" % at.text_of(at.find(alice_window, "text",
                                                                         "Zpráva")))
        alice.xdo("key", "Return")
        line = "%s: %s" % (alice.name, FIRST_TEXT)
        expect_soon(lambda: log_of(bob_window) == line,
                    lambda: "%s's log is %r" % (bob.label, log_of(bob_window)))
        expect_soon(lambda: bob_window.get_name() == alice.name,
                    lambda: "caption after the message: %r" % bob_window.get_name())
        expect_soon(lambda: log_of(alice_window) == line,
                    lambda: "%s's own log is %r" % (alice.label, log_of(alice_window)))
        expect_soon(lambda: at.text_of(at.find(alice_window, "text", "Zpráva")) == "",
                    lambda: "the input was not cleared")
        self.capture.wait_sent(started, TEXT, [(self.args.addr_b, FIRST_TEXT)])
        self.capture.wait_sent(started, TYPING, [self.args.addr_b])

        # The answer, into a window that is on the screen: no box, only the log.
        bob.click(at.find(bob_window, "text", "Zpráva"))
        bob.type_text(REPLY_TEXT)
        bob.xdo("key", "Return")
        both = "%s\n%s: %s" % (line, bob.name, REPLY_TEXT)
        expect_soon(lambda: log_of(alice_window) == both,
                    lambda: "%s's log is %r" % (alice.label, log_of(alice_window)))
        expect_soon(lambda: log_of(bob_window) == both,
                    lambda: "%s's own log is %r" % (bob.label, log_of(bob_window)))
        for copy in (alice, bob):
            if copy.boxes() or copy.notices():
                raise CheckFailed("a message into an open window was notified on %s: %r"
                                  % (copy.label, (copy.boxes() + copy.notices())[0][2]))
        return "caption %r after %.2f s, then %r" % (typing, seen, line)

    def bell(self):
        alice, bob = self.alice, self.bob
        before = log_of(self.alice_window)
        started = time.monotonic()
        alice.click(at.find(self.alice_window, "push button", "Zvonek"))
        text = BELL_NOTICE % (alice.name, FIRST_TEXT)
        notice = bob.wait_notice(5.0)
        if notice is None:
            raise CheckFailed("no notification on %s" % bob.label)
        if notice[2] != text:
            raise CheckFailed("notification %r, expected %r" % (notice[2], text))
        self.capture.wait_sent(started, BELL, [self.args.addr_b])
        if log_of(self.alice_window) != before or log_of(self.bob_window) != before:
            raise CheckFailed("the bell changed a log")
        return "%r after %.1f s" % (text, time.monotonic() - started)

    def window_of(self, copy):
        return self.alice_window if copy is self.alice else self.bob_window

    def to_everybody(self, sender, receiver):
        window = self.window_of(sender)
        other = self.window_of(receiver)
        combo = at.find(window, "combo box")
        sender.click(combo)
        sender.xdo("key", "Down", "Return")
        if not wait_for(lambda: combo.get_name() == "Všem", 5.0):
            raise CheckFailed("the recipient is %r" % combo.get_name())
        before = log_of(other)
        started = time.monotonic()
        sender.click(at.find(window, "text", "Zpráva"))
        sender.type_text(ALL_TEXT)
        sender.xdo("key", "Return")
        line = "%s: %s" % (sender.name, ALL_TEXT)
        expect_soon(lambda: log_of(other) == before + "\n" + line,
                    lambda: "%s's log is %r" % (receiver.label, log_of(other)))
        expect_soon(lambda: log_of(window).endswith(line),
                    lambda: "%s's own log is %r" % (sender.label, log_of(window)))
        # The copy hears its own broadcast and drops it: one own line, still
        # one a while after the other copy has shown it.
        time.sleep(0.5)
        if log_of(window).count(line) != 1:
            raise CheckFailed("%s's own log is %r" % (sender.label, log_of(window)))
        if receiver.boxes() or receiver.notices():
            raise CheckFailed("notified on %s: %r" % (
                receiver.label, (receiver.boxes() + receiver.notices())[0][2]))
        if sender is not self.alice:  # the capture hears alice only
            return "%r in %s's log" % (line, receiver.label)
        self.capture.wait_sent(started, TEXT, [(self.broadcast, ALL_TEXT)])
        self.capture.wait_sent(started, TYPING, [self.broadcast])
        self.screenshot(sender, receiver.name, "conversation.png")
        return "broadcast to %s, %r in %s's log" % (self.broadcast, line, receiver.label)

    def message_to_closed_window(self):
        alice, bob = self.alice, self.bob
        # Esc closes the window; it only hides.
        bob.click(at.find(self.bob_window, "text", "Rozhovor"))
        bob.xdo("key", "Escape")
        if not wait_for(lambda: not at.is_showing(self.bob_window), 5.0):
            raise CheckFailed("Esc left %s's window on the screen" % bob.label)
        combo = at.find(self.alice_window, "combo box")
        alice.click(combo)
        alice.xdo("key", "Up", "Return")
        if not wait_for(lambda: combo.get_name() == "Uživateli", 5.0):
            raise CheckFailed("the recipient is %r" % combo.get_name())
        started = time.monotonic()
        alice.click(at.find(self.alice_window, "text", "Zpráva"))
        alice.type_text(HIDDEN_TEXT)
        alice.xdo("key", "Return")
        text = MESSAGE_NOTICE % (alice.name, HIDDEN_TEXT)
        notice = bob.wait_notice(5.0)
        if notice is None:
            raise CheckFailed("no notification on %s" % bob.label)
        if notice[2] != text:
            raise CheckFailed("notification %r, expected %r" % (notice[2], text))
        self.capture.wait_sent(started, TEXT, [(self.args.addr_b, HIDDEN_TEXT)])
        window = self.open_conversation(bob, alice)
        line = "%s: %s" % (alice.name, HIDDEN_TEXT)
        expect_soon(lambda: log_of(window).endswith("\n" + line),
                    lambda: "the reopened window's log ends %r" % log_of(window)[-80:])
        expect_soon(lambda: window.get_name() == alice.name,
                    lambda: "the reopened window's caption is %r" % window.get_name())
        self.bob_window = window
        return "%r, then the line in the reopened window" % text

    def quit_shows_disconnected(self):
        alice, bob = self.alice, self.bob
        started = time.monotonic()
        bob.press_action("menu item", "Konec")
        text = GONE_NOTICE % bob.name
        notice = alice.wait_notice(5.0)
        if notice is None:
            raise CheckFailed("no notification on %s within 5 s" % alice.label)
        took = time.monotonic() - started
        if notice[2] != text:
            raise CheckFailed("notification %r, expected %r" % (notice[2], text))
        line = DISCONNECTED_LINE % bob.name
        expect_soon(lambda: log_of(self.alice_window).endswith("\n" + line),
                    lambda: "%s's log ends %r" % (alice.label, log_of(self.alice_window)[-80:]))
        for button in ("Odeslat", "Zvonek"):
            expect_soon(lambda: not enabled(at.find(self.alice_window, "push button", button)),
                        lambda: "%r is still enabled" % button)
        try:
            status = bob.process.wait(10)
        except subprocess.TimeoutExpired:
            raise CheckFailed("%s still runs 10 s after Konec" % bob.label)
        if status != 0:
            raise CheckFailed("%s ended with status %s:\n%s" % (bob.label, status, bob.log_tail()))
        if alice.tree() != {GROUP: [bob.name]}:
            raise CheckFailed("%s lists %r" % (alice.label, alice.tree()))
        return "%r after %.1f s, log line and disabled buttons, %s ended with 0" % (
            text, took, bob.label)

    def second_copy(self):
        carol = Copy(self, "carol", self.args.host_a, self.args.display_a)
        carol.start()
        try:
            carol.wait_started()
            box = carol.wait_box(15.0)
            if box is None:
                raise CheckFailed("no box")
            if box[1] != "Error" or not box[2].startswith("Create errorcode: 98"):
                raise CheckFailed("box %r: %r" % (box[1], box[2]))
            carol.close_box(box)
            time.sleep(2.0)
            if not carol.alive():
                raise CheckFailed("it ended with status %s" % carol.process.returncode)
            if carol.main_window() is None:
                raise CheckFailed("its main window is gone")
            if carol.boxes():
                raise CheckFailed("another box: %r" % carol.boxes()[0][2])
            status = carol.quit()
            if status != 0:
                raise CheckFailed("Konec ended it with status %s:\n%s" % (status,
                                                                          carol.log_tail()))
            return "%r, still running 2 s later, Konec ends it" % box[2].split("\n")[0]
        finally:
            carol.stop()

    def second_copy_quit_signal(self):
        dave = Copy(self, "dave", self.args.host_a, self.args.display_a)
        dave.start()
        try:
            dave.wait_started()
            box = dave.wait_box(15.0)
            if box is None or not box[2].startswith("Create errorcode: 98"):
                raise CheckFailed("no \"Create\" box: %r" % (box and box[2],))
            started = time.monotonic()
            status = dave.end_by_signal()
            if status is None:
                raise CheckFailed("it still runs 10 s after SIGTERM")
            if status != 0 or dave.sanitizer_report():
                raise CheckFailed("status %s:\n%s" % (status, dave.log_tail()))
            return "ended with 0 after %.1f s" % (time.monotonic() - started)
        finally:
            dave.stop()

    def reconnect(self):
        alice, bob = self.alice, self.bob
        bob.start()
        bob.wait_started()
        notice = alice.wait_notice(self.heard_within + 5.0, READY_NOTICE % bob.name)
        if notice is None:
            raise CheckFailed("no notification %r on %s" % (READY_NOTICE % bob.name, alice.label))
        expect_soon(lambda: log_of(self.alice_window).endswith("\n" + RECONNECTED_LINE % bob.name),
                    lambda: "%s's log ends %r" % (alice.label, log_of(self.alice_window)[-80:]))
        for button in ("Odeslat", "Zvonek"):
            expect_soon(lambda: enabled(at.find(self.alice_window, "push button", button)),
                        lambda: "%r stayed disabled" % button)
        if not wait_for(lambda: bob.tree() == {GROUP: [alice.name]}, 10.0, 0.25):
            raise CheckFailed("%s lists %r" % (bob.label, bob.tree()))
        return "%r, reconnection line and buttons enabled again" % notice[2]

    def link_cut(self):
        alice, bob = self.alice, self.bob
        heard = wait_for(lambda: self.capture.last(PRESENCE), 10.0)
        if heard is None:
            raise CheckFailed("no announcement of %s heard" % alice.label)
        cut = time.monotonic()
        subprocess.run(["ip", "-n", self.args.host_a, "link", "set", self.args.link_a, "down"],
                       check=True)
        text = GONE_NOTICE % alice.name
        notice = bob.wait_notice(SILENCE_MAX + 5.0, text)
        if notice is None:
            raise CheckFailed("no notification %r on %s" % (text, bob.label))
        seen = time.monotonic()
        last = self.capture.last(PRESENCE)
        if self.capture.since(cut + 0.1):
            raise CheckFailed("datagrams after the cut: %r" % self.capture.since(cut + 0.1))
        silence = seen - last
        if not SILENCE_MIN <= silence <= SILENCE_MAX:
            raise CheckFailed("marked %.1f s after the last announcement" % silence)
        if bob.tree() != {GROUP: [alice.name]}:
            raise CheckFailed("%s lists %r" % (bob.label, bob.tree()))
        if not alice.alive():
            raise CheckFailed("%s ended" % alice.label)
        return "%r %.1f s after the last announcement (%.1f s after the cut)" % (
            text, silence, seen - cut)

    def quit_signal_in_window_box(self):
        alice, bob = self.alice, self.bob
        # Since the cut alice cannot reach bob; its watcher marks him silent.
        send = at.find(self.alice_window, "push button", "Odeslat")
        if not wait_for(lambda: not enabled(send), SILENCE_MAX + 5.0):
            raise CheckFailed("%s did not mark %s silent" % (alice.label, bob.label))
        # The pointer may still rest on the input, where a synchronous move
        # would wait in vain for it to move.
        alice.xdo("mousemove", 0, 0)
        alice.click(at.find(self.alice_window, "text", "Zpráva"))
        alice.type_text("x")
        box = alice.wait_box(5.0)
        if box is None or not box[2].startswith("SendTo errorcode: "):
            raise CheckFailed("no \"SendTo\" box: %r" % (box and box[2],))
        started = time.monotonic()
        status = alice.end_by_signal()
        if status is None:
            raise CheckFailed("%s still runs 10 s after SIGTERM" % alice.label)
        if status != 0 or alice.sanitizer_report():
            raise CheckFailed("status %s:\n%s" % (status, alice.log_tail()))
        return "%r, SIGTERM, ended with 0 after %.1f s" % (box[2].split("\n")[0],
                                                          time.monotonic() - started)

    def clean_exit(self):
        failures = []
        for copy in (self.alice, self.bob):
            status = None
            for _ in range(3):
                try:
                    status = copy.quit(6.0)
                except (GLib.Error, at.NotFound):
                    status = copy.process.poll()
                if status is not None:
                    break
            if status != 0:
                failures.append("%s: status %s\n%s" % (copy.label, status, copy.log_tail()))
        if failures:
            raise CheckFailed("; ".join(failures))
        return "both ended with status 0"

    def run(self):
        alice, bob = self.alice, self.bob
        started = time.monotonic()
        try:
            for display in (self.args.display_a, self.args.display_b):
                self.load_keymap(display)
            self.capture = Capture(self, self.args.host_b, self.args.addr_a)
            alice.start()
            bob.start()
            alice.wait_started()
            bob.wait_started()
        except (CheckFailed, OSError, subprocess.CalledProcessError) as error:
            print("FAIL: start - %s\n%s\n%s" % (error, alice.log_tail(), bob.log_tail()))
            return 1
        # (title, body, whether it runs across the router too). A status change
        # travels in the announcements that check 1 sees cross; a second copy
        # and a box in a window are one host's own.
        checks = [
            ("1. each copy lists the other under its group", self.see_each_other, True),
            ("2. a status change reaches the other copy within one announcement period",
             self.status_change, False),
            ("3. a typed message arrives, after the typing caption", self.message, True),
            ("4. the bell shows its notification on the other copy", self.bell, True),
            ("5. a message to \"Všem\" arrives at the other copy",
             lambda: self.to_everybody(alice, bob), True),
            ("5a. a message to \"Všem\" from the second copy arrives at the first",
             lambda: self.to_everybody(bob, alice), True),
            ("5b. a message to a closed window shows a box, then its line",
             self.message_to_closed_window, False),
            ("6. \"Konec\" shows the copy disconnected at once in the other",
             self.quit_shows_disconnected, True),
            ("8. a second copy on one host reports the \"Create\" error and runs on",
             self.second_copy, False),
            ("8b. a quit signal while its \"Create\" box is open ends the second copy",
             self.second_copy_quit_signal, False),
            ("6b. the restarted copy is shown connected again", self.reconnect, True),
            ("7. a cut link shows the copy disconnected after 30 s of silence",
             self.link_cut, True),
            ("7b. a quit signal while a conversation window's box is open ends the copy",
             self.quit_signal_in_window_box, False),
            ("9. both copies end cleanly with \"Konec\"", self.clean_exit, True),
        ]
        for title, body, across in checks:
            if across or not self.args.routed:
                self.check(title, body)
        failed = [title for title, ok in self.results if not ok]
        print("%d checks, %d failed, %.0f s" % (len(self.results), len(failed),
                                               time.monotonic() - started))
        if failed:
            for copy in (alice, bob):
                print("--- %s.log\n%s" % (copy.label, copy.log_tail(40)))
        return 1 if failed else 0

    def close(self):
        for copy in (self.alice, self.bob):
            copy.stop()
        if self.capture is not None:
            self.capture.stop()


def main():
    parser = argparse.ArgumentParser()
    for option in ("program", "tmp", "pid-file", "host-a", "host-b", "addr-a", "addr-b",
                   "link-a", "display-a", "display-b"):
        parser.add_argument("--" + option, required=True)
    parser.add_argument("--routed", action="store_true")
    args = parser.parse_args()
    session = Session(args)
    try:
        return session.run()
    finally:
        session.close()


if __name__ == "__main__":
    sys.exit(main())
