// The frame's window state as the profile keeps it: the "Rect" text written
// and read at its fixed offsets, and the show command for each stored state.
#include "windowstate.h"

#include <gtest/gtest.h>

namespace {

bool Same(const RECT &a, const RECT &b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(FrameRect, WrittenAndReadAtFixedOffsets) {
  struct Case {
    RECT written;
    const char *text;
    RECT read;
  };
  const Case cases[] = {
      {{10, 10, 800, 500}, "0010 0010 0800 0500", {10, 10, 800, 500}},
      // A negative coordinate: a minus sign and three digits, still four characters.
      {{-4, -4, 1028, 772}, "-004 -004 1028 0772", {-4, -4, 1028, 772}},
      // Wider values are held to what fits, so no field shifts.
      {{-12000, 5, 123456, 600}, "-999 0005 9999 0600", {-999, 5, 9999, 600}},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(FormatFrameRect(c.written), c.text);
    EXPECT_TRUE(Same(ParseFrameRect(c.text), c.read)) << c.text;
  }
  for (const char *bad : {"", "10 10 800 500", "00x0 0010 0800 0500", "0800 0010 0010 0500", "garbage that is long"})
    EXPECT_TRUE(Same(ParseFrameRect(bad), kDefaultFrameRect)) << bad;
}

TEST(FrameRect, KeptOnTheScreen) {
  const RECT onScreen{100, 100, 600, 400}, offRight{1200, 10, 1900, 500}, aboveTop{10, -600, 800, -5};
  EXPECT_TRUE(Same(KeepOnScreen(onScreen, 1024, 768), onScreen));
  EXPECT_TRUE(Same(KeepOnScreen(RECT{-4, -4, 1028, 772}, 1024, 768), RECT{-4, -4, 1028, 772}));
  EXPECT_TRUE(Same(KeepOnScreen(offRight, 1024, 768), kDefaultFrameRect));
  EXPECT_TRUE(Same(KeepOnScreen(aboveTop, 1024, 768), kDefaultFrameRect));
}

TEST(FrameShowState, StoredStatesAndShowCommands) {
  struct Case {
    bool icon, max;
    int show;
    UINT flags;
  };
  const Case cases[] = {
      {false, false, SW_SHOWNORMAL, 0},
      {false, true, SW_SHOWMAXIMIZED, WPF_RESTORETOMAXIMIZED},
      {true, false, SW_SHOWMINNOACTIVE, 0},
      {true, true, SW_SHOWMINNOACTIVE, WPF_RESTORETOMAXIMIZED},
  };
  for (const Case &c : cases) {
    const FrameShow s = ShowForStoredState(c.icon, c.max);
    EXPECT_EQ(s.showCommand, c.show);
    EXPECT_EQ(s.placementFlags, c.flags);
  }
  // Closing: minimised from maximised stores icon 1 and max 1; a state that
  // is none of the three counts as normal.
  EXPECT_EQ(StateForShow(SW_SHOWNORMAL, false).icon, 0);
  EXPECT_EQ(StateForShow(SW_SHOWMAXIMIZED, false).max, 1);
  EXPECT_EQ(StateForShow(SW_SHOWMINIMIZED, true).icon, 1);
  EXPECT_EQ(StateForShow(SW_SHOWMINIMIZED, true).max, 1);
  EXPECT_EQ(StateForShow(SW_SHOWMINIMIZED, false).max, 0);
  EXPECT_EQ(StateForShow(SW_HIDE, true).icon + StateForShow(SW_HIDE, true).max, 0);
}

}  // namespace
