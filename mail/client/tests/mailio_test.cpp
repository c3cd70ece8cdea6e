// Mail protocol I/O: the SMTP reply reader and the pumping loops against a
// scripted server (multi-line, slow, split, hostile replies, telnet bytes,
// Cancel while stalled) and against Debian's aiosmtpd.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "mailio.h"

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

// The transport over BSD sockets that these tests use in place of Winsock and
// the message queue: onPump plays the window messages (false = WM_QUIT).
class SocketTransport : public MailTransport {
 public:
  std::function<bool()> onPump;
  int Recv(SocketHandle s, char *buffer, int length) override {
    ssize_t r = ::recv(static_cast<int>(s), buffer, static_cast<size_t>(length), 0);
    Note(r);
    return static_cast<int>(r);
  }
  int Send(SocketHandle s, const char *data, int length) override {
    ssize_t r = ::send(static_cast<int>(s), data, static_cast<size_t>(length), MSG_NOSIGNAL);
    Note(r);
    return static_cast<int>(r);
  }
  int LastError() override { return lastError_; }
  int CloseSocket(SocketHandle s) override { return ::close(static_cast<int>(s)); }
  bool PumpMessages() override { return onPump ? onPump() : true; }
  void WaitForWork(SocketHandle s, bool forWrite) override {
    pollfd p{static_cast<int>(s), static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
    ::poll(&p, 1, 20);
  }

 private:
  void Note(ssize_t r) {
    if (r < 0) lastError_ = (errno == EAGAIN || errno == EWOULDBLOCK) ? kWsaWouldBlock : 10000 + errno;
  }
  int lastError_ = 0;
};

class RecordingView : public ConversationView {
 public:
  std::vector<std::string> lines;
  void AddLine(const std::string &text) override { lines.push_back(text); }
  void Close(bool) override {}
};

int ListenLoopback(int &port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
  ::listen(fd, 1);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
  port = ntohs(a.sin_port);
  return fd;
}

int ConnectNonBlocking(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);  // FIONBIO 1
  return fd;
}

// A scripted SMTP peer: one connection, a list of steps run on its own thread.
struct Step {
  enum Kind { kSend, kPause, kRead, kClose, kStall } kind;
  std::string bytes;
  int ms = 0;
};

class ScriptedServer {
 public:
  explicit ScriptedServer(std::vector<Step> script) : script_(std::move(script)) {
    listen_ = ListenLoopback(port_);
    thread_ = std::thread([this] { Run(); });
  }
  ~ScriptedServer() {
    stop_ = true;
    thread_.join();
    ::close(listen_);
  }
  int port() const { return port_; }
  std::string received;  // bytes read by kRead steps

 private:
  void Run() {
    int c = ::accept(listen_, nullptr, nullptr);
    timeval limit{5, 0};  // a script that waits for bytes never hangs the test
    ::setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    for (const Step &s : script_) {
      switch (s.kind) {
        case Step::kSend: ::send(c, s.bytes.data(), s.bytes.size(), MSG_NOSIGNAL); break;
        case Step::kPause: std::this_thread::sleep_for(std::chrono::milliseconds(s.ms)); break;
        case Step::kRead: {
          std::string got;
          char buf[256];
          while (got.size() < static_cast<size_t>(s.ms)) {
            ssize_t r = ::recv(c, buf, std::min(sizeof buf, static_cast<size_t>(s.ms) - got.size()), 0);
            if (r <= 0) break;
            got.append(buf, static_cast<size_t>(r));
          }
          received += got;
          break;
        }
        case Step::kClose:
          ::close(c);
          c = -1;
          break;
        case Step::kStall:
          while (!stop_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
          break;
      }
      if (c < 0) break;
    }
    while (!stop_ && c >= 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (c >= 0) ::close(c);
  }
  std::vector<Step> script_;
  int listen_ = -1, port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
};

Step Send(std::string b) { return Step{Step::kSend, std::move(b)}; }
Step Pause(int ms) { return Step{Step::kPause, "", ms}; }
Step Read(int n) { return Step{Step::kRead, "", n}; }
Step Close() { return Step{Step::kClose}; }
Step Stall() { return Step{Step::kStall}; }

class MailIoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMailTransport(&transport);
    SetConversationView(&view);
    ResetMailIo();
  }
  void TearDown() override {
    if (fd >= 0) ::close(fd);
    SetMailTransport(nullptr);
    SetConversationView(nullptr);
  }
  void Connect(ScriptedServer &server) {
    fd = ConnectNonBlocking(server.port());
    ASSERT_GE(fd, 0);
  }
  SocketHandle sock() const { return static_cast<SocketHandle>(fd); }
  SocketTransport transport;
  RecordingView view;
  int fd = -1;
};

}  // namespace

