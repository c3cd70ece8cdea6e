// The windows of a pane: the entry list (painting in columns, clicks with
// Ctrl and Shift, double clicks, horizontal scrolling, dragging the
// selection onto the other pane or a button) and the path bar above it
// (marking a part of the path, changing to it by a double click or, after a
// held click, through the "Enter New Path" dialog).
#include <windows.h>

#include <common/qxcommon.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "frame.h"
#include "ftpcore.h"
#include "profiles.h"
#include "resources.h"

namespace {

int g_firstColumn[2];
int g_pathMark[2];  // length of the marked start of the path, 0 none

enum class Drag { kNone, kSingle, kMultiple, kDragging };
Drag g_drag = Drag::kNone;
bool g_dragMultiple = false;  // Ctrl was held at the press
int g_dragPane = 0;
int g_dropEntry = -1;  // entry of the other pane showing the drop mark

constexpr UINT_PTR kPathTimer = 1;

int Rows(int pane) {
  RECT client;
  GetClientRect(g_list[pane], &client);
  return std::max(1, static_cast<int>(client.bottom - RowHeight()) / RowHeight());
}

int VisibleColumns(int pane) {
  RECT client;
  GetClientRect(g_list[pane], &client);
  return std::max(1, static_cast<int>(client.right - GetSystemMetrics(SM_CYVTHUMB)) / (g_columnWidth[pane] + 18));
}

int ScrollMaximum(int pane) {
  const int count = static_cast<int>(g_Panes[pane].entries.size());
  return std::max(0, count / Rows(pane) - VisibleColumns(pane) + 1);
}

int EntryAt(int pane, int x, int y) {
  return HitTestEntry(x, y, RowHeight(), Rows(pane), g_columnWidth[pane], g_firstColumn[pane],
                      static_cast<int>(g_Panes[pane].entries.size()));
}

// ---- Painting ----

// The 16 x 16 glyphs: a page for a file, a folder for a directory, a
// folder with an arrow for a link. Marked entries draw them inverted.
void DrawGlyph(HDC dc, int x, int y, unsigned flags, bool inverted) {
  const COLORREF ink = inverted ? RGB(255, 255, 255) : RGB(0, 0, 0);
  const COLORREF paper = inverted ? RGB(0, 0, 0) : RGB(255, 255, 255);
  RECT cell{x, y, x + 16, y + 16};
  HBRUSH back = CreateSolidBrush(paper);
  FillRect(dc, &cell, back);
  DeleteObject(back);
  HPEN pen = CreatePen(PS_SOLID, 1, ink);
  HGDIOBJ oldPen = SelectObject(dc, pen);
  if (flags & kEntryDirectory) {
    HBRUSH folder = CreateSolidBrush(inverted ? RGB(0, 0, 128) : RGB(255, 255, 128));
    HGDIOBJ oldBrush = SelectObject(dc, folder);
    Rectangle(dc, x + 1, y + 5, x + 15, y + 14);
    MoveToEx(dc, x + 1, y + 5, nullptr);
    LineTo(dc, x + 3, y + 3);
    LineTo(dc, x + 7, y + 3);
    LineTo(dc, x + 9, y + 5);
    SelectObject(dc, oldBrush);
    DeleteObject(folder);
    if (flags & kEntryMaybeDirectory) {
      MoveToEx(dc, x + 4, y + 12, nullptr);
      LineTo(dc, x + 11, y + 7);
      LineTo(dc, x + 8, y + 7);
      MoveToEx(dc, x + 11, y + 7, nullptr);
      LineTo(dc, x + 11, y + 10);
    }
  } else {
    MoveToEx(dc, x + 3, y + 1, nullptr);
    LineTo(dc, x + 10, y + 1);
    LineTo(dc, x + 13, y + 4);
    LineTo(dc, x + 13, y + 15);
    LineTo(dc, x + 3, y + 15);
    LineTo(dc, x + 3, y + 1);
    for (int line = 5; line <= 12; line += 2) {
      MoveToEx(dc, x + 5, y + line, nullptr);
      LineTo(dc, x + 11, y + line);
    }
  }
  SelectObject(dc, oldPen);
  DeleteObject(pen);
}

// The name, shortened with "..." until it fits the column.
void DrawName(HDC dc, int x, int y, const std::string &name, int width) {
  SIZE size;
  GetTextExtentPoint32A(dc, name.c_str(), static_cast<int>(name.size()), &size);
  if (size.cx <= width) {
    TextOutA(dc, x, y, name.c_str(), static_cast<int>(name.size()));
    return;
  }
  std::string shown = name;
  while (!shown.empty()) {
    shown.pop_back();
    const std::string text = shown + "...";
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
    if (size.cx <= width) {
      TextOutA(dc, x, y, text.c_str(), static_cast<int>(text.size()));
      return;
    }
  }
}

void PaintList(int pane, HDC dc, const RECT &invalid) {
  const FTP_PANE &p = g_Panes[pane];
  const int rows = Rows(pane), r = RowHeight(), width = g_columnWidth[pane];
  SetBkMode(dc, TRANSPARENT);
  const size_t first = static_cast<size_t>(g_firstColumn[pane]) * static_cast<size_t>(rows);
  for (size_t i = first; i < p.entries.size(); ++i) {
    const ENTRY_NODE &e = p.entries[i];
    const int column = static_cast<int>((i - first) / static_cast<size_t>(rows));
    const int row = static_cast<int>((i - first) % static_cast<size_t>(rows));
    const int x = 1 + column * (width + 18);
    if (x > invalid.right) break;
    const int y = r + row * r;
    const bool marked = e.flags & (kEntrySelected | kEntryDropTarget);
    DrawGlyph(dc, x, y, e.flags, marked);
    SelectObject(dc, (e.flags & kEntryDirectory) ? g_italic : g_font);
    SetTextColor(dc, marked ? RGB(255, 0, 0) : RGB(0, 0, 0));
    DrawName(dc, x + 18, y, e.name, width);
  }
}

void RepaintLists() {
  InvalidateRect(g_list[0], nullptr, TRUE);
  InvalidateRect(g_list[1], nullptr, TRUE);
  InvalidateRect(g_pathBar[0], nullptr, TRUE);
  InvalidateRect(g_pathBar[1], nullptr, TRUE);
}

// ---- Clicks ----

bool Held(WPARAM wParam, WPARAM flag, int key) { return (wParam & flag) || GetKeyState(key) < 0; }

void OnListButtonDown(int pane, int x, int y, WPARAM wParam) {
  if (g_busy || !PaneOpen(pane)) return;
  const bool control = Held(wParam, MK_CONTROL, VK_CONTROL);
  const int index = EntryAt(pane, x, y);
  const std::string status = SelectEntry(pane, index, control, Held(wParam, MK_SHIFT, VK_SHIFT));
  // The marks are painted before the status names the new total, so what
  // the status says is already on the screen.
  RepaintLists();
  UpdateWindow(g_list[pane]);
  if (!status.empty()) SetStatusText(status.c_str());
  g_drag = Drag::kNone;
  if (index >= 0 && (g_Panes[pane].entries[static_cast<size_t>(index)].flags & kEntrySelected)) {
    g_drag = control ? Drag::kMultiple : Drag::kSingle;
    g_dragMultiple = control;
    g_dragPane = pane;
    SetCapture(g_list[pane]);
  }
}

// A directory entry of a remote "ftp.cfg" host that refuses the plain name
// may need the path its C: rule forms.
int EnterDirectory(int pane, const std::string &name) {
  FTP_PANE &p = g_Panes[pane];
  if (p.kind != kHostRules) return ChangeDirectory(pane, name, 1);
  if (ChangeDirectory(pane, name, 0)) return 1;
  const std::string directory(p.path + std::min<size_t>(static_cast<size_t>(p.prefixLength), strlen(p.path)));
  const std::string formed = RuleSubdirectoryPath(p.ruleLine, directory, name);
  if (formed.empty()) {
    ShowReplyError();
    return 0;
  }
  return ChangeDirectory(pane, formed, 1);
}

void OnListDoubleClick(int pane, int x, int y, WPARAM wParam) {
  OnListButtonDown(pane, x, y, wParam);
  if (GetCapture() == g_list[pane]) ReleaseCapture();
  g_drag = Drag::kNone;
  const int index = EntryAt(pane, x, y);
  if (g_busy || index < 0) return;
  ++g_busy;
  FTP_PANE &p = g_Panes[pane];
  const ENTRY_NODE entry = p.entries[static_cast<size_t>(index)];
  const bool remote = p.kind != kPaneLocal;
  if (remote && entry.name == ".") {
    ViewInNotepad(pane, entry.name, 0, 1);
  } else if (entry.flags & kEntryDirectory) {
    if (EnterDirectory(pane, entry.name)) {
      RefreshPane(pane);
    } else if ((entry.flags & kEntryMaybeDirectory) && index < static_cast<int>(p.entries.size())) {
      // Not a directory after all: shown as a file from now on.
      ENTRY_NODE &e = p.entries[static_cast<size_t>(index)];
      if (e.flags & kEntrySelected) g_SelectionTotal -= std::min(g_SelectionTotal, e.size);
      e.flags &= ~(kEntryDirectory | kEntrySelected | kEntryMaybeDirectory);
      InvalidateRect(g_list[pane], nullptr, TRUE);
    }
  } else {
    ViewInNotepad(pane, entry.name, entry.size, 0);
  }
  --g_busy;
}

// ---- Dragging ----

HCURSOR DragCursor(const char *name, LPCSTR fallback) {
  HCURSOR cursor = LoadCursorA(g_instance, name);
  return cursor ? cursor : LoadCursorA(nullptr, fallback);
}

// The button (0..4) under a point of the frame, -1 when none: within 14
// pixels of the button row's middle line.
int ButtonAt(POINT screen) {
  for (int k = 0; k < 5; ++k) {
    RECT r;
    GetWindowRect(g_buttons[k], &r);
    const int middle = (r.top + r.bottom) / 2;
    if (screen.x >= r.left && screen.x < r.right && screen.y >= middle - 14 && screen.y <= middle + 14) return k;
  }
  return -1;
}

bool OverList(int pane, POINT screen, POINT *client) {
  RECT r;
  GetWindowRect(g_list[pane], &r);
  if (screen.x < r.left || screen.x >= r.right || screen.y < r.top || screen.y >= r.bottom) return false;
  *client = screen;
  ScreenToClient(g_list[pane], client);
  return true;
}

void SetDropEntry(int pane, int index) {
  if (index == g_dropEntry) return;
  std::vector<ENTRY_NODE> &entries = g_Panes[pane].entries;
  if (g_dropEntry >= 0 && g_dropEntry < static_cast<int>(entries.size()))
    entries[static_cast<size_t>(g_dropEntry)].flags &= ~kEntryDropTarget;
  g_dropEntry = index;
  if (index >= 0) entries[static_cast<size_t>(index)].flags |= kEntryDropTarget;
  InvalidateRect(g_list[pane], nullptr, TRUE);
}

void OnListMouseMove(int pane, int x, int y) {
  if (g_drag == Drag::kNone) return;
  g_drag = Drag::kDragging;
  static const char *const kButtonCursors[] = {"COPY", "DEL", "RENAME", "MKDIR", "REFRESH"};
  static const LPCSTR kButtonFallbacks[] = {IDC_UPARROW, IDC_CROSS, IDC_IBEAM, IDC_SIZEALL, IDC_WAIT};
  POINT screen{x, y}, inOther;
  ClientToScreen(g_list[pane], &screen);
  const int other = 1 - pane;
  if (OverList(other, screen, &inOther)) {
    const int index = EntryAt(other, inOther.x, inOther.y);
    const bool directory = index >= 0 && (g_Panes[other].entries[static_cast<size_t>(index)].flags & kEntryDirectory) &&
                           g_Panes[other].entries[static_cast<size_t>(index)].name != "." &&
                           g_Panes[other].entries[static_cast<size_t>(index)].name != "..";
    SetDropEntry(other, directory ? index : -1);
    SetCursor(g_dragMultiple ? DragCursor("MULTIPLE", IDC_SIZEALL) : DragCursor("SINGLE", IDC_UPARROW));
    return;
  }
  SetDropEntry(other, -1);
  const int button = ButtonAt(screen);
  if (button >= 0)
    SetCursor(DragCursor(kButtonCursors[button], kButtonFallbacks[button]));
  else
    SetCursor(DragCursor("WRONG", IDC_NO));
}

void OnListButtonUp(int pane, int x, int y) {
  if (GetCapture() == g_list[pane]) ReleaseCapture();
  // A release outside the list it started in ends a drag even when no move
  // was seen on the way.
  RECT own;
  GetClientRect(g_list[pane], &own);
  const bool outside = x < own.left || x >= own.right || y < own.top || y >= own.bottom;
  const bool dragged = g_drag == Drag::kDragging || (g_drag != Drag::kNone && outside);
  g_drag = Drag::kNone;
  const int other = 1 - pane;
  SetDropEntry(other, -1);
  SetCursor(LoadCursorA(nullptr, IDC_ARROW));
  if (!dragged) return;
  POINT screen{x, y}, inOther;
  ClientToScreen(g_list[pane], &screen);
  if (OverList(other, screen, &inOther)) {
    PostMessageA(g_frame, WM_COMMAND, IDM_DROP_OTHER, MAKELPARAM(inOther.x, inOther.y));
    return;
  }
  const int button = ButtonAt(screen);
  if (button >= 0) PostMessageA(g_frame, WM_COMMAND, static_cast<WPARAM>(IDC_BUTTON_COPY + button), 0);
}

void OnListScroll(int pane, int code, int position) {
  const int maximum = ScrollMaximum(pane);
  int column = g_firstColumn[pane];
  switch (code) {
    case SB_LINERIGHT:
    case SB_PAGERIGHT: column = std::min(maximum, column + 1); break;
    case SB_LINELEFT:
    case SB_PAGELEFT: column = std::max(0, column - 1); break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK: column = std::clamp(position, 0, maximum); break;
    default: return;
  }
  g_ActivePane = pane;
  if (column == g_firstColumn[pane]) return;
  g_firstColumn[pane] = column;
  SetScrollPos(g_list[pane], SB_HORZ, column, TRUE);
  InvalidateRect(g_list[pane], nullptr, TRUE);
}

// ---- Path bar ----

// Where a click at x falls in the path text, and how far the mark reaches:
// to the next separator (or the end), one more after a ':'.
int MarkFor(int pane, HDC dc, int x) {
  const FTP_PANE &p = g_Panes[pane];
  const int length = static_cast<int>(strlen(p.path));
  int at = 0;
  for (; at < length; ++at) {
    SIZE size;
    GetTextExtentPoint32A(dc, p.path, at + 1, &size);
    if (size.cx + 4 > x) break;
  }
  if (at >= length) return length;
  std::string stops = "/\\";
  if (p.kind == kHostRules) {
    const std::string c = RuleText(p.ruleLine, 'C');
    if (!c.empty()) stops = c.substr(0, 1);
  }
  if (p.kind == kHostVms) stops += '.';
  int stop = at;
  while (stop < length && stops.find(p.path[stop]) == std::string::npos) ++stop;
  if (stop > 0 && stop < length && p.path[stop - 1] == ':') ++stop;
  return std::min(stop, length);
}

std::string MarkedDirectory(int pane) {
  const FTP_PANE &p = g_Panes[pane];
  const int prefix = std::min(p.prefixLength, g_pathMark[pane]);
  std::string directory(p.path + prefix, p.path + g_pathMark[pane]);
  if (p.kind == kHostRules) {
    size_t at;
    if (FindRule(p.ruleLine, 'C', &at)) {
      const int n = std::max(0, atoi(p.ruleLine.c_str() + at));
      const std::string whole = p.path;
      directory += whole.substr(whole.size() - std::min(whole.size(), static_cast<size_t>(n)));
    }
  }
  if (p.kind == kHostVms && (directory.empty() || directory.back() != ']')) directory += ']';
  return directory;
}

void ChangeToMarked(int pane, const std::string &directory) {
  ++g_busy;
  if (ChangeDirectory(pane, directory, 1)) {
    g_firstColumn[pane] = 0;
    RefreshPane(pane);
  } else if (g_Panes[pane].kind == kPaneLocal) {
    MessageBoxA(g_frame, ("Unable to change into directory " + directory).c_str(), "Directory",
                MB_OK | MB_ICONEXCLAMATION);
  }
  g_pathMark[pane] = 0;
  InvalidateRect(g_pathBar[pane], nullptr, TRUE);
  --g_busy;
}

void PaintPath(int pane, HDC dc) {
  const FTP_PANE &p = g_Panes[pane];
  SelectObject(dc, g_font);
  SetBkMode(dc, TRANSPARENT);
  const COLORREF colour = pane == g_ActivePane && PaneOpen(pane) ? RGB(0, 0, 255) : RGB(0, 0, 0);
  const int length = static_cast<int>(strlen(p.path));
  const int mark = std::min(g_pathMark[pane], length);
  const int prefix = std::min(p.prefixLength, mark);
  struct Piece {
    int from, to;
    COLORREF colour;
  } pieces[] = {{0, prefix, colour}, {prefix, mark, RGB(255, 0, 0)}, {mark, length, colour}};
  int x = 4;
  for (const Piece &piece : pieces) {
    if (piece.to <= piece.from) continue;
    SetTextColor(dc, piece.colour);
    TextOutA(dc, x, 1, p.path + piece.from, piece.to - piece.from);
    SIZE size;
    GetTextExtentPoint32A(dc, p.path + piece.from, piece.to - piece.from, &size);
    x += size.cx;
  }
}

}  // namespace

