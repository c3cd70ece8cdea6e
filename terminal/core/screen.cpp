// The screen grid: character sets, PutGraphic, scrolling, erasing and the
// status line, each change reported to the display. Every index into the grid
// is kept inside its 46 x 132 cells, whatever the set-up record holds.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "vt_internal.h"

namespace {

// DEC special graphics, characters 0x5F..0x7E, as font code points. The
// graphics that code page 437 lacks (the HT, FF, CR, LF, NL and VT pictures,
// scan lines 1, 3, 7 and 9, not-equal) have glyphs of their own in the
// terminal's faces, at code-page pictures the host can never write as text.
const BYTE kSpecialGraphics[32] = {
    0x20, 0x04, 0xB1, 0x02, 0x03, 0x05, 0x06, 0xF8, 0xF1, 0x07, 0x08, 0xD9, 0xBF, 0xDA, 0xC0, 0xC5,
    0x0B, 0x0C, 0xC4, 0x0E, 0x10, 0xC3, 0xB4, 0xC1, 0xC2, 0xB3, 0xF3, 0xF2, 0xE3, 0x11, 0x9C, 0xF9,
};

// The nearest code-page character of each of those own glyphs, for text that
// leaves the screen (printing, copying): 0x00..0x1F, 0 where a code keeps its own.
const BYTE kPlainForm[32] = {
    0,    0,    0x1A, 0x9F, 0, 0x1B, 0x19, 0xFC, 0x12, 0, 0, 0xC4, 0xC4, 0, 0xC4, 0,
    0xC4, 0xF7, 0,    0,    0, 0,    0,    0,    0,    0, 0, 0,    0,    0, 0,    0,
};

// DEC supplemental, characters 0x20..0x7F (a GR byte less 0x80).
const BYTE kSupplemental[96] = {
    0xDB, 0xAD, 0x9B, 0x9C, 0x20, 0x9D, 0x20, 0x15, 0x0F, 0x01, 0xA6, 0xAE, 0x20, 0x20, 0x20, 0x22,
    0xF8, 0xF1, 0xFD, 0x33, 0x9F, 0xE6, 0x14, 0xF9, 0x69, 0x31, 0xA7, 0xAF, 0xAC, 0xAB, 0x33, 0xA8,
    0x85, 0xA0, 0x83, 0x83, 0x8E, 0x8F, 0x92, 0x80, 0x8A, 0x90, 0x88, 0x89, 0x8D, 0xA1, 0x8C, 0x8B,
    0x20, 0xA5, 0x95, 0xA2, 0x93, 0x93, 0x99, 0xE0, 0xED, 0x97, 0xA3, 0x96, 0x9A, 0x98, 0x20, 0xE1,
    0x85, 0xA0, 0x83, 0x83, 0x84, 0x86, 0x91, 0x87, 0x8A, 0x82, 0x88, 0x89, 0x8D, 0xA1, 0x8C, 0x8B,
    0x20, 0xA4, 0x95, 0xA2, 0x93, 0x93, 0x94, 0xE0, 0xED, 0x97, 0xA3, 0x96, 0x81, 0x98, 0x20, 0xDB,
};

// National replacement: the 12 replaced positions and one row per language.
constexpr BYTE kNationalPositions[12] = {0x23, 0x40, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F, 0x60, 0x7B, 0x7C, 0x7D, 0x7E};
const BYTE kNational[13][12] = {
    {0x23, 0x40, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F, 0x60, 0x7B, 0x7C, 0x7D, 0x7E},  // none
    {0xA3, 0x40, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F, 0x60, 0x7B, 0x7C, 0x7D, 0x7E},  // United Kingdom
    {0xA3, 0x33, 0x69, 0xBD, 0x7C, 0x5E, 0x5F, 0x60, 0x22, 0xB4, 0xBC, 0x27},  // Dutch
    {0x23, 0x40, 0xC4, 0xD6, 0xC5, 0xDC, 0x5F, 0xE9, 0xE4, 0xF6, 0xE5, 0xFC},  // Finnish
    {0xA3, 0xE0, 0x80, 0xE7, 0xA7, 0x5E, 0x5F, 0x60, 0xE9, 0xF9, 0xE8, 0x22},  // French
    {0x23, 0xE0, 0xE2, 0xE7, 0xAE, 0xCE, 0x5F, 0xF4, 0xE9, 0xF9, 0xE8, 0xFB},  // French Canadian
    {0x23, 0xA7, 0xC4, 0xD6, 0xDC, 0x5E, 0x5F, 0x60, 0xE4, 0xF6, 0xFC, 0xDF},  // German
    {0xA3, 0xA7, 0x80, 0xE7, 0xE9, 0x5E, 0x5F, 0xF9, 0xE0, 0xF2, 0xE8, 0xCC},  // Italian
    {0x23, 0xC4, 0xC6, 0xD8, 0xC5, 0xDC, 0x5F, 0xE4, 0xE6, 0xF8, 0xE5, 0xFC},  // Norwegian/Danish
    {0x23, 0x40, 0xC4, 0xC7, 0xD6, 0x5E, 0x5F, 0x60, 0xE4, 0xE7, 0xF6, 0x7E},  // Portuguese
    {0xA3, 0xA7, 0xA1, 0xD1, 0xBF, 0x5E, 0x5F, 0x60, 0x80, 0xF1, 0xE7, 0x7E},  // Spanish
    {0x23, 0xC9, 0xC4, 0xD6, 0xC5, 0xDC, 0x5F, 0xE9, 0xE4, 0xF6, 0xE5, 0xFC},  // Swedish
    {0xF9, 0xE0, 0xE9, 0xE7, 0xEA, 0xEE, 0xE8, 0xF4, 0xE4, 0xF6, 0xFC, 0xFB},  // Swiss
};

// Position of b among the 12 national positions, or -1; a 128-entry index.
struct NationalIndex {
  signed char pos[128];
  constexpr NationalIndex() : pos() {
    for (int i = 0; i < 128; ++i) pos[i] = -1;
    for (int i = 0; i < 12; ++i) pos[kNationalPositions[i]] = static_cast<signed char>(i);
  }
};
constexpr NationalIndex kNationalIndex;

BYTE SupplementalGlyph(int b) { return b < 0x20 || b > 0x7F ? 0x20 : kSupplemental[b - 0x20]; }

// The glyph for byte b in the designated set; g receives the glyph-cell bit.
BYTE ChooseGlyph(const TERM_STATE &st, BYTE b, BYTE &g) {
  if (st.s.displayControls) {
    if (b < 0x20) {
      g = ATTR_GLYPH;
      return static_cast<BYTE>(b + 0x80);
    }
    if (b >= 0x80 && b <= 0x9F) {
      g = ATTR_GLYPH;
      return static_cast<BYTE>(b + 0x20);
    }
  }
  int c = b;
  BYTE set = st.gSet[st.glSet & 3];
  if (b >= 0x80) {
    c = b - 0x80;
    set = st.gSet[st.grSet & 3];
  }
  // Every set but a soft font is a 94-character set: the SPACE position (0x20
  // in GL, 0xA0 in GR) is a space whichever set is invoked, as on a VT220.
  if (c == 0x20 && set != CS_SOFT) return 0x20;
  switch (set) {
    case CS_SPECIAL: return c >= 0x5F && c <= 0x7E ? kSpecialGraphics[c - 0x5F] : static_cast<BYTE>(c);
    case CS_NATIONAL: {
      if (c >= 0x80 || kNationalIndex.pos[c] < 0) return static_cast<BYTE>(c);
      BYTE r = kNational[std::min<int>(st.s.nationalLanguage, 12)][kNationalIndex.pos[c]];
      return r >= 0x80 ? SupplementalGlyph(r - 0x80) : r;
    }
    case CS_SUPPLEMENTAL: return SupplementalGlyph(c);
    case CS_SOFT: g = ATTR_GLYPH; return static_cast<BYTE>(c);
    default: return static_cast<BYTE>(c);
  }
}

TERM_CELL *Row(VtTerminal &t, int row) { return t.screen.cells[std::clamp(row, 0, GRID_ROWS - 1)]; }

}  // namespace

