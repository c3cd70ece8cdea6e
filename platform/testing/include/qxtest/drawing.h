// What the drawing tests share: a memory canvas and golden PNG comparison.
#pragma once

#include <windows.h>

#include <string>

#include "qx/gdi.h"

namespace qx::test {

// A memory DC with a 32-bit bitmap of the given size, filled white.
class Canvas {
 public:
  Canvas(int w, int h);
  ~Canvas();
  Canvas(const Canvas &) = delete;
  Canvas &operator=(const Canvas &) = delete;
  HDC dc() const { return dc_; }
  HBITMAP bitmap() const { return bm_; }
  const gdi::Surface &surface() const;

 private:
  HDC dc_;
  HBITMAP bm_;
  HGDIOBJ old_;
};

// Compares a surface with platform/gdi/tests/golden/<name>.png. Anti-aliased
// edges may differ between FreeType builds, so a small share of pixels may be
// off by more than the channel tolerance. QX_UPDATE_GOLDEN=1 rewrites the file.
// Returns an empty string when they match, else what differs.
std::string CompareGolden(const gdi::Surface &s, const std::string &name);
// The same against <dir>/<name>.png, for goldens kept beside a program's tests.
std::string CompareGoldenIn(const gdi::Surface &s, const std::string &dir, const std::string &name);
// Compares two surfaces with the same rule.
std::string CompareSurfaces(const gdi::Surface &a, const gdi::Surface &b, int channel_tolerance = 48,
                            double share_allowed = 0.01);

}  // namespace qx::test
