// The non-client parts of windows in the NT 4 look: the desktop's metrics,
// the client area inside frame, caption, menu bar and scroll bars, the frame
// and caption drawn on the top-level surface, hit testing, and the metrics
// and frame calls (GetSystemMetrics, AdjustWindowRectEx, FlashWindow).
#include <algorithm>

#include "display_internal.h"

namespace qx::display {

int FrameWidth(DWORD style, DWORD ex) {
  if (style & WS_THICKFRAME) return kThickFrame;
  if ((style & WS_DLGFRAME) || (ex & WS_EX_DLGMODALFRAME)) return kDlgFrame;
  if (style & WS_BORDER) return kBorder;
  return 0;
}

bool HasCaption(DWORD style) { return (style & WS_CAPTION) == WS_CAPTION; }

Insets NonClient(DWORD style, DWORD ex, bool menu) {
  Insets in;
  const int f = FrameWidth(style, ex) + ((ex & WS_EX_CLIENTEDGE) ? kClientEdge : 0);
  in.left = in.right = in.top = in.bottom = f;
  in.caption_top = FrameWidth(style, ex);
  if (HasCaption(style)) in.top += kCaption;
  if (menu && !(style & WS_CHILD)) in.top += kMenuBar;
  if (style & WS_VSCROLL) in.right += kScrollSize;
  if (style & WS_HSCROLL) in.bottom += kScrollSize;
  return in;
}

void AdjustClientArea(Window &w) {
  const Insets in = NonClient(w.style, w.ex_style, w.menu != nullptr);
  const int ww = w.rect.right - w.rect.left, wh = w.rect.bottom - w.rect.top;
  w.client = RECT{std::min(in.left, ww), std::min(in.top, wh), std::max(in.left, ww - in.right),
                  std::max(in.top, wh - in.bottom)};
  w.client.right = std::max(w.client.left, w.client.right);
  w.client.bottom = std::max(w.client.top, w.client.bottom);
}

// ---- drawing on the surface ----

void Fill(Surface &s, RECT r, std::uint32_t px) {
  r = gdi::RectIntersect(r, RECT{0, 0, s.width, s.height});
  for (LONG y = r.top; y < r.bottom; ++y)
    for (LONG x = r.left; x < r.right; ++x) s.Put(static_cast<int>(x), static_cast<int>(y), px);
}

std::uint32_t Sys(int i) { return gdi::SysColorPixel(i); }

// A 3-D edge on a surface: outer then inner lines, light at the top left.
void Edge(Surface &s, RECT r, bool raised) {
  const std::uint32_t lt_out = raised ? Sys(COLOR_3DLIGHT) : Sys(COLOR_3DSHADOW);
  const std::uint32_t rb_out = raised ? Sys(COLOR_3DDKSHADOW) : Sys(COLOR_3DHIGHLIGHT);
  const std::uint32_t lt_in = raised ? Sys(COLOR_3DHIGHLIGHT) : Sys(COLOR_3DDKSHADOW);
  const std::uint32_t rb_in = raised ? Sys(COLOR_3DSHADOW) : Sys(COLOR_3DLIGHT);
  auto frame = [&](RECT q, std::uint32_t lt, std::uint32_t rb) {
    Fill(s, RECT{q.left, q.top, q.right - 1, q.top + 1}, lt);
    Fill(s, RECT{q.left, q.top, q.left + 1, q.bottom - 1}, lt);
    Fill(s, RECT{q.left, q.bottom - 1, q.right, q.bottom}, rb);
    Fill(s, RECT{q.right - 1, q.top, q.right, q.bottom}, rb);
  };
  frame(r, lt_out, rb_out);
  frame(RECT{r.left + 1, r.top + 1, r.right - 1, r.bottom - 1}, lt_in, rb_in);
}

namespace {

// Glyphs of the caption buttons and scroll arrows as tiny bitmaps (rows of bits, top first).
void Glyph(Surface &s, int x, int y, const char *const *rows, std::uint32_t px) {
  for (int j = 0; rows[j]; ++j)
    for (int i = 0; rows[j][i]; ++i)
      if (rows[j][i] == '#' && s.Contains(x + i, y + j)) s.Put(x + i, y + j, px);
}
const char *const kCloseGlyph[] = {"##....##", ".##..##.", "..####..", "...##...",
                                   "..####..", ".##..##.", "##....##", nullptr};
const char *const kMinGlyph[] = {"......", "......", "......", "......", "......", "######", "######", nullptr};
const char *const kMaxGlyph[] = {"#########", "#########", "#.......#", "#.......#",
                                 "#.......#", "#.......#", "#########", nullptr};

}  // namespace

void Button(Surface &s, RECT r, const char *const *glyph, int gw, int gh) {
  Fill(s, r, Sys(COLOR_BTNFACE));
  Edge(s, r, true);
  Glyph(s, r.left + (r.right - r.left - gw) / 2, r.top + (r.bottom - r.top - gh) / 2, glyph, Sys(COLOR_BTNTEXT));
}

namespace {

void DrawCaptionText(Surface &s, const RECT &bar, const std::string &title, bool active) {
  // Text goes through a memory DC onto a copy of the bar, then back.
  const int w = bar.right - bar.left, h = bar.bottom - bar.top;
  if (w <= 0 || h <= 0) return;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bm = CreateBitmap(w, h, 1, 32, nullptr);
  HGDIOBJ old_bm = SelectObject(dc, bm);
  auto b = gdi::BitmapSurface(bm);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b->Put(x, y, s.Get(bar.left + x, bar.top + y));
  HFONT font =
      CreateFontA(-11, 0, 0, 0, FW_BOLD, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, VARIABLE_PITCH | FF_SWISS, "MS Sans Serif");
  HGDIOBJ old_font = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, active ? GetSysColor(COLOR_CAPTIONTEXT) : GetSysColor(COLOR_INACTIVECAPTIONTEXT));
  RECT r{0, 0, w, h};
  DrawTextA(dc, title.c_str(), static_cast<int>(title.size()), &r,
            DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) s.Put(bar.left + x, bar.top + y, b->Get(x, y));
  SelectObject(dc, old_font);
  DeleteObject(font);
  SelectObject(dc, old_bm);
  DeleteObject(bm);
  DeleteDC(dc);
}

}  // namespace

