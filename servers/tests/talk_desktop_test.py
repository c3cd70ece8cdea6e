#!/usr/bin/env python3
"""parleyd run by portwarden without a display of its own, as a service is,
shows its REQUEST dialog on the desktop of the user at the console.

Inside the namespaces talk_desktop_test.sh makes: a test user "qxdesk" (in
copies of the password and group files mounted over the real ones), their X
display (Xvfb :57 with a cookie), a process of their desktop session with
that display in its environment, and logind's state files naming that
session the active one of seat0 (an empty /run of the test's own). Datagrams
are sent by hand; the dialog is seen on the X display and answered through
the layer's automation of the dialog's own process.

Usage: talk_desktop_test.py BUILD_DIR. Prints "ok: ..." or "FAILED: ..." per
check and exits 1 when any failed."""
import os
import secrets
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

from peertest import check, finish, processes_named, start_portwarden, wait_until

BIN = os.path.join(os.path.abspath(sys.argv[1]), "bin")
USER, UID = "qxdesk", 64123
DISPLAY = ":57"
LEAVE_INVITE, LOOK_UP, DELETE, ANNOUNCE = 0, 1, 2, 3
SUCCESS, NOT_HERE, PERMISSION_DENIED = 0, 1, 4
CAPTION = "New Talk Request"


def sockaddr(port):
    return b"\x00\x02" + struct.pack("!H", port) + bytes([127, 0, 0, 1]) + bytes(8)


def new_request(kind, l_name, ctl_port, pid=1000, ident=0):
    """A TALK_REQUEST in network order, as a BSD talk client sends it, to the test user."""
    return (bytes([1, kind, 0, 0]) + struct.pack("!I", ident) + sockaddr(4000) + sockaddr(ctl_port) +
            struct.pack("!I", pid) + l_name.ljust(12, b"\0") + USER.encode().ljust(12, b"\0") + bytes(16))


