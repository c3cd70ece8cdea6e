// The text output window: a 24-line scroll-back ring and a bottom line shown
// in 80 x 25 fixed-pitch cells anchored at the bottom of the client area.
// Printing only stores bytes and invalidates the changed cells; painting draws
// just the rows and columns of the paint rectangle.
#include "textwin.h"

#include <qxcommon.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace {

using Line = std::array<char, TEXTWIN_COLUMNS>;

constexpr int kScrollBatch = 2;  // line feeds at the bottom collected before the window scrolls
constexpr int kNewestRow = TEXTWIN_RING_LINES - 1;

// A cell position in the window's content: row 0..23 a ring row, 24 the bottom line.
struct Cell {
  int row = 0;
  int column = 0;
  bool operator<(const Cell &o) const { return row != o.row ? row < o.row : column < o.column; }
  bool operator==(const Cell &o) const = default;
};

struct TextWin {
  TextWin() {
    for (Line &line : ring) line.fill(' ');  // blank from process start
    bottom.fill(' ');
  }
  std::array<Line, TEXTWIN_RING_LINES> ring{};
  Line bottom{};
  int head = kNewestRow;
  short cursorRow = kNewestRow;
  short cursorColumn = 0;
  int v = kNewestRow;  // not reset when a window is created
  int h = 0;
  int vLow = 0;
  int hMax = 0;
  int cellWidth = 0;
  int cellHeight = 0;
  COLORREF background = 0;
  COLORREF text = 0;
  int heightAllowance = 0;
  int widthAllowance = 0;
  int minTrackWidth = 0;
  bool updateRegionFlag = false;
  bool initialised = false;
  bool resizing = false;  // our own SetWindowPos: its WM_SIZE must not resize again
  bool talkForm = false;  // caret, wrap at column 80, LF as CR LF
  int clientWidth = 0;    // the talk form's client size at the last WM_SIZE
  int clientHeight = 0;
  int rowOffset = 0;  // 25 - visible rows at the last resize to whole cells
  bool hasCaret = false;
  HWND served = nullptr;  // the window TextWinProc serves
  HWND output = nullptr;  // the window TextWinPrint writes to
  HGDIOBJ previousFont = nullptr;
  char iniPath[MAX_PATH] = "QXAPPS.INI";
  char section[64] = "";
  // Printing state of one TextWinPrint.
  int pendingScroll = 0;
  RECT changed{};
  // Selection: anchor where the button went down, end where the mouse is.
  bool hasSelection = false;
  bool dragging = false;
  Cell anchor;
  Cell end;
};

TextWin g;

void ClearLine(Line &line) { line.fill(' '); }

void ClearContent() {
  for (Line &line : g.ring) ClearLine(line);
  ClearLine(g.bottom);
  g.head = kNewestRow;
  g.cursorRow = kNewestRow;
  g.cursorColumn = 0;
}

Line &RingRow(int r) { return g.ring[static_cast<size_t>((g.head + 1 + r) % TEXTWIN_RING_LINES)]; }

// The line a content row names (0..23 ring, 24 bottom), or null off the grid.
Line *ContentLine(int row) {
  if (row == TEXTWIN_BOTTOM_ROW) return &g.bottom;
  if (row < 0 || row > kNewestRow) return nullptr;
  return &RingRow(row);
}

// The content row shown in grid row 0..24 at the current vertical position.
int ContentRowOfGrid(int gridRow) { return gridRow == TEXTWIN_BOTTOM_ROW ? gridRow : gridRow + g.v - kNewestRow; }

void ClampVertical() { g.v = std::clamp(g.v, g.vLow - 1, kNewestRow); }

// ---- Cell mapping ----

int ClientBottom(HWND window) {
  RECT client;
  GetClientRect(window, &client);
  return client.bottom;
}

void SetMapping(HWND window, HDC dc) {
  SetMapMode(dc, MM_ANISOTROPIC);
  SetViewportOrgEx(dc, 0, ClientBottom(window) - TEXTWIN_ROWS * g.cellHeight, nullptr);
  SetWindowExtEx(dc, 1, 1, nullptr);
  SetViewportExtEx(dc, g.cellWidth, g.cellHeight, nullptr);
  SetBkMode(dc, OPAQUE);
  g.previousFont = SelectObject(dc, GetStockObject(SYSTEM_FIXED_FONT));
}

