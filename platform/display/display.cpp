// Windows on the display: the display hooks of the window manager, one pixel
// surface per top-level window, window DCs and painting (GetDC, BeginPaint,
// ScrollWindow), the frame and caption drawn in the NT 4 look, window scroll
// bars, the caret, system metrics, and the input path for keys and the mouse.
#include "display.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

#include "keyboard.h"
#include "qx/env.h"

namespace qx::display {

Driver *MakeSdlDriver();  // sdl_driver.cpp; null when SDL cannot start

namespace {

using gdi::Surface;

// ---- metrics of the NT 4 desktop ----

constexpr int kScreenW = 1024, kScreenH = 768;
constexpr int kCaption = 19;  // caption bar height with its bottom line
constexpr int kMenuBar = 19;
constexpr int kScrollSize = 16;
constexpr int kThickFrame = 4, kDlgFrame = 3, kBorder = 1, kClientEdge = 2;

struct Insets {
  int left = 0, top = 0, right = 0, bottom = 0;
  int caption_top = 0;
};

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

// ---- per-window display state ----

struct Bar {
  int min = 0, max = 100, page = 0, pos = 0;
  bool shown = true;
};

struct WinData {
  std::shared_ptr<Surface> surface;  // top-level windows only
  Bar bars[2];                       // SB_HORZ, SB_VERT
};

std::mutex g_lock;
std::map<HWND, WinData> g_data;
Driver *g_driver = nullptr;

WinData &Data(HWND hwnd) { return g_data[hwnd]; }

struct Geometry {
  HWND top = nullptr;
  DWORD style = 0, ex = 0;
  RECT rect{};         // window rectangle in screen coordinates
  RECT client{};       // client rectangle relative to the window
  POINT in_top{0, 0};  // the window's top-left corner inside the top-level surface
  bool visible = false;
  bool menu = false;
  std::string title;
  HWND parent = nullptr;
};

// Reads where a window is, relative to the screen and to its top-level window.
bool GetGeometry(HWND hwnd, Geometry &g) {
  std::lock_guard guard(WindowLock());
  auto w = FindLocalWindow(hwnd);
  if (!w) return false;
  g.style = w->style;
  g.ex = w->ex_style;
  g.client = w->client;
  g.menu = w->menu && !(w->style & WS_CHILD);
  g.title = w->title;
  g.parent = w->parent;
  g.visible = true;
  POINT in_top{0, 0}, screen{0, 0};
  std::shared_ptr<Window> cur = w;
  while (cur) {
    g.visible = g.visible && (cur->style & WS_VISIBLE);
    if (!cur->parent) {
      g.top = cur->hwnd;
      screen.x += cur->rect.left;
      screen.y += cur->rect.top;
      break;
    }
    in_top.x += cur->rect.left;
    in_top.y += cur->rect.top;
    screen.x += cur->rect.left;
    screen.y += cur->rect.top;
    auto parent = FindLocalWindow(cur->parent);
    if (!parent) return false;
    in_top.x += parent->client.left;
    in_top.y += parent->client.top;
    screen.x += parent->client.left;
    screen.y += parent->client.top;
    cur = parent;
  }
  g.in_top = in_top;
  g.rect =
      RECT{screen.x, screen.y, screen.x + (w->rect.right - w->rect.left), screen.y + (w->rect.bottom - w->rect.top)};
  return true;
}

std::shared_ptr<Surface> SurfaceOfTop(HWND top) {
  Geometry g;
  if (!GetGeometry(top, g)) return nullptr;
  std::lock_guard guard(g_lock);
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

void Present(HWND hwnd, const RECT *area = nullptr) {
  if (!g_driver) return;
  Geometry g;
  if (!GetGeometry(hwnd, g) || !g.top) return;
  auto s = SurfaceOfTop(g.top);
  if (!s) return;
  Geometry tg;
  GetGeometry(g.top, tg);
  if (!tg.visible) return;
  const RECT all{0, 0, s->width, s->height};
  g_driver->Present(g.top, *s, area ? gdi::RectIntersect(*area, all) : all);
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

// ---- drawing helpers ----

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
const char *const kUpGlyph[] = {"...#...", "..###..", ".#####.", "#######", nullptr};
const char *const kDownGlyph[] = {"#######", ".#####.", "..###..", "...#...", nullptr};
const char *const kLeftGlyph[] = {"...#", "..##", ".###", "####", ".###", "..##", "...#", nullptr};
const char *const kRightGlyph[] = {"#...", "##..", "###.", "####", "###.", "##..", "#...", nullptr};

void Button(Surface &s, RECT r, const char *const *glyph, int gw, int gh) {
  Fill(s, r, Sys(COLOR_BTNFACE));
  Edge(s, r, true);
  Glyph(s, r.left + (r.right - r.left - gw) / 2, r.top + (r.bottom - r.top - gh) / 2, glyph, Sys(COLOR_BTNTEXT));
}

struct BarGeometry {
  RECT whole{}, arrow1{}, arrow2{}, thumb{};
  int track_len = 0;
};

BarGeometry BarLayout(const RECT &r, bool vertical, const Bar &b) {
  BarGeometry g;
  g.whole = r;
  const int len = vertical ? r.bottom - r.top : r.right - r.left;
  const int arrow = std::min(kScrollSize, len / 2);
  if (vertical) {
    g.arrow1 = RECT{r.left, r.top, r.right, r.top + arrow};
    g.arrow2 = RECT{r.left, r.bottom - arrow, r.right, r.bottom};
  } else {
    g.arrow1 = RECT{r.left, r.top, r.left + arrow, r.bottom};
    g.arrow2 = RECT{r.right - arrow, r.top, r.right, r.bottom};
  }
  g.track_len = len - 2 * arrow;
  const int range = b.max - b.min + 1 - std::max(0, b.page - 1);
  if (range <= 1 || g.track_len < kScrollSize) return g;
  const int thumb = b.page > 0 ? std::max(8, g.track_len * b.page / (b.max - b.min + 1)) : kScrollSize;
  const int span = std::max(0, g.track_len - thumb);
  const int at = arrow + (range > 1 ? span * (b.pos - b.min) / std::max(1, range - 1) : 0);
  g.thumb = vertical ? RECT{r.left, r.top + at, r.right, r.top + at + thumb}
                     : RECT{r.left + at, r.top, r.left + at + thumb, r.bottom};
  return g;
}

void DrawBar(Surface &s, const RECT &r, bool vertical, const Bar &b) {
  // The track is the dithered pattern of the NT 4 scroll bar.
  for (LONG y = r.top; y < r.bottom; ++y)
    for (LONG x = r.left; x < r.right; ++x)
      if (s.Contains(static_cast<int>(x), static_cast<int>(y)))
        s.Put(static_cast<int>(x), static_cast<int>(y), ((x + y) & 1) ? Sys(COLOR_3DHIGHLIGHT) : Sys(COLOR_BTNFACE));
  const BarGeometry g = BarLayout(r, vertical, b);
  Button(s, g.arrow1, vertical ? kUpGlyph : kLeftGlyph, vertical ? 7 : 4, vertical ? 4 : 7);
  Button(s, g.arrow2, vertical ? kDownGlyph : kRightGlyph, vertical ? 7 : 4, vertical ? 4 : 7);
  if (!gdi::RectEmpty(g.thumb)) {
    Fill(s, g.thumb, Sys(COLOR_BTNFACE));
    Edge(s, g.thumb, true);
  }
}

HWND g_active_frame = nullptr;  // last window drawn with the active caption

void DrawCaptionText(Surface &s, const RECT &bar, const std::string &title, bool active) {
  // Text goes through a memory DC onto a copy of the bar, then back.
  const int w = bar.right - bar.left, h = bar.bottom - bar.top;
  if (w <= 0 || h <= 0) return;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bm = CreateBitmap(w, h, 1, 32, nullptr);
  HGDIOBJ old_bm = SelectObject(dc, bm);
  auto b = gdi::LookupObject<gdi::Bitmap>(bm, gdi::Type::Bitmap);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b->surface.Put(x, y, s.Get(bar.left + x, bar.top + y));
  HFONT font =
      CreateFontA(-11, 0, 0, 0, FW_BOLD, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, VARIABLE_PITCH | FF_SWISS, "MS Sans Serif");
  HGDIOBJ old_font = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, active ? GetSysColor(COLOR_CAPTIONTEXT) : GetSysColor(COLOR_INACTIVECAPTIONTEXT));
  RECT r{0, 0, w, h};
  DrawTextA(dc, title.c_str(), static_cast<int>(title.size()), &r,
            DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) s.Put(bar.left + x, bar.top + y, b->surface.Get(x, y));
  SelectObject(dc, old_font);
  DeleteObject(font);
  SelectObject(dc, old_bm);
  DeleteObject(bm);
  DeleteDC(dc);
}

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
      std::lock_guard guard(g_lock);
      active = g_active_frame == hwnd;
    }
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
    std::lock_guard guard(g_lock);
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

// ---- the caret ----

struct Caret {
  HWND hwnd = nullptr;
  int width = 0, height = 0;
  std::shared_ptr<Surface> shape;  // from a bitmap: XOR pattern; none: solid
  bool grey = false;
  POINT pos{0, 0};
  int hide = 1;        // shown when 0
  bool drawn = false;  // currently inverted on the surface
  bool blink_off = false;
  UINT blink_ms = 530;
};
Caret g_caret;

void ToggleCaretPixels() {
  if (!g_caret.hwnd) return;
  gdi::WindowTarget t = TargetFor(g_caret.hwnd, false);
  if (!t.surface) return;
  const RECT r{t.origin.x + g_caret.pos.x, t.origin.y + g_caret.pos.y, t.origin.x + g_caret.pos.x + g_caret.width,
               t.origin.y + g_caret.pos.y + g_caret.height};
  for (const RECT &c : gdi::IntersectRects(t.visible, r))
    for (LONG y = c.top; y < c.bottom; ++y)
      for (LONG x = c.left; x < c.right; ++x) {
        std::uint32_t mask = 0xFFFFFF;
        if (g_caret.shape) {
          const int sx = static_cast<int>(x - r.left), sy = static_cast<int>(y - r.top);
          mask = g_caret.shape->Contains(sx, sy) ? g_caret.shape->Get(sx, sy) : 0;
        } else if (g_caret.grey) {
          mask = ((x + y) & 1) ? 0xFFFFFF : 0;
        }
        t.surface->Put(static_cast<int>(x), static_cast<int>(y),
                       t.surface->Get(static_cast<int>(x), static_cast<int>(y)) ^ mask);
      }
  g_caret.drawn = !g_caret.drawn;
  Present(g_caret.hwnd, &r);
}

// Takes the caret off the surface while something draws under it.
void CaretOff(HWND hwnd) {
  if (g_caret.hwnd && (!hwnd || g_caret.hwnd == hwnd || IsChild(hwnd, g_caret.hwnd)) && g_caret.drawn)
    ToggleCaretPixels();
}
void CaretOn() {
  if (g_caret.hwnd && g_caret.hide == 0 && !g_caret.drawn && !g_caret.blink_off) ToggleCaretPixels();
}

// ---- input ----

int g_input_epoll = -1;
int g_inject_fd = -1;
std::mutex g_input_lock;
struct Injected {
  std::function<void()> work;
  bool input;  // a key or mouse event: waits until the queue has been read
};
std::deque<Injected> g_injected;
DWORD g_display_thread = 0;

struct ClickMemory {
  HWND hwnd = nullptr;
  int button = 0;
  DWORD time = 0;
  POINT at{0, 0};
};
ClickMemory g_last_click;
POINT g_cursor{0, 0};
int g_buttons = 0;  // MK_ bits of buttons held

WPARAM MouseKeys() {
  WPARAM k = static_cast<WPARAM>(g_buttons);
  if (GetKeyState(VK_SHIFT) < 0) k |= MK_SHIFT;
  if (GetKeyState(VK_CONTROL) < 0) k |= MK_CONTROL;
  return k;
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

// A click on a window scroll bar: the scroll code it sends.
int ScrollCode(HWND hwnd, bool vertical, POINT screen, int &thumb_pos) {
  Geometry g;
  GetGeometry(hwnd, g);
  Bar b;
  {
    std::lock_guard guard(g_lock);
    b = Data(hwnd).bars[vertical ? 1 : 0];
  }
  const RECT c{g.rect.left + g.client.left, g.rect.top + g.client.top, g.rect.left + g.client.right,
               g.rect.top + g.client.bottom};
  const RECT r = vertical ? RECT{c.right, c.top, c.right + kScrollSize, c.bottom}
                          : RECT{c.left, c.bottom, c.right, c.bottom + kScrollSize};
  const BarGeometry bg = BarLayout(r, vertical, b);
  auto in = [&](const RECT &q) {
    return screen.x >= q.left && screen.x < q.right && screen.y >= q.top && screen.y < q.bottom;
  };
  if (in(bg.arrow1)) return SB_LINEUP;
  if (in(bg.arrow2)) return SB_LINEDOWN;
  if (gdi::RectEmpty(bg.thumb)) return -1;
  const int at = vertical ? screen.y : screen.x;
  const int t1 = vertical ? bg.thumb.top : bg.thumb.left, t2 = vertical ? bg.thumb.bottom : bg.thumb.right;
  if (at < t1) return SB_PAGEUP;
  if (at >= t2) return SB_PAGEDOWN;
  thumb_pos = b.pos;
  return SB_THUMBPOSITION;
}

void Post(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) { PostMessageA(hwnd, msg, wp, lp); }

bool OnWindowThread(HWND hwnd) { return GetWindowThreadProcessId(hwnd, nullptr) == GetCurrentThreadId(); }

void MouseEvent(POINT screen, int button, bool down, bool move_only) {
  g_cursor = screen;
  HWND target = GetCapture();
  int hit = HTCLIENT;
  if (!target) {
    target = WindowAt(screen);
    if (!target) return;
    hit = HitTest(target, screen);
  }
  if (!IsWindowEnabled(target)) {
    if (down && !move_only) MessageBeep(0);
    return;
  }
  const int bit = button == 1 ? MK_LBUTTON : button == 2 ? MK_RBUTTON : button == 3 ? MK_MBUTTON : 0;
  if (!move_only) g_buttons = down ? (g_buttons | bit) : (g_buttons & ~bit);
  if (OnWindowThread(target)) {
    const UINT which = move_only     ? WM_MOUSEMOVE
                       : button == 1 ? (down ? WM_LBUTTONDOWN : WM_LBUTTONUP)
                       : button == 2 ? (down ? WM_RBUTTONDOWN : WM_RBUTTONUP)
                                     : (down ? WM_MBUTTONDOWN : WM_MBUTTONUP);
    SendMessageA(target, WM_SETCURSOR, reinterpret_cast<WPARAM>(target), MAKELPARAM(hit, which));
  }
  if (hit != HTCLIENT) {
    if (!down || move_only || button != 1) return;
    HWND top = target;
    while (GetParent(top) && (GetWindowLongA(top, GWL_STYLE) & WS_CHILD)) top = GetParent(top);
    switch (hit) {
      case HTCLOSE: Post(top, WM_SYSCOMMAND, SC_CLOSE, MAKELPARAM(screen.x, screen.y)); break;
      case HTMINBUTTON: Post(top, WM_SYSCOMMAND, SC_MINIMIZE, MAKELPARAM(screen.x, screen.y)); break;
      case HTMAXBUTTON:
        Post(top, WM_SYSCOMMAND, IsZoomed(top) ? SC_RESTORE : SC_MAXIMIZE, MAKELPARAM(screen.x, screen.y));
        break;
      case HTMENU:
        Post(top, WM_NCLBUTTONDOWN, HTMENU, MAKELPARAM(screen.x, screen.y));
        break;  // the menu loop takes it
      case HTVSCROLL:
      case HTHSCROLL: {
        int pos = 0;
        const int code = ScrollCode(target, hit == HTVSCROLL, screen, pos);
        if (code < 0) break;
        const UINT msg = hit == HTVSCROLL ? WM_VSCROLL : WM_HSCROLL;
        Post(target, msg, MAKEWPARAM(code, pos), 0);
        Post(target, msg, SB_ENDSCROLL, 0);
        break;
      }
      default:
        if (OnWindowThread(top)) SetActiveWindow(top);
        break;
    }
    return;
  }
  Geometry g;
  GetGeometry(target, g);
  const POINT c{screen.x - g.rect.left - g.client.left, screen.y - g.rect.top - g.client.top};
  const LPARAM lp = MAKELPARAM(c.x, c.y);
  if (move_only) {
    Post(target, WM_MOUSEMOVE, MouseKeys(), lp);
    return;
  }
  if (down) {
    HWND top = target;
    while (GetParent(top) && (GetWindowLongA(top, GWL_STYLE) & WS_CHILD)) top = GetParent(top);
    if (GetActiveWindow() != top && OnWindowThread(top)) SetActiveWindow(top);
  }
  UINT msg;
  const DWORD now = GetTickCount();
  if (down) {
    const bool dbl_class = GetClassLongA(target, GCL_STYLE) & CS_DBLCLKS;
    const bool again = g_last_click.hwnd == target && g_last_click.button == button &&
                       now - g_last_click.time <= GetDoubleClickTime() && std::abs(g_last_click.at.x - screen.x) <= 2 &&
                       std::abs(g_last_click.at.y - screen.y) <= 2;
    if (again && dbl_class) {
      msg = button == 1 ? WM_LBUTTONDBLCLK : button == 2 ? WM_RBUTTONDBLCLK : WM_MBUTTONDBLCLK;
      g_last_click = ClickMemory{};
    } else {
      msg = button == 1 ? WM_LBUTTONDOWN : button == 2 ? WM_RBUTTONDOWN : WM_MBUTTONDOWN;
      g_last_click = ClickMemory{target, button, now, screen};
    }
  } else {
    msg = button == 1 ? WM_LBUTTONUP : button == 2 ? WM_RBUTTONUP : WM_MBUTTONUP;
  }
  Post(target, msg, MouseKeys(), lp);
}

void KeyEvent(BYTE scan, bool extended, bool down) {
  const input::KeyMessage m = input::PhysicalKey(scan, extended, down);
  if (!m.message) return;
  HWND target = GetFocus();
  if (!target) target = GetActiveWindow();
  if (!target) {
    // No focus in this process yet: the visible top-level window made last.
    for (auto &w : LocalWindows())
      if (!w->parent && (w->style & WS_VISIBLE) && !w->message_only) target = w->hwnd;
  }
  if (target) Post(target, m.message, m.wparam, m.lparam);
}

// One input event per call: a key message must be taken from the queue (and
// translated with the key state of its moment) before the next key changes
// that state, as Windows keeps key state in step with message retrieval.
void RunInjected() {
  std::function<void()> one;
  bool more;
  {
    std::lock_guard guard(g_input_lock);
    if (g_injected.empty()) return;
    // The next event waits while messages of earlier ones are still queued.
    if (g_injected.front().input &&
        (GetQueueStatus(QS_POSTMESSAGE | QS_KEY | QS_MOUSEMOVE | QS_MOUSEBUTTON) & 0xFFFF)) {
      more = true;
    } else {
      one = std::move(g_injected.front().work);
      g_injected.pop_front();
      more = !g_injected.empty();
    }
  }
  if (more && g_inject_fd >= 0) {
    const uint64_t n = 1;
    (void)!write(g_inject_fd, &n, sizeof n);
  }
  if (one) one();
}

void Inject(std::function<void()> f, bool input = true) {
  {
    std::lock_guard guard(g_input_lock);
    g_injected.push_back(Injected{std::move(f), input});
  }
  if (g_inject_fd >= 0) {
    const uint64_t one = 1;
    (void)!write(g_inject_fd, &one, sizeof one);
  }
}

bool EnsureInputFds() {
  std::lock_guard guard(g_input_lock);
  if (g_input_epoll >= 0) return true;
  g_inject_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  g_input_epoll = epoll_create1(EPOLL_CLOEXEC);
  if (g_inject_fd < 0 || g_input_epoll < 0) return false;
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.fd = g_inject_fd;
  epoll_ctl(g_input_epoll, EPOLL_CTL_ADD, g_inject_fd, &ev);
  return true;
}

// ---- the hooks ----

class Hooks : public DisplayHooks {
 public:
  void AdjustClient(Window &w) override {
    const Insets in = NonClient(w.style, w.ex_style, w.menu != nullptr);
    const int ww = w.rect.right - w.rect.left, wh = w.rect.bottom - w.rect.top;
    w.client = RECT{std::min(in.left, ww), std::min(in.top, wh), std::max(in.left, ww - in.right),
                    std::max(in.top, wh - in.bottom)};
    w.client.right = std::max(w.client.left, w.client.right);
    w.client.bottom = std::max(w.client.top, w.client.bottom);
  }

  void Created(HWND) override {}

  void Destroyed(HWND hwnd) override {
    if (g_caret.hwnd == hwnd) g_caret = Caret{};
    bool top;
    {
      std::lock_guard guard(g_lock);
      auto it = g_data.find(hwnd);
      top = it != g_data.end() && it->second.surface;
      if (it != g_data.end()) g_data.erase(it);
      if (g_active_frame == hwnd) g_active_frame = nullptr;
    }
    if (top && g_driver) g_driver->Destroyed(hwnd);
  }

  void Shown(HWND hwnd, int state) override {
    Geometry g;
    if (!GetGeometry(hwnd, g)) return;
    if (!g.parent && (g.style & WS_MAXIMIZE) && !maximizing_) {
      Maximize(hwnd, g);
      if (!GetGeometry(hwnd, g)) return;
    }
    if (!g.parent) {
      const bool visible = (g.style & WS_VISIBLE) && !(g.style & WS_MINIMIZE);
      if (visible) TheDriver();  // a visible window is the first need of a display
      SurfaceOfTop(hwnd);
      if (visible) {
        RedrawAll(hwnd);
      }
      if (g_driver) {
        g_driver->Shown(hwnd, (g.style & WS_VISIBLE) != 0, state, g.rect, g.title);
        HICON icon = reinterpret_cast<HICON>(GetClassLongPtrA(hwnd, GCLP_HICON));
        std::vector<std::uint32_t> argb;
        int size = 0;
        if (IconPixels(icon ? icon : LoadIconA(nullptr, IDI_APPLICATION), argb, size))
          g_driver->Iconified(hwnd, argb, size);
      }
      if (visible) Present(hwnd);
    } else if (g.parent) {
      InvalidateRect(g.parent, nullptr, TRUE);
      if (g.style & WS_VISIBLE) RedrawAll(hwnd);
    }
  }

  void Moved(HWND hwnd) override {
    Geometry g;
    if (!GetGeometry(hwnd, g)) return;
    if (!g.parent) {
      SurfaceOfTop(hwnd);
      RedrawAll(hwnd);
      if (g_driver) g_driver->Moved(hwnd, g.rect);
      Present(hwnd);
    } else {
      InvalidateRect(g.parent, nullptr, TRUE);
      RedrawAll(hwnd);
    }
  }

  void TextChanged(HWND hwnd) override {
    Geometry g;
    if (!GetGeometry(hwnd, g)) return;
    PaintFrame(hwnd);
    if (!g.parent && g_driver) g_driver->Titled(hwnd, g.title);
    Present(hwnd);
  }

  bool TranslateKey(const MSG &msg) override {
    const auto chars = input::CharsFor(msg);
    for (const auto &c : chars) PostMessageA(msg.hwnd, c.message, c.wparam, c.lparam);
    return !chars.empty();
  }

  bool DefWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, LRESULT &result) override {
    switch (msg) {
      case WM_ERASEBKGND: {
        HBRUSH brush = reinterpret_cast<HBRUSH>(GetClassLongPtrA(hwnd, GCLP_HBRBACKGROUND));
        if (!brush) return (result = 0), true;
        RECT r;
        GetClientRect(hwnd, &r);
        FillRect(reinterpret_cast<HDC>(wp), &r, brush);
        return (result = 1), true;
      }
      case WM_NCPAINT:
        PaintFrame(hwnd);
        Present(hwnd);
        return (result = 0), true;
      case WM_NCACTIVATE: {
        std::lock_guard guard(g_lock);
        if (wp)
          g_active_frame = hwnd;
        else if (g_active_frame == hwnd)
          g_active_frame = nullptr;
      }
        PaintFrame(hwnd);
        Present(hwnd);
        return (result = TRUE), true;
      case WM_ACTIVATE:
        // An activated window without a focused child takes the focus itself.
        {
          std::lock_guard guard(g_lock);
          if (LOWORD(wp) != WA_INACTIVE)
            g_active_frame = hwnd;
          else if (g_active_frame == hwnd)
            g_active_frame = nullptr;
        }
        RedrawFrame(hwnd);
        if (LOWORD(wp) != WA_INACTIVE && !IsIconic(hwnd)) {
          HWND f = GetFocus();
          if (!f || (f != hwnd && !IsChild(hwnd, f))) SetFocus(hwnd);
        }
        return (result = 0), true;
      case WM_SETCURSOR:
        if (LOWORD(lp) == HTCLIENT && reinterpret_cast<HWND>(wp) == hwnd) {
          HCURSOR c = reinterpret_cast<HCURSOR>(GetClassLongPtrA(hwnd, GCLP_HCURSOR));
          SetCursor(c ? c : LoadCursorA(nullptr, IDC_ARROW));
          return (result = TRUE), true;
        }
        if (LOWORD(lp) != HTCLIENT) SetCursor(LoadCursorA(nullptr, IDC_ARROW));
        return (result = FALSE), true;
      case WM_NCHITTEST: {
        result = HitTest(hwnd, POINT{static_cast<SHORT>(LOWORD(lp)), static_cast<SHORT>(HIWORD(lp))});
        return true;
      }
      case WM_SYSKEYDOWN:
        if (wp == VK_F4 && (lp & (1L << 29))) {  // Alt+F4 closes the top-level window
          HWND top = hwnd;
          while (GetParent(top) && (GetWindowLongA(top, GWL_STYLE) & WS_CHILD)) top = GetParent(top);
          PostMessageA(top, WM_SYSCOMMAND, SC_CLOSE, 0);
          return (result = 0), true;
        }
        return false;
      case WM_CTLCOLORMSGBOX:
      case WM_CTLCOLOREDIT:
      case WM_CTLCOLORLISTBOX:
      case WM_CTLCOLORBTN:
      case WM_CTLCOLORDLG:
      case WM_CTLCOLORSCROLLBAR:
      case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wp);
        const bool window_colours = msg == WM_CTLCOLOREDIT || msg == WM_CTLCOLORLISTBOX;
        SetTextColor(dc, GetSysColor(window_colours ? COLOR_WINDOWTEXT : COLOR_BTNTEXT));
        SetBkColor(dc, GetSysColor(window_colours ? COLOR_WINDOW : COLOR_BTNFACE));
        result = reinterpret_cast<LRESULT>(GetSysColorBrush(window_colours ? COLOR_WINDOW : COLOR_BTNFACE));
        return true;
      }
      default: return false;
    }
  }

