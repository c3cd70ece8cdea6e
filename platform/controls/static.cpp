// The STATIC class: text (left, centred, right, simple, no word wrap), icons,
// bitmaps, filled rectangles, frames and etched lines, owner-drawn statics.
#include "controls_internal.h"

namespace qx::controls {
namespace {

struct Static : ControlState {
  HANDLE image = nullptr;  // icon or bitmap
};

UINT Kind(HWND h) { return StyleOf(h) & SS_TYPEMASK; }

void LoadImageFromText(HWND h, Static &s, LPCSTR text) {
  if (!text || !*text) return;
  HINSTANCE inst = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(h, GWLP_HINSTANCE));
  if (Kind(h) == SS_ICON)
    s.image = LoadIconA(inst, text);
  else if (Kind(h) == SS_BITMAP)
    s.image = LoadBitmapA(inst, text);
}

void DrawBitmap(HDC dc, HBITMAP bm, const RECT &rc) {
  BITMAP info{};
  if (!GetObjectA(bm, sizeof info, &info)) return;
  HDC mem = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(mem, bm);
  BitBlt(dc, rc.left, rc.top, info.bmWidth, info.bmHeight, mem, 0, 0, SRCCOPY);
  SelectObject(mem, old);
  DeleteDC(mem);
}

void Paint(HWND h, HDC dc, Static &s) {
  RECT rc;
  GetClientRect(h, &rc);
  const UINT kind = Kind(h);
  const DWORD style = StyleOf(h);
  if (kind == SS_OWNERDRAW) {
    DRAWITEMSTRUCT dis{};
    dis.CtlType = ODT_STATIC;
    dis.CtlID = static_cast<UINT>(GetDlgCtrlID(h));
    dis.itemAction = ODA_DRAWENTIRE;
    dis.hwndItem = h;
    dis.hDC = dc;
    dis.rcItem = rc;
    SendMessageA(GetParent(h), WM_DRAWITEM, dis.CtlID, reinterpret_cast<LPARAM>(&dis));
    return;
  }
  struct Fill {
    UINT kind;
    int color;
    bool frame;
  };
  static const Fill kFills[] = {
      {SS_BLACKRECT, COLOR_WINDOWFRAME, false}, {SS_GRAYRECT, COLOR_BTNSHADOW, false},
      {SS_WHITERECT, COLOR_WINDOW, false},      {SS_BLACKFRAME, COLOR_WINDOWFRAME, true},
      {SS_GRAYFRAME, COLOR_BTNSHADOW, true},    {SS_WHITEFRAME, COLOR_WINDOW, true},
  };
  for (const Fill &f : kFills) {
    if (f.kind != kind) continue;
    if (f.frame)
      FrameRect(dc, &rc, GetSysColorBrush(f.color));
    else
      FillSys(dc, rc, f.color);
    return;
  }
  if (kind == SS_ETCHEDHORZ || kind == SS_ETCHEDVERT || kind == SS_ETCHEDFRAME) {
    RECT r = rc;
    if (kind == SS_ETCHEDHORZ) r.bottom = r.top + 2;
    if (kind == SS_ETCHEDVERT) r.right = r.left + 2;
    DrawEdge(dc, &r, EDGE_ETCHED,
             kind == SS_ETCHEDHORZ   ? (BF_TOP | BF_BOTTOM)
             : kind == SS_ETCHEDVERT ? (BF_LEFT | BF_RIGHT)
                                     : BF_RECT);
    return;
  }
  HBRUSH bg = ControlColors(h, dc, WM_CTLCOLORSTATIC);
  if (!s.alive) return;
  if (kind != SS_SIMPLE) FillRect(dc, &rc, bg);
  if (kind == SS_ICON) {
    if (s.image) DrawIcon(dc, rc.left, rc.top, static_cast<HICON>(s.image));
    return;
  }
  if (kind == SS_BITMAP) {
    if (s.image) DrawBitmap(dc, static_cast<HBITMAP>(s.image), rc);
    return;
  }
  char buf[2048] = {};
  GetWindowTextA(h, buf, sizeof buf);
  UINT format = DT_EXPANDTABS;
  switch (kind) {
    case SS_CENTER: format |= DT_CENTER | DT_WORDBREAK; break;
    case SS_RIGHT: format |= DT_RIGHT | DT_WORDBREAK; break;
    case SS_SIMPLE:
    case SS_LEFTNOWORDWRAP: format |= DT_LEFT | DT_SINGLELINE; break;
    default: format |= DT_LEFT | DT_WORDBREAK; break;
  }
  if (style & SS_NOPREFIX) format |= DT_NOPREFIX;
  if (style & SS_CENTERIMAGE) format = (format & ~static_cast<UINT>(DT_WORDBREAK)) | DT_SINGLELINE | DT_VCENTER;
  SetBkMode(dc, TRANSPARENT);
  if (!IsWindowEnabled(h)) SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
  HGDIOBJ old = SelectObject(dc, FontOr(s.font));
  DrawLabel(dc, buf, rc, format);
  SelectObject(dc, old);
}

// ---- messages ----

LRESULT Create(HWND h, const CREATESTRUCTA *cs, Static &s) {
  LRESULT r = DefWindowProcA(h, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(cs));
  if (cs && (Kind(h) == SS_ICON || Kind(h) == SS_BITMAP) && cs->lpszName && !IS_INTRESOURCE(cs->lpszName))
    LoadImageFromText(h, s, cs->lpszName);
  return r;
}

LRESULT SetText(HWND h, Static &s, LPARAM lp) {
  LRESULT r = DefWindowProcA(h, WM_SETTEXT, 0, lp);
  if (Kind(h) == SS_ICON || Kind(h) == SS_BITMAP) LoadImageFromText(h, s, reinterpret_cast<LPCSTR>(lp));
  InvalidateRect(h, nullptr, FALSE);
  return r;
}

LRESULT SetImage(HWND h, Static &s, UINT msg, WPARAM wp, LPARAM lp) {
  HANDLE old = s.image;
  s.image = msg == STM_SETICON ? reinterpret_cast<HANDLE>(wp) : reinterpret_cast<HANDLE>(lp);
  InvalidateRect(h, nullptr, FALSE);
  return reinterpret_cast<LRESULT>(old);
}

LRESULT Message(HWND h, UINT msg, WPARAM wp, LPARAM lp, Static &s) {
  switch (msg) {
    case WM_GETDLGCODE: return DLGC_STATIC;
    case WM_NCHITTEST: return (StyleOf(h) & SS_NOTIFY) ? HTCLIENT : HTTRANSPARENT;
    case WM_SETTEXT: return SetText(h, s, lp);
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      if (StyleOf(h) & SS_NOTIFY) NotifyParent(h, s, msg == WM_LBUTTONDOWN ? STN_CLICKED : STN_DBLCLK);
      return 0;
    case STM_SETICON:
    case STM_SETIMAGE: return SetImage(h, s, msg, wp, lp);
    case STM_GETICON:
    case STM_GETIMAGE: return reinterpret_cast<LRESULT>(s.image);
    default: return DefWindowProcA(h, msg, wp, lp);
  }
}

const ControlClass<Static> kStatic{Create, nullptr, Paint, nullptr, Message};

}  // namespace

LRESULT CALLBACK StaticProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) { return RunControl(kStatic, h, msg, wp, lp); }

}  // namespace qx::controls
