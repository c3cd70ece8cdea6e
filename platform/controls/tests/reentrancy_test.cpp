// A parent that destroys a control when the control tells it something: for
// every notification of every control, the control must come back from
// sending it without touching freed state (this test runs under
// AddressSanitizer) and without acting on the window that is gone.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <functional>
#include <ostream>
#include <string>

#include "qxtest/controls.h"

using namespace qx::test;

namespace {

constexpr int kId = 100;
constexpr int kAny = -1;

// What the parent waits for before it destroys the victim.
struct Trigger {
  UINT msg;
  int code;  // WM_COMMAND: notification; WM_HSCROLL/WM_VSCROLL: scroll code; kAny otherwise
};

struct Armed {
  HWND victim = nullptr;
  HMENU menu = nullptr;  // destroyed instead of the victim when set
  Trigger on{};
  bool fired = false;
} g_armed;

bool FromVictim(HWND from) { return from == g_armed.victim || (from && IsChild(g_armed.victim, from)); }

bool Matches(UINT m, WPARAM wp, LPARAM lp) {
  if (m != g_armed.on.msg) return false;
  const HWND from = reinterpret_cast<HWND>(lp);
  switch (m) {
    case WM_COMMAND: return HIWORD(wp) == static_cast<WORD>(g_armed.on.code) && FromVictim(from);
    case WM_HSCROLL:
    case WM_VSCROLL: return LOWORD(wp) == static_cast<WORD>(g_armed.on.code) && FromVictim(from);
    case WM_DRAWITEM:
    case WM_MEASUREITEM:
    case WM_COMPAREITEM:
    case WM_DELETEITEM: return wp == kId;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORSCROLLBAR:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM: return FromVictim(from);
    default: return true;  // the menu loop's messages
  }
}

LRESULT CALLBACK ParentProc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
  if (g_armed.victim && !g_armed.fired && Matches(m, wp, lp)) {
    g_armed.fired = true;
    if (g_armed.menu)
      DestroyMenu(g_armed.menu);
    else
      DestroyWindow(g_armed.victim);
  }
  switch (m) {
    case WM_MEASUREITEM: reinterpret_cast<MEASUREITEMSTRUCT *>(lp)->itemHeight = 14; return TRUE;
    case WM_COMPAREITEM: {
      const auto *c = reinterpret_cast<const COMPAREITEMSTRUCT *>(lp);
      return c->itemData1 < c->itemData2 ? -1 : c->itemData1 > c->itemData2 ? 1 : 0;
    }
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM: return -1;
    default: return DefWindowProcA(h, m, wp, lp);
  }
}

HWND MakeDestroyingParent() {
  static bool registered = false;
  if (!registered) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = ParentProc;
    wc.lpszClassName = "QxDestroyingParent";
    RegisterClassA(&wc);
    registered = true;
  }
  HWND p = CreateWindowA("QxDestroyingParent", "Parent", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 400, 300, nullptr,
                         nullptr, nullptr, nullptr);
  SetActiveWindow(p);
  Pump();
  return p;
}

LRESULT Send(HWND h, UINT m, WPARAM wp = 0, LPARAM lp = 0) { return SendMessageA(h, m, wp, lp); }
LPARAM At(int x, int y) { return MAKELPARAM(x, y); }
void Repaint(HWND h) {
  InvalidateRect(h, nullptr, TRUE);
  UpdateWindow(h);
}
void Items(HWND h, UINT add, int n) {
  for (int i = 0; i < n; ++i) Send(h, add, 0, reinterpret_cast<LPARAM>(("item " + std::to_string(i)).c_str()));
}
HWND Child(HWND h) { return GetWindow(h, GW_CHILD); }
// The combo box's list: its child for a simple combo box.
HWND ListOf(HWND combo) {
  for (HWND c = Child(combo); c; c = GetWindow(c, GW_HWNDNEXT))
    if (GetDlgCtrlID(c) == 1000) return c;
  return nullptr;
}
HWND EditOf(HWND combo) {
  for (HWND c = Child(combo); c; c = GetWindow(c, GW_HWNDNEXT))
    if (GetDlgCtrlID(c) == 1001) return c;
  return nullptr;
}

struct Case {
  const char *name;
  const char *cls;
  DWORD style;
  int w, h;
  std::function<void(HWND parent, HWND ctl)> setup;  // before the parent is armed
  Trigger on;
  std::function<void(HWND parent, HWND ctl)> act;  // makes the control send it
};

