// Device contexts and GDI objects: creation, selection, deletion, saved states,
// attributes and the logical-to-device mapping.
#include <cairo.h>

#include <cmath>
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "qx/errors.h"
#include "qx/pages.h"
#include "gdi_internal.h"

namespace qx::gdi {

void Surface::Resize(int w, int h, std::uint32_t fill) {
  width = std::max(0, w);
  height = std::max(0, h);
  const size_t n = static_cast<size_t>(width) * height;
  if (n > px.capacity()) {
    // A new block, mapped at once: every pixel is written just below.
    std::vector<std::uint32_t> fresh;
    fresh.reserve(n);
    PrefaultForWriting(fresh.data(), n * sizeof(std::uint32_t));
    px.swap(fresh);
  }
  px.assign(n, mono ? ToMono(fill) : fill);
}

std::uint32_t Surface::ToMono(std::uint32_t v) {
  const unsigned r = (v >> 16) & 0xFF, g = (v >> 8) & 0xFF, b = v & 0xFF;
  return (r * 30 + g * 59 + b * 11) >= 128 * 100 ? 0xFFFFFF : 0x000000;
}

cairo_surface_t *Surface::Cairo() {
  return cairo_image_surface_create_for_data(reinterpret_cast<unsigned char *>(px.data()), CAIRO_FORMAT_RGB24, width,
                                             height, width * 4);
}

HGDIOBJ InsertObject(std::shared_ptr<Object> o) { return InsertHandle(std::move(o)); }

std::shared_ptr<DC> LookupDC(HDC hdc) { return LookupObject<DC>(hdc, Type::DC); }

Surface *DC::Target() {
  if (memory) return bitmap_obj ? &bitmap_obj->surface : nullptr;
  return window.surface.get();
}

Rects DC::ClipRects() {
  Surface *s = Target();
  if (!s) return {};
  const RECT bounds{0, 0, s->width, s->height};
  Rects base = memory ? Rects{bounds} : IntersectRects(window.visible, bounds);
  if (!st.clip) return base;
  Rects clip = *st.clip;
  const POINT o = Origin();
  for (RECT &r : clip) {
    r.left += o.x;
    r.right += o.x;
    r.top += o.y;
    r.bottom += o.y;
  }
  return CombineRects(base, clip, RGN_AND);
}

namespace {
long Map(long v, long org_from, long ext_from, long ext_to, long org_to) {
  if (ext_from == 0) return org_to;
  const double d = static_cast<double>(v - org_from) * ext_to / ext_from;
  return static_cast<long>(std::lround(d)) + org_to;
}
}  // namespace

POINT DC::ToDevice(int x, int y) const {
  if (st.map_mode == MM_TEXT) return {x - st.window_org.x + st.viewport_org.x, y - st.window_org.y + st.viewport_org.y};
  return {static_cast<LONG>(Map(x, st.window_org.x, st.window_ext.cx, st.viewport_ext.cx, st.viewport_org.x)),
          static_cast<LONG>(Map(y, st.window_org.y, st.window_ext.cy, st.viewport_ext.cy, st.viewport_org.y))};
}

POINT DC::ToSurface(int x, int y) const {
  POINT p = ToDevice(x, y);
  const POINT o = Origin();
  return {p.x + o.x, p.y + o.y};
}

POINT DC::ToLogical(int x, int y) const {
  if (st.map_mode == MM_TEXT) return {x - st.viewport_org.x + st.window_org.x, y - st.viewport_org.y + st.window_org.y};
  return {static_cast<LONG>(Map(x, st.viewport_org.x, st.viewport_ext.cx, st.window_ext.cx, st.window_org.x)),
          static_cast<LONG>(Map(y, st.viewport_org.y, st.viewport_ext.cy, st.window_ext.cy, st.window_org.y))};
}

int DC::ScaleX(int cx) const {
  if (st.map_mode == MM_TEXT || st.window_ext.cx == 0) return cx;
  return static_cast<int>(std::lround(static_cast<double>(cx) * st.viewport_ext.cx / st.window_ext.cx));
}

int DC::ScaleY(int cy) const {
  if (st.map_mode == MM_TEXT || st.window_ext.cy == 0) return cy;
  return static_cast<int>(std::lround(static_cast<double>(cy) * st.viewport_ext.cy / st.window_ext.cy));
}

Drawing::Drawing(HDC hdc) : dc_(LookupDC(hdc)) {
  if (dc_ && dc_->memory && dc_->bitmap_obj && dc_->bitmap_obj->dib) dc_->bitmap_obj->SyncFromDib();
}

Drawing::~Drawing() {
  if (dc_ && dc_->memory && dc_->bitmap_obj && dc_->bitmap_obj->dib) dc_->bitmap_obj->SyncToDib();
}

COLORREF ResolveColor(DC &dc, COLORREF c) {
  if ((c >> 24) == 0x01) {  // PALETTEINDEX
    const unsigned i = c & 0xFFFF;
    if (dc.st.palette_obj && i < dc.st.palette_obj->entries.size()) {
      const PALETTEENTRY &e = dc.st.palette_obj->entries[i];
      return RGB(e.peRed, e.peGreen, e.peBlue);
    }
    return 0;
  }
  return c & 0xFFFFFF;
}

// ---- stock objects ----

namespace {

struct Stock {
  HGDIOBJ handles[DEFAULT_GUI_FONT + 1] = {};
};

std::shared_ptr<Brush> MakeBrush(UINT style, COLORREF color, ULONG_PTR hatch) {
  auto b = std::make_shared<Brush>();
  b->log = {style, color, hatch};
  return b;
}

std::shared_ptr<Pen> MakePen(UINT style, int width, COLORREF color) {
  auto p = std::make_shared<Pen>();
  p->log = {style, {width, 0}, color};
  return p;
}

HGDIOBJ AddStock(std::shared_ptr<Object> o) {
  o->stock = true;
  return InsertObject(std::move(o));
}

Stock &TheStock() {
  static Stock *stock = [] {
    auto *s = new Stock;
    s->handles[WHITE_BRUSH] = AddStock(MakeBrush(BS_SOLID, RGB(255, 255, 255), 0));
    s->handles[LTGRAY_BRUSH] = AddStock(MakeBrush(BS_SOLID, RGB(192, 192, 192), 0));
    s->handles[GRAY_BRUSH] = AddStock(MakeBrush(BS_SOLID, RGB(128, 128, 128), 0));
    s->handles[DKGRAY_BRUSH] = AddStock(MakeBrush(BS_SOLID, RGB(64, 64, 64), 0));
    s->handles[BLACK_BRUSH] = AddStock(MakeBrush(BS_SOLID, RGB(0, 0, 0), 0));
    s->handles[NULL_BRUSH] = AddStock(MakeBrush(BS_NULL, 0, 0));
    s->handles[WHITE_PEN] = AddStock(MakePen(PS_SOLID, 0, RGB(255, 255, 255)));
    s->handles[BLACK_PEN] = AddStock(MakePen(PS_SOLID, 0, RGB(0, 0, 0)));
    s->handles[NULL_PEN] = AddStock(MakePen(PS_NULL, 0, 0));
    return s;
  }();
  return *stock;
}

std::mutex g_stock_font_lock;

}  // namespace

HGDIOBJ StockFont(int index);  // fonts.cpp
HGDIOBJ StockPalette();        // bitmaps.cpp
HGDIOBJ StockBitmap();         // bitmaps.cpp

HGDIOBJ GetStock(int i) {
  if (i < 0 || i > DEFAULT_GUI_FONT) return nullptr;
  if (i >= OEM_FIXED_FONT && i != DEFAULT_PALETTE) {
    std::lock_guard guard(g_stock_font_lock);
    return StockFont(i);
  }
  if (i == DEFAULT_PALETTE) return StockPalette();
  return TheStock().handles[i];
}

namespace {

void InitState(DcState &st) {
  st = DcState{};
  st.pen = GetStock(BLACK_PEN);
  st.pen_obj = LookupObject<Pen>(st.pen, Type::Pen);
  st.brush = GetStock(WHITE_BRUSH);
  st.brush_obj = LookupObject<Brush>(st.brush, Type::Brush);
  st.font = GetStock(SYSTEM_FONT);
  st.font_obj = std::static_pointer_cast<Font>(LookupObject<Object>(st.font, Type::Font));
  st.palette = GetStock(DEFAULT_PALETTE);
  st.palette_obj = LookupObject<Palette>(st.palette, Type::Palette);
}

}  // namespace

HDC CreateWindowDC(HWND hwnd, const WindowTarget &target) {
  auto dc = std::make_shared<DC>();
  InitState(dc->st);
  dc->hwnd = hwnd;
  dc->window = target;
  return static_cast<HDC>(InsertObject(dc));
}

void RetargetWindowDC(HDC hdc, const WindowTarget &target) {
  if (auto dc = LookupDC(hdc)) dc->window = target;
}

}  // namespace qx::gdi

