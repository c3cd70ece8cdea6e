// The program's transport (Winsock and the window message queue) driving the
// SMTP reply reader against Debian's aiosmtpd; Cancel through a timer message
// during a stalled read; WM_QUIT taken while waiting is posted again.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "mailio.h"
#include "transport_fixture.h"
#include "wintransport.h"

#include <qxcommon.h>

namespace {

using Clock = std::chrono::steady_clock;

// Debian's aiosmtpd on a free loopback port, stopped when the test ends.
class Aiosmtpd {
 public:
  Aiosmtpd() : port_(mailtest::FreePort()) {
    started_ = child_.Start({"/usr/bin/python3", "-m", "aiosmtpd", "-n", "-l", "127.0.0.1:" + std::to_string(port_),
                             "-c", "aiosmtpd.handlers.Sink"},
                            false);
  }
  // A connected non-blocking socket once the server listens.
  SOCKET Connect() {
    for (int i = 0; i < 100 && started_; ++i) {
      SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<u_short>(port_));
      a.sin_addr.s_addr = inet_addr("127.0.0.1");
      if (connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) {
        u_long on = 1;
        ioctlsocket(s, FIONBIO, &on);
        return s;
      }
      closesocket(s);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return INVALID_SOCKET;
  }

 private:
  int port_;
  mailtest::Child child_;  // stopped when the test ends
  bool started_ = false;
};

class WinTransportTest : public mailtest::MailTransportTest<WinsockMailTransport> {
 protected:
  void TearDown() override {
    if (s != INVALID_SOCKET) closesocket(s);
    MailTransportTest::TearDown();
  }
  SOCKET s = INVALID_SOCKET;
};

void CALLBACK PressCancel(HWND, UINT, UINT_PTR, DWORD) { MailIo().cancel = 1; }

}  // namespace

TEST_F(WinTransportTest, SessionWithAiosmtpd) {
  Aiosmtpd server;
  s = server.Connect();
  ASSERT_NE(s, INVALID_SOCKET) << "aiosmtpd did not start (package python3-aiosmtpd)";
  const SocketHandle h = static_cast<SocketHandle>(s);
  EXPECT_EQ(ReadSmtpReply(false, h, 0), 220);
  EXPECT_EQ(SmtpCommand("HELO %s", "client.example", h, 0), 250);
  EXPECT_EQ(SmtpCommand("MAIL FROM:<%s>", "me@example.com", h, 0), 250);
  EXPECT_EQ(SmtpCommand("RCPT TO:<%s>", "you@example.com", h, 0), 250);
  EXPECT_EQ(SmtpCommand("DATA", "", h, 0), 354);
  std::string body;
  for (int i = 0; i < 400; ++i) body += "Line " + std::to_string(i) + " of a longer message body.\r\n";
  body = "Subject: through Winsock\r\n\r\n" + body + ".\r\n";
  EXPECT_EQ(SendBuffered(h, body.data(), static_cast<int>(body.size())), static_cast<int>(body.size()));
  FlushSendBuffer(h, true);
  EXPECT_EQ(ReadSmtpReply(false, h, 0), 250);
  EXPECT_EQ(SmtpCommand("QUIT", "", h, 0), 221);
}

// A program started with "/debug" finds the mail conversation in its trace:
// every receive and send of a session goes through the socket wrappers.
TEST_F(WinTransportTest, DebugTraceHoldsTheConversation) {
  Aiosmtpd server;
  s = server.Connect();
  ASSERT_NE(s, INVALID_SOCKET);
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());  // the fixture's scratch folder gets the log
  char line[] = "/debug";
  DebugLogOpen(GetModuleHandleA(nullptr), line);
  ASSERT_EQ(g_TraceOn, 1);
  const SocketHandle h = static_cast<SocketHandle>(s);
  EXPECT_EQ(ReadSmtpReply(false, h, 0), 220);
  EXPECT_EQ(SmtpCommand("HELO %s", "traced.example", h, 0), 250);
  EXPECT_EQ(SmtpCommand("QUIT", "", h, 0), 221);
  transport.CloseSocket(h);
  s = INVALID_SOCKET;
  fclose(g_DebugLog);
  g_DebugLog = nullptr;
  g_TraceOn = 0;
  std::stringstream log;
  log << std::ifstream("qxdebug.log").rdbuf();
  std::filesystem::current_path(previous);
  const std::string text = log.str();
  EXPECT_NE(text.find("Recv Success"), std::string::npos) << text;
  EXPECT_NE(text.find("Send Success"), std::string::npos) << text;
  EXPECT_NE(text.find("HELO traced.exa"), std::string::npos) << text;  // the hex dump's character column
  EXPECT_NE(text.find("Close Success"), std::string::npos) << text;
}

TEST_F(WinTransportTest, CancelFromATimerDuringAStalledRead) {
  Aiosmtpd server;
  s = server.Connect();
  ASSERT_NE(s, INVALID_SOCKET);
  const SocketHandle h = static_cast<SocketHandle>(s);
  ASSERT_EQ(ReadSmtpReply(false, h, 0), 220);
  // Nothing more comes from the server; the Cancel button is a timer here.
  UINT_PTR timer = SetTimer(nullptr, 0, 200, PressCancel);
  ASSERT_NE(timer, 0u);
  auto start = Clock::now();
  EXPECT_EQ(ReadSmtpReply(false, h, 0), kReplyCancelled);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));  // a stalled read would not end at all
  KillTimer(nullptr, timer);
}

TEST_F(WinTransportTest, QuitWhileWaitingIsPostedAgain) {
  Aiosmtpd server;
  s = server.Connect();
  ASSERT_NE(s, INVALID_SOCKET);
  PostQuitMessage(7);
  char buffer[64];
  EXPECT_EQ(RecvPumping(static_cast<SocketHandle>(s), buffer, sizeof buffer), 0);
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(message.wParam, 7u);
}

TEST_F(WinTransportTest, ServicePorts) {
  EXPECT_EQ(ServicePort("smtp"), 25);
  EXPECT_EQ(ServicePort("pop-3"), 110);
  EXPECT_EQ(ServicePort("pop-2"), 109);
  EXPECT_EQ(ServicePort("no-such-service"), 0);
}
