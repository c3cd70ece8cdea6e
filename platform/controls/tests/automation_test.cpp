// Automation of controls: in process through ControlCommand, and from
// another process through qxauto: text and state of controls, pressing a
// button, selecting list and combo items, choosing a menu item, and driving
// the Open dialog to its end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "automation.h"
#include "qxtest/controls.h"
#include "qxtest/support.h"

using namespace qx::test;

namespace {

enum { IDC_NAME = 101, IDC_CHECK = 102, IDC_LIST = 103, IDC_COMBO = 104, IDC_BAR = 105, IDM_GO = 300, IDM_OFF = 301 };

const QX_DIALOG_ITEM kItems[] = {
    QX_EDITTEXT(IDC_NAME, 5, 5, 80, 12),
    QX_AUTOCHECKBOX("&Keep", IDC_CHECK, 5, 20, 60, 10),
    QX_CONTROL("", IDC_LIST, "ListBox", LBS_NOTIFY | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP, 5, 34, 80, 40),
    QX_COMBOBOX(IDC_COMBO, 90, 5, 60, 60, CBS_DROPDOWNLIST | WS_TABSTOP),
    QX_DEFPUSHBUTTON("OK", IDOK, 90, 60, 40, 14),
    QX_SCROLLBAR(IDC_BAR, 140, 20, 9, 30, SBS_VERT),
};
const QX_DIALOG kDialog =
    QX_DIALOG_TEMPLATE(0, 0, 160, 80, WS_POPUP | WS_CAPTION | WS_VISIBLE, "Automated", "MS Sans Serif", 8, kItems);

std::vector<std::pair<int, int>> g_commands;  // (id, code) seen by the dialog and the main window

INT_PTR CALLBACK Proc(HWND h, UINT m, WPARAM wp, LPARAM) {
  if (m == WM_INITDIALOG) {
    for (const char *s : {"one", "two", "three"}) {
      SendDlgItemMessageA(h, IDC_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
      SendDlgItemMessageA(h, IDC_COMBO, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
    }
    return TRUE;
  }
  if (m == WM_COMMAND) g_commands.push_back({LOWORD(wp), HIWORD(wp)});
  return FALSE;
}

LRESULT CALLBACK MainProc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_COMMAND && !lp) g_commands.push_back({LOWORD(wp), 0});
  return DefWindowProcA(h, m, wp, lp);
}

bool Seen(int id, int code) {
  for (auto &c : g_commands)
    if (c.first == id && c.second == code) return true;
  return false;
}

constexpr UINT kPeerDone = WM_APP + 77;  // posted to the test's thread when the other process is done

// Runs one qxauto command and gives its answer without the line end.
std::string Qxauto(const std::string &command) {
  FILE *p = popen(command.c_str(), "r");
  std::string out;
  char buf[512];
  while (p && std::fgets(buf, sizeof buf, p)) out += buf;
  if (p) pclose(p);
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

std::string Hex(HWND h) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%x", QX_HANDLE_VALUE(h));
  return buf;
}

class Automation : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { setenv("QX_AUTOMATION", "1", 1); }  // before the display starts
  void SetUp() override {
    g_commands.clear();
    WNDCLASSA wc{};
    wc.lpfnWndProc = MainProc;
    wc.lpszClassName = "QxAutoMain";
    RegisterClassA(&wc);
    HMENU menu = CreateMenu(), popup = CreatePopupMenu();
    AppendMenuA(popup, MF_STRING, IDM_GO, "&Go");
    AppendMenuA(popup, MF_STRING | MF_GRAYED, IDM_OFF, "&Off");
    AppendMenuA(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), "&Run");
    main_ = CreateWindowA("QxAutoMain", "Main", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200, nullptr, menu,
                          nullptr, nullptr);
    dlg_ = CreateDialogIndirectParamA(nullptr, &kDialog, main_, Proc, 0);
    ASSERT_NE(dlg_, nullptr);
    Pump();
  }
  void TearDown() override { DestroyAll(); }
  // Runs qxauto commands from another process while this one pumps its messages.
  std::vector<std::string> FromOutside(const std::vector<std::string> &commands) {
    const std::string qxauto = qxtest::BinDir() + "/qxauto -p " + std::to_string(getpid()) + " ";
    std::vector<std::string> replies;
    const DWORD me = GetCurrentThreadId();
    std::thread peer([&] {
      for (const std::string &c : commands) replies.push_back(Qxauto(qxauto + c));
      PostThreadMessageA(me, kPeerDone, 0, 0);
    });
    // The commands run on this thread: it serves them until the peer is done,
    // however long a loaded machine takes to start each qxauto.
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) > 0 && m.message != kPeerDone) {
      TranslateMessage(&m);
      DispatchMessageA(&m);
    }
    peer.join();
    Pump();
    return replies;
  }
  HWND main_ = nullptr, dlg_ = nullptr;
};

