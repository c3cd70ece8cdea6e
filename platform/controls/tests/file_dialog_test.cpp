// GetOpenFileNameA and GetSaveFileNameA driven headless over a directory of
// fixtures (under drive Z:, the host file system): filters, the default extension, the
// old-style multi-select result, the prompts answered, hooks and errors.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "qxtest/controls.h"
#include "qx/window.h"
#include "qxtest/support.h"

using namespace qx::test;

namespace {

// The fixtures: made once, before the layer reads its drive table.
struct Fixtures {
  qxtest::TempDir scratch{"qx-filedlg"};
  std::string dir = scratch.path();
  Fixtures() {
    for (const char *f : {"a.txt", "b.txt", "readme.doc", "notes.log"}) {
      FILE *fp = std::fopen((dir + "/" + f).c_str(), "w");
      if (fp) std::fclose(fp);
    }
    mkdir((dir + "/sub").c_str(), 0700);
    win = "Z:" + dir;
    for (char &c : win)
      if (c == '/') c = '\\';
  }
  std::string win;  // the directory as the program names it
  std::string Path(const std::string &name) const { return win + "\\" + name; }
} g_fixtures;

struct Steps {
  std::vector<std::function<void(HWND)>> steps;
  size_t next = 0;
  std::vector<std::string> prompts;
  std::vector<int> answers;  // given to the prompts in order
  int idle = 0;
};
Steps *g_steps = nullptr;

HWND OpenDialog() {
  for (auto &w : qx::LocalWindows())
    if (!w->parent && GetDlgItem(w->hwnd, edt1) && IsWindowVisible(w->hwnd)) return w->hwnd;
  return nullptr;
}

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
  HWND dlg = OpenDialog();
  if (!g_steps || !dlg || !InputDrained()) return;
  if (g_steps->next < g_steps->steps.size()) {
    g_steps->steps[g_steps->next++](dlg);
  } else if (++g_steps->idle > 50) {
    PostMessageA(dlg, WM_COMMAND, IDCANCEL, 0);  // a test that went wrong ends rather than hangs
  }
}

int Answer(HWND, LPCSTR text, LPCSTR, UINT) {
  if (!g_steps) return IDCANCEL;
  g_steps->prompts.push_back(text);
  if (g_steps->answers.empty()) return IDOK;
  const int a = g_steps->answers.front();
  g_steps->answers.erase(g_steps->answers.begin());
  return a;
}

std::vector<std::string> Items(HWND dlg, int id) {
  std::vector<std::string> out;
  const int n = static_cast<int>(SendDlgItemMessageA(dlg, id, LB_GETCOUNT, 0, 0));
  for (int i = 0; i < n; ++i) {
    char buf[MAX_PATH] = {};
    SendDlgItemMessageA(dlg, id, LB_GETTEXT, i, reinterpret_cast<LPARAM>(buf));
    out.push_back(buf);
  }
  return out;
}

void TypeName(HWND dlg, const std::string &name) {
  SetFocus(GetDlgItem(dlg, edt1));
  SendDlgItemMessageA(dlg, edt1, EM_SETSEL, 0, -1);
  Type(name);
  Key(kEnter);
}

class FileDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    qx::SetMessageBoxAnswerHook(Answer);
    owner_ = MakeParent();
    std::memset(&ofn_, 0, sizeof ofn_);
    std::memset(file_, 0, sizeof file_);
    ofn_.lStructSize = sizeof ofn_;
    ofn_.hwndOwner = owner_;
    ofn_.lpstrFilter = "Text Files (*.txt)\0*.txt\0All Files (*.*)\0*.*\0";
    ofn_.nFilterIndex = 1;
    ofn_.lpstrFile = file_;
    ofn_.nMaxFile = sizeof file_;
    ofn_.lpstrInitialDir = g_fixtures.win.c_str();
  }
  void TearDown() override {
    qx::SetMessageBoxAnswerHook(nullptr);
    g_steps = nullptr;
    DestroyAll();
  }
  BOOL Drive(Steps &s, bool save) {
    g_steps = &s;
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, Tick);
    const BOOL r = save ? GetSaveFileNameA(&ofn_) : GetOpenFileNameA(&ofn_);
    KillTimer(nullptr, timer);
    return r;
  }
  HWND owner_ = nullptr;
  OPENFILENAMEA ofn_;
  char file_[512];
};