void RestoreFont(HDC dc) {
  if (g.previousFont) SelectObject(dc, g.previousFont);
  g.previousFont = nullptr;
}

// ---- Printing ----

void RestartChanged() { g.changed = RECT{g.cursorColumn, g.cursorRow, g.cursorColumn, g.cursorRow}; }

void WidenChanged(int row, int column) {
  g.changed.left = std::min<LONG>(g.changed.left, column);
  g.changed.right = std::max<LONG>(g.changed.right, column + 1);
  g.changed.bottom = std::max<LONG>(g.changed.bottom, row + 1);
}

// Invalidates the changed cells (in grid terms, clipped to the grid) without
// erasing; bottomLimit/topLimit are 24/23 during a batch scroll, 25/24 at the end.
void InvalidateChanged(HWND window, HDC dc, int bottomLimit, int topLimit) {
  if (!window || !dc) return;
  RECT r = g.changed;
  const int rowShift = g.v - kNewestRow;
  OffsetRect(&r, -g.h, -rowShift);
  r.left = std::max<LONG>(r.left, 0);
  r.right = std::max<LONG>(r.right, 0);
  r.bottom = std::min<LONG>(r.bottom, bottomLimit);
  r.top = std::min<LONG>(r.top, topLimit);
  if (r.right <= 0 || r.top < 0 || r.left >= r.right || r.top >= r.bottom) return;
  POINT corners[2] = {{r.left, r.top}, {r.right, r.bottom}};
  LPtoDP(dc, corners, 2);
  RECT device{corners[0].x, corners[0].y, corners[1].x, corners[1].y};
  InvalidateRect(window, &device, FALSE);
}

void ScrollRows(HWND window, int n) {
  if (!window) return;
  if (n > 0) {
    RECT pending;
    if (g.updateRegionFlag && GetUpdateRect(window, &pending, FALSE)) {
      OffsetRect(&pending, 0, -n * g.cellHeight);
      InvalidateRect(window, &pending, TRUE);
    }
    RECT area;
    GetClientRect(window, &area);
    area.bottom -= g.cellHeight;  // the bottom line never scrolls
    ScrollWindow(window, 0, -n * g.cellHeight, &area, &area);
  }
  UpdateWindow(window);
}

void LineFeed(HWND window, HDC dc);
void MoveCaret();

void StoreByte(HWND window, HDC dc, Line &line, char byte) {
  if (g.cursorColumn >= TEXTWIN_COLUMNS) return;  // no wrap: dropped
  line[static_cast<size_t>(g.cursorColumn)] = byte;
  WidenChanged(g.cursorRow, g.cursorColumn);
  ++g.cursorColumn;
  if (g.talkForm && g.cursorColumn == TEXTWIN_COLUMNS) {  // the talk form wraps to the next row
    g.cursorColumn = 0;
    LineFeed(window, dc);
  }
}

Line &ReceivingLine() { return g.cursorRow == TEXTWIN_BOTTOM_ROW ? g.bottom : RingRow(g.cursorRow); }

void LineFeed(HWND window, HDC dc) {
  if (g.talkForm) g.cursorColumn = 0;
  if (g.cursorRow < kNewestRow) {
    ++g.cursorRow;
    return;
  }
  // The bottom line has no line below it: a line feed there does nothing.
  if (g.cursorRow == TEXTWIN_BOTTOM_ROW) return;
  g.head = (g.head + 1) % TEXTWIN_RING_LINES;
  ClearLine(g.ring[static_cast<size_t>(g.head)]);
  if (++g.pendingScroll >= kScrollBatch) {
    InvalidateChanged(window, dc, TEXTWIN_BOTTOM_ROW, kNewestRow);
    ScrollRows(window, g.pendingScroll);
    g.pendingScroll = 0;
    RestartChanged();
  }
}