using namespace qx::gdi;
using qx::Fail;

namespace {

DcState *StateOf(HDC hdc) {
  auto dc = LookupDC(hdc);
  return dc ? &dc->st : nullptr;  // the handle table keeps the DC alive
}

template <class F>
auto WithDC(HDC hdc, F f, decltype(f(std::declval<DC &>())) failure) {
  auto dc = LookupDC(hdc);
  if (!dc) return Fail(ERROR_INVALID_HANDLE, failure);
  return f(*dc);
}

}  // namespace

extern "C" {

HDC WINAPI CreateCompatibleDC(HDC hdc) {
  if (hdc && !LookupDC(hdc)) return Fail<HDC>(ERROR_INVALID_HANDLE, nullptr);
  auto dc = std::make_shared<DC>();
  InitState(dc->st);
  dc->memory = true;
  dc->bitmap = StockBitmap();
  dc->bitmap_obj = LookupObject<Bitmap>(dc->bitmap, Type::Bitmap);
  return static_cast<HDC>(InsertObject(dc));
}

HDC WINAPI CreateDCA(LPCSTR driver, LPCSTR device, LPCSTR, const void *devmode) {
  // Any device but the display is a printer.
  if (!driver || strcasecmp(driver, "DISPLAY") != 0) return CreatePrinterDC(driver, device, devmode, false);
  // A DC of the display is a memory DC over a screen-sized bitmap.
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bm = CreateBitmap(GetDeviceCaps(dc, HORZRES), GetDeviceCaps(dc, VERTRES), 1, 32, nullptr);
  SelectObject(dc, bm);
  DeleteObject(bm);  // lives on while selected
  return dc;
}

BOOL WINAPI DeleteDC(HDC hdc) {
  auto dc = LookupDC(hdc);
  if (!dc) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (dc->bitmap_obj) dc->bitmap_obj->selected_in = nullptr;
  qx::RemoveHandle(hdc);
  return TRUE;
}

int WINAPI SaveDC(HDC hdc) {
  return WithDC(
      hdc,
      [](DC &dc) {
        dc.saved.push_back(dc.st);
        return static_cast<int>(dc.saved.size());
      },
      0);
}

BOOL WINAPI RestoreDC(HDC hdc, int n) {
  return WithDC(
      hdc,
      [n](DC &dc) -> BOOL {
        const int count = static_cast<int>(dc.saved.size());
        const int level = n < 0 ? count + n + 1 : n;  // -1 is the state saved last
        if (level < 1 || level > count) return FALSE;
        dc.st = dc.saved[level - 1];
        dc.saved.resize(level - 1);
        return TRUE;
      },
      FALSE);
}

HGDIOBJ WINAPI GetStockObject(int i) { return GetStock(i); }

DWORD WINAPI GetObjectType(HGDIOBJ h) {
  auto o = qx::Lookup<Object>(h, qx::ObjectKind::Gdi);
  if (!o) return Fail<DWORD>(ERROR_INVALID_HANDLE, 0);
  switch (o->type) {
    case Type::Pen: return OBJ_PEN;
    case Type::Brush: return OBJ_BRUSH;
    case Type::Font: return OBJ_FONT;
    case Type::Bitmap: return OBJ_BITMAP;
    case Type::Palette: return OBJ_PAL;
    case Type::Region: return OBJ_REGION;
    case Type::DC: {
      auto dc = std::static_pointer_cast<DC>(o);
      return dc->memory && !dc->printer ? OBJ_MEMDC : OBJ_DC;
    }
  }
  return 0;
}

HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h) {
  auto dc = LookupDC(hdc);
  auto o = qx::Lookup<Object>(h, qx::ObjectKind::Gdi);
  if (!dc || !o) return Fail<HGDIOBJ>(ERROR_INVALID_HANDLE, nullptr);
  DcState &st = dc->st;
  HGDIOBJ old = nullptr;
  switch (o->type) {
    case Type::Pen:
      old = st.pen;
      st.pen = h;
      st.pen_obj = std::static_pointer_cast<Pen>(o);
      return old;
    case Type::Brush:
      old = st.brush;
      st.brush = h;
      st.brush_obj = std::static_pointer_cast<Brush>(o);
      return old;
    case Type::Font:
      old = st.font;
      st.font = h;
      st.font_obj = std::static_pointer_cast<Font>(o);
      return old;
    case Type::Region: {
      // Selecting a region sets a copy of it as the clip region.
      const int kind = SelectClipRgn(hdc, static_cast<HRGN>(h));
      return reinterpret_cast<HGDIOBJ>(static_cast<intptr_t>(kind));
    }
    case Type::Bitmap: {
      auto bm = std::static_pointer_cast<Bitmap>(o);
      if (!dc->memory || dc->printer) return Fail<HGDIOBJ>(ERROR_INVALID_PARAMETER, nullptr);
      if (bm->selected_in && bm->selected_in != hdc && !bm->stock)
        return Fail<HGDIOBJ>(ERROR_INVALID_PARAMETER, nullptr);
      if (dc->bitmap_obj) dc->bitmap_obj->selected_in = nullptr;
      old = dc->bitmap;
      dc->bitmap = h;
      dc->bitmap_obj = bm;
      if (!bm->stock) bm->selected_in = hdc;
      return old;
    }
    default: return Fail<HGDIOBJ>(ERROR_INVALID_PARAMETER, nullptr);
  }
}

