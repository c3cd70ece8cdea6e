// The menu bar and popup menus on the display: the bar's items drawn into
// the frame, popup windows, and the menu loop that Alt, F10, mnemonics,
// arrows and the mouse drive. Choosing an item posts WM_COMMAND (or
// WM_SYSCOMMAND for the system menu) to the window that owns the menu.
#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "controls_internal.h"
#include "menu_data.h"
#include "qx/display.h"
#include "qx/window.h"

namespace qx::controls {
namespace {

constexpr int kItemHeight = 18, kSeparatorHeight = 8, kBarPad = 7;
constexpr char kPopupClass[] = "#32768";

std::string Label(const std::string &text) { return text.substr(0, text.find('\t')); }
std::string Accel(const std::string &text) {
  const size_t tab = text.find('\t');
  return tab == std::string::npos ? "" : text.substr(tab + 1);
}

HFONT MenuFont() { return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)); }

int TextWidth(const std::string &s) {
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, MenuFont());
  RECT r{0, 0, 0, 0};
  DrawTextA(dc, s.c_str(), static_cast<int>(s.size()), &r, DT_SINGLELINE | DT_CALCRECT);
  SelectObject(dc, old);
  DeleteDC(dc);
  return r.right - r.left;
}

bool Disabled(const MenuItem &it) { return (it.flags & (MF_GRAYED | MF_DISABLED)) != 0; }
bool Separator(const MenuItem &it) { return (it.flags & MF_SEPARATOR) != 0; }

// ---- the menu bar ----

// Where each item of the bar lies, in window coordinates.
std::vector<RECT> BarLayout(HMENU menu, const RECT &bar) {
  std::vector<RECT> out;
  auto m = MenuOf(menu);
  if (!m) return out;
  int x = bar.left;
  for (const MenuItem &it : m->items) {
    const int w = Separator(it) ? 0 : TextWidth(Label(it.text)) + 2 * kBarPad;
    out.push_back(RECT{x, bar.top + 1, x + w, bar.bottom - 1});
    x += w;
  }
  // MF_HELP puts the item and those after it at the right edge.
  for (size_t i = 0; i < m->items.size(); ++i) {
    if (!(m->items[i].flags & MF_HELP)) continue;
    const int shift = bar.right - out.back().right;
    if (shift > 0)
      for (size_t k = i; k < out.size(); ++k) OffsetRect(&out[k], shift, 0);
    break;
  }
  return out;
}

// The menu loop in progress (one per process: menus are modal).
struct Level {
  HMENU menu;
  HWND wnd = nullptr;  // popup window; null for the bar
  int sel = -1;
};
struct Loop {
  HWND owner = nullptr;
  bool from_bar = false;
  bool system = false;
  std::vector<Level> levels;
  RECT bar{};  // window coordinates of the bar
  bool done = false;
  UINT chosen = 0;  // command id
  bool chosen_system = false;
};
Loop *g_loop = nullptr;

int BarSelection(HWND hwnd) {
  return g_loop && g_loop->owner == hwnd && g_loop->from_bar && !g_loop->levels.empty() ? g_loop->levels[0].sel : -1;
}
bool BarOpen(HWND hwnd) { return g_loop && g_loop->owner == hwnd && g_loop->levels.size() > 1; }

