// The Print and Print Setup common dialogs over the one printer there is for
// now, the file printer ("Print to File" on FILE:). The settings travel in the
// DEVMODE and DEVNAMES blocks the program keeps between calls. A printer DC
// cannot be made yet (the drawing part draws on the display only), so
// PD_RETURNDC and PD_RETURNIC fail with PDERR_CREATEICFAILURE.
#include <algorithm>
#include <cstring>
#include <string>

#include "controls_internal.h"

namespace qx::controls {
namespace {

constexpr char kDriver[] = "qxfile", kDevice[] = "Print to File", kOutput[] = "FILE:";

HGLOBAL DefaultDevMode() {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DEVMODEA));
  auto *dm = h ? static_cast<DEVMODEA *>(GlobalLock(h)) : nullptr;
  if (!dm) return h;
  std::memcpy(dm->dmDeviceName, kDevice, sizeof kDevice);
  dm->dmSpecVersion = 0x0400;
  dm->dmSize = sizeof(DEVMODEA);
  dm->dmFields = DM_ORIENTATION | DM_PAPERSIZE | DM_COPIES;
  dm->dmOrientation = DMORIENT_PORTRAIT;
  dm->dmPaperSize = DMPAPER_LETTER;
  dm->dmCopies = 1;
  GlobalUnlock(h);
  return h;
}

HGLOBAL DefaultDevNames() {
  const size_t size = sizeof(DEVNAMES) + sizeof kDriver + sizeof kDevice + sizeof kOutput;
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
  auto *dn = h ? static_cast<BYTE *>(GlobalLock(h)) : nullptr;
  if (!dn) return h;
  DEVNAMES names{};
  names.wDriverOffset = sizeof(DEVNAMES);
  names.wDeviceOffset = static_cast<WORD>(names.wDriverOffset + sizeof kDriver);
  names.wOutputOffset = static_cast<WORD>(names.wDeviceOffset + sizeof kDevice);
  names.wDefault = DN_DEFAULTPRN;
  std::memcpy(dn, &names, sizeof names);
  std::memcpy(dn + names.wDriverOffset, kDriver, sizeof kDriver);
  std::memcpy(dn + names.wDeviceOffset, kDevice, sizeof kDevice);
  std::memcpy(dn + names.wOutputOffset, kOutput, sizeof kOutput);
  GlobalUnlock(h);
  return h;
}

// The program's DEVMODE when it is whole, else a fresh one in its place.
void EnsureBlocks(PRINTDLGA &pd) {
  if (!pd.hDevMode || GlobalSize(pd.hDevMode) < sizeof(DEVMODEA)) {
    if (pd.hDevMode) GlobalFree(pd.hDevMode);
    pd.hDevMode = DefaultDevMode();
  }
  if (!pd.hDevNames || GlobalSize(pd.hDevNames) < sizeof(DEVNAMES)) {
    if (pd.hDevNames) GlobalFree(pd.hDevNames);
    pd.hDevNames = DefaultDevNames();
  }
}

struct Session {
  PRINTDLGA *pd = nullptr;
  bool setup = false;
};

Session *Of(HWND dlg) { return static_cast<Session *>(GetPropA(dlg, "QxPrintDialog")); }

