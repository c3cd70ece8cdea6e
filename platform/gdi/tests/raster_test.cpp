// Raster operations, monochrome colour rules, regions, mapping modes, DIBs and
// palettes, checked pixel by pixel through the public calls.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "gdi_internal.h"
#include "qxtest/drawing.h"

using qx::test::Canvas;

namespace {

struct RopCase {
  const char *name;
  DWORD rop;
  COLORREF pattern, source, dest, expected;
};

// Colours chosen so each of the eight (P, S, D) bit combinations occurs in some bit.
constexpr COLORREF P = RGB(0xF0, 0xF0, 0xF0);
constexpr COLORREF S = RGB(0xCC, 0xCC, 0xCC);
constexpr COLORREF D = RGB(0xAA, 0xAA, 0xAA);
COLORREF Grey(BYTE v) { return RGB(v, v, v); }

const RopCase kRops[] = {
    {"SRCCOPY", SRCCOPY, P, S, D, Grey(0xCC)},
    {"SRCINVERT", SRCINVERT, P, S, D, Grey(0xCC ^ 0xAA)},
    {"SRCAND", SRCAND, P, S, D, Grey(0xCC & 0xAA)},
    {"SRCPAINT", SRCPAINT, P, S, D, Grey(0xCC | 0xAA)},
    {"SRCERASE", SRCERASE, P, S, D, Grey(0xCC & static_cast<BYTE>(~0xAA))},
    {"NOTSRCCOPY", NOTSRCCOPY, P, S, D, Grey(static_cast<BYTE>(~0xCC))},
    {"MERGECOPY", MERGECOPY, P, S, D, Grey(0xF0 & 0xCC)},
    {"MERGEPAINT", MERGEPAINT, P, S, D, Grey(static_cast<BYTE>(~0xCC) | 0xAA)},
    {"PATCOPY", PATCOPY, P, S, D, Grey(0xF0)},
    {"PATINVERT", PATINVERT, P, S, D, Grey(0xF0 ^ 0xAA)},
    {"DSTINVERT", DSTINVERT, P, S, D, Grey(static_cast<BYTE>(~0xAA))},
    {"BLACKNESS", BLACKNESS, P, S, D, Grey(0)},
    {"WHITENESS", WHITENESS, P, S, D, Grey(0xFF)},
    // The transparent-bitmap operation: the pattern where the source is 1, else the destination.
    {"0x00E20746", 0x00E20746, P, S, D, Grey((0xCC & 0xF0) | (static_cast<BYTE>(~0xCC) & 0xAA))},
};

TEST(GdiRaster, TernaryRopsOnEveryBitCombination) {
  for (const RopCase &c : kRops) {
    SCOPED_TRACE(c.name);
    Canvas dst(2, 2), src(2, 2);
    SetPixel(dst.dc(), 1, 1, c.dest);
    SetPixel(src.dc(), 0, 0, c.source);
    HBRUSH brush = CreateSolidBrush(c.pattern);
    HGDIOBJ old = SelectObject(dst.dc(), brush);
    ASSERT_TRUE(BitBlt(dst.dc(), 1, 1, 1, 1, src.dc(), 0, 0, c.rop));
    EXPECT_EQ(GetPixel(dst.dc(), 1, 1), c.expected);
    SelectObject(dst.dc(), old);
    DeleteObject(brush);
  }
}

// Area fills with a solid brush (the list and window backgrounds) through
// every kind of pattern operation, a system-colour brush among them: only the
// clipped rectangle changes, each of its pixels as the operation says, and a
// monochrome bitmap gets black or white.
TEST(GdiRaster, SolidFillsKeepTheClipAndTheOperation) {
  struct Case {
    const char *name;
    DWORD rop;
    bool systemColour;
    COLORREF expected;
  } cases[] = {
      {"PATCOPY", PATCOPY, false, Grey(0xF0)},
      {"PATINVERT", PATINVERT, false, Grey(0xF0 ^ 0xAA)},
      {"PATAND (DPa)", 0x00A000C9, false, Grey(0xF0 & 0xAA)},
      {"DPo", 0x00FA0089, false, Grey(0xF0 | 0xAA)},
      {"DSTINVERT", DSTINVERT, false, Grey(0x55)},
      {"BLACKNESS", BLACKNESS, false, Grey(0)},
      {"PATCOPY of COLOR_BTNFACE", PATCOPY, true, GetSysColor(COLOR_BTNFACE)},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Canvas cv(7, 5);
    RECT all{0, 0, 7, 5};
    HBRUSH bg = CreateSolidBrush(D);
    FillRect(cv.dc(), &all, bg);
    DeleteObject(bg);
    HRGN clip = CreateRectRgn(1, 1, 5, 4);
    SelectClipRgn(cv.dc(), clip);
    DeleteObject(clip);
    HBRUSH brush = c.systemColour ? GetSysColorBrush(COLOR_BTNFACE) : CreateSolidBrush(P);
    HGDIOBJ old = SelectObject(cv.dc(), brush);
    ASSERT_TRUE(PatBlt(cv.dc(), 0, 0, 7, 5, c.rop));
    SelectClipRgn(cv.dc(), nullptr);  // pixels outside the clip read back too
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 7; ++x) {
        const bool inside = x >= 1 && x < 5 && y >= 1 && y < 4;
        ASSERT_EQ(GetPixel(cv.dc(), x, y), inside ? c.expected : D) << "pixel " << x << "," << y;
      }
    SelectObject(cv.dc(), old);
    if (!c.systemColour) DeleteObject(brush);
  }
  HDC mono = CreateCompatibleDC(nullptr);
  HBITMAP bits = CreateBitmap(9, 3, 1, 1, nullptr);
  HGDIOBJ oldBits = SelectObject(mono, bits);
  RECT left{0, 0, 4, 3}, right{4, 0, 9, 3};
  HBRUSH light = CreateSolidBrush(Grey(0xF0)), dark = CreateSolidBrush(Grey(0x20));
  FillRect(mono, &left, light);
  FillRect(mono, &right, dark);
  for (int x = 0; x < 9; ++x) EXPECT_EQ(GetPixel(mono, x, 2), x < 4 ? Grey(0xFF) : Grey(0)) << "mono pixel " << x;
  DeleteObject(light);
  DeleteObject(dark);
  SelectObject(mono, oldBits);
  DeleteObject(bits);
  DeleteDC(mono);
}