void PaintBar(HWND hwnd, HDC dc, const RECT &bar) {
  HMENU menu = GetMenu(hwnd);
  auto m = MenuOf(menu);
  if (!m) return;
  const std::vector<RECT> boxes = BarLayout(menu, bar);
  HGDIOBJ old = SelectObject(dc, MenuFont());
  SetBkMode(dc, TRANSPARENT);
  const int sel = BarSelection(hwnd);
  for (size_t i = 0; i < m->items.size(); ++i) {
    const MenuItem &it = m->items[i];
    if (Separator(it)) continue;
    RECT r = boxes[i];
    if (static_cast<int>(i) == sel) DrawEdge(dc, &r, BarOpen(hwnd) ? BDR_SUNKENOUTER : BDR_RAISEDINNER, BF_RECT);
    RECT t = r;
    if (static_cast<int>(i) == sel && BarOpen(hwnd)) OffsetRect(&t, 1, 1);
    const std::string label = Label(it.text);
    if (Disabled(it)) {
      RECT e = t;
      OffsetRect(&e, 1, 1);
      SetTextColor(dc, GetSysColor(COLOR_BTNHIGHLIGHT));
      DrawTextA(dc, label.c_str(), static_cast<int>(label.size()), &e, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
      SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
    } else {
      SetTextColor(dc, GetSysColor(COLOR_MENUTEXT));
    }
    DrawTextA(dc, label.c_str(), static_cast<int>(label.size()), &t, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  }
  SelectObject(dc, old);
}

// The bar rectangle of a window in window coordinates (below the caption).
RECT BarRect(HWND hwnd) {
  RECT wr, cr;
  GetWindowRect(hwnd, &wr);
  GetClientRect(hwnd, &cr);
  POINT origin{0, 0};
  ClientToScreen(hwnd, &origin);
  const int client_top = origin.y - wr.top;
  const int left = origin.x - wr.left;
  const int bar_h = GetSystemMetrics(SM_CYMENU);
  return RECT{left, client_top - bar_h, left + cr.right, client_top};
}

// ---- popup windows ----

struct PopupLayout {
  std::vector<RECT> items;
  SIZE size{};
};

PopupLayout LayoutPopup(HMENU menu) {
  PopupLayout out;
  auto m = MenuOf(menu);
  if (!m) return out;
  int label_w = 0, accel_w = 0, y = 3;
  for (const MenuItem &it : m->items) {
    label_w = std::max(label_w, TextWidth(Label(it.text)));
    accel_w = std::max(accel_w, TextWidth(Accel(it.text)));
  }
  const int width = 3 + 18 + label_w + (accel_w ? 16 + accel_w : 0) + 22 + 3;
  for (const MenuItem &it : m->items) {
    const int h = Separator(it) ? kSeparatorHeight : kItemHeight;
    out.items.push_back(RECT{3, y, width - 3, y + h});
    y += h;
  }
  out.size = SIZE{width, y + 3};
  return out;
}

// The check column of an item: the program's bitmap for its state
// (SetMenuItemBitmaps), else for a checked item the default check mark,
// drawn in the item's text colour.
void DrawCheckMark(HDC dc, const MenuItem &it, RECT cell) {
  const bool checked = (it.flags & MF_CHECKED) != 0;
  const HBITMAP own = checked ? it.checked_bitmap : it.unchecked_bitmap;
  const int cx = (cell.left + cell.right) / 2, cy = (cell.top + cell.bottom) / 2;
  if (own) {
    BITMAP bm{};
    if (!GetObjectA(own, sizeof bm, &bm)) return;
    HDC mem = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(mem, own);
    // A monochrome bitmap takes the item's colours, as Windows draws check marks.
    const int w = std::min<int>(bm.bmWidth, cell.right - cell.left),
              h = std::min<int>(bm.bmHeight, cell.bottom - cell.top);
    BitBlt(dc, cx - w / 2, cy - h / 2, w, h, mem, 0, 0, SRCCOPY);
    SelectObject(mem, old);
    DeleteDC(mem);
    return;
  }
  if (!checked) return;
  // The default mark: a tick three pixels thick in the 13 by 13 check cell.
  HPEN pen = CreatePen(PS_SOLID, 1, GetTextColor(dc));
  HGDIOBJ old = SelectObject(dc, pen);
  for (int t = 0; t < 3; ++t) {
    MoveToEx(dc, cx - 4, cy - 1 + t, nullptr);
    LineTo(dc, cx - 2, cy + 1 + t);
    LineTo(dc, cx + 4, cy - 5 + t);
  }
  SelectObject(dc, old);
  DeleteObject(pen);
}

void PaintPopup(HWND wnd, HDC dc, HMENU menu, int sel) {
  auto m = MenuOf(menu);
  RECT rc;
  GetClientRect(wnd, &rc);
  FillSys(dc, rc, COLOR_MENU);
  DrawEdge(dc, &rc, EDGE_RAISED, BF_RECT);
  if (!m) return;
  const PopupLayout lay = LayoutPopup(menu);
  HGDIOBJ old = SelectObject(dc, MenuFont());
  SetBkMode(dc, TRANSPARENT);
  for (size_t i = 0; i < m->items.size() && i < lay.items.size(); ++i) {
    const MenuItem &it = m->items[i];
    const RECT r = lay.items[i];
    if (Separator(it)) {
      RECT line{r.left + 1, (r.top + r.bottom) / 2 - 1, r.right - 1, (r.top + r.bottom) / 2 + 1};
      DrawEdge(dc, &line, EDGE_ETCHED, BF_TOP);
      continue;
    }
    const bool hot = static_cast<int>(i) == sel;
    if (hot) FillSys(dc, r, COLOR_HIGHLIGHT);
    SetTextColor(dc, GetSysColor(Disabled(it) ? COLOR_GRAYTEXT : hot ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT));
    DrawCheckMark(dc, it, RECT{r.left + 2, r.top, r.left + 18, r.bottom});
    RECT t{r.left + 18, r.top, r.right - 22, r.bottom};
    const std::string label = Label(it.text), accel = Accel(it.text);
    DrawTextA(dc, label.c_str(), static_cast<int>(label.size()), &t, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
    if (!accel.empty())
      DrawTextA(dc, accel.c_str(), static_cast<int>(accel.size()), &t, DT_RIGHT | DT_VCENTER | DT_SINGLELINE);
    if (it.popup) {
      RECT arrow{r.right - 16, r.top, r.right - 4, r.bottom};
      DrawTextA(dc, ">", 1, &arrow, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    }
  }
  SelectObject(dc, old);
}

Level *LevelOfWindow(HWND wnd) {
  if (!g_loop) return nullptr;
  for (Level &l : g_loop->levels)
    if (l.wnd == wnd) return &l;
  return nullptr;
}

LRESULT CALLBACK PopupProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(h, &ps);
      if (Level *l = LevelOfWindow(h)) PaintPopup(h, dc, l->menu, l->sel);
      EndPaint(h, &ps);
      return 0;
    }
    case WM_ERASEBKGND: return 1;
    case WM_MOUSEACTIVATE: return 3;  // MA_NOACTIVATE
    default: return DefWindowProcA(h, msg, wp, lp);
  }
}

void EnsurePopupClass() {
  static bool done = false;
  if (done) return;
  WNDCLASSA wc{};
  wc.style = CS_SAVEBITS | CS_DBLCLKS | CS_GLOBALCLASS;
  wc.lpfnWndProc = PopupProc;
  wc.lpszClassName = kPopupClass;
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  RegisterClassA(&wc);
  done = true;
}

// ---- the loop ----

void Redraw(Loop &L) {
  if (L.from_bar) RedrawWindow(L.owner, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE);
  for (Level &l : L.levels)
    if (l.wnd) InvalidateRect(l.wnd, nullptr, FALSE);
}

void SendSelect(Loop &L) {
  const Level &l = L.levels.back();
  auto m = MenuOf(l.menu);
  if (!m || l.sel < 0 || l.sel >= static_cast<int>(m->items.size())) {
    SendMessageA(L.owner, WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0);
    return;
  }
  const MenuItem &it = m->items[static_cast<size_t>(l.sel)];
  const UINT flags = (it.flags & 0xFFFF) | (it.popup ? MF_POPUP : 0) | (L.system ? MF_SYSMENU : 0) | MF_HILITE;
  const UINT id = it.popup ? static_cast<UINT>(l.sel) : it.id;
  SendMessageA(L.owner, WM_MENUSELECT, MAKEWPARAM(id, flags), reinterpret_cast<LPARAM>(l.menu));
}

void CloseFrom(Loop &L, size_t depth) {
  while (L.levels.size() > depth) {
    if (L.levels.back().wnd) DestroyWindow(L.levels.back().wnd);
    L.levels.pop_back();
  }
}

// Opens the submenu of the selected item of the last level at a screen point.
void OpenPopup(Loop &L, HMENU sub, POINT at, int index_in_parent) {
  SendMessageA(L.owner, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(sub), MAKELPARAM(index_in_parent, L.system ? 1 : 0));
  EnsurePopupClass();
  const PopupLayout lay = LayoutPopup(sub);
  const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
  at.x = std::max(0, std::min<int>(at.x, sw - lay.size.cx));
  at.y = std::max(0, std::min<int>(at.y, sh - lay.size.cy));
  Level l{sub, nullptr, -1};
  L.levels.push_back(l);
  HWND wnd = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kPopupClass, "", WS_POPUP, at.x, at.y, lay.size.cx,
                             lay.size.cy, L.owner, nullptr, nullptr, nullptr);
  L.levels.back().wnd = wnd;
  if (wnd) {
    ShowWindow(wnd, SW_SHOWNA);
    UpdateWindow(wnd);
  }
}

