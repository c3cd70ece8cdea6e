// The caret: one per thread's focus window as on Windows, drawn by inverting
// (XOR) its rectangle or bitmap so drawing it twice restores the pixels, taken
// off while something paints under it, blinking only with a desktop driver.
#include "display_internal.h"

namespace qx::display {
namespace {

struct Caret {
  HWND hwnd = nullptr;
  int width = 0, height = 0;
  std::shared_ptr<Surface> shape;  // from a bitmap: XOR pattern; none: solid
  bool grey = false;
  POINT pos{0, 0};
  int hide = 1;        // shown when 0
  bool drawn = false;  // currently inverted on the surface
  bool blink_off = false;
  UINT blink_ms = 530;
};
Caret g_caret;

void ToggleCaretPixels() {
  if (!g_caret.hwnd) return;
  gdi::WindowTarget t = TargetFor(g_caret.hwnd, false);
  if (!t.surface) return;
  const RECT r{t.origin.x + g_caret.pos.x, t.origin.y + g_caret.pos.y, t.origin.x + g_caret.pos.x + g_caret.width,
               t.origin.y + g_caret.pos.y + g_caret.height};
  for (const RECT &c : gdi::IntersectRects(t.visible, r))
    for (LONG y = c.top; y < c.bottom; ++y)
      for (LONG x = c.left; x < c.right; ++x) {
        std::uint32_t mask = 0xFFFFFF;
        if (g_caret.shape) {
          const int sx = static_cast<int>(x - r.left), sy = static_cast<int>(y - r.top);
          mask = g_caret.shape->Contains(sx, sy) ? g_caret.shape->Get(sx, sy) : 0;
        } else if (g_caret.grey) {
          mask = ((x + y) & 1) ? 0xFFFFFF : 0;
        }
        t.surface->Put(static_cast<int>(x), static_cast<int>(y),
                       t.surface->Get(static_cast<int>(x), static_cast<int>(y)) ^ mask);
      }
  g_caret.drawn = !g_caret.drawn;
  Present(g_caret.hwnd, &r);
}

void CaretOn() {
  if (g_caret.hwnd && g_caret.hide == 0 && !g_caret.drawn && !g_caret.blink_off) ToggleCaretPixels();
}

}  // namespace

// Takes the caret off the surface while something draws under it.
void CaretOff(HWND hwnd) {
  if (g_caret.hwnd && (!hwnd || g_caret.hwnd == hwnd || IsChild(hwnd, g_caret.hwnd)) && g_caret.drawn)
    ToggleCaretPixels();
}

void CaretWindowDestroyed(HWND hwnd) {
  if (g_caret.hwnd == hwnd) g_caret = Caret{};
}

void BlinkCaret() {
  if (!g_caret.hwnd || g_caret.hide != 0) return;
  g_caret.blink_off = !g_caret.blink_off;
  if (g_caret.blink_off == g_caret.drawn) ToggleCaretPixels();
}

UINT CaretBlinkTime() { return g_caret.blink_ms; }

}  // namespace qx::display

using namespace qx::display;

extern "C" {

BOOL WINAPI CreateCaret(HWND hwnd, HBITMAP bm, int w, int h) {
  if (!IsWindow(hwnd)) return FALSE;
  DestroyCaret();
  g_caret = Caret{};
  g_caret.hwnd = hwnd;
  if (bm == reinterpret_cast<HBITMAP>(1)) {
    g_caret.grey = true;
  } else if (bm) {
    auto b = qx::gdi::BitmapSurface(bm);
    if (!b) return FALSE;
    g_caret.shape = std::make_shared<Surface>(*b);
    w = b->width;
    h = b->height;
  }
  g_caret.width = w > 0 ? w : GetSystemMetrics(SM_CXBORDER);
  g_caret.height = h > 0 ? h : GetSystemMetrics(SM_CYBORDER);
  return TRUE;
}

BOOL WINAPI DestroyCaret(void) {
  if (!g_caret.hwnd) return FALSE;
  CaretOff(nullptr);
  g_caret = Caret{};
  return TRUE;
}

BOOL WINAPI ShowCaret(HWND hwnd) {
  if (!g_caret.hwnd || (hwnd && hwnd != g_caret.hwnd)) return FALSE;
  if (g_caret.hide > 0) --g_caret.hide;
  CaretOn();
  return TRUE;
}

BOOL WINAPI HideCaret(HWND hwnd) {
  if (!g_caret.hwnd || (hwnd && hwnd != g_caret.hwnd)) return FALSE;
  ++g_caret.hide;
  CaretOff(nullptr);
  return TRUE;
}

BOOL WINAPI SetCaretPos(int x, int y) {
  if (!g_caret.hwnd) return FALSE;
  const bool was = g_caret.drawn;
  if (was) ToggleCaretPixels();
  g_caret.pos = POINT{x, y};
  g_caret.blink_off = false;
  CaretOn();
  return TRUE;
}

BOOL WINAPI GetCaretPos(LPPOINT p) {
  if (!p || !g_caret.hwnd) return FALSE;
  *p = g_caret.pos;
  return TRUE;
}

UINT WINAPI GetCaretBlinkTime(void) { return g_caret.blink_ms; }

BOOL WINAPI SetCaretBlinkTime(UINT ms) {
  g_caret.blink_ms = ms;
  return TRUE;
}

}  // extern "C"