  int MessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) override {
    const char *mode = std::getenv("QX_MSGBOX");
    const bool on_display = (mode && std::strcmp(mode, "display") == 0) ||
                            (DriverStarted() && std::strcmp(TheDriver().Name(), "headless") != 0);
    if (!on_display) return 0;
    return DisplayMessageBox(owner, text, caption, type);
  }

  int InputFd() override {
    if (!DriverStarted() && g_input_epoll < 0) return -1;
    // Only the thread that runs the display reads its events.
    if (g_display_thread && g_display_thread != GetCurrentThreadId()) return -1;
    return g_input_epoll;
  }

  void PumpInput() override {
    if (g_inject_fd >= 0) {
      uint64_t n;
      (void)!read(g_inject_fd, &n, sizeof n);
    }
    RunInjected();
    if (g_driver) g_driver->PumpInput();
  }

 private:
  // A maximised top-level window fills the screen with its frame outside it,
  // within the limits its procedure gives in WM_GETMINMAXINFO.
  void Maximize(HWND hwnd, const Geometry &g) {
    const int frame = FrameWidth(g.style, g.ex);
    MINMAXINFO mmi{};
    mmi.ptMaxSize = POINT{kScreenW + 2 * frame, kScreenH + 2 * frame};
    mmi.ptMaxPosition = POINT{-frame, -frame};
    mmi.ptMinTrackSize = POINT{GetSystemMetrics(SM_CXMINTRACK), GetSystemMetrics(SM_CYMINTRACK)};
    mmi.ptMaxTrackSize = mmi.ptMaxSize;
    SendMessageA(hwnd, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&mmi));
    const LONG w = std::min(mmi.ptMaxSize.x, mmi.ptMaxTrackSize.x), h = std::min(mmi.ptMaxSize.y, mmi.ptMaxTrackSize.y);
    maximizing_ = true;
    SetWindowPos(hwnd, nullptr, mmi.ptMaxPosition.x, mmi.ptMaxPosition.y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
    maximizing_ = false;
  }
  bool maximizing_ = false;

  // After a move or show: frame, and the whole client area of the window and its children.
  void RedrawAll(HWND hwnd) {
    PaintFrame(hwnd);
    InvalidateRect(hwnd, nullptr, TRUE);
    std::vector<HWND> kids;
    {
      std::lock_guard guard(WindowLock());
      if (auto w = FindLocalWindow(hwnd)) kids = w->children;
    }
    for (HWND k : kids)
      if (IsWindowVisible(k)) RedrawAll(k);
  }
};