void PaintFrame(HWND hwnd) {
  Geometry g;
  if (!GetGeometry(hwnd, g) || !g.top) return;
  auto s = SurfaceOfTop(g.top);
  if (!s) return;
  const int ww = g.rect.right - g.rect.left, wh = g.rect.bottom - g.rect.top;
  const RECT win{g.in_top.x, g.in_top.y, g.in_top.x + ww, g.in_top.y + wh};
  const Insets in = NonClient(g.style, g.ex, g.menu);
  const int frame = FrameWidth(g.style, g.ex);
  if (frame >= kDlgFrame) {
    Fill(*s, RECT{win.left, win.top, win.right, win.top + frame}, Sys(COLOR_ACTIVEBORDER));
    Fill(*s, RECT{win.left, win.bottom - frame, win.right, win.bottom}, Sys(COLOR_ACTIVEBORDER));
    Fill(*s, RECT{win.left, win.top, win.left + frame, win.bottom}, Sys(COLOR_ACTIVEBORDER));
    Fill(*s, RECT{win.right - frame, win.top, win.right, win.bottom}, Sys(COLOR_ACTIVEBORDER));
    Edge(*s, win, true);
  } else if (frame == kBorder) {
    const std::uint32_t b = Sys(COLOR_WINDOWFRAME);
    Fill(*s, RECT{win.left, win.top, win.right, win.top + 1}, b);
    Fill(*s, RECT{win.left, win.bottom - 1, win.right, win.bottom}, b);
    Fill(*s, RECT{win.left, win.top, win.left + 1, win.bottom}, b);
    Fill(*s, RECT{win.right - 1, win.top, win.right, win.bottom}, b);
  }
  int y = win.top + frame;
  if (HasCaption(g.style)) {
    bool active;
    {
      std::lock_guard guard(StateLock());
      active = ActiveFrame() == hwnd;
    }
    // A document window of an MDI frame looks active while it is its client's active one.
    if ((g.ex & WS_EX_MDICHILD) && g.parent)
      active = SendMessageA(g.parent, WM_MDIGETACTIVE, 0, 0) == reinterpret_cast<LRESULT>(hwnd);
    const RECT bar{win.left + frame, y, win.right - frame, y + kCaption - 1};
    Fill(*s, bar, active ? Sys(COLOR_ACTIVECAPTION) : Sys(COLOR_INACTIVECAPTION));
    Fill(*s, RECT{bar.left, bar.bottom, bar.right, bar.bottom + 1}, Sys(COLOR_BTNFACE));
    int right = bar.right - 2;
    if (g.style & WS_SYSMENU) {
      const RECT close{right - 16, bar.top + 2, right, bar.top + 16};
      Button(*s, close, kCloseGlyph, 8, 7);
      right = close.left - 2;
      if (g.style & (WS_MAXIMIZEBOX | WS_MINIMIZEBOX)) {
        const RECT max{right - 16, bar.top + 2, right, bar.top + 16};
        Button(*s, max, kMaxGlyph, 9, 7);
        const RECT min{max.left - 16, bar.top + 2, max.left, bar.top + 16};
        Button(*s, min, kMinGlyph, 6, 7);
        right = min.left - 2;
      }
    }
    int text_left = bar.left + 2;
    if (g.style & WS_SYSMENU) {
      HICON icon = reinterpret_cast<HICON>(GetClassLongPtrA(hwnd, GCLP_HICON));
      if (!icon) icon = LoadIconA(nullptr, IDI_APPLICATION);
      HDC dc = GetWindowDC(hwnd);
      // The small icon is the icon at half size.
      HDC mem = CreateCompatibleDC(dc);
      HBITMAP bm = CreateBitmap(32, 32, 1, 32, nullptr);
      HGDIOBJ old = SelectObject(mem, bm);
      RECT all{0, 0, 32, 32};
      HBRUSH cap = CreateSolidBrush(active ? GetSysColor(COLOR_ACTIVECAPTION) : GetSysColor(COLOR_INACTIVECAPTION));
      FillRect(mem, &all, cap);
      DeleteObject(cap);
      DrawIcon(mem, 0, 0, icon);
      SetStretchBltMode(dc, COLORONCOLOR);
      StretchBlt(dc, frame + 2, frame + 1, 16, 16, mem, 0, 0, 32, 32, SRCCOPY);
      SelectObject(mem, old);
      DeleteObject(bm);
      DeleteDC(mem);
      ReleaseDC(hwnd, dc);
      text_left += 20;
    }
    DrawCaptionText(*s, RECT{text_left, bar.top, right, bar.bottom}, g.title, active);
    y += kCaption;
  }
  if (g.menu) {
    Fill(*s, RECT{win.left + frame, y, win.right - frame, y + kMenuBar}, Sys(COLOR_MENU));
    if (auto paint = MenuBar().paint) {  // the controls part draws the items
      HDC dc = GetWindowDC(hwnd);
      paint(hwnd, dc, RECT{frame, y - win.top, ww - frame, y - win.top + kMenuBar});
      ReleaseDC(hwnd, dc);
    }
    y += kMenuBar;
  }
  if (g.ex & WS_EX_CLIENTEDGE) {
    Edge(*s, RECT{win.left + frame, y, win.right - frame, win.bottom - frame}, false);
  }
  Bar bars[2];
  {
    std::lock_guard guard(StateLock());
    bars[0] = Data(hwnd).bars[0];
    bars[1] = Data(hwnd).bars[1];
  }
  const RECT c{win.left + g.client.left, win.top + g.client.top, win.left + g.client.right, win.top + g.client.bottom};
  if (g.style & WS_VSCROLL) DrawBar(*s, RECT{c.right, c.top, c.right + kScrollSize, c.bottom}, true, bars[1]);
  if (g.style & WS_HSCROLL) DrawBar(*s, RECT{c.left, c.bottom, c.right, c.bottom + kScrollSize}, false, bars[0]);
  if ((g.style & WS_VSCROLL) && (g.style & WS_HSCROLL))
    Fill(*s, RECT{c.right, c.bottom, c.right + kScrollSize, c.bottom + kScrollSize}, Sys(COLOR_BTNFACE));
  (void)in;
}