void PutByte(HWND window, HDC dc, unsigned char byte) {
  switch (byte) {
    case '\b':
      if (g.cursorColumn > 0) {
        --g.cursorColumn;
        ReceivingLine()[static_cast<size_t>(g.cursorColumn)] = ' ';
        WidenChanged(g.cursorRow, g.cursorColumn);
      }
      break;
    case '\t':
      if (g.cursorColumn >= TEXTWIN_COLUMNS - 8) break;
      do StoreByte(window, dc, ReceivingLine(), ' ');
      while (g.cursorColumn % 8 != 0);
      break;
    case '\n': LineFeed(window, dc); break;
    case '\r': g.cursorColumn = 0; break;
    default: StoreByte(window, dc, ReceivingLine(), static_cast<char>(byte)); break;
  }
}

void DropSelection(HWND window) {
  if (!g.hasSelection) return;
  g.hasSelection = false;
  g.dragging = false;
  if (window) InvalidateRect(window, nullptr, FALSE);
}

void PutText(HWND window, HDC dc, const char *text, size_t length) {
  DropSelection(window);  // the rows it named move or change
  g.pendingScroll = 0;
  RestartChanged();
  for (size_t i = 0; i < length; ++i) PutByte(window, dc, static_cast<unsigned char>(text[i]));
  InvalidateChanged(window, dc, TEXTWIN_ROWS, TEXTWIN_BOTTOM_ROW);
  ScrollRows(window, g.pendingScroll);
  g.pendingScroll = 0;
  MoveCaret();
}

// ---- The talk form's caret ----

// The top-left corner of the cursor's cell in client pixels.
POINT CaretPoint() {
  return POINT{(g.cursorColumn - g.h) * g.cellWidth, (g.cursorRow - g.rowOffset - g.v + kNewestRow) * g.cellHeight};
}

void MoveCaret() {
  if (!g.talkForm || !g.hasCaret) return;
  const POINT at = CaretPoint();
  SetCaretPos(at.x, at.y);
}

void OnVScroll(HWND window, WPARAM wParam);
void OnHScroll(HWND window, WPARAM wParam);

// Scrolls so that the cursor's cell is in the client area, then moves the
// caret there.
void BringCursorIntoView(HWND window) {
  if (g.clientWidth <= 0) {  // no WM_SIZE seen yet
    RECT client;
    GetClientRect(window, &client);
    g.clientWidth = client.right;
    g.clientHeight = client.bottom;
  }
  const POINT at = CaretPoint();
  if (at.x >= g.clientWidth)
    OnHScroll(window, MAKEWPARAM(SB_THUMBPOSITION, g.cursorColumn + g.hMax - (TEXTWIN_COLUMNS - 1)));
  else if (at.x < 0)
    OnHScroll(window, MAKEWPARAM(SB_THUMBPOSITION, g.cursorColumn));
  if (at.y >= g.clientHeight - g.cellHeight)
    OnVScroll(window, MAKEWPARAM(SB_THUMBPOSITION, std::max(g.vLow - 1, static_cast<int>(g.cursorRow))));
  else if (at.y < 0)
    OnVScroll(window, MAKEWPARAM(SB_THUMBPOSITION, g.vLow + g.cursorRow - 1));
  MoveCaret();
}

// ---- Selection ----

Cell SelectionStart() { return std::min(g.anchor, g.end); }
Cell SelectionEnd() { return std::max(g.anchor, g.end); }

// Selected columns [from, to) of a content row; false when none.
bool SelectedSpan(int row, int &from, int &to) {
  if (!g.hasSelection) return false;
  const Cell s = SelectionStart(), e = SelectionEnd();
  if (row < s.row || row > e.row) return false;
  from = row == s.row ? s.column : 0;
  to = row == e.row ? e.column : TEXTWIN_COLUMNS;
  return from < to;
}

// The content cell under a client point; columns round to the nearer boundary.
Cell CellAt(HWND window, int x, int y) {
  Cell c;
  if (g.cellWidth <= 0 || g.cellHeight <= 0) return c;
  const int top = ClientBottom(window) - TEXTWIN_ROWS * g.cellHeight;
  const int gridRow = std::clamp(y >= top ? (y - top) / g.cellHeight : -1, -1, TEXTWIN_BOTTOM_ROW);
  const int column = (std::max(x, 0) + g.cellWidth / 2) / g.cellWidth + g.h;
  c.column = std::clamp(column, 0, TEXTWIN_COLUMNS);
  c.row = std::clamp(gridRow < 0 ? 0 : ContentRowOfGrid(gridRow), 0, TEXTWIN_BOTTOM_ROW);
  return c;
}