// Cases print by name (the default printer would dump their padding bytes).
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

void Nothing(HWND, HWND) {}

const DWORD kOwnerList = LBS_OWNERDRAWFIXED | LBS_HASSTRINGS | LBS_NOTIFY;
const DWORD kOwnerCombo = CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS;

// One row per case, kept on few lines so the table reads as a table.
// clang-format off
const Case kCases[] = {
    // ---- Edit ----
    {"edit setfocus", "Edit", ES_AUTOHSCROLL, 200, 24, Nothing, {WM_COMMAND, EN_SETFOCUS},
     [](HWND, HWND e) { SetFocus(e); }},
    {"edit setfocus by click", "Edit", ES_AUTOHSCROLL, 200, 24, Nothing, {WM_COMMAND, EN_SETFOCUS},
     [](HWND, HWND e) { Send(e, WM_LBUTTONDOWN, MK_LBUTTON, At(5, 5)); }},
    {"edit killfocus", "Edit", ES_AUTOHSCROLL, 200, 24, [](HWND, HWND e) { SetFocus(e); }, {WM_COMMAND, EN_KILLFOCUS},
     [](HWND p, HWND) { SetFocus(p); }},
    {"edit update", "Edit", ES_AUTOHSCROLL, 200, 24, Nothing, {WM_COMMAND, EN_UPDATE},
     [](HWND, HWND e) { Send(e, WM_CHAR, 'a'); }},
    {"edit change", "Edit", ES_AUTOHSCROLL, 200, 24, Nothing, {WM_COMMAND, EN_CHANGE},
     [](HWND, HWND e) { Send(e, WM_CHAR, 'a'); }},
    {"edit change on undo", "Edit", ES_AUTOHSCROLL, 200, 24, [](HWND, HWND e) { Send(e, WM_CHAR, 'a'); },
     {WM_COMMAND, EN_CHANGE}, [](HWND, HWND e) { Send(e, EM_UNDO); }},
    {"edit maxtext typed", "Edit", ES_AUTOHSCROLL, 200, 24,
     [](HWND, HWND e) {
       Send(e, EM_LIMITTEXT, 2);
       Send(e, WM_CHAR, 'a');
       Send(e, WM_CHAR, 'b');
     },
     {WM_COMMAND, EN_MAXTEXT}, [](HWND, HWND e) { Send(e, WM_CHAR, 'c'); }},
    {"edit maxtext replaced", "Edit", ES_MULTILINE, 200, 60, [](HWND, HWND e) { Send(e, EM_LIMITTEXT, 4); },
     {WM_COMMAND, EN_MAXTEXT},
     [](HWND, HWND e) { Send(e, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>("abc\r\ndef\r\nghi")); }},
    {"edit hscroll", "Edit", ES_AUTOHSCROLL, 40, 24, Nothing, {WM_COMMAND, EN_HSCROLL},
     [](HWND, HWND e) {
       Send(e, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>("a line far wider than the forty pixels of this edit"));
     }},
    {"edit vscroll typed", "Edit", ES_MULTILINE | ES_AUTOVSCROLL, 200, 30, Nothing, {WM_COMMAND, EN_VSCROLL},
     [](HWND, HWND e) { Send(e, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>("1\r\n2\r\n3\r\n4\r\n5\r\n6")); }},
    {"edit vscroll scrolled", "Edit", ES_MULTILINE | WS_VSCROLL, 200, 30,
     [](HWND, HWND e) { SetWindowTextA(e, "1\r\n2\r\n3\r\n4\r\n5\r\n6"); }, {WM_COMMAND, EN_VSCROLL},
     [](HWND, HWND e) { Send(e, WM_VSCROLL, SB_PAGEDOWN); }},
    {"edit colour", "Edit", ES_AUTOHSCROLL, 200, 24, Nothing, {WM_CTLCOLOREDIT, kAny},
     [](HWND, HWND e) { Repaint(e); }},
    {"edit read-only colour", "Edit", ES_READONLY, 200, 24, Nothing, {WM_CTLCOLORSTATIC, kAny},
     [](HWND, HWND e) { Repaint(e); }},

    // ---- ListBox ----
    {"list selchange by key", "ListBox", LBS_NOTIFY | WS_VSCROLL, 200, 60,
     [](HWND, HWND l) { Items(l, LB_ADDSTRING, 20); }, {WM_COMMAND, LBN_SELCHANGE},
     [](HWND, HWND l) { Send(l, WM_KEYDOWN, VK_DOWN); }},
    {"list selchange by click", "ListBox", LBS_NOTIFY, 200, 60, [](HWND, HWND l) { Items(l, LB_ADDSTRING, 3); },
     {WM_COMMAND, LBN_SELCHANGE}, [](HWND, HWND l) { Send(l, WM_LBUTTONDOWN, MK_LBUTTON, At(5, 5)); }},
    {"list selchange by letter", "ListBox", LBS_NOTIFY, 200, 60, [](HWND, HWND l) { Items(l, LB_ADDSTRING, 3); },
     {WM_COMMAND, LBN_SELCHANGE}, [](HWND, HWND l) { Send(l, WM_CHAR, 'i'); }},
    {"list dblclk", "ListBox", LBS_NOTIFY, 200, 60, [](HWND, HWND l) { Items(l, LB_ADDSTRING, 3); },
     {WM_COMMAND, LBN_DBLCLK}, [](HWND, HWND l) { Send(l, WM_LBUTTONDBLCLK, MK_LBUTTON, At(5, 5)); }},
    {"list setfocus by click", "ListBox", LBS_NOTIFY, 200, 60, [](HWND, HWND l) { Items(l, LB_ADDSTRING, 3); },
     {WM_COMMAND, LBN_SETFOCUS}, [](HWND, HWND l) { Send(l, WM_LBUTTONDOWN, MK_LBUTTON, At(5, 5)); }},
    {"list killfocus", "ListBox", LBS_NOTIFY, 200, 60, [](HWND, HWND l) { SetFocus(l); }, {WM_COMMAND, LBN_KILLFOCUS},
     [](HWND p, HWND) { SetFocus(p); }},
    {"list vkeytoitem", "ListBox", LBS_WANTKEYBOARDINPUT | LBS_NOTIFY, 200, 60,
     [](HWND, HWND l) { Items(l, LB_ADDSTRING, 3); }, {WM_VKEYTOITEM, kAny},
     [](HWND, HWND l) { Send(l, WM_KEYDOWN, VK_DOWN); }},
    {"list chartoitem", "ListBox", LBS_WANTKEYBOARDINPUT | LBS_NOTIFY, 200, 60,
     [](HWND, HWND l) { Items(l, LB_ADDSTRING, 3); }, {WM_CHARTOITEM, kAny},
     [](HWND, HWND l) { Send(l, WM_CHAR, 'i'); }},
    {"list drawitem", "ListBox", kOwnerList, 200, 60, [](HWND, HWND l) { Items(l, LB_ADDSTRING, 5); },
     {WM_DRAWITEM, kAny}, [](HWND, HWND l) { Repaint(l); }},
    {"list measureitem", "ListBox", LBS_OWNERDRAWVARIABLE | LBS_HASSTRINGS, 200, 60, Nothing, {WM_MEASUREITEM, kAny},
     [](HWND, HWND l) { Items(l, LB_ADDSTRING, 2); }},
    {"list compareitem", "ListBox", LBS_OWNERDRAWFIXED | LBS_SORT, 200, 60,
     [](HWND, HWND l) {
       for (LPARAM d : {10, 20, 30, 40}) Send(l, LB_ADDSTRING, 0, d);
     },
     {WM_COMPAREITEM, kAny}, [](HWND, HWND l) { Send(l, LB_ADDSTRING, 0, 25); }},
    {"list deleteitem", "ListBox", kOwnerList, 200, 60, [](HWND, HWND l) { Items(l, LB_ADDSTRING, 4); },
     {WM_DELETEITEM, kAny}, [](HWND, HWND l) { Send(l, LB_DELETESTRING, 1); }},
    {"list deleteitem on reset", "ListBox", kOwnerList, 200, 60, [](HWND, HWND l) { Items(l, LB_ADDSTRING, 4); },
     {WM_DELETEITEM, kAny}, [](HWND, HWND l) { Send(l, LB_RESETCONTENT); }},
    {"list colour", "ListBox", LBS_NOTIFY, 200, 60, [](HWND, HWND l) { Items(l, LB_ADDSTRING, 3); },
     {WM_CTLCOLORLISTBOX, kAny}, [](HWND, HWND l) { Repaint(l); }},

    // ---- ComboBox ----
    {"combo dropdown", "ComboBox", CBS_DROPDOWN, 200, 100, [](HWND, HWND c) { Items(c, CB_ADDSTRING, 3); },
     {WM_COMMAND, CBN_DROPDOWN}, [](HWND, HWND c) { Send(c, CB_SHOWDROPDOWN, TRUE); }},
    {"combo closeup", "ComboBox", CBS_DROPDOWN, 200, 100, [](HWND, HWND c) { Send(c, CB_SHOWDROPDOWN, TRUE); },
     {WM_COMMAND, CBN_CLOSEUP}, [](HWND, HWND c) { Send(c, CB_SHOWDROPDOWN, FALSE); }},
    {"combo selendok", "ComboBox", CBS_DROPDOWNLIST, 200, 100, [](HWND, HWND c) { Send(c, CB_SHOWDROPDOWN, TRUE); },
     {WM_COMMAND, CBN_SELENDOK}, [](HWND, HWND c) { Send(c, WM_KEYDOWN, VK_RETURN); }},
    {"combo selendcancel", "ComboBox", CBS_DROPDOWNLIST, 200, 100,
     [](HWND, HWND c) { Send(c, CB_SHOWDROPDOWN, TRUE); }, {WM_COMMAND, CBN_SELENDCANCEL},
     [](HWND, HWND c) { Send(c, WM_KEYDOWN, VK_ESCAPE); }},
    {"combo selchange by key", "ComboBox", CBS_DROPDOWNLIST, 200, 100,
     [](HWND, HWND c) { Items(c, CB_ADDSTRING, 3); }, {WM_COMMAND, CBN_SELCHANGE},
     [](HWND, HWND c) { Send(c, WM_KEYDOWN, VK_DOWN); }},
    {"combo selchange by letter", "ComboBox", CBS_DROPDOWNLIST, 200, 100,
     [](HWND, HWND c) { Items(c, CB_ADDSTRING, 3); }, {WM_COMMAND, CBN_SELCHANGE},
     [](HWND, HWND c) { Send(c, WM_CHAR, 'i'); }},
    {"combo selchange in its field", "ComboBox", CBS_DROPDOWN, 200, 100,
     [](HWND, HWND c) { Items(c, CB_ADDSTRING, 3); }, {WM_COMMAND, CBN_SELCHANGE},
     [](HWND, HWND c) { Send(EditOf(c), WM_KEYDOWN, VK_DOWN); }},
    {"combo selchange by its list", "ComboBox", CBS_SIMPLE, 200, 100, [](HWND, HWND c) { Items(c, CB_ADDSTRING, 3); },
     {WM_COMMAND, CBN_SELCHANGE}, [](HWND, HWND c) { Send(ListOf(c), WM_LBUTTONDOWN, MK_LBUTTON, At(5, 5)); }},
    {"combo dblclk", "ComboBox", CBS_SIMPLE, 200, 100, [](HWND, HWND c) { Items(c, CB_ADDSTRING, 3); },
     {WM_COMMAND, CBN_DBLCLK}, [](HWND, HWND c) { Send(ListOf(c), WM_LBUTTONDBLCLK, MK_LBUTTON, At(5, 5)); }},
    {"combo editchange", "ComboBox", CBS_DROPDOWN, 200, 100, Nothing, {WM_COMMAND, CBN_EDITCHANGE},
     [](HWND, HWND c) { Send(EditOf(c), WM_CHAR, 'a'); }},
    {"combo editupdate", "ComboBox", CBS_DROPDOWN, 200, 100, Nothing, {WM_COMMAND, CBN_EDITUPDATE},
     [](HWND, HWND c) { Send(EditOf(c), WM_CHAR, 'a'); }},
    {"combo editchange on selection", "ComboBox", CBS_DROPDOWN, 200, 100,
     [](HWND, HWND c) { Items(c, CB_ADDSTRING, 3); }, {WM_COMMAND, CBN_EDITCHANGE},
     [](HWND, HWND c) { Send(c, CB_SETCURSEL, 1); }},
    {"combo setfocus", "ComboBox", CBS_DROPDOWN, 200, 100, Nothing, {WM_COMMAND, CBN_SETFOCUS},
     [](HWND, HWND c) { SetFocus(c); }},
    {"combo setfocus by click", "ComboBox", CBS_DROPDOWNLIST, 200, 100, Nothing, {WM_COMMAND, CBN_SETFOCUS},
     [](HWND, HWND c) { Send(c, WM_LBUTTONDOWN, MK_LBUTTON, At(5, 5)); }},
    {"combo killfocus", "ComboBox", CBS_DROPDOWN, 200, 100, [](HWND, HWND c) { SetFocus(c); },
     {WM_COMMAND, CBN_KILLFOCUS}, [](HWND p, HWND) { SetFocus(p); }},
    {"combo list killfocus", "ComboBox", CBS_DROPDOWNLIST, 200, 100, [](HWND, HWND c) { SetFocus(c); },
     {WM_COMMAND, CBN_KILLFOCUS}, [](HWND p, HWND) { SetFocus(p); }},
    {"combo drawitem", "ComboBox", kOwnerCombo, 200, 100,
     [](HWND, HWND c) {
       Items(c, CB_ADDSTRING, 3);
       Send(c, CB_SETCURSEL, 0);
     },
     {WM_DRAWITEM, kAny}, [](HWND, HWND c) { Repaint(c); }},
    {"combo measureitem", "ComboBox", CBS_SIMPLE | CBS_OWNERDRAWVARIABLE | CBS_HASSTRINGS, 200, 100, Nothing,
     {WM_MEASUREITEM, kAny}, [](HWND, HWND c) { Items(c, CB_ADDSTRING, 2); }},
    {"combo compareitem", "ComboBox", CBS_SIMPLE | CBS_OWNERDRAWFIXED | CBS_SORT, 200, 100,
     [](HWND, HWND c) {
       for (LPARAM d : {10, 20, 30}) Send(c, CB_ADDSTRING, 0, d);
     },
     {WM_COMPAREITEM, kAny}, [](HWND, HWND c) { Send(c, CB_ADDSTRING, 0, 15); }},
    {"combo deleteitem", "ComboBox", CBS_SIMPLE | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS, 200, 100,
     [](HWND, HWND c) { Items(c, CB_ADDSTRING, 3); }, {WM_DELETEITEM, kAny},
     [](HWND, HWND c) { Send(c, CB_DELETESTRING, 0); }},
    {"combo colour", "ComboBox", CBS_DROPDOWNLIST, 200, 100, Nothing, {WM_CTLCOLOREDIT, kAny},
     [](HWND, HWND c) { Repaint(c); }},

    // ---- Button ----
    {"button clicked", "Button", BS_PUSHBUTTON, 80, 24, Nothing, {WM_COMMAND, BN_CLICKED},
     [](HWND, HWND b) { Send(b, BM_CLICK); }},
    {"button clicked by mouse", "Button", BS_PUSHBUTTON, 80, 24,
     [](HWND, HWND b) { Send(b, WM_LBUTTONDOWN, MK_LBUTTON, At(5, 5)); }, {WM_COMMAND, BN_CLICKED},
     [](HWND, HWND b) { Send(b, WM_LBUTTONUP, 0, At(5, 5)); }},
    {"button clicked by space", "Button", BS_PUSHBUTTON, 80, 24, [](HWND, HWND b) { Send(b, WM_KEYDOWN, VK_SPACE); },
     {WM_COMMAND, BN_CLICKED}, [](HWND, HWND b) { Send(b, WM_KEYUP, VK_SPACE); }},
    {"check box clicked", "Button", BS_AUTOCHECKBOX, 80, 24, Nothing, {WM_COMMAND, BN_CLICKED},
     [](HWND, HWND b) { Send(b, BM_CLICK); }},
    {"radio button clicked", "Button", BS_AUTORADIOBUTTON | WS_GROUP, 80, 24, Nothing, {WM_COMMAND, BN_CLICKED},
     [](HWND, HWND b) { Send(b, BM_CLICK); }},
    {"button setfocus", "Button", BS_PUSHBUTTON | BS_NOTIFY, 80, 24, Nothing, {WM_COMMAND, BN_SETFOCUS},
     [](HWND, HWND b) { Send(b, WM_LBUTTONDOWN, MK_LBUTTON, At(5, 5)); }},
    {"button killfocus", "Button", BS_PUSHBUTTON | BS_NOTIFY, 80, 24, [](HWND, HWND b) { SetFocus(b); },
     {WM_COMMAND, BN_KILLFOCUS}, [](HWND p, HWND) { SetFocus(p); }},
    {"button drawitem", "Button", BS_OWNERDRAW, 80, 24, Nothing, {WM_DRAWITEM, kAny},
     [](HWND, HWND b) { Repaint(b); }},
    {"check box colour", "Button", BS_CHECKBOX, 80, 24, Nothing, {WM_CTLCOLORSTATIC, kAny},
     [](HWND, HWND b) { Repaint(b); }},
    {"group box colour", "Button", BS_GROUPBOX, 80, 60, Nothing, {WM_CTLCOLORSTATIC, kAny},
     [](HWND, HWND b) { Repaint(b); }},

    // ---- Static ----
    {"static clicked", "Static", SS_LEFT | SS_NOTIFY, 80, 24, Nothing, {WM_COMMAND, STN_CLICKED},
     [](HWND, HWND s) { Send(s, WM_LBUTTONDOWN, MK_LBUTTON, At(5, 5)); }},
    {"static dblclk", "Static", SS_LEFT | SS_NOTIFY, 80, 24, Nothing, {WM_COMMAND, STN_DBLCLK},
     [](HWND, HWND s) { Send(s, WM_LBUTTONDBLCLK, MK_LBUTTON, At(5, 5)); }},
    {"static drawitem", "Static", SS_OWNERDRAW, 80, 24, Nothing, {WM_DRAWITEM, kAny},
     [](HWND, HWND s) { Repaint(s); }},
    {"static colour", "Static", SS_LEFT, 80, 24, Nothing, {WM_CTLCOLORSTATIC, kAny},
     [](HWND, HWND s) { Repaint(s); }},

    // ---- ScrollBar (200 x 16: arrows of 16 at each end) ----
    {"scroll bar line by key", "ScrollBar", SBS_HORZ, 200, 16, Nothing, {WM_HSCROLL, SB_LINEDOWN},
     [](HWND, HWND s) { Send(s, WM_KEYDOWN, VK_RIGHT); }},
    {"scroll bar end by key", "ScrollBar", SBS_HORZ, 200, 16, Nothing, {WM_HSCROLL, SB_ENDSCROLL},
     [](HWND, HWND s) { Send(s, WM_KEYDOWN, VK_RIGHT); }},
    {"scroll bar line by arrow", "ScrollBar", SBS_HORZ | WS_TABSTOP, 200, 16, Nothing, {WM_HSCROLL, SB_LINEDOWN},
     [](HWND, HWND s) { Send(s, WM_LBUTTONDOWN, MK_LBUTTON, At(195, 8)); }},
    {"scroll bar page", "ScrollBar", SBS_VERT, 16, 200, Nothing, {WM_VSCROLL, SB_PAGEDOWN},
     [](HWND, HWND s) { Send(s, WM_LBUTTONDOWN, MK_LBUTTON, At(8, 150)); }},
    {"scroll bar end by mouse", "ScrollBar", SBS_HORZ, 200, 16,
     [](HWND, HWND s) { Send(s, WM_LBUTTONDOWN, MK_LBUTTON, At(195, 8)); }, {WM_HSCROLL, SB_ENDSCROLL},
     [](HWND, HWND s) { Send(s, WM_LBUTTONUP, 0, At(195, 8)); }},
    {"scroll bar thumbtrack", "ScrollBar", SBS_HORZ, 200, 16,
     [](HWND, HWND s) { Send(s, WM_LBUTTONDOWN, MK_LBUTTON, At(20, 8)); }, {WM_HSCROLL, SB_THUMBTRACK},
     [](HWND, HWND s) { Send(s, WM_MOUSEMOVE, MK_LBUTTON, At(120, 8)); }},
    {"scroll bar thumbposition", "ScrollBar", SBS_HORZ, 200, 16,
     [](HWND, HWND s) {
       Send(s, WM_LBUTTONDOWN, MK_LBUTTON, At(20, 8));
       Send(s, WM_MOUSEMOVE, MK_LBUTTON, At(120, 8));
     },
     {WM_HSCROLL, SB_THUMBPOSITION}, [](HWND, HWND s) { Send(s, WM_LBUTTONUP, 0, At(120, 8)); }},
    {"scroll bar colour", "ScrollBar", SBS_HORZ, 200, 16, Nothing, {WM_CTLCOLORSCROLLBAR, kAny},
     [](HWND, HWND s) { Repaint(s); }},
};
// clang-format on