void RedrawFrame(HWND hwnd) {
  PaintFrame(hwnd);
  Present(hwnd);
}

int HitTest(HWND hwnd, POINT screen) {
  Geometry g;
  if (!GetGeometry(hwnd, g)) return HTNOWHERE;
  const POINT p{screen.x - g.rect.left, screen.y - g.rect.top};
  if (p.x >= g.client.left && p.x < g.client.right && p.y >= g.client.top && p.y < g.client.bottom) return HTCLIENT;
  if ((g.style & WS_VSCROLL) && p.x >= g.client.right && p.x < g.client.right + kScrollSize && p.y >= g.client.top &&
      p.y < g.client.bottom)
    return HTVSCROLL;
  if ((g.style & WS_HSCROLL) && p.y >= g.client.bottom && p.y < g.client.bottom + kScrollSize && p.x >= g.client.left &&
      p.x < g.client.right)
    return HTHSCROLL;
  const int frame = FrameWidth(g.style, g.ex);
  if (HasCaption(g.style) && p.y >= frame && p.y < frame + kCaption) {
    const int ww = g.rect.right - g.rect.left;
    if ((g.style & WS_SYSMENU) && p.x >= ww - frame - 18 && p.x < ww - frame - 2) return HTCLOSE;
    if ((g.style & WS_SYSMENU) && (g.style & WS_MAXIMIZEBOX) && p.x >= ww - frame - 36 && p.x < ww - frame - 18)
      return HTMAXBUTTON;
    if ((g.style & WS_SYSMENU) && (g.style & WS_MINIMIZEBOX) && p.x >= ww - frame - 52 && p.x < ww - frame - 36)
      return HTMINBUTTON;
    if ((g.style & WS_SYSMENU) && p.x < frame + 20) return HTSYSMENU;
    return HTCAPTION;
  }
  if (g.menu && p.y >= frame + (HasCaption(g.style) ? kCaption : 0) &&
      p.y < frame + (HasCaption(g.style) ? kCaption : 0) + kMenuBar)
    return HTMENU;
  return HTBORDER;
}

}  // namespace qx::display

