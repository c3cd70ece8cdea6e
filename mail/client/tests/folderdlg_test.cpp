// The folder dialogs on a headless display, answered from a timer as a person
// would: creating a folder (and a refused name), choosing a move target, and
// removing a folder (refused while it has a subfolder).
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "folderdlg.h"
#include "folders.h"
#include "mailstore.h"
#include "retrieve.h"
#include "settings.h"
#include "test_support.h"

using namespace mailtest;
namespace fs = std::filesystem;

namespace {

const HeadlessDisplay g_headless;

std::vector<std::string> g_boxes;
int WINAPI RecordBox(HWND, LPCSTR text, LPCSTR caption, UINT) {
  g_boxes.push_back(std::string(caption) + ": " + text);
  return IDOK;
}

// The steps a person takes in the dialog of the given caption, one a tick.
std::vector<std::function<void(HWND)>> g_steps;
const char *g_caption = nullptr;
size_t g_step = 0;
void CALLBACK NextStep(HWND, UINT, UINT_PTR, DWORD) {
  HWND d = FindWindowA(nullptr, g_caption);
  if (!d || g_step >= g_steps.size()) return;
  g_steps[g_step++](d);
}

void Select(HWND d, const char *row) {
  const LRESULT at = SendDlgItemMessageA(d, IDC_FOLDER_LIST, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                         reinterpret_cast<LPARAM>(row));
  SendDlgItemMessageA(d, IDC_FOLDER_LIST, LB_SETCURSEL, static_cast<WPARAM>(at), 0);
}
void Click(HWND d, int id) { SendDlgItemMessageA(d, id, BM_CLICK, 0, 0); }
std::string SelectedText(HWND d) {
  const LRESULT at = SendDlgItemMessageA(d, IDC_FOLDER_LIST, LB_GETCURSEL, 0, 0);
  char text[128] = {};
  if (at >= 0)
    SendDlgItemMessageA(d, IDC_FOLDER_LIST, LB_GETTEXT, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(text));
  return text;
}

class FolderDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_MailMessageBox = RecordBox;
    g_boxes.clear();
    g_FolderListChanged = 0;
    Settings() = MAIL_SETTINGS{};
    Settings().mailDir = dir / "mail";
    fs::create_directories(dir / "mail");
    ASSERT_EQ(StoreCreateFolder(Settings().mailDir), 0);
    std::string path;
    ASSERT_EQ(CreateFolderNamed(Settings().mailDir, "a", a), 0);
    ASSERT_EQ(CreateFolderNamed(a, "b", b), 0);
    ASSERT_EQ(CreateFolderNamed(Settings().mailDir, "c", c), 0);
  }
  void TearDown() override { g_MailMessageBox = MessageBoxA; }
  template <typename Run>
  INT_PTR Drive(const char *caption, std::vector<std::function<void(HWND)>> steps, Run run) {
    g_caption = caption;
    g_steps = std::move(steps);
    g_step = 0;
    const UINT_PTR timer = SetTimer(nullptr, 0, 30, NextStep);
    const INT_PTR result = run();
    KillTimer(nullptr, timer);
    EXPECT_EQ(g_step, g_steps.size()) << "steps left undone in " << caption;
    return result;
  }
  TempDir dir;
  std::string a, b, c;
};

}  // namespace

TEST_F(FolderDialogTest, NewFolderCreatesOrRefuses) {
  std::string seen;
  EXPECT_EQ(Drive("Create Folder", {[&](HWND d) {
                    seen = SelectedText(d);  // the main folder row is chosen at first
                    SetDlgItemTextA(d, IDC_FOLDER_NAME, "Projects");
                    Select(d, "a");
                    Click(d, IDOK);
                  }},
                  [] { return NewFolderDialog(nullptr); }),
            1);
  EXPECT_EQ(seen, "Main Folder");
  EXPECT_TRUE(fs::exists(Host(IndexPath(a + "\\Projects"))));
  EXPECT_EQ(Settings().lastTargetFolder, a + "\\Projects");
  EXPECT_EQ(g_FolderListChanged, 1);

  EXPECT_EQ(Drive("Create Folder", {[](HWND d) {
                    SetDlgItemTextA(d, IDC_FOLDER_NAME, "..");
                    Click(d, IDOK);
                  }},
                  [] { return NewFolderDialog(nullptr); }),
            1);
  EXPECT_EQ(g_boxes, std::vector<std::string>{"Create Folder: Invalid Folder Name; Folder not Created."});
  EXPECT_EQ(Drive("Create Folder", {[](HWND d) { Click(d, IDOK); }}, [] { return NewFolderDialog(nullptr); }), 2);
  EXPECT_EQ(Drive("Create Folder", {[](HWND d) { Click(d, IDCANCEL); }}, [] { return NewFolderDialog(nullptr); }), 2);
}

TEST_F(FolderDialogTest, MoveChoosesATarget) {
  Settings().lastTargetFolder = c;
  std::string target, seen;
  EXPECT_EQ(Drive("Move Messages", {[&](HWND d) {
                    seen = SelectedText(d);  // the last target is chosen at first
                    Select(d, "b");
                    Click(d, IDOK);
                  }},
                  [&] { return MoveFolderDialog(nullptr, target); }),
            1);
  EXPECT_EQ(seen, "c");
  EXPECT_EQ(target, b);
  EXPECT_EQ(Settings().lastTargetFolder, b);
  EXPECT_EQ(Drive("Move Messages", {[](HWND d) {
                    SendDlgItemMessageA(d, IDC_FOLDER_LIST, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
                    Click(d, IDOK);
                  }},
                  [&] { return MoveFolderDialog(nullptr, target); }),
            0);
  EXPECT_EQ(g_boxes, std::vector<std::string>{"Move: No Folder Selected; Move Cancelled."});
}

TEST_F(FolderDialogTest, DeleteRefusesSubfoldersThenRemoves) {
  std::string first;
  EXPECT_EQ(Drive("Delete Folder",
                  {[&](HWND d) {
                     first = SelectedText(d);  // no inbox row: the first folder
                     Select(d, "a");
                     Click(d, IDOK);
                   },
                   [](HWND d) {
                     Select(d, "c");
                     Click(d, IDOK);
                   }},
                  [] { return DeleteFolderDialog(nullptr); }),
            1);
  EXPECT_NE(first, "New Mail");
  EXPECT_EQ(g_boxes, std::vector<std::string>{"Cannot Delete Folder: Folder has subfolders"});
  EXPECT_TRUE(fs::exists(Host(b)));
  EXPECT_FALSE(fs::exists(Host(c)));
  EXPECT_EQ(g_FolderListChanged, 1);
}