namespace vt {

// Keeps the cursor on the screen: a change of columns or screen rows, or a
// restored cursor, may leave it outside (which PutGraphic must never see).
void ClampCursor(TERM_STATE &st) {
  int cols = Columns(st);
  if (st.cursorCol >= cols) st.cursorCol = static_cast<BYTE>(cols - 1);
  if (st.cursorRow >= st.screenRows) st.cursorRow = static_cast<BYTE>(st.screenRows - 1);
  if (st.marginBottom >= st.screenRows) st.marginBottom = static_cast<BYTE>(st.screenRows - 1);
  if (st.marginTop >= st.marginBottom) st.marginTop = 0;
}

void PaintRange(VtTerminal &t, int row, int col, int count) {
  if (t.display && count > 0) t.display->PaintCells(row, col, count);
}

void BlankCells(VtTerminal &t, int row, int col, int count) {
  col = std::clamp(col, 0, GRID_COLUMNS);
  count = std::clamp(count, 0, GRID_COLUMNS - col);
  TERM_CELL *r = Row(t, row);
  for (int i = 0; i < count; ++i) r[col + i] = {0x20, 0};
  PaintRange(t, row, col, count);
}

// Whole rows erased: blank and single width.
void BlankRows(VtTerminal &t, int first, int last) {
  for (int row = std::max(first, 0); row <= last && row < GRID_ROWS; ++row) {
    t.st.lineAttribute[row] = LINE_SINGLE;
    BlankCells(t, row, 0, GRID_COLUMNS);
  }
}

void ScrollUp(VtTerminal &t, int top, int bottom, int count, bool history) {
  if (top < 0 || bottom >= GRID_ROWS || top > bottom || count <= 0) return;
  count = std::min(count, bottom - top + 1);
  if (history && top == 0 && t.display)
    for (int i = 0; i < count; ++i) t.display->ScrollBackAppend(i);
  int moved = bottom - top + 1 - count;
  std::memmove(t.screen.cells[top], t.screen.cells[top + count], sizeof(t.screen.cells[0]) * moved);
  std::memmove(&t.st.lineAttribute[top], &t.st.lineAttribute[top + count], moved);
  for (int row = bottom - count + 1; row <= bottom; ++row) {
    t.st.lineAttribute[row] = LINE_SINGLE;
    for (auto &cell : t.screen.cells[row]) cell = {0x20, 0};
  }
  if (t.display) t.display->ScrollRegion(6, count, top, bottom);
}

void ScrollDown(VtTerminal &t, int top, int bottom, int count) {
  if (top < 0 || bottom >= GRID_ROWS || top > bottom || count <= 0) return;
  count = std::min(count, bottom - top + 1);
  int moved = bottom - top + 1 - count;
  std::memmove(t.screen.cells[top + count], t.screen.cells[top], sizeof(t.screen.cells[0]) * moved);
  std::memmove(&t.st.lineAttribute[top + count], &t.st.lineAttribute[top], moved);
  for (int row = top; row < top + count; ++row) {
    t.st.lineAttribute[row] = LINE_SINGLE;
    for (auto &cell : t.screen.cells[row]) cell = {0x20, 0};
  }
  if (t.display) t.display->ScrollRegion(7, count, top, bottom);
}

// ICH: count blanks at the cursor; cells shift right and fall off at columns.
void InsertBlanks(VtTerminal &t, int count) {
  TERM_STATE &st = t.st;
  int cols = Columns(st), col = st.cursorCol;
  count = std::clamp(count, 0, cols - col);
  if (count == 0) return;
  TERM_CELL *r = Row(t, st.cursorRow);
  std::memmove(r + col + count, r + col, sizeof(TERM_CELL) * (cols - col - count));
  for (int i = 0; i < count; ++i) r[col + i] = {0x20, 0};
  PaintRange(t, st.cursorRow, col, cols - col);
}

void CarriageReturn(VtTerminal &t) {
  t.st.cursorCol = 0;
  SyncCursor(t);
}

void LineFeed(VtTerminal &t, bool newLine) {
  TERM_STATE &st = t.st;
  if (st.s.printMode == 1) PrintLine(t, st.cursorRow);
  st.marginBellRow = 255;
  if (newLine && st.s.newLineMode) st.cursorCol = 0;
  if (st.cursorRow == st.marginBottom)
    ScrollUp(t, st.marginTop, st.marginBottom, 1, true);
  else if (st.cursorRow + 1 < st.screenRows)
    st.cursorRow++;
  SyncCursor(t);
}

void ReverseLineFeed(VtTerminal &t) {
  TERM_STATE &st = t.st;
  st.marginBellRow = 255;
  if (st.cursorRow == st.marginTop)
    ScrollDown(t, st.marginTop, st.marginBottom, 1);
  else if (st.cursorRow > 0)
    st.cursorRow--;
  SyncCursor(t);
}

int DoubleWidthColumn(const TERM_STATE &st, int col) { return std::min(2 * col, Columns(st) - 2); }

// Moves to (row, single-width column), converting for a double-width row.
void CursorTo(VtTerminal &t, int row, int logicalCol) {
  TERM_STATE &st = t.st;
  st.cursorRow = static_cast<BYTE>(std::clamp(row, 0, st.screenRows - 1));
  int col = std::clamp(logicalCol, 0, Columns(st) - 1);
  st.cursorCol = static_cast<BYTE>(OnDoubleWidth(st) ? DoubleWidthColumn(st, col) : col);
  SyncCursor(t);
}

// Vertical motion keeps the logical column across single and double rows.
void MoveToRow(VtTerminal &t, int row) {
  int logical = OnDoubleWidth(t.st) ? t.st.cursorCol / 2 : t.st.cursorCol;
  CursorTo(t, row, logical);
}

}  // namespace vt