Hooks g_hooks;

// Installs the hooks when the library loads; nothing of the display starts here.
struct Installer {
  Installer() { SetDisplayHooks(&g_hooks); }
} g_installer;

class HeadlessDriver : public Driver {
 public:
  const char *Name() const override { return "headless"; }
};

}  // namespace

Driver &TheDriver() {
  static std::once_flag once;
  std::call_once(once, [] {
    EnsureInputFds();
    const char *want = std::getenv("QX_DISPLAY");
    const bool sdl = want ? std::strcmp(want, "sdl") == 0 : (std::getenv("DISPLAY") != nullptr);
    Driver *d = sdl ? MakeSdlDriver() : nullptr;
    if (!d) d = new HeadlessDriver;
    if (int fd = d->InputFd(); fd >= 0) {
      epoll_event ev{};
      ev.events = EPOLLIN;
      ev.data.fd = fd;
      epoll_ctl(g_input_epoll, EPOLL_CTL_ADD, fd, &ev);
    }
    g_display_thread = GetCurrentThreadId();
    qx::Trace("display: %s driver", d->Name());
    g_driver = d;
    StartAutomation();
  });
  return *g_driver;
}

bool DriverStarted() { return g_driver != nullptr; }

bool InputPending() {
  std::lock_guard guard(g_input_lock);
  return !g_injected.empty();
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

void InjectKey(BYTE scan, bool extended, bool down) {
  EnsureInputFds();
  Inject([=] { KeyEvent(scan, extended, down); });
}

void TypeText(const std::string &text) {
  for (unsigned char c : text) {
    if (c == '\n') c = '\r';
    BYTE scan;
    bool ext;
    int shift;
    if (!input::KeyForChar(c, scan, ext, shift)) continue;
    if (shift & 2) InjectKey(0x1D, false, true);
    if (shift & 1) InjectKey(0x2A, false, true);
    InjectKey(scan, ext, true);
    InjectKey(scan, ext, false);
    if (shift & 1) InjectKey(0x2A, false, false);
    if (shift & 2) InjectKey(0x1D, false, false);
  }
}

void RunOnDisplayThread(std::function<void()> work) {
  EnsureInputFds();
  Inject(std::move(work), false);
}

void InjectMouseMove(POINT screen) {
  EnsureInputFds();
  Inject([=] { MouseEvent(screen, 0, false, true); });
}

void InjectMouseButton(POINT screen, int button, bool down) {
  EnsureInputFds();
  Inject([=] { MouseEvent(screen, button, down, false); });
}

POINT ClientToScreenPoint(HWND hwnd, POINT client) {
  Geometry g;
  if (!GetGeometry(hwnd, g)) return client;
  return POINT{g.rect.left + g.client.left + client.x, g.rect.top + g.client.top + client.y};
}

HWND WindowAt(POINT screen) {
  std::vector<HWND> tops;
  for (auto &w : LocalWindows())
    if (!w->parent && !w->message_only) tops.push_back(w->hwnd);
  // Front-most first: GetTopWindow/GW_HWNDNEXT give the z-order of top-level windows.
  HWND found = nullptr;
  for (HWND h = GetTopWindow(nullptr); h && !found; h = GetWindow(h, GW_HWNDNEXT)) {
    if (std::find(tops.begin(), tops.end(), h) == tops.end()) continue;
    Geometry g;
    if (!GetGeometry(h, g) || !g.visible || (g.style & WS_MINIMIZE)) continue;
    if (screen.x >= g.rect.left && screen.x < g.rect.right && screen.y >= g.rect.top && screen.y < g.rect.bottom)
      found = h;
  }
  if (!found) return nullptr;
  // Then down through the children that contain the point.
  for (bool deeper = true; deeper;) {
    deeper = false;
    std::vector<HWND> kids;
    {
      std::lock_guard guard(WindowLock());
      if (auto w = FindLocalWindow(found)) kids = w->children;
    }
    for (HWND k : kids) {
      Geometry g;
      if (!GetGeometry(k, g) || !g.visible) continue;
      if (screen.x >= g.rect.left && screen.x < g.rect.right && screen.y >= g.rect.top && screen.y < g.rect.bottom) {
        found = k;
        deeper = true;
        break;
      }
    }
  }
  return found;
}

void RedrawFrame(HWND hwnd) {
  PaintFrame(hwnd);
  Present(hwnd);
}

void PresentWindow(HWND hwnd) { Present(hwnd); }

void BlinkCaret() {
  if (!g_caret.hwnd || g_caret.hide != 0) return;
  g_caret.blink_off = !g_caret.blink_off;
  if (g_caret.blink_off == g_caret.drawn) ToggleCaretPixels();
}

UINT CaretBlinkTime() { return g_caret.blink_ms; }

}  // namespace qx::display

