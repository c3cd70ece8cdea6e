#!/usr/bin/python3
"""Set-Up, user-defined keys and the hot keys in the window, through a real
telnet session.

Debian's inetutils-telnetd (started by socat in a network namespace of the
test's own) runs a host program that draws a screen, defines a user key with
DECUDK and records what the terminal sends. Through automation, as a person
would: F5 shows Set-Up over the host's screen, Enter opens Display Set-Up, F5
again gives the host's screen back unchanged (read with Edit > Select All and
Edit > Copy), and Shift+F6 sends the user key's string to the host. Set-Up's
Print File takes a file; Alt+P prints the screen into it, Alt+L logs the
host's lines into it until Alt+L again; Alt+D starts DOSPRMPT.PIF; Alt+N
starts another terminal with the same arguments. A window whose session
ended (connection refused) still shows Set-Up on F5.

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
            + %(vttest_udk)r +                     # vttest's labels for every user key
            b"\x1bP1;1|17/68690D\x1b\\"          # Shift+F6 sends "hi" CR
            b"\x1bP1;0|24/4C4F434B4544\x1b\\"    # Shift+F12 sends "LOCKED", then the keys lock
            b"\x1bP1;1|17/4E4F\x1b\\"            # refused: Shift+F6 keeps "hi" CR
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
    if b"p" in data:
        os.write(1, b"\r\nlogged line one\r\nlogged line two\r\n")
"""
# What vttest 2.7 sends for its user-defined keys test (menu 11.1.7): every
# key's label as its string, keys left unlocked.
VTTEST_UDK = b"".join(b"\x1bP1;1|%d/%s\x1b\\" % (key, b"".join(b"%02X" % c for c in b"F%d" % label))
                      for key, label in [(11, 1), (12, 2), (13, 3), (14, 4), (15, 5), (17, 6), (18, 7), (19, 8),
                                         (20, 9), (21, 10), (23, 11), (24, 12), (25, 13), (26, 14), (28, 15),
                                         (29, 16), (31, 17), (32, 18), (33, 19), (34, 20)])
PUSH_TO_DOS = """#!/bin/sh
echo started > %(work)s/dos-started
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
    def __init__(self, bin_dir, work, env, args=("/once", "127.0.0.1"), err="vt-err", window_class="QX220"):
        self.bin, self.env = bin_dir, env
        self.proc = subprocess.Popen([os.path.join(bin_dir, "vtconsole")] + list(args), cwd=work, env=env,
                                     stdout=subprocess.DEVNULL, stderr=open(os.path.join(work, err), "w"))
        self.hwnd = None

        def found():
            r = self.auto("find", window_class, "-", check=False)
            if r.startswith("ok "):
                self.hwnd = r.split()[1]
            return self.hwnd is not None

        if not wait_for(15, found):
            fail("no %s window through automation" % window_class)

    def auto(self, *args, check=True):
        r = subprocess.run([os.path.join(self.bin, "qxauto"), "-p", str(self.proc.pid)] + list(args), env=self.env,
                           capture_output=True, timeout=20)
        text = r.stdout.decode("latin-1").strip()
        if check and r.returncode != 0:
            fail("qxauto %s: %s %s" % (" ".join(args), text, r.stderr.decode("latin-1").strip()))
        return text

    def press(self, scan, shift=False, alt=False):
        held = (["42"] if shift else []) + (["56"] if alt else [])
        for key in held:
            self.auto("key", self.hwnd, key, "0", "down")
        self.auto("key", self.hwnd, str(scan), "0", "down")
        self.auto("key", self.hwnd, str(scan), "0", "up")
        for key in reversed(held):
            self.auto("key", self.hwnd, key, "0", "up")

    def screen(self, rows=ROWS):
        """The window's rows, copied as a person would copy them; a key then ends the selection."""
        time.sleep(0.2)  # the window draws at most every 40 ms
        self.auto("menu", self.hwnd, "102")  # Edit > Select All
        self.auto("menu", self.hwnd, "100")  # Edit > Copy
        r = subprocess.run([os.path.join(self.bin, "terminal_clip_text")], env=self.env, capture_output=True,
                           timeout=20)
        if r.returncode != 0:
            fail("reading the clipboard: " + r.stderr.decode("latin-1"))
        self.auto("type", self.hwnd, "x")  # dropped with the selection
        lines = r.stdout.split(b"\r\n")
        return [row.rstrip(b" ") for row in lines[:rows]] + [b""] * max(0, rows - len(lines[:rows]))

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
        f.write(HOST % {"work": work, "vttest_udk": VTTEST_UDK})
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
            # vttest's own labels, the key defined before the lock, and no
            # redefinition once locked (Shift+F6 above still sent "hi").
            for scan, shift, alt, want in [(65, True, False, b"F7"), (88, True, False, b"LOCKED"),
                                           (65, False, True, b"F17")]:
                window.press(scan, shift=shift, alt=alt)
                if not wait_for(10, lambda: read(got).endswith(want)):
                    fail("user key %s did not send %r; the host got %r" % (scan, want, read(got)))
            print("Set-Up shown and left, host screen kept, user keys sent, locked keys kept")
            run_hot_keys(window, work)
        finally:
            window.close()
            for pid in other_terminals(window.proc.pid):
                os.kill(pid, signal.SIGKILL)
    finally:
        socat.terminate()
        socat.wait()
    run_offline_setup(bin_dir, work, env)


def read(path):
    return open(path, "rb").read() if os.path.exists(path) else b""