class Reentrancy : public ::testing::TestWithParam<Case> {
 protected:
  void TearDown() override {
    g_armed = Armed{};
    DestroyAll();
  }
};

TEST_P(Reentrancy, ParentDestroysTheControlOnNotification) {
  const Case &c = GetParam();
  HWND parent = MakeDestroyingParent();
  HWND ctl = MakeChild(parent, c.cls, c.style, kId, 10, 10, c.w, c.h);
  ASSERT_NE(ctl, nullptr);
  Pump();
  c.setup(parent, ctl);
  Pump();
  g_armed.victim = ctl;
  g_armed.on = c.on;
  c.act(parent, ctl);
  Pump();
  EXPECT_TRUE(g_armed.fired) << "the control never sent what the parent waited for";
  EXPECT_FALSE(IsWindow(ctl));
  EXPECT_TRUE(IsWindow(parent));
}

std::string CaseName(const ::testing::TestParamInfo<Case> &info) {
  std::string s = info.param.name;
  for (char &ch : s)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return s;
}

INSTANTIATE_TEST_SUITE_P(EveryNotification, Reentrancy, ::testing::ValuesIn(kCases), CaseName);

// ---- menus: the owner destroys itself, or the menu, while the menu loop runs ----

struct MenuCase {
  const char *name;
  UINT msg;
  bool destroy_menu;  // else the owner window
};