int PaneOf(HWND window) { return window == g_list[1] || window == g_pathBar[1] ? 1 : 0; }

int RowHeight() { return g_lineHeight <= 16 ? 18 : g_lineHeight + 2; }

void ShowPaneChange(int pane) {
  g_columnWidth[pane] = MeasureColumnWidth(pane);
  g_firstColumn[pane] = std::min(g_firstColumn[pane], ScrollMaximum(pane));
  SetScrollRange(g_list[pane], SB_HORZ, 0, ScrollMaximum(pane), FALSE);
  SetScrollPos(g_list[pane], SB_HORZ, g_firstColumn[pane], TRUE);
  g_pathMark[pane] = 0;
  InvalidateRect(g_list[pane], nullptr, TRUE);
  // The path bar's text is also its window text, for readers and automation.
  SetWindowTextA(g_pathBar[pane], g_Panes[pane].path);
  InvalidateRect(g_pathBar[pane], nullptr, TRUE);
}

void DropOnOtherPane(int x, int y) {
  const int from = SourcePane();
  if (from < 0) return;
  const int to = 1 - from;
  const int index = EntryAt(to, x, y);
  FTP_PANE &target = g_Panes[to];
  if (index < 0 || !(target.entries[static_cast<size_t>(index)].flags & kEntryDirectory) ||
      target.entries[static_cast<size_t>(index)].name == "." ||
      target.entries[static_cast<size_t>(index)].name == "..") {
    CopySelection(1);
    return;
  }
  const std::string name = target.entries[static_cast<size_t>(index)].name;
  if (g_Options.dropCheck && !AskPutInDirDialog(name.c_str())) return;
  const std::string unable = "Unable to change into directory " + name;
  if (target.kind == kPaneLocal) {
    const std::string saved = target.path;
    std::string inside = saved;
    if (!inside.empty() && inside.back() != '\\') inside += '\\';
    inside += name;
    if (inside.size() >= sizeof target.path || GetFileAttributesA(inside.c_str()) == INVALID_FILE_ATTRIBUTES) {
      MessageBoxA(g_frame, unable.c_str(), "Directory", MB_OK | MB_ICONEXCLAMATION);
      return;
    }
    snprintf(target.path, sizeof target.path, "%s", inside.c_str());
    CopySelection(0);
    snprintf(target.path, sizeof target.path, "%s", saved.c_str());
    SetCurrentDirectoryA(target.path);
  } else {
    if (FtpCommandReply(to, "CWD", &name) != 2) {
      MessageBoxA(g_frame, unable.c_str(), "Directory", MB_OK | MB_ICONEXCLAMATION);
      return;
    }
    CopySelection(0);
    const std::string back(target.path +
                           std::min<size_t>(static_cast<size_t>(target.prefixLength), strlen(target.path)));
    // Back where the path bar says; if that fails, the pane shows where the
    // server really is.
    if (FtpCommandReply(to, "CWD", &back) != 2) RefreshPane(to);
  }
  ShowPaneChange(to);
}