void OnButtonDown(HWND window, WPARAM keys, LPARAM lParam) {
  const Cell at = CellAt(window, static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
  if (!((keys & MK_SHIFT) && g.hasSelection)) g.anchor = at;
  g.end = at;
  g.hasSelection = true;
  g.dragging = true;
  SetCapture(window);
  InvalidateRect(window, nullptr, FALSE);
}

void OnMouseMove(HWND window, LPARAM lParam) {
  if (!g.dragging) return;
  const Cell at = CellAt(window, static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
  if (at == g.end) return;
  g.end = at;
  InvalidateRect(window, nullptr, FALSE);
}

void OnButtonUp() {
  if (!g.dragging) return;
  g.dragging = false;
  ReleaseCapture();
}

void OnKeyDown(HWND window, WPARAM key) {
  const bool control = GetKeyState(VK_CONTROL) < 0;
  if (control && (key == 'C' || key == VK_INSERT)) TextWinCopy(window);
}

// ---- Painting ----

void DrawSpan(HDC dc, int gridRow, int firstColumn, const char *text, int count, bool selected) {
  if (count <= 0) return;
  SetBkColor(dc, selected ? g.text : g.background);
  SetTextColor(dc, selected ? g.background : g.text);
  TextOutA(dc, g.cellWidth * firstColumn, g.cellHeight * gridRow, text, count);
}

// The visible text of grid columns [first, last] of a grid row.
void RowText(int gridRow, int first, int last, char *out) {
  const int count = last - first + 1;
  std::memset(out, ' ', static_cast<size_t>(count));
  out[count] = '\0';
  const Line *line = ContentLine(ContentRowOfGrid(gridRow));
  if (!line) return;  // a negative ring row shows blanks
  for (int c = first; c <= last; ++c) {
    const int lineColumn = c + g.h;
    if (lineColumn >= 0 && lineColumn < TEXTWIN_COLUMNS) out[c - first] = (*line)[static_cast<size_t>(lineColumn)];
  }
}

void PaintRow(HDC dc, int gridRow, int first, int last) {
  char text[TEXTWIN_COLUMNS + 1];
  RowText(gridRow, first, last, text);
  int from = 0, to = 0;
  if (!SelectedSpan(ContentRowOfGrid(gridRow), from, to)) {
    DrawSpan(dc, gridRow, first, text, last - first + 1, false);
    return;
  }
  // Selected line columns, as grid columns clipped to the painted span.
  const int selFirst = std::clamp(from - g.h, first, last + 1), selEnd = std::clamp(to - g.h, first, last + 1);
  DrawSpan(dc, gridRow, first, text, selFirst - first, false);
  DrawSpan(dc, gridRow, selFirst, text + (selFirst - first), selEnd - selFirst, true);
  DrawSpan(dc, gridRow, selEnd, text + (selEnd - first), last + 1 - selEnd, false);
}

void Paint(HWND window) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  if (g.initialised && g.cellWidth > 0 && g.cellHeight > 0) {
    SetMapping(window, dc);
    POINT corners[2] = {{ps.rcPaint.left, ps.rcPaint.top}, {ps.rcPaint.right, ps.rcPaint.bottom}};
    DPtoLP(dc, corners, 2);
    const int top = std::max<int>(corners[0].y - 1, 0), bottom = std::min<int>(corners[1].y + 1, TEXTWIN_BOTTOM_ROW);
    const int first = std::max<int>(corners[0].x - 1, 0), last = std::min<int>(corners[1].x + 1, TEXTWIN_COLUMNS - 1);
    SetViewportExtEx(dc, 1, 1, nullptr);
    for (int row = top; row <= bottom && first <= last; ++row) PaintRow(dc, row, first, last);
    RestoreFont(dc);
  }
  EndPaint(window, &ps);
}

// ---- Scroll ranges, resizing, scrolling ----

void SetScrollRanges(HWND window) {
  if (g.vLow == TEXTWIN_BOTTOM_ROW)
    SetScrollRange(window, SB_VERT, -1, 0, FALSE);
  else
    SetScrollRange(window, SB_VERT, g.vLow - 1, kNewestRow, FALSE);
  SetScrollPos(window, SB_VERT, g.v, TRUE);
  if (g.hMax == 0)
    SetScrollRange(window, SB_HORZ, -1, 0, FALSE);
  else
    SetScrollRange(window, SB_HORZ, 0, g.hMax, FALSE);
  g.h = std::min(g.h, g.hMax);
  SetScrollPos(window, SB_HORZ, g.h, TRUE);
}

void TakeClientSize(HWND window, int width, int height) {
  const int columns = width / g.cellWidth, rows = height / g.cellHeight;
  g.clientWidth = width;
  g.clientHeight = height;
  if (height % g.cellHeight == 0 && rows <= TEXTWIN_ROWS) g.rowOffset = TEXTWIN_ROWS - rows;
  g.hMax = std::max(TEXTWIN_COLUMNS - columns, 0);
  g.vLow = std::max(rows - 1, 0);
  if (g.vLow > g.v) g.v = std::min(g.vLow, kNewestRow);
  SetScrollRanges(window);
  if (width % g.cellWidth == 0 && height % g.cellHeight == 0 && rows <= TEXTWIN_ROWS && columns <= TEXTWIN_COLUMNS)
    return;
  if (g.resizing) return;  // the frame could not take whole cells: keep what it gave
  int clientWidth = std::min(columns, TEXTWIN_COLUMNS) * g.cellWidth;
  const int clientHeight = std::min(rows, TEXTWIN_ROWS) * g.cellHeight;
  if (clientWidth < g.minTrackWidth) clientWidth += g.cellWidth;
  RECT outer, client;
  GetWindowRect(window, &outer);
  GetClientRect(window, &client);
  const int frameWidth = (outer.right - outer.left) - client.right,
            frameHeight = (outer.bottom - outer.top) - client.bottom;
  g.resizing = true;
  SetWindowPos(window, nullptr, 0, 0, clientWidth + frameWidth, clientHeight + frameHeight, SWP_NOMOVE | SWP_NOZORDER);
  g.resizing = false;
}

void OnSize(HWND window, WPARAM kind, LPARAM lParam) {
  if (!g.initialised || g.cellWidth <= 0 || g.cellHeight <= 0) return;
  if (kind != SIZE_RESTORED && kind != SIZE_MAXIMIZED) return;
  TakeClientSize(window, LOWORD(lParam), HIWORD(lParam));
  MoveCaret();
}

void OnMinMaxInfo(LPARAM lParam) {
  auto *info = reinterpret_cast<MINMAXINFO *>(lParam);
  if (!info) return;
  g.minTrackWidth = info->ptMinTrackSize.x;
  if (g.cellWidth <= 0 || g.cellHeight <= 0) return;  // not set up yet: the system's limits stand
  const POINT most{TEXTWIN_COLUMNS * g.cellWidth + g.widthAllowance, TEXTWIN_ROWS * g.cellHeight + g.heightAllowance};
  info->ptMaxSize.x = std::min(info->ptMaxSize.x, most.x);
  info->ptMaxSize.y = std::min(info->ptMaxSize.y, most.y);
  info->ptMaxTrackSize = most;
}

// Shows the change of position by `delta` cells: the pixels move, the
// uncovered strip is drawn at once.
void ShowScroll(HWND window, int bar, int delta) {
  UpdateWindow(window);
  RECT area;
  GetClientRect(window, &area);
  const int cell = bar == SB_VERT ? g.cellHeight : g.cellWidth;
  RECT strip = area;
  if (bar == SB_VERT) {
    area.bottom -= g.cellHeight;
    ScrollWindow(window, 0, delta * cell, &area, &area);
    strip = area;
    if (delta > 0)
      strip.bottom = std::min<LONG>(strip.bottom, strip.top + delta * cell);
    else
      strip.top = std::max<LONG>(strip.top, strip.bottom + delta * cell);
  } else {
    ScrollWindow(window, delta * cell, 0, &area, &area);
    if (delta > 0)
      strip.right = std::min<LONG>(strip.right, delta * cell);
    else
      strip.left = std::max<LONG>(strip.left, strip.right + delta * cell);
  }
  SetScrollPos(window, bar, bar == SB_VERT ? g.v : g.h, TRUE);
  InvalidateRect(window, &strip, FALSE);
  UpdateWindow(window);
}

void OnVScroll(HWND window, WPARAM wParam) {
  const int before = g.v;
  switch (LOWORD(wParam)) {
    case SB_LINEUP:
      if (g.v >= g.vLow) g.v -= 1;
      break;
    case SB_LINEDOWN:
      if (g.v < kNewestRow) g.v += 1;
      break;
    case SB_PAGEUP:
      if (g.v >= g.vLow) g.v -= std::min(g.v - g.vLow + 1, 5);
      break;
    case SB_PAGEDOWN:
      if (g.v < kNewestRow) g.v += std::min(kNewestRow - g.v, 5);
      break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK:
      g.v = static_cast<short>(HIWORD(wParam));
      ClampVertical();  // a position off the range would show rows past the ring
      break;
    default: return;
  }
  if (g.v != before) ShowScroll(window, SB_VERT, before - g.v);
  MoveCaret();
}

void OnHScroll(HWND window, WPARAM wParam) {
  const int before = g.h;
  switch (LOWORD(wParam)) {
    case SB_LINELEFT:
      if (g.h > 0) g.h -= 1;
      break;
    case SB_LINERIGHT:
      if (g.h < g.hMax) g.h += 1;
      break;
    case SB_PAGELEFT:
      if (g.h > 0) g.h -= std::min(g.h, 10);
      break;
    case SB_PAGERIGHT:
      if (g.h < g.hMax) g.h += std::min(g.hMax - g.h, 10);
      break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK: {
      const int position = static_cast<short>(HIWORD(wParam));
      if (position >= 0) g.h = std::min(position, g.hMax);
      break;
    }
    default: return;
  }
  if (g.h != before) ShowScroll(window, SB_HORZ, before - g.h);
  MoveCaret();
}

// ---- Set-up ----

void InitMetrics(HWND window) {
  g.heightAllowance = 2 * GetSystemMetrics(SM_CYFRAME) + GetSystemMetrics(SM_CYCAPTION) +
                      GetSystemMetrics(SM_CXHTHUMB) + GetSystemMetrics(SM_CYMENU) + 1;
  g.widthAllowance = 2 * GetSystemMetrics(SM_CXFRAME) + GetSystemMetrics(SM_CYVTHUMB) + 1;
  g.updateRegionFlag = ((GetVersion() >> 8) & 0xFF) == 0;
  ClearContent();
  HDC dc = GetDC(window);
  HGDIOBJ old = SelectObject(dc, GetStockObject(SYSTEM_FIXED_FONT));
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  g.cellWidth = static_cast<short>(tm.tmMaxCharWidth);
  g.cellHeight = static_cast<short>(tm.tmHeight + tm.tmExternalLeading);
  TextWinSysColors();
  RECT client;
  GetClientRect(window, &client);
  if (g.cellWidth > 0 && g.cellHeight > 0) {
    g.hMax = std::max(TEXTWIN_COLUMNS - static_cast<int>(client.right) / g.cellWidth, 0);
    g.vLow = std::max(static_cast<int>(client.bottom) / g.cellHeight - 1, 0);
  }
  SetScrollRanges(window);
  SetScrollPos(window, SB_HORZ, 0, TRUE);
  g.initialised = true;
  if (!IsIconic(window) && g.cellWidth > 0 && g.cellHeight > 0) TakeClientSize(window, client.right, client.bottom);
  if (!g.output) g.output = window;
}

bool HasKey(LPCSTR key) {
  char value[32];
  return GetPrivateProfileStringA(g.section, key, "", value, sizeof value, g.iniPath) > 0;
}

}  // namespace