void PrintTo(const MenuCase &c, std::ostream *os) { *os << c.name; }

class MenuReentrancy : public ::testing::TestWithParam<MenuCase> {
 protected:
  void TearDown() override {
    g_armed = Armed{};
    DestroyAll();
  }
};

TEST_P(MenuReentrancy, OwnerDestroysOnMenuMessage) {
  const MenuCase &c = GetParam();
  HWND keeper = MakeParent();  // receives the key that would end a loop left running
  HWND owner = MakeDestroyingParent();
  HMENU popup = CreatePopupMenu(), sub = CreatePopupMenu();
  AppendMenuA(sub, MF_STRING, 11, "&Inner");
  AppendMenuA(popup, MF_STRING, 10, "&First");
  AppendMenuA(popup, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), "&More");
  g_armed.victim = owner;
  g_armed.menu = c.destroy_menu ? popup : nullptr;
  g_armed.on = Trigger{c.msg, kAny};
  // Down opens nothing, Right opens the submenu, Escape twice leaves.
  for (WPARAM key : {VK_DOWN, VK_DOWN, VK_RIGHT, VK_ESCAPE, VK_ESCAPE}) PostMessageA(keeper, WM_KEYDOWN, key, 1);
  TrackPopupMenu(popup, TPM_LEFTALIGN, 50, 50, 0, owner, nullptr);
  Pump();
  EXPECT_TRUE(g_armed.fired) << "the menu loop never sent the message";
  EXPECT_EQ(IsWindow(owner) != FALSE, c.destroy_menu);
  if (!c.destroy_menu) DestroyMenu(popup);
}

