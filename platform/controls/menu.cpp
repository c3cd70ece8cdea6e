// Menus: handles and their items, menus made from templates, and the calls
// that change and query them. The menu bar and popups live in menubar.cpp.
#include <cstring>
#include <map>
#include <mutex>

#include "controls_internal.h"
#include "menu_data.h"
#include "qx/resources.h"
#include "qx/window.h"

#ifndef ERROR_INVALID_MENU_HANDLE
#define ERROR_INVALID_MENU_HANDLE 1401L
#endif
#ifndef ERROR_MENU_ITEM_NOT_FOUND
#define ERROR_MENU_ITEM_NOT_FOUND 1456L
#endif

namespace qx::controls {
namespace {

struct Table {
  std::recursive_mutex lock;
  std::map<HMENU, std::shared_ptr<Menu>> menus;
  std::map<HWND, HMENU> system_menus;
  UINT next = 0x4D0004;  // menu handles are their own kind of value
};

Table &T() {
  static auto *t = new Table;
  return *t;
}

HMENU NewMenu(bool popup) {
  Table &t = T();
  std::lock_guard guard(t.lock);
  HMENU h = reinterpret_cast<HMENU>(static_cast<UINT_PTR>(t.next));
  t.next += 4;
  auto m = std::make_shared<Menu>();
  m->popup = popup;
  t.menus[h] = m;
  return h;
}

constexpr UINT kStateBits = MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_HILITE | MF_DEFAULT;
constexpr UINT kTypeBits =
    MF_SEPARATOR | MF_POPUP | MF_BITMAP | MF_OWNERDRAW | MF_MENUBARBREAK | MF_MENUBREAK | MF_HELP;

MenuItem MakeItem(UINT flags, UINT_PTR id, LPCSTR text) {
  MenuItem it;
  it.flags = flags & (kStateBits | kTypeBits);
  if (flags & MF_POPUP)
    it.popup = reinterpret_cast<HMENU>(id);
  else if (!(flags & MF_SEPARATOR))
    it.id = static_cast<UINT>(id);
  if (!(flags & (MF_SEPARATOR | MF_BITMAP | MF_OWNERDRAW)) && text) it.text = text;
  if (!(flags & MF_SEPARATOR) && !(flags & MF_POPUP) && !text && !(flags & (MF_BITMAP | MF_OWNERDRAW)))
    it.flags |= MF_SEPARATOR;
  return it;
}

HMENU Build(const QX_MENU_ITEM *items, UINT count, bool popup) {
  HMENU m = NewMenu(popup);
  for (UINT i = 0; i < count; ++i) {
    const QX_MENU_ITEM &src = items[i];
    if (src.popup) {
      HMENU sub = Build(src.popup, src.popupCount, true);
      AppendMenuA(m, (src.flags & ~static_cast<UINT>(MF_BYPOSITION)) | MF_POPUP, reinterpret_cast<UINT_PTR>(sub),
                  src.text);
    } else if (!src.text) {
      AppendMenuA(m, MF_SEPARATOR, 0, nullptr);
    } else {
      AppendMenuA(m, src.flags & ~static_cast<UINT>(MF_BYPOSITION | MF_POPUP), src.id, src.text);
    }
  }
  return m;
}

bool LocateIn(HMENU menu, UINT item, UINT flags, HMENU &owner, size_t &index, int depth) {
  auto m = MenuOf(menu);
  if (!m || depth > 16) return false;
  if (flags & MF_BYPOSITION) {
    if (item >= m->items.size()) return false;
    owner = menu;
    index = item;
    return true;
  }
  for (size_t i = 0; i < m->items.size(); ++i) {
    const MenuItem &it = m->items[i];
    if (!it.popup && !(it.flags & MF_SEPARATOR) && it.id == item) {
      owner = menu;
      index = i;
      return true;
    }
  }
  for (size_t i = 0; i < m->items.size(); ++i)
    if (m->items[i].popup && LocateIn(m->items[i].popup, item, flags, owner, index, depth + 1)) return true;
  // A popup may be named by its handle as a command.
  for (size_t i = 0; i < m->items.size(); ++i)
    if (m->items[i].popup && reinterpret_cast<UINT_PTR>(m->items[i].popup) == item) {
      owner = menu;
      index = i;
      return true;
    }
  return false;
}

std::shared_ptr<Window> LocalTop(HWND hwnd) {
  auto w = FindLocalWindow(hwnd);
  if (!w || (w->style & WS_CHILD)) return nullptr;
  return w;
}

}  // namespace

std::shared_ptr<Menu> MenuOf(HMENU menu) {
  Table &t = T();
  std::lock_guard guard(t.lock);
  auto it = t.menus.find(menu);
  if (it == t.menus.end()) {
    SetLastError(ERROR_INVALID_MENU_HANDLE);
    return nullptr;
  }
  return it->second;
}

bool LocateItem(HMENU menu, UINT item, UINT flags, HMENU &owner, size_t &index) {
  std::lock_guard guard(T().lock);
  if (!MenuOf(menu)) return false;
  if (LocateIn(menu, item, flags, owner, index, 0)) return true;
  SetLastError(ERROR_MENU_ITEM_NOT_FOUND);
  return false;
}

HMENU SystemMenuOf(HWND hwnd, bool create) {
  Table &t = T();
  std::lock_guard guard(t.lock);
  auto it = t.system_menus.find(hwnd);
  if (it != t.system_menus.end() && MenuOf(it->second)) return it->second;
  if (!create) return nullptr;
  HMENU m = NewMenu(true);
  const DWORD style = StyleOf(hwnd);
  AppendMenuA(m, MF_STRING, SC_RESTORE, "&Restore");
  AppendMenuA(m, MF_STRING, SC_MOVE, "&Move");
  AppendMenuA(m, (style & WS_THICKFRAME) ? MF_STRING : MF_GRAYED, SC_SIZE, "&Size");
  AppendMenuA(m, (style & WS_MINIMIZEBOX) ? MF_STRING : MF_GRAYED, SC_MINIMIZE, "Mi&nimize");
  AppendMenuA(m, (style & WS_MAXIMIZEBOX) ? MF_STRING : MF_GRAYED, SC_MAXIMIZE, "Ma&ximize");
  AppendMenuA(m, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(m, MF_STRING, SC_CLOSE, "&Close\tAlt+F4");
  t.system_menus[hwnd] = m;
  return m;
}

}  // namespace qx::controls

using namespace qx::controls;

HMENU WINAPI CreateMenu(void) { return NewMenu(false); }
HMENU WINAPI CreatePopupMenu(void) { return NewMenu(true); }

BOOL WINAPI IsMenu(HMENU menu) { return MenuOf(menu) != nullptr; }

BOOL WINAPI DestroyMenu(HMENU menu) {
  Table &t = T();
  std::shared_ptr<Menu> m;
  {
    std::lock_guard guard(t.lock);
    auto it = t.menus.find(menu);
    if (it == t.menus.end()) {
      SetLastError(ERROR_INVALID_MENU_HANDLE);
      return FALSE;
    }
    m = it->second;
    t.menus.erase(it);
  }
  for (const MenuItem &it : m->items)
    if (it.popup) DestroyMenu(it.popup);
  return TRUE;
}

HMENU WINAPI LoadMenuIndirectA(const QX_MENU *tmpl) {
  if (!tmpl) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return Build(tmpl->items, tmpl->itemCount, false);
}

HMENU WINAPI LoadMenuA(HINSTANCE inst, LPCSTR name) {
  const QX_MENU *m = qx::FindMenuResource(reinterpret_cast<HMODULE>(inst), name);
  return m ? LoadMenuIndirectA(m) : nullptr;
}

BOOL WINAPI InsertMenuA(HMENU menu, UINT pos, UINT flags, UINT_PTR id, LPCSTR text) {
  std::lock_guard guard(T().lock);
  auto m = MenuOf(menu);
  if (!m) return FALSE;
  if ((flags & MF_POPUP) && !MenuOf(reinterpret_cast<HMENU>(id))) return FALSE;
  MenuItem item = MakeItem(flags, id, text);
  HMENU owner = menu;
  size_t index = m->items.size();
  if (pos != static_cast<UINT>(-1)) {
    if (!LocateItem(menu, pos, flags & MF_BYPOSITION, owner, index)) {
      if (!(flags & MF_BYPOSITION)) return FALSE;
      owner = menu;
      index = m->items.size();  // a position past the end appends
    }
  }
  auto target = MenuOf(owner);
  target->items.insert(target->items.begin() + static_cast<std::ptrdiff_t>(index), item);
  return TRUE;
}

BOOL WINAPI AppendMenuA(HMENU menu, UINT flags, UINT_PTR id, LPCSTR text) {
  return InsertMenuA(menu, static_cast<UINT>(-1), flags | MF_BYPOSITION, id, text);
}

BOOL WINAPI ModifyMenuA(HMENU menu, UINT pos, UINT flags, UINT_PTR id, LPCSTR text) {
  std::lock_guard guard(T().lock);
  HMENU owner;
  size_t index;
  if (!LocateItem(menu, pos, flags & MF_BYPOSITION, owner, index)) return FALSE;
  if ((flags & MF_POPUP) && !MenuOf(reinterpret_cast<HMENU>(id))) return FALSE;
  auto m = MenuOf(owner);
  MenuItem &it = m->items[index];
  HMENU old_popup = it.popup;
  it = MakeItem(flags, id, text);
  if (old_popup && old_popup != it.popup) DestroyMenu(old_popup);
  return TRUE;
}

static BOOL RemoveItem(HMENU menu, UINT pos, UINT flags, bool destroy) {
  std::lock_guard guard(T().lock);
  HMENU owner;
  size_t index;
  if (!LocateItem(menu, pos, flags & MF_BYPOSITION, owner, index)) return FALSE;
  auto m = MenuOf(owner);
  HMENU popup = m->items[index].popup;
  m->items.erase(m->items.begin() + static_cast<std::ptrdiff_t>(index));
  if (destroy && popup) DestroyMenu(popup);
  return TRUE;
}

BOOL WINAPI DeleteMenu(HMENU menu, UINT pos, UINT flags) { return RemoveItem(menu, pos, flags, true); }
BOOL WINAPI RemoveMenu(HMENU menu, UINT pos, UINT flags) { return RemoveItem(menu, pos, flags, false); }

DWORD WINAPI CheckMenuItem(HMENU menu, UINT item, UINT check) {
  std::lock_guard guard(T().lock);
  HMENU owner;
  size_t index;
  if (!LocateItem(menu, item, check & MF_BYPOSITION, owner, index)) return static_cast<DWORD>(-1);
  MenuItem &it = MenuOf(owner)->items[index];
  const DWORD old = it.flags & MF_CHECKED;
  it.flags = (it.flags & ~static_cast<UINT>(MF_CHECKED)) | (check & MF_CHECKED);
  return old;
}

BOOL WINAPI SetMenuItemBitmaps(HMENU menu, UINT item, UINT flags, HBITMAP unchecked, HBITMAP checked) {
  std::lock_guard guard(T().lock);
  HMENU owner;
  size_t index;
  if (!LocateItem(menu, item, flags & MF_BYPOSITION, owner, index)) return FALSE;
  MenuItem &it = MenuOf(owner)->items[index];
  it.unchecked_bitmap = unchecked;
  it.checked_bitmap = checked;
  return TRUE;
}

// The size of a check-mark bitmap: SM_CXMENUCHECK by SM_CYMENUCHECK.
LONG WINAPI GetMenuCheckMarkDimensions(void) {
  return static_cast<LONG>(MAKELONG(GetSystemMetrics(SM_CXMENUCHECK), GetSystemMetrics(SM_CYMENUCHECK)));
}

BOOL WINAPI EnableMenuItem(HMENU menu, UINT item, UINT enable) {
  std::lock_guard guard(T().lock);
  HMENU owner;
  size_t index;
  if (!LocateItem(menu, item, enable & MF_BYPOSITION, owner, index)) return -1;
  MenuItem &it = MenuOf(owner)->items[index];
  const UINT old = it.flags & (MF_GRAYED | MF_DISABLED);
  it.flags = (it.flags & ~static_cast<UINT>(MF_GRAYED | MF_DISABLED)) | (enable & (MF_GRAYED | MF_DISABLED));
  return static_cast<BOOL>(old);  // the previous state, as the call has always answered
}

int WINAPI GetMenuStringA(HMENU menu, UINT item, LPSTR buf, int max, UINT flags) {
  if (buf && max > 0) buf[0] = '\0';
  std::lock_guard guard(T().lock);
  HMENU owner;
  size_t index;
  if (!LocateItem(menu, item, flags & MF_BYPOSITION, owner, index)) return 0;
  const std::string &text = MenuOf(owner)->items[index].text;
  if (!buf || max <= 0) return static_cast<int>(text.size());
  const size_t n = std::min(text.size(), static_cast<size_t>(max - 1));
  std::memcpy(buf, text.data(), n);
  buf[n] = '\0';
  return static_cast<int>(n);
}

int WINAPI GetMenuItemCount(HMENU menu) {
  auto m = MenuOf(menu);
  return m ? static_cast<int>(m->items.size()) : -1;
}

UINT WINAPI GetMenuItemID(HMENU menu, int pos) {
  auto m = MenuOf(menu);
  if (!m || pos < 0 || static_cast<size_t>(pos) >= m->items.size()) return static_cast<UINT>(-1);
  const MenuItem &it = m->items[static_cast<size_t>(pos)];
  return it.popup ? static_cast<UINT>(-1) : it.id;
}

UINT WINAPI GetMenuState(HMENU menu, UINT item, UINT flags) {
  std::lock_guard guard(T().lock);
  HMENU owner;
  size_t index;
  if (!LocateItem(menu, item, flags & MF_BYPOSITION, owner, index)) return static_cast<UINT>(-1);
  const MenuItem &it = MenuOf(owner)->items[index];
  if (it.popup) {
    auto sub = MenuOf(it.popup);
    const UINT count = sub ? static_cast<UINT>(std::min<size_t>(sub->items.size(), 255)) : 0;
    return (count << 8) | (it.flags & 0xFF) | MF_POPUP;
  }
  return it.flags;
}

HMENU WINAPI GetSubMenu(HMENU menu, int pos) {
  auto m = MenuOf(menu);
  if (!m || pos < 0 || static_cast<size_t>(pos) >= m->items.size()) return nullptr;
  return m->items[static_cast<size_t>(pos)].popup;
}

HMENU WINAPI GetMenu(HWND hwnd) {
  auto w = LocalTop(hwnd);
  if (!w) return nullptr;
  std::lock_guard guard(qx::WindowLock());
  return w->menu;
}

BOOL WINAPI SetMenu(HWND hwnd, HMENU menu) {
  auto w = LocalTop(hwnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (menu && !MenuOf(menu)) return FALSE;
  {
    std::lock_guard guard(qx::WindowLock());
    w->menu = menu;
    qx::Display().AdjustClient(*w);
  }
  // The client area changed size: the window hears of it as after any frame change.
  SetWindowPos(hwnd, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  return TRUE;
}

HMENU WINAPI GetSystemMenu(HWND hwnd, BOOL revert) {
  if (!IsWindow(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  if (revert) {
    if (HMENU old = SystemMenuOf(hwnd, false)) {
      DestroyMenu(old);
    }
    return nullptr;
  }
  return SystemMenuOf(hwnd, true);
}

BOOL WINAPI DrawMenuBar(HWND hwnd) {
  if (!LocalTop(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  RedrawWindow(hwnd, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE);
  return TRUE;
}
