#!/usr/bin/env python3
"""The talk daemons through portwarden on their real ports (518, 517), inside
a network and mount namespace of the test's own (talk_peer_test.sh makes it).

Debian's talk, in a pseudo-terminal, calls the console user: its control
datagrams are watched on the loopback interface, the REQUEST dialog is
answered through the layer's automation, and a stand-in talk client records
the argument vector it was started with. The old protocol and hostile
datagrams are sent by hand and their answers compared byte for byte.

Usage: talk_peer_test.py BUILD_DIR. Prints "ok: ..." or "FAILED: ..." per
check and exits 1 when any failed."""
import os
import pty
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

import peertest
from peertest import check, finish, start_portwarden, wait_until

BIN = os.path.join(os.path.abspath(sys.argv[1]), "bin")
CONSOLE_USER = "daemon"




def processes_named(name):
    """This test's live processes of that name: other tests may run talk daemons at the same time."""
    mine = ("QX_RUNTIME_DIR=" + os.environ.get("QX_RUNTIME_DIR", "-")).encode()
    found = []
    for pid in peertest.processes_named(name):
        try:
            with open("/proc/%d/environ" % pid, "rb") as f:
                if mine in f.read().split(b"\0"):
                    found.append(pid)
        except OSError:
            pass
    return found


# ---- What crosses the loopback interface ----

class Capture(threading.Thread):
    """UDP datagrams to and from the talk ports, in order: (dport, sport, payload)."""

    def __init__(self):
        super().__init__(daemon=True)
        self.sock = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(0x0003))
        self.sock.bind(("lo", 0))
        self.sock.settimeout(0.2)
        self.seen = []
        self.lock = threading.Lock()
        self.running = True

    def run(self):
        while self.running:
            try:
                frame, address = self.sock.recvfrom(65535)
            except socket.timeout:
                continue
            if address[2] == socket.PACKET_OUTGOING:
                continue  # each loopback packet is seen going out and coming in
            ip = frame[14:]
            if len(ip) < 28 or ip[9] != 17:
                continue
            header = (ip[0] & 15) * 4
            sport, dport = struct.unpack("!HH", ip[header:header + 4])
            if {sport, dport} & {517, 518}:
                with self.lock:
                    self.seen.append((dport, sport, bytes(ip[header + 8:])))

    def requests(self, port, size=84):
        """Request types sent to the port, in order (new layout: type at 1; old: at 0)."""
        at = 1 if port == 518 else 0
        with self.lock:
            return [p[at] for d, s, p in self.seen if d == port and len(p) == size]

    def responses(self, port):
        """(type, answer) of the responses the daemon on the port sent."""
        at = 1 if port == 518 else 0
        with self.lock:
            return [(p[at], p[at + 1]) for d, s, p in self.seen if s == port and len(p) == 24]

    def announcements(self):
        """The ANNOUNCE datagrams sent to parleyd, as they were sent."""
        with self.lock:
            return [p for d, s, p in self.seen if d == 518 and len(p) == 84 and p[1] == ANNOUNCE]

    def clear(self):
        with self.lock:
            self.seen.clear()

    def stop(self):
        self.running = False


# ---- Processes ----


def auto(pid, *words):
    """One automation command to a daemon; the answer without "ok "; None on an error."""
    out = subprocess.run([os.path.join(BIN, "qxauto"), "-p", str(pid)] + list(words), capture_output=True,
                         text=True, timeout=20)
    text = out.stdout.strip()
    return text[3:] if out.returncode == 0 and text.startswith("ok") else None


def request_dialogs(pid, caption):
    listing = auto(pid, "list") or ""
    return [line.split()[0] for line in listing.splitlines()[1:] if line.endswith("|" + caption)]


def press(pid, dialog, button_id):
    button = auto(pid, "item", dialog, str(button_id))
    return button is not None and auto(pid, "press", button) is not None


