#!/usr/bin/env python3
"""The second user of the talk tests: a terminal where the talk daemon rings
(a pseudo-terminal with a utmp entry for USER), then Debian's talk answering
from another pseudo-terminal, its screen kept by pyte.

usage: talk_peer.py UTMP_FILE USER CALLER@HOST

Prints, one a line: "ready pts/N" (the utmp file is written: mount it over
/run/utmp), "rung" (the daemon's announcement reached the terminal),
"connected" (talk shows the connection), "typed" (its text is sent: plain,
with an erase, with a kill), then, once "from parley" shows on talk's screen,
"screen:" lines and "done". Exits when talk ends or after 90 s.
"""
import os
import pty
import select
import struct
import sys
import time

import pyte

DEADLINE = time.time() + 90


def say(line):
    print(line, flush=True)


def write_utmp(path, user, line, pid):
    # struct utmp of glibc on x86-64: 384 bytes.
    now = int(time.time())
    record = struct.pack("<h2xi32s4s32s256shhiii4i20s", 7, pid, line.encode(), line[-4:].encode(), user.encode(),
                         b"localhost", 0, 0, 0, now, 0, 0, 0, 0, 0, b"")
    assert len(record) == 384
    with open(path, "wb") as f:
        f.write(record)


def read_until(fd, want, seconds, sink=None):
    end = min(time.time() + seconds, DEADLINE)
    seen = b""
    while time.time() < end:
        r, _, _ = select.select([fd], [], [], 0.2)
        if not r:
            continue
        try:
            data = os.read(fd, 4096)
        except OSError:
            return False
        if not data:
            return False
        if sink:
            sink(data)
        seen += data
        if want(seen):
            return True
    return False


def main():
    utmp, user, caller = sys.argv[1:4]
    ring_master, ring_slave = pty.openpty()
    ring_name = os.ttyname(ring_slave)
    os.chmod(ring_name, 0o620)  # messages allowed
    write_utmp(utmp, user, ring_name[len("/dev/"):], os.getpid())
    say("ready " + ring_name)
    if not read_until(ring_master, lambda s: b"connection requested by" in s, 40):
        say("no ring")
        return 1
    say("rung")

    screen = pyte.Screen(80, 24)
    stream = pyte.ByteStream(screen)
    pid, talk = pty.fork()
    if pid == 0:
        os.environ["TERM"] = "vt100"
        os.environ["LINES"], os.environ["COLUMNS"] = "24", "80"
        os.execv("/usr/bin/talk", ["talk", caller])
    text = lambda: "\n".join(screen.display)
    if not read_until(talk, lambda s: "Connection established" in text(), 30, stream.feed):
        say("no connection: " + text().replace("\n", "|"))
        return 1
    say("connected")
    time.sleep(0.5)
    # Plain text, a line with the erase character (DEL, the terminal's), a
    # line with the kill character (^U).
    for chunk in [b"hello from talk\r", b"abx\x7fc\r", b"wrong\x15right\r"]:
        for byte in chunk:
            os.write(talk, bytes([byte]))
            time.sleep(0.02)
    say("typed")
    read_until(talk, lambda s: "from parley" in text() and "kept" in text(), 60, stream.feed)
    read_until(talk, lambda s: False, 1, stream.feed)  # what is still on its way
    for row in screen.display:
        say("screen:" + row.rstrip())
    say("done")
    # talk ends when parley closes the connection.
    read_until(talk, lambda s: False, max(0, DEADLINE - time.time()), stream.feed)
    try:
        os.kill(pid, 9)
    except OSError:
        pass
    os.waitpid(pid, 0)
    return 0


if __name__ == "__main__":
    sys.exit(main())
