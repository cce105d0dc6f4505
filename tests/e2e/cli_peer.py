#!/usr/bin/env python3
"""murmex3-cli (on host B, natively or under Wine) against the real desktop
program "alice" (on host A, driven as two_copies.py drives it). A capture on
host A checks what the CLI sends byte for byte. With --routed the hosts are on
two subnets joined by a router that forwards no broadcast: alice lists host B
among its extra addresses, every CLI command is given host A with --also (the
Windows CLI reads it from the program's settings in Wine's registry), and
what the CLI broadcasts reaches host A as that copy alone. Started by
cli_peer.sh; prints one PASS or FAIL line per check."""
import argparse
import json
import os
import struct
import subprocess
import sys
import threading
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import atspi_tree as at  # noqa: E402
import two_copies as tc  # noqa: E402
from gi.repository import GLib  # noqa: E402

PORT = 23654
WINE64 = "/usr/lib/wine/wine64"
GROUP = "Připojeni"
CLI_GROUP = "Stroje"
FROM_CLI = "Sestavení 1234 je hotové: žluťoučký kůň „úpěl“ €"
FROM_PROGRAM = "Odpověď z programu: ěščřžýáíé"
FROM_SHARED = "Ze sdíleného portu"
BY_NAME = "Poslané podle jména"


# The datagrams the CLI must send, byte for byte (zeroed buffer, code page 1250).
def presence_bytes(status, name, group):
    return (struct.pack("<hhh", 1, 1, status) + name.encode("cp1250").ljust(48, b"\0")
            + group.encode("cp1250").ljust(48, b"\0"))


TYPING_BYTES = bytes.fromhex("01000800")
BELL_BYTES = bytes.fromhex("02000200")


def text_bytes(text):
    return bytes.fromhex("01000200") + text.encode("cp1250") + b"\0"


def wire(capture, start):
    """(destination, bytes, source port) of what host B sent since start."""
    return [(p["dst"], bytes.fromhex(p["hex"]), p["sport"]) for p in capture.since(start)]


def watch_announcement(item):
    """A presence that the running watch sends from its port now and then."""
    return item[2] == PORT and item[1][:4] == b"\x01\x00\x01\x00"


def wait_sent(capture, start, expected, timeout=5.0, beside_watch=False):
    """Waits until what was sent since start is `expected`: (destination, bytes).
    Beside a running watch, its announcements do not count."""
    sent = lambda: [item for item in wire(capture, start)  # noqa: E731
                    if not (beside_watch and watch_announcement(item))]
    seen = lambda: [item[:2] for item in sent()]  # noqa: E731
    if tc.wait_for(lambda: seen() == expected, timeout, 0.05) is None:
        raise tc.CheckFailed("on the wire %r, expected %r" % (seen(), expected))
    return sent()


class Watch:
    """A running `murmex3-cli watch --json`, its events read as they come."""

    def __init__(self, process):
        self.process = process
        self.events = []  # appended by the reader alone
        threading.Thread(target=lambda: self.events.extend(
            json.loads(line) for line in process.stdout), daemon=True).start()

    def wait_event(self, timeout, **fields):
        event = tc.wait_for(lambda: next((e for e in list(self.events) if all(
            e.get(k) == v for k, v in fields.items())), None), timeout, 0.05)
        if event is None:
            raise tc.CheckFailed("watch printed no %r within %.0f s; it printed %r"
                                 % (fields, timeout, self.events))
        return event


