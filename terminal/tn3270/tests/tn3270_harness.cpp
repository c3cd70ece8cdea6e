// The caught callbacks of Tn3270Harness.
#include "tn3270_harness.h"

#include <cstdio>

Tn3270Harness *Tn3270Harness::current_ = nullptr;

Tn3270Harness::Tn3270Harness(int model) : previous_(current_) {
  current_ = this;
  e.send = Send;
  e.cellWrite = CellWrite;
  e.hooks.setCursor = SetCursor;
  e.hooks.beep = Beep;
  e.hooks.geometry = Geometry;
  e.rows = 24;
  e.columns = 80;
  e.size = 1920;
  Tn3270SetAlternate(e, model);
  EngineReset(e);
}

Tn3270Harness::~Tn3270Harness() { current_ = previous_; }

int Tn3270Harness::Host(const std::string &bytes, bool eor) {
  current_ = this;
  return Tn3270Dispatch(e, (void *)bytes.data(), 0, (int)bytes.size(), 0, TN3270_OP_HOSTDATA << 8 | (eor ? 1 : 0));
}

void Tn3270Harness::Keys(const std::string &text) {
  current_ = this;
  Tn3270Dispatch(e, (void *)text.c_str(), 0, 0, 0, TN3270_OP_KEYS << 8);
}

std::string Tn3270Harness::Row(int row) const {
  std::string text;
  for (int c = 0; c < e.columns; ++c) text.push_back((char)cells_[row][c].ch);
  return text;
}

void Tn3270Harness::Send(const BYTE *bytes, int, int eor, int count) {
  Tn3270Harness &h = *current_;
  h.pieces.emplace_back((const char *)bytes, (size_t)count);
  h.partial_.append((const char *)bytes, (size_t)count);
  if (!eor) return;
  h.records.push_back(h.partial_);
  h.partial_.clear();
  if (h.recordSink) h.recordSink(h.records.back());
}

int Tn3270Harness::CellWrite(int offset, int value, int count) {
  Tn3270Harness &h = *current_;
  const int columns = h.e.columns;
  for (int i = 0; i < count; ++i, offset += 2) {
    const int row = offset / (columns * 2);
    const int col = (offset - row * columns * 2) / 2;
    // The operator information line is the row below the screen; nothing may
    // be written below it or past the screen's columns.
    if (row < 0 || row > h.e.rows || col < 0 || col >= columns || row >= kRows) {
      h.cellOutside = true;
      continue;
    }
    if (row > h.maxCellRow) h.maxCellRow = row;
    if (row == h.e.rows) h.oiaWrites.push_back((char)(value & 0xFF));
    h.cells_[row][col].ch = (unsigned char)(value & 0xFF);
    h.cells_[row][col].attr = (unsigned char)(value >> 8);
  }
  return offset;
}

void Tn3270Harness::SetCursor(int row, int column) {
  current_->cursorRow = row;
  current_->cursorCol = column;
}

void Tn3270Harness::Beep() { ++current_->beeps; }

void Tn3270Harness::Geometry(int rows, int columns) {
  current_->geometryRows = rows;
  current_->geometryColumns = columns;
}

std::string Ebcdic(const std::string &ascii) {
  std::string out;
  for (unsigned char c : ascii) {
    BYTE b = 0x40;
    AsciiToEbcdic(c, b);
    out.push_back((char)b);
  }
  return out;
}

std::string Address(int position) { return std::string{(char)AddressCode(position >> 6), (char)AddressCode(position)}; }

std::string Sba(int position) { return "\x11" + Address(position); }

std::string Hex(const std::string &bytes) {
  std::string out;
  char two[4];
  for (unsigned char b : bytes) {
    std::snprintf(two, sizeof two, "%02X", b);
    out += two;
  }
  return out;
}
