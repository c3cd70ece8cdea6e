// The control connection against scripted servers on 127.0.0.1:21 of the
// test's own network namespace: the reply reader, bounded commands, the login
// sequence, PORT and the data-connection accept.
#include "ftpcore.h"
#include "qxtest/netns.h"
#include "scripted_server.h"

#include <gtest/gtest.h>

#include <cstring>

using ftptest::ScriptedServer;
using ftptest::ScriptStep;

namespace {

const auto *g_env = ::testing::AddGlobalTestEnvironment(new qxtest::OwnLoopbackNetwork);

// What the session showed a person.
struct RecordingUi : FtpUi {
  std::vector<std::string> errors, info;
  void ShowError(const char *text, const char *caption) override { errors.push_back(text); }
  void InfoAdd(const char *line) override { info.push_back(line); }
};

ScriptStep Send(const std::string &bytes) { return {ScriptStep::kSend, bytes}; }
ScriptStep Expect(const std::string &line) { return {ScriptStep::kExpectLine, line}; }
ScriptStep Pause(int ms) { return {ScriptStep::kPause, std::to_string(ms)}; }
ScriptStep Close() { return {ScriptStep::kClose, ""}; }

class ControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetFtpUi(&ui);
    g_Unattended = 0;
    g_Abort = 0;
    g_Panes[0] = FTP_PANE();
    strcpy(g_Panes[0].host, "127.0.0.1");
  }
  void TearDown() override {
    if (g_Panes[0].control != INVALID_SOCKET) closesocket(g_Panes[0].control);
    g_Panes[0].control = INVALID_SOCKET;
    SetFtpUi(nullptr);
  }
  bool Connect() {
    if (FtpConnect(0) != INVALID_SOCKET) return true;
    ADD_FAILURE() << "connecting to 127.0.0.1:21 failed: " << (ui.errors.empty() ? "" : ui.errors.back()) << ", error "
                  << WSAGetLastError();
    return false;
  }
  RecordingUi ui;
};

struct ReplyCase {
  const char *what;
  std::string bytes;
  int quiet;
  int result;
  const char *lastLine;
  int infoLines;
  int errors;
};

TEST_F(ControlTest, ReplyReaderTable) {
  const std::string longLine = "220 " + std::string(296, 'x') + "\r\n";
  const ReplyCase cases[] = {
      {"multi-line reply with an unnumbered line", "220-Welcome\r\n  to the host\r\n220-again\r\n220 Ready\r\n", 0, 2,
       "220 Ready", 4, 0},
      {"single line", "230 User logged in, proceed.\r\n", 0, 2, "230 User logged in, proceed.", 0, 0},
      {"telnet negotiation inside the lines",
       std::string("22\xff\xfb\x01"
                   "0 Hel\xff\xfd\x03lo\r\n"),
       0, 2, "220 Hello", 0, 0},
      {"other telnet command dropped with its IAC", std::string("331 pass\xff\xf1word\r\n"), 0, 3, "331 password", 0,
       0},
      {"line ends in LF alone", "550 No such file\n", 0, 5, "550 No such file", 0, 0},
      {"service closing", "421 Service not available, closing control connection.\r\n", 0, -1,
       "421 Service not available, closing control connection.", 0, 0},
      {"continuation lines with other codes", "150-a\r\n200-b\r\n150 end\r\n", 0, 1, "150 end", 3, 0},
      {"a line of 300 characters is cut to 255", longLine, 0, 2, nullptr, 0, 0},
      {"non-digit start", "xyz\r\n", 0, 'x' - '0', "xyz", 0, 0},
      {"close in mid-reply", "220-first\r\n220", 0, -1, nullptr, 0, 1},
      {"close in mid-reply, quiet", "220-first\r\n220", 1, 0, nullptr, 0, 0},
  };
  for (const ReplyCase &c : cases) {
    SCOPED_TRACE(c.what);
    ui.errors.clear();
    ui.info.clear();
    {
      ScriptedServer server({Send(c.bytes), Close()});
      ASSERT_TRUE(server.Listening());
      ASSERT_TRUE(Connect());
      EXPECT_EQ(ReadReply(c.quiet, 0), c.result);
      if (c.lastLine) {
        EXPECT_STREQ(LastReplyLine(), c.lastLine);
      }
      EXPECT_EQ(static_cast<int>(ui.info.size()), c.infoLines);
      EXPECT_EQ(static_cast<int>(ui.errors.size()), c.errors);
      closesocket(g_Panes[0].control);
      g_Panes[0].control = INVALID_SOCKET;
    }
  }
}