POINT BarItemScreen(Loop &L, int index, bool below) {
  const std::vector<RECT> boxes = BarLayout(GetMenu(L.owner), L.bar);
  RECT wr;
  GetWindowRect(L.owner, &wr);
  const RECT r = boxes[static_cast<size_t>(index)];
  return POINT{wr.left + r.left, wr.top + (below ? r.bottom + 1 : r.top)};
}

void OpenBarItem(Loop &L, int index) {
  CloseFrom(L, 1);
  auto m = MenuOf(L.levels[0].menu);
  L.levels[0].sel = index;
  SendSelect(L);
  if (m && index >= 0 && index < static_cast<int>(m->items.size()) && m->items[static_cast<size_t>(index)].popup &&
      !Disabled(m->items[static_cast<size_t>(index)]))
    OpenPopup(L, m->items[static_cast<size_t>(index)].popup, BarItemScreen(L, index, true), index);
  Redraw(L);
}

int NextSelectable(HMENU menu, int from, int step) {
  auto m = MenuOf(menu);
  if (!m || m->items.empty()) return -1;
  const int n = static_cast<int>(m->items.size());
  int i = from;
  for (int k = 0; k < n; ++k) {
    i = ((i + step) % n + n) % n;
    if (!Separator(m->items[static_cast<size_t>(i)])) return i;
  }
  return -1;
}

