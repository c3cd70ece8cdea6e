// What the drawing part (platform/gdi) offers the other parts of the drawing
// half: 32-bit pixel surfaces, lists of rectangles, window DCs over a
// surface, the pixels of bitmaps, DIB decoding and PNG files. Everything else
// of the drawing part (its objects, DC state, fonts) stays in gdi_internal.h.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

typedef struct _cairo_surface cairo_surface_t;

namespace qx::gdi {

// Pixels are 0x00RRGGBB words, top-down rows, no padding (cairo's RGB24 layout
// with a stride of width * 4), so cairo can draw into them directly.
struct Surface {
  int width = 0;
  int height = 0;
  bool mono = false;  // a monochrome bitmap: only 0x000000 and 0xFFFFFF are stored
  std::vector<std::uint32_t> px;

  Surface() = default;
  Surface(int w, int h, std::uint32_t fill = 0) { Resize(w, h, fill); }
  void Resize(int w, int h, std::uint32_t fill = 0);
  bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
  std::uint32_t Get(int x, int y) const { return px[static_cast<size_t>(y) * width + x]; }
  void Put(int x, int y, std::uint32_t v) { px[static_cast<size_t>(y) * width + x] = mono ? ToMono(v) : v; }
  static std::uint32_t ToMono(std::uint32_t v);
  // A cairo surface over the pixels; the caller destroys it before the pixels move.
  cairo_surface_t *Cairo();
};

constexpr std::uint32_t PixelFromColorref(COLORREF c) { return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF); }
constexpr COLORREF ColorrefFromPixel(std::uint32_t p) { return ((p >> 16) & 0xFF) | (p & 0xFF00) | ((p & 0xFF) << 16); }
// The pixel of a system colour (COLOR_*).
std::uint32_t SysColorPixel(int index);

// Disjoint rectangles (regions, visible areas) and the operations on them.
using Rects = std::vector<RECT>;
Rects CombineRects(const Rects &a, const Rects &b, int mode);  // mode: RGN_AND, RGN_OR, RGN_DIFF, ...
Rects IntersectRects(const Rects &a, const RECT &r);
bool RectEmpty(const RECT &r);
RECT RectIntersect(const RECT &a, const RECT &b);

// Where a window DC draws: the display part fills these in for a window.
struct WindowTarget {
  std::shared_ptr<Surface> surface;
  POINT origin{0, 0};  // device (0,0) of the DC inside the surface
  Rects visible;       // surface coordinates the DC may touch
};
// Window DCs: the display part creates these over a window's surface.
HDC CreateWindowDC(HWND hwnd, const WindowTarget &target);
void RetargetWindowDC(HDC hdc, const WindowTarget &target);

// The pixels of a bitmap, shared with it (writes change the bitmap), or null
// when the handle is not a bitmap.
std::shared_ptr<Surface> BitmapSurface(HBITMAP bitmap);
// Decodes a DIB (header, colours, bits) of DIB_RGB_COLORS into 32-bit pixels;
// false when it is malformed or too large.
bool DecodeDibPixels(const BITMAPINFO *bmi, const void *bits, Surface &out);

// Saves a surface (or part of it) as PNG. Returns false on any failure.
bool WritePng(const Surface &s, const RECT *part, const std::string &path);
// Reads a PNG into a surface; false when it cannot be read.
bool ReadPng(const std::string &path, Surface &out);

// Starts reading the font configuration on a thread of its own, once per
// process, so that it overlaps the program's start: called when a window that
// will be seen is made or shown and when a font is made. A process that never
// does either (a daemon reading display metrics) never reads it.
void StartFontSetup();
// Whether this process has started (or done) that work.
bool FontSetupStarted();

}  // namespace qx::gdi
