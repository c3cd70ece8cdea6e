// The tool bar in a dialog, headless: buttons fitted to their faces around
// their centres, faces drawn from the strip (blue showing the background, the
// right half for a disabled button), tips that appear after the delay under
// the button the mouse rests on and follow it, keys and commands that remove
// a tip, and the print progress dialog's text.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "printing.h"
#include "qx/display.h"
#include "toolbar.h"

namespace {

constexpr int kFirst = 100, kCount = 4, kFaceW = 16, kFaceH = 12;
constexpr DWORD kOwnerDraw = BS_OWNERDRAW | WS_CHILD | WS_VISIBLE | WS_TABSTOP;

const QX_DIALOG_ITEM kToolItems[] = {
    QX_CONTROL("&Record", 100, "Button", kOwnerDraw, 10, 10, 30, 20),
    QX_CONTROL("&Stop", 101, "Button", kOwnerDraw, 50, 10, 30, 20),
    QX_CONTROL("&Play", 102, "Button", kOwnerDraw, 90, 10, 30, 20),
    QX_CONTROL("C&lear", 103, "Button", kOwnerDraw, 130, 10, 30, 20),
    QX_PUSHBUTTON("OK", IDOK, 10, 40, 40, 14),
};
const QX_DIALOG kTools =
    QX_DIALOG_TEMPLATE(0, 0, 180, 60, WS_POPUP | WS_CAPTION | WS_VISIBLE, "Tools", "MS Sans Serif", 8, kToolItems);
const QX_DIALOG_ITEM kAbortItems[] = {
    QX_CTEXT("(0%)", 100, 8, 8, 80, 8),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 30, 20, 40, 14),
};
const QX_DIALOG kAbort =
    QX_DIALOG_TEMPLATE(0, 0, 100, 40, WS_POPUP | WS_CAPTION | WS_VISIBLE, "Printing", "MS Sans Serif", 8, kAbortItems);
const QX_RESOURCE kResources[] = {QX_RES_DIALOG("TOOLS", kTools), QX_RES_DIALOG("ABORT", kAbort)};
QX_REGISTER_RESOURCES(kResources)

struct Setup {
  Setup() {
    char tmpl[] = "/tmp/qxtoolbar-XXXXXX";
    root = mkdtemp(tmpl);
    setenv("QX_HOME", (root + "/home").c_str(), 1);
    setenv("QX_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
    unsetenv("DISPLAY");
    setenv("QX_DISPLAY", "headless", 1);
    setenv("QX_AUTOMATION", "0", 1);
  }
  ~Setup() { std::system(("rm -rf '" + root + "'").c_str()); }
  std::string root;
};
Setup g_setup;

COLORREF NormalFace(int i) { return RGB(200, 40 * i, 10); }
COLORREF OtherFace(int i) { return RGB(20, 40 * i, 200 - i); }

// The strip: four faces of 16 by 12, normal on the left, pressed and disabled
// on the right, each with a pure blue 3 by 3 corner.
HBITMAP MakeStrip() {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = 2 * kFaceW;
  bi.bmiHeader.biHeight = -kCount * kFaceH;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void *bits = nullptr;
  HBITMAP strip = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  auto *px = static_cast<uint32_t *>(bits);
  for (int y = 0; y < kCount * kFaceH; ++y)
    for (int x = 0; x < 2 * kFaceW; ++x) {
      const int face = y / kFaceH;
      COLORREF c = x < kFaceW ? NormalFace(face) : OtherFace(face);
      if (x % kFaceW < 3 && y % kFaceH < 3) c = RGB(0, 0, 255);
      px[y * 2 * kFaceW + x] = (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
    }
  return strip;
}

HBITMAP g_strip = nullptr;
bool g_toolbar = true;
std::vector<int> g_commands;

INT_PTR CALLBACK ToolsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (g_toolbar && ToolbarParentMsg(dialog, message, wParam, lParam, &result, g_strip, kFirst, kCount)) {
    SetWindowLongPtrA(dialog, DWL_MSGRESULT, result);
    return TRUE;
  }
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND) {
    g_commands.push_back(LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

void Pump(DWORD ms) {
  const DWORD end = GetTickCount() + ms;
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    const DWORD now = GetTickCount();
    if (static_cast<int>(end - now) <= 0) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, end - now, QS_ALLINPUT);
  }
}

RECT ScreenRect(HWND w) {
  RECT r{};
  GetWindowRect(w, &r);
  return r;
}

HWND Tip() { return FindWindowA(kTipClass, nullptr); }

// Rests the mouse on a window's centre.
void MouseOn(HWND w) {
  const RECT r = ScreenRect(w);
  qx::display::InjectMouseMove(POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
  Pump(20);
}

class Toolbar : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!g_strip) g_strip = MakeStrip();
    g_toolbar = true;
    g_commands.clear();
    dialog_ = CreateDialogParamA(GetModuleHandleA(nullptr), "TOOLS", nullptr, ToolsProc, 0);
    ASSERT_NE(dialog_, nullptr);
    ToolbarInit(dialog_, GetModuleHandleA(nullptr));
    Pump(20);
  }
  void TearDown() override {
    DestroyWindow(dialog_);
    ToolbarFree();
    Pump(10);
  }
  HWND Button(int id) { return GetDlgItem(dialog_, id); }
  HWND dialog_ = nullptr;
};

