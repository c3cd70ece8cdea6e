// The Color common dialog: 48 basic colours, 16 custom colours the program
// keeps, and the red, green and blue values of the current colour.
#include <cstdio>
#include <string>
#include <vector>

#include "controls_internal.h"

namespace qx::controls {
namespace {

constexpr COLORREF kBasic[48] = {
    RGB(255, 128, 128), RGB(255, 255, 232), RGB(128, 255, 128), RGB(0, 255, 128),   RGB(128, 255, 255),
    RGB(0, 128, 255),   RGB(255, 128, 192), RGB(255, 128, 255), RGB(255, 0, 0),     RGB(255, 255, 128),
    RGB(128, 255, 0),   RGB(0, 255, 64),    RGB(0, 255, 255),   RGB(0, 128, 192),   RGB(128, 128, 192),
    RGB(255, 0, 255),   RGB(128, 64, 64),   RGB(255, 255, 0),   RGB(0, 255, 0),     RGB(0, 128, 128),
    RGB(0, 64, 128),    RGB(128, 128, 255), RGB(128, 0, 64),    RGB(255, 0, 128),   RGB(128, 0, 0),
    RGB(255, 128, 0),   RGB(0, 128, 0),     RGB(0, 128, 64),    RGB(0, 0, 255),     RGB(0, 0, 160),
    RGB(128, 0, 128),   RGB(128, 0, 255),   RGB(64, 0, 0),      RGB(128, 64, 0),    RGB(0, 64, 0),
    RGB(0, 64, 64),     RGB(0, 0, 128),     RGB(0, 0, 64),      RGB(64, 0, 64),     RGB(64, 0, 128),
    RGB(0, 0, 0),       RGB(128, 128, 0),   RGB(128, 128, 64),  RGB(128, 128, 128), RGB(64, 128, 128),
    RGB(192, 192, 192), RGB(64, 0, 64),     RGB(255, 255, 255),
};

struct ColorDialog {
  CHOOSECOLORA *cc = nullptr;
  COLORREF current = 0;
  int next_custom = 0;
  bool updating = false;  // the fields are being set from the colour
};

ColorDialog *Of(HWND dlg) { return static_cast<ColorDialog *>(GetPropA(dlg, "QxColorDialog")); }

COLORREF SwatchColor(HWND dlg, const ColorDialog &d, int id) {
  if (id >= COLOR_BASIC_FIRST && id < COLOR_BASIC_FIRST + 48) return kBasic[id - COLOR_BASIC_FIRST];
  if (id >= COLOR_CUSTOM_FIRST && id < COLOR_CUSTOM_FIRST + 16 && d.cc->lpCustColors)
    return d.cc->lpCustColors[id - COLOR_CUSTOM_FIRST];
  return d.current;
}

void ShowCurrent(HWND dlg, ColorDialog &d) {
  d.updating = true;
  SetDlgItemInt(dlg, COLOR_RED, GetRValue(d.current), FALSE);
  SetDlgItemInt(dlg, COLOR_GREEN, GetGValue(d.current), FALSE);
  SetDlgItemInt(dlg, COLOR_BLUE, GetBValue(d.current), FALSE);
  d.updating = false;
  InvalidateRect(GetDlgItem(dlg, stc1), nullptr, FALSE);
}

void FieldsChanged(HWND dlg, ColorDialog &d) {
  if (d.updating) return;
  BYTE rgb[3];
  const int ids[3] = {COLOR_RED, COLOR_GREEN, COLOR_BLUE};
  for (int i = 0; i < 3; ++i) {
    BOOL ok = FALSE;
    const UINT v = GetDlgItemInt(dlg, ids[i], &ok, FALSE);
    rgb[i] = static_cast<BYTE>(ok ? std::min<UINT>(v, 255) : 0);
  }
  d.current = RGB(rgb[0], rgb[1], rgb[2]);
  InvalidateRect(GetDlgItem(dlg, stc1), nullptr, FALSE);
}

bool Hooked(HWND dlg, ColorDialog *d, UINT msg, WPARAM wp, LPARAM lp) {
  if (!d || !(d->cc->Flags & CC_ENABLEHOOK) || !d->cc->lpfnHook) return false;
  return d->cc->lpfnHook(dlg, msg, wp, msg == WM_INITDIALOG ? reinterpret_cast<LPARAM>(d->cc) : lp) &&
         msg != WM_INITDIALOG;
}

INT_PTR CALLBACK ColorProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
  ColorDialog *d = Of(dlg);
  if (msg == WM_INITDIALOG) {
    d = reinterpret_cast<ColorDialog *>(lp);
    SetPropA(dlg, "QxColorDialog", d);
    for (int id : {COLOR_RED, COLOR_GREEN, COLOR_BLUE}) SendDlgItemMessageA(dlg, id, EM_LIMITTEXT, 3, 0);
    ShowCurrent(dlg, *d);
  }
  if (Hooked(dlg, d, msg, wp, lp)) return TRUE;
  if (!d) return FALSE;
  switch (msg) {
    case WM_INITDIALOG: return TRUE;
    case WM_DRAWITEM: {
      const auto *dis = reinterpret_cast<const DRAWITEMSTRUCT *>(lp);
      RECT r = dis->rcItem;
      DrawEdge(dis->hDC, &r, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
      HBRUSH b = CreateSolidBrush(SwatchColor(dlg, *d, static_cast<int>(dis->CtlID)));
      FillRect(dis->hDC, &r, b);
      DeleteObject(b);
      if (dis->itemState & ODS_FOCUS) {
        RECT f = dis->rcItem;
        DrawFocusRect(dis->hDC, &f);
      }
      return TRUE;
    }
    case WM_COMMAND: {
      const int id = LOWORD(wp), code = HIWORD(wp);
      if ((id >= COLOR_BASIC_FIRST && id < COLOR_BASIC_FIRST + 48) ||
          (id >= COLOR_CUSTOM_FIRST && id < COLOR_CUSTOM_FIRST + 16)) {
        if (code == BN_CLICKED) {
          d->current = SwatchColor(dlg, *d, id);
          if (id >= COLOR_CUSTOM_FIRST) d->next_custom = id - COLOR_CUSTOM_FIRST;
          ShowCurrent(dlg, *d);
        }
      } else if ((id == COLOR_RED || id == COLOR_GREEN || id == COLOR_BLUE) && code == EN_CHANGE) {
        FieldsChanged(dlg, *d);
      } else if (id == COLOR_ADD && d->cc->lpCustColors) {
        d->cc->lpCustColors[d->next_custom] = d->current;
        InvalidateRect(GetDlgItem(dlg, COLOR_CUSTOM_FIRST + d->next_custom), nullptr, FALSE);
        d->next_custom = (d->next_custom + 1) % 16;
      } else if (id == IDOK) {
        FieldsChanged(dlg, *d);
        EndDialog(dlg, IDOK);
      } else if (id == IDCANCEL) {
        EndDialog(dlg, IDCANCEL);
      }
      return TRUE;
    }
    case WM_DESTROY: RemovePropA(dlg, "QxColorDialog"); return FALSE;
    default: return FALSE;
  }
}

std::vector<QX_DIALOG_ITEM> Items() {
  std::vector<QX_DIALOG_ITEM> items;
  items.push_back(QX_LTEXT("&Basic Colors:", -1, 4, 4, 140, 9));
  for (int i = 0; i < 48; ++i)
    items.push_back(QX_CONTROL("", COLOR_BASIC_FIRST + i, "Button",
                               BS_OWNERDRAW | WS_CHILD | WS_VISIBLE | (i == 0 ? WS_TABSTOP | WS_GROUP : 0),
                               4 + (i % 8) * 18, 14 + (i / 8) * 14, 16, 12));
  items.push_back(QX_LTEXT("&Custom Colors:", -1, 4, 102, 140, 9));
  for (int i = 0; i < 16; ++i)
    items.push_back(QX_CONTROL("", COLOR_CUSTOM_FIRST + i, "Button",
                               BS_OWNERDRAW | WS_CHILD | WS_VISIBLE | (i == 0 ? WS_TABSTOP | WS_GROUP : 0),
                               4 + (i % 8) * 18, 112 + (i / 8) * 14, 16, 12));
  items.push_back(QX_CONTROL("", stc1, "Static", SS_BLACKFRAME | WS_CHILD | WS_VISIBLE, 152, 14, 60, 40));
  items.push_back(QX_RTEXT("&Red:", -1, 152, 62, 24, 9));
  items.push_back(QX_CONTROL("", COLOR_RED, "Edit",
                             ES_NUMBER | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | WS_GROUP, 180, 60, 30, 12));
  items.push_back(QX_RTEXT("&Green:", -1, 152, 78, 24, 9));
  items.push_back(QX_CONTROL("", COLOR_GREEN, "Edit",
                             ES_NUMBER | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | WS_GROUP, 180, 76, 30, 12));
  items.push_back(QX_RTEXT("Bl&ue:", -1, 152, 94, 24, 9));
  items.push_back(QX_CONTROL("", COLOR_BLUE, "Edit",
                             ES_NUMBER | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | WS_GROUP, 180, 92, 30, 12));
  items.push_back(QX_PUSHBUTTON("&Add to Custom Colors", COLOR_ADD, 152, 112, 70, 14));
  items.push_back(QX_DEFPUSHBUTTON("OK", IDOK, 4, 146, 44, 14));
  items.push_back(QX_PUSHBUTTON("Cancel", IDCANCEL, 52, 146, 44, 14));
  return items;
}

}  // namespace
}  // namespace qx::controls

