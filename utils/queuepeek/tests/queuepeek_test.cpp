// queuepeek in a network and mount namespace of the test's own: against
// LPRng's lpd (a stopped queue holding one job, its configuration bind-mounted
// over the machine's) and a scripted LPD server that records each request and
// the client's port, all on port 515 of 127.0.0.1. The program is driven
// through the layer's automation and its window read back by copying.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "program_driver.h"
#include "qxtest/support.h"

namespace {

namespace fs = std::filesystem;
using utiltest::DrivenProgram;

class WorldEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { utiltest::EnterTestWorld(true); }
  void TearDown() override { qxtest::KillProcessesOfRuntime(utiltest::WorldDir() + "/run"); }
};
const auto *g_env = ::testing::AddGlobalTestEnvironment(new WorldEnvironment);

class Queuepeek : public DrivenProgram {
 public:
  Queuepeek() : DrivenProgram("queuepeek", "lpq", "lpq") {}
  void Ask(const std::string &host, const std::string &printer, const std::string &user) {
    const std::string dialog = AwaitDialog("LPQ");
    ASSERT_FALSE(dialog.empty()) << Errors();
    Fill(dialog, {{400, host}, {402, printer}, {401, user}}, IDOK);
  }
  std::string Offered(int combo) {
    const std::string dialog = AwaitDialog("LPQ");
    return Auto("items " + Auto("item " + dialog + " " + std::to_string(combo)));
  }
  bool AwaitEnd() { return AwaitMenu(100); }
  int Exit() { return DrivenProgram::Exit("LPQ", 101); }
};

// The text after the last "Connecting to host" line: the latest reply.
std::string LatestReply(const std::string &shown, const std::string &host) {
  const std::string marker = "Connecting to " + host + "\r\n";
  const size_t at = shown.rfind(marker);
  return at == std::string::npos ? "<no connecting line in: " + shown + ">" : shown.substr(at + marker.size());
}

// LPRng as unpacked by scripts/setup.d/lpd-peers.sh (it cannot be installed
// beside CUPS's clients); QX_LPD_PEERS names another place.
std::string LprngRoot() {
  const char *d = getenv("QX_LPD_PEERS");
  return std::string(d && *d ? d : "/opt/qx-lpd-peers") + "/lprng";
}

// LPRng's lpd with a queue "lp" that holds jobs (printing stopped). LPRng reads
// its configuration only from /etc/lprng: the test's own directory is
// bind-mounted there inside the test's mount namespace.
class Lprng {
 public:
  Lprng() : dir_(utiltest::WorldDir() + "/lprng") {
    fs::create_directories(dir_ + "/spool");
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(dir_ + "/spool", fs::perms::all);
    qxtest::WriteFile(dir_ + "/printcap", "lp:sd=" + dir_ + "/spool:lp=/dev/null:sh:mx=0\n");
    qxtest::WriteFile(dir_ + "/lpd.conf", "lpd_listen_port=515\nunix_socket_path=off\nlockfile=" + dir_ +
                                              "/lpd.lock\nprintcap_path=" + dir_ + "/printcap\n");
    qxtest::WriteFile(dir_ + "/lpd.perms", "DEFAULT ACCEPT\n");
    ok_ = mount(dir_.c_str(), "/etc/lprng", nullptr, MS_BIND, nullptr) == 0;
    if (ok_)
      lpd_ =
          std::make_unique<qxtest::Child>(std::vector<std::string>{LprngRoot() + "/usr/sbin/lpd", "-F", "-P", "off"});
  }
  // lpd's own children hold the listening socket too and clear their
  // environment: every other process of the namespace goes (the program under
  // test has ended by then).
  ~Lprng() {
    utiltest::KillOthersInOwnNetworkNamespace();
    lpd_.reset();
    qxtest::WaitUntil([] { return !utiltest::PortOpen(515); }, 5000);
  }
  bool Ready() {
    return ok_ && qxtest::WaitUntil([] { return utiltest::PortOpen(515); }, 10000);
  }
  // Runs an LPRng client program (usr/bin or usr/sbin of the unpacked
  // package) with its arguments; true when it succeeded.
  static bool Run(const std::string &program, const std::string &args) {
    std::string path = LprngRoot() + "/usr/bin/" + program;
    if (!fs::exists(path)) path = LprngRoot() + "/usr/sbin/" + program;
    return std::system((path + " " + args + " >/dev/null 2>&1").c_str()) == 0;
  }
  const std::string &dir() const { return dir_; }

