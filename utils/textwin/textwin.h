/* The text output window shared by the utilities (the finger and LPD queue
 * clients print the server's answer into it; ping keeps only its placement):
 * 80 columns by 25 rows of fixed-pitch cells, a 24-line scroll-back ring
 * above a bottom line that never scrolls. One window per process, so all the
 * state is module-level. Bytes are stored as they come; 0x80-0xFF are drawn
 * through the fixed font's ANSI code page (Windows-1252).
 *
 * A person can select cells with the mouse (drag, or Shift+click to extend)
 * and copy them as text with Ctrl+C or Ctrl+Insert. */
#ifndef QX_UTILS_TEXTWIN_H
#define QX_UTILS_TEXTWIN_H

#include <windows.h>

#include <string>

#define TEXTWIN_COLUMNS 80
#define TEXTWIN_ROWS 25
#define TEXTWIN_RING_LINES 24
#define TEXTWIN_BOTTOM_ROW 24

typedef struct TEXTWIN_CREATE {
  LPCSTR className; /* also the window title */
  HINSTANCE instance;
  HINSTANCE prevInstance; /* non-null: the class is already registered */
  LPCSTR iconName;
  LPCSTR menuName; /* also the QXAPPS.INI section of the placement */
  int x;           /* -1: take the saved placement */
  int y;
  int showCommand;
  WNDPROC windowProc; /* the program's own procedure; it calls TextWinProc first */
  int talkForm;       /* nonzero: the talk screen (caret, wrap, LF as CR LF) */
} TEXTWIN_CREATE;

HWND TextWinCreate(TEXTWIN_CREATE create);
/* Handles the text window's own messages; the caller goes on with its own
 * handling (DefWindowProc included) whatever this did. */
void TextWinProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
/* Prints a NUL-terminated string at the cursor (BS, HT, LF, CR interpreted;
 * no wrap: bytes past column 79 are dropped). Returns 1. */
int TextWinPrint(LPCSTR text);
/* Moves the cursor; 0 with nothing changed when off the grid. In the talk
 * form the view scrolls to show the cursor and the caret follows it. */
int TextWinSetCursor(int row, int column);

/* ---- The talk form ----
 * The talk clients' screen: a block caret on the cursor while the window has
 * the focus, a byte stored in column 79 wraps to column 0 of the next row,
 * and LF starts the next row at column 0. */

/* Makes the caret (one cell wide, the cell's height less 2) at the cursor. */
void TextWinPlaceCaret(BOOL show);
/* Blanks the cursor's row from the cursor to its end; the cursor stays. */
void TalkClearToEol(void);
void TextWinSavePlacement(HWND window);
void TextWinLoadPlacement(int *x, int *y, int *width, int *height, LPCSTR section);
/* The QXAPPS.INI the placement was read from (found along the search path,
 * else made in the current directory); the programs keep their lists there. */
LPCSTR TextWinIniPath(void);
/* Background COLOR_WINDOW, text COLOR_WINDOWTEXT; again on WM_SYSCOLORCHANGE. */
void TextWinSysColors(void);

/* What the window holds, for copying and for the program's tests: row 0..23
 * is ring row (0 oldest, 23 newest), 24 the bottom line; 80 bytes, blanks
 * where nothing was written. "" for a row off the grid. */
std::string TextWinRowText(int row);
/* The selected text, lines joined by CR LF, trailing blanks of each line cut;
 * "" when nothing is selected. */
std::string TextWinSelectedText(void);
/* Selects from (row, column) up to, not including, (row2, column2), rows as
 * for TextWinRowText, columns 0..80; what a mouse drag does. */
void TextWinSelect(int row, int column, int row2, int column2);
/* Copies the selection to the clipboard as CF_TEXT; FALSE when nothing is
 * selected or the clipboard could not be opened. */
BOOL TextWinCopy(HWND window);

/* Positions, for the program's tests: the cursor, the vertical position V
 * (23: the newest line just above the bottom line) and the horizontal one. */
void TextWinGetCursor(int *row, int *column);
int TextWinVPos(void);
int TextWinHPos(void);

#endif
