// The COMBOBOX class: a simple combo box (edit field over a list that is
// always shown), a drop-down combo box (edit field and a list that drops
// down) and a drop-down list (a field that shows the selection). The field
// is an EDIT child, the list a LISTBOX (a popup for the drop-down kinds, so
// it can reach past the dialog); the combo box turns their notifications
// into CBN_ notifications and their owner-draw requests into its own.
#include <algorithm>
#include <string>

#include "controls_internal.h"

namespace qx::controls {
namespace {

constexpr int kEditId = 1001, kListId = 1000;
constexpr int kButton = 16;  // width of the drop-down button

struct Combo : ControlState {
  HWND edit = nullptr, list = nullptr;
  bool dropped = false;
  bool focus = false;
  bool extended_ui = false;
  int field_height = 20;
  int list_height = 100;
  WNDPROC edit_proc = nullptr;
};

DWORD Kind(HWND h) { return StyleOf(h) & 3; }
bool HasEdit(HWND h) { return Kind(h) == CBS_SIMPLE || Kind(h) == CBS_DROPDOWN; }
bool DropsDown(HWND h) { return Kind(h) != CBS_SIMPLE; }

// A CBN_ notification; false when the parent destroyed the combo box meanwhile.
bool Notify(HWND h, const Combo &c, int code) { return NotifyParent(h, c, code); }

LRESULT List(const Combo &c, UINT msg, WPARAM wp = 0, LPARAM lp = 0) { return SendMessageA(c.list, msg, wp, lp); }

std::string ItemText(const Combo &c, int i) {
  const LRESULT n = List(c, LB_GETTEXTLEN, i);
  if (n < 0) return "";
  std::string s(static_cast<size_t>(n) + 1, '\0');
  List(c, LB_GETTEXT, i, reinterpret_cast<LPARAM>(s.data()));
  s.resize(static_cast<size_t>(n));
  return s;
}

bool ListHasStrings(HWND h) {
  const DWORD s = StyleOf(h);
  return !(s & (CBS_OWNERDRAWFIXED | CBS_OWNERDRAWVARIABLE)) || (s & CBS_HASSTRINGS);
}

// The field shows the selected item.
void ShowSelection(HWND h, Combo &c) {
  const int sel = static_cast<int>(List(c, LB_GETCURSEL));
  if (c.edit) {
    const std::string text = sel >= 0 && ListHasStrings(h) ? ItemText(c, sel) : "";
    SetWindowTextA(c.edit, text.c_str());  // CBN_EDITCHANGE may reach the parent from here
    if (!c.alive) return;
    SendMessageA(c.edit, EM_SETSEL, 0, -1);
  }
  InvalidateRect(h, nullptr, FALSE);
}

RECT FieldRect(HWND h, const Combo &c) {
  RECT r;
  GetClientRect(h, &r);
  r.bottom = std::min<LONG>(r.bottom, c.field_height);
  return r;
}

void PlaceList(HWND h, Combo &c) {
  RECT field = FieldRect(h, c);
  if (!DropsDown(h)) {
    RECT rc;
    GetClientRect(h, &rc);
    MoveWindow(c.list, 0, field.bottom, rc.right, std::max<LONG>(0, rc.bottom - field.bottom), TRUE);
    return;
  }
  POINT at{0, field.bottom};
  ClientToScreen(h, &at);
  SetWindowPos(c.list, HWND_TOP, at.x, at.y, field.right - field.left, c.list_height, SWP_NOACTIVATE);
}

void Drop(HWND h, Combo &c, bool down, bool ok) {
  if (!DropsDown(h) || down == c.dropped) return;
  if (down) {
    if (!Notify(h, c, CBN_DROPDOWN)) return;
    PlaceList(h, c);
    c.dropped = true;
    ShowWindow(c.list, SW_SHOWNA);
    const LRESULT sel = List(c, LB_GETCURSEL);
    if (sel >= 0) List(c, LB_SETTOPINDEX, static_cast<WPARAM>(sel));
  } else {
    c.dropped = false;
    ShowWindow(c.list, SW_HIDE);
    if (!Notify(h, c, CBN_CLOSEUP) || !Notify(h, c, ok ? CBN_SELENDOK : CBN_SELENDCANCEL)) return;
  }
  InvalidateRect(h, nullptr, FALSE);
}

// Moves the selection by the arrow keys whether or not the list is down.
void Step(HWND h, Combo &c, int by) {
  const int n = static_cast<int>(List(c, LB_GETCOUNT));
  if (n == 0) return;
  const int cur = static_cast<int>(List(c, LB_GETCURSEL));
  const int to = std::clamp(cur < 0 ? 0 : cur + by, 0, n - 1);
  if (to == cur) return;
  List(c, LB_SETCURSEL, static_cast<WPARAM>(to));
  ShowSelection(h, c);
  if (c.alive) Notify(h, c, CBN_SELCHANGE);
}

// Keys the combo box takes for itself, from its field or itself; true when taken.
bool ComboKey(HWND h, Combo &c, UINT msg, WPARAM key) {
  const bool alt = msg == WM_SYSKEYDOWN;
  if (key == VK_F4 || (alt && (key == VK_DOWN || key == VK_UP))) {
    Drop(h, c, !c.dropped, true);
    return true;
  }
  if (alt) return false;
  switch (key) {
    case VK_UP: Step(h, c, -1); return true;
    case VK_DOWN: Step(h, c, 1); return true;
    case VK_PRIOR: Step(h, c, -8); return true;
    case VK_NEXT: Step(h, c, 8); return true;
    case VK_RETURN:
      if (c.dropped) {
        Drop(h, c, false, true);
        return true;
      }
      return false;
    case VK_ESCAPE:
      if (c.dropped) {
        Drop(h, c, false, false);
        return true;
      }
      return false;
    default: return false;
  }
}

LRESULT CALLBACK FieldProc(HWND e, UINT msg, WPARAM wp, LPARAM lp) {
  HWND h = GetParent(e);
  StateRef<Combo> c = StateOf<Combo>(h);
  if (!c) return EditProc(e, msg, wp, lp);
  switch (msg) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      if (ComboKey(h, *c, msg, wp)) return 0;
      break;
    case WM_GETDLGCODE: {
      LRESULT code = CallWindowProcA(c->edit_proc, e, msg, wp, lp);
      const MSG *m = reinterpret_cast<const MSG *>(lp);
      if (c->dropped && m && m->message == WM_KEYDOWN && (m->wParam == VK_RETURN || m->wParam == VK_ESCAPE))
        code |= DLGC_WANTALLKEYS;
      return code;
    }
    default: break;
  }
  return CallWindowProcA(c->edit_proc, e, msg, wp, lp);
}

void Create(HWND h, Combo &c, const CREATESTRUCTA &cs) {
  c.field_height = FontUnits(c.font).cy + 8;
  RECT rc;
  GetClientRect(h, &rc);
  c.list_height = std::max<int>(c.field_height, rc.bottom - c.field_height);
  HINSTANCE inst = cs.hInstance;
  const DWORD style = cs.style;
  if (HasEdit(h)) {
    DWORD es = WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL;
    if (style & CBS_UPPERCASE) es |= ES_UPPERCASE;
    if (style & CBS_LOWERCASE) es |= ES_LOWERCASE;
    const int w = rc.right - (DropsDown(h) ? kButton : 0);
    c.edit = CreateWindowExA(0, "Edit", "", es | WS_BORDER, 0, 0, w, c.field_height, h,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(kEditId)), inst, nullptr);
    c.edit_proc =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrA(c.edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FieldProc)));
  }
  DWORD ls = WS_BORDER | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;
  if (style & CBS_SORT) ls |= LBS_SORT;
  if (style & CBS_OWNERDRAWFIXED) ls |= LBS_OWNERDRAWFIXED;
  if (style & CBS_OWNERDRAWVARIABLE) ls |= LBS_OWNERDRAWVARIABLE;
  if (style & CBS_HASSTRINGS) ls |= LBS_HASSTRINGS;
  if (DropsDown(h)) {
    c.list = CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, "ListBox", "", WS_POPUP | ls, 0, 0, rc.right,
                             c.list_height, h, nullptr, inst, nullptr);
    SetPropA(c.list, kComboOfList, h);
    // The combo box itself is only as tall as its field; the list drops below it.
    SetWindowPos(h, nullptr, 0, 0, rc.right, c.field_height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  } else {
    c.list = CreateWindowExA(0, "ListBox", "", WS_CHILD | WS_VISIBLE | ls, 0, c.field_height, rc.right,
                             std::max<LONG>(0, rc.bottom - c.field_height), h,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(kListId)), inst, nullptr);
  }
}

