// servicelist and sharelist in a network and mount namespace of the test's
// own (a private /run for rpcbind and the service manager), calling through
// qxnfsdev, the NFS client's RPC device: against Debian's rpcbind (the list
// equals `rpcinfo -p`), the suite's NFS server sharehost (equals
// `showmount -e`, and its portmapper's table), and a hostile server (300
// registrations, an export whose length runs past the datagram). Driven
// through the layer's automation.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "program_driver.h"
#include "qxtest/support.h"

namespace {

namespace fs = std::filesystem;
using utiltest::DrivenProgram;

class WorldEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    utiltest::EnterTestWorld(true);
    // rpcbind and the service manager keep their sockets under /run.
    ASSERT_EQ(mount("tmpfs", "/run", "tmpfs", 0, "mode=0755"), 0) << "cannot mount a private /run";
  }
  void TearDown() override {
    utiltest::KillOthersInOwnNetworkNamespace();
    qxtest::KillProcessesOfRuntime(utiltest::WorldDir() + "/run");
  }
};
const auto *g_env = ::testing::AddGlobalTestEnvironment(new WorldEnvironment);

std::string Bin(const std::string &name) { return qxtest::BinDir() + "/" + name; }

std::string Shell(const std::string &command, int *status = nullptr) {
  std::string out;
  if (FILE *p = popen((command + " 2>&1").c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int rc = pclose(p);
    if (status) *status = WEXITSTATUS(rc);
  }
  return out;
}

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    if (!line.empty()) out.push_back(line);
  return out;
}

std::vector<std::string> Fields(const std::string &line, char separator) {
  std::vector<std::string> out;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, separator)) out.push_back(field);
  return out;
}

std::string Trim(const std::string &s) {
  const size_t a = s.find_first_not_of(' '), b = s.find_last_not_of(' ');
  return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

// One of the listers: its dialog is its window.
class Lister : public DrivenProgram {
 public:
  Lister(const std::string &name, const std::string &title) : DrivenProgram(name, "-", title) {}
  // The lines listed for host (empty after an error, which goes to Errors()).
  std::vector<std::string> List(const std::string &host) {
    EXPECT_EQ(Auto("settext " + Auto("item " + window() + " 101") + " " + host), "ok");
    EXPECT_EQ(Auto("press " + Auto("item " + window() + " 1")), "ok");
    const std::string items = Auto("items " + Auto("item " + window() + " 102"));
    return items == "ok" ? std::vector<std::string>{} : Lines(items);
  }
  std::string Offered() { return Auto("items " + Auto("item " + window() + " 101")); }
  int Close() {
    Auto("press " + Auto("item " + window() + " 2"));
    return WaitExit(10000);
  }
};

// The NFS client's device, served for the test's processes.
class RpcDevice {
 public:
  RpcDevice() : child_({Bin("qxnfsdev")}) { ready_ = child_.ReadLine(10000) == "ready"; }
  bool ready() const { return ready_; }

 private:
  qxtest::Child child_;
  bool ready_ = false;
};

// "program version proto port" of each servicelist line, and the name shown.
std::set<std::string> Registrations(const std::vector<std::string> &lines, std::vector<std::string> *names = nullptr) {
  std::set<std::string> out;
  for (const std::string &line : lines) {
    const std::vector<std::string> f = Fields(line, '\t');
    if (f.size() != 5) {
      out.insert("<not a registration: " + line + ">");
      continue;
    }
    out.insert(Trim(f[0]) + " " + Trim(f[1]) + " " + Trim(f[3]) + " " + Trim(f[2]));
    if (names) names->push_back(Trim(f[0]) + "=" + f[4]);
  }
  return out;
}

TEST(ListersTest, ServicesOfRpcbindEqualRpcinfo) {
  qxtest::Child rpcbind({"/usr/sbin/rpcbind", "-f", "-w"});
  ASSERT_TRUE(qxtest::WaitUntil([] { return utiltest::PortOpen(111); }, 10000)) << "rpcbind did not start";
  int status = 0;
  const std::string set =
      Shell("python3 " + qxtest::SourceDir() + "/utils/rpclister/tests/pmap_set.py 400123 3 17 900", &status);
  ASSERT_EQ(status, 0) << set;
  RpcDevice device;
  ASSERT_TRUE(device.ready());

  Lister services("servicelist", "RPC Information (Portmapper)");
  std::vector<std::string> names;
  const std::set<std::string> listed = Registrations(services.List("127.0.0.1"), &names);
  std::set<std::string> expected;
  for (const std::string &line : Lines(Shell("timeout 20 rpcinfo -p 127.0.0.1"))) {
    std::istringstream f(line);
    std::string program, version, proto, port;
    if (f >> program >> version >> proto >> port && program != "program")
      expected.insert(program + " " + version + " " + proto + " " + port);
  }
  EXPECT_EQ(listed, expected);
  EXPECT_EQ(expected.count("400123 3 udp 900"), 1u);
  EXPECT_NE(std::find(names.begin(), names.end(), "100000=portmapper"), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), "400123=(unknown)"), names.end());
  // By name, then a name nobody knows (no NIS configured): nothing listed.
  EXPECT_EQ(Registrations(services.List("localhost")), expected);
  EXPECT_TRUE(services.List("no-such-host.invalid").empty());
  EXPECT_NE(services.Errors().find("[servicelist Error] RPC Error: Host unknown"), std::string::npos)
      << services.Errors();
  EXPECT_EQ(services.Offered(), "localhost\n127.0.0.1");

  // rpcbind knows no MOUNT program.
  Lister exports("sharelist", "NFS Exports");
  EXPECT_TRUE(exports.List("127.0.0.1").empty());
  EXPECT_NE(exports.Errors().find("[sharelist Error] RPC Error: Remote program unavailable"), std::string::npos)
      << exports.Errors();
  EXPECT_EQ(exports.Close(), 0);
  EXPECT_EQ(services.Close(), 0);
  const std::string ini = utiltest::WorldDir() + "/work/QXAPPS.INI";
  EXPECT_NE(qxtest::ReadFile(ini).find("[servicelist]"), std::string::npos);
  EXPECT_GE(static_cast<int>(GetPrivateProfileIntA("servicelist", "Xl", -99999, ini.c_str())), -1000);
}