HGDIOBJ WINAPI GetCurrentObject(HDC hdc, UINT type) {
  auto dc = LookupDC(hdc);
  if (!dc) return nullptr;
  switch (type) {
    case OBJ_PEN: return dc->st.pen;
    case OBJ_BRUSH: return dc->st.brush;
    case OBJ_FONT: return dc->st.font;
    case OBJ_PAL: return dc->st.palette;
    case OBJ_BITMAP: return dc->memory ? dc->bitmap : nullptr;
    default: return nullptr;
  }
}

BOOL WINAPI DeleteObject(HGDIOBJ h) {
  auto o = qx::Lookup<Object>(h, qx::ObjectKind::Gdi);
  if (!o || o->type == Type::DC) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (o->stock) return TRUE;
  if (o->type == Type::Bitmap && std::static_pointer_cast<Bitmap>(o)->selected_in) {
    // A bitmap selected into a DC cannot be deleted (the DC still draws on it).
    return Fail(ERROR_INVALID_PARAMETER, FALSE);
  }
  qx::RemoveHandle(h);  // a DC that still holds the object keeps it alive
  return TRUE;
}

BOOL WINAPI GdiFlush(void) { return TRUE; }

// ---- pens and brushes ----

HPEN WINAPI CreatePen(int style, int width, COLORREF color) {
  if (style < PS_SOLID || style > PS_INSIDEFRAME) style = PS_SOLID;
  auto p = std::make_shared<Pen>();
  p->log = {static_cast<UINT>(style), {std::max(0, width), 0}, color};
  return static_cast<HPEN>(InsertObject(p));
}