using namespace qx::display;
using qx::gdi::Surface;

namespace {

template <class T>
T Fail(DWORD err, T v) {
  SetLastError(err);
  return v;
}

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

HWND WINAPI WindowFromPoint(POINT p) { return WindowAt(p); }

HWND WINAPI ChildWindowFromPoint(HWND parent, POINT p) {
  POINT s = p;
  ClientToScreen(parent, &s);
  std::vector<HWND> kids;
  {
    std::lock_guard guard(qx::WindowLock());
    if (auto w = qx::FindLocalWindow(parent)) kids = w->children;
  }
  for (HWND k : kids) {
    RECT r;
    GetWindowRect(k, &r);
    if (s.x >= r.left && s.x < r.right && s.y >= r.top && s.y < r.bottom) return k;
  }
  RECT c;
  GetClientRect(parent, &c);
  return (p.x >= c.left && p.x < c.right && p.y >= c.top && p.y < c.bottom) ? parent : nullptr;
}

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
    std::lock_guard guard(g_lock);
    was = g_active_frame == hwnd;
    if (invert) g_active_frame = was ? nullptr : hwnd;
  }
  RedrawFrame(hwnd);
  if (g_driver && invert) g_driver->Flash(hwnd);
  return was;
}

UINT WINAPI GetDoubleClickTime(void) { return 500; }