TEST_F(Automation, InProcessCommandsActAsAPerson) {
  using qx::controls::ControlCommand;
  HWND name = GetDlgItem(dlg_, IDC_NAME), check = GetDlgItem(dlg_, IDC_CHECK), list = GetDlgItem(dlg_, IDC_LIST),
       combo = GetDlgItem(dlg_, IDC_COMBO);
  EXPECT_EQ(ControlCommand("item", dlg_, "101"), "ok " + Hex(name));
  EXPECT_EQ(ControlCommand("settext", name, "bob"), "ok");
  EXPECT_EQ(TextOf(name), "bob");
  EXPECT_TRUE(Seen(IDC_NAME, EN_CHANGE));
  EXPECT_EQ(ControlCommand("press", check, ""), "ok");
  EXPECT_EQ(ControlCommand("state", check, ""), "ok class=button enabled=1 visible=1 check=1");
  EXPECT_TRUE(Seen(IDC_CHECK, BN_CLICKED));
  EXPECT_EQ(ControlCommand("select", list, "2"), "ok");
  EXPECT_TRUE(Seen(IDC_LIST, LBN_SELCHANGE));
  EXPECT_EQ(ControlCommand("select", list, "9"), "error no such item");
  EXPECT_EQ(ControlCommand("select", combo, "1"), "ok");
  EXPECT_EQ(TextOf(combo), "two");
  EXPECT_EQ(ControlCommand("items", combo, ""), "ok\none\ntwo\nthree");
  HWND bar = GetDlgItem(dlg_, IDC_BAR);
  SetScrollRange(bar, SB_CTL, 1, 32000, FALSE);
  SetScrollPos(bar, SB_CTL, 512, FALSE);
  EXPECT_EQ(ControlCommand("state", bar, ""), "ok class=scrollbar enabled=1 visible=1 pos=512 range=1..32000");
  EXPECT_EQ(ControlCommand("menu", main_, "301"), "error the menu item is grayed");
  EXPECT_EQ(ControlCommand("menu", main_, "300"), "ok");
  Pump();
  EXPECT_TRUE(Seen(IDM_GO, 0));
  EXPECT_EQ(ControlCommand("bogus", main_, ""), "");
}

TEST_F(Automation, FromAnotherProcess) {
  HWND name = GetDlgItem(dlg_, IDC_NAME), list = GetDlgItem(dlg_, IDC_LIST);
  const std::vector<std::string> replies = FromOutside({
      "item " + Hex(dlg_) + " 101",
      "settext " + Hex(name) + " from afar",
      "select " + Hex(list) + " 0",
      "state " + Hex(list),
      "press " + Hex(GetDlgItem(dlg_, IDC_CHECK)),
      "menu " + Hex(main_) + " 300",
  });
  ASSERT_EQ(replies.size(), 6u);
  EXPECT_EQ(replies[0], "ok " + Hex(name));
  EXPECT_EQ(replies[1], "ok");
  EXPECT_EQ(TextOf(name), "from afar");
  EXPECT_EQ(replies[3], "ok class=listbox enabled=1 visible=1 sel=0 count=3");
  EXPECT_EQ(IsDlgButtonChecked(dlg_, IDC_CHECK), BST_CHECKED);
  EXPECT_TRUE(Seen(IDM_GO, 0));
}

TEST_F(Automation, AnotherProcessDrivesTheOpenDialog) {
  char file[MAX_PATH] = {};
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = main_;
  ofn.lpstrFilter = "All Files (*.*)\0*.*\0";
  ofn.lpstrFile = file;
  ofn.nMaxFile = sizeof file;
  ofn.lpstrInitialDir = "Z:\\tmp";
  ofn.Flags = OFN_HIDEREADONLY;
  const std::string qxauto = qxtest::BinDir() + "/qxauto -p " + std::to_string(getpid()) + " ";
  std::thread peer([&] {
    auto run = [&](const std::string &c) { return Qxauto(qxauto + c); };
    // The window named by an "ok HWND" answer, else empty.
    auto handle = [](const std::string &reply) { return reply.rfind("ok ", 0) == 0 ? reply.substr(3) : ""; };
    // The dialog appears when this process gets to it: ask until it is there,
    // for as long as a loaded machine may need (well inside the test's limit).
    std::string dlg;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (dlg.empty() && std::chrono::steady_clock::now() < give_up) {
      dlg = handle(run("find - Open"));
      if (dlg.empty()) usleep(20000);
    }
    const std::string edit = dlg.empty() ? "" : handle(run("item " + dlg + " 1152"));  // the file name field
    const std::string ok_button = dlg.empty() ? "" : handle(run("item " + dlg + " 1"));
    const bool pressed = !edit.empty() && !ok_button.empty() && run("settext " + edit + " chosen.txt") == "ok" &&
                         run("press " + ok_button) == "ok";
    // Should the other process fail, the dialog is cancelled rather than left waiting.
    if (!pressed)
      if (HWND d = FindWindowA(nullptr, "Open")) PostMessageA(d, WM_COMMAND, IDCANCEL, 0);
  });
  const BOOL ok = GetOpenFileNameA(&ofn);
  peer.join();
  ASSERT_TRUE(ok);
  EXPECT_STREQ(file, "Z:\\tmp\\chosen.txt");
}

}  // namespace
