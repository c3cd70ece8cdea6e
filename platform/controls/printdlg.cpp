// The Print and Print Setup common dialogs over the printers of this machine
// (the CUPS queues, "Print to PDF" and "Print to File" on FILE:). The choice
// travels in the DEVMODE and DEVNAMES blocks the program keeps between calls;
// PD_RETURNDC and PD_RETURNIC make a printer DC or IC from them.
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "controls_internal.h"
#include "qx/print.h"

namespace qx::controls {
namespace {

using qx::print::Printer;

HGLOBAL DevModeFor(const Printer &p) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DEVMODEA));
  auto *dm = h ? static_cast<DEVMODEA *>(GlobalLock(h)) : nullptr;
  if (!dm) return h;
  std::memcpy(dm->dmDeviceName, p.name.data(), std::min(p.name.size(), sizeof dm->dmDeviceName - 1));
  dm->dmSpecVersion = 0x0400;
  dm->dmSize = sizeof(DEVMODEA);
  dm->dmFields = DM_ORIENTATION | DM_PAPERSIZE | DM_COPIES | DM_PRINTQUALITY;
  dm->dmOrientation = DMORIENT_PORTRAIT;
  dm->dmPaperSize = p.paper;
  dm->dmCopies = 1;
  dm->dmPrintQuality = 300;
  GlobalUnlock(h);
  return h;
}

HGLOBAL DevNamesFor(const Printer &p, bool is_default) {
  const size_t size = sizeof(DEVNAMES) + p.driver.size() + p.name.size() + p.port.size() + 3;
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
  auto *dn = h ? static_cast<BYTE *>(GlobalLock(h)) : nullptr;
  if (!dn) return h;
  DEVNAMES names{};
  names.wDriverOffset = sizeof(DEVNAMES);
  names.wDeviceOffset = static_cast<WORD>(names.wDriverOffset + p.driver.size() + 1);
  names.wOutputOffset = static_cast<WORD>(names.wDeviceOffset + p.name.size() + 1);
  names.wDefault = is_default ? DN_DEFAULTPRN : 0;
  std::memcpy(dn, &names, sizeof names);
  std::memcpy(dn + names.wDriverOffset, p.driver.c_str(), p.driver.size() + 1);
  std::memcpy(dn + names.wDeviceOffset, p.name.c_str(), p.name.size() + 1);
  std::memcpy(dn + names.wOutputOffset, p.port.c_str(), p.port.size() + 1);
  GlobalUnlock(h);
  return h;
}

// One of the DEVNAMES strings, bounded by the block.
std::string DevNamesString(HGLOBAL h, WORD DEVNAMES::*field) {
  const SIZE_T size = h ? GlobalSize(h) : 0;
  const auto *dn = size >= sizeof(DEVNAMES) ? static_cast<const char *>(GlobalLock(h)) : nullptr;
  if (!dn) return {};
  DEVNAMES names;
  std::memcpy(&names, dn, sizeof names);
  const size_t at = names.*field;
  std::string s = at < size ? std::string(dn + at, strnlen(dn + at, size - at)) : std::string();
  GlobalUnlock(h);
  return s;
}

// Points the blocks at printer p: a fresh DEVNAMES, and a DEVMODE that keeps
// the program's paper settings when it had a whole one.
void SelectPrinter(PRINTDLGA &pd, const Printer &p, bool is_default) {
  if (pd.hDevNames) GlobalFree(pd.hDevNames);
  pd.hDevNames = DevNamesFor(p, is_default);
  if (pd.hDevMode && GlobalSize(pd.hDevMode) >= sizeof(DEVMODEA)) {
    if (auto *dm = static_cast<DEVMODEA *>(GlobalLock(pd.hDevMode))) {
      std::memset(dm->dmDeviceName, 0, sizeof dm->dmDeviceName);
      std::memcpy(dm->dmDeviceName, p.name.data(), std::min(p.name.size(), sizeof dm->dmDeviceName - 1));
      GlobalUnlock(pd.hDevMode);
    }
    return;
  }
  if (pd.hDevMode) GlobalFree(pd.hDevMode);
  pd.hDevMode = DevModeFor(p);
}

// The program's blocks stand when they are whole and name a printer that
// still exists; otherwise they are made for the default printer.
void EnsureBlocks(PRINTDLGA &pd, const std::vector<Printer> &printers) {
  const std::string wanted = DevNamesString(pd.hDevNames, &DEVNAMES::wDeviceOffset);
  const bool known = std::any_of(printers.begin(), printers.end(),
                                 [&](const Printer &p) { return strcasecmp(p.name.c_str(), wanted.c_str()) == 0; });
  if (known && pd.hDevMode && GlobalSize(pd.hDevMode) >= sizeof(DEVMODEA)) return;
  SelectPrinter(pd, printers.front(), true);
}

struct PaperChoice {
  short id;
  const char *label;
};
constexpr PaperChoice kPaperChoices[] = {
    {DMPAPER_LETTER, "Letter 8 1/2 x 11 in"}, {DMPAPER_A4, "A4 210 x 297 mm"}, {DMPAPER_LEGAL, "Legal 8 1/2 x 14 in"}};

struct Session {
  PRINTDLGA *pd = nullptr;
  bool setup = false;
  std::vector<Printer> printers;  // the default first
};