 private:
  std::string dir_;
  bool ok_ = false;
  std::unique_ptr<qxtest::Child> lpd_;
};

TEST(QueuepeekTest, ShowsTheQueueOfLprngsLpd) {
  Lprng lprng;
  ASSERT_TRUE(lprng.Ready()) << "LPRng's lpd did not listen on 515 (unpacked under " << LprngRoot()
                             << " by scripts/setup.d/lpd-peers.sh)";
  ASSERT_TRUE(Lprng::Run("lpc", "stop lp"));
  qxtest::WriteFile(lprng.dir() + "/report.txt", "a page\n");
  ASSERT_TRUE(Lprng::Run("lpr", "-Plp@localhost " + lprng.dir() + "/report.txt"));
  Queuepeek lpq;
  lpq.Ask("127.0.0.1", "lp", "");
  ASSERT_TRUE(lpq.AwaitEnd()) << lpq.Errors();
  const std::string reply = LatestReply(lpq.Shown(), "127.0.0.1");
  EXPECT_NE(reply.find("lp@"), std::string::npos) << reply;
  EXPECT_NE(reply.find("1 job"), std::string::npos) << reply;
  EXPECT_NE(reply.find("printing disabled"), std::string::npos) << reply;
  // A queue that does not exist: LPRng says so in its reply.
  lpq.Ask("localhost", "nosuchqueue", "root");
  ASSERT_TRUE(lpq.AwaitEnd());
  const std::string missing = LatestReply(lpq.Shown(), "localhost");
  EXPECT_NE(missing.find("nosuchqueue"), std::string::npos) << missing;
  EXPECT_EQ(lpq.Offered(400), "localhost\n127.0.0.1");
  EXPECT_EQ(lpq.Offered(402), "nosuchqueue\nlp");
  EXPECT_EQ(lpq.Exit(), 0);
}

// The suite's own LPD daemon behind the super-server: the queue of a file
// printer "testq" of the layer's spooler is shown with its heading and job
// count.
TEST(QueuepeekTest, ShowsTheQueueOfTheSuitesLpdDaemon) {
  const std::string world = utiltest::WorldDir(), srv = world + "/lpd-srv", out = world + "/lpd-out";
  fs::create_directories(srv);
  fs::create_directories(out);
  ASSERT_TRUE(qxtest::WriteFile(world + "/home/printers.ini", "[printers]\ntestq=FILE," + out + "\n"));
  setenv("CUPS_SERVER", "127.0.0.1:9", 1);  // no CUPS server in here: asked, refused at once
  int status = -1;
  const std::string enabled =
      qxtest::Shell("cd '" + srv + "' && '" + qxtest::BinDir() + "/pwtable' enable Lpd 2>&1", &status);
  ASSERT_EQ(status, 0) << enabled;
  qxtest::Child portwarden(
      {"/bin/sh", "-c", "cd \"$0\" && exec \"$1\" >\"$0/portwarden.out\" 2>&1", srv, qxtest::BinDir() + "/portwarden"});
  ASSERT_TRUE(qxtest::WaitUntil([] { return utiltest::PortOpen(515); }, 15000))
      << qxtest::ReadFile(srv + "/portwarden.out");
  Queuepeek lpq;
  lpq.Ask("127.0.0.1", "testq", "");
  ASSERT_TRUE(lpq.AwaitEnd()) << lpq.Errors();
  const std::string reply = LatestReply(lpq.Shown(), "127.0.0.1");
  EXPECT_NE(reply.find("   Job Id      Username      File Size\r\n"), std::string::npos) << reply;
  EXPECT_NE(reply.find("There are currently 0 jobs enqueued to the print manager\r\n"), std::string::npos) << reply;
  EXPECT_EQ(lpq.Exit(), 0);
  utiltest::KillOthersInOwnNetworkNamespace();
}