LRESULT CALLBACK FileWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const int pane = PaneOf(window);
  const int x = static_cast<short>(LOWORD(lParam)), y = static_cast<short>(HIWORD(lParam));
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      PaintList(pane, dc, ps.rcPaint);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_LBUTTONDOWN: OnListButtonDown(pane, x, y, wParam); return 0;
    case WM_LBUTTONDBLCLK: OnListDoubleClick(pane, x, y, wParam); return 0;
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP: {
      // A drag belongs to the list it started in, wherever the pointer is.
      POINT at{x, y};
      const int owner = g_drag != Drag::kNone ? g_dragPane : pane;
      if (owner != pane) {
        ClientToScreen(window, &at);
        ScreenToClient(g_list[owner], &at);
      }
      if (message == WM_MOUSEMOVE)
        OnListMouseMove(owner, at.x, at.y);
      else
        OnListButtonUp(owner, at.x, at.y);
      return 0;
    }
    case WM_HSCROLL: OnListScroll(pane, LOWORD(wParam), static_cast<short>(HIWORD(wParam))); return 0;
    case WM_SIZE: ShowPaneChange(pane); return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK PathWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const int pane = PaneOf(window);
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      PaintPath(pane, dc);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_LBUTTONDOWN: {
      if (g_busy || !PaneOpen(pane)) return 0;
      HDC dc = GetDC(window);
      SelectObject(dc, g_font);
      g_pathMark[pane] = MarkFor(pane, dc, static_cast<short>(LOWORD(lParam)));
      ReleaseDC(window, dc);
      InvalidateRect(window, nullptr, TRUE);
      SetTimer(window, kPathTimer, 1000, nullptr);
      return 0;
    }
    case WM_LBUTTONDBLCLK:
      KillTimer(window, kPathTimer);
      if (g_busy || g_pathMark[pane] == 0) return 0;
      ChangeToMarked(pane, MarkedDirectory(pane));
      return 0;
    case WM_TIMER: {
      KillTimer(window, kPathTimer);
      if (g_busy || g_pathMark[pane] == 0) return 0;
      std::string directory = MarkedDirectory(pane);
      if (AskNewPathDialog(&directory)) {
        ChangeToMarked(pane, directory);
      } else {
        g_pathMark[pane] = 0;
        InvalidateRect(window, nullptr, TRUE);
      }
      return 0;
    }
  }
  return DefWindowProcA(window, message, wParam, lParam);
}
