// Regions as lists of disjoint rectangles, combined on the grid of their edges,
// and the DC's clip region.
#include <algorithm>
#include <cmath>

#include "gdi_internal.h"

namespace qx::gdi {

bool RectEmpty(const RECT &r) { return r.right <= r.left || r.bottom <= r.top; }

RECT RectIntersect(const RECT &a, const RECT &b) {
  RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
  if (RectEmpty(r)) r = RECT{0, 0, 0, 0};
  return r;
}

Rects IntersectRects(const Rects &a, const RECT &r) {
  Rects out;
  for (const RECT &x : a) {
    RECT i = RectIntersect(x, r);
    if (!RectEmpty(i)) out.push_back(i);
  }
  return out;
}

namespace {

bool Inside(const Rects &rs, LONG x, LONG y) {
  for (const RECT &r : rs)
    if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return true;
  return false;
}

bool Pick(bool a, bool b, int mode) {
  switch (mode) {
    case RGN_AND: return a && b;
    case RGN_OR: return a || b;
    case RGN_XOR: return a != b;
    case RGN_DIFF: return a && !b;
    default: return a;  // RGN_COPY
  }
}

}  // namespace

// Every cell of the grid made by all rectangle edges is either wholly in or
// wholly out of each operand, so testing one corner per cell decides it. Cells
// are then merged into horizontal runs per band, and equal runs of adjacent
// bands into one rectangle, which keeps the lists short for the shapes in use.
Rects CombineRects(const Rects &a, const Rects &b, int mode) {
  std::vector<LONG> xs, ys;
  for (const Rects *rs : {&a, &b})
    for (const RECT &r : *rs) {
      if (RectEmpty(r)) continue;
      xs.push_back(r.left);
      xs.push_back(r.right);
      ys.push_back(r.top);
      ys.push_back(r.bottom);
    }
  std::sort(xs.begin(), xs.end());
  xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
  std::sort(ys.begin(), ys.end());
  ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
  Rects out;
  std::vector<size_t> prev_band;  // indices in out of the previous band's runs
  for (size_t j = 0; j + 1 < ys.size(); ++j) {
    std::vector<std::pair<LONG, LONG>> runs;
    for (size_t i = 0; i + 1 < xs.size(); ++i) {
      if (!Pick(Inside(a, xs[i], ys[j]), Inside(b, xs[i], ys[j]), mode)) continue;
      if (!runs.empty() && runs.back().second == xs[i])
        runs.back().second = xs[i + 1];
      else
        runs.push_back({xs[i], xs[i + 1]});
    }
    // Extend the previous band's rectangles when the runs are the same.
    bool same = runs.size() == prev_band.size();
    for (size_t k = 0; same && k < runs.size(); ++k) {
      const RECT &p = out[prev_band[k]];
      same = p.left == runs[k].first && p.right == runs[k].second && p.bottom == ys[j];
    }
    if (same && !runs.empty()) {
      for (size_t k : prev_band) out[k].bottom = ys[j + 1];
      continue;
    }
    prev_band.clear();
    for (auto &run : runs) {
      prev_band.push_back(out.size());
      out.push_back(RECT{run.first, ys[j], run.second, ys[j + 1]});
    }
  }
  return out;
}

int Region::Complexity() const {
  if (rects.empty()) return NULLREGION;
  return rects.size() == 1 ? SIMPLEREGION : COMPLEXREGION;
}

RECT Region::Box() const {
  if (rects.empty()) return RECT{0, 0, 0, 0};
  RECT b = rects[0];
  for (const RECT &r : rects) {
    b.left = std::min(b.left, r.left);
    b.top = std::min(b.top, r.top);
    b.right = std::max(b.right, r.right);
    b.bottom = std::max(b.bottom, r.bottom);
  }
  return b;
}

bool Region::Contains(int x, int y) const { return Inside(rects, x, y); }

}  // namespace qx::gdi