void TextWinSysColors(void) {
  g.background = GetSysColor(COLOR_WINDOW);
  g.text = GetSysColor(COLOR_WINDOWTEXT);
}

void TextWinLoadPlacement(int *x, int *y, int *width, int *height, LPCSTR section) {
  FindAppsIni(g.iniPath, sizeof g.iniPath);
  std::snprintf(g.section, sizeof g.section, "%s", section ? section : "");
  *x = static_cast<int>(GetPrivateProfileIntA(g.section, "Xl", static_cast<int>(CW_USEDEFAULT), g.iniPath));
  *y = static_cast<int>(GetPrivateProfileIntA(g.section, "Yt", *y, g.iniPath));
  *width = HasKey("Cx") ? static_cast<int>(GetPrivateProfileIntA(g.section, "Cx", 0, g.iniPath)) + 1
                        : static_cast<int>(CW_USEDEFAULT);
  *height = HasKey("Cy") ? static_cast<int>(GetPrivateProfileIntA(g.section, "Cy", 0, g.iniPath)) + 1 : 0;
}

LPCSTR TextWinIniPath(void) { return g.iniPath; }

void TextWinSavePlacement(HWND window) {
  if (IsIconic(window) || !g.section[0]) return;
  RECT r;
  if (!GetWindowRect(window, &r)) return;
  const struct {
    const char *key;
    LONG value;
  } kKeys[] = {{"Xl", r.left}, {"Yt", r.top}, {"Cx", r.right - r.left - 1}, {"Cy", r.bottom - r.top - 1}};
  for (const auto &k : kKeys) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(k.value));
    WritePrivateProfileStringA(g.section, k.key, text, g.iniPath);
  }
}

