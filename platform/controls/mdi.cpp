// The multiple-document interface: the MDICLIENT class that holds a frame's
// document windows, DefFrameProcA and DefMDIChildProcA, and the Window menu
// that lists the document windows.
//
// The client keeps its document windows in two orders: the order they were
// made in, which numbers them in the Window menu (idFirstChild, +1, ...), and
// the order they were last active in, which decides who is active after one
// closes and where WM_MDINEXT goes. A maximised document window fills the
// client with its frame and caption outside it; activating another while one
// is maximised maximises the new one and restores the old.
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "controls_internal.h"

namespace qx::controls {

namespace {

constexpr int kMaxListed = 9;  // document windows named in the Window menu

struct MdiClient {
  HMENU windowMenu = nullptr;
  UINT firstChildId = 0;
  std::vector<HWND> made;    // creation order: menu ids
  std::vector<HWND> recent;  // most recently active first
  HWND active = nullptr;
  bool maximized = false;
  bool separatorAdded = false;
};

MdiClient *StateOf(HWND client) {
  if (ClassOf(client) != "mdiclient") return nullptr;
  return reinterpret_cast<MdiClient *>(GetWindowLongPtrA(client, 0));
}

HWND ClientOf(HWND child) {
  HWND parent = GetParent(child);
  return parent && StateOf(parent) ? parent : nullptr;
}

bool IsDocumentWindow(MdiClient &s, HWND w) { return std::find(s.made.begin(), s.made.end(), w) != s.made.end(); }

std::string TitleOf(HWND w) {
  char text[256] = {};
  GetWindowTextA(w, text, sizeof text);
  return text;
}

// ---- the Window menu ------------------------------------------------------------

void RemoveListFromMenu(MdiClient &s) {
  if (!s.windowMenu || !IsMenu(s.windowMenu)) return;
  for (int i = 0; i < kMaxListed; ++i) DeleteMenu(s.windowMenu, s.firstChildId + static_cast<UINT>(i), MF_BYCOMMAND);
  if (s.separatorAdded) {
    const int count = GetMenuItemCount(s.windowMenu);
    if (count > 0 && (GetMenuState(s.windowMenu, static_cast<UINT>(count - 1), MF_BYPOSITION) & MF_SEPARATOR))
      DeleteMenu(s.windowMenu, static_cast<UINT>(count - 1), MF_BYPOSITION);
  }
  s.separatorAdded = false;
}

void RefreshMenu(MdiClient &s) {
  RemoveListFromMenu(s);
  if (!s.windowMenu || !IsMenu(s.windowMenu) || s.made.empty()) return;
  if (GetMenuItemCount(s.windowMenu) > 0) {
    AppendMenuA(s.windowMenu, MF_SEPARATOR, 0, nullptr);
    s.separatorAdded = true;
  }
  for (size_t i = 0; i < s.made.size() && i < kMaxListed; ++i) {
    const std::string item = "&" + std::to_string(i + 1) + " " + TitleOf(s.made[i]);
    const UINT check = s.made[i] == s.active ? MF_CHECKED : MF_UNCHECKED;
    AppendMenuA(s.windowMenu, MF_STRING | check, s.firstChildId + static_cast<UINT>(i), item.c_str());
  }
}

// ---- sizes ------------------------------------------------------------------------

RECT ClientArea(HWND client) {
  RECT r{};
  GetClientRect(client, &r);
  return r;
}

// The window rectangle that puts a document window's client area over the
// whole MDI client.
RECT MaximizedRect(HWND client, HWND child) {
  RECT r = ClientArea(client);
  AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE)) & ~static_cast<DWORD>(WS_MAXIMIZE), FALSE,
                     static_cast<DWORD>(GetWindowLongA(child, GWL_EXSTYLE)));
  return r;
}