class Talk:
    """Debian's talk in a pseudo-terminal, its screen read as it comes."""

    def __init__(self, who):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.environ["TERM"] = "vt100"
            os.execvp("talk", ["talk", who])
        self.out = b""

    def pump(self, seconds):
        end = time.time() + seconds
        while time.time() < end:
            r, _, _ = select.select([self.fd], [], [], 0.1)
            if r:
                try:
                    self.out += os.read(self.fd, 4096)
                except OSError:
                    return

    def wait_for(self, condition, seconds):
        end = time.time() + seconds
        while time.time() < end and not condition():
            self.pump(0.1)
        return condition()

    def end(self):
        try:
            os.kill(self.pid, signal.SIGINT)  # talk sends its DELETEs and ends
        except ProcessLookupError:
            pass
        end = time.time() + 5
        while time.time() < end:
            self.pump(0.1)
            if os.waitpid(self.pid, os.WNOHANG)[0]:
                break
        else:
            os.kill(self.pid, signal.SIGKILL)
            os.waitpid(self.pid, 0)
        os.close(self.fd)


# ---- Hand-made datagrams ----

def sockaddr(port, ip=(127, 0, 0, 1), network_order=True):
    family = b"\x00\x02" if network_order else b"\x02\x00"
    return family + struct.pack("!H", port) + bytes(ip) + bytes(8)


def new_request(kind, l_name, r_name, ctl_port, pid=1000, ident=0, addr_port=4000):
    """A TALK_REQUEST as a BSD client sends it: all in network order."""
    return (bytes([1, kind, 0, 0]) + struct.pack("!I", ident) + sockaddr(addr_port) + sockaddr(ctl_port) +
            struct.pack("!I", pid) + l_name.ljust(12, b"\0")[:12] + r_name.ljust(12, b"\0")[:12] + bytes(16))


def old_request(kind, l_name, r_name, ctl_port, pid=1000, ident=0, addr_port=4000):
    """An OLD_TALK_REQUEST, little-endian as a Windows client sends it."""
    return (bytes([kind]) + l_name.ljust(9, b"\0")[:9] + r_name.ljust(9, b"\0")[:9] + b"\0" +
            struct.pack("<II", ident, pid) + bytes(16) + sockaddr(addr_port, network_order=False) +
            sockaddr(ctl_port, network_order=False))