HWND TextWinCreate(TEXTWIN_CREATE create) {
  if (!create.prevInstance) {
    WNDCLASSA wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = create.windowProc;
    wc.hInstance = create.instance;
    wc.hIcon = LoadIconA(create.instance, create.iconName);
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = CreateSolidBrush(GetSysColor(COLOR_WINDOW));
    wc.lpszMenuName = create.menuName;
    wc.lpszClassName = create.className;
    RegisterClassA(&wc);
  }
  int x = create.x, y = create.y, width = static_cast<int>(CW_USEDEFAULT), height = 0;
  if (create.x == -1) {
    y = create.showCommand;
    TextWinLoadPlacement(&x, &y, &width, &height, create.menuName);
  }
  HWND window = CreateWindowExA(0, create.className, create.className, WS_OVERLAPPEDWINDOW | WS_VSCROLL | WS_HSCROLL, x,
                                y, width, height, nullptr, nullptr, create.instance, nullptr);
  if (!window) return nullptr;
  g.served = window;
  g.talkForm = create.talkForm != 0;
  ShowWindow(window, create.showCommand);
  UpdateWindow(window);
  InitMetrics(window);
  TextWinProc(window, WM_SETFOCUS, 0, 0);
  return window;
}

void TextWinProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (window != g.served) return;
  switch (message) {
    case WM_SIZE: OnSize(window, wParam, lParam); break;
    case WM_PAINT: Paint(window); break;
    case WM_CLOSE: TextWinSavePlacement(window); break;
    case WM_SYSCOLORCHANGE: TextWinSysColors(); break;
    case WM_GETMINMAXINFO: OnMinMaxInfo(lParam); break;
    case WM_HSCROLL: OnHScroll(window, wParam); break;
    case WM_VSCROLL: OnVScroll(window, wParam); break;
    case WM_LBUTTONDOWN: OnButtonDown(window, wParam, lParam); break;
    case WM_MOUSEMOVE: OnMouseMove(window, lParam); break;
    case WM_LBUTTONUP: OnButtonUp(); break;
    case WM_KEYDOWN: OnKeyDown(window, wParam); break;
    case WM_COPY: TextWinCopy(window); break;
    case WM_SETFOCUS:
      if (g.talkForm) TextWinPlaceCaret(TRUE);
      break;
    case WM_KILLFOCUS:
      if (g.talkForm && g.hasCaret) {
        HideCaret(window);
        DestroyCaret();
        g.hasCaret = false;
      }
      break;
    default: break;
  }
}