const MenuCase kMenuCases[] = {
    {"initmenu", WM_INITMENU, false},
    {"initmenupopup", WM_INITMENUPOPUP, false},
    {"entermenuloop", WM_ENTERMENULOOP, false},
    {"menuselect", WM_MENUSELECT, false},
    {"exitmenuloop", WM_EXITMENULOOP, false},
    {"menu gone on initmenu", WM_INITMENU, true},
    {"menu gone on initmenupopup", WM_INITMENUPOPUP, true},
    {"menu gone on menuselect", WM_MENUSELECT, true},
};

std::string MenuCaseName(const ::testing::TestParamInfo<MenuCase> &info) {
  std::string s = info.param.name;
  for (char &ch : s)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return s;
}

INSTANTIATE_TEST_SUITE_P(EveryMenuMessage, MenuReentrancy, ::testing::ValuesIn(kMenuCases), MenuCaseName);

// ---- dialogs: the dialog procedure destroys its own dialog ----

enum { IDC_FIELD = 200 };

struct DialogCase {
  const char *name;
  UINT msg;
  int code;  // WM_COMMAND: the notification; kAny otherwise
  std::function<void(HWND dlg)> act;
};

void PrintTo(const DialogCase &c, std::ostream *os) { *os << c.name; }

const DialogCase *g_dialog_case = nullptr;
bool g_dialog_fired = false;

