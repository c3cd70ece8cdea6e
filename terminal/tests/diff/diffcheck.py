#!/usr/bin/python3
"""Differential check of the terminal core against pyte (Debian's python3-pyte).

Each recording NAME.bin with its NAME.marks (offsets where the program waited
for a key) is fed to this terminal (through the screen-dump tool) and to pyte;
at every mark the 24 screen rows and the cursor are compared. A difference
passes only when NAME.explained lists it with the reason, one per line:

    mark INDEX row ROW: reason          (INDEX counts marks from 0; * = any mark)
    mark INDEX cursor: reason

An explanation that no longer matches a difference fails too, so the list
stays true. Both sides run with autowrap on, as a VT220 set up for these
programs is (the set-up record's factory value is off).

    diffcheck.py SCREEN_DUMP CORPUS_DIR [NAME ...]
"""
import glob
import os
import re
import subprocess
import sys

import pyte


# The font's glyphs for code points 0x00..0x1F and 0x7F (code page 437 shows
# pictures there; Python's codec gives control characters).
CP437_LOW = " \u263a\u263b\u2665\u2666\u2663\u2660\u2022\u25d8\u25cb\u25d9\u2642\u2640\u266a\u266b\u263c" \
            "\u25ba\u25c4\u2195\u203c\u00b6\u00a7\u25ac\u21a8\u2191\u2193\u2192\u2190\u221f\u2194\u25b2\u25bc"


# The DEC special graphics that the terminal's faces draw at code-page
# pictures: the HT, FF, CR, LF, NL and VT pictures, scan lines 1, 3, 7, 9, not-equal.
DEC_GLYPHS = {0x02: "\u2409", 0x03: "\u240c", 0x05: "\u240d", 0x06: "\u240a", 0x07: "\u2424", 0x08: "\u240b",
              0x0B: "\u23ba", 0x0C: "\u23bb", 0x0E: "\u23bc", 0x10: "\u23bd", 0x11: "\u2260"}


def glyph(b):
    if b in DEC_GLYPHS:
        return DEC_GLYPHS[b]
    if b < 0x20:
        return CP437_LOW[b]
    if b == 0x7F:
        return "\u2302"
    return bytes([b]).decode("cp437")


def our_screens(dump, name):
    out = subprocess.run([dump, name + ".bin", name + ".marks", "autowrap"], check=True,
                         capture_output=True).stdout.decode("ascii").splitlines()
    screens, i = [], 0
    while i < len(out):
        assert out[i].startswith("mark ")
        row, col = map(int, out[i + 1].split()[1:])
        rows = []
        for line in out[i + 3:i + 27]:
            width, cells = line.split(" ", 1)
            cells = bytes.fromhex(cells)
            # pyte has no double-width lines: compare the characters, which sit
            # in the even cells of a double-width row, and the logical column.
            if width == "D":
                cells = cells[0::2]
                if len(rows) == row:
                    col //= 2
            # Glyph-table cells (soft font, control pictures) have no text form.
            text = "".join("\ufffd" if b == 0 else glyph(b) for b in cells)
            rows.append(text.rstrip())
        screens.append(((row, col), rows))
        i += 27
    return screens


def pyte_screens(name):
    data = open(name + ".bin", "rb").read()
    marks = [int(m) for m in open(name + ".marks").read().split()]
    screen = pyte.Screen(80, 24)
    stream = pyte.ByteStream(screen)
    stream.use_utf8 = False
    screens, done = [], 0
    for mark in marks:
        stream.feed(data[done:mark])
        done = mark
        col = min(screen.cursor.x, screen.columns - 1)
        screens.append(((screen.cursor.y, col), [line.rstrip() for line in screen.display]))
    return screens


def read_explained(name):
    explained = {}
    path = name + ".explained"
    if os.path.exists(path):
        for line in open(path):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            m = re.match(r"mark (\*|\d+) (row \d+|cursor): (.+)", line)
            if not m:
                raise SystemExit("%s: bad line: %s" % (path, line))
            explained[(m.group(1), m.group(2))] = m.group(3)
    return explained


def check(dump, name):
    ours, theirs = our_screens(dump, name), pyte_screens(name)
    explained = read_explained(name)
    used, failures, passed = set(), [], 0
    for index, ((our_cursor, our_rows), (their_cursor, their_rows)) in enumerate(zip(ours, theirs)):
        differences = []
        for row, (a, b) in enumerate(zip(our_rows, their_rows)):
            if a != b:
                differences.append(("row %d" % row, "ours  |%s|\n      pyte  |%s|" % (a, b)))
        if our_cursor != their_cursor:
            differences.append(("cursor", "ours %s pyte %s" % (our_cursor, their_cursor)))
        for what, detail in differences:
            for key in ((str(index), what), ("*", what)):
                if key in explained:
                    used.add(key)
                    passed += 1
                    break
            else:
                failures.append("%s mark %d %s:\n      %s" % (os.path.basename(name), index, what, detail))
    for key in explained:
        if key not in used:
            failures.append("%s: explanation matches no difference: mark %s %s" % (os.path.basename(name), *key))
    return len(ours), passed, failures


def main():
    dump, corpus = sys.argv[1], sys.argv[2]
    names = sys.argv[3:] or sorted(p[:-4] for p in glob.glob(os.path.join(corpus, "*.bin")))
    names = [n if os.path.isabs(n) else os.path.join(corpus, os.path.basename(n)) for n in names]
    all_failures = []
    for name in names:
        screens, explained, failures = check(dump, name)
        print("%-20s %3d screens compared, %3d explained differences, %d unexplained"
              % (os.path.basename(name), screens, explained, len(failures)))
        all_failures += failures
    for failure in all_failures:
        print(failure)
    return 1 if all_failures else 0


sys.exit(main())
