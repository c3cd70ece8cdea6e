// The dialog manager: templates in dialog units, WM_INITDIALOG and the first
// focus, Tab order, arrows in a radio group, Enter for the default button,
// Esc for Cancel, mnemonics, the owner disabled during a modal loop, timers
// and posted messages inside it, and the dialog-item helpers.
#include <gtest/gtest.h>

#include <functional>

#include "qxtest/controls.h"

using namespace qx::test;

namespace {

enum {
  IDC_NAME = 101,
  IDC_VERBOSE = 102,
  IDC_ONE = 103,
  IDC_TWO = 104,
  IDC_THREE = 105,
  IDC_COUNT = 106,
  IDC_LABEL = 107
};

const QX_DIALOG_ITEM kItems[] = {
    QX_LTEXT("&Name:", IDC_LABEL, 7, 9, 30, 8),
    QX_EDITTEXT(IDC_NAME, 40, 7, 100, 12),
    QX_AUTOCHECKBOX("&Verbose", IDC_VERBOSE, 7, 25, 60, 10),
    QX_CONTROL("&One", IDC_ONE, "Button", BS_AUTORADIOBUTTON | WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP, 7, 40, 50,
               10),
    QX_AUTORADIOBUTTON("T&wo", IDC_TWO, 7, 52, 50, 10),
    QX_AUTORADIOBUTTON("Th&ree", IDC_THREE, 7, 64, 50, 10),
    QX_CONTROL("", IDC_COUNT, "Edit", ES_LEFT | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | WS_GROUP, 70, 40, 40,
               12),
    QX_DEFPUSHBUTTON("OK", IDOK, 120, 80, 50, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 120, 98, 50, 14),
};
const QX_DIALOG kDialog = QX_DIALOG_TEMPLATE(20, 20, 180, 120, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                             "Settings", "MS Sans Serif", 8, kItems);

struct Script {
  std::string name;
  UINT verbose = 0;
  int radio = 0;
  std::vector<std::function<void(HWND)>> steps;
  size_t next = 0;
  HWND dlg = nullptr;
  HWND owner = nullptr;
  bool owner_was_disabled = false;
  int posted_seen = 0;
};
Script *g_run = nullptr;

void CALLBACK Step(HWND, UINT, UINT_PTR id, DWORD) {
  if (!g_run || !g_run->dlg || !InputDrained()) return;
  if (g_run->next < g_run->steps.size()) g_run->steps[g_run->next++](g_run->dlg);
}

INT_PTR CALLBACK SettingsProc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
  switch (m) {
    case WM_INITDIALOG:
      g_run->dlg = h;
      CheckRadioButton(h, IDC_ONE, IDC_THREE, IDC_ONE);
      SetDlgItemInt(h, IDC_COUNT, 7, FALSE);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL) {
        char buf[64];
        GetDlgItemTextA(h, IDC_NAME, buf, sizeof buf);
        g_run->name = buf;
        g_run->verbose = IsDlgButtonChecked(h, IDC_VERBOSE);
        for (int id = IDC_ONE; id <= IDC_THREE; ++id)
          if (IsDlgButtonChecked(h, id)) g_run->radio = id;
        EndDialog(h, LOWORD(wp));
        return TRUE;
      }
      return FALSE;
    default: return FALSE;
  }
}

LRESULT CALLBACK OwnerProc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_APP && g_run) ++g_run->posted_seen;
  return DefWindowProcA(h, m, wp, lp);
}

class Dialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    static bool registered = false;
    if (!registered) {
      WNDCLASSA wc{};
      wc.lpfnWndProc = OwnerProc;
      wc.lpszClassName = "QxDlgOwner";
      RegisterClassA(&wc);
      registered = true;
    }
    owner_ = CreateWindowA("QxDlgOwner", "Owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 500, 400, nullptr, nullptr,
                           nullptr, nullptr);
    Pump();
  }
  void TearDown() override {
    g_run = nullptr;
    DestroyAll();
  }
  INT_PTR RunModal(Script &run) {
    g_run = &run;
    run.owner = owner_;
    UINT_PTR timer = SetTimer(nullptr, 0, 20, Step);
    const INT_PTR r = DialogBoxIndirectParamA(nullptr, &kDialog, owner_, SettingsProc, 0);
    KillTimer(nullptr, timer);
    g_run = nullptr;
    return r;
  }
  HWND owner_ = nullptr;
};

