// Public entry points of the VT220/VT52 terminal core: start-up, the byte
// parser, the status line, colours for the display, set-up files and printing.
#ifndef QX_TERMINAL_VT_CORE_H
#define QX_TERMINAL_VT_CORE_H

#include <cstddef>
#include <vector>

#include "term_state.h"

// Start-up: the factory record, a blank grid of screenRows (20..45) rows, the
// parser in its ground state. display, host, printer and files may be null.
void TermInit(VtTerminal &t, int screenRows, TermDisplay *display, TermHost *host, TermPrinter *printer,
              TermFiles *files = nullptr);

// The terminal reset (RIS), as Set-Up's Reset Terminal asks for it.
void TermReset(VtTerminal &t);

// The parser: one received byte (already stored in currentByte), or a block.
void VtParseByte(VtTerminal &t);
void VtParseBytes(VtTerminal &t, const BYTE *data, size_t length);

// Screen operations that other parts of the terminal call.
void PutGraphic(VtTerminal &t);
void SyncCursor(VtTerminal &t);
void WriteText(VtTerminal &t, int row, int col, const char *text, BYTE attribute);
void ShowStatus(VtTerminal &t, const char *title);
void ResetLineAttributes(VtTerminal &t);
BYTE CellColour(const TERM_STATE &st, BYTE attribute);
// A cell's character as text leaving the screen: the DEC graphics drawn with
// glyphs of their own become their nearest code-page character.
BYTE PlainCharacter(BYTE ch);
void SendString(VtTerminal &t, const BYTE *text, size_t length);
// The Print Screen key: the screen or the scrolling region, as the print
// extent says. The print file is closed afterwards, so the page is complete,
// unless the printer is logging (auto print or printer controller).
void TermPrintScreen(VtTerminal &t);
void SoftFontReset(TERM_STATE &st);
int ParseHex(const char *text, unsigned *value);
// A typed multinational character in the national set of a language (0..12).
BYTE NationalKeyChar(int language, BYTE ch);

// The host's screen kept while Set-Up uses the grid: cells of every screen
// row in run-length form, line attributes, cursor and current attribute.
struct TERM_SAVED_SCREEN {
  std::vector<BYTE> stream;
  int rows = 0, columns = 0;
  BYTE lineAttribute[GRID_ROWS] = {};
  BYTE cursorRow = 0, cursorCol = 0, wrapPending = 0, attribute = 0;
  bool valid = false;
};
// The stream's size; written to out when out is not null.
size_t ScreenEncode(const VtTerminal &t, int rows, int columns, BYTE *out);
void ScreenDecode(VtTerminal &t, const BYTE *stream, size_t size, int rows, int columns);
void ScreenSave(const VtTerminal &t, TERM_SAVED_SCREEN &saved);
// Puts the saved screen back (and forgets it); with none saved, blank rows.
void ScreenRestore(VtTerminal &t, TERM_SAVED_SCREEN &saved);

// Set-up record and files.
const TERM_SETUP &SetupFactoryRecord();
void AnswerbackConceal(BYTE *answerback);
void AnswerbackReveal(BYTE *answerback);
int SetupFileLoad(VtTerminal &t);
// The key-map name a program starts with ("IBM.KEY" for a 3270 terminal): in
// force, and kept when a set-up file to load is missing.
void SetupStartKeyMapName(VtTerminal &t, const char *name);
int SetupFileSave(VtTerminal &t, const char *name);
int SetupRecall(VtTerminal &t, const char *name);
void SetupDefault(VtTerminal &t);
void SetupApplyCharset(VtTerminal &t);
void SetupApplyCursorKeys(VtTerminal &t);
void SetupApplyKeypad(VtTerminal &t);
void SetupApplyKeyboardMode(VtTerminal &t);
void SetupApplyTerminalMode(VtTerminal &t);
void SetupApplyColumns(VtTerminal &t);
void SetupValidateRecord(TERM_SETUP &s);

#endif