void PaintButton(HDC dc, const RECT &r, bool pressed) {
  FillSys(dc, r, COLOR_BTNFACE);
  RECT e = r;
  DrawEdge(dc, &e, pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
  const int cx = (r.left + r.right) / 2 + (pressed ? 1 : 0), cy = (r.top + r.bottom) / 2 - 1 + (pressed ? 1 : 0);
  HPEN pen = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNTEXT));
  HGDIOBJ old = SelectObject(dc, pen);
  for (int i = 0; i < 4; ++i) {  // the down arrow
    MoveToEx(dc, cx - 3 + i, cy + i, nullptr);
    LineTo(dc, cx + 4 - i, cy + i);
  }
  SelectObject(dc, old);
  DeleteObject(pen);
}

void Paint(HWND h, HDC dc, Combo &c) {
  RECT rc;
  GetClientRect(h, &rc);
  if (!DropsDown(h)) {
    HBRUSH bg = ControlColors(h, dc, WM_CTLCOLORSTATIC);
    if (c.alive) FillRect(dc, &rc, bg);
    return;
  }
  RECT field = FieldRect(h, c);
  RECT button{field.right - kButton, field.top + 2, field.right - 2, field.bottom - 2};
  if (!HasEdit(h)) {
    HBRUSH bg = ControlColors(h, dc, WM_CTLCOLOREDIT);
    if (!c.alive) return;
    FillRect(dc, &field, bg);
    SunkenField(dc, field);
    RECT text{field.left + 3, field.top + 3, button.left - 1, field.bottom - 3};
    const int sel = static_cast<int>(List(c, LB_GETCURSEL));
    if (StyleOf(h) & (CBS_OWNERDRAWFIXED | CBS_OWNERDRAWVARIABLE)) {
      DRAWITEMSTRUCT dis{};
      dis.CtlType = ODT_COMBOBOX;
      dis.CtlID = static_cast<UINT>(GetDlgCtrlID(h));
      dis.itemID = static_cast<UINT>(sel);
      dis.itemAction = ODA_DRAWENTIRE;
      dis.itemState = ODS_COMBOBOXEDIT | (c.focus ? (ODS_SELECTED | ODS_FOCUS) : 0);
      dis.hwndItem = h;
      dis.hDC = dc;
      dis.rcItem = text;
      dis.itemData = sel >= 0 ? static_cast<ULONG_PTR>(List(c, LB_GETITEMDATA, static_cast<WPARAM>(sel))) : 0;
      SendMessageA(GetParent(h), WM_DRAWITEM, dis.CtlID, reinterpret_cast<LPARAM>(&dis));
    } else {
      if (c.focus) {
        FillSys(dc, text, COLOR_HIGHLIGHT);
        SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
      }
      SetBkMode(dc, TRANSPARENT);
      HGDIOBJ old = SelectObject(dc, FontOr(c.font));
      if (sel >= 0) {
        const std::string s = ItemText(c, sel);
        RECT t = text;
        t.left += 1;
        DrawTextA(dc, s.c_str(), static_cast<int>(s.size()), &t, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
      }
      SelectObject(dc, old);
      if (c.focus) DrawFocusRect(dc, &text);
    }
  } else {
    RECT strip{button.left - 2, field.top, field.right, field.bottom};
    FillSys(dc, strip, COLOR_WINDOW);
    SunkenField(dc, RECT{button.left - 2, field.top, field.right, field.bottom});
  }
  PaintButton(dc, button, c.dropped);
}

// Owner-draw requests of the list come back as the combo box's own.
LRESULT ForwardOwnerDraw(HWND h, UINT msg, LPARAM lp) {
  const UINT id = static_cast<UINT>(GetDlgCtrlID(h));
  switch (msg) {
    case WM_DRAWITEM: {
      auto *d = reinterpret_cast<DRAWITEMSTRUCT *>(lp);
      d->CtlType = ODT_COMBOBOX;
      d->CtlID = id;
      d->hwndItem = h;
      break;
    }
    case WM_MEASUREITEM: {
      auto *m = reinterpret_cast<MEASUREITEMSTRUCT *>(lp);
      m->CtlType = ODT_COMBOBOX;
      m->CtlID = id;
      break;
    }
    case WM_COMPAREITEM: {
      auto *c = reinterpret_cast<COMPAREITEMSTRUCT *>(lp);
      c->CtlType = ODT_COMBOBOX;
      c->CtlID = id;
      c->hwndItem = h;
      break;
    }
    case WM_DELETEITEM: {
      auto *d = reinterpret_cast<DELETEITEMSTRUCT *>(lp);
      d->CtlType = ODT_COMBOBOX;
      d->CtlID = id;
      d->hwndItem = h;
      break;
    }
    default: break;
  }
  return SendMessageA(GetParent(h), msg, id, lp);
}

void ChildCommand(HWND h, Combo &c, WPARAM wp, LPARAM lp) {
  HWND from = reinterpret_cast<HWND>(lp);
  const int code = HIWORD(wp);
  if (from == c.edit) {
    if (code == EN_CHANGE)
      Notify(h, c, CBN_EDITCHANGE);
    else if (code == EN_UPDATE)
      Notify(h, c, CBN_EDITUPDATE);
    else if (code == EN_SETFOCUS && !c.focus) {
      c.focus = true;
      Notify(h, c, CBN_SETFOCUS);
    } else if (code == EN_KILLFOCUS) {
      HWND f = GetFocus();
      if (f != h && f != c.edit) {
        c.focus = false;
        Drop(h, c, false, false);
        if (c.alive) Notify(h, c, CBN_KILLFOCUS);
      }
    }
    return;
  }
  if (from == c.list) {
    if (code == LBN_SELCHANGE) {
      ShowSelection(h, c);
      if (c.alive) Notify(h, c, CBN_SELCHANGE);
    } else if (code == LBN_DBLCLK) {
      Notify(h, c, CBN_DBLCLK);
    }
  }
}

LRESULT TextOfCombo(HWND h, Combo &c, UINT msg, WPARAM wp, LPARAM lp) {
  if (c.edit) return SendMessageA(c.edit, msg, wp, lp);
  const int sel = static_cast<int>(List(c, LB_GETCURSEL));
  const std::string s = sel >= 0 && ListHasStrings(h) ? ItemText(c, sel) : "";
  if (msg == WM_GETTEXTLENGTH) return static_cast<LRESULT>(s.size());
  char *buf = reinterpret_cast<char *>(lp);
  if (!buf || wp == 0) return 0;
  const size_t n = std::min<size_t>(wp - 1, s.size());
  std::copy_n(s.data(), n, buf);
  buf[n] = '\0';
  return static_cast<LRESULT>(n);
}

// ---- messages ----

void FontChanged(HWND, Combo &c, BOOL redraw) {
  const WPARAM font = reinterpret_cast<WPARAM>(c.font);
  if (c.edit) SendMessageA(c.edit, WM_SETFONT, font, redraw);
  if (c.list) SendMessageA(c.list, WM_SETFONT, font, redraw);
}

void Destroying(HWND h, Combo &c) {
  if (c.list && DropsDown(h)) {
    RemovePropA(c.list, kComboOfList);
    DestroyWindow(c.list);
  }
  c.list = nullptr;
}

LRESULT DlgCode(const Combo &c, LPARAM lp) {
  LRESULT code = DLGC_WANTARROWS | DLGC_WANTCHARS;
  const MSG *m = reinterpret_cast<const MSG *>(lp);
  if (c.dropped && m && m->message == WM_KEYDOWN && (m->wParam == VK_RETURN || m->wParam == VK_ESCAPE))
    code |= DLGC_WANTALLKEYS;
  return code;
}

void KillFocus(HWND h, Combo &c) {
  if (c.edit) return;
  c.focus = false;
  Drop(h, c, false, false);
  if (!c.alive) return;
  InvalidateRect(h, nullptr, FALSE);
  Notify(h, c, CBN_KILLFOCUS);
}

// A drop-down list selects by the first letter.
void Char(HWND h, Combo &c, WPARAM wp, LPARAM lp) {
  if (c.edit || wp < 32) return;
  const LRESULT before = List(c, LB_GETCURSEL);
  SendMessageA(c.list, WM_CHAR, wp, lp);
  if (!c.alive || List(c, LB_GETCURSEL) == before) return;
  ShowSelection(h, c);
  if (c.alive) Notify(h, c, CBN_SELCHANGE);
}

void ButtonDown(HWND h, Combo &c, LPARAM lp) {
  SetFocus(h);  // the focus change notifies parents, which may destroy this combo box
  if (!c.alive) return;
  const POINT p = PointFromLParam(lp);
  const RECT field = FieldRect(h, c);
  if (DropsDown(h) && (!c.edit || p.x >= field.right - kButton)) Drop(h, c, !c.dropped, true);
}

LRESULT Message(HWND h, UINT msg, WPARAM wp, LPARAM lp, Combo &c) {
  switch (msg) {
    case WM_CREATE: Create(h, c, *reinterpret_cast<const CREATESTRUCTA *>(lp)); return 0;
    case WM_DESTROY: Destroying(h, c); return 0;
    case WM_GETDLGCODE: return DlgCode(c, lp);
    case WM_SETFOCUS:
      if (c.edit) {
        SetFocus(c.edit);
        SendMessageA(c.edit, EM_SETSEL, 0, -1);
      } else {
        c.focus = true;
        InvalidateRect(h, nullptr, FALSE);
        Notify(h, c, CBN_SETFOCUS);
      }
      return 0;
    case WM_KILLFOCUS: KillFocus(h, c); return 0;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      if (ComboKey(h, c, msg, wp)) return 0;
      return msg == WM_SYSKEYDOWN ? DefWindowProcA(h, msg, wp, lp) : 0;
    case WM_CHAR: Char(h, c, wp, lp); return 0;
    case WM_LBUTTONDOWN: ButtonDown(h, c, lp); return 0;
    case WM_COMMAND: ChildCommand(h, c, wp, lp); return 0;
    case WM_DRAWITEM:
    case WM_MEASUREITEM:
    case WM_COMPAREITEM:
    case WM_DELETEITEM: return ForwardOwnerDraw(h, msg, lp);
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSTATIC: return SendMessageA(GetParent(h), msg, wp, lp);
    case WM_SETTEXT:
      if (c.edit) return SendMessageA(c.edit, msg, wp, lp);
      {
        const LRESULT i = List(c, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), lp);
        if (i < 0) return CB_ERR;
        List(c, LB_SETCURSEL, static_cast<WPARAM>(i));
        ShowSelection(h, c);
        return TRUE;
      }
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH: return TextOfCombo(h, c, msg, wp, lp);
    case WM_CUT:
    case WM_COPY:
    case WM_PASTE:
    case WM_CLEAR:
    case WM_UNDO: return c.edit ? SendMessageA(c.edit, msg, wp, lp) : 0;
    case CB_ADDSTRING: return List(c, LB_ADDSTRING, wp, lp);
    case CB_INSERTSTRING: return List(c, LB_INSERTSTRING, wp, lp);
    case CB_DELETESTRING: return List(c, LB_DELETESTRING, wp, lp);
    case CB_GETCOUNT: return List(c, LB_GETCOUNT);
    case CB_GETCURSEL: return List(c, LB_GETCURSEL);
    case CB_GETLBTEXT: return List(c, LB_GETTEXT, wp, lp);
    case CB_GETLBTEXTLEN: return List(c, LB_GETTEXTLEN, wp, lp);
    case CB_FINDSTRING: return List(c, LB_FINDSTRING, wp, lp);
    case CB_FINDSTRINGEXACT: return List(c, LB_FINDSTRINGEXACT, wp, lp);
    case CB_GETITEMDATA: return List(c, LB_GETITEMDATA, wp, lp);
    case CB_SETITEMDATA: return List(c, LB_SETITEMDATA, wp, lp);
    case CB_GETITEMHEIGHT: return static_cast<int>(wp) == -1 ? c.field_height - 6 : List(c, LB_GETITEMHEIGHT, wp);
    case CB_SETITEMHEIGHT:
      if (static_cast<int>(wp) == -1) {
        c.field_height = LOWORD(lp) + 6;
        InvalidateRect(h, nullptr, FALSE);
        return 0;
      }
      return List(c, LB_SETITEMHEIGHT, wp, lp);
    case CB_RESETCONTENT:
      List(c, LB_RESETCONTENT);
      if (c.edit) SetWindowTextA(c.edit, "");
      InvalidateRect(h, nullptr, FALSE);
      return CB_OKAY;
    case CB_SETCURSEL: {
      const LRESULT r = List(c, LB_SETCURSEL, wp);
      ShowSelection(h, c);
      return r;
    }
    case CB_SELECTSTRING: {
      const LRESULT r = List(c, LB_SELECTSTRING, wp, lp);
      if (r >= 0) ShowSelection(h, c);
      return r;
    }
    case CB_SHOWDROPDOWN: Drop(h, c, wp != 0, true); return TRUE;
    case CB_GETDROPPEDSTATE: return c.dropped;
    case CB_GETDROPPEDCONTROLRECT: {
      if (!lp) return CB_ERR;
      RECT r;
      GetWindowRect(h, &r);
      r.bottom = r.top + c.field_height + (DropsDown(h) ? c.list_height : 0);
      *reinterpret_cast<RECT *>(lp) = r;
      return CB_OKAY;
    }
    case CB_LIMITTEXT:
      if (!c.edit) return CB_ERR;
      SendMessageA(c.edit, EM_LIMITTEXT, wp, 0);
      return TRUE;
    case CB_GETEDITSEL:
      if (!c.edit) return CB_ERR;
      return SendMessageA(c.edit, EM_GETSEL, wp, lp);
    case CB_SETEDITSEL:
      if (!c.edit) return CB_ERR;
      SendMessageA(c.edit, EM_SETSEL, static_cast<WPARAM>(static_cast<SHORT>(LOWORD(lp))),
                   static_cast<SHORT>(HIWORD(lp)));
      return TRUE;
    case CB_SETEXTENDEDUI: c.extended_ui = wp != 0; return CB_OKAY;
    case CB_GETEXTENDEDUI: return c.extended_ui;
    default: return DefWindowProcA(h, msg, wp, lp);
  }
}

const ControlClass<Combo> kCombo{nullptr, nullptr, Paint, FontChanged, Message};

}  // namespace

LRESULT CALLBACK ComboBoxProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) { return RunControl(kCombo, h, msg, wp, lp); }

}  // namespace qx::controls
