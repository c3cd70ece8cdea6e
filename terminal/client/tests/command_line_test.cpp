// The terminal's command line as a table, the recent-host list, and the
// log-in pieces (rlogin greeting, host map, scripts).
#include <gtest/gtest.h>

#include <string>

#include "command_line.h"
#include "login.h"

namespace {

struct Parsed {
  TERM_START start;
  TELNET_STATE tn;
  TERM_COMMAND_LINE cl;
  std::string host;
  std::string rest;  // words left after the host word
};

Parsed Parse(const char *line) {
  Parsed p;
  TermStartSwitches(line, p.start, p.cl);
  TERM_COMMAND_LINE copy = p.cl;
  // The copy's words point into the original buffer, as the driver's copy of the vector does.
  TermApplySwitches(copy, p.start, p.tn);
  p.host = p.start.hostWord ? p.start.hostWord : "";
  for (int i = 2; i < copy.count; ++i) p.rest += std::string(copy.words[i]) + " ";
  return p;
}

TEST(CommandLine, SwitchTable) {
  struct Case {
    const char *line;
    bool mode3270;
    int rlogin;
    int rows;
    unsigned port;
    const char *host, *rest, *termType;
  } cases[] = {
      {"/I host", true, 0, 24, 23, "host", "", "VT220"},
      {"host /I", false, 0, 24, 23, "host", "/I ", "VT220"},
      {"/R host", false, 2, 24, 513, "host", "", "vt220"},
      {"/I/R host", true, 0, 24, 23, "host", "", "VT220"},
      {"host /h=50", false, 0, 24, 23, "host", "", "VT220"},
      {"host /h=20 /h=45", false, 0, 45, 23, "host", "", "VT220"},
      {"host /p=2323", false, 0, 24, 2323, "host", "", "VT220"},
      {"host /p=abc", false, 0, 24, 23, "host", "", "VT220"},
      {"host /p=70000", false, 0, 24, 23, "host", "", "VT220"},
      {"/r /t=XTERM host", false, 2, 24, 513, "host", "", "XTERM"},
      {"/t=XTERM /r host", false, 1, 24, 513, "host", "", "xterm"},
      {"  host   extra  ", false, 0, 24, 23, "host", "extra ", "VT220"},
      {"", false, 0, 24, 23, "", "", "VT220"},
  };
  for (const Case &c : cases) {
    Parsed p = Parse(c.line);
    EXPECT_EQ(p.start.mode3270, c.mode3270) << c.line;
    EXPECT_EQ(p.start.rlogin, c.rlogin) << c.line;
    EXPECT_EQ(p.start.screenRows, c.rows) << c.line;
    EXPECT_EQ(p.start.port, c.port) << c.line;
    EXPECT_EQ(p.host, c.host) << c.line;
    EXPECT_EQ(p.rest, c.rest) << c.line;
    EXPECT_STREQ(p.tn.termTypes[0], c.termType) << c.line;
  }
}

TEST(CommandLine, OnceUsersScriptAndBadPort) {
  Parsed p = Parse("/ONCE /l=alice /u=root /a=login.scr /p=x9 sun");
  EXPECT_TRUE(p.start.dontTryAgain);
  EXPECT_TRUE(p.start.dieAfterCancelling);
  EXPECT_STREQ(p.start.localUser, "alice");
  EXPECT_STREQ(p.start.remoteUser, "root");
  EXPECT_STREQ(p.start.scriptFile, "login.scr");
  EXPECT_STREQ(p.start.badPort, "x9");
  EXPECT_EQ(p.host, "sun");
  EXPECT_EQ(std::string(p.start.setupName), "qx220.stu");
  EXPECT_EQ(std::string(Parse("/i h").start.setupName), "IBM.STU");
}

TEST(CommandLine, OverlongLinesAreCutAtWordsAndBounded) {
  // 25 words: the 19th and later are dropped.
  std::string line;
  for (int i = 0; i < 25; ++i) line += "w" + std::to_string(i) + " ";
  TERM_COMMAND_LINE cl;
  TermSplitCommandLine(line.c_str(), cl);
  EXPECT_TRUE(cl.truncated);
  EXPECT_EQ(cl.count, 19);
  EXPECT_STREQ(cl.words[18], "w17");
  EXPECT_EQ(cl.words[19], nullptr);
  // 200 characters: cut at the last blank within 127, no word shortened.
  std::string longLine = "host " + std::string(60, 'a') + " " + std::string(60, 'b') + " " + std::string(70, 'c');
  TermSplitCommandLine(longLine.c_str(), cl);
  EXPECT_TRUE(cl.truncated);
  EXPECT_EQ(cl.count, 4);
  EXPECT_EQ(std::string(cl.words[3]), std::string(60, 'b'));
  // A terminal type and user names longer than their fields stay bounded.
  std::string big = "/t=" + std::string(50, 'T') + " /u=" + std::string(65, 'u') + " h";
  Parsed p = Parse(big.c_str());
  EXPECT_EQ(std::string(p.tn.termTypes[0]).size(), TERM_TYPE_MAX);
  EXPECT_EQ(std::string(p.start.remoteUser).size(), TERM_USER_MAX);
}

TEST(RecentHosts, InsertMovesAndShifts) {
  char hosts[RECENT_HOSTS][RECENT_ENTRY_MAX] = {};
  for (int i = 0; i < RECENT_HOSTS; ++i) snprintf(hosts[i], RECENT_ENTRY_MAX, "h%d", i);
  TermRecentInsert(hosts, "new");
  EXPECT_STREQ(hosts[0], "new");
  EXPECT_STREQ(hosts[1], "h0");
  EXPECT_STREQ(hosts[8], "h7");   // h8 fell off
  TermRecentInsert(hosts, "H4");  // already there (case ignored): moves up
  EXPECT_STREQ(hosts[0], "H4");
  EXPECT_STREQ(hosts[1], "new");
  EXPECT_STREQ(hosts[5], "h3");
  EXPECT_STREQ(hosts[6], "h5");
  char sparse[RECENT_HOSTS][RECENT_ENTRY_MAX] = {"a"};
  TermRecentInsert(sparse, "b");
  EXPECT_STREQ(sparse[0], "b");
  EXPECT_STREQ(sparse[1], "a");
  EXPECT_STREQ(sparse[2], "");
  char entry[RECENT_ENTRY_MAX];
  TermRecentEntry("h", 2323, false, entry, sizeof entry);
  EXPECT_STREQ(entry, "h (2323)");
  TermRecentEntry("h", 513, true, entry, sizeof entry);
  EXPECT_STREQ(entry, "h");
}

TEST(Rlogin, GreetingNamesAndDefaults) {
  using namespace std::string_literals;
  EXPECT_EQ(RloginGreeting("", "", "vt220", nullptr), "\0guest\0guest\0vt220\0"s);
  EXPECT_EQ(RloginGreeting("", "root", "vt220", "alice"), "\0alice\0root\0vt220\0"s);
  EXPECT_EQ(RloginGreeting("bob", "", "vt220", "alice"), "\0bob\0bob\0vt220\0"s);
  std::string g = RloginGreeting(std::string(300, 'x').c_str(), "", "vt220", nullptr);
  EXPECT_EQ(g.size(), 1 + 65 + 65 + 6u);
}

TEST(HostMap, FirstMatchingLineIgnoringCase) {
  const std::string map =
      "# alpha commented.stu\n"
      "ALPHA vt.stu ; comment\n"
      "alpha other.stu\n"
      "single\n"
      "beta\tb.stu;x\r\n" +
      std::string(130, 'z') + " gamma g.stu\n";
  std::string file;
  ASSERT_TRUE(HostMapFind(map, "Alpha", file));
  EXPECT_EQ(file, "vt.stu");
  ASSERT_TRUE(HostMapFind(map, "beta", file));
  EXPECT_EQ(file, "b.stu");
  EXPECT_FALSE(HostMapFind(map, "single", file));
  EXPECT_FALSE(HostMapFind(map, "gamma", file));  // the tail of an overlong line is no line
}

TEST(Script, TranslateStepsAndMatch) {
  EXPECT_EQ(ScriptTranslate("^A:^Afred^M\n^^x^"), std::string("\x01:\x01"
                                                              "fred\r^x"));
  EXPECT_EQ(ScriptForUser("fred"), std::string("\x01:\x01"
                                               "fred\r"));
  auto steps = ScriptSteps(std::string("\x02<\x01login:\x01joe\r\x01"));
  ASSERT_EQ(steps.size(), 3u);
  EXPECT_EQ(steps[0].kind, SCRIPT_STEP::WAIT);
  EXPECT_EQ(steps[0].text, "login:");
  EXPECT_EQ(steps[0].timeoutSeconds, '<');
  EXPECT_EQ(steps[1].kind, SCRIPT_STEP::TYPE);
  EXPECT_EQ(steps[1].text, "joe\r");  // the unclosed byte 1 is skipped
  EXPECT_EQ(steps[2].kind, SCRIPT_STEP::DONE);
  EXPECT_EQ(ScriptSteps(std::string("\x01:\x01", 3))[0].timeoutSeconds, 5);

  ScriptMatcher m("aab");
  bool matched = false;
  for (char c : std::string("xaaab")) matched = m.Feed((unsigned char)c);
  EXPECT_TRUE(matched);
  ScriptMatcher none("abc");
  for (char c : std::string("ababd")) EXPECT_FALSE(none.Feed((unsigned char)c));
}

}  // namespace
