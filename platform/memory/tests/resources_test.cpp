// Resources: per-module string tables, LoadString's truncation, raw and typed
// lookups, and names given as text, "#number" or MAKEINTRESOURCE.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "qx/resources.h"

namespace {

const QX_DIALOG_ITEM kAboutItems[] = {
    QX_CONTROL("OK", 1, "Button", 0x50010001, 70, 80, 40, 14),
    QX_CONTROL("Extended Version Number", 1002, "Static", 0x50000000, 10, 10, 150, 8),
};
const QX_DIALOG kAbout = QX_DIALOG_TEMPLATE(0, 0, 180, 100, 0x80C80080, "About", "MS Sans Serif", 8, kAboutItems);
const QX_MENU_ITEM kFileItems[] = {QX_MENUITEM("&Open...", 100), QX_MENUSEPARATOR(), QX_MENUITEM("E&xit", 101)};
const QX_MENU_ITEM kBarItems[] = {QX_POPUP("&File", kFileItems)};
const QX_MENU kMainMenu = QX_MENU_OF(kBarItems);
const QX_ACCELERATOR kAccelEntries[] = {{0x01, 'O', 100}};
const QX_ACCELERATORS kAccel = QX_ACCELERATORS_OF(kAccelEntries);
const BYTE kRaw[] = {1, 2, 3, 4, 5};
// No translation table: the string table's name is taken as given.
const QX_VERSION_STRING kVersionStrings[] = {{"FileVersion", "1.0.0.7"}};
const QX_VERSION kVersion = {QX_VERSION_MS(1, 0),
                             QX_VERSION_LS(0, 7),
                             QX_VERSION_MS(1, 0),
                             QX_VERSION_LS(0, 7),
                             0,
                             0,
                             VOS_NT_WINDOWS32,
                             VFT_APP,
                             0,
                             nullptr,
                             kVersionStrings,
                             QX_COUNTOF(kVersionStrings)};

const QX_RESOURCE kResources[] = {
    QX_STRING(0, "string zero"),
    QX_STRING(1, "program one"),
    QX_STRING(2, "truncate me"),
    QX_STRING(3, ""),
    QX_RES_DIALOG("ABOUT", kAbout),
    QX_RES_MENU(MAKEINTRESOURCE(300), kMainMenu),
    QX_RES_ACCELERATORS("FTPACC", kAccel),
    QX_RES_RAW(RT_RCDATA, "blob", kRaw),
    QX_RES_VERSION(kVersion),
};

}  // namespace

QX_REGISTER_RESOURCES(kResources)

namespace {

struct LoadCase {
  UINT id;
  int buffer;
  int result;
  const char *text;
};

class LoadStringCases : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadStringCases, CopiesAndTruncates) {
  const LoadCase c = GetParam();
  char buffer[64];
  std::memset(buffer, 'X', sizeof buffer);
  EXPECT_EQ(LoadStringA(nullptr, c.id, buffer, c.buffer), c.result);
  EXPECT_STREQ(buffer, c.text);
}

INSTANTIATE_TEST_SUITE_P(Table, LoadStringCases,
                         ::testing::Values(LoadCase{0, 64, 11, "string zero"}, LoadCase{1, 64, 11, "program one"},
                                           LoadCase{2, 12, 11, "truncate me"},  // just fits
                                           LoadCase{2, 11, 10, "truncate m"},   // one short
                                           LoadCase{2, 2, 1, "t"}, LoadCase{2, 1, 0, ""},
                                           LoadCase{3, 64, 0, ""},     // empty string
                                           LoadCase{99, 64, 0, ""}));  // no such string

TEST(Resources, LoadStringRefusesNoBuffer) {
  EXPECT_EQ(LoadStringA(nullptr, 1, nullptr, 10), 0);
  char b[4] = "abc";
  EXPECT_EQ(LoadStringA(nullptr, 1, b, 0), 0);
  EXPECT_STREQ(b, "abc");  // untouched
}