TEST(GdiRaster, Rop2OnLines) {
  struct Case {
    int rop2;
    COLORREF expected;
  } cases[] = {
      {R2_COPYPEN, Grey(0xF0)},    {R2_XORPEN, Grey(0xF0 ^ 0xAA)},
      {R2_NOT, Grey(0x55)},        {R2_MASKPEN, Grey(0xF0 & 0xAA)},
      {R2_MERGEPEN, Grey(0xFA)},   {R2_NOP, Grey(0xAA)},
      {R2_BLACK, Grey(0)},         {R2_WHITE, Grey(0xFF)},
      {R2_NOTCOPYPEN, Grey(0x0F)},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.rop2);
    Canvas cv(8, 3);
    RECT all{0, 0, 8, 3};
    HBRUSH bg = CreateSolidBrush(D);
    FillRect(cv.dc(), &all, bg);
    DeleteObject(bg);
    HPEN pen = CreatePen(PS_SOLID, 1, P);
    HGDIOBJ old = SelectObject(cv.dc(), pen);
    SetROP2(cv.dc(), c.rop2);
    MoveToEx(cv.dc(), 1, 1, nullptr);
    LineTo(cv.dc(), 6, 1);
    EXPECT_EQ(GetPixel(cv.dc(), 1, 1), c.expected);
    EXPECT_EQ(GetPixel(cv.dc(), 5, 1), c.expected);
    EXPECT_EQ(GetPixel(cv.dc(), 6, 1), D) << "the end point is not drawn";
    SelectObject(cv.dc(), old);
    DeleteObject(pen);
  }
}

