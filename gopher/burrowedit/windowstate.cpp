// The main frame's window state in the profile (see windowstate.h).
#include "windowstate.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

int FitField(LONG v) { return static_cast<int>(std::clamp<LONG>(v, -999, 9999)); }

}  // namespace

std::string FormatFrameRect(const RECT &r) {
  char text[32];
  snprintf(text, sizeof text, "%04d %04d %04d %04d", FitField(r.left), FitField(r.top), FitField(r.right),
           FitField(r.bottom));
  return text;
}

RECT ParseFrameRect(const std::string &text) {
  if (text.size() < 19) return kDefaultFrameRect;
  LONG v[4];
  for (size_t i = 0; i < 4; ++i) {
    const std::string field = text.substr(i * 5, 4);
    char *end = nullptr;
    v[i] = strtol(field.c_str(), &end, 10);
    if (end == field.c_str() || *end != '\0') return kDefaultFrameRect;
  }
  if (v[2] <= v[0] || v[3] <= v[1]) return kDefaultFrameRect;
  return RECT{v[0], v[1], v[2], v[3]};
}

RECT KeepOnScreen(const RECT &r, int screenWidth, int screenHeight) {
  // At least a corner of the caption must be on the screen to take hold of.
  constexpr LONG kGrip = 20;
  const bool visible = r.right > kGrip && r.left < screenWidth - kGrip && r.top < screenHeight - kGrip && r.bottom > 0;
  return visible ? r : kDefaultFrameRect;
}

FrameShow ShowForStoredState(bool icon, bool max) {
  const UINT flags = max ? WPF_RESTORETOMAXIMIZED : 0;
  if (icon) return {SW_SHOWMINNOACTIVE, flags};
  return {max ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL, flags};
}

StoredState StateForShow(UINT showCommand, bool restoreToMaximized) {
  switch (showCommand) {
    case SW_SHOWMAXIMIZED: return {0, 1};
    case SW_SHOWMINIMIZED: return {1, restoreToMaximized ? 1 : 0};
    default: return {0, 0};
  }
}
