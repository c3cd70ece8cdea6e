// WinHelp driven as a person and a program drive it, headless: the contents,
// a link followed with Tab and Enter, Back clicked with the mouse, a topic by
// keyword, by context number, the keyword index when no topic has the
// keyword, help on help, quit; and the help file format read as written.
#include <windows.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "qxtest/controls.h"
#include "help_file.h"
#include "qx/display.h"

namespace {

using namespace qx::test;

const char kHelpText[] =
    "; test help file\n"
    "@title Test App Help\n"
    "@topic contents Contents\n"
    "@keywords contents\n"
    "Welcome to the test\n"
    "application. See {the options|options} and {the keys|keys}.\n"
    "\n"
    " Column  one\n"
    " Column  two\n"
    "@topic options Options\n"
    "@keywords OPTIONS; settings\n"
    "@context 42\n"
    "How to set the options.\n"
    "@topic keys Keys\n"
    "@keywords keyboard\n"
    "Keys text.\n";

struct Files {
  std::string dir;
  Files() {
    char tmpl[] = "/tmp/qx-help-test-XXXXXX";
    dir = mkdtemp(tmpl);
    setenv("QX_HOME", (dir + "/home").c_str(), 1);
    setenv("QX_HELP_PATH", dir.c_str(), 1);
    std::ofstream(dir + "/TestApp.hlp") << kHelpText;
  }
  ~Files() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
} g_files;

HWND Frame() { return FindWindowA("MS_WINHELP", nullptr); }
std::string Title() { return TextOf(GetDlgItem(Frame(), 10)); }
std::string Body() { return TextOf(GetDlgItem(Frame(), 11)); }

void ClickButton(int id) {
  HWND button = GetDlgItem(Frame(), id);
  RECT rc;
  GetClientRect(button, &rc);
  const POINT at = qx::display::ClientToScreenPoint(button, POINT{rc.right / 2, rc.bottom / 2});
  qx::display::InjectMouseButton(at, 1, true);
  qx::display::InjectMouseButton(at, 1, false);
  Pump();
}

class HelpWindow : public ::testing::Test {
 protected:
  void SetUp() override { owner_ = MakeParent(); }
  void TearDown() override {
    WinHelpA(owner_, nullptr, HELP_QUIT, 0);
    DestroyAll();
  }
  HWND owner_ = nullptr;
};

TEST_F(HelpWindow, ContentsLinksBackAndQuit) {
  ASSERT_TRUE(WinHelpA(owner_, "testapp.hlp", HELP_CONTENTS, 0));  // found without regard to case
  Pump();
  ASSERT_NE(Frame(), nullptr);
  EXPECT_EQ(TextOf(Frame()), "Test App Help");
  EXPECT_EQ(Title(), "Contents");
  EXPECT_EQ(Body(), "Welcome to the test application. See the options and the keys.\r\n\r\n Column  one\n Column  two");
  EXPECT_EQ(GetFocus(), GetDlgItem(Frame(), 11));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(Frame(), 3)));  // nothing to go back to

  Key(kTab);  // the first link
  Key(kTab);  // the second
  Key(kEnter);
  Pump();
  EXPECT_EQ(Title(), "Keys");
  EXPECT_EQ(Body(), "Keys text.");

  ClickButton(3);  // Back
  EXPECT_EQ(Title(), "Contents");
  ClickButton(2);  // Index: every keyword
  EXPECT_EQ(Title(), "Index");
  EXPECT_EQ(Body(), "contents\r\n\r\nkeyboard\r\n\r\nOPTIONS\r\n\r\nsettings");

  EXPECT_TRUE(WinHelpA(owner_, "TESTAPP.HLP", HELP_QUIT, 0));
  Pump();
  EXPECT_EQ(Frame(), nullptr);
}

