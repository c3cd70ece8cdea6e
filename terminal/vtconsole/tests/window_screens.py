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

    window_screens.py BIN_DIR CORPUS_DIR [NAME ...]      (as root)
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

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
        r = subprocess.run([os.path.join(self.bin, "terminal_clip_text")], env=self.env, capture_output=True,
                           timeout=20)
        if r.returncode != 0:
            fail("reading the clipboard: " + r.stderr.decode("latin-1"))
        rows = r.stdout.split(b"\r\n")
        return [row.rstrip(b" ") for row in rows[:ROWS]] + [b""] * max(0, ROWS - len(rows[:ROWS]))

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


def main():
    if len(sys.argv) < 3:
        fail("usage: window_screens.py BIN_DIR CORPUS_DIR [NAME ...]")
    bin_dir, corpus = sys.argv[1], sys.argv[2]
    names = sys.argv[3:] or NAMES
    for tool in ["socat", "/usr/sbin/telnetd", "unshare", "ip"]:
        if not shutil.which(tool):
            fail(tool + " is missing; install the packages of .ci/packages.d/terminal.txt (bash scripts/setup.sh)")
    if os.geteuid() != 0:
        fail("this test makes a network namespace and runs telnetd: run it as root")
    if os.environ.get("IN_NAMESPACE") != "1":
        env = dict(os.environ, IN_NAMESPACE="1")
        os.execvpe("timeout", ["timeout", "-k", "5", "280", "unshare", "-n", sys.executable] + sys.argv, env)
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    work = tempfile.mkdtemp()
    try:
        env = dict(os.environ, QX_HOME=work + "/home", QX_RUNTIME_DIR=work + "/run", QX_MACHINE_DIR=work + "/machine")
        for d in ("home", "run", "machine"):
            os.makedirs(os.path.join(work, d), mode=0o700)
        dump = os.path.join(bin_dir, "terminal_screen_dump")
        for name in names:
            run_recording(bin_dir, corpus, work, env, name, core_screens(dump, corpus, name))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("PASS: vttest screens in the window")


if __name__ == "__main__":
    main()
