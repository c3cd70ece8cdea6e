// Menus as data: the items of each HMENU, shared by the menu calls, the menu
// bar, popup tracking and the accelerators.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace qx::controls {

struct MenuItem {
  UINT flags = 0;  // MF_ state and type bits (no MF_BYPOSITION)
  UINT id = 0;     // command id; 0 for popups and separators
  HMENU popup = nullptr;
  std::string text;
  // SetMenuItemBitmaps: drawn beside the item when unchecked / checked (the
  // program owns them); null: nothing when unchecked, the default check mark.
  HBITMAP unchecked_bitmap = nullptr;
  HBITMAP checked_bitmap = nullptr;
};

struct Menu {
  bool popup = false;
  std::vector<MenuItem> items;
};

// The menu behind a handle, or null (last error ERROR_INVALID_MENU_HANDLE).
std::shared_ptr<Menu> MenuOf(HMENU menu);
// Finds an item by position or command (searching submenus); false when none.
bool LocateItem(HMENU menu, UINT item, UINT flags, HMENU &owner, size_t &index);
// The system menu of a window, made on first use.
HMENU SystemMenuOf(HWND hwnd, bool create);

// The menu bar and popup menus (menubar.cpp).
void InstallMenuBarHooks();
// Runs a popup menu at a screen point for owner; the chosen command or 0.
UINT TrackPopup(HMENU menu, UINT flags, POINT at, HWND owner, bool notify);

}  // namespace qx::controls
