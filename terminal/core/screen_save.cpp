// The host's screen kept aside while Set-Up draws in the grid: every screen
// row in a compact run-length form, with the line attributes, the cursor and
// the current attribute, so that leaving Set-Up puts all of it back exactly.
//
// Stream: a single cell is {attribute, character}, its attribute having bit 5
// clear or bit 7 set; a run is {0x20 | n >> 8, n & 0xFF, attribute,
// character} for 2..0x1FFF equal cells; {0x20, 0} ends it. Colour cells (bit 7)
// never join a run, so a single cell's attribute never reads as a run header.
#include <algorithm>
#include <cstring>

#include "vt_internal.h"

namespace {

constexpr unsigned kMaxRun = 0x1FFF;  // bit 5 of the first byte marks the run

struct Emitter {
  BYTE *out;
  size_t size = 0;
  void Put(BYTE b) {
    if (out) out[size] = b;
    ++size;
  }
  void Run(const TERM_CELL &cell, unsigned count) {
    if (count == 1) {
      Put(cell.attr);
      Put(cell.ch);
      return;
    }
    Put(static_cast<BYTE>(0x20 | (count >> 8)));
    Put(static_cast<BYTE>(count & 0xFF));
    Put(cell.attr);
    Put(cell.ch);
  }
};

}  // namespace

size_t ScreenEncode(const VtTerminal &t, int rows, int columns, BYTE *out) {
  Emitter e{out};
  rows = std::clamp(rows, 1, GRID_ROWS);
  columns = std::clamp(columns, 1, GRID_COLUMNS);
  TERM_CELL run = t.screen.cells[0][0];
  unsigned count = 0;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c) {
      const TERM_CELL &cell = t.screen.cells[r][c];
      const bool joins =
          count > 0 && cell.ch == run.ch && cell.attr == run.attr && !(cell.attr & ATTR_COLOUR) && count < kMaxRun;
      if (joins) {
        ++count;
        continue;
      }
      if (count) e.Run(run, count);
      run = cell;
      count = 1;
    }
  }
  e.Run(run, count);
  e.Put(0x20);
  e.Put(0x00);
  return e.size;
}

void ScreenDecode(VtTerminal &t, const BYTE *stream, size_t size, int rows, int columns) {
  rows = std::clamp(rows, 1, GRID_ROWS);
  columns = std::clamp(columns, 1, GRID_COLUMNS);
  const int total = rows * columns;
  int cell = 0;
  auto put = [&](BYTE attr, BYTE ch, unsigned count) {
    for (; count > 0 && cell < total; --count, ++cell) t.screen.cells[cell / columns][cell % columns] = {ch, attr};
  };
  size_t i = 0;
  while (i + 1 < size && cell < total) {
    const BYTE first = stream[i];
    if ((first & 0x20) && !(first & 0x80)) {
      const unsigned count = stream[i + 1] | ((first & 0xDFu) << 8);
      if (count == 0 || i + 3 >= size) break;  // the end mark, or a cut stream
      put(stream[i + 2], stream[i + 3], count);
      i += 4;
    } else {
      put(first, stream[i + 1], 1);
      i += 2;
    }
  }
}

void ScreenSave(const VtTerminal &t, TERM_SAVED_SCREEN &saved) {
  const TERM_STATE &st = t.st;
  saved.rows = st.screenRows;
  saved.columns = vt::Columns(st);
  saved.stream.resize(ScreenEncode(t, saved.rows, saved.columns, nullptr));
  ScreenEncode(t, saved.rows, saved.columns, saved.stream.data());
  std::memcpy(saved.lineAttribute, st.lineAttribute, sizeof saved.lineAttribute);
  saved.cursorRow = st.cursorRow;
  saved.cursorCol = st.cursorCol;
  saved.wrapPending = st.wrapPending;
  saved.attribute = st.s.attribute;
  saved.valid = true;
}

void ScreenRestore(VtTerminal &t, TERM_SAVED_SCREEN &saved) {
  TERM_STATE &st = t.st;
  const int rows = st.screenRows, columns = vt::Columns(st);
  if (!saved.valid) {
    vt::BlankRows(t, 0, rows - 1);
    ResetLineAttributes(t);
    st.cursorRow = st.cursorCol = 0;
    st.wrapPending = 0;
    if (t.display) t.display->RepaintRows(0, rows - 1);
    SyncCursor(t);
    return;
  }
  // Decoded with the width it was saved at; a screen saved at 80 columns and
  // shown at 132 gets blanks on the right, like a column change.
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < GRID_COLUMNS; ++c) t.screen.cells[r][c] = {0x20, 0};
  ScreenDecode(t, saved.stream.data(), saved.stream.size(), std::min(rows, saved.rows), saved.columns);
  std::memcpy(st.lineAttribute, saved.lineAttribute, sizeof st.lineAttribute);
  st.lineAttribute[rows] = LINE_SINGLE;
  st.cursorRow = saved.cursorRow;
  st.cursorCol = saved.cursorCol;
  st.s.attribute = saved.attribute;
  vt::ClampCursor(st);
  st.wrapPending = saved.columns == columns ? saved.wrapPending : 0;
  saved = TERM_SAVED_SCREEN{};
  if (t.display) {
    t.display->RepaintRows(0, rows - 1);
    t.display->SyncCursor(st.cursorRow, st.cursorCol);  // keeps the pending wrap
  }
}