TEST(GdiRaster, MonochromeToColourTakesTextAndBackgroundColours) {
  // 2x1 monochrome bitmap: bit 1 (white) then 0 (black).
  const BYTE bits[] = {0x80, 0x00};
  HBITMAP mono = CreateBitmap(2, 1, 1, 1, bits);
  HDC mdc = CreateCompatibleDC(nullptr);
  SelectObject(mdc, mono);
  Canvas dst(2, 1);
  SetTextColor(dst.dc(), RGB(255, 0, 0));
  SetBkColor(dst.dc(), RGB(0, 255, 0));
  BitBlt(dst.dc(), 0, 0, 2, 1, mdc, 0, 0, SRCCOPY);
  EXPECT_EQ(GetPixel(dst.dc(), 0, 0), RGB(0, 255, 0)) << "white bits take the background colour";
  EXPECT_EQ(GetPixel(dst.dc(), 1, 0), RGB(255, 0, 0)) << "black bits take the text colour";
  DeleteDC(mdc);
  DeleteObject(mono);
}

TEST(GdiRaster, ColourToMonochromeUsesTheSourceBackgroundColour) {
  Canvas src(3, 1);
  SetPixel(src.dc(), 0, 0, RGB(0, 0, 255));
  SetPixel(src.dc(), 1, 0, RGB(0, 0, 254));
  SetPixel(src.dc(), 2, 0, RGB(255, 255, 255));
  SetBkColor(src.dc(), RGB(0, 0, 255));
  HDC mdc = CreateCompatibleDC(nullptr);
  HBITMAP mono = CreateCompatibleBitmap(mdc, 3, 1);  // a fresh memory DC is monochrome
  BITMAP info{};
  GetObjectA(mono, sizeof info, &info);
  EXPECT_EQ(info.bmBitsPixel, 1);
  SelectObject(mdc, mono);
  BitBlt(mdc, 0, 0, 3, 1, src.dc(), 0, 0, SRCCOPY);
  EXPECT_EQ(GetPixel(mdc, 0, 0), RGB(255, 255, 255)) << "the background colour becomes white";
  EXPECT_EQ(GetPixel(mdc, 1, 0), RGB(0, 0, 0)) << "a near colour is still not the background";
  EXPECT_EQ(GetPixel(mdc, 2, 0), RGB(0, 0, 0)) << "white that is not the background becomes black";
  DeleteDC(mdc);
  DeleteObject(mono);
}

TEST(GdiRaster, StretchBltMirrorsOnNegativeExtent) {
  Canvas src(2, 1), dst(4, 1);
  SetPixel(src.dc(), 0, 0, RGB(255, 0, 0));
  SetPixel(src.dc(), 1, 0, RGB(0, 0, 255));
  StretchBlt(dst.dc(), 0, 0, 4, 1, src.dc(), 0, 0, 2, 1, SRCCOPY);
  EXPECT_EQ(GetPixel(dst.dc(), 0, 0), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(dst.dc(), 1, 0), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(dst.dc(), 3, 0), RGB(0, 0, 255));
  StretchBlt(dst.dc(), 4, 0, -4, 1, src.dc(), 0, 0, 2, 1, SRCCOPY);
  EXPECT_EQ(GetPixel(dst.dc(), 0, 0), RGB(0, 0, 255));
  EXPECT_EQ(GetPixel(dst.dc(), 3, 0), RGB(255, 0, 0));
}

