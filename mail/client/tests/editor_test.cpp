// The message editor: the word wrap of the caret's line as a table of lines
// and carets, including a file, and the editor window's Save and Cancel on a
// headless display.
#include <gtest/gtest.h>

#include <filesystem>

#include "editor.h"
#include "person.h"
#include "retrieve.h"
#include "settings.h"
#include "test_support.h"

using namespace mailtest;

namespace {

const HeadlessDisplay g_headless;

std::vector<std::string> g_boxes;
int g_answer = IDYES;
int WINAPI RecordBox(HWND, LPCSTR text, LPCSTR caption, UINT) {
  g_boxes.push_back(std::string(caption) + ": " + text);
  return g_answer;
}

class EditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_MailMessageBox = RecordBox;
    g_boxes.clear();
    g_answer = IDYES;
    Settings() = MAIL_SETTINGS{};
    parent = CreateWindowA("Static", "", WS_OVERLAPPED, 0, 0, 600, 400, nullptr, nullptr, nullptr, nullptr);
    edit = CreateWindowA("Edit", "", WS_CHILD | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL, 0, 0, 600, 400, parent,
                         nullptr, nullptr, nullptr);
    SendMessageA(edit, EM_LIMITTEXT, 0, 0);
  }
  void TearDown() override {
    DestroyWindow(parent);
    g_MailMessageBox = MessageBoxA;
  }
  std::string Text() {
    std::string text(static_cast<size_t>(GetWindowTextLengthA(edit)) + 1, '\0');
    GetWindowTextA(edit, text.data(), static_cast<int>(text.size()));
    text.pop_back();
    return text;
  }
  DWORD Caret() {
    DWORD start = 0, end = 0;
    SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return end;
  }
  HWND parent = nullptr, edit = nullptr;
  TempDir dir;
};

TEST_F(EditorTest, CaretLineWrapsAtTheColumn) {
  const struct {
    const char *what;
    std::string text;
    DWORD caret;
    std::string wrapped;
    DWORD after;
  } cases[] = {
      {"typing at the end of the last line: the word starts a new line", "aaaa bbbb cccc dddd eeee", 24,
       "aaaa bbbb cccc dddd\r\neeee", 25},
      {"no blank: a hard break at the column", std::string(25, 'x'), 25,
       std::string(20, 'x') + "\r\n" + std::string(5, 'x'), 27},
      {"a TAB at the start counts as 8 columns", "\taaaa bbbb cccc dddd e", 22, "\taaaa bbbb\r\ncccc dddd e", 23},
      {"editing inside the line: the word joins the next line", "aaaa bbbb cccc dddd eeee\r\nnext", 2,
       "aaaa bbbb cccc dddd\r\neeee next", 2},
      {"typing at the end of a line with a successor", "aaaa bbbb cccc dddd eeee\r\nnext", 24,
       "aaaa bbbb cccc dddd\r\neeee\r\nnext", 25},
      {"not longer than the column: nothing moves", "aaaa bbbb cccc dddd!", 20, "aaaa bbbb cccc dddd!", 20},
  };
  for (const auto &c : cases) {
    SetWindowTextA(edit, c.text.c_str());
    SendMessageA(edit, EM_SETSEL, c.caret, c.caret);
    WrapCaretLine(edit, 20);
    EXPECT_EQ(Text(), c.wrapped) << c.what;
    EXPECT_EQ(Caret(), c.after) << c.what;
  }
}

TEST_F(EditorTest, IncludedFilesComeInWithCrLfAndLargeOnesAreRefused) {
  WriteFile(dir / "unix.txt", "one\ntwo\r\nthree\rfour");
  EXPECT_EQ(IncludeTextFile(edit, dir / "unix.txt"), 1);
  EXPECT_EQ(Text(), "one\r\ntwo\r\nthree\r\nfour");
  WriteFile(dir / "big.txt", std::string(70000, 'b'));
  EXPECT_EQ(IncludeTextFile(edit, dir / "big.txt"), 0);
  EXPECT_EQ(IncludeTextFile(edit, dir / "missing.txt"), 0);
  EXPECT_EQ(g_boxes,
            (std::vector<std::string>{"Include: File too large to include", "Include: Unable to include file"}));
  EXPECT_EQ(Text(), "one\r\ntwo\r\nthree\r\nfour");
}

// Text selected in the editor is replaced by the file, and that is no failure.
TEST_F(EditorTest, AnIncludedFileReplacesTheSelection) {
  WriteFile(dir / "part.txt", "new\n");
  SetWindowTextA(edit, "keep SELECTED keep");
  SendMessageA(edit, EM_SETSEL, 5, 13);
  EXPECT_EQ(IncludeTextFile(edit, dir / "part.txt"), 1);
  EXPECT_EQ(Text(), "keep new\r\n keep");
  EXPECT_EQ(g_boxes, std::vector<std::string>{});
}

TEST_F(EditorTest, SaveWritesWholeLinesAndCancelLeavesTheFile) {
  const std::string body = dir / "body.txt";
  WriteFile(body, "as it was\n");
  person::Person cancel;
  cancel.Then("Message", [](HWND w) {
    SetWindowTextA(GetDlgItem(w, kEditorControl), "changed");
    PostMessageA(w, WM_COMMAND, IDM_EDIT_CANCEL, 0);
  });
  person::WithPerson(cancel, [&] { EditMessage(body, nullptr); });
  EXPECT_EQ(ReadFile(body), "as it was\n");
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0],
            "Cancel current edit buffer: This action will discard the current edit buffer.  Cancel anyway?");

  const std::string longLine(3000, 'L');
  person::Person save;
  save.Then("Message", [&](HWND w) {
    HWND e = GetDlgItem(w, kEditorControl);
    EXPECT_EQ(GetWindowTextLengthA(e), 11);  // the file came in as CR LF lines
    SetWindowTextA(e, ("first\r\n" + longLine + "\r\nlast").c_str());
    PostMessageA(w, WM_COMMAND, IDM_EDIT_SAVE, 0);
  });
  person::WithPerson(save, [&] { EditMessage(body, nullptr); });
  EXPECT_EQ(qxtest::ReadFile(body), "first\r\n" + longLine + "\r\nlast\r\n");  // text mode on disk
}

}  // namespace
