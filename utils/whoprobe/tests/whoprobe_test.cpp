// whoprobe in a network namespace of the test's own, against Debian's fingerd
// (started per connection by socat), the suite's finger daemon behind
// portwarden and a scripted server with hostile replies, all on port 79 of
// 127.0.0.1. The program is driven through the layer's automation (the Host
// dialog filled and confirmed, the next query chosen from the menu) and what
// its text window shows is read back by selecting it and copying it.
#include <gtest/gtest.h>
#include <windows.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "qxtest/netns.h"
#include "qxtest/support.h"

namespace {

namespace fs = std::filesystem;

qxtest::TempDir *g_dir = nullptr;

class NamespaceEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    const std::string error = qxtest::EnterOwnNetworkNamespace();
    ASSERT_TRUE(error.empty()) << error;
    g_dir = new qxtest::TempDir("qx-whoprobe");
    for (const char *sub : {"home/drive_c/WINDOWS", "machine", "run", "work"}) fs::create_directories(*g_dir / sub);
    fs::permissions(*g_dir / "run", fs::perms::owner_all);
    setenv("QX_HOME", (*g_dir / "home").c_str(), 1);
    setenv("QX_MACHINE_DIR", (*g_dir / "machine").c_str(), 1);
    setenv("QX_RUNTIME_DIR", (*g_dir / "run").c_str(), 1);
    setenv("QX_EVENTLOG_FILE", (*g_dir / "events.txt").c_str(), 1);
    setenv("QX_CONSOLE_USER", "daemon", 1);
    setenv("QX_TEST_PUMP_IDLE_MS", "1500", 1);  // a silent server is given up quickly
    qxtest::UseHeadlessDisplay();
    setenv("QX_AUTOMATION", "1", 1);  // whoprobe is driven through it
    if (chdir((*g_dir / "work").c_str()) != 0) FAIL() << "cannot enter the work folder";
  }
  void TearDown() override {
    qxtest::KillProcessesOfRuntime(*g_dir / "run");
    delete g_dir;
  }
};
const auto *g_env = ::testing::AddGlobalTestEnvironment(new NamespaceEnvironment);

std::string Bin(const std::string &name) { return qxtest::BinDir() + "/" + name; }

