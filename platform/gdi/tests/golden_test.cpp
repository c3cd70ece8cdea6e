// Drawing cases compared with golden PNG files (platform/gdi/tests/golden/):
// text in two fonts with their metrics, a transparent blit through a mask with
// 0x00E20746, an 8-bit DIB with its colour table stretched, a scrolled area.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "gdi_internal.h"
#include "qxtest/drawing.h"

using qx::test::Canvas;
using qx::test::CompareGolden;

namespace {

void Line(HDC dc, int x1, int y1, int x2, int y2) {
  MoveToEx(dc, x1, y1, nullptr);
  LineTo(dc, x2, y2);
}

// Draws a sample line of a font with its ascent and height marked in colour.
int SampleFont(HDC dc, HFONT f, int y, const char *label) {
  HGDIOBJ old = SelectObject(dc, f);
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  SIZE s{};
  GetTextExtentPoint32A(dc, label, static_cast<int>(std::strlen(label)), &s);
  HPEN red = CreatePen(PS_SOLID, 1, RGB(255, 0, 0)), blue = CreatePen(PS_SOLID, 1, RGB(0, 0, 255));
  HGDIOBJ old_pen = SelectObject(dc, red);
  Line(dc, 4, y + tm.tmAscent, 8 + s.cx, y + tm.tmAscent);  // baseline
  SelectObject(dc, blue);
  Line(dc, 4, y + tm.tmHeight, 8 + s.cx, y + tm.tmHeight);  // bottom of the cell
  Line(dc, 6 + s.cx, y, 6 + s.cx, y + tm.tmHeight);         // right end of the extent
  SelectObject(dc, old_pen);
  DeleteObject(red);
  DeleteObject(blue);
  SetBkMode(dc, TRANSPARENT);
  TextOutA(dc, 6, y, label, static_cast<int>(std::strlen(label)));
  SelectObject(dc, old);
  return tm.tmHeight + tm.tmExternalLeading;
}

TEST(GdiGolden, TextInTwoFontsWithMetrics) {
  Canvas cv(320, 90);
  AddFontResourceA("QXFONT.FON");
  HFONT sans =
      CreateFontA(-13, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, VARIABLE_PITCH | FF_SWISS, "MS Sans Serif");
  HFONT cell = CreateFontA(0, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, FIXED_PITCH | FF_MODERN, "DEC-8x14");
  int y = 6;
  y += SampleFont(cv.dc(), sans, y, "MS Sans Serif: The quick brown fox") + 8;
  y += SampleFont(cv.dc(), cell, y,
                  "DEC-8x14: \xC9\xCD\xBB"
                  " lines \xB3"
                  " box \xDB") +
       8;
  SampleFont(cv.dc(), static_cast<HFONT>(GetStockObject(SYSTEM_FONT)), y, "System 16");
  EXPECT_EQ(CompareGolden(cv.surface(), "text_two_fonts"), "");
  DeleteObject(sans);
  DeleteObject(cell);
}

// The transparent drawing of the tool bar and the message list: a mask where
// the transparent colour becomes white, then 0x00E20746 puts the brush there.
TEST(GdiGolden, TransparentBlitThroughMaskWith0x00E20746) {
  Canvas target(64, 40);
  // A striped background shows where the transparent pixels let it through... as the brush colour.
  for (int y = 0; y < 40; y += 4) {
    RECT r{0, y, 64, y + 2};
    HBRUSH b = CreateSolidBrush(RGB(200, 200, 120));
    FillRect(target.dc(), &r, b);
    DeleteObject(b);
  }
  Canvas image(16, 16);
  RECT all{0, 0, 16, 16};
  HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
  FillRect(image.dc(), &all, blue);  // pure blue is transparent
  DeleteObject(blue);
  HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
  HGDIOBJ old = SelectObject(image.dc(), red);
  SelectObject(image.dc(), GetStockObject(BLACK_PEN));
  Ellipse(image.dc(), 2, 2, 14, 14);
  SelectObject(image.dc(), old);
  DeleteObject(red);

  HDC mask_dc = CreateCompatibleDC(target.dc());
  HBITMAP mask = CreateBitmap(16, 16, 1, 1, nullptr);
  HGDIOBJ old_mask = SelectObject(mask_dc, mask);
  SetBkColor(image.dc(), RGB(0, 0, 255));
  BitBlt(mask_dc, 0, 0, 16, 16, image.dc(), 0, 0, SRCCOPY);

  Canvas copy(16, 16);
  BitBlt(copy.dc(), 0, 0, 16, 16, image.dc(), 0, 0, SRCCOPY);
  SetTextColor(copy.dc(), RGB(0, 0, 0));
  SetBkColor(copy.dc(), RGB(255, 255, 255));
  HBRUSH bg = CreateSolidBrush(RGB(0, 128, 0));
  HGDIOBJ old_brush = SelectObject(copy.dc(), bg);
  BitBlt(copy.dc(), 0, 0, 16, 16, mask_dc, 0, 0, 0x00E20746);
  SelectObject(copy.dc(), old_brush);
  DeleteObject(bg);
  BitBlt(target.dc(), 8, 8, 16, 16, copy.dc(), 0, 0, SRCCOPY);
  StretchBlt(target.dc(), 30, 4, 32, 32, copy.dc(), 0, 0, 16, 16, SRCCOPY);

  EXPECT_EQ(GetPixel(target.dc(), 8, 8), RGB(0, 128, 0)) << "a transparent pixel takes the brush colour";
  EXPECT_EQ(GetPixel(target.dc(), 16, 16), RGB(255, 0, 0));
  EXPECT_EQ(CompareGolden(target.surface(), "transparent_blit_e20746"), "");
  SelectObject(mask_dc, old_mask);
  DeleteObject(mask);
  DeleteDC(mask_dc);
}

TEST(GdiGolden, StretchDIBitsOfAnEightBitDibWithPalette) {
  constexpr int kW = 16, kH = 8;
  std::vector<BYTE> info(sizeof(BITMAPINFOHEADER) + 16 * sizeof(RGBQUAD));
  auto *bi = reinterpret_cast<BITMAPINFO *>(info.data());
  bi->bmiHeader = {sizeof(BITMAPINFOHEADER), kW, kH, 1, 8, BI_RGB, 0, 0, 0, 16, 0};
  for (int i = 0; i < 16; ++i)
    bi->bmiColors[i] =
        RGBQUAD{static_cast<BYTE>(i * 16), static_cast<BYTE>(255 - i * 16), static_cast<BYTE>((i & 1) * 255), 0};
  std::vector<BYTE> bits(kW * kH);  // stride 16, bottom-up
  for (int row = 0; row < kH; ++row)
    for (int x = 0; x < kW; ++x) bits[row * kW + x] = static_cast<BYTE>((x + row) % 16);
  bits[0] = 15;  // the bottom-left pixel marks the orientation
  Canvas cv(100, 60);
  ASSERT_EQ(StretchDIBits(cv.dc(), 2, 2, 64, 32, 0, 0, kW, kH, bits.data(), bi, DIB_RGB_COLORS, SRCCOPY), kH);
  // Half of the image (its lower half in DIB terms) at twice the size, mirrored.
  StretchDIBits(cv.dc(), 98, 36, -32, 16, 0, 0, kW, kH / 2, bits.data(), bi, DIB_RGB_COLORS, SRCCOPY);
  EXPECT_EQ(GetPixel(cv.dc(), 2, 33), RGB(255, 15, 240)) << "bottom-up: DIB row 0 is drawn at the bottom";
  EXPECT_EQ(CompareGolden(cv.surface(), "stretchdibits_8bit_palette"), "");
}

TEST(GdiGolden, ScrolledArea) {
  Canvas cv(120, 80);
  HFONT f = static_cast<HFONT>(GetStockObject(SYSTEM_FIXED_FONT));
  SelectObject(cv.dc(), f);
  for (int line = 0; line < 5; ++line) {
    char text[32];
    std::snprintf(text, sizeof text, "line %d of five", line + 1);
    SetBkColor(cv.dc(), RGB(255, 255 - line * 40, 200));
    TextOutA(cv.dc(), 4, line * 15, text, static_cast<int>(std::strlen(text)));
  }
  // Scroll the middle region up by two lines; the uncovered strip is painted grey.
  RECT region{0, 15, 120, 75}, update{};
  ScrollDC(cv.dc(), 0, -30, &region, &region, nullptr, &update);
  EXPECT_EQ(update.top, 45);
  EXPECT_EQ(update.bottom, 75);
  FillRect(cv.dc(), &update, static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH)));
  EXPECT_EQ(CompareGolden(cv.surface(), "scrolled_area"), "");
}

}  // namespace
