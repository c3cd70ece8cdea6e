// The Simple MAPI hand-off end to end: the MAPI library's own test program
// (a mail-enabled program written in C) sends a message through MAPI.DLL; the
// library starts the real postbox on the hand-off block; postbox shows its
// compose dialog, which is sent through the display's automation from this
// test (another process, as a person's tool would); the message reaches
// aiosmtpd with the Cc alias expanded by the alias library, and the C
// program is told it was sent. Everything runs in this test's own network
// namespace: postbox checks the password with the scripted POP server on port
// 110 and sends to port 25.
#include <gtest/gtest.h>

#include <dirent.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "pop_peers.h"
#include "qxtest/netns.h"
#include "test_support.h"

using namespace mailtest;
namespace fs = std::filesystem;

namespace {

// The machine the programs see: made before the layer reads its drive table.
struct Machine {
  Machine() {
    std::string base = (fs::temp_directory_path() / "qxpostbox-mapi-XXXXXX").string();
    root = mkdtemp(base.data());
    for (const char *d : {"/home/drive_c/WINDOWS", "/home/drive_c/docs", "/runtime", "/mail/pat", "/received", "/pop"})
      fs::create_directories(root + d);
    setenv("QX_HOME", (root + "/home").c_str(), 1);
    setenv("QX_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
    unsetenv("DISPLAY");
    setenv("QX_DISPLAY", "headless", 1);
    setenv("QX_AUTOMATION", "1", 1);  // postbox's dialog is driven through qxauto
    std::ofstream(root + "/home/drive_c/WINDOWS/QXMAIL.INI")
        << "[pat]\nMailDir=" << root << "/mail/pat\nMailHost=127.0.0.1\nLogin=False\nTimed=False\n";
    std::ofstream(root + "/mail/pat/qxalias.ini")
        << "[QX-Aliases]\nteam=\n[team]\nann@example.net=\nbob@example.net=\n";
    std::ofstream(root + "/home/drive_c/docs/plan.txt") << "the plan\r\n";
  }
  ~Machine() { fs::remove_all(root); }
  std::string root;
};
Machine &TheMachine() {
  static Machine machine;
  return machine;
}
const Machine &g_machine = TheMachine();
auto *const g_network = ::testing::AddGlobalTestEnvironment(new qxtest::OwnLoopbackNetwork);

std::string Shell(const std::string &command) {
  std::string out;
  FILE *p = popen(command.c_str(), "r");
  if (!p) return out;
  char buffer[512];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
  pclose(p);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

std::string Auto(pid_t pid, const std::string &command) {
  return Shell("timeout 20 " + std::string(QX_BIN_DIR) + "/qxauto -p " + std::to_string(pid) + " " + command);
}

// The processes that answer automation, other than this one.
std::vector<pid_t> AutomatedProcesses() {
  std::vector<pid_t> pids;
  DIR *d = opendir((g_machine.root + "/runtime").c_str());
  if (!d) return pids;
  while (const dirent *e = readdir(d)) {
    int pid = 0;
    if (std::sscanf(e->d_name, "auto-%d.sock", &pid) == 1 && pid != getpid()) pids.push_back(pid);
  }
  closedir(d);
  return pids;
}

// Waits for a window titled title in one of the automated processes: its
// process and handle ("0x..."), or none within about 30 s.
std::pair<pid_t, std::string> WaitForWindow(const std::string &title) {
  for (int i = 0; i < 300; ++i) {
    for (pid_t pid : AutomatedProcesses()) {
      const std::string found = Auto(pid, "find - '" + title + "'");
      if (found.rfind("ok ", 0) == 0) return {pid, found.substr(3, found.find(' ', 3) - 3)};
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return {0, ""};
}

TEST(PostboxMapi, AMessageFromACProgramIsSentWithItsAliasExpanded) {
  const std::string root = g_machine.root;
  Child smtp, pop, caller;
  ASSERT_TRUE(
      smtp.Start({"/usr/bin/python3", SourceDir() + "/mail/client/tests/smtp_peer.py", root + "/received", "25"}, true))
      << "the SMTP peer did not start on port 25 (package python3-aiosmtpd)";
  ASSERT_TRUE(pop.Start({"/usr/bin/python3", SourceDir() + "/mail/client/tests/pop_peer.py", root + "/pop",
                         root + "/pop.log", "--port", "110"},
                        true));
  const std::string out = root + "/caller.out";
  ASSERT_TRUE(
      caller.Start({"/bin/sh", "-c",
                    "exec timeout 90 '" + std::string(QX_BIN_DIR) +
                        "/postbox_mapi_caller' 'Quarterly plan' carol@example.net team 'C:\\docs\\plan.txt' > " + out},
                   false));
  // postbox shows its compose dialog with what the program handed over.
  const auto [pid, dialog] = WaitForWindow("Send Mail");
  ASSERT_NE(pid, 0) << "postbox's compose dialog did not appear";
  const std::string send = Auto(pid, "item " + dialog + " 402");
  ASSERT_EQ(send.rfind("ok ", 0), 0u) << send;
  EXPECT_EQ(Auto(pid, "press " + send.substr(3)), "ok");
  EXPECT_EQ(caller.Wait(60), 0) << "the C program was not told the message was sent";
  EXPECT_EQ(qxtest::ReadFile(out), "send 0\n");

  const std::string env = qxtest::ReadFile(root + "/received/msg-1.env");
  EXPECT_NE(env.find("\ncarol@example.net ann@example.net bob@example.net\n"), std::string::npos) << env;
  const std::string m = qxtest::ReadFile(root + "/received/msg-1.eml");
  EXPECT_NE(m.find("Subject: Quarterly plan\r\n"), std::string::npos) << m;
  EXPECT_NE(m.find("To: carol@example.net\r\n"), std::string::npos) << m;
  EXPECT_NE(m.find("Cc: team:;\r\n"), std::string::npos) << m;
  EXPECT_NE(m.find("\r\n\r\nSent by a C program.\r\n"), std::string::npos) << m;
  EXPECT_NE(m.find("\r\nbegin 777 Attachment\r\n"), std::string::npos) << m;
  EXPECT_NE(qxtest::ReadFile(root + "/pop.log").find("USER pat"), std::string::npos);
}

}  // namespace
