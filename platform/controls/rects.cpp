// Rectangle arithmetic of USER32, used by programs and by the controls.
#include <windows.h>

#include <algorithm>

BOOL WINAPI SetRect(LPRECT r, int l, int t, int rt, int b) {
  if (!r) return FALSE;
  *r = RECT{l, t, rt, b};
  return TRUE;
}
BOOL WINAPI SetRectEmpty(LPRECT r) { return SetRect(r, 0, 0, 0, 0); }
BOOL WINAPI CopyRect(LPRECT d, const RECT *s) {
  if (!d || !s) return FALSE;
  *d = *s;
  return TRUE;
}
BOOL WINAPI InflateRect(LPRECT r, int dx, int dy) {
  if (!r) return FALSE;
  r->left -= dx;
  r->right += dx;
  r->top -= dy;
  r->bottom += dy;
  return TRUE;
}
BOOL WINAPI OffsetRect(LPRECT r, int dx, int dy) {
  if (!r) return FALSE;
  r->left += dx;
  r->right += dx;
  r->top += dy;
  r->bottom += dy;
  return TRUE;
}
BOOL WINAPI IsRectEmpty(const RECT *r) { return !r || r->right <= r->left || r->bottom <= r->top; }
BOOL WINAPI IntersectRect(LPRECT d, const RECT *a, const RECT *b) {
  if (!d || !a || !b) return FALSE;
  RECT out{std::max(a->left, b->left), std::max(a->top, b->top), std::min(a->right, b->right),
           std::min(a->bottom, b->bottom)};
  if (IsRectEmpty(&out)) {
    *d = RECT{0, 0, 0, 0};
    return FALSE;
  }
  *d = out;
  return TRUE;
}
BOOL WINAPI UnionRect(LPRECT d, const RECT *a, const RECT *b) {
  if (!d || !a || !b) return FALSE;
  if (IsRectEmpty(a))
    *d = *b;
  else if (IsRectEmpty(b))
    *d = *a;
  else
    *d = RECT{std::min(a->left, b->left), std::min(a->top, b->top), std::max(a->right, b->right),
              std::max(a->bottom, b->bottom)};
  return !IsRectEmpty(d);
}
BOOL WINAPI PtInRect(const RECT *r, POINT p) {
  return r && p.x >= r->left && p.x < r->right && p.y >= r->top && p.y < r->bottom;
}
BOOL WINAPI EqualRect(const RECT *a, const RECT *b) {
  return a && b && a->left == b->left && a->top == b->top && a->right == b->right && a->bottom == b->bottom;
}
