#!/usr/bin/python3
"""Builds the terminal's nine bitmap faces from Debian's free bitmap fonts.

The faces "DEC-4x6" .. "DEC-12x32" hold 256 glyphs each in the code-page-437
layout that the terminal's screen grid writes. Each glyph is taken, by its
Unicode value, from an X11 PCF font (misc-fixed from xfonts-base, Terminus
from xfonts-terminus) and placed in the face's cell; a source cell smaller
than the face is padded (box-drawing and block glyphs are extended into the
padding so that lines still join), a taller one loses its top row.

Code points that the terminal never receives as text in this layout (the
code-page pictures 0x02, 0x03, 0x05..0x08, 0x0B, 0x0C, 0x0E, 0x10, 0x11)
carry the DEC special graphics that code page 437 lacks: the HT, FF, CR, LF,
NL and VT pictures, the scan lines 1, 3, 7 and 9 and not-equal. These are
drawn here, from the face's own horizontal line, so that every DEC graphic
has its own glyph.

    make_terminal_faces.py FONT_DIR OUTPUT.cpp

Writes a C++ source with one table of rows per face (bit 15 = leftmost
pixel). Fails, saying which font is missing, when a source font is absent.
"""
import gzip
import os
import struct
import sys

# Face name, cell width and height, source font file, and how the source cell
# is placed: dx, dy offsets of the source cell inside the face's cell.
FACES = [
    ("DEC-4x6", 4, 6, "4x6.pcf.gz"),
    ("DEC-5x12", 5, 12, "5x8.pcf.gz"),
    ("DEC-6x8", 6, 8, "5x8.pcf.gz"),
    ("DEC-7x12", 7, 12, "7x13.pcf.gz"),
    ("DEC-8x14", 8, 14, "ter-u14n_unicode.pcf.gz"),
    ("DEC-9x16", 9, 16, "ter-u16n_unicode.pcf.gz"),
    ("DEC-10x18", 10, 18, "ter-u18n_unicode.pcf.gz"),
    ("DEC-10x24", 10, 24, "ter-u20n_unicode.pcf.gz"),
    ("DEC-12x32", 12, 32, "ter-u24n_unicode.pcf.gz"),
]

# Code page 437 pictures for 0x00..0x1F and 0x7F.
CP437_LOW = [0x0020, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022, 0x25D8, 0x25CB, 0x25D9, 0x2642,
             0x2640, 0x266A, 0x266B, 0x263C, 0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8,
             0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC]

# DEC special graphics without a code-page glyph, at the code points the
# terminal's special-graphics table writes: (code, Unicode, how drawn).
DEC_EXTRA = {
    0x02: (0x2409, "HT"),
    0x03: (0x240C, "FF"),
    0x05: (0x240D, "CR"),
    0x06: (0x240A, "LF"),
    0x07: (0x2424, "NL"),
    0x08: (0x240B, "VT"),
    0x0B: (0x23BA, 1),
    0x0C: (0x23BB, 3),
    0x0E: (0x23BC, 7),
    0x10: (0x23BD, 9),
    0x11: (0x2260, None),
}

# Letters of the control pictures, 3 x 5 dots, rows top to bottom.
MINI = {
    "H": ["101", "101", "111", "101", "101"],
    "T": ["111", "010", "010", "010", "010"],
    "F": ["111", "100", "110", "100", "100"],
    "C": ["011", "100", "100", "100", "011"],
    "R": ["110", "101", "110", "101", "101"],
    "L": ["100", "100", "100", "100", "111"],
    "N": ["101", "111", "111", "111", "101"],
    "V": ["101", "101", "101", "101", "010"],
}


def unicode_of(code):
    if code < 0x20:
        return CP437_LOW[code]
    if code == 0x7F:
        return 0x2302
    return ord(bytes([code]).decode("cp437"))


