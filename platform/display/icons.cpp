// Icons, cursors and bitmaps: the stock IDI_ icons drawn in the desktop's
// style, icons and cursors read from .ico/.cur bytes in a module's resources,
// bitmaps from DIB resources, DrawIcon, and the cursor shape.
#include <cairo.h>

#include <cstring>
#include <map>
#include <mutex>

#include "display_internal.h"
#include "qx/handles.h"
#include "qx/resources.h"

namespace qx::display {
namespace {

using gdi::Surface;

struct Icon : KernelObject {
  Icon() : KernelObject(ObjectKind::Other) {}
  Surface color;  // pixels where the mask is 0; 0 where transparent
  Surface mask;   // monochrome: white = transparent (AND mask)
  POINT hotspot{0, 0};
  bool cursor = false;
  bool shared = false;  // stock and resource icons live as long as the process
  LPCSTR stock_id = nullptr;
};

std::mutex g_lock;
std::map<std::pair<HMODULE, std::string>, HICON> g_loaded;  // shared icons by module and name

// Names compare without regard to case, as resource names do.
std::string Key(LPCSTR name) {
  if (IS_INTRESOURCE(name)) return "#" + std::to_string(reinterpret_cast<uintptr_t>(name));
  std::string k = name;
  for (char &c : k) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return k;
}

std::shared_ptr<Icon> FindIcon(HICON h) {
  auto o = LookupHandle(h, ObjectKind::Other);
  return std::dynamic_pointer_cast<Icon>(o);
}

// Builds an icon by drawing on a magenta canvas; magenta is transparent.
HICON DrawnIcon(const std::function<void(HDC)> &draw, bool cursor, LPCSTR id) {
  constexpr COLORREF kKey = RGB(255, 0, 255);
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bm = CreateBitmap(32, 32, 1, 32, nullptr);
  HGDIOBJ old = SelectObject(dc, bm);
  RECT all{0, 0, 32, 32};
  HBRUSH key = CreateSolidBrush(kKey);
  FillRect(dc, &all, key);
  DeleteObject(key);
  draw(dc);
  auto icon = std::make_shared<Icon>();
  auto b = gdi::BitmapSurface(bm);
  icon->color.Resize(32, 32);
  icon->mask.mono = true;
  icon->mask.Resize(32, 32);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      const std::uint32_t p = b->Get(x, y);
      const bool clear = p == gdi::PixelFromColorref(kKey);
      icon->color.Put(x, y, clear ? 0 : p);
      icon->mask.Put(x, y, clear ? 0xFFFFFF : 0);
    }
  SelectObject(dc, old);
  DeleteObject(bm);
  DeleteDC(dc);
  icon->cursor = cursor;
  icon->shared = true;
  icon->stock_id = id;
  return static_cast<HICON>(InsertHandle(icon));
}

void Disc(HDC dc, COLORREF fill, COLORREF edge) {
  HBRUSH b = CreateSolidBrush(fill);
  HPEN p = CreatePen(PS_SOLID, 1, edge);
  HGDIOBJ ob = SelectObject(dc, b), op = SelectObject(dc, p);
  Ellipse(dc, 1, 1, 31, 31);
  SelectObject(dc, ob);
  SelectObject(dc, op);
  DeleteObject(b);
  DeleteObject(p);
}

void Letter(HDC dc, const char *text, COLORREF color, int height, int y) {
  HFONT f = CreateFontA(height, 0, 0, 0, FW_BOLD, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, VARIABLE_PITCH | FF_ROMAN,
                        "Times New Roman");
  HGDIOBJ old = SelectObject(dc, f);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, color);
  RECT r{0, y, 32, 32};
  DrawTextA(dc, text, -1, &r, DT_CENTER | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, old);
  DeleteObject(f);
}

