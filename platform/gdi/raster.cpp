// Raster operations on 32-bit pixel surfaces: the ternary ROPs of BitBlt,
// StretchBlt and PatBlt, the binary ROPs of pens and brushes, the monochrome
// colour rules, and the shapes drawn with them (lines, rectangles, ellipses,
// polygons). Shapes are rasterised by cairo into a coverage mask without
// anti-aliasing and then combined with the destination pixel by pixel, so
// every raster operation applies to every shape in the same way.
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "gdi_internal.h"

namespace qx::gdi {

std::uint32_t Rop3(std::uint8_t table, std::uint32_t p, std::uint32_t s, std::uint32_t d) {
  std::uint32_t r = 0;
  for (int i = 0; i < 8; ++i) {
    if (!(table & (1u << i))) continue;
    r |= ((i & 4) ? p : ~p) & ((i & 2) ? s : ~s) & ((i & 1) ? d : ~d);
  }
  return r & 0xFFFFFF;
}

std::uint32_t Rop2(int rop2, std::uint32_t pen, std::uint32_t d) {
  // R2_ codes minus one are the truth table over (pen << 1 | dest).
  const unsigned table = static_cast<unsigned>(rop2 - 1) & 0xF;
  std::uint32_t r = 0;
  for (int i = 0; i < 4; ++i) {
    if (!(table & (1u << i))) continue;
    r |= ((i & 2) ? pen : ~pen) & ((i & 1) ? d : ~d);
  }
  return r & 0xFFFFFF;
}

namespace {

constexpr bool RopUsesSource(std::uint8_t t) { return ((t >> 2) ^ t) & 0x33; }
constexpr bool RopUsesPattern(std::uint8_t t) { return ((t >> 4) ^ t) & 0x0F; }

// 8x8 hatch patterns: true where the hatch line is.
bool HatchBit(ULONG_PTR hatch, int x, int y) {
  x &= 7;
  y &= 7;
  switch (hatch) {
    case HS_HORIZONTAL: return y == 7;
    case HS_VERTICAL: return x == 7;
    case HS_FDIAGONAL: return x == y;
    case HS_BDIAGONAL: return x == 7 - y;
    case HS_CROSS: return x == 7 || y == 7;
    case HS_DIAGCROSS: return x == y || x == 7 - y;
    default: return false;
  }
}

int Mod(int a, int m) { return ((a % m) + m) % m; }

}  // namespace

std::uint32_t SysColorPixel(int index);

std::optional<std::uint32_t> BrushPixel(DC &dc, const Brush &b, int x, int y) {
  const bool mono = dc.Mono();
  auto fix = [mono](std::uint32_t v) { return mono ? Surface::ToMono(v) : v; };
  const POINT o = dc.Origin();
  const int bx = x - o.x - dc.st.brush_org.x, by = y - o.y - dc.st.brush_org.y;
  switch (b.log.lbStyle) {
    case BS_SOLID:
      if (b.sys_color >= 0) return fix(SysColorPixel(b.sys_color));
      return fix(PixelFromColorref(ResolveColor(dc, b.log.lbColor)));
    case BS_HATCHED:
      if (HatchBit(b.log.lbHatch, bx, by)) return fix(PixelFromColorref(ResolveColor(dc, b.log.lbColor)));
      if (dc.st.bk_mode == TRANSPARENT) return std::nullopt;
      return fix(PixelFromColorref(ResolveColor(dc, dc.st.bk_color)));
    case BS_PATTERN: {
      const Surface &p = *b.pattern;
      if (p.width <= 0 || p.height <= 0) return std::nullopt;
      std::uint32_t v = p.Get(Mod(bx, p.width), Mod(by, p.height));
      if (p.mono && !mono)  // a monochrome pattern takes the DC's colours
        v = PixelFromColorref(ResolveColor(dc, v ? dc.st.bk_color : dc.st.text_color));
      return fix(v);
    }
    default: return std::nullopt;
  }
}

// Applies f(x, y) to every pixel of surface rectangle r inside the DC's clip.
template <class F>
void ForEachPixel(DC &dc, const RECT &r, F f) {
  for (const RECT &c : IntersectRects(dc.ClipRects(), r))
    for (int y = c.top; y < c.bottom; ++y)
      for (int x = c.left; x < c.right; ++x) f(x, y);
}

void FillSurfaceRect(DC &dc, const RECT &r, const Brush *brush, DWORD rop) {
  Surface &s = *dc.Target();
  const std::uint8_t table = static_cast<std::uint8_t>(rop >> 16);
  const bool pattern = RopUsesPattern(table);
  // A solid brush has one pixel everywhere: it is resolved once (a system
  // colour takes the colour table's lock), not once per pixel, and a plain
  // copy of it fills whole rows. Every row of a window's background is such
  // a fill.
  if (pattern && brush && brush->log.lbStyle == BS_SOLID) {
    const std::uint32_t p = BrushPixel(dc, *brush, 0, 0).value_or(0);
    if (table == static_cast<std::uint8_t>(PATCOPY >> 16)) {
      const std::uint32_t v = s.mono ? Surface::ToMono(p) : p;
      for (const RECT &c : IntersectRects(dc.ClipRects(), r))
        for (int y = c.top; y < c.bottom; ++y) {
          auto row = s.px.begin() + static_cast<std::ptrdiff_t>(y) * s.width;
          std::fill(row + c.left, row + c.right, v);
        }
      return;
    }
    ForEachPixel(dc, r, [&](int x, int y) { s.Put(x, y, Rop3(table, p, 0, s.Get(x, y))); });
    return;
  }
  ForEachPixel(dc, r, [&](int x, int y) {
    std::uint32_t p = 0;
    if (pattern) {
      auto bp = brush ? BrushPixel(dc, *brush, x, y) : std::nullopt;
      if (!bp) return;
      p = *bp;
    }
    s.Put(x, y, Rop3(table, p, 0, s.Get(x, y)));
  });
}

std::uint32_t ConvertForBlit(std::uint32_t s, bool src_mono, bool dst_mono, COLORREF src_bk, COLORREF dst_text,
                             COLORREF dst_bk) {
  if (src_mono && !dst_mono)  // black bits take the text colour, white bits the background colour
    return PixelFromColorref(s ? dst_bk : dst_text);
  if (!src_mono && dst_mono)  // the source background colour becomes white, every other colour black
    return s == PixelFromColorref(src_bk) ? 0xFFFFFF : 0x000000;
  return s;
}

namespace {

RECT Ordered(LONG x1, LONG y1, LONG x2, LONG y2) {
  return RECT{std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
}

// A mask of the pixels a shape covers, in surface coordinates.
struct Mask {
  RECT box{};
  int width = 0, height = 0;
  std::vector<unsigned char> a;
  bool At(int x, int y) const {
    x -= box.left;
    y -= box.top;
    return x >= 0 && y >= 0 && x < width && y < height && a[static_cast<size_t>(y) * stride + x] >= 128;
  }
  int stride = 0;
};

Mask RenderMask(const RECT &box, const std::function<void(cairo_t *)> &draw) {
  Mask m;
  m.box = box;
  m.width = std::max<LONG>(0, box.right - box.left);
  m.height = std::max<LONG>(0, box.bottom - box.top);
  if (m.width == 0 || m.height == 0 || m.width > 32768 || m.height > 32768) {
    m.width = m.height = 0;
    return m;
  }
  m.stride = cairo_format_stride_for_width(CAIRO_FORMAT_A8, m.width);
  m.a.assign(static_cast<size_t>(m.stride) * m.height, 0);
  cairo_surface_t *cs = cairo_image_surface_create_for_data(m.a.data(), CAIRO_FORMAT_A8, m.width, m.height, m.stride);
  cairo_t *cr = cairo_create(cs);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_translate(cr, -box.left, -box.top);
  draw(cr);
  cairo_destroy(cr);
  cairo_surface_flush(cs);
  cairo_surface_destroy(cs);
  return m;
}

void ApplyPenMask(DC &dc, const Mask &m) {
  if (!dc.st.pen_obj || dc.st.pen_obj->log.lopnStyle == PS_NULL) return;
  Surface &s = *dc.Target();
  std::uint32_t pen = PixelFromColorref(ResolveColor(dc, dc.st.pen_obj->log.lopnColor));
  if (s.mono) pen = Surface::ToMono(pen);
  ForEachPixel(dc, m.box, [&](int x, int y) {
    if (m.At(x, y)) s.Put(x, y, Rop2(dc.st.rop2, pen, s.Get(x, y)));
  });
}

void ApplyBrushMask(DC &dc, const Mask &m) {
  const Brush *b = dc.st.brush_obj.get();
  if (!b || b->log.lbStyle == BS_NULL) return;
  Surface &s = *dc.Target();
  ForEachPixel(dc, m.box, [&](int x, int y) {
    if (!m.At(x, y)) return;
    if (auto p = BrushPixel(dc, *b, x, y)) s.Put(x, y, Rop2(dc.st.rop2, *p, s.Get(x, y)));
  });
}

int PenWidth(DC &dc) {
  if (!dc.st.pen_obj) return 1;
  return std::max(1, dc.ScaleX(dc.st.pen_obj->log.lopnWidth.x));
}

bool PenVisible(DC &dc) { return dc.st.pen_obj && dc.st.pen_obj->log.lopnStyle != PS_NULL; }

// Pixels of a one-pixel line from a to b, b excluded (as GDI draws lines).
std::vector<POINT> LinePixels(POINT a, POINT b, int style) {
  std::vector<POINT> out;
  const int dx = std::abs(b.x - a.x), dy = -std::abs(b.y - a.y);
  const int sx = a.x < b.x ? 1 : -1, sy = a.y < b.y ? 1 : -1;
  int err = dx + dy;
  int x = a.x, y = a.y, n = 0;
  static const unsigned kDash[] = {0xFFFFFFFFu, 0x00FFFFFFu /*dash 18 on 6 off*/, 0x2AAAAAAAu, 0x0FFF0F0Fu,
                                   0x0FF333F3u};
  const unsigned pattern = style >= PS_SOLID && style <= PS_DASHDOTDOT ? kDash[style] : kDash[0];
  while (!(x == b.x && y == b.y)) {
    if (style == PS_SOLID || style >= PS_NULL || (pattern >> (n % 24)) & 1) out.push_back(POINT{x, y});
    ++n;
    const int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y += sy;
    }
  }
  return out;
}

void DrawLine(DC &dc, POINT a, POINT b) {
  if (!PenVisible(dc)) return;
  const int w = PenWidth(dc);
  if (w <= 1) {
    Surface &s = *dc.Target();
    std::uint32_t pen = PixelFromColorref(ResolveColor(dc, dc.st.pen_obj->log.lopnColor));
    if (s.mono) pen = Surface::ToMono(pen);
    const Rects clip = dc.ClipRects();
    for (POINT p : LinePixels(a, b, static_cast<int>(dc.st.pen_obj->log.lopnStyle))) {
      for (const RECT &c : clip)
        if (p.x >= c.left && p.x < c.right && p.y >= c.top && p.y < c.bottom) {
          s.Put(p.x, p.y, Rop2(dc.st.rop2, pen, s.Get(p.x, p.y)));
          break;
        }
    }
    return;
  }
  RECT box = Ordered(a.x, a.y, b.x, b.y);
  box.left -= w;
  box.top -= w;
  box.right += w + 1;
  box.bottom += w + 1;
  ApplyPenMask(dc, RenderMask(box, [&](cairo_t *cr) {
                 cairo_set_line_width(cr, w);
                 cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
                 cairo_move_to(cr, a.x + 0.5, a.y + 0.5);
                 cairo_line_to(cr, b.x + 0.5, b.y + 0.5);
                 cairo_stroke(cr);
               }));
}

std::vector<POINT> ToSurfacePoints(DC &dc, const POINT *pts, int n) {
  std::vector<POINT> out;
  out.reserve(static_cast<size_t>(std::max(0, n)));
  for (int i = 0; i < n; ++i) out.push_back(dc.ToSurface(pts[i].x, pts[i].y));
  return out;
}

RECT BoundsOf(const std::vector<POINT> &p, int grow) {
  RECT b{p[0].x, p[0].y, p[0].x, p[0].y};
  for (const POINT &q : p) {
    b.left = std::min(b.left, q.x);
    b.top = std::min(b.top, q.y);
    b.right = std::max(b.right, q.x);
    b.bottom = std::max(b.bottom, q.y);
  }
  b.left -= grow;
  b.top -= grow;
  b.right += grow + 1;
  b.bottom += grow + 1;
  return b;
}

// A closed shape: interior with the brush, then the outline with the pen.
void DrawClosedShape(DC &dc, const RECT &box, const std::function<void(cairo_t *, double inset)> &path) {
  const bool pen = PenVisible(dc);
  const int w = pen ? PenWidth(dc) : 0;
  ApplyBrushMask(dc, RenderMask(box, [&](cairo_t *cr) {
                   path(cr, pen ? 0.5 : 0.0);
                   cairo_fill(cr);
                 }));
  if (pen) {
    ApplyPenMask(dc, RenderMask(box, [&](cairo_t *cr) {
                   path(cr, w / 2.0);
                   cairo_set_line_width(cr, w);
                   cairo_stroke(cr);
                 }));
  }
}

}  // namespace
}  // namespace qx::gdi

