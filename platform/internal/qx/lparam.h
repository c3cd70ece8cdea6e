// Values that window messages pack into lParam.
#pragma once

#include <windows.h>

namespace qx {

// The point a mouse message carries: signed 16-bit x and y, so a position
// left of or above the window (while the mouse is captured) stays negative.
inline POINT PointFromLParam(LPARAM lp) {
  return POINT{static_cast<SHORT>(LOWORD(lp)), static_cast<SHORT>(HIWORD(lp))};
}

}  // namespace qx
