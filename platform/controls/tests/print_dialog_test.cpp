// PrintDlgA over the printers of a private tree (no print server): the default
// blocks, the setup page choosing another printer and changing the DEVMODE, the
// print page's range and copies, the DC or IC it returns, and what is refused.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "qxtest/controls.h"
#include "qx/window.h"
#include "qxtest/support.h"

using namespace qx::test;

namespace {

// A private QX_HOME and no CUPS server, so the printers are the layer's own.
struct PrivateTree {
  qxtest::TempDir scratch{"qx-printdlg"};
  std::string root = scratch.path();
  PrivateTree() {
    setenv("QX_HOME", root.c_str(), 1);
    setenv("CUPS_SERVER", (root + "/no-cups.sock").c_str(), 1);
  }
} g_tree;

std::string DevNamesText(HGLOBAL h, WORD DEVNAMES::*field) {
  const auto *dn = static_cast<const char *>(GlobalLock(h));
  DEVNAMES names;
  std::memcpy(&names, dn, sizeof names);
  std::string s = dn + names.*field;
  GlobalUnlock(h);
  return s;
}

std::vector<std::function<void(HWND)>> g_steps;
size_t g_next = 0;
int g_idle = 0;
std::vector<std::string> g_prompts;

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
  HWND dlg = FindWindowA(nullptr, "Print Setup");
  if (!dlg) dlg = FindWindowA(nullptr, "Print");
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

TEST_F(PrintDialogs, DefaultsThenSetupChangesPrinterAndDevMode) {
  pd_.Flags = PD_RETURNDEFAULT;
  ASSERT_TRUE(PrintDlgA(&pd_));
  ASSERT_NE(pd_.hDevNames, nullptr);
  EXPECT_EQ(DevNamesText(pd_.hDevNames, &DEVNAMES::wDeviceOffset), "Print to PDF");
  EXPECT_EQ(DevNamesText(pd_.hDevNames, &DEVNAMES::wOutputOffset), "PDF:");
  // The setup page keeps the blocks and changes them: the second printer, landscape, A4.
  pd_.Flags = PD_PRINTSETUP;
  ASSERT_TRUE(Run({[](HWND d) {
    EXPECT_EQ(SendDlgItemMessageA(d, cmb4, CB_GETCOUNT, 0, 0), 2);
    SendDlgItemMessageA(d, cmb4, CB_SETCURSEL, 1, 0);
    CheckRadioButton(d, rad1, rad2, rad2);
    SendDlgItemMessageA(d, cmb2, CB_SETCURSEL, 1, 0);
    SendDlgItemMessageA(d, IDOK, BM_CLICK, 0, 0);
  }}));
  EXPECT_EQ(DevNamesText(pd_.hDevNames, &DEVNAMES::wDeviceOffset), "Print to File");
  EXPECT_EQ(DevNamesText(pd_.hDevNames, &DEVNAMES::wOutputOffset), "FILE:");
  const auto *dm = static_cast<const DEVMODEA *>(GlobalLock(pd_.hDevMode));
  EXPECT_STREQ(reinterpret_cast<const char *>(dm->dmDeviceName), "Print to File");
  EXPECT_EQ(dm->dmOrientation, DMORIENT_LANDSCAPE);
  EXPECT_EQ(dm->dmPaperSize, DMPAPER_A4);
  GlobalUnlock(pd_.hDevMode);
  // The print page starts on the chosen printer, which prints to a file.
  pd_.Flags = 0;
  ASSERT_TRUE(Run({[](HWND d) {
    EXPECT_EQ(SendDlgItemMessageA(d, cmb4, CB_GETCURSEL, 0, 0), 1);
    SendDlgItemMessageA(d, IDOK, BM_CLICK, 0, 0);
  }}));
  EXPECT_TRUE(pd_.Flags & PD_PRINTTOFILE);
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

TEST_F(PrintDialogs, ReturnsAnInformationContextAndChecksTheSize) {
  pd_.lStructSize = 66;  // the record's size in a 32-bit program
  pd_.Flags = PD_RETURNDEFAULT | PD_RETURNIC;
  ASSERT_TRUE(PrintDlgA(&pd_));
  ASSERT_NE(pd_.hDC, nullptr);
  EXPECT_EQ(GetDeviceCaps(pd_.hDC, TECHNOLOGY), DT_RASPRINTER);
  EXPECT_EQ(GetDeviceCaps(pd_.hDC, LOGPIXELSY), 300);
  DeleteDC(pd_.hDC);
  pd_.lStructSize = 10;
  EXPECT_FALSE(PrintDlgA(&pd_));
  EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_STRUCTSIZE));
}

}  // namespace