void Init(HWND dlg, Session &s) {
  PRINTDLGA &pd = *s.pd;
  SetDlgItemTextA(dlg, stc1, kDevice);
  auto *dm = static_cast<DEVMODEA *>(GlobalLock(pd.hDevMode));
  if (s.setup) {
    CheckRadioButton(dlg, rad1, rad2, dm && dm->dmOrientation == DMORIENT_LANDSCAPE ? rad2 : rad1);
    SendDlgItemMessageA(dlg, cmb2, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Letter 8 1/2 x 11 in"));
    SendDlgItemMessageA(dlg, cmb2, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("A4 210 x 297 mm"));
    SendDlgItemMessageA(dlg, cmb2, CB_SETCURSEL, dm && dm->dmPaperSize == DMPAPER_A4 ? 1 : 0, 0);
  } else {
    const int which = (pd.Flags & PD_PAGENUMS) ? rad3 : (pd.Flags & PD_SELECTION) ? rad2 : rad1;
    CheckRadioButton(dlg, rad1, rad3, which);
    EnableWindow(GetDlgItem(dlg, rad2), !(pd.Flags & PD_NOSELECTION));
    EnableWindow(GetDlgItem(dlg, rad3), !(pd.Flags & PD_NOPAGENUMS));
    SetDlgItemInt(dlg, edt1, pd.nFromPage, FALSE);
    SetDlgItemInt(dlg, edt2, pd.nToPage, FALSE);
    const int copies = (pd.Flags & PD_USEDEVMODECOPIES) && dm ? dm->dmCopies : pd.nCopies;
    SetDlgItemInt(dlg, edt3, static_cast<UINT>(std::max(1, copies)), FALSE);
  }
  if (dm) GlobalUnlock(pd.hDevMode);
}

bool Ok(HWND dlg, Session &s) {
  PRINTDLGA &pd = *s.pd;
  auto *dm = static_cast<DEVMODEA *>(GlobalLock(pd.hDevMode));
  char title[32] = {};
  GetWindowTextA(dlg, title, sizeof title);
  if (s.setup) {
    if (dm) {
      dm->dmOrientation = IsDlgButtonChecked(dlg, rad2) == BST_CHECKED ? DMORIENT_LANDSCAPE : DMORIENT_PORTRAIT;
      dm->dmPaperSize = SendDlgItemMessageA(dlg, cmb2, CB_GETCURSEL, 0, 0) == 1 ? DMPAPER_A4 : DMPAPER_LETTER;
    }
  } else {
    BOOL ok_copies = FALSE;
    const UINT copies = GetDlgItemInt(dlg, edt3, &ok_copies, FALSE);
    if (!ok_copies || copies < 1 || copies > 9999) {
      if (dm) GlobalUnlock(pd.hDevMode);
      MessageBoxA(dlg, "The Copies value must be between 1 and 9999.", title, MB_OK | MB_ICONEXCLAMATION);
      return false;
    }
    pd.Flags &= ~static_cast<DWORD>(PD_SELECTION | PD_PAGENUMS);
    if (IsDlgButtonChecked(dlg, rad2) == BST_CHECKED) pd.Flags |= PD_SELECTION;
    if (IsDlgButtonChecked(dlg, rad3) == BST_CHECKED) {
      BOOL a = FALSE, b = FALSE;
      const UINT from = GetDlgItemInt(dlg, edt1, &a, FALSE), to = GetDlgItemInt(dlg, edt2, &b, FALSE);
      if (!a || !b || from < pd.nMinPage || to > pd.nMaxPage || from > to) {
        if (dm) GlobalUnlock(pd.hDevMode);
        const std::string msg = "This value is not within the page range.\nEnter a number between " +
                                std::to_string(pd.nMinPage) + " and " + std::to_string(pd.nMaxPage) + ".";
        MessageBoxA(dlg, msg.c_str(), title, MB_OK | MB_ICONEXCLAMATION);
        return false;
      }
      pd.Flags |= PD_PAGENUMS;
      pd.nFromPage = static_cast<WORD>(from);
      pd.nToPage = static_cast<WORD>(to);
    }
    if (pd.Flags & PD_USEDEVMODECOPIES) {
      if (dm) dm->dmCopies = static_cast<short>(copies);
      pd.nCopies = 1;
    } else {
      pd.nCopies = static_cast<WORD>(copies);
    }
    pd.Flags |= PD_PRINTTOFILE;  // the only printer prints to a file
  }
  if (dm) GlobalUnlock(pd.hDevMode);
  return true;
}

INT_PTR CALLBACK PrintProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
  Session *s = Of(dlg);
  if (msg == WM_INITDIALOG) {
    s = reinterpret_cast<Session *>(lp);
    SetPropA(dlg, "QxPrintDialog", s);
    Init(dlg, *s);
  }
  if (s) {
    const bool hooked = s->setup ? (s->pd->Flags & PD_ENABLESETUPHOOK) && s->pd->lpfnSetupHook
                                 : (s->pd->Flags & PD_ENABLEPRINTHOOK) && s->pd->lpfnPrintHook;
    LPPRINTHOOKPROC hook = s->setup ? s->pd->lpfnSetupHook : s->pd->lpfnPrintHook;
    if (hooked && hook(dlg, msg, wp, msg == WM_INITDIALOG ? reinterpret_cast<LPARAM>(s->pd) : lp) &&
        msg != WM_INITDIALOG)
      return TRUE;
  }
  if (!s) return FALSE;
  switch (msg) {
    case WM_INITDIALOG: return TRUE;
    case WM_COMMAND:
      if (LOWORD(wp) == IDOK && Ok(dlg, *s))
        EndDialog(dlg, IDOK);
      else if (LOWORD(wp) == IDCANCEL)
        EndDialog(dlg, IDCANCEL);
      return TRUE;
    case WM_DESTROY: RemovePropA(dlg, "QxPrintDialog"); return FALSE;
    default: return FALSE;
  }
}