int TextWinPrint(LPCSTR text) {
  if (!text) return 1;
  const size_t length = strnlen(text, 32767);
  HWND window = g.output;
  HDC dc = window ? GetDC(window) : nullptr;
  if (dc) SetMapping(window, dc);
  PutText(window, dc, text, length);
  if (dc) {
    RestoreFont(dc);
    ReleaseDC(window, dc);
  }
  return 1;
}

int TextWinSetCursor(int row, int column) {
  if (row < 0 || row > TEXTWIN_BOTTOM_ROW || column < 0 || column >= TEXTWIN_COLUMNS) return 0;
  g.cursorRow = static_cast<short>(row);
  g.cursorColumn = static_cast<short>(column);
  if (g.talkForm && g.served && g.cellWidth > 0) BringCursorIntoView(g.served);
  return 1;
}

void TextWinPlaceCaret(BOOL show) {
  if (!g.talkForm || !g.served || g.cellWidth <= 0) return;
  if (g.hasCaret) HideCaret(g.served);
  CreateCaret(g.served, nullptr, g.cellWidth, std::max(g.cellHeight - 2, 1));
  g.hasCaret = true;
  MoveCaret();
  if (show) ShowCaret(g.served);
}

void TalkClearToEol(void) {
  // The blanks go straight into the line: printing them would wrap onto
  // the next row (and on the newest row scroll the whole screen).
  Line &line = ReceivingLine();
  const short row = g.cursorRow, column = g.cursorColumn;
  for (int c = column; c < TEXTWIN_COLUMNS; ++c) line[static_cast<size_t>(c)] = ' ';
  if (HWND window = g.output) {
    if (HDC dc = GetDC(window)) {
      SetMapping(window, dc);
      g.changed = RECT{column, row, TEXTWIN_COLUMNS - 1, row};
      InvalidateChanged(window, dc, TEXTWIN_ROWS, TEXTWIN_BOTTOM_ROW);
      RestoreFont(dc);
      ReleaseDC(window, dc);
    }
  }
}

