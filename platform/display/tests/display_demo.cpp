// A small windowed program for the display tests: it draws a window with a
// frame, text and shapes, saves what the layer drew as PNG, and, when
// QX_XWD_FILE names the X server's frame buffer (Xvfb -fbdir), also saves the
// window's pixels as they are on the X display.
// Usage: display_demo OUT.png [SCREEN.png]
#include <windows.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "display_internal.h"

namespace {

LRESULT CALLBACK DemoProc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(h, &ps);
    RECT band{0, 0, 220, 20};
    HBRUSH teal = CreateSolidBrush(RGB(0, 128, 128));
    FillRect(dc, &band, teal);
    DeleteObject(teal);
    SelectObject(dc, GetStockObject(SYSTEM_FIXED_FONT));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    TextOutA(dc, 4, 2, "QX display", 10);
    SetTextColor(dc, RGB(0, 0, 0));
    TextOutA(dc, 4, 26, "Same pixels", 11);
    HBRUSH red = CreateSolidBrush(RGB(200, 0, 0));
    SelectObject(dc, red);
    Ellipse(dc, 120, 30, 180, 80);
    SelectObject(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, 10, 50, 100, 90);
    SelectObject(dc, GetStockObject(WHITE_BRUSH));
    DeleteObject(red);
    EndPaint(h, &ps);
    return 0;
  }
  return DefWindowProcA(h, m, wp, lp);
}

// The window's area of an XWD frame buffer (Xvfb, 24-bit depth in 32-bit pixels).
bool ScreenPixels(const char *xwd, const RECT &r, qx::gdi::Surface &out) {
  std::ifstream in(xwd, std::ios::binary);
  std::vector<unsigned char> d((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto be = [&](size_t at) -> std::uint32_t {
    return at + 4 <= d.size() ? (std::uint32_t{d[at]} << 24) | (d[at + 1] << 16) | (d[at + 2] << 8) | d[at + 3] : 0;
  };
  if (d.size() < 100) return false;
  const std::uint32_t header = be(0), width = be(16), height = be(20), bpp = be(44), stride = be(48), ncolors = be(76);
  if (bpp != 32) return false;
  const size_t base = header + static_cast<size_t>(ncolors) * 12;
  out.Resize(r.right - r.left, r.bottom - r.top);
  for (int y = 0; y < out.height; ++y)
    for (int x = 0; x < out.width; ++x) {
      const long sx = r.left + x, sy = r.top + y;
      if (sx < 0 || sy < 0 || sx >= static_cast<long>(width) || sy >= static_cast<long>(height)) continue;
      const size_t at = base + static_cast<size_t>(sy) * stride + static_cast<size_t>(sx) * 4;
      if (at + 4 > d.size()) return false;
      out.Put(x, y, d[at] | (d[at + 1] << 8) | (d[at + 2] << 16));  // LSB first: B, G, R
    }
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: display_demo OUT.png [SCREEN.png]\n");
    return 2;
  }
  WNDCLASSA wc{};
  wc.lpfnWndProc = DemoProc;
  wc.lpszClassName = "QxDemo";
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  RegisterClassA(&wc);
  HWND h = CreateWindowA("QxDemo", "Display demo", WS_OVERLAPPEDWINDOW, 40, 50, 240, 150, nullptr, nullptr, nullptr,
                         nullptr);
  ShowWindow(h, SW_SHOW);
  UpdateWindow(h);
  MSG m;
  // Let the display settle: pump for a short while.
  for (int i = 0; i < 30; ++i) {
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
    qx::Display().PumpInput();
    usleep(10000);
  }
  std::printf("driver %s\n", qx::display::TheDriver().Name());
  std::printf("screen %s\n", QxDisplayHasScreen() ? "yes" : "no");
  if (!qx::display::SaveWindowPng(h, argv[1])) return 1;
  if (argc > 2) {
    const char *xwd = std::getenv("QX_XWD_FILE");
    RECT r;
    GetWindowRect(h, &r);
    qx::gdi::Surface screen;
    if (!xwd || !ScreenPixels(xwd, r, screen) || !qx::gdi::WritePng(screen, nullptr, argv[2])) return 1;
  }
  DestroyWindow(h);
  return 0;
}