const QX_DIALOG_ITEM kPrintItems[] = {
    QX_LTEXT("Printer:", -1, 6, 6, 40, 9),
    QX_LTEXT("", stc1, 48, 6, 120, 9),
    QX_GROUPBOX("Print Range", -1, 6, 20, 160, 66),
    QX_CONTROL("&All", rad1, "Button", BS_AUTORADIOBUTTON | WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP, 12, 32, 60,
               10),
    QX_AUTORADIOBUTTON("S&election", rad2, 12, 44, 60, 10),
    QX_AUTORADIOBUTTON("&Pages", rad3, 12, 56, 40, 10),
    QX_RTEXT("&From:", -1, 24, 70, 24, 9),
    QX_CONTROL("", edt1, "Edit", ES_NUMBER | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | WS_GROUP, 50, 68, 26, 12),
    QX_RTEXT("&To:", -1, 80, 70, 16, 9),
    QX_CONTROL("", edt2, "Edit", ES_NUMBER | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP, 98, 68, 26, 12),
    QX_LTEXT("&Copies:", -1, 6, 94, 30, 9),
    QX_CONTROL("", edt3, "Edit", ES_NUMBER | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | WS_GROUP, 40, 92, 26, 12),
    QX_DEFPUSHBUTTON("OK", IDOK, 176, 6, 50, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 176, 24, 50, 14),
};
const QX_DIALOG kPrint = QX_DIALOG_TEMPLATE(36, 24, 232, 112, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                            "Print", "MS Sans Serif", 8, kPrintItems);

const QX_DIALOG_ITEM kSetupItems[] = {
    QX_GROUPBOX("Printer", -1, 6, 4, 160, 24),
    QX_LTEXT("", stc1, 12, 14, 148, 9),
    QX_GROUPBOX("Orientation", -1, 6, 32, 70, 40),
    QX_CONTROL("Po&rtrait", rad1, "Button", BS_AUTORADIOBUTTON | WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP, 12, 44,
               56, 10),
    QX_AUTORADIOBUTTON("&Landscape", rad2, 12, 56, 56, 10),
    QX_GROUPBOX("Paper", -1, 82, 32, 84, 40),
    QX_LTEXT("Si&ze:", -1, 88, 44, 20, 9),
    QX_CONTROL("", cmb2, "ComboBox", CBS_DROPDOWNLIST | WS_VSCROLL | WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_GROUP, 88,
               54, 74, 60),
    QX_DEFPUSHBUTTON("OK", IDOK, 176, 6, 50, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 176, 24, 50, 14),
};
const QX_DIALOG kSetup = QX_DIALOG_TEMPLATE(36, 24, 232, 80, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                            "Print Setup", "MS Sans Serif", 8, kSetupItems);

}  // namespace
}  // namespace qx::controls

BOOL WINAPI PrintDlgA(LPPRINTDLGA pd) {
  using namespace qx::controls;
  t_error = 0;
  if (!pd) {
    t_error = CDERR_INITIALIZATION;
    return FALSE;
  }
  if (pd->lStructSize != sizeof(PRINTDLGA)) {
    t_error = CDERR_STRUCTSIZE;
    return FALSE;
  }
  if (pd->Flags & PD_RETURNDEFAULT) {
    // The blocks must come in empty: the defaults are made fresh.
    if (pd->hDevMode || pd->hDevNames) {
      t_error = PDERR_RETDEFFAILURE;
      return FALSE;
    }
  }
  EnsureBlocks(*pd);
  if (!pd->hDevMode || !pd->hDevNames) {
    t_error = CDERR_MEMALLOCFAILURE;
    return FALSE;
  }
  if (!(pd->Flags & PD_RETURNDEFAULT)) {
    Session s;
    s.pd = pd;
    s.setup = (pd->Flags & PD_PRINTSETUP) != 0;
    const INT_PTR r = DialogBoxIndirectParamA(pd->hInstance, s.setup ? &kSetup : &kPrint, pd->hwndOwner, PrintProc,
                                              reinterpret_cast<LPARAM>(&s));
    if (r == -1) {
      t_error = CDERR_DIALOGFAILURE;
      return FALSE;
    }
    if (r != IDOK) return FALSE;
  }
  if (pd->Flags & (PD_RETURNDC | PD_RETURNIC)) {
    pd->hDC = nullptr;
    t_error = PDERR_CREATEICFAILURE;  // no printer DC can be made yet
    return FALSE;
  }
  return TRUE;
}
