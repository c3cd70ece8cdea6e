// The main frame's window state as the profile keeps it (section "Window
// size"): the normal rectangle as "Rect" in the form "%04d %04d %04d %04d",
// and whether the window was minimised ("icon") or maximised ("max").
#ifndef QX_BURROWEDIT_WINDOWSTATE_H
#define QX_BURROWEDIT_WINDOWSTATE_H

#include <windows.h>

#include <string>

#ifndef WPF_RESTORETOMAXIMIZED
#define WPF_RESTORETOMAXIMIZED 0x0002
#endif

// Where the window goes when the profile holds no "Rect".
inline constexpr RECT kDefaultFrameRect{10, 10, 800, 500};

// Each coordinate is kept within -999..9999, so it fills exactly its field of
// four characters and the fields stay at offsets 0, 5, 10 and 15.
std::string FormatFrameRect(const RECT &r);
// The four fields at offsets 0, 5, 10 and 15; the default rectangle when the
// text is empty, short, not numbers, or not a rectangle.
RECT ParseFrameRect(const std::string &text);

// A stored rectangle that shows no part of the screen (a display that has
// since become smaller) gives the default rectangle, so the window is never
// restored where nobody can see it.
RECT KeepOnScreen(const RECT &r, int screenWidth, int screenHeight);

// How a stored state is shown: the show command and the placement flags.
struct FrameShow {
  int showCommand;
  UINT placementFlags;
};
FrameShow ShowForStoredState(bool icon, bool max);

// What to store for a window in this show state (SW_SHOWNORMAL,
// SW_SHOWMINIMIZED, SW_SHOWMAXIMIZED; anything else counts as normal);
// restoreToMaximized tells whether a minimised window comes back maximised.
struct StoredState {
  int icon, max;
};
StoredState StateForShow(UINT showCommand, bool restoreToMaximized);

#endif
