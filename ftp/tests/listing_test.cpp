// The listing parser: field and column routines, host-type detection, each
// built-in host type's lines as a table, the line reader, and whole listings
// fetched from a scripted server over a real data connection.
#include "ftpcore.h"
#include "qxtest/netns.h"
#include "scripted_server.h"

#include <gtest/gtest.h>

#include <cstring>

using ftptest::ScriptedServer;
using ftptest::ScriptStep;

namespace {

const auto *g_env = ::testing::AddGlobalTestEnvironment(new qxtest::OwnLoopbackNetwork);

TEST(ListingFields, FieldWordAndRange) {
  EXPECT_EQ(ListField("  a\tbb  ccc", 1), "a");
  EXPECT_EQ(ListField("  a\tbb  ccc", 0), "a");
  EXPECT_EQ(ListField("  a\tbb  ccc", 2), "bb");
  EXPECT_EQ(ListField("  a\tbb  ccc", 3), "ccc");
  EXPECT_EQ(ListField("  a\tbb  ccc", 4), "");
  EXPECT_EQ(ListField(std::string(300, 'x'), 1).size(), 127u);
  EXPECT_EQ(ColumnWord("abc   def ghi", 3), "   def");
  EXPECT_EQ(ColumnWord("abc", 5), "");
  EXPECT_EQ(ColumnRange("0123456789  abc  xyz", 10, 16), "abc");
  EXPECT_EQ(ColumnRange("0123456789  abc  xyz", 10, 11), "");
  EXPECT_EQ(ColumnRange("short", 10, 20), "");
  EXPECT_EQ(ColumnRange("0123456789  abcdefgh", 10, 40), "abcdefgh");
}

TEST(ListingDetect, FirstLineDecides) {
  struct {
    const char *first, *second;
    int kind;
  } cases[] = {
      {"total 3", "", kHostUnix},
      {"TOTAL 12", "", kHostUnix},
      {"drwxr-xr-x    2 0        0            4096 Jan 01 12:00 bin", "", kHostUnix},
      {"-rw-r--r--+ 1 joe staff 42 Jan  1 12:00 acl", "", kHostUnix},
      {"lrwxrwxrwx. 1 joe staff 11 Jan  1 12:00 lib -> usr/lib", "", kHostUnix},
      {"d   ------    staff 512 x x x bin", "", kHostStaff},
      {"DISK$USER:[JOE]", "", kHostVms},
      {"@", "DISK$USER:[JOE]", kHostVms},
      {"readme.txt", "", kPaneClosed},
      {"drwxr-xr-x", "", kPaneClosed},
      {"@", "", kPaneClosed},
  };
  for (const auto &c : cases) EXPECT_EQ(DetectHostKind(c.first, c.second), c.kind) << c.first;
}

struct EntryCase {
  const char *line;
  bool ok;
  const char *name;
  unsigned flags;
  uint64_t size;
};

void CheckEntries(const EntryCase *cases, size_t count, bool (*parse)(const std::string &, ENTRY_NODE *)) {
  for (size_t i = 0; i < count; ++i) {
    const EntryCase &c = cases[i];
    ENTRY_NODE entry;
    ASSERT_EQ(parse(c.line, &entry), c.ok) << c.line;
    if (!c.ok) continue;
    EXPECT_EQ(entry.name, c.name) << c.line;
    EXPECT_EQ(entry.flags, c.flags) << c.line;
    EXPECT_EQ(entry.size, c.size) << c.line;
  }
}

TEST(ListingUnix, LinesOfEveryShape) {
  const EntryCase cases[] = {
      {"drwxr-xr-x  2 joe  staff  512 Jan  1 12:00 bin", true, "bin", kEntryDirectory, 512},
      {"-rw-r--r--  1 joe  staff 1200 Jan  1 12:00 a b.txt", true, "a b.txt", 0, 1200},
      {"drwxr-xr-x  2 joe  512 Jan  1 12:00 bin", true, "bin", kEntryDirectory, 512},
      {"-rw-r--r--  1 joe 1200 Jan  1 12:00 a b.txt", true, "a b.txt", 0, 1200},
      {"lrwxrwxrwx  1 joe staff 11 Jan  1 12:00 lib -> usr/lib", true, "lib", kEntryDirectory | kEntryMaybeDirectory,
       11},
      {"-rw-r--r--  1 joe staff 5 Jan  1 12:00 a -> b", true, "a -> b", 0, 5},
      {"-rw-r--r--  1 joe staff 5 Jan  1 12:00   two leading", true, "  two leading", 0, 5},
      {"-rw-r--r--  1 joe staff 5368709120 Mar  3  2019 big", true, "big", 0, 5368709120ull},
      {"-rw-r--r--    1 0        0       5368709120 Mar 03  2019 big", true, "big", 0, 5368709120ull},
      {"-rw-r--r--+ 1 joe staff 42 Jan  1 12:00 acl", true, "acl", 0, 42},
      {"drwxr-xr-x123 joe staff 4096 Jan  1 12:00 many", true, "many", kEntryDirectory, 4096},
      {"drwxr-xr-x    2 0        0            4096 Jan 01 12:00 bin", true, "bin", kEntryDirectory, 4096},
      {"-rw-r--r-- 1 ftp ftp 7 Dec 31 23:59 Jan", true, "Jan", 0, 7},
      {"total 3", false, nullptr, 0, 0},
      {"-rw-r--r--  1 joe staff 5 Jan  1 12:00", false, nullptr, 0, 0},
  };
  CheckEntries(cases, std::size(cases), [](const std::string &l, ENTRY_NODE *e) { return ParseUnixLine(l, 1, e); });
}

TEST(ListingOtherHosts, StaffVmsAndNames) {
  const EntryCase staff[] = {
      {"d   ------    staff 512 x x x bin", true, "bin", kEntryDirectory, 512},
      {"-   ------    staff 1200 x x x readme", true, "readme", 0, 1200},
      {"short", false, nullptr, 0, 0},
  };
  CheckEntries(staff, std::size(staff), ParseStaffLine);
  const EntryCase names[] = {
      {"a", true, "a", kEntryDirectory | kEntryMaybeDirectory, 0},
      {"  blank lead", true, "  blank lead", kEntryDirectory | kEntryMaybeDirectory, 0},
      {".", false, nullptr, 0, 0},
      {"..", false, nullptr, 0, 0},
  };
  CheckEntries(names, std::size(names), ParseNameLine);
  const EntryCase vms[] = {
      {"FOO.TXT;3   4  1-JAN-1995 12:00 [JOE] (RWED,RWED,,)", true, "foo.txt;3", 0, 2048},
      {"BAR.DIR;1   1  1-JAN-1995 12:00 [JOE] (RWED,RWED,,)", true, "bar", kEntryDirectory, 512},
      {"DISK$USER:[JOE]", false, nullptr, 0, 0},
      {".DIR;1   1  1-JAN-1995 12:00 [JOE] (RWED,RWED,,)", false, nullptr, 0, 0},
      {"  .DIR;1", false, nullptr, 0, 0},
  };
  CheckEntries(vms, std::size(vms), [](const std::string &l, ENTRY_NODE *e) {
    bool used;
    return ParseVmsLine(l, nullptr, e, &used);
  });
  ENTRY_NODE entry;
  bool used = false;
  const std::string continuation = "        7  1-JAN-1995 12:00 [JOE] (RWED,RWED,,)";
  ASSERT_TRUE(ParseVmsLine("AVERYLONGFILENAMEINDEEDITIS.TXT;1", &continuation, &entry, &used));
  EXPECT_TRUE(used);
  EXPECT_EQ(entry.name, "averylongfilenameindeeditis.txt;1");
  EXPECT_EQ(entry.size, 7u * 512);
}

// Scripted servers on 127.0.0.1:21, with a data connection.
struct RecordingUi : FtpUi {
  int asks = 0;
  bool answer = false;
  std::vector<std::string> errors;
  void ShowError(const char *text, const char *caption) override { errors.push_back(text); }
  bool AskLogUnknownHost() override {
    ++asks;
    return answer;
  }
};

ScriptStep Send(const std::string &bytes) { return {ScriptStep::kSend, bytes}; }
ScriptStep Expect(const std::string &line) { return {ScriptStep::kExpectLine, line}; }
ScriptStep Data(const std::string &bytes) { return {ScriptStep::kConnectData, "127.0.0.1|" + bytes}; }
ScriptStep Pause(int ms) { return {ScriptStep::kPause, std::to_string(ms)}; }

std::vector<ScriptStep> ListingExchange(const char *verb, const std::string &listing) {
  return {Expect("PORT"),
          Send("200 PORT ok\r\n"),
          Expect(verb),
          Send("150 Here comes the listing.\r\n"),
          Data(listing),
          Pause(100),
          Send("226 Directory send OK.\r\n")};
}

class WholeListing : public ::testing::Test {
 protected:
  void SetUp() override {
    SetFtpUi(&ui);
    g_Panes[0] = FTP_PANE();
    strcpy(g_Panes[0].host, "127.0.0.1");
  }
  void TearDown() override {
    if (g_Panes[0].control != INVALID_SOCKET) closesocket(g_Panes[0].control);
    g_Panes[0].control = INVALID_SOCKET;
    SetFtpUi(nullptr);
  }
  // Runs the script (greeting, listings, PWD) and ParseRemoteListing.
  std::vector<std::string> List(std::vector<std::vector<ScriptStep>> exchanges) {
    std::vector<ScriptStep> script = {Send("220 hi\r\n")};
    for (auto &e : exchanges) script.insert(script.end(), e.begin(), e.end());
    script.push_back(Expect("PWD"));
    script.push_back(Send("257 \"/home/joe\"\r\n"));
    ScriptedServer server(script);
    EXPECT_NE(FtpConnect(0), INVALID_SOCKET);
    EXPECT_EQ(ReadReply(0, 0), 2);
    EXPECT_EQ(ParseRemoteListing(0), 1);
    std::vector<std::string> names;
    for (const ENTRY_NODE &e : g_Panes[0].entries)
      names.push_back(e.name + (e.flags & kEntryDirectory ? "/" : "") + std::to_string(e.size));
    closesocket(g_Panes[0].control);
    g_Panes[0].control = INVALID_SOCKET;
    EXPECT_TRUE(server.Finish());
    return names;
  }
  RecordingUi ui;
};

TEST_F(WholeListing, UnixWithTotalLineAndNoFinalLineFeed) {
  const auto names = List({ListingExchange("LIST",
                                           "total 3\r\n"
                                           "drwxr-xr-x  2 joe  staff  512 Jan  1 12:00 bin\r\n"
                                           "-rw-r--r--  1 joe  staff 1200 Jan  1 12:00 a b.txt\r\n"
                                           "lrwxrwxrwx  1 joe staff 11 Jan  1 12:00 lib -> usr/lib")});
  EXPECT_EQ(names, (std::vector<std::string>{"./0", "../0", "bin/512", "a b.txt1200", "lib/11"}));
  EXPECT_EQ(g_Panes[0].kind, kHostUnix);
  EXPECT_STREQ(g_Panes[0].path, "127.0.0.1:/home/joe");
  EXPECT_EQ(ui.asks, 0);
}

TEST_F(WholeListing, UnixWithoutTotalLine) {
  const auto names = List({ListingExchange("LIST",
                                           "drwxr-xr-x    2 0        0            4096 Jan 01 12:00 bin\r\n"
                                           "-rw-r--r--    1 0        0               5 Jan 01  2020 x y\r\n")});
  EXPECT_EQ(names, (std::vector<std::string>{"./0", "../0", "bin/4096", "x y5"}));
}

TEST_F(WholeListing, VmsWithContinuationLine) {
  const auto names = List({ListingExchange("LIST",
                                           "\r\nDISK$USER:[JOE]\r\n\r\n"
                                           "FOO.TXT;3   4  1-JAN-1995 12:00 [JOE] (RWED,RWED,,)\r\n"
                                           "AVERYLONGFILENAMEINDEEDITIS.TXT;1\r\n"
                                           "        7  1-JAN-1995 12:00 [JOE] (RWED,RWED,,)\r\n"
                                           "BAR.DIR;1   1  1-JAN-1995 12:00 [JOE] (RWED,RWED,,)\r\n")});
  EXPECT_EQ(names, (std::vector<std::string>{"[-]/0", "./0", "foo.txt;32048", "averylongfilenameindeeditis.txt;13584",
                                             "bar/512"}));
}

TEST_F(WholeListing, UnknownHostAsksOnceThenListsNames) {
  const auto names = List({ListingExchange("LIST", "Listing of the home directory\r\nsomething\r\n"),
                           ListingExchange("NLST", "a\r\n.\r\n..\r\nb\r\n")});
  EXPECT_EQ(names, (std::vector<std::string>{"./0", "../0", "a/0", "b/0"}));
  EXPECT_EQ(g_Panes[0].kind, kHostNameList);
  EXPECT_EQ(ui.asks, 1);
  for (size_t i = 2; i < g_Panes[0].entries.size(); ++i)
    EXPECT_EQ(g_Panes[0].entries[i].flags, kEntryDirectory | kEntryMaybeDirectory);
}

TEST_F(WholeListing, EmptyListingOfUnknownHostListsAgainWithNlst) {
  const auto names = List({ListingExchange("LIST", ""), ListingExchange("NLST", "only\r\n")});
  EXPECT_EQ(names, (std::vector<std::string>{"./0", "../0", "only/0"}));
  EXPECT_EQ(ui.asks, 1);
}

TEST_F(WholeListing, LineReaderCutsLongLinesAndKeepsTheRest) {
  const std::string huge(1500, 'n');
  const auto names = List({ListingExchange("LIST", "-rw-r--r-- 1 joe staff 1 Jan  1 12:00 " + huge +
                                                       "\r\n-rw-r--r-- 1 joe staff 2 Jan  1 12:00 after\r\n")});
  ASSERT_EQ(names.size(), 4u);
  EXPECT_EQ(names[2].size(), 1023u - strlen("-rw-r--r-- 1 joe staff 1 Jan  1 12:00 ") + 1);
  EXPECT_EQ(names[3], "after2");
}

}  // namespace