TEST(ListersTest, WithoutTheDeviceTheListersSaySo) {
  Lister services("servicelist", "RPC Information (Portmapper)");
  EXPECT_TRUE(services.List("127.0.0.1").empty());
  EXPECT_NE(services.Errors().find("[servicelist Error] RPC Error: Unable to load RPC layer"), std::string::npos)
      << services.Errors();
  EXPECT_EQ(services.Close(), 0);
}

TEST(ListersTest, ExportsOfSharehostEqualShowmount) {
  const std::string world = utiltest::WorldDir();
  for (const char *d : {"windows", "d/qxnfs", "d/ex/pub", "d/ex/ro"}) fs::create_directories(world + "/" + d);
  setenv("QX_WINDOWS_DIR", (world + "/windows").c_str(), 1);
  setenv("QX_DRIVE_D", (world + "/d").c_str(), 1);
  qxtest::WriteFile(world + "/windows/exports", "d:\\ex\\pub\nd:\\ex\\ro -ro localhost\n");
  int status = 0;
  std::string out = Shell("'" + Bin("qxreg") +
                              "' set 'HKLM\\SOFTWARE\\Corvane\\NFSClient\\CurrentVersion' 'Installation Directory' "
                              "REG_SZ 'D:\\qxnfs'",
                          &status);
  ASSERT_EQ(status, 0) << out;
  out = Shell("'" + Bin("qxsc") + "' create QXNFSServer '" + Bin("sharehost") + "'", &status);
  ASSERT_EQ(status, 0) << out;
  out = Shell("'" + Bin("qxsc") + "' start QXNFSServer", &status);
  ASSERT_EQ(status, 0) << out;
  ASSERT_TRUE(qxtest::WaitUntil(
      [&] { return qxtest::ReadFile(world + "/events.txt").find("serving") != std::string::npos; }, 15000))
      << qxtest::ReadFile(world + "/events.txt");
  RpcDevice device;
  ASSERT_TRUE(device.ready());

  Lister exports("sharelist", "NFS Exports");
  const std::vector<std::string> lines = exports.List("127.0.0.1");
  // "dir group,group" from both: the list's "%-32s\t" line and showmount's columns.
  std::vector<std::string> listed, shown;
  for (const std::string &line : lines) {
    const size_t tab = line.find('\t');
    std::string groups = tab == std::string::npos ? "?" : line.substr(tab + 1);
    if (!groups.empty() && groups[0] == ' ') groups.erase(0, 1);  // each group follows one blank
    std::replace(groups.begin(), groups.end(), ' ', ',');
    listed.push_back(Trim(line.substr(0, tab)) + " " + groups);
  }
  for (const std::string &line : Lines(Shell("timeout 20 showmount -e 127.0.0.1"))) {
    if (line.rfind("Export list", 0) == 0) continue;
    std::istringstream f(line);
    std::string dir, groups;
    f >> dir >> groups;
    shown.push_back(dir + " " + groups);
  }
  EXPECT_EQ(listed, shown);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "/d/ex/pub" + std::string(23, ' ') + "\t (everyone)");

  Lister services("servicelist", "RPC Information (Portmapper)");
  std::vector<std::string> names;
  EXPECT_EQ(
      Registrations(services.List("127.0.0.1"), &names),
      (std::set<std::string>{"100005 1 udp 2049", "100003 2 udp 2049", "100021 3 udp 2049", "150001 1 udp 2049"}));
  EXPECT_EQ(names, (std::vector<std::string>{"100005=mountd", "100003=nfs", "100021=nlockmgr", "150001=pcnfsd"}));
  EXPECT_EQ(services.Close(), 0);
  EXPECT_EQ(exports.Close(), 0);
  Shell("'" + Bin("qxsc") + "' stop QXNFSServer");
}

