// Golden scripts: each file in scripts/ holds bytes sent by a host and the
// screen rows, cursor, attributes, state, replies and printer output expected
// after them. One parameterised test runs every script.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "term_harness.h"

namespace {

std::filesystem::path ScriptDir() {
  const char *src = std::getenv("QX_TEST_SOURCE_DIR");
  return std::filesystem::path(src ? src : ".") / "terminal/tests/scripts";
}

std::vector<std::string> ScriptNames() {
  std::vector<std::string> names;
  for (const auto &entry : std::filesystem::directory_iterator(ScriptDir()))
    if (entry.path().extension() == ".test") names.push_back(entry.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The quoted argument of a script line, unescaped.
std::string Quoted(const std::string &line) {
  size_t first = line.find('"'), last = line.rfind('"');
  if (first == std::string::npos || last <= first) return {};
  return Unescape(line.substr(first + 1, last - first - 1));
}

long Number(const std::string &word) { return std::strtol(word.c_str(), nullptr, 0); }

class GoldenScript : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenScript, Runs) {
  std::ifstream in(ScriptDir() / (GetParam() + ".test"));
  ASSERT_TRUE(in) << "cannot open script";
  auto t = std::make_unique<TestTerminal>();
  std::string line;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string op;
    words >> op;
    SCOPED_TRACE(GetParam() + ".test:" + std::to_string(lineNo) + ": " + line);
    if (op == "reset") {
      int rows = 24;
      words >> rows;
      t = std::make_unique<TestTerminal>(rows ? rows : 24);
    } else if (op == "set") {
      std::string name, value;
      words >> name >> value;
      BYTE *field = FieldByName(t->st(), name);
      ASSERT_NE(field, nullptr) << "unknown field " << name;
      *field = static_cast<BYTE>(Number(value));
    } else if (op == "answerback") {
      std::string text = Quoted(line);
      std::memset(t->st().s.answerback, 0, sizeof t->st().s.answerback);
      std::memcpy(t->st().s.answerback, text.data(), std::min<size_t>(text.size(), 50));
    } else if (op == "push") {
      t->Push(Quoted(line));
    } else if (op == "row") {
      int row = -1;
      words >> row;
      ASSERT_TRUE(row >= 0 && row < GRID_ROWS);
      EXPECT_EQ(Escape(t->RowText(row)), Escape(Quoted(line)));
    } else if (op == "cursor") {
      int row, col;
      words >> row >> col;
      EXPECT_EQ(t->st().cursorRow, row) << "cursor row";
      EXPECT_EQ(t->st().cursorCol, col) << "cursor column";
    } else if (op == "cell") {
      std::string r, c, ch, attr;
      words >> r >> c >> ch >> attr;
      const TERM_CELL &cell = t->term->screen.cells[Number(r)][Number(c)];
      EXPECT_EQ(cell.ch, Number(ch)) << "character";
      if (!attr.empty()) {
        EXPECT_EQ(cell.attr, Number(attr)) << "attribute";
      }
    } else if (op == "attr") {
      std::string r, c, attr;
      words >> r >> c >> attr;
      EXPECT_EQ(t->term->screen.cells[Number(r)][Number(c)].attr, Number(attr));
    } else if (op == "lineattr") {
      int row, value;
      words >> row >> value;
      EXPECT_EQ(t->st().lineAttribute[row], value);
    } else if (op == "state") {
      std::string name, value;
      words >> name >> value;
      BYTE *field = FieldByName(t->st(), name);
      ASSERT_NE(field, nullptr) << "unknown field " << name;
      EXPECT_EQ(*field, Number(value)) << name;
    } else if (op == "reply") {
      EXPECT_EQ(Escape(t->host.replies), Escape(Quoted(line)));
      t->host.replies.clear();
    } else if (op == "noreply") {
      EXPECT_EQ(Escape(t->host.replies), "");
    } else if (op == "printed") {
      EXPECT_EQ(Escape(t->printer.output), Escape(Quoted(line)));
      t->printer.output.clear();
    } else if (op == "printer") {
      std::string state;
      words >> state;
      EXPECT_EQ(t->printer.open, state == "open");
    } else if (op == "calls") {
      EXPECT_EQ(t->host.calls, Quoted(line));
      t->host.calls.clear();
    } else if (op == "glyph") {
      std::string ch, rows;
      words >> ch;
      std::string expected, actual;
      for (std::string byte; words >> byte;) expected += byte + " ";
      int index = static_cast<int>(Number(ch)) - 0x20;
      ASSERT_TRUE(index >= 0 && index < SOFT_GLYPHS);
      for (BYTE b : t->st().softFont[index]) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", b);
        actual += std::string(hex) + " ";
      }
      EXPECT_EQ(actual, expected);
    } else {
      FAIL() << "unknown script command " << op;
    }
    EXPECT_FALSE(t->display.outOfGrid) << "a display notification left the grid";
  }
}

INSTANTIATE_TEST_SUITE_P(Scripts, GoldenScript, ::testing::ValuesIn(ScriptNames()),
                         [](const auto &param_info) { return param_info.param; });

}  // namespace
