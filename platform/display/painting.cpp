// Painting windows: one pixel surface per top-level window that the window
// DCs of it and its children draw into at their offset, clipped to their
// client area inside every ancestor's; window DCs, BeginPaint/EndPaint, the
// update region calls, ScrollWindowEx, DrawEdge, and window captures.
#include <algorithm>
#include <map>
#include <mutex>

#include "qx/errors.h"
#include "display_internal.h"
#include "qx/handles.h"

namespace qx::display {

std::shared_ptr<Surface> SurfaceOfTop(HWND top) {
  Geometry g;
  if (!GetGeometry(top, g)) return nullptr;
  std::lock_guard guard(StateLock());
  WinData &d = Data(top);
  const int w = g.rect.right - g.rect.left, h = g.rect.bottom - g.rect.top;
  if (!d.surface) d.surface = std::make_shared<Surface>(w, h, gdi::SysColorPixel(COLOR_WINDOW));
  if (d.surface->width != w || d.surface->height != h) {
    // Keep what is there at the top left; the rest is repainted.
    Surface grown(w, h, gdi::SysColorPixel(COLOR_WINDOW));
    for (int y = 0; y < std::min(h, d.surface->height); ++y)
      for (int x = 0; x < std::min(w, d.surface->width); ++x)
        grown.px[static_cast<size_t>(y) * w + x] = d.surface->Get(x, y);
    d.surface->width = w;
    d.surface->height = h;
    d.surface->px = std::move(grown.px);
  }
  return d.surface;
}

void Present(HWND hwnd, const RECT *area) {
  if (!StartedDriver()) return;
  Geometry g;
  if (!GetGeometry(hwnd, g) || !g.top) return;
  auto s = SurfaceOfTop(g.top);
  if (!s) return;
  Geometry tg;
  GetGeometry(g.top, tg);
  if (!tg.visible) return;
  const RECT all{0, 0, s->width, s->height};
  StartedDriver()->Present(g.top, *s, area ? gdi::RectIntersect(*area, all) : all);
}

// What a DC of a window may touch: its client (or whole window) inside every
// ancestor's client area, less the children when the window clips them.
gdi::WindowTarget TargetFor(HWND hwnd, bool whole_window) {
  gdi::WindowTarget t;
  Geometry g;
  if (!GetGeometry(hwnd, g) || !g.top) {
    t.surface = std::make_shared<Surface>();
    return t;
  }
  t.surface = SurfaceOfTop(g.top);
  const int ww = g.rect.right - g.rect.left, wh = g.rect.bottom - g.rect.top;
  RECT area = whole_window ? RECT{0, 0, ww, wh} : g.client;
  area.left += g.in_top.x;
  area.right += g.in_top.x;
  area.top += g.in_top.y;
  area.bottom += g.in_top.y;
  t.origin = POINT{area.left, area.top};
  gdi::Rects visible{area};
  // Ancestors' client areas bound a child.
  std::lock_guard guard(WindowLock());
  auto w = FindLocalWindow(hwnd);
  for (HWND p = g.parent; p;) {
    Geometry pg;
    auto pw = FindLocalWindow(p);
    if (!pw || !GetGeometry(p, pg)) break;
    RECT pc = pg.client;
    pc.left += pg.in_top.x;
    pc.right += pg.in_top.x;
    pc.top += pg.in_top.y;
    pc.bottom += pg.in_top.y;
    visible = gdi::IntersectRects(visible, pc);
    p = pw->parent;
  }
  if (w && (w->style & WS_CLIPCHILDREN)) {
    for (HWND c : w->children) {
      Geometry cg;
      if (!GetGeometry(c, cg) || !(cg.style & WS_VISIBLE)) continue;
      RECT cr{cg.in_top.x, cg.in_top.y, cg.in_top.x + (cg.rect.right - cg.rect.left),
              cg.in_top.y + (cg.rect.bottom - cg.rect.top)};
      visible = gdi::CombineRects(visible, {cr}, RGN_DIFF);
    }
  }
  if (!g.visible) visible.clear();
  t.visible = visible;
  return t;
}

std::shared_ptr<Surface> TopSurface(HWND hwnd) {
  Geometry g;
  if (!GetGeometry(hwnd, g) || !g.top) return nullptr;
  return SurfaceOfTop(g.top);
}

bool CaptureWindow(HWND hwnd, Surface &out) {
  Geometry g;
  if (!GetGeometry(hwnd, g) || !g.top) return false;
  auto s = SurfaceOfTop(g.top);
  if (!s) return false;
  const int w = g.rect.right - g.rect.left, h = g.rect.bottom - g.rect.top;
  out.mono = false;
  out.Resize(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (s->Contains(g.in_top.x + x, g.in_top.y + y))
        out.px[static_cast<size_t>(y) * w + x] = s->Get(g.in_top.x + x, g.in_top.y + y);
  return true;
}

bool SaveWindowPng(HWND hwnd, const std::string &path) {
  Surface s;
  return CaptureWindow(hwnd, s) && gdi::WritePng(s, nullptr, path);
}

void PresentWindow(HWND hwnd) { Present(hwnd); }

}  // namespace qx::display

using namespace qx::display;
using qx::Fail;
using qx::gdi::Surface;

namespace {

std::mutex g_dc_lock;
std::map<HDC, HWND> g_window_dcs;

HDC MakeWindowDC(HWND hwnd, bool whole) {
  if (hwnd && !IsWindow(hwnd)) return Fail<HDC>(ERROR_INVALID_WINDOW_HANDLE, nullptr);
  qx::gdi::WindowTarget t;
  if (!hwnd) {
    // The screen: a DC over a surface of the screen's size.
    static auto desktop = std::make_shared<Surface>(1024, 768, qx::gdi::SysColorPixel(COLOR_BACKGROUND));
    t.surface = desktop;
    t.visible = {RECT{0, 0, 1024, 768}};
  } else {
    t = TargetFor(hwnd, whole);
  }
  HDC dc = qx::gdi::CreateWindowDC(hwnd, t);
  std::lock_guard guard(g_dc_lock);
  g_window_dcs[dc] = hwnd;
  return dc;
}

}  // namespace

extern "C" {

HDC WINAPI GetDC(HWND hwnd) { return MakeWindowDC(hwnd, false); }
HDC WINAPI GetWindowDC(HWND hwnd) { return MakeWindowDC(hwnd, true); }

HDC WINAPI GetDCEx(HWND hwnd, HRGN clip, DWORD) {
  HDC dc = GetDC(hwnd);
  if (dc && clip) SelectClipRgn(dc, clip);
  return dc;
}

int WINAPI ReleaseDC(HWND hwnd, HDC dc) {
  {
    std::lock_guard guard(g_dc_lock);
    auto it = g_window_dcs.find(dc);
    if (it == g_window_dcs.end()) return 0;
    g_window_dcs.erase(it);
  }
  qx::RemoveHandle(dc);
  if (hwnd) PresentWindow(hwnd);
  return 1;
}

HWND WINAPI WindowFromDC(HDC dc) {
  std::lock_guard guard(g_dc_lock);
  auto it = g_window_dcs.find(dc);
  return it == g_window_dcs.end() ? nullptr : it->second;
}

HDC WINAPI BeginPaint(HWND hwnd, LPPAINTSTRUCT ps) {
  if (!ps || !IsWindow(hwnd)) return Fail<HDC>(ERROR_INVALID_PARAMETER, nullptr);
  *ps = PAINTSTRUCT{};
  RECT r{};
  bool erase = false;
  qx::TakeUpdateRegion(hwnd, r, erase);
  HideCaret(hwnd);
  HDC dc = GetDC(hwnd);
  if (!dc) return nullptr;
  // Painting is clipped to the update region.
  HRGN rgn = CreateRectRgnIndirect(&r);
  SelectClipRgn(dc, rgn);
  DeleteObject(rgn);
  ps->hdc = dc;
  ps->rcPaint = r;
  ps->fErase = TRUE;
  if (erase) ps->fErase = SendMessageA(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0) ? FALSE : TRUE;
  return dc;
}

BOOL WINAPI EndPaint(HWND hwnd, const PAINTSTRUCT *ps) {
  if (!ps) return FALSE;
  ReleaseDC(hwnd, ps->hdc);
  ShowCaret(hwnd);
  return TRUE;
}

BOOL WINAPI InvalidateRgn(HWND hwnd, HRGN rgn, BOOL erase) {
  if (!rgn) return InvalidateRect(hwnd, nullptr, erase);
  RECT box;
  if (GetRgnBox(rgn, &box) == ERROR) return FALSE;
  if (qx::gdi::RectEmpty(box)) return TRUE;
  return InvalidateRect(hwnd, &box, erase);
}

BOOL WINAPI ValidateRgn(HWND hwnd, HRGN rgn) {
  if (!rgn) return ValidateRect(hwnd, nullptr);
  RECT box;
  if (GetRgnBox(rgn, &box) == ERROR) return FALSE;
  return ValidateRect(hwnd, &box);
}

int WINAPI GetUpdateRgn(HWND hwnd, HRGN rgn, BOOL erase) {
  RECT r;
  if (!GetUpdateRect(hwnd, &r, erase)) {
    SetRectRgn(rgn, 0, 0, 0, 0);
    return IsWindow(hwnd) ? NULLREGION : ERROR;
  }
  return SetRectRgn(rgn, r.left, r.top, r.right, r.bottom) ? SIMPLEREGION : ERROR;
}

BOOL WINAPI RedrawWindow(HWND hwnd, const RECT *r, HRGN rgn, UINT flags) {
  if (!hwnd) return FALSE;
  if (flags & RDW_FRAME) RedrawFrame(hwnd);
  if (flags & RDW_INVALIDATE) {
    if (rgn)
      InvalidateRgn(hwnd, rgn, (flags & RDW_ERASE) != 0);
    else
      InvalidateRect(hwnd, r, (flags & RDW_ERASE) != 0);
  }
  if (flags & RDW_VALIDATE) ValidateRect(hwnd, r);
  if (flags & (RDW_UPDATENOW | RDW_ERASENOW)) UpdateWindow(hwnd);
  return TRUE;
}

int WINAPI ScrollWindowEx(HWND hwnd, int dx, int dy, const RECT *scroll, const RECT *clip, HRGN update_rgn,
                          LPRECT update_rect, UINT flags) {
  if (!IsWindow(hwnd)) return Fail(ERROR_INVALID_WINDOW_HANDLE, ERROR);
  HideCaret(hwnd);
  HDC dc = GetDC(hwnd);
  RECT client;
  GetClientRect(hwnd, &client);
  const RECT area = scroll ? *scroll : client;
  HRGN rgn = CreateRectRgn(0, 0, 0, 0);
  RECT box{};
  ScrollDC(dc, dx, dy, &area, clip ? clip : &client, rgn, &box);
  ReleaseDC(hwnd, dc);
  // A pending update inside the scrolled area moves with the pixels.
  if (auto w = qx::FindLocalWindow(hwnd)) {
    std::lock_guard guard(qx::WindowLock());
    RECT &u = w->update;
    if (u.left < u.right && u.top < u.bottom && u.left >= area.left && u.right <= area.right && u.top >= area.top &&
        u.bottom <= area.bottom) {
      u.left += dx;
      u.right += dx;
      u.top += dy;
      u.bottom += dy;
      u = qx::gdi::RectIntersect(u, client);
    }
  }
  if (update_rgn) CombineRgn(update_rgn, rgn, nullptr, RGN_COPY);
  if (update_rect) *update_rect = box;
  int kind = GetRgnBox(rgn, &box);
  if ((flags & SW_INVALIDATE) && kind != NULLREGION) InvalidateRgn(hwnd, rgn, (flags & SW_ERASE) != 0);
  DeleteObject(rgn);
  if ((flags & SW_SCROLLCHILDREN) || !scroll) {
    std::vector<HWND> kids;
    {
      std::lock_guard guard(qx::WindowLock());
      if (auto w = qx::FindLocalWindow(hwnd)) kids = w->children;
    }
    for (HWND k : kids) {
      RECT r;
      GetWindowRect(k, &r);
      POINT p{r.left, r.top};
      ScreenToClient(hwnd, &p);
      SetWindowPos(k, nullptr, p.x + dx, p.y + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  ShowCaret(hwnd);
  return kind;
}

BOOL WINAPI ScrollWindow(HWND hwnd, int dx, int dy, const RECT *scroll, const RECT *clip) {
  return ScrollWindowEx(hwnd, dx, dy, scroll, clip, nullptr, nullptr, SW_INVALIDATE | SW_ERASE) != ERROR;
}

BOOL WINAPI DrawEdge(HDC hdc, LPRECT rc, UINT edge, UINT flags) {
  if (!rc) return FALSE;
  auto line = [&](int x1, int y1, int x2, int y2, int color) {
    HPEN pen = CreatePen(PS_SOLID, 1, GetSysColor(color));
    HGDIOBJ old = SelectObject(hdc, pen);
    MoveToEx(hdc, x1, y1, nullptr);
    LineTo(hdc, x2, y2);
    SelectObject(hdc, old);
    DeleteObject(pen);
  };
  RECT r = *rc;
  auto ring = [&](int lt, int rb) {
    if (flags & BF_TOP) line(r.left, r.top, r.right - 1, r.top, lt);
    if (flags & BF_LEFT) line(r.left, r.top, r.left, r.bottom - 1, lt);
    if (flags & BF_BOTTOM) line(r.left, r.bottom - 1, r.right, r.bottom - 1, rb);
    if (flags & BF_RIGHT) line(r.right - 1, r.top, r.right - 1, r.bottom, rb);
    if (flags & BF_LEFT) ++r.left;
    if (flags & BF_TOP) ++r.top;
    if (flags & BF_RIGHT) --r.right;
    if (flags & BF_BOTTOM) --r.bottom;
  };
  if (edge & BDR_RAISEDOUTER)
    ring(COLOR_3DLIGHT, COLOR_3DDKSHADOW);
  else if (edge & BDR_SUNKENOUTER)
    ring(COLOR_3DSHADOW, COLOR_3DHIGHLIGHT);
  if (edge & BDR_RAISEDINNER)
    ring(COLOR_3DHIGHLIGHT, COLOR_3DSHADOW);
  else if (edge & BDR_SUNKENINNER)
    ring(COLOR_3DDKSHADOW, COLOR_3DLIGHT);
  if (flags & BF_MIDDLE) FillRect(hdc, &r, GetSysColorBrush(COLOR_BTNFACE));
  if (flags & BF_ADJUST) *rc = r;
  return TRUE;
}

}  // extern "C"