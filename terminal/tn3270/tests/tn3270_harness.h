// A 3270 engine with its callbacks caught: the cells it writes land in a grid
// like the terminal's (46 rows of 132 cells), the records it sends are kept
// one by one, and beeps and the shown cursor are counted. Shared by the unit
// tests, the fuzzer and the screen dumper that is compared with s3270.
#ifndef QX_TERMINAL_TN3270_HARNESS_H
#define QX_TERMINAL_TN3270_HARNESS_H

#include <functional>
#include <string>
#include <vector>

#include "tn3270.h"

class Tn3270Harness {
 public:
  static constexpr int kRows = 46;
  static constexpr int kColumns = 132;

  // A fresh engine of the model (2..5) whose callbacks write into this harness.
  explicit Tn3270Harness(int model = 2);
  ~Tn3270Harness();
  Tn3270Harness(const Tn3270Harness &) = delete;
  Tn3270Harness &operator=(const Tn3270Harness &) = delete;

  // One whole record (end of record), or a batch that does not end one.
  int Record(const std::string &bytes) { return Host(bytes, true); }
  int Host(const std::string &bytes, bool eor);
  // A keyboard string, as the key map hands it over.
  void Keys(const std::string &text);

  // The screen grid as the refresh left it.
  std::string Row(int row) const;  // characters, trailing blanks kept
  unsigned char Attr(int row, int col) const { return cells_[row][col].attr; }
  unsigned char Char(int row, int col) const { return cells_[row][col].ch; }
  // Records sent, each complete with its end of record; pieces without one
  // are appended to the record they belong to. pieces_ counts every call.
  std::vector<std::string> records;
  std::vector<std::string> pieces;
  // Called with every complete record as it is sent, when set.
  std::function<void(const std::string &)> recordSink;
  // Every character written to the row below the screen, in order: operator
  // messages can be read here even where the status text covers them later.
  std::string oiaWrites;
  int beeps = 0;
  int cursorRow = -1, cursorCol = -1;
  int geometryRows = 0, geometryColumns = 0;
  // Highest row and column a cell was written to, for the bound checks.
  int maxCellRow = -1;
  bool cellOutside = false;

  TN3270_ENGINE e;

 private:
  struct Cell {
    unsigned char ch = ' ', attr = 0;
  };
  Cell cells_[kRows][kColumns];
  std::string partial_;
  Tn3270Harness *previous_;

  static Tn3270Harness *current_;
  static void Send(const BYTE *bytes, int ignored, int eor, int count);
  static int CellWrite(int offset, int value, int count);
  static void SetCursor(int row, int column);
  static void Beep();
  static void Geometry(int rows, int columns);
};

// Data stream builders for tests: EBCDIC text from ASCII, a buffer address.
std::string Ebcdic(const std::string &ascii);
std::string Address(int position);
std::string Sba(int position);
std::string Hex(const std::string &bytes);

#endif
