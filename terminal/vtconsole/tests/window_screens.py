#!/usr/bin/python3
"""vttest's screens through a real telnet session into the window.

Debian's inetutils-telnetd (started per connection by socat, in a network
namespace of the test's own) runs a player that sends a vttest recording of
the terminal core's corpus to vtconsole, stopping at each point where vttest
waited for a key. At each stop the window's screen is read back the way a
person would take it, Edit > Select All and Edit > Copy through automation,
and compared with the core's own screen for the same bytes (the core's screens
are compared with pyte's by terminal_diff_pyte, with every difference
explained). The player goes on when a key typed into the window arrives.

Then (when no recording is named) the mouse: a host prints 230 numbered lines;
a drag over two rows copies exactly their text, the right button pastes it
back to the host, and a drag at the top of the scroll-back copies the oldest
of the 200 lines it keeps.

    window_screens.py BIN_DIR CORPUS_DIR [NAME ...]      (as root)
"""
import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from window_setup import require, run_in_namespace  # noqa: E402

# Each screen is read back through automation and the clipboard (about a
# second a screen): by default two recordings, the others on request.
NAMES = ["vttest-cursor", "vttest-charsets"]
ROWS = 24

PLAYER = r"""#!/usr/bin/python3
import os, sys, termios, tty
data = open(%(bin)r, "rb").read()
marks = [int(x) for x in open(%(marks)r).read().split()]
tty.setraw(0)
os.write(1, b"\x1b[?7h")  # autowrap on, as a VT220 set up for vttest is
start = 0
for i, mark in enumerate(marks):
    os.write(1, data[start:mark])
    termios.tcdrain(1)
    start = mark
    open(%(work)r + "/at-mark", "w").write(str(i))
    while b" " not in os.read(0, 64):  # replies to the recording's queries are not the key
        pass
"""


def fail(text):
    print("FAIL: " + text, file=sys.stderr)
    sys.exit(1)


# A copy gives the DEC graphics that have glyphs of their own as their nearest
# code-page character (the terminal's plain form of a cell).
PLAIN_FORM = bytes.maketrans(bytes([0x02, 0x03, 0x05, 0x06, 0x07, 0x08, 0x0B, 0x0C, 0x0E, 0x10, 0x11]),
                             bytes([0x1A, 0x9F, 0x1B, 0x19, 0xFC, 0x12, 0xC4, 0xC4, 0xC4, 0xC4, 0xF7]))


def core_screens(dump, corpus, name):
    """The core's 24 rows at each mark, as the bytes a copy gives (0 as blank, trailing blanks cut)."""
    out = subprocess.run([dump, os.path.join(corpus, name + ".bin"), os.path.join(corpus, name + ".marks"),
                          "autowrap"], check=True, capture_output=True).stdout.decode("ascii").splitlines()
    screens, i = [], 0
    while i < len(out):
        rows = []
        for line in out[i + 3:i + 3 + ROWS]:
            cells = bytes.fromhex(line.split(" ", 1)[1])
            rows.append(cells.replace(b"\0", b" ").translate(PLAIN_FORM).rstrip(b" "))
        screens.append(rows)
        i += 3 + ROWS
    return screens


