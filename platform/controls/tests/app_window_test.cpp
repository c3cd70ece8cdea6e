// A program's main window as a person drives it: a menu bar (keyboard and
// mouse), a multi-line edit, an owner-drawn sorted multi-select list box,
// accelerators and a modal dialog; the window is saved as a PNG.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "qxtest/controls.h"
#include "qx/display.h"
#include "qx/window.h"
#include "qxtest/support.h"

using namespace qx::test;

namespace {

enum { IDM_SETTINGS = 200, IDM_EXIT, IDM_WRAP, IDM_ABOUT, IDM_REFRESH, IDC_EDIT = 300, IDC_LIST };

const QX_MENU_ITEM kFile[] = {QX_MENUITEM("&Settings...\tCtrl+S", IDM_SETTINGS), QX_MENUSEPARATOR(),
                              QX_MENUITEM("E&xit", IDM_EXIT)};
const QX_MENU_ITEM kView[] = {QX_MENUITEM("&Wrap", IDM_WRAP), QX_MENUITEM_F("&Refresh\tF5", IDM_REFRESH, MF_GRAYED)};
const QX_MENU_ITEM kHelp[] = {QX_MENUITEM("&About", IDM_ABOUT)};
const QX_MENU_ITEM kBar[] = {QX_POPUP("&File", kFile), QX_POPUP("&View", kView), QX_POPUP("&Help", kHelp)};
const QX_MENU kMenu = QX_MENU_OF(kBar);
const QX_ACCELERATOR kAccel[] = {{FVIRTKEY | FCONTROL, 'S', IDM_SETTINGS}, {FVIRTKEY, VK_F5, IDM_REFRESH}};
const QX_ACCELERATORS kAccels = QX_ACCELERATORS_OF(kAccel);
const QX_RESOURCE kResources[] = {QX_RES_ACCELERATORS("MAIN", kAccels)};
QX_REGISTER_RESOURCES(kResources);

const QX_DIALOG_ITEM kAboutItems[] = {QX_LTEXT("Mail client", -1, 7, 7, 100, 8),
                                      QX_DEFPUSHBUTTON("OK", IDOK, 40, 30, 40, 14),
                                      QX_PUSHBUTTON("Cancel", IDCANCEL, 90, 30, 40, 14)};
const QX_DIALOG kAbout = QX_DIALOG_TEMPLATE(10, 10, 140, 50, DS_MODALFRAME | WS_POPUP | WS_CAPTION, "About",
                                            "MS Sans Serif", 8, kAboutItems);

struct AppState {
  std::vector<UINT> commands;
  std::vector<UINT> init_menus;
  INT_PTR dialog_result = 0;
  int drawn_items = 0;
  int menu_loops = 0;
  int taken_keys = 0;
} g_app;

INT_PTR CALLBACK AboutProc(HWND h, UINT m, WPARAM wp, LPARAM) {
  if (m == WM_INITDIALOG) return TRUE;
  if (m == WM_COMMAND && (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)) {
    EndDialog(h, LOWORD(wp));
    return TRUE;
  }
  return FALSE;
}

LRESULT CALLBACK MainProc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
  switch (m) {
    case WM_COMMAND:
      if (lp) return 0;  // notifications of the children
      g_app.commands.push_back(LOWORD(wp));
      if (LOWORD(wp) == IDM_WRAP) {
        HMENU menu = GetMenu(h);
        const UINT state = GetMenuState(menu, IDM_WRAP, MF_BYCOMMAND);
        CheckMenuItem(menu, IDM_WRAP, (state & MF_CHECKED) ? MF_UNCHECKED : MF_CHECKED);
      }
      if (LOWORD(wp) == IDM_SETTINGS) g_app.dialog_result = DialogBoxIndirectParamA(nullptr, &kAbout, h, AboutProc, 0);
      return 0;
    case WM_INITMENUPOPUP: g_app.init_menus.push_back(static_cast<UINT>(LOWORD(lp))); return 0;
    case WM_DRAWITEM: {
      const auto *d = reinterpret_cast<const DRAWITEMSTRUCT *>(lp);
      ++g_app.drawn_items;
      char text[64] = {};
      SendMessageA(d->hwndItem, LB_GETTEXT, d->itemID, reinterpret_cast<LPARAM>(text));
      FillRect(d->hDC, &d->rcItem, GetSysColorBrush((d->itemState & ODS_SELECTED) ? COLOR_HIGHLIGHT : COLOR_WINDOW));
      SetBkMode(d->hDC, TRANSPARENT);
      SetTextColor(d->hDC, GetSysColor((d->itemState & ODS_SELECTED) ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
      TextOutA(d->hDC, d->rcItem.left + 2, d->rcItem.top, text, static_cast<int>(strlen(text)));
      return TRUE;
    }
    case WM_MEASUREITEM: reinterpret_cast<MEASUREITEMSTRUCT *>(lp)->itemHeight = 16; return TRUE;
    case WM_ENTERMENULOOP: ++g_app.menu_loops; return DefWindowProcA(h, m, wp, lp);
    case WM_SYSKEYDOWN:
      // Alt+Q is the window's own key, taken without the default procedure
      // (as a terminal takes Alt+letters for its host).
      if (wp == 'Q') {
        ++g_app.taken_keys;
        return 0;
      }
      return DefWindowProcA(h, m, wp, lp);
    default: return DefWindowProcA(h, m, wp, lp);
  }
}

class AppWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    g_app = AppState{};
    WNDCLASSA wc{};
    wc.lpfnWndProc = MainProc;
    wc.lpszClassName = "QxMailMain";
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    RegisterClassA(&wc);
    main_ = CreateWindowA("QxMailMain", "Mail", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 480, 320, nullptr,
                          LoadMenuIndirectA(&kMenu), nullptr, nullptr);
    ASSERT_NE(main_, nullptr);
    accel_ = LoadAcceleratorsA(nullptr, "MAIN");
    ASSERT_NE(accel_, nullptr);
    edit_ = MakeChild(main_, "Edit", ES_MULTILINE | ES_AUTOVSCROLL | WS_BORDER | WS_VSCROLL, IDC_EDIT, 5, 5, 260, 200);
    list_ = MakeChild(main_, "ListBox",
                      LBS_OWNERDRAWFIXED | LBS_HASSTRINGS | LBS_SORT | LBS_EXTENDEDSEL | LBS_NOTIFY | WS_BORDER,
                      IDC_LIST, 275, 5, 180, 200);
    SetActiveWindow(main_);
    SetFocus(edit_);
    Run();
  }
  void TearDown() override {
    DestroyAcceleratorTable(accel_);
    DestroyAll();
  }
  // The program's message loop, with its accelerators.
  void Run() {
    MSG m;
    for (int round = 0; round < 6; ++round) {
      qx::Display().PumpInput();
      while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (TranslateAcceleratorA(main_, accel_, &m)) continue;
        TranslateMessage(&m);
        DispatchMessageA(&m);
      }
    }
  }
  // Pixels of the menu bar.
  std::vector<uint32_t> BarPixels() {
    qx::gdi::Surface s;
    qx::display::CaptureWindow(main_, s);
    std::vector<uint32_t> out;
    for (int y = 24; y < 40 && y < s.height; ++y)
      for (int x = 0; x < s.width; ++x) out.push_back(s.Get(x, y));
    return out;
  }
  HWND main_ = nullptr, edit_ = nullptr, list_ = nullptr;
  HACCEL accel_ = nullptr;
};