BOOL WINAPI GetCursorPos(LPPOINT p) {
  if (!p) return FALSE;
  *p = g_cursor;
  return TRUE;
}

BOOL WINAPI SetCursorPos(int x, int y) {
  InjectMouseMove(POINT{x, y});
  return TRUE;
}

int WINAPI ShowCursor(BOOL show) {
  static int count = 0;
  return show ? ++count : --count;
}

void WINAPI keybd_event(BYTE vk, BYTE scan, DWORD flags, ULONG_PTR) {
  if (!scan) scan = static_cast<BYTE>(MapVirtualKeyA(vk, MAPVK_VK_TO_VSC));
  InjectKey(scan, (flags & KEYEVENTF_EXTENDEDKEY) != 0, !(flags & KEYEVENTF_KEYUP));
}

void WINAPI mouse_event(DWORD flags, DWORD dx, DWORD dy, DWORD, ULONG_PTR) {
  POINT p = g_cursor;
  if (flags & 0x8000)
    p = POINT{static_cast<LONG>(dx * kScreenW / 65536), static_cast<LONG>(dy * kScreenH / 65536)};
  else if (flags & 0x0001)
    p = POINT{p.x + static_cast<LONG>(dx), p.y + static_cast<LONG>(dy)};
  if (flags & 0x0001) InjectMouseMove(p);
  if (flags & 0x0002) InjectMouseButton(p, 1, true);
  if (flags & 0x0004) InjectMouseButton(p, 1, false);
  if (flags & 0x0008) InjectMouseButton(p, 2, true);
  if (flags & 0x0010) InjectMouseButton(p, 2, false);
  if (flags & 0x0020) InjectMouseButton(p, 3, true);
  if (flags & 0x0040) InjectMouseButton(p, 3, false);
}

