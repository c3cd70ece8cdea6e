// The settings dialogs' text forms: answerback caret notation both ways,
// recent-host entries with a port, and the colour grid's hit test.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "settings_text.h"

namespace {

TEST(SettingsText, AnswerbackCaretNotation) {
  const struct {
    const char *typed;
    std::string bytes;
  } cases[] = {
      {"^M", "\r"},           {"^m", "\r"},       {"^^", "^"}, {"a^", "a^"},  // a trailing caret is itself
      {"log^Min", "log\rin"}, {"^[[A", "\x1B[A"}, {"", ""},
  };
  for (const auto &c : cases) {
    BYTE ab[51];
    std::memset(ab, 0xEE, sizeof ab);
    AnswerbackFromCaret(c.typed, ab);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(ab)), c.bytes) << c.typed;
  }
  // 50 control bytes show as 100 characters and come back whole, NUL-ended.
  BYTE full[51] = {};
  for (int i = 0; i < 50; ++i) full[i] = static_cast<BYTE>(i % 2 ? '^' : 1 + i % 26);
  const std::string shown = AnswerbackToCaret(full);
  EXPECT_EQ(shown.size(), 100u);
  BYTE back[51];
  AnswerbackFromCaret(shown + "tail", back);
  EXPECT_EQ(std::memcmp(back, full, 51), 0) << "more than 50 bytes are cut, the NUL stays";
  EXPECT_STREQ(ConcealedPlaceholder(1), "<Cach\x82>");
}

TEST(SettingsText, RecentHostEntries) {
  const struct {
    const char *entry;
    bool rlogin;
    const char *host;
    unsigned port;
  } cases[] = {
      {"sun (2323)", false, "sun", 2323},  {"sun", false, "sun", 23},
      {"sun", true, "sun", 513},           {"sun (2323)", true, "sun", 513},
      {"(23)", false, "(23)", 23},         {"a(b", false, "a(b", 23},
      {"host (x)", false, "host (x)", 23}, {"host (70000)", false, "host (70000)", 23},
  };
  for (const auto &c : cases) {
    std::string host;
    unsigned port = 0;
    HostEntryParse(c.entry, c.rlogin, host, port);
    EXPECT_EQ(host, c.host) << c.entry;
    EXPECT_EQ(port, c.port) << c.entry;
  }
}

TEST(SettingsText, ColourGridHits) {
  // Base units 8 x 16: dialog units equal pixels.
  const struct {
    int x, y;
    bool hit;
    int fg, bg;
  } cases[] = {
      {18, 20, true, 0, 0},   {10, 20, true, 0, 0},  // just left of the first column still picks it
      {38, 40, true, 1, 1},   {158, 179, true, 7, 7}, {158, 180, false, 0, 0},
      {198, 20, false, 0, 0}, {18, 5, true, 0, 0},    {18, 0, false, 0, 0},  // a row of -1 is above the grid
  };
  for (const auto &c : cases) {
    int fg = -1, bg = -1;
    EXPECT_EQ(ColourGridCell(c.x, c.y, 8, 16, fg, bg), c.hit) << c.x << "," << c.y;
    if (c.hit) {
      EXPECT_EQ(fg, c.fg) << c.x << "," << c.y;
      EXPECT_EQ(bg, c.bg) << c.x << "," << c.y;
    }
  }
}

}  // namespace
