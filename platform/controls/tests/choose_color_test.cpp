// ChooseColorA driven headless: the initial colour in the fields, a typed
// value, a basic swatch clicked, a custom colour added, Cancel and errors.
#include <gtest/gtest.h>

#include <functional>

#include "qxtest/controls.h"

using namespace qx::test;

namespace {

std::vector<std::function<void(HWND)>> g_steps;
size_t g_next = 0;
int g_idle = 0;
std::string g_fields;

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
  HWND dlg = FindWindowA(nullptr, "Color");
  if (!dlg || !InputDrained()) return;
  if (g_next < g_steps.size())
    g_steps[g_next++](dlg);
  else if (++g_idle > 50)
    PostMessageA(dlg, WM_COMMAND, IDCANCEL, 0);  // a test gone wrong ends
}

class ColorDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    owner_ = MakeParent();
    cc_ = CHOOSECOLORA{};
    cc_.lStructSize = sizeof cc_;
    cc_.hwndOwner = owner_;
    cc_.lpCustColors = custom_;
    g_next = 0;
    g_idle = 0;
  }
  void TearDown() override { DestroyAll(); }
  BOOL Run(std::vector<std::function<void(HWND)>> steps) {
    g_steps = std::move(steps);
    const UINT_PTR t = SetTimer(nullptr, 0, 20, Tick);
    const BOOL r = ChooseColorA(&cc_);
    KillTimer(nullptr, t);
    return r;
  }
  HWND owner_ = nullptr;
  CHOOSECOLORA cc_;
  COLORREF custom_[16] = {};
};

TEST_F(ColorDialogs, InitialColourTypedValueAndOk) {
  cc_.rgbResult = RGB(10, 20, 30);
  cc_.Flags = CC_RGBINIT | CC_FULLOPEN;
  ASSERT_TRUE(Run({[](HWND d) {
    g_fields = std::to_string(GetDlgItemInt(d, COLOR_RED, nullptr, FALSE)) + "," +
               std::to_string(GetDlgItemInt(d, COLOR_GREEN, nullptr, FALSE)) + "," +
               std::to_string(GetDlgItemInt(d, COLOR_BLUE, nullptr, FALSE));
    SetFocus(GetDlgItem(d, COLOR_RED));
    SendDlgItemMessageA(d, COLOR_RED, EM_SETSEL, 0, -1);
    Type("255");
    Key(kEnter);
  }}));
  EXPECT_EQ(g_fields, "10,20,30");
  EXPECT_EQ(cc_.rgbResult, RGB(255, 20, 30));
}

TEST_F(ColorDialogs, SwatchAndCustomColours) {
  ASSERT_TRUE(Run({
      [](HWND d) { SendDlgItemMessageA(d, COLOR_BASIC_FIRST + 8, BM_CLICK, 0, 0); },  // pure red
      [](HWND d) { SendDlgItemMessageA(d, COLOR_ADD, BM_CLICK, 0, 0); },
      [](HWND d) { SendDlgItemMessageA(d, IDOK, BM_CLICK, 0, 0); },
  }));
  EXPECT_EQ(cc_.rgbResult, RGB(255, 0, 0));
  EXPECT_EQ(custom_[0], RGB(255, 0, 0));
}

TEST_F(ColorDialogs, CancelAndBadSize) {
  EXPECT_FALSE(Run({[](HWND) { Key(kEsc); }}));
  EXPECT_EQ(CommDlgExtendedError(), 0u);
  cc_.lStructSize = 4;
  EXPECT_FALSE(ChooseColorA(&cc_));
  EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_STRUCTSIZE));
}

}  // namespace