TEST(GdiRaster, OverlappingBlitOnOneSurface) {
  Canvas cv(6, 1);
  for (int x = 0; x < 6; ++x) SetPixel(cv.dc(), x, 0, RGB(x * 40, 0, 0));
  BitBlt(cv.dc(), 1, 0, 5, 1, cv.dc(), 0, 0, SRCCOPY);
  for (int x = 1; x < 6; ++x) EXPECT_EQ(GetPixel(cv.dc(), x, 0), RGB((x - 1) * 40, 0, 0)) << x;
}

struct RgnCase {
  int mode;
  int kind;
  bool at_a_only, at_both, at_b_only, outside;
};

TEST(GdiRegion, CombineModes) {
  const RgnCase cases[] = {
      {RGN_AND, SIMPLEREGION, false, true, false, false},
      {RGN_OR, COMPLEXREGION, true, true, true, false},
      {RGN_XOR, COMPLEXREGION, true, false, true, false},
      {RGN_DIFF, COMPLEXREGION, true, false, false, false},
  };
  for (const RgnCase &c : cases) {
    SCOPED_TRACE(c.mode);
    HRGN a = CreateRectRgn(0, 0, 10, 10), b = CreateRectRgn(5, 5, 15, 15), d = CreateRectRgn(0, 0, 0, 0);
    EXPECT_EQ(CombineRgn(d, a, b, c.mode), c.kind);
    EXPECT_EQ(PtInRegion(d, 2, 2), c.at_a_only);
    EXPECT_EQ(PtInRegion(d, 7, 7), c.at_both);
    EXPECT_EQ(PtInRegion(d, 12, 12), c.at_b_only);
    EXPECT_EQ(PtInRegion(d, 20, 20), c.outside);
    EXPECT_FALSE(PtInRegion(d, 10, 2)) << "right edges are outside";
    DeleteObject(a);
    DeleteObject(b);
    DeleteObject(d);
  }
}

TEST(GdiRegion, EmptyAndBoxes) {
  HRGN a = CreateRectRgn(0, 0, 10, 10), b = CreateRectRgn(20, 0, 30, 10), d = CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(CombineRgn(d, a, b, RGN_AND), NULLREGION);
  EXPECT_EQ(CombineRgn(d, a, b, RGN_OR), COMPLEXREGION);
  RECT box;
  GetRgnBox(d, &box);
  EXPECT_EQ(box.left, 0);
  EXPECT_EQ(box.right, 30);
  EXPECT_EQ(OffsetRgn(d, 5, 5), COMPLEXREGION);
  EXPECT_TRUE(PtInRegion(d, 5, 5));
  EXPECT_FALSE(PtInRegion(d, 4, 5));
  HRGN e = CreateRectRgn(5, 5, 35, 15);
  EXPECT_FALSE(EqualRgn(d, e));
  CombineRgn(d, d, e, RGN_OR);
  EXPECT_TRUE(EqualRgn(d, e));
  EXPECT_EQ(CombineRgn(d, nullptr, e, RGN_OR), ERROR);
  DeleteObject(a);
  DeleteObject(b);
  DeleteObject(d);
  DeleteObject(e);
}