HICON StockIcon(LPCSTR id) {
  const uintptr_t n = reinterpret_cast<uintptr_t>(id);
  switch (n) {
    case 32513:  // IDI_HAND: a red disc with a white cross
      return DrawnIcon(
          [](HDC dc) {
            Disc(dc, RGB(255, 0, 0), RGB(128, 0, 0));
            HPEN p = CreatePen(PS_SOLID, 4, RGB(255, 255, 255));
            HGDIOBJ o = SelectObject(dc, p);
            MoveToEx(dc, 10, 10, nullptr);
            LineTo(dc, 21, 21);
            MoveToEx(dc, 21, 10, nullptr);
            LineTo(dc, 10, 21);
            SelectObject(dc, o);
            DeleteObject(p);
          },
          false, id);
    case 32514:  // IDI_QUESTION
      return DrawnIcon(
          [](HDC dc) {
            Disc(dc, RGB(255, 255, 255), RGB(0, 0, 0));
            Letter(dc, "?", RGB(0, 0, 255), 26, 2);
          },
          false, id);
    case 32515:  // IDI_EXCLAMATION: a yellow triangle
      return DrawnIcon(
          [](HDC dc) {
            HBRUSH b = CreateSolidBrush(RGB(255, 255, 0));
            HGDIOBJ o = SelectObject(dc, b);
            const POINT tri[] = {{15, 1}, {30, 29}, {1, 29}};
            Polygon(dc, tri, 3);
            SelectObject(dc, o);
            DeleteObject(b);
            Letter(dc, "!", RGB(0, 0, 0), 22, 7);
          },
          false, id);
    case 32516:  // IDI_ASTERISK: information
      return DrawnIcon(
          [](HDC dc) {
            Disc(dc, RGB(255, 255, 255), RGB(0, 0, 0));
            Letter(dc, "i", RGB(0, 0, 255), 26, 2);
          },
          false, id);
    default:  // IDI_APPLICATION, IDI_WINLOGO: a small window
      return DrawnIcon(
          [](HDC dc) {
            RECT frame{2, 4, 30, 28}, title{3, 5, 29, 9};
            FillRect(dc, &frame, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
            FrameRect(dc, &frame, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
            HBRUSH navy = CreateSolidBrush(RGB(0, 0, 128));
            FillRect(dc, &title, navy);
            DeleteObject(navy);
          },
          false, id);
  }
}

HCURSOR StockCursor(LPCSTR id) {
  // Cursors draw as a plain arrow here; the SDL2 driver shows the system's own shape for the id.
  HCURSOR c = DrawnIcon(
      [](HDC dc) {
        const POINT arrow[] = {{0, 0}, {0, 16}, {4, 12}, {7, 18}, {9, 17}, {6, 11}, {11, 11}};
        SelectObject(dc, GetStockObject(WHITE_BRUSH));
        Polygon(dc, arrow, 7);
      },
      true, id);
  return c;
}

// An icon or cursor from .ico/.cur bytes: the entry nearest 32x32 with the most colours.
HICON IconFromBytes(const BYTE *data, DWORD size, bool cursor) {
  if (size < 6) return nullptr;
  auto u16 = [&](DWORD at) { return static_cast<unsigned>(data[at] | (data[at + 1] << 8)); };
  auto u32 = [&](DWORD at) { return static_cast<DWORD>(u16(at) | (u16(at + 2) << 16)); };
  const unsigned count = u16(4);
  if (count == 0 || 6 + 16ull * count > size) return nullptr;
  int best = -1, best_score = -1;
  for (unsigned i = 0; i < count; ++i) {
    const DWORD e = 6 + 16 * i;
    const int w = data[e] ? data[e] : 256;
    const int bpp = cursor ? 0 : static_cast<int>(u16(e + 6));
    const int score = 10000 - std::abs(w - 32) * 100 + bpp;
    if (score > best_score) {
      best_score = score;
      best = static_cast<int>(i);
    }
  }
  const DWORD e = 6 + 16 * static_cast<DWORD>(best);
  const DWORD len = u32(e + 8), off = u32(e + 12);
  if (off >= size || len > size - off || len < sizeof(BITMAPINFOHEADER)) return nullptr;
  const BYTE *img = data + off;
  BITMAPINFOHEADER h;
  std::memcpy(&h, img, sizeof h);
  // The header's own size is checked against the image before anything is
  // added to it: a size near 4 GiB wrapped the colour table's offset to 0.
  if (h.biSize < sizeof h || h.biSize > len || h.biWidth <= 0 || h.biWidth > 256 || h.biHeight <= 0 || h.biHeight > 512)
    return nullptr;
  const int w = h.biWidth, ht = h.biHeight / 2;
  const DWORD colors = h.biBitCount <= 8 ? (h.biClrUsed ? h.biClrUsed : (1u << h.biBitCount)) : 0;
  const DWORD xor_stride = ((w * h.biBitCount + 31) / 32) * 4, and_stride = ((w + 31) / 32) * 4;
  const DWORD bits_at = h.biSize + colors * 4;
  if (colors > 256 || bits_at + static_cast<DWORD>(xor_stride) * ht + static_cast<DWORD>(and_stride) * ht > len)
    return nullptr;
  std::vector<BYTE> info(bits_at);
  std::memcpy(info.data(), img, bits_at);
  reinterpret_cast<BITMAPINFOHEADER *>(info.data())->biHeight = ht;
  auto icon = std::make_shared<Icon>();
  if (!gdi::DecodeDibPixels(reinterpret_cast<BITMAPINFO *>(info.data()), img + bits_at, icon->color)) return nullptr;
  icon->mask.mono = true;
  icon->mask.Resize(w, ht);
  const BYTE *and_bits = img + bits_at + xor_stride * ht;
  for (int y = 0; y < ht; ++y)
    for (int x = 0; x < w; ++x) {
      bool clear = (and_bits[(ht - 1 - y) * and_stride + x / 8] >> (7 - x % 8)) & 1;
      if (h.biBitCount == 32) {  // with an alpha channel the mask follows it
        const BYTE a = img[bits_at + (ht - 1 - y) * xor_stride + 4 * x + 3];
        clear = a < 128;
      }
      icon->mask.Put(x, y, clear ? 0xFFFFFF : 0);
      if (clear) icon->color.Put(x, y, 0);
    }
  icon->cursor = cursor;
  if (cursor) icon->hotspot = POINT{static_cast<LONG>(u16(e + 4)), static_cast<LONG>(u16(e + 6))};
  icon->shared = true;
  return static_cast<HICON>(InsertHandle(icon));
}

HICON Load(HINSTANCE inst, LPCSTR name, bool cursor) {
  if (!name) return nullptr;
  std::lock_guard guard(g_lock);
  const auto key =
      std::make_pair(inst ? inst : static_cast<HMODULE>(nullptr), std::string(cursor ? "c:" : "i:") + Key(name));
  if (auto it = g_loaded.find(key); it != g_loaded.end()) return it->second;
  HICON h = nullptr;
  ResourceBytes bytes{};
  if (inst && FindResourceBytes(inst, cursor ? RT_CURSOR : RT_ICON, name, bytes)) {
    h = IconFromBytes(bytes.data, bytes.size, cursor);
  } else if (!inst && IS_INTRESOURCE(name)) {
    h = cursor ? StockCursor(name) : StockIcon(name);
  } else if (!inst && FindResourceBytes(nullptr, cursor ? RT_CURSOR : RT_ICON, name, bytes)) {
    h = IconFromBytes(bytes.data, bytes.size, cursor);
  }
  if (h) g_loaded[key] = h;
  return h;
}

HCURSOR g_cursor = nullptr;

}  // namespace

bool DrawIconAt(HDC hdc, int x, int y, HICON h) {
  auto icon = FindIcon(h);
  if (!icon) return false;
  auto put = [&](const Surface &s, DWORD rop) {
    HDC mem = CreateCompatibleDC(hdc);
    HBITMAP bm = CreateBitmap(s.width, s.height, 1, s.mono ? 1 : 32, nullptr);
    auto b = gdi::BitmapSurface(bm);
    b->px = s.px;
    HGDIOBJ old = SelectObject(mem, bm);
    // A monochrome mask blits as black and white whatever the target's colours.
    const COLORREF text = SetTextColor(hdc, RGB(0, 0, 0)), bk = SetBkColor(hdc, RGB(255, 255, 255));
    BitBlt(hdc, x - icon->hotspot.x, y - icon->hotspot.y, s.width, s.height, mem, 0, 0, rop);
    SetTextColor(hdc, text);
    SetBkColor(hdc, bk);
    SelectObject(mem, old);
    DeleteObject(bm);
    DeleteDC(mem);
  };
  put(icon->mask, SRCAND);
  put(icon->color, SRCINVERT);
  return true;
}

bool IconPixels(HICON h, std::vector<std::uint32_t> &argb, int &size) {
  auto icon = FindIcon(h);
  if (!icon || icon->color.width <= 0 || icon->color.width != icon->color.height) return false;
  size = icon->color.width;
  argb.assign(static_cast<size_t>(size) * size, 0);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x)
      if (!icon->mask.Get(x, y)) argb[static_cast<size_t>(y) * size + x] = 0xFF000000u | icon->color.Get(x, y);
  return true;
}

}  // namespace qx::display

