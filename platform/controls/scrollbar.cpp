// The SCROLLBAR class: a horizontal or vertical bar with arrows, a trough
// and a thumb. Clicks and keys send WM_HSCROLL/WM_VSCROLL to the parent with
// the bar's handle; the program sets range, page and position with the SBM_
// messages (SetScrollInfo and friends with SB_CTL come here too).
#include <algorithm>

#include "controls_internal.h"

namespace qx::controls {
namespace {

struct ScrollBar : ControlState {
  int min = 0, max = 100, page = 0, pos = 0, track = 0;
  bool focus = false;
  int pressed = -1;  // the scroll code held down by the mouse, or -1
  bool dragging = false;
  int drag_offset = 0;  // pointer position inside the thumb
  UINT arrows = ESB_ENABLE_BOTH;
};

bool Vertical(HWND h) { return (StyleOf(h) & SBS_VERT) != 0; }

struct Parts {
  RECT arrow1, arrow2, trough, thumb;
};

int MaxPos(const ScrollBar &s) { return std::max(s.min, s.max - std::max(0, s.page - 1)); }

Parts Layout(HWND h, const ScrollBar &s) {
  RECT rc;
  GetClientRect(h, &rc);
  const bool v = Vertical(h);
  const int len = v ? rc.bottom : rc.right, thick = v ? rc.right : rc.bottom;
  const int arrow = std::min(thick, len / 2);
  Parts p;
  p.arrow1 = v ? RECT{0, 0, rc.right, arrow} : RECT{0, 0, arrow, rc.bottom};
  p.arrow2 = v ? RECT{0, len - arrow, rc.right, len} : RECT{len - arrow, 0, len, rc.bottom};
  const int t0 = arrow, t1 = len - arrow;
  p.trough = v ? RECT{0, t0, rc.right, t1} : RECT{t0, 0, t1, rc.bottom};
  const int range = s.max - s.min + 1;
  const int room = t1 - t0;
  p.thumb = RECT{0, 0, 0, 0};
  if (range > 0 && room > 8 && IsWindowEnabled(h)) {
    int size = s.page > 0 ? std::max(8, static_cast<int>(static_cast<long long>(room) * s.page / range))
                          : std::min(thick, room);
    size = std::min(size, room);
    const int span = MaxPos(s) - s.min;
    const int at = span > 0 ? static_cast<int>(static_cast<long long>(room - size) * (s.pos - s.min) / span) : 0;
    p.thumb = v ? RECT{0, t0 + at, rc.right, t0 + at + size} : RECT{t0 + at, 0, t0 + at + size, rc.bottom};
  }
  return p;
}

void Arrow(HDC dc, const RECT &r, int dir, bool pressed, bool enabled) {
  FillSys(dc, r, COLOR_BTNFACE);
  RECT e = r;
  DrawEdge(dc, &e, pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
  HPEN pen = CreatePen(PS_SOLID, 1, GetSysColor(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
  HGDIOBJ old = SelectObject(dc, pen);
  const int cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2;
  for (int i = 0; i < 4; ++i) {  // a small triangle pointing dir: 0 up, 1 down, 2 left, 3 right
    switch (dir) {
      case 0:
        MoveToEx(dc, cx - i, cy - 2 + i, nullptr);
        LineTo(dc, cx + i + 1, cy - 2 + i);
        break;
      case 1:
        MoveToEx(dc, cx - i, cy + 1 - i, nullptr);
        LineTo(dc, cx + i + 1, cy + 1 - i);
        break;
      case 2:
        MoveToEx(dc, cx - 2 + i, cy - i, nullptr);
        LineTo(dc, cx - 2 + i, cy + i + 1);
        break;
      default:
        MoveToEx(dc, cx + 1 - i, cy - i, nullptr);
        LineTo(dc, cx + 1 - i, cy + i + 1);
        break;
    }
  }
  SelectObject(dc, old);
  DeleteObject(pen);
}

void Paint(HWND h, HDC dc, ScrollBar &s) {
  const Parts p = Layout(h, s);
  const bool v = Vertical(h), enabled = IsWindowEnabled(h) != FALSE;
  HBRUSH trough = ControlColors(h, dc, WM_CTLCOLORSCROLLBAR);
  if (!s.alive) return;
  FillRect(dc, &p.trough, trough);
  Arrow(dc, p.arrow1, v ? 0 : 2, s.pressed == SB_LINEUP, enabled && !(s.arrows & 1));
  Arrow(dc, p.arrow2, v ? 1 : 3, s.pressed == SB_LINEDOWN, enabled && !(s.arrows & 2));
  if (!IsRectEmpty(&p.thumb)) {
    FillSys(dc, p.thumb, COLOR_BTNFACE);
    RECT t = p.thumb;
    DrawEdge(dc, &t, EDGE_RAISED, BF_RECT);
  }
  if (s.focus && !IsRectEmpty(&p.thumb)) {
    RECT f = p.thumb;
    InflateRect(&f, -2, -2);
    DrawFocusRect(dc, &f);
  }
}

// WM_HSCROLL or WM_VSCROLL to the parent; false when the parent destroyed the bar meanwhile.
bool Send(HWND h, const ScrollBar &s, int code, int pos = 0) {
  HWND parent = GetParent(h);
  if (!parent) return true;
  SendMessageA(parent, Vertical(h) ? WM_VSCROLL : WM_HSCROLL, MAKEWPARAM(code, pos), reinterpret_cast<LPARAM>(h));
  return s.alive;
}

int SetPos(HWND h, ScrollBar &s, int pos, bool redraw) {
  const int old = s.pos;
  s.pos = std::clamp(pos, s.min, MaxPos(s));
  if (redraw) InvalidateRect(h, nullptr, FALSE);
  return old;
}

int CodeAt(HWND h, const ScrollBar &s, POINT p) {
  const Parts parts = Layout(h, s);
  if (PtInRect(&parts.arrow1, p)) return SB_LINEUP;
  if (PtInRect(&parts.arrow2, p)) return SB_LINEDOWN;
  if (PtInRect(&parts.thumb, p)) return SB_THUMBTRACK;
  if (IsRectEmpty(&parts.thumb)) return -1;
  const int at = Vertical(h) ? p.y : p.x, thumb0 = Vertical(h) ? parts.thumb.top : parts.thumb.left;
  return at < thumb0 ? SB_PAGEUP : SB_PAGEDOWN;
}

int PosFromPointer(HWND h, const ScrollBar &s, POINT p) {
  const Parts parts = Layout(h, s);
  const bool v = Vertical(h);
  const int size = v ? parts.thumb.bottom - parts.thumb.top : parts.thumb.right - parts.thumb.left;
  const int t0 = v ? parts.trough.top : parts.trough.left, t1 = v ? parts.trough.bottom : parts.trough.right;
  const int room = t1 - t0 - size;
  if (room <= 0) return s.pos;
  const int at = (v ? p.y : p.x) - s.drag_offset - t0;
  return s.min + static_cast<int>(static_cast<long long>(std::clamp(at, 0, room)) * (MaxPos(s) - s.min) / room);
}

LRESULT Info(HWND h, ScrollBar &s, bool set, SCROLLINFO *si, bool redraw) {
  if (!si) return 0;
  if (set) {
    if (si->fMask & SIF_RANGE) {
      s.min = si->nMin;
      s.max = std::max(si->nMin, si->nMax);
    }
    if (si->fMask & SIF_PAGE)
      s.page = static_cast<int>(std::min<UINT>(si->nPage, static_cast<UINT>(s.max - s.min + 1)));
    if (si->fMask & SIF_POS) s.pos = si->nPos;
    SetPos(h, s, s.pos, redraw);
    return s.pos;
  }
  if (si->fMask & SIF_RANGE) {
    si->nMin = s.min;
    si->nMax = s.max;
  }
  if (si->fMask & SIF_PAGE) si->nPage = static_cast<UINT>(s.page);
  if (si->fMask & SIF_POS) si->nPos = s.pos;
  if (si->fMask & SIF_TRACKPOS) si->nTrackPos = s.dragging ? s.track : s.pos;
  return TRUE;
}

// ---- messages ----

void ButtonDown(HWND h, ScrollBar &s, LPARAM lp) {
  const POINT p = PointFromLParam(lp);
  const int code = CodeAt(h, s, p);
  if (code < 0) return;
  if (StyleOf(h) & WS_TABSTOP) SetFocus(h);  // the focus change may destroy the bar
  if (!s.alive) return;
  SetCapture(h);
  if (code == SB_THUMBTRACK) {
    const Parts parts = Layout(h, s);
    s.dragging = true;
    s.track = s.pos;
    s.drag_offset = Vertical(h) ? p.y - parts.thumb.top : p.x - parts.thumb.left;
    return;
  }
  s.pressed = code;
  InvalidateRect(h, nullptr, FALSE);
  Send(h, s, code);
}

void MouseMove(HWND h, ScrollBar &s, LPARAM lp) {
  if (!s.dragging) return;
  const int pos = PosFromPointer(h, s, PointFromLParam(lp));
  if (pos == s.track) return;
  s.track = pos;
  Send(h, s, SB_THUMBTRACK, pos);
}

void ButtonUp(HWND h, ScrollBar &s) {
  if (GetCapture() == h) ReleaseCapture();
  if (s.dragging) {
    s.dragging = false;
    if (!Send(h, s, SB_THUMBPOSITION, s.track)) return;
  }
  if (s.pressed >= 0) InvalidateRect(h, nullptr, FALSE);
  s.pressed = -1;
  Send(h, s, SB_ENDSCROLL);
}

void KeyDown(HWND h, ScrollBar &s, WPARAM key) {
  int code = -1;
  switch (key) {
    case VK_UP:
    case VK_LEFT: code = SB_LINEUP; break;
    case VK_DOWN:
    case VK_RIGHT: code = SB_LINEDOWN; break;
    case VK_PRIOR: code = SB_PAGEUP; break;
    case VK_NEXT: code = SB_PAGEDOWN; break;
    case VK_HOME: code = SB_TOP; break;
    case VK_END: code = SB_BOTTOM; break;
    default: return;
  }
  if (Send(h, s, code)) Send(h, s, SB_ENDSCROLL);
}

LRESULT SetRange(HWND h, ScrollBar &s, UINT msg, WPARAM wp, LPARAM lp) {
  s.min = static_cast<int>(wp);
  s.max = std::max(s.min, static_cast<int>(lp));
  SetPos(h, s, s.pos, msg == SBM_SETRANGEREDRAW);
  return 0;
}

LRESULT GetRange(const ScrollBar &s, WPARAM wp, LPARAM lp) {
  if (wp) *reinterpret_cast<INT *>(wp) = s.min;
  if (lp) *reinterpret_cast<INT *>(lp) = s.max;
  return 0;
}

LRESULT Message(HWND h, UINT msg, WPARAM wp, LPARAM lp, ScrollBar &s) {
  switch (msg) {
    case WM_GETDLGCODE: return DLGC_WANTARROWS;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      s.focus = msg == WM_SETFOCUS;
      InvalidateRect(h, nullptr, FALSE);
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: ButtonDown(h, s, lp); return 0;
    case WM_MOUSEMOVE: MouseMove(h, s, lp); return 0;
    case WM_LBUTTONUP: ButtonUp(h, s); return 0;
    case WM_KEYDOWN: KeyDown(h, s, wp); return 0;
    case SBM_SETPOS: return SetPos(h, s, static_cast<int>(wp), lp != 0);
    case SBM_GETPOS: return s.pos;
    case SBM_SETRANGE:
    case SBM_SETRANGEREDRAW: return SetRange(h, s, msg, wp, lp);
    case SBM_GETRANGE: return GetRange(s, wp, lp);
    case SBM_SETSCROLLINFO: return Info(h, s, true, reinterpret_cast<SCROLLINFO *>(lp), wp != 0);
    case SBM_GETSCROLLINFO: return Info(h, s, false, reinterpret_cast<SCROLLINFO *>(lp), false);
    case SBM_ENABLE_ARROWS:
      s.arrows = static_cast<UINT>(wp);
      InvalidateRect(h, nullptr, FALSE);
      return TRUE;
    default: return DefWindowProcA(h, msg, wp, lp);
  }
}

const ControlClass<ScrollBar> kScrollBar{nullptr, nullptr, Paint, nullptr, Message};

}  // namespace

LRESULT CALLBACK ScrollBarProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  return RunControl(kScrollBar, h, msg, wp, lp);
}

}  // namespace qx::controls
