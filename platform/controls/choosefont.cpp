// The Font common dialog: the desktop faces the drawing part provides, their
// styles and sizes, the effects, and a sample drawn with the choice.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "controls_internal.h"

namespace qx::controls {
namespace {

// The faces the drawing part maps onto installed fonts.
struct Face {
  const char *name;
  bool fixed;
  BYTE family;
};
const Face kFaces[] = {
    {"Arial", false, FF_SWISS},           {"Courier", true, FF_MODERN},       {"Courier New", true, FF_MODERN},
    {"Fixedsys", true, FF_MODERN},        {"MS Sans Serif", false, FF_SWISS}, {"MS Serif", false, FF_ROMAN},
    {"Small Fonts", false, FF_SWISS},     {"System", false, FF_SWISS},        {"Terminal", true, FF_MODERN},
    {"Times New Roman", false, FF_ROMAN},
};
const char *const kStyles[] = {"Regular", "Italic", "Bold", "Bold Italic"};
const int kSizes[] = {8, 9, 10, 11, 12, 14, 16, 18, 20, 22, 24, 26, 28, 36, 48, 72};

struct FontDialog {
  CHOOSEFONTA *cf = nullptr;
  HFONT sample = nullptr;
};

FontDialog *Of(HWND dlg) { return static_cast<FontDialog *>(GetPropA(dlg, "QxFontDialog")); }

const Face *FindFace(const std::string &name) {
  for (const Face &f : kFaces)
    if (lstrcmpiA(f.name, name.c_str()) == 0) return &f;
  return nullptr;
}

int LogPixels() {
  HDC dc = CreateCompatibleDC(nullptr);
  const int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
  if (dc) DeleteDC(dc);
  return dpi > 0 ? dpi : 96;
}

std::string Text(HWND dlg, int id) {
  char buf[LF_FACESIZE + 16] = {};
  GetDlgItemTextA(dlg, id, buf, sizeof buf);
  return buf;
}

// The choice in the fields as a LOGFONT; false when the size is no number.
bool Current(HWND dlg, const FontDialog &d, LOGFONTA &lf, int &points) {
  lf = LOGFONTA{};
  const std::string face = Text(dlg, cmb1), style = Text(dlg, cmb2), size = Text(dlg, cmb3);
  char *end = nullptr;
  const long p = std::strtol(size.c_str(), &end, 10);
  if (size.empty() || (end && *end) || p <= 0 || p > 1638) return false;
  points = static_cast<int>(p);
  lf.lfHeight = -((points * LogPixels() + 36) / 72);
  lf.lfWeight = style.find("Bold") != std::string::npos ? FW_BOLD : FW_NORMAL;
  lf.lfItalic = style.find("Italic") != std::string::npos;
  lf.lfUnderline = IsDlgButtonChecked(dlg, chx2) == BST_CHECKED;
  lf.lfStrikeOut = IsDlgButtonChecked(dlg, chx1) == BST_CHECKED;
  lf.lfCharSet = ANSI_CHARSET;
  const Face *f = FindFace(face);
  lf.lfPitchAndFamily =
      static_cast<BYTE>((f && f->fixed ? FIXED_PITCH : VARIABLE_PITCH) | (f ? f->family : FF_DONTCARE));
  std::strncpy(lf.lfFaceName, face.c_str(), LF_FACESIZE - 1);
  return true;
}

void UpdateSample(HWND dlg, FontDialog &d) {
  LOGFONTA lf;
  int points;
  if (!Current(dlg, d, lf, points)) return;
  if (d.sample) DeleteObject(d.sample);
  d.sample = CreateFontIndirectA(&lf);
  SendDlgItemMessageA(dlg, stc5, WM_SETFONT, reinterpret_cast<WPARAM>(d.sample), TRUE);
}

void Init(HWND dlg, FontDialog &d) {
  const CHOOSEFONTA &cf = *d.cf;
  for (const Face &f : kFaces)
    if (!(cf.Flags & CF_FIXEDPITCHONLY) || f.fixed)
      SendDlgItemMessageA(dlg, cmb1, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(f.name));
  for (const char *s : kStyles) SendDlgItemMessageA(dlg, cmb2, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
  for (int s : kSizes) {
    if ((cf.Flags & CF_LIMITSIZE) && (s < cf.nSizeMin || s > cf.nSizeMax)) continue;
    SendDlgItemMessageA(dlg, cmb3, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(std::to_string(s).c_str()));
  }
  std::string face = "MS Sans Serif";
  int points = 8, style = 0;
  if ((cf.Flags & CF_INITTOLOGFONTSTRUCT) && cf.lpLogFont) {
    const LOGFONTA &lf = *cf.lpLogFont;
    const std::string given(lf.lfFaceName, strnlen(lf.lfFaceName, LF_FACESIZE));
    if (!given.empty()) face = given;
    if (lf.lfHeight)
      points = std::max(1, (std::abs(static_cast<int>(lf.lfHeight)) * 72 + LogPixels() / 2) / LogPixels());
    style = (lf.lfItalic ? 1 : 0) + (lf.lfWeight >= FW_SEMIBOLD ? 2 : 0);
    CheckDlgButton(dlg, chx1, lf.lfStrikeOut ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dlg, chx2, lf.lfUnderline ? BST_CHECKED : BST_UNCHECKED);
  }
  if (SendDlgItemMessageA(dlg, cmb1, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(face.c_str())) <
      0)
    SetDlgItemTextA(dlg, cmb1, face.c_str());
  SendDlgItemMessageA(dlg, cmb2, CB_SETCURSEL, static_cast<WPARAM>(style), 0);
  SetDlgItemTextA(dlg, cmb3, std::to_string(points).c_str());
  if (!(cf.Flags & CF_EFFECTS)) {
    for (int id : {chx1, chx2}) ShowWindow(GetDlgItem(dlg, id), SW_HIDE);
  }
  UpdateSample(dlg, d);
}

void Ok(HWND dlg, FontDialog &d) {
  CHOOSEFONTA &cf = *d.cf;
  LOGFONTA lf;
  int points;
  char title[32] = {};
  GetWindowTextA(dlg, title, sizeof title);
  if (!Current(dlg, d, lf, points)) {
    MessageBoxA(dlg, "Size must be a number.", title, MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  if ((cf.Flags & CF_LIMITSIZE) && (points < cf.nSizeMin || points > cf.nSizeMax)) {
    const std::string msg =
        "Size must be between " + std::to_string(cf.nSizeMin) + " and " + std::to_string(cf.nSizeMax) + " points.";
    MessageBoxA(dlg, msg.c_str(), title, MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  if ((cf.Flags & CF_FORCEFONTEXIST) && !FindFace(lf.lfFaceName)) {
    MessageBoxA(dlg, "There is no font with that name.\nChoose a font from the list of fonts.", title,
                MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  if (cf.lpLogFont) *cf.lpLogFont = lf;
  cf.iPointSize = points * 10;
  cf.nFontType = static_cast<WORD>(SCREEN_FONTTYPE | (lf.lfWeight >= FW_BOLD ? BOLD_FONTTYPE : 0) |
                                   (lf.lfItalic ? ITALIC_FONTTYPE : 0) |
                                   (lf.lfWeight < FW_BOLD && !lf.lfItalic ? REGULAR_FONTTYPE : 0));
  if ((cf.Flags & CF_USESTYLE) && cf.lpszStyle) {
    const std::string style = Text(dlg, cmb2);
    std::strncpy(cf.lpszStyle, style.c_str(), LF_FACESIZE - 1);
    cf.lpszStyle[LF_FACESIZE - 1] = '\0';
  }
  EndDialog(dlg, IDOK);
}

INT_PTR CALLBACK FontProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
  FontDialog *d = Of(dlg);
  if (msg == WM_INITDIALOG) {
    d = reinterpret_cast<FontDialog *>(lp);
    SetPropA(dlg, "QxFontDialog", d);
    Init(dlg, *d);
  }
  if (d && (d->cf->Flags & CF_ENABLEHOOK) && d->cf->lpfnHook &&
      d->cf->lpfnHook(dlg, msg, wp, msg == WM_INITDIALOG ? reinterpret_cast<LPARAM>(d->cf) : lp) &&
      msg != WM_INITDIALOG)
    return TRUE;
  if (!d) return FALSE;
  switch (msg) {
    case WM_INITDIALOG: return TRUE;
    case WM_COMMAND: {
      const int id = LOWORD(wp), code = HIWORD(wp);
      if (id == IDOK)
        Ok(dlg, *d);
      else if (id == IDCANCEL)
        EndDialog(dlg, IDCANCEL);
      else if (code == CBN_SELCHANGE || code == CBN_EDITCHANGE || (code == BN_CLICKED && (id == chx1 || id == chx2))) {
        // The field shows the selection only after the notification; look again once it has.
        PostMessageA(dlg, WM_APP, 0, 0);
      }
      return TRUE;
    }
    case WM_APP: UpdateSample(dlg, *d); return TRUE;
    case WM_DESTROY:
      if (d->sample) DeleteObject(d->sample);
      d->sample = nullptr;
      RemovePropA(dlg, "QxFontDialog");
      return FALSE;
    default: return FALSE;
  }
}

const QX_DIALOG_ITEM kItems[] = {
    QX_LTEXT("&Font:", -1, 6, 3, 40, 9),
    QX_CONTROL("", cmb1, "ComboBox",
               CBS_DROPDOWN | CBS_SORT | CBS_AUTOHSCROLL | WS_VSCROLL | WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_GROUP,
               6, 13, 94, 80),
    QX_LTEXT("Font St&yle:", -1, 108, 3, 44, 9),
    QX_CONTROL("", cmb2, "ComboBox", CBS_DROPDOWNLIST | WS_VSCROLL | WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_GROUP, 108,
               13, 64, 80),
    QX_LTEXT("&Size:", -1, 179, 3, 30, 9),
    QX_CONTROL("", cmb3, "ComboBox", CBS_DROPDOWN | WS_VSCROLL | WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_GROUP, 179, 13,
               32, 80),
    QX_GROUPBOX("Effects", -1, 6, 40, 84, 34),
    QX_CONTROL("Stri&keout", chx1, "Button", BS_AUTOCHECKBOX | WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_GROUP, 10, 50,
               60, 10),
    QX_CONTROL("&Underline", chx2, "Button", BS_AUTOCHECKBOX | WS_CHILD | WS_VISIBLE, 10, 61, 60, 10),
    QX_GROUPBOX("Sample", -1, 98, 40, 114, 34),
    QX_CONTROL("AaBbYyZz", stc5, "Static", SS_CENTER | SS_NOPREFIX | WS_CHILD | WS_VISIBLE, 104, 50, 102, 20),
    QX_DEFPUSHBUTTON("OK", IDOK, 218, 6, 44, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 218, 23, 44, 14),
};
const QX_DIALOG kFont = QX_DIALOG_TEMPLATE(13, 54, 268, 80, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU, "Font",
                                           "MS Sans Serif", 8, kItems);

}  // namespace
}  // namespace qx::controls

BOOL WINAPI ChooseFontA(LPCHOOSEFONTA cf) {
  using namespace qx::controls;
  t_error = 0;
  if (!cf) {
    t_error = CDERR_INITIALIZATION;
    return FALSE;
  }
  if (cf->lStructSize != sizeof(CHOOSEFONTA)) {
    t_error = CDERR_STRUCTSIZE;
    return FALSE;
  }
  if ((cf->Flags & CF_LIMITSIZE) && cf->nSizeMax < cf->nSizeMin) {
    t_error = CFERR_MAXLESSTHANMIN;
    return FALSE;
  }
  FontDialog d;
  d.cf = cf;
  const INT_PTR r =
      DialogBoxIndirectParamA(cf->hInstance, &kFont, cf->hwndOwner, FontProc, reinterpret_cast<LPARAM>(&d));
  if (r == -1) {
    t_error = CDERR_DIALOGFAILURE;
    return FALSE;
  }
  return r == IDOK;
}