using namespace qx::display;

extern "C" {

HICON WINAPI LoadIconA(HINSTANCE inst, LPCSTR name) { return Load(inst, name, false); }
HCURSOR WINAPI LoadCursorA(HINSTANCE inst, LPCSTR name) { return Load(inst, name, true); }

BOOL WINAPI DrawIcon(HDC hdc, int x, int y, HICON icon) { return DrawIconAt(hdc, x, y, icon) ? TRUE : FALSE; }

BOOL WINAPI DestroyIcon(HICON h) {
  auto icon = FindIcon(h);
  if (!icon) return FALSE;
  if (!icon->shared) qx::RemoveHandle(h);
  return TRUE;
}

BOOL WINAPI DestroyCursor(HCURSOR h) { return DestroyIcon(h); }

HCURSOR WINAPI SetCursor(HCURSOR h) {
  HCURSOR old;
  {
    std::lock_guard guard(g_lock);
    old = g_cursor;
    g_cursor = h;
  }
  auto icon = FindIcon(h);
  if (Driver *d = StartedDriver(); d && icon && old != h) d->Cursor(icon->stock_id);
  return old;
}

HCURSOR WINAPI GetCursor(void) {
  std::lock_guard guard(g_lock);
  return g_cursor;
}

BOOL WINAPI GetIconInfo(HICON h, PICONINFO info) {
  auto icon = FindIcon(h);
  if (!icon || !info) return FALSE;
  info->fIcon = !icon->cursor;
  info->xHotspot = static_cast<DWORD>(icon->cursor ? icon->hotspot.x : icon->color.width / 2);
  info->yHotspot = static_cast<DWORD>(icon->cursor ? icon->hotspot.y : icon->color.height / 2);
  info->hbmMask = CreateBitmap(icon->mask.width, icon->mask.height, 1, 1, nullptr);
  info->hbmColor = CreateBitmap(icon->color.width, icon->color.height, 1, 32, nullptr);
  if (auto m = qx::gdi::BitmapSurface(info->hbmMask)) m->px = icon->mask.px;
  if (auto c = qx::gdi::BitmapSurface(info->hbmColor)) c->px = icon->color.px;
  return TRUE;
}

HBITMAP WINAPI LoadBitmapA(HINSTANCE inst, LPCSTR name) {
  qx::ResourceBytes bytes{};
  if (!name || !qx::FindResourceBytes(inst, RT_BITMAP, name, bytes)) return nullptr;
  if (bytes.size < sizeof(BITMAPINFOHEADER)) return nullptr;
  BITMAPINFOHEADER h;
  std::memcpy(&h, bytes.data, sizeof h);
  if (h.biSize < sizeof h || h.biSize > bytes.size) return nullptr;
  const DWORD colors = h.biBitCount <= 8 ? (h.biClrUsed ? h.biClrUsed : (1u << h.biBitCount)) : 0;
  const DWORD masks = h.biCompression == BI_BITFIELDS && h.biSize == sizeof h ? 12 : 0;
  const DWORD bits_at = h.biSize + masks + colors * 4;
  const long rows = h.biHeight < 0 ? -static_cast<long>(h.biHeight) : h.biHeight;
  const unsigned long stride = ((static_cast<unsigned long>(h.biWidth) * h.biBitCount + 31) / 32) * 4;
  // The resource must hold every row the header promises.
  if (colors > 256 || bits_at > bytes.size || h.biWidth <= 0 || stride * rows > bytes.size - bits_at) return nullptr;
  HDC screen = GetDC(nullptr);
  HBITMAP bm = CreateDIBitmap(screen, &h, CBM_INIT, bytes.data + bits_at,
                              reinterpret_cast<const BITMAPINFO *>(bytes.data), DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  return bm;
}

}  // extern "C"