void Place(HWND w, const RECT &r) {
  SetWindowPos(w, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void MaximizeChild(HWND client, HWND child) {
  if (!IsZoomed(child)) ShowWindow(child, SW_SHOWMAXIMIZED);
  Place(child, MaximizedRect(client, child));
}

void RestoreChild(HWND child) {
  if (IsZoomed(child) || IsIconic(child)) ShowWindow(child, SW_RESTORE);
}

// ---- activation -------------------------------------------------------------------

void Activate(HWND client, MdiClient &s, HWND child) {
  if (child && !IsDocumentWindow(s, child)) return;
  const HWND old = s.active;
  if (old == child) return;
  s.active = child;
  if (child) {
    std::erase(s.recent, child);
    s.recent.insert(s.recent.begin(), child);
    if (s.maximized) {
      if (old && IsWindow(old)) RestoreChild(old);
      MaximizeChild(client, child);
    } else if (IsIconic(child)) {
      // An icon stays an icon until restored; it is only brought forward.
    }
    SetWindowPos(child, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  if (old && IsWindow(old)) {
    SendMessageA(old, WM_NCACTIVATE, FALSE, 0);
    SendMessageA(old, WM_MDIACTIVATE, reinterpret_cast<WPARAM>(old), reinterpret_cast<LPARAM>(child));
  }
  if (child) {
    SendMessageA(child, WM_NCACTIVATE, TRUE, 0);
    SendMessageA(child, WM_MDIACTIVATE, reinterpret_cast<WPARAM>(old), reinterpret_cast<LPARAM>(child));
    SetFocus(child);
  } else {
    SetFocus(client);
  }
  RefreshMenu(s);
}

// Drops a document window from the lists; the next most recent becomes active.
void Forget(HWND client, MdiClient &s, HWND child) {
  if (!IsDocumentWindow(s, child)) return;
  std::erase(s.made, child);
  std::erase(s.recent, child);
  if (s.active == child) {
    s.active = nullptr;
    HWND next = s.recent.empty() ? nullptr : s.recent.front();
    if (next) {
      Activate(client, s, next);
    } else {
      s.maximized = false;
      SetFocus(client);
    }
  }
  RefreshMenu(s);
}

// ---- arranging ------------------------------------------------------------------

std::vector<HWND> Arrangeable(MdiClient &s, bool skipDisabled) {
  std::vector<HWND> out;
  // Bottom of the stack first, so the active window ends on top.
  for (auto it = s.recent.rbegin(); it != s.recent.rend(); ++it) {
    if (!IsWindowVisible(*it) || IsIconic(*it)) continue;
    if (skipDisabled && !IsWindowEnabled(*it)) continue;
    out.push_back(*it);
  }
  return out;
}

void LeaveMaximized(MdiClient &s) {
  if (!s.maximized) return;
  s.maximized = false;
  if (s.active) RestoreChild(s.active);
}

int IconHeight() { return GetSystemMetrics(SM_CYCAPTION) + 2 * GetSystemMetrics(SM_CYFRAME); }

bool HasIcons(MdiClient &s) {
  return std::any_of(s.made.begin(), s.made.end(), [](HWND w) { return IsIconic(w) && IsWindowVisible(w); });
}

// Icons sit in a row along the bottom of the client, in creation order.
void ArrangeIcons(HWND client, MdiClient &s) {
  const RECT area = ClientArea(client);
  const int width = std::max(GetSystemMetrics(SM_CXMIN), 160), height = IconHeight();
  int x = area.left, y = area.bottom - height;
  for (HWND w : s.made) {
    if (!IsIconic(w) || !IsWindowVisible(w)) continue;
    if (x + width > area.right && x > area.left) {
      x = area.left;
      y -= height;
    }
    SetWindowPos(w, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    x += width;
  }
}

// The area the arranged windows share: above the icons.
RECT ArrangeArea(HWND client, MdiClient &s) {
  RECT area = ClientArea(client);
  if (HasIcons(s)) area.bottom = std::max(area.top + 1, area.bottom - IconHeight());
  return area;
}

void Cascade(HWND client, MdiClient &s, bool skipDisabled) {
  LeaveMaximized(s);
  const std::vector<HWND> windows = Arrangeable(s, skipDisabled);
  if (windows.empty()) return;
  const RECT area = ArrangeArea(client, s);
  const int step = GetSystemMetrics(SM_CYCAPTION) + GetSystemMetrics(SM_CYFRAME);
  const int n = static_cast<int>(windows.size());
  const int width = std::max((area.right - area.left) * 2 / 3, area.right - area.left - step * (n - 1));
  const int height = std::max((area.bottom - area.top) * 2 / 3, area.bottom - area.top - step * (n - 1));
  for (int i = 0; i < n; ++i) {
    const int x = area.left + step * i, y = area.top + step * i;
    SetWindowPos(windows[static_cast<size_t>(i)], HWND_TOP, x, y, width, height, SWP_NOACTIVATE);
  }
}

// Vertical tiling puts the windows side by side in columns; horizontal tiling
// stacks them in rows. The windows fill the area without overlapping.
void Tile(HWND client, MdiClient &s, UINT how) {
  LeaveMaximized(s);
  const std::vector<HWND> windows = Arrangeable(s, (how & MDITILE_SKIPDISABLED) != 0);
  if (windows.empty()) return;
  const RECT area = ArrangeArea(client, s);
  const int n = static_cast<int>(windows.size());
  const int lanes = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(n))));
  const bool columns = (how & MDITILE_HORIZONTAL) == 0;
  const int across = columns ? area.right - area.left : area.bottom - area.top;
  const int along = columns ? area.bottom - area.top : area.right - area.left;
  int placed = 0;
  for (int lane = 0; lane < lanes; ++lane) {
    // The last lanes take one window more when the count does not divide.
    const int inLane = n / lanes + (lane >= lanes - n % lanes ? 1 : 0);
    const int a0 = across * lane / lanes, a1 = across * (lane + 1) / lanes;
    for (int k = 0; k < inLane && placed < n; ++k, ++placed) {
      const int b0 = along * k / inLane, b1 = along * (k + 1) / inLane;
      const RECT r = columns ? RECT{area.left + a0, area.top + b0, area.left + a1, area.top + b1}
                             : RECT{area.left + b0, area.top + a0, area.left + b1, area.top + a1};
      Place(windows[static_cast<size_t>(placed)], r);
    }
  }
}

// ---- the client's messages ----------------------------------------------------------

HWND CreateDocumentWindow(HWND client, MdiClient &s, const MDICREATESTRUCTA &cs) {
  DWORD style =
      cs.style | WS_CHILD | WS_CLIPSIBLINGS | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
  const bool maximize = s.maximized || (style & WS_MAXIMIZE);
  const bool minimize = (style & WS_MINIMIZE) != 0;
  style &= ~static_cast<DWORD>(WS_MAXIMIZE | WS_MINIMIZE | WS_VISIBLE);
  const RECT area = ClientArea(client);
  const int step = GetSystemMetrics(SM_CYCAPTION) + GetSystemMetrics(SM_CYFRAME);
  const int slot = static_cast<int>(s.made.size() % 8);
  int x = cs.x, y = cs.y, cx = cs.cx, cy = cs.cy;
  if (x == CW_USEDEFAULT) x = area.left + step * slot, y = area.top + step * slot;
  if (cx == CW_USEDEFAULT)
    cx = std::max(100, (area.right - area.left) * 3 / 4), cy = std::max(60, (area.bottom - area.top) * 3 / 4);
  const UINT id = s.firstChildId + static_cast<UINT>(s.made.size());
  HWND child = CreateWindowExA(WS_EX_MDICHILD, cs.szClass, cs.szTitle, style, x, y, cx, cy, client,
                               reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), static_cast<HINSTANCE>(cs.hOwner),
                               const_cast<MDICREATESTRUCTA *>(&cs));
  if (!child) return nullptr;
  s.made.push_back(child);
  s.recent.push_back(child);
  if (minimize) {
    ShowWindow(child, SW_SHOWMINNOACTIVE);
    ArrangeIcons(client, s);
  } else {
    ShowWindow(child, SW_SHOW);
    if (maximize) s.maximized = true;
  }
  Activate(client, s, child);
  if (maximize && !minimize) MaximizeChild(client, child);
  RefreshMenu(s);
  return child;
}

LRESULT SetWindowMenu(HWND client, MdiClient &s, HMENU frameMenu, HMENU windowMenu) {
  HWND frame = GetParent(client);
  const HMENU old = frame ? GetMenu(frame) : nullptr;
  if (windowMenu != s.windowMenu) {
    RemoveListFromMenu(s);
    s.windowMenu = windowMenu;
  }
  if (frameMenu && frame && frameMenu != old) SetMenu(frame, frameMenu);
  RefreshMenu(s);
  if (frame) DrawMenuBar(frame);
  return reinterpret_cast<LRESULT>(old);
}

// Next: the window just under the active one comes up and the active one
// goes to the bottom, so repeating it visits every window; previous: the one
// at the bottom comes up.
void Next(HWND client, MdiClient &s, HWND from, bool previous) {
  if (s.recent.size() < 2) return;
  if (!from || from != s.active) from = s.active;
  if (previous) {
    Activate(client, s, s.recent.back());
    return;
  }
  Activate(client, s, s.recent[1]);
  std::erase(s.recent, from);
  s.recent.push_back(from);
}

LRESULT ClientMessage(HWND client, MdiClient &s, UINT msg, WPARAM wp, LPARAM lp) {
  HWND child = reinterpret_cast<HWND>(wp);
  switch (msg) {
    case WM_MDICREATE:
      return lp ? reinterpret_cast<LRESULT>(CreateDocumentWindow(client, s, *reinterpret_cast<MDICREATESTRUCTA *>(lp)))
                : 0;
    case WM_MDIDESTROY:
      if (!IsDocumentWindow(s, child)) return 0;
      Forget(client, s, child);
      DestroyWindow(child);
      return 0;
    case WM_MDIACTIVATE:
      if (IsIconic(child) && s.maximized) RestoreChild(child);
      Activate(client, s, child);
      return 0;
    case WM_MDIGETACTIVE:
      if (lp) *reinterpret_cast<BOOL *>(lp) = s.maximized && s.active ? TRUE : FALSE;
      return reinterpret_cast<LRESULT>(s.active);
    case WM_MDINEXT: Next(client, s, child, lp != 0); return 0;
    case WM_MDIMAXIMIZE:
      if (!IsDocumentWindow(s, child)) return 0;
      s.maximized = true;
      if (s.active != child) Activate(client, s, child);
      MaximizeChild(client, child);
      return 0;
    case WM_MDIRESTORE:
      if (!IsDocumentWindow(s, child)) return 0;
      if (IsZoomed(child)) s.maximized = false;
      RestoreChild(child);
      if (HasIcons(s)) ArrangeIcons(client, s);
      return 0;
    case WM_MDICASCADE: Cascade(client, s, (wp & MDITILE_SKIPDISABLED) != 0); return TRUE;
    case WM_MDITILE: Tile(client, s, static_cast<UINT>(wp)); return TRUE;
    case WM_MDIICONARRANGE: ArrangeIcons(client, s); return 0;
    case WM_MDISETMENU:
      return SetWindowMenu(client, s, reinterpret_cast<HMENU>(wp), lp ? reinterpret_cast<HMENU>(lp) : s.windowMenu);
    case WM_MDIREFRESHMENU:
      RefreshMenu(s);
      return reinterpret_cast<LRESULT>(GetParent(client) ? GetMenu(GetParent(client)) : nullptr);
    case WM_SIZE:
      if (s.maximized && s.active) Place(s.active, MaximizedRect(client, s.active));
      if (HasIcons(s)) ArrangeIcons(client, s);
      return 0;
    case WM_SETFOCUS:
      if (s.active && IsWindow(s.active) && !IsIconic(s.active)) SetFocus(s.active);
      return 0;
    case WM_PARENTNOTIFY:
      if (LOWORD(wp) == WM_DESTROY) Forget(client, s, reinterpret_cast<HWND>(lp));
      return 0;
    default: return DefWindowProcA(client, msg, wp, lp);
  }
}

}  // namespace