class Session:
    def __init__(self, args):
        self.args = args
        self.program = args.program
        self.tmp = args.tmp
        self.pid_file = args.pid_file
        self.wine = args.wine
        self.routed = args.routed
        # Where the CLI's broadcasts that reach host A are addressed.
        self.broadcast = args.addr_a if args.routed else "255.255.255.255"
        self.label = "winrobot" if args.wine else "robot"
        self.notices = tc.Notices(os.path.join(self.tmp, "notifications.jsonl"))
        self.alice = tc.Copy(self, "alice", args.host_a, args.display_a, "alice")
        if args.routed:
            self.alice.extra_addresses = args.addr_b
        self.capture = None
        self.watch = None
        self.window = None
        self.cli_name = None
        self.results = []
        self.home = os.path.join(self.tmp, "home-cli")
        os.makedirs(self.home, exist_ok=True)

    def remember(self, process):
        with open(self.pid_file, "a") as f:
            f.write("%d\n" % process.pid)

    # ------------------------------------------------------------ the CLI

    def cli_command(self, args, host=None):
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.home,
               "USER": "cli", "LOGNAME": "cli", "LANG": "C.UTF-8",
               "ASAN_OPTIONS": os.environ.get("ASAN_OPTIONS", "")}
        command = [self.args.cli]
        if self.wine:
            for name in ("WINEPREFIX", "WINEDEBUG", "WINEDLLOVERRIDES"):
                env[name] = os.environ[name]
            command = [WINE64, self.args.cli]
        args = list(args)
        if self.routed and not self.wine:  # under Wine: the registry's ExtraAddresses
            args[1:1] = ["--also", self.args.addr_a]
        return (["ip", "netns", "exec", host or self.args.host_b, "env", "-i"]
                + ["%s=%s" % item for item in env.items()] + command + args)

    def cli(self, *args, host=None, pipe=None):
        """Runs the CLI to its end; with `pipe`, as `murmex3-cli ARGS | PIPE`."""
        command = self.cli_command(args, host)
        if pipe:
            line = " ".join("'%s'" % a.replace("'", "'\\''") for a in command[4:])
            command = command[:4] + ["bash", "-c", "set -o pipefail; %s | %s" % (line, pipe)]
        return subprocess.run(command, capture_output=True, text=True,
                              stdin=subprocess.DEVNULL, timeout=40)

    def expect(self, result, status, stderr_part=None):
        if result.returncode != status or (stderr_part and stderr_part not in result.stderr):
            raise tc.CheckFailed("%s ended with %d (wanted %d), said %r" % (
                " ".join(result.args[-4:]), result.returncode, status, result.stderr))

    def expect_notice(self, text):
        """Waits for the program's notification with this text."""
        if self.alice.wait_notice(5.0, text) is None:
            raise tc.CheckFailed("no notification %r: %r" % (text, self.alice.notices()))

    # ------------------------------------------------------------ the checks

    def check(self, title, body):
        started = time.monotonic()
        try:
            detail = body()
            self.results.append((title, True))
            print("PASS: %s%s (%.1f s)" % (title, " - " + detail if detail else "",
                                            time.monotonic() - started), flush=True)
        except (tc.CheckFailed, at.NotFound, GLib.Error, subprocess.CalledProcessError,
                subprocess.TimeoutExpired) as error:
            self.results.append((title, False))
            print("FAIL: %s - %s" % (title, error), flush=True)
            print(self.alice.describe())
        if self.alice.alive():
            for text in self.alice.close_all_boxes():
                print("  note: closed a box: %r" % text)

    def peers(self):
        alice = self.alice
        started = time.monotonic()
        result = self.cli("peers", "--json", "--wait", "7", "--name", self.label)
        self.expect(result, 0)
        heard = json.loads(result.stdout)
        mine = [p for p in heard if p["address"] == self.args.addr_a]
        wanted = {"address": self.args.addr_a, "name": alice.name, "group": GROUP,
                  "status": 0, "statusText": "OK"}
        if len(mine) != 1 or {k: mine[0][k] for k in wanted} != wanted or \
                not 0 <= mine[0]["lastHeardSeconds"] <= 7:
            raise tc.CheckFailed("peers printed %r" % heard)
        # Its announcement and goodbye, byte for byte; they name this computer.
        # The goodbye leaves as the CLI ends: the capture hears it a moment later.
        def name_sent():
            sent = wire(self.capture, started)
            return sent[0][1][6:54].split(b"\0")[0].decode("cp1250") if sent else ""
        name = tc.wait_for(name_sent, 5.0, 0.05) or ""
        expected = [(self.broadcast, presence_bytes(status, name, GROUP)) for status in (0, 4)]
        if not name.startswith(self.label + "@"):
            raise tc.CheckFailed("the CLI sent %r" % wire(self.capture, started))
        wait_sent(self.capture, started, expected)
        self.cli_name = name
        if not tc.wait_for(lambda: name in alice.tree().get(GROUP, []), 5.0, 0.2):
            raise tc.CheckFailed("the program lists %r" % alice.tree())
        self.expect_notice(tc.GONE_NOTICE % name)

        # Its status as the program announces it, through jq as in the README.
        alice.press_action("push button", "Pryč")
        quiet_from = time.monotonic()
        result = self.cli("peers", "--json", "--quiet", "--wait", "7",
                          pipe="jq -r '.[] | \"\\(.name) \\(.statusText) \\(.status)\"'")
        alice.press_action("menu item", "Připraven")
        if result.returncode != 0 or result.stdout != "%s Pryč 1\n" % alice.name:
            raise tc.CheckFailed("peers | jq printed %r, said %r" % (result.stdout,
                                                                     result.stderr))
        if wire(self.capture, quiet_from):
            raise tc.CheckFailed("peers --quiet sent %r" % wire(self.capture, quiet_from))
        return "%s with OK (0), then Pryč (1); the program lists %s" % (alice.name, name)

    def watch_starts(self):
        process = subprocess.Popen(
            self.cli_command(["watch", "--json", "--name", self.label, "--group", CLI_GROUP]),
            stdout=subprocess.PIPE, stderr=open(os.path.join(self.tmp, "watch.err"), "w"),
            stdin=subprocess.DEVNULL, text=True)
        self.remember(process)
        self.watch = Watch(process)
        event = self.watch.wait_event(8.0, event="appeared", address=self.args.addr_a)
        if event["name"] != self.alice.name or event["group"] != GROUP or event["status"] != 0:
            raise tc.CheckFailed("appeared as %r" % event)
        if not tc.wait_for(lambda: self.cli_name in self.alice.tree().get(CLI_GROUP, []),
                           8.0, 0.2):
            raise tc.CheckFailed("the program lists %r" % self.alice.tree())
        self.expect_notice(tc.READY_NOTICE % self.cli_name)
        return "%r; the program lists %s under %s" % (event, self.cli_name, CLI_GROUP)

    def message_to_program(self):
        alice = self.alice
        # watch holds the port: a name cannot be looked up, an address works.
        self.expect(self.cli("send", "--to", alice.name, "x"), 1, "Give the peer's address")
        started = time.monotonic()
        self.expect(self.cli("send", "--to", self.args.addr_a, FROM_CLI), 0)
        sent = wait_sent(self.capture, started, [(self.args.addr_a, TYPING_BYTES),
                                                 (self.args.addr_a, text_bytes(FROM_CLI))],
                         beside_watch=True)
        if any(port == PORT for _dst, _bytes, port in sent):
            raise tc.CheckFailed("sent from port %d, which watch holds" % PORT)
        notice = "%s : %s" % (self.cli_name, FROM_CLI)
        self.expect_notice(notice)
        row = at.tree_row(at.find_tree(alice.app()), self.cli_name)
        alice.click(row, 2)
        self.window = tc.wait_for(lambda: alice.conversation(self.cli_name), 5.0)
        if self.window is None:
            raise tc.CheckFailed("no conversation window")
        line = "%s: %s" % (self.cli_name, FROM_CLI)
        if not tc.wait_for(lambda: tc.log_of(self.window) == line, 5.0, 0.05):
            raise tc.CheckFailed("the log is %r" % tc.log_of(self.window))
        return "typing notice and text from port %d; the log shows %r" % (sent[0][2], line)

    def message_from_program(self):
        alice = self.alice
        alice.click(at.find(self.window, "text", "Zpráva"))
        alice.type_text(FROM_PROGRAM)
        alice.xdo("key", "Return")
        event = self.watch.wait_event(5.0, event="message", address=self.args.addr_a)
        if event["text"] != FROM_PROGRAM or event["name"] != alice.name:
            raise tc.CheckFailed("watch printed %r" % event)
        alice.click(at.find(self.window, "push button", "Zvonek"))
        self.watch.wait_event(5.0, event="bell", address=self.args.addr_a)
        alice.press_action("push button", "Pryč")
        event = self.watch.wait_event(8.0, event="status", status=1)
        if event["statusText"] != "Pryč" or event["previousStatus"] != 0:
            raise tc.CheckFailed("watch printed %r" % event)
        alice.press_action("menu item", "Připraven")
        self.watch.wait_event(8.0, event="status", status=0, previousStatus=1)
        return "message %r, bell, Pryč and back" % FROM_PROGRAM

    def bell_to_program(self):
        started = time.monotonic()
        self.expect(self.cli("bell", "--to", self.args.addr_a), 0)
        wait_sent(self.capture, started, [(self.args.addr_a, BELL_BYTES)], beside_watch=True)
        notice = tc.BELL_NOTICE % (self.cli_name, FROM_CLI)
        self.expect_notice(notice)
        return repr(notice)

    def shared_port_on_program_host(self):
        # The program holds the port on host A.
        self.expect(self.cli("peers", "--wait", "1", host=self.args.host_a), 1,
                    "is taken on this computer")
        self.expect(self.cli("send", "--to", self.args.addr_b, FROM_SHARED,
                             host=self.args.host_a), 0)
        event = self.watch.wait_event(5.0, event="message", text=FROM_SHARED)
        if event["address"] != self.args.addr_a or event["name"] != self.alice.name:
            raise tc.CheckFailed("watch printed %r" % event)
        return "peers refused; the message shows as from %s" % event["name"]

    def watch_goodbye(self):
        started = time.monotonic()
        # Wine turns SIGINT into Ctrl+C for the program.
        self.watch.process.send_signal(2 if self.wine else 15)
        try:
            status = self.watch.process.wait(10)
        except subprocess.TimeoutExpired:
            raise tc.CheckFailed("watch still runs 10 s after the signal")
        if status != 0:
            raise tc.CheckFailed("watch ended with %d: %s" % (
                status, open(os.path.join(self.tmp, "watch.err")).read()))
        goodbye = presence_bytes(4, self.cli_name, CLI_GROUP)
        if not tc.wait_for(lambda: any(sent[1] == goodbye
                                       for sent in wire(self.capture, started)), 3.0):
            raise tc.CheckFailed("no goodbye on the wire")
        notice = tc.GONE_NOTICE % self.cli_name
        self.expect_notice(notice)
        if not tc.wait_for(lambda: tc.log_of(self.window).endswith(
                tc.DISCONNECTED_LINE % self.cli_name), 5.0, 0.05):
            raise tc.CheckFailed("the log ends %r" % tc.log_of(self.window)[-80:])
        return "status 0, %r" % notice

    def send_by_name(self):
        alice = self.alice
        result = self.cli("send", "--name", self.label, "--to", "nobody", "x")
        self.expect(result, 2, alice.name)
        started = time.monotonic()
        self.expect(self.cli("send", "--name", self.label, "--to", alice.name, BY_NAME), 0)
        line = "%s: %s" % (self.cli_name, BY_NAME)
        if not tc.wait_for(lambda: tc.log_of(self.window).endswith("\n" + line), 5.0):
            raise tc.CheckFailed("the log ends %r" % tc.log_of(self.window)[-80:])

        # On a port of its own it announces itself before it speaks.
        def spoke():
            sent = [item[:2] for item in wire(self.capture, started)]
            return sent if sent[-2:] == [(self.args.addr_a, TYPING_BYTES),
                                         (self.args.addr_a, text_bytes(BY_NAME))] else None
        sent = tc.wait_for(spoke, 5.0, 0.05)
        if not sent or sent[0][0] != self.broadcast or sent[0][1][:4] != b"\x01\0\x01\0":
            raise tc.CheckFailed("on the wire %r" % wire(self.capture, started))
        return "'nobody' refused listing %s; %r" % (alice.name, line)

    def refuses_foreign_text(self):
        result = self.cli("send", "--to", self.args.addr_a, "Emoji 😀")
        self.expect(result, 2, "U+1F600")
        return result.stderr.strip()

    def run(self):
        alice = self.alice
        started = time.monotonic()
        try:
            tc.Session.load_keymap(self, self.args.display_a)  # the Czech letters' keys
            self.capture = tc.Capture(self, self.args.host_a, self.args.addr_b)
            alice.start()
            alice.wait_started()
        except (tc.CheckFailed, OSError, subprocess.CalledProcessError) as error:
            print("FAIL: start - %s\n%s" % (error, alice.log_tail()))
            return 1
        cli = "the Windows CLI under Wine" if self.wine else "the CLI"
        if self.routed:
            cli += " across the router"
        self.check("1. %s lists the program with its status (JSON, jq)" % cli, self.peers)
        if self.cli_name is None:
            return 1
        self.check("2. watch prints the program's arrival; the program lists it",
                   self.watch_starts)
        if self.watch is None:
            return 1
        self.check("3. a message from %s (another port) shows in the program's log" % cli,
                   self.message_to_program)
        if self.window is not None:
            self.check("4. a message typed in the program, its bell and status reach watch",
                       self.message_from_program)
        self.check("5. a bell from %s rings in the program" % cli, self.bell_to_program)
        if not self.wine:
            self.check("6. beside the running program peers is refused and send works",
                       self.shared_port_on_program_host)
        self.check("7. watch says goodbye on its quit signal", self.watch_goodbye)
        if not self.wine and self.window is not None:
            self.check("8. send finds the program by its name", self.send_by_name)
        if not self.routed:  # refused before anything is sent
            self.check("9. a character outside code page 1250 is refused",
                       self.refuses_foreign_text)
        self.check("10. the program ends cleanly", self.program_quits)
        failed = [title for title, ok in self.results if not ok]
        print("%d checks, %d failed, %.0f s" % (len(self.results), len(failed),
                                               time.monotonic() - started))
        if failed:
            print("--- alice.log\n%s" % alice.log_tail(40))
        return 1 if failed else 0

    def program_quits(self):
        status = self.alice.quit(10.0)
        if status != 0 or self.alice.sanitizer_report():
            raise tc.CheckFailed("status %s\n%s" % (status, self.alice.log_tail()))
        return "status 0"

    def close(self):
        self.alice.stop()
        if self.watch is not None and self.watch.process.poll() is None:
            self.watch.process.kill()
        if self.capture is not None:
            self.capture.stop()


def main():
    parser = argparse.ArgumentParser()
    for option in ("program", "cli", "tmp", "pid-file", "host-a", "host-b", "addr-a", "addr-b",
                   "display-a"):
        parser.add_argument("--" + option, required=True)
    parser.add_argument("--wine", action="store_true")
    parser.add_argument("--routed", action="store_true")
    session = Session(parser.parse_args())
    try:
        return session.run()
    finally:
        session.close()


if __name__ == "__main__":
    sys.exit(main())
