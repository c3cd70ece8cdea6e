// The arithmetic of sharehost's information window, apart from the window so
// a test can check it as a table.
#pragma once

#include <windows.h>

#include <cstdint>

namespace srvwin {

// Operations per second between two redraws: 64-bit, so a short interval
// neither rounds the factor down nor overflows. 0 for no time passed.
inline uint32_t OpsPerSecond(uint32_t ops, DWORD elapsed_ms) {
  if (elapsed_ms == 0) return 0;
  return uint32_t(uint64_t(ops) * 1000u / elapsed_ms);
}

// A scroll bar's code applied to a setting: up a line or a page raises the
// value (the window has always read its bars that way), down lowers it, the
// thumb sets it; other codes change nothing. The result stays in low..high.
inline UINT ScrolledValue(UINT value, int code, int thumb, UINT line, UINT page, UINT low, UINT high) {
  long v = long(value);
  switch (code) {
    case SB_LINEUP: v += long(line); break;
    case SB_LINEDOWN: v -= long(line); break;
    case SB_PAGEUP: v += long(page); break;
    case SB_PAGEDOWN: v -= long(page); break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK: v = thumb; break;
    default: return value;
  }
  if (v < long(low)) v = long(low);
  if (v > long(high)) v = long(high);
  return UINT(v);
}

}  // namespace srvwin
