// What the terminal sends and prints: replies and answerback with 7- or 8-bit
// controls, the printer operations, and terminal start-up.
#include <algorithm>
#include <cstring>

#include "vt_actions.h"

void SendString(VtTerminal &t, const BYTE *text, size_t length) {
  static const BYTE kNul = 0;
  if (!t.host) return;
  if (length == 0) {
    t.host->SendBytes(&kNul, 1, true);
    return;
  }
  const TERM_STATE &st = t.st;
  bool eightBitControls = (st.s.terminalId == 4 || st.s.terminalId == 5) && st.s.ansiMode && st.s.eightBit;
  // Each byte may become two (0x9B -> ESC "["); never more.
  BYTE out[2 * 256];
  size_t n = 0;
  length = std::min<size_t>(length, 256);
  for (size_t i = 0; i < length; ++i) {
    BYTE b = text[i];
    if (eightBitControls && b == 0x1B && i + 1 < length && (text[i + 1] == '[' || text[i + 1] == 'O')) {
      out[n++] = text[++i] == '[' ? 0x9B : 0x8F;
    } else if (!eightBitControls && (b == 0x9B || b == 0x8F)) {
      out[n++] = 0x1B;
      out[n++] = b == 0x9B ? '[' : 'O';
    } else {
      out[n++] = b;
    }
  }
  t.host->SendBytes(out, n, text[0] < 0x20);
}

namespace vt {

void SendReply(VtTerminal &t, const char *text) {
  SendString(t, reinterpret_cast<const BYTE *>(text), std::strlen(text));
}

bool OpenPrintFile(VtTerminal &t) {
  if (!t.printer) return false;
  if (t.printer->IsOpen()) return true;
  char name[sizeof t.st.printName + 1];
  std::memcpy(name, t.st.printName, sizeof t.st.printName);
  name[sizeof t.st.printName] = 0;
  return t.printer->Open(name);
}

void PrintLine(VtTerminal &t, int row) {
  const TERM_STATE &st = t.st;
  if (row < 0 || row >= GRID_ROWS || !OpenPrintFile(t)) return;
  const TERM_CELL *r = t.screen.cells[row];
  int last = Columns(st) - 1;
  while (last >= 0 && (r[last].ch == 0x20 || r[last].ch == 0)) --last;
  BYTE line[GRID_COLUMNS + 2];
  int n = 0;
  for (int c = 0; c <= last; ++c) {
    const BYTE ch = PlainCharacter(r[c].ch);
    line[n++] = (ch >= 0x80 && !st.s.print8Bit) ? '_' : ch;
  }
  line[n++] = '\r';
  BYTE b = st.currentByte;
  line[n++] = (b == 0x0B || b == 0x0C) ? b : '\n';
  t.printer->Write(line, n);
}

void PrintScreen(VtTerminal &t, bool wholeScreen, bool closeAfter) {
  const TERM_STATE &st = t.st;
  int first = wholeScreen ? 0 : st.marginTop, last = wholeScreen ? st.screenRows - 1 : st.marginBottom;
  // The line terminator of a printed screen is always CR LF.
  BYTE saved = t.st.currentByte;
  t.st.currentByte = 0;
  for (int row = first; row <= last; ++row) PrintLine(t, row);
  t.st.currentByte = saved;
  if (st.s.printFormFeed && OpenPrintFile(t)) {
    static const BYTE kFormFeed = 0x0C;
    t.printer->Write(&kFormFeed, 1);
  }
  if (closeAfter && t.printer && t.printer->IsOpen()) t.printer->Close();
}

}  // namespace vt

void TermPrintScreen(VtTerminal &t) { vt::PrintScreen(t, !t.st.s.printExtentRegion, t.st.s.printMode == 0); }

// ---------------------------------------------------------------- start-up
void TermInit(VtTerminal &t, int screenRows, TermDisplay *display, TermHost *host, TermPrinter *printer,
              TermFiles *files) {
  std::memset(&t.st, 0, sizeof t.st);
  t.display = display;
  t.host = host;
  t.printer = printer;
  t.files = files;
  TERM_STATE &st = t.st;
  st.s = SetupFactoryRecord();
  std::strcpy(st.printName, "PRN:");
  std::strcpy(st.keyMapName, "VT220AT.KEY");
  st.screenRows =
      static_cast<BYTE>(std::clamp(screenRows, static_cast<int>(MIN_SCREEN_ROWS), static_cast<int>(MAX_SCREEN_ROWS)));
  st.marginTop = 0;
  st.marginBottom = static_cast<BYTE>(st.screenRows - 1);
  st.viewLeft = 0;
  st.viewRight = static_cast<BYTE>(vt::Columns(st) - 1);
  st.colourAttribute = st.s.defaultColour;
  st.marginBellRow = 255;
  st.softFontDesignator = 0xFFFFFFFFu;
  st.udkKeyNumber = -1;
  st.stateEntry = st.s.ansiMode ? VT_GROUND : VT52_GROUND;
  for (auto &row : t.screen.cells)
    for (auto &cell : row) cell = {0x20, 0};
  ResetLineAttributes(t);
  SoftFontReset(st);
  SetupApplyCharset(t);
  vt::Decsc(t);
}
