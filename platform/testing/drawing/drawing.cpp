// A memory canvas and golden PNG comparison for the drawing tests.
#include "qxtest/drawing.h"

#include <cstdlib>
#include <sstream>
#include "qxtest/support.h"

namespace qx::test {

Canvas::Canvas(int w, int h) {
  dc_ = CreateCompatibleDC(nullptr);
  bm_ = CreateBitmap(w, h, 1, 32, nullptr);
  old_ = SelectObject(dc_, bm_);
  RECT r{0, 0, w, h};
  FillRect(dc_, &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
}

Canvas::~Canvas() {
  SelectObject(dc_, old_);
  DeleteObject(bm_);
  DeleteDC(dc_);
}

// The bitmap owns the surface the DC draws into.
const gdi::Surface &Canvas::surface() const { return *gdi::BitmapSurface(bm_); }

std::string CompareSurfaces(const gdi::Surface &a, const gdi::Surface &b, int tol, double share) {
  std::ostringstream why;
  if (a.width != b.width || a.height != b.height) {
    why << "size " << a.width << "x" << a.height << " against " << b.width << "x" << b.height;
    return why.str();
  }
  long off = 0;
  int first_x = -1, first_y = -1;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x) {
      const std::uint32_t p = a.Get(x, y), q = b.Get(x, y);
      int worst = 0;
      for (int sh = 0; sh <= 16; sh += 8)
        worst = std::max(worst, std::abs(int((p >> sh) & 0xFF) - int((q >> sh) & 0xFF)));
      if (worst > tol) {
        if (first_x < 0) {
          first_x = x;
          first_y = y;
        }
        ++off;
      }
    }
  const long allowed = static_cast<long>(share * a.width * a.height);
  if (off > allowed) {
    why << off << " pixels differ (allowed " << allowed << "), first at " << first_x << "," << first_y;
    return why.str();
  }
  return {};
}

std::string CompareGolden(const gdi::Surface &s, const std::string &name) {
  return CompareGoldenIn(s, qxtest::SourceDir() + "/platform/gdi/tests/golden", name);
}

std::string CompareGoldenIn(const gdi::Surface &s, const std::string &dir, const std::string &name) {
  const std::string path = dir + "/" + name + ".png";
  if (const char *u = std::getenv("QX_UPDATE_GOLDEN"); u && *u == '1') {
    return gdi::WritePng(s, nullptr, path) ? std::string() : "cannot write " + path;
  }
  gdi::Surface golden;
  if (!gdi::ReadPng(path, golden)) return "cannot read " + path + " (QX_UPDATE_GOLDEN=1 makes it)";
  std::string why = CompareSurfaces(s, golden);
  if (!why.empty()) {
    const std::string actual = name + ".actual.png";
    gdi::WritePng(s, nullptr, actual);
    why += "; the drawing is in " + actual;
  }
  return why;
}

}  // namespace qx::test