class Session:
    def __init__(self, bin_dir, work, env):
        self.bin, self.work, self.env = bin_dir, work, env
        self.proc = subprocess.Popen([os.path.join(bin_dir, "vtconsole"), "/once", "127.0.0.1"], cwd=work, env=env,
                                     stdout=subprocess.DEVNULL, stderr=open(os.path.join(work, "vt-err"), "w"))
        self.hwnd = None
        deadline = time.time() + 15
        while time.time() < deadline and not self.hwnd:
            r = self.auto("find", "QX220", "-", check=False)
            if r.startswith("ok "):
                self.hwnd = r.split()[1]
            else:
                time.sleep(0.1)
        if not self.hwnd:
            fail("no QX220 window through automation")

    def auto(self, *args, check=True):
        r = subprocess.run([os.path.join(self.bin, "qxauto"), "-p", str(self.proc.pid)] + list(args), env=self.env,
                           capture_output=True, timeout=20)
        text = r.stdout.decode("latin-1").strip()
        if check and r.returncode != 0:
            fail("qxauto %s: %s %s" % (" ".join(args), text, r.stderr.decode("latin-1").strip()))
        return text

    def screen(self):
        """The window's rows, copied as a person would copy them."""
        self.auto("menu", self.hwnd, "102")  # Edit > Select All
        self.auto("menu", self.hwnd, "100")  # Edit > Copy
        rows = self.clipboard().split(b"\r\n")
        return [row.rstrip(b" ") for row in rows[:ROWS]] + [b""] * max(0, ROWS - len(rows[:ROWS]))

    def clipboard(self):
        r = subprocess.run([os.path.join(self.bin, "terminal_clip_text")], env=self.env, capture_output=True,
                           timeout=20)
        if r.returncode != 0:
            fail("reading the clipboard: " + r.stderr.decode("latin-1"))
        return r.stdout

    def close(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def run_recording(bin_dir, corpus, work, env, name, expected):
    player = os.path.join(work, "player-" + name)
    with open(player, "w") as f:
        f.write(PLAYER % {"bin": os.path.join(corpus, name + ".bin"), "marks": os.path.join(corpus, name + ".marks"),
                          "work": work})
    os.chmod(player, 0o755)
    at_mark = os.path.join(work, "at-mark")
    if os.path.exists(at_mark):
        os.remove(at_mark)
    socat = subprocess.Popen(["socat", "TCP-LISTEN:23,bind=127.0.0.1,reuseaddr",
                              "EXEC:/usr/sbin/telnetd -h -E " + player + ",nofork"])
    try:
        time.sleep(0.3)
        session = Session(bin_dir, work, env)
        try:
            for index, rows in enumerate(expected):
                deadline = time.time() + 15
                while time.time() < deadline:
                    if os.path.exists(at_mark) and open(at_mark).read() == str(index):
                        break
                    time.sleep(0.05)
                else:
                    fail("%s: the player never reached mark %d" % (name, index))
                got = None
                time.sleep(0.3)  # the window draws at most every 40 ms, and the session is busy
                deadline = time.time() + 10
                while time.time() < deadline:
                    got = session.screen()
                    if got == rows:
                        break
                    session.auto("type", session.hwnd, "x")  # end the selection: the screen goes on
                    time.sleep(0.2)
                if got != rows:
                    diff = ["row %d: window %r, core %r" % (r, got[r], rows[r]) for r in range(ROWS) if got[r] != rows[r]]
                    fail("%s mark %d: the window differs from the core:\n  %s" % (name, index, "\n  ".join(diff[:6])))
                # A key ends the selection (and is dropped with it); the space then
                # reaches the player, which ignores anything else.
                session.auto("type", session.hwnd, "x")
                session.auto("type", session.hwnd, " ")
            print("%s: %d screens equal" % (name, len(expected)))
        finally:
            session.close()
    finally:
        socat.terminate()
        socat.wait()


# The host of the selection check: at the first key 230 numbered lines and
# "END"; it keeps what is pasted, and at a "G" prints the lines again (to fill
# the 200-line history once it is on).
SELECTION_HOST = r"""#!/usr/bin/python3
import os, time, tty
tty.setraw(0)
os.write(1, b"READY")
os.read(0, 1)
lines = b"".join(b"row %%03d\r\n" %% i for i in range(1, 231))
os.write(1, lines + b"END")
got = b""
deadline = time.time() + 60
while time.time() < deadline:
    chunk = os.read(0, 256)
    if not chunk:
        break
    if b"G" in chunk:
        os.write(1, b"\r\n" + lines + b"END2")
        continue
    got += chunk
    with open(%(pasted)r, "wb") as f:
        f.write(got)
"""
CELL_W, CELL_H = 8, 14  # the default face, DEC-8x14


def cell_point(row, col):
    """Client coordinates of the middle of a cell of the window."""
    return [str(col * CELL_W + CELL_W // 2), str(row * CELL_H + CELL_H // 2)]


def run_selection(bin_dir, work, env):
    """Mouse selection copied to the clipboard and pasted back to the host, and
    a selection in the scroll-back history."""
    host, pasted = os.path.join(work, "selection-host"), os.path.join(work, "pasted")
    with open(host, "w") as f:
        f.write(SELECTION_HOST % {"pasted": pasted})
    os.chmod(host, 0o755)
    socat = subprocess.Popen(["socat", "TCP-LISTEN:23,bind=127.0.0.1,reuseaddr",
                              "EXEC:/usr/sbin/telnetd -h -E " + host + ",nofork"])
    try:
        time.sleep(0.3)
        session = Session(bin_dir, work, env)
        try:
            deadline = time.time() + 15
            while time.time() < deadline and session.screen()[0] != b"READY":
                time.sleep(0.2)
            session.auto("click", session.hwnd, *cell_point(5, 5))  # a click ends Select All
            session.auto("type", session.hwnd, "g")
            deadline, rows = time.time() + 15, []
            while time.time() < deadline:
                rows = session.screen()
                if rows[ROWS - 1] == b"END":
                    break
                time.sleep(0.2)
            else:
                fail("selection: the host's 230 lines never reached the window; last row %r" % rows[ROWS - 1])
            session.auto("click", session.hwnd, *cell_point(5, 5))  # a click ends Select All

            # A drag from row 3, column 5 to row 4, column 3 copies the rest of
            # the first line and the start of the second.
            session.auto("drag", session.hwnd, *cell_point(2, 4), session.hwnd, *cell_point(3, 2))
            session.auto("menu", session.hwnd, "100")  # Edit > Copy
            want = rows[2][4:] + b"\r\n" + rows[3][:3] + b"\r\n"
            got = session.clipboard()
            if got != want:
                fail("selection: dragging over rows 3-4 copied %r, not %r" % (got, want))
            # The right button pastes the selection back to the host.
            session.auto("click", session.hwnd, *(cell_point(10, 10) + ["right"]))
            plain = lambda b: b.replace(b"\r", b"").replace(b"\n", b"").replace(b"\0", b"")
            deadline = time.time() + 10
            while time.time() < deadline:
                if os.path.exists(pasted) and plain(open(pasted, "rb").read()) == plain(want):
                    break
                time.sleep(0.1)
            else:
                seen = open(pasted, "rb").read() if os.path.exists(pasted) else b"nothing"
                fail("selection: the host got %r from the paste, not %r" % (seen, want))

            # With the history on, the host's lines again: the history holds the
            # last 200 of the 231 lines that left the screen, from row 008 on.
            session.auto("menu", session.hwnd, "109")  # Windows > Scroll Buffer
            session.auto("type", session.hwnd, "G")
            deadline = time.time() + 15
            while time.time() < deadline and session.screen()[ROWS - 1] != b"END2":
                time.sleep(0.2)
            session.auto("click", session.hwnd, *cell_point(5, 5))
            session.auto("scroll", session.hwnd, "v", "4", "0")  # SB_THUMBPOSITION to the top
            session.auto("drag", session.hwnd, *cell_point(0, 0), session.hwnd, *cell_point(1, 6))
            session.auto("menu", session.hwnd, "100")
            got = session.clipboard()
            if got != b"row 008\r\nrow 009\r\n":
                fail("selection: the top of the scroll-back copied %r, not rows 008 and 009" % got)
            print("selection: drag, copy, paste and scroll-back selection work")
        finally:
            session.close()
    finally:
        socat.terminate()
        socat.wait()


def main():
    if len(sys.argv) < 3:
        fail("usage: window_screens.py BIN_DIR CORPUS_DIR [NAME ...]")
    bin_dir, corpus = sys.argv[1], sys.argv[2]
    names = sys.argv[3:] or NAMES
    require(["socat", "/usr/sbin/telnetd", "unshare", "ip"])

    def run_all(work, env):
        dump = os.path.join(bin_dir, "terminal_screen_dump")
        for name in names:
            run_recording(bin_dir, corpus, work, env, name, core_screens(dump, corpus, name))
        if not sys.argv[3:]:
            # A home of its own: the recordings' windows (132 columns among
            # them) leave a placement behind that would size this window.
            os.makedirs(os.path.join(work, "home-selection"), mode=0o700)
            run_selection(bin_dir, work, dict(env, QX_HOME=work + "/home-selection"))

    run_in_namespace(run_all, 280)
    print("PASS: vttest screens in the window")


if __name__ == "__main__":
    main()
