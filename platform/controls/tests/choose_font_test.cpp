// ChooseFontA driven headless: starting from a LOGFONT, choosing face, style
// and size, the size limit prompt, and errors.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "qxtest/controls.h"
#include "qx/window.h"

using namespace qx::test;

namespace {

std::vector<std::function<void(HWND)>> g_steps;
size_t g_next = 0;
int g_idle = 0;
std::vector<std::string> g_prompts;

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
  HWND dlg = FindWindowA(nullptr, "Font");
  if (!dlg || !InputDrained()) return;
  if (g_next < g_steps.size())
    g_steps[g_next++](dlg);
  else if (++g_idle > 50)
    PostMessageA(dlg, WM_COMMAND, IDCANCEL, 0);
}

int Answer(HWND, LPCSTR text, LPCSTR, UINT) {
  g_prompts.push_back(text);
  return IDOK;
}

std::string Field(HWND d, int id) {
  char buf[64] = {};
  GetDlgItemTextA(d, id, buf, sizeof buf);
  return buf;
}

class FontDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    qx::SetMessageBoxAnswerHook(Answer);
    g_prompts.clear();
    g_next = 0;
    g_idle = 0;
    cf_ = CHOOSEFONTA{};
    cf_.lStructSize = sizeof cf_;
    cf_.hwndOwner = MakeParent();
    cf_.lpLogFont = &lf_;
    lf_ = LOGFONTA{};
  }
  void TearDown() override {
    qx::SetMessageBoxAnswerHook(nullptr);
    DestroyAll();
  }
  BOOL Run(std::vector<std::function<void(HWND)>> steps) {
    g_steps = std::move(steps);
    const UINT_PTR t = SetTimer(nullptr, 0, 20, Tick);
    const BOOL r = ChooseFontA(&cf_);
    KillTimer(nullptr, t);
    return r;
  }
  CHOOSEFONTA cf_;
  LOGFONTA lf_;
};

TEST_F(FontDialogs, StartsFromTheLogFontAndReturnsTheChoice) {
  lf_.lfHeight = -16;  // 12 points at 96 pixels an inch
  lf_.lfWeight = FW_BOLD;
  std::strcpy(lf_.lfFaceName, "Courier New");
  cf_.Flags = CF_INITTOLOGFONTSTRUCT | CF_SCREENFONTS | CF_EFFECTS;
  std::string seen;
  ASSERT_TRUE(Run({[&](HWND d) {
    seen = Field(d, cmb1) + "|" + Field(d, cmb2) + "|" + Field(d, cmb3);
    SendDlgItemMessageA(d, cmb1, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>("Times New Roman"));
    SendDlgItemMessageA(d, cmb2, CB_SETCURSEL, 1, 0);  // Italic
    SetDlgItemTextA(d, cmb3, "14");
    CheckDlgButton(d, chx2, BST_CHECKED);
    SendDlgItemMessageA(d, IDOK, BM_CLICK, 0, 0);
  }}));
  EXPECT_EQ(seen, "Courier New|Bold|12");
  EXPECT_STREQ(lf_.lfFaceName, "Times New Roman");
  EXPECT_EQ(lf_.lfWeight, FW_NORMAL);
  EXPECT_TRUE(lf_.lfItalic);
  EXPECT_TRUE(lf_.lfUnderline);
  EXPECT_LT(lf_.lfHeight, 0);
  EXPECT_EQ(cf_.iPointSize, 140);
  EXPECT_EQ(cf_.nFontType & ITALIC_FONTTYPE, ITALIC_FONTTYPE);
}

TEST_F(FontDialogs, SizeOutsideTheLimitIsRefused) {
  cf_.Flags = CF_LIMITSIZE | CF_SCREENFONTS;
  cf_.nSizeMin = 8;
  cf_.nSizeMax = 20;
  ASSERT_TRUE(Run({[](HWND d) {
                     SetDlgItemTextA(d, cmb3, "36");
                     SendDlgItemMessageA(d, IDOK, BM_CLICK, 0, 0);
                   },
                   [](HWND d) {
                     SetDlgItemTextA(d, cmb3, "10");
                     SendDlgItemMessageA(d, IDOK, BM_CLICK, 0, 0);
                   }}));
  ASSERT_EQ(g_prompts.size(), 1u);
  EXPECT_EQ(g_prompts[0], "Size must be between 8 and 20 points.");
  EXPECT_EQ(cf_.iPointSize, 100);
  cf_.nSizeMax = 4;
  EXPECT_FALSE(ChooseFontA(&cf_));
  EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CFERR_MAXLESSTHANMIN));
}

}  // namespace
