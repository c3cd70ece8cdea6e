// The LISTBOX control: sorting by text and through WM_COMPAREITEM, owner
// drawing with WM_MEASUREITEM/WM_DRAWITEM/WM_DELETEITEM, the selection
// messages of each selection style, and the notifications a person causes.
#include <gtest/gtest.h>

#include <map>

#include "qxtest/controls.h"

using namespace qx::test;

namespace {

// A parent that sorts item data numerically in reverse, measures each item
// as tall as its value and counts drawing and deletion.
struct OwnerLog {
  int compares = 0, measures = 0, draws = 0, deletes = 0;
  std::vector<ULONG_PTR> drawn_selected;
} g_log;

LRESULT CALLBACK OwnerParent(HWND h, UINT m, WPARAM wp, LPARAM lp) {
  switch (m) {
    case WM_COMPAREITEM: {
      ++g_log.compares;
      const auto *c = reinterpret_cast<const COMPAREITEMSTRUCT *>(lp);
      return c->itemData1 > c->itemData2 ? -1 : c->itemData1 < c->itemData2 ? 1 : 0;
    }
    case WM_MEASUREITEM: {
      ++g_log.measures;
      auto *mi = reinterpret_cast<MEASUREITEMSTRUCT *>(lp);
      mi->itemHeight = static_cast<UINT>(10 + mi->itemData % 10);
      return TRUE;
    }
    case WM_DRAWITEM: {
      ++g_log.draws;
      const auto *d = reinterpret_cast<const DRAWITEMSTRUCT *>(lp);
      if (d->itemState & ODS_SELECTED) g_log.drawn_selected.push_back(d->itemData);
      return TRUE;
    }
    case WM_DELETEITEM: ++g_log.deletes; return TRUE;
    case WM_COMMAND:
      if (lp) Notices().push_back({LOWORD(wp), static_cast<short>(HIWORD(wp))});
      return 0;
    default: return DefWindowProcA(h, m, wp, lp);
  }
}

// A top-level window of OwnerParent's class, the owner of owner-drawn lists.
HWND MakeOwnerParent() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = OwnerParent;
  wc.lpszClassName = "QxOwnerParent";
  RegisterClassA(&wc);
  return CreateWindowA("QxOwnerParent", "Owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 300, nullptr, nullptr,
                       nullptr, nullptr);
}