class Client:
    def __init__(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.port = self.sock.getsockname()[1]

    def ask(self, port, data, wait=3.0):
        self.sock.settimeout(wait)
        self.sock.sendto(data, ("127.0.0.1", port))
        try:
            return self.sock.recv(1024)
        except socket.timeout:
            return None

    def send(self, port, data):
        self.sock.sendto(data, ("127.0.0.1", port))


LEAVE_INVITE, LOOK_UP, DELETE, ANNOUNCE = 0, 1, 2, 3
SUCCESS, NOT_HERE, PERMISSION_DENIED, UNKNOWN_REQUEST = 0, 1, 4, 5


def collapse(items):
    out = []
    for item in items:
        if not out or out[-1] != item:
            out.append(item)
    return out


# ---- The scenarios ----

def talk_accepted(capture, scratch):
    talk = Talk(CONSOLE_USER + "@127.0.0.1")
    rang = talk.wait_for(lambda: ANNOUNCE in capture.requests(518), 15)
    check("talk's LOOK_UP and ANNOUNCE reach parleyd", rang,
          "saw %s; talk said %r" % (capture.requests(518), talk.out[-300:]))
    pid = wait_until(lambda: (processes_named("parleyd") or [None])[0], 5)
    dialogs = wait_until(lambda: pid and request_dialogs(pid, "New Talk Request"), 30) or []
    check("one REQUEST dialog for the call", len(dialogs) == 1, "%s, pid %s: %s" % (dialogs, pid, auto(pid, "list")))
    if dialogs:
        field = auto(pid, "item", dialogs[0], "100")
        # The address first, the host name once its lookup is done.
        shown = wait_until(lambda: field and auto(pid, "text", field) == "root@localhost", 10)
        check("the dialog names the caller", shown, repr(field and auto(pid, "text", field)))
        check("Talk pressed", press(pid, dialogs[0], 101))
    args_file = os.path.join(scratch, "parley.args")
    started = wait_until(lambda: os.path.exists(args_file), 10)
    args = open(args_file).read().splitlines() if started else None
    check("the talk client started with the caller and the called user", args == ["root@127.0.0.1", CONSOLE_USER],
          repr(args))
    talk.end()
    ended = wait_until(lambda: not processes_named("parleyd"), 10)
    sequence = collapse(capture.requests(518))
    # talk announces to the called machine before it leaves its invitation at its own.
    check("in order: LOOK_UP, ANNOUNCE, LEAVE_INVITE, DELETE",
          sequence[:4] == [LOOK_UP, ANNOUNCE, LEAVE_INVITE, DELETE], str(sequence))
    answers = collapse(capture.responses(518))
    # Of its two DELETEs the one of the accepted announcement finds nothing:
    # accepting removed it; the one of its invitation empties the list.
    check("answers: NOT_HERE, SUCCESS, SUCCESS, then a DELETE with SUCCESS",
          answers[:3] == [(LOOK_UP, NOT_HERE), (ANNOUNCE, SUCCESS), (LEAVE_INVITE, SUCCESS)] and
          (DELETE, SUCCESS) in answers[3:], str(answers))
    check("the DELETE that empties the list ends parleyd", ended)


def talk_cancelled(capture):
    capture.clear()
    first = Talk(CONSOLE_USER + "@127.0.0.1")
    first.wait_for(lambda: ANNOUNCE in capture.requests(518), 15)
    pid = wait_until(lambda: (processes_named("parleyd") or [None])[0], 5)
    dialogs = wait_until(lambda: pid and request_dialogs(pid, "New Talk Request"), 30) or []
    check("Cancel pressed", bool(dialogs) and press(pid, dialogs[0], 102))
    # talk announces again every 30 s: its announcement, sent once more now,
    # is answered PERMISSION_DENIED at its control address.
    announce = capture.announcements()[0]
    capture.clear()
    Client().send(518, announce)
    refused = wait_until(lambda: (ANNOUNCE, PERMISSION_DENIED) in capture.responses(518), 5)
    check("after Cancel the caller's repeated ANNOUNCE gets PERMISSION_DENIED", refused, str(capture.responses(518)))
    # The same caller's next call (another talk process) is refused at once.
    capture.clear()
    second = Talk(CONSOLE_USER + "@127.0.0.1")
    refused = second.wait_for(lambda: (ANNOUNCE, PERMISSION_DENIED) in capture.responses(518), 15)
    check("and so is the same caller's next call", refused, str(capture.responses(518)))
    second.wait_for(lambda: b"refusing" in second.out, 5)
    check("talk tells its user the party refuses", b"refusing" in second.out, repr(second.out[-200:]))
    check("no second dialog for the refused caller", not request_dialogs(pid, "New Talk Request"))
    second.end()
    first.end()


def old_protocol(scratch):
    c = Client()
    r = c.ask(517, old_request(LEAVE_INVITE, b"carol", CONSOLE_USER.encode(), c.port, pid=7))
    check("old LEAVE_INVITE answered in the old layout (id at 2)",
          r is not None and r[:8] == bytes([LEAVE_INVITE, SUCCESS, 1, 0, 0, 0, 0, 0]) and r[8:] == bytes(16),
          repr(r))
    r = c.ask(517, old_request(LOOK_UP, CONSOLE_USER.encode(), b"carol", c.port, pid=8))
    want = bytes([LOOK_UP, SUCCESS, 1, 0, 0, 0, 0, 0]) + sockaddr(4000)
    check("old LOOK_UP finds it, the address with its family in network order", r == want, repr(r))
    r = c.ask(517, old_request(ANNOUNCE, b"carol", CONSOLE_USER.encode(), c.port, pid=7))
    check("old ANNOUNCE rings", r is not None and r[:2] == bytes([ANNOUNCE, SUCCESS]), repr(r))
    pid = wait_until(lambda: (processes_named("oldparleyd") or [None])[0], 5)
    dialogs = wait_until(lambda: pid and request_dialogs(pid, "Old Talk Request"), 30) or []
    check("the old daemon's REQUEST dialog", len(dialogs) == 1, str(dialogs))
    if dialogs:
        press(pid, dialogs[0], 101)
    args_file = os.path.join(scratch, "oldparley.args")
    started = wait_until(lambda: os.path.exists(args_file), 10)
    args = open(args_file).read().splitlines() if started else None
    check("oldparley started with the caller and the called user", args == ["carol@127.0.0.1", CONSOLE_USER],
          repr(args))
    r = c.ask(517, old_request(DELETE, b"carol", CONSOLE_USER.encode(), c.port, ident=1 << 24))
    check("old DELETE of the last invitation", r is not None and r[:2] == bytes([DELETE, SUCCESS]), repr(r))
    check("and oldparleyd ends", wait_until(lambda: not processes_named("oldparleyd"), 10))


def client_missing(scratch):
    """Talk with no talk client to start: the call counts as refused."""
    os.rename(os.path.join(scratch, "bin", "parley"), os.path.join(scratch, "parley.away"))
    c = Client()
    announce = new_request(ANNOUNCE, b"eve", CONSOLE_USER.encode(), c.port, pid=31)
    r = c.ask(518, announce)
    check("eve's call rings", r is not None and r[1:3] == bytes([ANNOUNCE, SUCCESS]), repr(r))
    pid = wait_until(lambda: (processes_named("parleyd") or [None])[0], 5)
    dialogs = wait_until(lambda: pid and request_dialogs(pid, "New Talk Request"), 30) or []
    check("Talk pressed with no talk client there", bool(dialogs) and press(pid, dialogs[0], 101))
    denied = wait_until(lambda: (c.ask(518, announce, wait=1) or b"   ")[2] == PERMISSION_DENIED, 5)
    check("a call whose client could not be started is refused", denied)
    os.rename(os.path.join(scratch, "parley.away"), os.path.join(scratch, "bin", "parley"))
    os.kill(pid, signal.SIGKILL)
    wait_until(lambda: not processes_named("parleyd"), 5)


def hostile():
    c = Client()
    base = new_request(LEAVE_INVITE, b"mallory", b"victim", c.port)
    cases = [
        ("83 bytes", base[:83], None),
        ("85 bytes", base + b"\0", None),
        ("76 bytes to the new daemon", base[:76], None),
        ("names without NUL", new_request(LEAVE_INVITE, b"A" * 12, b"B" * 12, c.port), (LEAVE_INVITE, SUCCESS)),
        ("crossed lookup of names without NUL", new_request(LOOK_UP, b"B" * 12, b"A" * 12, c.port, pid=2),
         (LOOK_UP, SUCCESS)),
        ("a blank in the caller's name", new_request(ANNOUNCE, b"ro ot", CONSOLE_USER.encode(), c.port),
         (ANNOUNCE, PERMISSION_DENIED)),
        ("a switch as the caller's name", new_request(ANNOUNCE, b"/debug", CONSOLE_USER.encode(), c.port),
         (ANNOUNCE, PERMISSION_DENIED)),
        ("someone not at the console", new_request(ANNOUNCE, b"root", b"nobody", c.port), (ANNOUNCE, NOT_HERE)),
        ("an unknown type", new_request(9, b"root", CONSOLE_USER.encode(), c.port), (9, UNKNOWN_REQUEST)),
    ]
    for what, data, want in cases:
        r = c.ask(518, data, wait=0.5 if want is None else 3)
        if want is None:
            check("hostile: %s gets no answer" % what, r is None, repr(r))
        else:
            got = (r[1], r[2]) if r and len(r) == 24 else None
            check("hostile: %s" % what, got == want and r[0] == 1 and r[3] == 0, repr(r))
            if want[1] != SUCCESS:
                check("hostile: %s leaves id and address zero" % what, r is not None and r[4:] == bytes(20),
                      repr(r))
    # 500 announcements, each from another caller process and name.
    for i in range(500):
        c.send(518, new_request(ANNOUNCE, b"u%d" % i, CONSOLE_USER.encode(), c.port, pid=10000 + i))
        if i % 50 == 49:
            time.sleep(0.05)
    time.sleep(1)
    pid = (processes_named("parleyd") or [None])[0]
    dialogs = request_dialogs(pid, "New Talk Request") if pid else []
    check("500 announcements open at most 8 dialogs", 0 < len(dialogs) <= 8, "%d dialogs" % len(dialogs))
    c = Client()  # away from the answers to the flood
    r = c.ask(518, new_request(LOOK_UP, b"B" * 12, b"A" * 12, c.port, pid=3))
    check("parleyd still answers after the flood", r is not None and r[1:3] == bytes([LOOK_UP, SUCCESS]), repr(r))
    if pid:
        os.kill(pid, signal.SIGKILL)  # portwarden counts the session ended
    wait_until(lambda: not processes_named("parleyd"), 5)


def main():
    scratch = tempfile.mkdtemp(prefix="qx-talk-")
    portwarden = None
    capture = None
    try:
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        bindir = os.path.join(scratch, "bin")
        os.makedirs(bindir)
        # The daemons look for their client beside themselves first: copies of
        # portwarden and the daemons with stand-in clients next to them.
        for program in ("portwarden", "parleyd", "oldparleyd"):
            shutil.copy2(os.path.join(BIN, program), bindir)
        for name in os.listdir(BIN):
            if name.endswith(".so"):
                os.symlink(os.path.join(BIN, name), os.path.join(bindir, name))
        for client in ("parley", "oldparley"):
            path = os.path.join(bindir, client)
            with open(path, "w") as f:
                f.write('#!/bin/sh\nprintf "%%s\\n" "$@" > %s/%s.args\n' % (scratch, client))
            os.chmod(path, 0o755)
        with open(os.path.join(scratch, "hosts"), "w") as f:
            f.write("127.0.0.1 localhost %s\n" % socket.gethostname())
        subprocess.run(["mount", "--bind", os.path.join(scratch, "hosts"), "/etc/hosts"], check=True)
        home = os.path.join(scratch, "home")
        os.makedirs(os.path.join(home, "drive_c", "WINDOWS"))
        srv = os.path.join(scratch, "srv")
        os.makedirs(srv)
        os.environ.update(QX_HOME=home, QX_MACHINE_DIR=os.path.join(scratch, "machine"),
                          QX_RUNTIME_DIR=os.path.join(scratch, "run"),
                          QX_EVENTLOG_FILE=os.path.join(scratch, "events.txt"), QX_CONSOLE_USER=CONSOLE_USER,
                          QX_DISPLAY="headless")
        pwtable = os.path.join(BIN, "pwtable")
        subprocess.run([pwtable, "enable", "parleyd", "oldparleyd"], cwd=srv, check=True, stdout=subprocess.DEVNULL)
        capture = Capture()
        capture.start()
        portwarden = start_portwarden(os.path.join(bindir, "portwarden"), srv, os.path.join(scratch, "portwarden.out"))

        def listening():
            out = subprocess.run(["ss", "-Hlnu"], capture_output=True, text=True).stdout
            return ":517 " in out and ":518 " in out

        check("portwarden listens on 517 and 518", wait_until(listening, 10))
        talk_accepted(capture, scratch)
        check("portwarden listens on 518 again", wait_until(listening, 10))
        talk_cancelled(capture)
        old_protocol(scratch)
        client_missing(scratch)
        hostile()
    finally:
        if capture:
            capture.stop()
        status = finish(portwarden, os.path.join(scratch, "portwarden.out"), scratch,
                        ("parleyd", "oldparleyd", "parley", "oldparley"))
    return status


if __name__ == "__main__":
    sys.exit(main())
