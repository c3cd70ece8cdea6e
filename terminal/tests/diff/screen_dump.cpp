// Feeds a recording to the terminal core and prints the screen at each mark,
// for the differential check against a reference emulator. Output per mark:
// "mark N", "cursor ROW COL", "columns C", then one line per screen row: "D "
// for a double-width row or "S ", then the row's character bytes in hex (00 for
// a cell drawn from a glyph table).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "vt_core.h"

namespace {

void DumpScreen(const VtTerminal &t, size_t mark) {
  const TERM_STATE &st = t.st;
  int columns = st.s.columns == 132 ? 132 : 80;
  std::printf("mark %zu\ncursor %d %d\ncolumns %d\n", mark, st.cursorRow, st.cursorCol, columns);
  for (int row = 0; row < st.screenRows; ++row) {
    std::printf("%s ", st.lineAttribute[row] == LINE_DOUBLE ? "D" : "S");
    for (int col = 0; col < columns; ++col) {
      const TERM_CELL &cell = t.screen.cells[row][col];
      std::printf("%02x", (cell.attr & ATTR_GLYPH) ? 0 : cell.ch);
    }
    std::printf("\n");
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s RECORDING.bin RECORDING.marks [autowrap]\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::ifstream marksFile(argv[2]);
  std::vector<size_t> marks;
  for (size_t m; marksFile >> m;) marks.push_back(m);
  if (!in || marks.empty()) {
    std::fprintf(stderr, "cannot read the recording\n");
    return 2;
  }
  auto term = std::make_unique<VtTerminal>();
  TermInit(*term, 24, nullptr, nullptr, nullptr);
  if (argc > 3 && std::strcmp(argv[3], "autowrap") == 0) term->st.s.autowrap = 1;
  size_t done = 0;
  for (size_t mark : marks) {
    mark = std::min(mark, data.size());
    VtParseBytes(*term, reinterpret_cast<const BYTE *>(data.data()) + done, mark - done);
    done = mark;
    DumpScreen(*term, mark);
  }
  return 0;
}