class ListBox : public ::testing::Test {
 protected:
  void SetUp() override {
    parent_ = MakeParent();
    g_log = OwnerLog{};
  }
  void TearDown() override { DestroyAll(); }
  HWND Make(DWORD style, int h = 160) {
    HWND l = MakeChild(parent_, "ListBox", style | WS_BORDER | WS_VSCROLL, 200, 10, 10, 200, h);
    Notices().clear();
    return l;
  }
  std::vector<std::string> Texts(HWND l) {
    std::vector<std::string> out;
    const int n = static_cast<int>(SendMessageA(l, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
      std::string s(static_cast<size_t>(SendMessageA(l, LB_GETTEXTLEN, i, 0)) + 1, '\0');
      SendMessageA(l, LB_GETTEXT, i, reinterpret_cast<LPARAM>(s.data()));
      s.pop_back();
      out.push_back(s);
    }
    return out;
  }
  HWND parent_ = nullptr;
};

TEST_F(ListBox, SortedByTextWithoutRegardToCase) {
  HWND l = Make(LBS_SORT | LBS_NOTIFY);
  for (const char *s : {"pear", "Apple", "banana", "apple", "Cherry"})
    SendMessageA(l, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
  EXPECT_EQ(Texts(l), (std::vector<std::string>{"Apple", "apple", "banana", "Cherry", "pear"}));
  // LB_INSERTSTRING puts an item where it is told, even in a sorted list.
  EXPECT_EQ(SendMessageA(l, LB_INSERTSTRING, 0, reinterpret_cast<LPARAM>("zebra")), 0);
  EXPECT_EQ(SendMessageA(l, LB_INSERTSTRING, 99, reinterpret_cast<LPARAM>("x")), LB_ERR);
  struct FindCase {
    UINT msg;
    int start;
    const char *text;
    int expect;
  };
  const FindCase finds[] = {
      {LB_FINDSTRING, -1, "ban", 3},       {LB_FINDSTRING, -1, "APP", 1},           {LB_FINDSTRING, 1, "app", 2},
      {LB_FINDSTRING, 2, "app", 1},        {LB_FINDSTRINGEXACT, -1, "ban", LB_ERR}, {LB_FINDSTRINGEXACT, -1, "PEAR", 5},
      {LB_FINDSTRING, -1, "kiwi", LB_ERR},
  };
  for (const FindCase &f : finds)
    EXPECT_EQ(SendMessageA(l, f.msg, f.start, reinterpret_cast<LPARAM>(f.text)), f.expect) << f.text;
}

TEST_F(ListBox, OwnerDrawnSortedMultiSelectThroughCompareItem) {
  HWND p = MakeOwnerParent();
  HWND l =
      CreateWindowA("ListBox", "",
                    WS_CHILD | WS_VISIBLE | WS_BORDER | LBS_OWNERDRAWVARIABLE | LBS_SORT | LBS_EXTENDEDSEL | LBS_NOTIFY,
                    10, 10, 200, 200, p, reinterpret_cast<HMENU>(7), nullptr, nullptr);
  ASSERT_NE(l, nullptr);
  for (ULONG_PTR v : {3u, 17u, 5u, 11u, 2u}) SendMessageA(l, LB_ADDSTRING, 0, static_cast<LPARAM>(v));
  EXPECT_GT(g_log.compares, 0);
  EXPECT_EQ(g_log.measures, 5);
  std::vector<ULONG_PTR> order;
  for (int i = 0; i < 5; ++i) order.push_back(static_cast<ULONG_PTR>(SendMessageA(l, LB_GETITEMDATA, i, 0)));
  EXPECT_EQ(order, (std::vector<ULONG_PTR>{17, 11, 5, 3, 2}));
  EXPECT_EQ(SendMessageA(l, LB_GETITEMHEIGHT, 0, 0), 17);  // 10 + 17 % 10
  EXPECT_EQ(SendMessageA(l, LB_FINDSTRING, -1, 5), 2);     // without strings, finds by item data
  // A person selects: click, Shift+click, Ctrl+click.
  RECT r0, r2, r4;
  SendMessageA(l, LB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&r0));
  SendMessageA(l, LB_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&r2));
  SendMessageA(l, LB_GETITEMRECT, 4, reinterpret_cast<LPARAM>(&r4));
  auto click = [l](const RECT &r, WPARAM keys) {
    const LPARAM at = MAKELPARAM(r.left + 5, r.top + 2);
    SendMessageA(l, WM_LBUTTONDOWN, MK_LBUTTON | keys, at);
    SendMessageA(l, WM_LBUTTONUP, keys, at);
  };
  Notices().clear();
  click(r0, 0);
  click(r2, MK_SHIFT);
  EXPECT_EQ(SendMessageA(l, LB_GETSELCOUNT, 0, 0), 3);
  click(r4, MK_CONTROL);
  INT sel[8] = {};
  ASSERT_EQ(SendMessageA(l, LB_GETSELITEMS, 8, reinterpret_cast<LPARAM>(sel)), 4);
  EXPECT_EQ(std::vector<INT>(sel, sel + 4), (std::vector<INT>{0, 1, 2, 4}));
  EXPECT_EQ(CodesFrom(7), (std::vector<int>{LBN_SETFOCUS, LBN_SELCHANGE, LBN_SELCHANGE, LBN_SELCHANGE}));
  UpdateWindow(l);
  g_log.drawn_selected.clear();
  InvalidateRect(l, nullptr, TRUE);
  UpdateWindow(l);
  EXPECT_EQ(g_log.drawn_selected.size(), 4u);
  // Deleting an owner-drawn item tells the owner.
  EXPECT_EQ(SendMessageA(l, LB_DELETESTRING, 0, 0), 4);
  EXPECT_EQ(g_log.deletes, 1);
  DestroyWindow(p);
  EXPECT_EQ(g_log.deletes, 5);
}

struct SelCase {
  DWORD style;
  UINT msg;
  WPARAM wp;
  LPARAM lp;
  LRESULT result;
  std::vector<int> selected;  // LB_GETSEL of items 0..4 after the message
};

