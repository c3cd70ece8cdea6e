// The 3270 keyboard: byte strings from the key map become key functions
// (a number and a data byte), which wait in a queue while the keyboard is
// locked and then act on the field buffer or send an attention to the host.
// Every walk over the buffer wraps at its end and stops after one revolution.
#include <cstdio>

#include "tn3270.h"

namespace {

// Key function numbers.
enum : int {
  KF_RESET = 2,
  KF_CHARACTER = 13,
  KF_ATTENTION = 19,
  KF_ERASE_EOF = 24,
  KF_DELETE = 25,
  KF_INSERT = 26,
  KF_TAB = 27,
  KF_BACK_TAB = 28,
  KF_NEW_LINE = 29,
  KF_HOME = 30,
  KF_UP = 31,
  KF_DOWN = 32,
  KF_RIGHT = 33,
  KF_LEFT = 34,
  KF_SET_TAB = 37,
  KF_CLEAR_TAB = 38,
  KF_COLUMN_TAB_MARGIN = 41,
  KF_COLUMN_BACK_TAB_MARGIN = 42,
  KF_SET_MARGIN = 43,
  KF_SET_HOME_ROW = 44,
  KF_CLEAR_TABS = 45,
  KF_NOT_IMPLEMENTED = 60,
  KF_REFRESH = 61,
  KF_RESET_REFRESH = 62,
  KF_REFRESH_TRACE = 63,
};

struct KEY_BYTE {
  int byte;
  int function;
  int data;
};

// Single bytes (anything else is a character).
constexpr KEY_BYTE kSingle[] = {
    {0x07, KF_RESET_REFRESH, 0},
    {0x08, KF_HOME, 0},
    {0x09, KF_TAB, 0},
    {0x0A, KF_NEW_LINE, 0},
    {0x0D, KF_ATTENTION, AID_ENTER},
    {0x13, KF_ATTENTION, AID_TEST_REQUEST},
    {0x14, KF_RESET, 0},
    {0x16, KF_REFRESH, 0},
    {0x18, KF_NOT_IMPLEMENTED, 0},
    {0x7F, KF_DELETE, 0},
};

// After ESC.
constexpr KEY_BYTE kAfterEscape[] = {
    {0x09, KF_BACK_TAB, 0},    {'1', KF_ATTENTION, 0xF1}, {'2', KF_ATTENTION, 0xF2}, {'3', KF_ATTENTION, 0xF3},
    {'4', KF_ATTENTION, 0xF4}, {'5', KF_ATTENTION, 0xF5}, {'6', KF_ATTENTION, 0xF6}, {'7', KF_ATTENTION, 0xF7},
    {'8', KF_ATTENTION, 0xF8}, {'9', KF_ATTENTION, 0xF9}, {'0', KF_ATTENTION, 0x7A}, {'-', KF_ATTENTION, 0x7B},
    {'=', KF_ATTENTION, 0x7C}, {'Q', KF_ATTENTION, 0xC1}, {'q', KF_ATTENTION, 0xC1}, {'W', KF_ATTENTION, 0xC2},
    {'w', KF_ATTENTION, 0xC2}, {'E', KF_ATTENTION, 0xC3}, {'e', KF_ATTENTION, 0xC3}, {'R', KF_ATTENTION, 0xC4},
    {'r', KF_ATTENTION, 0xC4}, {'T', KF_ATTENTION, 0xC5}, {'t', KF_ATTENTION, 0xC5}, {'Y', KF_ATTENTION, 0xC6},
    {'y', KF_ATTENTION, 0xC6}, {'U', KF_ATTENTION, 0xC7}, {'u', KF_ATTENTION, 0xC7}, {'I', KF_ATTENTION, 0xC8},
    {'i', KF_ATTENTION, 0xC8}, {'o', KF_ATTENTION, 0xC9}, {'P', KF_ATTENTION, 0x4A}, {'p', KF_ATTENTION, 0x4A},
    {'[', KF_ATTENTION, 0x4B}, {'{', KF_ATTENTION, 0x4B}, {']', KF_ATTENTION, 0x4C}, {'}', KF_ATTENTION, 0x4C},
    {0x7F, KF_ERASE_EOF, 0},
};

// After ESC O.
constexpr KEY_BYTE kAfterEscapeO[] = {
    {'A', KF_UP, 0},
    {'B', KF_DOWN, 0},
    {'C', KF_RIGHT, 0},
    {'D', KF_LEFT, 0},
    {'M', KF_ATTENTION, AID_CLEAR},
    {'P', KF_ATTENTION, 0xF1},
    {'Q', KF_ATTENTION, 0xF2},
    {'R', KF_ATTENTION, 0xF3},
    {'S', KF_ATTENTION, AID_PA1},
    {'m', KF_ATTENTION, AID_PA2},
    {'l', KF_ATTENTION, AID_PA3},
    {'n', KF_INSERT, 0},
    {'w', KF_ATTENTION, 0xF4},
    {'x', KF_ATTENTION, 0xF5},
    {'y', KF_ATTENTION, 0xF6},
    {'t', KF_ATTENTION, 0xF7},
    {'u', KF_ATTENTION, 0xF8},
    {'v', KF_ATTENTION, 0xF9},
    {'q', KF_ATTENTION, 0x7A},
    {'r', KF_ATTENTION, 0x7B},
    {'s', KF_ATTENTION, 0x7C},
};

// After ESC and a backquote.
constexpr KEY_BYTE kAfterEscapeQuote[] = {
    {0x09, KF_SET_TAB, 0},
    {0x7F, KF_CLEAR_TAB, 0},
    {0x0A, KF_SET_MARGIN, 0},
    {0x08, KF_SET_HOME_ROW, 0},
    {'.', KF_REFRESH_TRACE, 0},
    {'A', 54, 0},
    {'a', 53, 0},
    {'m', 55, 0},
    {'p', 56, 0},
    {'P', 57, 0},
    {'q', 65, 0},
};

template <size_t N>
const KEY_BYTE *Find(const KEY_BYTE (&table)[N], int b) {
  for (const KEY_BYTE &k : table)
    if (k.byte == b) return &k;
  return nullptr;
}

// Translates the key at text[i]: the bytes it took (0 when the string ends
// here, because the key is unknown or has no mapping).
int Translate(const BYTE *text, int &function, int &data) {
  data = 0;
  const BYTE b = text[0];
  if (b != 0x1B) {
    if (const KEY_BYTE *k = Find(kSingle, b)) {
      function = k->function;
      data = k->data;
      return 1;
    }
    BYTE ebcdic;
    if (!AsciiToEbcdic(b, ebcdic)) return 0;
    function = KF_CHARACTER;
    data = EbcdicToInternal(ebcdic);
    return 1;
  }
  const BYTE n = text[1];
  if (n == 'O' && text[2]) {
    const KEY_BYTE *k = Find(kAfterEscapeO, text[2]);
    if (!k) return 0;
    function = k->function;
    data = k->data;
    return 3;
  }
  if (n == 0x1B && text[2] == 'O' && (text[3] == 'A' || text[3] == 'B')) {
    function = text[3] == 'A' ? KF_COLUMN_TAB_MARGIN : KF_COLUMN_BACK_TAB_MARGIN;
    return 4;
  }
  if (n == '`') {
    if (text[2] == 0x1B && text[3] == 'O' && text[4] == 'M') {
      function = KF_CLEAR_TABS;
      return 5;
    }
    const KEY_BYTE *k = text[2] ? Find(kAfterEscapeQuote, text[2]) : nullptr;
    if (!k) return 0;
    function = k->function;
    return 3;
  }
  const KEY_BYTE *k = n ? Find(kAfterEscape, n) : nullptr;
  if (!k) return 0;
  function = k->function;
  data = k->data;
  return 2;
}

int Next(const TN3270_ENGINE &e, int p) { return p + 1 >= e.size ? 0 : p + 1; }
int Prev(const TN3270_ENGINE &e, int p) { return p <= 0 ? e.size - 1 : p - 1; }

bool Blank(BYTE b) { return b == IC_NULL || b == IC_SPACE; }

// A position that takes input: a character position of an unprotected field.
bool Enterable(const TN3270_ENGINE &e, int p) { return !IsAttribute(e.buffer[p]) && !(FieldBits(e, p) & FA_PROTECTED); }

void ProtectedField(TN3270_ENGINE &e) { OperatorMessage(e, "Protected Field"); }

void Tab(TN3270_ENGINE &e) {
  if (!Formatted(e)) {
    e.cursor = 0;
    return;
  }
  const int start = IsAttribute(e.buffer[e.cursor]) ? e.cursor : NextAttribute(e, e.cursor);
  int a = start;
  do {
    const int first = Next(e, a);
    if (!(e.buffer[a] & FA_PROTECTED) && !IsAttribute(e.buffer[first])) {
      e.cursor = first;
      return;
    }
    a = NextAttribute(e, a);
  } while (a != start);
  e.cursor = 0;
}

void BackTab(TN3270_ENGINE &e) {
  int p = Prev(e, e.cursor);
  for (int n = 0; n < e.size; ++n, p = Prev(e, p)) {
    if (IsAttribute(e.buffer[Prev(e, p)]) && Enterable(e, p)) {
      e.cursor = p;
      return;
    }
  }
  e.cursor = 0;
}

// From position p, the first enterable position at p or at the first
// position of a following field, once round; -1 when there is none.
int FirstEnterableFrom(const TN3270_ENGINE &e, int p) {
  if (Enterable(e, p)) return p;
  if (!Formatted(e)) return -1;
  const int start = IsAttribute(e.buffer[p]) ? p : NextAttribute(e, p);
  int a = start;
  do {
    const int first = Next(e, a);
    if (Enterable(e, first)) return first;
    a = NextAttribute(e, a);
  } while (a != start);
  return -1;
}

void Home(TN3270_ENGINE &e) {
  int p = e.homeRow * e.columns;
  if (p >= e.size) p = 0;
  const int found = FirstEnterableFrom(e, p);
  e.cursor = found < 0 ? 0 : found;
}

void NewLine(TN3270_ENGINE &e) {
  const int row = e.cursor / e.columns;
  int p = ((row + 1) % e.rows) * e.columns;
  const int own = FieldAttributeAt(e, e.cursor);
  const int ownFirst = own < 0 ? 0 : Next(e, own);
  for (int n = 0; n <= e.size && !Enterable(e, p) && p != ownFirst; ++n)
    p = IsAttribute(e.buffer[p]) ? Next(e, p) : Next(e, NextAttribute(e, p));
  if (!Enterable(e, p)) p = 0;
  const int column = e.cursor % e.columns;
  if (column >= e.margin) {
    const int atMargin = (p / e.columns) * e.columns + e.margin;
    if (atMargin < e.size && Enterable(e, atMargin)) p = atMargin;
  }
  e.cursor = p;
}

// The position after the last one of the cursor's field (its next attribute),
// or the cursor itself when the walk comes round.
void EraseEof(TN3270_ENGINE &e) {
  if (!Enterable(e, e.cursor)) return ProtectedField(e);
  SetMdt(e, e.cursor, true);
  if (!Formatted(e)) {
    for (int p = e.cursor; p < e.size; ++p) CellStore(e, p, IC_NULL);
    return;
  }
  int p = e.cursor;
  do {
    CellStore(e, p, IC_NULL);
    p = Next(e, p);
  } while (p != e.cursor && !IsAttribute(e.buffer[p]));
}

void DeleteChar(TN3270_ENGINE &e) {
  if (!Enterable(e, e.cursor)) return ProtectedField(e);
  SetMdt(e, e.cursor, true);
  int p = e.cursor;
  for (int n = 0; n < e.size; ++n) {
    const int next = Next(e, p);
    if (next == e.cursor || IsAttribute(e.buffer[next])) break;
    CellStore(e, p, e.buffer[next]);
    p = next;
  }
  CellStore(e, p, IC_NULL);
}

void ColumnTab(TN3270_ENGINE &e, int direction) {
  auto stop = [&](int c) { return c < TN_TAB_COLUMNS && e.tabStops[c]; };
  int column = e.cursor % e.columns + direction;
  if (direction > 0) {
    while (column < e.columns && !stop(column)) ++column;
    if (column >= e.columns) column = e.columns - 1;
  } else {
    while (column >= 0 && !stop(column)) --column;
    if (column < 0) column = 0;
  }
  e.cursor = (e.cursor / e.columns) * e.columns + column;
}

void SetTabStop(TN3270_ENGINE &e, bool on) {
  const int column = e.cursor % e.columns;
  if (column < TN_TAB_COLUMNS) e.tabStops[column] = on ? 1 : 0;
}

void InsertToggle(TN3270_ENGINE &e) {
  e.insertMode = !e.insertMode;
  e.oiaRedraw = true;
}

void ResetKey(TN3270_ENGINE &e) {
  if (!e.insertMode) return;
  e.insertMode = false;
  e.oiaRedraw = true;
}

void Attention(TN3270_ENGINE &e, int aid) {
  if (aid == AID_CLEAR) ClearAndRefresh(e);
  e.inputInhibited = e.systemWait = true;
  e.insertMode = false;
  e.oiaRedraw = true;
  e.keyboardUnlocked = false;
  e.aid = aid;
  e.aidPending = true;
  SendPendingAid(e);
}

void TraceRefresh(TN3270_ENGINE &e) {
  std::fputs("\r\n", stderr);
  std::fputs("In suspend\n", stderr);
  std::fputs("In setconnmode\n", stderr);
  FullRefresh(e);
}

// Runs a key function on an unlocked keyboard.
void Run(TN3270_ENGINE &e, int data, int f) {
  const int size = e.size;
  switch (f) {
    case KF_RESET: ResetKey(e); break;
    case KF_CHARACTER: CharEntry(e, (BYTE)data, e.insertMode); break;
    case KF_ATTENTION: Attention(e, data); break;
    case KF_ERASE_EOF: EraseEof(e); break;
    case KF_DELETE: DeleteChar(e); break;
    case KF_INSERT: InsertToggle(e); break;
    case KF_TAB: Tab(e); break;
    case KF_BACK_TAB: BackTab(e); break;
    case KF_NEW_LINE: NewLine(e); break;
    case KF_HOME: Home(e); break;
    case KF_UP: e.cursor = (size + e.cursor - e.columns) % size; break;
    case KF_DOWN: e.cursor = (e.cursor + e.columns) % size; break;
    case KF_RIGHT: e.cursor = Next(e, e.cursor); break;
    case KF_LEFT: e.cursor = Prev(e, e.cursor); break;
    case KF_SET_TAB: SetTabStop(e, true); break;
    case KF_CLEAR_TAB: SetTabStop(e, false); break;
    case KF_COLUMN_TAB_MARGIN:
      ColumnTab(e, 1);
      e.margin = e.cursor % e.columns;
      break;
    case KF_COLUMN_BACK_TAB_MARGIN:
      ColumnTab(e, -1);
      e.margin = e.cursor % e.columns;
      break;
    case KF_SET_MARGIN: e.margin = e.cursor % e.columns; break;
    case KF_SET_HOME_ROW: e.homeRow = e.cursor / e.columns; break;
    case KF_CLEAR_TABS:
      for (BYTE &t : e.tabStops) t = 0;
      e.homeRow = e.margin = 0;
      break;
    case KF_REFRESH: FullRefresh(e); break;
    case KF_RESET_REFRESH:
      ResetKey(e);
      FullRefresh(e);
      break;
    case KF_REFRESH_TRACE: TraceRefresh(e); break;
    default: OperatorMessage(e, "Function not implemented"); break;
  }
}

bool IsReset(int f) { return f == KF_RESET || f == KF_RESET_REFRESH; }

void Enqueue(TN3270_ENGINE &e, int function, int data) {
  // Reset is the user's way out of a locked keyboard: it goes ahead of the
  // keys typed while locked, which it throws away.
  if (IsReset(function)) e.keyRead = e.keyWrite = e.keyCount = 0;
  if (e.keyCount >= TN_KEY_QUEUE_SIZE) {
    if (e.hooks.beep) e.hooks.beep();
    return;
  }
  e.keys[e.keyWrite] = {function, data};
  e.keyWrite = (e.keyWrite + 1) % TN_KEY_QUEUE_SIZE;
  ++e.keyCount;
}

}  // namespace