class PcfFont:
    """The glyphs of a PCF font: bitmaps, metrics and the encoding table."""

    def __init__(self, path):
        data = gzip.open(path).read() if path.endswith(".gz") else open(path, "rb").read()
        if data[:4] != b"\x01fcp":
            raise SystemExit("%s: not a PCF font" % path)
        count = struct.unpack_from("<i", data, 4)[0]
        tables = {}
        for i in range(count):
            kind, fmt, size, offset = struct.unpack_from("<iiii", data, 8 + 16 * i)
            tables[kind] = (fmt, offset)
        self.data = data
        self.read_accelerators(tables.get(0x100) or tables[0x02])
        self.read_metrics(tables[0x04])
        self.read_bitmaps(tables[0x08])
        self.read_encodings(tables[0x20])

    def header(self, table):
        fmt_word, offset = table
        fmt = struct.unpack_from("<i", self.data, offset)[0]
        return fmt, ">" if fmt & 4 else "<", offset + 4

    def read_accelerators(self, table):
        fmt, order, at = self.header(table)
        self.ascent, self.descent = struct.unpack_from(order + "ii", self.data, at + 8)

    def read_metrics(self, table):
        fmt, order, at = self.header(table)
        self.metrics = []
        if fmt & 0x100:
            n = struct.unpack_from(order + "h", self.data, at)[0]
            for i in range(n):
                v = [b - 0x80 for b in self.data[at + 2 + 5 * i:at + 7 + 5 * i]]
                self.metrics.append(v)
        else:
            n = struct.unpack_from(order + "i", self.data, at)[0]
            for i in range(n):
                self.metrics.append(list(struct.unpack_from(order + "hhhhh", self.data, at + 4 + 12 * i)))

    def read_bitmaps(self, table):
        fmt, order, at = self.header(table)
        n = struct.unpack_from(order + "i", self.data, at)[0]
        self.offsets = struct.unpack_from(order + "%di" % n, self.data, at + 4)
        self.bits_at = at + 4 + 4 * n + 16
        self.pad = 1 << (fmt & 3)
        self.msb_bit = bool(fmt & 8)
        self.msb_byte = bool(fmt & 4)
        self.unit = 1 << ((fmt >> 4) & 3)

    def read_encodings(self, table):
        fmt, order, at = self.header(table)
        min2, max2, min1, max1, self.default = struct.unpack_from(order + "hhhhh", self.data, at)
        cols = max2 - min2 + 1
        n = cols * (max1 - min1 + 1)
        indices = struct.unpack_from(order + "%dH" % n, self.data, at + 10)
        self.index = {}
        for i, g in enumerate(indices):
            if g != 0xFFFF:
                self.index[((min1 + i // cols) << 8) | (min2 + i % cols)] = g

    def glyph(self, code):
        """The glyph's dots as {(x, y)} in the font's cell (y from the cell top), or None."""
        g = self.index.get(code)
        if g is None:
            return None
        lsb, rsb, width, ascent, descent = self.metrics[g][:5]
        w, h = rsb - lsb, ascent + descent
        stride = ((w + 7) // 8 + self.pad - 1) // self.pad * self.pad
        raw = bytearray(self.data[self.bits_at + self.offsets[g]:self.bits_at + self.offsets[g] + stride * h])
        if self.msb_byte != self.msb_bit and self.unit > 1:
            for i in range(0, len(raw), self.unit):
                raw[i:i + self.unit] = raw[i:i + self.unit][::-1]
        dots = set()
        for y in range(h):
            for x in range(w):
                byte = raw[y * stride + x // 8]
                bit = (byte >> (7 - x % 8)) & 1 if self.msb_bit else (byte >> (x % 8)) & 1
                if bit:
                    dots.add((lsb + x, self.ascent - ascent + y))
        return dots


def line_rows(cell):
    """The rows of the face's horizontal line (code page 0xC4)."""
    return sorted({y for (x, y) in cell})


def scan_line(h, middle, thickness, n):
    """Rows of DEC scan line n (1..9): 1 at the top, 5 the face's own line, 9 at the bottom."""
    if n <= 5:
        top = round((n - 1) * middle / 4)
    else:
        top = round(middle + (n - 5) * (h - thickness - middle) / 4)
    return range(top, top + thickness)


def control_picture(w, h, letters):
    """Two small letters, the first at the top left and the second at the bottom right."""
    s = max(1, min(w // 6, h // 10))
    dots = set()
    places = [(0, 0), (w - 3 * s, h - 5 * s)] if w >= 6 and h >= 10 else [(0, 0)]
    for (ox, oy), letter in zip(places, letters):
        for y, row in enumerate(MINI[letter]):
            for x, c in enumerate(row):
                if c == "1":
                    for yy in range(s):
                        for xx in range(s):
                            dots.add((ox + x * s + xx, oy + y * s + yy))
    return dots


def build_face(font_dir, name, w, h, source):
    path = os.path.join(font_dir, source)
    if not os.path.exists(path):
        raise SystemExit("the font %s is missing: install the Debian packages xfonts-base and "
                         "xfonts-terminus (bash scripts/setup.sh does)" % path)
    font = PcfFont(path)
    src_h = font.ascent + font.descent
    dy = (h - src_h) // 2 if src_h <= h else h - src_h  # pad evenly, or lose top rows
    src_w = font.metrics[font.index[ord("M")]][2]
    missing, glyphs = [], []
    for code in range(256):
        dots = font.glyph(unicode_of(code)) if code not in DEC_EXTRA else None
        if code not in DEC_EXTRA and dots is None:
            missing.append(code)
            dots = set()
        cell = set()
        for (x, y) in dots or ():
            if 0 <= x < w and 0 <= y + dy < h:
                cell.add((x, y + dy))
        if 0xB0 <= code <= 0xDF:
            # Lines and blocks reach the cell's edges: extend them into the padding.
            for (x, y) in list(cell):
                if y == dy and dy > 0:
                    cell.update((x, yy) for yy in range(0, dy))
                if y == dy + src_h - 1:
                    cell.update((x, yy) for yy in range(y + 1, h))
            if src_w < w and (0xC0 <= code <= 0xDF or 0xB0 <= code <= 0xB2):
                for (x, y) in list(cell):
                    if x == src_w - 1:
                        cell.update((xx, y) for xx in range(src_w, w))
        glyphs.append(cell)
    # The DEC additions, drawn from the face's own horizontal line.
    rows = line_rows(glyphs[0xC4]) or [h // 2]
    middle, thickness = rows[0], len(rows)
    for code, (uni, how) in DEC_EXTRA.items():
        if isinstance(how, int):
            glyphs[code] = {(x, y) for x in range(w) for y in scan_line(h, middle, thickness, how)}
        elif isinstance(how, str):
            glyphs[code] = control_picture(w, h, how)
        else:
            dots = font.glyph(uni)
            glyphs[code] = {(x, y + dy) for (x, y) in dots if 0 <= x < w and 0 <= y + dy < h} if dots else set()
    return glyphs, missing, min(h, max(0, dy + font.ascent))


def main():
    if len(sys.argv) != 3:
        raise SystemExit("usage: make_terminal_faces.py FONT_DIR OUTPUT.cpp")
    font_dir, output = sys.argv[1:]
    out = ["// Generated by make_terminal_faces.py from Debian's misc-fixed and Terminus fonts.",
           "#include \"terminal_faces.h\"", "", "namespace qx::gdi {", "namespace {"]
    faces = []
    for name, w, h, source in FACES:
        glyphs, missing, ascent = build_face(font_dir, name, w, h, source)
        if missing:
            sys.stderr.write("%s: %d code points have no glyph in %s and stay blank: %s\n" %
                             (name, len(missing), source, " ".join("%02X" % c for c in missing)))
        ident = "k" + name.replace("-", "").replace("x", "X")
        out.append("const std::uint16_t %s[256 * %d] = {" % (ident, h))
        for code, cell in enumerate(glyphs):
            words = []
            for y in range(h):
                v = 0
                for x in range(w):
                    if (x, y) in cell:
                        v |= 0x8000 >> x
                words.append("0x%04X" % v)
            out.append("    " + ", ".join(words) + ",  // %02X" % code)
        out.append("};")
        faces.append('    {"%s", %d, %d, %d, %s},' % (name, w, h, ascent, ident))
    out += ["}  // namespace", "", "const TerminalFace kTerminalBitmapFaces[%d] = {" % len(faces)] + faces
    out += ["};", "", "}  // namespace qx::gdi", ""]
    with open(output + ".tmp", "w") as f:
        f.write("\n".join(out))
    os.replace(output + ".tmp", output)


if __name__ == "__main__":
    main()