TEST_F(Dialogs, TabOrderDefaultButtonAndMnemonicsAsAPersonUsesThem) {
  Script run;
  run.steps = {
      [](HWND d) {
        // WM_INITDIALOG returned TRUE: the first tab stop has the focus.
        EXPECT_EQ(GetFocus(), GetDlgItem(d, IDC_NAME));
        g_run->owner_was_disabled = !IsWindowEnabled(g_run->owner);
        PostMessageA(g_run->owner, WM_APP, 0, 0);  // posted messages still arrive
        Type("alice");
      },
      [](HWND) { Key(kTab); },
      [](HWND d) {
        EXPECT_EQ(GetFocus(), GetDlgItem(d, IDC_VERBOSE));
        Key(kTab);
      },
      [](HWND d) {
        EXPECT_EQ(GetFocus(), GetDlgItem(d, IDC_ONE));  // the group's checked button is its tab stop
        Key(kDown, true);
      },
      [](HWND d) {
        EXPECT_EQ(GetFocus(), GetDlgItem(d, IDC_TWO));
        EXPECT_EQ(IsDlgButtonChecked(d, IDC_TWO), BST_CHECKED);
        EXPECT_EQ(IsDlgButtonChecked(d, IDC_ONE), BST_UNCHECKED);
        KeyWith(kShift, kTab);
      },
      [](HWND d) {
        EXPECT_EQ(GetFocus(), GetDlgItem(d, IDC_VERBOSE));
        KeyWith(kAlt, ScanOf('n'));  // the label's mnemonic moves to the edit after it
      },
      [](HWND d) {
        EXPECT_EQ(GetFocus(), GetDlgItem(d, IDC_NAME));
        KeyWith(kAlt, ScanOf('v'));  // toggles the check box
      },
      [](HWND d) {
        EXPECT_EQ(IsDlgButtonChecked(d, IDC_VERBOSE), BST_CHECKED);
        EXPECT_EQ(SendMessageA(d, DM_GETDEFID, 0, 0), MAKELONG(IDOK, DC_HASDEFID));
        Key(kEnter);  // focus is in the edit: Enter presses the default button
      },
  };
  EXPECT_EQ(RunModal(run), IDOK);
  EXPECT_EQ(run.name, "alice");
  EXPECT_EQ(run.verbose, BST_CHECKED);
  EXPECT_EQ(run.radio, IDC_TWO);
  EXPECT_TRUE(run.owner_was_disabled);
  EXPECT_EQ(run.posted_seen, 1);
  EXPECT_TRUE(IsWindowEnabled(owner_));  // given back after the dialog
}

