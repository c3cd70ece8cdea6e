// Helpers shared by the grid, the control functions and the parser tables.
// Not for use outside the terminal core.
#ifndef QX_TERMINAL_VT_INTERNAL_H
#define QX_TERMINAL_VT_INTERNAL_H

#include "vt_core.h"

// The parser's state entry: a byte value or a class, the action and the next state.
typedef void (*VT_ACTION)(VtTerminal &t);
struct VT_STATE_ENTRY {
  DWORD match;
  VT_ACTION action;
  const VT_STATE_ENTRY *next;
};

enum : DWORD {
  VT_MATCH_PRINTABLE = 0xF000,  // 0x20..0x7E and 0xA0..0xFF
  VT_MATCH_ANY = 0xF001,
  VT_MATCH_DIGIT = 0xF002,
  VT_MATCH_C0 = 0xF003,
};

extern const VT_STATE_ENTRY VT_GROUND[];
extern const VT_STATE_ENTRY VT_ESCAPE[];
extern const VT_STATE_ENTRY VT_CSI[];
extern const VT_STATE_ENTRY VT_DESIGNATE[];
extern const VT_STATE_ENTRY VT52_GROUND[];
extern const VT_STATE_ENTRY VT52_ESCAPE[];
extern const VT_STATE_ENTRY VT_DLD_DATA[];

namespace vt {

inline int Columns(const TERM_STATE &st) { return st.s.columns == 132 ? 132 : 80; }
inline bool IsDoubleWidth(const TERM_STATE &st, int row) { return st.lineAttribute[row] == LINE_DOUBLE; }
inline bool OnDoubleWidth(const TERM_STATE &st) { return IsDoubleWidth(st, st.cursorRow); }
// Parameter n with 0 meaning "not given": counts default to 1.
inline int Count(const TERM_STATE &st, int i) { return st.params[i] ? st.params[i] : 1; }
// Parameter i when the action sees it (i <= paramIndex), else 0.
inline int Param(const TERM_STATE &st, int i) { return i <= st.paramIndex ? st.params[i] : 0; }

void ClampCursor(TERM_STATE &st);
void PaintRange(VtTerminal &t, int row, int col, int count);
void BlankCells(VtTerminal &t, int row, int col, int count);
void BlankRows(VtTerminal &t, int first, int last);
void ScrollUp(VtTerminal &t, int top, int bottom, int count, bool history);
void ScrollDown(VtTerminal &t, int top, int bottom, int count);
void InsertBlanks(VtTerminal &t, int count);
void CarriageReturn(VtTerminal &t);
void LineFeed(VtTerminal &t, bool newLine);
void ReverseLineFeed(VtTerminal &t);
int DoubleWidthColumn(const TERM_STATE &st, int col);
void CursorTo(VtTerminal &t, int row, int logicalCol);
void MoveToRow(VtTerminal &t, int row);
void ClearParams(TERM_STATE &st);
void EnterAnsiMode(VtTerminal &t);
void EnterVt52Mode(VtTerminal &t);
void SendReply(VtTerminal &t, const char *text);
void PrintLine(VtTerminal &t, int row);
void PrintScreen(VtTerminal &t, bool wholeScreen, bool closeAfter);
bool OpenPrintFile(VtTerminal &t);
void PrinterControllerByte(VtTerminal &t);
int HexDigit(BYTE c);

}  // namespace vt

#endif