using namespace qx::gdi;

namespace {

RECT SurfaceRect(DC &dc, int l, int t, int r, int b) {
  POINT a = dc.ToSurface(l, t), c = dc.ToSurface(r, b);
  return RECT{std::min(a.x, c.x), std::min(a.y, c.y), std::max(a.x, c.x), std::max(a.y, c.y)};
}

void FillWith(DC &dc, const RECT &surface_rect, HBRUSH hbr, DWORD rop) {
  auto b = LookupObject<Brush>(hbr, Type::Brush);
  if (!b) {
    // (HBRUSH)(COLOR_x + 1) names a system colour, as window classes use it.
    const auto v = reinterpret_cast<uintptr_t>(hbr);
    if (v >= 1 && v <= COLOR_INFOBK + 1)
      b = LookupObject<Brush>(GetSysColorBrush(static_cast<int>(v - 1)), Type::Brush);
  }
  if (!b) return;
  FillSurfaceRect(dc, surface_rect, b.get(), rop);
}

// Copies (and stretches) source pixels into the destination through a raster operation.
BOOL Blit(HDC hdst, int xd, int yd, int wd, int hd, HDC hsrc, int xs, int ys, int ws, int hs, DWORD rop) {
  Drawing dst(hdst);
  if (!dst) return FALSE;
  DC &d = dst.dc();
  const std::uint8_t table = static_cast<std::uint8_t>(rop >> 16);
  const POINT d1 = d.ToSurface(xd, yd), d2 = d.ToSurface(xd + wd, yd + hd);
  if (!RopUsesSource(table)) {
    FillSurfaceRect(d, Ordered(d1.x, d1.y, d2.x, d2.y), d.st.brush_obj.get(), rop);
    return TRUE;
  }
  if (hsrc == hdst) {
    // Source and destination on one surface: blit from a copy so overlapping moves work.
    Surface copy = dst.surface();
    auto tmp = std::make_shared<Bitmap>();
    tmp->surface = std::move(copy);
    auto clone = std::make_shared<DC>();
    clone->memory = true;
    clone->st = d.st;
    clone->bitmap_obj = tmp;
    const POINT o = d.Origin();
    clone->st.viewport_org.x += o.x;  // the copy has the whole surface at device (0,0)
    clone->st.viewport_org.y += o.y;
    HDC hclone = static_cast<HDC>(InsertObject(clone));
    BOOL ok = Blit(hdst, xd, yd, wd, hd, hclone, xs, ys, ws, hs, rop);
    qx::RemoveHandle(hclone);
    return ok;
  }
  Drawing src(hsrc);
  if (!src) return FALSE;
  DC &s = src.dc();
  const POINT s1 = s.ToSurface(xs, ys), s2 = s.ToSurface(xs + ws, ys + hs);
  const int dw = d2.x - d1.x, dh = d2.y - d1.y, sw = s2.x - s1.x, sh = s2.y - s1.y;
  if (dw == 0 || dh == 0 || sw == 0 || sh == 0) return TRUE;
  Surface &ds = dst.surface();
  const Surface &ss = src.surface();
  const bool pattern = RopUsesPattern(table);
  const Brush *brush = d.st.brush_obj.get();
  const COLORREF src_bk = ResolveColor(s, s.st.bk_color);
  const COLORREF dst_text = ResolveColor(d, d.st.text_color), dst_bk = ResolveColor(d, d.st.bk_color);
  ForEachPixel(d, Ordered(d1.x, d1.y, d2.x, d2.y), [&](int x, int y) {
    // Nearest source pixel; a negative extent on one side mirrors the image.
    const double fx = (x + 0.5 - d1.x) / dw, fy = (y + 0.5 - d1.y) / dh;
    const int px = static_cast<int>(std::floor(s1.x + fx * sw));
    const int py = static_cast<int>(std::floor(s1.y + fy * sh));
    if (!ss.Contains(px, py)) return;  // no source pixel: the destination stays
    std::uint32_t p = 0;
    if (pattern) {
      auto bp = brush ? BrushPixel(d, *brush, x, y) : std::nullopt;
      if (!bp) return;
      p = *bp;
    }
    const std::uint32_t sv = ConvertForBlit(ss.Get(px, py), ss.mono, ds.mono, src_bk, dst_text, dst_bk);
    ds.Put(x, y, Rop3(table, p, sv, ds.Get(x, y)));
  });
  return TRUE;
}

}  // namespace

