// The remote programs' pieces that need no peer: the options, the first
// reserved port, the local-side user and the remote rcp's file line.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "rcmd.h"
#include "rcp.h"

namespace {

TEST(RcmdOptions, LettersInEitherCaseAndTheUsageForOthers) {
  struct Case {
    const char *line;
    BOOL exec;
    BOOL ok;
    const char *remote, *local, *password;
  };
  const std::vector<Case> cases = {
      {"/L=joe", TRUE, TRUE, "joe", "", ""},
      {"  -l=ann /u=me /P=secret other words", TRUE, TRUE, "ann", "me", "secret"},
      {"/lXjoe", FALSE, TRUE, "joe", "", ""},   // the third character is not looked at
      {"/p=secret", FALSE, FALSE, "", "", ""},  // no password on the shell service
      {"/x=1", TRUE, FALSE, "", "", ""},
      {"", TRUE, TRUE, "", "", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.line);
    RCMD_OPTIONS options{};
    EXPECT_EQ(RcmdParseOptions(c.line, c.exec, &options), c.ok);
    if (!c.ok) continue;
    EXPECT_STREQ(options.remoteUser, c.remote);
    EXPECT_STREQ(options.localUser, c.local);
    EXPECT_STREQ(options.password, c.password);
  }
}

TEST(RcmdOptions, LocalSideUserAndFirstPort) {
  RCMD_OPTIONS options{};
  setenv("USERNAME", "pat", 1);
  EXPECT_EQ(RcmdLocalSideUser(options), "pat");
  RcmdParseOptions("/l=joe", TRUE, &options);
  EXPECT_EQ(RcmdLocalSideUser(options), "joe");
  // The pair (port, port + 1) always stays reserved.
  for (long now : {0L, 422L, 423L, 845L, 1700000000L}) {
    const int port = RcmdFirstPort(now);
    EXPECT_GE(port, 600) << now;
    EXPECT_LE(port + 1, RCMD_RESERVED_HIGH) << now;
  }
}

TEST(RcpFileLine, OnlyAPlainFileLineIsTaken) {
  struct Case {
    const char *line;
    BOOL ok;
    unsigned mode;
    std::uint64_t size;
    const char *name;
  };
  const std::vector<Case> cases = {
      {"C0644 1048576 data.bin", TRUE, 0644, 1048576, "data.bin"},
      {"C0700 0 empty", TRUE, 0700, 0, "empty"},
      {"C0644 12 name with blanks", TRUE, 0644, 12, "name with blanks"},
      {"D0755 0 folder", FALSE, 0, 0, ""},
      {"C0644 -5 negative", FALSE, 0, 0, ""},
      {"C0644 +5 signed", FALSE, 0, 0, ""},
      {"C0648 5 not-octal", FALSE, 0, 0, ""},
      {"C0644 99999999999999999999 huge", FALSE, 0, 0, ""},
      {"C0644 2000000000000 past-the-limit", FALSE, 0, 0, ""},
      {"C0644 12", FALSE, 0, 0, ""},
      {"C", FALSE, 0, 0, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.line);
    RCP_FILE_LINE parsed{};
    ASSERT_EQ(RcpParseFileLine(c.line, &parsed), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(parsed.mode, c.mode);
    EXPECT_EQ(parsed.size, c.size);
    EXPECT_STREQ(parsed.name, c.name);
  }
}

}  // namespace
