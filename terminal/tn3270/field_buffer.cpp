// The 3270 field buffer: one byte a position, characters in the internal code
// below 0xC0 and field attributes at 0xC0 and above; the searches for fields,
// the changed range, and the refresh that copies the buffer onto the screen
// grid through the cell-write callback, with the cursor, the status text and
// operator messages on the row below the 3270 screen.
#include <array>
#include <cstring>

#include "tn3270.h"

namespace {

// Internal code -> EBCDIC (192 values).
constexpr BYTE kInternalToEbcdic[192] = {
    0x00, 0xCE, 0xCF, 0xDD, 0xDE, 0xDF, 0xED, 0xEE, 0x6E, 0x4C, 0x41, 0x42, 0x5D, 0x4D, 0xD0, 0xC0,  // 0x00
    0x40, 0x7E, 0x7D, 0x7F, 0x61, 0xE0, 0x4F, 0x6A, 0x6F, 0x5A, 0x5B, 0x4A, 0x43, 0x44, 0x45, 0x46,  // 0x10
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0x47, 0x48, 0x7B, 0x7C, 0x6C, 0x6D,  // 0x20
    0x50, 0x60, 0x4B, 0x6B, 0x7A, 0x4E, 0x5F, 0x49, 0x51, 0x52, 0x53, 0xA1, 0x54, 0x79, 0x55, 0x56,  // 0x30
    0x57, 0x58, 0x59, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x70, 0x71, 0x72, 0x73, 0x74,  // 0x40
    0x75, 0x76, 0x77, 0x78, 0x80, 0x8A, 0x8B, 0x8C, 0x8D, 0x8E, 0x8F, 0x90, 0x9A, 0x9B, 0x9C, 0x9D,  // 0x50
    0x9E, 0x9F, 0xA0, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF, 0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6,  // 0x60
    0xB7, 0xB8, 0xB9, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF, 0xCA, 0xCB, 0xCC, 0xCD, 0xDA, 0xDB, 0xDC,  // 0x70
    0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,  // 0x80
    0x98, 0x99, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xE1, 0xEA, 0xEB, 0xEC, 0x1E, 0x1C,  // 0x90
    0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7,  // 0xA0
    0xD8, 0xD9, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xFA, 0xFB, 0xFC, 0xFD, 0x5E, 0x5C,  // 0xB0
};

// Internal code -> the character byte written into the screen grid.
constexpr BYTE kInternalToDisplay[192] = {
    0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x3E, 0x3C, 0x20, 0x20, 0x29, 0x28, 0x7D, 0x7B,  // 0x00
    0x20, 0x3D, 0x27, 0x22, 0x2F, 0x5C, 0x7C, 0x7C, 0x3F, 0x21, 0x24, 0x9B, 0x20, 0x20, 0x20, 0x20,  // 0x10
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x20, 0x20, 0x23, 0x40, 0x25, 0x5F,  // 0x20
    0x26, 0x2D, 0x2E, 0x2C, 0x3A, 0x2B, 0x5E, 0x20, 0x20, 0x20, 0x20, 0x7E, 0x20, 0x60, 0x20, 0x20,  // 0x30
    0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x5E, 0x20, 0x20, 0x20,  // 0x40
    0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,  // 0x50
    0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x5B, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,  // 0x60
    0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x5D, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,  // 0x70
    0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F, 0x70,  // 0x80
    0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x20, 0x20, 0x20, 0x20, 0x3B, 0x2A,  // 0x90
    0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F, 0x50,  // 0xA0
    0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x20, 0x20, 0x20, 0x20, 0x3B, 0x2A,  // 0xB0
};

// EBCDIC -> internal: the inverse of the table above, plus 0xEF (field mark)
// and 0xFE (DUP); control codes and 0xFF are null.
constexpr std::array<BYTE, 256> MakeEbcdicToInternal() {
  std::array<BYTE, 256> t{};
  for (int i = 0; i < 192; ++i) t[kInternalToEbcdic[i]] = (BYTE)i;
  t[0xEF] = IC_FIELD_MARK;
  t[0xFE] = IC_DUP;
  return t;
}
constexpr std::array<BYTE, 256> kEbcdicToInternal = MakeEbcdicToInternal();

// ASCII 0x20..0x7E -> EBCDIC, code page 1047.
constexpr BYTE kAsciiToCp1047[95] = {
    0x40, 0x5A, 0x7F, 0x7B, 0x5B, 0x6C, 0x50, 0x7D, 0x4D, 0x5D, 0x5C, 0x4E, 0x6B, 0x60, 0x4B, 0x61,  // 0x20
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0x7A, 0x5E, 0x4C, 0x7E, 0x6E, 0x6F,  // 0x30
    0x7C, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6,  // 0x40
    0xD7, 0xD8, 0xD9, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xAD, 0xE0, 0xBD, 0x5F, 0x6D,  // 0x50
    0x79, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96,  // 0x60
    0x97, 0x98, 0x99, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xC0, 0x4F, 0xD0, 0xA1,        // 0x70
};

constexpr int kStatusColumn = 31;  // the status text on the row below the screen
constexpr int kStatusLength = 18;
constexpr int kMessageColumn = 10;  // operator messages
constexpr int kMessageBlank = 24;   // cells blanked when a message is taken away

// One cell through the callback, at a position counted from the screen's start.
void WriteCell(TN3270_ENGINE &e, int cell, BYTE character, BYTE attribute) {
  if (e.cellWrite) e.cellWrite(cell * 2, attribute << 8 | character, 1);
}

// The display attribute the characters of a field with these bits get.
BYTE DisplayAttributeOf(const TN3270_ENGINE &e, bool formatted, BYTE bits) {
  if (!formatted) return e.displayAttr[0];
  const bool intensified = (bits & FA_DISPLAY) == FA_INTENSIFIED;
  const int index = ((bits & FA_PROTECTED) ? 2 : 0) + (intensified ? 1 : 0);
  return e.displayAttr[index];
}

BYTE DisplayCharacter(BYTE b, BYTE fieldBits) {
  if ((fieldBits & FA_DISPLAY) == FA_DISPLAY) return 0x20;  // non-display field
  return InternalToDisplay(b);
}

// Writes every position from 0, following the field attributes.
void RefreshWhole(TN3270_ENGINE &e, bool formatted) {
  BYTE bits = FieldBits(e, 0);
  BYTE attribute = DisplayAttributeOf(e, formatted, bits);
  for (int p = 0; p < e.size; ++p) {
    const BYTE b = e.buffer[p];
    if (IsAttribute(b)) {
      bits = b;
      attribute = DisplayAttributeOf(e, formatted, bits);
      WriteCell(e, p, 0x20, e.displayAttr[2]);
      continue;
    }
    WriteCell(e, p, DisplayCharacter(b, bits), attribute);
  }
}

// Writes low..high; false (nothing written) when an attribute lies inside,
// since the fields after it may look different now.
bool RefreshRange(TN3270_ENGINE &e, bool formatted, int low, int high) {
  for (int p = low; p <= high; ++p)
    if (IsAttribute(e.buffer[p])) return false;
  const BYTE bits = FieldBits(e, low);
  const BYTE attribute = DisplayAttributeOf(e, formatted, bits);
  for (int p = low; p <= high; ++p) WriteCell(e, p, DisplayCharacter(e.buffer[p], bits), attribute);
  return true;
}

void DrawStatus(TN3270_ENGINE &e) {
  BYTE text[kStatusLength];
  std::memset(text, ' ', sizeof text);
  text[0] = 'A';
  if (e.systemWait) std::memcpy(text + 2, "XSYS", 4);
  if (e.inputInhibited) {
    text[7] = 'X';
    text[8] = 0x9D;
  }
  text[14] = e.insertMode ? '^' : ' ';
  text[17] = 0x00;
  const int start = e.size + kStatusColumn;
  for (int i = 0; i < kStatusLength && kStatusColumn + i < e.columns; ++i)
    WriteCell(e, start + i, text[i], e.displayAttr[1]);
}

}  // namespace