extern "C" {

BOOL WINAPI PatBlt(HDC hdc, int x, int y, int w, int h, DWORD rop) {
  Drawing d(hdc);
  if (!d) return FALSE;
  if (RopUsesSource(static_cast<std::uint8_t>(rop >> 16))) return FALSE;
  FillSurfaceRect(d.dc(), SurfaceRect(d.dc(), x, y, x + w, y + h), d->st.brush_obj.get(), rop);
  return TRUE;
}

BOOL WINAPI BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop) {
  auto d = LookupDC(hdc);
  if (!d) return FALSE;
  // The source extent is the destination's in device units, taken back to the source's logical units.
  if (!RopUsesSource(static_cast<std::uint8_t>(rop >> 16))) return PatBlt(hdc, x, y, cx, cy, rop);
  auto s = LookupDC(hdcSrc);
  if (!s) return FALSE;
  const POINT a = d->ToDevice(x, y), b = d->ToDevice(x + cx, y + cy);
  const POINT sa = s->ToDevice(x1, y1);
  const POINT sb = s->ToLogical(sa.x + (b.x - a.x), sa.y + (b.y - a.y));
  return Blit(hdc, x, y, cx, cy, hdcSrc, x1, y1, sb.x - x1, sb.y - y1, rop);
}

BOOL WINAPI StretchBlt(HDC hdcDest, int xDest, int yDest, int wDest, int hDest, HDC hdcSrc, int xSrc, int ySrc,
                       int wSrc, int hSrc, DWORD rop) {
  return Blit(hdcDest, xDest, yDest, wDest, hDest, hdcSrc, xSrc, ySrc, wSrc, hSrc, rop);
}