void Choose(Loop &L, size_t depth, int index) {
  auto m = MenuOf(L.levels[depth].menu);
  if (!m || index < 0 || index >= static_cast<int>(m->items.size())) return;
  const MenuItem &it = m->items[static_cast<size_t>(index)];
  if (Separator(it) || Disabled(it)) return;
  L.levels[depth].sel = index;
  if (it.popup) {
    CloseFrom(L, depth + 1);
    if (depth == 0 && L.from_bar) {
      OpenBarItem(L, index);
      return;
    }
    RECT wr;
    GetWindowRect(L.levels[depth].wnd, &wr);
    const PopupLayout lay = LayoutPopup(L.levels[depth].menu);
    OpenPopup(L, it.popup, POINT{wr.right - 3, wr.top + lay.items[static_cast<size_t>(index)].top - 3}, index);
    L.levels.back().sel = NextSelectable(it.popup, -1, 1);
    SendSelect(L);
    Redraw(L);
    return;
  }
  L.chosen = it.id;
  L.chosen_system = L.system;
  L.done = true;
}

void KeyDown(Loop &L, WPARAM key) {
  const size_t depth = L.levels.size() - 1;
  Level &cur = L.levels.back();
  const bool on_bar = L.from_bar && depth == 0;
  switch (key) {
    case VK_ESCAPE:
      if (depth == 0) {
        L.done = true;
        return;
      }
      CloseFrom(L, depth);
      SendSelect(L);
      Redraw(L);
      return;
    case VK_MENU:
    case VK_F10: L.done = true; return;
    case VK_LEFT:
    case VK_RIGHT: {
      const int step = key == VK_LEFT ? -1 : 1;
      if (on_bar) {
        cur.sel = NextSelectable(cur.menu, cur.sel, step);
        SendSelect(L);
        Redraw(L);
        return;
      }
      auto m = MenuOf(cur.menu);
      if (key == VK_RIGHT && m && cur.sel >= 0 && m->items[static_cast<size_t>(cur.sel)].popup) {
        Choose(L, depth, cur.sel);
        return;
      }
      if (key == VK_LEFT && depth > (L.from_bar ? 1u : 0u)) {
        CloseFrom(L, depth);
        Redraw(L);
        return;
      }
      if (L.from_bar) {
        const int next = NextSelectable(L.levels[0].menu, L.levels[0].sel, step);
        OpenBarItem(L, next);
        if (L.levels.size() > 1) L.levels.back().sel = NextSelectable(L.levels.back().menu, -1, 1);
        SendSelect(L);
        Redraw(L);
      }
      return;
    }
    case VK_UP:
    case VK_DOWN:
      if (on_bar) {
        OpenBarItem(L, cur.sel);
        if (L.levels.size() > 1) L.levels.back().sel = NextSelectable(L.levels.back().menu, -1, 1);
        SendSelect(L);
        Redraw(L);
        return;
      }
      cur.sel = NextSelectable(cur.menu, cur.sel, key == VK_UP ? -1 : 1);
      SendSelect(L);
      Redraw(L);
      return;
    case VK_RETURN:
      if (on_bar) {
        OpenBarItem(L, cur.sel);
        if (L.levels.size() > 1) L.levels.back().sel = NextSelectable(L.levels.back().menu, -1, 1);
        SendSelect(L);
        Redraw(L);
        return;
      }
      Choose(L, depth, cur.sel);
      return;
    default: return;
  }
}

