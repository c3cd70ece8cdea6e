#!/usr/bin/python3
"""The terminal window in each of its nine faces, under Xvfb, against golden
PNG pictures.

A host program behind Debian's inetutils-telnetd (socat per connection, in a
network namespace of the test's own) draws a fixed screen: plain, bold,
underlined, reverse and blinking text, every DEC special graphic and a few
supplemental characters, with the cursor off. vtconsole shows it in a real
window on Xvfb; for each face chosen from the Windows > Fonts menu through
automation the window is captured and compared with
terminal/vtconsole/tests/golden/face-N.png: the sizes must be equal (the window
is sized to whole cells of the face) and at most 1% of the pixels may differ by
more than 48 in a channel. QX_UPDATE_GOLDEN=1 writes the pictures instead.
In every face, golden or not, the bold word is as dark as plain text and
thicker (but in DEC-6x8, whose plain text is bold already).

    window_faces.py BIN_DIR GOLDEN_DIR        (as root)
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from window_setup import require, run_in_namespace  # noqa: E402

FACES = 9
CELLS = [(4, 6), (5, 12), (6, 8), (7, 12), (8, 14), (9, 16), (10, 18), (10, 24), (12, 32)]
BOLD_FACE = 2  # DEC-6x8 is a bold face: its plain text is bold already
TOLERANCE = 48
MAX_DIFFERENT = 0.01

ROW0 = "QX vtconsole faces: The quick brown fox jumps over the lazy dog 0123456789"
SCREEN = (b"\x1b[?25l\x1b[?7h\x1b[2J\x1b[H" + ROW0.encode() + b"\r\n"
          b"\x1b[1mbold\x1b[0m \x1b[4munderline\x1b[0m \x1b[7mreverse\x1b[0m \x1b[5mblink\x1b[0m "
          b"\x1b[1;4;7mall three\x1b[0m\r\n"
          b"\x1b(0lqqqqwqqqqk\x1b(B  \x1b(0`abcdefghijklmnopqrstuvwxyz{|}~\x1b(B\r\n"
          b"\x1b(0x    x    x\x1b(B  \x1b)A\x0e#$%&*+,-./\x0f (national and supplemental: \x1b*<\x1bn\xa9\xab\xb1\xbf\x0f)\r\n"
          b"\x1b(0tqqqqnqqqqu\x1b(B\r\n"
          b"\x1b(0mqqqqvqqqqj\x1b(B\r\n"
          b"\x1b#6double width\r\n"
          b"\x1bP1;1;2{@~~??~~??/BBNNBBNN\x1b\\soft font: \x1b(@!!!\x1b(B\r\n"
          b"\x1b[24;1Hbottom row\x1b[H")

PLAYER = r"""#!/usr/bin/python3
import os, time, tty
tty.setraw(0)
os.write(1, %(screen)r)
time.sleep(120)
"""


def fail(text):
    print("FAIL: " + text, file=sys.stderr)
    sys.exit(1)


def read_png(path):
    """(width, height, rows of RGB bytes) of an 8-bit RGB or RGBA PNG."""
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        fail(path + " is no PNG file")
    pos, idat, width = 8, b"", 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            if depth != 8 or colour not in (2, 6):
                fail("%s: only 8-bit RGB or RGBA pictures are read" % path)
            channels = 4 if colour == 6 else 3
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, prev = [], bytearray(stride)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = prev[i]
            c = prev[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + b) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
        rows.append(bytes(line[i] for i in range(stride) if i % channels < 3))
        prev = line
    return width, height, rows


def compare(got_path, golden_path, band=None, max_band_different=0):
    """None when the pictures agree: at most 1% of all pixels differ, and
    (given a band of rows, first to last) at most max_band_different in it."""
    gw, gh, grows = read_png(got_path)
    ew, eh, erows = read_png(golden_path)
    if (gw, gh) != (ew, eh):
        return "the window is %dx%d pixels, the golden picture %dx%d" % (gw, gh, ew, eh)
    different, in_band = 0, 0
    for y, (g, e) in enumerate(zip(grows, erows)):
        for x in range(gw):
            if max(abs(g[3 * x + k] - e[3 * x + k]) for k in range(3)) > TOLERANCE:
                different += 1
                in_band += band is not None and band[0] <= y <= band[1]
    if different > MAX_DIFFERENT * gw * gh:
        return "%d of %d pixels differ" % (different, gw * gh)
    if in_band > max_band_different:
        return "%d pixels differ in rows %d to %d" % (in_band, band[0], band[1])
    return None


def cell_ink(rows, left, top, cell, row, col):
    """(pixels that are not the white background, the darkest channel among them) of a cell."""
    count, darkest = 0, 255
    for y in range(top + row * cell[1], top + (row + 1) * cell[1]):
        for x in range(left + col * cell[0], left + (col + 1) * cell[0]):
            p = rows[y][3 * x:3 * x + 3]
            if max(p) < 200:
                count += 1
                darkest = min(darkest, max(p))
    return count, darkest


def bold_problem(shot, face):
    """None when the bold word of row 1 is as dark as the same letters of
    row 0 in plain text, and thicker (but in the bold face)."""
    width, height, rows = read_png(shot)
    cell = CELLS[face]
    left = (width - 80 * cell[0]) // 2  # the frame is as wide on every side
    top = height - left - 25 * cell[1]  # 24 rows and the status row end at the client's bottom
    plain = [cell_ink(rows, left, top, cell, 0, ROW0.index(c)) for c in "bold"]
    bold = [cell_ink(rows, left, top, cell, 1, i) for i in range(4)]
    if max(b[1] for b in bold) > max(p[1] for p in plain) + TOLERANCE:
        return "bold text is drawn in grey %d, plain text in %d" % (max(b[1] for b in bold), max(p[1] for p in plain))
    if face != BOLD_FACE and sum(b[0] for b in bold) <= sum(p[0] for p in plain):
        return "bold text is no thicker than plain text (%d dots against %d)" % (
            sum(b[0] for b in bold), sum(p[0] for p in plain))
    return None


def auto(bin_dir, env, pid, *args):
    r = subprocess.run([os.path.join(bin_dir, "qxauto"), "-p", str(pid)] + list(args), env=env, capture_output=True,
                       timeout=30)
    if r.returncode != 0:
        fail("qxauto %s: %s%s" % (" ".join(args), r.stdout.decode(), r.stderr.decode()))
    return r.stdout.decode().strip()


def main():
    if len(sys.argv) != 3:
        fail("usage: window_faces.py BIN_DIR GOLDEN_DIR")
    bin_dir, golden = sys.argv[1], sys.argv[2]
    require(["socat", "/usr/sbin/telnetd", "unshare", "ip", "xvfb-run"])
    update = os.environ.get("QX_UPDATE_GOLDEN") == "1"
    run_in_namespace(lambda work, env: run(bin_dir, golden, update, work, env), 200, on_x_display=True)
    print("PASS: nine faces" + (" (golden pictures written)" if update else ""))


def run(bin_dir, golden, update, work, env):
    procs = []
    try:
        player = os.path.join(work, "player")
        with open(player, "w") as f:
            f.write(PLAYER % {"screen": SCREEN})
        os.chmod(player, 0o755)
        procs.append(subprocess.Popen(["socat", "TCP-LISTEN:23,bind=127.0.0.1,reuseaddr",
                                       "EXEC:/usr/sbin/telnetd -h -E " + player + ",nofork"]))
        time.sleep(0.3)
        vt = subprocess.Popen([os.path.join(bin_dir, "vtconsole"), "127.0.0.1"], cwd=work, env=env,
                              stdout=subprocess.DEVNULL, stderr=open(os.path.join(work, "vt-err"), "w"))
        procs.append(vt)
        hwnd, deadline = None, time.time() + 20
        while time.time() < deadline and not hwnd:
            r = subprocess.run([os.path.join(bin_dir, "qxauto"), "-p", str(vt.pid), "find", "QX220", "-"], env=env,
                               capture_output=True)
            if r.returncode == 0:
                hwnd = r.stdout.decode().split()[1]
            else:
                time.sleep(0.2)
        if not hwnd:
            fail("no QX220 window through automation")
        problems = []
        for face in range(FACES):
            auto(bin_dir, env, vt.pid, "menu", hwnd, str(110 + face))
            shot = os.path.join(work, "face-%d.png" % face)
            # The screen is drawn when the picture stops changing.
            last, deadline = None, time.time() + 15
            while time.time() < deadline:
                time.sleep(0.5)
                auto(bin_dir, env, vt.pid, "png", hwnd, shot)
                now = open(shot, "rb").read()
                if now == last:
                    break
                last = now
            target = os.path.join(golden, "face-%d.png" % face)
            problem = bold_problem(shot, face)
            if problem:
                problems.append("face %d: %s" % (face, problem))
            if update:
                shutil.copy(shot, target)
                continue
            if not os.path.exists(target):
                problems.append("face %d: no golden picture %s (QX_UPDATE_GOLDEN=1 makes it)" % (face, target))
                continue
            problem = compare(shot, target)
            if problem:
                kept = os.path.join(tempfile.gettempdir(), "vtconsole-face-%d.png" % face)
                shutil.copy(shot, kept)
                problems.append("face %d: %s (picture kept in %s)" % (face, problem, kept))
        if problems:
            fail("\n  ".join(problems))
    finally:
        for p in reversed(procs):
            p.terminate()
            try:
                p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()


if __name__ == "__main__":
    main()