int WINAPI FillRect(HDC hdc, const RECT *rc, HBRUSH hbr) {
  Drawing d(hdc);
  if (!d || !rc) return FALSE;
  FillWith(d.dc(), SurfaceRect(d.dc(), rc->left, rc->top, rc->right, rc->bottom), hbr, PATCOPY);
  return TRUE;
}

int WINAPI FrameRect(HDC hdc, const RECT *rc, HBRUSH hbr) {
  Drawing d(hdc);
  if (!d || !rc) return FALSE;
  const RECT r = SurfaceRect(d.dc(), rc->left, rc->top, rc->right, rc->bottom);
  if (RectEmpty(r)) return TRUE;
  FillWith(d.dc(), RECT{r.left, r.top, r.right, r.top + 1}, hbr, PATCOPY);
  FillWith(d.dc(), RECT{r.left, r.bottom - 1, r.right, r.bottom}, hbr, PATCOPY);
  FillWith(d.dc(), RECT{r.left, r.top + 1, r.left + 1, r.bottom - 1}, hbr, PATCOPY);
  FillWith(d.dc(), RECT{r.right - 1, r.top + 1, r.right, r.bottom - 1}, hbr, PATCOPY);
  return TRUE;
}

BOOL WINAPI InvertRect(HDC hdc, const RECT *rc) {
  Drawing d(hdc);
  if (!d || !rc) return FALSE;
  FillSurfaceRect(d.dc(), SurfaceRect(d.dc(), rc->left, rc->top, rc->right, rc->bottom), nullptr, DSTINVERT);
  return TRUE;
}

