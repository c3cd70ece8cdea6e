// The terminal window: cells to pixels, painting rows as runs of one
// attribute, the caret on the cursor cell, changed cells collected and drawn
// when the session runs out of data, the scroll-back history, mouse
// selection, and a window sized to whole cells.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "vtconsole.h"

WNDPROC TermWindowProcedure();

namespace {

constexpr int kFonts = 9;
constexpr int kDefaultFont = 4;
constexpr int kHistoryRows = 200;

const char *const kFaceNames[kFonts] = {"DEC-4x6",  "DEC-5x12",  "DEC-6x8",   "DEC-7x12", "DEC-8x14",
                                        "DEC-9x16", "DEC-10x18", "DEC-10x24", "DEC-12x32"};

using HistoryRow = std::array<TERM_CELL, GRID_COLUMNS>;

// The pictures of displayed controls (glyph cells 0x80..0xBF: C0 then C1) are
// two small letters, the first at the top left, the second at the bottom right.
const char kControlPictures[64][3] = {"NU", "SH", "SX", "EX", "ET", "EQ", "AK", "BL", "BS", "HT", "LF", "VT", "FF",
                                      "CR", "SO", "SI", "DL", "D1", "D2", "D3", "D4", "NK", "SY", "EB", "CN", "EM",
                                      "SB", "EC", "FS", "GS", "RS", "US", "PA", "HO", "BH", "NH", "IN", "NL", "SA",
                                      "EA", "HS", "HJ", "VS", "PD", "PU", "RI", "S2", "S3", "DC", "P1", "P2", "SE",
                                      "CC", "MW", "SP", "EP", "SO", "SG", "SC", "CS", "ST", "OS", "PM", "AC"};

// Letters A..Z and digits 0..4 of 3 x 5 dots, bit 14 the top left dot.
const unsigned short kMiniLetters[31] = {0x2BED, 0x6BAE, 0x3923, 0x6B6E, 0x79A7, 0x79A4, 0x396B, 0x5BED,
                                         0x7497, 0x126A, 0x5BAD, 0x4927, 0x5FED, 0x6B6D, 0x2B6A, 0x6BA4,
                                         0x2B73, 0x6BAD, 0x388E, 0x7492, 0x5B6F, 0x5B6A, 0x5BFD, 0x5AAD,
                                         0x5A92, 0x72A7, 0x7B6F, 0x2C97, 0x62A7, 0x628E, 0x5BC9};

unsigned short MiniLetter(char c) {
  if (c >= 'A' && c <= 'Z') return kMiniLetters[c - 'A'];
  if (c >= '0' && c <= '4') return kMiniLetters[26 + c - '0'];
  return 0;
}

// A cell position: row (negative rows are history, -1 the newest) and column.
struct CELL_POS {
  int row, col;
  bool operator<(const CELL_POS &o) const { return row != o.row ? row < o.row : col < o.col; }
  bool operator==(const CELL_POS &o) const { return row == o.row && col == o.col; }
};

}  // namespace

class TermWindow : public TermDisplay {
 public:
  HWND hwnd = nullptr;
  HFONT fonts[kFonts] = {};
  HFONT boldFonts[kFonts] = {};  // the same faces at weight 700: bold cells are drawn thicker
  int font = kDefaultFont;
  int cellW = 8, cellH = 14;
  int visibleRows = 25, visibleCols = 80;
  // What the last SnapWindow settled on: the frame's size and the cells it shows.
  SIZE snappedOuter{};
  int snappedRows = 0, snappedCols = 0;
  int viewBack = 0;  // lines scrolled back into the history
  int viewLeft = 0;  // first visible column
  // Cells changed since the last refresh (grid rows, inclusive).
  int dirtyTop = 30000, dirtyBottom = -1;
  bool caretMoved = true;
  bool cursorShown = true;
  int cursorStyle = 0;
  bool hasFocus = false;
  int jumpScroll = 2;
  // Scroll-back history: a ring of rows, the newest at next - 1.
  std::vector<HistoryRow> history;
  int historyNext = 0, historyCount = 0;
  bool historyOn = false;
  // Mouse selection: 0 none, 1 being dragged, 2 made.
  int selState = 0;
  CELL_POS selStart{0, 0}, selEnd{0, 0};

  int Rows() const { return g_Term->st.screenRows; }
  int Columns() const { return g_Term->st.s.columns == 132 ? 132 : 80; }