BOOL WINAPI ChooseColorA(LPCHOOSECOLORA cc) {
  using namespace qx::controls;
  t_error = 0;
  if (!cc) {
    t_error = CDERR_INITIALIZATION;
    return FALSE;
  }
  if (cc->lStructSize != sizeof(CHOOSECOLORA)) {
    t_error = CDERR_STRUCTSIZE;
    return FALSE;
  }
  ColorDialog d;
  d.cc = cc;
  d.current = (cc->Flags & CC_RGBINIT) ? cc->rgbResult : RGB(0, 0, 0);
  const std::vector<QX_DIALOG_ITEM> items = Items();
  QX_DIALOG tmpl{0,
                 0,
                 228,
                 164,
                 DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                 0,
                 "Color",
                 nullptr,
                 nullptr,
                 "MS Sans Serif",
                 8,
                 items.data(),
                 static_cast<UINT>(items.size())};
  const INT_PTR r = DialogBoxIndirectParamA(nullptr, &tmpl, cc->hwndOwner, ColorProc, reinterpret_cast<LPARAM>(&d));
  if (r == -1) {
    t_error = CDERR_DIALOGFAILURE;
    return FALSE;
  }
  if (r != IDOK) return FALSE;
  cc->rgbResult = d.current;
  return TRUE;
}