TEST(GdiClip, FillsStayInsideTheClip) {
  Canvas cv(10, 10);
  IntersectClipRect(cv.dc(), 2, 2, 5, 5);
  ExcludeClipRect(cv.dc(), 3, 3, 4, 4);
  RECT all{0, 0, 10, 10};
  FillRect(cv.dc(), &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  SelectClipRgn(cv.dc(), nullptr);
  EXPECT_EQ(GetPixel(cv.dc(), 2, 2), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(cv.dc(), 4, 4), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(cv.dc(), 3, 3), RGB(255, 255, 255)) << "excluded";
  EXPECT_EQ(GetPixel(cv.dc(), 5, 5), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(cv.dc(), 1, 1), RGB(255, 255, 255));
}

TEST(GdiMapping, AnisotropicCellsAsTheTerminalUsesThem) {
  Canvas cv(100, 200);
  SetMapMode(cv.dc(), MM_ANISOTROPIC);
  SetWindowExtEx(cv.dc(), 1, 1, nullptr);
  SetViewportExtEx(cv.dc(), 8, 14, nullptr);
  SetViewportOrgEx(cv.dc(), 0, 30, nullptr);
  POINT p{3, 2};
  LPtoDP(cv.dc(), &p, 1);
  EXPECT_EQ(p.x, 24);
  EXPECT_EQ(p.y, 58);
  DPtoLP(cv.dc(), &p, 1);
  EXPECT_EQ(p.x, 3);
  EXPECT_EQ(p.y, 2);
  RECT cell{1, 1, 2, 2};
  FillRect(cv.dc(), &cell, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  SetMapMode(cv.dc(), MM_TEXT);
  SetViewportOrgEx(cv.dc(), 0, 0, nullptr);
  EXPECT_EQ(GetPixel(cv.dc(), 8, 44), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(cv.dc(), 15, 57), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(cv.dc(), 16, 44), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(cv.dc(), 8, 58), RGB(255, 255, 255));
}

TEST(GdiDc, SaveAndRestoreState) {
  Canvas cv(4, 4);
  SetTextColor(cv.dc(), RGB(1, 2, 3));
  const int level = SaveDC(cv.dc());
  EXPECT_EQ(level, 1);
  SetTextColor(cv.dc(), RGB(4, 5, 6));
  SaveDC(cv.dc());
  SetTextColor(cv.dc(), RGB(7, 8, 9));
  EXPECT_TRUE(RestoreDC(cv.dc(), -1));
  EXPECT_EQ(GetTextColor(cv.dc()), RGB(4, 5, 6));
  EXPECT_TRUE(RestoreDC(cv.dc(), 1));
  EXPECT_EQ(GetTextColor(cv.dc()), RGB(1, 2, 3));
  EXPECT_FALSE(RestoreDC(cv.dc(), 1)) << "nothing saved any more";
}

TEST(GdiDc, ObjectLifetimes) {
  EXPECT_TRUE(DeleteObject(GetStockObject(BLACK_BRUSH))) << "stock objects ignore deletion";
  EXPECT_EQ(GetObjectType(GetStockObject(BLACK_BRUSH)), static_cast<DWORD>(OBJ_BRUSH));
  Canvas cv(2, 2);
  EXPECT_FALSE(DeleteObject(cv.bitmap())) << "a selected bitmap cannot be deleted";
  HBRUSH b = CreateSolidBrush(RGB(1, 2, 3));
  SelectObject(cv.dc(), b);
  EXPECT_TRUE(DeleteObject(b));
  EXPECT_FALSE(DeleteObject(b)) << "a second delete fails cleanly";
  EXPECT_TRUE(PatBlt(cv.dc(), 0, 0, 2, 2, PATCOPY)) << "the DC still holds its brush";
  EXPECT_EQ(GetPixel(cv.dc(), 1, 1), RGB(1, 2, 3));
  SelectObject(cv.dc(), GetStockObject(WHITE_BRUSH));
  EXPECT_EQ(GetObjectType(reinterpret_cast<HGDIOBJ>(0x12345)), 0u);
}

BITMAPINFO *Info8(std::vector<BYTE> &storage, int w, int h, const std::vector<RGBQUAD> &colors) {
  storage.assign(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD), 0);
  auto *bi = reinterpret_cast<BITMAPINFO *>(storage.data());
  bi->bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 8, BI_RGB, 0, 0, 0, static_cast<DWORD>(colors.size()), 0};
  std::memcpy(bi->bmiColors, colors.data(), colors.size() * sizeof(RGBQUAD));
  return bi;
}