TEST_F(ListBox, SelectionMessagesOfEachStyle) {
  const SelCase cases[] = {
      {0, LB_SETCURSEL, 2, 0, 2, {0, 0, 1, 0, 0}},
      {0, LB_SETCURSEL, static_cast<WPARAM>(-1), 0, LB_ERR, {0, 0, 0, 0, 0}},
      {0, LB_SETCURSEL, 9, 0, LB_ERR, {0, 0, 0, 0, 0}},
      {0, LB_SETSEL, TRUE, 1, LB_ERR, {0, 0, 0, 0, 0}},
      {0, LB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>("d"), 3, {0, 0, 0, 1, 0}},
      {LBS_MULTIPLESEL, LB_SETSEL, TRUE, 1, 0, {0, 1, 0, 0, 0}},
      {LBS_MULTIPLESEL, LB_SETSEL, TRUE, -1, 0, {1, 1, 1, 1, 1}},
      {LBS_MULTIPLESEL, LB_SETCURSEL, 1, 0, LB_ERR, {0, 0, 0, 0, 0}},
      {LBS_EXTENDEDSEL, LB_SELITEMRANGE, TRUE, MAKELPARAM(1, 3), 0, {0, 1, 1, 1, 0}},
      {LBS_EXTENDEDSEL, LB_SELITEMRANGEEX, 3, 1, 0, {0, 0, 0, 0, 0}},
      {LBS_EXTENDEDSEL, LB_SELITEMRANGEEX, 0, 2, 0, {1, 1, 1, 0, 0}},
  };
  for (const SelCase &c : cases) {
    HWND l = Make(c.style | LBS_NOTIFY);
    for (const char *s : {"a", "b", "c", "d", "e"}) SendMessageA(l, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
    Notices().clear();
    EXPECT_EQ(SendMessageA(l, c.msg, c.wp, c.lp), c.result) << "message " << std::hex << c.msg;
    std::vector<int> got;
    for (int i = 0; i < 5; ++i) got.push_back(static_cast<int>(SendMessageA(l, LB_GETSEL, i, 0)));
    EXPECT_EQ(got, c.selected) << "message " << std::hex << c.msg;
    EXPECT_TRUE(CodesFrom(200).empty());  // messages from the program notify nothing
    DestroyWindow(l);
  }
}

TEST_F(ListBox, KeyboardSelectionNotifiesAndTypeAheadFinds) {
  HWND l = Make(LBS_NOTIFY);
  for (const char *s : {"alpha", "beta", "gamma", "delta"})
    SendMessageA(l, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
  SetFocus(l);
  Pump();
  Notices().clear();
  Key(kDown, true);
  Key(kDown, true);
  Pump();
  EXPECT_EQ(SendMessageA(l, LB_GETCURSEL, 0, 0), 2);
  Type("d");
  Pump();
  EXPECT_EQ(SendMessageA(l, LB_GETCURSEL, 0, 0), 3);
  Key(kHome, true);
  Pump();
  EXPECT_EQ(SendMessageA(l, LB_GETCURSEL, 0, 0), 0);
  EXPECT_EQ(CodesFrom(200), (std::vector<int>{LBN_SELCHANGE, LBN_SELCHANGE, LBN_SELCHANGE, LBN_SELCHANGE}));
  SendMessageA(l, WM_LBUTTONDBLCLK, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(CodesFrom(200).back(), LBN_DBLCLK);
}

TEST_F(ListBox, ItemDataTopIndexAndHorizontalExtent) {
  HWND l = Make(LBS_NOTIFY | WS_HSCROLL, 60);
  for (int i = 0; i < 20; ++i) {
    const std::string s = "item " + std::to_string(i);
    const int at = static_cast<int>(SendMessageA(l, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s.c_str())));
    SendMessageA(l, LB_SETITEMDATA, at, 1000 + i);
  }
  EXPECT_EQ(SendMessageA(l, LB_GETITEMDATA, 5, 0), 1005);
  EXPECT_EQ(SendMessageA(l, LB_GETITEMDATA, 50, 0), LB_ERR);
  SendMessageA(l, LB_SETCURSEL, 15, 0);
  EXPECT_GT(SendMessageA(l, LB_GETTOPINDEX, 0, 0), 0);  // scrolled so the selection shows
  SendMessageA(l, LB_SETTOPINDEX, 0, 0);
  EXPECT_EQ(SendMessageA(l, LB_GETTOPINDEX, 0, 0), 0);
  SendMessageA(l, LB_SETHORIZONTALEXTENT, 500, 0);
  EXPECT_EQ(SendMessageA(l, LB_GETHORIZONTALEXTENT, 0, 0), 500);
  EXPECT_EQ(SendMessageA(l, LB_DELETESTRING, 25, 0), LB_ERR);
  SendMessageA(l, LB_RESETCONTENT, 0, 0);
  EXPECT_EQ(SendMessageA(l, LB_GETCOUNT, 0, 0), 0);
  EXPECT_EQ(SendMessageA(l, LB_GETCURSEL, 0, 0), LB_ERR);
}

// A bulk fill between WM_SETREDRAW FALSE and TRUE neither paints nor moves the
// scroll bar row by row; turning redraw back on brings both up to date once.
TEST_F(ListBox, FillWithRedrawOffUpdatesOnceWhenTurnedOn) {
  HWND p = MakeOwnerParent();
  HWND l = CreateWindowA("ListBox", "", WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_OWNERDRAWFIXED, 10, 10, 200, 100, p,
                         reinterpret_cast<HMENU>(8), nullptr, nullptr);
  ASSERT_NE(l, nullptr);
  UpdateWindow(p);
  ValidateRect(l, nullptr);
  SendMessageA(l, WM_SETREDRAW, FALSE, 0);
  for (int i = 0; i < 200; ++i) SendMessageA(l, LB_ADDSTRING, 0, i + 1);
  SendMessageA(l, LB_DELETESTRING, 0, 0);
  RECT dirty{};
  EXPECT_FALSE(GetUpdateRect(l, &dirty, FALSE));
  SCROLLINFO si{sizeof si, SIF_RANGE, 0, 0, 0, 0, 0};
  GetScrollInfo(l, SB_VERT, &si);
  EXPECT_LT(si.nMax, 198);
  SendMessageA(l, WM_SETREDRAW, TRUE, 0);
  EXPECT_TRUE(GetUpdateRect(l, &dirty, FALSE));
  GetScrollInfo(l, SB_VERT, &si);
  EXPECT_EQ(si.nMax, 198);
  EXPECT_EQ(SendMessageA(l, LB_GETCOUNT, 0, 0), 199);
  g_log.draws = 0;
  UpdateWindow(l);
  EXPECT_GT(g_log.draws, 0);
  EXPECT_LT(g_log.draws, 20);  // only the rows that show
  DestroyWindow(p);
}

}  // namespace

// LB_INITSTORAGE makes room ahead of a long fill: the rows already held keep
// their texts and order, the answer is the room now held, a count far beyond
// any fill is taken only in part (never the machine's memory), and a list
// without data answers its count.
TEST_F(ListBox, InitStorageMakesRoomAheadOfALongFill) {
  HWND l = Make(0);
  SendMessageA(l, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("first"));
  SendMessageA(l, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("second"));
  EXPECT_GE(SendMessageA(l, LB_INITSTORAGE, 5000, 0), 5002);
  for (int i = 0; i < 5000; ++i) SendMessageA(l, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(std::to_string(i).c_str()));
  const auto texts = Texts(l);
  ASSERT_EQ(texts.size(), 5002u);
  EXPECT_EQ(texts[0], "first");
  EXPECT_EQ(texts[1], "second");
  EXPECT_EQ(texts[5001], "4999");
  const LRESULT room = SendMessageA(l, LB_INITSTORAGE, static_cast<WPARAM>(-1), 0);
  EXPECT_GE(room, 5002);
  EXPECT_LE(room, 5002 + (1 << 20));
  EXPECT_EQ(SendMessageA(l, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("last")), 5002);
  HWND p = MakeOwnerParent();
  HWND nodata = CreateWindowA("ListBox", "", WS_CHILD | LBS_OWNERDRAWFIXED | LBS_NODATA, 0, 0, 50, 50, p,
                              reinterpret_cast<HMENU>(11), nullptr, nullptr);
  SendMessageA(nodata, LB_SETCOUNT, 40, 0);
  EXPECT_EQ(SendMessageA(nodata, LB_INITSTORAGE, 100, 0), 40);
  DestroyWindow(p);
}

// A list without data takes its count from LB_SETCOUNT: a hundred thousand
// rows show at once, rows far down are drawn and selected by index, a click
// with Shift selects a range, and LB_SETCOUNT refuses lists that keep data.
TEST_F(ListBox, NoDataListTakesItsCountAndSelectsByIndex) {
  HWND p = MakeOwnerParent();
  HWND l =
      CreateWindowA("ListBox", "",
                    WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_OWNERDRAWFIXED | LBS_NODATA | LBS_EXTENDEDSEL | LBS_NOTIFY,
                    10, 10, 200, 100, p, reinterpret_cast<HMENU>(9), nullptr, nullptr);
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(SendMessageA(l, LB_SETCOUNT, 100000, 0), 0);
  EXPECT_EQ(SendMessageA(l, LB_GETCOUNT, 0, 0), 100000);
  SCROLLINFO si{sizeof si, SIF_RANGE, 0, 0, 0, 0, 0};
  GetScrollInfo(l, SB_VERT, &si);
  EXPECT_EQ(si.nMax, 99999);
  EXPECT_EQ(SendMessageA(l, LB_GETSELCOUNT, 0, 0), 0);
  EXPECT_EQ(SendMessageA(l, LB_GETSEL, 99999, 0), 0);
  EXPECT_EQ(SendMessageA(l, LB_SETSEL, TRUE, 99990), 0);
  EXPECT_EQ(SendMessageA(l, LB_GETSEL, 99990, 0), 1);
  EXPECT_EQ(SendMessageA(l, LB_SETITEMDATA, 3, 7), LB_ERR);  // no data to keep
  // A person goes to the end and Shift-clicks two rows up from the last one.
  SendMessageA(l, LB_SETTOPINDEX, 99995, 0);
  const int top = static_cast<int>(SendMessageA(l, LB_GETTOPINDEX, 0, 0));
  EXPECT_GT(top, 99980);
  RECT last;
  SendMessageA(l, LB_GETITEMRECT, 99999, reinterpret_cast<LPARAM>(&last));
  SendMessageA(l, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(last.left + 5, last.top + 2));
  SendMessageA(l, WM_LBUTTONUP, 0, MAKELPARAM(last.left + 5, last.top + 2));
  RECT upper;
  SendMessageA(l, LB_GETITEMRECT, 99997, reinterpret_cast<LPARAM>(&upper));
  SendMessageA(l, WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, MAKELPARAM(upper.left + 5, upper.top + 2));
  SendMessageA(l, WM_LBUTTONUP, MK_SHIFT, MAKELPARAM(upper.left + 5, upper.top + 2));
  INT sel[8] = {};
  ASSERT_EQ(SendMessageA(l, LB_GETSELITEMS, 8, reinterpret_cast<LPARAM>(sel)), 3);
  EXPECT_EQ(std::vector<INT>(sel, sel + 3), (std::vector<INT>{99997, 99998, 99999}));
  g_log.draws = 0;
  InvalidateRect(l, nullptr, TRUE);
  UpdateWindow(l);
  EXPECT_GT(g_log.draws, 0);
  EXPECT_LT(g_log.draws, 20);  // only the rows that show
  // A smaller count drops the selection past it; the list can grow again.
  EXPECT_EQ(SendMessageA(l, LB_SETCOUNT, 10, 0), 0);
  EXPECT_EQ(SendMessageA(l, LB_GETCOUNT, 0, 0), 10);
  EXPECT_EQ(SendMessageA(l, LB_GETSELCOUNT, 0, 0), 0);
  EXPECT_LT(SendMessageA(l, LB_GETTOPINDEX, 0, 0), 10);
  SendMessageA(l, LB_RESETCONTENT, 0, 0);
  EXPECT_EQ(SendMessageA(l, LB_GETCOUNT, 0, 0), 0);
  // A list that keeps data refuses a count.
  HWND kept = CreateWindowA("ListBox", "", WS_CHILD | LBS_OWNERDRAWFIXED, 0, 0, 50, 50, p, reinterpret_cast<HMENU>(10),
                            nullptr, nullptr);
  EXPECT_EQ(SendMessageA(kept, LB_SETCOUNT, 5, 0), LB_ERR);
  EXPECT_EQ(SendMessageA(kept, LB_GETCOUNT, 0, 0), 0);
  DestroyWindow(p);
}