void CharKey(Loop &L, WPARAM ch) {
  const char want = static_cast<char>(std::tolower(static_cast<int>(ch & 0xFF)));
  const size_t depth = L.levels.size() - 1;
  auto m = MenuOf(L.levels[depth].menu);
  if (!m) return;
  for (size_t i = 0; i < m->items.size(); ++i) {
    if (MnemonicOf(m->items[i].text) == want && !Separator(m->items[i])) {
      Choose(L, depth, static_cast<int>(i));
      if (depth == 0 && L.from_bar && L.levels.size() > 1) {
        L.levels.back().sel = NextSelectable(L.levels.back().menu, -1, 1);
        SendSelect(L);
        Redraw(L);
      }
      return;
    }
  }
  MessageBeep(0);
}

// Which level and item lie under a screen point; false when none.
bool HitTest(Loop &L, POINT screen, size_t &depth, int &index) {
  for (size_t d = L.levels.size(); d-- > 0;) {
    const Level &l = L.levels[d];
    if (l.wnd) {
      RECT wr;
      GetWindowRect(l.wnd, &wr);
      if (!PtInRect(&wr, screen)) continue;
      const PopupLayout lay = LayoutPopup(l.menu);
      const POINT p{screen.x - wr.left, screen.y - wr.top};
      depth = d;
      index = -1;
      for (size_t i = 0; i < lay.items.size(); ++i)
        if (PtInRect(&lay.items[i], p)) index = static_cast<int>(i);
      return true;
    }
    if (L.from_bar && d == 0) {
      RECT wr;
      GetWindowRect(L.owner, &wr);
      const POINT p{screen.x - wr.left, screen.y - wr.top};
      const std::vector<RECT> boxes = BarLayout(l.menu, L.bar);
      for (size_t i = 0; i < boxes.size(); ++i)
        if (PtInRect(&boxes[i], p)) {
          depth = 0;
          index = static_cast<int>(i);
          return true;
        }
    }
  }
  return false;
}

// The screen point of a mouse message (client messages carry client coordinates).
POINT ScreenPointOf(const MSG &m) {
  POINT p = PointFromLParam(m.lParam);
  if (m.message >= WM_MOUSEFIRST && m.message <= WM_MOUSELAST) ClientToScreen(m.hwnd, &p);
  return p;
}

void Mouse(Loop &L, const MSG &m) {
  size_t depth;
  int index;
  const bool hit = HitTest(L, ScreenPointOf(m), depth, index);
  switch (m.message) {
    case WM_MOUSEMOVE:
    case WM_NCMOUSEMOVE:
      if (!hit || index < 0) return;
      if (L.from_bar && depth == 0) {
        if (index != L.levels[0].sel && L.levels.size() > 1) OpenBarItem(L, index);
        return;
      }
      if (L.levels[depth].sel != index) {
        CloseFrom(L, depth + 1);
        L.levels[depth].sel = index;
        SendSelect(L);
        Redraw(L);
      }
      return;
    case WM_LBUTTONDOWN:
    case WM_NCLBUTTONDOWN:
    case WM_RBUTTONDOWN:
      if (!hit) {
        L.done = true;  // a click elsewhere closes the menus
        return;
      }
      if (L.from_bar && depth == 0) {
        if (index == L.levels[0].sel && L.levels.size() > 1)
          L.done = true;
        else
          OpenBarItem(L, index);
      }
      return;
    case WM_LBUTTONUP:
    case WM_NCLBUTTONUP:
    case WM_RBUTTONUP:
      if (hit && index >= 0 && !(L.from_bar && depth == 0)) Choose(L, depth, index);
      return;
    default: return;
  }
}

bool IsMouse(UINT msg) {
  return (msg >= WM_MOUSEFIRST && msg <= WM_MOUSELAST) || (msg >= WM_NCMOUSEMOVE && msg <= WM_NCLBUTTONDBLCLK + 6);
}

