// The small interfaces through which the terminal core reaches the world: the
// display (told of changed cells, scrolls and the caret), the host side
// (replies, answerback, key-map hooks, messages), the printer and the set-up
// files. The core does no input or output of its own and links no platform
// library; it is usable headless: every call has a do-nothing default.
#ifndef QX_TERMINAL_TERM_INTERFACES_H
#define QX_TERMINAL_TERM_INTERFACES_H

#include <cstddef>
#include <string>

// The terminal window implements this. Rows and columns are grid coordinates;
// the display clips to the columns it shows.
class TermDisplay {
 public:
  virtual ~TermDisplay() = default;
  // Cells [col, col + count) of row changed; their contents are in the grid.
  virtual void PaintCells(int row, int col, int count) {}
  // Rows top..bottom moved by count lines; direction 6 up, 7 down.
  virtual void ScrollRegion(int direction, int count, int top, int bottom) {}
  // Row 0 is about to scroll off the top of the screen (for the history).
  virtual void ScrollBackAppend(int row) {}
  // The caret moved to (row, col).
  virtual void SyncCursor(int row, int col) {}
  // The text cursor is shown or hidden, with the set-up cursor style.
  virtual void ShowCursor(bool shown, int style) {}
  // Rows first..last must be repainted whole (screen mode, line width).
  virtual void RepaintRows(int first, int last) {}
  // The column count changed (DECCOLM, RIS, recall): the window resizes.
  virtual void Resize(int columns) {}
  // BEL with the warning bell on.
  virtual void Beep() {}
  // The window caption to show.
  virtual void SetCaption(const char *text) {}
};

// The session side: where replies go and where key-map state is changed.
class TermHost {
 public:
  virtual ~TermHost() = default;
  // Bytes for the host. raw = 1 when the text starts with a control character
  // (queued unchanged); 0 when it goes through the keyboard's character path.
  virtual void SendBytes(const unsigned char *data, size_t length, bool raw) {}
  // Key-map state changed by the host (keypad and cursor-key modes).
  virtual void ApplyKeypad(int mode) {}
  virtual void ApplyKeypadNumeric() {}
  virtual void ApplyCursorKeys(int mode) {}
  virtual void ApplySetupKeys(int typewriter) {}
  // RIS: reload the key map by its current name and show the Set-Up banner.
  virtual void ReloadKeyMap(const char *name) {}
  virtual void ShowSetupBanner() {}
  // A set-up file message (Set-Up message row or an "Information" box).
  virtual void ShowMessage(const char *text) {}
  // DECUDK: clear every user-defined key, or define one key's string.
  virtual void ClearUserKeys() {}
  virtual void DefineUserKey(int keyNumber, const unsigned char *data, size_t length) {}
  // The keyboard-language byte of the key map, for DSR 26.
  virtual int KeyboardLanguage() { return 0; }
  // Set-Up is shown (messages go to its row) or the connection is in 3270 mode.
  virtual bool In3270Mode() { return false; }
};

// The printer: the print destination opened, appended to and closed.
class TermPrinter {
 public:
  virtual ~TermPrinter() = default;
  virtual bool Open(const char *name) { return false; }
  virtual bool IsOpen() { return false; }
  virtual void Write(const unsigned char *data, size_t length) {}
  virtual void Close() {}
};

// Set-up files: found, read and written by the program with its own file
// calls, so that DOS names and the search path behave as they do everywhere
// else in it. Without it no set-up file is found and none can be saved.
class TermFiles {
 public:
  enum class WriteResult { kWritten, kCannotCreate, kShortWrite };
  virtual ~TermFiles() = default;
  // The name under which an existing set-up file opens (found as given, or
  // for a bare name along the program's search order); empty when none.
  virtual std::string FindSetupFile(const char *name) { return {}; }
  // Up to size bytes from the start of a file FindSetupFile gave: the count
  // read, or -1 when it cannot be opened.
  virtual long ReadSetupFile(const std::string &found, void *buffer, size_t size) { return -1; }
  // The file created (or emptied) and written whole.
  virtual WriteResult WriteSetupFile(const char *name, const void *data, size_t size) {
    return WriteResult::kCannotCreate;
  }
};

#endif
