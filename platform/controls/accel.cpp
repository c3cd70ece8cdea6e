// Accelerator tables: made from templates or at run time, and the
// translation of key messages into WM_COMMAND (or WM_SYSCOMMAND) for them.
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "controls_internal.h"
#include "menu_data.h"
#include "qx/resources.h"

namespace qx::controls {
namespace {

struct Tables {
  std::mutex lock;
  std::map<HACCEL, std::shared_ptr<const std::vector<ACCEL>>> tables;
  UINT next = 0x4C0004;
};

Tables &T() {
  static auto *t = new Tables;
  return *t;
}

HACCEL Add(std::vector<ACCEL> entries) {
  Tables &t = T();
  std::lock_guard guard(t.lock);
  HACCEL h = reinterpret_cast<HACCEL>(static_cast<UINT_PTR>(t.next));
  t.next += 4;
  t.tables[h] = std::make_shared<const std::vector<ACCEL>>(std::move(entries));
  return h;
}

std::shared_ptr<const std::vector<ACCEL>> Find(HACCEL h) {
  Tables &t = T();
  std::lock_guard guard(t.lock);
  auto it = t.tables.find(h);
  return it == t.tables.end() ? nullptr : it->second;
}

bool Down(int vk) { return GetKeyState(vk) < 0; }

bool Matches(const ACCEL &a, const MSG &m) {
  const bool key_msg = m.message == WM_KEYDOWN || m.message == WM_SYSKEYDOWN;
  const bool char_msg = m.message == WM_CHAR || m.message == WM_SYSCHAR;
  if (a.fVirt & FVIRTKEY) {
    if (!key_msg || a.key != (m.wParam & 0xFFFF)) return false;
    return ((a.fVirt & FSHIFT) != 0) == Down(VK_SHIFT) && ((a.fVirt & FCONTROL) != 0) == Down(VK_CONTROL) &&
           ((a.fVirt & FALT) != 0) == Down(VK_MENU);
  }
  if (!char_msg || a.key != (m.wParam & 0xFF)) return false;
  return ((a.fVirt & FALT) != 0) == (m.message == WM_SYSCHAR);
}

}  // namespace
}  // namespace qx::controls

using namespace qx::controls;

HACCEL WINAPI CreateAcceleratorTableA(LPACCEL entries, int count) {
  if (!entries || count <= 0 || count > 0x7FFF) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return Add(std::vector<ACCEL>(entries, entries + count));
}

HACCEL WINAPI LoadAcceleratorsA(HINSTANCE inst, LPCSTR name) {
  const QX_ACCELERATORS *t = qx::FindAcceleratorResource(reinterpret_cast<HMODULE>(inst), name);
  if (!t) return nullptr;
  std::vector<ACCEL> entries;
  for (UINT i = 0; i < t->count; ++i)
    entries.push_back(ACCEL{t->entries[i].flags, t->entries[i].key, t->entries[i].command});
  return Add(std::move(entries));
}

BOOL WINAPI DestroyAcceleratorTable(HACCEL h) {
  Tables &t = T();
  std::lock_guard guard(t.lock);
  return t.tables.erase(h) ? TRUE : FALSE;
}

int WINAPI TranslateAcceleratorA(HWND hwnd, HACCEL table, LPMSG m) {
  if (!m || !hwnd) return 0;
  auto entries = Find(table);
  if (!entries) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  for (const ACCEL &a : *entries) {
    if (!Matches(a, *m)) continue;
    // A command whose menu item is grayed is not sent, as a person could not choose it either.
    HMENU menu = GetMenu(hwnd);
    if (menu) {
      SendMessageA(hwnd, WM_INITMENU, reinterpret_cast<WPARAM>(menu), 0);
      const UINT state = GetMenuState(menu, a.cmd, MF_BYCOMMAND);
      if (state != static_cast<UINT>(-1) && (state & (MF_GRAYED | MF_DISABLED))) return 1;
    }
    HMENU sys = SystemMenuOf(hwnd, false);
    if (sys && GetMenuState(sys, a.cmd, MF_BYCOMMAND) != static_cast<UINT>(-1))
      SendMessageA(hwnd, WM_SYSCOMMAND, a.cmd, 0);
    else
      SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(a.cmd, 1), 0);
    return 1;
  }
  return 0;
}