TEST(ListersTest, HostileRepliesAreBoundedAndSaySo) {
  qxtest::Child fake({"/usr/bin/python3", qxtest::SourceDir() + "/utils/rpclister/tests/fake_rpc.py"});
  ASSERT_EQ(fake.ReadLine(10000), "ready");
  RpcDevice device;
  ASSERT_TRUE(device.ready());
  Lister services("servicelist", "RPC Information (Portmapper)");
  const std::vector<std::string> registrations = services.List("127.0.0.1");
  ASSERT_EQ(registrations.size(), 251u);
  EXPECT_EQ(registrations[0], "    300000\t 1\t 1000\t udp\t(unknown)");
  EXPECT_EQ(registrations.back(), "... (50 more not shown)");
  Lister exports("sharelist", "NFS Exports");
  const std::vector<std::string> lines = exports.List("127.0.0.1");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(Trim(lines[1].substr(0, lines[1].find('\t'))), "/second");
  EXPECT_EQ(lines[2], "... (the reply ended early; the list may be incomplete)");
  // A name the resolver does not know, found in the NIS map "hosts.byname".
  for (const char *value : {"'NIS Domain' REG_SZ testdom", "'NIS Server IP' REG_BINARY 7f000001"}) {
    int status = 0;
    const std::string out =
        Shell("'" + Bin("qxreg") + "' set 'HKLM\\SOFTWARE\\Corvane\\NFSClient\\CurrentVersion' " + value, &status);
    ASSERT_EQ(status, 0) << out;
  }
  EXPECT_EQ(services.List("pc1.nis.test").size(), 251u) << services.Errors();
  EXPECT_TRUE(services.List("pc2.nis.test").empty());
  EXPECT_NE(services.Errors().find("[servicelist Error] RPC Error: Host unknown"), std::string::npos);
  EXPECT_EQ(exports.Close(), 0);
  EXPECT_EQ(services.Close(), 0);
}

}  // namespace
