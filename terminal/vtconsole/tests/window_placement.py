#!/usr/bin/python3
"""The window keeps every row when 132 columns come into a window 80 wide, on a
first start and after a stored 132-column placement.

Debian's inetutils-telnetd (started by socat per connection, in a network
namespace of the test's own) runs a host that switches the terminal to 132
columns (DECCOLM) when a key arrives. Sizes are read from the window's picture
through automation. On a first start the window shows 80 columns and all 25
rows; after the switch it is as tall plus the horizontal scroll bar. Windows >
Fonts then sizes it to the whole 132-column screen, File > Exit stores that
placement, and the next start comes back 80 wide with all 25 rows and no
scroll bar, and takes the switch the same way.

    window_placement.py BIN_DIR      (as root)
"""
import os
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from window_setup import Window, fail, require, run_in_namespace  # noqa: E402
from window_softfont import settled_picture  # noqa: E402

SCROLL_BAR = 16  # the layer's scroll bar thickness, in pixels
DEFAULT_FACE_MENU = "114"  # Windows > Fonts, the face the window starts in

HOST = r"""#!/usr/bin/python3
import os, time, tty
tty.setraw(0)
os.write(1, b"\x1b[24;1Hlast row")
os.read(0, 16)
os.write(1, b"\x1b[?3h\x1b[24;1H132 columns")
time.sleep(60)
"""


def picture_size(window, work):
    path = os.path.join(work, "window.png")
    settled_picture(window, path)
    with open(path, "rb") as f:
        return struct.unpack(">II", f.read(24)[16:24])


def start_and_switch(bin_dir, work, env, what):
    """(size before, size after the host's switch to 132 columns) of a new window."""
    window = Window(bin_dir, work, env)
    before = picture_size(window, work)
    window.auto("type", window.hwnd, "x")
    after = picture_size(window, work)
    if after != (before[0], before[1] + SCROLL_BAR):
        window.close()
        fail("%s: the window was %dx%d at 80 columns and %dx%d at 132; it should keep its rows and add the %d-pixel "
             "scroll bar (%dx%d)" % (what, before[0], before[1], after[0], after[1], SCROLL_BAR, before[0],
                                     before[1] + SCROLL_BAR))
    return window, before


def run(bin_dir, work, env):
    host = os.path.join(work, "host")
    with open(host, "w") as f:
        f.write(HOST)
    os.chmod(host, 0o755)
    telnetd = subprocess.Popen(["socat", "TCP-LISTEN:23,bind=127.0.0.1,reuseaddr,fork",
                                "EXEC:/usr/sbin/telnetd -h -E " + host + ",nofork"])
    window = None
    try:
        window, first = start_and_switch(bin_dir, work, env, "first start")
        window.auto("menu", window.hwnd, DEFAULT_FACE_MENU)  # the whole 132-column screen
        wide = picture_size(window, work)
        if wide[0] <= first[0] or wide[1] != first[1]:
            fail("Windows > Fonts at 132 columns gave %dx%d, not wider than %dx%d and as tall" % (wide + first))
        window.auto("menu", window.hwnd, "1")  # File > Exit stores the placement
        window.proc.wait(timeout=10)
        window, again = start_and_switch(bin_dir, work, env, "after a stored 132-column placement")
        if again != first:
            fail("after a stored 132-column placement the window came back %dx%d, not %dx%d (80 columns, all rows)" %
                 (again + first))
    finally:
        if window:
            window.close()
        telnetd.terminate()
        telnetd.wait(timeout=10)


def main():
    if len(sys.argv) < 2:
        fail("usage: window_placement.py BIN_DIR")
    bin_dir = sys.argv[1]
    require(["socat", "/usr/sbin/telnetd", "unshare", "ip"])
    run_in_namespace(lambda work, env: run(bin_dir, work, env), 80)
    print("PASS: the window keeps its rows at 132 columns and after a stored placement")


if __name__ == "__main__":
    main()