TEST_F(ControlTest, MultiLineReplyGoesToInfoInOrderButNotWhenUnattended) {
  for (int unattended = 0; unattended < 2; ++unattended) {
    ui.info.clear();
    g_Unattended = unattended;
    ScriptedServer server({Send("220-Welcome\r\n  x\r\n220-again\r\n220 Ready\r\n")});
    ASSERT_TRUE(Connect());
    EXPECT_EQ(ReadReply(0, 0), 2);
    EXPECT_EQ(FirstReplyLine(), "220-Welcome");
    if (unattended)
      EXPECT_TRUE(ui.info.empty());
    else
      EXPECT_EQ(ui.info, (std::vector<std::string>{"220-Welcome", "  x", "220-again", "220 Ready"}));
    closesocket(g_Panes[0].control);
    g_Panes[0].control = INVALID_SOCKET;
  }
}

TEST_F(ControlTest, LongLineIsReadToItsLineFeed) {
  ScriptedServer server({Send("220 " + std::string(296, 'x') + "\r\n331 next\r\n")});
  ASSERT_TRUE(Connect());
  EXPECT_EQ(ReadReply(0, 0), 2);
  EXPECT_EQ(strlen(LastReplyLine()), 255u);
  EXPECT_EQ(ReadReply(0, 0), 3);
  EXPECT_STREQ(LastReplyLine(), "331 next");
}

TEST_F(ControlTest, CommandsThatWouldBreakTheLineAreRefused) {
  ScriptedServer server({Send("220 hi\r\n"), Expect("CWD /pub/a b"), Send("250 ok\r\n")});
  ASSERT_TRUE(Connect());
  ASSERT_EQ(ReadReply(0, 0), 2);
  const std::string injected = "x\r\nDELE y", withNul = std::string("a\0b", 3), tooLong(260, 'd');
  EXPECT_EQ(FtpCommand(0, "RETR", &injected), -1);
  EXPECT_EQ(FtpCommand(0, "RETR", &withNul), -1);
  EXPECT_EQ(FtpCommand(0, "CWD", &tooLong), -1);
  EXPECT_EQ(ui.errors.size(), 3u);
  const std::string blanks = "/pub/a b";
  EXPECT_EQ(FtpCommandReply(0, "CWD", &blanks), 2);
  closesocket(g_Panes[0].control);
  g_Panes[0].control = INVALID_SOCKET;
  ASSERT_TRUE(server.Finish());
  EXPECT_EQ(server.Received(), std::vector<std::string>{"CWD /pub/a b"});
}

struct LoginCase {
  const char *what;
  LOGIN_FIELDS fields;
  std::vector<ScriptStep> script;
  int result;
};

TEST_F(ControlTest, LoginSequences) {
  const LoginCase cases[] = {
      {"anonymous with the anonymous password",
       {"", "", "", "guest@"},
       {Send("220 ready\r\n"), Expect("USER anonymous"), Send("331 pw\r\n"), Expect("PASS guest@"), Send("230 in\r\n")},
       1},
      {"PASS asks for an account, sent even when empty",
       {"joe", "secret", "", "guest@"},
       {Send("220 ready\r\n"), Expect("USER joe"), Send("331 pw\r\n"), Expect("PASS secret"), Send("332 acct\r\n"),
        Expect("ACCT "), Send("230 in\r\n")},
       1},
      {"USER alone logs in; a given account is still sent",
       {"joe", "", "proj", "guest@"},
       {Send("220 ready\r\n"), Expect("USER joe"), Send("230 in\r\n"), Expect("ACCT proj"), Send("202 fine\r\n")},
       1},
      {"user refused", {"joe", "x", "", "guest@"}, {Send("220 ready\r\n"), Expect("USER joe"), Send("530 no\r\n")}, 0},
      {"password refused",
       {"joe", "bad", "", "guest@"},
       {Send("220 ready\r\n"), Expect("USER joe"), Send("331 pw\r\n"), Expect("PASS bad"),
        Send("530 Login incorrect.\r\n")},
       0},
      {"greeting refuses", {"joe", "x", "", "guest@"}, {Send("530 go away\r\n")}, 0},
      {"greeting cut off", {"joe", "x", "", "guest@"}, {Send("220-half"), Close()}, -1},
  };
  for (const LoginCase &c : cases) {
    SCOPED_TRACE(c.what);
    ui.errors.clear();
    ScriptedServer server(c.script);
    ASSERT_TRUE(Connect());
    EXPECT_EQ(FtpLogin(0, c.fields), c.result);
    if (c.result == 1) {
      EXPECT_TRUE(ui.errors.empty());
      EXPECT_NE(g_Panes[0].control, INVALID_SOCKET);
    } else {
      EXPECT_EQ(ui.errors.size(), 1u);
      EXPECT_EQ(g_Panes[0].control, INVALID_SOCKET);  // closed, not left open
    }
    if (g_Panes[0].control != INVALID_SOCKET) closesocket(g_Panes[0].control);
    g_Panes[0].control = INVALID_SOCKET;
    ASSERT_TRUE(server.Finish());
    size_t expected = 0;
    for (const ScriptStep &s : c.script) expected += s.kind == ScriptStep::kExpectLine;
    EXPECT_EQ(server.Received().size(), expected);
  }
}

