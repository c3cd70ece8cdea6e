// The binding between a telnet session and the 3270 engine: host bytes are
// collected into records and handed to the engine at IAC EOR (or when the
// 1024-byte record buffer is full), keyboard strings reach the engine, the
// engine's outbound records go into the session's one output queue, and the
// cells it writes land in the terminal's screen grid, of which only the rows
// written are repainted.
#include <cstring>
#include <memory>

#include "tn3270.h"
#include "vtconsole.h"

int g_Tn3270Model = 2;

namespace {

Tn3270EntryProc g_Entry = nullptr;  // the engine's entry, stored by Tn3270Install

struct BINDING {
  std::unique_ptr<TN3270_RECORD> record;  // held while the session is in 3270 mode
  int slot = -1;
  int changedLow = 100, changedHigh = 0;  // screen rows written since the last repaint
  int vtRows = 24;                        // the VT screen to go back to
  BYTE vtColumns = 80;
};
BINDING g_Binding;

// Display attributes: protected-intensified 3, protected-normal 2,
// unprotected-intensified 1, unprotected-normal 0 (bold + underline,
// underline, bold, plain in the grid's attribute bits).
constexpr int kProtectedAttributes = 0x0302;
constexpr int kUnprotectedAttributes = 0x0100;

void ResetChangedRows() {
  g_Binding.changedLow = 100;
  g_Binding.changedHigh = 0;
}

void RepaintChangedRows() {
  if (g_Binding.changedLow == 100) return;
  if (g_Term->display) g_Term->display->RepaintRows(g_Binding.changedLow, g_Binding.changedHigh);
  ResetChangedRows();
}

int Tn3270CellWrite(int offset, int value, int count) {
  TERM_STATE &st = g_Term->st;
  const int columns = st.s.columns == 132 ? 132 : 80;
  for (int i = 0; i < count; ++i, offset += 2) {
    const int row = offset / (columns * 2);
    const int column = (offset - row * columns * 2) / 2;
    // The operator information line is the row just below the 3270 screen;
    // nothing is written below it.
    if (row < 0 || row > st.screenRows || row >= GRID_ROWS || column < 0 || column >= GRID_COLUMNS) continue;
    g_Term->screen.cells[row][column] = TERM_CELL{(BYTE)(value & 0xFF), (BYTE)(value >> 8)};
    if (row < g_Binding.changedLow) g_Binding.changedLow = row;
    if (row > g_Binding.changedHigh) g_Binding.changedHigh = row;
  }
  return offset;
}

void Tn3270SetCursor(int row, int column) {
  g_Term->st.cursorRow = (BYTE)row;
  g_Term->st.cursorCol = (BYTE)column;
  SyncCursor(*g_Term);
}

void Tn3270Beep() { MessageBeep(0); }

// Blanks the whole grid, the status line included.
void BlankGrid() {
  for (auto &row : g_Term->screen.cells)
    for (TERM_CELL &cell : row) cell = TERM_CELL{' ', 0};
}

// The screen takes the 3270 geometry (Erase/Write and Erase/Write Alternate).
void SetGeometry(int rows, int columns) {
  g_Term->st.screenRows = (BYTE)rows;
  g_Term->st.s.columns = (BYTE)columns;
  BlankGrid();
  TermFitScreen();
}

void Tn3270SendRecord(const BYTE *bytes, int ignored, int eor, int count) {
  SESSION &s = g_Session;
  if (s.sock == INVALID_SOCKET || count < 0) return;
  TelnetEncodeRecord(bytes, (size_t)count, eor != 0, s.out);
  SessionFlush();
}

int ParseThroughEntry(const BYTE *bytes, int count, int eor) {
  return g_Entry((void *)bytes, 0, 0, count, 0, TN3270_OP_HOSTDATA << 8 | (eor ? 1 : 0));
}
const Tn3270ParseProc kParse = ParseThroughEntry;

void Tn3270SetParams(int slot) {
  g_Entry(nullptr, 0, kProtectedAttributes, slot, kUnprotectedAttributes, TN3270_OP_PARAMS << 8);
}

}  // namespace

bool Tn3270Start() {
  // A host asks for end-of-record and for binary, each of which starts 3270
  // mode: the second start finds the session already holding its record
  // buffer and slot.
  if (g_Binding.record) return true;
  if (!g_Tn3270.installed) {
    Tn3270Install(&g_Entry, Tn3270CellWrite);
    g_Entry(reinterpret_cast<void *>(Tn3270SendRecord), 0, 0, 0, 0, TN3270_OP_SETSEND << 8);
    g_Tn3270.installed = true;
  }
  g_Tn3270.hooks.setCursor = Tn3270SetCursor;
  g_Tn3270.hooks.beep = Tn3270Beep;
  g_Tn3270.hooks.geometry = SetGeometry;
  Tn3270SetAlternate(g_Tn3270, g_Tn3270Model);
  const int slot = Tn3270TakeSlot(g_Tn3270);
  if (slot < 0) return false;
  g_Binding.record = std::make_unique<TN3270_RECORD>();
  g_Binding.slot = slot;
  // The VT screen comes back when the session leaves 3270 mode.
  g_Binding.vtRows = g_Term->st.screenRows;
  g_Binding.vtColumns = g_Term->st.s.columns;
  // Every 3270 session begins on a clear 24 x 80 screen.
  g_Tn3270.rows = 24;
  g_Tn3270.columns = 80;
  g_Tn3270.size = 1920;
  EngineReset(g_Tn3270);
  SetGeometry(24, 80);
  Tn3270SetParams(slot);
  // The cursor keys send ESC O A..D, the strings the 3270 keyboard moves the
  // cursor with, whatever mode the VT host left them in.
  KeyMapApplyCursorKeys(g_KeyMap, 3);
  return true;
}

void Tn3270Stop() {
  if (!g_Binding.record) return;
  g_Binding.record.reset();
  Tn3270FreeSlot(g_Tn3270, g_Binding.slot);
  g_Entry(nullptr, 0, 0, g_Binding.slot, 0, TN3270_OP_RESET << 8);
  g_Binding.slot = -1;
  TERM_STATE &st = g_Term->st;
  st.screenRows = (BYTE)g_Binding.vtRows;
  st.s.columns = g_Binding.vtColumns;
  if (st.cursorRow >= st.screenRows) st.cursorRow = (BYTE)(st.screenRows - 1);
  if (st.cursorCol >= st.s.columns) st.cursorCol = (BYTE)(st.s.columns - 1);
  KeyMapApplyModes(g_KeyMap, st.s);
  TermFitScreen();
}

bool Tn3270Active() { return g_Binding.record != nullptr; }

void Tn3270SessionParams() {
  if (g_Binding.record) Tn3270SetParams(g_Binding.slot);
}

void Tn3270HostByte(unsigned char b) {
  if (!g_Binding.record) return;
  ResetChangedRows();
  Tn3270RecordByte(*g_Binding.record, b, kParse);
  RepaintChangedRows();
}

void Tn3270HostData(int eor) {
  if (!g_Binding.record) return;  // IAC EOR outside 3270 mode means nothing
  ResetChangedRows();
  Tn3270RecordHand(*g_Binding.record, eor, kParse);
  RepaintChangedRows();
}

void Tn3270SendKeys(const char *text) {
  if (!g_Binding.record) return;
  ResetChangedRows();
  g_Entry((void *)text, 0, 0, 0, 0, TN3270_OP_KEYS << 8);
  RepaintChangedRows();
}

void Tn3270SendKey(unsigned char b) {
  const char text[2] = {(char)b, '\0'};
  Tn3270SendKeys(text);
}