TEST_F(AppWindow, TypedLinesMenusAcceleratorsAndDialogAsAPersonUsesThem) {
  // Typed lines reach the edit as CR LF text.
  Type("Dear Sir,");
  Key(kEnter);
  Type("the link is down.");
  Run();
  EXPECT_EQ(TextOf(edit_), "Dear Sir,\r\nthe link is down.");

  // Alt+V opens the View menu, W chooses Wrap: its check toggles.
  KeyWith(kAlt, ScanOf('v'));
  Key(ScanOf('w'));
  Run();
  ASSERT_EQ(g_app.commands, (std::vector<UINT>{IDM_WRAP}));
  EXPECT_TRUE(GetMenuState(GetMenu(main_), IDM_WRAP, MF_BYCOMMAND) & MF_CHECKED);
  EXPECT_EQ(g_app.init_menus, (std::vector<UINT>{1}));  // WM_INITMENUPOPUP for the View popup
  // F10, Right, Down, Enter: the first item of View again.
  Key(kF10);
  Key(kRight, true);
  Key(kDown, true);
  Key(kEnter);
  Run();
  EXPECT_EQ(g_app.commands.back(), static_cast<UINT>(IDM_WRAP));
  EXPECT_FALSE(GetMenuState(GetMenu(main_), IDM_WRAP, MF_BYCOMMAND) & MF_CHECKED);

  // The mouse: a click on File, a click on Settings... opens the dialog; Esc cancels it.
  RECT wr;
  GetWindowRect(main_, &wr);
  POINT client{0, 0};
  ClientToScreen(main_, &client);
  const POINT file{client.x + 15, client.y - 10};
  qx::display::InjectMouseMove(file);
  qx::display::InjectMouseButton(file, 1, true);
  qx::display::InjectMouseButton(file, 1, false);
  const POINT settings{client.x + 30, client.y + 10};
  qx::display::InjectMouseMove(settings);
  qx::display::InjectMouseButton(settings, 1, true);
  qx::display::InjectMouseButton(settings, 1, false);
  Key(kEsc);
  Run();
  EXPECT_EQ(g_app.commands.back(), static_cast<UINT>(IDM_SETTINGS));
  EXPECT_EQ(g_app.dialog_result, IDCANCEL);

  // The accelerator opens the same dialog; Enter presses its default button.
  g_app.dialog_result = 0;
  KeyWith(kCtrl, ScanOf('s'));
  Key(kEnter);
  Run();
  EXPECT_EQ(g_app.dialog_result, IDOK);
  // F5's item is grayed: its accelerator sends nothing until it is enabled.
  const size_t before = g_app.commands.size();
  Key(0x3F);
  Run();
  EXPECT_EQ(g_app.commands.size(), before);
  EnableMenuItem(GetMenu(main_), IDM_REFRESH, MF_ENABLED);
  Key(0x3F);
  Run();
  EXPECT_EQ(g_app.commands.back(), static_cast<UINT>(IDM_REFRESH));

  // A renamed menu title redraws the bar.
  const std::vector<uint32_t> bar_before = BarPixels();
  HMENU view = GetSubMenu(GetMenu(main_), 1);
  ASSERT_TRUE(ModifyMenuA(GetMenu(main_), 1, MF_BYPOSITION | MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(view),
                          "&Display"));
  DrawMenuBar(main_);
  Run();
  char title[32];
  GetMenuStringA(GetMenu(main_), 1, title, sizeof title, MF_BYPOSITION);
  EXPECT_STREQ(title, "&Display");
  EXPECT_NE(BarPixels(), bar_before);

  // The owner-drawn sorted list: the owner draws each item, in sorted order.
  for (const char *s : {"charlie", "alpha", "bravo"}) SendMessageA(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
  Run();
  char first[16] = {};
  SendMessageA(list_, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(first));
  EXPECT_STREQ(first, "alpha");
  EXPECT_GE(g_app.drawn_items, 3);

  // The PNG of the window shows the edit's text: dark pixels inside the edit.
  const std::string png = qxtest::BinDir() + "/controls_app_window.png";
  ASSERT_TRUE(qx::display::SaveWindowPng(main_, png));
  qx::gdi::Surface s;
  ASSERT_TRUE(qx::display::CaptureWindow(main_, s));
  POINT edit_origin{0, 0};
  ClientToScreen(edit_, &edit_origin);
  int dark = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 200; ++x) {
      const int px = edit_origin.x - wr.left + x, py = edit_origin.y - wr.top + y;
      if (s.Contains(px, py) && (s.Get(px, py) & 0xFF) < 0x40) ++dark;
    }
  EXPECT_GT(dark, 50);
}

// Releasing Alt enters menu mode only when nothing else went down while it
// was held, also when the window took that key itself.
TEST_F(AppWindow, AltReleasedAfterAKeyTheWindowTookLeavesTheMenuBarAlone) {
  SetFocus(main_);
  KeyWith(kAlt, ScanOf('q'));
  Run();
  EXPECT_EQ(g_app.taken_keys, 1);
  EXPECT_EQ(g_app.menu_loops, 0);
  // Alt alone still enters menu mode (Esc leaves it).
  Key(kAlt);
  Key(kEsc);
  Run();
  EXPECT_EQ(g_app.menu_loops, 1);
}

}  // namespace
