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
#include <filesystem>
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
  qxtest::Child peer({"/usr/bin/python3", qxtest::SourceDir() + "/utils/parley/tests/talk_peer.py", world + "/utmp",
                      "root", "alice@127.0.0.1"});
  const std::string ready = peer.ReadLine(10000);
  ASSERT_EQ(ready.rfind("ready /dev/pts/", 0), 0u) << ready;
  // A /run of the test's own (the machine may keep no utmp at all) holding it.
  ASSERT_EQ(mount("tmpfs", "/run", "tmpfs", 0, "mode=0755"), 0) << "mount a tmpfs over /run";
  ASSERT_TRUE(qxtest::WriteFile("/run/utmp", qxtest::ReadFile(world + "/utmp")));
  // The talk daemon on 127.0.0.1:518, as inetd runs it.
  qxtest::WriteFile(world + "/inetd.conf", "127.0.0.1:ntalk dgram udp wait root /usr/sbin/in.ntalkd in.ntalkd\n");
  qxtest::Child inetd({"/bin/sh", "-c", "exec /usr/sbin/inetd -d \"$0\" 2>/dev/null", world + "/inetd.conf"});

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

namespace {

namespace fs = std::filesystem;

// The pids of running processes of this program name.
std::vector<pid_t> ProcessesNamed(const std::string &name) {
  std::vector<pid_t> found;
  for (const auto &entry : fs::directory_iterator("/proc")) {
    const std::string pid = entry.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string comm = qxtest::ReadFile(entry.path().string() + "/comm");
    while (!comm.empty() && comm.back() == '\n') comm.pop_back();
    if (comm == name) found.push_back(static_cast<pid_t>(std::atoi(pid.c_str())));
  }
  return found;
}

}  // namespace

// oldparley calls the console user through the suite's oldparleyd (behind
// portwarden); the daemon's REQUEST dialog is answered with Talk, which starts
// oldparley on the called side with the caller's name and address; the two
// clients then talk both ways.
TEST(ParleyTest, OldProtocolThroughTheSuitesDaemon) {
  const std::string world = utiltest::WorldDir();
  // The daemons look for their client beside themselves.
  const std::string bin = world + "/suite-bin", srv = world + "/srv";
  fs::create_directories(bin);
  fs::create_directories(srv);
  for (const char *program : {"portwarden", "parleyd", "oldparleyd", "parley", "oldparley"})
    fs::copy_file(qxtest::BinDir() + "/" + program, bin + "/" + program, fs::copy_options::overwrite_existing);
  for (const auto &entry : fs::directory_iterator(qxtest::BinDir()))
    if (entry.path().extension() == ".so" && !fs::exists(bin + "/" + entry.path().filename().string()))
      fs::create_symlink(entry.path(), bin + "/" + entry.path().filename().string());
  ASSERT_EQ(std::system(("cd " + srv + " && " + qxtest::BinDir() + "/pwtable enable oldparleyd >/dev/null").c_str()),
            0);
  qxtest::Child portwarden(
      {"/bin/sh", "-c", "cd \"$0\" && exec \"$1\" >\"$0/portwarden.out\" 2>&1", srv, bin + "/portwarden"});
  ASSERT_TRUE(qxtest::WaitUntil([] { return std::system("ss -Hlnu | grep -q ':517 '") == 0; }, 15000))
      << qxtest::ReadFile(srv + "/portwarden.out");

  const char *console = getenv("QX_CONSOLE_USER");
  DrivenProgram caller("oldparley", "-", "Old Talk", {std::string(console) + "@127.0.0.1", "carol"});
  ASSERT_TRUE(utiltest::IsHandle(caller.window())) << caller.Errors();
  // The daemon's dialog: Talk (101).
  pid_t daemon = 0;
  ASSERT_TRUE(qxtest::WaitUntil(
      [&] {
        const auto pids = ProcessesNamed("oldparleyd");
        daemon = pids.empty() ? 0 : pids[0];
        return daemon != 0;
      },
      20000))
      << caller.Errors();
  std::string dialog;
  ASSERT_TRUE(qxtest::WaitUntil(
      [&] {
        return utiltest::IsHandle(dialog = utiltest::AutoWords(daemon, {"find", "-", "Old Talk Request"}));
      },
      30000));
  EXPECT_EQ(utiltest::Auto(daemon, "press " + utiltest::Auto(daemon, "item " + dialog + " 101")), "ok");
  // The called side's oldparley, started by the daemon.
  pid_t called = 0;
  ASSERT_TRUE(qxtest::WaitUntil(
      [&] {
        for (pid_t p : ProcessesNamed("oldparley"))
          if (p != caller.pid()) called = p;
        return called != 0;
      },
      20000));
  std::string calledWindow;
  ASSERT_TRUE(qxtest::WaitUntil(
      [&] {
        return utiltest::IsHandle(calledWindow = utiltest::AutoWords(called, {"find", "-", "Old Talk"}));
      },
      15000));
  const auto established = [](const std::string &shown) {
    return shown.find("[Connection established]") != std::string::npos;
  };
  ASSERT_TRUE(qxtest::WaitUntil([&] { return established(caller.Shown()); }, 30000)) << caller.Shown();
  utiltest::AutoWords(caller.pid(), {"type", caller.window(), "hello called"});
  Press(caller, 0x1C);
  utiltest::AutoWords(called, {"type", calledWindow, "hello caller"});
  ASSERT_TRUE(
      qxtest::WaitUntil([&] { return HasRow(Rows(utiltest::WindowShown(calledWindow)), "hello called"); }, 20000))
      << utiltest::WindowShown(calledWindow);
  EXPECT_TRUE(qxtest::WaitUntil([&] { return HasRow(Rows(caller.Shown()), "hello caller"); }, 20000)) << caller.Shown();
  // Exit on one side ends the other's conversation too.
  EXPECT_TRUE(caller.AwaitMenu(1));
  EXPECT_EQ(caller.WaitExit(15000), 0) << caller.Errors();
  EXPECT_TRUE(qxtest::WaitUntil([&] { return ProcessesNamed("oldparley").empty(); }, 20000));
  portwarden.Kill();
}

