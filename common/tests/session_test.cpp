// A real session traced end to end: the test client connects to a loopback
// server with "/debug", and its "qxdebug.log" is compared with a golden log
// in which only the time, the addresses and the socket handles are masked.
#include "common_fixture.h"

#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace commontest;
using namespace qxtest;

namespace {

WinsockSession g_winsock;

std::string BinDir() {
  if (const char *d = std::getenv("QX_BIN_DIR")) return d;
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/exe", ec).parent_path().string();
}

// Runs a program and waits for it, at most 20 seconds; never leaves it behind.
int RunProgram(const std::vector<std::string> &argv) {
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char *> args;
    for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  for (int waited = 0; waited < 2000; ++waited) {
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    usleep(10000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -2;
}

// The server's side: one line in, a greeting with some binary bytes out, close.
void ServeOne(SOCKET listener, std::string &heard) {
  SOCKET c = accept(listener, nullptr, nullptr);
  if (c == INVALID_SOCKET) return;
  char buf[256];
  while (heard.find("\r\n") == std::string::npos) {
    const int n = recv(c, buf, sizeof buf, 0);
    if (n <= 0) break;
    heard.append(buf, static_cast<size_t>(n));
  }
  std::string reply = "220 qx test server ready\r\n";
  for (int b = 0; b < 22; ++b) reply += static_cast<char>(b * 12);
  send(c, reply.data(), static_cast<int>(reply.size()), 0);
  closesocket(c);
}

// Replaces the run of characters from `chars` after each `label` by `mask`.
std::string MaskAfter(const std::string &text, const std::string &label, const char *chars, const char *mask) {
  std::string out;
  size_t at = 0;
  for (size_t hit; (hit = text.find(label, at)) != std::string::npos;) {
    out += text.substr(at, hit - at) + label + mask;
    at = text.find_first_not_of(chars, hit + label.size());
    if (at == std::string::npos) at = text.size();
  }
  return out + text.substr(at);
}

std::string Mask(const std::string &log) {
  const auto nl = log.find('\n');
  std::string out = "<module> - <time>" + (nl == std::string::npos ? std::string() : log.substr(nl));
  out = MaskAfter(out, "Socket = ", "0123456789", "<s>");
  return MaskAfter(out, "Addr = ", "0123456789.,", "<addr>");
}

TEST(TraceSession, LoopbackSessionMatchesGoldenLog) {
  ScratchDir scratch;
  u_short port = 0;
  SOCKET listener = Listener(port);
  std::string heard;
  std::thread server(ServeOne, listener, std::ref(heard));
  const int rc = RunProgram({BinDir() + "/common_trace_client", "/debug", std::to_string(port)});
  closesocket(listener);  // ends the accept if the client never came
  server.join();
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(heard, "HELO qx\r\n");

  const std::string raw = ReadFile(scratch.dir() / "qxdebug.log");
  for (size_t i = 0; i < raw.size(); ++i)
    if (raw[i] == '\n') {
      ASSERT_TRUE(i > 0 && raw[i - 1] == '\r') << "line ends in CR LF (text mode)";
    }
  const std::filesystem::path goldenPath =
      std::filesystem::path(std::getenv("QX_TEST_SOURCE_DIR") ? std::getenv("QX_TEST_SOURCE_DIR") : "") /
      "common/tests/golden/trace_session.log";
  // QX_UPDATE_GOLDEN=1 writes the masked log as the new golden file (for a
  // deliberate change of the log's contents; review the diff).
  if (const char *update = std::getenv("QX_UPDATE_GOLDEN"); update && std::string(update) == "1")
    std::ofstream(goldenPath, std::ios::binary) << Mask(LogText(scratch.dir() / "qxdebug.log"));
  const std::string golden = ReadFile(goldenPath);
  ASSERT_FALSE(golden.empty());
  EXPECT_EQ(Mask(LogText(scratch.dir() / "qxdebug.log")), golden);
}

}  // namespace