BYTE InternalToEbcdic(BYTE internal) { return internal < 192 ? kInternalToEbcdic[internal] : 0x40; }
BYTE EbcdicToInternal(BYTE ebcdic) { return kEbcdicToInternal[ebcdic]; }
BYTE InternalToDisplay(BYTE internal) { return internal < 192 ? kInternalToDisplay[internal] : 0x20; }

bool AsciiToEbcdic(BYTE ascii, BYTE &ebcdic) {
  if (ascii == 0x1C || ascii == 0x1E) {
    ebcdic = ascii;
    return true;
  }
  if (ascii < 0x20 || ascii > 0x7E) return false;
  ebcdic = kAsciiToCp1047[ascii - 0x20];
  return true;
}

bool IsAttribute(BYTE b) { return (b & FA_MARK) == FA_MARK; }

bool Formatted(const TN3270_ENGINE &e) {
  for (int p = 0; p < e.size; ++p)
    if (IsAttribute(e.buffer[p])) return true;
  return false;
}

int PrevAttribute(const TN3270_ENGINE &e, int p) {
  for (int i = p - 1; i >= 0; --i)
    if (IsAttribute(e.buffer[i])) return i;
  for (int i = e.size - 1; i > p; --i)
    if (IsAttribute(e.buffer[i])) return i;
  return 0;
}