// Runs the loop until an item is chosen or the menus are closed.
void RunLoop(Loop &L) {
  Loop *outer = g_loop;
  g_loop = &L;
  SendMessageA(L.owner, WM_ENTERMENULOOP, L.from_bar ? FALSE : TRUE, 0);
  HWND old_capture = SetCapture(L.owner);
  WPARAM exit_key = 0;
  while (!L.done && !L.levels.empty()) {
    MSG m;
    const BOOL got = GetMessageA(&m, nullptr, 0, 0);
    if (got <= 0) {
      if (got == 0) PostQuitMessage(static_cast<int>(m.wParam));
      break;
    }
    switch (m.message) {
      case WM_KEYDOWN:
      case WM_SYSKEYDOWN:
        if (m.wParam == VK_MENU || m.wParam == VK_F10) {
          // Alt or F10 pressed inside the loop ends menu mode when its key comes up.
          exit_key = m.wParam;
          break;
        }
        exit_key = 0;
        KeyDown(L, m.wParam);
        TranslateMessage(&m);
        break;
      case WM_KEYUP:
      case WM_SYSKEYUP:
        if ((m.wParam == VK_MENU || m.wParam == VK_F10) && m.wParam == exit_key) L.done = true;
        break;
      case WM_CHAR:
      case WM_SYSCHAR:
        if (m.wParam >= 32) CharKey(L, m.wParam);
        break;
      default:
        if (IsMouse(m.message)) {
          Mouse(L, m);
          break;
        }
        DispatchMessageA(&m);
        break;
    }
    if (!IsWindow(L.owner)) break;
  }
  CloseFrom(L, 0);
  if (GetCapture() == L.owner) ReleaseCapture();
  if (old_capture && IsWindow(old_capture)) SetCapture(old_capture);
  g_loop = outer;
  if (IsWindow(L.owner)) {
    SendMessageA(L.owner, WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0);
    SendMessageA(L.owner, WM_EXITMENULOOP, L.from_bar ? FALSE : TRUE, 0);
    if (L.from_bar) RedrawWindow(L.owner, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE);
  }
}

void Deliver(const Loop &L) {
  if (!L.chosen || !IsWindow(L.owner)) return;
  if (L.chosen_system)
    PostMessageA(L.owner, WM_SYSCOMMAND, L.chosen, 0);
  else
    PostMessageA(L.owner, WM_COMMAND, MAKEWPARAM(L.chosen, 0), 0);
}

// Menu mode on the bar: from a key (Alt, F10, a mnemonic) or a click on an item.
void BarMenu(HWND owner, int open_index, bool open, WPARAM mnemonic) {
  HMENU menu = GetMenu(owner);
  if (!MenuOf(menu) || GetMenuItemCount(menu) == 0) return;
  SendMessageA(owner, WM_INITMENU, reinterpret_cast<WPARAM>(menu), 0);
  Loop L;
  L.owner = owner;
  L.from_bar = true;
  L.bar = BarRect(owner);
  L.levels.push_back(Level{menu, nullptr, open_index >= 0 ? open_index : NextSelectable(menu, -1, 1)});
  if (mnemonic) {
    g_loop = &L;
    CharKey(L, mnemonic);
    g_loop = nullptr;
    if (L.done || L.levels.size() == 1) {  // no such mnemonic, or a command chosen at once
      Deliver(L);
      return;
    }
  } else if (open) {
    OpenBarItem(L, L.levels[0].sel);
  } else {
    SendSelect(L);
    Redraw(L);
  }
  RunLoop(L);
  Deliver(L);
}

int BarIndexAt(HWND hwnd, POINT screen) {
  RECT wr;
  GetWindowRect(hwnd, &wr);
  const POINT p{screen.x - wr.left, screen.y - wr.top};
  const std::vector<RECT> boxes = BarLayout(GetMenu(hwnd), BarRect(hwnd));
  for (size_t i = 0; i < boxes.size(); ++i)
    if (PtInRect(&boxes[i], p)) return static_cast<int>(i);
  return -1;
}

HWND TopOf(HWND h) {
  while (h && (StyleOf(h) & WS_CHILD) && GetParent(h)) h = GetParent(h);
  return h;
}

// The last key that went down through a default window procedure, so Alt or
// F10 enters menu mode only when released without another key in between.
// Keys a window takes itself never reach it: the keyboard's own last key
// down (0 when only posted key messages were seen) must agree too.
thread_local WPARAM t_last_down = 0;

bool ReleasedAlone(WPARAM key) {
  const UINT keyboard = qx::display::LastKeyDown();
  return t_last_down == key && (keyboard == 0 || keyboard == key);
}