TEST_F(HelpWindow, KeywordsContextsAndHelpOnHelp) {
  const struct {
    UINT command;
    ULONG_PTR data;
    const char *title;
  } cases[] = {
      {HELP_KEY, reinterpret_cast<ULONG_PTR>("options"), "Options"},  // keywords match without regard to case
      {HELP_PARTIALKEY, reinterpret_cast<ULONG_PTR>("sett"), "Options"},
      {HELP_KEY, reinterpret_cast<ULONG_PTR>("Keyboard"), "Keys"},
      {HELP_CONTEXT, 42, "Options"},
      {HELP_INDEX, 0, "Contents"},
      {HELP_KEY, reinterpret_cast<ULONG_PTR>("printing"), "Index"},  // no such keyword: the index
  };
  for (const auto &c : cases) {
    ASSERT_TRUE(WinHelpA(owner_, "TestApp.hlp", c.command, c.data)) << c.title;
    Pump();
    EXPECT_EQ(Title(), c.title) << c.command;
  }
  EXPECT_EQ(Body().rfind("No topic has the keyword \"printing\".", 0), 0u) << Body();

  ASSERT_TRUE(WinHelpA(owner_, "TestApp.hlp", HELP_HELPONHELP, 0));
  Pump();
  EXPECT_EQ(TextOf(Frame()), "How to Use Help");
  EXPECT_EQ(Title(), "Using Help");

  // A help file that is nowhere: the call fails (after a message to the user).
  EXPECT_FALSE(WinHelpA(owner_, "NOSUCH.HLP", HELP_CONTENTS, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// The index of a file with many keywords is drawn wherever it is scrolled
// to: a repaint draws only the paragraphs in view, and those must be the
// ones there (the links are green).
TEST_F(HelpWindow, ALongIndexIsDrawnWhereverItIsScrolled) {
  std::string text = "@topic only Only\n@keywords";
  for (int i = 0; i < 400; ++i) text += " k" + std::to_string(1000 + i) + ";";
  text += "\nText.\n";
  std::ofstream(g_files.dir + "/Long.hlp") << text;
  ASSERT_TRUE(WinHelpA(owner_, "Long.hlp", HELP_KEY, reinterpret_cast<ULONG_PTR>("nothing")));
  Pump();
  ASSERT_EQ(Title(), "Index");
  HWND body = GetDlgItem(Frame(), 11);
  SetFocus(body);
  auto green_rows = [&] {
    Pump();
    qx::gdi::Surface s;
    EXPECT_TRUE(qx::display::CaptureWindow(body, s));
    int rows = 0;
    for (int y = 0; y < s.height; ++y)
      for (int x = 0; x < s.width; ++x)
        if (s.Get(x, y) == qx::gdi::PixelFromColorref(RGB(0, 128, 0))) {
          ++rows;
          break;
        }
    return rows;
  };
  const struct {
    const char *where;
    BYTE key;
  } steps[] = {{"the top", kHome}, {"one page down", 0x51}, {"the end", kEnd}, {"one page up", 0x49}};
  for (const auto &step : steps) {
    Key(step.key, true);
    EXPECT_GT(green_rows(), 20) << "links drawn at " << step.where;
  }
}

TEST(HelpFormat, ParsesAndReportsProblems) {
  qx::help::HelpFile help;
  std::vector<std::string> problems;
  ASSERT_TRUE(qx::help::ParseHelp(kHelpText, help, problems));
  EXPECT_TRUE(problems.empty());
  ASSERT_EQ(help.topics.size(), 3u);
  EXPECT_EQ(help.contents, "contents");
  const auto &first = help.topics[0].paragraphs;
  ASSERT_EQ(first.size(), 2u);
  ASSERT_EQ(first[0].spans.size(), 5u);
  EXPECT_EQ(first[0].spans[1].text, "the options");
  EXPECT_EQ(first[0].spans[1].target, "options");
  EXPECT_TRUE(first[1].preformatted);
  EXPECT_EQ(help.FindContext(42), help.Find("OPTIONS"));

  const char bad[] =
      "stray text\n"
      "@topic a First\n"
      "@bogus x\n"
      "@context twelve\n"
      "Go {there|nowhere}.\n";
  ASSERT_TRUE(qx::help::ParseHelp(bad, help, problems));
  ASSERT_EQ(problems.size(), 4u);
  EXPECT_EQ(problems[0], "line 1: text before the first @topic");
  EXPECT_EQ(problems[1], "line 3: unknown or misplaced directive @bogus");
  EXPECT_EQ(problems[2], "line 4: @context needs a number");
  EXPECT_EQ(problems[3], "line 0: topic a links to missing topic nowhere");
  problems.clear();
  EXPECT_FALSE(qx::help::ParseHelp("no topics at all\n", help, problems));
}

// Help files made to hurt the reader: every link of a file with the most topics
// there may be is checked in a moment (a search of every topic per link took
// minutes), a file with more topics than that keeps the first ones and still
// has a contents topic, and one with more keywords than an index should hold
// keeps the first 50,000 (each is a line of the index to lay out and draw).
TEST(HelpFormat, HostileFilesAreReadWhole) {
  std::string topics;
  for (int i = 0; i < 10000; ++i) topics += "@topic t" + std::to_string(i) + " Topic\n";
  std::string links;
  for (int i = 0; i < 400; ++i) links += "{x|T9999}";
  links += "\n";
  std::string many_links = topics;
  while (many_links.size() + links.size() < (8u << 20)) many_links += links;
  std::string many_keywords = "@topic t0 Topic\n";  // lines of 400 keywords from line 2
  for (int i = 0; i < 60000; ++i)
    many_keywords += (i % 400 ? " k" : "@keywords k") + std::to_string(i) + (i % 400 == 399 ? "\n" : ";");

  const struct {
    const char *name;
    std::string text;
    size_t topics;
    size_t keywords;  // of the first topic
    std::vector<std::string> problems;
  } cases[] = {
      {"10000 topics and 900,000 links to the last", many_links, 10000, 0, {}},
      {"one topic too many",
       topics + "@topic extra Extra\nNot read.\n",
       10000,
       0,
       {"line 10001: more than 10000 topics, the rest not read"}},
      {"60,000 keywords", many_keywords, 1, 50000, {"line 127: more than 50000 keywords, the rest not kept"}},
  };
  for (const auto &c : cases) {
    qx::help::HelpFile help;
    std::vector<std::string> problems;
    ASSERT_TRUE(qx::help::ParseHelp(c.text, help, problems)) << c.name;
    EXPECT_EQ(help.topics.size(), c.topics) << c.name;
    EXPECT_EQ(help.topics.front().keywords.size(), c.keywords) << c.name;
    EXPECT_EQ(help.contents, "t0") << c.name;
    EXPECT_EQ(problems, c.problems) << c.name;
  }
}

}  // namespace