  // ---- TermDisplay
  void PaintCells(int row, int col, int count) override { MarkRows(row, row); }
  void ScrollRegion(int direction, int count, int top, int bottom) override { MarkRows(top, bottom); }
  void ScrollBackAppend(int row) override {
    if (!historyOn) return;
    if (history.empty()) history.assign(kHistoryRows, HistoryRow{});
    std::memcpy(history[historyNext].data(), g_Term->screen.cells[row], sizeof(HistoryRow));
    historyNext = (historyNext + 1) % kHistoryRows;
    if (historyCount < kHistoryRows) ++historyCount;
    if (selState) ShiftSelection();
  }
  void SyncCursor(int row, int col) override { caretMoved = true; }
  void ShowCursor(bool shown, int style) override {
    cursorShown = shown;
    cursorStyle = style;
    PlaceCaret(true);
  }
  void RepaintRows(int first, int last) override { MarkRows(first, last); }
  void Resize(int columns) override { Layout(); }
  void Beep() override { MessageBeep(0); }
  void SetCaption(const char *text) override {
    if (hwnd) SetWindowTextA(hwnd, text);
  }

  void MarkRows(int top, int bottom) {
    dirtyTop = std::min(dirtyTop, top);
    dirtyBottom = std::max(dirtyBottom, bottom);
  }

  // The history row `back` lines above the screen (1 = newest).
  const TERM_CELL *HistoryCells(int back) const {
    if (back < 1 || back > historyCount) return nullptr;
    const int slot = ((historyNext - back) % kHistoryRows + kHistoryRows) % kHistoryRows;
    return history[slot].data();
  }
  const TERM_CELL *RowCells(int row) const { return row >= 0 ? g_Term->screen.cells[row] : HistoryCells(-row); }

  // A new history row moves the selected history cells up by one.
  void ShiftSelection() {
    if (selStart.row < 0 || selEnd.row < 0) {
      selStart.row -= selStart.row < 0 ? 1 : 0;
      selEnd.row -= selEnd.row < 0 ? 1 : 0;
    }
  }