TEST_F(FileDialogs, OpenFiltersTheListAndReturnsTheChosenFile) {
  Steps s;
  std::vector<std::string> first, all;
  s.steps = {
      [&](HWND d) {
        first = Items(d, lst1);
        EXPECT_EQ(Items(d, lst2), (std::vector<std::string>{"[..]", "[sub]"}));
        SetFocus(GetDlgItem(d, cmb1));
        Key(kDown, true);  // the next file type: All Files
      },
      [&](HWND d) {
        all = Items(d, lst1);
        TypeName(d, "notes.log");
      },
  };
  ofn_.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
  ASSERT_TRUE(Drive(s, false));
  EXPECT_EQ(first, (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_EQ(all, (std::vector<std::string>{"a.txt", "b.txt", "notes.log", "readme.doc"}));
  EXPECT_EQ(std::string(file_), g_fixtures.Path("notes.log"));
  EXPECT_EQ(ofn_.nFileOffset, g_fixtures.win.size() + 1);
  EXPECT_EQ(ofn_.nFileExtension, g_fixtures.win.size() + 7);
  EXPECT_EQ(ofn_.nFilterIndex, 2u);
}

TEST_F(FileDialogs, FileMustExistPromptsAndCancelReturnsFalse) {
  Steps s;
  s.steps = {[](HWND d) { TypeName(d, "missing.txt"); }, [](HWND) { Key(kEsc); }};
  ofn_.Flags = OFN_FILEMUSTEXIST;
  EXPECT_FALSE(Drive(s, false));
  EXPECT_EQ(CommDlgExtendedError(), 0u);
  ASSERT_EQ(s.prompts.size(), 1u);
  EXPECT_EQ(s.prompts[0],
            g_fixtures.Path("missing.txt") + "\nFile not found.\nPlease verify the correct filename was given.");
}

TEST_F(FileDialogs, SaveAddsTheDefaultExtensionAndAsksBeforeReplacing) {
  Steps s;
  s.steps = {[](HWND d) { TypeName(d, "report"); }};
  ofn_.lpstrDefExt = "txt";
  ofn_.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY;
  ASSERT_TRUE(Drive(s, true));
  EXPECT_EQ(std::string(file_), g_fixtures.Path("report.txt"));
  EXPECT_TRUE(s.prompts.empty());
  // An existing file: No keeps the dialog, Yes replaces.
  Steps again;
  again.answers = {IDNO, IDYES};
  again.steps = {[](HWND d) { TypeName(d, "a"); }, [](HWND d) { TypeName(d, "a.txt"); }};
  ASSERT_TRUE(Drive(again, true));
  EXPECT_EQ(std::string(file_), g_fixtures.Path("a.txt"));
  ASSERT_EQ(again.prompts.size(), 2u);
  EXPECT_EQ(again.prompts[0], g_fixtures.Path("a.txt") + " already exists.\nDo you want to replace it?");
}

TEST_F(FileDialogs, MultipleSelectionGivesTheOldStyleResult) {
  Steps s;
  s.steps = {[](HWND d) {
    HWND list = GetDlgItem(d, lst1);
    SetFocus(list);
    RECT r0, r1;
    SendMessageA(list, LB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&r0));
    SendMessageA(list, LB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&r1));
    SendMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(r0.left + 3, r0.top + 2));
    SendMessageA(list, WM_LBUTTONUP, 0, MAKELPARAM(r0.left + 3, r0.top + 2));
    SendMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON | MK_CONTROL, MAKELPARAM(r1.left + 3, r1.top + 2));
    SendMessageA(list, WM_LBUTTONUP, MK_CONTROL, MAKELPARAM(r1.left + 3, r1.top + 2));
    Key(kEnter);
  }};
  ofn_.Flags = OFN_ALLOWMULTISELECT | OFN_FILEMUSTEXIST;
  ASSERT_TRUE(Drive(s, false));
  EXPECT_EQ(std::string(file_), g_fixtures.win + " a.txt b.txt");
  EXPECT_EQ(ofn_.nFileOffset, g_fixtures.win.size() + 1);
}

TEST_F(FileDialogs, ASmallBufferIsReportedWithTheSizeNeeded) {
  Steps s;
  s.steps = {[](HWND d) { TypeName(d, "readme.doc"); }};
  ofn_.nMaxFile = 6;
  EXPECT_FALSE(Drive(s, false));
  EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(FNERR_BUFFERTOOSMALL));
  WORD need = 0;
  std::memcpy(&need, file_, sizeof need);
  EXPECT_EQ(need, g_fixtures.Path("readme.doc").size() + 2);
  ofn_.lStructSize = 12;
  EXPECT_FALSE(GetOpenFileNameA(&ofn_));
  EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_STRUCTSIZE));
}

UINT g_hook_init = 0, g_hook_fileok = 0;
UINT_PTR CALLBACK Hook(HWND d, UINT m, WPARAM, LPARAM lp) {
  static const UINT fileok = RegisterWindowMessageA(FILEOKSTRING);
  if (m == WM_INITDIALOG && reinterpret_cast<OPENFILENAMEA *>(lp)->lCustData == 42) ++g_hook_init;
  if (m == fileok) {
    ++g_hook_fileok;
    // The first name offered is refused.
    SetWindowLongA(d, DWL_MSGRESULT, g_hook_fileok == 1 ? 1 : 0);
    return TRUE;
  }
  return FALSE;
}

TEST_F(FileDialogs, HookSeesInitAndMayRefuseAName) {
  Steps s;
  s.steps = {[](HWND d) { TypeName(d, "a.txt"); }, [](HWND d) { TypeName(d, "b.txt"); }};
  ofn_.Flags = OFN_ENABLEHOOK;
  ofn_.lpfnHook = Hook;
  ofn_.lCustData = 42;
  ASSERT_TRUE(Drive(s, false));
  EXPECT_EQ(g_hook_init, 1u);
  EXPECT_EQ(g_hook_fileok, 2u);
  EXPECT_EQ(std::string(file_), g_fixtures.Path("b.txt"));
}

}  // namespace