class Client:
    def __init__(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.port = self.sock.getsockname()[1]

    def ask(self, data, wait=3.0):
        self.sock.settimeout(wait)
        self.sock.sendto(data, ("127.0.0.1", 518))
        try:
            return self.sock.recv(1024)
        except socket.timeout:
            return None

    def announce(self, name, pid):
        r = self.ask(new_request(ANNOUNCE, name, self.port, pid=pid))
        return (r[2], struct.unpack("<I", r[4:8])[0]) if r and len(r) == 24 else (None, None)


def status_ids(pid):
    """(uid line, gid line, groups line) of /proc/PID/status."""
    fields = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            key, _, value = line.partition(":")
            fields[key] = value.split()
    return fields.get("Uid"), fields.get("Gid"), fields.get("Groups")


def ring_helpers():
    """The parleyd processes started with /ring: the dialogs on the desktop."""
    found = []
    for pid in processes_named("parleyd"):
        try:
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                if b"/ring" in f.read().split(b"\0"):
                    found.append(pid)
        except OSError:
            pass
    return found


def daemons():
    return [pid for pid in processes_named("parleyd") if pid not in ring_helpers()]


class Desktop:
    """The console user's X display and what is seen on it."""

    def __init__(self, scratch, home):
        self.cookie = os.path.join(home, ".Xauthority")
        subprocess.run(["xauth", "-q", "-f", self.cookie, "add", DISPLAY, ".", secrets.token_hex(16)], check=True,
                       stderr=subprocess.DEVNULL)
        os.chown(self.cookie, UID, UID)
        self.server = subprocess.Popen(["Xvfb", DISPLAY, "-nolisten", "tcp", "-auth", self.cookie, "-screen", "0",
                                        "800x600x24"], user=UID, group=UID, extra_groups=[],
                                       stdout=subprocess.DEVNULL, stderr=open(os.path.join(scratch, "xvfb.out"), "w"))

    def windows(self):
        """Names of the windows on the display."""
        out = subprocess.run(["xwininfo", "-display", DISPLAY, "-root", "-tree"], capture_output=True, text=True,
                             env=dict(os.environ, XAUTHORITY=self.cookie), timeout=10)
        return [line.split('"')[1] for line in out.stdout.splitlines() if line.count('"') >= 2]

    def ready(self):
        return subprocess.run(["xwininfo", "-display", DISPLAY, "-root"], capture_output=True,
                              env=dict(os.environ, XAUTHORITY=self.cookie), timeout=10).returncode == 0


def auto(runtime, pid, *words):
    """One automation command; as the console user for a dialog process on their desktop (its runtime
    folder is theirs)."""
    as_user = {} if runtime == os.environ["QX_RUNTIME_DIR"] else dict(user=UID, group=UID, extra_groups=[])
    out = subprocess.run([os.path.join(BIN, "qxauto"), "-p", str(pid)] + list(words), capture_output=True,
                         text=True, timeout=20, env=dict(os.environ, QX_RUNTIME_DIR=runtime), **as_user)
    text = out.stdout.strip()
    return text[3:] if out.returncode == 0 and text.startswith("ok") else None


def dialogs_of(runtime, pid):
    listing = auto(runtime, pid, "list") or ""
    return [line.split()[0] for line in listing.splitlines() if line.endswith("|" + CAPTION)]


def press(runtime, pid, button_id):
    dialogs = wait_until(lambda: dialogs_of(runtime, pid), 15) or []
    button = dialogs and auto(runtime, pid, "item", dialogs[0], str(button_id))
    return bool(button) and auto(runtime, pid, "press", button) is not None


def seat(session_id, leader, display):
    """logind's state: seat0's active session, the test user's, led by leader."""
    with open("/run/systemd/seats/seat0", "w") as f:
        f.write("ACTIVE=%s\nACTIVE_UID=%d\n" % (session_id, UID))
    with open("/run/systemd/sessions/%s" % session_id, "w") as f:
        f.write("UID=%d\nUSER=%s\nACTIVE=1\nSTATE=active\nTYPE=x11\nCLASS=user\nSEAT=seat0\nLEADER=%d\nDISPLAY=%s\n" %
                (UID, USER, leader, display))


def make_user(scratch):
    """The test user, in copies of the account files mounted over the real ones."""
    home = os.path.join(scratch, "home-" + USER)
    os.makedirs(home)
    os.chown(home, UID, UID)
    for name, line in (("passwd", "%s:x:%d:%d:talk desktop test:%s:/bin/sh\n" % (USER, UID, UID, home)),
                       ("group", "%s:x:%d:\n" % (USER, UID))):
        copy = os.path.join(scratch, name)
        shutil.copy("/etc/" + name, copy)
        with open(copy, "a") as f:
            f.write(line)
        subprocess.run(["mount", "--bind", copy, "/etc/" + name], check=True)
    return home


def rings_on_the_desktop(desktop, runtime, out):
    c = Client()
    answer, _ = c.announce(b"carol", 11)
    check("carol's ANNOUNCE to the console user succeeds", answer == SUCCESS, repr(answer))
    helpers = wait_until(ring_helpers, 10) or []
    check("one dialog process on the desktop", len(helpers) == 1, str(helpers))
    if not helpers:
        return
    uid, gid, groups = status_ids(helpers[0])
    check("it runs as the console user, their group and groups only",
          uid == [str(UID)] * 4 and gid == [str(UID)] * 4 and groups == [str(UID)], "%s %s %s" % (uid, gid, groups))
    check("the REQUEST dialog is on the console user's X display", wait_until(
        lambda: CAPTION in desktop.windows(), 15), str(desktop.windows()))
    check("and not in the daemon", all(not dialogs_of(os.environ["QX_RUNTIME_DIR"], d) for d in daemons()))
    field = None
    dialogs = wait_until(lambda: dialogs_of(runtime, helpers[0]), 15) or []
    if dialogs:
        field = auto(runtime, helpers[0], "item", dialogs[0], "100")
    shown = wait_until(lambda: field and auto(runtime, helpers[0], "text", field) == "carol@localhost", 10)
    check("the dialog names the caller", shown, repr(field and auto(runtime, helpers[0], "text", field)))
    again, _ = c.announce(b"carol", 11)
    check("the same call announced again opens no second dialog", again == SUCCESS and len(ring_helpers()) == 1)
    check("Talk pressed on the desktop", press(runtime, helpers[0], 101))
    args_file = os.path.join(out, "parley.args")
    started = wait_until(lambda: os.path.exists(args_file) and os.path.getsize(args_file) > 0, 10)
    lines = open(args_file).read().splitlines() if started else None
    check("the talk client started on the desktop, as the console user, with the caller and the called user",
          lines == ["carol@127.0.0.1", USER, "uid=%d" % UID, "display=" + DISPLAY], repr(lines))
    check("the dialog process ends", wait_until(lambda: not ring_helpers(), 10))
    check("and its window is gone", wait_until(lambda: CAPTION not in desktop.windows(), 10))
    answer, _ = c.announce(b"carol", 11)
    check("the accepted call is no longer held: a new announcement rings again", answer == SUCCESS)
    helpers = wait_until(ring_helpers, 10) or []
    if helpers:
        press(runtime, helpers[0], 102)  # refused, kept by the daemon until its end
    wait_until(lambda: not ring_helpers(), 10)


def cancel_refuses(runtime):
    c = Client()
    answer, _ = c.announce(b"dave", 21)
    helpers = wait_until(ring_helpers, 10) or []
    check("dave's call rings on the desktop", answer == SUCCESS and len(helpers) == 1, "%s %s" % (answer, helpers))
    check("Cancel pressed on the desktop", bool(helpers) and press(runtime, helpers[0], 102))
    check("the dialog process ends after Cancel", wait_until(lambda: not ring_helpers(), 10))
    denied = wait_until(lambda: c.announce(b"dave", 21)[0] == PERMISSION_DENIED, 5)
    check("after Cancel dave's repeated ANNOUNCE gets PERMISSION_DENIED", denied)
    check("and no new dialog", not ring_helpers())


def delete_closes(desktop):
    c = Client()
    answer, ident = c.announce(b"erin", 31)
    helpers = wait_until(ring_helpers, 10) or []
    check("erin's call rings on the desktop", answer == SUCCESS and len(helpers) == 1)
    wait_until(lambda: CAPTION in desktop.windows(), 15)
    r = c.ask(new_request(DELETE, b"erin", c.port, pid=31, ident=socket.htonl(ident)))
    check("erin's DELETE succeeds", r is not None and r[2] == SUCCESS, repr(r))
    check("DELETE ends the dialog process", wait_until(lambda: not ring_helpers(), 10), str(ring_helpers()))
    check("and takes the dialog off the desktop", wait_until(lambda: CAPTION not in desktop.windows(), 10),
          str(desktop.windows()))


def end_process(pid, sig):
    """Signals a daemon that may have ended already (an idle daemon ends by itself)."""
    try:
        os.kill(pid, sig)
    except ProcessLookupError:
        pass


def flood_capped():
    c = Client()
    for i in range(12):
        c.announce(b"f%d" % i, 100 + i)
    # The cap is reached long before the wait ends; more than 8 would show by then.
    wait_until(lambda: len(ring_helpers()) >= 8, 15)
    helpers = ring_helpers()
    check("12 callers open at most 8 dialogs on the desktop", 0 < len(helpers) <= 8, str(len(helpers)))
    for pid in daemons():
        end_process(pid, signal.SIGTERM)  # the daemon's end closes its dialogs
    check("the daemon's end closes every dialog on the desktop", wait_until(lambda: not ring_helpers(), 15),
          str(ring_helpers()))
    wait_until(lambda: not processes_named("parleyd"), 10)


def no_desktop(events, leader_without_display):
    """The console user has no desktop session: the dialog is the daemon's own, said once."""
    seat("c2", leader_without_display, "")
    c = Client()
    first, _ = c.announce(b"gina", 41)
    second, _ = c.announce(b"hank", 42)
    check("without a desktop the calls still ring", first == SUCCESS and second == SUCCESS)
    pid = wait_until(lambda: (daemons() or [None])[0], 5)
    shown = wait_until(lambda: pid and len(dialogs_of(os.environ["QX_RUNTIME_DIR"], pid)) == 2, 15)
    check("in the daemon's own process, without a display, as before", shown and not ring_helpers())
    text = open(events).read() if os.path.exists(events) else ""
    check("said once in the event log", text.count("no desktop session") == 1, repr(text[-400:]))
    if pid:
        end_process(pid, signal.SIGTERM)  # a clean end: portwarden serves the next datagram at once
    wait_until(lambda: not processes_named("parleyd"), 5)


def display_refused(events, leader_with_bad_cookie):
    """The console user's display refuses the dialog process: the daemon shows the dialog, said once."""
    seat("c3", leader_with_bad_cookie, DISPLAY)
    before = open(events).read().count("cannot be opened") if os.path.exists(events) else 0
    c = Client()
    # portwarden starts the next daemon once it has seen the last one end: the
    # same announcement again until one answers (a repeat opens no second dialog).
    first = SUCCESS if wait_until(lambda: c.announce(b"ivan", 51)[0] == SUCCESS, 15) else None
    second, _ = c.announce(b"jill", 52)
    check("with a display that refuses the dialog process the calls still ring", first == SUCCESS and
          second == SUCCESS, "%s %s" % (first, second))
    pid = wait_until(lambda: (daemons() or [None])[0], 5)
    shown = wait_until(lambda: pid and len(dialogs_of(os.environ["QX_RUNTIME_DIR"], pid)) == 2, 20)
    check("the daemon shows both dialogs itself", shown, str(pid and auto(os.environ["QX_RUNTIME_DIR"], pid, "list")))
    check("and no dialog process is left", wait_until(lambda: not ring_helpers(), 10), str(ring_helpers()))
    text = open(events).read() if os.path.exists(events) else ""
    check("the display that cannot be opened is said once in the event log",
          text.count("cannot be opened") - before == 1, repr(text[-400:]))
    if pid:
        end_process(pid, signal.SIGKILL)
    wait_until(lambda: not processes_named("parleyd"), 5)


def main():
    # A /tmp of the test's own: the X server's lock and socket and the scratch
    # folder go with the namespace.
    subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=1777", "tmpfs", "/tmp"], check=True)
    scratch = tempfile.mkdtemp(prefix="qx-talkdesk-")
    os.chmod(scratch, 0o755)
    portwarden = None
    session = []
    desktop = None
    try:
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        # An empty /run: logind's state is the test's own.
        subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=0755", "tmpfs", "/run"], check=True)
        os.makedirs("/run/systemd/seats")
        os.makedirs("/run/systemd/sessions")
        home = make_user(scratch)
        xdg = os.path.join(scratch, "xdg-run")
        os.makedirs(xdg, mode=0o700)
        os.chown(xdg, UID, UID)
        out = os.path.join(scratch, "out")
        os.makedirs(out)
        os.chown(out, UID, UID)

        bindir = os.path.join(scratch, "bin")
        os.makedirs(bindir)
        for program in ("portwarden", "parleyd"):
            shutil.copy2(os.path.join(BIN, program), bindir)
        for name in os.listdir(BIN):
            if name.endswith(".so"):
                os.symlink(os.path.join(BIN, name), os.path.join(bindir, name))
        with open(os.path.join(bindir, "parley"), "w") as f:
            f.write('#!/bin/sh\n{ printf "%%s\\n" "$@"; echo "uid=$(id -u)"; echo "display=$DISPLAY"; } > %s/parley.args\n'
                    % out)
        os.chmod(os.path.join(bindir, "parley"), 0o755)
        with open(os.path.join(scratch, "hosts"), "w") as f:
            f.write("127.0.0.1 localhost\n")
        subprocess.run(["mount", "--bind", os.path.join(scratch, "hosts"), "/etc/hosts"], check=True)

        desktop = Desktop(scratch, home)
        check("the console user's X display runs", wait_until(desktop.ready, 15))
        # Processes of the user's sessions: one on the desktop, one without a display, one
        # whose display refuses it (another cookie).
        session_env = {"HOME": home, "USER": USER, "DISPLAY": DISPLAY, "XAUTHORITY": desktop.cookie,
                       "XDG_RUNTIME_DIR": xdg, "PATH": "/usr/bin:/bin"}
        bad_cookie = os.path.join(home, "wrong.Xauthority")
        subprocess.run(["xauth", "-q", "-f", bad_cookie, "add", DISPLAY, ".", secrets.token_hex(16)], check=True,
                       stderr=subprocess.DEVNULL)
        os.chown(bad_cookie, UID, UID)
        for env in (session_env, {"HOME": home, "USER": USER, "PATH": "/usr/bin:/bin"},
                    dict(session_env, XAUTHORITY=bad_cookie)):
            session.append(subprocess.Popen(["sleep", "600"], env=env, user=UID, group=UID, extra_groups=[]))
        seat("c1", session[0].pid, DISPLAY)

        machine_home = os.path.join(scratch, "qxhome")
        os.makedirs(os.path.join(machine_home, "drive_c", "WINDOWS"))
        srv = os.path.join(scratch, "srv")
        os.makedirs(srv)
        events = os.path.join(scratch, "events.txt")
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "QX_DISPLAY", "QX_CONSOLE_USER", "XAUTHORITY"):
            os.environ.pop(name, None)
        os.environ.update(QX_HOME=machine_home, QX_MACHINE_DIR=os.path.join(scratch, "machine"),
                          QX_RUNTIME_DIR=os.path.join(scratch, "run"), QX_EVENTLOG_FILE=events)
        subprocess.run([os.path.join(BIN, "pwtable"), "enable", "parleyd"], cwd=srv, check=True,
                       stdout=subprocess.DEVNULL)
        portwarden = start_portwarden(os.path.join(bindir, "portwarden"), srv, os.path.join(scratch, "pw.out"))
        listening = wait_until(lambda: ":518 " in subprocess.run(["ss", "-Hlnu"], capture_output=True,
                                                                 text=True).stdout, 10)
        check("portwarden listens on 518", listening)
        runtime = os.path.join(xdg, "qx")  # the dialog process's own runtime folder
        rings_on_the_desktop(desktop, runtime, out)
        cancel_refuses(runtime)
        delete_closes(desktop)
        flood_capped()
        no_desktop(events, session[1].pid)
        display_refused(events, session[2].pid)
    finally:
        status = finish(portwarden, os.path.join(scratch, "pw.out"), scratch, ("parleyd", "parley"))
        for pid in processes_named("parleyd"):
            end_process(pid, signal.SIGKILL)
        for p in session + ([desktop.server] if desktop else []):
            p.kill()
            p.wait(5)
    return status


if __name__ == "__main__":
    sys.exit(main())