BOOL WINAPI DrawFocusRect(HDC hdc, const RECT *rc) {
  Drawing d(hdc);
  if (!d || !rc) return FALSE;
  // A dotted frame drawn with XOR, so drawing it twice removes it.
  const RECT r = SurfaceRect(d.dc(), rc->left, rc->top, rc->right, rc->bottom);
  Surface &s = d.surface();
  const Rects clip = d->ClipRects();
  auto flip = [&](int x, int y) {
    if (((x + y) & 1) != 0) return;
    for (const RECT &c : clip)
      if (x >= c.left && x < c.right && y >= c.top && y < c.bottom) {
        s.Put(x, y, s.Get(x, y) ^ 0xFFFFFF);
        return;
      }
  };
  for (int x = r.left; x < r.right; ++x) {
    flip(x, r.top);
    if (r.bottom - 1 > r.top) flip(x, r.bottom - 1);
  }
  for (int y = r.top + 1; y < r.bottom - 1; ++y) {
    flip(r.left, y);
    if (r.right - 1 > r.left) flip(r.right - 1, y);
  }
  return TRUE;
}

BOOL WINAPI FillRgn(HDC hdc, HRGN hrgn, HBRUSH hbr) {
  Drawing d(hdc);
  auto r = LookupObject<Region>(hrgn, Type::Region);
  if (!d || !r) return FALSE;
  for (const RECT &x : r->rects) FillWith(d.dc(), SurfaceRect(d.dc(), x.left, x.top, x.right, x.bottom), hbr, PATCOPY);
  return TRUE;
}

