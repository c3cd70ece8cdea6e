// Window scroll bars (WS_HSCROLL, WS_VSCROLL): range, page and position kept
// per window, drawn into the frame, hidden while their range is empty as on
// Windows, and the clicks on their arrows, track and thumb.
#include <algorithm>

#include "display_internal.h"

namespace qx::display {
namespace {

const char *const kUpGlyph[] = {"...#...", "..###..", ".#####.", "#######", nullptr};
const char *const kDownGlyph[] = {"#######", ".#####.", "..###..", "...#...", nullptr};
const char *const kLeftGlyph[] = {"...#", "..##", ".###", "####", ".###", "..##", "...#", nullptr};
const char *const kRightGlyph[] = {"#...", "##..", "###.", "####", "###.", "##..", "#...", nullptr};

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

}  // namespace

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

int ScrollCode(HWND hwnd, bool vertical, POINT screen, int &thumb_pos) {
  Geometry g;
  GetGeometry(hwnd, g);
  Bar b;
  {
    std::lock_guard guard(StateLock());
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

}  // namespace qx::display

using namespace qx::display;

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
      AdjustClientArea(*w);
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

extern "C" {

int WINAPI SetScrollPos(HWND hwnd, int which, int pos, BOOL redraw) {
  if (which == SB_CTL)
    return static_cast<int>(SendMessageA(hwnd, SBM_SETPOS, static_cast<WPARAM>(pos), redraw));  // a scroll bar control
  int old;
  {
    std::lock_guard guard(StateLock());
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
  std::lock_guard guard(StateLock());
  Bar *b = BarOf(hwnd, which);
  return b ? b->pos : 0;
}

BOOL WINAPI SetScrollRange(HWND hwnd, int which, int min, int max, BOOL redraw) {
  if (which == SB_CTL)
    return SendMessageA(hwnd, redraw ? SBM_SETRANGEREDRAW : SBM_SETRANGE, static_cast<WPARAM>(min), max), TRUE;
  Bar copy;
  {
    std::lock_guard guard(StateLock());
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
  std::lock_guard guard(StateLock());
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
    std::lock_guard guard(StateLock());
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
  std::lock_guard guard(StateLock());
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

}  // extern "C"