using namespace qx::display;

extern "C" {

int WINAPI GetSystemMetrics(int i) {
  switch (i) {
    case SM_CXSCREEN:
    case SM_CXFULLSCREEN:
    case SM_CXVIRTUALSCREEN: return kScreenW;
    case SM_CYSCREEN:
    case SM_CYVIRTUALSCREEN: return kScreenH;
    case SM_CYFULLSCREEN: return kScreenH - kCaption;
    case SM_CXVSCROLL:
    case SM_CYHSCROLL:
    case SM_CYVSCROLL:
    case SM_CXHSCROLL: return kScrollSize;
    case SM_CYVTHUMB:
    case SM_CXHTHUMB: return kScrollSize;
    case SM_CYCAPTION: return kCaption;
    case SM_CXBORDER:
    case SM_CYBORDER: return kBorder;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME: return kDlgFrame;
    case SM_CXFRAME:
    case SM_CYFRAME: return kThickFrame;
    case SM_CXEDGE:
    case SM_CYEDGE: return 2;
    case SM_CXICON:
    case SM_CYICON:
    case SM_CXCURSOR:
    case SM_CYCURSOR: return 32;
    case SM_CXICONSPACING:
    case SM_CYICONSPACING: return 75;
    case SM_CXSMICON:
    case SM_CYSMICON: return 16;
    case SM_CYSMCAPTION: return 16;
    case SM_CYMENU: return kMenuBar;
    case SM_CXSIZE:
    case SM_CYSIZE: return 18;
    case SM_CXMIN: return 112;
    case SM_CYMIN: return 27;
    case SM_CXMINTRACK: return 112;
    case SM_CYMINTRACK: return 27;
    case SM_CXMAXIMIZED: return kScreenW + 2 * kThickFrame;
    case SM_CYMAXIMIZED: return kScreenH + 2 * kThickFrame;
    case SM_CXDOUBLECLK:
    case SM_CYDOUBLECLK: return 4;
    case SM_CXDRAG:
    case SM_CYDRAG: return 2;
    case SM_CXMENUCHECK:
    case SM_CYMENUCHECK: return 13;
    case SM_MOUSEPRESENT: return 1;
    case SM_CMOUSEBUTTONS: return 3;
    case SM_NETWORK: return 1;
    default: return 0;
  }
}

BOOL WINAPI AdjustWindowRectEx(LPRECT r, DWORD style, BOOL menu, DWORD ex) {
  if (!r) return FALSE;
  const Insets in = NonClient(style & ~static_cast<DWORD>(WS_VSCROLL | WS_HSCROLL), ex, menu != FALSE);
  r->left -= in.left;
  r->top -= in.top;
  r->right += in.right;
  r->bottom += in.bottom;
  return TRUE;
}

BOOL WINAPI AdjustWindowRect(LPRECT r, DWORD style, BOOL menu) { return AdjustWindowRectEx(r, style, menu, 0); }

BOOL WINAPI FlashWindow(HWND hwnd, BOOL invert) {
  if (!IsWindow(hwnd)) return FALSE;
  BOOL was;
  {
    std::lock_guard guard(StateLock());
    was = ActiveFrame() == hwnd;
    if (invert) ActiveFrame() = was ? nullptr : hwnd;
  }
  RedrawFrame(hwnd);
  if (StartedDriver() && invert) StartedDriver()->Flash(hwnd);
  return was;
}

}  // extern "C"