INT_PTR CALLBACK DestroyingDialogProc(HWND dlg, UINT m, WPARAM wp, LPARAM) {
  const DialogCase *c = g_dialog_case;
  if (!c || g_dialog_fired || m != c->msg) return m == WM_INITDIALOG;
  if (m == WM_COMMAND && HIWORD(wp) != static_cast<WORD>(c->code)) return FALSE;
  g_dialog_fired = true;
  DestroyWindow(dlg);
  return TRUE;
}

const QX_DIALOG_ITEM kDialogItems[] = {
    QX_EDITTEXT(IDC_FIELD, 7, 7, 100, 12),
    QX_DEFPUSHBUTTON("OK", IDOK, 7, 25, 50, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 60, 25, 50, 14),
};
const QX_DIALOG kDialogTemplate = QX_DIALOG_TEMPLATE(10, 10, 120, 50, WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE,
                                                     "Gone", "MS Sans Serif", 8, kDialogItems);

class DialogReentrancy : public ::testing::TestWithParam<DialogCase> {
 protected:
  void TearDown() override {
    g_dialog_case = nullptr;
    g_dialog_fired = false;
    DestroyAll();
  }
};

TEST_P(DialogReentrancy, DialogProcedureDestroysItsDialog) {
  const DialogCase &c = GetParam();
  HWND owner = MakeParent();
  g_dialog_case = &c;
  HWND dlg = CreateDialogIndirectParamA(nullptr, &kDialogTemplate, owner, DestroyingDialogProc, 0);
  if (c.msg == WM_INITDIALOG) {
    EXPECT_EQ(dlg, nullptr);
  } else {
    ASSERT_NE(dlg, nullptr);
    Pump();
    c.act(dlg);
    Pump();
    EXPECT_FALSE(IsWindow(dlg));
  }
  EXPECT_TRUE(g_dialog_fired);
  EXPECT_TRUE(IsWindow(owner));
}