// ---- the caret ----

BOOL WINAPI CreateCaret(HWND hwnd, HBITMAP bm, int w, int h) {
  if (!IsWindow(hwnd)) return FALSE;
  DestroyCaret();
  g_caret = Caret{};
  g_caret.hwnd = hwnd;
  if (bm == reinterpret_cast<HBITMAP>(1)) {
    g_caret.grey = true;
  } else if (bm) {
    auto b = qx::gdi::LookupObject<qx::gdi::Bitmap>(bm, qx::gdi::Type::Bitmap);
    if (!b) return FALSE;
    g_caret.shape = std::make_shared<Surface>(b->surface);
    w = b->surface.width;
    h = b->surface.height;
  }
  g_caret.width = w > 0 ? w : GetSystemMetrics(SM_CXBORDER);
  g_caret.height = h > 0 ? h : GetSystemMetrics(SM_CYBORDER);
  return TRUE;
}

BOOL WINAPI DestroyCaret(void) {
  if (!g_caret.hwnd) return FALSE;
  CaretOff(nullptr);
  g_caret = Caret{};
  return TRUE;
}

BOOL WINAPI ShowCaret(HWND hwnd) {
  if (!g_caret.hwnd || (hwnd && hwnd != g_caret.hwnd)) return FALSE;
  if (g_caret.hide > 0) --g_caret.hide;
  CaretOn();
  return TRUE;
}

