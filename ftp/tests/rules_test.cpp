// The rules of "ftp.cfg": choosing a line by the greeting, each rule's
// operands and selectors as tables, and whole listings of servers the
// built-in types do not know (VMS-like, mainframe-like, two entries a line)
// fetched from a scripted server over a real data connection.
#include "ftpcore.h"
#include "qxtest/netns.h"
#include "scripted_server.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <fstream>

using ftptest::ScriptedServer;
using ftptest::ScriptStep;
using namespace std::string_literals;

namespace {

const auto *g_env = ::testing::AddGlobalTestEnvironment(new qxtest::OwnLoopbackNetwork);

// "name/size" for a directory, "name size" for a file, "-" for no entry.
std::string Parse(const std::string &rule, const std::string &line) {
  if (RuleDropsLine(rule, line)) return "dropped";
  ENTRY_NODE e;
  if (!ParseRuleLine(rule, line, &e)) return "-";
  const char *mark = e.flags == kEntryDirectory ? "/" : e.flags == (kEntryDirectory | kEntryMaybeDirectory) ? "@" : " ";
  return e.name + mark + std::to_string(e.size);
}

TEST(RuleSelection, GreetingTestsCommentsAndQuotedRuleLetters) {
  const std::string file =
      "# a comment H:\"Alpha\" F:F1\n"
      "\n"
      "      \n"
      "  H:\"Alpha\" h:\"Beta\" F:F1 L:\n"
      "H:\"One\" H:\"Two\" F:F2\n"
      "H:\"Delta\" L: S:1F2\n"  // names nothing: never chosen
      "H:\"Delta\" Z:\n"
      "I:A\"H:Gamma\" F:F3\n";  // the H: is quoted text: no greeting test
  struct Case {
    const char *greeting;
    const char *line;
  } cases[] = {
      {"220 Alpha ready", "H:\"Alpha\" h:\"Beta\" F:F1 L:\n"},
      {"220 Alpha and Beta", "I:A\"H:Gamma\" F:F3\n"},
      {"220 One only", "I:A\"H:Gamma\" F:F3\n"},
      {"220 Two and One", "H:\"One\" H:\"Two\" F:F2\n"},
      {"220 Delta", "H:\"Delta\" Z:\n"},
      {"220 alpha", "I:A\"H:Gamma\" F:F3\n"},  // case counts
  };
  for (const Case &c : cases) EXPECT_EQ(SelectRuleLine(file, c.greeting), c.line) << c.greeting;
  EXPECT_EQ(SelectRuleLine("# nothing\n\n", "220 Alpha"), "");
  // Lines longer than 131 characters are read in pieces, each a line.
  const std::string longLine = "H:\"Alpha\"" + std::string(130, ' ') + "F:F9\n";
  EXPECT_EQ(SelectRuleLine(longLine, "220 Alpha"), "F:F9\n");
}

TEST(RuleSelection, FtpCfgFoundInTheCurrentDirectory) {
  char old[4096];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  char dir[] = "/tmp/qxftpcfg-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  ASSERT_TRUE(SetCurrentDirectoryA(dir));
  std::ofstream(std::string(dir) + "/ftp.cfg") << "H:\"Omega\" F:F1\r\n";
  EXPECT_EQ(SelectHostRule("220 Omega FTP"), "H:\"Omega\" F:F1\r\n");
  EXPECT_EQ(SelectHostRule("220 Other FTP"), "");
  unlink((std::string(dir) + "/ftp.cfg").c_str());
  EXPECT_EQ(SelectHostRule("220 Omega FTP"), "");  // no file: no selection
  ASSERT_TRUE(SetCurrentDirectoryA(old));
  rmdir(dir);
}

TEST(RuleLines, TheVmsStyleRuleLine) {
  const std::string rule = "H:\"Alpha\" h:\"Beta\" I:s20\"\" F:F1 S:512F2 D:E\".DIR;1\" L:";
  struct Case {
    const char *line, *want;
  } cases[] = {
      {"SUB.DIR;1          3  1-JAN-1995 12:00", "sub/1536"},
      {"README.TXT;2      10  1-JAN-1995 12:00", "readme.txt;2 5120"},
      {"X.TXT;1  1", "dropped"},                  // shorter than 20
      {".DIR;1             1  1-JAN-1995", "-"},  // the ending cut leaves no name
      {"A.DIR;1X           1  1-JAN-1995", "a.dir;1x 512"},
  };
  for (const Case &c : cases) EXPECT_EQ(Parse(rule, c.line), c.want) << c.line;
}

TEST(RuleLines, DropSelectors) {
  const std::string line = "-rw  12 joe  data.txt";
  struct Case {
    const char *rule;
    bool dropped;
  } cases[] = {
      {"I:A\"joe\" F:F1", true},
      {"I:a\"joe\" F:F1", false},
      {"I:C5\"12\" F:F1", false},
      {"I:C6\"12\" F:F1", true},
      {"I:c6\"12\" F:F1", false},
      {"I:P4\"da\" F:F1", true},
      {"I:p4\"da\" F:F1", false},
      {"I:S20 F:F1", true},
      {"I:S21 F:F1", false},
      {"I:s22 F:F1", true},
      {"I:s21 F:F1", false},
      {"I:x1\"-\" F:F1", false},
      {"I:a\"zz\" I:A\"qq\" F:F1", true},  // every I: counts, the first that holds drops
      {"I:C99\"x\" F:F1", false},          // a column past the end starts with nothing
  };
  for (const Case &c : cases) EXPECT_EQ(RuleDropsLine(c.rule, line), c.dropped) << c.rule;
}

TEST(RuleLines, NameSizeAndDirectorySelectors) {
  // Columns 10..20 hold two blanks, "abc" and blanks.
  const std::string line = "  x        abc      12 512 1,024 Joe.Dir";
  struct Case {
    const char *rule, *want;
  } cases[] = {
      {"F:C10-20", "abc 0"},
      {"F:C10", "  abc 0"},
      {"F:C10,I:A\"-\"", "  abc 0"},  // a ',' ends the column rule before a later '-'
      {"F:C11-12", "-"},              // first non-blank at column 12: nothing before m
      {"F:C2-4", "x 0"},
      {"F:C2-3", "-"},  // the name starts at column m: nothing before it
      {"F:D3", "12.512 0"},
      {"F:F6 S:1F5", "Joe.Dir 1024"},
      {"F:F6 S:1D3", "Joe.Dir 6144"},  // 12 x 512
      {"F:F6 S:0F3", "Joe.Dir 12"},    // no multiplier is 1
      {"F:F6 S:2C21-22", "Joe.Dir 24"},
      {"F:F6 D:E\".Dir\"", "Joe/0"},
      {"F:F6 D:e\".Dir\"", "Joe 0"},  // ends with it: cut, not marked
      {"F:F6 D:e\".Txt\"", "Joe.Dir/0"},
      {"F:F6 D:P2\"ab\"", "Joe.Dir/0"},
      {"F:F6 D:p2\"ab\"", "Joe.Dir 0"},
      {"F:F6 D:S\"Jo\"", "Joe.Dir/0"},
      {"F:F6 D:s\"Jo\"", "Joe.Dir 0"},
      {"F:F6 D:C3\"x\"", "Joe.Dir/0"},
      {"F:F6 D:c3\"x\"", "Joe.Dir 0"},
      {"F:F6 K:S\"J\"", "Joe.Dir@0"},
      {"F:F6 D:S\"J\" K:S\"J\"", "Joe.Dir@0"},
      {"F:F6 L:", "joe.dir 0"},
      {"F:F6 D:E\"a very long ending indeed\"", "Joe.Dir 0"},  // longer than the name: no test
      {"F:F9", "-"},                                           // no such field
      {"S:1F5", "-"},                                          // no name rule
  };
  for (const Case &c : cases) EXPECT_EQ(Parse(c.rule, line), c.want) << c.rule;
  EXPECT_EQ(Parse("F:F1", ". 1"), "-");  // "." is never an entry
}

TEST(RuleLines, QuoteSplitAndSubdirectoryRules) {
  EXPECT_EQ(RuleQuoteCharacter("F:F1 W:39"), '\'');
  EXPECT_EQ(RuleQuoteCharacter("F:F1"), '"');
  EXPECT_EQ(RuleQuoteCharacter("F:F1 W:0"), '"');    // would search for the string's end
  EXPECT_EQ(RuleQuoteCharacter("F:F1 W:300"), '"');  // no such byte
  std::string directory;
  ASSERT_TRUE(ParsePwdReply("257 'USER1.JCL' is current", RuleQuoteCharacter("W:39"), &directory));
  EXPECT_EQ(directory, "USER1.JCL");

  const std::string eighty(80, 'x');
  EXPECT_EQ(RuleSplitColumn("B:40 F:F1", eighty), 39u);
  EXPECT_EQ(RuleSplitColumn("B:40 F:F1", std::string(40, 'x')), 0u);
  EXPECT_EQ(RuleSplitColumn("B:1 F:F1", eighty), 0u);  // would split off the whole line forever
  EXPECT_EQ(RuleSplitColumn("B:-5 F:F1", eighty), 0u);

  EXPECT_EQ(RuleSubdirectoryPath("F:F1 C:1\".\"", "[JOE]", "DOCS"), "[JOE.DOCS]");
  EXPECT_EQ(RuleSubdirectoryPath("F:F1 C:0\"/\"", "/u/joe", "docs"), "/u/joe/docs");
  EXPECT_EQ(RuleSubdirectoryPath("F:F1 C:99\".\"", "[J]", "D"), ".D[J]");  // cut no more than the path
  EXPECT_EQ(RuleSubdirectoryPath("F:F1", "[JOE]", "DOCS"), "");
  EXPECT_EQ(RuleAddedDirectories("A:\"up\" F:F1 A:\"root\""), (std::vector<std::string>{"up", "root"}));
  EXPECT_EQ(RuleAddedDirectories("A: F:F1 A:\"\" A:\"root\" A:"s + "A:\"\0up\""s), (std::vector<std::string>{"root"}));
}

// ---- Whole listings over a data connection ----

ScriptStep Send(const std::string &bytes) { return {ScriptStep::kSend, bytes}; }
ScriptStep Expect(const std::string &line) { return {ScriptStep::kExpectLine, line}; }

struct QuietUi : FtpUi {
  std::vector<std::string> errors;
  int asks = 0;
  void ShowError(const char *text, const char *) override { errors.push_back(text); }
  bool AskLogUnknownHost() override {
    ++asks;
    return false;
  }
};

// A 40-column half of a line of two entries.
std::string Half(const std::string &text) { return text + std::string(40 - text.size(), ' '); }

struct ListingCase {
  const char *what;
  const char *rule;
  const char *verb;
  std::string listing;
  const char *pwd;
  std::vector<std::string> want;
  const char *path;
};

class RuleListing : public ::testing::TestWithParam<ListingCase> {};

TEST_P(RuleListing, EntriesAndPath) {
  const ListingCase &c = GetParam();
  QuietUi ui;
  SetFtpUi(&ui);
  g_Panes[0] = FTP_PANE();
  strcpy(g_Panes[0].host, "127.0.0.1");
  g_Panes[0].kind = kHostRules;
  g_Panes[0].ruleLine = c.rule;
  ScriptedServer server({Send("220 hi\r\n"),
                         Expect("PORT"),
                         Send("200 PORT ok\r\n"),
                         Expect(c.verb),
                         Send("150 Here it comes.\r\n"),
                         {ScriptStep::kConnectData, "127.0.0.1|" + c.listing},
                         Send("226 Done.\r\n"),
                         Expect("PWD"),
                         Send(std::string(c.pwd) + "\r\n")});
  ASSERT_TRUE(server.Listening());
  ASSERT_NE(FtpConnect(0), INVALID_SOCKET);
  ASSERT_EQ(ReadReply(0, 0), 2);
  EXPECT_EQ(ParseRemoteListing(0), 1);
  std::vector<std::string> got;
  for (const ENTRY_NODE &e : g_Panes[0].entries) {
    const char *mark = e.flags == kEntryDirectory                            ? "/"
                       : e.flags == (kEntryDirectory | kEntryMaybeDirectory) ? "@"
                                                                             : " ";
    got.push_back(e.name + mark + std::to_string(e.size));
  }
  EXPECT_EQ(got, c.want);
  EXPECT_STREQ(g_Panes[0].path, c.path);
  EXPECT_EQ(g_Panes[0].kind, kHostRules);
  EXPECT_EQ(ui.asks, 0);  // a rules host is never an unknown host
  EXPECT_TRUE(ui.errors.empty()) << ui.errors.front();
  closesocket(g_Panes[0].control);
  g_Panes[0].control = INVALID_SOCKET;
  EXPECT_TRUE(server.Finish());
  SetFtpUi(nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, RuleListing,
    ::testing::Values(ListingCase{"VmsLike",
                                  "H:\"VAX\" I:a\";\" F:F1 S:512F2 D:E\".DIR;1\" L: W:39 C:1\".\"",
                                  "LIST",
                                  "Directory USR:[JOE]\r\n\r\n"
                                  "DOCS.DIR;1           2  12-MAR-1999 10:00:00\r\n"
                                  "LOGIN.COM;12         4  12-MAR-1999 10:00:00\r\n"
                                  "NOTES.TXT;3      1,000  12-MAR-1999 10:00:00\r\n"
                                  "\r\nTotal of 3 files.\r\n",
                                  "257 'USR:[JOE]' is current directory",
                                  {"./0", "docs/1024", "login.com;12 2048", "notes.txt;3 512000"},
                                  "127.0.0.1:USR:[JOE]"},
                      ListingCase{"MainframeLike",
                                  "H:\"MVS\" I:P1\"Volume\" I:P1\"Migrated\" F:F10 D:P9\"PO\" S:1F5 A:\"'SYS1'\"",
                                  "LIST",
                                  "Volume Unit    Referred Ext Used Recfm Lrecl BlkSz Dsorg Dsname\r\n"
                                  "WORK01 3390   2024/01/02  1   15  FB      80  3120  PO  JCL.CNTL\r\n"
                                  "WORK01 3390   2024/01/02  1    2  VB     255 27998  PS  LOG.DATA\r\n"
                                  "Migrated                                                SPOOL.OUT\r\n",
                                  "257 \"'JOE.'\" is working directory",
                                  {"'SYS1'/0", "./0", "JCL.CNTL/15", "LOG.DATA 2"},
                                  "127.0.0.1:'JOE.'"},
                      // Two entries a line in 40-column halves; the second half of a line
                      // that I: drops is not split again; B:1 would never end.
                      ListingCase{"SplitLines",
                                  "H:\"Twin\" B:41 I:C1\"unused\" F:F1 S:1F2 K:E\"/\"",
                                  "LIST",
                                  Half("alpha.txt     120") + Half("beta/           0") + "\r\n" +
                                      Half("gamma.bin   99999") + Half("unused slot") + "\r\n" +
                                      "delta.txt       7\r\n",
                                  "257 \"/twin\"",
                                  {"./0", "alpha.txt 120", "beta@0", "gamma.bin 99999", "delta.txt 7"},
                                  "127.0.0.1:/twin"},
                      ListingCase{"SplitBelowTwoIgnored",
                                  "B:1 F:F1 S:1F2",
                                  "LIST",
                                  "one 1\r\ntwo 2\r\n",
                                  "257 \"/\"",
                                  {"./0", "one 1", "two 2"},
                                  "127.0.0.1:/"},
                      ListingCase{"NamesOnly",
                                  "H:\"Plain\" Z:",
                                  "NLST",
                                  "a\r\n.\r\nb c\r\n",
                                  "257 \"/p\"",
                                  {"./0", "a@0", "b c@0"},
                                  "127.0.0.1:/p"}),
    [](const ::testing::TestParamInfo<ListingCase> &param) { return std::string(param.param.what); });

}  // namespace
