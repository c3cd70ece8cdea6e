#!/usr/bin/python3
"""A down-line-loaded soft font sent by a host, shown in the window, against a
golden PNG picture.

Debian's inetutils-telnetd (started by socat in a network namespace of the
test's own) runs a host that plays what vttest 2.7 sent in its soft character
set test (menu 11.1.5, "vttest -f softfont.dld": the DECDLD string that loads
four glyphs into the set " @", then Examine for three of them, each glyph drawn
as text next to the soft character through G2 and SS2), then writes a line of
its own with all four glyphs locked into GL (LS2) among plain text. The window
is captured through automation and compared with
terminal/vtconsole/tests/golden/softfont.png as the face pictures are: equal
sizes, at most 1% of the pixels different by more than 48 in a channel, and
in the rows of the soft characters (drawn without smoothing) at most 16.
QX_UPDATE_GOLDEN=1 writes the picture instead.

The recording is data/vttest-decdld.bin (made with
terminal/tests/corpus/record.py; keys: 11 Return, 1 Return, 5 Return,
1 Return, Return, 2 Return, then ! " #). data/softfont.dld is our own font.

    window_softfont.py BIN_DIR GOLDEN_DIR        (as root)
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from window_faces import compare, fail  # noqa: E402
from window_setup import Window, require, run_in_namespace  # noqa: E402

# After vttest's bytes: the four glyphs locked into GL between plain text,
# then the cursor off so the picture holds still.
# Rows of the picture from "Render:" to the line of our own: the soft
# characters are drawn without smoothing, so they must match closely.
GLYPH_BAND = (276, 352)
MAX_GLYPH_BAND_DIFFERENT = 16
OWN_LINE = b"\x1b[22;1HIn a line: [\x1bn!\"#$\x0f] and back to ASCII\x1b[?25l"

PLAYER = r"""#!/usr/bin/python3
import os, time, tty
tty.setraw(0)
os.write(1, open(%(recording)r, "rb").read() + %(own)r)
time.sleep(120)
"""


def settled_picture(window, path):
    """The window's picture once two captures half a second apart agree."""
    last, deadline = None, time.time() + 15
    while time.time() < deadline:
        time.sleep(0.5)
        window.auto("png", window.hwnd, path)
        now = open(path, "rb").read()
        if now == last:
            return
        last = now
    fail("the window's picture did not settle within 15 s")


def run(bin_dir, golden, work, env):
    player = os.path.join(work, "player")
    with open(player, "w") as f:
        f.write(PLAYER % {"recording": os.path.join(HERE, "data", "vttest-decdld.bin"), "own": OWN_LINE})
    os.chmod(player, 0o755)
    telnetd = subprocess.Popen(["socat", "TCP-LISTEN:23,bind=127.0.0.1,reuseaddr",
                                "EXEC:/usr/sbin/telnetd -h -E " + player + ",nofork"])
    window = None
    try:
        time.sleep(0.3)
        window = Window(bin_dir, work, env)
        shot = os.path.join(work, "softfont.png")
        settled_picture(window, shot)
        target = os.path.join(golden, "softfont.png")
        if os.environ.get("QX_UPDATE_GOLDEN") == "1":
            shutil.copy(shot, target)
            return
        if not os.path.exists(target):
            fail("no golden picture %s (QX_UPDATE_GOLDEN=1 makes it)" % target)
        problem = compare(shot, target, GLYPH_BAND, MAX_GLYPH_BAND_DIFFERENT)
        if problem:
            kept = os.path.join(tempfile.gettempdir(), "vtconsole-softfont.png")
            shutil.copy(shot, kept)
            fail("soft font: %s (picture kept in %s)" % (problem, kept))
    finally:
        if window:
            window.close()
        telnetd.terminate()
        try:
            telnetd.wait(timeout=10)
        except subprocess.TimeoutExpired:
            telnetd.kill()
            telnetd.wait()


def main():
    if len(sys.argv) != 3:
        fail("usage: window_softfont.py BIN_DIR GOLDEN_DIR")
    bin_dir, golden = sys.argv[1], sys.argv[2]
    require(["socat", "/usr/sbin/telnetd", "unshare", "ip", "xvfb-run"])
    run_in_namespace(lambda work, env: run(bin_dir, golden, work, env), 100, on_x_display=True)
    print("PASS: a soft font from the host in the window" +
          (" (golden picture written)" if os.environ.get("QX_UPDATE_GOLDEN") == "1" else ""))


if __name__ == "__main__":
    main()