using namespace vt;

void SyncCursor(VtTerminal &t) {
  TERM_STATE &st = t.st;
  st.wrapPending = 0;
  if (t.display) t.display->SyncCursor(st.cursorRow, st.cursorCol);
}

void PutGraphic(VtTerminal &t) {
  TERM_STATE &st = t.st;
  BYTE b = st.currentByte;
  // 0xFF is the DEL position of GR: like DEL in GL it shows nothing and leaves
  // the cursor where it is (unless controls are being displayed).
  if (b == 0xFF && !st.s.displayControls) return;
  if (st.s.autowrap && st.wrapPending) {
    CarriageReturn(t);
    LineFeed(t, true);
  }
  BYTE g = 0;
  BYTE glyph = ChooseGlyph(st, b, g);
  if (st.singleShift) {
    st.singleShift = 0;
    st.glSet = st.ssSavedGl;
  }
  if (st.insertMode) InsertBlanks(t, 1);
  int cols = Columns(st);
  if (st.cursorCol >= cols) st.cursorCol = static_cast<BYTE>(cols - 1);
  int row = st.cursorRow, col = st.cursorCol;
  TERM_CELL *r = Row(t, row);
  BYTE attr = static_cast<BYTE>(st.s.attribute | g);
  r[col] = {glyph, attr};
  if (col + 1 >= cols) {
    PaintRange(t, row, col, 1);
    st.wrapPending = 1;
    return;
  }
  if (!IsDoubleWidth(st, row)) {
    PaintRange(t, row, col, 1);
    st.cursorCol++;
    SyncCursor(t);
    return;
  }
  // Double width: the right half holds a line-drawing continuation or a blank.
  bool joins = glyph >= 0xC6 && glyph <= 0xCA;
  r[col + 1] = {joins ? glyph : static_cast<BYTE>(0x20), attr};
  int first = col;
  if (joins && col > 1 && ((r[col - 2].ch >= 0xC0 && r[col - 2].ch <= 0xC5) || r[col - 2].ch == 0xDA)) {
    r[col - 1] = {glyph, st.s.attribute};
    first = col - 1;
  }
  PaintRange(t, row, first, col + 2 - first);
  if (col + 2 >= cols) {
    st.wrapPending = 1;
    return;
  }
  st.cursorCol = static_cast<BYTE>(col + 2);
  SyncCursor(t);
}

