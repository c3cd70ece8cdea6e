// The VT220 and VT52 control functions that the parser tables call: cursor
// motion, erasing, scrolling regions, modes, character sets, attributes, tab
// stops and reports. Counts and positions are limited to the screen before use.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "vt_actions.h"

namespace vt {

namespace {

// ANSI colour n to the BGR bit set of the colour attribute form.
const BYTE kAnsiToBgr[8] = {0, 4, 2, 6, 1, 5, 3, 7};

// National designations: code of the intermediates and final, and the set row.
struct NationalDesignation {
  DWORD code;
  BYTE row;
};
const NationalDesignation kNationalDesignations[] = {
    {17, 1}, {4, 2},  {5, 3}, {19, 3},  {34, 4},  {33, 5}, {27, 6},  {41, 7},
    {48, 8}, {21, 8}, {6, 8}, {486, 9}, {42, 10}, {7, 11}, {24, 11}, {13, 12},
};

int LineUnit(const TERM_STATE &st) { return OnDoubleWidth(st) ? 2 : 1; }

int LastColumn(const TERM_STATE &st) { return Columns(st) - LineUnit(st); }

// Row limits of vertical motion: the margin when the cursor is inside the
// region, the screen edge otherwise.
int UpperLimit(const TERM_STATE &st) { return st.cursorRow >= st.marginTop ? st.marginTop : 0; }
int LowerLimit(const TERM_STATE &st) { return st.cursorRow <= st.marginBottom ? st.marginBottom : st.screenRows - 1; }

void Home(VtTerminal &t) { CursorTo(t, t.st.originMode ? t.st.marginTop : 0, 0); }

void ClearScreen(VtTerminal &t) {
  BlankRows(t, 0, t.st.screenRows - 1);
  Home(t);
}

void SetCharsetsMultinational(TERM_STATE &st) {
  st.gSet[0] = st.gSet[1] = CS_ASCII;
  st.gSet[2] = st.gSet[3] = CS_SUPPLEMENTAL;
  st.glSet = 0;
  st.grSet = 2;
}

void SetCharsetsNational(TERM_STATE &st) {
  for (BYTE &g : st.gSet) g = CS_NATIONAL;
  st.glSet = 0;
  st.grSet = 2;
}

void SingleShift(TERM_STATE &st, BYTE set) {
  // A second shift before the character must not save the shifted GL.
  if (!st.singleShift) st.ssSavedGl = st.glSet;
  st.glSet = set;
  st.singleShift = 1;
}

void Reply(VtTerminal &t, const char *format, int a = 0, int b = 0, int c = 0, int d = 0, int e = 0) {
  char text[64];
  std::snprintf(text, sizeof text, format, a, b, c, d, e);
  SendReply(t, text);
}

void DeviceAttributes(VtTerminal &t) {
  if (Param(t.st, 0) != 0) return;
  switch (t.st.s.terminalId) {
    case 0: SendReply(t, "\x1b[?1;2c"); break;
    case 1: SendReply(t, "\x1b[?61;1;2;6;7;8;9c"); break;
    default: SendReply(t, "\x1b[?62;1;2;6;7;8;9c"); break;
  }
}

// ED and EL with an optional "keep protected and colour cells" rule.
bool Erasable(BYTE attr, bool selective) { return !selective || !(attr & (ATTR_PROTECTED | ATTR_COLOUR)); }

void EraseCells(VtTerminal &t, int row, int from, int to, bool selective) {
  from = std::clamp(from, 0, GRID_COLUMNS);
  to = std::clamp(to, 0, GRID_COLUMNS);
  TERM_CELL *r = t.screen.cells[row];
  for (int c = from; c < to; ++c)
    if (Erasable(r[c].attr, selective)) r[c] = {0x20, 0};
  PaintRange(t, row, from, to - from);
}

void EraseRows(VtTerminal &t, int first, int last, bool selective) {
  for (int row = first; row <= last; ++row) {
    if (!selective) t.st.lineAttribute[row] = LINE_SINGLE;
    EraseCells(t, row, 0, GRID_COLUMNS, selective);
  }
}

void EraseDisplay(VtTerminal &t, bool selective) {
  TERM_STATE &st = t.st;
  if (st.cursorCol == 0 && st.lineAttribute[st.cursorRow] != LINE_SINGLE) {
    st.lineAttribute[st.cursorRow] = LINE_SINGLE;
    if (t.display) t.display->RepaintRows(st.cursorRow, st.cursorRow);
  }
  int row = st.cursorRow, col = st.cursorCol, last = st.screenRows - 1;
  switch (Param(st, 0)) {
    case 0:
      EraseCells(t, row, col, GRID_COLUMNS, selective);
      EraseRows(t, row + 1, last, selective);
      break;
    case 1:
      EraseRows(t, 0, row - 1, selective);
      EraseCells(t, row, 0, col + 1, selective);
      break;
    case 2: EraseRows(t, 0, last, selective); break;
    default: break;
  }
}

void EraseLine(VtTerminal &t, bool selective) {
  TERM_STATE &st = t.st;
  st.wrapPending = 0;  // the next character goes where the cursor is, as on a VT220
  int row = st.cursorRow, col = st.cursorCol;
  switch (Param(st, 0)) {
    case 0: EraseCells(t, row, col, GRID_COLUMNS, selective); break;
    case 1: EraseCells(t, row, 0, col + 1, selective); break;
    case 2: EraseCells(t, row, 0, GRID_COLUMNS, selective); break;
    default: break;
  }
}

void SetColumns(VtTerminal &t, int columns) {
  t.st.s.columns = static_cast<BYTE>(columns);
  t.st.viewRight = static_cast<BYTE>(std::min<int>(t.st.viewRight, columns - 1));
  ClearScreen(t);
  if (t.display) t.display->Resize(columns);
}

// One DEC private mode, set or reset.
void SetPrivateMode(VtTerminal &t, int mode, bool set) {
  TERM_STATE &st = t.st;
  TermHost *host = t.host;
  bool locked = st.s.userFeaturesLocked;
  switch (mode) {
    case 1:
      st.s.cursorKeysApp = set;
      if (st.s.ansiMode && host) host->ApplyCursorKeys(set ? 3 : 1);
      break;
    case 2:
      if (!set) EnterVt52Mode(t);
      break;
    case 3: SetColumns(t, set ? 132 : 80); break;
    case 4:
      if (!locked) st.s.smoothScroll = set;
      break;
    case 5:
      if (!locked && st.s.screenMode != set) {
        st.s.screenMode = set;
        if (t.display) t.display->RepaintRows(0, st.screenRows - 1);
      }
      break;
    case 6: st.originMode = set; break;
    case 7: st.s.autowrap = set; break;
    case 8:
      if (!locked) st.s.autoRepeat = set;
      break;
    case 18: st.s.printFormFeed = set; break;
    case 19: st.s.printExtentRegion = !set; break;
    case 25:
      st.s.cursorHidden = !set;
      if (t.display) t.display->ShowCursor(set, st.s.cursorStyle);
      break;
    case 42:
      if (set)
        SetCharsetsNational(st);
      else
        SetCharsetsMultinational(st);
      break;
    default: break;
  }
}

void ForEachParam(VtTerminal &t, bool set) {
  for (int i = 0; i <= t.st.paramIndex; ++i) SetPrivateMode(t, t.st.params[i], set);
}

void SetAnsiModes(VtTerminal &t, bool set) {
  TERM_STATE &st = t.st;
  for (int i = 0; i <= st.paramIndex; ++i) {
    switch (st.params[i]) {
      case 4: st.insertMode = set; break;
      case 12: st.s.localEcho = !set; break;
      case 20: st.s.newLineMode = set; break;
      default: break;
    }
  }
}

void SgrOne(TERM_STATE &st, int p) {
  BYTE &a = st.s.attribute;
  if (p < 30 && (a & ATTR_COLOUR)) a &= ATTR_GLYPH;
  switch (p) {
    case 0:
      a = 0;
      st.colourAttribute = st.s.defaultColour;
      return;
    case 1: a |= ATTR_BOLD; return;
    case 4: a |= ATTR_UNDERLINE; return;
    case 5: a |= ATTR_BLINK; return;
    case 7: a |= ATTR_REVERSE; return;
    case 22: a &= ~ATTR_BOLD; return;
    case 24: a &= ~ATTR_UNDERLINE; return;
    case 25: a &= ~ATTR_BLINK; return;
    case 27: a &= ~ATTR_REVERSE; return;
    default: break;
  }
  if (p >= 30 && p <= 37) {
    if (!(a & ATTR_COLOUR)) a |= 0x07;
    a = static_cast<BYTE>(kAnsiToBgr[p - 30] | (a & 0x78) | 0x80);
  } else if (p >= 40 && p <= 47) {
    if (!(a & ATTR_COLOUR)) a |= 0x07;
    a = static_cast<BYTE>((kAnsiToBgr[p - 40] << 3) | (a & 0x47) | 0x80);
  }
}

void MediaCopy(VtTerminal &t, int p) {
  TERM_STATE &st = t.st;
  switch (p) {
    case 0: PrintScreen(t, !st.s.printExtentRegion, false); break;
    case 4:
      if (st.s.printMode == 2) st.s.printMode = 0;
      break;
    case 5:
      st.s.printMode = 2;
      st.printCount = 0;
      break;
    default: break;
  }
}

void MediaCopyPrivate(VtTerminal &t, int p) {
  TERM_STATE &st = t.st;
  switch (p) {
    case 1: PrintLine(t, st.cursorRow); break;
    case 4:
      if (st.s.printMode == 1) st.s.printMode = 0;
      break;
    case 5:
      if (st.s.printMode == 0) st.s.printMode = 1;
      break;
    default: break;
  }
}

// Designation: the final's code picks the set; anything unknown changes nothing.
void Designate(VtTerminal &t, DWORD code) {
  TERM_STATE &st = t.st;
  BYTE &g = st.gSet[st.designateTarget & 3];
  if (code == 18) {
    g = CS_ASCII;
    return;
  }
  if (code == 12 || code == 1) {
    g = CS_SUPPLEMENTAL;
    return;
  }
  if (code == 0 || code == 2) {
    g = CS_SPECIAL;
    return;
  }
  if (code == st.softFontDesignator) {
    g = CS_SOFT;
    return;
  }
  for (const auto &n : kNationalDesignations) {
    if (n.code == code) {
      g = CS_NATIONAL;
      st.s.nationalLanguage = n.row;
      return;
    }
  }
}

// Adds an intermediate to a designation code; false abandons the sequence.
bool AddIntermediate(TERM_STATE &st) {
  if (st.designationCode > 17) return false;
  st.designationCode = st.designationCode * 17 + (st.currentByte - 0x1F);
  return true;
}

void StartDesignation(TERM_STATE &st, BYTE target) {
  st.designateTarget = target;
  st.designationCode = 0;
}

}  // namespace

// ---------------------------------------------------------------- controls
void Enq(VtTerminal &t) {
  const BYTE *a = t.st.s.answerback;
  SendString(t, a, strnlen(reinterpret_cast<const char *>(a), sizeof t.st.s.answerback));
}
void Bel(VtTerminal &t) {
  if (t.st.s.warningBell && t.display) t.display->Beep();
}
void Bs(VtTerminal &t) {
  if (t.st.cursorCol > 0) t.st.cursorCol = static_cast<BYTE>(std::max(0, t.st.cursorCol - LineUnit(t.st)));
  SyncCursor(t);
}
void Ht(VtTerminal &t) {
  TERM_STATE &st = t.st;
  int unit = LineUnit(st), cols = Columns(st) / unit, col = st.cursorCol / unit + 1;
  while (col < cols - 1 && !st.s.tabStops[col]) ++col;
  st.cursorCol = static_cast<BYTE>(std::min(col, cols - 1) * unit);
  SyncCursor(t);
}
void Lf(VtTerminal &t) { LineFeed(t, true); }
void Cr(VtTerminal &t) { CarriageReturn(t); }
void Ls0(VtTerminal &t) { t.st.glSet = 0; }
void Ls1(VtTerminal &t) { t.st.glSet = 1; }
void Sub(VtTerminal &t) {
  BYTE saved = t.st.currentByte;
  t.st.currentByte = 0x9E;
  PutGraphic(t);
  t.st.currentByte = saved;
}
void Ind(VtTerminal &t) { LineFeed(t, false); }
void Nel(VtTerminal &t) {
  CarriageReturn(t);
  LineFeed(t, false);
}
void Hts(VtTerminal &t) {
  if (!t.st.s.userFeaturesLocked) t.st.s.tabStops[t.st.cursorCol] = 1;
}
void Ri(VtTerminal &t) { ReverseLineFeed(t); }
void Ss2(VtTerminal &t) { SingleShift(t.st, 2); }
void Ss3(VtTerminal &t) { SingleShift(t.st, 3); }

// ---------------------------------------------------------------- parameters
void ClearParams(VtTerminal &t) { vt::ClearParams(t.st); }
void ParamDigit(VtTerminal &t) {
  TERM_STATE &st = t.st;
  if (st.paramIndex >= VT_MAX_PARAMS - 1) return;
  st.params[st.paramIndex] = static_cast<BYTE>(st.params[st.paramIndex] * 10 + (st.currentByte - '0'));
}
void ParamNext(VtTerminal &t) {
  if (t.st.paramIndex < VT_MAX_PARAMS - 1) t.st.paramIndex++;
}

void ScsG0(VtTerminal &t) { StartDesignation(t.st, 0); }
void ScsG1(VtTerminal &t) { StartDesignation(t.st, 1); }
void ScsG2(VtTerminal &t) { StartDesignation(t.st, 2); }
void ScsG3(VtTerminal &t) { StartDesignation(t.st, 3); }
void ScsIntermediate(VtTerminal &t) {
  if (!AddIntermediate(t.st)) t.st.stateEntry = VT_GROUND;
}
void ScsFinal(VtTerminal &t) {
  TERM_STATE &st = t.st;
  Designate(t, st.designationCode * 80 + (st.currentByte - 0x30u));
}

// ---------------------------------------------------------------- escape sequences
void Decid(VtTerminal &t) { DeviceAttributes(t); }
void Deckpam(VtTerminal &t) {
  t.st.s.keypadApp = 1;
  if (t.host) t.host->ApplyKeypad(t.st.s.ansiMode ? 1 : 2);
}
void Deckpnm(VtTerminal &t) {
  t.st.s.keypadApp = 0;
  if (t.host) t.host->ApplyKeypadNumeric();
}
void Decsc(VtTerminal &t) {
  TERM_STATE &st = t.st;
  TERM_SAVED_CURSOR &s = st.savedCursor;
  s.col = static_cast<BYTE>(OnDoubleWidth(st) ? st.cursorCol / 2 : st.cursorCol);
  s.row = st.cursorRow;
  s.autowrap = st.s.autowrap;
  s.attribute = st.s.attribute;
  s.gl = st.glSet;
  s.gr = st.grSet;
  std::memcpy(s.g, st.gSet, 4);
}
void Decrc(VtTerminal &t) {
  TERM_STATE &st = t.st;
  const TERM_SAVED_CURSOR &s = st.savedCursor;
  st.s.autowrap = s.autowrap;
  st.s.attribute = s.attribute;
  st.glSet = s.gl & 3;
  st.grSet = s.gr & 3;
  std::memcpy(st.gSet, s.g, 4);
  // The columns may have changed since DECSC: CursorTo limits the position.
  CursorTo(t, s.row, s.col);
}
void Ris(VtTerminal &t) {
  Decstr(t);
  // Without a set-up file the factory record is the one to return to.
  if (t.st.setupFileName[0]) {
    SetupFileLoad(t);
  } else {
    t.st.s = SetupFactoryRecord();
    t.st.colourAttribute = t.st.s.defaultColour;
    SetupApplyCharset(t);
  }
  ClampCursor(t.st);
  if (t.display) t.display->Resize(Columns(t.st));
  ClearScreen(t);
  if (t.host) {
    t.host->ShowSetupBanner();
    t.host->ReloadKeyMap(t.st.keyMapName);
  }
  SoftFontReset(t.st);
}
void Ls1r(VtTerminal &t) { t.st.grSet = 1; }
void Ls2(VtTerminal &t) { t.st.glSet = 2; }
void Ls2r(VtTerminal &t) { t.st.grSet = 2; }
void Ls3(VtTerminal &t) { t.st.glSet = 3; }
void Ls3r(VtTerminal &t) { t.st.grSet = 3; }
void S7c1t(VtTerminal &t) { t.st.s.eightBit = 0; }
void S8c1t(VtTerminal &t) { t.st.s.eightBit = 1; }
void Decaln(VtTerminal &t) {
  TERM_STATE &st = t.st;
  for (int row = 0; row < st.screenRows; ++row) {
    st.lineAttribute[row] = LINE_SINGLE;
    for (auto &cell : t.screen.cells[row]) cell = {'E', 0};
    PaintRange(t, row, 0, GRID_COLUMNS);
  }
  Home(t);
}
void Decdhl(VtTerminal &t) { Decdwl(t); }
// A line that changes width keeps its characters: to double width each of the
// left half's characters moves to an even cell (line-drawing joins fill the
// cell after it) and the right half is gone; back to single width they close
// up again. The cursor keeps its logical column.
void Decdwl(VtTerminal &t) {
  TERM_STATE &st = t.st;
  if (st.lineAttribute[st.cursorRow] == LINE_DOUBLE) return;
  TERM_CELL *r = t.screen.cells[st.cursorRow];
  const int half = Columns(st) / 2;
  for (int k = half - 1; k >= 0; --k) {
    const TERM_CELL c = r[k];
    r[2 * k] = c;
    r[2 * k + 1] = {static_cast<BYTE>(c.ch >= 0xC6 && c.ch <= 0xCA ? c.ch : 0x20), c.attr};
  }
  for (int col = 2 * half; col < GRID_COLUMNS; ++col) r[col] = {0x20, 0};
  st.lineAttribute[st.cursorRow] = LINE_DOUBLE;
  st.cursorCol = static_cast<BYTE>(DoubleWidthColumn(st, st.cursorCol));
  if (t.display) t.display->RepaintRows(st.cursorRow, st.cursorRow);
  SyncCursor(t);
}
void Decswl(VtTerminal &t) {
  TERM_STATE &st = t.st;
  if (st.lineAttribute[st.cursorRow] == LINE_SINGLE) return;
  TERM_CELL *r = t.screen.cells[st.cursorRow];
  const int half = Columns(st) / 2;
  for (int k = 0; k < half; ++k) r[k] = r[2 * k];
  for (int col = half; col < GRID_COLUMNS; ++col) r[col] = {0x20, 0};
  st.lineAttribute[st.cursorRow] = LINE_SINGLE;
  st.cursorCol = static_cast<BYTE>(st.cursorCol / 2);
  if (t.display) t.display->RepaintRows(st.cursorRow, st.cursorRow);
  SyncCursor(t);
}

// ---------------------------------------------------------------- control sequences
void Cuu(VtTerminal &t) { MoveToRow(t, std::max(t.st.cursorRow - Count(t.st, 0), UpperLimit(t.st))); }
void Cud(VtTerminal &t) { MoveToRow(t, std::min(t.st.cursorRow + Count(t.st, 0), LowerLimit(t.st))); }
void Cuf(VtTerminal &t) {
  TERM_STATE &st = t.st;
  st.cursorCol = static_cast<BYTE>(std::min(st.cursorCol + Count(st, 0) * LineUnit(st), LastColumn(st)));
  SyncCursor(t);
}
void Cub(VtTerminal &t) {
  TERM_STATE &st = t.st;
  st.cursorCol = static_cast<BYTE>(std::max(st.cursorCol - Count(st, 0) * LineUnit(st), 0));
  SyncCursor(t);
}
void Cup(VtTerminal &t) {
  TERM_STATE &st = t.st;
  int row = std::min(Count(st, 0), static_cast<int>(st.screenRows)) - 1;
  int col = std::min(Count(st, 1), Columns(st)) - 1;
  if (st.originMode) row = std::min(row + st.marginTop, static_cast<int>(st.marginBottom));
  CursorTo(t, row, col);
}
void Ed(VtTerminal &t) { EraseDisplay(t, false); }
void El(VtTerminal &t) { EraseLine(t, false); }
void Ich(VtTerminal &t) { InsertBlanks(t, Count(t.st, 0) * LineUnit(t.st)); }
void Dch(VtTerminal &t) {
  TERM_STATE &st = t.st;
  int cols = Columns(st), col = st.cursorCol;
  int n = std::clamp(Count(st, 0) * LineUnit(st), 0, cols - col);
  TERM_CELL *r = t.screen.cells[st.cursorRow];
  std::memmove(r + col, r + col + n, sizeof(TERM_CELL) * (cols - col - n));
  for (int c = cols - n; c < cols; ++c) r[c] = {0x20, 0};
  PaintRange(t, st.cursorRow, col, cols - col);
}
void Ech(VtTerminal &t) {
  TERM_STATE &st = t.st;
  BlankCells(t, st.cursorRow, st.cursorCol, std::min(Count(st, 0) * LineUnit(st), Columns(st) - st.cursorCol));
}
void Il(VtTerminal &t) {
  TERM_STATE &st = t.st;
  if (st.cursorRow < st.marginTop || st.cursorRow > st.marginBottom) return;
  ScrollDown(t, st.cursorRow, st.marginBottom, std::min(Count(st, 0), st.marginBottom - st.cursorRow + 1));
  CarriageReturn(t);
}
void Dl(VtTerminal &t) {
  TERM_STATE &st = t.st;
  if (st.cursorRow < st.marginTop || st.cursorRow > st.marginBottom) return;
  ScrollUp(t, st.cursorRow, st.marginBottom, std::min(Count(st, 0), st.marginBottom - st.cursorRow + 1), false);
  CarriageReturn(t);
}
void Decstbm(VtTerminal &t) {
  TERM_STATE &st = t.st;
  int top = Count(st, 0), bottom = Param(st, 1);
  if (bottom == 0 || bottom > st.screenRows) bottom = st.screenRows;
  if (top >= bottom) return;
  st.marginTop = static_cast<BYTE>(top - 1);
  st.marginBottom = static_cast<BYTE>(bottom - 1);
  Home(t);
}
void Tbc(VtTerminal &t) {
  TERM_STATE &st = t.st;
  if (st.s.userFeaturesLocked) return;
  if (Param(st, 0) == 0)
    st.s.tabStops[st.cursorCol] = 0;
  else if (Param(st, 0) == 3)
    std::memset(st.s.tabStops, 0, sizeof st.s.tabStops);
}
void Sm(VtTerminal &t) { SetAnsiModes(t, true); }
void Rm(VtTerminal &t) { SetAnsiModes(t, false); }
void Sgr(VtTerminal &t) {
  for (int i = 0; i <= t.st.paramIndex; ++i) SgrOne(t.st, t.st.params[i]);
}
void Dsr(VtTerminal &t) {
  TERM_STATE &st = t.st;
  if (Param(st, 0) == 5)
    SendReply(t, "\x1b[0n");
  else if (Param(st, 0) == 6)
    Reply(t, "\x1b[%d;%dR", st.cursorRow + 1, st.cursorCol + 1);
}
void Da(VtTerminal &t) { DeviceAttributes(t); }
void Decll(VtTerminal &t) {
  TERM_STATE &st = t.st;
  for (int i = 0; i <= st.paramIndex; ++i) {
    int p = st.params[i];
    if (p == 0)
      st.leds = 0;
    else if (p <= 4)
      st.leds |= static_cast<BYTE>(1 << (p - 1));
  }
  ShowStatus(t, st.statusTitle);
}
void Decreqtparm(VtTerminal &t) {
  TERM_STATE &st = t.st;
  int p = Param(st, 0);
  if (p > 1) return;
  int parity = !st.s.parityOn ? 1 : st.s.parityEven ? 5 : 4;
  int speed = st.s.speedIndex * 8;
  Reply(t, "\x1b[%d;%d;%d;%d;%d;1;0x", p + 2, parity, 2 - (st.s.eightBit ? 1 : 0), speed, speed);
}
void Mc(VtTerminal &t) { MediaCopy(t, Param(t.st, 0)); }
void Decstr(VtTerminal &t) {
  TERM_STATE &st = t.st;
  st.s.cursorHidden = 0;
  if (t.display) t.display->ShowCursor(true, st.s.cursorStyle);
  st.insertMode = st.originMode = st.s.autowrap = st.s.nationalMode = 0;
  SetCharsetsMultinational(st);
  st.singleShift = 0;
  st.s.keypadApp = 0;
  st.s.cursorKeysApp = 0;
  if (t.host) {
    t.host->ApplyKeypadNumeric();
    t.host->ApplyCursorKeys(1);
  }
  st.marginTop = 0;
  st.marginBottom = static_cast<BYTE>(st.screenRows - 1);
  st.s.attribute = 0;
  Home(t);
  Decsc(t);
}
void Decscl(VtTerminal &t) {
  TERM_STATE &st = t.st;
  int level = Param(st, 0), controls = Param(st, 1);
  if (level == 61)
    st.s.terminalId = 1;
  else if (level == 62 && controls <= 2)
    st.s.terminalId = controls == 1 ? 2 : 4;
  if (st.s.terminalId != 0)
    EnterAnsiMode(t);
  else
    ForEachParam(t, false);
}
void Decsca(VtTerminal &t) {
  TERM_STATE &st = t.st;
  if (st.s.attribute & ATTR_COLOUR) return;
  int p = Param(st, 0);
  if (p == 1)
    st.s.attribute |= ATTR_PROTECTED;
  else if (p == 0 || p == 2)
    st.s.attribute &= ~ATTR_PROTECTED;
}
void Decset(VtTerminal &t) { ForEachParam(t, true); }
void Decrst(VtTerminal &t) { ForEachParam(t, false); }
void Decsed(VtTerminal &t) { EraseDisplay(t, true); }
void Decsel(VtTerminal &t) { EraseLine(t, true); }
void DsrPrivate(VtTerminal &t) {
  TERM_STATE &st = t.st;
  switch (Param(st, 0)) {
    case 15: SendReply(t, "\x1b[?10n"); break;
    case 25: SendReply(t, st.s.udkLocked ? "\x1b[?21n" : "\x1b[?20n"); break;
    case 26: Reply(t, "\x1b[?27;%dn", t.host ? t.host->KeyboardLanguage() : 0); break;
    default: break;
  }
}
void McPrivate(VtTerminal &t) { MediaCopyPrivate(t, Param(t.st, 0)); }
void DaSecondary(VtTerminal &t) {
  if (Param(t.st, 0) == 0) SendReply(t, "\x1b[>1;20;1;2;6;7;8;9c");
}

// ---------------------------------------------------------------- VT52
void Vt52Graphics(VtTerminal &t) {
  t.st.glSet = 0;
  t.st.gSet[0] = CS_SPECIAL;
}
void Vt52Ascii(VtTerminal &t) {
  t.st.glSet = 0;
  t.st.gSet[0] = CS_ASCII;
}
void Vt52Identify(VtTerminal &t) { SendReply(t, "\x1b/Z"); }
void Vt52AnsiMode(VtTerminal &t) { EnterAnsiMode(t); }
void Vt52AutoPrintOn(VtTerminal &t) {
  if (t.st.s.printMode == 0) t.st.s.printMode = 1;
}
void Vt52AutoPrintOff(VtTerminal &t) {
  if (t.st.s.printMode == 1) t.st.s.printMode = 0;
}
void Vt52PrinterOn(VtTerminal &t) {
  t.st.s.printMode = 2;
  t.st.printCount = 0;
}
void Vt52PrinterOff(VtTerminal &t) {
  if (t.st.s.printMode == 2) t.st.s.printMode = 0;
}
void Vt52PrintScreen(VtTerminal &t) { PrintScreen(t, true, true); }
void Vt52PrintLine(VtTerminal &t) { PrintLine(t, t.st.cursorRow); }
void Vt52Row(VtTerminal &t) { t.st.params[0] = static_cast<BYTE>(t.st.currentByte - 31); }
void Vt52Col(VtTerminal &t) {
  t.st.params[1] = static_cast<BYTE>(t.st.currentByte - 31);
  t.st.paramIndex = 1;
  Cup(t);
}

// ---------------------------------------------------------------- mode changes
void ClearParams(TERM_STATE &st) {
  std::memset(st.params, 0, sizeof st.params);
  st.paramIndex = 0;
}

void EnterAnsiMode(VtTerminal &t) {
  TERM_STATE &st = t.st;
  st.stateEntry = VT_GROUND;
  if (st.s.nationalMode)
    SetCharsetsNational(st);
  else
    SetCharsetsMultinational(st);
  st.s.ansiMode = 1;
  if (t.host) {
    t.host->ApplyKeypad(1);
    if (!st.s.keypadApp) t.host->ApplyKeypadNumeric();
    t.host->ApplyCursorKeys(st.s.cursorKeysApp ? 3 : 1);
  }
}

void EnterVt52Mode(VtTerminal &t) {
  TERM_STATE &st = t.st;
  st.stateEntry = VT52_GROUND;
  st.glSet = 0;
  st.gSet[0] = st.gSet[1] = CS_ASCII;
  st.singleShift = 0;
  st.s.ansiMode = 0;
  if (t.host) {
    t.host->ApplyKeypad(2);
    t.host->ApplyCursorKeys(2);
    if (!st.s.keypadApp) t.host->ApplyKeypadNumeric();
  }
}

// ---------------------------------------------------------------- device-control strings
void DcsStart(VtTerminal &t) {
  TERM_STATE &st = t.st;
  st.dcsLength = 0;
  st.designationCode = 0;
  st.udkKeyNumber = -1;
  st.udkCleared = 0;
  vt::ClearParams(st);
}

void DldIntermediate(VtTerminal &t) {
  if (!AddIntermediate(t.st)) t.st.stateEntry = VT_GROUND;
}

void DldStart(VtTerminal &t) {
  TERM_STATE &st = t.st;
  st.softFontDesignator = st.designationCode * 80 + (st.currentByte - 0x30u);
  st.designationCode = 0;
  int pcn = Param(st, 1);
  st.softFontChar = pcn < SOFT_GLYPHS ? pcn + 0x20 : 0x7F;
  int pe = Param(st, 2);
  if (pe == 0 || pe == 2) SoftFontReset(st);
  std::memset(st.glyphAccumulator, 0, sizeof st.glyphAccumulator);
  st.dcsLength = 0;
}

void DldCollect(VtTerminal &t) {
  TERM_STATE &st = t.st;
  if (st.dcsLength < DCS_BUFFER_SIZE) st.dcsBuffer[st.dcsLength++] = st.currentByte;
}

// Sixels of the first 8 collected bytes go into glyph rows first..first+bits-1.
static void OrSixels(TERM_STATE &st, int firstRow, int bits) {
  for (int i = 0; i < 8 && i < st.dcsLength; ++i) {
    int sixel = (st.dcsBuffer[i] - 0x3F) & 0x3F;
    for (int b = 0; b < bits; ++b)
      if (sixel & (1 << b)) st.glyphAccumulator[firstRow + b] |= static_cast<BYTE>(0x80 >> i);
  }
}

void DldUpperEnd(VtTerminal &t) {
  OrSixels(t.st, 1, 6);
  t.st.dcsLength = 0;
}

void DldGlyphEnd(VtTerminal &t) {
  TERM_STATE &st = t.st;
  if (st.dcsLength == 0) return;
  OrSixels(st, 7, 4);
  if (st.softFontChar >= 0x20 && st.softFontChar <= 0x7E)
    std::memcpy(st.softFont[st.softFontChar - 0x20], st.glyphAccumulator, SOFT_GLYPH_ROWS);
  std::memset(st.glyphAccumulator, 0, sizeof st.glyphAccumulator);
  if (st.softFontChar < 0x7F) st.softFontChar++;
  st.dcsLength = 0;
}

void DldFinish(VtTerminal &t) { DldGlyphEnd(t); }

void UdkCollect(VtTerminal &t) { DldCollect(t); }

void UdkKeyEnd(VtTerminal &t) {
  TERM_STATE &st = t.st;
  char text[DCS_BUFFER_SIZE + 1];
  std::memcpy(text, st.dcsBuffer, st.dcsLength);
  text[st.dcsLength] = 0;
  unsigned key = 0;
  st.udkKeyNumber = ParseHex(text, &key) == 1 && key <= 0xFFFF ? static_cast<int>(key) : -1;
  st.dcsLength = 0;
}

int HexDigit(BYTE c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void UdkKeyFinish(VtTerminal &t) {
  TERM_STATE &st = t.st;
  if (!st.s.udkLocked && st.udkKeyNumber >= 0 && t.host) {
    if (Param(st, 0) == 0 && !st.udkCleared) {
      t.host->ClearUserKeys();
      st.udkCleared = 1;
    }
    BYTE bytes[DCS_BUFFER_SIZE / 2];
    size_t n = 0;
    for (int i = 0; i + 1 < st.dcsLength; i += 2) {
      int hi = HexDigit(st.dcsBuffer[i]), lo = HexDigit(st.dcsBuffer[i + 1]);
      if (hi < 0 || lo < 0) break;
      bytes[n++] = static_cast<BYTE>(hi * 16 + lo);
    }
    t.host->DefineUserKey(st.udkKeyNumber, bytes, n);
  }
  st.udkKeyNumber = -1;
  st.dcsLength = 0;
}

void UdkFinish(VtTerminal &t) {
  UdkKeyFinish(t);
  if (Param(t.st, 1) == 0) t.st.s.udkLocked = 1;
}

}  // namespace vt

void TermReset(VtTerminal &t) { vt::Ris(t); }

void SoftFontReset(TERM_STATE &st) {
  static const BYTE kQuestionMark[SOFT_GLYPH_ROWS] = {0x00, 0x7C, 0xC6, 0xC6, 0x60, 0x30, 0x30,
                                                      0x30, 0x00, 0x30, 0x30, 0x00, 0x00, 0x00};
  for (auto &glyph : st.softFont) std::memcpy(glyph, kQuestionMark, SOFT_GLYPH_ROWS);
}

int ParseHex(const char *text, unsigned *value) {
  while (*text == ' ' || *text == '\t' || *text == '\r' || *text == '\n') ++text;
  unsigned v = 0;
  int digits = 0;
  for (; vt::HexDigit(static_cast<BYTE>(*text)) >= 0; ++text, ++digits)
    v = v * 16 + static_cast<unsigned>(vt::HexDigit(static_cast<BYTE>(*text)));
  *value = v;
  return digits ? 1 : 255;
}