// The dialog refuses an empty user name; a called user who is not logged on
// is answered so by the talk daemon, which parley shows and then ends.
TEST(ParleyTest, DialogAndAPartyNotLoggedOn) {
  const std::string world = utiltest::WorldDir();
  qxtest::WriteFile(world + "/inetd-2.conf", "127.0.0.1:ntalk dgram udp wait root /usr/sbin/in.ntalkd in.ntalkd\n");
  qxtest::Child inetd({"/bin/sh", "-c", "exec /usr/sbin/inetd -d \"$0\" 2>/dev/null", world + "/inetd-2.conf"});
  DrivenProgram parley("parley", "-", "New Talk");
  ASSERT_TRUE(utiltest::IsHandle(parley.window())) << parley.Errors();
  std::string dialog;  // the main window has the same title: found by the dialogs' class
  ASSERT_TRUE(qxtest::WaitUntil(
      [&] {
        return utiltest::IsHandle(dialog = utiltest::AutoWords(parley.pid(), {"find", "#32770", "New Talk"}));
      },
      15000));
  parley.Fill(dialog, {{104, "127.0.0.1"}}, IDOK);
  EXPECT_TRUE(qxtest::WaitUntil(
      [&] { return parley.Errors().find("[Talk Error] Username must be specified.") != std::string::npos; }, 10000))
      << parley.Errors();
  parley.Fill(dialog, {{103, "nosuchuser"}}, IDOK);
  EXPECT_TRUE(qxtest::WaitUntil(
      [&] { return parley.Errors().find("[Talk Error] [Your party is not logged on]") != std::string::npos; }, 30000))
      << parley.Errors();
  EXPECT_EQ(parley.WaitExit(15000), 0) << parley.Errors();
  inetd.Kill();
}