TEST(PortTest, ArgumentBytes) {
  EXPECT_EQ(PortArgument(0xC0A80105, 1030), "192,168,1,5,4,6");
  EXPECT_EQ(PortArgument(0x7F000001, 65535), "127,0,0,1,255,255");
  EXPECT_EQ(PortArgument(0x0A000002, 21), "10,0,0,2,0,21");
}

TEST(PwdTest, QuotedDirectory) {
  struct {
    const char *line;
    char quote;
    bool ok;
    const char *directory;
  } cases[] = {
      {"257 \"/pub/incoming\" is current directory.", '"', true, "/pub/incoming"},
      {"257 \"/a \"\"quoted\"\" dir\" is current", '"', true, "/a \"quoted\" dir"},
      {"257 \"\" empty", '"', true, ""},
      {"257 \"/tmp/q\"dir\" is your current location", '"', true, "/tmp/q\"dir"},
      {"257 \"/x\"", '"', true, "/x"},
      {"257 no quotes here", '"', false, nullptr},
      {"257 \"/unterminated", '"', false, nullptr},
      {"257 '/vms' here", '\'', true, "/vms"},
  };
  for (const auto &c : cases) {
    std::string directory;
    EXPECT_EQ(ParsePwdReply(c.line, c.quote, &directory), c.ok) << c.line;
    if (c.ok) {
      EXPECT_EQ(directory, c.directory) << c.line;
    }
  }
}

TEST_F(ControlTest, PwdPathCarriesTheHostPrefix) {
  strcpy(g_Panes[0].host, "127.0.0.1");
  g_Panes[0].kind = kHostUnix;
  ScriptedServer server({Send("220 hi\r\n"), Expect("PWD"), Send("257 \"/pub/incoming\"\r\n")});
  ASSERT_TRUE(Connect());
  ASSERT_EQ(ReadReply(0, 0), 2);
  ASSERT_EQ(QueryDirectory(0), 1);
  EXPECT_STREQ(g_Panes[0].path, "127.0.0.1:/pub/incoming");
  EXPECT_EQ(g_Panes[0].prefixLength, 10);
}

TEST_F(ControlTest, DataConnectionFromTheControlPeerOnly) {
  // A stranger (127.0.0.2) connects first and is turned away; the server's
  // own connection carries the listing.
  ScriptedServer server({Send("220 hi\r\n"),
                         Expect("PORT"),
                         Send("200 ok\r\n"),
                         Expect("LIST"),
                         Send("150 here it comes\r\n"),
                         {ScriptStep::kConnectData, "127.0.0.2|stranger"},
                         {ScriptStep::kConnectData, "127.0.0.1|real"},
                         Pause(200),
                         Send("226 done\r\n")});
  ASSERT_TRUE(Connect());
  ASSERT_EQ(ReadReply(0, 0), 2);
  SOCKET listener = OpenDataPort(0);
  ASSERT_NE(listener, INVALID_SOCKET);
  SOCKET data = AcceptData(listener, 0, "LIST", nullptr);
  ASSERT_NE(data, INVALID_SOCKET);
  char buffer[32] = {};
  int got = 0;
  for (int r; (r = FtpRecv(data, buffer + got, sizeof buffer - 1 - got)) > 0;) got += r;
  EXPECT_STREQ(buffer, "real");
  EXPECT_EQ(CloseDataAndReply(0, data), 2);
  ASSERT_TRUE(server.Finish());
  const auto received = server.Received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].rfind("PORT 127,0,0,1,", 0), 0u) << received[0];
}

TEST_F(ControlTest, AcceptEndsOnRefusalOrTimeout) {
  // The server answers 150 and later gives up with 425; then a server that
  // never connects and says nothing: the wait ends after the time-out.
  for (int timeout = 0; timeout < 2; ++timeout) {
    SCOPED_TRACE(timeout ? "time-out" : "425 on the control connection");
    ui.errors.clear();
    g_AcceptTimeoutMs = 500;
    std::vector<ScriptStep> script = {Send("220 hi\r\n"), Expect("PORT"), Send("200 ok\r\n"), Expect("RETR f"),
                                      Send("150 opening\r\n")};
    if (timeout)
      script.push_back(Pause(3000));
    else
      script.push_back(Send("425 Can't open data connection.\r\n"));
    ScriptedServer server(script);
    ASSERT_TRUE(Connect());
    ASSERT_EQ(ReadReply(0, 0), 2);
    SOCKET listener = OpenDataPort(0);
    ASSERT_NE(listener, INVALID_SOCKET);
    const std::string name = "f";
    const DWORD start = GetTickCount();
    EXPECT_EQ(AcceptData(listener, 0, "RETR", &name), INVALID_SOCKET);
    EXPECT_LT(GetTickCount() - start, 2500u);
    EXPECT_EQ(ui.errors.size(), 1u);
    if (!timeout) {
      EXPECT_STREQ(LastReplyLine(), "425 Can't open data connection.");
    }
    closesocket(g_Panes[0].control);
    g_Panes[0].control = INVALID_SOCKET;
  }
  g_AcceptTimeoutMs = 60000;
}

}  // namespace