TEST_F(Toolbar, ButtonsFitTheirFacesAroundTheirCentres) {
  g_toolbar = false;
  HWND plain = CreateDialogParamA(GetModuleHandleA(nullptr), "TOOLS", nullptr, ToolsProc, 0);
  g_toolbar = true;
  for (int id = kFirst; id < kFirst + kCount; ++id) {
    const RECT fitted = ScreenRect(Button(id)), before = ScreenRect(GetDlgItem(plain, id));
    EXPECT_EQ(fitted.right - fitted.left, kFaceW + 4) << id;
    EXPECT_EQ(fitted.bottom - fitted.top, kFaceH + 4) << id;
    // Left and top move by half of what the button lost.
    const RECT d = ScreenRect(dialog_), p = ScreenRect(plain);
    EXPECT_EQ(fitted.left - d.left, before.left - p.left + (before.right - before.left - kFaceW - 3) / 2) << id;
    EXPECT_EQ(fitted.top - d.top, before.top - p.top + (before.bottom - before.top - kFaceH - 3) / 2) << id;
  }
  DestroyWindow(plain);
}

TEST_F(Toolbar, FacesComeFromTheStrip) {
  EnableWindow(Button(101), FALSE);
  for (int id = kFirst; id < kFirst + kCount; ++id) {
    InvalidateRect(Button(id), nullptr, TRUE);
    UpdateWindow(Button(id));
  }
  for (int id = kFirst; id < kFirst + kCount; ++id) {
    const int face = id - kFirst;
    HDC dc = GetDC(Button(id));
    // Inside the frame and edge, the face; its blue corner shows the background.
    EXPECT_EQ(GetPixel(dc, 2 + 8, 2 + 6), id == 101 ? OtherFace(face) : NormalFace(face)) << id;
    EXPECT_NE(GetPixel(dc, 2 + 1, 2 + 1), RGB(0, 0, 255)) << id;
    EXPECT_EQ(GetPixel(dc, 0, 0), RGB(0, 0, 0)) << id << ": the black frame";
    ReleaseDC(Button(id), dc);
  }
}

