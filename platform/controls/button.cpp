// The BUTTON class: push and default push buttons, check boxes (two and three
// states, automatic or not), radio buttons, group boxes and owner-drawn
// buttons, drawn with the NT 4 look.
#include "controls_internal.h"

namespace qx::controls {
namespace {

struct Button : ControlState {
  UINT check = BST_UNCHECKED;
  bool pushed = false;  // BST_PUSHED: pressed look
  bool focus = false;
  bool captured = false;
  HANDLE image = nullptr;
};

UINT Kind(HWND h) { return StyleOf(h) & BS_TYPEMASK; }
bool IsPush(UINT k) { return k == BS_PUSHBUTTON || k == BS_DEFPUSHBUTTON || k == BS_USERBUTTON; }
bool IsCheck(UINT k) { return k == BS_CHECKBOX || k == BS_AUTOCHECKBOX || k == BS_3STATE || k == BS_AUTO3STATE; }
bool IsRadio(UINT k) { return k == BS_RADIOBUTTON || k == BS_AUTORADIOBUTTON; }

std::string TextOf(HWND h) {
  char buf[512] = {};
  GetWindowTextA(h, buf, sizeof buf);
  return buf;
}

void DrawOwner(HWND h, HDC dc, Button &b, UINT action) {
  DRAWITEMSTRUCT dis{};
  dis.CtlType = ODT_BUTTON;
  dis.CtlID = static_cast<UINT>(GetDlgCtrlID(h));
  dis.itemAction = action;
  dis.itemState = (b.pushed ? ODS_SELECTED : 0) | (b.focus ? ODS_FOCUS : 0) | (IsWindowEnabled(h) ? 0 : ODS_DISABLED);
  dis.hwndItem = h;
  dis.hDC = dc;
  GetClientRect(h, &dis.rcItem);
  SendMessageA(GetParent(h), WM_DRAWITEM, dis.CtlID, reinterpret_cast<LPARAM>(&dis));
}

void DrawPush(HWND h, HDC dc, Button &b, const RECT &rc) {
  const bool def = Kind(h) == BS_DEFPUSHBUTTON;
  FillSys(dc, rc, COLOR_BTNFACE);
  RECT r = rc;
  if (def) {
    FrameRect(dc, &r, GetSysColorBrush(COLOR_WINDOWFRAME));
    InflateRect(&r, -1, -1);
  }
  if (b.pushed) {
    FrameRect(dc, &r, GetSysColorBrush(COLOR_BTNSHADOW));
  } else {
    DrawEdge(dc, &r, EDGE_RAISED, BF_RECT);
  }
  RECT t = rc;
  if (b.pushed) OffsetRect(&t, 1, 1);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(IsWindowEnabled(h) ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
  DrawLabel(dc, TextOf(h), t, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  if (b.focus) {
    RECT f = rc;
    InflateRect(&f, -4, -4);
    DrawFocusRect(dc, &f);
  }
}

void DrawMark(HWND h, HDC dc, Button &b, const RECT &rc) {
  const UINT kind = Kind(h);
  HBRUSH bg = ControlColors(h, dc, WM_CTLCOLORSTATIC);
  if (!b.alive) return;
  FillRect(dc, &rc, bg);
  const int box = 13;
  const bool left_text = (StyleOf(h) & BS_LEFTTEXT) != 0;
  const int top = rc.top + (rc.bottom - rc.top - box) / 2;
  RECT m{left_text ? rc.right - box : rc.left, top, (left_text ? rc.right - box : rc.left) + box, top + box};
  if (IsRadio(kind)) {
    HGDIOBJ oldb = SelectObject(dc, GetSysColorBrush(COLOR_WINDOW));
    HPEN pen = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNSHADOW));
    HGDIOBJ oldp = SelectObject(dc, pen);
    Ellipse(dc, m.left, m.top, m.right, m.bottom);
    if (b.check == BST_CHECKED) {
      SelectObject(dc, GetSysColorBrush(COLOR_WINDOWTEXT));
      Ellipse(dc, m.left + 4, m.top + 4, m.right - 4, m.bottom - 4);
    }
    SelectObject(dc, oldp);
    SelectObject(dc, oldb);
    DeleteObject(pen);
  } else {
    FillSys(dc, m, b.check == BST_INDETERMINATE ? COLOR_BTNFACE : COLOR_WINDOW);
    DrawEdge(dc, &m, EDGE_SUNKEN, BF_RECT);
    if (b.check != BST_UNCHECKED) {
      HPEN pen = CreatePen(PS_SOLID, 1, GetSysColor(b.check == BST_CHECKED ? COLOR_WINDOWTEXT : COLOR_BTNSHADOW));
      HGDIOBJ old = SelectObject(dc, pen);
      for (int i = 0; i < 3; ++i) {  // the tick: down three pixels, up four
        MoveToEx(dc, m.left + 3, m.top + 5 + i, nullptr);
        LineTo(dc, m.left + 5, m.top + 7 + i);
        LineTo(dc, m.left + 10, m.top + 2 + i);
      }
      SelectObject(dc, old);
      DeleteObject(pen);
    }
  }
  RECT t = rc;
  if (left_text)
    t.right -= box + 4;
  else
    t.left += box + 4;
  SetBkMode(dc, TRANSPARENT);
  if (!IsWindowEnabled(h)) SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
  DrawLabel(dc, TextOf(h), t, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
  if (b.focus) {
    RECT f = t;
    SIZE s{};
    const std::string text = TextOf(h);
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &s);
    f.right = std::min<LONG>(t.right, t.left + s.cx + 2);
    f.left -= 1;
    f.top = t.top + (t.bottom - t.top - s.cy) / 2 - 1;
    f.bottom = f.top + s.cy + 2;
    DrawFocusRect(dc, &f);
  }
}

void DrawGroup(HWND h, HDC dc, const Button &b, const RECT &rc) {
  HBRUSH bg = ControlColors(h, dc, WM_CTLCOLORSTATIC);
  if (!b.alive) return;
  const std::string text = TextOf(h);
  SIZE s{0, 14};
  GetTextExtentPoint32A(dc, "X", 1, &s);
  RECT frame = rc;
  frame.top += s.cy / 2;
  DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
  if (!text.empty()) {
    RECT t{rc.left + 8, rc.top, rc.right - 8, rc.top + s.cy};
    RECT calc = t;
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &calc, DT_SINGLELINE | DT_CALCRECT);
    calc.left -= 2;
    calc.right += 2;
    FillRect(dc, &calc, bg);
    SetBkMode(dc, TRANSPARENT);
    DrawLabel(dc, text, t, DT_LEFT | DT_SINGLELINE);
  }
}

void Paint(HWND h, HDC dc, Button &b) {
  RECT rc;
  GetClientRect(h, &rc);
  HGDIOBJ old = SelectObject(dc, FontOr(b.font));
  const UINT kind = Kind(h);
  if (kind == BS_OWNERDRAW)
    DrawOwner(h, dc, b, ODA_DRAWENTIRE);
  else if (kind == BS_GROUPBOX)
    DrawGroup(h, dc, b, rc);
  else if (IsCheck(kind) || IsRadio(kind))
    DrawMark(h, dc, b, rc);
  else
    DrawPush(h, dc, b, rc);
  SelectObject(dc, old);
}

void Redraw(HWND h) { InvalidateRect(h, nullptr, FALSE); }

// The automatic kinds change their own state when clicked.
void AutoToggle(HWND h, Button &b) {
  switch (Kind(h)) {
    case BS_AUTOCHECKBOX: b.check = b.check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED; break;
    case BS_AUTO3STATE: b.check = (b.check + 1) % 3; break;
    case BS_AUTORADIOBUTTON: {
      // Unchecks the other automatic radio buttons of the group.
      HWND parent = GetParent(h);
      HWND start = GetNextDlgGroupItem(parent, h, TRUE);
      HWND cur = h;
      for (int guard = 0; guard < 256; ++guard) {
        cur = GetNextDlgGroupItem(parent, cur, FALSE);
        if (!cur || cur == h) break;
        if ((StyleOf(cur) & BS_TYPEMASK) == BS_AUTORADIOBUTTON) SendMessageA(cur, BM_SETCHECK, BST_UNCHECKED, 0);
      }
      (void)start;
      b.check = BST_CHECKED;
      break;
    }
    default: return;
  }
  Redraw(h);
}

void Click(HWND h, Button &b) {
  AutoToggle(h, b);
  if (b.alive) NotifyParent(h, b, BN_CLICKED);
}

// ---- messages ----

LRESULT DlgCode(HWND h) {
  const UINT kind = Kind(h);
  if (kind == BS_DEFPUSHBUTTON) return DLGC_BUTTON | DLGC_DEFPUSHBUTTON;
  if (IsPush(kind) || kind == BS_OWNERDRAW) return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
  if (IsRadio(kind)) return DLGC_BUTTON | DLGC_RADIOBUTTON;
  if (kind == BS_GROUPBOX) return DLGC_STATIC;
  return DLGC_BUTTON;
}

void Focus(HWND h, Button &b, bool on) {
  b.focus = on;
  if (!on) b.pushed = false;
  Redraw(h);
  if (StyleOf(h) & BS_NOTIFY) NotifyParent(h, b, on ? BN_SETFOCUS : BN_KILLFOCUS);
}

void ButtonDown(HWND h, Button &b) {
  if (Kind(h) == BS_GROUPBOX) return;
  SetFocus(h);  // the focus change notifies parents, which may destroy this button
  if (!b.alive) return;
  SetCapture(h);
  b.captured = true;
  b.pushed = true;
  Redraw(h);
}

void MouseMove(HWND h, Button &b, LPARAM lp) {
  if (!b.captured) return;
  RECT rc;
  GetClientRect(h, &rc);
  const bool in = PtInRect(&rc, PointFromLParam(lp)) != FALSE;
  if (in != b.pushed) {
    b.pushed = in;
    Redraw(h);
  }
}

void ButtonUp(HWND h, Button &b) {
  if (!b.captured) return;
  b.captured = false;
  ReleaseCapture();
  const bool clicked = b.pushed;
  b.pushed = false;
  Redraw(h);
  if (clicked) Click(h, b);
}

void SetCheck(HWND h, Button &b, WPARAM wp) {
  const UINT kind = Kind(h);
  UINT v = static_cast<UINT>(wp);
  if (v > BST_INDETERMINATE || (v == BST_INDETERMINATE && kind != BS_3STATE && kind != BS_AUTO3STATE)) v = BST_CHECKED;
  if (!IsCheck(kind) && !IsRadio(kind)) return;
  b.check = v;
  if (IsRadio(kind)) {
    // A checked radio button is the one a Tab into the group reaches.
    LONG style = GetWindowLongA(h, GWL_STYLE);
    if (v == BST_CHECKED)
      style |= WS_TABSTOP;
    else
      style &= ~WS_TABSTOP;
    SetWindowLongA(h, GWL_STYLE, style);
  }
  Redraw(h);
}

void SetStyle(HWND h, WPARAM wp, LPARAM lp) {
  LONG style = GetWindowLongA(h, GWL_STYLE);
  style = (style & ~0xFFFF) | static_cast<LONG>(wp & 0xFFFF);
  SetWindowLongA(h, GWL_STYLE, style);
  if (LOWORD(lp)) Redraw(h);
}

LRESULT SetImage(HWND h, Button &b, LPARAM lp) {
  HANDLE old = b.image;
  b.image = reinterpret_cast<HANDLE>(lp);
  Redraw(h);
  return reinterpret_cast<LRESULT>(old);
}

LRESULT Message(HWND h, UINT msg, WPARAM wp, LPARAM lp, Button &b) {
  switch (msg) {
    case WM_GETDLGCODE: return DlgCode(h);
    case WM_SETTEXT: {
      LRESULT r = DefWindowProcA(h, msg, wp, lp);
      Redraw(h);
      return r;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS: Focus(h, b, msg == WM_SETFOCUS); return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: ButtonDown(h, b); return 0;
    case WM_MOUSEMOVE: MouseMove(h, b, lp); return 0;
    case WM_LBUTTONUP: ButtonUp(h, b); return 0;
    case WM_KEYDOWN:
      if (wp == VK_SPACE && Kind(h) != BS_GROUPBOX) {
        b.pushed = true;
        Redraw(h);
      }
      return 0;
    case WM_KEYUP:
      if (wp == VK_SPACE && b.pushed) {
        b.pushed = false;
        Redraw(h);
        Click(h, b);
      }
      return 0;
    case WM_CHAR: return 0;
    case BM_GETCHECK: return b.check;
    case BM_SETCHECK: SetCheck(h, b, wp); return 0;
    case BM_GETSTATE: return b.check | (b.pushed ? BST_PUSHED : 0) | (b.focus ? BST_FOCUS : 0);
    case BM_SETSTATE:
      b.pushed = wp != 0;
      Redraw(h);
      return 0;
    case BM_SETSTYLE: SetStyle(h, wp, lp); return 0;
    case BM_CLICK:
      if (IsWindowEnabled(h)) Click(h, b);
      return 0;
    case BM_GETIMAGE: return reinterpret_cast<LRESULT>(b.image);
    case BM_SETIMAGE: return SetImage(h, b, lp);
    default: return DefWindowProcA(h, msg, wp, lp);
  }
}

const ControlClass<Button> kButton{nullptr, nullptr, Paint, nullptr, Message};

}  // namespace

LRESULT CALLBACK ButtonProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) { return RunControl(kButton, h, msg, wp, lp); }

}  // namespace qx::controls