bool MenuDefProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, LRESULT &result) {
  switch (msg) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      if (!(lp & (1L << 30))) t_last_down = wp;  // not an auto-repeat
      return false;
    case WM_NCCREATE: {
      // A class menu becomes the window's menu.
      auto w = FindLocalWindow(hwnd);
      if (!w || (w->style & WS_CHILD)) return false;
      LPCSTR name = nullptr;
      HINSTANCE inst = nullptr;
      {
        std::lock_guard guard(WindowLock());
        if (w->menu || !w->cls || !w->cls->menu_name) return false;
        name = w->cls->menu_name;
        inst = w->cls->instance;
      }
      if (HMENU m = LoadMenuA(inst, name)) {
        std::lock_guard guard(WindowLock());
        w->menu = m;
        Display().AdjustClient(*w);
      }
      return false;
    }
    case WM_NCDESTROY: {
      auto w = FindLocalWindow(hwnd);
      if (w && !(w->style & WS_CHILD)) {
        HMENU m;
        {
          std::lock_guard guard(WindowLock());
          m = w->menu;
          w->menu = nullptr;
        }
        if (m && MenuOf(m)) DestroyMenu(m);
      }
      if (HMENU sys = SystemMenuOf(hwnd, false)) DestroyMenu(sys);
      return false;
    }
    case WM_NCLBUTTONDOWN:
      if (wp != HTMENU) return false;
      {
        const int index = BarIndexAt(hwnd, PointFromLParam(lp));
        if (index >= 0) BarMenu(hwnd, index, true, 0);
      }
      result = 0;
      return true;
    case WM_SYSKEYUP:
    case WM_KEYUP:
      // Alt or F10 pressed and released alone enters menu mode on the bar.
      if ((wp == VK_MENU || wp == VK_F10) && ReleasedAlone(wp) && GetMenu(TopOf(hwnd))) {
        t_last_down = 0;
        BarMenu(TopOf(hwnd), -1, false, 0);
        result = 0;
        return true;
      }
      return false;
    case WM_SYSCHAR:
      if (wp >= 32 && GetMenu(TopOf(hwnd))) {
        BarMenu(TopOf(hwnd), -1, false, wp);
        result = 0;
        return true;
      }
      return false;
    case WM_SYSCOMMAND:
      if ((wp & 0xFFF0) == SC_KEYMENU && GetMenu(TopOf(hwnd))) {
        BarMenu(TopOf(hwnd), -1, false, lp);
        result = 0;
        return true;
      }
      return false;
    default: return false;
  }
}

struct Installer {
  Installer() { SetMenuBarHooks(MenuBarHooks{PaintBar, MenuDefProc}); }
} g_installer;

}  // namespace

UINT TrackPopup(HMENU menu, UINT flags, POINT at, HWND owner, bool notify) {
  if (!MenuOf(menu) || !IsWindow(owner)) return 0;
  SendMessageA(owner, WM_INITMENU, reinterpret_cast<WPARAM>(menu), 0);
  Loop L;
  L.owner = owner;
  L.system = menu == SystemMenuOf(owner, false);
  const PopupLayout lay = LayoutPopup(menu);
  if (flags & TPM_RIGHTALIGN)
    at.x -= lay.size.cx;
  else if (flags & TPM_CENTERALIGN)
    at.x -= lay.size.cx / 2;
  if (flags & TPM_BOTTOMALIGN)
    at.y -= lay.size.cy;
  else if (flags & TPM_VCENTERALIGN)
    at.y -= lay.size.cy / 2;
  Loop *outer = g_loop;
  g_loop = &L;
  OpenPopup(L, menu, at, 0);
  g_loop = outer;
  RunLoop(L);
  if (notify) Deliver(L);
  return L.chosen;
}

void InstallMenuBarHooks() { SetMenuBarHooks(MenuBarHooks{PaintBar, MenuDefProc}); }

}  // namespace qx::controls

using namespace qx::controls;

BOOL WINAPI TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND owner, const RECT *) {
  if (!MenuOf(menu)) return FALSE;
  if (!IsWindow(owner)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  const UINT chosen = TrackPopup(menu, flags, POINT{x, y}, owner, !(flags & (TPM_NONOTIFY | TPM_RETURNCMD)));
  if (flags & TPM_RETURNCMD) return static_cast<BOOL>(chosen);
  return TRUE;
}