TEST(GdiDib, SectionBitsAndDrawingStayInStep) {
  std::vector<BYTE> storage;
  const std::vector<RGBQUAD> colors = {{0, 0, 0, 0}, {0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}};
  BITMAPINFO *bi = Info8(storage, 4, 2, colors);  // bottom-up
  void *bits = nullptr;
  HBITMAP dib = CreateDIBSection(nullptr, bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(dib, nullptr);
  ASSERT_NE(bits, nullptr);
  auto *b = static_cast<BYTE *>(bits);
  b[0] = 1;  // bottom row, x 0: red
  b[4] = 3;  // top row (stride 4), x 0: blue
  HDC mdc = CreateCompatibleDC(nullptr);
  SelectObject(mdc, dib);
  EXPECT_EQ(GetPixel(mdc, 0, 1), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(mdc, 0, 0), RGB(0, 0, 255));
  SetPixel(mdc, 3, 0, RGB(0, 250, 0));  // nearest table entry: green, index 2
  EXPECT_EQ(b[4 + 3], 2);
  DIBSECTION ds{};
  EXPECT_EQ(GetObjectA(dib, sizeof ds, &ds), static_cast<int>(sizeof ds));
  EXPECT_EQ(ds.dsBm.bmBitsPixel, 8);
  EXPECT_EQ(ds.dsBm.bmWidthBytes, 4);
  EXPECT_EQ(ds.dsBmih.biClrUsed, 4u);
  DeleteDC(mdc);
  DeleteObject(dib);
}

TEST(GdiDib, GetAndSetDIBitsRoundTrip) {
  Canvas cv(3, 2);
  SetPixel(cv.dc(), 0, 0, RGB(10, 20, 30));
  SetPixel(cv.dc(), 2, 1, RGB(40, 50, 60));
  SelectObject(cv.dc(), GetStockObject(WHITE_BRUSH));
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  ASSERT_EQ(GetDIBits(cv.dc(), cv.bitmap(), 0, 2, nullptr, &bi, DIB_RGB_COLORS), 1);
  EXPECT_EQ(bi.bmiHeader.biWidth, 3);
  EXPECT_EQ(bi.bmiHeader.biHeight, 2);
  bi.bmiHeader.biBitCount = 24;
  bi.bmiHeader.biCompression = BI_RGB;
  std::vector<BYTE> rows(2 * 12);
  // A selected bitmap is still readable.
  ASSERT_EQ(GetDIBits(cv.dc(), cv.bitmap(), 0, 2, rows.data(), &bi, DIB_RGB_COLORS), 2);
  // Bottom-up: the first row is the bottom one.
  EXPECT_EQ(rows[6], 60);
  EXPECT_EQ(rows[7], 50);
  EXPECT_EQ(rows[8], 40);
  EXPECT_EQ(rows[12], 30);
  EXPECT_EQ(rows[13], 20);
  EXPECT_EQ(rows[14], 10);
  rows[12] = 0;
  rows[13] = 0;
  rows[14] = 255;
  HBITMAP other = CreateBitmap(3, 2, 1, 32, nullptr);
  EXPECT_EQ(SetDIBits(cv.dc(), other, 0, 2, rows.data(), &bi, DIB_RGB_COLORS), 2);
  HDC mdc = CreateCompatibleDC(nullptr);
  SelectObject(mdc, other);
  EXPECT_EQ(GetPixel(mdc, 0, 0), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(mdc, 2, 1), RGB(40, 50, 60));
  DeleteDC(mdc);
  DeleteObject(other);
}

TEST(GdiDib, MalformedHeadersAreRefused) {
  struct Case {
    const char *name;
    LONG w, h;
    WORD bpp;
    DWORD compression;
  } cases[] = {
      {"odd depth", 4, 4, 7, BI_RGB},       {"zero width", 0, 4, 8, BI_RGB},
      {"huge", 40000, 40000, 32, BI_RGB},   {"bitfields on 8 bits", 4, 4, 8, BI_BITFIELDS},
      {"unknown compression", 4, 4, 8, 99},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), c.w, c.h, 1, c.bpp, c.compression, 0, 0, 0, 0, 0};
    void *bits = reinterpret_cast<void *>(1);
    EXPECT_EQ(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
    EXPECT_EQ(bits, nullptr);
    BYTE pixels[64] = {};
    Canvas cv(4, 4);
    EXPECT_EQ(StretchDIBits(cv.dc(), 0, 0, 4, 4, 0, 0, 4, 4, pixels, &bi, DIB_RGB_COLORS, SRCCOPY), 0);
  }
  EXPECT_EQ(CreateBitmap(-1, 5, 1, 32, nullptr), nullptr);
  EXPECT_EQ(CreateBitmap(5, 5, 2, 32, nullptr), nullptr);
}

