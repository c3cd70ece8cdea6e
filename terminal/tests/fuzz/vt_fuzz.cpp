// libFuzzer target: any byte stream through the VT parser, the control
// functions and the grid, from a set-up record that may itself be arbitrary
// (after the range checks a loaded set-up file goes through). After each input
// the cursor, margins and parser state must still describe the screen.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "vt_core.h"

namespace {

class NullPrinter : public TermPrinter {
 public:
  bool open = false;
  size_t written = 0;
  bool Open(const char *) override { return open = true; }
  bool IsOpen() override { return open; }
  void Write(const unsigned char *, size_t n) override { written += n; }
  void Close() override { open = false; }
};

class CheckingDisplay : public TermDisplay {
 public:
  void PaintCells(int row, int col, int count) override {
    if (row < 0 || row >= GRID_ROWS || col < 0 || count < 0 || col + count > GRID_COLUMNS) std::abort();
  }
  void ScrollRegion(int, int count, int top, int bottom) override {
    if (top < 0 || bottom >= GRID_ROWS || top > bottom || count <= 0) std::abort();
  }
};

void CheckInvariants(const TERM_STATE &st) {
  int columns = st.s.columns == 132 ? 132 : 80;
  if (st.cursorRow >= st.screenRows || st.cursorCol >= columns) std::abort();
  if (st.marginTop >= st.marginBottom || st.marginBottom >= st.screenRows) std::abort();
  if (st.glSet > 3 || st.grSet > 3 || st.paramIndex >= VT_MAX_PARAMS) std::abort();
  if (st.printCount > 20 || st.dcsLength > DCS_BUFFER_SIZE) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  static auto term = std::make_unique<VtTerminal>();
  CheckingDisplay display;
  TermHost host;
  NullPrinter printer;
  BYTE options = data[0];
  TermInit(*term, MIN_SCREEN_ROWS + (options & 0x1F) % 26, &display, &host, &printer);
  ++data;
  --size;
  if ((options & 0x80) && size >= sizeof(TERM_SETUP)) {
    std::memcpy(&term->st.s, data, sizeof(TERM_SETUP));
    SetupValidateRecord(term->st.s);
    SetupApplyTerminalMode(*term);
    SetupApplyColumns(*term);
    data += sizeof(TERM_SETUP);
    size -= sizeof(TERM_SETUP);
  }
  if (options & 0x40) term->st.s.autowrap = 1;
  VtParseBytes(*term, data, size);
  CheckInvariants(term->st);
  ShowStatus(*term, reinterpret_cast<const char *>(term->st.params));
  return 0;
}
