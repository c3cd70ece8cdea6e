// whoprobe in a network namespace of the test's own, against Debian's fingerd
// (started per connection by socat), the suite's finger daemon behind
// portwarden and a scripted server with hostile replies, all on port 79 of
// 127.0.0.1. The program is driven through the layer's automation (the Host
// dialog filled and confirmed, the next query chosen from the menu) and what
// its text window shows is read back by selecting it and copying it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "program_driver.h"
#include "qxtest/support.h"

namespace {

using utiltest::Auto;
using utiltest::DrivenProgram;

class WorldEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { utiltest::EnterTestWorld(false); }
  void TearDown() override { qxtest::KillProcessesOfRuntime(utiltest::WorldDir() + "/run"); }
};
const auto *g_env = ::testing::AddGlobalTestEnvironment(new WorldEnvironment);

std::string Bin(const std::string &name) { return qxtest::BinDir() + "/" + name; }

// whoprobe, with the Host dialog it opens at start and after each query.
class Whoprobe : public DrivenProgram {
 public:
  Whoprobe() : DrivenProgram("whoprobe", "Finger", "Finger") {}
  void Ask(const std::string &host, const std::string &user) {
    const std::string dialog = AwaitDialog("Finger Remote Host");
    ASSERT_FALSE(dialog.empty()) << Errors();
    Fill(dialog, {{400, host}, {401, user}}, IDOK);
  }
  std::string OfferedHosts() {
    const std::string dialog = AwaitDialog("Finger Remote Host");
    return Auto("items " + Auto("item " + dialog + " 400"));
  }
  // The query has ended once "Finger Host" is offered again; choosing it opens the next dialog.
  bool AwaitEnd() { return AwaitMenu(100); }
  void ToggleLongOutput() { EXPECT_EQ(Auto("menu " + window() + " 200"), "ok"); }
  int Exit() { return DrivenProgram::Exit("Finger Remote Host", 101); }
};

// The text after the last "[host]" line: the reply of the latest query.
std::string LatestReply(const std::string &shown, const std::string &host) {
  const std::string marker = "[" + host + "]\r\n";
  const size_t at = shown.rfind(marker);
  return at == std::string::npos ? "<no [" + host + "] line in: " + shown + ">" : shown.substr(at + marker.size());
}

TEST(WhoprobeTest, QueriesDebianFingerdAndTheSuitesDaemon) {
  {
    qxtest::Child fingerd(
        {"/usr/bin/socat", "-lf/dev/null", "TCP-LISTEN:79,bind=127.0.0.1,reuseaddr,fork", "EXEC:/usr/sbin/in.fingerd"});
    ASSERT_TRUE(qxtest::WaitUntil([] { return utiltest::PortOpen(79); }, 10000)) << "socat did not listen on 79";
    Whoprobe probe;
    probe.Ask("127.0.0.1", "root");
    ASSERT_TRUE(probe.AwaitEnd()) << probe.Errors();
    std::string reply = LatestReply(probe.Shown(), "127.0.0.1");
    EXPECT_NE(reply.find("Login: root"), std::string::npos) << reply;
    // Long output ("/W root") as fingerd's long form, and the host recorded once.
    probe.ToggleLongOutput();
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
  ASSERT_TRUE(qxtest::WaitUntil([] { return utiltest::PortOpen(79); }, 15000)) << "portwarden did not listen on 79";
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
  const std::string record = utiltest::WorldDir() + "/queries.txt";
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
      {"reset",
       "r",
       false,
       "b'r\\r\\n'",
       {"partial", "The reply is incomplete: the server reset the connection (error 10054).",
        "Query again to see all of it."}},
      {"silent",
       "s",
       false,
       "b's\\r\\n'",
       {"The reply is incomplete: the host did not answer in time (error 10060).", "Query again to see all of it."}},
  };
  std::vector<std::string> argv = {"/usr/bin/python3", qxtest::SourceDir() + "/utils/testsupport/scripted_peer.py",
                                   "79", record};
  for (const Case &c : cases) argv.push_back(c.mode);
  qxtest::Child peer(argv);
  ASSERT_EQ(peer.ReadLine(10000), "ready");
  Whoprobe probe;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.mode);
    if (c.longOutput) probe.ToggleLongOutput();
    probe.Ask("127.0.0.1", c.user);
    ASSERT_TRUE(probe.AwaitEnd()) << probe.Errors();
    const std::string reply = LatestReply(probe.Shown(), "127.0.0.1");
    std::string want;
    for (const std::string &row : c.rows) want += row + "\r\n";
    EXPECT_EQ(reply.substr(0, want.size()), want);
    const std::string queries = qxtest::ReadFile(record);
    EXPECT_NE(queries.find(std::string(c.query) + " "), std::string::npos) << queries;
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