// A key as the program's message loop hands it to IsDialogMessageA.
void DialogKey(HWND dlg, WPARAM key) {
  MSG m{GetFocus(), WM_KEYDOWN, key, 1, 0, {0, 0}};
  if (!m.hwnd) m.hwnd = dlg;
  IsDialogMessageA(dlg, &m);
}

const DialogCase kDialogCases[] = {
    {"initdialog", WM_INITDIALOG, kAny, [](HWND) {}},
    {"ok clicked", WM_COMMAND, BN_CLICKED, [](HWND d) { Send(GetDlgItem(d, IDOK), BM_CLICK); }},
    {"enter", WM_COMMAND, BN_CLICKED, [](HWND d) { DialogKey(d, VK_RETURN); }},
    {"escape", WM_COMMAND, BN_CLICKED, [](HWND d) { DialogKey(d, VK_ESCAPE); }},
    {"field typed", WM_COMMAND, EN_CHANGE, [](HWND d) { Send(GetDlgItem(d, IDC_FIELD), WM_CHAR, 'x'); }},
    {"field left", WM_COMMAND, EN_KILLFOCUS,
     [](HWND d) {
       SetFocus(GetDlgItem(d, IDC_FIELD));
       DialogKey(d, VK_TAB);
     }},
    {"next control", WM_COMMAND, EN_KILLFOCUS,
     [](HWND d) {
       SetFocus(GetDlgItem(d, IDC_FIELD));
       Send(d, WM_NEXTDLGCTL, 0, FALSE);
     }},
};