HPEN WINAPI CreatePenIndirect(const LOGPEN *lp) {
  if (!lp) return Fail<HPEN>(ERROR_INVALID_PARAMETER, nullptr);
  return CreatePen(static_cast<int>(lp->lopnStyle), lp->lopnWidth.x, lp->lopnColor);
}

HBRUSH WINAPI CreateSolidBrush(COLORREF color) {
  auto b = std::make_shared<Brush>();
  b->log = {BS_SOLID, color, 0};
  return static_cast<HBRUSH>(InsertObject(b));
}

HBRUSH WINAPI CreateHatchBrush(int hatch, COLORREF color) {
  if (hatch < HS_HORIZONTAL || hatch > HS_DIAGCROSS) return Fail<HBRUSH>(ERROR_INVALID_PARAMETER, nullptr);
  auto b = std::make_shared<Brush>();
  b->log = {BS_HATCHED, color, static_cast<ULONG_PTR>(hatch)};
  return static_cast<HBRUSH>(InsertObject(b));
}

HBRUSH WINAPI CreatePatternBrush(HBITMAP hbm) {
  auto bm = LookupObject<Bitmap>(hbm, Type::Bitmap);
  if (!bm) return Fail<HBRUSH>(ERROR_INVALID_HANDLE, nullptr);
  if (bm->dib) bm->SyncFromDib();
  auto b = std::make_shared<Brush>();
  b->log = {BS_PATTERN, 0, 0};
  b->pattern = std::make_shared<Surface>(bm->surface);  // the brush keeps its own copy
  return static_cast<HBRUSH>(InsertObject(b));
}