void CharEntry(TN3270_ENGINE &e, BYTE c, bool insert) {
  if (!Enterable(e, e.cursor)) return ProtectedField(e);
  if (insert) {
    int last = Formatted(e) ? Prev(e, NextAttribute(e, e.cursor)) : e.size - 1;
    if (!Blank(e.buffer[last])) {
      OperatorMessage(e, "No more room for insert");
      return;
    }
    for (int p = last; p != e.cursor; p = Prev(e, p)) CellStore(e, p, e.buffer[Prev(e, p)]);
  }
  CellStore(e, e.cursor, c);
  SetMdt(e, e.cursor, true);
  e.cursor = Next(e, e.cursor);
  const BYTE here = e.buffer[e.cursor];
  if (!IsAttribute(here)) return;
  if ((here & (FA_PROTECTED | FA_NUMERIC)) == (FA_PROTECTED | FA_NUMERIC)) return Tab(e);
  if (IsAttribute(e.buffer[Next(e, e.cursor)]) || (here & FA_PROTECTED)) return;
  Tab(e);
}

int KeyFunction(TN3270_ENGINE &e, int data, int f) {
  if (!e.keyboardUnlocked || e.aidPending) {
    if (e.aidPending) SendPendingAid(e);
    if (!e.aidPending && e.outWrite == e.outStart && IsReset(f)) {
      e.keyboardUnlocked = true;
      e.inputInhibited = e.systemWait = false;
      e.oiaRedraw = true;
    }
    if (!e.keyboardUnlocked) return 0;
  }
  if (Tn3270Transparent(e)) {
    if (!IsReset(f) && f != KF_ATTENTION) return 0;
    if (IsReset(f)) e.keyboardUnlocked = true;
  }
  Run(e, data, f);
  return 1;
}

void KeyQueueDrain(TN3270_ENGINE &e) {
  while (e.keyCount > 0) {
    const KEY_QUEUE_ENTRY k = e.keys[e.keyRead];
    if (!KeyFunction(e, k.data, k.function)) break;
    e.keyRead = (e.keyRead + 1) % TN_KEY_QUEUE_SIZE;
    --e.keyCount;
  }
}

void Tn3270Keys(TN3270_ENGINE &e, const char *text) {
  ClearOperatorMessage(e);
  const BYTE *p = (const BYTE *)(text ? text : "");
  while (*p) {
    int function, data;
    const int used = Translate(p, function, data);
    if (used == 0) break;  // an unknown key ends the string
    p += used;
    Enqueue(e, function, data);
    KeyQueueDrain(e);
  }
  ScreenRefresh(e);
}