TEST_F(MailIoTest, ReplyTable) {
  struct Case {
    const char *what;
    std::vector<Step> script;
    bool quit;
    int verbose;
    int code;
    const char *text;
  };
  const std::string longText(200, 'z');
  const Case cases[] = {
      {"multi-line", {Send("250-a\r\n250-b\r\n250 c\r\n")}, false, 0, 250, ""},
      {"single line", {Send("250 ok\r\n")}, false, 0, 250, ""},
      {"verbose keeps all lines", {Send("250-a\r\n250 c\r\n")}, false, 1, 250, "250-a\n250 c\n"},
      {"failure text without verbose", {Send("550 mailbox unavailable\r\n")}, false, 0, 550, "mailbox unavailable\n"},
      {"temporary failure text", {Send("451 try later\r\n")}, false, 0, 451, "try later\n"},
      {"split into bytes",
       {Send("2"), Pause(20), Send("2"), Pause(20), Send("0 hel"), Pause(20), Send("lo\r"), Pause(20), Send("\n")},
       false,
       1,
       220,
       "220 hello\n"},
      {"slow server", {Pause(300), Send("354 go ahead\r\n")}, false, 0, 354, ""},
      {"closed after QUIT", {Close()}, true, 0, 221, ""},
      {"closed while waiting",
       {Send("250-par"), Close()},
       false,
       1,
       421,
       "421 Service not available, remote server has closed connection\n"},
      {"overlong line is cut", {Send("550 " + longText + "\r\n")}, false, 0, 550, nullptr},
      {"endless reply", {Send(std::string(70000, 'x')), Stall()}, false, 0, 421, nullptr},
      {"other code ends only on the first code", {Send("250-a\r\n251 b\r\n250 c\r\n")}, false, 0, 250, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    ResetMailIo();
    ScriptedServer server(c.script);
    Connect(server);
    EXPECT_EQ(ReadSmtpReply(c.quit, sock(), c.verbose), c.code);
    if (c.text) {
      EXPECT_EQ(MailIo().replyText, c.text);
    }
    EXPECT_LE(MailIo().replyText.size(), 131u);
    ::close(fd);
    fd = -1;
  }
}

// A reply longer than the kept reply text (an EHLO list, a long banner):
// the conversation list still gets each line whole, in order, while the
// reply text for error boxes stays bounded.
TEST_F(MailIoTest, VerboseListShowsEveryLineOfALongReply) {
  std::string reply;
  std::vector<std::string> expected;
  for (int i = 0; i < 12; ++i) {
    expected.push_back("250-line " + std::to_string(i) + " " + std::string(40, 'a' + i));
    reply += expected.back() + "\r\n";
  }
  expected.push_back("250 " + std::string(300, 'z'));
  reply += expected.back() + "\r\n";
  ScriptedServer server({Send(reply)});
  Connect(server);
  view.lines.clear();
  EXPECT_EQ(ReadSmtpReply(false, sock(), 1), 250);
  EXPECT_EQ(view.lines, expected);
  EXPECT_EQ(MailIo().replyText.size(), 131u);
  EXPECT_EQ(MailIo().replyText.substr(0, expected[0].size() + 1), expected[0] + "\n");
}

TEST_F(MailIoTest, TelnetNegotiationIsRefusedAndNotShown) {
  std::string seen;
  {
    ScriptedServer server({Send("2\xFF\xFD\x01"
                                "50 o\xFF\xFB\x03k\r\n"),
                           Read(6)});
    Connect(server);
    EXPECT_EQ(ReadSmtpReply(false, sock(), 1), 250);
    EXPECT_EQ(MailIo().replyText, "250 ok\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::close(fd);
    fd = -1;
    seen = server.received;
  }
  // DO is answered with WONT, WILL with DONT.
  EXPECT_EQ(seen, std::string("\xFF\xFC\x01\xFF\xFE\x03", 6));
}

TEST_F(MailIoTest, CancelDuringStalledReadReturnsPromptly) {
  ScriptedServer server({Send("250-first line\r\n"), Stall()});
  Connect(server);
  auto start = Clock::now();
  transport.onPump = [&] {
    if (Clock::now() - start > std::chrono::milliseconds(200)) MailIo().cancel = 1;  // the Cancel button
    return true;
  };
  EXPECT_EQ(ReadSmtpReply(false, sock(), 0), kReplyCancelled);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));  // a stalled read would not end at all
  // Once cancelled, a send reports everything as sent and nothing blocks.
  EXPECT_EQ(SendPumping(sock(), "QUIT\r\n", 6), 6);
  EXPECT_EQ(ReadReplyByte(sock()), '\n');
}

TEST_F(MailIoTest, QuitMessageEndsTheWait) {
  ScriptedServer server({Stall()});
  Connect(server);
  int pumps = 0;
  transport.onPump = [&] { return ++pumps < 5; };  // the fifth pump takes WM_QUIT
  char buf[16];
  EXPECT_EQ(RecvPumping(sock(), buf, sizeof buf), 0);
  EXPECT_EQ(pumps, 5);
}

