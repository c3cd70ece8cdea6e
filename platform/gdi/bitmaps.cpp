// Bitmaps, device-independent bitmaps and palettes: device bitmaps (colour and
// monochrome), DIB sections whose pixel memory the program reads and writes,
// decoding and encoding of DIBs of 1, 4, 8, 16, 24 and 32 bits per pixel, and
// palettes as index-to-colour tables.
#include <algorithm>
#include <cstring>
#include <limits>

#include "qx/errors.h"
#include "gdi_internal.h"

namespace qx::gdi {

void FontLog(const Font &f, LOGFONTA &out);  // fonts.cpp

namespace {

constexpr long kMaxPixels = 64L * 1024 * 1024;  // refuse bitmaps beyond 256 MB of pixels

bool SaneSize(long w, long h) { return w > 0 && h > 0 && w <= 32767 && h <= 32767 && w * h <= kMaxPixels; }

size_t DibStride(long w, int bpp) { return static_cast<size_t>(((w * bpp + 31) / 32) * 4); }

// The 20 reserved colours of the default palette.
const PALETTEENTRY kDefaultPalette[20] = {
    {0, 0, 0, 0},       {128, 0, 0, 0},     {0, 128, 0, 0},     {128, 128, 0, 0},   {0, 0, 128, 0},
    {128, 0, 128, 0},   {0, 128, 128, 0},   {192, 192, 192, 0}, {192, 220, 192, 0}, {166, 202, 240, 0},
    {255, 251, 240, 0}, {160, 160, 164, 0}, {128, 128, 128, 0}, {255, 0, 0, 0},     {0, 255, 0, 0},
    {255, 255, 0, 0},   {0, 0, 255, 0},     {255, 0, 255, 0},   {0, 255, 255, 0},   {255, 255, 255, 0},
};

// Colour table for encoding DIBs of up to 8 bits from colour pixels.
std::vector<RGBQUAD> DefaultTable(int bpp) {
  std::vector<RGBQUAD> t;
  if (bpp == 1) {
    t = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  } else if (bpp == 4) {
    static const BYTE v16[16][3] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                    {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {128, 128, 128},
                                    {192, 192, 192}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                    {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
    for (auto &c : v16) t.push_back(RGBQUAD{c[2], c[1], c[0], 0});
  } else {
    for (int i = 0; i < 10; ++i)
      t.push_back(RGBQUAD{kDefaultPalette[i].peBlue, kDefaultPalette[i].peGreen, kDefaultPalette[i].peRed, 0});
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 6; ++g)
        for (int b = 0; b < 6; ++b)
          t.push_back(RGBQUAD{static_cast<BYTE>(b * 51), static_cast<BYTE>(g * 51), static_cast<BYTE>(r * 51), 0});
    for (int i = 10; t.size() < 256 && i < 20; ++i)
      t.push_back(RGBQUAD{kDefaultPalette[i].peBlue, kDefaultPalette[i].peGreen, kDefaultPalette[i].peRed, 0});
    while (t.size() < 256) t.push_back(RGBQUAD{0, 0, 0, 0});
  }
  return t;
}

int Nearest(const std::vector<RGBQUAD> &table, std::uint32_t px) {
  const int r = (px >> 16) & 0xFF, g = (px >> 8) & 0xFF, b = px & 0xFF;
  int best = 0;
  long best_d = std::numeric_limits<long>::max();
  for (size_t i = 0; i < table.size(); ++i) {
    const long dr = table[i].rgbRed - r, dg = table[i].rgbGreen - g, db = table[i].rgbBlue - b;
    const long d = dr * dr + dg * dg + db * db;
    if (d < best_d) {
      best_d = d;
      best = static_cast<int>(i);
      if (d == 0) break;
    }
  }
  return best;
}

int MaskShift(DWORD m) {
  int s = 0;
  while (m && !(m & 1)) {
    m >>= 1;
    ++s;
  }
  return s;
}
int MaskBits(DWORD m) {
  m >>= MaskShift(m);
  int n = 0;
  while (m & 1) {
    m >>= 1;
    ++n;
  }
  return n;
}
int Extract(DWORD v, DWORD mask) {
  if (!mask) return 0;
  const int bits = MaskBits(mask);
  const DWORD x = (v & mask) >> MaskShift(mask);
  if (bits >= 8) return static_cast<int>(x >> (bits - 8));
  return bits ? static_cast<int>((x * 255) / ((1u << bits) - 1)) : 0;
}

// What a BITMAPINFO says, checked.
struct DibFormat {
  long width = 0, height = 0;  // height > 0: bottom-up
  int bpp = 0;
  DWORD compression = BI_RGB;
  DWORD masks[3] = {0, 0, 0};
  std::vector<RGBQUAD> colors;
  size_t stride = 0;
  long Rows() const { return height < 0 ? -height : height; }
};

bool ReadFormat(const BITMAPINFO *bmi, UINT usage, DC *dc, DibFormat &f) {
  if (!bmi) return false;
  const BITMAPINFOHEADER &h = bmi->bmiHeader;
  const BYTE *after = reinterpret_cast<const BYTE *>(bmi) + h.biSize;
  if (h.biSize == sizeof(BITMAPCOREHEADER)) {
    const auto *core = reinterpret_cast<const BITMAPCOREHEADER *>(bmi);
    f.width = core->bcWidth;
    f.height = core->bcHeight;
    f.bpp = core->bcBitCount;
    if (f.bpp != 1 && f.bpp != 4 && f.bpp != 8 && f.bpp != 24) return false;
    const auto *tri = reinterpret_cast<const RGBTRIPLE *>(after);
    if (f.bpp <= 8)
      for (int i = 0; i < (1 << f.bpp); ++i)
        f.colors.push_back(RGBQUAD{tri[i].rgbtBlue, tri[i].rgbtGreen, tri[i].rgbtRed, 0});
  } else if (h.biSize >= sizeof(BITMAPINFOHEADER)) {
    f.width = h.biWidth;
    f.height = h.biHeight;
    f.bpp = h.biBitCount;
    f.compression = h.biCompression;
    if (f.compression == BI_BITFIELDS) {
      if (f.bpp != 16 && f.bpp != 32) return false;
      // The three masks follow a plain info header, or are part of a larger one.
      const DWORD *m = h.biSize == sizeof(BITMAPINFOHEADER) ? reinterpret_cast<const DWORD *>(after)
                                                            : reinterpret_cast<const DWORD *>(&h + 1);
      std::memcpy(f.masks, m, sizeof f.masks);
      if (h.biSize == sizeof(BITMAPINFOHEADER)) after += sizeof f.masks;
    } else if (f.compression != BI_RGB) {
      return false;  // run-length encoded DIBs are not drawn
    }
    // Depth and size are checked before the colour table is read, whose length follows from them.
    if (f.bpp != 1 && f.bpp != 4 && f.bpp != 8 && f.bpp != 16 && f.bpp != 24 && f.bpp != 32) return false;
    if (!SaneSize(f.width, f.Rows())) return false;
    if (f.bpp <= 8) {
      const DWORD max = 1u << f.bpp;
      const DWORD n = h.biClrUsed && h.biClrUsed < max ? h.biClrUsed : max;
      if (usage == DIB_PAL_COLORS) {
        const WORD *idx = reinterpret_cast<const WORD *>(after);
        for (DWORD i = 0; i < n; ++i) {
          PALETTEENTRY e{0, 0, 0, 0};
          if (dc && dc->st.palette_obj && idx[i] < dc->st.palette_obj->entries.size())
            e = dc->st.palette_obj->entries[idx[i]];
          f.colors.push_back(RGBQUAD{e.peBlue, e.peGreen, e.peRed, 0});
        }
      } else {
        const RGBQUAD *q = reinterpret_cast<const RGBQUAD *>(after);
        f.colors.assign(q, q + n);
      }
    }
  } else {
    return false;
  }
  if (f.bpp != 1 && f.bpp != 4 && f.bpp != 8 && f.bpp != 16 && f.bpp != 24 && f.bpp != 32) return false;
  if (f.compression == BI_RGB && f.bpp == 16) {
    f.masks[0] = 0x7C00;
    f.masks[1] = 0x03E0;
    f.masks[2] = 0x001F;
  }
  if (f.compression == BI_RGB && f.bpp == 32) {
    f.masks[0] = 0xFF0000;
    f.masks[1] = 0xFF00;
    f.masks[2] = 0xFF;
  }
  if (!SaneSize(f.width, f.Rows())) return false;
  f.stride = DibStride(f.width, f.bpp);
  return true;
}

std::uint32_t ReadDibPixel(const DibFormat &f, const BYTE *row, long x) {
  auto table = [&](unsigned i) -> std::uint32_t {
    if (i >= f.colors.size()) return 0;
    const RGBQUAD &q = f.colors[i];
    return (std::uint32_t{q.rgbRed} << 16) | (std::uint32_t{q.rgbGreen} << 8) | q.rgbBlue;
  };
  switch (f.bpp) {
    case 1: return table((row[x >> 3] >> (7 - (x & 7))) & 1);
    case 4: return table((row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF);
    case 8: return table(row[x]);
    case 16: {
      const DWORD v = row[2 * x] | (row[2 * x + 1] << 8);
      return (Extract(v, f.masks[0]) << 16) | (Extract(v, f.masks[1]) << 8) | Extract(v, f.masks[2]);
    }
    case 24: return (std::uint32_t{row[3 * x + 2]} << 16) | (std::uint32_t{row[3 * x + 1]} << 8) | row[3 * x];
    default: {
      DWORD v;
      std::memcpy(&v, row + 4 * x, 4);
      return (Extract(v, f.masks[0]) << 16) | (Extract(v, f.masks[1]) << 8) | Extract(v, f.masks[2]);
    }
  }
}

void WriteDibPixel(const DibFormat &f, BYTE *row, long x, std::uint32_t px) {
  switch (f.bpp) {
    case 1: {
      const int i = Nearest(f.colors, px);
      if (i)
        row[x >> 3] |= static_cast<BYTE>(0x80 >> (x & 7));
      else
        row[x >> 3] &= static_cast<BYTE>(~(0x80 >> (x & 7)));
      break;
    }
    case 4: {
      const BYTE i = static_cast<BYTE>(Nearest(f.colors, px));
      row[x >> 1] =
          (x & 1) ? static_cast<BYTE>((row[x >> 1] & 0xF0) | i) : static_cast<BYTE>((row[x >> 1] & 0x0F) | (i << 4));
      break;
    }
    case 8: row[x] = static_cast<BYTE>(Nearest(f.colors, px)); break;
    case 16: {
      const WORD v = static_cast<WORD>((((px >> 19) & 0x1F) << 10) | (((px >> 11) & 0x1F) << 5) | ((px >> 3) & 0x1F));
      if (f.masks[1] == 0x07E0) {  // 5-6-5
        const WORD w = static_cast<WORD>((((px >> 19) & 0x1F) << 11) | (((px >> 10) & 0x3F) << 5) | ((px >> 3) & 0x1F));
        row[2 * x] = static_cast<BYTE>(w);
        row[2 * x + 1] = static_cast<BYTE>(w >> 8);
      } else {
        row[2 * x] = static_cast<BYTE>(v);
        row[2 * x + 1] = static_cast<BYTE>(v >> 8);
      }
      break;
    }
    case 24:
      row[3 * x] = px & 0xFF;
      row[3 * x + 1] = (px >> 8) & 0xFF;
      row[3 * x + 2] = (px >> 16) & 0xFF;
      break;
    default: {
      const DWORD v = px & 0xFFFFFF;
      std::memcpy(row + 4 * x, &v, 4);
      break;
    }
  }
}

// Decodes DIB rows [first, first + count) (counted in DIB order) into surface rows.
void DecodeRows(const DibFormat &f, const BYTE *bits, long first, long count, Surface &out) {
  const long rows = f.Rows();
  for (long i = 0; i < count; ++i) {
    const long dib_row = first + i;
    if (dib_row < 0 || dib_row >= rows) continue;
    const long y = f.height > 0 ? rows - 1 - dib_row : dib_row;
    const BYTE *row = bits + static_cast<size_t>(i) * f.stride;
    for (long x = 0; x < f.width && x < out.width; ++x)
      if (y < out.height) out.Put(static_cast<int>(x), static_cast<int>(y), ReadDibPixel(f, row, x));
  }
}

void EncodeRows(const DibFormat &f, const Surface &in, long first, long count, BYTE *bits) {
  const long rows = f.Rows();
  for (long i = 0; i < count; ++i) {
    const long dib_row = first + i;
    const long y = f.height > 0 ? rows - 1 - dib_row : dib_row;
    BYTE *row = bits + static_cast<size_t>(i) * f.stride;
    std::memset(row, 0, f.stride);
    if (y < 0 || y >= in.height) continue;
    for (long x = 0; x < f.width && x < in.width; ++x)
      WriteDibPixel(f, row, x, in.Get(static_cast<int>(x), static_cast<int>(y)));
  }
}

DibFormat SectionFormat(const Bitmap &b) {
  DibFormat f;
  f.width = b.dib_header.biWidth;
  f.height = b.dib_header.biHeight;
  f.bpp = b.dib_header.biBitCount;
  f.compression = b.dib_header.biCompression;
  std::memcpy(f.masks, b.dib_masks, sizeof f.masks);
  f.colors = b.dib_colors;
  f.stride = DibStride(f.width, f.bpp);
  return f;
}

HBITMAP NewBitmap(int w, int h, bool mono) {
  if (!SaneSize(w, h)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto b = std::make_shared<Bitmap>();
  b->bits_pixel = mono ? 1 : 32;
  b->surface.mono = mono;
  b->surface.Resize(w, h, mono ? 0 : 0);
  return static_cast<HBITMAP>(InsertObject(b));
}

}  // namespace

void Bitmap::SyncFromDib() {
  if (!dib) return;
  DibFormat f = SectionFormat(*this);
  DecodeRows(f, dib_bits.get(), 0, f.Rows(), surface);
}

void Bitmap::SyncToDib() {
  if (!dib) return;
  DibFormat f = SectionFormat(*this);
  EncodeRows(f, surface, 0, f.Rows(), dib_bits.get());
}

HGDIOBJ StockBitmap() {
  static HGDIOBJ h = [] {
    auto b = std::make_shared<Bitmap>();
    b->bits_pixel = 1;
    b->surface.mono = true;
    b->surface.Resize(1, 1, 0);
    b->stock = true;
    return InsertObject(b);
  }();
  return h;
}

HGDIOBJ StockPalette() {
  static HGDIOBJ h = [] {
    auto p = std::make_shared<Palette>();
    p->entries.assign(std::begin(kDefaultPalette), std::end(kDefaultPalette));
    p->stock = true;
    return InsertObject(p);
  }();
  return h;
}

// Decodes a whole DIB into a top-down surface (used by icons and resources too).
bool DecodeDib(const BITMAPINFO *bmi, const void *bits, UINT usage, DC *dc, Surface &out) {
  DibFormat f;
  if (!bits || !ReadFormat(bmi, usage, dc, f)) return false;
  out.mono = false;
  out.Resize(static_cast<int>(f.width), static_cast<int>(f.Rows()));
  DecodeRows(f, static_cast<const BYTE *>(bits), 0, f.Rows(), out);
  return true;
}

bool DecodeDibPixels(const BITMAPINFO *bmi, const void *bits, Surface &out) {
  return DecodeDib(bmi, bits, DIB_RGB_COLORS, nullptr, out);
}

std::shared_ptr<Surface> BitmapSurface(HBITMAP bitmap) {
  auto b = LookupObject<Bitmap>(bitmap, Type::Bitmap);
  if (!b) return nullptr;
  return std::shared_ptr<Surface>(b, &b->surface);
}

}  // namespace qx::gdi

using namespace qx::gdi;
using qx::Fail;

namespace {

std::shared_ptr<Bitmap> Bm(HBITMAP h) { return LookupObject<Bitmap>(h, Type::Bitmap); }

// Device bitmap rows: monochrome rows are 16-bit aligned with 1 = white; colour rows are 32 bits per pixel.
long DdbStride(const Bitmap &b) { return b.bits_pixel == 1 ? ((b.surface.width + 15) / 16) * 2 : b.surface.width * 4L; }

void LoadDdbBits(Bitmap &b, const BYTE *bits, size_t size) {
  const long stride = DdbStride(b);
  for (int y = 0; y < b.surface.height; ++y) {
    if (static_cast<size_t>(stride) * (y + 1) > size) break;
    const BYTE *row = bits + static_cast<size_t>(y) * stride;
    for (int x = 0; x < b.surface.width; ++x) {
      if (b.bits_pixel == 1) {
        b.surface.Put(x, y, (row[x >> 3] >> (7 - (x & 7))) & 1 ? 0xFFFFFF : 0);
      } else {
        std::uint32_t v;
        std::memcpy(&v, row + 4 * x, 4);
        b.surface.Put(x, y, v & 0xFFFFFF);
      }
    }
  }
}

void StoreDdbBits(const Bitmap &b, BYTE *bits, size_t size) {
  const long stride = DdbStride(b);
  for (int y = 0; y < b.surface.height; ++y) {
    if (static_cast<size_t>(stride) * (y + 1) > size) break;
    BYTE *row = bits + static_cast<size_t>(y) * stride;
    std::memset(row, 0, stride);
    for (int x = 0; x < b.surface.width; ++x) {
      const std::uint32_t v = b.surface.Get(x, y);
      if (b.bits_pixel == 1) {
        if (v) row[x >> 3] |= static_cast<BYTE>(0x80 >> (x & 7));
      } else {
        std::memcpy(row + 4 * x, &v, 4);
      }
    }
  }
}

// Draws a DIB rectangle onto a DC through a temporary memory DC.
int DrawDib(HDC hdc, int xd, int yd, int wd, int hd, int xs, int ys, int ws, int hs, long first_scan, long scans,
            const void *bits, const BITMAPINFO *bmi, UINT usage, DWORD rop) {
  auto dc = LookupDC(hdc);
  DibFormat f;
  if (!dc || !bits || !ReadFormat(bmi, usage, dc.get(), f)) return Fail(ERROR_INVALID_PARAMETER, 0);
  const long rows = f.Rows();
  auto tmp = std::make_shared<Bitmap>();
  tmp->surface.Resize(static_cast<int>(f.width), static_cast<int>(rows));
  DecodeRows(f, static_cast<const BYTE *>(bits), first_scan, scans, tmp->surface);
  auto mem = std::make_shared<DC>();
  mem->memory = true;
  mem->bitmap_obj = tmp;
  HDC hmem = static_cast<HDC>(InsertObject(mem));
  // Source coordinates of a bottom-up DIB count from its lower-left corner.
  const int top = f.height > 0 ? static_cast<int>(rows - ys - hs) : ys;
  StretchBlt(hdc, xd, yd, wd, hd, hmem, xs, top, ws, hs, rop);
  qx::RemoveHandle(hmem);
  return static_cast<int>(scans);
}

}  // namespace

extern "C" {

HBITMAP WINAPI CreateBitmap(int w, int h, UINT planes, UINT bpp, const void *bits) {
  if (planes != 1 || (bpp != 1 && bpp != 32 && bpp != 24 && bpp != 16 && bpp != 8 && bpp != 4))
    return Fail<HBITMAP>(ERROR_INVALID_PARAMETER, nullptr);
  HBITMAP hb = NewBitmap(w, h, bpp == 1);
  if (hb && bits) {
    auto b = Bm(hb);
    if (bpp == 1 || bpp == 32) {
      LoadDdbBits(*b, static_cast<const BYTE *>(bits), static_cast<size_t>(DdbStride(*b)) * h);
    } else {
      // Other depths are taken as DIB rows of that depth, top-down, word-aligned.
      BITMAPINFO bi{};
      bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, static_cast<WORD>(bpp), BI_RGB, 0, 0, 0, 0, 0};
      DibFormat f;
      ReadFormat(&bi, DIB_RGB_COLORS, nullptr, f);
      f.colors = DefaultTable(static_cast<int>(bpp));
      DecodeRows(f, static_cast<const BYTE *>(bits), 0, h, b->surface);
    }
  }
  return hb;
}

HBITMAP WINAPI CreateBitmapIndirect(const BITMAP *bm) {
  if (!bm) return Fail<HBITMAP>(ERROR_INVALID_PARAMETER, nullptr);
  return CreateBitmap(bm->bmWidth, bm->bmHeight, bm->bmPlanes, bm->bmBitsPixel, bm->bmBits);
}

HBITMAP WINAPI CreateCompatibleBitmap(HDC hdc, int cx, int cy) {
  auto dc = LookupDC(hdc);
  if (!dc) return Fail<HBITMAP>(ERROR_INVALID_HANDLE, nullptr);
  if (cx == 0 || cy == 0) return static_cast<HBITMAP>(StockBitmap());
  return NewBitmap(cx, cy, dc->Mono());  // a memory DC with its default bitmap is monochrome
}

HBITMAP WINAPI CreateDIBSection(HDC hdc, const BITMAPINFO *bmi, UINT usage, void **bits_out, HANDLE section,
                                DWORD offset) {
  if (bits_out) *bits_out = nullptr;
  auto dc = hdc ? LookupDC(hdc) : nullptr;
  DibFormat f;
  if (section || !ReadFormat(bmi, usage, dc.get(), f)) return Fail<HBITMAP>(ERROR_INVALID_PARAMETER, nullptr);
  (void)offset;
  auto b = std::make_shared<Bitmap>();
  b->dib = true;
  b->bits_pixel = f.bpp;
  b->dib_header = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER),
                                   static_cast<LONG>(f.width),
                                   static_cast<LONG>(f.height),
                                   1,
                                   static_cast<WORD>(f.bpp),
                                   f.compression,
                                   0,
                                   0,
                                   0,
                                   static_cast<DWORD>(f.colors.size()),
                                   0};
  b->dib_size = f.stride * f.Rows();
  b->dib_header.biSizeImage = static_cast<DWORD>(b->dib_size);
  std::memcpy(b->dib_masks, f.masks, sizeof f.masks);
  b->dib_colors = f.colors;
  b->dib_bits.reset(new (std::nothrow) BYTE[b->dib_size]());
  if (!b->dib_bits) return Fail<HBITMAP>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
  b->surface.Resize(static_cast<int>(f.width), static_cast<int>(f.Rows()));
  b->SyncFromDib();
  if (bits_out) *bits_out = b->dib_bits.get();
  return static_cast<HBITMAP>(InsertObject(b));
}

HBITMAP WINAPI CreateDIBitmap(HDC hdc, const BITMAPINFOHEADER *bih, DWORD init, const void *bits, const BITMAPINFO *bmi,
                              UINT usage) {
  if (!bih) return Fail<HBITMAP>(ERROR_INVALID_PARAMETER, nullptr);
  const long w = bih->biWidth, h = bih->biHeight < 0 ? -static_cast<long>(bih->biHeight) : bih->biHeight;
  auto dc = LookupDC(hdc);
  HBITMAP hb = NewBitmap(static_cast<int>(w), static_cast<int>(h), dc && dc->Mono());
  if (hb && (init & CBM_INIT) && bits && bmi) {
    if (!SetDIBits(hdc, hb, 0, static_cast<UINT>(h), bits, bmi, usage)) {
      DeleteObject(hb);
      return nullptr;
    }
  }
  return hb;
}

int WINAPI SetDIBits(HDC hdc, HBITMAP hbm, UINT start, UINT lines, const void *bits, const BITMAPINFO *bmi,
                     UINT usage) {
  auto b = Bm(hbm);
  auto dc = hdc ? LookupDC(hdc) : nullptr;
  DibFormat f;
  if (!b || !bits || !ReadFormat(bmi, usage, dc.get(), f)) return Fail(ERROR_INVALID_PARAMETER, 0);
  if (b->dib) b->SyncFromDib();
  const long n = std::min<long>(lines, std::max<long>(0, f.Rows() - static_cast<long>(start)));
  DecodeRows(f, static_cast<const BYTE *>(bits), start, n, b->surface);
  if (b->dib) b->SyncToDib();
  return static_cast<int>(n);
}

int WINAPI GetDIBits(HDC hdc, HBITMAP hbm, UINT start, UINT lines, LPVOID bits, LPBITMAPINFO bmi, UINT usage) {
  auto b = Bm(hbm);
  if (!b || !bmi || bmi->bmiHeader.biSize < sizeof(BITMAPINFOHEADER)) return Fail(ERROR_INVALID_PARAMETER, 0);
  if (b->dib) b->SyncFromDib();
  BITMAPINFOHEADER &h = bmi->bmiHeader;
  const int w = b->surface.width, rows = b->surface.height;
  if (!bits && h.biBitCount == 0) {
    // Only the format is asked for: describe the bitmap itself.
    h.biWidth = w;
    h.biHeight = rows;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(b->dib ? b->bits_pixel : (b->bits_pixel == 1 ? 1 : 32));
    h.biCompression = BI_RGB;
    h.biSizeImage = static_cast<DWORD>(DibStride(w, h.biBitCount) * rows);
    h.biClrUsed = 0;
    return 1;
  }
  if (h.biCompression != BI_RGB && h.biCompression != BI_BITFIELDS) return Fail(ERROR_INVALID_PARAMETER, 0);
  DibFormat f;
  f.width = w;
  f.height = h.biHeight < 0 ? -rows : rows;
  f.bpp = h.biBitCount;
  if (f.bpp != 1 && f.bpp != 4 && f.bpp != 8 && f.bpp != 16 && f.bpp != 24 && f.bpp != 32)
    return Fail(ERROR_INVALID_PARAMETER, 0);
  f.stride = DibStride(w, f.bpp);
  if (f.bpp == 16) {
    f.masks[0] = 0x7C00;
    f.masks[1] = 0x03E0;
    f.masks[2] = 0x1F;
  }
  if (f.bpp == 32) {
    f.masks[0] = 0xFF0000;
    f.masks[1] = 0xFF00;
    f.masks[2] = 0xFF;
  }
  if (f.bpp <= 8) {
    f.colors = b->dib && static_cast<int>(b->dib_colors.size()) == (1 << f.bpp) ? b->dib_colors : DefaultTable(f.bpp);
    f.colors.resize(static_cast<size_t>(1) << f.bpp);
    if (usage == DIB_RGB_COLORS) std::memcpy(bmi->bmiColors, f.colors.data(), f.colors.size() * sizeof(RGBQUAD));
  }
  h.biWidth = w;
  h.biSizeImage = static_cast<DWORD>(f.stride * rows);
  if (!bits) return 1;
  const long n = std::min<long>(lines, std::max<long>(0, rows - static_cast<long>(start)));
  EncodeRows(f, b->surface, start, n, static_cast<BYTE *>(bits));
  return static_cast<int>(n);
}

LONG WINAPI GetBitmapBits(HBITMAP hbm, LONG cb, LPVOID bits) {
  auto b = Bm(hbm);
  if (!b || cb < 0) return 0;
  if (b->dib) b->SyncFromDib();
  const long total = DdbStride(*b) * b->surface.height;
  if (!bits) return static_cast<LONG>(total);
  const long n = std::min<long>(cb, total);
  std::vector<BYTE> all(static_cast<size_t>(total));
  StoreDdbBits(*b, all.data(), all.size());
  std::memcpy(bits, all.data(), static_cast<size_t>(n));
  return static_cast<LONG>(n);
}

LONG WINAPI SetBitmapBits(HBITMAP hbm, DWORD cb, const void *bits) {
  auto b = Bm(hbm);
  if (!b || !bits) return 0;
  const long total = DdbStride(*b) * b->surface.height;
  const long n = std::min<long>(static_cast<long>(cb), total);
  LoadDdbBits(*b, static_cast<const BYTE *>(bits), static_cast<size_t>(n));
  if (b->dib) b->SyncToDib();
  return static_cast<LONG>(n);
}

int WINAPI SetDIBitsToDevice(HDC hdc, int xDest, int yDest, DWORD w, DWORD h, int xSrc, int ySrc, UINT StartScan,
                             UINT cLines, const void *bits, const BITMAPINFO *bmi, UINT usage) {
  return DrawDib(hdc, xDest, yDest, static_cast<int>(w), static_cast<int>(h), xSrc, ySrc, static_cast<int>(w),
                 static_cast<int>(h), StartScan, cLines, bits, bmi, usage, SRCCOPY);
}

int WINAPI StretchDIBits(HDC hdc, int xDest, int yDest, int DestWidth, int DestHeight, int xSrc, int ySrc, int SrcWidth,
                         int SrcHeight, const void *bits, const BITMAPINFO *bmi, UINT usage, DWORD rop) {
  DibFormat f;
  if (!ReadFormat(bmi, usage, nullptr, f)) return Fail(ERROR_INVALID_PARAMETER, 0);
  const int n = DrawDib(hdc, xDest, yDest, DestWidth, DestHeight, xSrc, ySrc, SrcWidth, SrcHeight, 0, f.Rows(), bits,
                        bmi, usage, rop);
  return n ? SrcHeight : 0;
}

// ---- palettes ----

HPALETTE WINAPI CreatePalette(const LOGPALETTE *lp) {
  if (!lp || lp->palNumEntries == 0) return Fail<HPALETTE>(ERROR_INVALID_PARAMETER, nullptr);
  auto p = std::make_shared<Palette>();
  p->entries.assign(lp->palPalEntry, lp->palPalEntry + lp->palNumEntries);
  return static_cast<HPALETTE>(InsertObject(p));
}

HPALETTE WINAPI SelectPalette(HDC hdc, HPALETTE hpal, BOOL) {
  auto dc = LookupDC(hdc);
  auto p = LookupObject<Palette>(hpal, Type::Palette);
  if (!dc || !p) return Fail<HPALETTE>(ERROR_INVALID_HANDLE, nullptr);
  HPALETTE old = static_cast<HPALETTE>(dc->st.palette);
  dc->st.palette = hpal;
  dc->st.palette_obj = p;
  return old;
}

// The display has true colour, so a palette maps indices to colours and needs no hardware entries.
UINT WINAPI RealizePalette(HDC hdc) {
  auto dc = LookupDC(hdc);
  if (!dc) return GDI_ERROR;
  return dc->st.palette_obj && !dc->st.palette_obj->stock ? static_cast<UINT>(dc->st.palette_obj->entries.size()) : 0;
}

// Redrawing a window's pixels for a changed system palette: on a true-colour
// display every pixel keeps its colour, so there is nothing to redo.
BOOL WINAPI UpdateColors(HDC hdc) { return LookupDC(hdc) ? TRUE : FALSE; }

UINT WINAPI GetNearestPaletteIndex(HPALETTE hpal, COLORREF c) {
  auto p = LookupObject<Palette>(hpal, Type::Palette);
  if (!p || p->entries.empty()) return CLR_INVALID;
  std::vector<RGBQUAD> t;
  for (const PALETTEENTRY &e : p->entries) t.push_back(RGBQUAD{e.peBlue, e.peGreen, e.peRed, 0});
  return static_cast<UINT>(Nearest(t, PixelFromColorref(c)));
}

UINT WINAPI GetPaletteEntries(HPALETTE hpal, UINT start, UINT n, LPPALETTEENTRY out) {
  auto p = LookupObject<Palette>(hpal, Type::Palette);
  if (!p) return 0;
  if (!out) return static_cast<UINT>(p->entries.size());
  UINT i = 0;
  for (; i < n && start + i < p->entries.size(); ++i) out[i] = p->entries[start + i];
  return i;
}

UINT WINAPI SetPaletteEntries(HPALETTE hpal, UINT start, UINT n, const PALETTEENTRY *in) {
  auto p = LookupObject<Palette>(hpal, Type::Palette);
  if (!p || !in || p->stock) return 0;
  UINT i = 0;
  for (; i < n && start + i < p->entries.size(); ++i) p->entries[start + i] = in[i];
  return i;
}

COLORREF WINAPI GetNearestColor(HDC hdc, COLORREF c) {
  auto dc = LookupDC(hdc);
  if (!dc) return CLR_INVALID;
  const COLORREF rgb = ResolveColor(*dc, c);
  if (dc->Mono()) return ColorrefFromPixel(Surface::ToMono(PixelFromColorref(rgb)));
  return rgb;
}

UINT WINAPI GetSystemPaletteEntries(HDC, UINT start, UINT n, LPPALETTEENTRY out) {
  if (!out) return 20;
  UINT i = 0;
  for (; i < n && start + i < 20; ++i) out[i] = kDefaultPalette[start + i];
  return i;
}

// ---- GetObject for every kind ----

int WINAPI GetObjectA(HANDLE h, int c, LPVOID pv) {
  auto o = qx::Lookup<Object>(h, qx::ObjectKind::Gdi);
  if (!o) return Fail(ERROR_INVALID_HANDLE, 0);
  auto give = [&](const void *data, int size) {
    if (!pv) return size;
    const int n = std::min(c, size);
    if (n <= 0) return 0;
    std::memcpy(pv, data, static_cast<size_t>(n));
    return n;
  };
  switch (o->type) {
    case Type::Pen: return give(&static_cast<Pen &>(*o).log, sizeof(LOGPEN));
    case Type::Brush: {
      const Brush &b = static_cast<Brush &>(*o);
      LOGBRUSH lb = b.log;
      if (b.sys_color >= 0) lb.lbColor = GetSysColor(b.sys_color);
      return give(&lb, sizeof lb);
    }
    case Type::Palette: {
      const WORD n = static_cast<WORD>(static_cast<Palette &>(*o).entries.size());
      return give(&n, sizeof n);
    }
    case Type::Font: {
      LOGFONTA lf;
      FontLog(static_cast<const Font &>(*o), lf);
      return give(&lf, sizeof lf);
    }
    case Type::Bitmap: {
      Bitmap &b = static_cast<Bitmap &>(*o);
      if (b.dib && c >= static_cast<int>(sizeof(DIBSECTION))) {
        DIBSECTION ds{};
        ds.dsBm = BITMAP{0,
                         b.surface.width,
                         b.surface.height,
                         static_cast<LONG>(DibStride(b.surface.width, b.bits_pixel)),
                         1,
                         static_cast<WORD>(b.bits_pixel),
                         b.dib_bits.get()};
        ds.dsBmih = b.dib_header;
        std::memcpy(ds.dsBitfields, b.dib_masks, sizeof ds.dsBitfields);
        return give(&ds, sizeof ds);
      }
      BITMAP bm{0,
                b.surface.width,
                b.surface.height,
                b.dib ? static_cast<LONG>(DibStride(b.surface.width, b.bits_pixel)) : static_cast<LONG>(DdbStride(b)),
                1,
                static_cast<WORD>(b.bits_pixel),
                b.dib ? b.dib_bits.get() : nullptr};
      return give(&bm, sizeof bm);
    }
    default: return Fail(ERROR_INVALID_HANDLE, 0);
  }
}

}  // extern "C"