TEST(GdiPalette, IndexToColourTable) {
  std::vector<BYTE> storage(sizeof(LOGPALETTE) + 3 * sizeof(PALETTEENTRY));
  auto *lp = reinterpret_cast<LOGPALETTE *>(storage.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = 3;
  lp->palPalEntry[0] = {255, 0, 0, 0};
  lp->palPalEntry[1] = {0, 255, 0, 0};
  lp->palPalEntry[2] = {10, 10, 10, 0};
  HPALETTE pal = CreatePalette(lp);
  ASSERT_NE(pal, nullptr);
  EXPECT_EQ(GetNearestPaletteIndex(pal, RGB(250, 5, 5)), 0u);
  EXPECT_EQ(GetNearestPaletteIndex(pal, RGB(0, 0, 0)), 2u);
  Canvas cv(2, 1);
  HPALETTE old = SelectPalette(cv.dc(), pal, FALSE);
  EXPECT_NE(old, nullptr);
  EXPECT_EQ(RealizePalette(cv.dc()), 3u);
  SetPixel(cv.dc(), 0, 0, PALETTEINDEX(1));
  EXPECT_EQ(GetPixel(cv.dc(), 0, 0), RGB(0, 255, 0));
  // DIB_PAL_COLORS: the colour table holds indices into the selected palette.
  std::vector<BYTE> bis(sizeof(BITMAPINFOHEADER) + 2 * sizeof(WORD));
  auto *bi = reinterpret_cast<BITMAPINFO *>(bis.data());
  bi->bmiHeader = {sizeof(BITMAPINFOHEADER), 2, 1, 1, 8, BI_RGB, 0, 0, 0, 2, 0};
  WORD *idx = reinterpret_cast<WORD *>(bis.data() + sizeof(BITMAPINFOHEADER));
  idx[0] = 2;
  idx[1] = 0;
  const BYTE row[4] = {1, 0, 0, 0};
  EXPECT_EQ(SetDIBitsToDevice(cv.dc(), 0, 0, 2, 1, 0, 0, 0, 1, row, bi, DIB_PAL_COLORS), 1);
  EXPECT_EQ(GetPixel(cv.dc(), 0, 0), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(cv.dc(), 1, 0), RGB(10, 10, 10));
  SelectPalette(cv.dc(), old, FALSE);
  DeleteObject(pal);
}

TEST(GdiShapes, RectangleExcludesRightAndBottomEdges) {
  Canvas cv(10, 10);
  SelectObject(cv.dc(), GetStockObject(BLACK_BRUSH));
  Rectangle(cv.dc(), 2, 2, 6, 6);
  EXPECT_EQ(GetPixel(cv.dc(), 2, 2), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(cv.dc(), 5, 5), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(cv.dc(), 6, 6), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(cv.dc(), 6, 3), RGB(255, 255, 255));
  RECT r{0, 0, 10, 10};
  FrameRect(cv.dc(), &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  EXPECT_EQ(GetPixel(cv.dc(), 9, 9), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(cv.dc(), 1, 1), RGB(255, 255, 255));
  InvertRect(cv.dc(), &r);
  EXPECT_EQ(GetPixel(cv.dc(), 1, 1), RGB(0, 0, 0));
  // A system colour index plus one names that colour's brush.
  RECT one{0, 0, 1, 1};
  FillRect(cv.dc(), &one, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
  EXPECT_EQ(GetPixel(cv.dc(), 0, 0), GetSysColor(COLOR_BTNFACE));
}

// Pie goes counterclockwise from the first radial to the second, as the
// transfer dialog's progress pie draws its slices (pen and brush from a
// palette); one point given twice is the whole ellipse. UpdateColors has
// nothing to redo on a true-colour display.
TEST(GdiShapes, PieSectorsAndUpdateColors) {
  Canvas cv(41, 41);
  HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
  HGDIOBJ old_brush = SelectObject(cv.dc(), red);
  HGDIOBJ old_pen = SelectObject(cv.dc(), GetStockObject(NULL_PEN));
  ASSERT_TRUE(Pie(cv.dc(), 0, 0, 41, 41, 40, 20, 20, 0));  // 3 o'clock to 12 o'clock: the upper right quarter
  const struct {
    int x, y;
    bool filled;
  } quarter[] = {{30, 10, true}, {22, 17, true}, {10, 10, false}, {30, 30, false}, {10, 30, false}, {2, 2, false}};
  for (const auto &p : quarter)
    EXPECT_EQ(GetPixel(cv.dc(), p.x, p.y), p.filled ? RGB(255, 0, 0) : RGB(255, 255, 255)) << p.x << "," << p.y;
  // The other way round: three quarters.
  Canvas all(41, 41);
  SelectObject(all.dc(), red);
  SelectObject(all.dc(), GetStockObject(NULL_PEN));
  ASSERT_TRUE(Pie(all.dc(), 0, 0, 41, 41, 20, 0, 40, 20));
  EXPECT_EQ(GetPixel(all.dc(), 30, 10), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(all.dc(), 10, 10), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(all.dc(), 30, 30), RGB(255, 0, 0));
  Canvas whole(41, 41);
  SelectObject(whole.dc(), red);
  SelectObject(whole.dc(), GetStockObject(NULL_PEN));
  ASSERT_TRUE(Pie(whole.dc(), 0, 0, 41, 41, 40, 20, 40, 20));
  for (POINT p : {POINT{30, 10}, POINT{10, 10}, POINT{10, 30}, POINT{30, 30}})
    EXPECT_EQ(GetPixel(whole.dc(), p.x, p.y), RGB(255, 0, 0)) << p.x << "," << p.y;
  EXPECT_TRUE(UpdateColors(cv.dc()));
  EXPECT_FALSE(UpdateColors(nullptr));
  SelectObject(cv.dc(), old_brush);
  SelectObject(cv.dc(), old_pen);
  DeleteObject(red);
}

TEST(GdiScroll, ScrollDCMovesPixelsAndReportsTheUncoveredStrip) {
  Canvas cv(10, 10);
  for (int y = 0; y < 10; ++y) SetPixel(cv.dc(), 0, y, RGB(y * 20, 0, 0));
  RECT all{0, 0, 10, 10}, update{};
  HRGN rgn = CreateRectRgn(0, 0, 0, 0);
  ASSERT_TRUE(ScrollDC(cv.dc(), 0, -3, &all, &all, rgn, &update));
  for (int y = 0; y < 7; ++y) EXPECT_EQ(GetPixel(cv.dc(), 0, y), RGB((y + 3) * 20, 0, 0)) << y;
  EXPECT_EQ(update.top, 7);
  EXPECT_EQ(update.bottom, 10);
  EXPECT_EQ(update.left, 0);
  EXPECT_EQ(update.right, 10);
  EXPECT_TRUE(PtInRegion(rgn, 5, 8));
  EXPECT_FALSE(PtInRegion(rgn, 5, 6));
  DeleteObject(rgn);
}

}  // namespace