TEST_F(MailIoTest, CommandsAndBufferedSending) {
  std::string body;
  for (int i = 0; i < 300; ++i) body += "line " + std::to_string(i) + " of the message body\r\n";
  const std::string expected = "MAIL FROM:<a@b>\r\n" + body;
  std::string seen;
  {
    ScriptedServer server({Read(17), Send("250 ok\r\n"), Read(static_cast<int>(body.size()))});
    Connect(server);
    EXPECT_EQ(SmtpCommand("MAIL FROM:<%s>", "a@b", sock(), 1), 250);
    EXPECT_EQ(view.lines.front(), "---> MAIL FROM:<a@b>");
    EXPECT_EQ(view.lines.back(), "250 ok");
    int taken = 0;
    for (size_t at = 0; at < body.size(); at += 700)
      taken += SendBuffered(sock(), body.data() + at, static_cast<int>(std::min<size_t>(700, body.size() - at)));
    EXPECT_EQ(taken, static_cast<int>(body.size()));
    FlushSendBuffer(sock(), true);
    EXPECT_EQ(MailIo().sendFill, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ::close(fd);
    fd = -1;
    seen = server.received;
  }
  EXPECT_EQ(seen, expected);
}

TEST_F(MailIoTest, ArgumentCannotStartASecondCommand) {
  std::string seen;
  {
    ScriptedServer server({Read(24), Send("250 ok\r\n")});
    Connect(server);
    EXPECT_EQ(SmtpCommand("RCPT TO:<%s>", "x@y>\r\nDATA\r\n", sock(), 0), 250);
    seen = server.received;
  }
  EXPECT_EQ(seen, "RCPT TO:<x@y>  DATA  >\r\n");
}

TEST(MailIoTexts, ErrorTextsPortsAndAddresses) {
  const struct {
    int code;
    const char *text;
  } kTexts[] = {{0, "Sendmail successful"},         {-1, "ETHDEV driver not loaded"},
                {-5, "Bad response to HELO"},       {-9, "Bad response to DATA termination"},
                {-11, "Message Cancelled by User"}, {-12, "Remote host not running SMTP Server"},
                {-13, "Unknown error number"},      {-14, "Unknown error number"},
                {-99, "Unknown error number"}};
  for (const auto &t : kTexts) EXPECT_EQ(SmtpErrorText(t.code), t.text) << t.code;
  EXPECT_FALSE(SmtpErrorText(111).empty());
  SetMailTransport(nullptr);
  EXPECT_EQ(ServicePort("smtp"), 25);
  EXPECT_EQ(ServicePort("pop-3"), 110);
  EXPECT_EQ(ServicePort("pop-2"), 109);
  EXPECT_EQ(ServicePort("gopher"), 0);
  EXPECT_EQ(FormatIpAddr(0x0100007F), "127.0.0.1");
}

namespace {
// Debian's aiosmtpd on a free loopback port, stopped when the test ends.
class AiosmtpdServer {
 public:
  AiosmtpdServer() {
    int fdProbe = ListenLoopback(port_);
    ::close(fdProbe);
    std::string listen = "127.0.0.1:" + std::to_string(port_);
    const char *argv[] = {"/usr/bin/python3",       "-m",   "aiosmtpd", "-n", "-l", listen.c_str(), "-c",
                          "aiosmtpd.handlers.Sink", nullptr};
    if (posix_spawn(&pid_, argv[0], nullptr, nullptr, const_cast<char **>(argv), environ) != 0) pid_ = -1;
  }
  ~AiosmtpdServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  // A connection once the server listens (it needs a moment to start).
  int Connect() {
    for (int i = 0; i < 100 && pid_ > 0; ++i) {
      int fd = ConnectNonBlocking(port_);
      if (fd >= 0) return fd;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};
}  // namespace

TEST_F(MailIoTest, ConversationWithAiosmtpd) {
  AiosmtpdServer server;
  fd = server.Connect();
  ASSERT_GE(fd, 0) << "aiosmtpd did not start (package python3-aiosmtpd)";
  EXPECT_EQ(ReadSmtpReply(false, sock(), 1), 220);
  EXPECT_EQ(SmtpCommand("EHLO %s", "client.example", sock(), 1), 250);  // a multi-line reply
  EXPECT_EQ(SmtpCommand("MAIL FROM:<%s>", "me@example.com", sock(), 0), 250);
  EXPECT_EQ(SmtpCommand("RCPT TO:<%s>", "you@example.com", sock(), 0), 250);
  EXPECT_EQ(SmtpCommand("DATA", "", sock(), 0), 354);
  const std::string message = "Subject: test\r\n\r\nHello.\r\n.\r\n";
  SendBuffered(sock(), message.data(), static_cast<int>(message.size()));
  FlushSendBuffer(sock(), true);
  EXPECT_EQ(ReadSmtpReply(false, sock(), 0), 250);
  EXPECT_EQ(SmtpCommand("NOSUCH", "", sock(), 0), 500);
  EXPECT_FALSE(MailIo().replyText.empty());
  EXPECT_EQ(SmtpCommand("QUIT", "", sock(), 1), 221);
  EXPECT_GE(view.lines.size(), 5u);
}
