// Public entry points of the VT220/VT52 terminal core: start-up, the byte
// parser, the status line, colours for the display, set-up files and printing.
#ifndef QX_TERMINAL_VT_CORE_H
#define QX_TERMINAL_VT_CORE_H

#include <cstddef>

#include "term_state.h"

// Start-up: the factory record, a blank grid of screenRows (20..45) rows, the
// parser in its ground state. display, host, printer and files may be null.
void TermInit(VtTerminal &t, int screenRows, TermDisplay *display, TermHost *host, TermPrinter *printer,
              TermFiles *files = nullptr);

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
void SendString(VtTerminal &t, const BYTE *text, size_t length);
void SoftFontReset(TERM_STATE &st);
int ParseHex(const char *text, unsigned *value);

// Set-up record and files.
const TERM_SETUP &SetupFactoryRecord();
void AnswerbackConceal(BYTE *answerback);
void AnswerbackReveal(BYTE *answerback);
int SetupFileLoad(VtTerminal &t);
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
