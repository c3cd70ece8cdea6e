// The EDIT control: lines and their messages, replacing the selection,
// undo, limits, styles that filter text, notifications, and typing.
#include <gtest/gtest.h>

#include <cstring>

#include "qxtest/controls.h"

using namespace qx::test;

namespace {

class Edit : public ::testing::Test {
 protected:
  void SetUp() override { parent_ = MakeParent(); }
  void TearDown() override { DestroyAll(); }
  HWND Make(DWORD style, const char *text = "") {
    HWND e = MakeChild(parent_, "Edit", style | WS_BORDER, 100, 10, 10, 300, 120, text);
    Notices().clear();
    return e;
  }
  HWND parent_ = nullptr;
};

struct LineCase {
  const char *text;
  int line_count;
  std::vector<int> line_index;  // EM_LINEINDEX of each line
  std::vector<std::string> lines;
};

TEST_F(Edit, LinesOfMultiLineText) {
  const LineCase cases[] = {
      {"", 1, {0}, {""}},
      {"abc", 1, {0}, {"abc"}},
      {"abc\r\ndef", 2, {0, 5}, {"abc", "def"}},
      {"abc\r\ndef\r\n\r\nxyz", 4, {0, 5, 10, 12}, {"abc", "def", "", "xyz"}},
      {"end\r\n", 2, {0, 5}, {"end", ""}},
  };
  for (const LineCase &c : cases) {
    HWND e = Make(ES_MULTILINE | ES_AUTOHSCROLL | ES_AUTOVSCROLL, c.text);
    SCOPED_TRACE(c.text);
    EXPECT_EQ(SendMessageA(e, EM_GETLINECOUNT, 0, 0), c.line_count);
    for (size_t i = 0; i < c.line_index.size(); ++i) {
      EXPECT_EQ(SendMessageA(e, EM_LINEINDEX, i, 0), c.line_index[i]);
      EXPECT_EQ(SendMessageA(e, EM_LINEFROMCHAR, c.line_index[i], 0), static_cast<LRESULT>(i));
      EXPECT_EQ(SendMessageA(e, EM_LINELENGTH, c.line_index[i], 0), static_cast<LRESULT>(c.lines[i].size()));
      char buf[64];
      const WORD cap = sizeof buf;
      std::memcpy(buf, &cap, sizeof cap);
      const LRESULT n = SendMessageA(e, EM_GETLINE, i, reinterpret_cast<LPARAM>(buf));
      EXPECT_EQ(std::string(buf, static_cast<size_t>(n)), c.lines[i]);
    }
    EXPECT_EQ(SendMessageA(e, EM_LINEINDEX, c.line_count, 0), -1);
    DestroyWindow(e);
  }
}

TEST_F(Edit, GetLineHonoursTheSizeInItsFirstWord) {
  HWND e = Make(ES_MULTILINE, "abcdef\r\nxy");
  char buf[16] = {};
  const WORD cap = 3;
  std::memcpy(buf, &cap, sizeof cap);
  EXPECT_EQ(SendMessageA(e, EM_GETLINE, 0, reinterpret_cast<LPARAM>(buf)), 3);
  EXPECT_EQ(std::string(buf, 3), "abc");
  EXPECT_EQ(SendMessageA(e, EM_GETLINE, 5, reinterpret_cast<LPARAM>(buf)), 0);
}

struct ReplaceCase {
  DWORD style;
  const char *initial;
  int sel_start, sel_end;
  const char *insert;
  const char *expect;
  int caret;
};

TEST_F(Edit, ReplaceSelTable) {
  const ReplaceCase cases[] = {
      {ES_MULTILINE, "hello world", 6, 11, "there", "hello there", 11},
      {ES_MULTILINE, "abc", 3, 3, "\ndef", "abc\r\ndef", 8},  // a bare LF is stored as CR LF
      {ES_MULTILINE, "abc", 0, 0, "x\r\ny\r\n", "x\r\ny\r\nabc", 6},
      {0, "abc", 3, 3, "de\r\nfg", "abcde", 5},  // a single line keeps the first line
      {ES_UPPERCASE, "", 0, 0, "MiXed", "MIXED", 5},
      {ES_LOWERCASE, "", 0, 0, "MiXed", "mixed", 5},
      {ES_MULTILINE, "abcdef", 1, -1, "Z", "aZ", 2},  // -1 ends the selection at the end
  };
  for (const ReplaceCase &c : cases) {
    SCOPED_TRACE(std::string(c.initial) + " <- " + c.insert);
    HWND e = Make(c.style, c.initial);
    SendMessageA(e, EM_SETSEL, c.sel_start, c.sel_end);
    SendMessageA(e, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(c.insert));
    EXPECT_EQ(TextOf(e), c.expect);
    DWORD s = 0, t = 0;
    SendMessageA(e, EM_GETSEL, reinterpret_cast<WPARAM>(&s), reinterpret_cast<LPARAM>(&t));
    EXPECT_EQ(static_cast<int>(s), c.caret);
    EXPECT_EQ(static_cast<int>(t), c.caret);
    EXPECT_TRUE(SendMessageA(e, EM_GETMODIFY, 0, 0));
    DestroyWindow(e);
  }
}

TEST_F(Edit, UndoSwapsWithTheLastChangeAndSetTextForgetsIt) {
  HWND e = Make(ES_MULTILINE, "one");
  EXPECT_FALSE(SendMessageA(e, EM_CANUNDO, 0, 0));
  SendMessageA(e, EM_SETSEL, 3, 3);
  SendMessageA(e, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(" two"));
  EXPECT_TRUE(SendMessageA(e, EM_CANUNDO, 0, 0));
  EXPECT_TRUE(SendMessageA(e, EM_UNDO, 0, 0));
  EXPECT_EQ(TextOf(e), "one");
  EXPECT_TRUE(SendMessageA(e, EM_UNDO, 0, 0));  // undoing the undo redoes
  EXPECT_EQ(TextOf(e), "one two");
  SendMessageA(e, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>("!"));  // not undoable: keeps the old undo
  EXPECT_EQ(TextOf(e), "one two!");
  SetWindowTextA(e, "fresh");
  EXPECT_FALSE(SendMessageA(e, EM_CANUNDO, 0, 0));
  EXPECT_FALSE(SendMessageA(e, EM_GETMODIFY, 0, 0));
}

TEST_F(Edit, LimitTruncatesAndNotifiesMaxText) {
  HWND e = Make(ES_AUTOHSCROLL);
  SendMessageA(e, EM_LIMITTEXT, 5, 0);
  EXPECT_EQ(SendMessageA(e, EM_GETLIMITTEXT, 0, 0), 5);
  SendMessageA(e, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>("abcdefg"));
  EXPECT_EQ(TextOf(e), "abcde");
  const std::vector<int> codes = CodesFrom(100);
  EXPECT_NE(std::find(codes.begin(), codes.end(), EN_MAXTEXT), codes.end());
  EXPECT_NE(std::find(codes.begin(), codes.end(), EN_CHANGE), codes.end());
  // A CR LF pair is never split by the limit.
  HWND m = Make(ES_MULTILINE);
  SendMessageA(m, EM_LIMITTEXT, 4, 0);
  SendMessageA(m, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>("abc\r\nd"));
  EXPECT_EQ(TextOf(m), "abc");
  SendMessageA(m, EM_LIMITTEXT, 0, 0);  // 0: as much as can be held
  EXPECT_GT(SendMessageA(m, EM_GETLIMITTEXT, 0, 0), 0x10000);
}

TEST_F(Edit, TypedLinesReachTheTextAsCrLf) {
  HWND e = Make(ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN);
  SetFocus(e);
  Type("first line");
  Key(kEnter);
  Type("second");
  Key(kEnter);
  Pump();
  EXPECT_EQ(TextOf(e), "first line\r\nsecond\r\n");
  EXPECT_EQ(SendMessageA(e, EM_GETLINECOUNT, 0, 0), 3);
  // Backspace removes the whole line break.
  Key(0x0E);
  Pump();
  EXPECT_EQ(TextOf(e), "first line\r\nsecond");
  // Shift+Home selects to the start of the line; typing replaces it.
  KeyWith(kShift, kHome, true);
  Type("2nd");
  Pump();
  EXPECT_EQ(TextOf(e), "first line\r\n2nd");
}

TEST_F(Edit, ReadOnlyPasswordAndNumberStyles) {
  HWND ro = Make(ES_READONLY, "fixed");
  SetFocus(ro);
  Type("xyz");
  Pump();
  EXPECT_EQ(TextOf(ro), "fixed");
  HWND pw = Make(ES_PASSWORD);
  EXPECT_EQ(SendMessageA(pw, EM_GETPASSWORDCHAR, 0, 0), '*');
  SetFocus(pw);
  Type("secret");
  Pump();
  EXPECT_EQ(TextOf(pw), "secret");  // the program reads the real text
  HWND num = Make(ES_NUMBER);
  SetFocus(num);
  Type("4a2");
  Pump();
  EXPECT_EQ(TextOf(num), "42");
}

TEST_F(Edit, ScrollBarAndLineScrollingFollowEachOther) {
  HWND e = MakeChild(parent_, "Edit", ES_MULTILINE | ES_AUTOVSCROLL | WS_VSCROLL | WS_BORDER, 103, 10, 10, 200, 60, "");
  std::string text;
  for (int i = 0; i < 30; ++i) text += "line " + std::to_string(i) + "\r\n";
  SetWindowTextA(e, text.c_str());
  SendMessageA(e, WM_VSCROLL, SB_LINEDOWN, 0);
  SendMessageA(e, WM_VSCROLL, SB_LINEDOWN, 0);
  EXPECT_EQ(SendMessageA(e, EM_GETFIRSTVISIBLELINE, 0, 0), 2);
  EXPECT_EQ(GetScrollPos(e, SB_VERT), 2);
  SendMessageA(e, WM_VSCROLL, SB_TOP, 0);
  EXPECT_EQ(SendMessageA(e, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
  // Moving the caret to the end scrolls it into view.
  SendMessageA(e, EM_SETSEL, text.size(), text.size());
  EXPECT_GT(SendMessageA(e, EM_GETFIRSTVISIBLELINE, 0, 0), 20);
  EXPECT_EQ(GetScrollPos(e, SB_VERT), SendMessageA(e, EM_GETFIRSTVISIBLELINE, 0, 0));
}

TEST_F(Edit, WordWrapMakesSoftLinesWithoutChangingTheText) {
  HWND e = MakeChild(parent_, "Edit", ES_MULTILINE | WS_BORDER, 101, 10, 10, 80, 200,
                     "the quick brown fox jumps over the lazy dog");
  EXPECT_GT(SendMessageA(e, EM_GETLINECOUNT, 0, 0), 2);
  EXPECT_EQ(TextOf(e), "the quick brown fox jumps over the lazy dog");
  const LRESULT second = SendMessageA(e, EM_LINEINDEX, 1, 0);
  EXPECT_GT(second, 0);
  EXPECT_EQ(SendMessageA(e, EM_LINEFROMCHAR, second, 0), 1);
}

TEST_F(Edit, CutCopyPasteAndClearThroughTheClipboard) {
  HWND a = Make(0, "copy me");
  HWND b = MakeChild(parent_, "Edit", WS_BORDER, 102, 10, 150, 200, 24, "");
  SendMessageA(a, EM_SETSEL, 0, 4);
  SendMessageA(a, WM_COPY, 0, 0);
  SendMessageA(b, WM_PASTE, 0, 0);
  EXPECT_EQ(TextOf(b), "copy");
  SendMessageA(a, EM_SETSEL, 4, -1);
  SendMessageA(a, WM_CUT, 0, 0);
  EXPECT_EQ(TextOf(a), "copy");
  SendMessageA(b, WM_PASTE, 0, 0);
  EXPECT_EQ(TextOf(b), "copy me");
  SendMessageA(b, EM_SETSEL, 0, 5);
  SendMessageA(b, WM_CLEAR, 0, 0);
  EXPECT_EQ(TextOf(b), "me");
}

}  // namespace