HBRUSH WINAPI CreateBrushIndirect(const LOGBRUSH *lb) {
  if (!lb) return Fail<HBRUSH>(ERROR_INVALID_PARAMETER, nullptr);
  switch (lb->lbStyle) {
    case BS_SOLID: return CreateSolidBrush(lb->lbColor);
    case BS_NULL: return static_cast<HBRUSH>(GetStock(NULL_BRUSH));
    case BS_HATCHED: return CreateHatchBrush(static_cast<int>(lb->lbHatch), lb->lbColor);
    case BS_PATTERN: return CreatePatternBrush(reinterpret_cast<HBITMAP>(lb->lbHatch));
    default: return Fail<HBRUSH>(ERROR_INVALID_PARAMETER, nullptr);
  }
}

// ---- attributes ----

#define QX_DC_ATTR(SetName, GetName, Type_, field, failure)                  \
  Type_ WINAPI SetName(HDC hdc, Type_ v) {                                   \
    DcState *st = StateOf(hdc);                                              \
    if (!st) return Fail(ERROR_INVALID_HANDLE, static_cast<Type_>(failure)); \
    Type_ old = static_cast<Type_>(st->field);                               \
    st->field = v;                                                           \
    return old;                                                              \
  }                                                                          \
  Type_ WINAPI GetName(HDC hdc) {                                            \
    DcState *st = StateOf(hdc);                                              \
    return st ? static_cast<Type_>(st->field) : static_cast<Type_>(failure); \
  }

QX_DC_ATTR(SetTextColor, GetTextColor, COLORREF, text_color, CLR_INVALID)
QX_DC_ATTR(SetBkColor, GetBkColor, COLORREF, bk_color, CLR_INVALID)
QX_DC_ATTR(SetTextAlign, GetTextAlign, UINT, text_align, GDI_ERROR)
QX_DC_ATTR(SetStretchBltMode, GetStretchBltMode, int, stretch_mode, 0)
#undef QX_DC_ATTR

int WINAPI SetBkMode(HDC hdc, int mode) {
  DcState *st = StateOf(hdc);
  if (!st || (mode != TRANSPARENT && mode != OPAQUE)) return Fail(ERROR_INVALID_PARAMETER, 0);
  int old = st->bk_mode;
  st->bk_mode = mode;
  return old;
}
int WINAPI GetBkMode(HDC hdc) {
  DcState *st = StateOf(hdc);
  return st ? st->bk_mode : 0;
}

int WINAPI SetROP2(HDC hdc, int rop2) {
  DcState *st = StateOf(hdc);
  if (!st || rop2 < R2_BLACK || rop2 > R2_WHITE) return Fail(ERROR_INVALID_PARAMETER, 0);
  int old = st->rop2;
  st->rop2 = rop2;
  return old;
}
int WINAPI GetROP2(HDC hdc) {
  DcState *st = StateOf(hdc);
  return st ? st->rop2 : 0;
}