using namespace qx::gdi;

namespace {

std::shared_ptr<Region> Rgn(HRGN h) { return LookupObject<Region>(h, Type::Region); }

RECT Ordered(int x1, int y1, int x2, int y2) {
  return RECT{std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
}

HRGN NewRegion(Rects rects) {
  auto r = std::make_shared<Region>();
  for (const RECT &x : rects)
    if (!RectEmpty(x)) r->rects.push_back(x);
  return static_cast<HRGN>(InsertObject(r));
}

}  // namespace

extern "C" {

HRGN WINAPI CreateRectRgn(int x1, int y1, int x2, int y2) { return NewRegion({Ordered(x1, y1, x2, y2)}); }

HRGN WINAPI CreateRectRgnIndirect(const RECT *r) {
  if (!r) return nullptr;
  return CreateRectRgn(r->left, r->top, r->right, r->bottom);
}

// An ellipse as one rectangle per scan line inside the bounding box.
HRGN WINAPI CreateEllipticRgn(int x1, int y1, int x2, int y2) {
  const RECT b = Ordered(x1, y1, x2, y2);
  const double rx = (b.right - b.left) / 2.0, ry = (b.bottom - b.top) / 2.0;
  const double cx = b.left + rx, cy = b.top + ry;
  Rects rows;
  for (LONG y = b.top; y < b.bottom && rx > 0 && ry > 0; ++y) {
    const double dy = (y + 0.5 - cy) / ry;
    if (dy * dy > 1) continue;
    const double half = rx * std::sqrt(1 - dy * dy);
    const RECT r{static_cast<LONG>(std::lround(cx - half)), y, static_cast<LONG>(std::lround(cx + half)), y + 1};
    if (!RectEmpty(r)) rows.push_back(r);
  }
  return NewRegion(CombineRects(rows, {}, RGN_OR));
}

BOOL WINAPI SetRectRgn(HRGN h, int left, int top, int right, int bottom) {
  auto r = Rgn(h);
  if (!r) return FALSE;
  r->rects.clear();
  RECT x = Ordered(left, top, right, bottom);
  if (!RectEmpty(x)) r->rects.push_back(x);
  return TRUE;
}

int WINAPI CombineRgn(HRGN dst, HRGN src1, HRGN src2, int mode) {
  auto d = Rgn(dst), a = Rgn(src1);
  auto b = mode == RGN_COPY ? nullptr : Rgn(src2);
  if (!d || !a || (mode != RGN_COPY && !b) || mode < RGN_AND || mode > RGN_COPY) return ERROR;
  Rects result = mode == RGN_COPY ? a->rects : CombineRects(a->rects, b->rects, mode);
  d->rects = std::move(result);
  return d->Complexity();
}

BOOL WINAPI EqualRgn(HRGN h1, HRGN h2) {
  auto a = Rgn(h1), b = Rgn(h2);
  if (!a || !b) return ERROR;
  return CombineRects(a->rects, b->rects, RGN_XOR).empty();
}

int WINAPI OffsetRgn(HRGN h, int x, int y) {
  auto r = Rgn(h);
  if (!r) return ERROR;
  for (RECT &x1 : r->rects) {
    x1.left += x;
    x1.right += x;
    x1.top += y;
    x1.bottom += y;
  }
  return r->Complexity();
}

int WINAPI GetRgnBox(HRGN h, LPRECT out) {
  auto r = Rgn(h);
  if (!r || !out) return ERROR;
  *out = r->Box();
  return r->Complexity();
}

BOOL WINAPI PtInRegion(HRGN h, int x, int y) {
  auto r = Rgn(h);
  return r && r->Contains(x, y);
}

BOOL WINAPI RectInRegion(HRGN h, const RECT *rc) {
  auto r = Rgn(h);
  if (!r || !rc) return FALSE;
  return !IntersectRects(r->rects, Ordered(rc->left, rc->top, rc->right, rc->bottom)).empty();
}

int WINAPI SelectClipRgn(HDC hdc, HRGN h) {
  auto dc = LookupDC(hdc);
  if (!dc) return ERROR;
  if (!h) {
    dc->st.clip.reset();
    return SIMPLEREGION;
  }
  auto r = Rgn(h);
  if (!r) return ERROR;
  dc->st.clip = r->rects;  // a copy: the program may change or delete its region
  return r->Complexity();
}

namespace {
// Clip rectangle given in logical units, as device units.
RECT DeviceRect(DC &dc, int left, int top, int right, int bottom) {
  POINT a = dc.ToDevice(left, top), b = dc.ToDevice(right, bottom);
  return Ordered(a.x, a.y, b.x, b.y);
}

Rects CurrentClip(DC &dc) {
  if (dc.st.clip) return *dc.st.clip;
  Surface *s = dc.Target();
  const POINT o = dc.Origin();
  return {RECT{-o.x, -o.y, (s ? s->width : 0) - o.x, (s ? s->height : 0) - o.y}};
}

int Kind(const Rects &r) { return r.empty() ? NULLREGION : r.size() == 1 ? SIMPLEREGION : COMPLEXREGION; }
}  // namespace

int WINAPI IntersectClipRect(HDC hdc, int left, int top, int right, int bottom) {
  auto dc = LookupDC(hdc);
  if (!dc) return ERROR;
  dc->st.clip = CombineRects(CurrentClip(*dc), {DeviceRect(*dc, left, top, right, bottom)}, RGN_AND);
  return Kind(*dc->st.clip);
}

int WINAPI ExcludeClipRect(HDC hdc, int left, int top, int right, int bottom) {
  auto dc = LookupDC(hdc);
  if (!dc) return ERROR;
  dc->st.clip = CombineRects(CurrentClip(*dc), {DeviceRect(*dc, left, top, right, bottom)}, RGN_DIFF);
  return Kind(*dc->st.clip);
}

int WINAPI GetClipBox(HDC hdc, LPRECT out) {
  auto dc = LookupDC(hdc);
  if (!dc || !out) return ERROR;
  Rects rs = dc->ClipRects();
  const POINT o = dc->Origin();
  if (rs.empty()) {
    *out = RECT{0, 0, 0, 0};
    return NULLREGION;
  }
  RECT b = rs[0];
  for (const RECT &r : rs) {
    b.left = std::min(b.left, r.left);
    b.top = std::min(b.top, r.top);
    b.right = std::max(b.right, r.right);
    b.bottom = std::max(b.bottom, r.bottom);
  }
  POINT a = dc->ToLogical(b.left - o.x, b.top - o.y), c = dc->ToLogical(b.right - o.x, b.bottom - o.y);
  *out = Ordered(a.x, a.y, c.x, c.y);
  return Kind(rs);
}

int WINAPI GetClipRgn(HDC hdc, HRGN h) {
  auto dc = LookupDC(hdc);
  auto r = Rgn(h);
  if (!dc || !r) return -1;
  if (!dc->st.clip) return 0;
  r->rects = *dc->st.clip;
  return 1;
}

BOOL WINAPI PtVisible(HDC hdc, int x, int y) {
  auto dc = LookupDC(hdc);
  if (!dc) return FALSE;
  POINT p = dc->ToSurface(x, y);
  for (const RECT &r : dc->ClipRects())
    if (p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom) return TRUE;
  return FALSE;
}

BOOL WINAPI RectVisible(HDC hdc, const RECT *rc) {
  auto dc = LookupDC(hdc);
  if (!dc || !rc) return FALSE;
  POINT a = dc->ToSurface(rc->left, rc->top), b = dc->ToSurface(rc->right, rc->bottom);
  return !IntersectRects(dc->ClipRects(), Ordered(a.x, a.y, b.x, b.y)).empty();
}

}  // extern "C"
