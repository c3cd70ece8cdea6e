// parley against Debian's talk daemon (in.ntalkd under openbsd-inetd) and
// Debian's talk as the second user, in a network and mount namespace of the
// test's own: the called user "root" is logged on (a utmp of the test's own
// mounted over the machine's) at a pseudo-terminal where the daemon rings;
// talk answers from another one (talk_peer.py), and the two hold a
// conversation both ways with erase and kill characters. parley is driven
// through qxauto and its screen read back by copying.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "program_driver.h"
#include "qxtest/support.h"

namespace {

using utiltest::DrivenProgram;

class WorldEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { utiltest::EnterTestWorld(true); }
  void TearDown() override {
    utiltest::KillOthersInOwnNetworkNamespace();
    qxtest::KillProcessesOfRuntime(utiltest::WorldDir() + "/run");
  }
};
const auto *g_env = ::testing::AddGlobalTestEnvironment(new WorldEnvironment);

// The rows of the copied screen.
std::vector<std::string> Rows(const std::string &shown) {
  std::vector<std::string> rows;
  size_t at = 0;
  while (at <= shown.size()) {
    const size_t end = shown.find("\r\n", at);
    rows.push_back(shown.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) break;
    at = end + 2;
  }
  return rows;
}

bool HasRow(const std::vector<std::string> &rows, const std::string &row) {
  for (const std::string &r : rows)
    if (r == row) return true;
  return false;
}

// Keys by scan code: Backspace, Ctrl, U, Enter.
void Key(DrivenProgram &p, int scan, bool down) {
  p.Auto("key " + p.window() + " " + std::to_string(scan) + " 0 " + (down ? "down" : "up"));
}
void Press(DrivenProgram &p, int scan) {
  Key(p, scan, true);
  Key(p, scan, false);
}

TEST(ParleyTest, ConversationWithDebiansTalkThroughItsDaemon) {
  ASSERT_TRUE(std::system("test -x /usr/sbin/in.ntalkd && test -x /usr/bin/talk") == 0)
      << "Debian's talkd and talk are missing: bash scripts/setup.sh installs them";
  const std::string world = utiltest::WorldDir();
  // The second user's terminal, logged on as root in the test's utmp.
  qxtest::Child peer({"/usr/bin/python3", qxtest::SourceDir() + "/utils/parley/tests/talk_peer.py",
                      world + "/utmp", "root", "alice@127.0.0.1"});
  const std::string ready = peer.ReadLine(10000);
  ASSERT_EQ(ready.rfind("ready /dev/pts/", 0), 0u) << ready;
  // A /run of the test's own (the machine may keep no utmp at all) holding it.
  ASSERT_EQ(mount("tmpfs", "/run", "tmpfs", 0, "mode=0755"), 0) << "mount a tmpfs over /run";
  ASSERT_TRUE(qxtest::WriteFile("/run/utmp", qxtest::ReadFile(world + "/utmp")));
  // The talk daemon on 127.0.0.1:518, as inetd runs it.
  qxtest::WriteFile(world + "/inetd.conf", "127.0.0.1:ntalk dgram udp wait root /usr/sbin/in.ntalkd in.ntalkd\n");
  qxtest::Child inetd({"/usr/sbin/inetd", "-d", world + "/inetd.conf"});

  // Started with the called party and the local user: no dialog.
  DrivenProgram parley("parley", "-", "New Talk", {"root@127.0.0.1", "alice"});
  ASSERT_TRUE(utiltest::IsHandle(parley.window())) << parley.window() << "\n" << parley.Errors() << parley.Auto("list");
  EXPECT_EQ(peer.ReadLine(40000), "rung") << parley.Errors();
  EXPECT_EQ(peer.ReadLine(40000), "connected") << parley.Errors();
  EXPECT_EQ(peer.ReadLine(20000), "typed");

  // parley types: a plain line, one with Backspace, one with Ctrl+U.
  utiltest::AutoWords(parley.pid(), {"type", parley.window(), "from parlez"});
  Press(parley, 0x0E);  // Backspace
  parley.Auto("type " + parley.window() + " y");
  Press(parley, 0x1C);  // Enter
  parley.Auto("type " + parley.window() + " junk");
  Key(parley, 0x1D, true);  // Ctrl+U: the kill character
  Press(parley, 0x16);
  Key(parley, 0x1D, false);
  parley.Auto("type " + parley.window() + " kept");
  Press(parley, 0x1C);

  std::vector<std::string> talkScreen;
  for (std::string line = peer.ReadLine(70000); !line.empty() && line != "done"; line = peer.ReadLine(10000))
    if (line.rfind("screen:", 0) == 0) talkScreen.push_back(line.substr(7));
  const auto hasText = [&](const std::string &text) {
    for (const std::string &row : talkScreen)
      if (row.find(text) != std::string::npos) return true;
    return false;
  };
  std::string talkText;
  for (const std::string &row : talkScreen) talkText += row + "\n";
  EXPECT_TRUE(hasText("from parley")) << talkText;
  EXPECT_FALSE(hasText("junk")) << talkText;
  EXPECT_TRUE(hasText("kept")) << talkText;

  // parley's screen: its own lines above the divider, talk's below, the
  // erased cell gone.
  const std::vector<std::string> rows = Rows(parley.Shown());
  std::string shown;
  for (const std::string &row : rows) shown += row + "\n";
  EXPECT_TRUE(HasRow(rows, "from parley")) << shown;
  EXPECT_TRUE(HasRow(rows, std::string(80, '-'))) << shown;
  EXPECT_TRUE(HasRow(rows, "hello from talk")) << shown;
  EXPECT_TRUE(HasRow(rows, "abc")) << shown;
  EXPECT_NE(shown.find("[Connection established]"), std::string::npos) << shown;

  // Exit: the window closes and the program ends.
  EXPECT_TRUE(parley.AwaitMenu(1));
  EXPECT_EQ(parley.WaitExit(15000), 0) << parley.Errors();
  peer.Kill();
  inetd.Kill();
}

}  // namespace