std::string TextWinRowText(int row) {
  const Line *line = ContentLine(row);
  return line ? std::string(line->data(), line->size()) : std::string();
}

void TextWinSelect(int row, int column, int row2, int column2) {
  g.anchor = Cell{std::clamp(row, 0, TEXTWIN_BOTTOM_ROW), std::clamp(column, 0, TEXTWIN_COLUMNS)};
  g.end = Cell{std::clamp(row2, 0, TEXTWIN_BOTTOM_ROW), std::clamp(column2, 0, TEXTWIN_COLUMNS)};
  g.hasSelection = true;
  g.dragging = false;
  if (g.served) InvalidateRect(g.served, nullptr, FALSE);
}

std::string TextWinSelectedText(void) {
  if (!g.hasSelection || g.anchor == g.end) return "";
  std::string out;
  const Cell s = SelectionStart(), e = SelectionEnd();
  for (int row = s.row; row <= e.row; ++row) {
    int from = 0, to = 0;
    std::string piece;
    if (SelectedSpan(row, from, to)) piece = TextWinRowText(row).substr(static_cast<size_t>(from), to - from);
    if (row != e.row || to == TEXTWIN_COLUMNS) piece.erase(piece.find_last_not_of(' ') + 1);
    out += piece;
    if (row != e.row) out += "\r\n";
  }
  return out;
}

BOOL TextWinCopy(HWND window) {
  const std::string text = TextWinSelectedText();
  if (text.empty() || !OpenClipboard(window)) return FALSE;
  EmptyClipboard();
  HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
  BOOL done = FALSE;
  if (mem) {
    if (auto *p = static_cast<char *>(GlobalLock(mem))) {
      std::memcpy(p, text.c_str(), text.size() + 1);
      GlobalUnlock(mem);
      done = SetClipboardData(CF_TEXT, mem) != nullptr;
    }
    if (!done) GlobalFree(mem);
  }
  CloseClipboard();
  return done;
}

void TextWinGetCursor(int *row, int *column) {
  if (row) *row = g.cursorRow;
  if (column) *column = g.cursorColumn;
}

int TextWinVPos(void) { return g.v; }
int TextWinHPos(void) { return g.h; }