TEST_F(Dialogs, EscapeCancelsAndEnterOnAFocusedButtonPressesIt) {
  Script esc;
  esc.steps = {[](HWND) { Key(kEsc); }};
  EXPECT_EQ(RunModal(esc), IDCANCEL);
  Script cancel;
  cancel.steps = {
      [](HWND d) { SendMessageA(d, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(d, IDCANCEL)), TRUE); },
      [](HWND d) {
        // A focused push button looks like the default while it has the focus.
        EXPECT_EQ(GetWindowLongA(GetDlgItem(d, IDCANCEL), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
        EXPECT_EQ(GetWindowLongA(GetDlgItem(d, IDOK), GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON);
        Key(kEnter);
      },
  };
  EXPECT_EQ(RunModal(cancel), IDCANCEL);
}

TEST_F(Dialogs, ModelessDialogUnitsAndItemHelpers) {
  Script run;
  g_run = &run;
  HWND d = CreateDialogIndirectParamA(nullptr, &kDialog, owner_, SettingsProc, 0);
  ASSERT_NE(d, nullptr);
  EXPECT_FALSE(IsWindowVisible(d));  // no WS_VISIBLE in the template
  // Dialog units follow the dialog's font.
  RECT r{0, 0, 4, 8};
  ASSERT_TRUE(MapDialogRect(d, &r));
  EXPECT_GT(r.right, 2);
  EXPECT_GT(r.bottom, 8);
  RECT item;
  GetWindowRect(GetDlgItem(d, IDOK), &item);
  EXPECT_EQ(item.right - item.left, 50 * r.right / 4);
  EXPECT_EQ(GetDlgCtrlID(GetDlgItem(d, IDC_COUNT)), IDC_COUNT);
  BOOL ok = FALSE;
  EXPECT_EQ(GetDlgItemInt(d, IDC_COUNT, &ok, FALSE), 7u);
  EXPECT_TRUE(ok);
  struct IntCase {
    const char *text;
    BOOL is_signed;
    UINT value;
    BOOL ok;
  };
  const IntCase cases[] = {{"42", FALSE, 42, TRUE},         {" -5 ", TRUE, static_cast<UINT>(-5), TRUE},
                           {"-5", FALSE, 0, FALSE},         {"12x", FALSE, 0, FALSE},
                           {"", FALSE, 0, FALSE},           {"4294967295", FALSE, 4294967295u, TRUE},
                           {"4294967296", FALSE, 0, FALSE}, {"2147483648", TRUE, 0, FALSE}};
  for (const IntCase &c : cases) {
    SetDlgItemTextA(d, IDC_COUNT, c.text);
    EXPECT_EQ(GetDlgItemInt(d, IDC_COUNT, &ok, c.is_signed), c.value) << c.text;
    EXPECT_EQ(ok, c.ok) << c.text;
  }
  CheckDlgButton(d, IDC_VERBOSE, BST_CHECKED);
  EXPECT_EQ(IsDlgButtonChecked(d, IDC_VERBOSE), BST_CHECKED);
  CheckRadioButton(d, IDC_ONE, IDC_THREE, IDC_THREE);
  EXPECT_EQ(IsDlgButtonChecked(d, IDC_ONE), BST_UNCHECKED);
  EXPECT_EQ(IsDlgButtonChecked(d, IDC_THREE), BST_CHECKED);
  // Tab order and groups.
  EXPECT_EQ(GetNextDlgTabItem(d, nullptr, FALSE), GetDlgItem(d, IDC_NAME));
  EXPECT_EQ(GetNextDlgTabItem(d, GetDlgItem(d, IDC_NAME), TRUE), GetDlgItem(d, IDCANCEL));
  EXPECT_EQ(GetNextDlgGroupItem(d, GetDlgItem(d, IDC_THREE), FALSE), GetDlgItem(d, IDC_ONE));
  EXPECT_EQ(GetNextDlgGroupItem(d, GetDlgItem(d, IDC_ONE), TRUE), GetDlgItem(d, IDC_THREE));
  SendMessageA(d, DM_SETDEFID, IDCANCEL, 0);
  EXPECT_EQ(LOWORD(SendMessageA(d, DM_GETDEFID, 0, 0)), IDCANCEL);
  EXPECT_GT(LOWORD(GetDialogBaseUnits()), 0);
  DestroyWindow(d);
}

TEST_F(Dialogs, OwnerDrawnButtonAsksItsParentToDraw) {
  static int drawn = 0;
  struct Local {
    static INT_PTR CALLBACK Proc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
      if (m == WM_DRAWITEM) {
        const auto *dis = reinterpret_cast<const DRAWITEMSTRUCT *>(lp);
        if (dis->CtlType == ODT_BUTTON && dis->CtlID == 9) ++drawn;
        return TRUE;
      }
      return m == WM_INITDIALOG;
    }
  };
  static const QX_DIALOG_ITEM items[] = {
      QX_CONTROL("", 9, "Button", BS_OWNERDRAW | WS_CHILD | WS_VISIBLE | WS_TABSTOP, 5, 5, 40, 14)};
  static const QX_DIALOG tmpl =
      QX_DIALOG_TEMPLATE(0, 0, 60, 30, WS_POPUP | WS_CAPTION | WS_VISIBLE, "Draw", "MS Sans Serif", 8, items);
  HWND d = CreateDialogIndirectParamA(nullptr, &tmpl, owner_, Local::Proc, 0);
  ASSERT_NE(d, nullptr);
  Pump();
  EXPECT_GT(drawn, 0);
  DestroyWindow(d);
}

}  // namespace