void WriteText(VtTerminal &t, int row, int col, const char *text, BYTE attribute) {
  if (row < 0 || row >= GRID_ROWS || col < 0 || !text) return;
  int n = 0;
  for (; text[n] && col + n < GRID_COLUMNS; ++n) t.screen.cells[row][col + n] = {static_cast<BYTE>(text[n]), attribute};
  PaintRange(t, row, col, n);
}

void ShowStatus(VtTerminal &t, const char *title) {
  TERM_STATE &st = t.st;
  if (title != st.statusTitle) std::snprintf(st.statusTitle, sizeof st.statusTitle, "%s", title ? title : "");
  int row = st.screenRows, cols = Columns(st);
  for (auto &cell : t.screen.cells[row]) cell = {0x20, 0};
  // The title is clipped so that "]" stays on the visible row.
  char shown[GRID_COLUMNS + 1];
  std::snprintf(shown, sizeof shown, "[%.*s]", cols - 2, st.statusTitle);
  WriteText(t, row, 0, shown, 0);
  if (st.viewLeft != 0) {
    char range[24];
    std::snprintf(range, sizeof range, "(%d-%d)", st.viewLeft + 1, st.viewRight + 1);
    WriteText(t, row, 40, range, 0);
  }
  WriteText(t, row, 31, (st.leds & 0x0F) ? "L" : " ", 0);
  for (int i = 0; i < 4; ++i) {
    char digit[2] = {static_cast<char>((st.leds >> i) & 1 ? '1' + i : ' '), 0};
    WriteText(t, row, 32 + i, digit, 0);
  }
  if (st.composeState) WriteText(t, row, 38, "C", 8);
  PaintRange(t, row, 0, GRID_COLUMNS);
  if (t.display) {
    bool tn3270 = t.host && t.host->In3270Mode();
    char caption[160];
    if (std::strcmp(st.statusTitle, "---") == 0)
      std::snprintf(caption, sizeof caption, "%s", tn3270 ? "QX3270 for Windows" : "QX220 for Windows");
    else
      std::snprintf(caption, sizeof caption, "%s - %s", tn3270 ? "QX3270" : "QX220", st.statusTitle);
    t.display->SetCaption(caption);
  }
}

