// Test harness of the terminal core: a terminal with recording display, host
// and printer, and the named fields that golden scripts set and check.
#ifndef QX_TERMINAL_TESTS_TERM_HARNESS_H
#define QX_TERMINAL_TESTS_TERM_HARNESS_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "vt_core.h"

class RecordingHost : public TermHost {
 public:
  std::string replies;
  std::string messages;
  std::string calls;  // key-map hooks and user-defined keys, as text
  void SendBytes(const unsigned char *data, size_t length, bool raw) override {
    replies.append(reinterpret_cast<const char *>(data), length);
  }
  void ApplyKeypad(int mode) override { calls += "keypad" + std::to_string(mode) + " "; }
  void ApplyKeypadNumeric() override { calls += "numeric "; }
  void ApplyCursorKeys(int mode) override { calls += "cursor" + std::to_string(mode) + " "; }
  void ShowMessage(const char *text) override { messages += std::string(text) + "\n"; }
  void ClearUserKeys() override { calls += "udkclear "; }
  void DefineUserKey(int key, const unsigned char *data, size_t length) override {
    calls += "udk" + std::to_string(key) + "=" + std::string(reinterpret_cast<const char *>(data), length) + " ";
  }
};

class RecordingPrinter : public TermPrinter {
 public:
  std::string output;
  bool open = false;
  int opens = 0, closes = 0;
  bool Open(const char *) override {
    open = true;
    ++opens;
    return true;
  }
  bool IsOpen() override { return open; }
  void Write(const unsigned char *data, size_t length) override {
    output.append(reinterpret_cast<const char *>(data), length);
  }
  void Close() override {
    open = false;
    ++closes;
  }
};

// The display records the largest cell index it was told about, so that
// tests can see that no notification leaves the grid.
class RecordingDisplay : public TermDisplay {
 public:
  int paints = 0, scrolls = 0, resizes = 0, beeps = 0;
  bool outOfGrid = false;
  void PaintCells(int row, int col, int count) override {
    ++paints;
    if (row < 0 || row >= GRID_ROWS || col < 0 || count < 0 || col + count > GRID_COLUMNS) outOfGrid = true;
  }
  void ScrollRegion(int, int, int top, int bottom) override {
    ++scrolls;
    if (top < 0 || bottom >= GRID_ROWS) outOfGrid = true;
  }
  void Resize(int) override { ++resizes; }
  void Beep() override { ++beeps; }
};

struct TestTerminal {
  RecordingDisplay display;
  RecordingHost host;
  RecordingPrinter printer;
  std::unique_ptr<VtTerminal> term = std::make_unique<VtTerminal>();
  explicit TestTerminal(int rows = 24, TermFiles *files = nullptr) {
    TermInit(*term, rows, &display, &host, &printer, files);
  }
  void Push(const std::string &bytes) {
    VtParseBytes(*term, reinterpret_cast<const BYTE *>(bytes.data()), bytes.size());
  }
  std::string RowText(int row) const;
  TERM_STATE &st() { return term->st; }
};

// Named byte fields of the state block (and of its set-up record); "tab:N" is
// tab stop N, "g0".."g3" the designations.
BYTE *FieldByName(TERM_STATE &st, const std::string &name);

// C-style escapes: \e \r \n \t \b \a \0 \\ \" \xNN.
std::string Unescape(const std::string &text);
std::string Escape(const std::string &bytes);

#endif