BOOL WINAPI PaintRgn(HDC hdc, HRGN hrgn) {
  auto dc = LookupDC(hdc);
  return dc && FillRgn(hdc, hrgn, static_cast<HBRUSH>(dc->st.brush));
}

COLORREF WINAPI SetPixel(HDC hdc, int x, int y, COLORREF color) {
  Drawing d(hdc);
  if (!d) return CLR_INVALID;
  const POINT p = d->ToSurface(x, y);
  bool done = false;
  for (const RECT &c : d->ClipRects())
    if (p.x >= c.left && p.x < c.right && p.y >= c.top && p.y < c.bottom) {
      d.surface().Put(p.x, p.y, PixelFromColorref(ResolveColor(d.dc(), color)));
      done = true;
      break;
    }
  return done ? ColorrefFromPixel(d.surface().Get(p.x, p.y)) : CLR_INVALID;
}

COLORREF WINAPI GetPixel(HDC hdc, int x, int y) {
  Drawing d(hdc);
  if (!d) return CLR_INVALID;
  const POINT p = d->ToSurface(x, y);
  for (const RECT &c : d->ClipRects())
    if (p.x >= c.left && p.x < c.right && p.y >= c.top && p.y < c.bottom)
      return ColorrefFromPixel(d.surface().Get(p.x, p.y));
  return CLR_INVALID;
}

BOOL WINAPI MoveToEx(HDC hdc, int x, int y, LPPOINT old) {
  auto dc = LookupDC(hdc);
  if (!dc) return FALSE;
  if (old) *old = dc->st.current;
  dc->st.current = {x, y};
  return TRUE;
}

BOOL WINAPI GetCurrentPositionEx(HDC hdc, LPPOINT p) {
  auto dc = LookupDC(hdc);
  if (!dc || !p) return FALSE;
  *p = dc->st.current;
  return TRUE;
}

BOOL WINAPI LineTo(HDC hdc, int x, int y) {
  Drawing d(hdc);
  if (!d) return FALSE;
  DrawLine(d.dc(), d->ToSurface(d->st.current.x, d->st.current.y), d->ToSurface(x, y));
  d->st.current = {x, y};
  return TRUE;
}

BOOL WINAPI Polyline(HDC hdc, const POINT *pts, int n) {
  Drawing d(hdc);
  if (!d || !pts || n < 2) return FALSE;
  auto p = ToSurfacePoints(d.dc(), pts, n);
  for (size_t i = 1; i < p.size(); ++i) DrawLine(d.dc(), p[i - 1], p[i]);
  return TRUE;
}

