// PrintDlgA over the file printer: the default blocks, the setup page changing
// the DEVMODE, the print page's range and copies, and what is refused.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "controls_test_util.h"
#include "qx/window.h"

using namespace qx::test;

namespace {

std::vector<std::function<void(HWND)>> g_steps;
size_t g_next = 0;
int g_idle = 0;
std::vector<std::string> g_prompts;

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
  HWND dlg = FindWindowA(nullptr, "Print Setup");
  if (!dlg) dlg = FindWindowA(nullptr, "Print");
  if (!dlg) return;
  if (g_next < g_steps.size())
    g_steps[g_next++](dlg);
  else if (++g_idle > 50)
    PostMessageA(dlg, WM_COMMAND, IDCANCEL, 0);
}

int Answer(HWND, LPCSTR text, LPCSTR, UINT) {
  g_prompts.push_back(text);
  return IDOK;
}

class PrintDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    qx::SetMessageBoxAnswerHook(Answer);
    g_prompts.clear();
    g_next = 0;
    g_idle = 0;
    pd_ = PRINTDLGA{};
    pd_.lStructSize = sizeof pd_;
    pd_.hwndOwner = MakeParent();
  }
  void TearDown() override {
    qx::SetMessageBoxAnswerHook(nullptr);
    if (pd_.hDevMode) GlobalFree(pd_.hDevMode);
    if (pd_.hDevNames) GlobalFree(pd_.hDevNames);
    DestroyAll();
  }
  BOOL Run(std::vector<std::function<void(HWND)>> steps) {
    g_steps = std::move(steps);
    g_next = 0;
    g_idle = 0;
    const UINT_PTR t = SetTimer(nullptr, 0, 20, Tick);
    const BOOL r = PrintDlgA(&pd_);
    KillTimer(nullptr, t);
    return r;
  }
  PRINTDLGA pd_;
};

TEST_F(PrintDialogs, DefaultsThenSetupChangesTheDevMode) {
  pd_.Flags = PD_RETURNDEFAULT;
  ASSERT_TRUE(PrintDlgA(&pd_));
  ASSERT_NE(pd_.hDevNames, nullptr);
  const auto *dn = static_cast<const DEVNAMES *>(GlobalLock(pd_.hDevNames));
  EXPECT_STREQ(reinterpret_cast<const char *>(dn) + dn->wDeviceOffset, "Print to File");
  EXPECT_STREQ(reinterpret_cast<const char *>(dn) + dn->wOutputOffset, "FILE:");
  GlobalUnlock(pd_.hDevNames);
  // The setup page keeps the blocks and changes them.
  pd_.Flags = PD_PRINTSETUP;
  ASSERT_TRUE(Run({[](HWND d) {
    CheckRadioButton(d, rad1, rad2, rad2);
    SendDlgItemMessageA(d, cmb2, CB_SETCURSEL, 1, 0);
    SendDlgItemMessageA(d, IDOK, BM_CLICK, 0, 0);
  }}));
  const auto *dm = static_cast<const DEVMODEA *>(GlobalLock(pd_.hDevMode));
  EXPECT_EQ(dm->dmOrientation, DMORIENT_LANDSCAPE);
  EXPECT_EQ(dm->dmPaperSize, DMPAPER_A4);
  GlobalUnlock(pd_.hDevMode);
  // Defaults are only made into empty blocks.
  pd_.Flags = PD_RETURNDEFAULT;
  EXPECT_FALSE(PrintDlgA(&pd_));
  EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(PDERR_RETDEFFAILURE));
}

TEST_F(PrintDialogs, PageRangeAndCopies) {
  pd_.Flags = PD_NOSELECTION;
  pd_.nMinPage = 1;
  pd_.nMaxPage = 10;
  pd_.nFromPage = 1;
  pd_.nToPage = 10;
  pd_.nCopies = 1;
  ASSERT_TRUE(Run({[](HWND d) {
                     CheckRadioButton(d, rad1, rad3, rad3);
                     SetDlgItemInt(d, edt1, 3, FALSE);
                     SetDlgItemInt(d, edt2, 12, FALSE);  // past the last page
                     SendDlgItemMessageA(d, IDOK, BM_CLICK, 0, 0);
                   },
                   [](HWND d) {
                     SetDlgItemInt(d, edt2, 5, FALSE);
                     SetDlgItemInt(d, edt3, 2, FALSE);
                     SendDlgItemMessageA(d, IDOK, BM_CLICK, 0, 0);
                   }}));
  ASSERT_EQ(g_prompts.size(), 1u);
  EXPECT_EQ(g_prompts[0], "This value is not within the page range.\nEnter a number between 1 and 10.");
  EXPECT_TRUE(pd_.Flags & PD_PAGENUMS);
  EXPECT_EQ(pd_.nFromPage, 3);
  EXPECT_EQ(pd_.nToPage, 5);
  EXPECT_EQ(pd_.nCopies, 2);
}

TEST_F(PrintDialogs, NoPrinterDcYetAndBadSize) {
  pd_.Flags = PD_RETURNDEFAULT | PD_RETURNDC;
  EXPECT_FALSE(PrintDlgA(&pd_));
  EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(PDERR_CREATEICFAILURE));
  EXPECT_EQ(pd_.hDC, nullptr);
  pd_.lStructSize = 66;
  EXPECT_FALSE(PrintDlgA(&pd_));
  EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_STRUCTSIZE));
}

}  // namespace
