// echoprobe's host list file, colours, settings and hit test, as tables.
#include <gtest/gtest.h>
#include <winsock.h>

#include <string>
#include <vector>

#include "pinghosts.h"

namespace {

TEST(PingHostsTest, ColourFollowsRequestsSinceTheLastAnswer) {
  const struct {
    const char *address;
    int sent, lastAnswered;
    COLORREF colour;
  } cases[] = {
      {"10.1.1.2", 0, 0, RGB(0, 0, 0)},      {"10.1.1.2", 4, 0, RGB(0, 0, 0)},    {"10.1.1.2", 5, 0, RGB(255, 0, 255)},
      {"10.1.1.2", 9, 0, RGB(255, 0, 255)},  {"10.1.1.2", 10, 0, RGB(255, 0, 0)}, {"10.1.1.2", 40, 29, RGB(255, 0, 0)},
      {"10.1.1.2", 40, 40, RGB(0, 0, 0)},    {"10.1.1.2", 41, 40, RGB(0, 0, 0)},  {"10.1.1.255", 3, 3, RGB(0, 0, 255)},
      {"10.1.1.255", 30, 0, RGB(0, 0, 255)}, {"10.1.0.0", 0, 0, RGB(0, 0, 255)},  {"10.255.1.1", 30, 0, RGB(255, 0, 0)},
  };
  for (const auto &c : cases) {
    const DWORD address = inet_addr(c.address);
    const int flags = PingHostFlags(address);
    EXPECT_EQ(flags & PING_FLAGS_HOST, PING_FLAGS_HOST);
    EXPECT_EQ(PingHostColour(flags, c.sent, c.lastAnswered), c.colour) << c.address << " " << c.sent;
  }
}

TEST(PingHostsTest, PingCfgTakesTheFirstWordOfEachLine) {
  const struct {
    std::string text;
    std::vector<std::string> hosts;
  } cases[] = {
      {"", {}},
      {"# only comments\n\n   \n#another\n", {}},
      {"alpha # the first host\n\tbeta\t10.0.0.1\n  #gamma\n10.1.1.255\r\n", {"alpha", "beta", "10.1.1.255"}},
      // A line past 1023 characters counts with its start only; its tail is not a line of its own.
      {std::string(1030, ' ') + "hidden\nshown\n", {"shown"}},
      {std::string(1000, ' ') + "edge" + std::string(100, 'x') + "\n", {"edge" + std::string(19, 'x')}},
      {"last-without-newline", {"last-without-newline"}},
  };
  for (const auto &c : cases) EXPECT_EQ(ParsePingCfg(c.text), c.hosts) << c.text;
}

TEST(PingHostsTest, SettingsAndDialogAnswersAreHeldToTheirRanges) {
  EXPECT_EQ(PingDelayFromProfile(0), 1u);
  EXPECT_EQ(PingDelayFromProfile(-5), 1u);
  EXPECT_EQ(PingDelayFromProfile(5), 5u);
  EXPECT_EQ(PingDelayFromProfile(600), 60u);
  EXPECT_EQ(PingSizeFromProfile(56), 56u);
  EXPECT_EQ(PingSizeFromProfile(0), 0u);
  EXPECT_EQ(PingSizeFromProfile(100000), 4000u);
  EXPECT_EQ(PingDialogValue(5000, 56, PING_SIZE_MAX), 4000u);
  EXPECT_EQ(PingDialogValue(90, 1, PING_DELAY_MAX), 60u);
  EXPECT_EQ(PingDialogValue(0, 7, PING_DELAY_MAX), 7u);
  EXPECT_EQ(PingDialogValue(30, 7, PING_DELAY_MAX), 30u);
}

TEST(PingHostsTest, ADoubleClickFindsOnlyACellThatHoldsAHost) {
  const int w = 100, h = 80;
  const struct {
    int x, y, rows, firstColumn, hosts;
    int index;
  } cases[] = {
      {2, 2, 3, 0, 5, 0},    // the first cell's corner
      {1, 40, 3, 0, 5, -1},  // left of the cells
      {50, 2 + 80 + 5, 3, 0, 5, 1},
      {150, 2 + 80 + 5, 3, 0, 5, 4},
      {150, 2 + 240 + 5, 3, 0, 5, -1},  // below the last row: not the next column's first host
      {250, 10, 3, 0, 5, -1},           // a column with no host in it
      {50, 10, 3, 1, 5, 3},             // scrolled one column right
      {50, 10, 0, 0, 5, -1},
  };
  for (const auto &c : cases)
    EXPECT_EQ(PingHitTest(c.x, c.y, w, h, c.rows, c.firstColumn, c.hosts), c.index) << c.x << "," << c.y;
}

}  // namespace
