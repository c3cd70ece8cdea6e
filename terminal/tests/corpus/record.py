#!/usr/bin/python3
"""Records what a program writes to a 24x80 VT220 terminal while scripted keys
are typed into it, for the terminal's differential check. Writes NAME.bin (the
bytes) and NAME.marks (the offsets where the program was waiting for a key).

    record.py NAME 'key1' 'key2' ... -- program args...

Keys use Python escapes ("\\r" is Return). A device-attributes query is
answered as this terminal answers it (VT220); other queries are not, so
record only screens that need no other reply."""
import fcntl, os, pty, select, struct, sys, termios, time


def drain(fd, quiet=0.4, limit=10.0):
    out = b""
    end = time.time() + limit
    while time.time() < end:
        ready, _, _ = select.select([fd], [], [], quiet)
        if not ready:
            break
        try:
            chunk = os.read(fd, 65536)
        except OSError:
            break
        if not chunk:
            break
        out += chunk
    return out


DA_REPLY = b"\x1b[?62;1;2;6;7;8;9c"


def drain_answering(fd):
    out = drain(fd)
    while out.endswith(b"\x1b[0c") or out.endswith(b"\x1b[c"):
        os.write(fd, DA_REPLY)
        out += drain(fd)
    return out


def main():
    name = sys.argv[1]
    split = sys.argv.index("--")
    keys = [k.encode().decode("unicode_escape").encode("latin-1") for k in sys.argv[2:split]]
    argv = sys.argv[split + 1:]
    pid, fd = pty.fork()
    if pid == 0:
        os.environ.update(TERM="vt220", LANG="C", LC_ALL="C", COLUMNS="80", LINES="24", PS1="$ ")
        os.execvp(argv[0], argv)
    fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
    data, marks = drain_answering(fd), []
    for key in keys:
        marks.append(len(data))
        os.write(fd, key)
        data += drain_answering(fd)
    marks.append(len(data))
    try:
        os.kill(pid, 9)
    except ProcessLookupError:
        pass
    os.waitpid(pid, 0)
    with open(name + ".bin", "wb") as f:
        f.write(data)
    with open(name + ".marks", "w") as f:
        f.write("".join("%d\n" % m for m in marks))


main()