def other_terminals(own_pid):
    """vtconsole processes of this test's namespace other than the first window."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == own_pid:
            continue
        try:
            if os.path.basename(os.readlink("/proc/%s/exe" % entry)) == "vtconsole":
                if os.readlink("/proc/%s/ns/net" % entry) == os.readlink("/proc/self/ns/net"):
                    found.append(int(entry))
        except OSError:
            pass
    return found


def run_hot_keys(window, work):
    # Printer Set-up (Directory: Display, General, Printer), down to the row of
    # Print File, right onto it, Enter: the file name, Enter, F5 back.
    window.press(63)
    for scan in (77, 77, 28, 80, 80, 77, 28):
        window.press(scan)
    window.auto("type", window.hwnd, "log.txt")
    window.press(28)
    window.press(63)
    log = os.path.join(work, "log.txt")
    window.press(25, alt=True)  # Alt+P: Print-Screen
    if not wait_for(10, lambda: b"in the middle" in read(log) and b"last row" in read(log)):
        fail("Alt+P did not print the screen into Set-Up's print file; it holds %r" % read(log))
    printed = read(log)
    window.press(38, alt=True)  # Alt+L: logging on
    window.auto("type", window.hwnd, "p")  # the host prints two lines
    if not wait_for(10, lambda: b"logged line two" in read(log)):
        fail("with logging on, the host's lines did not reach the print file; it holds %r (the host got %r)" %
             (read(log), read(os.path.join(work, "got"))))
    window.press(38, alt=True)  # Alt+L: logging off
    logged = read(log)
    window.auto("type", window.hwnd, "p")
    if not wait_for(10, lambda: read(os.path.join(work, "got")).count(b"p") >= 2):
        fail("the host did not get the second p")
    time.sleep(0.5)
    if read(log) != logged:
        fail("with logging off, lines still reached the print file: %r" % read(log)[len(logged):])
    print("Print-Screen and Toggle Logging write the print file (%d and %d bytes)" % (len(printed),
                                                                                      len(logged) - len(printed)))

    with open(os.path.join(work, "DOSPRMPT.PIF"), "w") as f:
        f.write(PUSH_TO_DOS % {"work": work})
    os.chmod(os.path.join(work, "DOSPRMPT.PIF"), 0o755)
    window.press(32, alt=True)  # Alt+D: Push to DOS
    if not wait_for(10, lambda: os.path.exists(os.path.join(work, "dos-started"))):
        fail("Alt+D did not start DOSPRMPT.PIF")

    window.press(49, alt=True)  # Alt+N: another terminal with the same arguments
    if not wait_for(15, lambda: other_terminals(window.proc.pid)):
        fail("Alt+N did not start another vtconsole")
    print("Push to DOS and Start New Session start their programs")


def run_offline_setup(bin_dir, work, env):
    """A window whose connection was refused stays without a session; F5 still
    shows Set-Up and gives the screen back."""
    window = Window(bin_dir, work, env, args=("127.0.0.1", "/p=24"), err="offline-err")
    try:
        # Without a display message boxes go to standard error and answer at once.
        if not wait_for(15, lambda: b"Connection refused" in read(os.path.join(work, "offline-err"))):
            fail("no message for the refused connection")
        before = window.screen()
        window.press(63)
        setup = window.screen()
        if setup[15] != b"Set-Up Directory":
            fail("without a session F5 did not show Set-Up:\n  " + "\n  ".join(repr(r) for r in setup))
        window.press(63)
        if window.screen() != before:
            fail("leaving Set-Up without a session did not give the screen back")
        print("Set-Up works without a session")
    finally:
        window.close()


def main():
    if len(sys.argv) < 2:
        fail("usage: window_setup.py BIN_DIR")
    bin_dir = sys.argv[1]
    require(["socat", "/usr/sbin/telnetd", "unshare", "ip"])
    run_in_namespace(lambda work, env: run(bin_dir, work, env), 170)
    print("PASS: Set-Up, user keys and hot keys in the window")


def require(tools):
    """Fails unless every tool is installed and the script runs as root (it
    makes a network namespace)."""
    for tool in tools:
        if not shutil.which(tool):
            fail(tool + " is missing; install the packages of .ci/packages.d/ (bash scripts/setup.sh)")
    if os.geteuid() != 0:
        fail("this test makes a network namespace: run it as root")


def run_in_namespace(run, seconds, on_x_display=False):
    """Runs this script again inside a network namespace of its own (loopback
    up, at most seconds long), then run(work, env) with a scratch folder that
    holds the layer's home, runtime and machine folders. With on_x_display the
    script runs under a virtual X server and the programs draw through SDL2 on
    it."""
    if os.environ.get("IN_NAMESPACE") != "1":
        env = dict(os.environ, IN_NAMESPACE="1")
        x_server = ["xvfb-run", "-a", "-s", "-screen 0 1920x1200x24"] if on_x_display else []
        os.execvpe("timeout", ["timeout", "-k", "5", str(seconds), "unshare", "-n"] + x_server + [sys.executable] +
                   sys.argv, env)
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    work = tempfile.mkdtemp()
    try:
        env = dict(os.environ, QX_HOME=work + "/home", QX_RUNTIME_DIR=work + "/run", QX_MACHINE_DIR=work + "/machine")
        if on_x_display:
            env.update(QX_DISPLAY="sdl", SDL_VIDEODRIVER="x11")
        for d in ("home", "run", "machine"):
            os.makedirs(os.path.join(work, d), mode=0o700)
        run(work, env)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
