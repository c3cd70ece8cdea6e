// The system colours of the Windows NT 4 desktop and their brushes.
#include <mutex>

#include "gdi_internal.h"

namespace qx::gdi {
namespace {

constexpr int kColorCount = COLOR_INFOBK + 1;

std::mutex g_lock;
COLORREF g_colors[kColorCount] = {
    RGB(192, 192, 192),  // COLOR_SCROLLBAR
    RGB(0, 128, 128),    // COLOR_BACKGROUND
    RGB(0, 0, 128),      // COLOR_ACTIVECAPTION
    RGB(128, 128, 128),  // COLOR_INACTIVECAPTION
    RGB(192, 192, 192),  // COLOR_MENU
    RGB(255, 255, 255),  // COLOR_WINDOW
    RGB(0, 0, 0),        // COLOR_WINDOWFRAME
    RGB(0, 0, 0),        // COLOR_MENUTEXT
    RGB(0, 0, 0),        // COLOR_WINDOWTEXT
    RGB(255, 255, 255),  // COLOR_CAPTIONTEXT
    RGB(192, 192, 192),  // COLOR_ACTIVEBORDER
    RGB(192, 192, 192),  // COLOR_INACTIVEBORDER
    RGB(128, 128, 128),  // COLOR_APPWORKSPACE
    RGB(0, 0, 128),      // COLOR_HIGHLIGHT
    RGB(255, 255, 255),  // COLOR_HIGHLIGHTTEXT
    RGB(192, 192, 192),  // COLOR_BTNFACE
    RGB(128, 128, 128),  // COLOR_BTNSHADOW
    RGB(128, 128, 128),  // COLOR_GRAYTEXT
    RGB(0, 0, 0),        // COLOR_BTNTEXT
    RGB(192, 192, 192),  // COLOR_INACTIVECAPTIONTEXT
    RGB(255, 255, 255),  // COLOR_BTNHIGHLIGHT
    RGB(0, 0, 0),        // COLOR_3DDKSHADOW
    RGB(223, 223, 223),  // COLOR_3DLIGHT
    RGB(0, 0, 0),        // COLOR_INFOTEXT
    RGB(255, 255, 225),  // COLOR_INFOBK
};
HBRUSH g_brushes[kColorCount] = {};

}  // namespace

std::uint32_t SysColorPixel(int index) {
  std::lock_guard guard(g_lock);
  return index >= 0 && index < kColorCount ? PixelFromColorref(g_colors[index]) : 0;
}

}  // namespace qx::gdi

using namespace qx::gdi;

extern "C" {

DWORD WINAPI GetSysColor(int index) {
  std::lock_guard guard(g_lock);
  return index >= 0 && index < kColorCount ? g_colors[index] : 0;
}

// One stock brush per colour; it follows SetSysColors and is never deleted.
HBRUSH WINAPI GetSysColorBrush(int index) {
  if (index < 0 || index >= kColorCount) return nullptr;
  std::lock_guard guard(g_lock);
  if (!g_brushes[index]) {
    auto b = std::make_shared<Brush>();
    b->log = {BS_SOLID, g_colors[index], 0};
    b->sys_color = index;
    b->stock = true;
    g_brushes[index] = static_cast<HBRUSH>(InsertObject(b));
  }
  return g_brushes[index];
}

BOOL WINAPI SetSysColors(int n, const INT *which, const COLORREF *values) {
  if (n < 0 || (n > 0 && (!which || !values))) return FALSE;
  std::lock_guard guard(g_lock);
  for (int i = 0; i < n; ++i)
    if (which[i] >= 0 && which[i] < kColorCount) g_colors[which[i]] = values[i] & 0xFFFFFF;
  return TRUE;
}

}  // extern "C"