BOOL WINAPI Polygon(HDC hdc, const POINT *pts, int n) {
  Drawing d(hdc);
  if (!d || !pts || n < 2) return FALSE;
  auto p = ToSurfacePoints(d.dc(), pts, n);
  ApplyBrushMask(d.dc(), RenderMask(BoundsOf(p, 1), [&](cairo_t *cr) {
                   cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
                   cairo_move_to(cr, p[0].x + 0.5, p[0].y + 0.5);
                   for (size_t i = 1; i < p.size(); ++i) cairo_line_to(cr, p[i].x + 0.5, p[i].y + 0.5);
                   cairo_close_path(cr);
                   cairo_fill(cr);
                 }));
  for (size_t i = 0; i < p.size(); ++i) DrawLine(d.dc(), p[i], p[(i + 1) % p.size()]);
  return TRUE;
}

BOOL WINAPI Rectangle(HDC hdc, int left, int top, int right, int bottom) {
  Drawing d(hdc);
  if (!d) return FALSE;
  DC &dc = d.dc();
  const RECT r = SurfaceRect(dc, left, top, right, bottom);
  if (RectEmpty(r)) return TRUE;
  const bool pen = PenVisible(dc);
  const int w = pen ? std::min<int>(PenWidth(dc), std::min(r.right - r.left, r.bottom - r.top) / 2 + 1) : 0;
  // The interior (inside the outline) takes the brush through the ROP2.
  if (dc.st.brush_obj && dc.st.brush_obj->log.lbStyle != BS_NULL) {
    Mask m = RenderMask(RECT{r.left + w, r.top + w, r.right - w, r.bottom - w}, [](cairo_t *cr) { cairo_paint(cr); });
    ApplyBrushMask(dc, m);
  }
  if (pen) {
    Mask m = RenderMask(r, [&](cairo_t *cr) {
      cairo_rectangle(cr, r.left, r.top, r.right - r.left, r.bottom - r.top);
      cairo_rectangle(cr, r.left + w, r.top + w, r.right - r.left - 2 * w, r.bottom - r.top - 2 * w);
      cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
      cairo_fill(cr);
    });
    ApplyPenMask(dc, m);
  }
  return TRUE;
}

BOOL WINAPI Ellipse(HDC hdc, int left, int top, int right, int bottom) {
  Drawing d(hdc);
  if (!d) return FALSE;
  const RECT r = SurfaceRect(d.dc(), left, top, right, bottom);
  if (RectEmpty(r)) return TRUE;
  DrawClosedShape(d.dc(), r, [&](cairo_t *cr, double inset) {
    const double cx = (r.left + r.right) / 2.0, cy = (r.top + r.bottom) / 2.0;
    const double rx = std::max(0.5, (r.right - r.left) / 2.0 - inset),
                 ry = std::max(0.5, (r.bottom - r.top) / 2.0 - inset);
    cairo_save(cr);
    cairo_translate(cr, cx, cy);
    cairo_scale(cr, rx, ry);
    cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
    cairo_restore(cr);
  });
  return TRUE;
}

BOOL WINAPI RoundRect(HDC hdc, int left, int top, int right, int bottom, int ew, int eh) {
  Drawing d(hdc);
  if (!d) return FALSE;
  const RECT r = SurfaceRect(d.dc(), left, top, right, bottom);
  if (RectEmpty(r)) return TRUE;
  const double rx = std::min<double>(std::abs(d->ScaleX(ew)) / 2.0, (r.right - r.left) / 2.0);
  const double ry = std::min<double>(std::abs(d->ScaleY(eh)) / 2.0, (r.bottom - r.top) / 2.0);
  DrawClosedShape(d.dc(), r, [&](cairo_t *cr, double inset) {
    const double x0 = r.left + inset, y0 = r.top + inset, x1 = r.right - inset, y1 = r.bottom - inset;
    const double ax = std::max(0.01, rx - inset), ay = std::max(0.01, ry - inset);
    auto corner = [&](double cx, double cy, double a0) {
      cairo_save(cr);
      cairo_translate(cr, cx, cy);
      cairo_scale(cr, ax, ay);
      cairo_arc(cr, 0, 0, 1, a0, a0 + M_PI / 2);
      cairo_restore(cr);
    };
    cairo_new_sub_path(cr);
    corner(x1 - ax, y0 + ay, -M_PI / 2);
    corner(x1 - ax, y1 - ay, 0);
    corner(x0 + ax, y1 - ay, M_PI / 2);
    corner(x0 + ax, y0 + ay, M_PI);
    cairo_close_path(cr);
  });
  return TRUE;
}