LRESULT CALLBACK MdiClientProc(HWND client, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto state = std::make_unique<MdiClient>();
    const auto *create = reinterpret_cast<const CREATESTRUCTA *>(lp);
    if (create && create->lpCreateParams) {
      const auto *ccs = static_cast<const CLIENTCREATESTRUCT *>(create->lpCreateParams);
      state->windowMenu = static_cast<HMENU>(ccs->hWindowMenu);
      state->firstChildId = ccs->idFirstChild;
    }
    SetWindowLongPtrA(client, 0, reinterpret_cast<LONG_PTR>(state.release()));
    return DefWindowProcA(client, msg, wp, lp);
  }
  if (msg == WM_NCDESTROY) {
    auto *state = reinterpret_cast<MdiClient *>(GetWindowLongPtrA(client, 0));
    SetWindowLongPtrA(client, 0, 0);
    if (state) RemoveListFromMenu(*state);
    delete state;
    return DefWindowProcA(client, msg, wp, lp);
  }
  MdiClient *s = reinterpret_cast<MdiClient *>(GetWindowLongPtrA(client, 0));
  if (!s) return DefWindowProcA(client, msg, wp, lp);
  return ClientMessage(client, *s, msg, wp, lp);
}

}  // namespace qx::controls

using namespace qx::controls;

