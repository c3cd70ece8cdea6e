// Icons and bitmaps from a module's resources: an .ico with an alpha channel
// drawn transparently, icons whose headers lie refused, a DIB resource loaded
// as a bitmap, a truncated DIB refused, and the stock icons.
#include <gtest/gtest.h>

#include <cstdlib>
#include <windows.h>

#include "qxtest/drawing.h"

namespace {

// Tests draw headless unless QX_DISPLAY asks for a real display.
const bool kHeadless = (setenv("QX_DISPLAY", "headless", 0), true);

// 2x2 icon, 32 bits: top row blue, green; bottom row red, transparent.
const BYTE kIcon[] = {
    0, 0, 1, 0, 1, 0,                                   // ICONDIR: one image
    2, 2, 0, 0, 1, 0, 32, 0, 64, 0, 0, 0, 22, 0, 0, 0,  // 2x2, 32 bits, 64 bytes at 22
    40, 0, 0, 0, 2, 0, 0, 0, 4, 0, 0, 0, 1, 0, 32, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 255, 255, 0, 0, 0, 0,  // bottom row: red,
                                       // transparent
    255, 0, 0, 255, 0, 255, 0, 255,    // top row: blue, green
    0, 0, 0, 0, 0, 0, 0, 0,            // AND mask (the alpha decides)
};

// 2x2 DIB, 24 bits: top row red, green; bottom row white, black.
const BYTE kDib[] = {
    40, 0, 0,   0, 2,   0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0, 0,   0,   0,   0, 0, 0, 0, 0,
    0,  0, 0,   0, 0,   0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  0, 255, 255, 255, 0, 0, 0, 0, 0,  // bottom row
    0,  0, 255, 0, 255, 0, 0, 0,                                                         // top row
};
const BYTE kShortDib[] = {
    40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0,   0,   0,   0,
    0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0, 255, 255, 255, 0,
};

// Icons whose header lies: a header size near 4 GiB (the colour table's offset
// wrapped to 0 and the icon was built in an empty buffer), a header larger
// than the image, and an image offset past the end.
const BYTE kHugeHeaderIcon[] = {
    0,    0,    1,    0,    1, 0,                                              // ICONDIR: one image
    2,    2,    0,    0,    1, 0, 1, 0, 48, 0, 0, 0, 22, 0, 0, 0,              // 2x2, 1 bit, 48 bytes at 22
    0xFC, 0xFF, 0xFF, 0xFF, 2, 0, 0, 0, 4,  0, 0, 0, 1,  0, 1, 0, 0, 0, 0, 0,  // header "size" 0xFFFFFFFC
    0,    0,    0,    0,    0, 0, 0, 0, 0,  0, 0, 0, 1,  0, 0, 0, 0, 0, 0, 0,  // one colour used
    0,    0,    0,    0,    0, 0, 0, 0,                                        // pixels and mask
};
const BYTE kLongHeaderIcon[] = {
    0,   0, 1, 0, 1, 0,                                              // ICONDIR: one image
    2,   2, 0, 0, 1, 0, 1, 0, 48, 0, 0, 0, 22, 0, 0, 0,              // 2x2, 1 bit, 48 bytes at 22
    200, 0, 0, 0, 2, 0, 0, 0, 4,  0, 0, 0, 1,  0, 1, 0, 0, 0, 0, 0,  // header "size" 200
    0,   0, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0, 1,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
};
const BYTE kOffsetPastEndIcon[] = {
    0, 0, 1, 0, 1, 0, 2, 2, 0, 0, 1, 0, 1, 0, 48, 0, 0, 0, 0xFF, 0xFF, 0, 0,  // image at 65535
};

const QX_RESOURCE kResources[] = {
    QX_RES_ICON("HugeHeader", kHugeHeaderIcon),
    QX_RES_ICON("LongHeader", kLongHeaderIcon),
    QX_RES_ICON("OffsetPastEnd", kOffsetPastEndIcon),
    QX_RES_ICON("AppIcon1", kIcon),
    QX_RES_BITMAP("logo", kDib),
    QX_RES_BITMAP("short", kShortDib),
};
QX_REGISTER_RESOURCES(kResources);

TEST(Icons, IconFromResourcesDrawsWithItsMask) {
  HICON icon = LoadIconA(GetModuleHandleA(nullptr), "AppIcon1");
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(LoadIconA(GetModuleHandleA(nullptr), "appicon1"), icon) << "names ignore case; the icon is shared";
  qx::test::Canvas cv(4, 4);
  ASSERT_TRUE(DrawIcon(cv.dc(), 1, 1, icon));
  EXPECT_EQ(GetPixel(cv.dc(), 1, 1), RGB(0, 0, 255));
  EXPECT_EQ(GetPixel(cv.dc(), 2, 1), RGB(0, 255, 0));
  EXPECT_EQ(GetPixel(cv.dc(), 1, 2), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(cv.dc(), 2, 2), RGB(255, 255, 255)) << "transparent";
  EXPECT_EQ(GetPixel(cv.dc(), 0, 0), RGB(255, 255, 255));
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(icon, &info));
  EXPECT_TRUE(info.fIcon);
  DeleteObject(info.hbmMask);
  DeleteObject(info.hbmColor);
  EXPECT_EQ(LoadIconA(GetModuleHandleA(nullptr), "NoSuchIcon"), nullptr);
}

TEST(Icons, IconsWhoseHeadersLieAreRefused) {
  for (const char *name : {"HugeHeader", "LongHeader", "OffsetPastEnd"})
    EXPECT_EQ(LoadIconA(GetModuleHandleA(nullptr), name), nullptr) << name;
}

TEST(Icons, BitmapsFromResources) {
  HBITMAP bm = LoadBitmapA(GetModuleHandleA(nullptr), "logo");
  ASSERT_NE(bm, nullptr);
  BITMAP info{};
  GetObjectA(bm, sizeof info, &info);
  EXPECT_EQ(info.bmWidth, 2);
  EXPECT_EQ(info.bmHeight, 2);
  HDC dc = CreateCompatibleDC(nullptr);
  SelectObject(dc, bm);
  EXPECT_EQ(GetPixel(dc, 0, 0), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(dc, 1, 0), RGB(0, 255, 0));
  EXPECT_EQ(GetPixel(dc, 0, 1), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(dc, 1, 1), RGB(0, 0, 0));
  DeleteDC(dc);
  DeleteObject(bm);
  EXPECT_EQ(LoadBitmapA(GetModuleHandleA(nullptr), "short"), nullptr) << "rows missing from the resource";
}

TEST(Icons, StockIconsAndCursors) {
  for (LPCSTR id : {IDI_APPLICATION, IDI_HAND, IDI_QUESTION, IDI_EXCLAMATION, IDI_ASTERISK}) {
    HICON icon = LoadIconA(nullptr, id);
    ASSERT_NE(icon, nullptr);
    qx::test::Canvas cv(32, 32);
    DrawIcon(cv.dc(), 0, 0, icon);
    int drawn = 0;
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x) drawn += GetPixel(cv.dc(), x, y) != RGB(255, 255, 255);
    EXPECT_GT(drawn, 100);
    EXPECT_EQ(GetPixel(cv.dc(), 0, 31), RGB(255, 255, 255)) << "the corner is transparent";
    EXPECT_FALSE(DestroyIcon(reinterpret_cast<HICON>(0x1234)));
  }
  HCURSOR beam = LoadCursorA(nullptr, IDC_IBEAM);
  ASSERT_NE(beam, nullptr);
  SetCursor(beam);
  EXPECT_EQ(GetCursor(), beam);
}

}  // namespace