Session *Of(HWND dlg) { return static_cast<Session *>(GetPropA(dlg, "QxPrintDialog")); }

void Init(HWND dlg, Session &s) {
  PRINTDLGA &pd = *s.pd;
  const std::string current = DevNamesString(pd.hDevNames, &DEVNAMES::wDeviceOffset);
  for (size_t i = 0; i < s.printers.size(); ++i) {
    const std::string label = s.printers[i].name + (i == 0 ? " (default)" : "") + " on " + s.printers[i].port;
    SendDlgItemMessageA(dlg, cmb4, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label.c_str()));
    if (strcasecmp(s.printers[i].name.c_str(), current.c_str()) == 0)
      SendDlgItemMessageA(dlg, cmb4, CB_SETCURSEL, i, 0);
  }
  auto *dm = static_cast<DEVMODEA *>(GlobalLock(pd.hDevMode));
  if (s.setup) {
    CheckRadioButton(dlg, rad1, rad2, dm && dm->dmOrientation == DMORIENT_LANDSCAPE ? rad2 : rad1);
    for (const PaperChoice &p : kPaperChoices)
      SendDlgItemMessageA(dlg, cmb2, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(p.label));
    int paper = 0;
    for (int i = 0; i < static_cast<int>(std::size(kPaperChoices)); ++i)
      if (dm && dm->dmPaperSize == kPaperChoices[i].id) paper = i;
    SendDlgItemMessageA(dlg, cmb2, CB_SETCURSEL, paper, 0);
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
  const LRESULT chosen = SendDlgItemMessageA(dlg, cmb4, CB_GETCURSEL, 0, 0);
  if (chosen >= 0 && static_cast<size_t>(chosen) < s.printers.size() &&
      strcasecmp(s.printers[chosen].name.c_str(), DevNamesString(pd.hDevNames, &DEVNAMES::wDeviceOffset).c_str()) != 0)
    SelectPrinter(pd, s.printers[chosen], chosen == 0);
  auto *dm = static_cast<DEVMODEA *>(GlobalLock(pd.hDevMode));
  char title[32] = {};
  GetWindowTextA(dlg, title, sizeof title);
  if (s.setup) {
    if (dm) {
      dm->dmOrientation = IsDlgButtonChecked(dlg, rad2) == BST_CHECKED ? DMORIENT_LANDSCAPE : DMORIENT_PORTRAIT;
      const LRESULT paper = SendDlgItemMessageA(dlg, cmb2, CB_GETCURSEL, 0, 0);
      if (paper >= 0 && paper < static_cast<LRESULT>(std::size(kPaperChoices))) {
        dm->dmPaperSize = kPaperChoices[paper].id;
        dm->dmFields |= DM_PAPERSIZE;
      }
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
    pd.Flags &= ~static_cast<DWORD>(PD_PRINTTOFILE);
    if (DevNamesString(pd.hDevNames, &DEVNAMES::wOutputOffset) == "FILE:") pd.Flags |= PD_PRINTTOFILE;
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
    QX_LTEXT("&Printer:", -1, 6, 6, 40, 9),
    QX_CONTROL("", cmb4, "ComboBox", CBS_DROPDOWNLIST | WS_VSCROLL | WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_GROUP, 40,
               4, 128, 80),
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
    QX_CONTROL("", cmb4, "ComboBox", CBS_DROPDOWNLIST | WS_VSCROLL | WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_GROUP, 12,
               12, 148, 80),
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
  // The record's size as a 32-bit program lays it out (66) is taken too.
  if (pd->lStructSize != sizeof(PRINTDLGA) && pd->lStructSize != 66) {
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
  Session s;
  s.pd = pd;
  s.setup = (pd->Flags & PD_PRINTSETUP) != 0;
  s.printers = qx::print::Printers();
  EnsureBlocks(*pd, s.printers);
  if (!pd->hDevMode || !pd->hDevNames) {
    t_error = CDERR_MEMALLOCFAILURE;
    return FALSE;
  }
  if (!(pd->Flags & PD_RETURNDEFAULT)) {
    const INT_PTR r = DialogBoxIndirectParamA(pd->hInstance, s.setup ? &kSetup : &kPrint, pd->hwndOwner, PrintProc,
                                              reinterpret_cast<LPARAM>(&s));
    if (r == -1) {
      t_error = CDERR_DIALOGFAILURE;
      return FALSE;
    }
    if (r != IDOK) return FALSE;
  }
  if (pd->Flags & (PD_RETURNDC | PD_RETURNIC)) {
    const std::string driver = DevNamesString(pd->hDevNames, &DEVNAMES::wDriverOffset);
    const std::string device = DevNamesString(pd->hDevNames, &DEVNAMES::wDeviceOffset);
    const std::string port = DevNamesString(pd->hDevNames, &DEVNAMES::wOutputOffset);
    const void *dm = GlobalLock(pd->hDevMode);
    pd->hDC = (pd->Flags & PD_RETURNDC) ? CreateDCA(driver.c_str(), device.c_str(), port.c_str(), dm)
                                        : CreateICA(driver.c_str(), device.c_str(), port.c_str(), dm);
    GlobalUnlock(pd->hDevMode);
    if (!pd->hDC) {
      t_error = PDERR_CREATEICFAILURE;
      return FALSE;
    }
  }
  return TRUE;
}