void ResetLineAttributes(VtTerminal &t) { std::memset(t.st.lineAttribute, LINE_SINGLE, sizeof t.st.lineAttribute); }

// The display's colour for a cell, in PC text-attribute form.
BYTE PlainCharacter(BYTE ch) { return ch < 0x20 && kPlainForm[ch] ? kPlainForm[ch] : ch; }

BYTE CellColour(const TERM_STATE &st, BYTE attribute) {
  if (attribute & ATTR_COLOUR) {
    BYTE c = static_cast<BYTE>((attribute & 0x07) | ((attribute & 0x38) << 1));
    if (attribute & ATTR_GLYPH) c |= 0x08;
    return c;
  }
  BYTE c = st.colourAttribute;
  bool underline = attribute & ATTR_UNDERLINE, blink = attribute & ATTR_BLINK;
  if (underline && blink)
    c = st.s.blinkUnderlineColour;
  else if (underline)
    c = st.s.underlineColour;
  else if (blink)
    c = st.s.blinkColour;
  if (attribute & ATTR_BOLD) c |= 0x80;
  bool reverse = attribute & ATTR_REVERSE;
  if ((st.s.screenMode == 1 && !reverse) || (st.s.screenMode == 0 && reverse))
    c = static_cast<BYTE>((c & 0x88) | ((c & 0x07) << 4) | ((c >> 4) & 0x07));
  if (attribute & ATTR_GLYPH) c |= 0x08;
  return c;
}

// A typed DEC multinational character that the language's national set holds
// goes out as the ASCII character it replaces there.
BYTE NationalKeyChar(int language, BYTE ch) {
  const BYTE *row = kNational[std::clamp(language, 0, 12)];
  for (int i = 0; i < 12; ++i)
    if (row[i] == ch) return kNationalPositions[i];
  return ch;
}
