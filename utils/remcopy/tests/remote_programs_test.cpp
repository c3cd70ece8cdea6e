// remcopyx, remcopys, runfar and shellfar against Debian's rexec server
// (in.rexecd, unpacked by scripts/setup.d/rsh-peers.sh) and rsh server
// (in.rshd of rsh-redone-server), both started per connection by socat on
// 127.0.0.1 of a network and mount namespace of the test's own. Inside it
// root's home is a scratch folder whose .rhosts trusts root on loopback, and
// root's password (for rexec) is one the test sets in a copy of the shadow
// file mounted over the machine's. The programs are driven through qxauto.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "program_driver.h"
#include "qxtest/support.h"

namespace {

namespace fs = std::filesystem;
using utiltest::DrivenProgram;

constexpr const char *kPassword = "rexec-test-pw";

std::string RshPeers() {
  const char *d = getenv("QX_RSH_PEERS");
  return std::string(d && *d ? d : "/opt/qx-rsh-peers") + "/rsh-server";
}

std::string Run(const std::string &command) {
  std::string out;
  if (FILE *p = popen(command.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

// root's home and password as the servers see them, and the two servers.
class ServiceWorld : public ::testing::Environment {
 public:
  void SetUp() override {
    utiltest::EnterTestWorld(true);
    setenv("USERNAME", "root", 1);  // the local-side user the shell service checks in .rhosts
    const std::string world = utiltest::WorldDir();
    home_ = world + "/roothome";
    fs::create_directories(home_);
    fs::permissions(home_, fs::perms::owner_all);
    qxtest::WriteFile(home_ + "/.rhosts", "localhost root\n127.0.0.1 root\n");
    chmod((home_ + "/.rhosts").c_str(), 0600);
    ASSERT_EQ(mount(home_.c_str(), "/root", nullptr, MS_BIND, nullptr), 0) << "bind-mount over /root";
    // root's password for the exec service, in a shadow file of the test's own.
    const std::string hash = Run(std::string("openssl passwd -6 ") + kPassword);
    ASSERT_EQ(hash.rfind("$6$", 0), 0u) << hash;
    std::ifstream in("/etc/shadow");
    std::string line, shadow;
    while (std::getline(in, line))
      shadow += (line.rfind("root:", 0) == 0 ? "root:" + hash + line.substr(line.find(':', 5)) : line) + "\n";
    qxtest::WriteFile(world + "/shadow", shadow);
    chmod((world + "/shadow").c_str(), 0640);
    ASSERT_EQ(mount((world + "/shadow").c_str(), "/etc/shadow", nullptr, MS_BIND, nullptr), 0);
    // The daemons write their refusals on standard error: it is the socket,
    // as under inetd.
    const std::string rexecd = RshPeers() + "/usr/sbin/in.rexecd";
    ASSERT_TRUE(fs::exists(rexecd)) << rexecd << " is missing: run bash scripts/setup.sh";
    ASSERT_TRUE(fs::exists("/usr/sbin/in.rshd")) << "in.rshd is missing: install rsh-redone-server (scripts/setup.sh)";
    StartService(512, rexecd);
    StartService(514, "/usr/sbin/in.rshd");
  }
  void TearDown() override {
    servers_.clear();
    utiltest::KillOthersInOwnNetworkNamespace();
    qxtest::KillProcessesOfRuntime(utiltest::WorldDir() + "/run");
  }
  static std::string Home() { return home_; }

 private:
  void StartService(int port, const std::string &daemon) {
    const std::string wrapper = utiltest::WorldDir() + "/service-" + std::to_string(port) + ".sh";
    qxtest::WriteFile(wrapper, "#!/bin/sh\nexec " + daemon + " 2>&1\n");
    chmod(wrapper.c_str(), 0755);
    servers_.push_back(std::make_unique<qxtest::Child>(std::vector<std::string>{
        "/usr/bin/socat", "-lf/dev/null", "TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr,fork",
        "EXEC:" + wrapper + ",nofork"}));
    ASSERT_TRUE(qxtest::WaitUntil([port] { return utiltest::PortOpen(port); }, 10000)) << port;
  }
  static std::string home_;
  std::vector<std::unique_ptr<qxtest::Child>> servers_;
};
std::string ServiceWorld::home_;
const auto *g_env = ::testing::AddGlobalTestEnvironment(new ServiceWorld);

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string bytes(size, '\0');
  for (char &c : bytes) c = static_cast<char>(rng());
  return bytes;
}

// One remote copy program and its dialog. Each qxauto call is a process
// start, so item handles are looked up once and fields set only when they
// change.
class Remcopy : public DrivenProgram {
 public:
  explicit Remcopy(bool exec)
      : DrivenProgram(exec ? "remcopyx" : "remcopys", exec ? "QXREMCOPYX" : "QXREMCOPYS",
                      exec ? "QXREMCOPYX" : "QXREMCOPYS"),
        exec_(exec) {
    dialog_ = AwaitDialog(exec ? "Remote Copy via Runfar" : "Remote Copy via SHELLFAR");
  }
  std::string Item(int id) {
    std::string &h = items_[id];
    if (h.empty()) h = Auto("item " + dialog_ + " " + std::to_string(id));
    return h;
  }
  void Set(int id, const std::string &text) {
    if (shown_[id] == text) return;
    EXPECT_EQ(Auto("settext " + Item(id) + " " + text), "ok") << id;
    shown_[id] = text;
  }
  // Copies (button 1 to the remote host, 110 from it) and waits for "Done".
  void Copy(int button, const std::string &local, const std::string &remote, const std::string &password = kPassword) {
    ASSERT_FALSE(dialog_.empty()) << Errors();
    Set(100, "127.0.0.1");
    Set(101, "root");
    Set(106, local);
    Set(107, remote);
    if (exec_) Set(104, password);
    EXPECT_EQ(Auto("press " + Item(button)), "ok");
    ASSERT_TRUE(qxtest::WaitUntil([&] { return Auto("text " + Item(105)) == "Done"; }, 30000))
        << Auto("text " + Item(105)) << "\n" << Errors();
  }
  int Exit() {
    Auto("press " + Item(2));
    return WaitExit(10000);
  }

 private:
  bool exec_;
  std::string dialog_;
  std::map<int, std::string> items_, shown_;
};

TEST(RemoteCopyTest, CopiesBothWaysByteForByte) {
  const std::string local = utiltest::WorldDir() + "/work";
  const std::string remote = ServiceWorld::Home();
  for (const bool exec : {false, true}) {
    Remcopy copy(exec);
    for (const size_t size : {exec ? size_t{300000} : size_t{1} << 20, size_t{0}}) {
      SCOPED_TRACE(std::string(exec ? "exec " : "shell ") + std::to_string(size));
      const std::string bytes = RandomBytes(size, static_cast<unsigned>(size + exec));
      const std::string name = "file-" + std::to_string(size) + (exec ? "x" : "s");
      qxtest::WriteFile(local + "/" + name, bytes);
      copy.Copy(1, local + "/" + name, remote + "/" + name + ".there");
      EXPECT_EQ(qxtest::ReadFile(remote + "/" + name + ".there"), bytes) << copy.Errors();
      copy.Copy(110, local + "/" + name + ".back", remote + "/" + name + ".there");
      EXPECT_EQ(qxtest::ReadFile(local + "/" + name + ".back"), bytes) << copy.Errors();
    }
    EXPECT_EQ(copy.Errors(), "");
    EXPECT_EQ(copy.Exit(), 0);
  }
  // The host used joined the recent list.
  EXPECT_NE(qxtest::ReadFile(local + "/QXAPPS.INI").find("FILE_0=127.0.0.1"), std::string::npos);
}

TEST(RemoteCopyTest, RefusalsLeaveTheLocalFileAlone) {
  const std::string local = utiltest::WorldDir() + "/work/kept.txt";
  qxtest::WriteFile(local, "precious\n");
  {
    // A remote file that is not there: the remote rcp says so; nothing is
    // written over the local file and no temporary file stays.
    Remcopy copy(false);
    copy.Copy(110, local, ServiceWorld::Home() + "/no-such-file");
    EXPECT_NE(copy.Errors().find("[RCP Error]"), std::string::npos) << copy.Errors();
    EXPECT_NE(copy.Errors().find("no-such-file"), std::string::npos) << copy.Errors();
    EXPECT_EQ(copy.Exit(), 0);
  }
  {
    // A wrong password: the exec service closes without running the command.
    Remcopy copy(true);
    copy.Copy(110, local, ServiceWorld::Home() + "/no-such-file", "wrong-password");
    EXPECT_NE(copy.Errors().find("Error sending command"), std::string::npos) << copy.Errors();
    EXPECT_NE(copy.Errors().find("refused the user name or password"), std::string::npos) << copy.Errors();
    EXPECT_EQ(copy.Exit(), 0);
  }
  EXPECT_EQ(qxtest::ReadFile(local), "precious\n");
  for (const auto &entry : fs::directory_iterator(utiltest::WorldDir() + "/work"))
    EXPECT_EQ(entry.path().filename().string().rfind("rcp", 0), std::string::npos) << entry.path();
}

}  // namespace

namespace {

// One remote command program and its dialog.
class Runfar : public DrivenProgram {
 public:
  explicit Runfar(bool exec)
      : DrivenProgram(exec ? "runfar" : "shellfar", exec ? "QXRUNFAR" : "QXSHELLFAR", exec ? "QXRUNFAR" : "QXSHELLFAR"),
        exec_(exec) {
    dialog_ = AwaitDialog(exec ? "Remote Execution" : "Remote Shell");
  }
  std::string Item(int id) {
    std::string &h = items_[id];
    if (h.empty()) h = Auto("item " + dialog_ + " " + std::to_string(id));
    return h;
  }
  void Execute(const std::string &command, const std::string &user = "root", const std::string &password = kPassword,
               const std::string &host = "127.0.0.1") {
    ASSERT_FALSE(dialog_.empty()) << Errors();
    std::vector<std::pair<int, std::string>> fields = {{100, host}, {101, user}, {102, command}};
    if (exec_) fields.push_back({104, password});
    for (const auto &[id, text] : fields) EXPECT_EQ(Auto("settext " + Item(id) + " " + text), "ok") << id;
    EXPECT_EQ(Auto("press " + Item(1)), "ok");
  }
  // The list's lines, joined by LF.
  std::string Output() {
    const std::string items = Auto("items " + Item(103));
    return items == "ok" ? "" : items;
  }
  // The output once the run ended (the button says Execute again) with
  // this last line.
  std::string AwaitOutput(const std::string &last, int ms = 30000) {
    std::string out;
    qxtest::WaitUntil(
        [&] {
          if (Auto("text " + Item(1)) != "&Execute") return false;
          out = Output();
          const std::string tail = "\n" + last;
          return out == last || (out.size() >= tail.size() && out.compare(out.size() - tail.size(), tail.size(), tail) == 0);
        },
        ms);
    return out;
  }
  bool exec_;
  std::string dialog_;
  std::map<int, std::string> items_;
};

}  // namespace

TEST(RemoteCommandTest, OutputThenErrorsAndLongLines) {
  for (const bool exec : {false, true}) {
    SCOPED_TRACE(exec ? "runfar" : "shellfar");
    Runfar run(exec);
    // Standard output first, then the error stream; tabs kept, CR dropped.
    run.Execute("printf 'out\\tone\\r\\n'; echo err >&2; echo out2");
    EXPECT_EQ(run.AwaitOutput("err"), "out\tone\nout2\nerr");
    EXPECT_EQ(run.Auto("text " + run.dialog_), std::string(exec ? "QXRUNFAR" : "QXSHELLFAR") +
                                                   " - printf 'out\\tone\\r\\n'; echo err >&2; echo out2");
    if (exec) {
      // 300 KB on the error stream before standard output closes: the run
      // ends, the error lines come after "done", split at 1023 characters.
      run.Execute("head -c 300000 /dev/zero | tr -c x x >&2; echo done");
      const std::string out = run.AwaitOutput(std::string(300000 % 1023, 'x'), 60000);
      ASSERT_EQ(out.rfind("done\n" + std::string(1023, 'x') + "\n", 0), 0u) << out.substr(0, 200);
      EXPECT_EQ(out.size(), std::string("done").size() + 300000 + 300000 / 1023 + 1);
    }
    EXPECT_EQ(run.Errors(), "");
    run.Auto("press " + run.Item(2));
    EXPECT_EQ(run.WaitExit(10000), 0);
  }
}

TEST(RemoteCommandTest, SendsInputAndCloseEndsARun) {
  Runfar run(false);
  run.Execute("cat");
  ASSERT_TRUE(qxtest::WaitUntil([&] { return run.Auto("text " + run.Item(1)) == "&Send"; }, 20000)) << run.Errors();
  EXPECT_EQ(run.Auto("settext " + run.Item(102) + " hello there"), "ok");
  EXPECT_EQ(run.Auto("press " + run.Item(1)), "ok");
  EXPECT_TRUE(qxtest::WaitUntil([&] { return run.Output() == "hello there"; }, 20000)) << run.Output();
  // Close while the command runs: the connections close and the program ends.
  EXPECT_EQ(run.Auto("press " + run.Item(2)), "ok");
  EXPECT_EQ(run.WaitExit(20000), 0) << run.Errors();
}

TEST(RemoteCommandTest, RefusalsAreShown) {
  {
    Runfar run(true);
    run.Execute("echo never", "root", "wrong-password");
    EXPECT_TRUE(qxtest::WaitUntil([&] { return run.Errors().find("Error sending command") != std::string::npos; },
                                  20000));
    EXPECT_NE(run.Errors().find("[QXRUNFAR]"), std::string::npos) << run.Errors();
    EXPECT_EQ(run.Output(), "");
    run.Auto("press " + run.Item(2));
    EXPECT_EQ(run.WaitExit(10000), 0);
  }
  {
    // A local user root's .rhosts does not trust: the shell service says so.
    setenv("USERNAME", "stranger", 1);
    Runfar run(false);
    setenv("USERNAME", "root", 1);
    run.Execute("echo never");
    EXPECT_TRUE(qxtest::WaitUntil(
        [&] { return run.Errors().find("Authentication failure") != std::string::npos ||
                     run.Output().find("Authentication failure") != std::string::npos; },
        20000))
        << run.Errors() << run.Output();
    EXPECT_EQ(run.Output().find("never"), std::string::npos);
    run.Auto("press " + run.Item(2));
    EXPECT_EQ(run.WaitExit(10000), 0);
  }
  {
    // No service on the port: the connection's own box, then "Connect Error".
    Runfar run(true);
    run.Execute("echo x", "root", kPassword, "127.0.0.2");
    EXPECT_TRUE(qxtest::WaitUntil([&] { return run.Errors().find("[QXRUNFAR] Connect Error") != std::string::npos; },
                                  20000))
        << run.Errors();
  }
}