TEST(Resources, EachModuleHasItsOwnStrings) {
  HMODULE alpha = LoadLibraryA("memtest_alpha.dll");
  HMODULE beta = LoadLibraryA("memtest_beta.dll");
  ASSERT_NE(alpha, nullptr);
  ASSERT_NE(beta, nullptr);
  char text[32];
  EXPECT_EQ(LoadStringA(alpha, 1, text, sizeof text), 9);
  EXPECT_STREQ(text, "alpha one");
  EXPECT_EQ(LoadStringA(beta, 1, text, sizeof text), 8);
  EXPECT_STREQ(text, "beta one");
  EXPECT_EQ(LoadStringA(GetModuleHandleA(nullptr), 1, text, sizeof text), 11);
  EXPECT_STREQ(text, "program one");
  EXPECT_EQ(FindResourceA(beta, "logo", RT_BITMAP), nullptr);
  HRSRC logo = FindResourceA(alpha, "LOGO", RT_BITMAP);  // names without regard to case
  ASSERT_NE(logo, nullptr);
  EXPECT_EQ(SizeofResource(alpha, logo), 44u);
  const BYTE *dib = static_cast<const BYTE *>(LockResource(LoadResource(alpha, logo)));
  ASSERT_NE(dib, nullptr);
  EXPECT_EQ(dib[0], 40);  // BITMAPINFOHEADER size
  FreeLibrary(beta);
  FreeLibrary(alpha);
  // Unloading withdraws the module's resource handles.
  EXPECT_EQ(LockResource(logo), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Resources, RawResourceByTypeAndName) {
  HRSRC r = FindResourceA(nullptr, "BLOB", RT_RCDATA);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(FindResourceA(nullptr, "blob", RT_RCDATA), r);  // one handle per resource
  EXPECT_EQ(SizeofResource(nullptr, r), 5u);
  EXPECT_EQ(static_cast<const BYTE *>(LockResource(LoadResource(nullptr, r)))[4], 5);
  SetLastError(0);
  EXPECT_EQ(FindResourceA(nullptr, "blob", RT_BITMAP), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
  EXPECT_EQ(FindResourceA(nullptr, "nothing", RT_RCDATA), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_EQ(LockResource(reinterpret_cast<HGLOBAL>(0x12345)), nullptr);
}

TEST(Resources, TypedLookupsForTheDisplayParts) {
  const QX_DIALOG *about = qx::FindDialogResource(nullptr, "about");
  ASSERT_NE(about, nullptr);
  EXPECT_STREQ(about->caption, "About");
  ASSERT_EQ(about->itemCount, 2u);
  EXPECT_EQ(about->items[1].id, 1002);
  EXPECT_EQ(about->items[1].cx, 150);
  const QX_MENU *menu = qx::FindMenuResource(nullptr, "#300");  // "#n" names number n
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(menu->itemCount, 1u);
  ASSERT_EQ(menu->items[0].popupCount, 3u);
  EXPECT_EQ(menu->items[0].popup[1].text, nullptr);  // separator
  EXPECT_EQ(menu->items[0].popup[2].id, 101u);
  EXPECT_EQ(qx::FindMenuResource(nullptr, MAKEINTRESOURCE(300)), menu);
  const QX_ACCELERATORS *accel = qx::FindAcceleratorResource(nullptr, "FTPACC");
  ASSERT_NE(accel, nullptr);
  EXPECT_EQ(accel->entries[0].command, 100);
  EXPECT_EQ(qx::FindDialogResource(nullptr, "FTPACC"), nullptr);  // wrong type
  qx::ResourceBytes bytes{};
  EXPECT_TRUE(qx::FindResourceBytes(nullptr, RT_RCDATA, "blob", bytes));
  EXPECT_EQ(bytes.size, 5u);
}

}  // namespace