BOOL WINAPI HideCaret(HWND hwnd) {
  if (!g_caret.hwnd || (hwnd && hwnd != g_caret.hwnd)) return FALSE;
  ++g_caret.hide;
  CaretOff(nullptr);
  return TRUE;
}

BOOL WINAPI SetCaretPos(int x, int y) {
  if (!g_caret.hwnd) return FALSE;
  const bool was = g_caret.drawn;
  if (was) ToggleCaretPixels();
  g_caret.pos = POINT{x, y};
  g_caret.blink_off = false;
  CaretOn();
  return TRUE;
}

BOOL WINAPI GetCaretPos(LPPOINT p) {
  if (!p || !g_caret.hwnd) return FALSE;
  *p = g_caret.pos;
  return TRUE;
}

UINT WINAPI GetCaretBlinkTime(void) { return g_caret.blink_ms; }

BOOL WINAPI SetCaretBlinkTime(UINT ms) {
  g_caret.blink_ms = ms;
  return TRUE;
}

// ---- window scroll bars ----

namespace {
Bar *BarOf(HWND hwnd, int which) {
  if (which != SB_HORZ && which != SB_VERT) return nullptr;
  if (!IsWindow(hwnd)) return nullptr;
  return &Data(hwnd).bars[which];
}

void BarChanged(HWND hwnd, BOOL redraw) {
  if (redraw) RedrawFrame(hwnd);
}

void ShowBarStyle(HWND hwnd, int which, bool show) {
  const DWORD bit = which == SB_VERT ? WS_VSCROLL : WS_HSCROLL;
  const DWORD style = static_cast<DWORD>(GetWindowLongA(hwnd, GWL_STYLE));
  if (((style & bit) != 0) == show) return;
  SetWindowLongA(hwnd, GWL_STYLE, static_cast<LONG>(show ? (style | bit) : (style & ~bit)));
  RECT r;
  GetWindowRect(hwnd, &r);
  // The client area changes size: resize in place to recompute it.
  SetWindowPos(hwnd, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  // SetWindowPos sends nothing when the size is unchanged, so recompute the client area here.
  if (auto w = qx::FindLocalWindow(hwnd)) {
    RECT c;
    {
      std::lock_guard guard(qx::WindowLock());
      g_hooks.AdjustClient(*w);
      c = w->client;
    }
    SendMessageA(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(c.right - c.left, c.bottom - c.top));
    InvalidateRect(hwnd, nullptr, TRUE);
  }
  RedrawFrame(hwnd);
}

// A range of zero hides a window scroll bar, as on Windows.
void AutoShow(HWND hwnd, int which, const Bar &b) {
  const bool needed = b.max > b.min && (b.page == 0 || b.max - b.min + 1 > b.page);
  ShowBarStyle(hwnd, which, needed);
}
}  // namespace

int WINAPI SetScrollPos(HWND hwnd, int which, int pos, BOOL redraw) {
  if (which == SB_CTL)
    return static_cast<int>(SendMessageA(hwnd, SBM_SETPOS, static_cast<WPARAM>(pos), redraw));  // a scroll bar control
  int old;
  {
    std::lock_guard guard(g_lock);
    Bar *b = BarOf(hwnd, which);
    if (!b) return 0;
    old = b->pos;
    const int top = b->page > 0 ? b->max - b->page + 1 : b->max;
    b->pos = std::clamp(pos, b->min, std::max(b->min, top));
  }
  BarChanged(hwnd, redraw);
  return old;
}

int WINAPI GetScrollPos(HWND hwnd, int which) {
  if (which == SB_CTL) return static_cast<int>(SendMessageA(hwnd, SBM_GETPOS, 0, 0));
  std::lock_guard guard(g_lock);
  Bar *b = BarOf(hwnd, which);
  return b ? b->pos : 0;
}

BOOL WINAPI SetScrollRange(HWND hwnd, int which, int min, int max, BOOL redraw) {
  if (which == SB_CTL)
    return SendMessageA(hwnd, redraw ? SBM_SETRANGEREDRAW : SBM_SETRANGE, static_cast<WPARAM>(min), max), TRUE;
  Bar copy;
  {
    std::lock_guard guard(g_lock);
    Bar *b = BarOf(hwnd, which);
    if (!b || max - min > 0x7FFF) return FALSE;
    b->min = min;
    b->max = max;
    b->pos = std::clamp(b->pos, min, std::max(min, max));
    copy = *b;
  }
  AutoShow(hwnd, which, copy);
  BarChanged(hwnd, redraw);
  return TRUE;
}

BOOL WINAPI GetScrollRange(HWND hwnd, int which, LPINT min, LPINT max) {
  if (which == SB_CTL)
    return min && max
               ? (SendMessageA(hwnd, SBM_GETRANGE, reinterpret_cast<WPARAM>(min), reinterpret_cast<LPARAM>(max)), TRUE)
               : FALSE;
  std::lock_guard guard(g_lock);
  Bar *b = BarOf(hwnd, which);
  if (!b || !min || !max) return FALSE;
  *min = b->min;
  *max = b->max;
  return TRUE;
}

int WINAPI SetScrollInfo(HWND hwnd, int which, LPCSCROLLINFO si, BOOL redraw) {
  if (which == SB_CTL)
    return static_cast<int>(SendMessageA(hwnd, SBM_SETSCROLLINFO, redraw, reinterpret_cast<LPARAM>(si)));
  if (!si) return 0;
  Bar copy;
  {
    std::lock_guard guard(g_lock);
    Bar *b = BarOf(hwnd, which);
    if (!b) return 0;
    if (si->fMask & SIF_RANGE) {
      b->min = si->nMin;
      b->max = si->nMax;
    }
    if (si->fMask & SIF_PAGE)
      b->page = static_cast<int>(std::min<UINT>(si->nPage, static_cast<UINT>(b->max - b->min + 1)));
    if (si->fMask & SIF_POS) b->pos = si->nPos;
    const int top = b->page > 0 ? b->max - b->page + 1 : b->max;
    b->pos = std::clamp(b->pos, b->min, std::max(b->min, top));
    copy = *b;
  }
  if (si->fMask & (SIF_RANGE | SIF_PAGE)) AutoShow(hwnd, which, copy);
  BarChanged(hwnd, redraw);
  return copy.pos;
}

BOOL WINAPI GetScrollInfo(HWND hwnd, int which, LPSCROLLINFO si) {
  if (which == SB_CTL) return static_cast<BOOL>(SendMessageA(hwnd, SBM_GETSCROLLINFO, 0, reinterpret_cast<LPARAM>(si)));
  std::lock_guard guard(g_lock);
  Bar *b = BarOf(hwnd, which);
  if (!b || !si) return FALSE;
  if (si->fMask & SIF_RANGE) {
    si->nMin = b->min;
    si->nMax = b->max;
  }
  if (si->fMask & SIF_PAGE) si->nPage = static_cast<UINT>(b->page);
  if (si->fMask & SIF_POS) si->nPos = b->pos;
  if (si->fMask & SIF_TRACKPOS) si->nTrackPos = b->pos;
  return TRUE;
}

BOOL WINAPI ShowScrollBar(HWND hwnd, int which, BOOL show) {
  if (!IsWindow(hwnd)) return FALSE;
  if (which == SB_BOTH || which == SB_HORZ) ShowBarStyle(hwnd, SB_HORZ, show != FALSE);
  if (which == SB_BOTH || which == SB_VERT) ShowBarStyle(hwnd, SB_VERT, show != FALSE);
  return TRUE;
}

BOOL WINAPI EnableScrollBar(HWND hwnd, UINT, UINT) { return IsWindow(hwnd); }

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
