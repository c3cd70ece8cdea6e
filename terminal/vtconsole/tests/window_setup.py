#!/usr/bin/python3
"""Set-Up and user-defined keys in the window, through a real telnet session.

Debian's inetutils-telnetd (started by socat in a network namespace of the
test's own) runs a host program that draws a screen, defines a user key with
DECUDK and records what the terminal sends. Through automation, as a person
would: F5 shows Set-Up over the host's screen, Enter opens Display Set-Up, F5
again gives the host's screen back unchanged (read with Edit > Select All and
Edit > Copy), and Shift+F6 sends the user key's string to the host.

    window_setup.py BIN_DIR      (as root)
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ROWS = 24

HOST = r"""#!/usr/bin/python3
import os, termios, tty
tty.setraw(0)
os.write(1, b"\x1b[2J\x1b[H\x1b#6Wide line\r\n\x1b[7mreverse\x1b[0m and plain\r\n"
            b"\x1b[10;30Hin the middle\x1b[24;70Hlast row"
            b"\x1bP1;1|17/68690D\x1b\\"          # Shift+F6 sends "hi" CR
            b"\x1b[12;5H")
termios.tcdrain(1)
open(%(work)r + "/ready", "w").write("1")
got = b""
while True:
    data = os.read(0, 64)
    if not data:
        break
    got += data
    open(%(work)r + "/got", "wb").write(got)
"""


def fail(text):
    print("FAIL: " + text, file=sys.stderr)
    sys.exit(1)


def wait_for(seconds, check):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if check():
            return True
        time.sleep(0.05)
    return False


class Window:
    def __init__(self, bin_dir, work, env):
        self.bin, self.env = bin_dir, env
        self.proc = subprocess.Popen([os.path.join(bin_dir, "vtconsole"), "/once", "127.0.0.1"], cwd=work, env=env,
                                     stdout=subprocess.DEVNULL, stderr=open(os.path.join(work, "vt-err"), "w"))
        self.hwnd = None

        def found():
            r = self.auto("find", "QX220", "-", check=False)
            if r.startswith("ok "):
                self.hwnd = r.split()[1]
            return self.hwnd is not None

        if not wait_for(15, found):
            fail("no QX220 window through automation")

    def auto(self, *args, check=True):
        r = subprocess.run([os.path.join(self.bin, "qxauto"), "-p", str(self.proc.pid)] + list(args), env=self.env,
                           capture_output=True, timeout=20)
        text = r.stdout.decode("latin-1").strip()
        if check and r.returncode != 0:
            fail("qxauto %s: %s %s" % (" ".join(args), text, r.stderr.decode("latin-1").strip()))
        return text

    def press(self, scan, shift=False):
        if shift:
            self.auto("key", self.hwnd, "42", "0", "down")
        self.auto("key", self.hwnd, str(scan), "0", "down")
        self.auto("key", self.hwnd, str(scan), "0", "up")
        if shift:
            self.auto("key", self.hwnd, "42", "0", "up")

    def screen(self):
        """The window's rows, copied as a person would copy them; a key then ends the selection."""
        time.sleep(0.2)  # the window draws at most every 40 ms
        self.auto("menu", self.hwnd, "102")  # Edit > Select All
        self.auto("menu", self.hwnd, "100")  # Edit > Copy
        r = subprocess.run([os.path.join(self.bin, "terminal_clip_text")], env=self.env, capture_output=True,
                           timeout=20)
        if r.returncode != 0:
            fail("reading the clipboard: " + r.stderr.decode("latin-1"))
        self.auto("type", self.hwnd, "x")  # dropped with the selection
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


def run(bin_dir, work, env):
    host = os.path.join(work, "host")
    with open(host, "w") as f:
        f.write(HOST % {"work": work})
    os.chmod(host, 0o755)
    socat = subprocess.Popen(["socat", "TCP-LISTEN:23,bind=127.0.0.1,reuseaddr",
                              "EXEC:/usr/sbin/telnetd -h -E " + host + ",nofork"])
    try:
        time.sleep(0.3)
        window = Window(bin_dir, work, env)
        try:
            if not wait_for(15, lambda: os.path.exists(os.path.join(work, "ready"))):
                fail("the host program never ran")
            before = window.screen()
            if b"in the middle" not in before[9]:
                fail("the host's screen is not in the window: %r" % before[:12])
            window.press(63)  # F5: Set-Up
            setup = window.screen()
            if setup[15] != b"Set-Up Directory" or b"Exit Emulator" not in setup[5]:
                fail("F5 did not show Set-Up:\n  " + "\n  ".join(repr(r) for r in setup))
            window.press(28)  # Enter on Display
            if window.screen()[15] != b"Display Set-Up":
                fail("Enter on Display did not open Display Set-Up")
            window.press(63)  # F5: back to the host
            after = window.screen()
            if after != before:
                diff = ["row %d: before %r, after %r" % (r, before[r], after[r]) for r in range(ROWS) if before[r] != after[r]]
                fail("leaving Set-Up did not give the host's screen back:\n  " + "\n  ".join(diff[:6]))
            window.press(64, shift=True)  # Shift+F6: the user key
            got = os.path.join(work, "got")
            if not wait_for(10, lambda: os.path.exists(got) and b"hi\r" in open(got, "rb").read()):
                fail("Shift+F6 did not send the user key's string; the host got %r" %
                     (open(got, "rb").read() if os.path.exists(got) else b""))
            print("Set-Up shown and left, host screen kept, user key sent")
        finally:
            window.close()
    finally:
        socat.terminate()
        socat.wait()


def main():
    if len(sys.argv) < 2:
        fail("usage: window_setup.py BIN_DIR")
    bin_dir = sys.argv[1]
    for tool in ["socat", "/usr/sbin/telnetd", "unshare", "ip"]:
        if not shutil.which(tool):
            fail(tool + " is missing; install the packages of .ci/packages.d/terminal.txt (bash scripts/setup.sh)")
    if os.geteuid() != 0:
        fail("this test makes a network namespace and runs telnetd: run it as root")
    if os.environ.get("IN_NAMESPACE") != "1":
        env = dict(os.environ, IN_NAMESPACE="1")
        os.execvpe("timeout", ["timeout", "-k", "5", "110", "unshare", "-n", sys.executable] + sys.argv, env)
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    work = tempfile.mkdtemp()
    try:
        env = dict(os.environ, QX_HOME=work + "/home", QX_RUNTIME_DIR=work + "/run", QX_MACHINE_DIR=work + "/machine")
        for d in ("home", "run", "machine"):
            os.makedirs(os.path.join(work, d), mode=0o700)
        run(bin_dir, work, env)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("PASS: Set-Up and user keys in the window")


if __name__ == "__main__":
    main()