// One qxauto command to process pid; its answer without the "ok " prefix, or
// "error ..." as it came.
std::string Auto(pid_t pid, const std::string &args) {
  const std::string command = "timeout 15 " + Bin("qxauto") + " -p " + std::to_string(pid) + " " + args + " 2>&1";
  std::string out;
  if (FILE *p = popen(command.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  if (out == "ok") return out;
  return out.rfind("ok", 0) == 0 ? out.substr(3) : out;  // "ok VALUE" or "ok" and lines
}

bool IsHandle(const std::string &answer) { return answer.rfind("0x", 0) == 0; }

bool PortOpen(int port) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool open = connect(s, reinterpret_cast<sockaddr *>(&to), sizeof to) == 0;
  close(s);
  return open;
}

// The text of the window's clipboard once it is no longer `marker`.
std::string ClipboardAfter(const std::string &marker) {
  std::string text = marker;
  qxtest::WaitUntil(
      [&] {
        if (!OpenClipboard(nullptr)) return false;
        if (HANDLE h = GetClipboardData(CF_TEXT)) {
          if (auto *p = static_cast<const char *>(GlobalLock(h))) text = p;
          GlobalUnlock(h);
        }
        CloseClipboard();
        return text != marker;
      },
      10000);
  return text;
}

void SetClipboard(const std::string &text) {
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
  std::memcpy(GlobalLock(mem), text.c_str(), text.size() + 1);
  GlobalUnlock(mem);
  SetClipboardData(CF_TEXT, mem);
  CloseClipboard();
}

// whoprobe with its message boxes (the headless layer writes them on
// standard error) kept in a file.
class Whoprobe {
 public:
  Whoprobe() : errors_(*g_dir / "whoprobe.err") {
    child_ = std::make_unique<qxtest::Child>(
        std::vector<std::string>{"/bin/sh", "-c", "exec \"$0\" 2>\"$1\"", Bin("whoprobe"), errors_});
    qxtest::WaitUntil([&] { return IsHandle(window_ = Auto(pid(), "find Finger Finger")); }, 15000);
  }
  pid_t pid() const { return child_->pid(); }
  HWND window() const { return reinterpret_cast<HWND>(std::strtoul(window_.c_str(), nullptr, 0)); }
  std::string Errors() const { return qxtest::ReadFile(errors_); }

  // Fills the Host dialog (open now or soon) and confirms it.
  void Ask(const std::string &host, const std::string &user) {
    std::string dialog;
    ASSERT_TRUE(qxtest::WaitUntil([&] { return IsHandle(dialog = Auto(pid(), "find - Finger Remote Host")); }, 15000))
        << dialog;
    const std::string combo = Auto(pid(), "item " + dialog + " 400"), edit = Auto(pid(), "item " + dialog + " 401");
    EXPECT_EQ(Auto(pid(), "settext " + combo + " " + host), "ok");
    EXPECT_EQ(Auto(pid(), "settext " + edit + " " + user), "ok");
    EXPECT_EQ(Auto(pid(), "press " + Auto(pid(), "item " + dialog + " 1")), "ok");
  }
  // The recent hosts the Host dialog offers.
  std::string OfferedHosts() {
    const std::string dialog = Auto(pid(), "find - Finger Remote Host");
    return Auto(pid(), "items " + Auto(pid(), "item " + dialog + " 400"));
  }
  // Waits until the query has ended: "Finger Host" is offered again, and
  // choosing it opens the next Host dialog.
  bool AwaitEnd() {
    return qxtest::WaitUntil([&] { return Auto(pid(), "menu " + window_ + " 100") == "ok"; }, 20000);
  }
  // What the text window shows: everything selected with the mouse, then copied.
  std::string Shown() {
    SetClipboard("<nothing copied>");
    HWND w = window();
    PostMessageA(w, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(0, 0));
    PostMessageA(w, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(32000, 32000));
    PostMessageA(w, WM_LBUTTONUP, 0, MAKELPARAM(32000, 32000));
    PostMessageA(w, WM_COPY, 0, 0);
    return ClipboardAfter("<nothing copied>");
  }
  // Closes the dialog left open and exits through the menu; the exit code.
  int Exit() {
    const std::string dialog = Auto(pid(), "find - Finger Remote Host");
    if (IsHandle(dialog)) Auto(pid(), "press " + Auto(pid(), "item " + dialog + " 2"));
    qxtest::WaitUntil([&] { return Auto(pid(), "menu " + window_ + " 101") == "ok"; }, 10000);
    return child_->Wait(10000);
  }

 private:
  std::string errors_;
  std::unique_ptr<qxtest::Child> child_;
  std::string window_;
};

// The text after the last "[host]" line: the reply of the latest query.
std::string LatestReply(const std::string &shown, const std::string &host) {
  const std::string marker = "[" + host + "]\r\n";
  const size_t at = shown.rfind(marker);
  return at == std::string::npos ? "<no [" + host + "] line in: " + shown + ">" : shown.substr(at + marker.size());
}

TEST(WhoprobeTest, QueriesDebianFingerdAndTheSuitesDaemon) {
  {
    qxtest::Child fingerd({"/usr/bin/socat", "-lf/dev/null", "TCP-LISTEN:79,bind=127.0.0.1,reuseaddr,fork",
                           "EXEC:/usr/sbin/in.fingerd"});
    ASSERT_TRUE(qxtest::WaitUntil([] { return PortOpen(79); }, 10000)) << "socat did not listen on 79";
    Whoprobe probe;
    probe.Ask("127.0.0.1", "root");
    ASSERT_TRUE(probe.AwaitEnd()) << probe.Errors();
    std::string reply = LatestReply(probe.Shown(), "127.0.0.1");
    EXPECT_NE(reply.find("Login: root"), std::string::npos) << reply;
    // Long output ("/W root") as fingerd's long form, and the host recorded once.
    EXPECT_EQ(Auto(probe.pid(), "menu " + Auto(probe.pid(), "find Finger Finger") + " 200"), "ok");
    probe.Ask("127.0.0.1", "root");
    ASSERT_TRUE(probe.AwaitEnd());
    reply = LatestReply(probe.Shown(), "127.0.0.1");
    EXPECT_NE(reply.find("Directory:"), std::string::npos) << reply;
    EXPECT_EQ(probe.OfferedHosts(), "127.0.0.1");
    EXPECT_EQ(probe.Exit(), 0);
  }
  // The suite's finger daemon behind portwarden: its system report.
  ASSERT_EQ(std::system((Bin("pwtable") + " enable whoanswer >/dev/null").c_str()), 0);
  qxtest::Child portwarden({Bin("portwarden")});
  ASSERT_TRUE(qxtest::WaitUntil([] { return PortOpen(79); }, 15000)) << "portwarden did not listen on 79";
  Whoprobe probe;
  probe.Ask("localhost", "");
  ASSERT_TRUE(probe.AwaitEnd()) << probe.Errors();
  const std::string reply = LatestReply(probe.Shown(), "localhost");
  EXPECT_NE(reply.find("Console User: daemon"), std::string::npos) << reply;
  EXPECT_NE(reply.find("Windows NT Version 4.0"), std::string::npos) << reply;
  EXPECT_EQ(probe.OfferedHosts(), "localhost\n127.0.0.1");  // the newest first
  EXPECT_EQ(probe.Exit(), 0);
}

TEST(WhoprobeTest, HostileAndFailingServersAsATable) {
  const std::string record = *g_dir / "queries.txt";
  struct Case {
    const char *mode;
    const char *user;
    bool longOutput;  // toggled before this query
    const char *query;
    std::vector<std::string> rows;  // lines of the reply as shown (CR LF between)
  };
  const std::string endless(80, 'x');
  const std::vector<Case> cases = {
      {"plain", "fred", false, "b'fred\\r\\n'", {"Login: fred", "Name: Fred Example"}},
      {"plain", "fred", true, "b'/W fred\\r\\n'", {"Login: fred", "Name: Fred Example"}},
      {"staircase", "", true, "b'\\r\\n'", {"alpha", "     beta"}},  // LF keeps the column
      {"specials", "x", false, "b'x\\r\\n'", {"a       b", "         c", "          e"}},
      {"nuls", "y", false, "b'y\\r\\n'", {"before after"}},
      {"endless", "z", false, "b'z\\r\\n'", {endless}},
      {"reset", "r", false, "b'r\\r\\n'",
       {"partial", "The reply is incomplete: the server reset the connection (error 10054).",
        "Query again to see all of it."}},
      {"silent", "s", false, "b's\\r\\n'",
       {"The reply is incomplete: the host did not answer in time (error 10060).", "Query again to see all of it."}},
  };
  std::vector<std::string> argv = {"/usr/bin/python3", qxtest::SourceDir() + "/utils/whoprobe/tests/finger_peer.py", record};
  for (const Case &c : cases) argv.push_back(c.mode);
  qxtest::Child peer(argv);
  ASSERT_EQ(peer.ReadLine(10000), "ready");
  Whoprobe probe;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.mode);
    if (c.longOutput) Auto(probe.pid(), "menu " + Auto(probe.pid(), "find Finger Finger") + " 200");
    probe.Ask("127.0.0.1", c.user);
    ASSERT_TRUE(probe.AwaitEnd()) << probe.Errors();
    const std::string reply = LatestReply(probe.Shown(), "127.0.0.1");
    std::string want;
    for (const std::string &row : c.rows) want += row + "\r\n";
    EXPECT_EQ(reply.substr(0, want.size()), want);
    const std::string queries = qxtest::ReadFile(record);
    EXPECT_NE(queries.find(std::string(c.query) + "\n"), std::string::npos) << queries;
  }
  EXPECT_EQ(peer.Wait(15000), 0);
  // Nothing listens any more: a message box says so and nothing is printed.
  const std::string shownBefore = probe.Shown();
  probe.Ask("127.0.0.1", "nobody");
  ASSERT_TRUE(probe.AwaitEnd());
  EXPECT_NE(probe.Errors().find("[whoprobe] Connect error"), std::string::npos) << probe.Errors();
  EXPECT_NE(probe.Errors().find("refused"), std::string::npos) << probe.Errors();
  EXPECT_EQ(probe.Shown(), shownBefore);
  probe.Ask("no-such-host.invalid", "nobody");
  EXPECT_TRUE(qxtest::WaitUntil(
      [&] { return probe.Errors().find("Unknown host \"no-such-host.invalid\"") != std::string::npos; }, 15000))
      << probe.Errors();
  EXPECT_EQ(probe.Exit(), 0);
}

}  // namespace