TEST(QueuepeekTest, RequestsAndRepliesAgainstAScriptedServer) {
  const std::string record = utiltest::WorldDir() + "/lpd-queries.txt";
  struct Case {
    const char *mode;
    const char *printer, *user;
    const char *request;
    std::vector<std::string> rows;
  };
  const std::vector<Case> cases = {
      // LF alone becomes a new line (no staircase).
      {"queue",
       "lp",
       "fred",
       "b'\\x03lp fred\\n'",
       {"lp is ready and printing", "Rank   Owner  Job  Files", "active fred   7    report.txt"}},
      // A second query at once: the reserved port may still be held for this server.
      {"queue", "lp", "", "b'\\x03lp \\n'", {"lp is ready and printing"}},
      // 0x8A is a line feed alone (the column stays), 0x8D a new line.
      {"lpdbytes", "raw", "x", "b'\\x03raw x\\n'", {"one", "   two", "three"}},
      {"nuls", "lp", "y", "b'\\x03lp y\\n'", {"before after"}},
      {"reset",
       "lp",
       "z",
       "b'\\x03lp z\\n'",
       {"partial", "The reply is incomplete: the server reset the connection (error 10054).",
        "Query again to see all of it."}},
  };
  std::vector<std::string> argv = {"/usr/bin/python3", qxtest::SourceDir() + "/utils/testsupport/scripted_peer.py",
                                   "515", record};
  for (const Case &c : cases) argv.push_back(c.mode);
  qxtest::Child peer(argv);
  ASSERT_EQ(peer.ReadLine(10000), "ready");
  Queuepeek lpq;
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case &c = cases[i];
    SCOPED_TRACE(c.mode);
    lpq.Ask("127.0.0.1", c.printer, c.user);
    ASSERT_TRUE(lpq.AwaitEnd()) << lpq.Errors();
    const std::string reply = LatestReply(lpq.Shown(), "127.0.0.1");
    std::string want;
    for (const std::string &row : c.rows) want += row + "\r\n";
    EXPECT_EQ(reply.substr(0, want.size()), want);
    const std::string requests = qxtest::ReadFile(record);
    EXPECT_NE(requests.find(std::string(c.request) + " "), std::string::npos) << requests;
    // The first query comes from the reserved port 1000 (the test runs as root).
    if (i == 0) {
      EXPECT_NE(requests.find(std::string(c.request) + " 1000\n"), std::string::npos) << requests;
    }
  }
  EXPECT_EQ(peer.Wait(15000), 0);
  // Nothing listens any more: the window and a message box say so.
  lpq.Ask("127.0.0.1", "lp", "");
  ASSERT_TRUE(lpq.AwaitEnd());
  EXPECT_NE(lpq.Shown().find("Host 127.0.0.1 does not respond to LPQ request\r\n"), std::string::npos);
  EXPECT_NE(lpq.Errors().find("[lpq] Host 127.0.0.1 does not respond to LPQ request"), std::string::npos)
      << lpq.Errors();
  lpq.Ask("no-such-host.invalid", "lp", "");
  ASSERT_TRUE(lpq.AwaitEnd());
  EXPECT_NE(lpq.Errors().find("[lpq] Unknown Host"), std::string::npos) << lpq.Errors();
  EXPECT_EQ(lpq.Exit(), 0);
}

}  // namespace