// A sector of the ellipse in the rectangle, from the point where the radial
// through (xr1, yr1) meets it, counterclockwise (as the screen shows it) to the
// radial through (xr2, yr2); both radials are drawn with the pen, the inside
// filled with the brush. The same two points give the whole ellipse.
BOOL WINAPI Pie(HDC hdc, int left, int top, int right, int bottom, int xr1, int yr1, int xr2, int yr2) {
  Drawing d(hdc);
  if (!d) return FALSE;
  const RECT r = SurfaceRect(d.dc(), left, top, right, bottom);
  if (RectEmpty(r)) return TRUE;
  const double cx = (r.left + r.right) / 2.0, cy = (r.top + r.bottom) / 2.0;
  const double rx = (r.right - r.left) / 2.0, ry = (r.bottom - r.top) / 2.0;
  const POINT p1 = d->ToSurface(xr1, yr1), p2 = d->ToSurface(xr2, yr2);
  // Angles on the unit circle the ellipse is scaled from (y grows downwards).
  const double a1 = std::atan2((p1.y - cy) / ry, (p1.x - cx) / rx);
  double a2 = std::atan2((p2.y - cy) / ry, (p2.x - cx) / rx);
  if (a2 >= a1) a2 -= 2 * M_PI;  // counterclockwise on screen: decreasing angles
  DrawClosedShape(d.dc(), r, [&](cairo_t *cr, double inset) {
    cairo_save(cr);
    cairo_translate(cr, cx, cy);
    cairo_scale(cr, std::max(0.5, rx - inset), std::max(0.5, ry - inset));
    cairo_move_to(cr, 0, 0);
    cairo_arc_negative(cr, 0, 0, 1, a1, a2);
    cairo_close_path(cr);
    cairo_restore(cr);
  });
  return TRUE;
}

BOOL WINAPI ScrollDC(HDC hdc, int dx, int dy, const RECT *scroll, const RECT *clip, HRGN hrgnUpdate, LPRECT update) {
  Drawing d(hdc);
  if (!d) return FALSE;
  DC &dc = d.dc();
  Surface &s = d.surface();
  const POINT o = dc.Origin();
  auto to_surface = [&](const RECT *lr) {
    if (!lr) return RECT{0, 0, s.width, s.height};
    return SurfaceRect(dc, lr->left, lr->top, lr->right, lr->bottom);
  };
  const RECT sr = to_surface(scroll);
  const Rects area = IntersectRects(IntersectRects(dc.ClipRects(), to_surface(clip)), sr);
  const int ddx = dc.ScaleX(dx), ddy = dc.ScaleY(dy);
  // Pixels that arrive from inside the scroll area (and the clip) move; the rest is uncovered.
  Rects moved_src = area;
  Rects moved_dst;
  for (RECT r : moved_src) {
    r.left += ddx;
    r.right += ddx;
    r.top += ddy;
    r.bottom += ddy;
    moved_dst.push_back(r);
  }
  moved_dst = CombineRects(moved_dst, area, RGN_AND);
  const Surface copy = s;
  for (const RECT &r : moved_dst)
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x) s.Put(x, y, copy.Get(x - ddx, y - ddy));
  Rects uncovered = CombineRects(area, moved_dst, RGN_DIFF);
  // The update area is given back in the DC's logical coordinates.
  Rects logical;
  for (const RECT &r : uncovered) {
    POINT a = dc.ToLogical(r.left - o.x, r.top - o.y), b = dc.ToLogical(r.right - o.x, r.bottom - o.y);
    logical.push_back(Ordered(a.x, a.y, b.x, b.y));
  }
  if (auto rg = LookupObject<Region>(hrgnUpdate, Type::Region)) rg->rects = logical;
  if (update) {
    Region tmp;
    tmp.rects = logical;
    *update = tmp.Box();
  }
  return TRUE;
}

}  // extern "C"