TEST_F(Toolbar, TipsAppearAfterTheDelayAndFollowTheMouse) {
  MouseOn(Button(100));
  Pump(kTipDelay / 2);
  EXPECT_EQ(Tip(), nullptr) << "a tip before the delay";
  Pump(kTipDelay);
  HWND tip = Tip();
  ASSERT_NE(tip, nullptr) << "no tip after the delay";
  char text[64] = {};
  GetWindowTextA(tip, text, sizeof text);
  EXPECT_STREQ(text, "&Record");
  const RECT b = ScreenRect(Button(100)), t = ScreenRect(tip);
  EXPECT_EQ(t.top, b.bottom + 2);
  EXPECT_NEAR((t.left + t.right) / 2, (b.left + b.right) / 2, 1);
  EXPECT_GT(t.right - t.left, 6);

  // To another button: the tip goes at once, and the next one comes after the delay.
  MouseOn(Button(102));
  EXPECT_EQ(Tip(), nullptr);
  Pump(kTipDelay + 200);
  ASSERT_NE(Tip(), nullptr);
  GetWindowTextA(Tip(), text, sizeof text);
  EXPECT_STREQ(text, "&Play");
  const RECT b2 = ScreenRect(Button(102)), t2 = ScreenRect(Tip());
  EXPECT_NEAR((t2.left + t2.right) / 2, (b2.left + b2.right) / 2, 1);

  // Off the buttons: the tip goes.
  const RECT d = ScreenRect(dialog_);
  qx::display::InjectMouseMove(POINT{d.right - 5, d.bottom - 5});
  Pump(kTipWatch * 4);
  EXPECT_EQ(Tip(), nullptr);
}

TEST_F(Toolbar, KeysAndCommandsRemoveTheTip) {
  MouseOn(Button(103));
  Pump(kTipDelay + 200);
  ASSERT_NE(Tip(), nullptr);
  SendMessageA(dialog_, WM_KEYDOWN, VK_SPACE, 0);
  EXPECT_EQ(Tip(), nullptr) << "a key removes the tip";

  MouseOn(Button(100));
  MouseOn(Button(102));
  Pump(kTipDelay + 200);
  ASSERT_NE(Tip(), nullptr);
  // A click while the tip shows: the tip goes first, then the command is carried out once.
  SendMessageA(Button(102), BM_CLICK, 0, 0);
  EXPECT_EQ(Tip(), nullptr);
  Pump(50);
  EXPECT_EQ(g_commands, std::vector<int>{102});
}

TEST_F(Toolbar, ATipAtTheBottomOfTheScreenOpensAbove) {
  // The dialog at the bottom of the screen, the button at the bottom of the dialog.
  const RECT d = ScreenRect(dialog_);
  SetWindowPos(dialog_, nullptr, d.left, GetSystemMetrics(SM_CYSCREEN) - (d.bottom - d.top), 0, 0,
               SWP_NOSIZE | SWP_NOZORDER);
  RECT client{};
  GetClientRect(dialog_, &client);
  const RECT b = ScreenRect(Button(101));
  POINT at{b.left, b.top};
  ScreenToClient(dialog_, &at);
  MoveWindow(Button(101), at.x, client.bottom - (b.bottom - b.top), b.right - b.left, b.bottom - b.top, TRUE);
  Pump(20);
  ASSERT_GE(ScreenRect(Button(101)).bottom + 2 + 10, GetSystemMetrics(SM_CYSCREEN)) << "the button is not low enough";
  MouseOn(Button(101));
  Pump(kTipDelay + 200);
  ASSERT_NE(Tip(), nullptr);
  EXPECT_EQ(ScreenRect(Tip()).bottom, ScreenRect(Button(101)).top - 2);
}

TEST(PrintProgress, TheDialogShowsPercentagesAndCancels) {
  HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), "ABORT", nullptr, PrintAbortDlgProc, 0);
  ASSERT_NE(dialog, nullptr);
  PrintSetProgressDialog(dialog);
  PrintClearCancel();
  EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDCANCEL));
  EXPECT_TRUE(PrintAbortProc(nullptr, 0));
  PostMessageA(dialog, kPrintProgress, 42, 0);
  PrintPump();
  char text[32] = {};
  GetDlgItemTextA(dialog, kPrintPercentControl, text, sizeof text);
  EXPECT_STREQ(text, "(42%)");
  SendMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
  EXPECT_TRUE(PrintCancelled());
  EXPECT_FALSE(PrintAbortProc(nullptr, 0));
  PrintSetProgressDialog(nullptr);
  DestroyWindow(dialog);
}

}  // namespace