std::string DialogCaseName(const ::testing::TestParamInfo<DialogCase> &info) {
  std::string s = info.param.name;
  for (char &ch : s)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return s;
}

INSTANTIATE_TEST_SUITE_P(EveryDialogStep, DialogReentrancy, ::testing::ValuesIn(kDialogCases), DialogCaseName);

// ---- nesting: a procedure that re-sends to itself is stopped in words ----

LRESULT CALLBACK Recursive(HWND h, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_USER) return 1 + SendMessageA(h, WM_USER, wp + 1, lp);
  return DefWindowProcA(h, m, wp, lp);
}

TEST(SendNesting, EndlessSelfSendIsRefusedAtTheCap) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = Recursive;
  wc.lpszClassName = "QxRecursive";
  RegisterClassA(&wc);
  HWND h = CreateWindowA("QxRecursive", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(h, nullptr);
  ::testing::internal::CaptureStderr();
  const LRESULT depth = SendMessageA(h, WM_USER, 0, 0);
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(depth, 256);  // each level that ran added one; the refused one answered 0
  EXPECT_NE(said.find("nested 256 deep"), std::string::npos) << said;
  // The cap unwinds: the next send runs normally.
  EXPECT_EQ(SendMessageA(h, WM_USER + 1, 0, 0), 0);
  EXPECT_EQ(SendMessageA(h, WM_USER, 0, 0), 256);
  DestroyWindow(h);
}

}  // namespace