int WINAPI SetTextCharacterExtra(HDC hdc, int extra) {
  DcState *st = StateOf(hdc);
  if (!st) return static_cast<int>(0x80000000);
  int old = st->char_extra;
  st->char_extra = extra;
  return old;
}

BOOL WINAPI SetBrushOrgEx(HDC hdc, int x, int y, LPPOINT old) {
  DcState *st = StateOf(hdc);
  if (!st) return FALSE;
  if (old) *old = st->brush_org;
  st->brush_org = {x, y};
  return TRUE;
}

// ---- mapping ----

int WINAPI SetMapMode(HDC hdc, int mode) {
  auto dc = LookupDC(hdc);
  if (!dc || mode < MM_TEXT || mode > MM_ANISOTROPIC) return 0;
  DcState *st = &dc->st;
  const int dpi = dc->dpi;
  int old = st->map_mode;
  st->map_mode = mode;
  switch (mode) {  // fixed modes at the device's pixels per inch
    case MM_TEXT:
      st->window_ext = {1, 1};
      st->viewport_ext = {1, 1};
      break;
    case MM_LOMETRIC:
      st->window_ext = {254, -254};
      st->viewport_ext = {dpi, dpi};
      break;
    case MM_HIMETRIC:
      st->window_ext = {2540, -2540};
      st->viewport_ext = {dpi, dpi};
      break;
    case MM_LOENGLISH:
      st->window_ext = {100, -100};
      st->viewport_ext = {dpi, dpi};
      break;
    case MM_HIENGLISH:
      st->window_ext = {1000, -1000};
      st->viewport_ext = {dpi, dpi};
      break;
    case MM_TWIPS:
      st->window_ext = {1440, -1440};
      st->viewport_ext = {dpi, dpi};
      break;
    default: break;  // isotropic and anisotropic keep the extents set so far
  }
  return old;
}

int WINAPI GetMapMode(HDC hdc) {
  DcState *st = StateOf(hdc);
  return st ? st->map_mode : 0;
}

namespace {
bool ExtentsSettable(const DcState &st) { return st.map_mode == MM_ISOTROPIC || st.map_mode == MM_ANISOTROPIC; }

void Isotropic(DcState &st) {
  if (st.map_mode != MM_ISOTROPIC || st.window_ext.cx == 0 || st.window_ext.cy == 0) return;
  // Same scale on both axes: the smaller of the two.
  const double sx = std::fabs(static_cast<double>(st.viewport_ext.cx) / st.window_ext.cx);
  const double sy = std::fabs(static_cast<double>(st.viewport_ext.cy) / st.window_ext.cy);
  if (sx < sy)
    st.viewport_ext.cy = static_cast<LONG>(std::lround(st.window_ext.cy * sx * (st.viewport_ext.cy < 0 ? -1 : 1)));
  else
    st.viewport_ext.cx = static_cast<LONG>(std::lround(st.window_ext.cx * sy * (st.viewport_ext.cx < 0 ? -1 : 1)));
}
}  // namespace

namespace {
// The body of SetWindowExtEx and SetViewportExtEx: one of the two extents.
BOOL SetExtent(HDC hdc, SIZE DcState::*extent, int x, int y, LPSIZE old) {
  DcState *st = StateOf(hdc);
  if (!st) return FALSE;
  if (old) *old = st->*extent;
  if (!ExtentsSettable(*st)) return TRUE;
  if (x == 0 || y == 0) return FALSE;
  st->*extent = {x, y};
  Isotropic(*st);
  return TRUE;
}
}  // namespace

BOOL WINAPI SetWindowExtEx(HDC hdc, int x, int y, LPSIZE old) {
  return SetExtent(hdc, &DcState::window_ext, x, y, old);
}

BOOL WINAPI SetViewportExtEx(HDC hdc, int x, int y, LPSIZE old) {
  return SetExtent(hdc, &DcState::viewport_ext, x, y, old);
}

