// The COMBOBOX control in its three kinds: the CB_ messages, the field
// following the selection, the list dropping down and closing, and the CBN_
// notifications of a person's keys.
#include <gtest/gtest.h>

#include "qxtest/controls.h"

using namespace qx::test;

namespace {

class Combo : public ::testing::Test {
 protected:
  void SetUp() override { parent_ = MakeParent(); }
  void TearDown() override { DestroyAll(); }
  HWND Make(DWORD kind) {
    HWND c = MakeChild(parent_, "ComboBox", kind | CBS_SORT | WS_VSCROLL | WS_TABSTOP, 300, 10, 10, 150, 120);
    for (const char *s : {"ftp.site.org", "archive.edu", "mirror.net"})
      SendMessageA(c, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
    Notices().clear();
    return c;
  }
  HWND parent_ = nullptr;
};

struct MessageCase {
  UINT msg;
  WPARAM wp;
  const char *lp_text;
  LRESULT result;
  int cursel_after;
  const char *text_after;
};

TEST_F(Combo, MessagesOfEachKind) {
  const MessageCase cases[] = {
      {CB_GETCOUNT, 0, nullptr, 3, -1, ""},
      {CB_SETCURSEL, 1, nullptr, 1, 1, "ftp.site.org"},
      {CB_SETCURSEL, 7, nullptr, CB_ERR, -1, ""},
      {CB_FINDSTRING, static_cast<WPARAM>(-1), "MIR", 2, -1, ""},
      {CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), "mirror", CB_ERR, -1, ""},
      {CB_SELECTSTRING, static_cast<WPARAM>(-1), "arch", 0, 0, "archive.edu"},
      {CB_INSERTSTRING, 0, "zzz", 0, -1, ""},
      {CB_DELETESTRING, 2, nullptr, 2, -1, ""},
      {CB_DELETESTRING, 9, nullptr, CB_ERR, -1, ""},
  };
  for (DWORD kind :
       {static_cast<DWORD>(CBS_SIMPLE), static_cast<DWORD>(CBS_DROPDOWN), static_cast<DWORD>(CBS_DROPDOWNLIST)}) {
    for (const MessageCase &c : cases) {
      HWND cb = Make(kind);
      SCOPED_TRACE("kind " + std::to_string(kind) + " message " + std::to_string(c.msg));
      EXPECT_EQ(SendMessageA(cb, c.msg, c.wp, reinterpret_cast<LPARAM>(c.lp_text)), c.result);
      EXPECT_EQ(SendMessageA(cb, CB_GETCURSEL, 0, 0), c.cursel_after);
      EXPECT_EQ(TextOf(cb), c.text_after);
      DestroyWindow(cb);
    }
  }
}

TEST_F(Combo, LimitsAndEditSelectionBelongToTheEditableKinds) {
  HWND list = Make(CBS_DROPDOWNLIST);
  EXPECT_EQ(SendMessageA(list, CB_LIMITTEXT, 5, 0), CB_ERR);
  EXPECT_EQ(SetWindowTextA(list, "mirror.net"), TRUE);  // selects the item with that text
  EXPECT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), 2);
  HWND edit = Make(CBS_DROPDOWN);
  EXPECT_TRUE(SendMessageA(edit, CB_LIMITTEXT, 5, 0));
  SetFocus(edit);
  Type("abcdefgh");
  Pump();
  EXPECT_EQ(TextOf(edit), "abcde");
  const std::vector<int> codes = CodesFrom(300);
  EXPECT_NE(std::find(codes.begin(), codes.end(), CBN_EDITCHANGE), codes.end());
  EXPECT_NE(std::find(codes.begin(), codes.end(), CBN_SETFOCUS), codes.end());
}

TEST_F(Combo, KeysDropTheListAndChooseAsAPersonDoes) {
  HWND cb = Make(CBS_DROPDOWNLIST);
  SetFocus(cb);
  Pump();
  Notices().clear();
  Key(kDown, true);  // closed: Down selects the next item
  Pump();
  EXPECT_EQ(SendMessageA(cb, CB_GETCURSEL, 0, 0), 0);
  Key(0x3E);  // F4 drops the list
  Pump();
  EXPECT_TRUE(SendMessageA(cb, CB_GETDROPPEDSTATE, 0, 0));
  Key(kDown, true);
  Key(kEnter);
  Pump();
  EXPECT_FALSE(SendMessageA(cb, CB_GETDROPPEDSTATE, 0, 0));
  EXPECT_EQ(TextOf(cb), "ftp.site.org");
  EXPECT_EQ(CodesFrom(300), (std::vector<int>{CBN_SELCHANGE, CBN_DROPDOWN, CBN_SELCHANGE, CBN_CLOSEUP, CBN_SELENDOK}));
  Notices().clear();
  KeyWith(kAlt, kDown, true);
  Key(kEsc);
  Pump();
  EXPECT_EQ(CodesFrom(300), (std::vector<int>{CBN_DROPDOWN, CBN_CLOSEUP, CBN_SELENDCANCEL}));
  Type("m");  // the first letter selects
  Pump();
  EXPECT_EQ(TextOf(cb), "mirror.net");
}

}  // namespace