int NextAttribute(const TN3270_ENGINE &e, int p) {
  for (int i = p + 1; i < e.size; ++i)
    if (IsAttribute(e.buffer[i])) return i;
  for (int i = 0; i < p && i < e.size; ++i)
    if (IsAttribute(e.buffer[i])) return i;
  return 0;
}

int FieldAttributeAt(const TN3270_ENGINE &e, int p) {
  if (p < 0 || p >= e.size) return -1;
  if (IsAttribute(e.buffer[p])) return p;
  const int a = PrevAttribute(e, p);
  return IsAttribute(e.buffer[a]) ? a : -1;
}

BYTE FieldBits(const TN3270_ENGINE &e, int p) {
  const int a = FieldAttributeAt(e, p);
  return a < 0 ? 0 : e.buffer[a];
}

void MarkWholeBuffer(TN3270_ENGINE &e) {
  e.changedLow = 0;
  e.changedHigh = e.size - 1;
}

void CellStore(TN3270_ENGINE &e, int p, BYTE v) {
  if (p < 0 || p >= e.size || e.buffer[p] == v) return;
  if (p < e.changedLow) e.changedLow = p;
  if (p > e.changedHigh) e.changedHigh = p;
  if (IsAttribute(e.buffer[p])) {
    e.buffer[p] = IC_NULL;
    MarkWholeBuffer(e);
  }
  e.buffer[p] = v;
}

void ClearBuffer(TN3270_ENGINE &e) {
  std::memset(e.buffer, 0, sizeof e.buffer);
  e.address = 0;
  e.cursor = 0;
  MarkWholeBuffer(e);
}

void SetMdt(TN3270_ENGINE &e, int p, bool on) {
  const int a = FieldAttributeAt(e, p);
  if (a < 0) return;
  if (on)
    e.buffer[a] |= FA_MDT;
  else
    e.buffer[a] &= (BYTE)~FA_MDT;
}

void ScreenRefresh(TN3270_ENGINE &e) {
  const bool formatted = Formatted(e);
  const bool whole = e.changedLow == 0 && e.changedHigh >= e.size - 1;
  if (e.changedHigh >= e.size) e.changedHigh = e.size - 1;
  if (whole) {
    RefreshWhole(e, formatted);
  } else if (e.changedLow <= e.changedHigh) {
    if (!RefreshRange(e, formatted, e.changedLow, e.changedHigh)) RefreshWhole(e, formatted);
  }
  if (!Tn3270Transparent(e)) e.shownCursor = e.keyboardUnlocked ? e.cursor : e.size - 1;
  if (e.shownCursor >= e.size) e.shownCursor = e.size - 1;
  if (e.hooks.setCursor) e.hooks.setCursor(e.shownCursor / e.columns, e.shownCursor % e.columns);
  e.changedLow = e.size;
  e.changedHigh = -1;
  if (e.oiaRedraw) {
    DrawStatus(e);
    e.oiaRedraw = false;
  }
}

void FullRefresh(TN3270_ENGINE &e) {
  MarkWholeBuffer(e);
  ScreenRefresh(e);
}

void ClearAndRefresh(TN3270_ENGINE &e) {
  ClearBuffer(e);
  ScreenRefresh(e);
}

// The message goes on the row below the screen from column 10; it is cut at
// the end of that row so that it never writes below it.
void OperatorMessage(TN3270_ENGINE &e, const char *text) {
  if (!text) return;
  e.messageShown = true;
  const int start = e.size + kMessageColumn;
  for (int i = 0; text[i] && kMessageColumn + i < e.columns; ++i)
    WriteCell(e, start + i, (BYTE)text[i], e.displayAttr[1]);
  if (e.hooks.beep) e.hooks.beep();
}

void ClearOperatorMessage(TN3270_ENGINE &e) {
  if (!e.messageShown) return;
  e.messageShown = false;
  const int start = e.size + kMessageColumn;
  for (int i = 0; i < kMessageBlank && kMessageColumn + i < e.columns; ++i)
    WriteCell(e, start + i, ' ', e.displayAttr[1]);
}