  // ---- geometry
  void MeasureFont() {
    HDC dc = GetDC(hwnd);
    HGDIOBJ old = SelectObject(dc, fonts[font]);
    TEXTMETRICA tm{};
    GetTextMetricsA(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(hwnd, dc);
    cellW = std::max(1, (int)tm.tmMaxCharWidth);
    cellH = std::max(1, (int)(tm.tmHeight + tm.tmExternalLeading));
  }

  // How far the view goes back: through the whole history, plus the screen rows
  // above the window when the window is shorter than the screen and status line.
  int MaxBack() const { return historyCount + std::max(0, Rows() + 1 - visibleRows); }

  void UpdateScrollBars() {
    const int totalRows = Rows() + 1;
    if (historyCount > 0 || visibleRows < totalRows) {
      SetScrollRange(hwnd, SB_VERT, 0, MaxBack(), FALSE);
      SetScrollPos(hwnd, SB_VERT, MaxBack() - viewBack, TRUE);
    } else {
      SetScrollRange(hwnd, SB_VERT, 0, 0, TRUE);
    }
    const int extra = std::max(0, Columns() - visibleCols);
    SetScrollRange(hwnd, SB_HORZ, 0, extra, FALSE);
    SetScrollPos(hwnd, SB_HORZ, viewLeft, TRUE);
  }

  void ClampView() {
    viewBack = std::clamp(viewBack, 0, MaxBack());
    viewLeft = std::clamp(viewLeft, 0, std::max(0, Columns() - visibleCols));
  }

  // The window's size for whole cells, at most the whole screen. When the
  // frame kept its size and only a scroll bar came or went (132 columns in a
  // window 80 wide), the window keeps the rows and columns it showed and grows
  // or shrinks by the bar: rounding the client alone would drop a row, as the
  // bar is taller than half a cell.
  void SnapWindow() {
    RECT client;
    GetClientRect(hwnd, &client);
    const SIZE outer = OuterSize();
    int wantCols, wantRows;
    if (snappedCols > 0 && outer.cx == snappedOuter.cx && outer.cy == snappedOuter.cy) {
      wantCols = std::min(snappedCols, Columns());
      wantRows = std::min(snappedRows, Rows() + 1);
    } else {
      wantCols = std::clamp((int)(client.right + cellW / 2) / cellW, 1, Columns());
      wantRows = std::clamp((int)(client.bottom + cellH / 2) / cellH, 1, Rows() + 1);
    }
    if (client.right != wantCols * cellW || client.bottom != wantRows * cellH)
      ResizeClient(wantCols * cellW, wantRows * cellH);
    snappedCols = wantCols;
    snappedRows = wantRows;
    snappedOuter = OuterSize();
  }

  SIZE OuterSize() const {
    RECT window;
    GetWindowRect(hwnd, &window);
    return SIZE{window.right - window.left, window.bottom - window.top};
  }

  // Frame, caption, menu and scroll bars as they are now, around the client area.
  SIZE FrameExtra() const {
    RECT window, client;
    GetWindowRect(hwnd, &window);
    GetClientRect(hwnd, &client);
    return SIZE{(window.right - window.left) - client.right, (window.bottom - window.top) - client.bottom};
  }

  void ResizeClient(int width, int height) {
    const SIZE extra = FrameExtra();
    SetWindowPos(hwnd, nullptr, 0, 0, width + extra.cx, height + extra.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  void Layout() {
    if (!hwnd) return;
    MeasureFont();
    RECT client;
    GetClientRect(hwnd, &client);
    visibleRows = std::max(1, (int)client.bottom / cellH);
    visibleCols = std::max(1, (int)client.right / cellW);
    ClampView();
    SnapWindow();
    UpdateScrollBars();
    g_Term->st.viewLeft = (BYTE)viewLeft;
    g_Term->st.viewRight = (BYTE)std::min(Columns() - 1, viewLeft + visibleCols - 1);
    InvalidateRect(hwnd, nullptr, FALSE);
    PlaceCaret(true);
  }

  // Window row of a grid row (rows below 0 are history).
  int WindowRow(int row) const {
    const int firstShown = Rows() + 1 - visibleRows - viewBack;
    return row - firstShown;
  }
  int GridRow(int windowRow) const { return windowRow + Rows() + 1 - visibleRows - viewBack; }

  void PlaceCaret(bool recreate) {
    if (!hwnd || !hasFocus) return;
    if (recreate) {
      DestroyCaret();
      CreateCaret(hwnd, nullptr, cellW, cursorStyle ? cellH : 2);
    }
    const int wr = WindowRow(g_Term->st.cursorRow);
    const int x = (g_Term->st.cursorCol - viewLeft) * cellW;
    const int y = wr * cellH + (cursorStyle ? 0 : cellH - 2);
    SetCaretPos(x, y);
    if (cursorShown && !g_Term->st.s.cursorHidden)
      ShowCaret(hwnd);
    else
      HideCaret(hwnd);
    caretMoved = false;
  }

  // ---- painting
  bool Selected(int row, int col) const {
    if (selState == 0) return false;
    CELL_POS a = selStart, b = selEnd;
    if (b < a) std::swap(a, b);
    const CELL_POS p{row, col};
    return !(p < a) && !(b < p);
  }

  // A cell's colours at full intensity. Bold (bit 7 of the colour byte) is
  // shown as a VT220 shows it, by thicker characters (PaintRow), not by a
  // halved colour: halving turned bold text grey, fainter than plain text.
  void Colours(BYTE attr, bool selected, COLORREF &fg, COLORREF &bg) const {
    BYTE c = CellColour(g_Term->st, attr);
    if (selected) c = (BYTE)(((c & 0x07) << 4) | ((c & 0x70) >> 4) | (c & 0x80));
    fg = RGB((c & 4) ? 255 : 0, (c & 2) ? 255 : 0, (c & 1) ? 255 : 0);
    bg = RGB((c & 0x40) ? 255 : 0, (c & 0x20) ? 255 : 0, (c & 0x10) ? 255 : 0);
  }
  bool Bold(BYTE attr) const { return (CellColour(g_Term->st, attr) & 0x80) != 0; }

  // A glyph cell: a down-line-loaded soft-font character (below 128), drawn
  // from its 14 scan lines of 8 dots fitted into the cell; a control picture
  // (0x80..0xBF) as its two letters; anything else as a framed cell.
  void PaintGlyph(HDC dc, int x, int y, const TERM_CELL &cell, bool selected) {
    COLORREF fg, bg;
    Colours(cell.attr, selected, fg, bg);
    RECT r{x, y, x + cellW, y + cellH};
    HBRUSH back = CreateSolidBrush(bg);
    FillRect(dc, &r, back);
    DeleteObject(back);
    HBRUSH ink = CreateSolidBrush(fg);
    if (cell.ch >= 0x20 && cell.ch < 0x7F) {
      const BYTE *lines = g_Term->st.softFont[cell.ch - 0x20];
      for (int py = 0; py < cellH; ++py) {
        const BYTE line = lines[std::min(SOFT_GLYPH_ROWS - 1, py * SOFT_GLYPH_ROWS / cellH)];
        for (int px = 0; px < cellW;) {
          const bool on = line & (0x80 >> std::min(7, px * 8 / cellW));
          int end = px + 1;
          while (end < cellW && ((line & (0x80 >> std::min(7, end * 8 / cellW))) != 0) == on) ++end;
          if (on) {
            RECT dots{x + px, y + py, x + end, y + py + 1};
            FillRect(dc, &dots, ink);
          }
          px = end;
        }
      }
    } else if (cell.ch >= 0x80 && cell.ch < 0xC0) {
      PaintControlPicture(dc, x, y, kControlPictures[cell.ch - 0x80], ink);
    } else {
      RECT frame{x, y + 1, x + cellW - 1, y + cellH - 1};
      FrameRect(dc, &frame, ink);
    }
    DeleteObject(ink);
  }

  void PaintControlPicture(HDC dc, int x, int y, const char *letters, HBRUSH ink) {
    const int scale = std::max(1, std::min(cellW / 6, cellH / 10));
    const bool both = cellW >= 6 && cellH >= 10;
    const POINT at[2] = {{x, y}, {x + cellW - 3 * scale, y + cellH - 5 * scale}};
    for (int i = 0; i < (both ? 2 : 1); ++i) {
      const unsigned short dots = MiniLetter(letters[i]);
      for (int dy = 0; dy < 5; ++dy)
        for (int dx = 0; dx < 3; ++dx)
          if (dots & (0x4000 >> (dy * 3 + dx))) {
            RECT r{at[i].x + dx * scale, at[i].y + dy * scale, at[i].x + (dx + 1) * scale, at[i].y + (dy + 1) * scale};
            FillRect(dc, &r, ink);
          }
    }
  }

  void PaintRow(HDC dc, int windowRow) {
    const int row = GridRow(windowRow);
    const int y = windowRow * cellH;
    const TERM_CELL *cells = row <= Rows() ? RowCells(row) : nullptr;
    const int lastCol = std::min(Columns(), viewLeft + visibleCols + 1);
    if (!cells) {
      RECT r{0, y, (lastCol - viewLeft) * cellW, y + cellH};
      HBRUSH black = (HBRUSH)GetStockObject(BLACK_BRUSH);
      FillRect(dc, &r, black);
      return;
    }
    char text[GRID_COLUMNS];
    int col = viewLeft;
    while (col < lastCol) {
      const BYTE attr = cells[col].attr;
      const bool sel = Selected(row, col);
      if (attr & ATTR_GLYPH) {
        PaintGlyph(dc, (col - viewLeft) * cellW, y, cells[col], sel);
        ++col;
        continue;
      }
      int end = col;
      while (end < lastCol && cells[end].attr == attr && !(attr & ATTR_GLYPH) && Selected(row, end) == sel) {
        text[end - col] = cells[end].ch ? (char)cells[end].ch : ' ';
        ++end;
      }
      COLORREF fg, bg;
      Colours(attr, sel, fg, bg);
      SetTextColor(dc, fg);
      SetBkColor(dc, bg);
      SelectObject(dc, Bold(attr) ? boldFonts[font] : fonts[font]);
      TextOutA(dc, (col - viewLeft) * cellW, y, text, end - col);
      col = end;
    }
  }

  void Paint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    HGDIOBJ old = SelectObject(dc, fonts[font]);
    SetBkMode(dc, OPAQUE);
    const int first = std::max(0, (int)ps.rcPaint.top / cellH);
    const int last = std::min(visibleRows, (int)(ps.rcPaint.bottom + cellH - 1) / cellH);
    for (int wr = first; wr < last; ++wr) PaintRow(dc, wr);
    // Pixels right of the last column and below the last row.
    RECT client;
    GetClientRect(hwnd, &client);
    HBRUSH black = (HBRUSH)GetStockObject(BLACK_BRUSH);
    RECT right{(Columns() - viewLeft) * cellW, 0, client.right, client.bottom};
    if (right.left < right.right) FillRect(dc, &right, black);
    RECT below{0, visibleRows * cellH, client.right, client.bottom};
    if (below.top < below.bottom) FillRect(dc, &below, black);
    SelectObject(dc, old);
    EndPaint(hwnd, &ps);
  }

  // Draws what changed since the last refresh and keeps the cursor in view.
  void Refresh() {
    if (!hwnd) return;
    if (viewBack != 0 && dirtyBottom >= 0) {
      // Output while scrolled back brings the view home, as typing does.
      viewBack = 0;
      UpdateScrollBars();
      InvalidateRect(hwnd, nullptr, FALSE);
    }
    if (dirtyBottom >= 0) {
      const int top = std::max(0, WindowRow(dirtyTop));
      const int bottom = std::min(visibleRows, WindowRow(dirtyBottom) + 1);
      if (top < bottom) {
        RECT r{0, top * cellH, visibleCols * cellW + cellW, bottom * cellH};
        InvalidateRect(hwnd, &r, FALSE);
      }
      dirtyTop = 30000;
      dirtyBottom = -1;
      if (historyOn) UpdateScrollBars();
    }
    if (caretMoved) {
      const int col = g_Term->st.cursorCol;
      if (col < viewLeft || col >= viewLeft + visibleCols) {
        viewLeft = std::clamp(col - visibleCols / 2, 0, std::max(0, Columns() - visibleCols));
        g_Term->st.viewLeft = (BYTE)viewLeft;
        g_Term->st.viewRight = (BYTE)std::min(Columns() - 1, viewLeft + visibleCols - 1);
        UpdateScrollBars();
        InvalidateRect(hwnd, nullptr, FALSE);
      }
      PlaceCaret(false);
    }
    UpdateWindow(hwnd);
  }

  // ---- scrolling the view
  void ScrollView(int bar, int code, int thumb) {
    if (bar == SB_VERT) {
      int back = viewBack;
      switch (code) {
        case SB_LINEUP: ++back; break;
        case SB_LINEDOWN: --back; break;
        case SB_PAGEUP: back += 5; break;
        case SB_PAGEDOWN: back -= 5; break;
        case SB_THUMBPOSITION:
        case SB_THUMBTRACK: back = MaxBack() - thumb; break;
        default: return;
      }
      viewBack = std::clamp(back, 0, MaxBack());
    } else {
      int left = viewLeft;
      switch (code) {
        case SB_LINELEFT: --left; break;
        case SB_LINERIGHT: ++left; break;
        case SB_PAGELEFT: left -= 10; break;
        case SB_PAGERIGHT: left += 10; break;
        case SB_THUMBPOSITION:
        case SB_THUMBTRACK: left = thumb; break;
        default: return;
      }
      viewLeft = std::clamp(left, 0, std::max(0, Columns() - visibleCols));
      g_Term->st.viewLeft = (BYTE)viewLeft;
      g_Term->st.viewRight = (BYTE)std::min(Columns() - 1, viewLeft + visibleCols - 1);
    }
    UpdateScrollBars();
    InvalidateRect(hwnd, nullptr, FALSE);
    PlaceCaret(false);
  }

  // ---- selection
  CELL_POS CellAt(LPARAM lParam) const {
    const int x = (short)LOWORD(lParam);
    const int y = (short)HIWORD(lParam);
    CELL_POS p{GridRow(std::max(0, y) / cellH), viewLeft + std::max(0, x) / cellW};
    p.row = std::clamp(p.row, -historyCount, Rows() - 1);
    p.col = std::clamp(p.col, 0, Columns() - 1);
    return p;
  }

  void ClearSelection() {
    if (selState == 0) return;
    selState = 0;
    InvalidateRect(hwnd, nullptr, FALSE);
    EnableMenuItem(GetMenu(hwnd), IDM_COPY, MF_BYCOMMAND | MF_GRAYED);
  }

  std::string SelectionText() const {
    if (selState != 2) return "";
    CELL_POS a = selStart, b = selEnd;
    if (b < a) std::swap(a, b);
    std::string text;
    for (int row = a.row; row <= b.row; ++row) {
      const TERM_CELL *cells = RowCells(row);
      const int from = row == a.row ? a.col : 0;
      const int to = row == b.row ? b.col : Columns() - 1;
      std::string line;
      for (int col = from; cells && col <= to; ++col)
        line.push_back(cells[col].ch ? (char)PlainCharacter(cells[col].ch) : ' ');
      while (!line.empty() && line.back() == ' ') line.pop_back();
      text += line;
      text += "\r\n";
      if (text.size() > 32000) break;
    }
    if (text.size() > 32000) text.resize(32000);
    return text;
  }

  void Mouse(UINT message, LPARAM lParam) {
    switch (message) {
      case WM_LBUTTONDOWN:
        ClearSelection();
        selStart = selEnd = CellAt(lParam);
        selState = 1;
        SetCapture(hwnd);
        break;
      case WM_MOUSEMOVE:
        if (selState == 1) {
          const CELL_POS p = CellAt(lParam);
          if (!(p == selEnd)) {
            selEnd = p;
            InvalidateRect(hwnd, nullptr, FALSE);
          }
        }
        break;
      case WM_LBUTTONUP:
        if (selState != 1) break;
        ReleaseCapture();
        if (selStart == selEnd) {
          ClearSelection();
        } else {
          selState = 2;
          EnableMenuItem(GetMenu(hwnd), IDM_COPY, MF_BYCOMMAND | MF_ENABLED);
        }
        InvalidateRect(hwnd, nullptr, FALSE);
        break;
      case WM_RBUTTONDOWN:
        if (selState == 2) {
          TermCopySelection();
          ClearSelection();
        }
        TermPasteClipboard();
        break;
      case WM_MBUTTONDOWN: TermCopySelection(); break;
    }
  }
};

TermWindow *g_Display;

namespace {

void CreateFonts(TermWindow &w) {
  AddFontResourceA("QXFONT.FON");
  for (int i = 0; i < kFonts; ++i) {
    LOGFONTA lf{};
    lf.lfWeight = i == 2 ? 700 : 400;
    lf.lfCharSet = 0;
    lf.lfPitchAndFamily = FIXED_PITCH | (i < 8 ? FF_MODERN : 0);
    std::snprintf(lf.lfFaceName, sizeof lf.lfFaceName, "%s", kFaceNames[i]);
    w.fonts[i] = CreateFontIndirectA(&lf);
    lf.lfWeight = 700;
    w.boldFonts[i] = CreateFontIndirectA(&lf);
  }
}

}  // namespace

bool TermWindowCreate(const char *title, int show) {
  const char *className = g_Start.mode3270 ? "QX3270" : g_Start.rlogin ? "QXRLOGIN" : "QX220";
  WNDCLASSA wc{};
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = TermWindowProcedure();
  wc.hInstance = g_Instance;
  wc.hCursor = LoadCursorA(nullptr, IDC_IBEAM);
  wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
  wc.lpszMenuName = "QX220";
  wc.lpszClassName = className;
  if (!RegisterClassA(&wc)) return false;

  g_Display = new TermWindow;
  TermWindow &w = *g_Display;
  w.historyOn = GetPrivateProfileIntA(kSection, "History", 0, g_IniFile) != 0;
  int font = GetPrivateProfileIntA(kSection, "Font", kDefaultFont, g_IniFile);
  w.font = font < 0 || font >= kFonts ? kDefaultFont : font;
  int x = CW_USEDEFAULT, y = show, cx = CW_USEDEFAULT, cy = 0;
  ReadWindowPlacement(&x, &y, &cx, &cy);
  CreateFonts(w);

  g_Term->display = &w;
  HWND hwnd = CreateWindowA(className, title, WS_OVERLAPPEDWINDOW | WS_VSCROLL | WS_HSCROLL, x, y, cx, cy, nullptr,
                            nullptr, g_Instance, nullptr);
  if (!hwnd) return false;
  g_MainWindow = w.hwnd = hwnd;
  // The scroll bars show only once the screen needs them: a stored frame is
  // measured in whole cells without them, or it would lose a row and a column.
  SetScrollRange(hwnd, SB_HORZ, 0, 0, FALSE);
  SetScrollRange(hwnd, SB_VERT, 0, 0, FALSE);
  w.MeasureFont();
  if (cx == CW_USEDEFAULT) w.ResizeClient(w.Columns() * w.cellW, (w.Rows() + 1) * w.cellH);  // a first start
  CheckMenuItem(GetMenu(hwnd), IDM_FONT0 + w.font, MF_BYCOMMAND | MF_CHECKED);
  CheckMenuItem(GetMenu(hwnd), IDM_SCROLLBUFFER, MF_BYCOMMAND | (w.historyOn ? MF_CHECKED : MF_UNCHECKED));
  ShowWindow(hwnd, show);
  UpdateWindow(hwnd);
  g_Term->st.cursorRow = (BYTE)(w.Rows() - 1);
  g_Term->st.cursorCol = 0;
  w.Layout();
  return true;
}

bool TermWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result) {
  if (!g_Display || hwnd != g_Display->hwnd) return false;
  TermWindow &w = *g_Display;
  result = 0;
  switch (message) {
    case WM_PAINT: w.Paint(); return true;
    case WM_SIZE:
      if (wParam != SIZE_MINIMIZED) w.Layout();
      return true;
    case WM_GETMINMAXINFO: {
      auto *info = reinterpret_cast<MINMAXINFO *>(lParam);
      const SIZE extra = w.FrameExtra();
      info->ptMaxSize.x = info->ptMaxTrackSize.x = w.Columns() * w.cellW + extra.cx;
      info->ptMaxSize.y = info->ptMaxTrackSize.y = (w.Rows() + 1) * w.cellH + extra.cy;
      return true;
    }
    case WM_VSCROLL: w.ScrollView(SB_VERT, LOWORD(wParam), (short)HIWORD(wParam)); return true;
    case WM_HSCROLL: w.ScrollView(SB_HORZ, LOWORD(wParam), (short)HIWORD(wParam)); return true;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_MOUSEMOVE:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN: w.Mouse(message, lParam); return true;
    case WM_SETFOCUS:
      w.hasFocus = true;
      w.PlaceCaret(true);
      return false;  // the keyboard state is rebuilt by the main procedure
    case WM_KILLFOCUS:
      if (w.selState == 2) TermCopySelection();
      w.hasFocus = false;
      DestroyCaret();
      return true;
    case WM_DESTROY:
      g_Term->display = nullptr;
      w.hwnd = nullptr;  // a session still ending draws nothing more
      return false;
    default: return false;
  }
}

void TermRefresh() {
  if (g_Display) g_Display->Refresh();
}

void TermSetFont(int index) {
  if (!g_Display) return;
  g_Display->font = index < 0 || index >= kFonts ? kDefaultFont : index;
  g_Display->Layout();
  // The window shows the whole screen in the new face.
  TermWindow &w = *g_Display;
  w.ResizeClient(w.Columns() * w.cellW, (w.Rows() + 1) * w.cellH);
}

void TermSetHistory(bool on) {
  if (!g_Display) return;
  g_Display->historyOn = on;
  if (!on) {
    g_Display->historyCount = 0;
    g_Display->viewBack = 0;
  }
  WritePrivateProfileStringA(kSection, "History", on ? "1" : "0", g_IniFile);
  g_Display->UpdateScrollBars();
  InvalidateRect(g_Display->hwnd, nullptr, FALSE);
}

bool TermHistoryOn() { return g_Display && g_Display->historyOn; }

void TermSetJumpScroll(int lines) {
  if (g_Display) g_Display->jumpScroll = lines;
}

void TermSelectAll() {
  if (!g_Display) return;
  TermWindow &w = *g_Display;
  w.selStart = {0, 0};
  w.selEnd = {w.Rows() - 1, w.Columns() - 1};
  w.selState = 2;
  EnableMenuItem(GetMenu(w.hwnd), IDM_COPY, MF_BYCOMMAND | MF_ENABLED);
  InvalidateRect(w.hwnd, nullptr, FALSE);
}

bool TermSelectionShown() { return g_Display && g_Display->selState != 0; }

void TermSelectionClear() {
  if (g_Display) g_Display->ClearSelection();
}

std::string TermSelectionText() { return g_Display ? g_Display->SelectionText() : ""; }

void TermLayout() {
  if (g_Display) g_Display->Layout();
}

void TermFitScreen() {
  if (!g_Display) return;
  TermWindow &w = *g_Display;
  w.Layout();
  w.ResizeClient(w.Columns() * w.cellW, (w.Rows() + 1) * w.cellH);
  InvalidateRect(w.hwnd, nullptr, FALSE);
}