extern "C" {

LRESULT WINAPI DefFrameProcA(HWND frame, HWND client, UINT msg, WPARAM wp, LPARAM lp) {
  MdiClient *s = client ? StateOf(client) : nullptr;
  if (s) {
    switch (msg) {
      case WM_COMMAND: {
        const UINT id = LOWORD(wp);
        if (id >= s->firstChildId && id < s->firstChildId + s->made.size()) {
          HWND child = s->made[id - s->firstChildId];
          if (IsIconic(child)) ShowWindow(child, SW_RESTORE);
          Activate(client, *s, child);
          return 0;
        }
        break;
      }
      case WM_SIZE: {
        RECT r{};
        GetClientRect(frame, &r);
        MoveWindow(client, 0, 0, r.right, r.bottom, TRUE);
        return 0;
      }
      case WM_SETFOCUS: SetFocus(client); return 0;
      default: break;
    }
  }
  return DefWindowProcA(frame, msg, wp, lp);
}

LRESULT WINAPI DefMDIChildProcA(HWND child, UINT msg, WPARAM wp, LPARAM lp) {
  HWND client = ClientOf(child);
  MdiClient *s = client ? StateOf(client) : nullptr;
  if (!s) return DefWindowProcA(child, msg, wp, lp);
  switch (msg) {
    case WM_CHILDACTIVATE: Activate(client, *s, child); return 0;
    case WM_CLOSE: SendMessageA(client, WM_MDIDESTROY, reinterpret_cast<WPARAM>(child), 0); return 0;
    case WM_NCACTIVATE:
      // The frame's caption keeps its own state; only this caption is redrawn.
      SendMessageA(child, WM_NCPAINT, 1, 0);
      return TRUE;
    case WM_SETTEXT: {
      const LRESULT r = DefWindowProcA(child, msg, wp, lp);
      RefreshMenu(*s);
      return r;
    }
    case WM_SYSCOMMAND:
      switch (wp & 0xFFF0) {
        case SC_MAXIMIZE: SendMessageA(client, WM_MDIMAXIMIZE, reinterpret_cast<WPARAM>(child), 0); return 0;
        case SC_RESTORE: SendMessageA(client, WM_MDIRESTORE, reinterpret_cast<WPARAM>(child), 0); return 0;
        case SC_MINIMIZE:
          if (IsZoomed(child)) s->maximized = false;
          ShowWindow(child, SW_MINIMIZE);
          ArrangeIcons(client, *s);
          return 0;
        case SC_CLOSE: SendMessageA(child, WM_CLOSE, 0, 0); return 0;
        case SC_NEXTWINDOW: SendMessageA(client, WM_MDINEXT, reinterpret_cast<WPARAM>(child), 0); return 0;
        case SC_PREVWINDOW: SendMessageA(client, WM_MDINEXT, reinterpret_cast<WPARAM>(child), 1); return 0;
        default: break;
      }
      break;
    case WM_DESTROY: Forget(client, *s, child); break;
    default: break;
  }
  return DefWindowProcA(child, msg, wp, lp);
}

// Ctrl+F4 closes the active document window, Ctrl+F6 and Ctrl+Shift+F6 go to
// the next and previous one.
BOOL WINAPI TranslateMDISysAccel(HWND client, LPMSG m) {
  MdiClient *s = client ? StateOf(client) : nullptr;
  if (!s || !m || !s->active || (m->message != WM_KEYDOWN && m->message != WM_SYSKEYDOWN)) return FALSE;
  if (!(GetKeyState(VK_CONTROL) & 0x8000) || (GetKeyState(VK_MENU) & 0x8000)) return FALSE;
  UINT command = 0;
  if (m->wParam == VK_F4) command = SC_CLOSE;
  if (m->wParam == VK_F6) command = (GetKeyState(VK_SHIFT) & 0x8000) ? SC_PREVWINDOW : SC_NEXTWINDOW;
  if (!command) return FALSE;
  PostMessageA(s->active, WM_SYSCOMMAND, command, 0);
  return TRUE;
}

HWND WINAPI CreateMDIWindowA(LPCSTR cls, LPCSTR title, DWORD style, int x, int y, int cx, int cy, HWND client,
                             HINSTANCE instance, LPARAM param) {
  MDICREATESTRUCTA cs{cls, title, instance, x, y, cx, cy, style, param};
  return reinterpret_cast<HWND>(SendMessageA(client, WM_MDICREATE, 0, reinterpret_cast<LPARAM>(&cs)));
}

}  // extern "C"