BOOL WINAPI SetWindowOrgEx(HDC hdc, int x, int y, LPPOINT old) {
  DcState *st = StateOf(hdc);
  if (!st) return FALSE;
  if (old) *old = st->window_org;
  st->window_org = {x, y};
  return TRUE;
}

BOOL WINAPI SetViewportOrgEx(HDC hdc, int x, int y, LPPOINT old) {
  DcState *st = StateOf(hdc);
  if (!st) return FALSE;
  if (old) *old = st->viewport_org;
  st->viewport_org = {x, y};
  return TRUE;
}

BOOL WINAPI OffsetViewportOrgEx(HDC hdc, int x, int y, LPPOINT old) {
  DcState *st = StateOf(hdc);
  if (!st) return FALSE;
  if (old) *old = st->viewport_org;
  st->viewport_org.x += x;
  st->viewport_org.y += y;
  return TRUE;
}

BOOL WINAPI OffsetWindowOrgEx(HDC hdc, int x, int y, LPPOINT old) {
  DcState *st = StateOf(hdc);
  if (!st) return FALSE;
  if (old) *old = st->window_org;
  st->window_org.x += x;
  st->window_org.y += y;
  return TRUE;
}

BOOL WINAPI GetWindowExtEx(HDC hdc, LPSIZE s) {
  DcState *st = StateOf(hdc);
  if (!st || !s) return FALSE;
  *s = st->window_ext;
  return TRUE;
}
BOOL WINAPI GetViewportExtEx(HDC hdc, LPSIZE s) {
  DcState *st = StateOf(hdc);
  if (!st || !s) return FALSE;
  *s = st->viewport_ext;
  return TRUE;
}
BOOL WINAPI GetWindowOrgEx(HDC hdc, LPPOINT p) {
  DcState *st = StateOf(hdc);
  if (!st || !p) return FALSE;
  *p = st->window_org;
  return TRUE;
}
BOOL WINAPI GetViewportOrgEx(HDC hdc, LPPOINT p) {
  DcState *st = StateOf(hdc);
  if (!st || !p) return FALSE;
  *p = st->viewport_org;
  return TRUE;
}

BOOL WINAPI LPtoDP(HDC hdc, LPPOINT pts, int n) {
  auto dc = LookupDC(hdc);
  if (!dc || (!pts && n > 0)) return FALSE;
  for (int i = 0; i < n; ++i) pts[i] = dc->ToDevice(pts[i].x, pts[i].y);
  return TRUE;
}

BOOL WINAPI DPtoLP(HDC hdc, LPPOINT pts, int n) {
  auto dc = LookupDC(hdc);
  if (!dc || (!pts && n > 0)) return FALSE;
  for (int i = 0; i < n; ++i) pts[i] = dc->ToLogical(pts[i].x, pts[i].y);
  return TRUE;
}

int WINAPI GetDeviceCaps(HDC hdc, int index) {
  auto dc = hdc ? LookupDC(hdc) : nullptr;
  if (dc && dc->printer) return PrinterDeviceCaps(*dc, index);
  const bool mono = dc && dc->Mono();
  switch (index) {
    case DRIVERVERSION: return 0x400;
    case TECHNOLOGY: return DT_RASDISPLAY;
    case HORZRES: return 1024;
    case VERTRES: return 768;
    case HORZSIZE: return 1024 * 254 / 960;  // millimetres at 96 pixels per inch
    case VERTSIZE: return 768 * 254 / 960;
    case BITSPIXEL: return mono ? 1 : 32;
    case PLANES: return 1;
    case NUMBRUSHES:
    case NUMPENS:
    case NUMCOLORS: return -1;
    case NUMFONTS: return 0;
    case ASPECTX:
    case ASPECTY: return 36;
    case ASPECTXY: return 51;
    case LOGPIXELSX:
    case LOGPIXELSY: return 96;
    case SIZEPALETTE:
    case NUMRESERVED: return 0;
    case COLORRES: return 24;
    case RASTERCAPS: return RC_BITBLT | RC_DIBTODEV | RC_STRETCHBLT | RC_STRETCHDIB;
    default: return 0;
  }
}

}  // extern "C"
